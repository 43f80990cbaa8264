-- Several shards in one process: the shard plan (how many, which), the identify queue that
-- keeps to `max_concurrency` and the session start limit, per-shard status, and the manager
-- that owns the shards, routes guilds to them and knows when all are ready.
local runtime = require("runtime")
local util = require("discord.util")
local errors = require("discord.errors")
local constants = require("discord.constants")

local M = {}

local RL = constants.RateLimits
local DAY = 24 * 3600 * 1000

local Status = {
  IDLE = "idle", CONNECTING = "connecting", IDENTIFYING = "identifying", RESUMING = "resuming",
  WAITING_GUILDS = "waitingForGuilds", READY = "ready", RECONNECTING = "reconnecting",
  DISCONNECTED = "disconnected",
}
--- Shard status names: IDLE = "idle", CONNECTING, IDENTIFYING, RESUMING, WAITING_GUILDS, READY, RECONNECTING, ...
---@type table<string, discord.ShardStatus>
M.Status = Status

--- Sleeps `ms` unless `stop` (a Future) settles first; true when stopped.
---@async
---@param stop discord.Future|nil
---@param ms integer
---@return boolean stopped
function M.pause(stop, ms)
  if ms <= 0 then return stop ~= nil and stop.done end
  if not stop then
    runtime.sleep(ms)
    return false
  end
  return (stop:wait(ms))
end
local pause = M.pause

-- Routing ---------------------------------------------------------------------------------------------------

--- The shard that receives a guild's events: (guild_id >> 22) % shardCount.
--- Raises a string error for an ID that is not a snowflake or a count below 1.
---@param guildId discord.Snowflake
---@param shardCount integer
---@return integer
function M.shardIdFor(guildId, shardCount)
  local n = math.tointeger(tonumber(guildId))
  if n == nil then error("shardIdFor: not a snowflake: " .. tostring(guildId), 2) end
  if math.type(shardCount) ~= "integer" or shardCount < 1 then
    error("shardIdFor: the shard count must be a positive integer", 2)
  end
  return (n >> 22) % shardCount
end

