-- Application commands as builders: slash commands with their options, subcommands and groups, and
-- user and message context-menu commands. Setters check their argument at once; toJSON checks the
-- rules that need the whole command (required before optional, 25 options, the 4000-character total).
local util = require("discord.util")
local json = require("json")
local enums = require("discord.enums")
local checks = require("discord.builders.components")._checks

local M = {}

local OptionType = enums.ApplicationCommandOptionType
local CommandType = enums.ApplicationCommandType

local Limits = {
  name = 32,
  description = 100,
  options = 25,
  choices = 25,
  choiceName = 100,
  choiceValue = 100,
  stringLength = 6000,
  total = 4000,
  -- Integers and numbers beyond 2^53 lose precision in Discord's clients.
  numberRange = 9007199254740991,
}
--- Discord's limits on commands: name 32, description 100, options and choices 25, 4000 in all, ...
---@type table<string, integer>
M.Limits = Limits

local fail, checkString, checkBool, checkInt, setter = checks.fail, checks.string, checks.bool, checks.int,
  checks.setter
local listArgs = require("discord.builders.components").listArgs

local LOCALES = {}
for _, code in pairs(enums.Locale) do LOCALES[code] = true end
--- The locales Discord supports, as a set: `Locales["en-US"] == true`.
---@type table<string, boolean>
M.Locales = LOCALES

-- Code points that are upper-case letters in the scripts with case that commands commonly use.
local function isUpper(cp)
  return (cp >= 0x41 and cp <= 0x5A) or (cp >= 0xC0 and cp <= 0xDE and cp ~= 0xD7)
    or (cp >= 0x391 and cp <= 0x3A9) or (cp >= 0x400 and cp <= 0x42F)
end

-- Latin-1 punctuation and symbols, general punctuation and spaces: never part of a name.
local function isPunct(cp)
  return cp < 0x30 and cp ~= 0x2D and cp ~= 0x27 or (cp >= 0x3A and cp <= 0x40) or (cp >= 0x5B and cp <= 0x60
    and cp ~= 0x5F) or (cp >= 0x7B and cp <= 0xBF) or cp == 0xD7 or cp == 0xF7 or (cp >= 0x2000 and cp <= 0x206F)
    or cp == 0x3000
end

