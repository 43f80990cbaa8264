-- Sweepers: drop cached objects on an interval, by age (messages, threads) or by a filter, so a
-- long-running bot's caches stay bounded. Intervals and lifetimes are in seconds.
local runtime = require("runtime")
local util = require("discord.util")
local errors = require("discord.errors")

local M = {}

local function invalid(name, expected)
  error(errors.LibraryError("InvalidOption", "sweepers." .. name, expected), 4)
end

-- Filters ---------------------------------------------------------------------------------------------------

--- A filter factory for objects older than `lifetime` seconds (by `getComparisonTimestamp`, Unix ms).
---@param opts? {lifetime?: integer, getComparisonTimestamp?: fun(v: any): integer|nil, excludeFromSweep?: function}
---@return fun(): (fun(value: any, key: any, coll: discord.Collection): boolean)|nil
function M.filterByLifetime(opts)
  opts = opts or {}
  local lifetime = opts.lifetime or 14400
  local stamp = opts.getComparisonTimestamp or function(v) return v.createdTimestamp end
  local exclude = opts.excludeFromSweep or function() return false end
  return function()
    if lifetime <= 0 then return nil end
    local cutoff = runtime.time() - lifetime * 1000
    return function(v, ...)
      if exclude(v, ...) then return false end
      local ts = stamp(v, ...)
      return ts ~= nil and ts < cutoff
    end
  end
end

local function messageTime(m)
  return m.editedTimestamp or m.createdTimestamp or require("discord.snowflake").timestamp(m.id)
end

--- A filter factory for messages neither sent nor edited within `lifetime` seconds (3600).
---@param lifetime? integer
---@return fun(): (fun(value: any, key: any, coll: discord.Collection): boolean)|nil
function M.outdatedMessageSweepFilter(lifetime)
  return M.filterByLifetime({ lifetime = lifetime or 3600, getComparisonTimestamp = messageTime })
end

--- A filter factory for threads archived more than `lifetime` seconds ago (14400).
---@param lifetime? integer
---@return fun(): (fun(value: any, key: any, coll: discord.Collection): boolean)|nil
function M.archivedThreadSweepFilter(lifetime)
  return M.filterByLifetime({
    lifetime = lifetime or 14400,
    getComparisonTimestamp = function(t) return t.archiveTimestamp end,
    excludeFromSweep = function(t) return not t.archived end,
  })
end

--- A filter factory for invites that expired more than `lifetime` seconds ago (14400).
---@param lifetime? integer
---@return fun(): (fun(value: any, key: any, coll: discord.Collection): boolean)|nil
function M.expiredInviteSweepFilter(lifetime)
  return M.filterByLifetime({
    lifetime = lifetime or 14400,
    getComparisonTimestamp = function(i) return i.expiresTimestamp end,
  })
end

-- Sweepers --------------------------------------------------------------------------------------------------

--- The kinds that can be swept; `lifetime` is allowed for messages and threads, `filter` for all.
local KINDS = {
  applicationCommands = "commands", autoModerationRules = "autoModerationRules", bans = "bans", emojis = "emojis",
  entitlements = false, invites = "invites", guildMembers = "members", messages = false, presences = "presences",
  reactions = false, stageInstances = "stageInstances", stickers = "stickers", threadMembers = false,
  threads = false, users = false, voiceStates = "voiceStates",
}
--- The kinds that can be swept, mapped to their guild manager field (false: not a guild manager).
---@type table<string, string|false>
M.Kinds = KINDS
local LIFETIME = { messages = M.outdatedMessageSweepFilter, threads = M.archivedThreadSweepFilter }

--- Defaults: archived threads go after 4 hours, checked hourly.
---@type table<string, discord.SweeperOptions>
M.DefaultSweeperSettings = { threads = { interval = 3600, lifetime = 14400 } }

---@type discord.Sweepers
local Sweepers = util.class("Sweepers")
M.Sweepers = Sweepers

