-- The Lua side's form of a session (not a test): each JSON line as one binary record that `read` turns back
-- into the decoded value with nothing else made on the way, as the runtime's native json leaves only its
-- result. Loading Lua expressions instead left a compiled chunk and its source behind each packet, and
-- collecting those was charged to the dispatches that followed.
local json = require("json")

local M = {}

local pack, unpack, byte = string.pack, string.unpack, string.byte
local A, NULL = json.array, json.null
local OBJECT, ARRAY, STRING, INTEGER, FLOAT, TRUE, FALSE, NULLTAG = 111, 97, 115, 105, 100, 116, 102, 110

local function encode(v, out)
  if v == NULL then
    out[#out + 1] = "n"
  elseif type(v) == "table" then
    if json.is_array(v) then
      out[#out + 1] = pack("<c1I4", "a", #v)
      for _, x in ipairs(v) do encode(x, out) end
    else
      local keys = {}
      for k in pairs(v) do keys[#keys + 1] = k end
      table.sort(keys)
      out[#out + 1] = pack("<c1I2", "o", #keys)
      for _, k in ipairs(keys) do
        out[#out + 1] = pack("<s1", k)
        encode(v[k], out)
      end
    end
  elseif math.type(v) == "integer" then
    out[#out + 1] = pack("<c1j", "i", v)
  elseif math.type(v) == "float" then
    out[#out + 1] = pack("<c1n", "d", v)
  elseif type(v) == "string" then
    out[#out + 1] = pack("<c1s4", "s", v)
  else
    out[#out + 1] = v and "t" or "f"
  end
  return out
end

--- One record: the value's encoding behind its length.
function M.record(v)
  return pack("<s4", table.concat(encode(v, {})))
end

-- The value at position i of s, and the position after it.
local function read(s, i)
  local tag = byte(s, i)
  if tag == OBJECT then
    local n
    n, i = unpack("<I2", s, i + 1)
    local t = {}
    for _ = 1, n do
      local k
      k, i = unpack("<s1", s, i)
      t[k], i = read(s, i)
    end
    return t, i
  elseif tag == ARRAY then
    local n
    n, i = unpack("<I4", s, i + 1)
    local t = {}
    for k = 1, n do t[k], i = read(s, i) end
    return A(t), i
  elseif tag == STRING then
    return unpack("<s4", s, i + 1)
  elseif tag == INTEGER then
    return unpack("<j", s, i + 1)
  elseif tag == FLOAT then
    return unpack("<n", s, i + 1)
  elseif tag == TRUE then
    return true, i + 1
  elseif tag == FALSE then
    return false, i + 1
  end
  assert(tag == NULLTAG, "session record: unknown tag")
  return NULL, i + 1
end

--- The value of the record that starts at position i of s (a whole file's text).
function M.read(s, i)
  return (read(s, i + 4))
end

--- The value of the record that starts at position i of an open file.
function M.readAt(file, i)
  file:seek("set", i - 1)
  return (read(file:read(unpack("<I4", file:read(4))), 1))
end

--- The positions of every record in s, in order.
function M.positions(s)
  local out, i = {}, 1
  while i <= #s do
    out[#out + 1] = i
    i = i + 4 + unpack("<I4", s, i)
  end
  return out
end

return M
