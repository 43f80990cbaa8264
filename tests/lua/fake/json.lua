-- Fake of the host's `json` module, to the same contract: its own encoder, and dkjson for decoding.
local M = {}

-- The host's null is a light userdata: this one refuses what a userdata would.
local function refuse() error("attempt to use json.null as a table", 2) end
M.null = setmetatable({}, { __name = "json.null", __tostring = function() return "null" end,
  __index = refuse, __newindex = refuse, __len = refuse, __pairs = refuse })

-- A table is marked by a shared metatable, as a native decoder marks it; one that has a metatable of its own
-- (a class instance) is marked in a weak table instead. A weak table of every array would make the
-- collector sweep it whole at each cycle.
local KIND = { array = { __name = "json.array" }, object = { __name = "json.object" } }
local marks = setmetatable({}, { __mode = "k" })
local function mark(t, kind)
  local mt = getmetatable(t)
  if mt == nil or mt == KIND.array or mt == KIND.object then
    setmetatable(t, KIND[kind])
  else
    marks[t] = kind
  end
  return t
end
local function kindOf(t)
  local mt = getmetatable(t)
  if mt == KIND.array then return "array" elseif mt == KIND.object then return "object" end
  return marks[t]
end
function M.array(t) return mark(t, "array") end
function M.object(t) return mark(t, "object") end
function M.is_array(t) return type(t) == "table" and kindOf(t) == "array" end

-- Encoding
local ESCAPES = { ['"'] = '\\"', ["\\"] = "\\\\", ["\n"] = "\\n", ["\r"] = "\\r", ["\t"] = "\\t" }

local function encodeString(s)
  if not utf8.len(s) then error("json.encode: invalid UTF-8 in string", 0) end
  return '"' .. s:gsub('[%c"\\]', function(c) return ESCAPES[c] or string.format("\\u%04x", c:byte()) end) .. '"'
end

local encode

local function encodeTable(t, out, seen)
  if seen[t] then error("json.encode: cycle", 0) end
  seen[t] = true
  local n, keys = 0, {}
  for k in pairs(t) do
    if type(k) == "string" then
      keys[#keys + 1] = k
    elseif math.type(k) == "integer" and k >= 1 then
      n = n + 1
    else
      error("json.encode: table key that is neither a string nor a positive integer", 0)
    end
  end
  local kind = kindOf(t)
  if kind == "array" or (kind == nil and n > 0) then
    if #keys > 0 or (n > 0 and t[n] == nil) then error("json.encode: array with string keys or holes", 0) end
    out[#out + 1] = "["
    for i = 1, n do
      if i > 1 then out[#out + 1] = "," end
      encode(t[i], out, seen)
    end
    out[#out + 1] = "]"
  else
    if n > 0 then error("json.encode: mixed keys", 0) end
    table.sort(keys)
    out[#out + 1] = "{"
    for i, k in ipairs(keys) do
      out[#out + 1] = (i > 1 and "," or "") .. encodeString(k) .. ":"
      encode(t[k], out, seen)
    end
    out[#out + 1] = "}"
  end
  seen[t] = nil
end

function encode(v, out, seen)
  local t = type(v)
  if v == M.null then
    out[#out + 1] = "null"
  elseif t == "string" then
    out[#out + 1] = encodeString(v)
  elseif math.type(v) == "integer" then
    out[#out + 1] = string.format("%d", v)
  elseif t == "number" then
    if v ~= v or v == math.huge or v == -math.huge then error("json.encode: NaN or infinity", 0) end
    out[#out + 1] = string.format("%.17g", v)
  elseif t == "boolean" then
    out[#out + 1] = tostring(v)
  elseif t == "table" then
    encodeTable(v, out, seen)
  else
    error("json.encode: cannot encode a " .. t, 0)
  end
end

function M.encode(v)
  local out = {}
  encode(v, out, {})
  return table.concat(out)
end

-- dkjson (busted's own) marks with its own metatables, given here: decoding swaps them for ours.
local dkjson = require("dkjson")
local ARRAY, OBJECT = {}, {}

local function marked(v)
  if type(v) ~= "table" or v == M.null then return v end
  setmetatable(v, getmetatable(v) == ARRAY and KIND.array or KIND.object)
  for _, x in pairs(v) do marked(x) end
  return v
end

function M.decode(s)
  if type(s) ~= "string" then error("json.decode: expected a string", 2) end
  local v, pos, err = dkjson.decode(s, 1, M.null, OBJECT, ARRAY)
  if err then return nil, err .. " at byte " .. pos end
  pos = s:find("[^ \t\r\n]", pos)
  if pos then return nil, "trailing data at byte " .. pos end
  return marked(v)
end

return M
