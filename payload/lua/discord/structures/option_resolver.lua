-- The options of a command interaction, typed: getString, getUser, getSubcommand and the rest, with
-- the users, members, roles, channels, messages and attachments Discord resolved for them.
local util = require("discord.util")
local json = require("json")
local errors = require("discord.errors")
local enums = require("discord.enums")

local M = {}

local OptionType = enums.ApplicationCommandOptionType
local TYPE_NAMES = {}
for name, v in pairs(OptionType) do
  if math.type(v) == "integer" then TYPE_NAMES[v] = name end
end

local function fail(code, ...)
  error(errors.LibraryError(code, ...), 3)
end

local function typeName(t)
  return TYPE_NAMES[t] or tostring(t)
end

-- Resolved data -------------------------------------------------------------------------------------------

-- Most interactions resolve nothing, or one kind: a kind's collection is made when first read.
local KINDS = { users = true, members = true, roles = true, channels = true, messages = true, attachments = true }
local Resolved = {
  __index = function(t, kind)
    if not KINDS[kind] then return nil end
    local c = require("discord.collection").Collection()
    rawset(t, kind, c)
    return c
  end,
}

--- Collections of the users, members, roles, channels, messages and attachments of an interaction's
--- `data.resolved`; cached objects stay the ones the bot holds.
---@private
---@param client discord.Client
---@param guildId? discord.Snowflake
---@param raw? table
---@return table resolved
local function resolveData(client, guildId, raw)
  local out = setmetatable({}, Resolved)
  if type(raw) ~= "table" then return out end
  local guild = guildId and client.guilds.cache:get(guildId) or nil
  for id, u in pairs(raw.users or {}) do out.users:set(id, client.users:_add(u)) end
  for id, m in pairs(raw.members or {}) do
    local data = util.shallowCopy(m)
    setmetatable(data, nil)
    data.user = data.user or (raw.users and raw.users[id])
    if guild and data.user then
      local member = guild.members:_add(data)
      -- Interaction payloads carry the member's permissions in the channel.
      if m.permissions then member._interactionPermissions = m.permissions end
      out.members:set(id, member)
    else
      out.members:set(id, data)
    end
  end
  for id, r in pairs(raw.roles or {}) do
    local role = guild and guild.roles.cache:get(id)
    if role then
      role:_patch(r)
    elseif guild then
      role = guild.roles:_add(r)
    else
      role = r
    end
    out.roles:set(id, role)
  end
  for id, c in pairs(raw.channels or {}) do
    local channel = client.channels.cache:get(id)
    if not channel then
      local data = util.shallowCopy(c)
      setmetatable(data, nil)
      data.guild_id = data.guild_id or guildId
      channel = client.channels:_add(data, nil, { cache = false })
    end
    out.channels:set(id, channel)
  end
  for id, m in pairs(raw.messages or {}) do
    local channel = client.channels.cache:get(m.channel_id)
    local msg
    if channel and channel.messages then
      msg = channel.messages:_add(m)
    else
      msg = require("discord.message").Message(client, m, channel)
    end
    out.messages:set(id, msg)
  end
  local Attachment = require("discord.structures.attachment").Attachment
  for id, a in pairs(raw.attachments or {}) do out.attachments:set(id, Attachment(client, a)) end
  return out
end
M.resolveData = resolveData

-- Resolver ------------------------------------------------------------------------------------------------

local CommandInteractionOptionResolver = util.class("CommandInteractionOptionResolver")
CommandInteractionOptionResolver.__fields = 4
M.CommandInteractionOptionResolver = CommandInteractionOptionResolver

--- One raw option as a discord.CommandInteractionOption, with its resolved objects.
---@private
---@param opt table
---@param resolved table
---@return discord.CommandInteractionOption option
local function transform(opt, resolved)
  local out = { name = opt.name, type = opt.type, value = opt.value, focused = opt.focused == true }
  local v = opt.value
  local t = opt.type
  if t == OptionType.User or t == OptionType.Mentionable then
    out.user = resolved.users:get(v)
    out.member = resolved.members:get(v)
  end
  if t == OptionType.Role or t == OptionType.Mentionable then out.role = resolved.roles:get(v) end
  if t == OptionType.Channel then out.channel = resolved.channels:get(v) end
  if t == OptionType.Attachment then out.attachment = resolved.attachments:get(v) end
  if opt.options then
    out.options = util.map(opt.options, function(o) return transform(o, resolved) end)
  end
  return out
