-- The bot client: login and destroy, events, waitFor and ready tracking.
local runtime = require("runtime")
local util = require("discord.util")
local errors = require("discord.errors")
local Options = require("discord.client.options")
local rest = require("discord.rest")
local ws = require("discord.ws")

local M = {}

---@type discord.Client
local Client = util.class("Client", util.EventEmitter)
M.Client = Client

--- Creates a client (`Client(options)`); nothing connects until `login`.
---@param options? discord.ClientOptions Intents, partials, caches, sweepers, REST and gateway settings.
function Client:init(options)
  util.EventEmitter.init(self)
  -- Every event calls it: held by the client, it is found without the class's index function.
  self.emit = self.emit
  self.options = Options.normalize(options)
  local mode = self.options.collector
  if mode == "incremental" then
    -- A big bot's caches are most of its heap and live for hours. A cycle starts when the heap has tripled,
    -- not doubled, so fewer cycles walk them; steps do four times Lua's work, so a cycle ends before the heap
    -- has grown much further. A step comes after each KB allocated, not 8 KB: one that walks a big cache
    -- stops soon after it, so no event pays for several steps' work at once.
    collectgarbage("incremental", 300, 400, 10)
  elseif mode == "generational" then
    -- Each major collection marks every cache in one step: one when the heap has tripled takes fewer.
    collectgarbage("generational", 0, 200)
  end
  self.rest = rest.REST(self.options.rest)
  -- `record` and `transport = {replay=}` put a recorder or a replayer between the client and the network.
  self.rest.transport = rest.transportFor(self.options, function() return self.token end)
  -- The limiter's events are the client's.
  for _, name in ipairs({ "rateLimited", "invalidRequestWarning", "debug" }) do
    self.rest:on(name, function(...) self:emit(name, ...) end)
  end
  self.token = nil
  self.user = nil
  self.readyAt = nil
  self.ws = ws.WebSocketManager(self)
  -- The application, users, guilds and channels: their managers sit a layer above (discord.managers.base).
  util.provided("client managers")(self)
  self.sweepers = require("discord.client.sweepers").Sweepers(self, self.options.sweepers)
end

--- When the client became ready (Unix ms), or nil before `ready`.
---@return discord.Milliseconds|nil
Client.getters.readyTimestamp = function(self) return self.readyAt end
--- Milliseconds since the client became ready, or nil before `ready`.
---@return integer|nil
Client.getters.uptime = function(self)
  return self._readyMono and (runtime.now() - self._readyMono) or nil
end
--- Mean heartbeat round trip of the shards in milliseconds, -1 before the first ack.
---@return integer
Client.getters.ping = function(self) return self.ws.ping end
--- The shards of this process, the same object as `client.ws`: `.ids`, `.count`, `:broadcastEval(fn)`.
---@return discord.ShardingManager
Client.getters.shard = function(self) return self.ws end

--- Whether every shard has become ready and `ready` was emitted.
---@return boolean
function Client:isReady()
  return self.readyAt ~= nil
end

-- Classes of caches already checked: every message's reactions make caches.
local checkedCaches = setmetatable({}, { __mode = "k" })

--- The cache for a manager, from `options.makeCache(managerName, holds, manager)`.
function Client:_makeCache(managerName, holds, manager)
  local cache = self.options.makeCache(managerName, holds, manager)
  local class = type(cache) == "table" and getmetatable(cache)
  if class and checkedCaches[class] then return cache end
  if type(cache) ~= "table" or type(cache.get) ~= "function" or type(cache.set) ~= "function"
      or type(cache.delete) ~= "function" then
    error(errors.LibraryError("InvalidOption", "makeCache", "a function returning a Collection for " .. managerName), 0)
  end
  if class then checkedCaches[class] = true end
  return cache
end

