-- The MLS layer against the working group's interoperability vectors (read from ../shared/references).
local json = require("json")
local voice = require("@discord/voice")
local mls = voice._daveMls

local DIR = "../shared/references/mls-vectors/"

local function vectors(name)
  local f = io.open(name:find("/") and name or DIR .. name, "rb")
  if not f then return nil end
  local text = f:read("a")
  f:close()
  return json.decode(text)
end

local function unhex(h) return (h:gsub("..", function(b) return string.char(tonumber(b, 16)) end)) end
local function hex(s) return (s:gsub(".", function(c) return string.format("%02x", c:byte()) end)) end
local function opt(v) if v ~= json.null then return v end end

-- Runs body(data) on the named vector file, or marks the test pending when the references are absent.
local function withVectors(name, body)
  return function()
    local data = vectors(name)
    if not data then return pending("no " .. DIR .. name) end
    body(data)
  end
end

describe("MLS codec", function()
  it("reads every varint header of the vectors and writes it back", withVectors("deserialization.json", function(v)
    for _, c in ipairs(v) do
      local r = mls.reader(unhex(c.vlbytes_header))
      assert.equal(c.length, r:varint(), c.vlbytes_header)
      assert.is_true(r:done())
      assert.equal(c.vlbytes_header, hex(mls.varint(c.length)))
    end
    assert.equal(14, #v)
  end))

  it("refuses non-minimal, reserved and truncated encodings", function()
    for _, h in ipairs({ "4000", "403f", "80000000", "80003fff", "c0000000", "40", "800000", "0201" }) do
      assert.has_error(function()
        local r = mls.reader(unhex(h))
        r:vec()
      end, nil, h)
    end
    assert.has_error(function() mls.reader("\2"):optional(mls.reader("").u8) end)
    assert.has_error(function() mls.varint(1 << 30) end)
  end)

  it("round-trips a struct of integers, vectors, lists and optionals", function()
    local w = mls.writer():u8(1):u16(0xBEEF):u32(7):u64(-1):fixed("ab", 2):vec(string.rep("x", 64))
    w:list({ "p", "qq" }, function(s, item) s:vec(item) end):optional(nil):optional(5, w.u16)
    local bytes = w:bytes()
    local r = mls.reader(bytes)
    assert.same({ 1, 0xBEEF, 7, -1, "ab" }, { r:u8(), r:u16(), r:u32(), r:u64(), r:fixed(2) })
    assert.equal(string.rep("x", 64), r:vec())
    assert.same({ "p", "qq" }, r:list(function(s) return s:vec() end))
    assert.is_nil(r:optional(r.u16))
    assert.equal(5, r:optional(r.u16))
    r:finish()
    local long = mls.reader(bytes .. "\0")
    long:fixed(#bytes)
    assert.has_error(function() long:finish() end)
    assert.has_error(function() mls.writer():fixed("abc", 2) end)
  end)
end)

describe("MLS tree math", function()
  it("matches root, left, right, parent and sibling for every node", withVectors("tree-math.json", function(v)
    local t, checked = mls.tree, 0
    for _, c in ipairs(v) do
      local n = c.n_leaves
      assert.equal(c.n_nodes, t.width(n))
      assert.equal(c.root, t.root(n))
      for x = 0, c.n_nodes - 1 do
        local i = x + 1
        assert.equal(opt(c.left[i]), t.left(x))
        assert.equal(opt(c.right[i]), t.right(x))
        assert.equal(opt(c.parent[i]), t.parent(x, n))
        assert.equal(opt(c.sibling[i]), t.sibling(x, n))
        checked = checked + 1
      end
    end
    assert.equal(10, #v)
    assert.equal(2036, checked)
  end))

  it("gives the direct path and copath of a leaf", function()
    local t = mls.tree
    assert.same({ 1, 3, 7 }, t.directPath(0, 8))
    assert.same({ 2, 5, 11 }, t.copath(0, 8))
    assert.same({ 13, 11, 7 }, t.directPath(14, 8))
    assert.same({ 12, 9, 3 }, t.copath(14, 8))
    assert.same({}, t.directPath(0, 1))
  end)
end)

describe("MLS key schedule", function()
  local NAMES = { sender_data_secret = "senderData", encryption_secret = "encryption", exporter_secret = "exporter",
    external_secret = "external", confirmation_key = "confirmation", membership_key = "membership",
    resumption_psk = "resumption", epoch_authenticator = "authenticator", init_secret = "init",
    joiner_secret = "joiner", welcome_secret = "welcome" }

  it("derives every secret of five epochs, the context and the exporter", withVectors("key-schedule.json",
    function(v)
      local c = v[1]
      local init = unhex(c.initial_init_secret)
      for i, e in ipairs(c.epochs) do
        local gc = mls.encodeGroupContext({ groupId = unhex(c.group_id), epoch = i - 1, treeHash = unhex(e.tree_hash),
          confirmedTranscriptHash = unhex(e.confirmed_transcript_hash) })
        assert.equal(e.group_context, hex(gc))
        local g = mls.readGroupContext(mls.reader(gc))
        assert.same({ i - 1, unhex(e.tree_hash) }, { g.epoch, g.treeHash })
        local s = mls.nextEpoch(init, unhex(e.commit_secret), gc, unhex(e.psk_secret))
        for field, name in pairs(NAMES) do assert.equal(e[field], hex(s[name]), "epoch " .. i .. " " .. field) end
        local x = e.exporter
        assert.equal(x.secret, hex(mls.export(s.exporter, x.label, unhex(x.context), x.length)))
        init = s.init
      end
      assert.equal(5, #c.epochs)
    end))
end)

describe("MLS secret tree", function()
  it("gives each leaf's handshake and application keys and the sender-data key", withVectors("secret-tree.json",
    function(v)
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
end)

describe("MLS transcript hashes", function()
  it("follow a commit and check its confirmation tag", withVectors("transcript-hashes.json", function(v)
    for _, c in ipairs(v) do
      local a = mls.readAuthenticatedContent(mls.reader(unhex(c.authenticated_content)))
      assert.equal(mls.ContentType.commit, a.content.contentType)
      local confirmed = mls.confirmedTranscriptHash(unhex(c.interim_transcript_hash_before), a.confirmedInput)
      assert.equal(c.confirmed_transcript_hash_after, hex(confirmed))
      assert.equal(hex(a.confirmationTag), hex(mls.confirmationTag(unhex(c.confirmation_key), confirmed)))
      assert.equal(c.interim_transcript_hash_after, hex(mls.interimTranscriptHash(confirmed, a.confirmationTag)))
    end
    assert.equal(1, #v)
  end))
end)

describe("DAVE media keys and frames", function()
  local DAVE = "../shared/references/dave-vectors.json"
  local media = mls.media

  it("export each sender's base secret and ratchet its keys", withVectors(DAVE, function(v)
    for _, c in ipairs(v.sender_keys) do
      local base = media.senderBaseSecret(unhex(c.exporter_secret), c.user_id)
      assert.equal(c.sender_base_secret, hex(base))
      local r = media.keyRatchet(base)
      for _, k in ipairs(c.keys) do assert.equal(k.key, hex(r:get(k.generation)), c.user_id .. " " .. k.generation) end
      assert.equal(c.keys[1].key, hex(r:get(0)))
      r:erase(c.keys[#c.keys].generation)
      assert.is_nil(r:get(0))
    end
    local chain, r = v.ratchet_chain.steps, mls.ratchet(unhex(v.ratchet_chain.steps[1].secret), 16)
    for _, step in ipairs(chain) do
      assert.equal(step.secret, hex(r.secret))
      assert.equal(step.key, hex((r:get(step.generation))))
      r:advance()
      assert.equal(step.next_secret, hex(r.secret))
    end
  end))

  it("encode ULEB128, nonces and generations", withVectors(DAVE, function(v)
    for _, c in ipairs(v.uleb128) do
      assert.equal(c.encoded, hex(media.uleb128(c.value)))
      local e = unhex(c.encoded)
      assert.same({ c.value, #e + 1 }, { media.readUleb128(e, 1, #e) })
    end
    assert.is_nil(media.readUleb128("\x80\x80", 1, 2))
    assert.is_nil(media.readUleb128(string.rep("\xff", 10) .. "\1", 1, 11))
    for _, c in ipairs(v.nonce_expansion) do
      assert.equal(c.aes_gcm_nonce, hex(media.nonce(c.truncated_nonce)))
      assert.equal(c.generation, media.generation(c.truncated_nonce))
    end
    for _, c in ipairs(v.generation_wrap) do
      assert.equal(c.generation, media.unwrapGeneration(c.oldest_generation, c.nonce_msb))
    end
  end))

  it("encrypt frames byte for byte and decrypt them back", withVectors(DAVE, function(v)
    local cases = { table.unpack(v.opus_frames) }
    local ranged = v.frame_with_unencrypted_ranges
    ranged.plaintext = ranged.plaintext_frame
    cases[#cases + 1] = ranged
    for _, c in ipairs(cases) do
      local key, plain = unhex(c.key), unhex(c.plaintext)
      local frame = media.encryptFrame(key, c.truncated_nonce, plain, c.unencrypted_ranges)
      assert.equal(c.frame, hex(frame))
      local parsed = media.parseFrame(frame)
      assert.same({ c.truncated_nonce, c.full_tag:sub(1, 16), c.unencrypted_ranges },
        { parsed.nonce, hex(parsed.tag), parsed.ranges })
      assert.equal(c.plaintext, hex(media.decryptFrame(key, frame, parsed)))
      local flipped = string.char(frame:byte(1) ~ 1) .. frame:sub(2)
      assert.is_nil(media.decryptFrame(key, flipped, media.parseFrame(flipped)))
    end
    assert.equal(#v.opus_frames + 1, #cases)
  end))

  it("tell protocol frames from others", withVectors(DAVE, function(v)
    for _, c in ipairs(v.not_protocol_frames) do assert.is_nil(media.parseFrame(unhex(c.frame)), c.why) end
    assert.is_table(media.parseFrame(unhex(v.opus_frames[1].frame)))
  end))
end)
