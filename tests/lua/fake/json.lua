-- Fake of the host's `json` module: a pure-Lua implementation of the same contract.
local M = {}

-- The host's null is a light userdata: this one refuses what a userdata would.
local function refuse() error("attempt to use json.null as a table", 2) end
M.null = setmetatable({}, { __name = "json.null", __tostring = function() return "null" end,
  __index = refuse, __newindex = refuse, __len = refuse, __pairs = refuse })

local marks = setmetatable({}, { __mode = "k" })
function M.array(t) marks[t] = "array" return t end
function M.object(t) marks[t] = "object" return t end
function M.is_array(t) return type(t) == "table" and marks[t] == "array" end

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
  if marks[t] == "array" or (marks[t] == nil and n > 0) then
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

-- Decoding
local UNESCAPES = { b = "\b", f = "\f", n = "\n", r = "\r", t = "\t" }
local LITERALS = { ["true"] = true, ["false"] = false, null = M.null }

local function fail(pos, msg) error({ json_error = msg .. " at byte " .. pos }, 0) end

local value

local function skip(s, pos) return s:find("[^ \t\r\n]", pos) or #s + 1 end

local function str(s, pos)
  local out = {}
  pos = pos + 1
  while true do
    local a = s:find('["\\%c]', pos)
    if not a then fail(#s + 1, "unterminated string") end
    out[#out + 1] = s:sub(pos, a - 1)
    local c = s:sub(a, a)
    if c == '"' then
      local text = table.concat(out)
      if not utf8.len(text) then fail(a, "invalid UTF-8") end
      return text, a + 1
    elseif c ~= "\\" then
      fail(a, "control character in string")
    end
    -- Both sides of every exchange are this module, so \u escapes stay within what encode writes.
    local e, hex = s:sub(a + 1, a + 1), s:match("^u(00%x%x)", a + 1)
    if hex then
      out[#out + 1], pos = string.char(tonumber(hex, 16)), a + 6
    elseif e == '"' or e == "\\" or e == "/" or UNESCAPES[e] then
      out[#out + 1], pos = UNESCAPES[e] or e, a + 2
    else
      fail(a, "bad escape")
    end
  end
end

local function list(s, pos, close, item)
  pos = skip(s, pos + 1)
  if s:sub(pos, pos) == close then return pos + 1 end
  while true do
    pos = skip(s, item(skip(s, pos)))
    local d = s:sub(pos, pos)
    if d == close then return pos + 1 end
    if d ~= "," then fail(pos, "expected ',' or '" .. close .. "'") end
    pos = pos + 1
  end
end

function value(s, pos)
  local c = s:sub(pos, pos)
  if c == "{" then
    local obj = M.object({})
    return obj, list(s, pos, "}", function(p)
      if s:sub(p, p) ~= '"' then fail(p, "expected a key") end
      local k, v
      k, p = str(s, p)
      p = skip(s, p)
      if s:sub(p, p) ~= ":" then fail(p, "expected ':'") end
      v, p = value(s, skip(s, p + 1))
      obj[k] = v
      return p
    end)
  elseif c == "[" then
    local arr = M.array({})
    return arr, list(s, pos, "]", function(p)
      local v
      v, p = value(s, p)
      arr[#arr + 1] = v
      return p
    end)
  elseif c == '"' then
    return str(s, pos)
  end
  local num = s:match("^-?%d+%.?%d*[eE]?[-+]?%d*", pos)
  if num and num:match("^-?0%d") then fail(pos, "bad number") end
  if num and tonumber(num) then
    -- Integers beyond int64 stay floats, as Lua reads them.
    local i = not num:find("[.eE]") and math.tointeger(tonumber(num))
    return i or tonumber(num) + 0.0, pos + #num
  end
  for word, v in pairs(LITERALS) do if s:sub(pos, pos + #word - 1) == word then return v, pos + #word end end
  fail(pos, c == "" and "unexpected end" or "unexpected character")
end

function M.decode(s)
  if type(s) ~= "string" then error("json.decode: expected a string", 2) end
  local ok, v, pos = pcall(value, s, skip(s, 1))
  if ok and skip(s, pos) <= #s then ok, v = false, { json_error = "trailing data at byte " .. skip(s, pos) } end
  if not ok then
    if type(v) == "table" and v.json_error then return nil, v.json_error end
    error(v, 0)
  end
  return v
end

return M
