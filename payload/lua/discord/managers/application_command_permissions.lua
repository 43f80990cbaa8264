-- Permission overwrites of application commands in a guild. A bot reads them with its own token;
-- changing them needs a user's Bearer token with the applications.commands.permissions.update scope.
local util = require("discord.util")
local json = require("json")
local enums = require("discord.enums")
local base = require("discord.managers.base")

local M = {}

local PermissionType = enums.ApplicationCommandPermissionType
-- At most this many overwrites per command.
local MAX_PERMISSIONS = 100

--- Permission overwrites of application commands in a guild (`commands.permissions`, `command.permissions`).
---@class discord.ApplicationCommandPermissionsManager: discord.BaseManager
---@field guildId discord.Snowflake? The guild it is scoped to, if any.
---@field command discord.ApplicationCommand? The command it is scoped to, if any.
---@field commandId discord.Snowflake? The ID of that command.
---@field manager discord.ApplicationCommandManager? The command manager that made it.
local Manager = util.class("ApplicationCommandPermissionsManager", base.BaseManager)
M.ApplicationCommandPermissionsManager = Manager

--- `ApplicationCommandPermissionsManager(client, {guildId=, command=, manager=})`: scoped to a guild
--- and/or a command when given; every method also takes `guild` and `command` in its options.
---@private
---@param client discord.Client
---@param scope? {guildId?: discord.Snowflake, command?: discord.ApplicationCommand, manager?: table}
function Manager:init(client, scope)
  base.BaseManager.init(self, client)
  scope = scope or {}
  self.guildId = scope.guildId
  self.command = scope.command
  self.commandId = scope.command and scope.command.id or nil
  self.manager = scope.manager
end

local function idOf(x)
  if type(x) == "table" then return x.id and tostring(x.id) or nil end
  if x == nil then return nil end
  return tostring(x)
end

function Manager:_target(opts, needCommand, level)
  opts = opts or {}
  local guildId = idOf(opts.guild or opts.guildId) or self.guildId
  if guildId == nil then error("ApplicationCommandPermissionsManager: a guild is needed", level + 1) end
  local commandId = idOf(opts.command or opts.commandId) or self.commandId
  if commandId and not commandId:match("^%d+$") and self.manager then
    commandId = self.manager:resolveId(commandId)
  end
  if needCommand and commandId == nil then
    error("ApplicationCommandPermissionsManager: a command is needed", level + 1)
  end
  local appId = self.client.application and self.client.application.id or (self.client.user and self.client.user.id)
  if appId == nil then error("ApplicationCommandPermissionsManager: the client is not logged in", level + 1) end
  return appId, guildId, commandId
end

local function path(appId, guildId, commandId)
  local p = "/applications/" .. appId .. "/guilds/" .. guildId .. "/commands/"
  return p .. (commandId or "") .. (commandId and "/" or "") .. "permissions"
end

-- {id=, type="Role"|"User"|"Channel"|n, permission=bool} -> the API form.
local function permissionJSON(p, level)
  if type(p) ~= "table" or p.id == nil then
    error("ApplicationCommandPermissionsManager: a permission is {id=, type=, permission=}", level + 1)
  end
  local t = type(p.type) == "string" and rawget(PermissionType, p.type) or p.type
  if not enums.has(PermissionType, t) then
    error("ApplicationCommandPermissionsManager: unknown permission type " .. tostring(p.type), level + 1)
  end
  if type(p.permission) ~= "boolean" then
    error("ApplicationCommandPermissionsManager: permission must be true or false", level + 1)
  end
  return { id = tostring(p.id), type = t, permission = p.permission }
end

--- One permission overwrite of an application command.
---@class discord.ApplicationCommandPermission
---@field id discord.Snowflake The role, user or channel (the guild ID: @everyone; guild ID - 1: all channels).
---@field type integer|string discord.ApplicationCommandPermissionType (Role, User, Channel) or its name.
---@field permission boolean Whether it allows the command.

--- Options of the methods of `ApplicationCommandPermissionsManager`.
---@class discord.CommandPermissionsOptions
---@field guild? discord.Guild|discord.Snowflake The guild (or `guildId`), unless the manager has one.
---@field guildId? discord.Snowflake The guild's ID (or `guild`).
---@field command? any The command, its ID or cached name (or `commandId`), unless the manager has one.
---@field commandId? discord.Snowflake The command's ID (or `command`).
---@field token? string A user's Bearer token with the applications.commands.permissions.update scope (edits).
---@field permissions? discord.ApplicationCommandPermission[] For `set` and `add`.
---@field users? any|any[] For `remove`: users or IDs.
---@field roles? any|any[] For `remove`: roles or IDs.
---@field channels? any|any[] For `remove`: channels or IDs.
---@field permissionId? any For `has`: the role, user or channel (or ID).
---@field permissionType? integer|string For `has`: only an overwrite of this type.
local function fromAPI(list)
  return util.map(list or {}, function(p) return { id = p.id, type = p.type, permission = p.permission } end)