end
M.transformOption = transform

--- `CommandInteractionOptionResolver(client, options, resolved, guildId)`: `options` is the raw
--- `data.options` of the interaction, `resolved` its raw `data.resolved` (or an already resolved set).
---@private
---@param client discord.Client
---@param options? table[]
---@param resolved? table
---@param guildId? discord.Snowflake
function CommandInteractionOptionResolver:init(client, options, resolved, guildId)
  self.client = client
  if type(resolved) == "table" and getmetatable(resolved.users) ~= nil then
    self.resolved = resolved
  else
    self.resolved = resolveData(client, guildId, resolved)
  end
  local data, resolvedData = {}, self.resolved
  for i, o in ipairs(options or data) do data[i] = transform(o, resolvedData) end
  self.data = data
  self._group, self._subcommand = nil, nil
  local hoisted = self.data
  local first = hoisted[1]
  if first and first.type == OptionType.SubcommandGroup then
    self._group = first.name
    hoisted = first.options or {}
    first = hoisted[1]
  end
  if first and first.type == OptionType.Subcommand then
    self._subcommand = first.name
    hoisted = first.options or {}
  end
  self._hoistedOptions = hoisted
end

--- The option named `name` (of the selected subcommand), or nil.
--- Raises `discord.LibraryError` CommandInteractionOptionNotFound when it is missing and `required`.
---@param name string
---@param required? boolean
---@return discord.CommandInteractionOption? option
function CommandInteractionOptionResolver:get(name, required)
  if type(name) ~= "string" then error("get: the option name must be a string", 2) end
  for _, o in ipairs(self._hoistedOptions) do
    if o.name == name then return o end
  end
  if required then fail("CommandInteractionOptionNotFound", name) end
  return nil
end

-- The option when it has one of `types`; the property asked for must be present when required.
local function typed(self, name, types, property, required)
  local opt = self:get(name, required)
  if not opt then return nil end
  local okType = false
  for _, t in ipairs(types) do okType = okType or opt.type == t end
  if not okType then
    fail("CommandInteractionOptionType", name, typeName(opt.type),
      table.concat(util.map(types, typeName), " or "))
  end
  local v = opt[property]
  if required and (v == nil or v == json.null) then
    fail("CommandInteractionOptionEmpty", name, typeName(opt.type))
  end
  return opt
end

--- The selected subcommand's name.
--- Raises `discord.LibraryError` CommandInteractionOptionNoSubcommand when there is none, unless `required` is false.
---@param required? boolean True by default.
---@return string? name
function CommandInteractionOptionResolver:getSubcommand(required)
  if required == nil then required = true end
  if required and not self._subcommand then fail("CommandInteractionOptionNoSubcommand") end
  return self._subcommand
end

--- The selected subcommand group's name, or nil.
--- Raises `discord.LibraryError` CommandInteractionOptionNoSubcommandGroup when there is none and `required`.
---@param required? boolean
---@return string? name
function CommandInteractionOptionResolver:getSubcommandGroup(required)
  if required and not self._group then fail("CommandInteractionOptionNoSubcommandGroup") end
  return self._group
end

--- The value of a boolean option.
--- Raises `discord.LibraryError` when it is missing and `required`, or of another type.
---@param name string
---@param required? boolean
---@return boolean? value
function CommandInteractionOptionResolver:getBoolean(name, required)
  local o = typed(self, name, { OptionType.Boolean }, "value", required)
  if o == nil then return nil end
  return o.value
end

--- The channel of a channel option; with `channelTypes`, a channel of another type raises.
--- Raises `discord.LibraryError` when it is missing and `required`, of another type or channel type.
---@param name string
---@param required? boolean
---@param channelTypes? integer[] discord.ChannelType values allowed.
---@return discord.BaseChannel? channel
function CommandInteractionOptionResolver:getChannel(name, required, channelTypes)
  local o = typed(self, name, { OptionType.Channel }, "channel", required)
  if o == nil then return nil end
  local channel = o.channel
  if channel and channelTypes and #channelTypes > 0 and not util.contains(channelTypes, channel.type) then
    fail("CommandInteractionOptionInvalidChannelType", name, tostring(channel.type),
      table.concat(util.map(channelTypes, tostring), ", "))
  end
  return channel
end

