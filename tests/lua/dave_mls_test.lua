-- The MLS layer and DAVE media frames against the vectors in ../shared/references (pending without them).
local json = require("json")
local mls = require("@discord/voice")._daveMls
local media = mls.media

local REFS = "../shared/references/"

local function unhex(h) return (h:gsub("..", function(b) return string.char(tonumber(b, 16)) end)) end
local function hex(s) return (s:gsub(".", function(c) return string.format("%02x", c:byte()) end)) end
local function opt(v) if v ~= json.null then return v end end

-- Runs body(data) on the named vector file, or marks the test pending when the references are absent.
local function withVectors(name, body)
  return function()
    local f = io.open(REFS .. name, "rb")
    if not f then return pending("no " .. REFS .. name) end
    local data = json.decode(f:read("a"))
    f:close()
    body(data)
  end
end

describe("MLS codec and tree math", function()
  it("read and write the varint headers", withVectors("mls-vectors/deserialization.json", function(v)
    for _, c in ipairs(v) do
      local r = mls.reader(unhex(c.vlbytes_header))
      assert.equal(c.length, r:varint(), c.vlbytes_header)
      assert.is_true(r:done())
      assert.equal(c.vlbytes_header, hex(mls.varint(c.length)))
    end
    assert.equal(14, #v)
    for _, h in ipairs({ "4000", "403f", "80000000", "80003fff", "c0000000", "40", "800000", "0201" }) do
      assert.has_error(function() mls.reader(unhex(h)):vec() end, nil, h)
    end
  end))

  it("round-trip integers, vectors, lists and optionals", function()
    local w = mls.writer():u8(1):u16(0xBEEF):u32(7):u64(-1):fixed("ab", 2):vec(string.rep("x", 64))
    local bytes = w:list({ "p", "qq" }, function(s, item) s:vec(item) end):optional(nil):optional(5, w.u16):bytes()
    local r = mls.reader(bytes .. "\0")
    assert.same({ 1, 0xBEEF, 7, -1, "ab" }, { r:u8(), r:u16(), r:u32(), r:u64(), r:fixed(2) })
    assert.equal(string.rep("x", 64), r:vec())
    assert.same({ "p", "qq" }, r:list(function(s) return s:vec() end))
    assert.is_nil(r:optional(r.u16))
    assert.equal(5, r:optional(r.u16))
    assert.has_error(function() r:finish() end)
    assert.has_error(function() mls.reader("\2"):optional(r.u8) end)
    assert.has_error(function() mls.writer():fixed("abc", 2) end)
  end)

  it("match every node's relatives and give paths", withVectors("mls-vectors/tree-math.json", function(v)
    local t, checked = mls.tree, 0
    for _, c in ipairs(v) do
      local n = c.n_leaves
      assert.same({ c.n_nodes, c.root }, { t.width(n), t.root(n) })
      for x = 0, c.n_nodes - 1 do
        local i = x + 1
        assert.same({ opt(c.left[i]), opt(c.right[i]), opt(c.parent[i]), opt(c.sibling[i]) },
          { t.left(x), t.right(x), t.parent(x, n), t.sibling(x, n) })
        checked = checked + 1
      end
    end
    assert.equal(2036, checked)
    assert.same({ { 13, 11, 7 }, { 12, 9, 3 }, {} }, { t.directPath(14, 8), t.copath(14, 8), t.directPath(0, 1) })
  end))
end)

describe("MLS secrets", function()
  local NAMES = { sender_data_secret = "senderData", encryption_secret = "encryption", exporter_secret = "exporter",
    external_secret = "external", confirmation_key = "confirmation", membership_key = "membership",
    resumption_psk = "resumption", epoch_authenticator = "authenticator", init_secret = "init",
    joiner_secret = "joiner", welcome_secret = "welcome" }

  it("of five epochs, with their contexts and exporters", withVectors("mls-vectors/key-schedule.json", function(v)
    local c = v[1]
    local init = unhex(c.initial_init_secret)
    for i, e in ipairs(c.epochs) do
      local gc = mls.encodeGroupContext({ groupId = unhex(c.group_id), epoch = i - 1, treeHash = unhex(e.tree_hash),
        confirmedTranscriptHash = unhex(e.confirmed_transcript_hash) })
      assert.equal(e.group_context, hex(gc))
      assert.equal(i - 1, mls.readGroupContext(mls.reader(gc)).epoch)
      local s = mls.nextEpoch(init, unhex(e.commit_secret), gc, unhex(e.psk_secret))
      for field, name in pairs(NAMES) do assert.equal(e[field], hex(s[name]), "epoch " .. i .. " " .. field) end
      local x = e.exporter
      assert.equal(x.secret, hex(mls.export(s.exporter, x.label, unhex(x.context), x.length)))
      init = s.init
    end
    assert.equal(5, #c.epochs)
  end))

  it("of the secret tree and sender data", withVectors("mls-vectors/secret-tree.json", function(v)
    local checked = 0
    for _, c in ipairs(v) do
      local sd = c.sender_data
      local key, nonce = mls.senderDataKey(unhex(sd.sender_data_secret), unhex(sd.ciphertext))
      assert.same({ sd.key, sd.nonce }, { hex(key), hex(nonce) })
      local t = mls.secretTree(unhex(c.encryption_secret), #c.leaves)
      for i, gens in ipairs(c.leaves) do
        local handshake, application = t.ratchets(i - 1)
        for _, g in ipairs(gens) do
          local hk, hn = handshake:get(g.generation)
          local ak, an = application:get(g.generation)
          assert.same({ g.handshake_key, g.handshake_nonce, g.application_key, g.application_nonce },
            { hex(hk), hex(hn), hex(ak), hex(an) })
          checked = checked + 1
        end
        assert.has_error(function() handshake:get(0) end)
      end
    end
    assert.equal(82, checked)
    assert.has_error(function() mls.secretTree(string.rep("\0", 32), 4).ratchets(4) end)
  end))

  it("of the transcript after a commit", withVectors("mls-vectors/transcript-hashes.json", function(v)
    local c = v[1]
    local a = mls.readAuthenticatedContent(mls.reader(unhex(c.authenticated_content)))
    local confirmed = mls.confirmedTranscriptHash(unhex(c.interim_transcript_hash_before), a.confirmedInput)
    assert.equal(c.confirmed_transcript_hash_after, hex(confirmed))
    assert.equal(hex(a.confirmationTag), hex(mls.confirmationTag(unhex(c.confirmation_key), confirmed)))
    assert.equal(c.interim_transcript_hash_after, hex(mls.interimTranscriptHash(confirmed, a.confirmationTag)))
  end))
end)

describe("MLS ratchet tree", function()
  local function tree(h) return mls.readTree(mls.reader(unhex(h))) end

  it("resolutions, tree hashes and parent hashes", withVectors("mls-vectors/tree-validation.json", function(v)
    local nodes, tampered = 0, 0
    for _, c in ipairs(v) do
      local t = tree(c.tree)
      for i, h in ipairs(c.tree_hashes) do
        assert.same(c.resolutions[i], t:resolution(i - 1))
        assert.equal(h, hex(t:treeHash(i - 1)))
        nodes = nodes + 1
      end
      assert.is_true(t:parentHashesValid())
      assert.equal(c.tree, hex(t:encode()))
      local p
      for x = #c.tree_hashes - 2, 1, -2 do p = t.nodes[x] and x or p end
      if p then
        t.nodes[p].parent.parentHash = string.rep("\0", 32)
        assert.is_false(t:parentHashesValid())
        tampered = tampered + 1
      end
    end
    assert.same({ 14, 454 }, { #v, nodes })
    assert.is_true(tampered > 0)
  end))

  it("after add, update and remove", withVectors("mls-vectors/tree-operations.json", function(v)
    for _, c in ipairs(v) do
      local t = tree(c.tree_before)
      assert.equal(c.tree_hash_before, hex(t:treeHash()))
      t:apply(mls.readProposal(mls.reader(unhex(c.proposal))), c.proposal_sender)
      assert.equal(c.tree_after, hex(t:encode()))
      assert.equal(c.tree_hash_after, hex(t:treeHash()))
    end
    assert.equal(5, #v)
  end))
end)

describe("DAVE media", function()
  local DAVE = "dave-vectors.json"

  it("keys: each sender's base secret and ratchet", withVectors(DAVE, function(v)
    for _, c in ipairs(v.sender_keys) do
      local base = media.senderBaseSecret(unhex(c.exporter_secret), c.user_id)
      assert.equal(c.sender_base_secret, hex(base))
      local r = media.keyRatchet(base)
      for _, k in ipairs(c.keys) do assert.equal(k.key, hex(r:get(k.generation)), k.generation) end
      assert.equal(c.keys[1].key, hex(r:get(0)))
      r:erase(c.keys[#c.keys].generation)
      assert.is_nil(r:get(0))
    end
    local r = mls.ratchet(unhex(v.ratchet_chain.steps[1].secret), 16)
    for _, step in ipairs(v.ratchet_chain.steps) do
      assert.same({ step.secret, step.key }, { hex(r.secret), hex((r:get(step.generation))) })
      r:advance()
      assert.equal(step.next_secret, hex(r.secret))
    end
  end))

  it("ULEB128, nonces and generations", withVectors(DAVE, function(v)
    for _, c in ipairs(v.uleb128) do
      local e = unhex(c.encoded)
      assert.equal(c.encoded, hex(media.uleb128(c.value)))
      assert.same({ c.value, #e + 1 }, { media.readUleb128(e, 1, #e) })
    end
    assert.is_nil(media.readUleb128("\x80\x80", 1, 2))
    assert.is_nil(media.readUleb128(string.rep("\xff", 10) .. "\1", 1, 11))
    for _, c in ipairs(v.nonce_expansion) do
      assert.same({ c.aes_gcm_nonce, c.generation },
        { hex(media.nonce(c.truncated_nonce)), media.generation(c.truncated_nonce) })
    end
    for _, c in ipairs(v.generation_wrap) do
      assert.equal(c.generation, media.unwrapGeneration(c.oldest_generation, c.nonce_msb))
    end
  end))

  it("frames: byte for byte both ways, tampering and non-protocol frames refused", withVectors(DAVE, function(v)
    local cases, ranged = { table.unpack(v.opus_frames) }, v.frame_with_unencrypted_ranges
    ranged.plaintext = ranged.plaintext_frame
    cases[#cases + 1] = ranged
    for _, c in ipairs(cases) do
      local key = unhex(c.key)
      local frame = media.encryptFrame(key, c.truncated_nonce, unhex(c.plaintext), c.unencrypted_ranges)
      assert.equal(c.frame, hex(frame))
      local parsed = media.parseFrame(frame)
      assert.same({ c.truncated_nonce, c.full_tag:sub(1, 16), c.unencrypted_ranges },
        { parsed.nonce, hex(parsed.tag), parsed.ranges })
      assert.equal(c.plaintext, hex(media.decryptFrame(key, frame, parsed)))
      local flipped = string.char(frame:byte(1) ~ 1) .. frame:sub(2)
      assert.is_nil(media.decryptFrame(key, flipped, media.parseFrame(flipped)))
    end
    for _, c in ipairs(v.not_protocol_frames) do assert.is_nil(media.parseFrame(unhex(c.frame)), c.why) end
  end))
end)
