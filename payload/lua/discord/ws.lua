-- Gateway: the WebSocket shard protocol (zlib-stream, heartbeats, resume, close codes,
-- send limit) and the client's gateway manager over discord.sharding. The dispatch handlers live
-- beside the caches they patch and register themselves into `handlers`.
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

local handlers = {}
--- Dispatch handlers by event name, `handler(client, packet, shard)`; filled by the modules that keep the caches.
---@type table<string, fun(client: discord.Client, packet: table, shard: discord.WebSocketShard)>
M.handlers = handlers
M.IdentifyQueue = sharding.IdentifyQueue
local pause = sharding.pause

--- The gateway form of an activity given as a name or {name=, type= (number or name), url=, state=}.
--- Raises a string error for an unknown type, a missing name or a streaming URL not on Twitch or YouTube.
---@param a string|discord.ActivityOptions|table
---@param level? integer Error level, for callers that check on behalf of theirs.
---@return {name: string, type: integer, url?: string, state?: string}
function M.activityData(a, level)
  level = (level or 1) + 1
  local ActivityType = enums.ActivityType
  if type(a) == "string" then a = { name = a } end
  if type(a) ~= "table" then error("an activity must be a name or a table {name=, type=}", level) end
  local t = a.type or 0
  if type(t) == "string" then t = rawget(ActivityType, t) or error("unknown activity type " .. t, level) end
  if math.type(t) ~= "integer" or rawget(ActivityType, t) == nil then
    error("unknown activity type " .. tostring(t), level)
  end
  local name = a.name
  if t == ActivityType.Custom then name = name or "Custom Status" end
  if type(name) ~= "string" or name == "" then error("an activity needs a name", level) end
  local out = { name = name, type = t }
  if t == ActivityType.Streaming and a.url ~= nil then
    local url = type(a.url) == "string" and a.url or ""
    if not url:match("^https://www%.twitch%.tv/") and not url:match("^https://www%.youtube%.com/") then
      error("a streaming URL must be a Twitch or YouTube address", level)
    end
    out.url = a.url
  end
  if a.state ~= nil then out.state = a.state elseif t == ActivityType.Custom then out.state = a.name end
  return out
end

-- Shard ---------------------------------------------------------------------------------------------------

--- A shard's gateway connection: identify or resume, heartbeats, the send limit, reconnects and dispatch.
---@class discord.WebSocketShard: discord.Shard
---@field resumeURL string|nil Where the session resumes.
---@field sequence integer|nil Last sequence number received.
---@field destroyed boolean|nil Set by destroy.
local WebSocketShard = util.class("WebSocketShard", sharding.Shard)
M.WebSocketShard = WebSocketShard

--- Creates the shard (the manager does, on login).
---@param manager discord.WebSocketManager
---@param id integer Shard ID.
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

--- Emits a "debug" event on the client, prefixed with the shard.
---@param msg string
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

--- Starts the shard's connection task (it identifies or resumes and reconnects on its own).
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
    WebSocketShard._onDispatch(self, packet)
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
      activities = json.array(util.map(p.activities or {}, M.activityData)),
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

--- Sends a payload in order behind earlier ones, waiting while the send window (120 per 60 s) is spent.
---@async
---@param payload table {op=, d=}.
---@return boolean ok
---@return string|nil err "not connected" or the socket's error.
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
  -- Most bots do not listen to raw packets: the event is emitted only when something waits for it.
  local client = self.client
  if client._listeners.raw or client._waiting.raw then client:emit("raw", packet, self.id) end
  local handler = handlers[t]
  if handler then handler(client, packet, self) end
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

--- Closes the connection for good; 1000 and 1001 also end the session, other codes keep it resumable.
---@param code? integer Close code (1000).
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

