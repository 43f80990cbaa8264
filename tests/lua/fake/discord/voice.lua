-- Fake voice server: answers op 4 on the main gateway, runs the voice gateway (v8) and the UDP peer
-- (IP discovery, then RTP it decrypts and checks), noting in `faults` every rule the client breaks.
local runtime = require("runtime")
local json = require("json")
local _discord = require("_discord")

local Voice = {}
Voice.__index = Voice

local IP, PORT, SSRC, SEEN = "10.0.0.5", 50001, 4242, { "203.0.113.7", 40404 }
local SESSION = { session_id = "vsession", token = "vtoken" }

function Voice.new(server)
  local self = setmetatable({ server = server, faults = {}, received = {}, speaking = {}, rtp = {}, joins = {},
    modes = { "xsalsa20_poly1305_lite", "aead_xchacha20_poly1305_rtpsize", "aead_aes256_gcm_rtpsize" },
    key = {}, identifies = 0, conns = {} }, Voice)
  for i = 1, 32 do self.key[i] = i * 7 end
  server.gateway.voice = self
  require("http").mount_ws("wss://voice.test", function(sock, req) self:_serve(sock, req) end)
  _discord.udp_peers[IP .. ":" .. PORT] = function(p, reply) self:_udp(p, reply) end
  return self
end

