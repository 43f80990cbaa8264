-- Fake voice server: answers op 4 on the main gateway, runs the voice gateway (v8) and the UDP peer
-- (IP discovery, then RTP it decrypts and checks); a rule the client breaks fails the run.
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

function Voice:check(ok, text, ...) if not ok then self.faults[#self.faults + 1] = text:format(...) end end

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
  for k, v in pairs(want) do if d[k] ~= v then return false end end
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
      if self.dv and self.dv.early then self.bot.binary(25, self.dv.es) end
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
    self.toBot = reply
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

-- A member's Opus frame as the server relays it to the bot: end-to-end encrypted by the member unless
-- protocol 0 is in force (or `opts.clear`), in an RTP packet sealed with the session key. `opts`: ssrc,
-- csrcs (a count), extension (its body, whole 32-bit words), again (the last packet's counters), pause
-- (frames the sender kept quiet before this one).
function Voice:packet(id, frame, opts)
  opts = opts or {}
  local dv = self.dv
  self.sending = self.sending or {}
  local s = self.sending[id]
  if not s then
    s = { seq = 0xFFF8 - #dv.users, ts = 0xFFFFF000, nonce = 0 }
    self.sending[id] = s
  end
  if not opts.again then
    s.seq, s.ts, s.nonce = (s.seq + 1) & 0xFFFF, (s.ts + 960 * (1 + (opts.pause or 0))) & 0xFFFFFFFF, s.nonce + 1
  end
  if not (dv.clear or opts.clear) then frame = assert(dv.members[id].member:encryptOpus(frame), "no sending key") end
  local ext, csrcs = opts.extension, opts.csrcs or 0
  local header = string.pack(">BBI2I4I4", 0x80 | csrcs | (ext and 0x10 or 0), 0x78, s.seq, s.ts,
    opts.ssrc or dv.ssrcs[id]) .. string.rep("\0\0\0\7", csrcs)
    .. (ext and string.pack(">I2I2", 0xBEDE, #ext // 4) or "")
  local nonce = string.pack(">I4", s.nonce)
  return header .. _discord.aead_encrypt(self.mode, string.char(table.unpack(self.key)), nonce
    .. ("\0"):rep(self.mode == "aead_aes256_gcm_rtpsize" and 8 or 20), header, (ext or "") .. frame) .. nonce
end

--- Sends the bot UDP bytes as the voice server.
function Voice:relay(bytes) self.toBot(bytes) end
function Voice:speak(id, frame, opts) self:relay(self:packet(id, frame, opts)) end

-- DAVE: `vs:dave{channelId, committer = "bot" | id}` makes the fake the group's delivery service and
-- external sender (its own key). `vs:host(id, member)` puts a member in the call: any object with
-- setExternalSender(op 25 payload), keyPackage(), processProposals(kind "append" | "revoke", op 27 after
-- its operation byte, the others' IDs) -> commit, welcome|nil, processCommit and processWelcome (raise
-- when invalid), encryptOpus(frame), decrypt(userId, frame) -> frame|nil, privacyCode(),
-- verificationCode(userId) and reset(); `Voice.ownMember(id, channelId)` is the library's own.
local mls = require("@discord/voice")._daveMls

function Voice.ownMember(id, channelId) return mls.member(id, channelId) end

function Voice:dave(opts)
  local priv, pub = require("@discord/voice")._daveCrypto.deriveKeyPair(("gateway"):rep(5))
  self.dv = { priv = priv, es = mls.writer():vec(pub):u16(1):vec("voice.test"):bytes(), members = {}, users = {},
    leaves = {}, removals = {}, epoch = 0, transition = 10, log = {}, ssrcs = {}, channelId = opts.channelId,
    committer = opts.committer == "bot" and self.server.bot.id or opts.committer }
  return self
end

function Voice:_ids(but)
  local out = {}
  for _, id in ipairs(self.dv.users) do out[#out + 1] = id ~= but and id or nil end
  return out
end

function Voice:_announceUsers(ids)
  self.bot.json(11, { user_ids = ids })
  for _, id in ipairs(ids) do self.bot.json(5, { user_id = id, ssrc = self.dv.ssrcs[id], speaking = 1 }) end
end

-- Op 25 (unless sent before op 4: `dv.early`), and the others in the call.
function Voice:_daveStart()
  if not self.dv.early then self.bot.binary(25, self.dv.es) end
  local ids = self:_ids(self.server.bot.id)
  if #ids > 0 then self:_announceUsers(ids) end
end

function Voice:host(id, member)
  local dv = self.dv
  dv.users[#dv.users + 1], dv.members[id], dv.ssrcs[id] = id, { member = member }, 5000 + #dv.users
  member:setExternalSender(dv.es)
  if self.bot then self:_announceUsers({ id }) end
  self:_keyPackage(id, member:keyPackage())
end

function Voice:leave(id)
  local dv = self.dv
  for i = #dv.users, 1, -1 do if dv.users[i] == id then table.remove(dv.users, i) end end
  dv.removals[#dv.removals + 1], dv.leaves[dv.members[id].leaf], dv.members[id] = dv.members[id].leaf, nil, nil
  self.bot.json(13, { user_id = id })
  if #dv.users > 1 then return self:_propose() end
  -- The bot alone: a new group, at once.
  dv.epoch, dv.leaves, dv.removals, dv.members[dv.users[1]].leaf = 0, {}, {}, nil
  self.bot.json(24, { protocol_version = 1, epoch = 1 })
  self.bot.json(21, { protocol_version = 1, transition_id = 0 })
end

-- A key package of a member who joins, or rejoins after op 31 (its old leaf is removed).
function Voice:_keyPackage(id, kp)
  local dv = self.dv
  if not dv.members[id] then dv.users[#dv.users + 1], dv.members[id] = id, {} end
  local m = dv.members[id]
  if m.leaf then dv.removals[#dv.removals + 1], dv.leaves[m.leaf] = m.leaf, nil end
  m.kp, m.leaf = kp, nil
  self:_propose()
end

-- One round: removals and adds to the group's members or, with no group, to each pending member.
function Voice:_propose()
  local dv, bot, group, joining = self.dv, self.server.bot.id, {}, {}
  if dv.version0 then return end
  for _, id in ipairs(dv.users) do
    local m = dv.members[id]
    if m.leaf then group[#group + 1] = id elseif m.kp then joining[#joining + 1] = id end
  end
  local to = dv.epoch > 0 and group or (#joining > 1 and joining or {})
  if #to == 0 or #joining + #dv.removals == 0 then return end
  local round, vecs = { to = to, adds = joining, commits = {} }, {}
  for _, id in ipairs(to) do
    local bodies = {}
    for _, leaf in ipairs(dv.removals) do bodies[#bodies + 1] = string.pack(">I2I4", 3, leaf) end
    for _, add in ipairs(joining) do bodies[#bodies + 1] = add ~= id and "\0\1" .. dv.members[add].kp or nil end
    for k, body in ipairs(bodies) do
      bodies[k] = mls.protectPublic({ groupId = string.pack(">i8", math.tointeger(dv.channelId)), epoch = dv.epoch,
        senderType = 2, senderIndex = 0, contentType = 2, body = body }, dv.priv)
    end
    vecs[id] = mls.writer():vec(table.concat(bodies)):bytes()
  end
  dv.removals, dv.round = {}, round
  for _, id in ipairs(to) do
    local m = dv.members[id].member
    if m then round.commits[id] = { m:processProposals("append", vecs[id], self:_ids(id)) } end
  end
  if vecs[bot] then self.bot.binary(27, "\0" .. vecs[bot]) end
  self:_announce()
end

-- The winning commit: op 29 to its committer or the group's members, op 30 to those it adds.
function Voice:_announce()
  local dv, round, bot = self.dv, self.dv.round, self.server.bot.id
  local winner
  for _, id in ipairs(round and round.to or {}) do
    if id == dv.committer or not winner and dv.members[id].member then winner = id end
  end
  local c = round and round.commits[winner or bot]
  if not c then return end
  winner, dv.round = winner or bot, nil
  local announced = dv.epoch > 0 and round.to or { winner }
  if dv.epoch == 0 then dv.leaves, dv.members[winner].leaf = { [0] = winner }, 0 end
  for _, id in ipairs(round.adds) do
    local leaf = 0
    while dv.leaves[leaf] do leaf = leaf + 1 end
    if id ~= winner then dv.leaves[leaf], dv.members[id].leaf = id, leaf end
  end
  dv.epoch, dv.transition = dv.epoch + 1, dv.transition + 1
  dv.pending = { id = dv.transition, version = 1 }
  dv.log[#dv.log + 1] = { "announce", dv.transition, dv.epoch, winner }
  for _, id in ipairs(announced) do self:_deliver(id, 29, c[1]) end
  for _, id in ipairs(round.adds) do if id ~= winner then self:_deliver(id, 30, c[2]) end end
  if not (dv.members[bot] and dv.members[bot].leaf) then self:_execute() end
end

function Voice:_deliver(id, op, bytes)
  local dv, m = self.dv, self.dv.members[id].member
  if m then return (op == 29 and m.processCommit or m.processWelcome)(m, bytes) end
  local corrupt = dv.corrupt
  dv.corrupt = nil
  if corrupt then bytes = corrupt(bytes) end
  self.bot.binary(op, string.pack(">I2", dv.transition) .. bytes)
end

function Voice:_execute()
  local dv, p = self.dv, self.dv.pending
  dv.pending = nil
  if self.bot then self.bot.json(22, { transition_id = p.id }) end
  dv.clear = p.version == 0
  dv.log[#dv.log + 1] = { "execute", p.id, p.version, #self.rtp }
end

function Voice:_daveBinary(data)
  local dv, op = self.dv, data:byte(1)
  self:check(op == 26 or op == 28, "binary op %d", op)
  if op == 26 then return self:_keyPackage(self.server.bot.id, data:sub(2)) end
  -- A commit after the round was decided loses, as on Discord's gateway.
  if not dv.round then return end
  local r = mls.reader(data, 2)
  mls.readMessage(r)
  dv.round.commits[self.server.bot.id] = { data:sub(2, r.pos - 1), r.pos <= #data and data:sub(r.pos) or nil }
  self:_announce()
end

function Voice:_daveJson(op, d)
  local dv = self.dv
  dv.log[#dv.log + 1] = { op, d.transition_id }
  self:check(op == 31 or dv.pending and d.transition_id == dv.pending.id, "op %d for %s", op, d.transition_id)
  if op == 23 and dv.pending and d.transition_id == dv.pending.id then self:_execute() end
end

-- Downgrade to protocol 0 (op 21); the upgrade back with op 24 epoch 1 and new key packages.
function Voice:downgrade()
  local dv = self.dv
  dv.transition, dv.version0 = dv.transition + 1, true
  dv.pending = { id = dv.transition, version = 0 }
  self.bot.json(21, { protocol_version = 0, transition_id = dv.transition })
end

function Voice:upgrade()
  local dv = self.dv
  dv.version0, dv.leaves, dv.epoch = false, {}, 0
  for _, m in pairs(dv.members) do m.kp, m.leaf = nil, nil end
  self.bot.json(24, { protocol_version = 1, epoch = 1 })
  for _, id in ipairs(self:_ids(self.server.bot.id)) do
    dv.members[id].member:reset()
    self:_keyPackage(id, dv.members[id].member:keyPackage())
  end
end

-- A frame of the bot: in the clear only under protocol 0, else decrypted by a member of the group.
function Voice:_daveFrame(entry)
  local dv, bot = self.dv, self.server.bot.id
  entry.sealed, entry.encrypted = entry.opus, mls.media.parseFrame(entry.opus) ~= nil
  for _, id in ipairs(entry.encrypted and self:_ids(bot) or {}) do
    local plain = dv.members[id].leaf and dv.members[id].member:decrypt(bot, entry.opus)
    if plain then
      entry.opus = plain
      return
    end
  end
  self:check(dv.clear and not entry.encrypted, "frame %d: %s", #self.rtp + 1, entry.encrypted and "no key" or "clear")
end

return Voice