--- The value of a string option.
--- Raises `discord.LibraryError` when it is missing and `required`, or of another type.
---@param name string
---@param required? boolean
---@return string? value
function CommandInteractionOptionResolver:getString(name, required)
  local o = typed(self, name, { OptionType.String }, "value", required)
  return o and o.value
end

--- The value of an integer option.
--- Raises `discord.LibraryError` when it is missing and `required`, or of another type.
---@param name string
---@param required? boolean
---@return integer? value
function CommandInteractionOptionResolver:getInteger(name, required)
  local o = typed(self, name, { OptionType.Integer }, "value", required)
  if o == nil then return nil end
  return math.tointeger(o.value) or o.value
end

--- The value of a number option.
--- Raises `discord.LibraryError` when it is missing and `required`, or of another type.
---@param name string
---@param required? boolean
---@return number? value
function CommandInteractionOptionResolver:getNumber(name, required)
  local o = typed(self, name, { OptionType.Number }, "value", required)
  return o and o.value
end

--- The user of a user or mentionable option.
--- Raises `discord.LibraryError` when it is missing and `required`, or of another type.
---@param name string
---@param required? boolean
---@return discord.User? user
function CommandInteractionOptionResolver:getUser(name, required)
  local o = typed(self, name, { OptionType.User, OptionType.Mentionable }, "user", required)
  return o and o.user
end

--- The member of a user option; nil when the user is not in the guild (Discord leaves it out).
--- Raises `discord.LibraryError` CommandInteractionOptionType for an option of another type.
---@param name string
---@return discord.GuildMember|table|nil member A plain table when the guild is not cached.
function CommandInteractionOptionResolver:getMember(name)
  local o = typed(self, name, { OptionType.User, OptionType.Mentionable }, "member", false)
  return o and o.member
end

--- The role of a role or mentionable option.
--- Raises `discord.LibraryError` when it is missing and `required`, or of another type.
---@param name string
---@param required? boolean
---@return discord.Role|table|nil role A plain table when the guild is not cached.
function CommandInteractionOptionResolver:getRole(name, required)
  local o = typed(self, name, { OptionType.Role, OptionType.Mentionable }, "role", required)
  return o and o.role
end

--- The file of an attachment option.
--- Raises `discord.LibraryError` when it is missing and `required`, or of another type.
---@param name string
---@param required? boolean
---@return discord.Attachment? attachment
function CommandInteractionOptionResolver:getAttachment(name, required)
  local o = typed(self, name, { OptionType.Attachment }, "attachment", required)
  return o and o.attachment
end

--- A member, user or role, whichever the option holds.
--- Raises `discord.LibraryError` when it is missing and `required`, or of another type.
---@param name string
---@param required? boolean
---@return discord.GuildMember|discord.User|discord.Role|table|nil value
function CommandInteractionOptionResolver:getMentionable(name, required)
  local o = self:get(name, required)
  if o == nil then return nil end
  if o.type ~= OptionType.Mentionable and o.type ~= OptionType.User and o.type ~= OptionType.Role then
    fail("CommandInteractionOptionType", name, typeName(o.type), "Mentionable")
  end
  local v = o.member or o.user or o.role
  if required and v == nil then fail("CommandInteractionOptionEmpty", name, typeName(o.type)) end
  return v
end

--- The message a message context menu command was used on.
--- Raises `discord.LibraryError` CommandInteractionOptionNotFound when it is missing and `required`.
---@param name string
---@param required? boolean
---@return discord.Message? message
function CommandInteractionOptionResolver:getMessage(name, required)
  local o = self:get(name, required)
  if o == nil then return nil end
  return o.message
end

--- The option the user is typing in (autocomplete): its value, or the whole option with `getFull`.
--- Raises `discord.LibraryError` AutocompleteInteractionOptionNoFocusedOption when none is focused.
---@param getFull? boolean
---@return any value The value, or the discord.CommandInteractionOption with `getFull`.
function CommandInteractionOptionResolver:getFocused(getFull)
  for _, o in ipairs(self._hoistedOptions) do
    if o.focused then
      if getFull then return o end
      return o.value
    end
  end
  fail("AutocompleteInteractionOptionNoFocusedOption")
end

--- The options as plain tables: name, type, value, focused.
---@return table[] json
function CommandInteractionOptionResolver:toJSON()
  return util.map(self.data, function(o)
    return { name = o.name, type = o.type, value = o.value, focused = o.focused or nil }
  end)
end

return M
