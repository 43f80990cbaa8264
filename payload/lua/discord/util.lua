-- Shared building blocks: classes, events, task synchronisation and small helpers.
-- Everything that blocks is built on runtime.suspend/wake and must run inside a task.
local runtime = require("runtime")
local json = require("json")

local util = {}

local unpack, pack = table.unpack, table.pack

-- Classes ------------------------------------------------------------------------------------------------

-- Metamethods are looked up raw on the metatable, so subclasses copy them from their parent.
local INHERITED_META = {
  "__tostring", "__eq", "__lt", "__le", "__len", "__concat", "__close", "__pairs", "__add", "__sub", "__unm",
}

local function classIndex(cls)
  local getters = cls.getters
  return function(self, key)
    local v = cls[key]
    if v ~= nil then return v end
    local g = getters[key]
    if g ~= nil then return g(self) end
    return nil
  end
end

local Class = {}

--- Whether `t` is a class made by `util.class` (not an instance).
---@param t any
---@return boolean
local function isClass(t)
  if type(t) ~= "table" then return false end
  local mt = getmetatable(t)
  return mt == Class or (type(mt) == "table" and mt.__call == Class.__call)
end
util.isClass = isClass

-- Makers of empty tables with room for n fields, by n: a table filled field by field grows through every
-- power of two on the way, each step a new block and a freed one. A constructor of n fields, all nil, makes
-- the room and sets none.
local ROOM = {}
local function roomFor(n)
  local make = ROOM[n]
  if not make then
    make = load("return function() return {" .. string.rep("_ = nil, ", n) .. "} end", "=room", "t", {})()
    ROOM[n] = make
  end
  return make
end

-- The maker of each settled class's instances: a construction finds it in one lookup.
local makers = setmetatable({}, { __mode = "k" })
local function newTable() return {} end

-- Metamethods a parent gained after the subclass was made are picked up at the first construction, and so
-- is the room its instances are made with (`cls.__fields`: the number of fields an instance usually holds).
local function settleMetamethods(cls)
  for _, mm in ipairs(INHERITED_META) do
    if rawget(cls, mm) == nil then
      local v = cls[mm]
      if v ~= nil then rawset(cls, mm, v) end
    end
  end
  local fields = cls.__fields
  if fields then rawset(cls, "__make", roomFor(fields)) end
  rawset(cls, "__settled", true)
  makers[cls] = rawget(cls, "__make") or newTable
end

function Class.__call(cls, ...)
  local make = makers[cls]
  if make == nil then
    settleMetamethods(cls)
    make = makers[cls]
  end
  local self = setmetatable(make(), cls)
  local init = cls.init
  if init then init(self, ...) end
  return self
end

function Class.__tostring(cls)
  return "class " .. cls.__name
end

--- Makes a class: `Foo(...)` runs `Foo.init(self, ...)`; `Foo.getters.x` defines a computed field `obj.x`.
---@param name string Class name, as `util.className` reports it.
---@param parent? table Class to inherit methods and getters from.
---@return table class
function util.class(name, parent)
  if type(name) ~= "string" then error("class: name must be a string", 2) end
  if parent ~= nil and not isClass(parent) then
    error("class: parent of " .. name .. " is not a class", 2)
  end
  local cls = { __name = name, super = parent }
  cls.getters = setmetatable({}, { __index = parent and parent.getters })
  if parent then
    for _, mm in ipairs(INHERITED_META) do cls[mm] = rawget(parent, mm) end
    setmetatable(cls, { __index = parent, __call = Class.__call, __tostring = Class.__tostring })
  end
  cls.__index = classIndex(cls)
  if not parent then setmetatable(cls, Class) end
  return cls
end

--- A subclass of `cls`, under its name, whose instances all read `fields` from it: for a value every
--- instance would otherwise hold its own reference to (the client of a hundred thousand users).
---@param cls table
---@param fields table<string, any>
---@return table class
function util.sharing(cls, fields)
  if not rawget(cls, "__settled") then settleMetamethods(cls) end
  local sub = util.class(cls.__name, cls)
  for k, v in pairs(fields) do rawset(sub, k, v) end
  settleMetamethods(sub)
  return sub
end

--- A function of an owner that returns `util.sharing(cls, {[field] = owner})`, made once for each owner and
--- kept while the owner lives.
---@param cls table
---@param field string
---@return fun(owner: any): table subclass
function util.sharingBy(cls, field)
  local made = setmetatable({}, { __mode = "k" })
  return function(owner)
    local sub = made[owner]
    if sub == nil then
      sub = util.sharing(cls, { [field] = owner })
      made[owner] = sub
    end
    return sub
  end
end

