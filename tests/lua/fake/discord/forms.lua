-- Discord's form validation for the fake: each check returns nil or Discord's 400 body.
local json = require("json")

local Forms = {}

local function invalid(path, code, message)
  local errors = { _errors = { { code = code, message = message } } }
  for i = #path, 1, -1 do errors = { [tostring(path[i])] = errors } end
  return { code = 50035, message = "Invalid Form Body", errors = errors }
end
Forms.invalid = invalid

local function len(s) return type(s) == "string" and (utf8.len(s) or #s) or 0 end
Forms.len = len
local function list(v) return (type(v) == "table" and v ~= json.null) and v or {} end

local function join(path, ...)
  local out = { table.unpack(path) }
  for _, p in ipairs({ ... }) do out[#out + 1] = p end
  return out
end

local function length(path, s, min, max)
  if type(s) ~= "string" then return invalid(path, "BASE_TYPE_REQUIRED", "This field is required") end
  if len(s) < min or len(s) > max then
    return invalid(path, "BASE_TYPE_BAD_LENGTH", "Must be between " .. min .. " and " .. max .. " in length.")
  end
end

local function tooMany(path, n)
  return invalid(path, "BASE_TYPE_MAX_LENGTH", "Must be " .. n .. " or fewer in length.")
end

local function name(path, s, chatInput)
  local err = length(path, s, 1, 32)
  if err then return err end
  if chatInput and not s:match("^[%-_'%l%d\128-\255]+$") then
    return invalid(path, "APPLICATION_COMMAND_INVALID_NAME", "Command name is invalid")
  end
end

-- Option names at every level. Lengths and counts are refused by Discord's description before a route
-- runs; the other rules are the library's own (builders_test).
local function options(path, opts)
  for i, o in ipairs(list(opts)) do
    local p = join(path, i - 1)
    local err = name(join(p, "name"), o.name, true) or options(join(p, "options"), o.options)
    if err then return err end
  end
end

--- Checks a command as POST or PUT sends it (or as a PATCH leaves it, merged).
function Forms.command(c, path)
  path = path or {}
  local chatInput = (c.type or 1) == 1
  return name(join(path, "name"), c.name, chatInput) or chatInput and length(join(path, "description"),
    c.description, 1, 100) or options(join(path, "options"), c.options)
end

local SELECT = { [3] = true, [5] = true, [6] = true, [7] = true, [8] = true }

local function button(p, b)
  local ok
  if b.style == 5 then
    ok = b.url and not b.custom_id
  elseif b.style == 6 then
    ok = b.sku_id and not b.custom_id and not b.label
  else
    ok = math.type(b.style) == "integer" and b.style >= 1 and b.style <= 4 and b.custom_id and not b.url
  end
  if not ok then return invalid(p, "BUTTON_COMPONENT_INVALID", "Invalid button") end
  if b.label ~= nil then return length(join(p, "label"), b.label, 1, 80) end
  if b.style ~= 6 and b.emoji == nil then
    return invalid(p, "BUTTON_COMPONENT_LABEL_REQUIRED", "A label is required")
  end
end

local function select(p, s)
  local min, max = s.min_values or 1, s.max_values or 1
  if min > max or (s.type == 3 and max > #list(s.options)) then
    return invalid(p, "SELECT_COMPONENT_INVALID", "Invalid options, min_values or max_values")
  end
end

-- Walks one action row; `ids` tracks custom IDs.
local function component(p, c, ids)
  if c.custom_id ~= nil then
    if ids[c.custom_id] then return invalid(join(p, "custom_id"), "COMPONENT_CUSTOM_ID_DUPLICATED", "") end
    ids[c.custom_id] = true
  end
  if c.type == 2 then return button(p, c) end
  if SELECT[c.type] then return select(p, c) end
  local kids, selects = list(c.components), 0
  for _, k in ipairs(kids) do
    if k.type ~= 2 and not SELECT[k.type] then return invalid(p, "COMPONENT_TYPE_INVALID", "Invalid type") end
    if SELECT[k.type] then selects = selects + 1 end
  end
  if #kids < 1 or #kids > 5 or (selects > 0 and #kids > 1) then
    return invalid(join(p, "components"), "COMPONENT_LAYOUT_WIDTH_EXCEEDED", "Invalid action row")
  end
  for i, k in ipairs(kids) do
    local err = component(join(p, "components", i - 1), k, ids)
    if err then return err end
  end
end

--- Checks a message body's components: at most 5 action rows.
function Forms.messageComponents(body)
  local top, ids = list(body.components), {}
  if #top > 5 then return tooMany({ "components" }, 5) end
  for i, c in ipairs(top) do
    if c.type ~= 1 then
      return invalid({ "components", i - 1, "type" }, "COMPONENT_TYPE_INVALID", "Invalid component type")
    end
    local err = component({ "components", i - 1 }, c, ids)
    if err then return err end
  end
end

return Forms
