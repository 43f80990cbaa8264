-- Message and modal components: action rows, buttons, selects, text inputs, file uploads, radio and
-- checkbox groups, checkboxes, labels, modals and the
-- v2 layout (container, section, text display, thumbnail, media gallery, file, separator).
-- Setters check their argument at once; toJSON checks what needs the whole component.
local util = require("discord.util")
local json = require("json")
local enums = require("discord.enums")

local M = {}

local ComponentType = enums.ComponentType
local ButtonStyle = enums.ButtonStyle

-- Discord's limits, in characters (code points) unless said otherwise.
local Limits = {
  customId = 100,
  buttonLabel = 80,
  rowButtons = 5,
  messageRows = 5,
  selectPlaceholder = 150,
  selectOptions = 25,
  selectValues = 25,
  optionLabel = 100,
  optionValue = 100,
  optionDescription = 100,
  textInputLabel = 45,
  textInputPlaceholder = 100,
  textInputLength = 4000,
  modalTitle = 45,
  modalComponents = 5,
  labelText = 45,
  uploadFiles = 10,
  uploadFileTypes = 10,
  groupOptions = 10,
  labelDescription = 100,
  sectionTexts = 3,
  galleryItems = 10,
  mediaDescription = 1024,
  textDisplayTotal = 4000,
  v2Components = 40,
  int32 = 2147483647,
}
--- Discord's limits on components: custom ID 100, button label 80, 5 rows, 25 options, ...
---@type table<string, integer>
M.Limits = Limits

-- A failure names the builder and the rule; `level` points at the caller of the public method.
local function fail(who, level, fmt, ...)
  error(who .. ": " .. string.format(fmt, ...), level + 1)
end

local function checkString(who, what, v, max, min, level)
  if type(v) ~= "string" then fail(who, level + 1, "%s must be a string, got %s", what, type(v)) end
  local n = util.utf8len(v)
  min = min or 1
  if n < min or n > max then
    fail(who, level + 1, "%s must be %d to %d characters long, got %d", what, min, max, n)
  end
  return v
end

local function checkBool(who, what, v, level)
  if v == nil then return true end
  if type(v) ~= "boolean" then fail(who, level + 1, "%s must be a boolean", what) end
  return v
end

local function checkInt(who, what, v, min, max, level)
  if math.type(v) ~= "integer" or v < min or v > max then
    fail(who, level + 1, "%s must be an integer from %d to %d, got %s", what, min, max, tostring(v))
  end
  return v
end

-- A setter that checks its argument and keeps it in data[field]; a clearable one takes nil to remove it.
local function setter(field, check, ...)
  local args = table.pack(...)
  args.n = args.n + 1
  args[args.n] = 2
  return function(self, v)
    self.data[field] = check(self.__name, field, v, table.unpack(args, 1, args.n))
    return self
  end
end

local function clearable(field, check, ...)
  local set = setter(field, check, ...)
  return function(self, v)
    if v ~= nil then return set(self, v) end
    self.data[field] = nil
    return self
  end
end

-- The argument checks the command builders share.
M._checks = { fail = fail, string = checkString, bool = checkBool, int = checkInt, setter = setter }

-- A style or type given by value or by name ("Primary", "Short" ...).
local function enumValue(who, what, e, v, level)
  if type(v) == "string" and type(rawget(e, v)) == "number" then return rawget(e, v) end
  if math.type(v) == "integer" and enums.has(e, v) then return v end
  fail(who, level + 1, "%s is not a known %s: %s", what, getmetatable(e).__name, tostring(v))
end

--- The API's partial emoji from "<:name:id>", "name:id", an ID, a Unicode emoji or {id=, name=, animated=}.
--- Raises a string error naming the builder and the rule it breaks.
---@param who string Builder name, for the error.
---@param e string|table
---@param level integer Error level.
---@return {id: string|nil, name: string|nil, animated: boolean|nil}
local function resolveEmoji(who, e, level)
  if type(e) == "string" then e = util.parseEmoji(e) end
  if type(e) ~= "table" or (e.id == nil and e.name == nil) then
    fail(who, level + 1, "emoji must be a string or a table with id or name")
  end
  local out = { id = e.id and tostring(e.id) or nil, name = e.name }
  if e.animated then out.animated = true end
  return out
end
M.resolveEmoji = resolveEmoji

--- The API form of a builder, a received component or an API table (copied).
--- Raises a string error for something that is not a table.
---@param c table
---@return table
local function jsonOf(c)
  if type(c) == "table" and type(c.toJSON) == "function" then return c:toJSON() end
  if type(c) ~= "table" then error("not a component: " .. tostring(c), 3) end
  return util.deepCopy(c)
end
M.jsonOf = jsonOf

-- Builders hold the API form in `data`; `from` and the constructor accept API or camelCase data.
local CAMEL = {
  customId = "custom_id", skuId = "sku_id", minValues = "min_values", maxValues = "max_values",
  minLength = "min_length", maxLength = "max_length", channelTypes = "channel_types",
  defaultValues = "default_values", accentColor = "accent_color",
}

local function fromCamel(data)
  local out = {}
  for k, v in pairs(data) do out[CAMEL[k] or k] = v end
  return out
end

--- Base of the component builders: `data` holds the API form; `Cls(data)` or `Cls.from(data)` starts from data.
---@class discord.ComponentBuilder
---@field data table The API form being built.
---@field TYPE integer|nil Its ComponentType.
local ComponentBuilder = util.class("ComponentBuilder")
M.ComponentBuilder = ComponentBuilder

--- Starts a builder from API data, camelCase data, a received component or nothing.
---@param data? table
function ComponentBuilder:init(data)
  if type(data) == "table" and type(data.toJSON) == "function" and not util.instanceOf(data, ComponentBuilder) then
    data = data:toJSON()
  end
  self.data = fromCamel(util.deepCopy(data or {}))
  if self.TYPE then self.data.type = self.TYPE end
end

--- Sets the optional numeric ID Discord echoes back (unique within the message, not 0); nil clears it.
--- Raises a string error naming the builder and the rule it breaks.
---@param id integer|nil
---@return discord.ComponentBuilder self
function ComponentBuilder:setId(id)
  if id == nil then
    self.data.id = nil
  else
    self.data.id = checkInt(self.__name, "id", id, 1, Limits.int32, 2)
  end
  return self
end

--- Clears the numeric ID.
---@return discord.ComponentBuilder self
function ComponentBuilder:clearId()
  self.data.id = nil
  return self
end

local function builderClass(name, typ, parent)
  local cls = util.class(name, parent or ComponentBuilder)
  cls.TYPE = typ
  --- A builder of this class from API data, camelCase data or a received component.
  ---@param data? table
  ---@return discord.ComponentBuilder
  cls.from = function(data) return cls(data) end
  return cls
end

local function setCustomId(self, id)
  self.data.custom_id = checkString(self.__name, "custom_id", id, Limits.customId, 1, 3)
  return self
end

-- Buttons ------------------------------------------------------------------------------------------------

--- A button: a style, a label or emoji, and a custom ID (or a URL for links, an SKU for premium).
---@class discord.ButtonBuilder: discord.ComponentBuilder
---@field setLabel fun(self, label: string|nil): discord.ButtonBuilder Sets the label (1-80 characters); nil removes it.
---@field setDisabled fun(self, disabled?: boolean): discord.ButtonBuilder Greys the button out (true by default).
local ButtonBuilder = builderClass("ButtonBuilder", ComponentType.Button)
M.ButtonBuilder = ButtonBuilder

--- Sets the style: "Primary", "Secondary", "Success", "Danger", "Link", "Premium" or the number.
--- Raises a string error naming the builder and the rule it breaks.
---@param style string|integer
---@return discord.ButtonBuilder self
function ButtonBuilder:setStyle(style)
  self.data.style = enumValue("ButtonBuilder", "style", ButtonStyle, style, 2)
  return self
end

ButtonBuilder.setLabel = clearable("label", checkString, Limits.buttonLabel, 1)

--- Sets the custom ID (1-100 characters) the interaction carries.
--- Raises a string error naming the builder and the rule it breaks.
---@param id string
---@return discord.ButtonBuilder self
function ButtonBuilder:setCustomId(id) return setCustomId(self, id) end

--- Sets the address of a link button (at most 512 characters).
--- Raises a string error naming the builder and the rule it breaks.
---@param url string
---@return discord.ButtonBuilder self
function ButtonBuilder:setURL(url)
  if type(url) ~= "string" or not url:match("^%a[%w+.-]*://.") then
    fail("ButtonBuilder", 2, "url must be a URL such as https://..., got %s", tostring(url))
  end
  if #url > 512 then fail("ButtonBuilder", 2, "url must be at most 512 characters") end
  self.data.url = url
  return self
end