--- The client's gateway (`client.ws`): its shards, the gateway URL, sessions and member requests.
---@class discord.WebSocketManager: discord.ShardingManager
---@field gateway string|nil The gateway URL in use.
local WebSocketManager = util.class("WebSocketManager", sharding.ShardingManager)
M.WebSocketManager = WebSocketManager

--- Creates the gateway manager of a client; the client makes it.
---@param client discord.Client
function WebSocketManager:init(client)
  sharding.ShardingManager.init(self, client)
  self.gateway = nil
  self._chunkWaiters = {}
  self._nonce = 0
end

--- Plans and connects every shard with the /gateway/bot answer, resuming saved sessions (`sessionFile`).
---@param info table The /gateway/bot answer: url, shards, session_start_limit.
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

--- Writes the shards' sessions to `path` (JSON) so a restart soon after resumes; false when none or it failed.
---@param path string
---@return boolean
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
    handlers.READY(self.client, { d = { user = saved.user, application = saved.application } }, { id = 0 })
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

--- Closes every shard and fails the member requests still waiting.
---@param code? integer Close code (1000).
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

--- Asks the gateway for a guild's members (op 8) and collects the chunks; more than 100 IDs go out as several.
--- Raises `discord.LibraryError` InvalidShard, GuildMembersTimeout, or `discord.RateLimitError` (RATE_LIMITED).
---@async
---@param guildId discord.Snowflake
---@param opts? {query?: string, limit?: integer, userIds?: discord.Snowflake[], presences?: boolean, timeout?: integer}
---@return discord.GuildMember[] members The members, now cached.
---@return discord.Snowflake[] notFound IDs Discord did not find.
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

--- Asks for the status and voice start time of a guild's channels (op 43); the answer comes as `channelInfo`.
--- Raises `discord.LibraryError` InvalidShard when the guild's shard is not in this process.
---@async
---@param guildId discord.Snowflake
---@param fields? string[] Any of "status", "voice_start_time" (both).
---@return boolean ok
---@return string|nil err
function WebSocketManager:requestChannelInfo(guildId, fields)
  local shard = self:shardFor(guildId)
  if not shard then error(errors.LibraryError("InvalidShard"), 2) end
  return shard:send({ op = Op.RequestChannelInfo, d = { guild_id = guildId,
    fields = json.array(fields or { "status", "voice_start_time" }) } })
end

-- Member chunks: members arrive by the nonce of the op 8 that asked for them.
function WebSocketManager:_chunkArrived(d, chunk)
  local waiter = d.nonce and self._chunkWaiters[d.nonce]
  if not waiter then return end
  local members = chunk:values()
  table.move(members, 1, #members, #waiter.members + 1, waiter.members)
  for _, id in ipairs(d.not_found or {}) do waiter.notFound[#waiter.notFound + 1] = id end
  if d.chunk_index + 1 >= d.chunk_count then waiter.future:resolve(waiter.members) end
end

-- Dispatch handled by the shard itself -----------------------------------------------------------------------

---@private
handlers.RESUMED = function() end

--- A member request Discord refused over the gateway fails at once instead of waiting for chunks.
---@private
handlers.RATE_LIMITED = function(client, packet, shard)
  local d = packet.d
  local retryAfter = math.ceil((tonumber(d.retry_after) or 0) * 1000)
  local meta = type(d.meta) == "table" and d.meta or {}
  local info = { gateway = true, shardId = shard and shard.id, opcode = d.opcode, retryAfter = retryAfter,
    timeToReset = retryAfter, guildId = meta.guild_id, nonce = meta.nonce, global = false,
    route = "gateway opcode " .. tostring(d.opcode) }
  info.message = string.format("The gateway rate-limited opcode %s; retry in %d ms", tostring(d.opcode), retryAfter)
  local waiter = d.opcode == Op.RequestGuildMembers and meta.nonce and client.ws._chunkWaiters[meta.nonce]
  if waiter then waiter.future:reject(errors.RateLimitError(info)) end
  client:emit("rateLimited", info)
end

return M