-- Intents as one integer: from the option, else derived from the events that have
-- listeners so that a small bot needs no intents table.
function Client:_resolveIntents()
  local intents = require("discord.intents")
  local given = self.options.intents
  if given == nil then
    local names = {}
    for name in pairs(self._listeners) do names[#names + 1] = name end
    for name in pairs(self._waiting) do names[#names + 1] = name end
    table.sort(names)
    return intents.intentsFor(names)
  end
  return intents.resolve(given)
end

-- Listeners for events that the chosen intents will never deliver are a common mistake.
function Client:_warnMissingIntents()
  local names = {}
  for name, list in pairs(self._listeners) do
    if #list > 0 then names[#names + 1] = name end
  end
  table.sort(names)
  local missing = require("discord.intents").eventsMissing(self.intents, names)
  if #missing > 0 then
    self:emit("warn", "No intent delivers these events: " .. table.concat(missing, ", "))
  end
end

-- The part before the first dot is the bot's ID in base64, not a secret.
local function redact(token)
  local first = token:match("^([^.]+)%.")
  return (first or "") .. ".***"
end

--- Checks the token through /gateway/bot, starts the shards and returns the token.
--- Raises `discord.LibraryError` TokenMissing (no token), TokenInvalid (401) or a REST error.
---@async
---@param token? string Bot token; else `options.token`, else the DISCORD_TOKEN variable.
---@return string token The token in use, trimmed and without a "Bot " prefix.
function Client:login(token)
  if self.ws.shards.size > 0 then error("Client:login: already logged in; destroy the client first", 2) end
  token = token or self.options.token or runtime.getenv("DISCORD_TOKEN")
  if type(token) ~= "string" or util.trim(token) == "" then
    error(errors.LibraryError("TokenMissing"), 2)
  end
  token = util.trim(token):gsub("^[Bb]ot%s+", "")
  self.token = token
  self.rest:setToken(token)
  self:emit("debug", "Provided token: " .. redact(token))
  self.intents = self:_resolveIntents()
  self:_warnMissingIntents()

  local ok, info = pcall(self.rest.get, self.rest, "/gateway/bot")
  if not ok then
    if errors.is(info, "DiscordAPIError") and info.status == 401 then
      self.token = nil
      self.rest:setToken(nil)
      error(errors.LibraryError("TokenInvalid"), 2)
    end
    error(info, 0)
  end
  self:emit("debug", string.format("Session limit: %d of %d left", info.session_start_limit and
    info.session_start_limit.remaining or -1, info.session_start_limit and info.session_start_limit.total or -1))
  if not self._interruptHooked then
    self._interruptHooked = true
    runtime.on_interrupt(function()
      if self.token then self:destroy() end
    end)
  end
  self.sweepers:start()
  self.ws:connect(info)
  return token
end

-- Called by the gateway manager once every shard is ready.
function Client:_triggerReady()
  if self.readyAt then return end
  self.readyAt = runtime.time()
  self._readyMono = runtime.now()
  self:emit("ready", self)
end

--- Closes every shard and forgets the token; caches stay readable (with `sessionFile`, sessions resume).
function Client:destroy()
  self.sweepers:stop()
  local path = self.options.sessionFile
  if path and self.ws:saveSession(path) then
    self.ws:destroy(require("discord.enums").GatewayCloseCodes.Zombie)
  else
    self.ws:destroy(1000)
  end
  if self.rest.transport and self.rest.transport.close then self.rest.transport:close() end
  self.token = nil
  self.rest:setToken(nil)
  self.readyAt = nil
  self._readyMono = nil
end

--- Fetches /gateway/bot without connecting: URL, recommended shard count and session start limit.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return table info {url, shards, session_start_limit}.
function Client:fetchGatewayInfo()
  return self.rest:get("/gateway/bot")
end

--- The OAuth2 URL that adds the bot to a server; needs the client ready.
--- Raises `discord.LibraryError` ClientNotReady before the bot's ID is known, InvalidOption for bad scopes.
---@param opts? discord.InviteGenerationOptions Scopes ({"bot"}), permissions, a preselected guild.
---@return string url
function Client:generateInvite(opts)
  opts = opts or {}
  local appId = self.application and self.application.id or (self.user and self.user.id)
  if not appId then error(errors.LibraryError("ClientNotReady", "generate an invite link"), 2) end
  local scopes = opts.scopes or { "bot" }
  if type(scopes) ~= "table" or #scopes == 0 then error(errors.LibraryError("InvalidOption", "scopes", "a list"), 2) end
  local query = { client_id = appId, scope = table.concat(scopes, " ") }
  if opts.permissions ~= nil then
    local bitfield = require("discord.bitfield")
    query.permissions = tostring(bitfield.PermissionsBitField:resolve(opts.permissions))
  end
  if opts.guild ~= nil then
    query.guild_id = type(opts.guild) == "table" and opts.guild.id or tostring(opts.guild)
    if opts.disableGuildSelect then query.disable_guild_select = "true" end
  end
  return "https://discord.com/oauth2/authorize" .. util.queryString(query)
end

-- Fetches of objects outside any cached guild (an invite, a webhook, a sticker and the standard packs, a
-- template, a guild's preview or widget, voice regions, the default sounds) live beside their structures.

--- Deletes a webhook by ID, with its token when the bot does not own it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id discord.Snowflake
---@param opts? {token?: string, reason?: string}
function Client:deleteWebhook(id, opts)
  opts = opts or {}
  local path = "/webhooks/" .. id .. (opts.token and ("/" .. opts.token) or "")
  self.rest:delete(path, { auth = opts.token == nil, reason = opts.reason })
end

--- Fetches the gateway's URL ({url=}), which needs no token.
---@async
---@return table gateway {url: string}.
function Client:fetchGateway()
  return self.rest:get("/gateway", { auth = false })
end

--- A short summary for logs: ready, readyTimestamp, user ID and guild count.
---@return table
function Client:toJSON()
  return {
    ready = self.readyAt ~= nil,
    readyTimestamp = self.readyAt,
    user = self.user and self.user.id or nil,
    guilds = self.guilds.cache.size,
  }
end

return M
