-- The application's commands, global or of one guild: fetch, create, edit, delete, bulk overwrite, and
-- sync, which compares builders with what is registered and sends only the differences.
local util = require("discord.util")
local json = require("json")
local base = require("discord.managers.base")

local M = {}

--- The application's commands, global (`client.application.commands`) or of one guild (`guild.commands`).
---@class discord.ApplicationCommandManager: discord.CachingManager
---@field guildId discord.Snowflake? The guild of the commands; nil for global commands.
---@field guild discord.Guild? The guild, when the manager was made with one.
---@field permissions discord.ApplicationCommandPermissionsManager The permissions of these commands.
local ApplicationCommandManager = util.class("ApplicationCommandManager", base.CachingManager)
M.ApplicationCommandManager = ApplicationCommandManager

local function commandModule()
  return require("discord.structures.applicationcommand")
end

local function guildIdOf(g)
  if g == nil then return nil end
  if type(g) == "table" then return g.id end
  return tostring(g)
end

--- `ApplicationCommandManager(client [, guild])`: the global commands, or those of `guild` (a guild or ID);
--- `ApplicationCommandManager(guild)` is the guild's.
---@private
---@param client discord.Client|discord.Guild
---@param guild? discord.Guild|discord.Snowflake
function ApplicationCommandManager:init(client, guild)
  if util.className(client) == "Guild" then client, guild = client.client, client end
  base.CachingManager.init(self, client, commandModule().ApplicationCommand)
  self.guildId = guildIdOf(guild)
  if type(guild) == "table" then self.guild = guild end
  self.permissions = require("discord.managers.application_command_permissions")
    .ApplicationCommandPermissionsManager(client, { guildId = self.guildId, manager = self })
end

function ApplicationCommandManager:_construct(data)
  return self.holds(self.client, data, self.guild)
end

--- The application's ID: from READY, else fetched from the current application.
---@async
function ApplicationCommandManager:_applicationId()
  local client = self.client
  if client.application and client.application.id then return client.application.id end
  if client.user and client.user.id then return client.user.id end
  local app = client.rest:get("/applications/@me")
  client.application = client.application or {}
  client.application.id = app.id
  return app.id
end

function ApplicationCommandManager:_commandsPath(guildId)
  local path = "/applications/" .. self:_applicationId()
  guildId = guildId or self.guildId
  if guildId then path = path .. "/guilds/" .. guildId end
  return path .. "/commands"
end

-- Which manager caches commands of `guildId`: this one for its own scope, the guild's for another
-- cached guild, none otherwise.
function ApplicationCommandManager:_cacheFor(guildId)
  if guildId == self.guildId then return self end
  local guild = guildId and self.client.guilds and self.client.guilds.cache:get(guildId)
  if guild and guild.commands then return guild.commands end
  return nil
end

function ApplicationCommandManager:_addTo(data, guildId, cache)
  local owner = self:_cacheFor(guildId)
  if owner then return owner:_add(data, cache) end
  return self.holds(self.client, data)
end

--- The ID of a command given as an object, an ID or (for cached commands) a name.
---@param x any
---@return discord.Snowflake? id
function ApplicationCommandManager:resolveId(x)
  if type(x) == "string" and not x:match("^%d+$") then
    local hit = self.cache:find(function(c) return c.name == x end)
    return hit and hit.id or nil
  end
  return base.CachingManager.resolveId(self, x)
end

local function scope(self, opts)
  return guildIdOf(opts and (opts.guildId or opts.guild)) or self.guildId
end

