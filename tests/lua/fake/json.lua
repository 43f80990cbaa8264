-- Fake of the host's `json` module: a pure-Lua implementation of the same contract.
local M = {}

local MAX_DEPTH = 512

-- The host's null is a light userdata; a table cannot be one, so this one refuses every use that a
-- userdata would refuse too (indexing, assignment, length, iteration).
local function refuse() error("attempt to use json.null as a table", 2) end
M.null = setmetatable({}, {
  __name = "json.null",
  __tostring = function() return "null" end,
  __index = refuse,
  __newindex = refuse,
  __len = refuse,
  __pairs = refuse,
})

local marks = setmetatable({}, { __mode = "k" })

function M.array(t)
  if type(t) ~= "table" then error("json.array: expected a table", 2) end
  marks[t] = "array"
  return t
end

function M.object(t)
  if type(t) ~= "table" then error("json.object: expected a table", 2) end
  marks[t] = "object"
  return t
end

function M.is_array(t)
  return type(t) == "table" and marks[t] == "array"
end

-- Encoding -------------------------------------------------------------------------------------------------

local ESCAPES = {
  ['"'] = '\\"', ["\\"] = "\\\\", ["\b"] = "\\b", ["\f"] = "\\f", ["\n"] = "\\n", ["\r"] = "\\r", ["\t"] = "\\t",
}

local function encodeString(s)
  if not utf8.len(s) then error("json.encode: invalid UTF-8 in string", 0) end
  return '"' .. s:gsub('[%c"\\]', function(c)
    return ESCAPES[c] or string.format("\\u%04x", c:byte())
  end) .. '"'
end

