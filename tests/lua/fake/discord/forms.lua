-- Discord's form validation for the fake: application commands and message components. Each check
-- returns nil, or the 400 body Discord sends ("Invalid Form Body" with the errors nested by path).
local json = require("json")

local Forms = {}

-- {"components", 0, "custom_id"} -> {components = {["0"] = {custom_id = {_errors = {...}}}}}
local function invalid(path, code, message)
  local errors = { _errors = { { code = code, message = message } } }
  for i = #path, 1, -1 do errors = { [tostring(path[i])] = errors } end
  return { code = 50035, message = "Invalid Form Body", errors = errors }
end
Forms.invalid = invalid

local function len(s) return type(s) == "string" and (utf8.len(s) or #s) or 0 end

local function join(path, ...)
  local out = { table.unpack(path) }
  for _, p in ipairs({ ... }) do out[#out + 1] = p end
  return out
end

local function checkLength(path, s, min, max)
  if type(s) ~= "string" then return invalid(path, "BASE_TYPE_REQUIRED", "This field is required") end
  local n = len(s)
  if n < min or n > max then
    return invalid(path, "BASE_TYPE_BAD_LENGTH", "Must be between " .. min .. " and " .. max .. " in length.")
  end
  return nil
end

-- Commands -----------------------------------------------------------------------------------------------

local LOWER_NAME = "^[%-_'%l%d\128-\255]+$"

local function checkCommandName(path, name, chatInput)
  local err = checkLength(path, name, 1, 32)
  if err then return err end
  if chatInput and not name:match(LOWER_NAME) then
    return invalid(path, "APPLICATION_COMMAND_INVALID_NAME", "Command name is invalid")
  end
  return nil
end

local function longest(text, locs)
  local n = len(text)
  for _, v in pairs((type(locs) == "table" and locs ~= json.null) and locs or {}) do n = math.max(n, len(v)) end
  return n
end

local function size(o)
  local n = longest(o.name, o.name_localizations) + longest(o.description, o.description_localizations)
  for _, c in ipairs(o.choices or {}) do
    n = n + longest(c.name, c.name_localizations) + (type(c.value) == "string" and len(c.value) or 0)
  end
  for _, sub in ipairs(o.options or {}) do n = n + size(sub) end
  return n
end

local function checkOptions(path, options, depth)
  if options == nil or options == json.null then return nil end
  if #options > 25 then return invalid(path, "BASE_TYPE_MAX_LENGTH", "Must be 25 or fewer in length.") end
  local names, optional, subs, plain = {}, false, 0, 0
  for i, o in ipairs(options) do
    local p = join(path, i - 1)
    local err = checkCommandName(join(p, "name"), o.name, true) or checkLength(join(p, "description"),
      o.description, 1, 100)
    if err then return err end
    if names[o.name] then return invalid(join(p, "name"), "APPLICATION_COMMAND_OPTIONS_NAME_ALREADY_EXISTS",
      "Option names must be unique") end
    names[o.name] = true
    if math.type(o.type) ~= "integer" or o.type < 1 or o.type > 11 then
      return invalid(join(p, "type"), "BASE_TYPE_CHOICES", "Value must be one of {1, ..., 11}.")
    end
    if o.type <= 2 then
      subs = subs + 1
      if depth >= (o.type == 2 and 1 or 2) then
        return invalid(join(p, "type"), "APPLICATION_COMMAND_OPTION_TYPE_INVALID", "Subcommands nest too deep")
      end
      err = checkOptions(join(p, "options"), o.options, depth + (o.type == 2 and 1 or 2))
      if err then return err end
    else
      plain = plain + 1
      if o.required then
        if optional then
          return invalid(join(p, "required"), "APPLICATION_COMMAND_OPTIONS_REQUIRED_INVALID",
            "Required options must be placed before non-required options")
        end
      else
        optional = true
      end
      local choices = o.choices
      if choices ~= nil and choices ~= json.null then
        if #choices > 25 then
          return invalid(join(p, "choices"), "BASE_TYPE_MAX_LENGTH", "Must be 25 or fewer in length.")
        end
        if #choices > 0 and o.autocomplete then
          return invalid(join(p, "autocomplete"), "APPLICATION_COMMAND_AUTOCOMPLETE_INVALID",
            "Autocomplete cannot be set on options with choices")
        end
        for j, c in ipairs(choices) do
          err = checkLength(join(p, "choices", j - 1, "name"), c.name, 1, 100)
          if err then return err end
        end
      end
      if o.min_length ~= nil and (o.min_length < 0 or o.min_length > 6000) then
        return invalid(join(p, "min_length"), "NUMBER_TYPE_MAX", "int value should be <= 6000 and >= 0.")
      end
    end
  end
  if subs > 0 and plain > 0 then
    return invalid(path, "APPLICATION_COMMAND_OPTIONS_TYPE_INVALID", "Sub-command and sub-command group option "
      .. "types are mutually exclusive to all other types")
  end
  return nil
end

--- Checks a command as POST or PUT sends it (or as a PATCH leaves it, merged).
function Forms.command(c, path)
  path = path or {}
  local t = c.type or 1
  if t < 1 or t > 4 then
    return invalid(join(path, "type"), "BASE_TYPE_CHOICES", "Value must be one of {1, 2, 3, 4}.")
  end
  local err = checkCommandName(join(path, "name"), c.name, t == 1)
  if err then return err end
  if t == 1 then
    err = checkLength(join(path, "description"), c.description, 1, 100)
  elseif c.description ~= nil and c.description ~= "" and c.description ~= json.null then
    err = invalid(join(path, "description"), "APPLICATION_COMMAND_CONTEXT_MENU_DESCRIPTION",
      "Context menu commands cannot have description")
  end
  if err then return err end
  if t ~= 1 and c.options ~= nil and c.options ~= json.null and #c.options > 0 then
    return invalid(join(path, "options"), "APPLICATION_COMMAND_CONTEXT_MENU_OPTIONS",
      "Context menu commands cannot have options")
  end
  err = checkOptions(join(path, "options"), c.options, 0)
  if err then return err end
  if size(c) > 4000 then
    return invalid(path, "APPLICATION_COMMAND_TOO_LARGE", "Command exceeds maximum size (4000)")
  end
  return nil
end

-- Components ---------------------------------------------------------------------------------------------

local V2 = 1 << 15
local V2_TOP = { [9] = true, [10] = true, [12] = true, [13] = true, [14] = true, [17] = true }
local SELECT = { [3] = true, [5] = true, [6] = true, [7] = true, [8] = true }

local function checkButton(p, b)
  if math.type(b.style) ~= "integer" or b.style < 1 or b.style > 6 then
    return invalid(join(p, "style"), "BASE_TYPE_CHOICES", "Value must be one of {1, 2, 3, 4, 5, 6}.")
  end
  if b.style == 5 then
    if not b.url or b.custom_id then return invalid(p, "BUTTON_COMPONENT_URL_REQUIRED", "A url is required") end
  elseif b.style == 6 then
    if not b.sku_id or b.custom_id or b.label then
      return invalid(p, "BUTTON_COMPONENT_SKU_ID_REQUIRED", "A sku_id is required")
    end
  else
    if not b.custom_id then return invalid(p, "BUTTON_COMPONENT_CUSTOM_ID_REQUIRED", "A custom id required") end
    if b.url then return invalid(p, "BUTTON_COMPONENT_INVALID_URL", "Only link buttons may have a url") end
  end
  if b.label ~= nil then return checkLength(join(p, "label"), b.label, 1, 80) end
  if b.style ~= 6 and b.emoji == nil then
    return invalid(p, "BUTTON_COMPONENT_LABEL_REQUIRED", "A label is required")
  end
  return nil
end

local function checkSelect(p, s)
  local min, max = s.min_values or 1, s.max_values or 1
  if min < 0 or min > 25 or max < 1 or max > 25 or min > max then
    return invalid(join(p, "max_values"), "SELECT_COMPONENT_MAX_VALUES", "Invalid min_values or max_values")
  end
  if s.type == 3 then
    local options = s.options or {}
    if #options < 1 or #options > 25 then
      return invalid(join(p, "options"), "BASE_TYPE_BAD_LENGTH", "Must be between 1 and 25 in length.")
    end
    if max > #options then
      return invalid(join(p, "max_values"), "SELECT_COMPONENT_MAX_VALUES", "Must be <= the number of options")
    end
    for i, o in ipairs(options) do
      local err = checkLength(join(p, "options", i - 1, "label"), o.label, 1, 100)
        or checkLength(join(p, "options", i - 1, "value"), o.value, 1, 100)
      if err then return err end
    end
  end
  return nil
end

-- Walks one component; `state` counts components and text and tracks custom IDs.
local function checkComponent(p, c, state)
  state.total = state.total + 1
  if c.custom_id ~= nil then
    local err = checkLength(join(p, "custom_id"), c.custom_id, 1, 100)
    if err then return err end
    if state.ids[c.custom_id] then
      return invalid(join(p, "custom_id"), "COMPONENT_CUSTOM_ID_DUPLICATED", "Component custom id cannot be duplicated")
    end
    state.ids[c.custom_id] = true
  end
  local t = c.type
  if t == 1 then
    local kids = c.components or {}
    if #kids < 1 or #kids > 5 then
      return invalid(join(p, "components"), "BASE_TYPE_BAD_LENGTH", "Must be between 1 and 5 in length.")
    end
    for i, k in ipairs(kids) do
      if k.type ~= 2 and not SELECT[k.type] then
        return invalid(join(p, "components", i - 1, "type"), "COMPONENT_TYPE_INVALID", "Invalid component type")
      end
      if SELECT[k.type] and #kids > 1 then
        return invalid(join(p, "components"), "COMPONENT_LAYOUT_WIDTH_EXCEEDED", "The specified component exceeds "
          .. "the maximum width")
      end
      local err = checkComponent(join(p, "components", i - 1), k, state)
      if err then return err end
    end
  elseif t == 2 then
    return checkButton(p, c)
  elseif SELECT[t] then
    return checkSelect(p, c)
  elseif t == 10 then
    state.text = state.text + len(c.content)
    return checkLength(join(p, "content"), c.content, 1, 4000)
  elseif t == 9 or t == 17 then
    local kids = c.components or {}
    if #kids < 1 or (t == 9 and #kids > 3) then
      return invalid(join(p, "components"), "BASE_TYPE_BAD_LENGTH", "Invalid number of components")
    end
    if t == 9 and (type(c.accessory) ~= "table" or (c.accessory.type ~= 2 and c.accessory.type ~= 11)) then
      return invalid(join(p, "accessory"), "BASE_TYPE_REQUIRED", "This field is required")
    end
    for i, k in ipairs(kids) do
      local err = checkComponent(join(p, "components", i - 1), k, state)
      if err then return err end
    end
    if t == 9 then return checkComponent(join(p, "accessory"), c.accessory, state) end
  elseif t == 12 then
    if #(c.items or {}) < 1 or #c.items > 10 then
      return invalid(join(p, "items"), "BASE_TYPE_BAD_LENGTH", "Must be between 1 and 10 in length.")
    end
  elseif t == 4 or t == 18 then
    return invalid(join(p, "type"), "COMPONENT_TYPE_INVALID", "Invalid component type")
  end
  return nil
end

--- Checks a message body's components and flags; `old` is the stored message for an edit.
function Forms.messageComponents(body, old)
  local flags = body.flags
  if flags == nil and old then flags = old.flags end
  local v2 = (flags or 0) & V2 ~= 0
  if old and (old.flags or 0) & V2 ~= 0 and not v2 then
    return invalid({ "flags" }, "MESSAGE_CANNOT_REMOVE_COMPONENTS_V2_FLAG", "The IS_COMPONENTS_V2 flag cannot be "
      .. "removed")
  end
  if v2 then
    for _, f in ipairs({ "content", "embeds", "poll", "sticker_ids" }) do
      local v = body[f]
      if v ~= nil and v ~= json.null and v ~= "" and not (type(v) == "table" and #v == 0) then
        return invalid({ f }, "MESSAGE_CANNOT_USE_LEGACY_FIELDS_WITH_COMPONENTS_V2",
          "The 'content', 'embeds', 'sticker_ids' and 'poll' fields cannot be used with IS_COMPONENTS_V2")
      end
    end
  end
  local list = body.components
  if list == nil or list == json.null then return nil end
  if not v2 and #list > 5 then
    return invalid({ "components" }, "BASE_TYPE_MAX_LENGTH", "Must be 5 or fewer in length.")
  end
  local state = { total = 0, text = 0, ids = {} }
  for i, c in ipairs(list) do
    if not v2 and (c.type ~= 1 or V2_TOP[c.type]) then
      return invalid({ "components", i - 1, "type" }, "COMPONENT_TYPE_INVALID", "Invalid component type")
    end
    local err = checkComponent({ "components", i - 1 }, c, state)
    if err then return err end
  end
  if state.total > 40 then
    return invalid({ "components" }, "COMPONENT_MAX_TOTAL_COMPONENTS_EXCEEDED", "Maximum number of components "
      .. "exceeded (40)")
  end
  if state.text > 4000 then
    return invalid({ "components" }, "COMPONENT_MAX_TEXT_LENGTH_EXCEEDED", "Text displays exceed 4000 characters")
  end
  return nil
end

return Forms