--- `fetch(id [, opts])`: one command; `fetch([opts])`: a Collection of every command of the scope.
--- Raises an error when `id` is not a command; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id? any The command, its ID or cached name; absent fetches all.
---@param opts? discord.FetchCommandsOptions
---@return discord.ApplicationCommand|discord.Collection result
function ApplicationCommandManager:fetch(id, opts)
  if type(id) == "table" and not util.instanceOf(id, self.holds) then id, opts = nil, id end
  opts = opts or {}
  local guildId = scope(self, opts)
  if id ~= nil then
    local key = self:resolveId(id)
    if key == nil then error("ApplicationCommandManager:fetch: not a command: " .. tostring(id), 2) end
    local owner = self:_cacheFor(guildId)
    if not opts.force and owner then
      local hit = owner.cache:get(key)
      if hit then return hit end
    end
    local data = self.client.rest:get(self:_commandsPath(guildId) .. "/" .. key)
    return self:_addTo(data, guildId, opts.cache ~= false)
  end
  local query = opts.withLocalizations and { with_localizations = "true" } or nil
  local list = self.client.rest:get(self:_commandsPath(guildId), { query = query })
  local Collection = require("discord.collection").Collection
  local out = Collection()
  local owner = self:_cacheFor(guildId)
  if owner and opts.cache ~= false then owner.cache:clear() end
  for _, data in ipairs(list or {}) do out:set(data.id, self:_addTo(data, guildId, opts.cache ~= false)) end
  return out
end

--- Options of `ApplicationCommandManager:fetch` and `:sync`.
---@class discord.FetchCommandsOptions
---@field guildId? discord.Snowflake Another guild's commands (or `guild`).
---@field guild? discord.Guild|discord.Snowflake A guild whose commands to fetch (or `guildId`).
---@field force? boolean Ask Discord even when cached (one command).
---@field cache? boolean Keep the fetched commands (true).
---@field withLocalizations? boolean Include every localization (a list).
local function commandData(c)
  local ok, data = pcall(util.provided("command builders").resolveCommand, c)
  if not ok then error(data, 3) end
  return data
end

--- Registers a command; an existing command of that name and type is replaced.
--- Raises an error for a bad builder; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param command table A command builder or the API's command data.
---@param guildId? discord.Guild|discord.Snowflake Another guild than the manager's.
---@return discord.ApplicationCommand command
function ApplicationCommandManager:create(command, guildId)
  guildId = guildIdOf(guildId) or self.guildId
  local data = self.client.rest:post(self:_commandsPath(guildId), { body = commandData(command) })
  return self:_addTo(data, guildId, true)
end

--- Edits a command; `data` is a builder or the fields to change.
--- Raises an error when `command` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param command any The command, its ID or cached name.
---@param data table A command builder or the API's fields to change.
---@param guildId? discord.Guild|discord.Snowflake Another guild than the manager's.
---@return discord.ApplicationCommand command
function ApplicationCommandManager:edit(command, data, guildId)
  guildId = guildIdOf(guildId) or (type(command) == "table" and command.guildId) or self.guildId
  local id = self:resolveId(command)
  if id == nil then error("ApplicationCommandManager:edit: not a command: " .. tostring(command), 2) end
  local res = self.client.rest:patch(self:_commandsPath(guildId) .. "/" .. id, { body = commandData(data) })
  return self:_addTo(res, guildId, true)
end

--- Deletes a command; returns the cached object when there was one.
--- Raises an error when `command` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param command any The command, its ID or cached name.
---@param guildId? discord.Guild|discord.Snowflake Another guild than the manager's.
---@return discord.ApplicationCommand? command
function ApplicationCommandManager:delete(command, guildId)
  guildId = guildIdOf(guildId) or (type(command) == "table" and command.guildId) or self.guildId
  local id = self:resolveId(command)
  if id == nil then error("ApplicationCommandManager:delete: not a command: " .. tostring(command), 2) end
  self.client.rest:delete(self:_commandsPath(guildId) .. "/" .. id)
  local owner = self:_cacheFor(guildId)
  return owner and owner:_remove(id) or nil
end

--- Replaces every command of the scope with `commands` in one request; returns the new Collection.
--- Raises an error for a bad builder; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param commands table[] Command builders or the API's command data.
---@param guildId? discord.Guild|discord.Snowflake Another guild than the manager's.
---@return discord.Collection commands
function ApplicationCommandManager:set(commands, guildId)
  guildId = guildIdOf(guildId) or self.guildId
  local body = json.array(util.map(commands, commandData))
  local list = self.client.rest:put(self:_commandsPath(guildId), { body = body })
  local Collection = require("discord.collection").Collection
  local out = Collection()
  local owner = self:_cacheFor(guildId)
  if owner then owner.cache:clear() end
  for _, data in ipairs(list or {}) do out:set(data.id, self:_addTo(data, guildId, true)) end
  return out
