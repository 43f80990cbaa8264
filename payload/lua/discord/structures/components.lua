-- Components as received on messages and in modal submits: one class per type, in camelCase, each
-- keeping its API data so that it can be sent back or turned into a builder.
local util = require("discord.util")
local json = require("json")
local enums = require("discord.enums")

local M = {}

local ComponentType = enums.ComponentType
M._byType = {}

--- A component received on a message or in a modal submit; keeps its API data in `data`.
---@class discord.Component
---@field data table The API data.
---@field type integer discord.ComponentType (read-only).
---@field id integer? The component's numeric ID in its message (read-only).
local Component = util.class("Component")
M.Component = Component

--- `Component(data)` from the API's component data.
---@private
---@param data? table
function Component:init(data)
  self.data = data or {}
end

Component.getters.type = function(self) return self.data.type end
Component.getters.id = function(self) return self.data.id end

--- The API form, ready to be sent again.
---@return table json
function Component:toJSON()
  local out = util.deepCopy(self.data)
  for k, v in pairs(out) do
    if type(v) == "table" and getmetatable(v) ~= nil and type(v.toJSON) == "function" then out[k] = v:toJSON() end
  end
  return out
end

--- Same type and data (compared as JSON, so key order and array marks do not matter).
---@param other any A component or API data.
---@return boolean equal
function Component:equals(other)
  if type(other) ~= "table" then return false end
  local a = self:toJSON()
  local b = type(other.toJSON) == "function" and other:toJSON() or other
  return json.encode(a) == json.encode(b)
end

local function class(name, typ, parent)
  local cls = util.class(name, parent or Component)
  M[name] = cls
  if typ then M._byType[typ] = cls end
  return cls
end

local function field(cls, name, key, default)
  cls.getters[name] = function(self)
    local v = self.data[key]
    if v == nil or v == json.null then
      -- A fresh empty list each time, so that changing one cannot change every component's default.
      if type(default) == "table" then return {} end
      return default
    end
    return v
  end
end

-- Components that hold others: the children are objects, and toJSON gives the API form back.
local function children(self, key)
  local list = {}
  for i, c in ipairs(self.data[key] or {}) do list[i] = M.createComponent(c) end
  return list
end

--- The API form of a component that holds others, with its children's API forms.
---@private
---@return table json
local function containerJSON(self)
  local out = {}
  for k, v in pairs(self.data) do
    if k ~= "components" and k ~= "accessory" and k ~= "component" then out[k] = util.deepCopy(v) end
  end
  if self.components then out.components = json.array(util.map(self.components, function(c) return c:toJSON() end)) end
  if self.accessory then out.accessory = self.accessory:toJSON() end
  if self.component then out.component = self.component:toJSON() end
  return out
end

--- A row of buttons or one select menu.
---@class discord.ActionRow: discord.Component
---@field components discord.Component[] Its children.
local ActionRow = class("ActionRow", ComponentType.ActionRow)
--- `ActionRow(data)`.
---@private
---@param data table
function ActionRow:init(data)
  Component.init(self, data)
  self.components = children(self, "components")
end
ActionRow.toJSON = containerJSON

--- A button.
---@class discord.ButtonComponent: discord.Component
---@field style integer? discord.ButtonStyle: Primary, Secondary, Success, Danger, Link, Premium (read-only).
---@field label string? (read-only).
---@field emoji table? {id=, name=, animated=} (read-only).
---@field customId string? Nil for link and premium buttons (read-only).
---@field url string? A link button's address (read-only).
---@field skuId discord.Snowflake? A premium button's SKU (read-only).
---@field disabled boolean (read-only).
local Button = class("ButtonComponent", ComponentType.Button)
field(Button, "style", "style")
field(Button, "label", "label")
field(Button, "emoji", "emoji")
field(Button, "customId", "custom_id")
field(Button, "url", "url")
field(Button, "skuId", "sku_id")
field(Button, "disabled", "disabled", false)

--- What every select menu has.
---@class discord.BaseSelectMenuComponent: discord.Component
---@field customId string (read-only).
---@field placeholder string? (read-only).
---@field minValues integer 1 by default (read-only).
---@field maxValues integer 1 by default (read-only).
---@field disabled boolean (read-only).
---@field required boolean In a modal: whether it must be filled (true) (read-only).
---@field defaultValues table[] {id=, type=} preselected users, roles or channels (read-only).
local Select = class("BaseSelectMenuComponent")
field(Select, "customId", "custom_id")
field(Select, "placeholder", "placeholder")
field(Select, "minValues", "min_values", 1)
field(Select, "maxValues", "max_values", 1)
field(Select, "disabled", "disabled", false)
field(Select, "required", "required", true)
field(Select, "defaultValues", "default_values", {})

