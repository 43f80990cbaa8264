-- Scripted gateway of the fake Discord for any number of shards; a broken rule fails the run.
local runtime = require("runtime")
local json = require("json")
local _discord = require("_discord")

local Gateway = {}
Gateway.__index = Gateway

local URL = "wss://gateway.discord.gg"
local RESUME_URL = "wss://gateway-resume.discord.gg"

function Gateway.new(server)
  return setmetatable({
    server = server, store = server.store,
    heartbeat_interval = 41250,
    ack = true,            -- answer heartbeats
    split = false,         -- send each compressed message in two frames
    shards = 1,            -- recommended by /gateway/bot
    max_concurrency = 1,
    session_starts = 1000, -- identifies allowed before the reset
    reset_after = 14400000,
    sessions = {}, connections = {}, latest = {}, current_of = {}, presences = {},
    received = {}, faults = {}, closes = {}, identifies = {}, all_members = {},
  }, Gateway)
end

function Gateway:fault(text) self.faults[#self.faults + 1] = { at = runtime.now(), text = text } end

-- Sending
function Gateway:_send(conn, payload)
  if conn.sock.closed then return false end
  local text = json.encode(payload)
  if not conn.deflater then return conn.sock:send(text, "text") end
  local bytes = conn.deflater:push(text)
  local cut = self.split and #bytes // 2 or 0
  if cut > 0 then conn.sock:send(bytes:sub(1, cut), "binary") end
  return conn.sock:send(bytes:sub(cut + 1), "binary")
end

--- The answer of GET /gateway/bot.
function Gateway:botInfo()
  return { url = URL, shards = self.shards, session_start_limit = { total = 1000,
    remaining = self.session_starts - #self.identifies, reset_after = self.reset_after,
    max_concurrency = self.max_concurrency } }
end

--- The newest live session of a shard (default: the lowest), even while its client reconnects.
function Gateway:session(shard)
  if shard == nil then
    shard = 0
    while shard < 1024 and not self.latest[shard] do shard = shard + 1 end
  end
  local s = self.latest[shard]
  return s and not s.dead and s or nil
end

local function shardOf(guildId, count) return (math.tointeger(tonumber(guildId)) >> 22) % count end

--- The live session of a guild's shard (DMs: shard 0).
function Gateway:sessionFor(guildId)
  local s = self:session()
  return self:session(guildId and shardOf(guildId, s and s.shard[2] or 1) or 0)
end

local GUILD_EVENTS = { GUILD_CREATE = true, GUILD_UPDATE = true, GUILD_DELETE = true }
local function guildOf(t, d)
  if type(d) ~= "table" then return nil end
  return d.guild_id or (GUILD_EVENTS[t] and d.id) or nil
end

--- Sends an event to a session (default: its guild's), kept for RESUME.
function Gateway:dispatch(t, d, session)
  session = session or self:sessionFor(guildOf(t, d))
  if not session then error("fake gateway: dispatch without a session", 2) end
  session.seq = session.seq + 1
  local payload = { op = 0, t = t, s = session.seq, d = d }
  session.events[#session.events + 1] = payload
  local conn = session.conn
  if conn and conn.ready then self:_send(conn, payload) end
  return session.seq
end

function Gateway:_conn(shard)
  if shard == nil then return self.current end
  return self.current_of[shard] or error("fake gateway: no connection for shard " .. shard, 3)
end

function Gateway:reconnect(shard) self:_send(self:_conn(shard), { op = 7, d = json.null }) end

function Gateway:invalidate(resumable, shard)
  local conn = self:_conn(shard)
  if not resumable and conn.session then conn.session.dead = true end
  self:_send(conn, { op = 9, d = resumable and true or false })
end

function Gateway:close(code, reason, shard)
  local conn = self:_conn(shard)
  if conn.session and (code == 4007 or code == 4009) then conn.session.dead = true end
  conn.sock:close(code, reason)
end

function Gateway:drop(shard) self:_conn(shard).sock:drop() end

-- Receiving
function Gateway:_ready(conn, session)
  local guilds, mine = json.array({}), {}
  for _, gid in ipairs(self.store.guild_order) do
    if shardOf(gid, session.shard[2]) == session.shard[1] then
      guilds[#guilds + 1] = { id = gid, unavailable = true }
      mine[#mine + 1] = gid
    end
  end
  conn.ready = true
  self:dispatch("READY", {
    v = 10, user = self.store:userJSON(self.server.bot), guilds = guilds, session_id = session.id,
    resume_gateway_url = RESUME_URL, shard = session.shard, application = { id = self.server.bot.id, flags = 0 },
  }, session)
  for _, gid in ipairs(mine) do self:dispatch("GUILD_CREATE", self.store:guildJSON(self.store.guilds[gid]), session) end
end

function Gateway:_refuse(conn, code, text)
  self:fault(text)
  conn.sock:close(code, text)
end

function Gateway:_identify(conn, d)
  if d.token ~= self.server.token or math.type(d.intents) ~= "integer" or type(d.properties) ~= "table" then
    return self:_refuse(conn, 4002, "IDENTIFY without the token, intents or properties")
  end
  local shard = d.shard or json.array({ 0, 1 })
  local id, count = shard[1], shard[2]
  if math.type(id) ~= "integer" or math.type(count) ~= "integer" or id < 0 or id >= count then
    return self:_refuse(conn, 4010, "IDENTIFY with shard " .. json.encode(shard))
  end
  if #self.identifies >= self.session_starts and runtime.now() < self.reset_after then
    return self:_refuse(conn, 4002, "IDENTIFY beyond the session starts")
  end
  -- Shards share a rate-limit key (id % max_concurrency); one IDENTIFY per key every 5 s.
  local now, key = runtime.now(), id % self.max_concurrency
  for i = #self.identifies, 1, -1 do
    local last = self.identifies[i]
    if last.key == key then
      if now - last.at < 5000 then
        self:fault("IDENTIFY of shard " .. id .. " " .. (now - last.at) .. " ms after shard " .. last.shard)
      end
      break
    end
  end
  self.identifies[#self.identifies + 1] = { at = now, d = d, shard = id, key = key }
  local session = { id = "session-" .. #self.identifies, seq = 0, events = {}, intents = d.intents, shard = shard,
    conn = conn }
  self.sessions[session.id], self.latest[id], conn.session, self.current_of[id] = session, session, session, conn
  self:_ready(conn, session)
end

function Gateway:_resume(conn, d)
  if d.token ~= self.server.token then return self:_refuse(conn, 4004, "RESUME with a wrong token") end
  if conn.url:sub(1, #RESUME_URL) ~= RESUME_URL then self:fault("RESUME sent to " .. conn.url) end
  local session = self.sessions[d.session_id]
  if not session or session.dead then return self:_send(conn, { op = 9, d = false }) end
  if math.type(d.seq) ~= "integer" or d.seq > session.seq then
    return self:_refuse(conn, 4007, "RESUME with seq " .. tostring(d.seq))
  end
  session.conn, conn.session, conn.ready, self.current_of[session.shard[1]] = conn, session, true, conn
  for _, ev in ipairs(session.events) do if ev.s > d.seq then self:_send(conn, ev) end end
  self:dispatch("RESUMED", json.null, session)
end

function Gateway:_heartbeat(conn, d)
  local now = runtime.now()
  local due = conn.last_beat + self.heartbeat_interval
  -- The first beat is jittered into the interval; later ones keep it, with 1 s of slack.
  if now > due + 1000 then self:fault("heartbeat " .. (now - due) .. " ms late") end
  conn.last_beat = now
  -- Events may be in flight: the beat may lag the last sequence sent, not pass it or go back.
  local seq = conn.session and conn.session.seq or 0
  if math.type(d) == "integer" then
    if d > seq or d < (conn.beat_seq or 0) then
      self:fault("heartbeat carried " .. d .. " after " .. tostring(conn.beat_seq) .. ", last sent " .. seq)
    end
    conn.beat_seq = d
  elseif d ~= json.null and d ~= nil then
    self:fault("heartbeat carried " .. tostring(d))
  end
  if self.ack then self:_send(conn, { op = 11 }) end
end

-- Op 8: members by ID (at most 100) or all of them, in chunks of up to 1000.
function Gateway:_requestMembers(conn, d)
  local guild = type(d) == "table" and self.store.guilds[d.guild_id]
  if not guild or not conn.session then return self:fault("op 8 for an unknown guild") end
  local ids = d.user_ids
  if ids ~= nil and #ids > 100 then return self:_refuse(conn, 4002, "op 8 with " .. #ids .. " user IDs") end
  -- Asking for every member is allowed once per guild every 30 s; more is answered with RATE_LIMITED.
  if ids == nil and (d.query or "") == "" and (d.limit or 0) == 0 then
    local last = self.all_members[guild.id]
    if last and runtime.now() - last < 30000 then
      return self:dispatch("RATE_LIMITED", { opcode = 8, retry_after = (30000 - (runtime.now() - last)) / 1000,
        meta = { guild_id = guild.id, nonce = d.nonce } }, conn.session)
    end
    self.all_members[guild.id] = runtime.now()
  end
  local found, missing = {}, {}
  for _, id in ipairs(ids or guild.member_order) do
    local m = guild.members[id]
    if m then found[#found + 1] = m else missing[#missing + 1] = id end
  end
  local count = math.max(1, math.ceil(#found / 1000))
  for index = 0, count - 1 do
    local members = json.array({})
    for i = index * 1000 + 1, math.min(#found, (index + 1) * 1000) do
      members[#members + 1] = self.store:memberJSON(found[i])
    end
    self:dispatch("GUILD_MEMBERS_CHUNK", { guild_id = guild.id, members = members, chunk_index = index,
      chunk_count = count, nonce = d.nonce, not_found = index == 0 and json.array(missing) or nil }, conn.session)
  end
end

-- Op 43: the requested ephemeral fields of the guild's voice and stage channels.
function Gateway:_channelInfo(conn, d)
  local guild = type(d) == "table" and self.store.guilds[d.guild_id]
  if not guild or not conn.session or not json.is_array(d.fields) then return self:fault("invalid op 43") end
  local channels = json.array({})
  for _, id in ipairs(guild.channels) do
    local c = self.store.channels[id]
    local info = { id = id }
    for _, field in ipairs(d.fields) do info[field] = c[field] or json.null end
    if c.type == 2 or c.type == 13 then channels[#channels + 1] = info end
  end
  self:dispatch("CHANNEL_INFO", { guild_id = guild.id, channels = channels }, conn.session)
end

local STATUSES = { online = true, idle = true, dnd = true, invisible = true }

function Gateway:_presence(conn, d)
  if type(d) ~= "table" or not STATUSES[d.status] or type(d.afk) ~= "boolean"
      or not (d.since == json.null or math.type(d.since) == "integer") or not json.is_array(d.activities) then
    return self:fault("invalid presence update " .. json.encode(d))
  end
  for _, a in ipairs(d.activities) do
    if type(a.name) ~= "string" or math.type(a.type) ~= "integer" or a.type < 0 or a.type > 5 then
      return self:fault("invalid activity " .. json.encode(a))
    end
  end
  self.presences[conn.session and conn.session.shard[1] or 0] = d
end

-- Op 4 goes to the fake voice server when a test started one.
function Gateway:_voiceState(_, d) if self.voice then self.voice:stateUpdate(d) end end

local HANDLERS = { [1] = Gateway._heartbeat, [2] = Gateway._identify, [3] = Gateway._presence,
  [4] = Gateway._voiceState, [6] = Gateway._resume, [8] = Gateway._requestMembers,
  [43] = Gateway._channelInfo }

function Gateway:_serve(sock, req)
  local conn = { sock = sock, url = req.url, sends = {} }
  self.connections[#self.connections + 1] = conn
  self.current = conn
  if req.query.v ~= "10" or req.query.encoding ~= "json" then
    return self:_refuse(conn, 4012, "connected with " .. req.url)
  end
  if req.query.compress == "zlib-stream" then conn.deflater = _discord.deflater() end
  conn.last_beat = runtime.now()
  self:_send(conn, { op = 10, d = { heartbeat_interval = self.heartbeat_interval } })
  while true do
    local data, kind, how, code = sock:receive()
    if not data then
      if how == "closed" then
        local by_client = sock.peer.close_sent ~= nil
        self.closes[#self.closes + 1] = { at = runtime.now(), code = code, by = by_client and "client" or "server",
          reason = kind }
        -- A normal close ends the session; others (4900 after a missing ACK) leave it resumable.
        if conn.session and by_client and (code == 1000 or code == 1001) then conn.session.dead = true end
        if conn.session and conn.session.conn == conn then conn.session.conn = nil end
      end
      return
    end
    local now = runtime.now()
    conn.sends[#conn.sends + 1] = now
    local first = conn.sends[#conn.sends - 120]
    if first and now - first < 60000 then return self:_refuse(conn, 4008, "more than 120 sends in 60 s") end
    local msg = kind == "text" and json.decode(data)
    local handler = type(msg) == "table" and HANDLERS[msg.op]
    if not handler then return self:_refuse(conn, 4002, "cannot read " .. data) end
    self.received[#self.received + 1] = { at = now, op = msg.op, d = msg.d, conn = conn }
    handler(self, conn, msg.d)
  end
end

function Gateway:receivedOps(op)
  local out = {}
  for _, r in ipairs(self.received) do if r.op == op then out[#out + 1] = r end end
  return out
end

function Gateway:mount(http)
  local serve = function(sock, req) return self:_serve(sock, req) end
  http.mount_ws(URL, serve)
  http.mount_ws(RESUME_URL, serve)
end

return Gateway
