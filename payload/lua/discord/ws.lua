-- Gateway: the WebSocket shard protocol (zlib-stream, heartbeats, resume, close codes,
-- send limit), the client's gateway manager over discord.sharding, and the dispatch handlers.
local runtime = require("runtime")
local http = require("http")
local json = require("json")
local discord_native = require("_discord")
local util = require("discord.util")
local errors = require("discord.errors")
local constants = require("discord.constants")
local enums = require("discord.enums")
local sharding = require("discord.sharding")

local M = {}

local Op = enums.GatewayOpcodes
M.Op = Op

-- Close codes after which the session is gone but a new IDENTIFY may succeed.
local REIDENTIFY = { [4007] = true, [4009] = true }

local RL = constants.RateLimits
local ZLIB_SUFFIX = constants.Gateway.zlibSuffix
-- Closing with a code other than 1000/1001 keeps the session resumable.
local RESUMABLE_CLOSE = enums.GatewayCloseCodes.Zombie

local Status = sharding.Status
M.Status = Status
M.IdentifyQueue = sharding.IdentifyQueue
local pause = sharding.pause

-- Shard ---------------------------------------------------------------------------------------------------

local WebSocketShard = util.class("WebSocketShard", sharding.Shard)
M.WebSocketShard = WebSocketShard

function WebSocketShard:init(manager, id)
  sharding.Shard.init(self, manager, id)
  self.resumeURL = nil
  self.closeSequence = 0
  self.lastPingTimestamp = -1
  self.lastHeartbeatAcked = true
  self.heartbeatInterval = nil
  self.expectedGuilds = {}
  self.backoff = 0
  self._generation = 0
  self._sendQueue = util.Mutex()
  self._sends = util.Queue() -- times of the sends in the last minute
end

-- A failure of this shard: `shardError(err, id)` and `error(err, id)`, or a log line when nobody listens.
function WebSocketShard:_error(err)
  local took = self.client:emit("shardError", err, self.id)
  if not self.client:emit("error", err, self.id) and not took then
    runtime.log("error", "gateway", "shard " .. self.id .. ": " .. tostring(err))
  end
end

function WebSocketShard:debug(msg)
  self.client:emit("debug", "[WS => Shard " .. self.id .. "] " .. msg)
end

function WebSocketShard:_gatewayURL(resume)
  local base = resume and self.resumeURL or self.manager.gateway
  local opts = self.client.options.ws
  base = base:gsub("%?.*$", "")
  if base:match("^%a+://[^/]+$") then base = base .. "/" end
  local url = base .. "?v=" .. opts.version .. "&encoding=json"
  if opts.compress then url = url .. "&compress=zlib-stream" end
  return url
end

--- Starts the shard's connection task.
function WebSocketShard:connect()
  if self._runner then return end
  self.destroyed = false
  self._stop = util.Future()
  self._runner = runtime.spawn(function()
    local ok, err = util.try(self._run, self)
    self._runner = nil
    if not ok then
      self:_setStatus(Status.DISCONNECTED)
      self:_error(err)
    end
  end)
end

-- Connection loop: one iteration per WebSocket connection.
function WebSocketShard:_run()
  while not self.destroyed do
    local resume = self.sessionId ~= nil and self.resumeURL ~= nil
    local url = self:_gatewayURL(resume)
    self:_setStatus(Status.CONNECTING)
    self:debug("Connecting to " .. url)
    local transport = self.client.rest.transport
    local conn, msg
    if transport then conn, msg = transport:websocket(url) else conn, msg = http.websocket(url) end
    local code, reason
    if conn then
      code, reason = self:_session(conn)
    else
      code, reason = 1006, msg
      self:debug("Connection failed: " .. tostring(msg))
    end
    if self.destroyed then break end
    local intent = self._closeIntent or {}
    self._closeIntent = nil
    if not intent.reconnect and errors.isFatalClose(code) then
      self:_setStatus(Status.DISCONNECTED)
      self.client:emit("shardDisconnect", { code = code, reason = reason }, self.id)
      error(errors.GatewayError(code, reason), 0)
    end
    if not intent.reconnect and REIDENTIFY[code] then
      self:debug("Session invalidated by close code " .. code)
      self:_forgetSession()
    end
    local delay = intent.delay
    if delay == nil then
      -- An unplanned close: back off 1, 2, 4 ... 60 s until a session starts.
      self.backoff = self.backoff == 0 and 1000 or math.min(self.backoff * 2, self.client.options.ws.maxBackoff)
      delay = self.backoff
      self:debug(string.format("Closed with %s (%s); reconnecting in %d ms", tostring(code), tostring(reason),
        delay))
    end
    self:_setStatus(Status.RECONNECTING)
    self.client:emit("shardReconnecting", self.id)
    -- destroy() cuts the wait short, so a closed client leaves nothing behind for the loop.
    pause(self._stop, delay)
  end
  self:_setStatus(Status.DISCONNECTED)
end

function WebSocketShard:_forgetSession()
  self.sessionId = nil
  self.resumeURL = nil
  self.sequence = nil
  self.closeSequence = 0
end

-- Receives until the connection closes; returns the close code and reason.
function WebSocketShard:_session(conn)
  self._generation = self._generation + 1
  self.conn = conn
  self.inflater = self.client.options.ws.compress and discord_native.inflater() or nil
  self._buffer = {}
  self._tail = ""
  self._sends = util.Queue()
  self.lastHeartbeatAcked = true
  local code, reason
  while true do
    local data, op, kind, closeCode = conn:receive()
    if data == nil then
      if kind ~= "timeout" then
        code, reason = closeCode or 1006, op
        break
      end
    else
      local ok, err = util.try(self._onFrame, self, data, op)
      if not ok then self:_error(err) end
    end
  end
  self:_stopHeartbeat()
  self.conn = nil
  self.inflater = nil
  self:_clearReadyTimer()
  if self._closeIntent and self._closeIntent.code then code = self._closeIntent.code end
  self.closeSequence = self.sequence or 0
  return code, reason
end

