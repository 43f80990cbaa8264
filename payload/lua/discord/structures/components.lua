-- Components as received on messages and in modal submits: one class per type, in camelCase, each
-- keeping its API data so that it can be sent back or turned into a builder.
local util = require("discord.util")
local json = require("json")
local enums = require("discord.enums")

local M = {}

local ComponentType = enums.ComponentType
M._byType = {}

local Component = util.class("Component")
M.Component = Component

function Component:init(data)
  self.data = data or {}
end

Component.getters.type = function(self) return self.data.type end
Component.getters.id = function(self) return self.data.id end

--- The API form, ready to be sent again.
function Component:toJSON()
  local out = util.deepCopy(self.data)
  for k, v in pairs(out) do
    if type(v) == "table" and getmetatable(v) ~= nil and type(v.toJSON) == "function" then out[k] = v:toJSON() end
  end
  return out
end

--- Same type and data (compared as JSON, so key order and array marks do not matter).
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

local ActionRow = class("ActionRow", ComponentType.ActionRow)
function ActionRow:init(data)
  Component.init(self, data)
  self.components = children(self, "components")
end
ActionRow.toJSON = containerJSON

local Button = class("ButtonComponent", ComponentType.Button)
field(Button, "style", "style")
field(Button, "label", "label")
field(Button, "emoji", "emoji")
field(Button, "customId", "custom_id")
field(Button, "url", "url")
field(Button, "skuId", "sku_id")
field(Button, "disabled", "disabled", false)

local Select = class("BaseSelectMenuComponent")
field(Select, "customId", "custom_id")
field(Select, "placeholder", "placeholder")
field(Select, "minValues", "min_values", 1)
field(Select, "maxValues", "max_values", 1)
field(Select, "disabled", "disabled", false)
field(Select, "required", "required", true)
field(Select, "defaultValues", "default_values", {})

local StringSelect = class("StringSelectMenuComponent", ComponentType.StringSelect, Select)
field(StringSelect, "options", "options", {})
class("UserSelectMenuComponent", ComponentType.UserSelect, Select)
class("RoleSelectMenuComponent", ComponentType.RoleSelect, Select)
class("MentionableSelectMenuComponent", ComponentType.MentionableSelect, Select)
local ChannelSelect = class("ChannelSelectMenuComponent", ComponentType.ChannelSelect, Select)
field(ChannelSelect, "channelTypes", "channel_types", {})

local TextInput = class("TextInputComponent", ComponentType.TextInput)
field(TextInput, "customId", "custom_id")
field(TextInput, "style", "style")
field(TextInput, "label", "label")
field(TextInput, "value", "value")
field(TextInput, "placeholder", "placeholder")
field(TextInput, "minLength", "min_length")
field(TextInput, "maxLength", "max_length")
field(TextInput, "required", "required", true)

local FileUpload = class("FileUploadComponent", ComponentType.FileUpload)
field(FileUpload, "customId", "custom_id")
field(FileUpload, "minValues", "min_values", 1)
field(FileUpload, "maxValues", "max_values", 1)
field(FileUpload, "required", "required", true)
-- In a modal submit: the IDs of the uploaded attachments.
field(FileUpload, "values", "values", {})
field(FileUpload, "fileTypes", "file_types")

-- Radio and checkbox groups share the options and `required`; a submit carries the choice.
local Group = class("BaseGroupComponent")
field(Group, "customId", "custom_id")
field(Group, "options", "options", {})
field(Group, "required", "required", true)

local RadioGroup = class("RadioGroupComponent", ComponentType.RadioGroup, Group)
-- In a modal submit: the chosen value, or nil when none was chosen.
field(RadioGroup, "value", "value")

local CheckboxGroup = class("CheckboxGroupComponent", ComponentType.CheckboxGroup, Group)
field(CheckboxGroup, "minValues", "min_values", 1)
field(CheckboxGroup, "maxValues", "max_values")
field(CheckboxGroup, "values", "values", {})

local Checkbox = class("CheckboxComponent", ComponentType.Checkbox)
field(Checkbox, "customId", "custom_id")
field(Checkbox, "default", "default", false)
-- In a modal submit: whether the box was checked.
field(Checkbox, "value", "value")

local Label = class("LabelComponent", ComponentType.Label)
function Label:init(data)
  Component.init(self, data)
  if type(data.component) == "table" then self.component = M.createComponent(data.component) end
end
field(Label, "label", "label")
field(Label, "description", "description")
Label.toJSON = containerJSON

local Section = class("SectionComponent", ComponentType.Section)
function Section:init(data)
  Component.init(self, data)
  self.components = children(self, "components")
  if type(data.accessory) == "table" then self.accessory = M.createComponent(data.accessory) end
end
Section.toJSON = containerJSON

local TextDisplay = class("TextDisplayComponent", ComponentType.TextDisplay)
field(TextDisplay, "content", "content", "")

local Thumbnail = class("ThumbnailComponent", ComponentType.Thumbnail)
field(Thumbnail, "media", "media")
field(Thumbnail, "description", "description")
field(Thumbnail, "spoiler", "spoiler", false)

local Gallery = class("MediaGalleryComponent", ComponentType.MediaGallery)
field(Gallery, "items", "items", {})

local File = class("FileComponent", ComponentType.File)
field(File, "file", "file")
field(File, "spoiler", "spoiler", false)
field(File, "name", "name")
field(File, "size", "size")

local Separator = class("SeparatorComponent", ComponentType.Separator)
field(Separator, "divider", "divider", true)
field(Separator, "spacing", "spacing", enums.SeparatorSpacingSize.Small)

local Container = class("ContainerComponent", ComponentType.Container)
function Container:init(data)
  Component.init(self, data)
  self.components = children(self, "components")
end
field(Container, "accentColor", "accent_color")
field(Container, "spoiler", "spoiler", false)
Container.toJSON = containerJSON

--- The object for received component data; unknown types keep their data in a plain Component.
function M.createComponent(data)
  if util.instanceOf(data, Component) then return data end
  local cls = M._byType[data.type] or Component
  return cls(data)
end

--- Every component of a tree, depth first (rows, sections, containers and labels are entered).
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
function M.findByCustomId(list, customId)
  for _, c in ipairs(M.flatten(list)) do
    if c.data.custom_id == customId then return c end
  end
  return nil
end

return M