-- The filters and defaults are reachable from the class as well (`discord.Sweepers.filterByLifetime`).
for _, name in ipairs({ "filterByLifetime", "outdatedMessageSweepFilter", "archivedThreadSweepFilter",
  "expiredInviteSweepFilter", "DefaultSweeperSettings" }) do
  Sweepers[name] = M[name]
end

--- Checks the sweeper options (`Sweepers(client, options)`); the timers start with `start` (at login).
--- Raises `discord.LibraryError` InvalidOption for an unknown kind, a bad interval, lifetime or filter.
---@param client discord.Client
---@param options? table<string, discord.SweeperOptions> By kind: messages, threads, users, guildMembers, ...
function Sweepers:init(client, options)
  self.client = client
  self.options = {}
  self.timers = {}
  if options == nil then return end
  if type(options) ~= "table" then invalid("", "a table") end
  for kind, o in pairs(options) do
    if KINDS[kind] == nil then invalid(tostring(kind), "a known kind (messages, threads, users, ...)") end
    if type(o) ~= "table" then invalid(kind, "a table {interval=, lifetime=|filter=}") end
    if math.type(o.interval) ~= "integer" or o.interval <= 0 then invalid(kind .. ".interval", "seconds above 0") end
    if o.lifetime ~= nil then
      if not LIFETIME[kind] then invalid(kind .. ".lifetime", "absent: only messages and threads have a lifetime") end
      if o.filter ~= nil then invalid(kind, "either a lifetime or a filter") end
      if math.type(o.lifetime) ~= "integer" or o.lifetime <= 0 then invalid(kind .. ".lifetime", "seconds above 0") end
    elseif type(o.filter) ~= "function" then
      invalid(kind .. ".filter", "a function returning a filter")
    end
    self.options[kind] = o
  end
end

local function sweepName(kind)
  return "sweep" .. kind:sub(1, 1):upper() .. kind:sub(2)
end

--- Starts one repeating timer per configured kind.
function Sweepers:start()
  self:stop()
  for kind, o in pairs(self.options) do
    local factory = o.filter or LIFETIME[kind](o.lifetime)
    self.timers[kind] = runtime.timer(o.interval * 1000, function()
      local filter = factory()
      if filter then self[sweepName(kind)](self, filter) end
    end, true)
  end
end

--- Stops every sweeper timer.
function Sweepers:stop()
  for kind, t in pairs(self.timers) do
    t:cancel()
    self.timers[kind] = nil
  end
end
Sweepers.destroy = Sweepers.stop

-- Sweeps one cache; `remove(key)` drops the object elsewhere too when the cache is a copy.
local function sweepCache(cache, filter, remove)
  if cache == nil then return 0 end
  local n = 0
  for _, key in ipairs(cache:keys()) do
    local v = cache:get(key)
    if v ~= nil and filter(v, key, cache) then
      if remove then remove(key) else cache:delete(key) end
      n = n + 1
    end
  end
  return n
end

local function report(self, text, n, where)
  self.client:emit("cacheSweep", string.format("Swept %d %s in %d %s.", n, text, where.count, where.name))
  return n
end

local function checkFilter(filter)
  if type(filter) ~= "function" then error("a sweep filter must be a function", 3) end
end

-- Sweeps a manager field of every guild that has made it.
local function sweepGuildField(self, field, filter, text)
  checkFilter(filter)
  local total, guilds = 0, 0
  local me = self.client.user and self.client.user.id
  for _, guild in self.client.guilds.cache:iter() do
    local manager = rawget(guild, field) or rawget(guild, "_" .. field)
    if manager and manager.cache then
      guilds = guilds + 1
      total = total + sweepCache(manager.cache, function(v, k, c)
        -- The bot's own member stays: permissions and `guild.members.me` need it.
        if field == "members" and k == me then return false end
        return filter(v, k, c)
      end)
    end
  end
  return report(self, text, total, { count = guilds, name = "guilds" })
end