function Voice:check(ok, text, ...)
  if not ok then self.faults[#self.faults + 1] = text:format(...) end
end

-- Op 4 from the bot: Discord answers with the bot's voice state and, when it joined, the server.
function Voice:stateUpdate(d)
  local gw = self.server.gateway
  self.joins[#self.joins + 1] = d
  if d.channel_id ~= json.null then self.channelId = d.channel_id end
  gw:dispatch("VOICE_STATE_UPDATE", { guild_id = d.guild_id, channel_id = d.channel_id, user_id = self.server.bot.id,
    session_id = SESSION.session_id, self_deaf = d.self_deaf, self_mute = d.self_mute })
  if d.channel_id ~= json.null then
    gw:dispatch("VOICE_SERVER_UPDATE", { guild_id = d.guild_id, token = SESSION.token, endpoint = "voice.test:443" })
  end
end

local function same(d, want)
  for k, v in pairs(want) do
    if d[k] ~= v then return false end
  end
  return true
end

function Voice:_serve(sock, req)
  local c, who = { seq = 0 }, { server_id = self.server.guild.id, session_id = SESSION.session_id,
    token = SESSION.token }
  -- Hello and heartbeat ACKs carry no sequence number.
  local function send(op, d, unnumbered)
    if not unnumbered then c.seq = c.seq + 1 end
    sock:send(json.encode({ op = op, d = d, seq = not unnumbered and c.seq or nil }))
  end
  self.conns[#self.conns + 1] = sock
  local function sendBinary(op, payload)
    c.seq = c.seq + 1
    sock:send(string.pack(">I2B", c.seq, op) .. payload, "binary")
  end
  self.bot = { json = send, binary = sendBinary }
  self:check(req.query.v == "8", "voice gateway v%s", req.query.v)
  send(8, { heartbeat_interval = 13750 }, true)
  for data, kind in function() return sock:receive() end do
    if kind == "binary" then
      self:_daveBinary(data)
      goto continue
    end
    local m = json.decode(data)
    local op, d = m.op, m.d
    self.received[#self.received + 1] = { op = op, d = d }
    if op == 0 then
      self.identifies = self.identifies + 1
      self:check(same(d, who) and d.user_id == self.server.bot.id
        and d.max_dave_protocol_version == (runtime.random_bytes and 1 or 0), data)
      if self.dave_required and d.max_dave_protocol_version == 0 then
        return sock:close(4017, "E2EE/DAVE protocol required")
      end
      send(2, { ssrc = SSRC, ip = IP, port = PORT, modes = self.modes })
    elseif op == 1 then
      self:check(d.protocol == "udp" and same(d.data, { address = SEEN[1], port = SEEN[2] }), data)
      self.mode = d.data.mode
      send(4, { mode = self.mode, secret_key = json.array(self.key), dave_protocol_version = self.dv and 1 or 0 })
      if self.dv then self:_daveStart() end
    elseif op == 3 then
      self:check(d.seq_ack == c.seq, "heartbeat acked %s of %d", d.seq_ack, c.seq)
      send(6, { t = d.t }, true)
    elseif op == 5 then
      self:check(d.ssrc == SSRC, data)
      self.speaking[#self.speaking + 1] = d.speaking
    elseif op == 23 or op == 31 then
      self:_daveJson(op, d)
    else
      self:check(op == 7 and same(d, who), data)
      c.seq = d.seq_ack
      send(9, json.null)
    end
    ::continue::
  end
end

function Voice:_udp(p, reply)
  if #p == 8 then
    self.keepalives = string.unpack("<I4", p)
    return
  end
  if #p == 74 then
    self:check(string.unpack(">I2I2I4", p) == 1 and p:sub(5, 8) == string.pack(">I4", SSRC), "discovery")
    return reply(string.pack(">I2I2I4z", 2, 70, SSRC, SEEN[1]) .. ("\0"):rep(63 - #SEEN[1])
      .. string.pack(">I2", SEEN[2]))
  end
  local v, pt, seq, ts, ssrc = string.unpack(">BBI2I4I4", p)
  local nonce = string.unpack(">I4", p, #p - 3)
  local full = p:sub(-4) .. ("\0"):rep(self.mode == "aead_aes256_gcm_rtpsize" and 8 or 20)
  local opus = _discord.aead_decrypt(self.mode, string.char(table.unpack(self.key)), full, p:sub(1, 12), p:sub(13, -5))
  self:check(v == 0x80 and pt == 0x78 and ssrc == SSRC and opus, "bad RTP packet")
  local last = self.rtp[#self.rtp]
  self:check(not last or (seq == (last.seq + 1) & 0xFFFF and ts == (last.ts + 960) & 0xFFFFFFFF
    and nonce == last.nonce + 1), "RTP %d/%d/%d after %s", seq, ts, nonce, last and last.nonce)
  local entry = { at = runtime.now(), seq = seq, ts = ts, nonce = nonce, opus = opus }
  if self.dv and opus then self:_daveFrame(entry) end
  self.rtp[#self.rtp + 1] = entry
end

-- DAVE -----------------------------------------------------------------------------------------------------
-- With `Voice:dave()` the fake also is the group's delivery service and its one external sender (its own
-- P-256 key): it sends op 25, signs external Add and Remove proposals, relays ops 26-31 between the bot
-- and the members it hosts, announces and executes transitions, and checks every frame the bot sends.
-- A hosted member is any object with:
--   setExternalSender(bytes)      op 25's payload (an ExternalSender)
--   keyPackage() -> bytes          a fresh bare KeyPackage (op 26); also after a reset
--   processProposals(kind, bytes, userIds) -> commit, welcome|nil
--                                  kind "append" or "revoke"; bytes: op 27 after its operation byte;
--                                  userIds: the ids of the others in the call (strings)
--   processCommit(bytes)           op 29's MLSMessage; raises when it is invalid
--   processWelcome(bytes)          op 30's bare Welcome; raises when it is invalid
--   encryptOpus(frame) -> frame    with its newest epoch's key (hosted members switch at once)
--   decrypt(userId, frame) -> frame or nil
--   privacyCode() -> 30 digits     the epoch authenticator's code
--   verificationCode(userId)       optional: the pairwise code with that user
--   reset()                        forgets the group (downgrade; a new key package follows)
-- `Voice.ownMember(userId, channelId)` makes one from the library's own group member; `vs:host(id,
-- member)` puts one in the call, `vs:leave(id)` takes it out.
local mls = require("@discord/voice")._daveMls

function Voice.ownMember(userId, channelId) return mls.member(userId, channelId) end

-- DAVE mode for the call in `opts.channelId` (default: the one the bot joins). `opts.committer`: whose
-- commit wins when several members commit ("bot" or a hosted id; default: the first hosted member in
-- the group, else the bot).
function Voice:dave(opts)
  opts = opts or {}
  local priv, pub = require("@discord/voice")._daveCrypto.deriveKeyPair(("gateway"):rep(5))
  local es = mls.writer():vec(pub):u16(1):vec("voice.test"):bytes()
  self.dv = { priv = priv, externalSender = es, members = {}, order = {}, leaves = {}, epoch = 0, group = false,
    committer = opts.committer, channelId = opts.channelId, transition = 10, log = {}, ssrcs = {}, removals = {} }
  return self
end

local function botId(self) return self.server.bot.id end

function Voice:_daveStart()
  local dv = self.dv
  self.bot.binary(25, dv.externalSender)
  local ids = {}
  for _, id in ipairs(dv.order) do ids[#ids + 1] = id end
  if #ids > 0 then self.bot.json(11, { user_ids = ids }) end
  for i, id in ipairs(ids) do
    dv.ssrcs[id] = dv.ssrcs[id] or 5000 + i
    self.bot.json(5, { user_id = id, ssrc = dv.ssrcs[id], speaking = 1 })
  end
end

-- Puts a hosted member in the call: it receives op 25 and sends its key package.
function Voice:host(id, member)
  local dv = self.dv
  dv.members[id] = { member = member }
  dv.order[#dv.order + 1] = id
  member:setExternalSender(dv.externalSender)
  if self.bot then
    dv.ssrcs[id] = 5000 + #dv.order
    self.bot.json(11, { user_ids = { id } })
    self.bot.json(5, { user_id = id, ssrc = dv.ssrcs[id], speaking = 1 })
  end
  self:_keyPackage(id, member:keyPackage())
end

function Voice:leave(id)
  local dv = self.dv
  local m = dv.members[id]
  dv.members[id] = nil
  for i, x in ipairs(dv.order) do
    if x == id then table.remove(dv.order, i) end
  end
  if m and m.leaf then dv.leaves[m.leaf], dv.removals[#dv.removals + 1] = nil, m.leaf end
  if self.bot then self.bot.json(13, { user_id = id }) end
  self:_propose()
end

function Voice:_rec(id)
  local dv = self.dv
  if id == botId(self) and not dv.members[id] then dv.members[id] = {} end
  return dv.members[id]
end

-- A key package from a member who joins (or rejoins after op 31): its old leaf, if any, is removed.
function Voice:_keyPackage(id, kp)
  local dv, m = self.dv, self:_rec(id)
  if m.leaf and dv.group then dv.leaves[m.leaf], dv.removals[#dv.removals + 1] = nil, m.leaf end
  m.kp, m.leaf = kp, nil
  self:_propose()
end

local function external(self, epoch, body)
  local channel = self.dv.channelId or self.channelId
  return mls.protectPublic({ groupId = string.pack(">i8", math.tointeger(channel)), epoch = epoch,
    senderType = 2, senderIndex = 0, contentType = 2, body = body }, self.dv.priv)
end

function Voice:_others(id)
  local out = {}
  for uid in pairs(self.dv.members) do
    if uid ~= id then out[#out + 1] = uid end
  end
  table.sort(out)
  return out
end

-- Sends the proposals of this round: removals and adds to the group's members, or, with no group
-- yet, to every pending member the adds of the others.
function Voice:_propose()
  local dv = self.dv
  if not dv or dv.version0 then return end
  local joining, round = {}, { commits = {}, recipients = {}, removals = dv.removals, adds = {} }
  for _, uid in ipairs(self:_others()) do
    local m = dv.members[uid]
    if m.kp and not m.leaf then joining[#joining + 1] = uid end
  end
  if dv.group then
    if #joining == 0 and #dv.removals == 0 then return end
    for uid, m in pairs(dv.members) do
      if m.leaf then round.recipients[#round.recipients + 1] = uid end
    end
    round.adds = joining
  else
    if #joining < 2 then return end
    round.recipients, round.adds = joining, joining
  end
  table.sort(round.recipients)
  dv.removals, dv.round = {}, round
  local vecs = {}
  for _, uid in ipairs(round.recipients) do
    local messages = {}
    for _, leaf in ipairs(round.removals) do messages[#messages + 1] = string.pack(">I2I4", 3, leaf) end
    for _, add in ipairs(round.adds) do
      if add ~= uid then messages[#messages + 1] = string.pack(">I2", 1) .. dv.members[add].kp end
    end
    for i, body in ipairs(messages) do messages[i] = external(self, dv.epoch, body) end
    vecs[uid] = mls.writer():vec(table.concat(messages)):bytes()
  end
  -- Hosted members answer at once; the bot's op 28 comes back through its socket.
  for _, uid in ipairs(round.recipients) do
    local m = dv.members[uid]
    if m.member then
      local ok, commit, welcome = pcall(m.member.processProposals, m.member, "append", vecs[uid], self:_others(uid))
      self:check(ok and commit, "%s refused the proposals: %s", uid, commit)
      round.commits[uid] = { commit, welcome }
    end
  end
  if vecs[botId(self)] then self.bot.binary(27, "\0" .. vecs[botId(self)]) end
  self:_announce()
end

-- The winning commit: op 29 to the members who committed on it, op 30 to the ones it adds.
function Voice:_announce()
  local dv = self.dv
  local round = dv.round
  if not round then return end
  local winner = dv.committer == "bot" and botId(self) or dv.committer
  if not winner then
    for _, uid in ipairs(round.recipients) do
      if not winner and dv.members[uid].member then winner = uid end
    end
    winner = winner or botId(self)
  end
  local found = false
  for _, uid in ipairs(round.recipients) do found = found or uid == winner end
  if not found then winner = round.recipients[1] end
  local c = round.commits[winner]
  if not c then return end
  dv.round = nil
  local announced, welcomed = {}, {}
  if dv.group then
    for _, uid in ipairs(round.recipients) do announced[#announced + 1] = uid end
  else
    announced[1] = winner
    dv.leaves, dv.members[winner].leaf = { [0] = winner }, 0
  end
  for _, uid in ipairs(round.adds) do
    if uid ~= winner then
      local i = 0
      while dv.leaves[i] do i = i + 1 end
      dv.leaves[i], dv.members[uid].leaf, welcomed[#welcomed + 1] = uid, i, uid
    end
  end
  dv.epoch, dv.group = (dv.group and dv.epoch or 0) + 1, true
  dv.transition = dv.transition + 1
  local id = dv.transition
  dv.pending = { id = id, version = 1 }
  dv.log[#dv.log + 1] = { "announce", id, dv.epoch, winner }
  for _, list in ipairs({ { announced, 29, c[1] }, { welcomed, 30, c[2] } }) do
    for _, uid in ipairs(list[1]) do
      local m = dv.members[uid]
      if m.member then
        local ok, err = pcall(list[2] == 29 and m.member.processCommit or m.member.processWelcome, m.member, list[3])
        self:check(ok, "%s could not process op %d: %s", uid, list[2], err)
      elseif dv.corrupt then
        self.bot.binary(list[2], string.pack(">I2", id) .. dv.corrupt(list[3]))
        dv.corrupt = nil
      else
        self.bot.binary(list[2], string.pack(">I2", id) .. list[3])
      end
    end
  end
  if not dv.members[botId(self)] or not dv.members[botId(self)].leaf then self:_execute() end
end

function Voice:_execute()
  local dv, p = self.dv, self.dv.pending
  dv.pending = nil
  if self.bot then self.bot.json(22, { transition_id = p.id }) end
  dv.clear = p.version == 0
  dv.log[#dv.log + 1] = { "execute", p.id, p.version, #self.rtp }
end

function Voice:_daveBinary(data)
  local dv, op, id = self.dv, data:byte(1), botId(self)
  if op == 26 then
    self:check(data:sub(2, 5) == "\0\1\0\2", "op 26 without a bare key package")
    return self:_keyPackage(id, data:sub(2))
  end
  self:check(op == 28, "unexpected binary op %d", op)
  -- A commit after the round was decided loses, as on Discord's gateway.
  if op ~= 28 or not dv.round then return end
  local r = mls.reader(data, 2)
  mls.readMessage(r)
  local welcome = r.pos <= #data and data:sub(r.pos) or nil
  dv.round.commits[id] = { data:sub(2, r.pos - 1), welcome }
  self:_announce()
end

function Voice:_daveJson(op, d)
  local dv = self.dv
  dv.log[#dv.log + 1] = { op, d.transition_id }
  if op == 23 then
    self:check(dv.pending and d.transition_id == dv.pending.id, "op 23 for transition %s", d.transition_id)
    if dv.pending and d.transition_id == dv.pending.id then self:_execute() end
  end
end

-- Downgrade to protocol 0 (op 21 to the bot, executed when it is ready), and the upgrade back: op 24
-- epoch 1, then every member starts again with a key package.
function Voice:downgrade()
  local dv = self.dv
  dv.transition = dv.transition + 1
  dv.pending, dv.version0 = { id = dv.transition, version = 0 }, true
  self.bot.json(21, { protocol_version = 0, transition_id = dv.transition })
end

function Voice:upgrade()
  local dv = self.dv
  dv.version0, dv.group, dv.leaves, dv.epoch, dv.removals = false, false, {}, 0, {}
  for _, m in pairs(dv.members) do m.kp, m.leaf = nil, nil end
  self.bot.json(24, { protocol_version = 1, epoch = 1, transition_id = 0 })
  for _, uid in ipairs(self:_others(botId(self))) do
    local m = dv.members[uid].member
    m:reset()
    self:_keyPackage(uid, m:keyPackage())
  end
end

-- Each of the bot's frames: decrypted by the first hosted member in the group, or in the clear only
-- while protocol 0 is executed.
function Voice:_daveFrame(entry)
  local dv, frame = self.dv, entry.opus
  entry.encrypted = mls.media.parseFrame(frame) ~= nil
  if not entry.encrypted then
    self:check(dv.clear, "frame %d sent in the clear", #self.rtp + 1)
    return
  end
  for _, uid in ipairs(self:_others(botId(self))) do
    local m = dv.members[uid]
    local plain = m.leaf and m.member:decrypt(botId(self), frame)
    if plain then
      entry.opus, entry.by = plain, uid
      return
    end
  end
  self:check(false, "frame %d does not decrypt", #self.rtp + 1)
end

return Voice