end

-- Sync --------------------------------------------------------------------------------------------------

--- Options of `ApplicationCommandManager:sync`.
---@class discord.CommandSyncOptions
---@field guildId? discord.Snowflake Another guild than the manager's (or `guild`).
---@field guild? discord.Guild|discord.Snowflake Another guild than the manager's (or `guildId`).
---@field dryRun? boolean Only compare; send nothing.
---@field keep? boolean Do not delete registered commands the builders lack.

--- What `ApplicationCommandManager:sync` did (or would do): lists of {name=, type=, command=, data=}.
---@class discord.CommandSyncDiff
---@field created table[] New commands; `command` is the registered one after the sync.
---@field updated table[] Changed commands.
---@field deleted table[] Registered commands the builders lack.
---@field unchanged table[] Commands already as the builders say.
local function keyOf(data)
  return tostring(data.type or 1) .. ":" .. tostring(data.name)
end

-- A PATCH leaves absent fields as they are, so a field the builder leaves out is reset explicitly. An edit
-- cannot change the type, and Discord refuses the field.
local function fullEdit(data)
  local out = util.deepCopy(data)
  out.type = nil
  if out.options == nil then out.options = json.array({}) end
  for _, k in ipairs({ "name_localizations", "description_localizations", "default_member_permissions",
    "contexts" }) do
    if out[k] == nil then out[k] = json.null end
  end
  if out.nsfw == nil then out.nsfw = false end
  if out.integration_types == nil then out.integration_types = json.array({ 0 }) end
  return out
end

--- Makes the registered commands match `builders`, sending only the differences; returns the diff.
--- Raises an error for a bad or duplicate builder (before sending anything); `discord.DiscordAPIError` when refused.
---@async
---@param builders table[] Command builders or the API's command data.
---@param opts? discord.CommandSyncOptions
---@return discord.CommandSyncDiff diff
function ApplicationCommandManager:sync(builders, opts)
  opts = opts or {}
  if type(builders) ~= "table" then error("ApplicationCommandManager:sync: builders must be a list", 2) end
  local guildId = scope(self, opts)
  local C = commandModule()
  -- Every builder is checked before anything is sent, so a bad one leaves Discord untouched.
  local wanted, order = {}, {}
  for i, b in ipairs(builders) do
    local ok, data = pcall(util.provided("command builders").resolveCommand, b)
    if not ok then error(data, 2) end
    if type(data.name) ~= "string" then error("ApplicationCommandManager:sync: command " .. i .. " has no name", 2) end
    local key = keyOf(data)
    if wanted[key] then error("ApplicationCommandManager:sync: two commands are named " .. data.name, 2) end
    wanted[key] = data
    order[#order + 1] = key
  end
  local registered = self:fetch({ guildId = guildId, withLocalizations = true, cache = not opts.dryRun })
  local diff = { created = {}, updated = {}, deleted = {}, unchanged = {} }
  local seen = {}
  for _, cmd in registered:iter() do
    local api = cmd:toAPI()
    local key = keyOf(api)
    local want = wanted[key]
    local entry = { name = cmd.name, type = cmd.type, command = cmd }
    if want == nil then
      if not opts.keep then diff.deleted[#diff.deleted + 1] = entry end
    else
      seen[key] = true
      entry.data = want
      if json.encode(C.normalize(api)) == json.encode(C.normalize(want)) then
        diff.unchanged[#diff.unchanged + 1] = entry
      else
        diff.updated[#diff.updated + 1] = entry
      end
    end
  end
  for _, key in ipairs(order) do
    if not seen[key] then
      local data = wanted[key]
      diff.created[#diff.created + 1] = { name = data.name, type = data.type or 1, data = data }
    end
  end
  if opts.dryRun then return diff end
  -- Deletes first, so that a scope near Discord's command limit has room for the new ones.
  for _, e in ipairs(diff.deleted) do self:delete(e.command.id, guildId) end
  for _, e in ipairs(diff.updated) do e.command = self:edit(e.command.id, fullEdit(e.data), guildId) end
  for _, e in ipairs(diff.created) do e.command = self:create(e.data, guildId) end
  return diff
end

return M