-- Each channel with a cache of `field` (messages, members of threads).
local function eachChannel(self, pick)
  local out = {}
  for _, c in self.client.channels.cache:iter() do
    local x = pick(c)
    if x then out[#out + 1] = x end
  end
  return out
end

--- Sweeps the message caches of every channel; returns how many went.
--- Raises a string error when `filter` is not a function.
---@param filter fun(value: discord.Message, key: discord.Snowflake, coll: discord.Collection): boolean
---@return integer
function Sweepers:sweepMessages(filter)
  checkFilter(filter)
  local caches = eachChannel(self, function(c) return c.messages and c.messages.cache end)
  local n = 0
  for _, cache in ipairs(caches) do n = n + sweepCache(cache, filter) end
  return report(self, "messages", n, { count = #caches, name = "text-based channels" })
end

--- Sweeps the reactions of every cached message; returns how many went.
--- Raises a string error when `filter` is not a function.
---@param filter fun(value: discord.MessageReaction, key: string, coll: discord.Collection): boolean
---@return integer
function Sweepers:sweepReactions(filter)
  checkFilter(filter)
  local n, messages = 0, 0
  for _, cache in ipairs(eachChannel(self, function(c) return c.messages and c.messages.cache end)) do
    for _, m in cache:iter() do
      messages = messages + 1
      n = n + sweepCache(m.reactions.cache, filter)
    end
  end
  return report(self, "reactions", n, { count = messages, name = "messages" })
end

--- Sweeps threads from the client's and their guild's channel caches; returns how many went.
--- Raises a string error when `filter` is not a function.
---@param filter fun(value: discord.ThreadChannel, key: discord.Snowflake, coll: discord.Collection): boolean
---@return integer
function Sweepers:sweepThreads(filter)
  checkFilter(filter)
  local channels = self.client.channels
  local n = sweepCache(channels.cache, function(v, k, c) return v:isThread() and filter(v, k, c) end,
    function(key) channels:_remove(key) end)
  return report(self, "threads", n, { count = self.client.guilds.cache.size, name = "guilds" })
end

--- Sweeps the member caches of every thread (the bot's own stay); returns how many went.
--- Raises a string error when `filter` is not a function.
---@param filter fun(value: discord.ThreadMember, key: discord.Snowflake, coll: discord.Collection): boolean
---@return integer
function Sweepers:sweepThreadMembers(filter)
  checkFilter(filter)
  local me = self.client.user and self.client.user.id
  local caches = eachChannel(self, function(c) return c:isThread() and c.members and c.members.cache end)
  local n = 0
  for _, cache in ipairs(caches) do
    n = n + sweepCache(cache, function(v, k, c) return k ~= me and filter(v, k, c) end)
  end
  return report(self, "thread members", n, { count = #caches, name = "threads" })
end

--- Sweeps users; the bot's own user always stays. Returns how many went.
--- Raises a string error when `filter` is not a function.
---@param filter fun(value: discord.User, key: discord.Snowflake, coll: discord.Collection): boolean
---@return integer
function Sweepers:sweepUsers(filter)
  checkFilter(filter)
  local me = self.client.user and self.client.user.id
  local n = sweepCache(self.client.users.cache, function(v, k, c) return k ~= me and filter(v, k, c) end)
  return report(self, "users", n, { count = 1, name = "client" })
end

--- Sweeps the client's entitlements, when the client has them; returns how many went.
--- Raises a string error when `filter` is not a function.
---@param filter fun(value: discord.Entitlement, key: discord.Snowflake, coll: discord.Collection): boolean
---@return integer
function Sweepers:sweepEntitlements(filter)
  checkFilter(filter)
  local manager = rawget(self.client, "entitlements")
  local n = manager and sweepCache(manager.cache, filter) or 0
  return report(self, "entitlements", n, { count = 1, name = "client" })
end

for kind, field in pairs(KINDS) do
  if field then
    Sweepers[sweepName(kind)] = function(self, filter)
      return sweepGuildField(self, field, filter, (util.snakeCase(kind):gsub("_", " ")))
    end
  end
end

return M