--- Checks a command or option name (1-32 characters; lower case, digits, - _ ' for slash commands); returns it.
--- Raises a string error naming the builder and the rule it breaks.
---@param who string Builder name, for the error.
---@param name string
---@param contextMenu? boolean Allows spaces and any case instead.
---@param level integer Error level.
---@return string
local function checkName(who, name, contextMenu, level)
  if type(name) ~= "string" then fail(who, level + 1, "name must be a string, got %s", type(name)) end
  if not utf8.len(name) then fail(who, level + 1, "name is not valid UTF-8") end
  local n = utf8.len(name)
  if n < 1 or n > Limits.name then
    fail(who, level + 1, "name must be 1 to %d characters long, got %d (%q)", Limits.name, n, name)
  end
  if contextMenu then
    if name:match("^%s") or name:match("%s$") then fail(who, level + 1, "name must not start or end with a space") end
    return name
  end
  for _, cp in utf8.codes(name) do
    if isUpper(cp) then
      fail(who, level + 1, "name %q has an upper-case letter; chat-input names are lower case", name)
    end
    if isPunct(cp) then
      fail(who, level + 1, "name %q may hold only letters, digits, '-', '_' and \"'\"", name)
    end
  end
  return name
end
M.checkName = checkName

local function checkDescription(who, text, level)
  return checkString(who, "description", text, Limits.description, 1, level + 1)
end

-- Localizations: locale -> text, or nil (JSON null) to remove one.
local function checkLocales(who, what, map, check, level)
  if map == nil or map == json.null then return json.null end
  if type(map) ~= "table" then fail(who, level + 1, "%s must be a table of locale -> text", what) end
  local out = {}
  for locale, text in pairs(map) do
    if not LOCALES[locale] then fail(who, level + 1, "%s: unknown locale %s", what, tostring(locale)) end
    if text ~= json.null then out[locale] = check(who .. " (" .. locale .. ")", text, level + 1) end
  end
  return out
end

local function setLocalization(self, field, check, locale, text, level)
  if not LOCALES[locale] then fail(self.__name, level + 1, "unknown locale %s", tostring(locale)) end
  local map = self.data[field]
  if map == nil or map == json.null then
    map = {}
    self.data[field] = map
  end
  if text == nil or text == json.null then
    map[locale] = nil
  else
    map[locale] = check(self.__name .. " (" .. locale .. ")", text, level + 1)
  end
  return self
end

-- Shared: name, description and their localizations -------------------------------------------------------

--- Name, description and their localizations, shared by commands, subcommands and options.
---@class discord.SharedNameAndDescription
---@field data table The API form being built.
local Named = util.class("SharedNameAndDescription")
M.SharedNameAndDescription = Named

--- Starts an empty builder.
function Named:init()
  self.data = {}
end

function Named:_nameCheck(who, name, level)
  return checkName(who, name, self._contextMenu, level + 1)
end

--- Sets the name: 1-32 characters; lower case, letters, digits, - _ ' for slash commands.
--- Raises a string error naming the builder and the rule it breaks.
---@param name string
---@return discord.SharedNameAndDescription self
function Named:setName(name)
  self.data.name = self:_nameCheck(self.__name, name, 2)
  return self
end

--- Sets the description: 1-100 characters.
--- Raises a string error naming the builder and the rule it breaks.
---@param text string
---@return discord.SharedNameAndDescription self
function Named:setDescription(text)
  self.data.description = checkDescription(self.__name, text, 2)
  return self
end

--- Sets the name per locale ({de = "...", ["en-US"] = "..."}).
--- Raises a string error naming the builder and the rule it breaks.
---@param map table<string, string>|nil
---@return discord.SharedNameAndDescription self
function Named:setNameLocalizations(map)
  local selfRef = self
  self.data.name_localizations = checkLocales(self.__name, "name_localizations", map, function(who, v, lvl)
    return selfRef:_nameCheck(who, v, lvl + 1)
  end, 2)
  return self
end

--- Sets the name for one locale; nil removes it.
--- Raises a string error naming the builder and the rule it breaks.
---@param locale string A discord.Locale value.
---@param name string|nil
---@return discord.SharedNameAndDescription self
function Named:setNameLocalization(locale, name)
  local selfRef = self
  return setLocalization(self, "name_localizations", function(who, v, lvl)
    return selfRef:_nameCheck(who, v, lvl + 1)
  end, locale, name, 2)
end

--- Sets the description per locale.
--- Raises a string error naming the builder and the rule it breaks.
---@param map table<string, string>|nil
---@return discord.SharedNameAndDescription self
function Named:setDescriptionLocalizations(map)
  self.data.description_localizations = checkLocales(self.__name, "description_localizations", map,
    checkDescription, 2)
  return self
end

--- Sets the description for one locale; nil removes it.
--- Raises a string error naming the builder and the rule it breaks.
---@param locale string A discord.Locale value.
---@param text string|nil
---@return discord.SharedNameAndDescription self
function Named:setDescriptionLocalization(locale, text)
  return setLocalization(self, "description_localizations", checkDescription, locale, text, 2)
end

function Named:_checkNamed(level, needsDescription)
  if self.data.name == nil then fail(self.__name, level + 1, "a name is required") end
  if needsDescription ~= false and self.data.description == nil then
    fail(self.__name, level + 1, "%q needs a description", self.data.name)
  end
end

-- Options ------------------------------------------------------------------------------------------------

--- Base of slash command options: name, description, required.
---@class discord.ApplicationCommandOptionBase: discord.SharedNameAndDescription
---@field TYPE integer Its ApplicationCommandOptionType.
---@field setRequired fun(self, required?: boolean): discord.ApplicationCommandOptionBase Must the user fill it (true)?
local Option = util.class("ApplicationCommandOptionBase", Named)
M.ApplicationCommandOptionBase = Option

--- Starts an option builder, from API data when given.
---@param data? table Option in API form.
function Option:init(data)
  Named.init(self)
  self.data.type = self.TYPE
  if data then
    for k, v in pairs(data) do self.data[k] = util.deepCopy(v) end
  end
end

Option.setRequired = setter("required", checkBool)

--- The option in API form.
--- Raises a string error for a missing name or description, choices with autocomplete, min above max.
---@return table
function Option:toJSON()
  self:_checkNamed(2)
  local out = util.deepCopy(self.data)
  if out.choices and #out.choices > 0 and out.autocomplete then
    fail(self.__name, 2, "%q has choices and autocomplete; use one of them", out.name)
  end
  if out.min_value and out.max_value and out.min_value > out.max_value then
    fail(self.__name, 2, "%q: min_value %s is above max_value %s", out.name, tostring(out.min_value),
      tostring(out.max_value))
  end
  if out.min_length and out.max_length and out.min_length > out.max_length then
    fail(self.__name, 2, "%q: min_length %d is above max_length %d", out.name, out.min_length, out.max_length)
  end
  if out.choices then out.choices = json.array(out.choices) end
  if out.channel_types then out.channel_types = json.array(out.channel_types) end
  return out
end

local function optionClass(name, typ)
  local cls = util.class(name, Option)
  cls.TYPE = typ
  M[name] = cls
  return cls
end

-- Integer and number options keep their values (choices, min and max) within 2^53.
local function checkNumber(who, what, v, integer, level)
  local ok = integer and math.type(v) == "integer" or (not integer and type(v) == "number" and v == v)
  if not ok or v < -Limits.numberRange or v > Limits.numberRange then
    fail(who, level + 1, "%s must be %s within +-2^53, got %s", what, integer and "an integer" or "a number",
      tostring(v))
  end
  return v
end

local function checkChoiceValue(self, v, level)
  if self.TYPE == OptionType.String then
    return checkString(self.__name, "choice value", v, Limits.choiceValue, 1, level + 1)
  end
  return checkNumber(self.__name, "choice value", v, self.TYPE == OptionType.Integer, level + 1)
end

local function checkChoiceName(who, v, level)
  return checkString(who, "choice name", v, Limits.choiceName, 1, level + 1)
end

-- Choices: addChoices({name=, value=, nameLocalizations=}, ...), at most 25, names unique.
local function addChoices(self, list, level)
  local choices = self.data.choices or {}
  if self.data.autocomplete then fail(self.__name, level + 1, "an option with autocomplete cannot have choices") end
  for _, c in ipairs(list) do
    if type(c) ~= "table" then fail(self.__name, level + 1, "a choice must be a table {name=, value=}") end
    checkChoiceName(self.__name, c.name, level + 1)
    for _, existing in ipairs(choices) do
      if existing.name == c.name then fail(self.__name, level + 1, "choice name %q is used twice", c.name) end
    end
    local choice = { name = c.name, value = checkChoiceValue(self, c.value, level + 1) }
    local loc = c.nameLocalizations or c.name_localizations
    if loc ~= nil then
      choice.name_localizations = checkLocales(self.__name, "choice name_localizations", loc, checkChoiceName,
        level + 1)
    end
    choices[#choices + 1] = choice
  end
  if #choices > Limits.choices then
    fail(self.__name, level + 1, "an option has at most %d choices, got %d", Limits.choices, #choices)
  end
  self.data.choices = choices
  return self
end

local function choiceMixin(cls)
  function cls:addChoices(...)
    return addChoices(self, listArgs(...), 2)
  end
  function cls:setChoices(...)
    self.data.choices = nil
    return addChoices(self, listArgs(...), 2)
  end
  function cls:setAutocomplete(on)
    on = checkBool(self.__name, "autocomplete", on, 2)
    if on and self.data.choices and #self.data.choices > 0 then
      fail(self.__name, 2, "an option with choices cannot use autocomplete")
    end
    self.data.autocomplete = on
    return self
  end
end

local function rangeMixin(cls, integer)
  function cls:setMinValue(v)
    self.data.min_value = checkNumber(self.__name, "min_value", v, integer, 2)
    return self
  end
  function cls:setMaxValue(v)
    self.data.max_value = checkNumber(self.__name, "max_value", v, integer, 2)
    return self
  end
end

--- A string option, with choices or autocomplete and a length range.
---@class discord.SlashCommandStringOption: discord.ApplicationCommandOptionBase
---@field addChoices fun(self, ...: {name: string, value: any, nameLocalizations?: table}): any Adds up to 25 choices.
---@field setChoices fun(self, ...: table): any Replaces the choices.
---@field setAutocomplete fun(self, on?: boolean): any Suggests values through autocomplete instead of choices.
---@field setMinLength fun(self, n: integer): discord.SlashCommandStringOption Shortest text (0-6000).
---@field setMaxLength fun(self, n: integer): discord.SlashCommandStringOption Longest text (1-6000).
local StringOption = optionClass("SlashCommandStringOption", OptionType.String)
choiceMixin(StringOption)

StringOption.setMinLength = setter("min_length", checkInt, 0, Limits.stringLength)

StringOption.setMaxLength = setter("max_length", checkInt, 1, Limits.stringLength)

--- An integer option, with choices or autocomplete and a range within 2^53.
---@class discord.SlashCommandIntegerOption: discord.ApplicationCommandOptionBase
---@field addChoices fun(self, ...: {name: string, value: any, nameLocalizations?: table}): any Adds up to 25 choices.
---@field setChoices fun(self, ...: table): any Replaces the choices.
---@field setAutocomplete fun(self, on?: boolean): any Suggests values through autocomplete instead of choices.
---@field setMinValue fun(self, v: number): any Smallest value allowed.
---@field setMaxValue fun(self, v: number): any Largest value allowed.
local IntegerOption = optionClass("SlashCommandIntegerOption", OptionType.Integer)
choiceMixin(IntegerOption)
rangeMixin(IntegerOption, true)

--- A number option, with choices or autocomplete and a range within 2^53.
---@class discord.SlashCommandNumberOption: discord.ApplicationCommandOptionBase
---@field addChoices fun(self, ...: {name: string, value: any, nameLocalizations?: table}): any Adds up to 25 choices.
---@field setChoices fun(self, ...: table): any Replaces the choices.
---@field setAutocomplete fun(self, on?: boolean): any Suggests values through autocomplete instead of choices.
---@field setMinValue fun(self, v: number): any Smallest value allowed.
---@field setMaxValue fun(self, v: number): any Largest value allowed.
local NumberOption = optionClass("SlashCommandNumberOption", OptionType.Number)
choiceMixin(NumberOption)
rangeMixin(NumberOption, false)

--- A true/false option.
---@class discord.SlashCommandBooleanOption: discord.ApplicationCommandOptionBase
optionClass("SlashCommandBooleanOption", OptionType.Boolean)
--- A user option (a member in guilds).
---@class discord.SlashCommandUserOption: discord.ApplicationCommandOptionBase
optionClass("SlashCommandUserOption", OptionType.User)
--- A role option.
---@class discord.SlashCommandRoleOption: discord.ApplicationCommandOptionBase
optionClass("SlashCommandRoleOption", OptionType.Role)
--- A user or role option.
---@class discord.SlashCommandMentionableOption: discord.ApplicationCommandOptionBase
optionClass("SlashCommandMentionableOption", OptionType.Mentionable)
--- A file upload option.
---@class discord.SlashCommandAttachmentOption: discord.ApplicationCommandOptionBase
optionClass("SlashCommandAttachmentOption", OptionType.Attachment)
--- A channel option, optionally limited to some channel types.
---@class discord.SlashCommandChannelOption: discord.ApplicationCommandOptionBase
local ChannelOption = optionClass("SlashCommandChannelOption", OptionType.Channel)

-- Channel kinds a slash option may offer.
local OPTION_CHANNELS = util.set({ 0, 1, 2, 3, 4, 5, 10, 11, 12, 13, 14, 15, 16 })

--- Limits the channels offered to these types (names or numbers).
--- Raises a string error naming the builder and the rule it breaks.
---@param ... integer|string|table Channel types, or one list of them.
---@return discord.SlashCommandChannelOption self
function ChannelOption:addChannelTypes(...)
  local types = self.data.channel_types or {}
  for _, t in ipairs(listArgs(...)) do
    local v = type(t) == "string" and rawget(enums.ChannelType, t) or t
    if not OPTION_CHANNELS[v] then fail(self.__name, 2, "not a channel type: %s", tostring(t)) end
    if not util.contains(types, v) then types[#types + 1] = v end
  end
  self.data.channel_types = types
  return self
end

-- Which option builders an `add...Option` method makes.
local ADDERS = {
  addStringOption = StringOption, addIntegerOption = IntegerOption, addNumberOption = NumberOption,
  addBooleanOption = M.SlashCommandBooleanOption, addUserOption = M.SlashCommandUserOption,
  addChannelOption = ChannelOption, addRoleOption = M.SlashCommandRoleOption,
  addMentionableOption = M.SlashCommandMentionableOption, addAttachmentOption = M.SlashCommandAttachmentOption,
}

-- fn(builder) -> builder (or nothing), or a ready builder.
local function built(cls, input, who, level)
  if type(input) == "function" then
    local b = cls()
    local r = input(b)
    return r == nil and b or r
  end
  if util.instanceOf(input, cls) then return input end
  fail(who, level + 1, "expected a %s or a function that fills one", cls.__name)
end

local function addOption(self, option, level)
  local options = self.options
  if #options >= Limits.options then
    fail(self.__name, level + 1, "at most %d options at one level", Limits.options)
  end
  options[#options + 1] = option
  return self
end

local function optionAdders(cls)
  for method, optCls in pairs(ADDERS) do
    --- Adds an option of the method's type: an option builder, or a function that fills a new one.
    --- Raises a string error for something else, or past 25 options at this level.
    ---@param input table|fun(option: discord.ApplicationCommandOptionBase): any
    ---@return discord.SharedNameAndDescription self
    cls[method] = function(self, input)
      return addOption(self, built(optCls, input, self.__name, 2), 2)
    end
  end
end

-- Options of one level as JSON: names unique, required ones first.
local function optionsJSON(who, options, level)
  local out, names, optionalSeen = json.array({}), {}, nil
  for i, o in ipairs(options) do
    local ok, d = pcall(o.toJSON, o)
    if not ok then error(d, level + 1) end
    if names[d.name] then fail(who, level + 1, "option name %q is used twice", d.name) end
    names[d.name] = true
    local isSub = d.type == OptionType.Subcommand or d.type == OptionType.SubcommandGroup
    if not isSub then
      if d.required then
        if optionalSeen then
          fail(who, level + 1, "required option %q comes after optional option %q", d.name, optionalSeen)
        end
      else
        optionalSeen = optionalSeen or d.name
      end
    end
    out[i] = d
  end
  return out
end

-- Subcommands and groups ---------------------------------------------------------------------------------

--- A subcommand of a slash command: its own name, description and options (`add...Option`).
---@class discord.SlashCommandSubcommandBuilder: discord.SharedNameAndDescription
---@field options table[] The option builders added so far.
---@field addStringOption fun(self, input: discord.SlashCommandStringOption|function): any Adds one.
---@field addIntegerOption fun(self, input: discord.SlashCommandIntegerOption|function): any Adds one.
---@field addNumberOption fun(self, input: discord.SlashCommandNumberOption|function): any Adds one.
---@field addBooleanOption fun(self, input: discord.SlashCommandBooleanOption|function): any Adds one.
---@field addUserOption fun(self, input: discord.SlashCommandUserOption|function): any Adds one.
---@field addChannelOption fun(self, input: discord.SlashCommandChannelOption|function): any Adds one.
---@field addRoleOption fun(self, input: discord.SlashCommandRoleOption|function): any Adds one.
---@field addMentionableOption fun(self, input: discord.SlashCommandMentionableOption|function): any Adds one.
---@field addAttachmentOption fun(self, input: discord.SlashCommandAttachmentOption|function): any Adds one.
local Subcommand = util.class("SlashCommandSubcommandBuilder", Named)
M.SlashCommandSubcommandBuilder = Subcommand

-- Slash commands and subcommands hold options.
local function holdsOptions(cls)
  --- Starts an empty builder.
  function cls:init()
    Named.init(self)
    self.options = {}
  end
  optionAdders(cls)
end
holdsOptions(Subcommand)

--- The subcommand in API form.
--- Raises a string error for a missing name or description, or bad options.
---@return table
function Subcommand:toJSON()
  self:_checkNamed(2)
  local out = util.deepCopy(self.data)
  out.type = OptionType.Subcommand
  out.options = optionsJSON(self.__name, self.options, 2)
  return out
end

--- A group of subcommands: `/name group sub`.
---@class discord.SlashCommandSubcommandGroupBuilder: discord.SharedNameAndDescription
---@field options discord.SlashCommandSubcommandBuilder[] The group's subcommands.
local Group = util.class("SlashCommandSubcommandGroupBuilder", Named)
M.SlashCommandSubcommandGroupBuilder = Group

--- Starts an empty group.
function Group:init()
  Named.init(self)
  self.options = {}
end

--- Adds a subcommand: a builder, or a function that fills a new one.
--- Raises a string error naming the builder and the rule it breaks.
---@param input discord.SlashCommandSubcommandBuilder|fun(sub: discord.SlashCommandSubcommandBuilder)
---@return discord.SlashCommandSubcommandGroupBuilder self
function Group:addSubcommand(input)
  return addOption(self, built(Subcommand, input, self.__name, 2), 2)
end

--- The group in API form.
--- Raises a string error for a missing name or description, or no subcommand.
---@return table
function Group:toJSON()
  self:_checkNamed(2)
  if #self.options == 0 then fail(self.__name, 2, "group %q needs at least one subcommand", self.data.name) end
  local out = util.deepCopy(self.data)
  out.type = OptionType.SubcommandGroup
  out.options = optionsJSON(self.__name, self.options, 2)
  return out
end

-- Commands -----------------------------------------------------------------------------------------------

--- What slash and context-menu commands share: permissions, contexts, install types, NSFW.
---@class discord.SharedCommandBuilder: discord.SharedNameAndDescription
---@field setDMPermission fun(self, allowed?: boolean): discord.SharedCommandBuilder Deprecated by Discord for contexts.
---@field setNSFW fun(self, nsfw?: boolean): discord.SharedCommandBuilder Age-restricted command (true).
---@field setDMPermission fun(self): any Deprecated by Discord in favour of contexts; still sent when set.
local Command = util.class("SharedCommandBuilder", Named)
M.SharedCommandBuilder = Command

--- Permissions a member needs by default: bit field, names, decimal string; nil for everyone, 0 admins.
--- Raises a string error naming the builder and the rule it breaks.
---@param perms discord.PermissionResolvable|nil
---@return discord.SharedNameAndDescription self
function Command:setDefaultMemberPermissions(perms)
  if perms == nil or perms == json.null then
    self.data.default_member_permissions = json.null
    return self
  end
  local PermissionsBitField = require("discord.bitfield").PermissionsBitField
  local ok, bits = pcall(PermissionsBitField.resolve, PermissionsBitField, perms)
  if not ok then fail(self.__name, 2, "not a permission: %s", tostring(perms)) end
  self.data.default_member_permissions = require("discord.bitfield").unsignedString(bits)
  return self
end

Command.setDMPermission = setter("dm_permission", checkBool)

Command.setNSFW = setter("nsfw", checkBool)

local function enumList(self, e, what, list, level)
  local out = {}
  for _, v in ipairs(list) do
    local n = type(v) == "string" and rawget(e, v) or v
    if not enums.has(e, n) then fail(self.__name, level + 1, "not a %s: %s", what, tostring(v)) end
    if not util.contains(out, n) then out[#out + 1] = n end
  end
  return json.array(out)
end

--- Where the command shows: "Guild", "BotDM", "PrivateChannel" or their numbers.
--- Raises a string error naming the builder and the rule it breaks.
---@param ... string|integer|table Contexts, or one list of them.
---@return discord.SharedNameAndDescription self
function Command:setContexts(...)
  self.data.contexts = enumList(self, enums.InteractionContextType, "context",
    listArgs(...), 2)
  return self
end

--- Install kinds that offer the command: "GuildInstall", "UserInstall" or their numbers.
--- Raises a string error naming the builder and the rule it breaks.
---@param ... string|integer|table Kinds, or one list of them.
---@return discord.SharedNameAndDescription self
function Command:setIntegrationTypes(...)
  self.data.integration_types = enumList(self, enums.ApplicationIntegrationType, "integration type",
    listArgs(...), 2)
  return self
end

-- The longest of a text and its localizations.
local function longest(text, locs)
  local n = util.utf8len(text or "")
  if type(locs) == "table" then
    for _, v in pairs(locs) do
      if type(v) == "string" then n = math.max(n, util.utf8len(v)) end
    end
  end
  return n
end

--- Characters Discord counts toward the 4000 limit, each field at its longest localization.
---@param data table Command in API form.
---@return integer
function M.commandLength(data)
  local total = longest(data.name, data.name_localizations) + longest(data.description, data.description_localizations)
  for _, o in ipairs(data.options or {}) do
    total = total + M.commandLength(o)
    for _, c in ipairs(o.choices or {}) do
      total = total + longest(c.name, c.name_localizations)
      if type(c.value) == "string" then total = total + util.utf8len(c.value) end
    end
  end
  return total
end

--- A slash command: name, description, options or subcommands, permissions, contexts.
---@class discord.SlashCommandBuilder: discord.SharedCommandBuilder
---@field options table[] The option, subcommand and group builders added so far.
---@field addStringOption fun(self, input: discord.SlashCommandStringOption|function): any Adds one.
---@field addIntegerOption fun(self, input: discord.SlashCommandIntegerOption|function): any Adds one.
---@field addNumberOption fun(self, input: discord.SlashCommandNumberOption|function): any Adds one.
---@field addBooleanOption fun(self, input: discord.SlashCommandBooleanOption|function): any Adds one.
---@field addUserOption fun(self, input: discord.SlashCommandUserOption|function): any Adds one.
---@field addChannelOption fun(self, input: discord.SlashCommandChannelOption|function): any Adds one.
---@field addRoleOption fun(self, input: discord.SlashCommandRoleOption|function): any Adds one.
---@field addMentionableOption fun(self, input: discord.SlashCommandMentionableOption|function): any Adds one.
---@field addAttachmentOption fun(self, input: discord.SlashCommandAttachmentOption|function): any Adds one.
local SlashCommandBuilder = util.class("SlashCommandBuilder", Command)
M.SlashCommandBuilder = SlashCommandBuilder

holdsOptions(SlashCommandBuilder)

--- Adds a subcommand: a builder, or a function that fills a new one.
--- Raises a string error naming the builder and the rule it breaks.
---@param input discord.SlashCommandSubcommandBuilder|fun(sub: discord.SlashCommandSubcommandBuilder)
---@return discord.SlashCommandBuilder self
function SlashCommandBuilder:addSubcommand(input)
  return addOption(self, built(Subcommand, input, self.__name, 2), 2)
end

--- Adds a subcommand group: a builder, or a function that fills a new one.
--- Raises a string error naming the builder and the rule it breaks.
---@param input discord.SlashCommandSubcommandGroupBuilder|fun(g: discord.SlashCommandSubcommandGroupBuilder)
---@return discord.SlashCommandBuilder self
function SlashCommandBuilder:addSubcommandGroup(input)
  return addOption(self, built(Group, input, self.__name, 2), 2)
end

--- The command in API form, checked as a whole (options order, 25 per level, 4000 characters).
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function SlashCommandBuilder:toJSON()
  self:_checkNamed(2)
  local out = util.deepCopy(self.data)
  out.type = CommandType.ChatInput
  out.options = optionsJSON(self.__name, self.options, 2)
  local subs, plain = 0, 0
  for _, o in ipairs(out.options) do
    if o.type == OptionType.Subcommand or o.type == OptionType.SubcommandGroup then
      subs = subs + 1
    else
      plain = plain + 1
    end
  end
  if subs > 0 and plain > 0 then
    fail(self.__name, 2, "%q mixes subcommands with plain options; put the options in the subcommands", out.name)
  end
  local total = M.commandLength(out)
  if total > Limits.total then
    fail(self.__name, 2, "%q is %d characters long in all, over Discord's %d limit", out.name, total, Limits.total)
  end
  return out
end

--- A user or message context-menu command: a name and a type, no description.
---@class discord.ContextMenuCommandBuilder: discord.SharedCommandBuilder
---@field setDescriptionLocalizations fun(self) Always raises: context-menu commands have no description.
---@field setDescriptionLocalization fun(self) Always raises: context-menu commands have no description.
local ContextMenuCommandBuilder = util.class("ContextMenuCommandBuilder", Command)
M.ContextMenuCommandBuilder = ContextMenuCommandBuilder

--- Starts an empty context-menu command.
function ContextMenuCommandBuilder:init()
  Named.init(self)
  self._contextMenu = true
end

--- Sets the type: "User" or "Message" (or their numbers).
--- Raises a string error naming the builder and the rule it breaks.
---@param t string|integer
---@return discord.ContextMenuCommandBuilder self
function ContextMenuCommandBuilder:setType(t)
  local v = type(t) == "string" and rawget(CommandType, t) or t
  if v ~= CommandType.User and v ~= CommandType.Message then
    fail(self.__name, 2, "type must be User or Message, got %s", tostring(t))
  end
  self.data.type = v
  return self
end

--- Always raises: context-menu commands have no description.
--- Raises a string error naming the builder and the rule it breaks.
---@param self discord.ContextMenuCommandBuilder
function ContextMenuCommandBuilder.setDescription(self)
  fail(self.__name, 2, "context-menu commands have no description")
end
ContextMenuCommandBuilder.setDescriptionLocalizations = ContextMenuCommandBuilder.setDescription
ContextMenuCommandBuilder.setDescriptionLocalization = ContextMenuCommandBuilder.setDescription

--- The command in API form.
--- Raises a string error for a missing name or type.
---@return table
function ContextMenuCommandBuilder:toJSON()
  self:_checkNamed(2, false)
  if self.data.type == nil then fail(self.__name, 2, "%q needs a type (User or Message)", self.data.name) end
  return util.deepCopy(self.data)
end

-- Builders from registered commands ----------------------------------------------------------------------

local OPTION_CLASSES = {
  [OptionType.String] = StringOption, [OptionType.Integer] = IntegerOption, [OptionType.Number] = NumberOption,
  [OptionType.Boolean] = M.SlashCommandBooleanOption, [OptionType.User] = M.SlashCommandUserOption,
  [OptionType.Channel] = ChannelOption, [OptionType.Role] = M.SlashCommandRoleOption,
  [OptionType.Mentionable] = M.SlashCommandMentionableOption, [OptionType.Attachment] = M.SlashCommandAttachmentOption,
}

-- Fields of registered data that are Discord's bookkeeping, not part of what a builder describes.
local BOOKKEEPING = util.set({ "id", "application_id", "guild_id", "version", "type", "options", "dm_permission" })

local function copyFields(b, data)
  for k, v in pairs(data) do
    if not BOOKKEEPING[k] and v ~= json.null then b.data[k] = util.deepCopy(v) end
  end
  return b
end

local function optionFrom(o)
  if o.type == OptionType.Subcommand or o.type == OptionType.SubcommandGroup then
    local b = copyFields(o.type == OptionType.Subcommand and Subcommand() or Group(), o)
    for _, sub in ipairs(o.options ~= json.null and o.options or {}) do b.options[#b.options + 1] = optionFrom(sub) end
    return b
  end
  local cls = OPTION_CLASSES[o.type]
  if not cls then error("SlashCommandBuilder.from: unknown option type " .. tostring(o.type), 3) end
  local data = {}
  for k, v in pairs(o) do
    if k ~= "type" and v ~= json.null then data[k] = v end
  end
  return cls(data)
end

local function dataOf(x)
  if type(x) == "table" and type(x.toAPI) == "function" then return x:toAPI() end
  if type(x) ~= "table" then error("from: expected command data or an ApplicationCommand", 3) end
  return x
end

--- A builder holding a command's API data or an ApplicationCommand, to change and send again.
--- Raises a string error for something that is not command data.
---@param x table|discord.ApplicationCommand
---@return discord.SlashCommandBuilder
function SlashCommandBuilder.from(x)
  local data = dataOf(x)
  local b = copyFields(SlashCommandBuilder(), data)
  for _, o in ipairs(data.options ~= nil and data.options ~= json.null and data.options or {}) do
    b.options[#b.options + 1] = optionFrom(o)
  end
  return b
end

--- A builder holding a context-menu command's API data or an ApplicationCommand.
--- Raises a string error for something that is not command data.
---@param x table|discord.ApplicationCommand
---@return discord.ContextMenuCommandBuilder
function ContextMenuCommandBuilder.from(x)
  local data = dataOf(x)
  local b = copyFields(ContextMenuCommandBuilder(), data)
  b.data.description, b.data.description_localizations = nil, nil
  b.data.type = data.type
  return b
end

--- The API form of a command given as a builder or a table (camelCase or API keys).
--- Raises a string error for something else, or as the builder's toJSON does.
---@param c discord.SlashCommandBuilder|discord.ContextMenuCommandBuilder|table
---@return table
function M.resolveCommand(c)
  if type(c) == "table" and type(c.toJSON) == "function" then return c:toJSON() end
  if type(c) ~= "table" then error("not a command: " .. tostring(c), 2) end
  local out = {}
  for k, v in pairs(c) do out[util.snakeCase(k)] = util.deepCopy(v) end
  return out
end

util.provide("command builders", M)

return M