--- A select menu of the bot's own options.
---@class discord.StringSelectMenuComponent: discord.BaseSelectMenuComponent
---@field options table[] {label=, value=, description=, emoji=, default=} (read-only).
local StringSelect = class("StringSelectMenuComponent", ComponentType.StringSelect, Select)
field(StringSelect, "options", "options", {})
--- A select menu of users.
---@class discord.UserSelectMenuComponent: discord.BaseSelectMenuComponent
class("UserSelectMenuComponent", ComponentType.UserSelect, Select)
--- A select menu of roles.
---@class discord.RoleSelectMenuComponent: discord.BaseSelectMenuComponent
class("RoleSelectMenuComponent", ComponentType.RoleSelect, Select)
--- A select menu of users and roles.
---@class discord.MentionableSelectMenuComponent: discord.BaseSelectMenuComponent
class("MentionableSelectMenuComponent", ComponentType.MentionableSelect, Select)
--- A select menu of channels.
---@class discord.ChannelSelectMenuComponent: discord.BaseSelectMenuComponent
---@field channelTypes integer[] The channel types offered; empty for all (read-only).
local ChannelSelect = class("ChannelSelectMenuComponent", ComponentType.ChannelSelect, Select)
field(ChannelSelect, "channelTypes", "channel_types", {})

--- A text field of a modal; in a submit, `value` is what the user typed.
---@class discord.TextInputComponent: discord.Component
---@field customId string (read-only).
---@field style integer? 1 short, 2 paragraph (read-only).
---@field label string? (read-only).
---@field value string? The text (read-only).
---@field placeholder string? (read-only).
---@field minLength integer? (read-only).
---@field maxLength integer? (read-only).
---@field required boolean True by default (read-only).
local TextInput = class("TextInputComponent", ComponentType.TextInput)
field(TextInput, "customId", "custom_id")
field(TextInput, "style", "style")
field(TextInput, "label", "label")
field(TextInput, "value", "value")
field(TextInput, "placeholder", "placeholder")
field(TextInput, "minLength", "min_length")
field(TextInput, "maxLength", "max_length")
field(TextInput, "required", "required", true)

--- A file upload field of a modal; in a submit, `values` are the uploaded attachments' IDs.
---@class discord.FileUploadComponent: discord.Component
---@field customId string (read-only).
---@field minValues integer 1 by default (read-only).
---@field maxValues integer 1 by default (read-only).
---@field required boolean True by default (read-only).
---@field values discord.Snowflake[] The uploaded attachments' IDs (read-only).
---@field fileTypes string[]? (read-only).
local FileUpload = class("FileUploadComponent", ComponentType.FileUpload)
field(FileUpload, "customId", "custom_id")
field(FileUpload, "minValues", "min_values", 1)
field(FileUpload, "maxValues", "max_values", 1)
field(FileUpload, "required", "required", true)
-- In a modal submit: the IDs of the uploaded attachments.
field(FileUpload, "values", "values", {})
field(FileUpload, "fileTypes", "file_types")

--- What radio and checkbox groups have: options and `required`.
---@class discord.BaseGroupComponent: discord.Component
---@field customId string (read-only).
---@field options table[] {label=, value=, description=, default=} (read-only).
---@field required boolean True by default (read-only).
local Group = class("BaseGroupComponent")
field(Group, "customId", "custom_id")
field(Group, "options", "options", {})
field(Group, "required", "required", true)

--- A radio group of a modal; in a submit, `value` is the chosen one.
---@class discord.RadioGroupComponent: discord.BaseGroupComponent
---@field value string? The chosen value, nil when none was chosen (read-only).
local RadioGroup = class("RadioGroupComponent", ComponentType.RadioGroup, Group)
-- In a modal submit: the chosen value, or nil when none was chosen.
field(RadioGroup, "value", "value")

--- A checkbox group of a modal; in a submit, `values` are the checked ones.
---@class discord.CheckboxGroupComponent: discord.BaseGroupComponent
---@field minValues integer 1 by default (read-only).
---@field maxValues integer? (read-only).
---@field values string[] The checked values (read-only).
local CheckboxGroup = class("CheckboxGroupComponent", ComponentType.CheckboxGroup, Group)
field(CheckboxGroup, "minValues", "min_values", 1)
field(CheckboxGroup, "maxValues", "max_values")
field(CheckboxGroup, "values", "values", {})

--- A single checkbox of a modal; in a submit, `value` says whether it was checked.
---@class discord.CheckboxComponent: discord.Component
---@field customId string (read-only).
---@field default boolean Checked at first (read-only).
---@field value boolean? Whether it was checked (read-only).
local Checkbox = class("CheckboxComponent", ComponentType.Checkbox)
field(Checkbox, "customId", "custom_id")
field(Checkbox, "default", "default", false)
-- In a modal submit: whether the box was checked.
field(Checkbox, "value", "value")