--- Sets the emoji shown on the button; nil removes it.
--- Raises a string error naming the builder and the rule it breaks.
---@param emoji string|table|nil
---@return discord.ButtonBuilder self
function ButtonBuilder:setEmoji(emoji)
  self.data.emoji = emoji ~= nil and resolveEmoji("ButtonBuilder", emoji, 2) or nil
  return self
end

--- Sets the SKU a premium button sells.
---@param id discord.Snowflake
---@return discord.ButtonBuilder self
function ButtonBuilder:setSKUId(id)
  self.data.sku_id = tostring(id)
  return self
end

ButtonBuilder.setDisabled = setter("disabled", checkBool)

--- The button in API form, checked against its style's rules.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function ButtonBuilder:toJSON()
  local d, who = self.data, "ButtonBuilder"
  local style = d.style
  if style == nil then fail(who, 2, "a button needs a style") end
  if style == ButtonStyle.Link then
    if not d.url then fail(who, 2, "a link button needs a url") end
    if d.custom_id then fail(who, 2, "a link button cannot have a custom_id") end
    if d.sku_id then fail(who, 2, "a link button cannot have a sku_id") end
  elseif style == ButtonStyle.Premium then
    if not d.sku_id then fail(who, 2, "a premium button needs a sku_id") end
    if d.custom_id or d.url or d.label or d.emoji then
      fail(who, 2, "a premium button has only a sku_id: no custom_id, url, label or emoji")
    end
  else
    if not d.custom_id then fail(who, 2, "a button of style %s needs a custom_id", ButtonStyle[style]) end
    if d.url then fail(who, 2, "only link buttons have a url") end
    if d.sku_id then fail(who, 2, "only premium buttons have a sku_id") end
  end
  if style ~= ButtonStyle.Premium and not d.label and not d.emoji then
    fail(who, 2, "a button needs a label or an emoji")
  end
  return util.deepCopy(d)
end

-- Selects ------------------------------------------------------------------------------------------------

--- One option of a string select: label, value, description, emoji, default.
---@class discord.StringSelectMenuOptionBuilder
---@field data table The API form being built.
---@field setLabel fun(self, label: string): discord.StringSelectMenuOptionBuilder Sets the label (1-100 characters).
---@field setValue fun(self, value: string): discord.StringSelectMenuOptionBuilder Sets the value sent back (1-100).
---@field setDescription fun(self, text?: string): discord.StringSelectMenuOptionBuilder Grey text (1-100).
---@field setDefault fun(self, default?: boolean): discord.StringSelectMenuOptionBuilder Preselects it (true).
local StringSelectMenuOptionBuilder = util.class("StringSelectMenuOptionBuilder")
M.StringSelectMenuOptionBuilder = StringSelectMenuOptionBuilder
--- An option builder from API data.
---@param data? table
---@return discord.StringSelectMenuOptionBuilder
StringSelectMenuOptionBuilder.from = function(data) return StringSelectMenuOptionBuilder(data) end

--- Starts an option from API data or nothing.
---@param data? table
function StringSelectMenuOptionBuilder:init(data)
  self.data = util.deepCopy(data or {})
end

StringSelectMenuOptionBuilder.setLabel = setter("label", checkString, Limits.optionLabel, 1)

StringSelectMenuOptionBuilder.setValue = setter("value", checkString, Limits.optionValue, 1)

StringSelectMenuOptionBuilder.setDescription = clearable("description", checkString, Limits.optionDescription, 1)

--- Sets the emoji shown before the label; nil removes it.
--- Raises a string error naming the builder and the rule it breaks.
---@param emoji string|table|nil
---@return discord.StringSelectMenuOptionBuilder self
function StringSelectMenuOptionBuilder:setEmoji(emoji)
  self.data.emoji = emoji ~= nil and resolveEmoji("StringSelectMenuOptionBuilder", emoji, 2) or nil
  return self
end

StringSelectMenuOptionBuilder.setDefault = setter("default", checkBool)

--- The option in API form.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function StringSelectMenuOptionBuilder:toJSON()
  local d, who = self.data, self.__name
  checkString(who, "label", d.label, Limits.optionLabel, 1, 2)
  checkString(who, "value", d.value, Limits.optionValue, 1, 2)
  if d.description ~= nil then checkString(who, "description", d.description, Limits.optionDescription, 1, 2) end
  return util.deepCopy(d)
end

--- What every select menu shares: custom ID, placeholder, how many values, disabled, required.
---@class discord.BaseSelectMenuBuilder: discord.ComponentBuilder
---@field setPlaceholder fun(self, text?: string): discord.BaseSelectMenuBuilder Text shown while empty (1-150).
---@field setMinValues fun(self, n: integer): discord.BaseSelectMenuBuilder Fewest values to choose (0-25).
---@field setMaxValues fun(self, n: integer): discord.BaseSelectMenuBuilder Most values to choose (1-25).
---@field setDisabled fun(self, disabled?: boolean): discord.BaseSelectMenuBuilder Greys it out (true).
---@field setRequired fun(self, required?: boolean): discord.BaseSelectMenuBuilder In a modal: must one choose?
local BaseSelectMenuBuilder = util.class("BaseSelectMenuBuilder", ComponentBuilder)
M.BaseSelectMenuBuilder = BaseSelectMenuBuilder

--- Sets the custom ID (1-100 characters) the interaction carries.
--- Raises a string error naming the builder and the rule it breaks.
---@param id string
---@return discord.BaseSelectMenuBuilder self
function BaseSelectMenuBuilder:setCustomId(id) return setCustomId(self, id) end

BaseSelectMenuBuilder.setPlaceholder = clearable("placeholder", checkString, Limits.selectPlaceholder, 1)

BaseSelectMenuBuilder.setMinValues = setter("min_values", checkInt, 0, Limits.selectValues)

BaseSelectMenuBuilder.setMaxValues = setter("max_values", checkInt, 1, Limits.selectValues)

BaseSelectMenuBuilder.setDisabled = setter("disabled", checkBool)

BaseSelectMenuBuilder.setRequired = setter("required", checkBool)

-- What the whole select needs; `count` is the number of options or default values it holds.
function BaseSelectMenuBuilder:_check(count, level)
  local d, who = self.data, self.__name
  if not d.custom_id then fail(who, level + 1, "a select menu needs a custom_id") end
  local min, max = d.min_values or 1, d.max_values or 1
  if min > max then fail(who, level + 1, "min_values (%d) is above max_values (%d)", min, max) end
  return min, max, count
end

--- A select menu of options the bot lists (1-25).
---@class discord.StringSelectMenuBuilder: discord.BaseSelectMenuBuilder
---@field options discord.StringSelectMenuOptionBuilder[] The menu's choices.
local StringSelectMenuBuilder = builderClass("StringSelectMenuBuilder", ComponentType.StringSelect,
  BaseSelectMenuBuilder)
M.StringSelectMenuBuilder = StringSelectMenuBuilder

--- Starts a string select from API data or nothing.
---@param data? table
function StringSelectMenuBuilder:init(data)
  BaseSelectMenuBuilder.init(self, data)
  local options = {}
  for i, o in ipairs(self.data.options or {}) do options[i] = StringSelectMenuOptionBuilder(jsonOf(o)) end
  self.options = options
  self.data.options = nil
end

local function optionOf(o)
  if util.instanceOf(o, StringSelectMenuOptionBuilder) then return o end
  if type(o) ~= "table" then error("StringSelectMenuBuilder: an option must be a table or an option builder", 4) end
  local data = util.deepCopy(o)
  if data.emoji ~= nil then data.emoji = resolveEmoji("StringSelectMenuBuilder", data.emoji, 4) end
  local b = StringSelectMenuOptionBuilder(data)
  b:toJSON()
  return b
end

--- The arguments as a list: f(a, b) and f({a, b}) both work.
---@param ... any
---@return any[]
local function listArgs(...)
  local args = table.pack(...)
  if args.n == 1 and type(args[1]) == "table" and getmetatable(args[1]) == nil and args[1][1] ~= nil then
    return args[1]
  end
  return { table.unpack(args, 1, args.n) }
end
M.listArgs = listArgs

--- Removes `deleteCount` options at `index` (1-based) and inserts the given ones there.
--- Raises a string error naming the builder and the rule it breaks.
---@param index integer
---@param deleteCount integer
---@param ... discord.StringSelectMenuOptionBuilder|table
---@return discord.StringSelectMenuBuilder self
function StringSelectMenuBuilder:spliceOptions(index, deleteCount, ...)
  local added = util.map(listArgs(...), optionOf)
  local keep = #self.options - math.min(deleteCount, math.max(#self.options - index + 1, 0))
  if keep + #added > Limits.selectOptions then
    fail("StringSelectMenuBuilder", 2, "a select menu has at most %d options", Limits.selectOptions)
  end
  for _ = 1, deleteCount do
    if self.options[index] == nil then break end
    table.remove(self.options, index)
  end
  for i = #added, 1, -1 do table.insert(self.options, math.min(index, #self.options + 1), added[i]) end
  return self