--- True when `obj` is an instance of `cls` or of one of its subclasses.
---@param obj any
---@param cls table
---@return boolean
function util.instanceOf(obj, cls)
  if type(obj) ~= "table" then return false end
  local c = getmetatable(obj)
  while type(c) == "table" do
    if c == cls then return true end
    -- Every class holds its getters; anything else (a payload's mark) ends the search.
    if rawget(c, "getters") == nil then return false end
    c = rawget(c, "super")
  end
  return false
end

--- Name of the object's class ("Message", "Role"), or its Lua type for anything else.
---@param obj any
---@return string
function util.className(obj)
  local mt = type(obj) == "table" and getmetatable(obj)
  if mt and isClass(mt) then return mt.__name end
  return type(obj)
end

-- Tables -------------------------------------------------------------------------------------------------

--- Shallow copy that keeps the metatable (the `old` object of update events).
---@generic T
---@param t T
---@return T
function util.shallowCopy(t)
  local mt = getmetatable(t)
  local make = type(mt) == "table" and rawget(mt, "__make")
  local c = make and make() or {}
  for k, v in pairs(t) do c[k] = v end
  return setmetatable(c, mt)
end

--- Deep copy of plain data; metatables (array marks, classes) are kept, cycles are preserved.
---@generic T
---@param t T
---@param seen? table Internal: copies already made.
---@return T
function util.deepCopy(t, seen)
  if type(t) ~= "table" or t == json.null then return t end
  seen = seen or {}
  if seen[t] then return seen[t] end
  local c = {}
  seen[t] = c
  for k, v in pairs(t) do c[util.deepCopy(k, seen)] = util.deepCopy(v, seen) end
  if json.is_array(t) then json.array(c) end
  return setmetatable(c, getmetatable(t))
end

--- A new table with the keys of `opts`, missing ones filled from `defaults` (plain tables recursively).
---@param defaults table
---@param opts? table
---@return table
function util.mergeDefaults(defaults, opts)
  local out = {}
  for k, v in pairs(defaults) do out[k] = v end
  if opts == nil then return out end
  for k, v in pairs(opts) do
    local d = defaults[k]
    if type(v) == "table" and type(d) == "table" and getmetatable(v) == nil and getmetatable(d) == nil
        and not json.is_array(d) then
      out[k] = util.mergeDefaults(d, v)
    else
      out[k] = v
    end
  end
  return out
end

--- The keys of `t`, in no particular order.
---@param t table
---@return any[]
function util.keys(t)
  local out = {}
  for k in pairs(t) do out[#out + 1] = k end
  return out
end

--- Sorted list of the keys of `t` (numbers first, then strings).
---@param t table
---@return any[]
function util.sortedKeys(t)
  local out = util.keys(t)
  table.sort(out, function(a, b)
    local ta, tb = type(a), type(b)
    if ta ~= tb then return ta < tb end
    return a < b
  end)
  return out
end

--- A new list of `fn(value, index)` for each value of `list`.
---@param list any[]
---@param fn fun(value: any, index: integer): any
---@return any[]
function util.map(list, fn)
  local out = {}
  for i, v in ipairs(list) do out[i] = fn(v, i) end
  return out
end

--- A new list of the values of `list` for which `fn(value, index)` is true.
---@param list any[]
---@param fn fun(value: any, index: integer): boolean
---@return any[]
function util.filter(list, fn)
  local out = {}
  for i, v in ipairs(list) do
    if fn(v, i) then out[#out + 1] = v end
  end
  return out
end

--- The first value of `list` for which `fn(value, index)` is true, and its index.
---@param list any[]
---@param fn fun(value: any, index: integer): boolean
---@return any value nil when none matches.
---@return integer|nil index
function util.find(list, fn)
  for i, v in ipairs(list) do
    if fn(v, i) then return v, i end
  end
  return nil
end

--- Whether `list` holds `value`.
---@param list any[]
---@param value any
---@return boolean
function util.contains(list, value)
  for _, v in ipairs(list) do
    if v == value then return true end
  end
  return false
end

--- A table of the values of `list` mapped to true.
---@param list any[]
---@return table<any, boolean>
function util.set(list)
  local out = {}
  for _, v in ipairs(list) do out[v] = true end
  return out
end

--- Reverse lookup table: value -> key.
---@param t table
---@return table
function util.invert(t)
  local out = {}
  for k, v in pairs(t) do out[v] = k end
  return out
end

--- A JSON array of `list`'s values, so an empty list encodes as `[]`.
---@param list? any[]
---@return any[]
function util.array(list)
  return json.array(list or {})
end

--- Converts JSON null to nil; other values pass through.
---@param v any
---@return any
function util.nullable(v)
  if v == json.null then return nil end
  return v
end

--- Whether `v` is the JSON null sentinel.
---@param v any
---@return boolean
function util.isNull(v)
  return v == json.null
end

-- Strings ------------------------------------------------------------------------------------------------

--- Whether `s` begins with `prefix` (plain text).
---@param s string
---@param prefix string
---@return boolean
function util.startsWith(s, prefix)
  return s:sub(1, #prefix) == prefix
end

--- Whether `s` ends with `suffix` (plain text).
---@param s string
---@param suffix string
---@return boolean
function util.endsWith(s, suffix)
  return suffix == "" or s:sub(-#suffix) == suffix
end

--- `s` without leading and trailing white space.
---@param s string
---@return string
function util.trim(s)
  return (s:gsub("^%s+", ""):gsub("%s+$", ""))
end

--- Splits `s` at every occurrence of the plain separator; empty fields are kept.
--- Raises a string error when `sep` is empty.
---@param s string
---@param sep string
---@param limit? integer At most this many fields; the last holds the rest.
---@return string[]
function util.split(s, sep, limit)
  if sep == nil or sep == "" then error("split: empty separator", 2) end
  local out, pos = {}, 1
  while true do
    if limit and #out == limit - 1 then break end
    local a, b = s:find(sep, pos, true)
    if not a then break end
    out[#out + 1] = s:sub(pos, a - 1)
    pos = b + 1
  end
  out[#out + 1] = s:sub(pos)
  return out
end

--- "MESSAGE_CREATE" -> "messageCreate", "guild_id" -> "guildId".
---@param s string
---@return string
function util.camelCase(s)
  local lower = s:lower()
  return (lower:gsub("_(%w)", function(c) return c:upper() end))
end

--- A decoded JSON value with its object keys in camelCase all the way down; JSON null becomes nil.
---@param v any
---@return any
function util.camelKeys(v)
  if v == json.null then return nil end
  if type(v) ~= "table" then return v end
  local out = {}
  if json.is_array(v) then
    for i, x in ipairs(v) do out[i] = util.camelKeys(x) end
    return json.array(out)
  end
  for k, x in pairs(v) do out[type(k) == "string" and util.camelCase(k) or k] = util.camelKeys(x) end
  return out
end

--- "guildId" -> "guild_id".
---@param s string
---@return string
function util.snakeCase(s)
  return (s:gsub("(%l)(%u)", "%1_%2"):gsub("(%d)(%u)", "%1_%2"):lower())
end

--- Length in code points; invalid UTF-8 counts bytes so limits still apply.
---@param s string
---@return integer
function util.utf8len(s)
  return utf8.len(s) or #s
end

--- Cuts `s` to at most `n` code points, never inside a UTF-8 sequence.
---@param s string
---@param n integer
---@param ellipsis? string Appended when cut, counted within `n`.
---@return string
function util.truncate(s, n, ellipsis)
  if util.utf8len(s) <= n then return s end
  ellipsis = ellipsis or ""
  local keep = n - util.utf8len(ellipsis)
  if keep < 0 then keep = 0 end
  local cut = utf8.offset(s, keep + 1)
  return s:sub(1, (cut or #s + 1) - 1) .. ellipsis
end

local UNRESERVED = "[^%w%-%._~]"

--- Percent-encodes everything but unreserved URL characters.
---@param s any Converted with tostring.
---@return string
function util.urlEncode(s)
  return (tostring(s):gsub(UNRESERVED, function(c) return string.format("%%%02X", c:byte()) end))
end

--- Builds "?a=1&b=x" from a table (keys sorted so URLs are deterministic); "" when empty.
---@param query? table<string, any>
---@return string
function util.queryString(query)
  if query == nil then return "" end
  local parts = {}
  for _, k in ipairs(util.sortedKeys(query)) do
    local v = query[k]
    if v ~= nil and v ~= json.null then
      if type(v) == "table" then
        for _, item in ipairs(v) do parts[#parts + 1] = util.urlEncode(k) .. "=" .. util.urlEncode(tostring(item)) end
      else
        parts[#parts + 1] = util.urlEncode(k) .. "=" .. util.urlEncode(tostring(v))
      end
    end
  end
  if #parts == 0 then return "" end
  return "?" .. table.concat(parts, "&")
end

local B64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"

--- Encodes bytes as standard base64 with padding.
---@param data string
---@return string
function util.base64Encode(data)
  local out = {}
  for i = 1, #data, 3 do
    local a, b, c = data:byte(i, i + 2)
    local n = (a << 16) | ((b or 0) << 8) | (c or 0)
    local chars = {}
    for j = 1, 4 do
      local idx = (n >> (6 * (4 - j))) & 63
      chars[j] = B64:sub(idx + 1, idx + 1)
    end
    if not b then chars[3] = "=" end
    if not c then chars[4] = "=" end
    out[#out + 1] = table.concat(chars)
  end
  return table.concat(out)
end

local B64_INDEX = {}
for i = 1, #B64 do B64_INDEX[B64:byte(i)] = i - 1 end

--- Decodes standard base64; returns nil for malformed input.
---@param text string
---@return string|nil
function util.base64Decode(text)
  text = text:gsub("%s", "")
  if #text % 4 ~= 0 then return nil end
  local out = {}
  for i = 1, #text, 4 do
    local n, pad = 0, 0
    for j = 0, 3 do
      local byte = text:byte(i + j)
      local v = B64_INDEX[byte]
      if byte == 61 and i + 4 > #text and j >= 2 then
        pad, v = pad + 1, 0
      elseif v == nil or pad > 0 then
        return nil
      end
      n = (n << 6) | v
    end
    local chunk = string.char((n >> 16) & 255, (n >> 8) & 255, n & 255)
    out[#out + 1] = chunk:sub(1, 3 - pad)
  end
  return table.concat(out)
end

local IMAGE_SIGNATURES = {
  { "\x89PNG\r\n\x1a\n", "image/png" },
  { "\xff\xd8\xff", "image/jpeg" },
  { "GIF87a", "image/gif" },
  { "GIF89a", "image/gif" },
}

--- Turns raw image bytes into the data URI the API takes for avatars and icons; URIs pass through.
---@param bytes string|nil
---@return string|nil
function util.imageData(bytes)
  if bytes == nil or bytes == json.null then return bytes end
  if util.startsWith(bytes, "data:") then return bytes end
  local mime
  for _, sig in ipairs(IMAGE_SIGNATURES) do
    if util.startsWith(bytes, sig[1]) then mime = sig[2] break end
  end
  if not mime and bytes:sub(1, 4) == "RIFF" and bytes:sub(9, 12) == "WEBP" then mime = "image/webp" end
  if not mime then error("imageData: not a PNG, JPEG, GIF or WebP image", 2) end
  return "data:" .. mime .. ";base64," .. util.base64Encode(bytes)
end

-- Time ---------------------------------------------------------------------------------------------------

local function daysFromCivil(y, m, d)
  y = m <= 2 and y - 1 or y
  local era = (y >= 0 and y or y - 399) // 400
  local yoe = y - era * 400
  local doy = (153 * (m + (m > 2 and -3 or 9)) + 2) // 5 + d - 1
  local doe = yoe * 365 + yoe // 4 - yoe // 100 + doy
  return era * 146097 + doe - 719468
end

local function civilFromDays(z)
  z = z + 719468
  local era = (z >= 0 and z or z - 146096) // 146097
  local doe = z - era * 146097
  local yoe = (doe - doe // 1460 + doe // 36524 - doe // 146096) // 365
  local y = yoe + era * 400
  local doy = doe - (365 * yoe + yoe // 4 - yoe // 100)
  local mp = (5 * doy + 2) // 153
  local d = doy - (153 * mp + 2) // 5 + 1
  local m = mp + (mp < 10 and 3 or -9)
  return m <= 2 and y + 1 or y, m, d
end

local byte = string.byte
-- Days since the epoch by yyyymmdd: a session's timestamps fall on few dates.
local dayNumbers, dayCount = {}, 0

-- Digit values by byte, and a large negative number for every other byte: a field with a byte that is not
-- a digit comes out negative, so one test checks them all.
local DIGIT = {}
for b = 0, 255 do DIGIT[b] = -(1 << 40) end
for i = 0, 9 do DIGIT[48 + i] = i end
local find, sub = string.find, string.sub

--- Parses an ISO 8601 timestamp as Discord sends it to Unix milliseconds; nil when malformed.
---@param s string|nil
---@return discord.Milliseconds|nil
local function parseIso(s)
  if type(s) ~= "string" or #s < 19 then return nil end
  local D = DIGIT
  local y1, y2, y3, y4, c1, mo1, mo2, c2, d1, d2, t, h1, h2, c3, mi1, mi2, c4, s1, s2, dot = byte(s, 1, 20)
  local year = D[y1] * 1000 + D[y2] * 100 + D[y3] * 10 + D[y4]
  local month, day = D[mo1] * 10 + D[mo2], D[d1] * 10 + D[d2]
  local clock = (D[h1] * 10 + D[h2]) * 3600 + (D[mi1] * 10 + D[mi2]) * 60 + D[s1] * 10 + D[s2]
  if (year | month | day | clock) < 0 or c1 ~= 45 or c2 ~= 45 or c3 ~= 58 or c4 ~= 58 or (t ~= 84 and t ~= 32) then
    return nil
  end
  local ms, rest, n = 0, 20, #s
  if n == 32 and dot == 46 and sub(s, 27) == "+00:00" then
    -- Discord's own form, microseconds and UTC: read without a search.
    local f1, f2, f3, f4, f5, f6 = byte(s, 21, 26)
    ms = D[f1] * 100 + D[f2] * 10 + D[f3]
    if (ms | D[f4] | D[f5] | D[f6]) < 0 then return nil end
    rest = 33
  elseif dot == 46 then
    -- Milliseconds from the first three fraction digits; the rest are skipped.
    rest = find(s, "%D", 21) or n + 1
    if rest == 21 then return nil end
    local f1, f2, f3 = byte(s, 21, 23)
    ms = D[f1] * 100 + (rest > 22 and D[f2] * 10 or 0) + (rest > 23 and D[f3] or 0)
  end
  local offset = 0
  if rest <= n then
    local tz = sub(s, rest)
    if tz ~= "+00:00" and tz ~= "Z" then
      local sign, oh, om = tz:match("^([%+%-])(%d%d):?(%d%d)$")
      if not sign then return nil end
      offset = (tonumber(oh) * 60 + tonumber(om)) * 60000
      if sign == "-" then offset = -offset end
    end
  end
  local date = year * 10000 + month * 100 + day
  local days = dayNumbers[date]
  if days == nil then
    if dayCount >= 4096 then dayNumbers, dayCount = {}, 0 end
    days = daysFromCivil(year, month, day)
    dayNumbers[date], dayCount = days, dayCount + 1
  end
  return (days * 86400 + clock) * 1000 + ms - offset
end

util.parseTimestamp = parseIso

--- Unix milliseconds -> "2024-01-02T03:04:05.678Z".
---@param ms number
---@return string
function util.isoTimestamp(ms)
  ms = math.tointeger(ms) or math.floor(ms)
  local secs, msec = ms // 1000, ms % 1000
  local days, rem = secs // 86400, secs % 86400
  local y, m, d = civilFromDays(days)
  return string.format("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", y, m, d, rem // 3600, rem % 3600 // 60, rem % 60, msec)
end

-- Colours ------------------------------------------------------------------------------------------------

--- An integer colour from 0xRRGGBB, "#RRGGBB", "RRGGBB", {r, g, b}, "Random" or a name from `names`.
--- Raises a string error for a colour it cannot read.
---@param color discord.ColorResolvable
---@param names? table<string, integer> Named colours (discord.constants.Colors).
---@return integer
function util.resolveColor(color, names)
  local t = type(color)
  if t == "number" then
    local n = math.tointeger(color)
    if n and n >= 0 and n <= 0xFFFFFF then return n end
  elseif t == "string" then
    if color == "Random" then return math.random(0, 0xFFFFFF) end
    if names and names[color] then return names[color] end
    local hex = color:match("^#?(%x%x%x%x%x%x)$")
    if hex then return tonumber(hex, 16) end
  elseif t == "table" then
    local r, g, b = color[1], color[2], color[3]
    if math.tointeger(r) and math.tointeger(g) and math.tointeger(b)
        and r >= 0 and r <= 255 and g >= 0 and g <= 255 and b >= 0 and b <= 255 then
      return (r << 16) | (g << 8) | b
    end
  end
  error("resolveColor: not a colour: " .. tostring(color), 2)
end

-- Emoji --------------------------------------------------------------------------------------------------

--- "<a:name:123>", "name:123", "123" or a Unicode emoji -> {id=, name=, animated=}; nil for a non-string.
---@param text string
---@return {id: discord.Snowflake|nil, name: string|nil, animated: boolean}|nil
function util.parseEmoji(text)
  if type(text) ~= "string" then return nil end
  local animated, name, id = text:match("^<(a?):([%w_~]+):(%d+)>$")
  if name then return { animated = animated == "a", name = name, id = id } end
  name, id = text:match("^a?:?([%w_~]+):(%d+)$")
  if name then return { animated = text:sub(1, 2) == "a:", name = name, id = id } end
  if text:match("^%d+$") and #text >= 17 then return { animated = false, name = nil, id = text } end
  return { animated = false, name = text, id = nil }
end

--- Sort function for roles and channels: position, then ID (older first).
---@param a {position: integer, id: discord.Snowflake}
---@param b {position: integer, id: discord.Snowflake}
---@return boolean
function util.comparePosition(a, b)
  if a.position ~= b.position then return a.position < b.position end
  if #a.id ~= #b.id then return #a.id < #b.id end
  return a.id < b.id
end

-- Tasks --------------------------------------------------------------------------------------------------

--- Suspends the running task for `ms` milliseconds.
---@async
---@param ms integer
function util.sleep(ms)
  return runtime.sleep(ms)
end

local function traceback(err)
  if type(err) == "string" then return debug.traceback(err, 2) end
  return err
end

--- Calls fn(...) and returns true, results; or false, err. Unlike pcall, keeps a traceback on string errors.
---@param fn function
---@param ... any
---@return boolean ok
---@return any ... The results, or the error.
function util.try(fn, ...)
  return xpcall(fn, traceback, ...)
end

local function mustBeInTask(what)
  if runtime.current() == nil then error(what .. ": must be called inside a task", 3) end
end

-- A parked task with an optional timeout; exactly one of wake and the timer gets through.
local function park(timeout)
  local task = runtime.current()
  local waiter = { task = task, settled = false }
  if timeout ~= nil then
    waiter.timer = runtime.timer(timeout, function()
      if not waiter.settled then
        waiter.settled = true
        runtime.wake(task, false, "timeout")
      end
    end)
  end
  return waiter
end

local function release(waiter, ...)
  if waiter.settled then return false end
  waiter.settled = true
  if waiter.timer then waiter.timer:cancel() end
  return runtime.wake(waiter.task, true, ...)
end

-- Future -------------------------------------------------------------------------------------------------

--- A value that arrives later; any number of tasks may wait for it.
---@class discord.Future
---@field done boolean Whether it is settled.
---@field ok boolean|nil Whether it was resolved (true) or rejected (false), once settled.
local Future = util.class("Future")
util.Future = Future

--- Creates an unsettled future (`util.Future()`).
function Future:init()
  self.done = false
  self._waiters = {}
  self._callbacks = {}
end

local function settle(self, ok, values)
  if self.done then return false end
  self.done, self.ok, self.values = true, ok, values
  local waiters, callbacks = self._waiters, self._callbacks
  self._waiters, self._callbacks = {}, {}
  for _, w in ipairs(waiters) do release(w, ok, values) end
  for _, cb in ipairs(callbacks) do runtime.spawn(cb, ok, unpack(values, 1, values.n)) end
  return true
end

--- Settles the future with values; returns false when it was already settled.
---@param ... any
---@return boolean
function Future:resolve(...)
  return settle(self, true, pack(...))
end

--- Settles the future with an error; returns false when it was already settled.
---@param err any
---@return boolean
function Future:reject(err)
  return settle(self, false, pack(err))
end

--- Runs fn(ok, ...) in a task once the future settles (at once when it already has).
---@param fn fun(ok: boolean, ...: any)
---@return discord.Future self
function Future:onDone(fn)
  if self.done then
    runtime.spawn(fn, self.ok, unpack(self.values, 1, self.values.n))
  else
    self._callbacks[#self._callbacks + 1] = fn
  end
  return self
end

--- Waits; returns true, values... when resolved, false, err when rejected or false, "timeout".
--- Raises a string error outside a task.
---@async
---@param timeout? integer Milliseconds; no limit when nil.
---@return boolean ok
---@return any ... The values, the error or "timeout".
function Future:wait(timeout)
  if not self.done then
    mustBeInTask("Future:wait")
    local waiter = park(timeout)
    self._waiters[#self._waiters + 1] = waiter
    local woken = runtime.suspend()
    if not woken then
      for i, w in ipairs(self._waiters) do
        if w == waiter then table.remove(self._waiters, i) break end
      end
      return false, "timeout"
    end
  end
  return self.ok, unpack(self.values, 1, self.values.n)
end

--- Waits and returns the values; raises the rejection, or "timeout".
---@async
---@param timeout? integer Milliseconds; no limit when nil.
---@return any ...
function Future:await(timeout)
  local res = pack(self:wait(timeout))
  if not res[1] then error(res[2], 0) end
  return unpack(res, 2, res.n)
end

-- Queue --------------------------------------------------------------------------------------------------

--- FIFO of values between tasks; pop suspends while it is empty.
---@class discord.AsyncQueue
---@field limit integer|nil Maximum length; push fails beyond it.
---@field closed boolean|nil Set by close.
local Queue = util.class("Queue")
util.Queue = Queue

--- Creates an empty queue (`util.Queue(limit)`).
---@param limit? integer Maximum length.
function Queue:init(limit)
  self._items, self._head, self._tail = {}, 1, 0
  self._waiters = {}
  self.limit = limit
  self.closed = false
end

--- Number of queued values (also `#queue`).
---@return integer
function Queue:size()
  return self._tail - self._head + 1
end
Queue.__len = Queue.size

--- Adds a value, waking a waiting pop; false when the queue is closed or full.
---@param value any
---@return boolean
function Queue:push(value)
  if self.closed then return false end
  local waiter = table.remove(self._waiters, 1)
  while waiter do
    if release(waiter, value) then return true end
    waiter = table.remove(self._waiters, 1)
  end
  if self.limit and self:size() >= self.limit then return false end
  self._tail = self._tail + 1
  self._items[self._tail] = value
  return true
end

--- Puts a value at the front (a priority lane); false when closed.
---@param value any
---@return boolean
function Queue:pushFront(value)
  if self.closed then return false end
  if #self._waiters > 0 then return self:push(value) end
  self._head = self._head - 1
  self._items[self._head] = value
  return true
end

--- Takes a value without waiting; nil when empty.
---@return any
function Queue:tryPop()
  if self._head > self._tail then return nil end
  local v = self._items[self._head]
  self._items[self._head] = nil
  self._head = self._head + 1
  return v
end

--- The next value without taking it; nil when empty.
---@return any
function Queue:peek()
  return self._items[self._head]
end

--- Takes the next value, waiting for one; nil, "timeout" or nil, "closed" when none comes.
---@async
---@param timeout? integer Milliseconds; no limit when nil.
---@return any value
---@return string|nil reason "timeout" or "closed".
function Queue:pop(timeout)
  if self._head <= self._tail then return self:tryPop() end
  if self.closed then return nil, "closed" end
  mustBeInTask("Queue:pop")
  local waiter = park(timeout)
  self._waiters[#self._waiters + 1] = waiter
  local ok, value = runtime.suspend()
  if not ok then
    for i, w in ipairs(self._waiters) do
      if w == waiter then table.remove(self._waiters, i) break end
    end
    return nil, value
  end
  return value
end

--- Wakes every waiting pop with nil, "closed"; queued values can still be taken.
function Queue:close()
  self.closed = true
  local waiters = self._waiters
  self._waiters = {}
  for _, w in ipairs(waiters) do
    if not w.settled then
      w.settled = true
      if w.timer then w.timer:cancel() end
      runtime.wake(w.task, false, "closed")
    end
  end
end

--- Drops every queued value.
function Queue:clear()
  self._items, self._head, self._tail = {}, 1, 0
end

-- Mutex --------------------------------------------------------------------------------------------------

--- Exclusive section between tasks, granted in arrival order.
---@class discord.Mutex
---@field locked boolean Whether a holder has it.
local Mutex = util.class("Mutex")
Mutex.__fields = 2
util.Mutex = Mutex

--- Creates an unlocked mutex (`util.Mutex()`).
function Mutex:init()
  self.locked = false
  self._waiters = {}
end

--- Takes the lock, waiting for it; false, "timeout" when it was not free in time.
---@async
---@param timeout? integer Milliseconds; no limit when nil.
---@return boolean ok
---@return string|nil reason "timeout".
function Mutex:lock(timeout)
  if not self.locked then
    self.locked = true
    self.owner = runtime.current()
    return true
  end
  mustBeInTask("Mutex:lock")
  if self.owner == runtime.current() then error("Mutex:lock: the task already holds the lock", 2) end
  local waiter = park(timeout)
  self._waiters[#self._waiters + 1] = waiter
  local ok = runtime.suspend()
  if not ok then
    for i, w in ipairs(self._waiters) do
      if w == waiter then table.remove(self._waiters, i) break end
    end
    return false, "timeout"
  end
  self.owner = runtime.current()
  return true
end

--- Releases the lock, handing it to the next waiter.
--- Raises a string error when it is not locked.
function Mutex:unlock()
  if not self.locked then error("Mutex:unlock: not locked", 2) end
  while #self._waiters > 0 do
    local w = table.remove(self._waiters, 1)
    self.owner = w.task
    if release(w) then return end
  end
  self.locked = false
  self.owner = nil
end

--- Runs fn(...) holding the lock; the lock is released even when fn raises (the error is raised again).
---@async
---@param fn function
---@param ... any
---@return any ... What fn returned.
function Mutex:run(fn, ...)
  self:lock()
  local res = pack(pcall(fn, ...))
  self:unlock()
  if not res[1] then error(res[2], 0) end
  return unpack(res, 2, res.n)
end

-- EventEmitter -------------------------------------------------------------------------------------------

-- Named events. Every listener runs in its own task, in registration order; a listener error
-- becomes an "error" event, or a log line when nobody listens for "error".
---@type discord.EventEmitter
local EventEmitter = util.class("EventEmitter")
util.EventEmitter = EventEmitter

--- Creates an emitter with no listeners.
function EventEmitter:init()
  self._listeners = {}
  self._waiting = {}
end

local function listenersOf(self, name)
  local list = self._listeners[name]
  if not list then
    list = {}
    self._listeners[name] = list
  end
  return list
end

local function checkListener(name, fn)
  if type(name) ~= "string" then error("event name must be a string", 3) end
  if type(fn) ~= "function" then error("listener for '" .. name .. "' must be a function", 3) end
end

local function reportListenerError(self, name, err)
  if name ~= "error" and self:listenerCount("error") > 0 then
    self:emit("error", err, name)
  else
    runtime.log("error", "event", "listener for '" .. name .. "' failed: " .. tostring(err))
  end
end

-- A listener's task is xpcall itself, its message handler made once with the listener: a Lua function
-- around xpcall would cost every event a frame and its call record.
local function reporter(self, name)
  return function(err)
    if type(err) == "string" then err = debug.traceback(err, 2) end
    reportListenerError(self, name, err)
  end
end

--- Adds a listener; each call runs in its own task, so it may suspend.
--- Raises a string error when the name is not a string or fn not a function.
---@param name string Event name.
---@param fn function Listener.
---@return function fn The listener, to pass to `off`.
function EventEmitter:on(name, fn)
  checkListener(name, fn)
  local list = listenersOf(self, name)
  list[#list + 1] = { fn = fn, report = reporter(self, name) }
  return fn
end

--- Adds a listener that runs for the next event only.
--- Raises a string error when the name is not a string or fn not a function.
---@param name string Event name.
---@param fn function Listener.
---@return function fn The listener, to pass to `off`.
function EventEmitter:once(name, fn)
  checkListener(name, fn)
  local list = listenersOf(self, name)
  list[#list + 1] = { fn = fn, once = true, report = reporter(self, name) }
  return fn
end

--- Removes one listener, or every listener of the event when fn is nil.
---@param name string
---@param fn? function
---@return discord.EventEmitter self
function EventEmitter:off(name, fn)
  local list = self._listeners[name]
  if not list then return self end
  if fn == nil then
    self._listeners[name] = nil
    return self
  end
  for i = #list, 1, -1 do
    if list[i].fn == fn then
      table.remove(list, i)
      break
    end
  end
  return self
end

--- Removes every listener of one event, or of all events when name is nil.
---@param name? string
---@return discord.EventEmitter self
function EventEmitter:removeAllListeners(name)
  if name == nil then
    self._listeners = {}
  else
    self._listeners[name] = nil
  end
  return self
end

--- Number of listeners of an event.
---@param name string
---@return integer
function EventEmitter:listenerCount(name)
  local list = self._listeners[name]
  return list and #list or 0
end

--- Queues the listeners of `name`; returns true when at least one listener or waiter took it.
---@param name string
---@param ... any Arguments for the listeners.
---@return boolean
function EventEmitter:emit(name, ...)
  local took = false
  local waiting = self._waiting[name]
  if waiting then
    local args, remaining = pack(...), {}
    self._waiting[name] = remaining
    for _, w in ipairs(waiting) do
      -- The filter runs now, so later changes to the objects cannot decide for it.
      local okf, match = pcall(w.filter, unpack(args, 1, args.n))
      if not okf then
        w.future:reject(match)
        took = true
      elseif match then
        w.future:resolve(unpack(args, 1, args.n))
        took = true
      else
        remaining[#remaining + 1] = w
      end
    end
  end
  local list = self._listeners[name]
  if not list or #list == 0 then return took end
  if #list == 1 and not list[1].once then
    local l = list[1]
    runtime.spawn(xpcall, l.fn, l.report, ...)
    return true
  end
  local snapshot = {}
  for i = 1, #list do snapshot[i] = list[i] end
  for i = #list, 1, -1 do
    if list[i].once then table.remove(list, i) end
  end
  for _, l in ipairs(snapshot) do runtime.spawn(xpcall, l.fn, l.report, ...) end
  return true
end

local function acceptAll() return true end

--- Waits for the next `name` event whose arguments pass `opts.filter`; returns its arguments.
--- Raises a string error outside a task or for a bad name or filter.
---@async
---@param name string
---@param opts? {filter?: fun(...): boolean, timeout?: integer} Timeout in milliseconds.
---@return any ... The event's arguments, or nil, "timeout".
function EventEmitter:waitFor(name, opts)
  if type(name) ~= "string" then error("waitFor: event name must be a string", 2) end
  opts = opts or {}
  if opts.filter ~= nil and type(opts.filter) ~= "function" then error("waitFor: filter must be a function", 2) end
  mustBeInTask("waitFor")
  local entry = { filter = opts.filter or acceptAll, future = Future() }
  local list = self._waiting[name] or {}
  self._waiting[name] = list
  list[#list + 1] = entry
  local res = pack(entry.future:wait(opts.timeout))
  if not res[1] then
    list = self._waiting[name] or {}
    for i, w in ipairs(list) do
      if w == entry then table.remove(list, i) break end
    end
    if res[2] == "timeout" then return nil, "timeout" end
    error(res[2], 0)
  end
  return unpack(res, 2, res.n)
end

-- Provided from above ---------------------------------------------------------------------------------------

-- A module requires only its own layer and those below. What it uses from a higher layer (collectors,
-- builders, the client's managers) that layer's module registers here when it loads; the package root
-- loads them all.
local provided = {}

---@private
function util.provide(role, value)
  provided[role] = value
end

---@private
function util.provided(role, optional)
  local value = provided[role]
  if value == nil and not optional then
    error("discord: nothing provides the " .. role .. "; require(\"discord\") loads every part", 3)
  end
  return value
end

return util
