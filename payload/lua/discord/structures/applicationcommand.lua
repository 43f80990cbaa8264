-- A registered application command, and the normal form in which a builder and a registered command
-- compare equal when they would behave the same (defaults filled in, absent and empty alike).
local util = require("discord.util")
local json = require("json")
local enums = require("discord.enums")
local Base = require("discord.managers.base").Base

local M = {}

local OptionType = enums.ApplicationCommandOptionType
local CommandType = enums.ApplicationCommandType

-- Normal form ---------------------------------------------------------------------------------------------

local function present(v)
  return v ~= nil and v ~= json.null
end

-- Localizations: nil, null and {} all mean none.
local function locales(map)
  if not present(map) or next(map) == nil then return nil end
  local out = {}
  for k, v in pairs(map) do
    if present(v) then out[k] = v end
  end
  if next(out) == nil then return nil end
  return out
end

local function sortedList(list)
  if not present(list) then return nil end
  local out = {}
  for i, v in ipairs(list) do out[i] = v end
  table.sort(out)
  return json.array(out)
end

local function normalOption(o)
  local out = {
    type = o.type,
    name = o.name,
    description = o.description or "",
    name_localizations = locales(o.name_localizations or o.nameLocalizations),
    description_localizations = locales(o.description_localizations or o.descriptionLocalizations),
  }
  local sub = o.type == OptionType.Subcommand or o.type == OptionType.SubcommandGroup
  if not sub then
    out.required = o.required == true
    out.autocomplete = o.autocomplete == true
  end
  local choices = o.choices
  if present(choices) and #choices > 0 then
    out.choices = json.array(util.map(choices, function(c)
      return { name = c.name, value = c.value, name_localizations = locales(c.name_localizations) }
    end))
  end
  for _, k in ipairs({ "min_value", "max_value", "min_length", "max_length" }) do
    if present(o[k]) then out[k] = o[k] end
  end
  local types = o.channel_types or o.channelTypes
  if present(types) and #types > 0 then out.channel_types = sortedList(types) end
  local options = o.options
  if present(options) and #options > 0 then out.options = json.array(util.map(options, normalOption)) end
  return out
end

--- The comparable form of a command's API data (from a builder or from Discord): defaults filled in.
---@param data table The API's command data.
---@return table normal
function M.normalize(data)
  local t = data.type or CommandType.ChatInput
  local out = {
    type = t,
    name = data.name,
    description = t == CommandType.ChatInput and (data.description or "") or "",
    name_localizations = locales(data.name_localizations),
    description_localizations = locales(data.description_localizations),
    nsfw = data.nsfw == true,
    default_member_permissions = present(data.default_member_permissions)
      and tostring(data.default_member_permissions) or nil,
    -- Discord fills in guild install when none is given.
    integration_types = sortedList(present(data.integration_types) and data.integration_types or { 0 }),
    contexts = sortedList(data.contexts),
  }
  local options = data.options
  if present(options) and #options > 0 then out.options = json.array(util.map(options, normalOption)) end
  return out
end

-- Options (and their choices) sorted by name, for comparing without regard to order.
local function sortOptions(list)
  if list == nil then return nil end
  local out = {}
  for i, o in ipairs(list) do
    local c = util.shallowCopy(o)
    c.options = sortOptions(o.options)
    if c.choices then
      c.choices = json.array({ table.unpack(c.choices) })
      table.sort(c.choices, function(x, y) return tostring(x.name) < tostring(y.name) end)
    end
    out[i] = c
  end
  table.sort(out, function(x, y) return tostring(x.name) < tostring(y.name) end)
  return json.array(out)
end

--- True when two commands (API data, builders or ApplicationCommands) are the same to Discord.
--- Raises an error when either is not a command.
---@param a table
---@param b table
---@param enforceOptionOrder? boolean Options in another order differ (Discord shows them in order).
---@return boolean same
function M.same(a, b, enforceOptionOrder)
  local function form(x)
    local data = util.instanceOf(x, M.ApplicationCommand) and x:toAPI()
      or util.provided("command builders").resolveCommand(x)
    local n = M.normalize(data)
    if not enforceOptionOrder then n.options = sortOptions(n.options) end
    return json.encode(n)
  end
  return form(a) == form(b)