-- zlib-stream: a message may arrive in several frames; only the frame that ends
-- with the sync-flush marker completes it.
function WebSocketShard:_onFrame(data, opcode)
  local text
  if opcode == "binary" and self.inflater then
    local buf = self._buffer
    buf[#buf + 1] = data
    -- The marker itself may be split between frames.
    self._tail = (self._tail .. data):sub(-4)
    if self._tail ~= ZLIB_SUFFIX then return end
    self._buffer, self._tail = {}, ""
    local ok, res = pcall(self.inflater.push, self.inflater, table.concat(buf))
    if not ok then
      -- The stream's state is lost with a bad message; a new connection starts a fresh one.
      self:debug("Inflate failed: " .. tostring(res))
      self:_reconnect({ reconnect = true, delay = 0 })
      return
    end
    text = res
  else
    text = data
  end
  local packet, err = json.decode(text)
  if type(packet) ~= "table" then
    self:debug("Undecodable payload: " .. tostring(err))
    return
  end
  self:_onPacket(packet)
end

function WebSocketShard:_onPacket(packet)
  local op = packet.op
  if math.type(packet.s) == "integer" then self.sequence = packet.s end
  if op == Op.Dispatch then
    self:_onDispatch(packet)
  elseif op == Op.Hello then
    self:_startHeartbeat(packet.d.heartbeat_interval)
    local gen = self._generation
    runtime.spawn(function()
      local ok, err = util.try(self._identifyOrResume, self, gen)
      if not ok then self:_error(err) end
    end)
  elseif op == Op.HeartbeatAck then
    self.lastHeartbeatAcked = true
    self.ping = runtime.now() - self.lastPingTimestamp
  elseif op == Op.Heartbeat then
    self:debug("Heartbeat requested")
    self:_heartbeat(true)
  elseif op == Op.Reconnect then
    self:debug("Reconnect requested")
    self:_reconnect({ reconnect = true, delay = 0 })
  elseif op == Op.InvalidSession then
    if packet.d == true then
      self:debug("Invalid session; resumable")
      self:_reconnect({ reconnect = true, delay = 0 })
    else
      self:debug("Invalid session; identifying anew")
      self:_forgetSession()
      self:_reconnect({ reconnect = true, delay = math.random(1000, 5000) })
    end
  end
end

-- Closes with a resumable code; the connection loop then connects again.
function WebSocketShard:_reconnect(intent)
  if self._closeIntent then return end
  intent.code = intent.code or RESUMABLE_CLOSE
  self._closeIntent = intent
  local conn = self.conn
  if conn then
    runtime.spawn(function() conn:close(intent.code) end)
  end
end

function WebSocketShard:_identifyOrResume(gen)
  if self.sessionId and self.sequence then
    self:_setStatus(Status.RESUMING)
    self:debug(string.format("Resuming session %s at sequence %d", self.sessionId, self.sequence))
    self:send({ op = Op.Resume, d = {
      token = self.client.token, session_id = self.sessionId, seq = self.sequence,
    } })
    return
  end
  self:_setStatus(Status.IDENTIFYING)
  if not self.manager.identifyQueue:wait(self.id, self._stop) then return end
  if gen ~= self._generation or self.destroyed then return end
  local opts = self.client.options
  local d = {
    token = self.client.token,
    intents = self.client.intents,
    properties = opts.ws.properties or constants.Gateway.identifyProperties,
    large_threshold = opts.ws.large_threshold,
    shard = json.array({ self.id, self.manager.totalShards }),
  }
  if opts.presence then
    -- IDENTIFY wants every presence field; activities may be given as bare names.
    local p = opts.presence
    d.presence = {
      since = p.since or json.null, status = p.status or "online", afk = p.afk == true,
      activities = json.array(util.map(p.activities or {}, require("discord.structures.presence").activityData)),
    }
  end
  self:debug("Identifying")
  self:send({ op = Op.Identify, d = d })
end

-- Heartbeats -----------------------------------------------------------------------------------------------

function WebSocketShard:_startHeartbeat(interval)
  self:_stopHeartbeat()
  self.heartbeatInterval = interval
  self.lastHeartbeatAcked = true
  -- Jitter the first beat so that many clients reconnecting together spread out.
  local first = math.floor(interval * math.random())
  self:debug(string.format("Heartbeat every %d ms, first in %d ms", interval, first))
  -- Timer callbacks start on a later turn; the generation keeps a late one off a newer connection.
  local gen = self._generation
  local function beat()
    if gen == self._generation and self._heartbeatTimer then self:_heartbeat(false) end
  end
  self._heartbeatTimer = runtime.timer(first, function()
    if gen ~= self._generation or not self._heartbeatTimer then return end
    self._heartbeatTimer = runtime.timer(interval, beat, true)
    self:_heartbeat(false)
  end)
end

local function cancelTimer(self, field)
  if self[field] then
    self[field]:cancel()
    self[field] = nil
  end
end

function WebSocketShard:_stopHeartbeat() cancelTimer(self, "_heartbeatTimer") end

function WebSocketShard:_heartbeat(requested)
  if not self.conn then return end
  if not requested and not self.lastHeartbeatAcked then
    -- No ACK since the last beat: the connection is a zombie.
    self:debug("No heartbeat ACK; closing as a zombie and resuming")
    self:_stopHeartbeat()
    self:_reconnect({ reconnect = true, delay = 0 })
    return
  end
  self.lastHeartbeatAcked = false
  self.lastPingTimestamp = runtime.now()
  self:_countSend(self.lastPingTimestamp)
  self:_transmit(self.conn, { op = Op.Heartbeat, d = self.sequence or json.null })
end

-- Sending --------------------------------------------------------------------------------------------------

-- The limit is a sliding minute: sends older than that no longer count.
function WebSocketShard:_recentSends(now)
  local sends = self._sends
  while sends:size() > 0 and now - sends:peek() >= RL.gatewaySendWindow do sends:tryPop() end
  return sends:size()
end

function WebSocketShard:_countSend(now)
  self:_recentSends(now)
  self._sends:push(now)
end

function WebSocketShard:_transmit(conn, payload)
  local sent, msg = conn:send(json.encode(payload), "text")
  if not sent then
    self:debug("Send failed: " .. tostring(msg))
    return false, msg
  end
  return true
end

--- (B) Sends a payload in order behind earlier ones, waiting while the 60 s window
-- is spent down to the slots kept for heartbeats (which skip this queue).
function WebSocketShard:send(payload)
  local conn = self.conn
  if not conn then return false, "not connected" end
  self._sendQueue:lock()
  local ok, err = pcall(function()
    while self.conn == conn do
      local now = runtime.now()
      if self:_recentSends(now) < RL.gatewaySends - RL.gatewayHeartbeatReserve then
        self._sends:push(now)
        return
      end
      local wait = self._sends:peek() + RL.gatewaySendWindow - now
      self:debug("Send limit reached; waiting " .. wait .. " ms")
      runtime.sleep(wait)
    end
  end)
  self._sendQueue:unlock()
  if not ok then error(err, 0) end
  if self.conn ~= conn then return false, "not connected" end
  return self:_transmit(conn, payload)
end

-- Dispatch -------------------------------------------------------------------------------------------------

function WebSocketShard:_onDispatch(packet)
  local t, d = packet.t, packet.d
  if t == "READY" then
    self.sessionId = d.session_id
    self.resumeURL = d.resume_gateway_url
    self.manager._readyUser, self.manager._readyApplication = d.user, d.application
    self.backoff = 0
    self:_setStatus(Status.WAITING_GUILDS)
    self.expectedGuilds = {}
    for _, g in ipairs(d.guilds or {}) do self.expectedGuilds[g.id] = true end
    self:debug("READY; session " .. tostring(d.session_id))
  elseif t == "RESUMED" then
    self.backoff = 0
    local replayed = (self.sequence or 0) - self.closeSequence
    self:debug("RESUMED; replayed " .. replayed .. " events")
    self.client:emit("shardResume", self.id, replayed)
    -- A drop while guilds were still arriving resumes the wait for them.
    self:_setStatus(next(self.expectedGuilds) and Status.WAITING_GUILDS or Status.READY)
  end
  self.client:emit("raw", packet, self.id)
  local handler = M.handlers[t]
  if handler then handler(self.client, packet, self) end
  if t == "READY" or t == "RESUMED" then self:_checkReady() end
end

-- Ready tracking: READY lists the guilds; the shard is ready once each one has
-- arrived, or after waitGuildTimeout with the rest marked unavailable.
function WebSocketShard:_checkReady()
  if self.status == Status.READY then
    self.manager:_checkReady()
    return
  end
  if self.status ~= Status.WAITING_GUILDS then return end
  if next(self.expectedGuilds) == nil then
    self:_markReady(nil)
    return
  end
  self:_clearReadyTimer()
  local timeout = self.client.options.waitGuildTimeout
  self._readyTimer = runtime.timer(timeout, function()
    self._readyTimer = nil
    if self.status ~= Status.WAITING_GUILDS then return end
    self:debug("Guilds still unavailable after " .. timeout .. " ms")
    local missing = {}
    for id in pairs(self.expectedGuilds) do missing[#missing + 1] = id end
    table.sort(missing)
    self:_markReady(missing)
  end)
end

function WebSocketShard:_guildArrived(id)
  if self.status ~= Status.WAITING_GUILDS or not self.expectedGuilds[id] then return false end
  self.expectedGuilds[id] = nil
  if next(self.expectedGuilds) == nil then
    self:_clearReadyTimer()
    self:_markReady(nil)
  end
  return true
end

function WebSocketShard:_clearReadyTimer() cancelTimer(self, "_readyTimer") end

function WebSocketShard:_markReady(unavailable)
  self:_setStatus(Status.READY)
  self.expectedGuilds = {}
  self.client:emit("shardReady", self.id, unavailable)
  self.manager:_checkReady()
end

--- Closes the connection for good.
function WebSocketShard:destroy(code)
  self.destroyed = true
  if self._stop then self._stop:resolve() end
  self:_stopHeartbeat()
  self:_clearReadyTimer()
  local conn = self.conn
  if code == 1000 or code == 1001 then self:_forgetSession() end
  if conn then
    self._closeIntent = { code = code or 1000 }
    runtime.spawn(function() conn:close(code or 1000) end)
  end
  if self.status ~= Status.DISCONNECTED then
    self.client:emit("shardDisconnect", { code = code or 1000, reason = "destroyed" }, self.id)
  end
  self:_setStatus(Status.DISCONNECTED)
end

-- Manager ---------------------------------------------------------------------------------------------------

--- The client's gateway: its shards (see discord.sharding), the gateway URL and member requests.
local WebSocketManager = util.class("WebSocketManager", sharding.ShardingManager)
M.WebSocketManager = WebSocketManager

function WebSocketManager:init(client)
  sharding.ShardingManager.init(self, client)
  self.gateway = nil
  self._chunkWaiters = {}
  self._nonce = 0
end

--- Connects with the /gateway/bot answer: URL, recommended shards, session limit. Every shard
--- connects at once; their IDENTIFYs go through the identify queue.
function WebSocketManager:connect(info)
  self.gateway = self.client.options.ws.gateway or info.url
  local shards = self:_spawn(info, WebSocketShard)
  local path = self.client.options.sessionFile
  local saved = path and self:_readSession(path, self.totalShards)
  if saved then self:_restoreSession(saved) end
  for _, shard in ipairs(shards) do shard:connect() end
end

-- Sessions across restarts ---------------------------------------------------------------------------------

-- Discord keeps a session resumable for a while after its connection is gone; a restart within this
-- time resumes instead of identifying.
local SESSION_MAX_AGE = 60000

--- Writes the shards' sessions to `path` (JSON): IDs, sequence numbers, resume URLs, and the bot user.
function WebSocketManager:saveSession(path)
  local shards = {}
  for id, shard in self.shards:iter() do
    if shard.sessionId and shard.sequence and shard.resumeURL then
      shards[tostring(id)] = { sessionId = shard.sessionId, sequence = shard.sequence, resumeURL = shard.resumeURL }
    end
  end
  if next(shards) == nil then return false end
  local data = { savedAt = runtime.time(), totalShards = self.totalShards, gateway = self.gateway, shards = shards,
    user = self._readyUser, application = self._readyApplication }
  local ok, msg = runtime.write_file(path, json.encode(data))
  if not ok then self.client:emit("warn", "Could not save the session to " .. path .. ": " .. tostring(msg)) end
  return ok == true
end

-- The saved sessions when they are recent and for the same shard count; nil otherwise.
function WebSocketManager:_readSession(path, totalShards)
  if not runtime.stat(path) then return nil end
  local text = runtime.read_file(path)
  local data = text and json.decode(text)
  if type(data) ~= "table" or type(data.shards) ~= "table" or math.type(data.savedAt) ~= "integer" then
    self.client:emit("debug", "Ignoring the session file " .. path .. ": not a saved session")
    return nil
  end
  local age = runtime.time() - data.savedAt
  if age < 0 or age >= SESSION_MAX_AGE then
    self.client:emit("debug", string.format("Session file is %d ms old; identifying anew", age))
    return nil
  end
  if data.totalShards ~= totalShards then return nil end
  return data
end

-- Gives the shards their saved sessions, so that their first connection resumes.
function WebSocketManager:_restoreSession(saved)
  if saved.user and not self.client.user then
    M.handlers.READY(self.client, { d = { user = saved.user, application = saved.application } }, { id = 0 })
    self._readyUser, self._readyApplication = saved.user, saved.application
  end
  for id, shard in self.shards:iter() do
    local s = saved.shards[tostring(id)]
    if s then
      shard.sessionId, shard.sequence, shard.resumeURL = s.sessionId, s.sequence, s.resumeURL
      shard.closeSequence = s.sequence
      shard:debug(string.format("Resuming saved session %s at sequence %d", s.sessionId, s.sequence))
    end
  end
end

function WebSocketManager:destroy(code)
  for _, shard in self.shards:iter() do shard:destroy(code) end
  self.shards:clear()
  for nonce, waiter in pairs(self._chunkWaiters) do
    self._chunkWaiters[nonce] = nil
    waiter.future:reject(errors.LibraryError("GuildMembersTimeout"))
  end
end

-- Discord takes at most this many user IDs in one op 8.
local MEMBER_IDS_PER_REQUEST = 100

-- Sends one op 8 and registers its nonce; returns the waiter or nil when the send failed.
function WebSocketManager:_requestChunk(shard, d)
  self._nonce = self._nonce + 1
  local nonce = string.format("%d.%d", runtime.now(), self._nonce)
  local waiter = { future = util.Future(), members = {}, notFound = {} }
  self._chunkWaiters[nonce] = waiter
  d.nonce = nonce
  if not shard:send({ op = Op.RequestGuildMembers, d = d }) then
    self._chunkWaiters[nonce] = nil
    return nil
  end
  waiter.nonce = nonce
  return waiter
end

--- (B) Sends op 8 for a guild and collects the member chunks by nonce. Returns the
-- list of member objects and the IDs not found; raises on timeout. `opts`: query,
-- limit, userIds (more than 100 go out as several requests), presences, timeout
-- (ms, default 120000, for all requests together).
function WebSocketManager:requestGuildMembers(guildId, opts)
  opts = opts or {}
  local shard = self:shardFor(guildId)
  if not shard then error(errors.LibraryError("InvalidShard"), 2) end
  local requests = {}
  if opts.userIds then
    local ids = opts.userIds
    for first = 1, math.max(#ids, 1), MEMBER_IDS_PER_REQUEST do
      requests[#requests + 1] = table.move(ids, first, math.min(first + MEMBER_IDS_PER_REQUEST - 1, #ids), 1, {})
    end
  else
    requests[1] = false
  end
  local waiters = {}
  for _, ids in ipairs(requests) do
    local d = { guild_id = guildId, presences = opts.presences or false, limit = opts.limit or 0 }
    if ids then d.user_ids = json.array(ids) else d.query = opts.query or "" end
    local waiter = self:_requestChunk(shard, d)
    if not waiter then
      for _, w in ipairs(waiters) do self._chunkWaiters[w.nonce] = nil end
      error(errors.LibraryError("GuildMembersTimeout"), 2)
    end
    waiters[#waiters + 1] = waiter
  end
  local deadline = runtime.now() + (opts.timeout or 120000)
  local members, notFound, failure = {}, {}, nil
  for _, waiter in ipairs(waiters) do
    local ok, res = true, nil
    if not failure then ok, res = waiter.future:wait(math.max(0, deadline - runtime.now())) end
    self._chunkWaiters[waiter.nonce] = nil
    if not ok then failure = res end
    for _, m in ipairs(waiter.members) do members[#members + 1] = m end
    for _, id in ipairs(waiter.notFound) do notFound[#notFound + 1] = id end
  end
  if failure then
    if failure == "timeout" then error(errors.LibraryError("GuildMembersTimeout"), 2) end
    error(failure, 0)
  end
  return members, notFound
end

-- Dispatch handlers -----------------------------------------------------------------------------------------

local function get(collection, id)
  if collection == nil or id == nil then return nil end
  return collection:get(id)
end

local function clone(obj)
  if obj == nil then return nil end
  if obj._clone then return obj:_clone() end
  return util.shallowCopy(obj)
end

local function guildOf(client, d)
  return get(client.guilds.cache, d.guild_id)
end

-- Member payloads carry the user beside them on messages.
local function withUser(member, user)
  local m = {}
  for k, v in pairs(member) do m[k] = v end
  m.user = m.user or user
  return m
end

local function partials()
  return require("discord.client.partials")
end

-- Member and presence events carry the user; a change to its name or avatar is a userUpdate.
local function patchUser(client, data)
  if type(data) ~= "table" or data.id == nil then return nil end
  local user = client.users.cache:get(data.id)
  if not user or data.username == nil then return client.users:_add(data) end
  local old = clone(user)
  user:_patch(data)
  if not old:equals(user) then client:emit("userUpdate", old, user) end
  return user
end

-- The shapes most handlers share. A new entry (event only when the cache did not hold it):
local function created(client, event, manager, data, guild, ...)
  local existing = get(manager.cache, data.id)
  local new = manager:_add(data, guild)
  if not existing and new then client:emit(event, new, ...) end
end

-- A patched entry, emitted with a clone of what it was:
local function updated(client, event, manager, id, data, guild)
  local old = clone(get(manager.cache, id))
  local new = manager:_add(data, guild)
  if old and new then client:emit(event, old, new) end
end

-- A removed entry:
local function gone(client, event, manager, id)
  local obj = get(manager.cache, id)
  if not obj then return end
  manager:_remove(id)
  client:emit(event, obj)
end

--- Handlers by dispatch name: each patches the cache, then emits.
local handlers = {}
M.handlers = handlers

handlers.READY = function(client, packet, shard)
  local d = packet.d
  local ClientUser = require("discord.structures.clientuser")
  ClientUser = ClientUser.ClientUser or ClientUser
  if client.user then
    client.user:_patch(d.user)
  else
    client.user = ClientUser(client, d.user)
  end
  client.users.cache:set(client.user.id, client.user)
  if d.application then
    if client.application and client.application._patch then
      client.application:_patch(d.application)
    else
      client.application = client.application or {}
      client.application.id = d.application.id
      client.application.flags = d.application.flags
    end
  end
  for _, g in ipairs(d.guilds or {}) do
    client.guilds:_add(g).shardId = shard.id
  end
end

handlers.RESUMED = function() end

-- An interaction needs no cache update; autoDefer starts counting from its arrival.
handlers.INTERACTION_CREATE = function(client, packet, shard)
  local mod = require("discord.interaction")
  local interaction = mod.createInteraction(client, packet.d)
  if not interaction then return end
  interaction.shardId = shard and shard.id
  client:emit("interactionCreate", interaction)
  mod.scheduleAutoDefer(client, interaction)
end

handlers.GUILD_CREATE = function(client, packet, shard)
  local d = packet.d
  local existing = get(client.guilds.cache, d.id)
  local wasUnavailable = existing ~= nil and existing.available == false
  local guild = client.guilds:_add(d)
  guild.shardId = shard.id
  if shard:_guildArrived(d.id) or shard.status == Status.WAITING_GUILDS then return end
  if wasUnavailable then
    client:emit("guildAvailable", guild)
  else
    client:emit("guildCreate", guild)
  end
end

handlers.GUILD_UPDATE = function(client, packet)
  local guild = guildOf(client, { guild_id = packet.d.id })
  if not guild then return end
  local old = clone(guild)
  guild:_patch(packet.d)
  client:emit("guildUpdate", old, guild)
end

handlers.GUILD_DELETE = function(client, packet)
  local d = packet.d
  local guild = get(client.guilds.cache, d.id)
  if not guild then return end
  if d.unavailable then
    guild.available = false
    client:emit("guildUnavailable", guild)
    return
  end
  if guild.channels and guild.channels.cache then
    for _, id in ipairs(guild.channels.cache:keys()) do client.channels:_remove(id) end
  end
  client.guilds:_remove(d.id)
  client:emit("guildDelete", guild)
end

handlers.CHANNEL_CREATE = function(client, packet)
  created(client, "channelCreate", client.channels, packet.d, guildOf(client, packet.d))
end

handlers.CHANNEL_UPDATE = function(client, packet)
  updated(client, "channelUpdate", client.channels, packet.d.id, packet.d, guildOf(client, packet.d))
end

handlers.CHANNEL_DELETE = function(client, packet)
  local d = packet.d
  local channel = get(client.channels.cache, d.id)
  if not channel then return end
  client.channels:_remove(d.id)
  -- Its threads go with it, without events of their own.
  for _, id in ipairs(client.channels.cache:keys()) do
    local c = client.channels.cache:get(id)
    if c.parentId == d.id and c:isThread() then client.channels:_remove(id) end
  end
  client:emit("channelDelete", channel)
end

handlers.CHANNEL_PINS_UPDATE = function(client, packet)
  local d = packet.d
  local channel = get(client.channels.cache, d.channel_id)
  if not channel then return end
  local ts = util.nullable(d.last_pin_timestamp)
  channel.lastPinTimestamp = ts and util.parseTimestamp(ts) or nil
  client:emit("channelPinsUpdate", channel, channel.lastPinTimestamp)
end

-- A DM's first message may come before its channel is known.
local function channelForMessage(client, d)
  local channel = get(client.channels.cache, d.channel_id)
  if channel or d.guild_id then return channel end
  return client.channels:_add({ id = d.channel_id, type = 1, recipients = json.array({ d.author }) })
end

handlers.MESSAGE_CREATE = function(client, packet)
  local d = packet.d
  local channel = channelForMessage(client, d)
  if not channel or not channel.messages then return end
  if d.author then client.users:_add(d.author) end
  local guild = guildOf(client, d)
  if guild and d.member and d.author then guild.members:_add(withUser(d.member, d.author)) end
  local message = channel.messages:_add(d)
  channel.lastMessageId = d.id
  client:emit("messageCreate", message)
end

-- The cached message an event is about, or (with Message partials) a partial one.
local function eventMessage(client, d, id)
  local P = partials()
  local channel = P.channel(client, d.channel_id, d.guild_id)
  return P.message(client, channel, id or d.id), channel
end

handlers.MESSAGE_UPDATE = function(client, packet)
  local d = packet.d
  local message = eventMessage(client, d)
  if not message then return end
  local old = clone(message)
  message:_patch(d)
  client:emit("messageUpdate", old, message)
end

handlers.MESSAGE_DELETE = function(client, packet)
  local d = packet.d
  local message, channel = eventMessage(client, d)
  if not message then return end
  channel.messages:_remove(d.id)
  message.deleted = true
  client:emit("messageDelete", message)
end

handlers.MESSAGE_DELETE_BULK = function(client, packet)
  local d = packet.d
  local channel = get(client.channels.cache, d.channel_id)
  if not channel or not channel.messages then return end
  local Collection = require("discord.collection").Collection
  local deleted = Collection()
  for _, id in ipairs(d.ids or {}) do
    local message = eventMessage(client, d, id)
    if message then
      channel.messages:_remove(id)
      message.deleted = true
      deleted:set(id, message)
    end
  end
  client:emit("messageDeleteBulk", deleted, channel)
end

handlers.GUILD_MEMBER_ADD = function(client, packet)
  local d = packet.d
  local guild = guildOf(client, d)
  if not guild then return end
  local member = guild.members:_add(d)
  if guild.memberCount then guild.memberCount = guild.memberCount + 1 end
  client:emit("guildMemberAdd", member)
end

handlers.GUILD_MEMBER_UPDATE = function(client, packet)
  local d = packet.d
  local guild = guildOf(client, d)
  if not guild or not d.user then return end
  patchUser(client, d.user)
  local old = clone(get(guild.members.cache, d.user.id))
  if not old and partials().enabled(client, "GuildMember") then
    old = guild.members:_add({ user = d.user }, false)
  end
  local member = guild.members:_add(d)
  if old then client:emit("guildMemberUpdate", old, member) end
end

handlers.GUILD_MEMBER_REMOVE = function(client, packet)
  local d = packet.d
  local guild = guildOf(client, d)
  if not guild or not d.user then return end
  local member = get(guild.members.cache, d.user.id)
  guild.members:_remove(d.user.id)
  if guild.memberCount then guild.memberCount = guild.memberCount - 1 end
  if member then client:emit("guildMemberRemove", member) end
end

handlers.GUILD_MEMBERS_CHUNK = function(client, packet)
  local d = packet.d
  local guild = guildOf(client, d)
  if not guild then return end
  local Collection = require("discord.collection").Collection
  local members = Collection()
  local waiter = d.nonce and client.ws._chunkWaiters[d.nonce]
  for _, m in ipairs(d.members or {}) do
    local member = guild.members:_add(m)
    members:set(member.id, member)
    if waiter then waiter.members[#waiter.members + 1] = member end
  end
  if waiter then
    for _, id in ipairs(d.not_found or {}) do waiter.notFound[#waiter.notFound + 1] = id end
    if d.chunk_index + 1 >= d.chunk_count then waiter.future:resolve(waiter.members) end
  end
  client:emit("guildMembersChunk", members, guild, {
    index = d.chunk_index, count = d.chunk_count, nonce = d.nonce, notFound = d.not_found,
  })
end

handlers.GUILD_ROLE_CREATE = function(client, packet)
  local guild = guildOf(client, packet.d)
  if guild then client:emit("roleCreate", guild.roles:_add(packet.d.role)) end
end

handlers.GUILD_ROLE_UPDATE = function(client, packet)
  local d, guild = packet.d, guildOf(client, packet.d)
  if guild then updated(client, "roleUpdate", guild.roles, d.role.id, d.role) end
end

handlers.GUILD_ROLE_DELETE = function(client, packet)
  local guild = guildOf(client, packet.d)
  if guild then gone(client, "roleDelete", guild.roles, packet.d.role_id) end
end

handlers.APPLICATION_COMMAND_PERMISSIONS_UPDATE = function(client, packet)
  local d = packet.d
  client:emit("applicationCommandPermissionsUpdate", {
    id = d.id, applicationId = d.application_id, guildId = d.guild_id,
    permissions = util.map(d.permissions or {}, function(p)
      return { id = p.id, type = p.type, permission = p.permission }
    end),
  })
end

handlers.USER_UPDATE = function(client, packet)
  if not client.user then return end
  local old = clone(client.user)
  client.user:_patch(packet.d)
  client:emit("userUpdate", old, client.user)
end

-- Reactions -------------------------------------------------------------------------------------------------

-- The message a reaction event is about: cached, or a partial one when Message partials are on.
local function reactionMessage(client, d)
  local P = partials()
  local channel = P.channel(client, d.channel_id, d.guild_id)
  return P.message(client, channel, d.message_id)
end

local function reactionDetails(d)
  local burst = d.burst == true
  return { type = d.type or (burst and 1 or 0), burst = burst, burstColors = d.burst_colors,
    messageAuthorId = d.message_author_id }
end

-- A partial reaction (its message is partial) reaches listeners only with Reaction partials on.
local function reactionShown(client, reaction)
  return reaction ~= nil and (not reaction.partial or partials().enabled(client, "Reaction"))
end

handlers.MESSAGE_REACTION_ADD = function(client, packet)
  local d = packet.d
  local P = partials()
  local message = reactionMessage(client, d)
  if not message then return end
  local guild = guildOf(client, d)
  local user
  if guild and type(d.member) == "table" then user = P.member(client, guild, d.user_id, d.member).user end
  user = user or P.user(client, d.user_id)
  if not user then return end
  local reaction = message.reactions:_addUser(d.emoji, d.user_id, d.burst == true,
    d.burst_colors and { burst_colors = d.burst_colors } or nil)
  if reactionShown(client, reaction) then client:emit("messageReactionAdd", reaction, user, reactionDetails(d)) end
end

handlers.MESSAGE_REACTION_REMOVE = function(client, packet)
  local d = packet.d
  local message = reactionMessage(client, d)
  if not message then return end
  local user = partials().user(client, d.user_id)
  if not user then return end
  local reaction = message.reactions:_removeUser(d.emoji, d.user_id, d.burst == true)
  if reactionShown(client, reaction) then client:emit("messageReactionRemove", reaction, user, reactionDetails(d)) end
end

handlers.MESSAGE_REACTION_REMOVE_ALL = function(client, packet)
  local message = reactionMessage(client, packet.d)
  if not message then return end
  local removed = message.reactions.cache:clone()
  message.reactions.cache:clear()
  client:emit("messageReactionRemoveAll", message, removed)
end

handlers.MESSAGE_REACTION_REMOVE_EMOJI = function(client, packet)
  local d = packet.d
  local message = reactionMessage(client, d)
  if not message then return end
  local reactions = message.reactions
  local key = reactions:_keyOf(d)
  local reaction = key and reactions.cache:get(key)
  if not reaction and message.partial then reaction = reactions:_forEmoji(d.emoji) end
  if not reaction then return end
  reactions.cache:delete(key)
  if reactionShown(client, reaction) then client:emit("messageReactionRemoveEmoji", reaction) end
end

-- Threads ---------------------------------------------------------------------------------------------------

-- Being added to a thread the cache holds sends THREAD_CREATE again.
handlers.THREAD_CREATE = function(client, packet)
  local d = packet.d
  created(client, "threadCreate", client.channels, d, guildOf(client, d), d.newly_created == true)
end

handlers.THREAD_UPDATE = function(client, packet)
  updated(client, "threadUpdate", client.channels, packet.d.id, packet.d, guildOf(client, packet.d))
end

handlers.THREAD_DELETE = function(client, packet)
  gone(client, "threadDelete", client.channels, packet.d.id)
end

-- Sent when the bot gains access to channels: their active threads, complete.
handlers.THREAD_LIST_SYNC = function(client, packet)
  local d = packet.d
  local guild = guildOf(client, d)
  if not guild then return end
  local synced = d.channel_ids and util.set(d.channel_ids) or nil
  local listed = {}
  for _, t in ipairs(d.threads or {}) do listed[t.id] = true end
  for _, id in ipairs(client.channels.cache:keys()) do
    local c = client.channels.cache:get(id)
    if c:isThread() and c.guildId == guild.id and not listed[id] and (synced == nil or synced[c.parentId]) then
      client.channels:_remove(id)
    end
  end
  local Collection = require("discord.collection").Collection
  local threads = Collection()
  for _, t in ipairs(d.threads or {}) do
    local thread = client.channels:_add(t, guild)
    threads:set(thread.id, thread)
  end
  for _, m in ipairs(d.members or {}) do
    local thread = threads:get(m.id)
    if thread then thread.members:_add(m) end
  end
  client:emit("threadListSync", threads, guild)
end

-- The bot's own membership of a thread changed.
handlers.THREAD_MEMBER_UPDATE = function(client, packet)
  local d = packet.d
  local thread = get(client.channels.cache, d.id)
  if thread and thread.members then updated(client, "threadMemberUpdate", thread.members, d.user_id, d) end
end

handlers.THREAD_MEMBERS_UPDATE = function(client, packet)
  local d = packet.d
  local thread = get(client.channels.cache, d.id)
  if not thread or not thread.members then return end
  local Collection = require("discord.collection").Collection
  local old = clone(thread)
  if d.member_count ~= nil then thread.memberCount = d.member_count end
  local added, removed = Collection(), Collection()
  for _, m in ipairs(d.added_members or {}) do
    local raw = util.shallowCopy(m)
    raw.id = raw.id or thread.id
    local member = thread.members:_add(raw)
    added:set(member.id, member)
  end
  for _, id in ipairs(d.removed_member_ids or {}) do
    local member = thread.members:_remove(id)
    if not member and partials().enabled(client, "ThreadMember") then
      member = thread.members:_add({ id = thread.id, user_id = id }, false)
    end
    if member then removed:set(id, member) end
  end
  client:emit("threadMembersUpdate", added, removed, thread, old)
end

-- Polls -----------------------------------------------------------------------------------------------------

-- The answer a vote is for: from the cached poll, or partial when Poll and PollAnswer partials allow.
local function pollAnswer(client, d)
  local P = partials()
  local message = reactionMessage(client, d)
  if not message then return nil end
  local poll = message.poll
  local structures = require("discord.structures.poll")
  if not poll then
    if not P.enabled(client, "Poll") then return nil end
    poll = structures.Poll(client, {}, message)
    message.poll = poll
  end
  local answer = poll.answers:get(d.answer_id)
  if not answer then
    if not P.enabled(client, "PollAnswer") then return nil end
    answer = structures.PollAnswer(client, { answer_id = d.answer_id }, poll)
    poll.answers:set(d.answer_id, answer)
  end
  return answer
end

-- A vote counts on a complete answer; the voter is kept while cached.
local function vote(event, delta)
  return function(client, packet)
    local d = packet.d
    local answer = pollAnswer(client, d)
    if not answer then return end
    if not answer.partial then answer.voteCount = math.max(0, answer.voteCount + delta) end
    local user = delta > 0 and client.users.cache:get(d.user_id)
    if user then
      answer.voters.cache:set(user.id, user)
    elseif delta < 0 then
      answer.voters.cache:delete(d.user_id)
    end
    client:emit(event, answer, d.user_id)
  end
end
handlers.MESSAGE_POLL_VOTE_ADD = vote("messagePollVoteAdd", 1)
handlers.MESSAGE_POLL_VOTE_REMOVE = vote("messagePollVoteRemove", -1)

-- Presences and typing -------------------------------------------------------------------------------------

handlers.PRESENCE_UPDATE = function(client, packet)
  local d = packet.d
  local guild = guildOf(client, d)
  if not guild or not d.user then return end
  patchUser(client, d.user)
  local old = clone(get(guild.presences.cache, d.user.id))
  local presence = guild.presences:_add(d)
  if old == nil or not old:equals(presence) then client:emit("presenceUpdate", old, presence) end
end

handlers.TYPING_START = function(client, packet)
  local d = packet.d
  local P = partials()
  local channel = P.channel(client, d.channel_id, d.guild_id)
  if not channel then return end
  local guild = guildOf(client, d)
  local user
  if guild and type(d.member) == "table" then user = P.member(client, guild, d.user_id, d.member).user end
  user = user or P.user(client, d.user_id)
  if not user then return end
  local Typing = require("discord.structures.typing").Typing
  client:emit("typingStart", Typing(channel, user, d))
end

-- Moderation, expressions, events, stages, monetization -----------------------------------------------------

-- Guild-scoped create/update/delete for a manager of the guild (`field`), keyed by `key` of the payload.
local function guildResource(field, names, key)
  key = key or "id"
  handlers[names[1]] = function(client, packet)
    local d = packet.d
    local guild = guildOf(client, d)
    if not guild then return end
    local manager = guild[field]
    local existed = manager.cache:get(d[key])
    local obj = manager:_add(d)
    if not existed then client:emit(names[4], obj) end
  end
  handlers[names[2]] = function(client, packet)
    local d = packet.d
    local guild = guildOf(client, d)
    if not guild then return end
    local manager = guild[field]
    local old = clone(manager.cache:get(d[key]))
    local obj = manager:_add(d)
    client:emit(names[5], old, obj)
  end
  handlers[names[3]] = function(client, packet)
    local d = packet.d
    local guild = guildOf(client, d)
    if not guild then return end
    local manager = guild[field]
    local obj = manager:_remove(d[key]) or manager:_construct(d)
    client:emit(names[6], obj)
  end
end

guildResource("scheduledEvents", { "GUILD_SCHEDULED_EVENT_CREATE", "GUILD_SCHEDULED_EVENT_UPDATE",
  "GUILD_SCHEDULED_EVENT_DELETE", "guildScheduledEventCreate", "guildScheduledEventUpdate",
  "guildScheduledEventDelete" })
guildResource("stageInstances", { "STAGE_INSTANCE_CREATE", "STAGE_INSTANCE_UPDATE", "STAGE_INSTANCE_DELETE",
  "stageInstanceCreate", "stageInstanceUpdate", "stageInstanceDelete" })
guildResource("autoModerationRules", { "AUTO_MODERATION_RULE_CREATE", "AUTO_MODERATION_RULE_UPDATE",
  "AUTO_MODERATION_RULE_DELETE", "autoModerationRuleCreate", "autoModerationRuleUpdate", "autoModerationRuleDelete" })
guildResource("soundboardSounds", { "GUILD_SOUNDBOARD_SOUND_CREATE", "GUILD_SOUNDBOARD_SOUND_UPDATE",
  "GUILD_SOUNDBOARD_SOUND_DELETE", "guildSoundboardSoundCreate", "guildSoundboardSoundUpdate",
  "guildSoundboardSoundDelete" }, "sound_id")

local function scheduledEventUser(event)
  return function(client, packet)
    local d = packet.d
    local guild = guildOf(client, d)
    if not guild then return end
    local ev = guild.scheduledEvents.cache:get(d.guild_scheduled_event_id)
    local user = client.users.cache:get(d.user_id)
    if (not ev or not user) and not partials().enabled(client, "GuildScheduledEvent") then return end
    ev = ev or guild.scheduledEvents:_add({ id = d.guild_scheduled_event_id, guild_id = guild.id }, false)
    client:emit(event, ev, user or partials().user(client, d.user_id) or { id = d.user_id })
  end
end
handlers.GUILD_SCHEDULED_EVENT_USER_ADD = scheduledEventUser("guildScheduledEventUserAdd")
handlers.GUILD_SCHEDULED_EVENT_USER_REMOVE = scheduledEventUser("guildScheduledEventUserRemove")

handlers.AUTO_MODERATION_ACTION_EXECUTION = function(client, packet)
  local guild = guildOf(client, packet.d)
  if not guild then return end
  local Execution = require("discord.structures.automod").AutoModerationActionExecution
  client:emit("autoModerationActionExecution", Execution(guild, packet.d))
end

handlers.GUILD_AUDIT_LOG_ENTRY_CREATE = function(client, packet)
  local guild = guildOf(client, packet.d)
  if not guild then return end
  client:emit("guildAuditLogEntryCreate", require("discord.structures.audit_log").entryFromEvent(guild, packet.d),
    guild)
end

local function ban(event, removed)
  return function(client, packet)
    local d = packet.d
    local guild = guildOf(client, d)
    if not guild or type(d.user) ~= "table" then return end
    local b
    if removed then
      b = guild.bans:_remove(d.user.id) or guild.bans:_construct(d)
    else
      b = guild.bans:_add(d)
    end
    client:emit(event, b)
  end
end
handlers.GUILD_BAN_ADD = ban("guildBanAdd", false)
handlers.GUILD_BAN_REMOVE = ban("guildBanRemove", true)

-- Emoji and sticker updates carry the whole list: compare it with the cache.
local function expressions(field, createdName, updatedName, deleted)
  return function(client, packet)
    local d = packet.d
    local guild = guildOf(client, d)
    if not guild then return end
    local manager = guild[field]
    local seen = {}
    for _, data in ipairs(d[field] or {}) do
      seen[data.id] = true
      local old = manager.cache:get(data.id)
      if old then
        local before = clone(old)
        manager:_add(data)
        if not before:equals(old) then client:emit(updatedName, before, old) end
      else
        client:emit(createdName, manager:_add(data))
      end
    end
    for _, id in ipairs(manager.cache:keys()) do
      if not seen[id] then client:emit(deleted, manager:_remove(id)) end
    end
  end
end
handlers.GUILD_EMOJIS_UPDATE = expressions("emojis", "emojiCreate", "emojiUpdate", "emojiDelete")
handlers.GUILD_STICKERS_UPDATE = expressions("stickers", "stickerCreate", "stickerUpdate", "stickerDelete")

handlers.GUILD_SOUNDBOARD_SOUNDS_UPDATE = function(client, packet)
  local guild = guildOf(client, packet.d)
  if not guild then return end
  local sounds = guild.soundboardSounds:_addAll(packet.d.soundboard_sounds, true, true)
  client:emit("guildSoundboardSoundsUpdate", sounds, guild)
end

-- The answer to a request for soundboard sounds (op 31).
handlers.SOUNDBOARD_SOUNDS = function(client, packet)
  local guild = guildOf(client, packet.d)
  if not guild then return end
  client:emit("soundboardSounds", guild.soundboardSounds:_addAll(packet.d.soundboard_sounds, true, true), guild)
end

handlers.INVITE_CREATE = function(client, packet)
  local guild = guildOf(client, packet.d)
  local invite = guild and guild.invites:_add(packet.d) or require("discord.structures.invite").Invite(client, packet.d)
  client:emit("inviteCreate", invite)
end

handlers.INVITE_DELETE = function(client, packet)
  local d = packet.d
  local guild = guildOf(client, d)
  local invite = guild and guild.invites:_remove(d.code)
  client:emit("inviteDelete", invite or require("discord.structures.invite").Invite(client, d))
end

handlers.WEBHOOKS_UPDATE = function(client, packet)
  local channel = get(client.channels.cache, packet.d.channel_id)
  if channel then client:emit("webhooksUpdate", channel) end
end

handlers.GUILD_INTEGRATIONS_UPDATE = function(client, packet)
  local guild = guildOf(client, packet.d)
  if guild then client:emit("guildIntegrationsUpdate", guild) end
end

handlers.VOICE_CHANNEL_EFFECT_SEND = function(client, packet)
  local guild = guildOf(client, packet.d)
  if not guild then return end
  local Effect = require("discord.structures.voice_channel_effect").VoiceChannelEffect
  client:emit("voiceChannelEffectSend", Effect(guild, packet.d))
end

-- Entitlements and subscriptions belong to the application, not to a guild.
local function appResource(kind, createdName, update, delete)
  local function structure(client, d)
    if kind == "entitlement" then
      return client.application.entitlements:_add(d)
    end
    return require("discord.structures.subscription").Subscription(client, d)
  end
  local upper = kind:upper()
  handlers[upper .. "_CREATE"] = function(client, packet) client:emit(createdName, structure(client, packet.d)) end
  handlers[upper .. "_UPDATE"] = function(client, packet)
    local old = kind == "entitlement" and clone(client.application.entitlements.cache:get(packet.d.id)) or nil
    client:emit(update, old, structure(client, packet.d))
  end
  handlers[upper .. "_DELETE"] = function(client, packet)
    local obj = structure(client, packet.d)
    if kind == "entitlement" then client.application.entitlements:_remove(obj.id) end
    client:emit(delete, obj)
  end
end
appResource("entitlement", "entitlementCreate", "entitlementUpdate", "entitlementDelete")
appResource("subscription", "subscriptionCreate", "subscriptionUpdate", "subscriptionDelete")

-- Voice states ----------------------------------------------------------------------------------------------

-- A member joined, left, moved or changed a flag. Old is a state with no channel when none was cached;
-- members who leave voice leave the cache.
handlers.VOICE_STATE_UPDATE = function(client, packet)
  local d = packet.d
  local guild = guildOf(client, d)
  if not guild or d.user_id == nil then return end
  if type(d.member) == "table" then partials().member(client, guild, d.user_id, d.member) end
  local states = guild.voiceStates
  local old = clone(get(states.cache, d.user_id)) or states:stateOf(d.user_id)
  local new = states:_add(d)
  if util.nullable(d.channel_id) == nil then states.cache:delete(d.user_id) end
  client:emit("voiceStateUpdate", old, new)
end

return M
