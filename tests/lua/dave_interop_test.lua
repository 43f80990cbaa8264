-- The library's group member against an independent DAVE implementation (tests/dave-peer), driven by an
-- external sender built here (the bot with such peers on the voice gateway: dave_session_test).
local peers = require("dave_peer")
local voice = require("@discord/voice")
local crypto, mls = voice._daveCrypto, voice._daveMls

local CHANNEL = "1180000000000000001"
local GROUP = string.pack(">I8", math.tointeger(CHANNEL))
local FRAMES = { "\xF8\xFF\xFE", "\xFC\1\2\3", string.rep("\x78\x9C", 90) }

local gatewayPriv, gatewayPub = crypto.deriveKeyPair(("g"):rep(32))
local EXTERNAL_SENDER = mls.writer():vec(gatewayPub):u16(1):vec(string.pack(">I8", 1)):bytes()

-- Op 27's append payload (after the operation type): external proposals signed by the gateway.
local function proposals(epoch, bodies)
  local out = {}
  for i, body in ipairs(bodies) do
    out[i] = mls.protectPublic({ groupId = GROUP, epoch = epoch, senderType = 2, senderIndex = 0, contentType = 2,
      body = body }, gatewayPriv)
  end
  return mls.writer():vec(table.concat(out)):bytes()
end
local function add(kp) return string.pack(">I2", 1) .. kp end
local function remove(leaf) return string.pack(">I2I4", 3, leaf) end

-- A pending member of the channel: ours or the peer's, with its key package sent.
local function member(kind, user)
  local m = kind == "ours" and mls.member(user, CHANNEL) or peers.member(user, CHANNEL)
  m:setExternalSender(EXTERNAL_SENDER)
  m.kpBytes = m:keyPackage()
  return m
end

-- One epoch change: the group gets the proposals and `committer`'s commit, `joiners` its Welcome; a
-- `decoy`'s Add comes first and is revoked.
local function step(group, epoch, bodies, committer, joiners, decoy)
  local bytes, commit, welcome = proposals(epoch, bodies), nil, nil
  local users = { decoy and decoy.userId }
  for _, m in ipairs(group) do users[#users + 1] = m.userId end
  for _, m in ipairs(joiners) do users[#users + 1] = m.userId end
  if decoy then
    local added = proposals(epoch, { add(decoy.kpBytes) })
    local ref = mls.proposalRef(mls.reader(added):list(mls.readMessage)[1].publicMessage)
    for _, m in ipairs(group) do
      m:processProposals("append", added, users)
      m:processProposals("revoke", mls.writer():vec(mls.varint(#ref) .. ref):bytes(), users)
    end
  end
  for _, m in ipairs(group) do
    local c, w = m:processProposals("append", bytes, users)
    if m == committer then commit, welcome = c, w end
  end
  assert.is_not_nil(commit)
  -- A commit with a broken membership tag is refused and leaves the member able to take the real one.
  local broken = commit:sub(1, -2) .. string.char(commit:byte(-1) ~ 1)
  for _, m in ipairs(group) do
    if m ~= committer then assert.has_error(function() m:processCommit(broken) end) end
    m:processCommit(commit)
  end
  for _, m in ipairs(joiners) do m:processWelcome(assert(welcome, "no welcome")) end
  if decoy then assert.is_true(welcome == nil or not pcall(decoy.processWelcome, decoy, welcome)) end
end

-- Every member decrypts every other's frames byte for byte, and all show one privacy code.
local function agree(group, epoch)
  local code = group[1]:privacyCode()
  assert.equal(30, #code)
  for _, m in ipairs(group) do
    assert.same({ epoch, code }, { m:epoch(), m:privacyCode() }, m.userId)
    for _, f in ipairs(FRAMES) do
      local sealed = m:encryptOpus(f)
      -- The peer sends Opus silence in the clear, as receivers must accept.
      assert.is_true(#sealed >= #f + 12 or f == voice.SILENCE_FRAME and sealed == f, m.userId)
      for _, o in ipairs(group) do
        if o ~= m then
          assert.equal(f, o:decrypt(m.userId, sealed), o.userId .. " <- " .. m.userId)
          assert.is_true(#f == 3 or o:decrypt(m.userId, string.char(sealed:byte(1) ~ 1) .. sealed:sub(2)) == nil)
        end
      end
    end
  end
end

describe("DAVE with an independent implementation", function()
  local missing = peers.missing()
  teardown(peers.stop)

  it("has its peer installed", function() assert.is_nil(missing) end)
  if missing then return end

  -- Epoch by epoch from our one-member group (0 = us, the others peers): who commits, joins, leaves. Two
  -- adds in one commit leave unmerged leaves that the next path must encrypt to.
  local CHANGES = {
    { by = 0, add = { 1 } }, { by = 0, add = { 2 } }, { by = 1, remove = { 2 } }, { by = 1, add = { 3 } },
    { by = 0, remove = { 1 }, add = { 4 } }, { by = 3, add = { 5, 6 } }, { by = 0, remove = { 4 } },
    { by = 5, remove = { 3 }, add = { 7 } }, { by = 6, remove = { 5 }, decoy = true }, { by = 0, add = { 8, 9 } },
    { by = 8, add = { 10 }, decoy = true },
  }

  it("adds and removes members epoch by epoch, each side committing", function()
    local members, leaves = { [0] = member("ours", "1110000000000000100") }, { [0] = 0 }
    -- The group's members in leaf order.
    local function current()
      local out = {}
      for n in pairs(leaves) do out[#out + 1] = n end
      table.sort(out, function(x, y) return leaves[x] < leaves[y] end)
      return require("discord.util").map(out, function(n) return members[n] end)
    end
    for epoch, change in ipairs(CHANGES) do
      local bodies, joiners = {}, {}
      for _, n in ipairs(change.remove or {}) do bodies[#bodies + 1], leaves[n] = remove(leaves[n]), nil end
      local group = current()
      for _, n in ipairs(change.add or {}) do
        members[n] = member("peer", string.format("11100000000000001%02d", n))
        bodies[#bodies + 1], joiners[#joiners + 1] = add(members[n].kpBytes), members[n]
        local taken, leaf = {}, 0
        for _, l in pairs(leaves) do taken[l] = true end
        while taken[leaf] do leaf = leaf + 1 end
        leaves[n] = leaf
      end
      local decoy = change.decoy and member("peer", "1110000000000000199")
      step(group, epoch - 1, bodies, members[change.by], joiners, decoy)
      agree(current(), epoch)
    end
  end)
end)
