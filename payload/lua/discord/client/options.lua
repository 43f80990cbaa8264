-- Client options: defaults, validation and the cache factory.
local util = require("discord.util")
local constants = require("discord.constants")

local M = {}

local function invalid(name, expected)
  local errors = require("discord.errors")
  error(errors.LibraryError("InvalidOption", name, expected), 3)
end

--- Managers whose caches are bounded unless the user says otherwise: MessageManager keeps 200 per channel.
---@type table<string, integer>
M.defaultCacheLimits = {
  MessageManager = 200,
}

--- The same table as `defaultCacheLimits`.
---@type table<string, integer>
M.DefaultMakeCacheSettings = M.defaultCacheLimits

-- Caches that hold the bot itself keep it over any limit: permissions and `members.me` need it.
local HOLDS_ME = { UserManager = true, GuildMemberManager = true, ThreadMemberManager = true,
  PresenceManager = true }

--- A cache factory for `makeCache`: per manager a size (a LimitedCollection) or {maxSize=, keepOverLimit=}.
--- Raises `discord.LibraryError` InvalidOption for a setting that is neither.
---@param limits? table<string, integer|{maxSize: integer, keepOverLimit?: function}> By manager name; 0 keeps none.
---@return fun(managerName: string, holds: table, manager: table): discord.Collection
function M.cacheWithLimits(limits)
  limits = limits or {}
  for name, setting in pairs(limits) do
    local t = type(setting)
    if not (math.type(setting) == "integer" and setting >= 0 or setting == math.huge or t == "table") then
      invalid("makeCache." .. tostring(name), "a non-negative integer or {maxSize=, keepOverLimit=}")
    end
  end
  local collection
  return function(managerName, _, manager)
    -- Required at the first cache, not at each: every new reaction makes two.
    collection = collection or require("discord.collection")
    local setting = limits[managerName]
    if setting == nil then return collection.Collection() end
    if type(setting) == "number" then setting = { maxSize = setting } end
    if setting.maxSize == math.huge then return collection.Collection() end
    local keep = setting.keepOverLimit
    if HOLDS_ME[managerName] and manager and manager.client then
      local client, userKeep = manager.client, keep
      keep = function(value, key, c)
        if client.user and key == client.user.id then return true end
        return userKeep ~= nil and userKeep(value, key, c)
      end
    end
    return collection.LimitedCollection({ maxSize = setting.maxSize, keepOverLimit = keep })
  end
end

--- A cache factory for `makeCache` under which every manager caches everything.
---@return fun(): discord.Collection
function M.cacheEverything()
  return function()
    return require("discord.collection").Collection()
  end
end

--- A fresh table of the default client options.
---@return discord.ClientOptions
function M.defaults()
  return {
    intents = nil, -- derived from the registered listeners when absent
    token = nil, -- read from DISCORD_TOKEN by login when absent
    shardCount = 1,
    shards = nil,
    waitGuildTimeout = 15000,
    failIfNotExists = true,
    allowedMentions = nil,
    partials = {},
    presence = nil,
    enforceNonce = false,
    autoDefer = nil, -- ms after which an unanswered interaction is deferred; under 3000
    sessionFile = nil, -- where destroy() saves the sessions that a restart within 60 s resumes
    record = nil, -- a JSONL file that receives every REST exchange and gateway frame
    transport = nil, -- {replay = path}: answers from a recording instead of the network
    -- Incremental, in short steps: a generational collector's major collections mark the caches in one step,
    -- a tenth of a second or more in a big bot's heap, wherever an event or a heartbeat falls. false leaves
    -- the host's choice.
    collector = "incremental",
    makeCache = M.cacheWithLimits(M.defaultCacheLimits),
    sweepers = util.deepCopy(require("discord.client.sweepers").DefaultSweeperSettings),
    rest = util.mergeDefaults(require("discord.rest").DEFAULTS, nil),
    ws = {
      version = constants.Gateway.version,
      compress = true,
      large_threshold = constants.Gateway.largeThreshold,
      properties = nil,
      gateway = nil, -- fixed gateway URL; normally taken from /gateway/bot
      maxBackoff = 60000,
    },
  }
end