end

--- Appends options (builders or {label=, value=, ...}), 25 at most in all.
--- Raises a string error naming the builder and the rule it breaks.
---@param ... discord.StringSelectMenuOptionBuilder|table Options, or one list of them.
---@return discord.StringSelectMenuBuilder self
function StringSelectMenuBuilder:addOptions(...)
  local ok, err = pcall(self.spliceOptions, self, #self.options + 1, 0, ...)
  if not ok then error(err, 2) end
  return self
end

--- Replaces the options.
--- Raises a string error naming the builder and the rule it breaks.
---@param ... discord.StringSelectMenuOptionBuilder|table Options, or one list of them.
---@return discord.StringSelectMenuBuilder self
function StringSelectMenuBuilder:setOptions(...)
  local ok, err = pcall(self.spliceOptions, self, 1, #self.options, ...)
  if not ok then error(err, 2) end
  return self
end

--- The select in API form: 1-25 unique values, min and max within the options.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function StringSelectMenuBuilder:toJSON()
  local who = "StringSelectMenuBuilder"
  local min, max, count = self:_check(#self.options, 2)
  if count < 1 then fail(who, 2, "a select menu needs 1 to %d options", Limits.selectOptions) end
  if max > count then fail(who, 2, "max_values (%d) is above the number of options (%d)", max, count) end
  local out = util.deepCopy(self.data)
  out.options = json.array({})
  local seen, defaults = {}, 0
  for i, o in ipairs(self.options) do
    local d = o:toJSON()
    if seen[d.value] then fail(who, 2, "option values must be unique; '%s' appears twice", d.value) end
    seen[d.value] = true
    if d.default then defaults = defaults + 1 end
    out.options[i] = d
  end
  if defaults > max then fail(who, 2, "%d options are default but max_values is %d", defaults, max) end
  if min == 0 and out.required then fail(who, 2, "a required select needs min_values of at least 1") end
  return out
end

--- User, role, mentionable and channel selects: Discord fills the options; defaults are given by ID.
---@class discord.AutoPopulatedSelectMenuBuilder: discord.BaseSelectMenuBuilder
local AutoSelect = util.class("AutoPopulatedSelectMenuBuilder", BaseSelectMenuBuilder)
M.AutoPopulatedSelectMenuBuilder = AutoSelect

local function defaultsOf(kinds, who, list, level)
  local out = {}
  for i, v in ipairs(list) do
    local id, kind = v, kinds[1]
    if type(v) == "table" then
      id = v.id
      kind = v.type or kind
    end
    if id == nil then fail(who, level + 1, "default value %d has no id", i) end
    if not util.contains(kinds, kind) then
      fail(who, level + 1, "default value %d must be of type %s", i, table.concat(kinds, " or "))
    end
    out[i] = { id = tostring(id), type = kind }
  end
  return out
end

function AutoSelect:_addDefaults(kinds, list)
  local values = self.data.default_values or json.array({})
  for _, d in ipairs(defaultsOf(kinds, self.__name, list, 3)) do values[#values + 1] = d end
  if #values > Limits.selectValues then
    fail(self.__name, 3, "a select menu has at most %d default values", Limits.selectValues)
  end
  self.data.default_values = json.array(values)
  return self
end

--- The select in API form; the default values must fit min and max.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function AutoSelect:toJSON()
  local values = self.data.default_values
  local min, max, count = self:_check(values and #values or 0, 2)
  if count > 0 and (count < min or count > max) then
    fail(self.__name, 2, "%d default values given, outside min_values..max_values (%d..%d)", count, min, max)
  end
  return util.deepCopy(self.data)
end

local function autoSelect(name, typ, kinds, method)
  local cls = builderClass(name, typ, AutoSelect)
  M[name] = cls
  cls[method] = function(self, ...)
    return self:_addDefaults(kinds, listArgs(...))
  end
  return cls
end

local SelectDefault = enums.SelectMenuDefaultValueType
--- A select of the guild's users.
---@class discord.UserSelectMenuBuilder: discord.AutoPopulatedSelectMenuBuilder
---@field addDefaultUsers fun(self, ...: discord.UserResolvable|table): discord.UserSelectMenuBuilder Preselected users.
autoSelect("UserSelectMenuBuilder", ComponentType.UserSelect, { SelectDefault.User }, "addDefaultUsers")
--- A select of the guild's roles.
---@class discord.RoleSelectMenuBuilder: discord.AutoPopulatedSelectMenuBuilder
---@field addDefaultRoles fun(self, ...: discord.RoleResolvable|table): discord.RoleSelectMenuBuilder Preselected roles.
autoSelect("RoleSelectMenuBuilder", ComponentType.RoleSelect, { SelectDefault.Role }, "addDefaultRoles")
--- A select of users and roles.
---@class discord.MentionableSelectMenuBuilder: discord.AutoPopulatedSelectMenuBuilder
---@field addDefaultValues fun(self, ...: {id: discord.Snowflake, type: string}): any Preselects users or roles.
local Mentionable = autoSelect("MentionableSelectMenuBuilder", ComponentType.MentionableSelect,
  { SelectDefault.User, SelectDefault.Role }, "addDefaultValues")
--- A select of the guild's channels, optionally of some types.
---@class discord.ChannelSelectMenuBuilder: discord.AutoPopulatedSelectMenuBuilder
---@field addDefaultChannels fun(self, ...: discord.ChannelResolvable): discord.ChannelSelectMenuBuilder Preselected.
local ChannelSelect = autoSelect("ChannelSelectMenuBuilder", ComponentType.ChannelSelect, { SelectDefault.Channel },
  "addDefaultChannels")

--- Preselects users (IDs or objects).
--- Raises a string error naming the builder and the rule it breaks.
---@param ... discord.UserResolvable IDs or users, or one list of them.
---@return discord.MentionableSelectMenuBuilder self
function Mentionable:addDefaultUsers(...)
  local ids = util.map(listArgs(...), function(v) return { id = type(v) == "table" and v.id or v, type = "user" } end)
  return self:_addDefaults({ "user", "role" }, ids)
end

--- Preselects roles (IDs or objects).
--- Raises a string error naming the builder and the rule it breaks.
---@param ... discord.RoleResolvable IDs or roles, or one list of them.
---@return discord.MentionableSelectMenuBuilder self
function Mentionable:addDefaultRoles(...)
  local ids = util.map(listArgs(...), function(v) return { id = type(v) == "table" and v.id or v, type = "role" } end)
  return self:_addDefaults({ "user", "role" }, ids)
end

--- Offers only channels of these types (names or numbers).
--- Raises a string error naming the builder and the rule it breaks.
---@param ... string|integer Channel types, or one list of them.
---@return discord.ChannelSelectMenuBuilder self
function ChannelSelect:addChannelTypes(...)
  local types = self.data.channel_types or json.array({})
  for _, t in ipairs(listArgs(...)) do
    types[#types + 1] = enumValue("ChannelSelectMenuBuilder", "channel type", enums.ChannelType, t, 2)
  end
  self.data.channel_types = json.array(types)
  return self
end

--- Replaces the channel types offered.
--- Raises a string error naming the builder and the rule it breaks.
---@param ... string|integer Channel types, or one list of them.
---@return discord.ChannelSelectMenuBuilder self
function ChannelSelect:setChannelTypes(...)
  self.data.channel_types = nil
  return self:addChannelTypes(...)
end

-- Text inputs, labels and modals -------------------------------------------------------------------------

--- A text field in a modal: short or paragraph, with length limits, a placeholder and a prefilled value.
---@class discord.TextInputBuilder: discord.ComponentBuilder
---@field setLabel fun(self, label: string): discord.TextInputBuilder Label of the older modal layout (1-45).
---@field setMinLength fun(self, n: integer): discord.TextInputBuilder Sets the shortest text accepted (0-4000).
---@field setMaxLength fun(self, n: integer): discord.TextInputBuilder Sets the longest text accepted (1-4000).
---@field setPlaceholder fun(self, text: string|nil): discord.TextInputBuilder Text while empty (1-100); nil removes it.
---@field setValue fun(self, value: string|nil): discord.TextInputBuilder Prefills it (up to 4000); nil removes it.
---@field setRequired fun(self, required?: boolean): discord.TextInputBuilder Must it be filled? (true)
local TextInputBuilder = builderClass("TextInputBuilder", ComponentType.TextInput)
M.TextInputBuilder = TextInputBuilder

--- Sets the custom ID (1-100 characters) the submit carries it under.
--- Raises a string error naming the builder and the rule it breaks.
---@param id string
---@return discord.TextInputBuilder self
function TextInputBuilder:setCustomId(id) return setCustomId(self, id) end

--- Sets the style: "Short" (one line) or "Paragraph", or the number.
--- Raises a string error naming the builder and the rule it breaks.
---@param style string|integer
---@return discord.TextInputBuilder self
function TextInputBuilder:setStyle(style)
  self.data.style = enumValue("TextInputBuilder", "style", enums.TextInputStyle, style, 2)
  return self
end

TextInputBuilder.setLabel = setter("label", checkString, Limits.textInputLabel, 1)

TextInputBuilder.setMinLength = setter("min_length", checkInt, 0, Limits.textInputLength)

TextInputBuilder.setMaxLength = setter("max_length", checkInt, 1, Limits.textInputLength)

TextInputBuilder.setPlaceholder = clearable("placeholder", checkString, Limits.textInputPlaceholder, 1)

TextInputBuilder.setValue = clearable("value", checkString, Limits.textInputLength, 0)

TextInputBuilder.setRequired = setter("required", checkBool)

--- The text input in API form: custom ID, style, lengths and value checked.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function TextInputBuilder:toJSON()
  local d, who = self.data, "TextInputBuilder"
  if not d.custom_id then fail(who, 2, "a text input needs a custom_id") end
  if not d.style then fail(who, 2, "a text input needs a style (Short or Paragraph)") end
  local min, max = d.min_length or 0, d.max_length or Limits.textInputLength
  if min > max then fail(who, 2, "min_length (%d) is above max_length (%d)", min, max) end
  if d.value ~= nil then
    local n = util.utf8len(d.value)
    if n > max or (n < min and n > 0) then
      fail(who, 2, "value is %d characters long, outside min_length..max_length (%d..%d)", n, min, max)
    end
  end
  return util.deepCopy(d)
end

--- A file picker in a modal (inside a label): the user uploads 0-10 files, sent back as attachments.
---@class discord.FileUploadBuilder: discord.ComponentBuilder
---@field setMinValues fun(self, n: integer): discord.FileUploadBuilder Fewest files to upload (0-10).
---@field setMaxValues fun(self, n: integer): discord.FileUploadBuilder Most files to upload (1-10).
---@field setRequired fun(self, required?: boolean): discord.FileUploadBuilder Must a file be uploaded? (true)
local FileUploadBuilder = builderClass("FileUploadBuilder", ComponentType.FileUpload)
M.FileUploadBuilder = FileUploadBuilder

--- Sets the custom ID (1-100 characters) the submit carries the files under.
--- Raises a string error naming the builder and the rule it breaks.
---@param id string
---@return discord.FileUploadBuilder self
function FileUploadBuilder:setCustomId(id) return setCustomId(self, id) end

FileUploadBuilder.setMinValues = setter("min_values", checkInt, 0, Limits.uploadFiles)

FileUploadBuilder.setMaxValues = setter("max_values", checkInt, 1, Limits.uploadFiles)

FileUploadBuilder.setRequired = setter("required", checkBool)

--- Kinds of file the picker offers: "image", "video", "audio" or extensions such as ".pdf"; nil for any.
--- Raises a string error naming the builder and the rule it breaks.
---@param ... string|nil Up to 10 kinds, or one list of them.
---@return discord.FileUploadBuilder self
function FileUploadBuilder:setFileTypes(...)
  local types = select("#", ...) > 0 and select(1, ...) ~= nil and listArgs(...) or nil
  if types ~= nil then
    if #types > Limits.uploadFileTypes then
      fail("FileUploadBuilder", 2, "a file upload filters at most %d file types", Limits.uploadFileTypes)
    end
    for _, t in ipairs(types) do
      if type(t) ~= "string" or not (t == "image" or t == "video" or t == "audio" or t:match("^%.[%w]+$")) then
        fail("FileUploadBuilder", 2, "a file type is image, video, audio or an extension such as .pdf, got %s",
          tostring(t))
      end
    end
    types = json.array(util.shallowCopy(types))
  end
  self.data.file_types = types
  return self
end

--- The file upload in API form.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function FileUploadBuilder:toJSON()
  local d = self.data
  if not d.custom_id then fail("FileUploadBuilder", 2, "a file upload needs a custom_id") end
  local min, max = d.min_values or 1, d.max_values or 1
  if min > max then fail("FileUploadBuilder", 2, "min_values (%d) is above max_values (%d)", min, max) end
  return util.deepCopy(d)
end

-- Radio groups, checkbox groups and checkboxes ----------------------------------------------------------

-- A group's options are select options without emoji.
local function groupOptionClass(name)
  local cls = util.class(name, StringSelectMenuOptionBuilder)
  --- A group option builder from API data.
  ---@param data? table
  ---@return discord.StringSelectMenuOptionBuilder
  cls.from = function(data) return cls(data) end
  --- The option in API form.
  --- Raises a string error for an emoji, a missing label or value, or text over its limit.
  ---@return table
  function cls:toJSON()
    if self.data.emoji ~= nil then fail(name, 2, "a group option has no emoji") end
    return StringSelectMenuOptionBuilder.toJSON(self)
  end
  return cls
end

--- One option of a radio group: label, value, description, default (no emoji).
---@class discord.RadioGroupOptionBuilder: discord.StringSelectMenuOptionBuilder
local RadioGroupOptionBuilder = groupOptionClass("RadioGroupOptionBuilder")
M.RadioGroupOptionBuilder = RadioGroupOptionBuilder
--- One option of a checkbox group: label, value, description, default (no emoji).
---@class discord.CheckboxGroupOptionBuilder: discord.StringSelectMenuOptionBuilder
local CheckboxGroupOptionBuilder = groupOptionClass("CheckboxGroupOptionBuilder")
M.CheckboxGroupOptionBuilder = CheckboxGroupOptionBuilder

-- A modal's choice among 2 (radio) or 1 (checkbox) to 10 options; `option` is the option builder class.
local function groupClass(name, typ, option, minOptions)
  local cls = builderClass(name, typ)
  --- Starts a group from API data (its options kept) or nothing.
  ---@param data? table
  function cls:init(data)
    ComponentBuilder.init(self, data)
    self.options = util.map(self.data.options or {}, function(o) return option(jsonOf(o)) end)
    self.data.options = nil
  end
  function cls:setCustomId(id) return setCustomId(self, id) end
  --- Whether the user must choose before submitting (Discord's default is true).
  cls.setRequired = setter("required", checkBool)
  function cls:addOptions(...)
    for _, o in ipairs(listArgs(...)) do
      if not util.instanceOf(o, option) then
        if type(o) ~= "table" then fail(name, 2, "an option must be a table or an option builder") end
        o = option(jsonOf(o))
        o:toJSON()
      end
      if #self.options >= Limits.groupOptions then
        fail(name, 2, "a group has at most %d options", Limits.groupOptions)
      end
      self.options[#self.options + 1] = o
    end
    return self
  end
  function cls:setOptions(...)
    self.options = {}
    local ok, err = pcall(self.addOptions, self, ...)
    if not ok then error(err, 2) end
    return self
  end
  -- The checks every group shares; returns the API form and the number of default options.
  function cls:_json(level)
    local d = self.data
    if not d.custom_id then fail(name, level + 1, "a group needs a custom_id") end
    local n = #self.options
    if n < minOptions then
      fail(name, level + 1, "a group needs %d to %d options", minOptions, Limits.groupOptions)
    end
    local out = util.deepCopy(d)
    out.options = json.array({})
    local seen, defaults = {}, 0
    for i, o in ipairs(self.options) do
      local od = o:toJSON()
      if seen[od.value] then fail(name, level + 1, "option values must be unique; '%s' appears twice", od.value) end
      seen[od.value] = true
      if od.default then defaults = defaults + 1 end
      out.options[i] = od
    end
    return out, defaults
  end
  return cls
end

--- Exactly one of 2-10 options, in a modal's label; the submit carries the chosen value or null.
---@class discord.RadioGroupBuilder: discord.ComponentBuilder
---@field setCustomId fun(self, id: string): any Sets the custom ID (1-100 characters).
---@field setRequired fun(self, required?: boolean): any Must the user choose (Discord's default is true)?
---@field addOptions fun(self, ...: table): any Appends options (builders or {label=, value=, ...}), 10 at most.
---@field setOptions fun(self, ...: table): any Replaces the options.
---@field options table[] The option builders.
local RadioGroupBuilder = groupClass("RadioGroupBuilder", ComponentType.RadioGroup, RadioGroupOptionBuilder, 2)
M.RadioGroupBuilder = RadioGroupBuilder

--- The radio group in API form: 2-10 unique options, at most one default.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function RadioGroupBuilder:toJSON()
  local out, defaults = self:_json(2)
  if defaults > 1 then fail("RadioGroupBuilder", 2, "a radio group has at most one default option") end
  return out
end

--- Any number of 1-10 options, in a modal's label; the submit carries the chosen values.
---@class discord.CheckboxGroupBuilder: discord.ComponentBuilder
---@field setCustomId fun(self, id: string): any Sets the custom ID (1-100 characters).
---@field setRequired fun(self, required?: boolean): any Must the user choose (Discord's default is true)?
---@field addOptions fun(self, ...: table): any Appends options (builders or {label=, value=, ...}), 10 at most.
---@field setOptions fun(self, ...: table): any Replaces the options.
---@field options table[] The option builders.
---@field setMinValues fun(self, n: integer): discord.CheckboxGroupBuilder Fewest to check (0-10; 1+ if required).
---@field setMaxValues fun(self, n: integer): discord.CheckboxGroupBuilder Most to check (1-10).
local CheckboxGroupBuilder = groupClass("CheckboxGroupBuilder", ComponentType.CheckboxGroup,
  CheckboxGroupOptionBuilder, 1)
M.CheckboxGroupBuilder = CheckboxGroupBuilder

CheckboxGroupBuilder.setMinValues = setter("min_values", checkInt, 0, Limits.groupOptions)

CheckboxGroupBuilder.setMaxValues = setter("max_values", checkInt, 1, Limits.groupOptions)

--- The checkbox group in API form: 1-10 unique options, min and max consistent.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function CheckboxGroupBuilder:toJSON()
  local who = "CheckboxGroupBuilder"
  local out, defaults = self:_json(2)
  local n = #self.options
  local min, max = out.min_values or 1, out.max_values or n
  if min > max then fail(who, 2, "min_values (%d) is above max_values (%d)", min, max) end
  if max > n then fail(who, 2, "max_values (%d) is above the number of options (%d)", max, n) end
  if min == 0 and out.required ~= false then
    fail(who, 2, "a required checkbox group needs min_values of at least 1")
  end
  if defaults > max then fail(who, 2, "%d options are default but max_values is %d", defaults, max) end
  return out
end

--- A single yes/no box in a modal's label; the submit carries true or false.
---@class discord.CheckboxBuilder: discord.ComponentBuilder
---@field setDefault fun(self, default?: boolean): discord.CheckboxBuilder Checks the box beforehand (true by default).
local CheckboxBuilder = builderClass("CheckboxBuilder", ComponentType.Checkbox)
M.CheckboxBuilder = CheckboxBuilder

--- Sets the custom ID (1-100 characters) the submit carries it under.
--- Raises a string error naming the builder and the rule it breaks.
---@param id string
---@return discord.CheckboxBuilder self
function CheckboxBuilder:setCustomId(id) return setCustomId(self, id) end

CheckboxBuilder.setDefault = setter("default", checkBool)

--- The checkbox in API form.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function CheckboxBuilder:toJSON()
  if not self.data.custom_id then fail("CheckboxBuilder", 2, "a checkbox needs a custom_id") end
  return util.deepCopy(self.data)
end

--- A label in a modal: text and description above one input (text input, select, upload, group, checkbox).
---@class discord.LabelBuilder: discord.ComponentBuilder
---@field component table|nil The component it wraps.
---@field setLabel fun(self, label: string): discord.LabelBuilder Sets the label text (1-45 characters).
---@field setDescription fun(self, text: string|nil): discord.LabelBuilder Grey text under it (1-100); nil removes it.
local LabelBuilder = builderClass("LabelBuilder", ComponentType.Label)
M.LabelBuilder = LabelBuilder

LabelBuilder.setLabel = setter("label", checkString, Limits.labelText, 1)

LabelBuilder.setDescription = clearable("description", checkString, Limits.labelDescription, 1)

-- The component a label wraps: a text input, a file upload, any select, a group or a checkbox.
local LABEL_CHILD = util.set({
  ComponentType.TextInput, ComponentType.FileUpload, ComponentType.StringSelect, ComponentType.UserSelect,
  ComponentType.RoleSelect, ComponentType.MentionableSelect, ComponentType.ChannelSelect,
  ComponentType.RadioGroup, ComponentType.CheckboxGroup, ComponentType.Checkbox,
})

local function labelChild(self, c, cls)
  if type(c) == "function" then c = c(cls()) end
  if type(c) == "table" and getmetatable(c) == nil then c = cls(c) end
  self.component = c
  return self
end

--- Wraps a text input: a builder, API data, or a function that fills a new one.
---@param c discord.TextInputBuilder|table|fun(b: discord.TextInputBuilder): any
---@return discord.LabelBuilder self
function LabelBuilder:setTextInputComponent(c) return labelChild(self, c, TextInputBuilder) end
--- Wraps a string select: a builder, API data, or a function that fills a new one.
---@param c discord.StringSelectMenuBuilder|table|fun(b: discord.StringSelectMenuBuilder): any
---@return discord.LabelBuilder self
function LabelBuilder:setStringSelectMenuComponent(c) return labelChild(self, c, StringSelectMenuBuilder) end
--- Wraps a user select: a builder, API data, or a function that fills a new one.
---@param c discord.UserSelectMenuBuilder|table|fun(b: discord.UserSelectMenuBuilder): any
---@return discord.LabelBuilder self
function LabelBuilder:setUserSelectMenuComponent(c) return labelChild(self, c, M.UserSelectMenuBuilder) end
--- Wraps a role select: a builder, API data, or a function that fills a new one.
---@param c discord.RoleSelectMenuBuilder|table|fun(b: discord.RoleSelectMenuBuilder): any
---@return discord.LabelBuilder self
function LabelBuilder:setRoleSelectMenuComponent(c) return labelChild(self, c, M.RoleSelectMenuBuilder) end
--- Wraps a mentionable select: a builder, API data, or a function that fills a new one.
---@param c discord.MentionableSelectMenuBuilder|table|fun(b: discord.MentionableSelectMenuBuilder): any
---@return discord.LabelBuilder self
function LabelBuilder:setMentionableSelectMenuComponent(c) return labelChild(self, c, Mentionable) end
--- Wraps a channel select: a builder, API data, or a function that fills a new one.
---@param c discord.ChannelSelectMenuBuilder|table|fun(b: discord.ChannelSelectMenuBuilder): any
---@return discord.LabelBuilder self
function LabelBuilder:setChannelSelectMenuComponent(c) return labelChild(self, c, ChannelSelect) end
--- Wraps a file upload: a builder, API data, or a function that fills a new one.
---@param c discord.FileUploadBuilder|table|fun(b: discord.FileUploadBuilder): any
---@return discord.LabelBuilder self
function LabelBuilder:setFileUploadComponent(c) return labelChild(self, c, FileUploadBuilder) end
--- Wraps a radio group: a builder, API data, or a function that fills a new one.
---@param c discord.RadioGroupBuilder|table|fun(b: discord.RadioGroupBuilder): any
---@return discord.LabelBuilder self
function LabelBuilder:setRadioGroupComponent(c) return labelChild(self, c, RadioGroupBuilder) end
--- Wraps a checkbox group: a builder, API data, or a function that fills a new one.
---@param c discord.CheckboxGroupBuilder|table|fun(b: discord.CheckboxGroupBuilder): any
---@return discord.LabelBuilder self
function LabelBuilder:setCheckboxGroupComponent(c) return labelChild(self, c, CheckboxGroupBuilder) end
--- Wraps a checkbox: a builder, API data, or a function that fills a new one.
---@param c discord.CheckboxBuilder|table|fun(b: discord.CheckboxBuilder): any
---@return discord.LabelBuilder self
function LabelBuilder:setCheckboxComponent(c) return labelChild(self, c, CheckboxBuilder) end

--- The label in API form; a text input inside it must have no label of its own.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function LabelBuilder:toJSON()
  local out = util.deepCopy(self.data)
  checkString("LabelBuilder", "label", out.label, Limits.labelText, 1, 2)
  local child = self.component or out.component
  if child == nil then
    fail("LabelBuilder", 2, "a label needs a component (a text input, a select, a file upload, a group or a checkbox)")
  end
  child = jsonOf(child)
  if not LABEL_CHILD[child.type] then fail("LabelBuilder", 2, "a label cannot hold a component of type %s",
    tostring(ComponentType[child.type] or child.type)) end
  if child.type == ComponentType.TextInput and child.label ~= nil then
    fail("LabelBuilder", 2, "a text input inside a label takes its text from the label; do not set its label")
  end
  out.component = child
  return out
end

-- Action rows --------------------------------------------------------------------------------------------

--- A row of 1-5 buttons, or one select (in the older modal layout, one text input).
---@class discord.ActionRowBuilder: discord.ComponentBuilder
---@field components table[] Builders or API tables.
local ActionRowBuilder = builderClass("ActionRowBuilder", ComponentType.ActionRow)
M.ActionRowBuilder = ActionRowBuilder

--- Starts a row from API data (its components kept) or nothing.
---@param data? table
function ActionRowBuilder:init(data)
  ComponentBuilder.init(self, data)
  self.components = {}
  for i, c in ipairs(self.data.components or {}) do self.components[i] = c end
  self.data.components = nil
end

--- Appends components (builders or API tables).
--- Raises a string error naming the builder and the rule it breaks.
---@param ... table Components, or one list of them.
---@return discord.ActionRowBuilder self
function ActionRowBuilder:addComponents(...)
  for _, c in ipairs(listArgs(...)) do
    if type(c) ~= "table" then fail("ActionRowBuilder", 2, "a component must be a builder or a table") end
    self.components[#self.components + 1] = c
  end
  return self
end

--- Replaces the components.
--- Raises a string error naming the builder and the rule it breaks.
---@param ... table Components, or one list of them.
---@return discord.ActionRowBuilder self
function ActionRowBuilder:setComponents(...)
  self.components = {}
  return self:addComponents(...)
end

local SELECTS = util.set({
  ComponentType.StringSelect, ComponentType.UserSelect, ComponentType.RoleSelect, ComponentType.MentionableSelect,
  ComponentType.ChannelSelect,
})
--- The select menu component types.
---@type table<integer, boolean>
M.SelectTypes = SELECTS

--- The row in API form: 1-5 buttons, or one select or text input.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function ActionRowBuilder:toJSON()
  local out = util.deepCopy(self.data)
  local children = util.map(self.components, jsonOf)
  local who = "ActionRowBuilder"
  if #children == 0 then fail(who, 2, "an action row needs at least one component") end
  local buttons = 0
  for _, c in ipairs(children) do
    if c.type == ComponentType.Button then
      buttons = buttons + 1
    elseif SELECTS[c.type] or c.type == ComponentType.TextInput then
      if #children > 1 then
        fail(who, 2, "a %s fills its action row alone", ComponentType[c.type])
      end
    else
      fail(who, 2, "an action row cannot hold a component of type %s", tostring(ComponentType[c.type] or c.type))
    end
  end
  if buttons > Limits.rowButtons then fail(who, 2, "an action row holds at most %d buttons", Limits.rowButtons) end
  out.components = json.array(children)
  return out
end

--- A modal (pop-up form): a title, a custom ID and up to 5 labels or rows.
---@class discord.ModalBuilder
---@field data table The API form being built.
---@field components table[] Builders or API tables.
---@field setTitle fun(self, title: string): discord.ModalBuilder Sets the title (1-45 characters).
---@field addLabelComponents fun(self, ...: discord.LabelBuilder|function): discord.ModalBuilder Appends labels.
local ModalBuilder = util.class("ModalBuilder")
M.ModalBuilder = ModalBuilder
--- A modal builder from API data, camelCase data or nothing.
---@param data? table
---@return discord.ModalBuilder
ModalBuilder.from = function(data) return ModalBuilder(data) end

--- Starts a modal from API data, camelCase data or nothing.
---@param data? table
function ModalBuilder:init(data)
  data = fromCamel(util.deepCopy(data or {}))
  self.components = {}
  for i, c in ipairs(data.components or {}) do self.components[i] = c end
  data.components = nil
  self.data = data
end

--- Sets the custom ID (1-100 characters) the submit carries.
--- Raises a string error naming the builder and the rule it breaks.
---@param id string
---@return discord.ModalBuilder self
function ModalBuilder:setCustomId(id) return setCustomId(self, id) end

ModalBuilder.setTitle = setter("title", checkString, Limits.modalTitle, 1)

--- Appends components: labels, text displays or (older layout) action rows.
---@param ... table Components, or one list of them.
---@return discord.ModalBuilder self
function ModalBuilder:addComponents(...)
  for _, c in ipairs(listArgs(...)) do self.components[#self.components + 1] = c end
  return self
end

--- Replaces the components.
---@param ... table Components, or one list of them.
---@return discord.ModalBuilder self
function ModalBuilder:setComponents(...)
  self.components = {}
  return self:addComponents(...)
end

local function adder(cls)
  return function(self, ...)
    for _, c in ipairs(listArgs(...)) do
      if type(c) == "function" then c = c(cls()) end
      self.components[#self.components + 1] = c
    end
    return self
  end
end
ModalBuilder.addLabelComponents = adder(LabelBuilder)

local MODAL_TOP = util.set({ ComponentType.ActionRow, ComponentType.Label, ComponentType.TextDisplay })

--- The modal in API form: title, custom ID, 1-5 components.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function ModalBuilder:toJSON()
  local d, who = self.data, "ModalBuilder"
  if not d.custom_id then fail(who, 2, "a modal needs a custom_id") end
  checkString(who, "title", d.title, Limits.modalTitle, 1, 2)
  local children = util.map(self.components, jsonOf)
  if #children < 1 or #children > Limits.modalComponents then
    fail(who, 2, "a modal holds 1 to %d components, got %d", Limits.modalComponents, #children)
  end
  local ids = {}
  for _, c in ipairs(children) do
    if not MODAL_TOP[c.type] then
      fail(who, 2, "a modal cannot hold a component of type %s at the top", tostring(ComponentType[c.type] or c.type))
    end
    if c.type == ComponentType.ActionRow then
      local inner = c.components or {}
      if #inner ~= 1 or inner[1].type ~= ComponentType.TextInput then
        fail(who, 2, "an action row in a modal holds exactly one text input")
      end
      if not inner[1].label then fail(who, 2, "a text input in an action row needs a label") end
    end
    local input = c.type == ComponentType.ActionRow and c.components[1] or c.component
    if input and input.custom_id then
      if ids[input.custom_id] then fail(who, 2, "custom_id '%s' is used twice", input.custom_id) end
      ids[input.custom_id] = true
    end
  end
  local out = util.deepCopy(d)
  out.components = json.array(children)
  return out
end

-- Components v2 ------------------------------------------------------------------------------------------

--- Markdown text in a message (components v2) or a modal.
---@class discord.TextDisplayBuilder: discord.ComponentBuilder
---@field setContent fun(self, content: string): discord.TextDisplayBuilder Sets the markdown text (1-4000 characters).
local TextDisplayBuilder = builderClass("TextDisplayBuilder", ComponentType.TextDisplay)
M.TextDisplayBuilder = TextDisplayBuilder

TextDisplayBuilder.setContent = setter("content", checkString, Limits.textDisplayTotal, 1)

--- The text display in API form.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function TextDisplayBuilder:toJSON()
  checkString("TextDisplayBuilder", "content", self.data.content, Limits.textDisplayTotal, 1, 2)
  return util.deepCopy(self.data)
end

--- Space, with or without a line, between components (components v2).
---@class discord.SeparatorBuilder: discord.ComponentBuilder
---@field setDivider fun(self, divider?: boolean): discord.SeparatorBuilder Whether a line is drawn (true by default).
local SeparatorBuilder = builderClass("SeparatorBuilder", ComponentType.Separator)
M.SeparatorBuilder = SeparatorBuilder

SeparatorBuilder.setDivider = setter("divider", checkBool)

--- Sets the padding: "Small" or "Large", or the number.
--- Raises a string error naming the builder and the rule it breaks.
---@param size string|integer
---@return discord.SeparatorBuilder self
function SeparatorBuilder:setSpacing(size)
  self.data.spacing = enumValue("SeparatorBuilder", "spacing", enums.SeparatorSpacingSize, size, 2)
  return self
end

--- The separator in API form.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function SeparatorBuilder:toJSON()
  return util.deepCopy(self.data)
end

-- Media: an http(s) URL or attachment://<file name> of a file sent with the message.
local function checkMedia(who, url, level)
  if type(url) ~= "string" or not (url:match("^https?://.") or url:match("^attachment://.")) then
    fail(who, level + 1, "url must be an http(s) or attachment:// URL, got %s", tostring(url))
  end
  return { url = url }
end

local function mediaSetters(cls)
  function cls:setURL(url)
    self.data.media = checkMedia(self.__name, url, 2)
    return self
  end
  function cls:setDescription(text)
    self.data.description = text ~= nil and
      checkString(self.__name, "description", text, Limits.mediaDescription, 1, 2) or nil
    return self
  end
  function cls:setSpoiler(spoiler)
    self.data.spoiler = checkBool(self.__name, "spoiler", spoiler, 2)
    return self
  end
  function cls:toJSON()
    if type(self.data.media) ~= "table" or not self.data.media.url then fail(self.__name, 2, "a url is needed") end
    return util.deepCopy(self.data)
  end
end

--- A small image beside a section's text (components v2).
---@class discord.ThumbnailBuilder: discord.ComponentBuilder
---@field setURL fun(self, url: string): any Sets the image: http(s) or attachment://<name> of a file sent along.
---@field setDescription fun(self, text?: string): any Sets the alt text (up to 1024 characters); nil removes it.
---@field setSpoiler fun(self, spoiler?: boolean): any Blurs it until clicked (true).
---@field toJSON fun(self): table The API form; raises without a URL.
local ThumbnailBuilder = builderClass("ThumbnailBuilder", ComponentType.Thumbnail)
M.ThumbnailBuilder = ThumbnailBuilder
mediaSetters(ThumbnailBuilder)

--- One picture or video of a gallery (not a component of its own).
---@class discord.MediaGalleryItemBuilder
---@field data table The API form being built.
---@field setURL fun(self, url: string): any Sets the image: http(s) or attachment://<name> of a file sent along.
---@field setDescription fun(self, text?: string): any Sets the alt text (up to 1024 characters); nil removes it.
---@field setSpoiler fun(self, spoiler?: boolean): any Blurs it until clicked (true).
---@field toJSON fun(self): table The API form; raises without a URL.
local MediaGalleryItemBuilder = util.class("MediaGalleryItemBuilder")
M.MediaGalleryItemBuilder = MediaGalleryItemBuilder
--- Starts an item from API data or nothing.
---@param data? table
function MediaGalleryItemBuilder:init(data) self.data = util.deepCopy(data or {}) end
mediaSetters(MediaGalleryItemBuilder)

--- A grid of 1-10 images or videos (components v2).
---@class discord.MediaGalleryBuilder: discord.ComponentBuilder
---@field items discord.MediaGalleryItemBuilder[] The gallery's media items.
local MediaGalleryBuilder = builderClass("MediaGalleryBuilder", ComponentType.MediaGallery)
M.MediaGalleryBuilder = MediaGalleryBuilder

--- Starts a gallery from API data (its items kept) or nothing.
---@param data? table
function MediaGalleryBuilder:init(data)
  ComponentBuilder.init(self, data)
  self.items = {}
  for i, item in ipairs(self.data.items or {}) do self.items[i] = MediaGalleryItemBuilder(item) end
  self.data.items = nil
end

--- Appends items: builders, {url=, description=, spoiler=} or functions that fill a new one.
--- Raises a string error naming the builder and the rule it breaks.
---@param ... discord.MediaGalleryItemBuilder|table|function Items, or one list of them.
---@return discord.MediaGalleryBuilder self
function MediaGalleryBuilder:addItems(...)
  for _, item in ipairs(listArgs(...)) do
    if type(item) == "function" then item = item(MediaGalleryItemBuilder()) end
    if type(item) == "table" and getmetatable(item) == nil then
      local b = MediaGalleryItemBuilder()
      b:setURL(item.url or (item.media and item.media.url))
      if item.description then b:setDescription(item.description) end
      if item.spoiler then b:setSpoiler(true) end
      item = b
    end
    if #self.items >= Limits.galleryItems then
      fail("MediaGalleryBuilder", 2, "a media gallery holds at most %d items", Limits.galleryItems)
    end
    self.items[#self.items + 1] = item
  end
  return self
end

--- The gallery in API form (1-10 items).
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function MediaGalleryBuilder:toJSON()
  if #self.items < 1 then fail("MediaGalleryBuilder", 2, "a media gallery needs 1 to %d items", Limits.galleryItems) end
  local out = util.deepCopy(self.data)
  out.items = json.array(util.map(self.items, jsonOf))
  return out
end

--- A file sent with the message, shown as a download (components v2).
---@class discord.FileBuilder: discord.ComponentBuilder
---@field setSpoiler fun(self, spoiler?: boolean): discord.FileBuilder Blurs the file until clicked (true by default).
local FileBuilder = builderClass("FileBuilder", ComponentType.File)
M.FileBuilder = FileBuilder

--- Sets the file: only files sent with the message can be shown, as attachment://<name>.
--- Raises a string error naming the builder and the rule it breaks.
---@param url string
---@return discord.FileBuilder self
function FileBuilder:setURL(url)
  if type(url) ~= "string" or not url:match("^attachment://.") then
    fail("FileBuilder", 2, "url must be attachment://<file name>, got %s", tostring(url))
  end
  self.data.file = { url = url }
  return self
end

FileBuilder.setSpoiler = setter("spoiler", checkBool)

--- The file component in API form.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function FileBuilder:toJSON()
  if type(self.data.file) ~= "table" then fail("FileBuilder", 2, "a file component needs a url") end
  return util.deepCopy(self.data)
end

--- 1-3 text displays with a button or thumbnail beside them (components v2).
---@class discord.SectionBuilder: discord.ComponentBuilder
---@field components table[] The text displays.
---@field accessory table|nil The button or thumbnail.
local SectionBuilder = builderClass("SectionBuilder", ComponentType.Section)
M.SectionBuilder = SectionBuilder

--- Starts a section from API data (components and accessory kept) or nothing.
---@param data? table
function SectionBuilder:init(data)
  ComponentBuilder.init(self, data)
  self.components = {}
  for i, c in ipairs(self.data.components or {}) do self.components[i] = c end
  self.accessory = self.data.accessory
  self.data.components, self.data.accessory = nil, nil
end

--- Appends text displays: builders, strings, or functions that fill a new one (3 at most).
--- Raises a string error naming the builder and the rule it breaks.
---@param ... discord.TextDisplayBuilder|string|function
---@return discord.SectionBuilder self
function SectionBuilder:addTextDisplayComponents(...)
  for _, c in ipairs(listArgs(...)) do
    if type(c) == "function" then c = c(TextDisplayBuilder()) end
    if type(c) == "string" then c = TextDisplayBuilder():setContent(c) end
    if #self.components >= Limits.sectionTexts then
      fail("SectionBuilder", 2, "a section holds 1 to %d text displays", Limits.sectionTexts)
    end
    self.components[#self.components + 1] = c
  end
  return self
end

--- Puts a button beside the text: a builder, or a function that fills a new one.
---@param b discord.ButtonBuilder|table|fun(b: discord.ButtonBuilder): any
---@return discord.SectionBuilder self
function SectionBuilder:setButtonAccessory(b)
  if type(b) == "function" then b = b(ButtonBuilder()) end
  self.accessory = b
  return self
end

--- Puts a thumbnail beside the text: a builder, or a function that fills a new one.
---@param t discord.ThumbnailBuilder|table|fun(t: discord.ThumbnailBuilder): any
---@return discord.SectionBuilder self
function SectionBuilder:setThumbnailAccessory(t)
  if type(t) == "function" then t = t(ThumbnailBuilder()) end
  self.accessory = t
  return self
end

--- The section in API form: 1-3 text displays and a button or thumbnail.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function SectionBuilder:toJSON()
  local who = "SectionBuilder"
  local children = util.map(self.components, jsonOf)
  if #children < 1 then fail(who, 2, "a section needs 1 to %d text displays", Limits.sectionTexts) end
  for _, c in ipairs(children) do
    if c.type ~= ComponentType.TextDisplay then fail(who, 2, "a section holds only text displays") end
  end
  if self.accessory == nil then fail(who, 2, "a section needs an accessory (a button or a thumbnail)") end
  local acc = jsonOf(self.accessory)
  if acc.type ~= ComponentType.Button and acc.type ~= ComponentType.Thumbnail then
    fail(who, 2, "a section's accessory is a button or a thumbnail")
  end
  local out = util.deepCopy(self.data)
  out.components = json.array(children)
  out.accessory = acc
  return out
end

--- A box around other components with an optional accent colour (components v2).
---@class discord.ContainerBuilder: discord.ComponentBuilder
---@field components table[] The components inside.
---@field setSpoiler fun(self, spoiler?: boolean): discord.ContainerBuilder Blurs it until clicked (true).
---@field addActionRowComponents fun(self, ...: table|function): discord.ContainerBuilder Appends action rows.
---@field addTextDisplayComponents fun(self, ...: table|function): discord.ContainerBuilder Appends texts.
---@field addSectionComponents fun(self, ...: table|function): discord.ContainerBuilder Appends sections.
---@field addMediaGalleryComponents fun(self, ...: table|function): discord.ContainerBuilder Appends media galleries.
---@field addSeparatorComponents fun(self, ...: table|function): discord.ContainerBuilder Appends separators.
---@field addFileComponents fun(self, ...: table|function): discord.ContainerBuilder Appends file components.
local ContainerBuilder = builderClass("ContainerBuilder", ComponentType.Container)
M.ContainerBuilder = ContainerBuilder

--- Starts a container from API data (its components kept) or nothing.
---@param data? table
function ContainerBuilder:init(data)
  ComponentBuilder.init(self, data)
  self.components = {}
  for i, c in ipairs(self.data.components or {}) do self.components[i] = c end
  self.data.components = nil
end

--- Sets the colour of the bar on its left.
--- Raises a string error naming the builder and the rule it breaks.
---@param color discord.ColorResolvable
---@return discord.ContainerBuilder self
function ContainerBuilder:setAccentColor(color)
  local ok, c = pcall(util.resolveColor, color, require("discord.constants").Colors)
  if not ok then fail("ContainerBuilder", 2, "not a colour: %s", tostring(color)) end
  self.data.accent_color = c
  return self
end

--- Removes the accent colour.
---@return discord.ContainerBuilder self
function ContainerBuilder:clearAccentColor()
  self.data.accent_color = nil
  return self
end

ContainerBuilder.setSpoiler = setter("spoiler", checkBool)

local CONTAINER_CHILD = util.set({
  ComponentType.ActionRow, ComponentType.TextDisplay, ComponentType.Section, ComponentType.MediaGallery,
  ComponentType.Separator, ComponentType.File,
})

local function containerAdder(cls)
  return function(self, ...)
    for _, c in ipairs(listArgs(...)) do
      if type(c) == "function" then c = c(cls()) end
      if cls == TextDisplayBuilder and type(c) == "string" then c = TextDisplayBuilder():setContent(c) end
      self.components[#self.components + 1] = c
    end
    return self
  end
end
ContainerBuilder.addActionRowComponents = containerAdder(ActionRowBuilder)
ContainerBuilder.addTextDisplayComponents = containerAdder(TextDisplayBuilder)
ContainerBuilder.addSectionComponents = containerAdder(SectionBuilder)
ContainerBuilder.addMediaGalleryComponents = containerAdder(MediaGalleryBuilder)
ContainerBuilder.addSeparatorComponents = containerAdder(SeparatorBuilder)
ContainerBuilder.addFileComponents = containerAdder(FileBuilder)

--- The container in API form.
--- Raises a string error naming the builder and the rule it breaks.
---@return table
function ContainerBuilder:toJSON()
  local children = util.map(self.components, jsonOf)
  if #children < 1 then fail("ContainerBuilder", 2, "a container needs at least one component") end
  for _, c in ipairs(children) do
    if not CONTAINER_CHILD[c.type] then
      fail("ContainerBuilder", 2, "a container cannot hold a component of type %s",
        tostring(ComponentType[c.type] or c.type))
    end
  end
  local out = util.deepCopy(self.data)
  out.components = json.array(children)
  return out
end

-- Message rules ------------------------------------------------------------------------------------------

-- Top-level components that only a message flagged IS_COMPONENTS_V2 may hold.
local V2_TOP = util.set({
  ComponentType.Section, ComponentType.TextDisplay, ComponentType.MediaGallery, ComponentType.File,
  ComponentType.Separator, ComponentType.Container,
})
--- Top-level component types that only a message flagged IS_COMPONENTS_V2 may hold.
---@type table<integer, boolean>
M.V2Types = V2_TOP

--- True when the component list needs the IS_COMPONENTS_V2 flag.
---@param list table[] Components in API form.
---@return boolean
function M.needsComponentsV2(list)
  for _, c in ipairs(list or {}) do
    if V2_TOP[c.type] then return true end
  end
  return false
end

local MODAL_ONLY = util.set({ ComponentType.TextInput, ComponentType.Label, ComponentType.FileUpload,
  ComponentType.RadioGroup, ComponentType.CheckboxGroup, ComponentType.Checkbox })

local function walk(c, fn, depth)
  fn(c, depth)
  for _, child in ipairs(c.components or {}) do walk(child, fn, depth + 1) end
  if type(c.accessory) == "table" then walk(c.accessory, fn, depth + 1) end
  if type(c.component) == "table" then walk(c.component, fn, depth + 1) end
end

--- Checks the API form of a message's components; `v2` says whether the message has IS_COMPONENTS_V2.
--- Raises a string error naming the builder and the rule it breaks.
---@param list table[]
---@param v2 boolean
---@param level? integer Error level.
---@return table[] list
function M.validateMessageComponents(list, v2, level)
  level = (level or 1) + 1
  local who = "message components"
  if not v2 then
    if #list > Limits.messageRows then
      fail(who, level, "a message holds at most %d action rows", Limits.messageRows)
    end
    for i, row in ipairs(list) do
      if row.type ~= ComponentType.ActionRow then
        fail(who, level, "component %d is a %s; without the IsComponentsV2 flag only action rows go at the top", i,
          tostring(ComponentType[row.type] or row.type))
      end
    end
  end
  local total, text, customIds, ids = 0, 0, {}, {}
  for _, top in ipairs(list) do
    walk(top, function(c)
      total = total + 1
      if MODAL_ONLY[c.type] then
        fail(who, level, "%s components belong in modals, not messages", ComponentType[c.type])
      end
      if c.type == ComponentType.TextDisplay then text = text + util.utf8len(c.content or "") end
      if c.custom_id ~= nil then
        if customIds[c.custom_id] then fail(who, level, "custom_id '%s' is used twice", c.custom_id) end
        customIds[c.custom_id] = true
      end
      if c.id ~= nil then
        if ids[c.id] then fail(who, level, "component id %s is used twice", tostring(c.id)) end
        ids[c.id] = true
      end
    end, 0)
  end
  if v2 and total > Limits.v2Components then
    fail(who, level, "a message holds at most %d components in all, got %d", Limits.v2Components, total)
  end
  if text > Limits.textDisplayTotal then
    fail(who, level, "text displays hold %d characters in all, over the %d limit", text, Limits.textDisplayTotal)
  end
  return list
end

--- Applies the IS_COMPONENTS_V2 rules to a message body: a v2 layout sets the flag, content and embeds go.
--- Raises a string error naming the builder and the rule it breaks.
---@param body table Message body being built.
---@param flagBit integer The flag's value.
---@param level? integer Error level.
---@param wasV2? boolean The edited message has the flag, which Discord never removes.
---@return table body
function M.applyMessageRules(body, flagBit, level, wasV2)
  level = (level or 1) + 1
  local flags = body.flags
  if wasV2 and flags ~= nil and flags & flagBit == 0 then
    fail("message", level, "the IsComponentsV2 flag cannot be removed from a message that has it")
  end
  local v2 = wasV2 or (flags ~= nil and flags & flagBit ~= 0)
  if body.components ~= nil and M.needsComponentsV2(body.components) and not v2 then
    flags = (flags or 0) | flagBit
    body.flags, v2 = flags, true
  end
  if v2 then
    for _, field in ipairs({ "content", "embeds", "poll", "sticker_ids" }) do
      local v = body[field]
      if v ~= nil and v ~= json.null and v ~= "" and not (type(v) == "table" and #v == 0) then
        fail("message", level, "a message with the IsComponentsV2 flag cannot have %s; use text displays instead",
          field)
      end
    end
  end
  if body.components ~= nil then M.validateMessageComponents(body.components, v2, level) end
  return body
end

--- Builder class for a received or raw component's type (for ActionRowBuilder.from and edits).
local BY_TYPE = {
  [ComponentType.ActionRow] = ActionRowBuilder, [ComponentType.Button] = ButtonBuilder,
  [ComponentType.StringSelect] = StringSelectMenuBuilder, [ComponentType.UserSelect] = M.UserSelectMenuBuilder,
  [ComponentType.RoleSelect] = M.RoleSelectMenuBuilder, [ComponentType.MentionableSelect] = Mentionable,
  [ComponentType.ChannelSelect] = ChannelSelect, [ComponentType.TextInput] = TextInputBuilder,
  [ComponentType.Section] = SectionBuilder, [ComponentType.TextDisplay] = TextDisplayBuilder,
  [ComponentType.Thumbnail] = ThumbnailBuilder, [ComponentType.MediaGallery] = MediaGalleryBuilder,
  [ComponentType.File] = FileBuilder, [ComponentType.Separator] = SeparatorBuilder,
  [ComponentType.Container] = ContainerBuilder, [ComponentType.Label] = LabelBuilder,
  [ComponentType.FileUpload] = FileUploadBuilder, [ComponentType.RadioGroup] = RadioGroupBuilder,
  [ComponentType.CheckboxGroup] = CheckboxGroupBuilder, [ComponentType.Checkbox] = CheckboxBuilder,
}

--- A builder for any component (API data or a received component), nested parts included.
--- Raises a string error naming the builder and the rule it breaks.
---@param data table
---@return discord.ComponentBuilder
function M.createComponentBuilder(data)
  local raw = jsonOf(data)
  local cls = BY_TYPE[raw.type]
  if not cls then error("createComponentBuilder: unknown component type " .. tostring(raw.type), 2) end
  if raw.components then raw.components = util.map(raw.components, M.createComponentBuilder) end
  if type(raw.accessory) == "table" then raw.accessory = M.createComponentBuilder(raw.accessory) end
  if type(raw.component) == "table" then raw.component = M.createComponentBuilder(raw.component) end
  local b = cls(raw)
  if cls == LabelBuilder then
    b.component, b.data.component = raw.component, nil
  end
  return b
end

util.provide("component builders", M)

return M