end

-- ApplicationCommand --------------------------------------------------------------------------------------

--- A registered application command: slash command or user or message context menu command.
---@class discord.ApplicationCommand: discord.Base
---@field id discord.Snowflake The command's ID.
---@field type integer discord.ApplicationCommandType: 1 ChatInput, 2 User, 3 Message, 4 PrimaryEntryPoint.
---@field applicationId discord.Snowflake The application that owns it.
---@field guildId discord.Snowflake? Nil for a global command.
---@field name string The command's name.
---@field nameLocalizations table<string, string>? Names by locale.
---@field description string Empty for context menu commands.
---@field descriptionLocalizations table<string, string>? Descriptions by locale.
---@field options table[] The options in camelCase (type, name, description, required, choices, options, ...).
---@field defaultMemberPermissions discord.PermissionsBitField? Who may use it by default; nil for everyone.
---@field nsfw boolean? Whether it is age-restricted.
---@field contexts integer[]? discord.InteractionContextType values where it can be used.
---@field integrationTypes integer[]? discord.ApplicationIntegrationType values (guild or user install).
---@field dmPermission boolean? Whether it can be used in DMs (deprecated: see contexts).
---@field version discord.Snowflake Changes with every update of the command.
---@field handler integer? discord.EntryPointCommandHandlerType of an entry point command.
---@field createdTimestamp discord.Milliseconds (read-only).
---@field guild discord.Guild? The guild of a guild command, when known (read-only).
---@field manager discord.ApplicationCommandManager The guild's or the application's commands (read-only).
---@field permissions discord.ApplicationCommandPermissionsManager This command's permissions (read-only).
local ApplicationCommand = util.class("ApplicationCommand", Base)
M.ApplicationCommand = ApplicationCommand

local FIELDS = {
  application_id = "applicationId",
  guild_id = "guildId",
  name = "name",
  name_localizations = "nameLocalizations",
  description = "description",
  description_localizations = "descriptionLocalizations",
  nsfw = "nsfw",
  contexts = "contexts",
  integration_types = "integrationTypes",
  dm_permission = "dmPermission",
  version = "version",
  handler = "handler",
}

-- Options in camelCase, as discord.js users read them.
local function optionOut(o)
  local out = {
    type = o.type, name = o.name, description = o.description, required = o.required == true,
    nameLocalizations = util.nullable(o.name_localizations),
    descriptionLocalizations = util.nullable(o.description_localizations),
    autocomplete = o.autocomplete, minValue = o.min_value, maxValue = o.max_value,
    minLength = o.min_length, maxLength = o.max_length, channelTypes = o.channel_types,
  }
  if present(o.choices) then
    out.choices = util.map(o.choices, function(c)
      return { name = c.name, value = c.value, nameLocalizations = util.nullable(c.name_localizations) }
    end)
  end
  if present(o.options) then out.options = util.map(o.options, optionOut) end
  return out
end

--- `ApplicationCommand(client, data, guild)`; `guild` (optional) is the guild of a guild command.
---@private
---@param client discord.Client
---@param data table
---@param guild? discord.Guild
function ApplicationCommand:init(client, data, guild)
  Base.init(self, client)
  self.id = data.id
  self.type = data.type or CommandType.ChatInput
  self._guild = guild
  self:_patch(data)
end

function ApplicationCommand:_patch(data)
  self:_copy(data, FIELDS)
  if data.type ~= nil then self.type = data.type end
  if data.default_member_permissions ~= nil then
    local v = util.nullable(data.default_member_permissions)
    self.defaultMemberPermissions = v and require("discord.bitfield").PermissionsBitField(v):freeze() or nil
  end
  if data.options ~= nil then
    self._options = util.nullable(data.options) or {}
    self.options = util.map(self._options, optionOut)
  elseif self.options == nil then
    self._options, self.options = {}, {}
  end
  return self