end

--- The overwrites of one command as a list; without a command, a Collection of command ID -> list.
--- Raises an error without a guild or before login; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? discord.CommandPermissionsOptions `guild` and `command` are used.
---@return discord.ApplicationCommandPermission[]|discord.Collection result
function Manager:fetch(opts)
  local appId, guildId, commandId = self:_target(opts, false, 2)
  local rest = self.client.rest
  if commandId then
    local data = rest:get(path(appId, guildId, commandId))
    return fromAPI(data.permissions)
  end
  local out = require("discord.collection").Collection()
  for _, entry in ipairs(rest:get(path(appId, guildId, nil)) or {}) do
    out:set(entry.id, fromAPI(entry.permissions))
  end
  return out
end

local function bearer(opts, level)
  local token = opts and opts.token
  if type(token) ~= "string" or token == "" then
    error("ApplicationCommandPermissionsManager: editing permissions needs a user's Bearer token (opts.token)",
      level + 1)
  end
  return { auth = false, headers = { Authorization = "Bearer " .. token } }
end

--- Replaces a command's overwrites (at most 100); returns them. Needs `opts.token`.
--- Raises an error without a guild, command or token, or for a bad overwrite; `discord.DiscordAPIError` when refused.
---@async
---@param opts discord.CommandPermissionsOptions
---@return discord.ApplicationCommandPermission[] permissions
function Manager:set(opts)
  local appId, guildId, commandId = self:_target(opts, true, 2)
  local req = bearer(opts, 2)
  local list = util.map(opts.permissions or {}, function(p) return permissionJSON(p, 4) end)
  if #list > MAX_PERMISSIONS then
    error("ApplicationCommandPermissionsManager: at most " .. MAX_PERMISSIONS .. " overwrites per command", 2)
  end
  req.body = { permissions = json.array(list) }
  local data = self.client.rest:put(path(appId, guildId, commandId), req)
  return fromAPI(data and data.permissions)
end

--- Adds or replaces overwrites by ID, keeping the others; returns them all. Needs `opts.token`.
--- Raises an error without a guild, command or token, or for a bad overwrite; `discord.DiscordAPIError` when refused.
---@async
---@param opts discord.CommandPermissionsOptions
---@return discord.ApplicationCommandPermission[] permissions
function Manager:add(opts)
  local current = self:_current(opts)
  local byId = {}
  for i, p in ipairs(current) do byId[p.id] = i end
  for _, p in ipairs(opts.permissions or {}) do
    local j = permissionJSON(p, 2)
    if byId[j.id] then
      current[byId[j.id]] = j
    else
      current[#current + 1] = j
      byId[j.id] = #current
    end
  end
  return self:set({ guild = opts.guild or opts.guildId, command = opts.command or opts.commandId,
    permissions = current, token = opts.token })
end

--- Drops the overwrites of the given users, roles and channels; returns the rest. Needs `opts.token`.
--- Raises an error without a guild, command or token; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.CommandPermissionsOptions
---@return discord.ApplicationCommandPermission[] permissions
function Manager:remove(opts)
  local drop = {}
  for _, key in ipairs({ "users", "roles", "channels" }) do
    local list = opts[key]
    if list ~= nil and type(list) ~= "table" then list = { list } end
    for _, x in ipairs(list or {}) do drop[idOf(x)] = true end
  end
  local kept = util.filter(self:_current(opts), function(p) return not drop[p.id] end)
  return self:set({ guild = opts.guild or opts.guildId, command = opts.command or opts.commandId,
    permissions = kept, token = opts.token })
end

--- Whether the command has an overwrite for `permissionId` (of `permissionType` when given).
--- Raises an error without a guild or command; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.CommandPermissionsOptions
---@return boolean has
function Manager:has(opts)
  local id = idOf(opts.permissionId)
  local t = opts.permissionType
  if type(t) == "string" then t = rawget(PermissionType, t) end
  for _, p in ipairs(self:_current(opts)) do
    if p.id == id and (t == nil or p.type == t) then return true end
  end
  return false
end

-- The overwrites now; a command without any answers 10066, which means an empty list.
function Manager:_current(opts)
  local ok, res = pcall(self.fetch, self, { guild = opts.guild or opts.guildId, command = opts.command
    or opts.commandId })
  if ok then return res end
  if require("discord.errors").is(res, "DiscordAPIError", 10066) then return {} end
  error(res, 0)
end

-- Gateway events -----------------------------------------------------------------------------------------

base.handlers.APPLICATION_COMMAND_PERMISSIONS_UPDATE = function(client, packet)
  local d = packet.d
  client:emit("applicationCommandPermissionsUpdate", {
    id = d.id, applicationId = d.application_id, guildId = d.guild_id,
    permissions = util.map(d.permissions or {}, function(p)
      return { id = p.id, type = p.type, permission = p.permission }
    end),
  })
end

return M