local checks = {
  shardCount = function(v)
    return v == "auto" or (math.type(v) == "integer" and v >= 1), "a positive integer or \"auto\""
  end,
  shards = function(v)
    if v == "auto" or math.type(v) == "integer" then return true end
    if type(v) ~= "table" then return false, "an integer, an array of integers or \"auto\"" end
    for _, s in ipairs(v) do
      if math.type(s) ~= "integer" or s < 0 then return false, "an array of non-negative integers" end
    end
    return true
  end,
  waitGuildTimeout = function(v) return math.type(v) == "integer" and v >= 0, "a non-negative integer (ms)" end,
  failIfNotExists = function(v) return type(v) == "boolean", "a boolean" end,
  enforceNonce = function(v) return type(v) == "boolean", "a boolean" end,
  autoDefer = function(v)
    return v == false or (math.type(v) == "integer" and v >= 0 and v < 3000),
      "false or an integer from 0 to 2999 (ms before Discord's 3 s deadline)"
  end,
  allowedMentions = function(v) return type(v) == "table", "a table" end,
  sessionFile = function(v) return type(v) == "string" and v ~= "", "a file path" end,
  record = function(v) return type(v) == "string" and v ~= "", "a file path" end,
  transport = function(v)
    return type(v) == "table" and (type(v.replay) == "string" or type(v.request) == "function"),
      "{replay = path} or a table with request and websocket methods"
  end,
  partials = function(v) return type(v) == "table", "an array" end,
  collector = function(v)
    return v == false or v == "generational" or v == "incremental", "\"generational\", \"incremental\" or false"
  end,
  presence = function(v) return type(v) == "table", "a table" end,
  makeCache = function(v) return type(v) == "function", "a function" end,
  sweepers = function(v) return type(v) == "table", "a table" end,
  token = function(v) return type(v) == "string" and v ~= "", "a non-empty string" end,
  intents = function(v)
    local t = type(v)
    return t == "number" or t == "string" or t == "table", "intent names, a number or a bit field"
  end,
}

local restChecks = {
  api = function(v) return type(v) == "string" and v:match("^https?://") ~= nil, "an http(s) URL" end,
  version = function(v) return math.type(v) == "integer" and v > 0, "a positive integer" end,
  timeout = function(v) return math.type(v) == "integer" and v > 0, "a positive integer (ms)" end,
  retries = function(v) return math.type(v) == "integer" and v >= 0, "a non-negative integer" end,
  retryDelay = function(v) return math.type(v) == "integer" and v >= 0, "a non-negative integer (ms)" end,
  maxRetryDelay = function(v) return math.type(v) == "integer" and v >= 0, "a non-negative integer (ms)" end,
  globalRequestsPerSecond = function(v) return math.type(v) == "integer" and v > 0, "a positive integer" end,
  rejectOnRateLimit = function(v)
    return type(v) == "function" or type(v) == "table", "an array of route prefixes or a function"
  end,
  userAgentAppendix = function(v) return type(v) == "string", "a string" end,
}

local wsChecks = {
  version = restChecks.version,
  compress = function(v) return type(v) == "boolean", "a boolean" end,
  large_threshold = function(v)
    return math.type(v) == "integer" and v >= 50 and v <= 250, "an integer from 50 to 250"
  end,
  properties = function(v) return type(v) == "table", "a table" end,
  gateway = function(v) return type(v) == "string" and v:match("^wss?://") ~= nil, "a ws(s) URL" end,
  maxBackoff = function(v) return math.type(v) == "integer" and v >= 1000, "an integer of at least 1000 (ms)" end,
}

local function merge(into, from, rules, prefix)
  for k, v in pairs(from) do
    local rule = rules[k]
    if rule and v ~= nil then
      local ok, expected = rule(v)
      if not ok then invalid(prefix .. k, expected) end
    end
    into[k] = v
  end
end

--- The defaults merged with `options`, each known option checked; unknown keys are kept.
--- Raises `discord.LibraryError` InvalidOption for an option of the wrong type or range.
---@param options? discord.ClientOptions
---@return discord.ClientOptions
function M.normalize(options)
  if options ~= nil and type(options) ~= "table" then invalid("options", "a table") end
  options = options or {}
  local out = M.defaults()
  local rest, ws = out.rest, out.ws
  merge(out, options, checks, "")
  out.rest = rest
  out.ws = ws
  if options.rest ~= nil then
    if type(options.rest) ~= "table" then invalid("rest", "a table") end
    merge(rest, options.rest, restChecks, "rest.")
  end
  if options.ws ~= nil then
    if type(options.ws) ~= "table" then invalid("ws", "a table") end
    merge(ws, options.ws, wsChecks, "ws.")
  end
  if type(out.shards) == "number" then out.shards = { out.shards } end
  if type(out.shards) == "table" then
    -- Listed shard IDs out of several processes: without a total, Discord's recommendation is it.
    if options.shardCount == nil then out.shardCount = "auto" end
    for _, id in ipairs(out.shards) do
      if math.type(out.shardCount) == "integer" and id >= out.shardCount then
        invalid("shards", "shard IDs below shardCount (" .. out.shardCount .. ")")
      end
    end
  end
  return out
end

return M