end

ApplicationCommand.getters.createdTimestamp = function(self)
  return require("discord.snowflake").timestamp(self.id)
end

ApplicationCommand.getters.guild = function(self)
  if self._guild then return self._guild end
  if self.guildId and self.client and self.client.guilds then return self.client.guilds.cache:get(self.guildId) end
  return nil
end

ApplicationCommand.getters.manager = function(self)
  local client = self.client
  if self.guildId then
    local guild = self.guild
    if guild and guild.commands then return guild.commands end
    return require("discord.managers.application_command").ApplicationCommandManager(client, self.guildId)
  end
  return client.application and client.application.commands
    or require("discord.managers.application_command").ApplicationCommandManager(client)
end

ApplicationCommand.getters.permissions = function(self)
  local P = require("discord.managers.application_command_permissions").ApplicationCommandPermissionsManager
  return P(self.client, { command = self, guildId = self.guildId })
end

--- The API form of the command as registered.
---@return table data
function ApplicationCommand:toAPI()
  local perms = self.defaultMemberPermissions
  return {
    id = self.id, application_id = self.applicationId, guild_id = self.guildId, type = self.type,
    name = self.name, name_localizations = self.nameLocalizations, description = self.description or "",
    description_localizations = self.descriptionLocalizations, options = json.array(util.deepCopy(self._options)),
    default_member_permissions = perms and require("discord.bitfield").unsignedString(perms.bitfield) or json.null,
    nsfw = self.nsfw, contexts = self.contexts, integration_types = self.integrationTypes, version = self.version,
  }
end

--- True when `other` (a builder, API data or command) would register as this command.
---@param other table
---@param enforceOptionOrder? boolean Options in another order differ.
---@return boolean equal
function ApplicationCommand:equals(other, enforceOptionOrder)
  return M.same(self, other, enforceOptionOrder)
end

--- Edits the command; `data` is a builder or partial API data.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param data table
---@return discord.ApplicationCommand command
function ApplicationCommand:edit(data)
  return self.manager:edit(self, data)
end

--- Deletes the command from Discord; returns the cached object when there was one.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.ApplicationCommand? command
function ApplicationCommand:delete()
  return self.manager:delete(self)
end

--- Fetches the command again.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.ApplicationCommand command
function ApplicationCommand:fetch()
  return self.manager:fetch(self.id, { force = true })
end

for _, pair in ipairs({
  { "setName", "name" }, { "setDescription", "description" }, { "setNameLocalizations", "name_localizations" },
  { "setDescriptionLocalizations", "description_localizations" }, { "setNSFW", "nsfw" },
  { "setOptions", "options" }, { "setContexts", "contexts" }, { "setIntegrationTypes", "integration_types" },
}) do
  --- Edits one field: setName, setDescription, setNameLocalizations, setDescriptionLocalizations, setNSFW,
  --- setOptions (API data), setContexts, setIntegrationTypes.
  --- Raises `discord.DiscordAPIError` when Discord refuses it.
  ---@async
  ---@param value any The field's new value in the API's form.
  ---@return discord.ApplicationCommand command
  ApplicationCommand[pair[1]] = function(self, value)
    return self:edit({ [pair[2]] = value })
  end
end

--- Sets who may use the command by default (nil: everyone; 0: administrators only).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param perms? discord.PermissionResolvable
---@return discord.ApplicationCommand command
function ApplicationCommand:setDefaultMemberPermissions(perms)
  local v = json.null
  if perms ~= nil then
    local bitfield = require("discord.bitfield")
    v = bitfield.unsignedString(bitfield.PermissionsBitField:resolve(perms))
  end
  return self:edit({ default_member_permissions = v })
end

--- The mention of a slash command ("</name:id>"); the name of a context menu command.
---@return string text
function ApplicationCommand:toString()
  if self.type == CommandType.ChatInput then return "</" .. self.name .. ":" .. self.id .. ">" end
  return self.name
end
ApplicationCommand.__tostring = ApplicationCommand.toString

return M