-- Returns "array", n for arrays and "object", sorted string keys for objects.
local function shape(t)
  local mark = marks[t]
  local n, strings, others = 0, {}, false
  for k in pairs(t) do
    if type(k) == "string" then
      strings[#strings + 1] = k
    elseif math.type(k) == "integer" and k >= 1 then
      n = n + 1
    else
      others = true
    end
  end
  if others then error("json.encode: table key that is neither a string nor a positive integer", 0) end
  if mark == "array" or (mark == nil and n > 0 and #strings == 0) then
    if #strings > 0 then error("json.encode: array with string keys", 0) end
    for i = 1, n do
      if t[i] == nil then error("json.encode: array with holes", 0) end
    end
    return "array", n
  end
  if n > 0 then error("json.encode: mixed or non-string keys", 0) end
  table.sort(strings)
  return "object", strings
end

local encodeValue

local function encodeTable(t, out, depth, seen)
  if seen[t] then error("json.encode: cycle", 0) end
  if depth > MAX_DEPTH then error("json.encode: nesting deeper than " .. MAX_DEPTH, 0) end
  seen[t] = true
  local kind, info = shape(t)
  if kind == "array" then
    out[#out + 1] = "["
    for i = 1, info do
      if i > 1 then out[#out + 1] = "," end
      encodeValue(t[i], out, depth + 1, seen)
    end
    out[#out + 1] = "]"
  else
    out[#out + 1] = "{"
    for i, k in ipairs(info) do
      if i > 1 then out[#out + 1] = "," end
      out[#out + 1] = encodeString(k)
      out[#out + 1] = ":"
      encodeValue(t[k], out, depth + 1, seen)
    end
    out[#out + 1] = "}"
  end
  seen[t] = nil
end

function encodeValue(v, out, depth, seen)
  local t = type(v)
  if v == M.null then
    out[#out + 1] = "null"
  elseif t == "string" then
    out[#out + 1] = encodeString(v)
  elseif t == "number" then
    if math.type(v) == "integer" then
      out[#out + 1] = string.format("%d", v)
    elseif v ~= v or v == math.huge or v == -math.huge then
      error("json.encode: NaN or infinity", 0)
    else
      out[#out + 1] = string.format("%.17g", v)
    end
  elseif t == "boolean" then
    out[#out + 1] = tostring(v)
  elseif t == "table" then
    encodeTable(v, out, depth, seen)
  else
    error("json.encode: cannot encode a " .. t, 0)
  end
end

function M.encode(v)
  local out = {}
  encodeValue(v, out, 0, {})
  return table.concat(out)
end

-- Decoding -------------------------------------------------------------------------------------------------

local UNESCAPES = { ['"'] = '"', ["\\"] = "\\", ["/"] = "/", b = "\b", f = "\f", n = "\n", r = "\r", t = "\t" }

local Parser = {}
Parser.__index = Parser

local function fail(p, msg)
  error({ json_error = string.format("%s at byte %d", msg, p.pos) }, 0)
end

function Parser:skip()
  self.pos = self.s:find("[^ \t\r\n]", self.pos) or #self.s + 1
end

function Parser:string()
  local s, out = self.s, {}
  local pos = self.pos + 1
  while true do
    local a = s:find('["\\%c]', pos)
    if not a then self.pos = #s + 1 fail(self, "unterminated string") end
    out[#out + 1] = s:sub(pos, a - 1)
    local c = s:sub(a, a)
    if c == '"' then
      self.pos = a + 1
      break
    elseif c == "\\" then
      local e = s:sub(a + 1, a + 1)
      if e == "u" then
        local hex = s:match("^%x%x%x%x", a + 2)
        if not hex then self.pos = a fail(self, "bad \\u escape") end
        local cp = tonumber(hex, 16)
        pos = a + 6
        if cp >= 0xD800 and cp <= 0xDBFF then
          local low = s:match("^\\u(%x%x%x%x)", pos)
          local lo = low and tonumber(low, 16)
          if not lo or lo < 0xDC00 or lo > 0xDFFF then self.pos = a fail(self, "lone surrogate") end
          cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00)
          pos = pos + 6
        elseif cp >= 0xDC00 and cp <= 0xDFFF then
          self.pos = a
          fail(self, "lone surrogate")
        end
        out[#out + 1] = utf8.char(cp)
      elseif UNESCAPES[e] then
        out[#out + 1] = UNESCAPES[e]
        pos = a + 2
      else
        self.pos = a
        fail(self, "bad escape")
      end
    else
      self.pos = a
      fail(self, "control character in string")
    end
  end
  local text = table.concat(out)
  if not utf8.len(text) then fail(self, "invalid UTF-8") end
  return text
end

function Parser:number()
  local s, start = self.s, self.pos
  local pos = start
  local function take(pattern)
    local m = s:match("^" .. pattern, pos)
    if m then pos = pos + #m end
    return m
  end
  take("%-")
  if not take("0") and not take("[1-9]%d*") then fail(self, "bad number") end
  local integral = true
  if take("%.") then
    integral = false
    if not take("%d+") then self.pos = pos fail(self, "bad number") end
  end
  if take("[eE]") then
    integral = false
    take("[-+]")
    if not take("%d+") then self.pos = pos fail(self, "bad number") end
  end
  self.pos = pos
  local text = s:sub(start, pos - 1)
  if integral then
    -- Lua reads integers beyond int64 as floats; those stay floats.
    local i = math.tointeger(tonumber(text))
    if i and string.format("%d", i) == text then return i end
  end
  return tonumber(text) + 0.0
end

function Parser:value(depth)
  if depth > MAX_DEPTH then fail(self, "nesting deeper than " .. MAX_DEPTH) end
  self:skip()
  local s, pos = self.s, self.pos
  local c = s:sub(pos, pos)
  if c == "{" then
    local obj = M.object({})
    self.pos = pos + 1
    self:skip()
    if s:sub(self.pos, self.pos) == "}" then
      self.pos = self.pos + 1
      return obj
    end
    while true do
      self:skip()
      if s:sub(self.pos, self.pos) ~= '"' then fail(self, "expected a key") end
      local k = self:string()
      self:skip()
      if s:sub(self.pos, self.pos) ~= ":" then fail(self, "expected ':'") end
      self.pos = self.pos + 1
      obj[k] = self:value(depth + 1)
      self:skip()
      local d = s:sub(self.pos, self.pos)
      self.pos = self.pos + 1
      if d == "}" then return obj end
      if d ~= "," then self.pos = self.pos - 1 fail(self, "expected ',' or '}'") end
    end
  elseif c == "[" then
    local arr = M.array({})
    self.pos = pos + 1
    self:skip()
    if s:sub(self.pos, self.pos) == "]" then
      self.pos = self.pos + 1
      return arr
    end
    while true do
      arr[#arr + 1] = self:value(depth + 1)
      self:skip()
      local d = s:sub(self.pos, self.pos)
      self.pos = self.pos + 1
      if d == "]" then return arr end
      if d ~= "," then self.pos = self.pos - 1 fail(self, "expected ',' or ']'") end
    end
  elseif c == '"' then
    return self:string()
  elseif c == "-" or c:match("%d") then
    return self:number()
  end
  for word, v in pairs({ ["true"] = true, ["false"] = false, null = M.null }) do
    if s:sub(pos, pos + #word - 1) == word then
      self.pos = pos + #word
      return v
    end
  end
  fail(self, c == "" and "unexpected end" or "unexpected character")
end

function M.decode(s)
  if type(s) ~= "string" then error("json.decode: expected a string", 2) end
  local p = setmetatable({ s = s, pos = 1 }, Parser)
  local ok, v = pcall(function()
    local v = p:value(1)
    p:skip()
    if p.pos <= #s then fail(p, "trailing data") end
    return v
  end)
  if not ok then
    if type(v) == "table" and v.json_error then return nil, v.json_error end
    error(v, 0)
  end
  return v
end

return M