--- A label around one field of a modal.
---@class discord.LabelComponent: discord.Component
---@field component discord.Component? The field.
---@field label string (read-only).
---@field description string? (read-only).
local Label = class("LabelComponent", ComponentType.Label)
--- `LabelComponent(data)`.
---@private
---@param data table
function Label:init(data)
  Component.init(self, data)
  if type(data.component) == "table" then self.component = M.createComponent(data.component) end
end
field(Label, "label", "label")
field(Label, "description", "description")
Label.toJSON = containerJSON

--- Text displays with an accessory (a button or thumbnail) beside them.
---@class discord.SectionComponent: discord.Component
---@field components discord.Component[] Its one to three text displays.
---@field accessory discord.Component? Its thumbnail or button.
local Section = class("SectionComponent", ComponentType.Section)
--- `SectionComponent(data)`.
---@private
---@param data table
function Section:init(data)
  Component.init(self, data)
  self.components = children(self, "components")
  if type(data.accessory) == "table" then self.accessory = M.createComponent(data.accessory) end
end
Section.toJSON = containerJSON

--- Markdown text in a message.
---@class discord.TextDisplayComponent: discord.Component
---@field content string (read-only).
local TextDisplay = class("TextDisplayComponent", ComponentType.TextDisplay)
field(TextDisplay, "content", "content", "")

--- A small image beside a section's text.
---@class discord.ThumbnailComponent: discord.Component
---@field media table {url=, ...} (read-only).
---@field description string? (read-only).
---@field spoiler boolean (read-only).
local Thumbnail = class("ThumbnailComponent", ComponentType.Thumbnail)
field(Thumbnail, "media", "media")
field(Thumbnail, "description", "description")
field(Thumbnail, "spoiler", "spoiler", false)

--- A gallery of images and videos.
---@class discord.MediaGalleryComponent: discord.Component
---@field items table[] {media={url=}, description=, spoiler=} (read-only).
local Gallery = class("MediaGalleryComponent", ComponentType.MediaGallery)
field(Gallery, "items", "items", {})

--- An attached file shown in a message.
---@class discord.FileComponent: discord.Component
---@field file table {url="attachment://name"} (read-only).
---@field spoiler boolean (read-only).
---@field name string? (read-only).
---@field size integer? (read-only).
local File = class("FileComponent", ComponentType.File)
field(File, "file", "file")
field(File, "spoiler", "spoiler", false)
field(File, "name", "name")
field(File, "size", "size")

--- Space between components, with or without a line.
---@class discord.SeparatorComponent: discord.Component
---@field divider boolean Whether a line shows (true) (read-only).
---@field spacing integer discord.SeparatorSpacingSize: 1 small, 2 large (read-only).
local Separator = class("SeparatorComponent", ComponentType.Separator)
field(Separator, "divider", "divider", true)
field(Separator, "spacing", "spacing", enums.SeparatorSpacingSize.Small)

--- A box around components, with an optional accent colour.
---@class discord.ContainerComponent: discord.Component
---@field components discord.Component[] The components inside it.
---@field accentColor integer? (read-only).
---@field spoiler boolean (read-only).
local Container = class("ContainerComponent", ComponentType.Container)
--- `ContainerComponent(data)`.
---@private
---@param data table
function Container:init(data)
  Component.init(self, data)
  self.components = children(self, "components")
end
field(Container, "accentColor", "accent_color")
field(Container, "spoiler", "spoiler", false)
Container.toJSON = containerJSON

--- The object for received component data; unknown types keep their data in a plain Component.
---@param data table|discord.Component
---@return discord.Component component
function M.createComponent(data)
  if util.instanceOf(data, Component) then return data end
  local cls = M._byType[data.type] or Component
  return cls(data)
end

--- Every component of a tree, depth first (rows, sections, containers and labels are entered).
---@param list? discord.Component[]
---@return discord.Component[] components
function M.flatten(list)
  local out = {}
  local function visit(c)
    out[#out + 1] = c
    for _, child in ipairs(c.components or {}) do visit(child) end
    if c.accessory then visit(c.accessory) end
    if c.component then visit(c.component) end
  end
  for _, c in ipairs(list or {}) do visit(c) end
  return out
end

--- The first component with this custom_id in a tree of received components, or nil.
---@param list? discord.Component[]
---@param customId string
---@return discord.Component? component
function M.findByCustomId(list, customId)
  for _, c in ipairs(M.flatten(list)) do
    if c.data.custom_id == customId then return c end
  end
  return nil
end

return M
