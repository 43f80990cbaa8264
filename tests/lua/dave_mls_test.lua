-- The MLS layer and DAVE media frames against the reference vectors.
local json = require("json")
local voice = require("@discord/voice")
local mls, crypto = voice._daveMls, voice._daveCrypto
local vectors = require("vectors")
local media = mls.media

local unhex, hex = vectors.unhex, vectors.hex
local withVectors = vectors.with
local function opt(v) if v ~= json.null then return v end end
local function message(h, from) return mls.readMessage(mls.reader(unhex(h), from)) end
local function welcomeOf(h, from) return mls.readWelcome(mls.reader(message(h, from).welcome)) end
-- The GroupContext of a vector entry without extensions.
local function context(c, epoch, treeHash)
  return mls.encodeGroupContext({ groupId = unhex(c.group_id), epoch = epoch, treeHash = treeHash,
    confirmedTranscriptHash = unhex(c.confirmed_transcript_hash) })
end

describe("MLS codec, tree math and secrets", function()
  -- A length is 1, 2 or 4 bytes whose top two bits say which, 0, 1 or 2 (RFC 9420): 6, 14 or 30 bits.
  it("write and read varint headers at each size's bounds, refuse bad ones", function()
    for n, h in pairs({ [0] = "00", [63] = "3f", [64] = "4040", [16383] = "7fff", [16384] = "80004000",
      [0x3fffffff] = "bfffffff" }) do
      local r = mls.reader(unhex(h))
      assert.same({ h, n, true }, { hex(mls.varint(n)), r:varint(), r:done() })
    end
    for _, h in ipairs({ "4000", "403f", "80000000", "80003fff", "c0000000", "40", "800000", "0201" }) do
      assert.has_error(function() mls.reader(unhex(h)):vec() end, nil, h)
    end
    assert.is_false((pcall(mls.varint, 0x40000000)))
  end)

  it("decode and re-encode every structure of the messages vectors", withVectors("mls-vectors/messages.json",
    function(v)
      -- Each reader must use its bytes up and give them back (not GroupSecrets and PrivateMessage, which
      -- a DAVE member never reads in the clear).
      local function whole(fn)
        return function(s)
          local r = mls.reader(s)
          local out = fn(r)
          r:finish()
          return out
        end
      end
      local function commit(c)
        local items = {}
        for i, p in ipairs(c.proposals) do items[i] = { ref = p.ref, proposal = p.proposal and p.proposal.raw } end
        return mls.encodeCommit(items, c.path and c.path.raw)
      end
      local BODIES = { application = function(c) return mls.varint(#c.application) .. c.application end,
        proposal = function(c) return c.proposal.raw end, commit = function(c) return commit(c.commit) end }
      local function public(r)
        local pm = mls.readMessage(r).publicMessage
        local c = pm.content
        c.body = BODIES[({ "application", "proposal", "commit" })[c.contentType]](c)
        local w = mls.writer():u16(1):u16(1):framedContent(c):vec(pm.signature)
        if pm.confirmationTag then w:vec(pm.confirmationTag) end
        if pm.membershipTag then w:vec(pm.membershipTag) end
        return w:bytes()
      end
      local READERS = {
        mls_welcome = function(r)
          local m = mls.readMessage(r)
          if m.welcome:sub(1, 2) == "\0\2" then
            local w = mls.reader(m.welcome)
            mls.readWelcome(w)
            w:finish()
          end
          return m.raw
        end,
        mls_key_package = function(r) return mls.readMessage(r).raw end,
        -- Only cipher suite 2 (a third of the entries) is read inside Welcome and GroupInfo.
        mls_group_info = function(r)
          local head = r:take(4)
          if r.s:sub(r.pos + 2, r.pos + 3) ~= "\0\2" then return head .. r:take(r.stop - r.pos + 1) end
          local g = mls.readGroupInfo(r)
          return head .. mls.encodeGroupContext(g.groupContext) .. g.tbs:sub(#g.context + 1)
            .. mls.varint(#g.signature) .. g.signature
        end,
        ratchet_tree = function(r) return mls.readTree(r):encode() end,
        commit = function(r) return commit(mls.readCommit(r)) end,
        public_message_application = public, public_message_proposal = public, public_message_commit = public,
      }
      for kind, name in ipairs({ "add", "update", "remove", "pre_shared_key", "re_init", "external_init",
        "group_context_extensions" }) do
        READERS[name .. "_proposal"] = function(r)
          local s = string.pack(">I2", kind) .. r:take(r.stop - r.pos + 1)
          local p = mls.reader(s)
          local raw = mls.readProposal(p).raw
          p:finish()
          return raw:sub(3)
        end
      end
      local n = 0
      for i, c in ipairs(v) do
        for field, read in pairs(READERS) do
          assert.equal(c[field], hex(whole(read)(unhex(c[field]))), i .. " " .. field)
          n = n + 1
        end
      end
      assert.equal(300 * 15, n)
    end))

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

  local NAMES = { sender_data_secret = "senderData", encryption_secret = "encryption", exporter_secret = "exporter",
    external_secret = "external", confirmation_key = "confirmation", membership_key = "membership",
    resumption_psk = "resumption", epoch_authenticator = "authenticator", init_secret = "init",
    joiner_secret = "joiner", welcome_secret = "welcome" }

  it("of five epochs: contexts, exporters and external keys", withVectors("mls-vectors/key-schedule.json", function(v)
    local c = v[1]
    local init = unhex(c.initial_init_secret)
    for i, e in ipairs(c.epochs) do
      local gc = context({ group_id = c.group_id, confirmed_transcript_hash = e.confirmed_transcript_hash }, i - 1,
        unhex(e.tree_hash))
      assert.equal(e.group_context, hex(gc))
      assert.equal(i - 1, mls.readGroupContext(mls.reader(gc)).epoch)
      local s = mls.nextEpoch(init, unhex(e.commit_secret), gc, unhex(e.psk_secret))
      for field, name in pairs(NAMES) do assert.equal(e[field], hex(s[name]), "epoch " .. i .. " " .. field) end
      local x = e.exporter
      assert.same({ x.secret, e.external_pub }, { hex(mls.export(s.exporter, x.label, unhex(x.context), x.length)),
        hex(select(2, crypto.deriveKeyPair(s.external))) })
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

end)

describe("MLS messages", function()
  it("opens with the init key and checks the GroupInfo", withVectors("mls-vectors/welcome.json", function(v)
    local c = v[1]
    local kp, welcome = message(c.key_package).keyPackage, welcomeOf(c.welcome)
    local _, gi = mls.openWelcome(welcome, kp.raw, unhex(c.init_priv))
    assert.is_true(mls.verifyGroupInfo(gi, unhex(c.signer_pub)))
    gi.signature = gi.signature:sub(1, -2) .. string.char(gi.signature:byte(-1) ~ 1)
    assert.is_false(mls.verifyGroupInfo(gi, unhex(c.signer_pub)))
    assert.has_error(function() mls.openWelcome(welcome, kp.raw, string.rep("\1", 32)) end)
    welcome.secrets[1].newMember = string.rep("\0", 32)
    assert.has_error(function() mls.openWelcome(welcome, kp.raw, unhex(c.init_priv)) end)
  end))

  it("joins and reaches the epoch authenticator", withVectors("mls-vectors/passive-client-welcome.json", function(v)
    -- Entry 1 carries the tree in the GroupInfo, 5 beside it (2 and 6 are alike, the others need PSKs).
    for _, i in ipairs({ 1, 5 }) do
      local c = v[i]
      local state = mls.join(welcomeOf(c.welcome), message(c.key_package).keyPackage,
        { init = unhex(c.init_priv), encryption = unhex(c.encryption_priv) },
        opt(c.ratchet_tree) and unhex(c.ratchet_tree))
      assert.equal(c.initial_epoch_authenticator, hex(state.secrets.authenticator))
    end
  end))
end)

describe("MLS ratchet tree", function()
  local function tree(h) return mls.readTree(mls.reader(unhex(h))) end

  it("resolutions, tree hashes and parent hashes", withVectors("mls-vectors/tree-validation.json", function(v)
    local nodes, tampered, signed = 0, 0, 0
    for _, c in ipairs(v) do
      local t = tree(c.tree)
      for i, h in ipairs(c.tree_hashes) do
        assert.same(c.resolutions[i], t:resolution(i - 1))
        assert.equal(h, hex(t:treeHash(i - 1)))
        nodes = nodes + 1
      end
      assert.is_true(t:parentHashesValid())
      assert.equal(c.tree, hex(t:encode()))
      -- Leaf signatures only in trees of up to 4 leaves (3 of 14): each check costs tens of ms.
      if t.leaves <= 4 then
        assert.is_nil(t:problem(unhex(c.group_id)))
        signed = signed + 1
      end
      local p
      for x = #c.tree_hashes - 2, 1, -2 do p = t.nodes[x] and x or p end
      if p then
        t.nodes[p].parent.parentHash = string.rep("\0", 32)
        assert.is_false(t:parentHashesValid())
        tampered = tampered + 1
      end
    end
    assert.same({ 14, 454, 3 }, { #v, nodes, signed })
    assert.is_true(tampered > 0)
  end))

  it("key packages are validated", withVectors("dave-vectors.json", function(v)
    local c = v.key_package
    local kp = mls.readKeyPackage(mls.reader(unhex(c.key_package)))
    assert.is_nil(mls.keyPackageProblem(kp))
    local own = mls.makeKeyPackage(unhex(c.credential_identity), unhex(c.signature_priv), unhex(c.signature_pub),
      unhex(c.init_pub), unhex(c.encryption_pub))
    assert.equal(c.key_package, hex(own.raw))
    assert.same({ c.key_package_ref, c.leaf_node_tbs }, { hex(mls.keyPackageRef(kp.raw)), hex(kp.leafNode.tbs) })
    -- A group's required capabilities (extensions, proposals, credentials) and the lifetime.
    local function required(ext, cred)
      local w = mls.writer()
      return { { type = 3, data = w:list({ ext }, w.u16):list({}, w.u16):list({ cred }, w.u16):bytes() } }
    end
    kp.leafNode.notAfter = 1
    assert.same({ "capabilities lack required type 2570", "capabilities lack required type 2", "key package outside "
      .. "its lifetime" }, { mls.keyPackageProblem(kp, required(0x0a0a, 1)), mls.keyPackageProblem(kp, required(5, 2)),
      mls.keyPackageProblem(kp, required(5, 1)) })
    kp.leafNode.notAfter = -1
    local leafSignature = kp.leafNode.signature
    kp.leafNode.signature = kp.signature
    assert.equal("bad leaf node signature", mls.keyPackageProblem(kp))
    kp.leafNode.signature, kp.signature = leafSignature, leafSignature
    assert.equal("bad key package signature", mls.keyPackageProblem(kp))
  end))

  -- Update and Remove blank the leaf's direct path, Add takes the leftmost blank leaf and joins the
  -- unmerged leaves of the parents above it; the rest stays. Paths in 8 leaves: leaf 2 (node 4) 5, 3, 7;
  -- leaf 3 (node 6) the same; leaf 7 (node 14) 13, 11, 7.
  it("after update, remove and add", withVectors("mls-vectors/tree-validation.json", function(v)
    local t, new = tree(v[3].tree), tree(v[3].tree):leaf(0)
    local kept = {}
    for x, n in pairs(t.nodes) do kept[x] = n end
    t:apply({ type = 2, leafNode = new }, 2)
    t:apply({ type = 3, removed = 7 }, 0)
    for _, x in ipairs({ 5, 3, 7, 13, 11, 14 }) do kept[x] = nil end
    kept[4] = { leaf = new }
    assert.same({ 8, kept }, { t.leaves, t.nodes })
    t = tree(v[5].tree)
    assert.same({ 3, new, { 3 }, { 3 }, 8 }, { t:apply({ type = 1, keyPackage = { leafNode = new } }),
      t:leaf(3), t.nodes[3].parent.unmergedLeaves, t.nodes[7].parent.unmergedLeaves, t.leaves })
  end))

  it("merges and decrypts paths", withVectors("mls-vectors/treekem.json", function(v)
    -- Entries 1-3 (2 to 4 members) and 9 (a filtered direct path), each path processed by one member.
    local processed = 0
    for _, e in ipairs({ 1, 2, 3, 9 }) do
      local c = v[e]
      for _, u in ipairs(c.update_paths) do
        local t = mls.readTree(mls.reader(unhex(c.ratchet_tree)))
        local receiver = c.leaves_private[c.leaves_private[1].index == u.sender and 2 or 1]
        local privates = { [2 * receiver.index] = unhex(receiver.encryption_priv) }
        for _, ps in ipairs(receiver.path_secrets) do privates[ps.node] = mls.nodeKeyPair(unhex(ps.path_secret)) end
        local path = mls.readUpdatePath(mls.reader(unhex(u.update_path)))
        local key = path.nodes[1].encryptionKey
        path.nodes[1].encryptionKey = t:leaf(receiver.index).encryptionKey
        assert.has_error(function() mls.readTree(mls.reader(unhex(c.ratchet_tree))):mergePath(u.sender, path,
          unhex(c.group_id)) end, "mls: update path repeats an encryption key")
        path.nodes[1].encryptionKey = key
        local merged = t:mergePath(u.sender, path, unhex(c.group_id))
        local commit, first = mls.decryptPath(merged, receiver.index, privates, context(c, c.epoch, t:treeHash()))
        assert.same({ u.commit_secret, u.path_secrets[receiver.index + 1], u.tree_hash_after },
          { hex(commit), hex(first), hex(t:treeHash()) })
        processed = processed + 1
      end
    end
    assert.equal(14, processed)
  end))

  it("replayed as member B, epoch by epoch with the sender keys", withVectors(
    "dave-libdave-session.json", function(d)
      local senders = { mls.reader(unhex(d.op25_message), 4):vec() }
      local function joined(welcome, who)
        return mls.join(mls.readWelcome(mls.reader(unhex(welcome), 6)), mls.readKeyPackage(mls.reader(
          unhex(d["op26_message_" .. who]), 2)), { init = unhex(d["member_" .. who .. "_init_priv"]),
          encryption = unhex(d["member_" .. who .. "_encryption_priv"]) })
      end
      local function queue(st, messages)
        local q = {}
        for _, m in ipairs(messages) do q[#q + 1] = mls.externalProposal(st, m.publicMessage, senders) end
        return q
      end
      local st = joined(d.step1_op30_to_b, "b")
      assert.equal(d.step1_epoch_authenticator, hex(st.secrets.authenticator))
      for step = 2, 3 do
        local q, commit = queue(st, mls.reader(unhex(d["step" .. step .. "_op27"]), 5):list(mls.readMessage)),
          d["step" .. step .. "_op29"]
        local cm = message(commit, 6).publicMessage
        assert.has_error(function() mls.processCommit(st, cm, {}) end, "mls: commit references an unknown proposal")
        local bad = message(commit:sub(1, -2) .. (commit:sub(-1) == "0" and "1" or "0"), 6).publicMessage
        assert.has_error(function() mls.processCommit(st, bad, q) end)
        st = mls.processCommit(st, cm, q)
        assert.equal(d["step" .. step .. "_epoch_authenticator"], hex(st.secrets.authenticator))
        for _, rk in ipairs(d["step" .. step .. "_ratchets"]) do
          assert.equal(rk.sender_base_secret, hex(media.senderBaseSecret(st.secrets.exporter, rk.user_id)))
        end
      end
      -- A one-member group refuses an Add of its own encryption key under another signature key.
      local keys = {}
      for i, seed in ipairs({ "s", "i", "e", "t" }) do
        keys[2 * i - 1], keys[2 * i] = crypto.deriveKeyPair(seed:rep(32))
      end
      local kp = mls.makeKeyPackage(string.pack(">i8", 42), keys[1], keys[2], keys[4], keys[6])
      local twin = mls.makeKeyPackage(string.pack(">i8", 43), keys[7], keys[8], keys[4], keys[6])
      local alone = mls.createGroup(st.groupContext.groupId, kp.leafNode, keys[5])
      local add = mls.readMessage(mls.reader(mls.protectPublic({ groupId = st.groupContext.groupId, epoch = 0,
        senderType = 2, senderIndex = 0, contentType = 2, body = "\0\1" .. twin.raw },
        unhex(d.external_sender_signature_priv))))
      assert.has_error(function() mls.createCommit(alone, queue(alone, { add }), keys[1]) end,
        "mls: added member repeats an encryption key")
    end))
end)

describe("DAVE media", function()
  local DAVE = "dave-vectors.json"

  it("keys: each sender's base secret and ratchet", withVectors(DAVE, function(v)
    for _, c in ipairs(v.sender_keys) do
      local base = media.senderBaseSecret(unhex(c.exporter_secret), c.user_id)
      local r = media.keyRatchet(base)
      for _, k in ipairs(c.keys) do assert.equal(k.key, hex(r:get(k.generation)), k.generation) end
      local first = hex(r:get(0))
      r:erase(c.keys[#c.keys].generation)
      assert.same({ c.sender_base_secret, c.keys[1].key, nil }, { hex(base), first, (r:get(0)) })
    end
    local r = mls.ratchet(unhex(v.ratchet_chain.steps[1].secret), 16)
    for _, step in ipairs(v.ratchet_chain.steps) do
      local at = { hex(r.secret), hex((r:get(step.generation))) }
      r:advance()
      assert.same({ step.secret, step.key, step.next_secret }, { at[1], at[2], hex(r.secret) })
    end
  end))

  it("ULEB128, nonces and generations", withVectors(DAVE, function(v)
    for _, c in ipairs(v.uleb128) do
      local e = unhex(c.encoded)
      assert.same({ c.encoded, c.value, #e + 1 }, { hex(media.uleb128(c.value)), media.readUleb128(e, 1, #e) })
    end
    assert.same({}, { media.readUleb128("\x80\x80", 1, 2), media.readUleb128(string.rep("\xff", 10) .. "\1", 1, 11) })
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
      local parsed, flipped = media.parseFrame(frame), string.char(frame:byte(1) ~ 1) .. frame:sub(2)
      assert.same({ c.frame, c.truncated_nonce, c.full_tag:sub(1, 16), c.unencrypted_ranges, c.plaintext, nil },
        { hex(frame), parsed.nonce, hex(parsed.tag), parsed.ranges, hex(media.decryptFrame(key, frame, parsed)),
          (media.decryptFrame(key, flipped, media.parseFrame(flipped))) })
    end
    for _, c in ipairs(v.not_protocol_frames) do assert.is_nil(media.parseFrame(unhex(c.frame)), c.why) end
  end))

  it("sender and receiver: the reference client's frames, replays, epochs", withVectors("dave-libdave-session.json",
    function(d)
      local a = d.member_a_user_id
      local function base(step)
        for _, r in ipairs(d["step" .. step .. "_ratchets"]) do
          if r.user_id == a then return unhex(r.sender_base_secret) end
        end
      end
      local enc, dec = media.encryptor(base(1)), media.decryptor()
      dec:addRatchet(base(1), 0)
      for _, f in ipairs(d.step1_frames_from_a) do
        assert.same({ f.frame, f.plaintext },
          { hex(enc:encrypt(unhex(f.plaintext))), hex(dec:decrypt(unhex(f.frame), 0)) })
      end
      assert.is_nil(dec:decrypt(unhex(d.step1_frames_from_a[2].frame), 0))
      dec:addRatchet(base(3), 1000)
      for _, f in ipairs(d.step3_frames_from_a) do assert.equal(f.plaintext, hex(dec:decrypt(unhex(f.frame), 2000))) end
      local late = media.encryptor(base(1))
      for _ = 1, 4 do late:encrypt("x") end
      assert.same({ "y", nil }, { dec:decrypt(late:encrypt("y"), 10999), (dec:decrypt(late:encrypt("z"), 11000)) })
      -- Generation 1 comes after 2^24 frames, at 170 a second no sooner than 98,690 s.
      late.nonce, dec = 0xFFFFFF, media.decryptor()
      dec:addRatchet(base(1), 0)
      local g1 = late:encrypt("g")
      assert.same({ false, "g" }, { dec:decrypt(g1, 98689000) or false, dec:decrypt(g1, 98690000) })
    end))

  it("privacy codes, external senders and proposals, binary messages", withVectors(DAVE, function(v)
    for _, c in ipairs(v.displayable_codes) do
      assert.equal(c.code, media.displayableCode(unhex(c.data), c.length, c.group_size))
      if #c.data == 64 then assert.equal(c.code, media.privacyCode(unhex(c.data))) end
    end
    local es, ep, fe = v.external_sender, v.external_proposals, v.framing_examples
    local m25 = mls.wire.parse(unhex(es.op25_message))
    assert.same({ 42, es.external_sender, es.signature_pub, es.identity }, { m25.sequence, hex(m25.externalSender.raw),
      hex(m25.externalSender.signatureKey), hex(m25.externalSender.credential.identity) })
    local ext = mls.externalSendersExtension(m25.externalSender.raw)
    assert.equal(es.group_context_extension, hex(mls.writer():u16(ext.type):vec(ext.data):bytes()))
    local gid = unhex(ep.group_id)
    local state = { groupContext = { groupId = gid, epoch = 0 } }
    for _, kind in ipairs({ "add", "remove" }) do
      local c = ep[kind]
      local pm = message(c.mls_message).publicMessage
      state.groupContext.epoch = c.epoch
      assert.same({ c.proposal_ref, c.mls_message }, {
        hex(mls.externalProposal(state, pm, { unhex(es.signature_pub) }).ref), hex(mls.protectPublic({ groupId = gid,
          epoch = c.epoch, senderType = 2, senderIndex = 0, contentType = 2, body = pm.content.proposal.raw },
          unhex(es.signature_priv))) })
    end
    local m27 = mls.wire.parse(unhex(ep.op27_append_message))
    local m29, m30 = mls.wire.parse(unhex(fe.op29_message)), mls.wire.parse(unhex(fe.op30_message))
    assert.same({ ep.add.mls_message, ep.add.proposal_ref, 45, 7, 46, 8, v.key_package.op26_message },
      { hex(m27.messages[1].raw), hex(mls.wire.parse(unhex(ep.op27_revoke_message)).refs[1]), m29.sequence,
        m29.transitionId, m30.sequence, m30.transitionId, hex(mls.wire.keyPackage(unhex(v.key_package.key_package))) })
    assert.has_error(function() mls.wire.parse(unhex(es.op25_message) .. "00") end)
  end))
end)