--- The shards this process runs, from `shardCount` and `shards` against the /gateway/bot answer.
--- Raises `discord.LibraryError` InvalidOption for shard IDs out of range or an empty list.
---@param options discord.ClientOptions
---@param info? table The /gateway/bot answer (`shards`).
---@return integer count The bot's total shard count.
---@return integer[] ids The sorted IDs of this process's shards.
function M.plan(options, info)
  info = info or {}
  local count, ids = options.shardCount, options.shards
  if ids == "auto" or count == "auto" or count == nil then
    count = math.tointeger(info.shards) or 1
    if count < 1 then count = 1 end
  end
  if ids == nil or ids == "auto" then
    ids = {}
    for i = 0, count - 1 do ids[#ids + 1] = i end
    return count, ids
  end
  local out, seen = {}, {}
  for _, id in ipairs(ids) do
    if math.type(id) ~= "integer" or id < 0 or id >= count then
      error(errors.LibraryError("InvalidOption", "shards", "shard IDs from 0 to " .. (count - 1)), 2)
    end
    if not seen[id] then
      seen[id] = true
      out[#out + 1] = id
    end
  end
  if #out == 0 then error(errors.LibraryError("InvalidOption", "shards", "at least one shard ID"), 2) end
  table.sort(out)
  return count, out
end

-- Identify queue --------------------------------------------------------------------------------------------

--- Spaces the IDENTIFYs of the shards: one per 5 s per `max_concurrency` key, within the session start limit.
---@class discord.IdentifyQueue
---@field maxConcurrency integer Shards that may identify together.
---@field total integer Session starts allowed per day.
---@field remaining integer Session starts left.
---@field resetAt integer Monotonic time (ms) when `remaining` resets.
local IdentifyQueue = util.class("IdentifyQueue")
M.IdentifyQueue = IdentifyQueue

--- Creates the queue from the session_start_limit of /gateway/bot.
---@param maxConcurrency? integer
---@param sessionStartLimit? {total?: integer, remaining?: integer, reset_after?: integer}
function IdentifyQueue:init(maxConcurrency, sessionStartLimit)
  self.maxConcurrency = math.max(1, math.tointeger(maxConcurrency) or 1)
  self.keys = {}
  local limit = sessionStartLimit or {}
  self.total = limit.total or 1000
  self.remaining = limit.remaining or self.total
  self.resetAt = runtime.now() + (limit.reset_after or DAY)
end

--- The rate-limit key of a shard: `shardId % maxConcurrency`.
---@param shardId integer
---@return integer
function IdentifyQueue:keyOf(shardId)
  return shardId % self.maxConcurrency
end

--- Waits until shard `shardId` may identify; false when `stop` settled first.
---@async
---@param shardId integer
---@param stop? discord.Future
---@return boolean
function IdentifyQueue:wait(shardId, stop)
  local key = self:keyOf(shardId)
  local slot = self.keys[key]
  if not slot then
    slot = { mutex = util.Mutex(), nextAt = 0 }
    self.keys[key] = slot
  end
  slot.mutex:lock()
  local ok, res = pcall(function()
    if self.remaining <= 0 then
      if pause(stop, self.resetAt - runtime.now()) then return false end
      if self.remaining <= 0 then
        self.remaining = self.total
        self.resetAt = runtime.now() + DAY
      end
    end
    if pause(stop, slot.nextAt - runtime.now()) then return false end
    self.remaining = self.remaining - 1
    slot.nextAt = runtime.now() + RL.identifyInterval
    return true
  end)
  slot.mutex:unlock()
  if not ok then error(res, 0) end
  return res
end

-- Shard -----------------------------------------------------------------------------------------------------

-- What every shard reports about itself; the gateway protocol builds on it (discord.ws).
---@type discord.Shard
local Shard = util.class("Shard")
M.Shard = Shard

--- Creates an idle shard of a manager.
---@param manager discord.ShardingManager
---@param id integer Shard ID.
function Shard:init(manager, id)
  self.manager = manager
  self.client = manager.client
  self.id = id
  self.status = Status.IDLE
  self.ping = -1
  self.readyAt = nil
  self.sessionId = nil
  self.sequence = nil
end

--- Changes the status; `shardStatus(id, status, previous)` tells listeners.
function Shard:_setStatus(status)
  local previous = self.status
  if previous == status then return end
  self.status = status
  if status == Status.READY then self.readyAt = runtime.time() end
  self.client:emit("shardStatus", self.id, status, previous)
end

--- Whether the shard's status is "ready".
---@return boolean
function Shard:isReady()
  return self.status == Status.READY
end

--- The cached guilds this shard receives.
---@return discord.Collection
Shard.getters.guilds = function(self)
  return self.client.guilds.cache:filter(function(g) return g.shardId == self.id end)
end

--- A summary for logs: id, status, ping, readyAt, guild count.
---@return table
function Shard:toJSON()
  return { id = self.id, status = self.status, ping = self.ping, readyAt = self.readyAt,
    guilds = self.guilds.size }
end

-- Manager ---------------------------------------------------------------------------------------------------

-- The shards of one client in this process (`client.ws`, also `client.shard`): the plan, the
-- identify queue, per-shard status, guild routing and the client's ready state.
---@type discord.ShardingManager
local ShardingManager = util.class("ShardingManager")
M.ShardingManager = ShardingManager

--- Creates the manager of a client's shards; the client makes it (as `client.ws`).
---@param client discord.Client
function ShardingManager:init(client)
  self.client = client
  self.shards = require("discord.collection").Collection()
  self.totalShards = 1
  self.identifyQueue = nil
end

--- The IDs of the shards in this process, in order.
---@return integer[]
ShardingManager.getters.ids = function(self)
  local ids = self.shards:keys()
  table.sort(ids)
  return ids
end

--- The bot's total shard count, all processes.
---@return integer
ShardingManager.getters.count = function(self) return self.totalShards end

--- Mean heartbeat round trip over the shards that have one, or -1.
---@return integer
ShardingManager.getters.ping = function(self)
  local sum, n = 0, 0
  for _, shard in self.shards:iter() do
    if shard.ping >= 0 then sum, n = sum + shard.ping, n + 1 end
  end
  return n > 0 and sum // n or -1
end

--- The status of the lowest shard, the only one for most bots.
---@return discord.ShardStatus
ShardingManager.getters.status = function(self)
  local shard = self.shards:get(self.ids[1])
  return shard and shard.status or Status.IDLE
end

--- Status of every shard: {[id] = status}.
---@return table<integer, discord.ShardStatus>
function ShardingManager:statuses()
  local out = {}
  for id, shard in self.shards:iter() do out[id] = shard.status end
  return out
end

--- Plans the shards for the /gateway/bot answer and builds them with `make(manager, id)`;
--- returns them in ID order.
function ShardingManager:_spawn(info, make)
  local opts = self.client.options
  local count, ids = M.plan(opts, info)
  self.totalShards = count
  local limit = info.session_start_limit
  self.identifyQueue = IdentifyQueue(limit and limit.max_concurrency, limit)
  if limit and limit.remaining and limit.remaining < #ids then
    self.client:emit("warn", string.format("Only %d of %d session starts left; the rest wait %d ms for the reset",
      limit.remaining, #ids, limit.reset_after or 0))
  end
  local out = {}
  for _, id in ipairs(ids) do
    local shard = make(self, id)
    self.shards:set(id, shard)
    out[#out + 1] = shard
  end
  return out
end

--- The shard that receives a guild's events; the lowest shard for DMs; nil when it runs in another process.
---@param guildId? discord.Snowflake
---@return discord.Shard|nil
function ShardingManager:shardFor(guildId)
  local id = 0
  if guildId ~= nil and self.totalShards > 1 then id = M.shardIdFor(guildId, self.totalShards) end
  return self.shards:get(id) or (guildId == nil and self.shards:get(self.ids[1])) or nil
end

--- Sends a gateway payload to every shard (or to the shards listed in `only`).
---@async
---@param payload table {op=, d=}.
---@param only? integer|integer[] Shard IDs.
function ShardingManager:broadcast(payload, only)
  local want = only and util.set(type(only) == "table" and only or { only }) or nil
  for _, id in ipairs(self.ids) do
    if not want or want[id] then self.shards:get(id):send(payload) end
  end
end

--- Runs fn(client, shardId) for each shard (or the one in `opts.shard`) and returns the results in shard order.
--- Raises a string error when `fn` is not a function.
---@param fn fun(client: discord.Client, shardId: integer): any
---@param opts? {shard?: integer}
---@return any[]
function ShardingManager:broadcastEval(fn, opts)
  if type(fn) ~= "function" then error("broadcastEval: expected a function", 2) end
  opts = opts or {}
  local out = {}
  for _, id in ipairs(self.ids) do
    if opts.shard == nil or opts.shard == id then out[#out + 1] = fn(self.client, id) end
  end
  return out
end

--- The client becomes ready once every shard is.
function ShardingManager:_checkReady()
  if self.shards.size == 0 then return end
  for _, shard in self.shards:iter() do
    if shard.status ~= Status.READY then return end
  end
  self.client:_triggerReady()
end

return M
