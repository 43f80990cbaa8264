-- Reads the library's annotations (the Lua language server's form) and walks what the modules export
-- under the fake runtime, so that the checker and the site see the same entries.
local M = {}

local BUILTIN = {}
for w in ([[nil boolean integer number string table function thread any userdata lightuserdata self true false
  unknown]]):gmatch("%S+") do BUILTIN[w] = true end
M.BUILTIN = BUILTIN

local function trim(s) return (s:gsub("^%s+", ""):gsub("%s+$", "")) end

-- Types --------------------------------------------------------------------------------------------------

local CLOSE = { ["("] = ")", ["{"] = "}", ["<"] = ">", ["["] = "]" }

-- End of the balanced group that opens at s[i].
local function balanced(s, i)
  local stack = {}
  local j = i
  while j <= #s do
    local c = s:sub(j, j)
    if c == '"' or c == "'" then
      j = s:find(c, j + 1, true) or #s
    elseif CLOSE[c] then
      stack[#stack + 1] = CLOSE[c]
    elseif c == stack[#stack] then
      stack[#stack] = nil
      if #stack == 0 then return j end
    end
    j = j + 1
  end
  return #s
end

local readType

-- One type without unions: a name, literal, fun(...), {...} or (...), then [] and ? suffixes.
local function readUnit(s, i)
  local j
  if s:find("^fun%(", i) then
    j = balanced(s, i + 3)
    local r = s:match("^%s*:%s*()", j + 1)
    if r then
      j = readType(s, r) - 1
      -- fun(): A, B returns two values.
      while true do
        local n = s:match("^,%s*()", j + 1)
        if not n or not s:find("^[%a_{(\"']", n) then break end
        j = readType(s, n) - 1
      end
    end
  elseif s:find("^[{(]", i) then
    j = balanced(s, i)
  elseif s:find("^[\"']", i) then
    j = s:find(s:sub(i, i), i + 1, true) or #s
  elseif s:find("^%.%.%.", i) then
    j = i + 2
  else
    local e = s:match("^[%w_%.%-]+()", i)
    if not e then return nil end
    j = e - 1
    if s:sub(j + 1, j + 1) == "<" then j = balanced(s, j + 1) end
  end
  while true do
    if s:sub(j + 1, j + 2) == "[]" then
      j = j + 2
    elseif s:sub(j + 1, j + 1) == "?" then
      j = j + 1
    else
      break
    end
  end
  return j + 1
end

-- Reads the type that starts at s[i]; returns the index after it, or nil when none starts there.
function readType(s, i)
  local e = readUnit(s, i)
  if not e then return nil end
  while true do
    local n = s:match("^%s*|%s*()", e)
    if not n then return e end
    e = readUnit(s, n) or n
  end
end

--- Splits "TYPE rest" into the type and the rest; nil when the text does not start with a type.
function M.splitType(text)
  text = trim(text)
  local e = readType(text, 1)
  if not e then return nil, text end
  return text:sub(1, e - 1), trim(text:sub(e))
end

--- The type names a type expression uses (not literals, field or parameter names).
function M.typeNames(t)
  local s = t:gsub('"[^"]*"', " "):gsub("'[^']*'", " ")
  s = s:gsub("([%a_][%w_]*)%s*%??%s*:", " ")
  local out = {}
  for name in s:gmatch("[%a_][%w_%.]*") do
    if name ~= "fun" then out[#out + 1] = name end
  end
  return out
end

-- Annotation blocks ---------------------------------------------------------------------------------------

local function parseTag(entry, tag, rest, line)
  local target = entry.defs[#entry.defs]
  if tag == "class" then
    local name, parent = rest:match("^([%w_%.]+)%s*:?%s*([%w_%.]*)")
    entry.defs[#entry.defs + 1] = { kind = "class", name = name, parent = parent ~= "" and parent or nil,
      desc = entry.desc, fields = {}, line = line }
  elseif tag == "enum" then
    entry.defs[#entry.defs + 1] = { kind = "enum", name = rest:match("^[%w_%.]+"), desc = entry.desc, line = line }
  elseif tag == "alias" then
    local name, tail = rest:match("^([%w_%.]+)%s*(.*)")
    local t, desc = M.splitType(tail)
    entry.defs[#entry.defs + 1] = { kind = "alias", name = name, type = t, desc = desc ~= "" and desc or entry.desc,
      variants = {}, line = line }
  elseif tag == "field" then
    if not (target and target.kind == "class") then return "---@field outside a ---@class block" end
    local vis, after = rest:match("^(%a+)%s+(.*)")
    if vis == "private" or vis == "protected" or vis == "package" then rest = after end
    local name, opt, tail = rest:match("^([%w_]+)(%??)%s+(.*)")
    if not name then return "---@field without a name and a type" end
    local t, desc = M.splitType(tail)
    if not t then return "---@field " .. name .. " has no type" end
    target.fields[#target.fields + 1] = { name = name, optional = opt == "?", type = t, desc = desc, line = line,
      private = vis == "private" or vis == "protected" or vis == "package" or name:sub(1, 1) == "_",
      readonly = desc:find("%(read%-only%)%.?$") ~= nil }
  elseif tag == "param" then
    local name, opt, tail = rest:match("^([%w_]+)(%??)%s+(.*)")
    if not name then name, opt, tail = rest:match("^(%.%.%.)(%??)%s*(.*)") end
    if not name then return "---@param without a name" end
    local t, desc = M.splitType(tail)
    if not t then return "---@param " .. name .. " has no type" end
    entry.params[#entry.params + 1] = { name = name, optional = opt == "?" or t:sub(-1) == "?", type = t,
      desc = desc, line = line }
  elseif tag == "return" then
    local t, tail = M.splitType(rest)
    if not t then return "---@return has no type" end
    local name, desc = tail:match("^([%l_][%w_]*)%s+(.+)")
    entry.returns[#entry.returns + 1] = { type = t, name = name, desc = name and desc or tail, line = line }
  elseif tag == "type" then
    entry.type = M.splitType(rest)
  elseif tag == "generic" then
    for name in rest:gmatch("([%a_][%w_]*)%s*:?[^,]*,?") do entry.generics[name] = true end
  elseif tag == "async" then
    entry.async = true
  elseif tag == "private" or tag == "protected" or tag == "package" then
    entry.private = true
  elseif tag == "deprecated" then
    entry.deprecated = rest ~= "" and rest or "Deprecated."
  elseif tag == "see" then
    entry.see[#entry.see + 1] = rest:match("^%S+")
  end
end

-- A block of `---` lines and the code line right below it (nil after a blank line).
local function newEntry(first)
  return { first = first, descLines = {}, raises = {}, params = {}, returns = {}, see = {}, defs = {}, problems = {},
    generics = {} }
end

--- Parses a Lua file's annotation blocks. Returns a list of entries, each with `last` (its last line) and
--- `target`/`targetLine` (the code line directly below it, if any).
function M.parseSource(text)
  local entries, cur, lines = {}, nil, {}
  for l in (text .. "\n"):gmatch("(.-)\r?\n") do lines[#lines + 1] = l end
  for n, l in ipairs(lines) do
    local body = l:match("^%s*%-%-%-(.*)$")
    if body and not body:find("^%-") then
      cur = cur or newEntry(n)
      cur.last = n
      local tag, rest = body:match("^@(%a+)%s*(.-)%s*$")
      local variant = body:match("^|%s*(.*)$")
      if tag then
        local problem = parseTag(cur, tag, rest, n)
        if problem then cur.problems[#cur.problems + 1] = { line = n, text = problem } end
      elseif variant then
        local alias = cur.defs[#cur.defs]
        if alias and alias.kind == "alias" then
          local value, desc = variant:match('^(%b"")%s*#?%s*(.*)')
          if value then
            alias.variants[#alias.variants + 1] = { value = value:sub(2, -2), desc = desc, line = n }
          end
        end
      else
        local t = trim(body)
        if t ~= "" then
          -- A description belongs to the next definition of the block, or the block itself.
          if t:find("^Raises ") then cur.raises[#cur.raises + 1] = t else cur.descLines[#cur.descLines + 1] = t end
          cur.desc = table.concat(cur.descLines, " ")
        end
      end
    elseif cur then
      if l:find("%S") then cur.target, cur.targetLine = l, n end
      entries[#entries + 1] = cur
      cur = nil
    end
  end
  if cur then entries[#entries + 1] = cur end
  return entries, lines
end

-- Exports ------------------------------------------------------------------------------------------------

local function readFile(path)
  local f = io.open(path, "rb")
  if not f then return nil end
  local s = f:read("a")
  f:close()
  return s
end
M.readFile = readFile

-- Lines that start a function returning a value (luac's listing), by line defined.
local function returningLines(path)
  local p = io.popen("luac5.4 -l -p '" .. path:gsub("'", "'\\''") .. "' 2>/dev/null")
  local out, line, prev = {}, nil, ""
  for l in p:lines() do
    local at = l:match("^function <.-:(%d+),%d+>") or l:match("^main <")
    if at then
      line = tonumber(at)
    elseif line then
      local op = l:match("^%s+%d+%s+%[%d+%]%s+([%u%d]+)")
      if op == "RETURN1" or (op == "RETURN" and (l:find("; [1-9]%d* out") or
          (l:find("; all out") and prev ~= "TAILCALL"))) then
        out[line] = true
      end
      prev = op or prev
    end
  end
  p:close()
  return out
end

--- Loads every module of modules.txt under `root` with the fake runtime and reads the annotations of every
--- library file. Returns the database the checker and the site use.
function M.load(root)
  local lib = root .. "/payload/lua/"
  package.path = lib .. "?.lua;" .. lib .. "?/init.lua;" .. root .. "/tests/lua/fake/?.lua;" .. root ..
    "/tests/lua/?.lua;" .. package.path
  local db = { root = root, modules = {}, files = {}, defs = {}, assigned = {}, problems = {} }
  for name in io.lines(root .. "/payload/modules.txt") do
    local ok, value = pcall(require, name)
    db.modules[#db.modules + 1] = { name = name, value = ok and value or nil, error = not ok and value or nil }
  end
  local list = io.popen("cd '" .. lib .. "' && find . -name '*.lua' | sort")
  for rel in list:lines() do
    rel = rel:sub(3)
    local text = readFile(lib .. rel)
    local entries, lines = M.parseSource(text)
    local file = { rel = rel, path = lib .. rel, entries = entries, lines = lines, byLast = {}, text = text }
    for _, e in ipairs(entries) do
      e.file = file
      file.byLast[e.last] = e
      for _, d in ipairs(e.defs) do
        d.file, d.entry = file, e
        if d.desc == nil then d.desc = e.desc end
        if db.defs[d.name] then
          db.problems[#db.problems + 1] = ("%s:%d: %s is defined twice (first at %s:%d)"):format(rel, d.line, d.name,
            db.defs[d.name].file.rel, db.defs[d.name].line)
        else
          db.defs[d.name] = d
        end
      end
    end
    -- Keys the code sets, or names in strings (tables that map Discord's names to the library's).
    for key in text:gmatch("([%a_][%w_]*)%s*=[^=]") do db.assigned[key] = true end
    for key in text:gmatch('"([%a_][%w_]*)"') do db.assigned[key] = true end
    for _, l in ipairs(lines) do
      local lhs = l:match("^%s*([%w_%.,%s]-)%s*=[^=]")
      for key in (lhs or ""):gmatch("[%a_][%w_]*") do db.assigned[key] = true end
    end
    db.files[lib .. rel] = file
    db.files[rel] = file
  end
  list:close()
  db.returning = setmetatable({}, { __index = function(t, path)
    t[path] = returningLines(path)
    return t[path]
  end })
  return db
end

--- The annotation block directly above the definition of Lua function `fn`, with its file and line.
function M.blockOf(db, fn)
  local info = debug.getinfo(fn, "S")
  if info.what ~= "Lua" then return nil end
  local file = db.files[info.source:sub(2)]
  if not file then return nil end
  return file.byLast[info.linedefined - 1], file, info.linedefined
end

--- Parameter names of `fn` as defined, "..." last for a vararg function.
function M.paramsOf(fn)
  local info = debug.getinfo(fn, "u")
  local out = {}
  for i = 1, info.nparams do out[i] = debug.getlocal(fn, i) end
  if info.isvararg then out[#out + 1] = "..." end
  return out
end

function M.isClass(v)
  if type(v) ~= "table" then return false end
  local mt = getmetatable(v)
  return type(rawget(v, "__name")) == "string" and rawget(v, "getters") ~= nil and mt ~= nil
end

-- Enums are plain tables of names and values whose metatable raises on a misspelt name.
function M.isEnum(v)
  if type(v) ~= "table" or M.isClass(v) then return false end
  local mt = getmetatable(v)
  if not (type(mt) == "table" and type(mt.__index) == "function") or next(v) == nil then return false end
  for k, x in pairs(v) do
    if type(k) == "function" or type(x) == "table" or type(x) == "function" then return false end
  end
  return true
end

-- The block directly above the line that assigns `key` (M.key = ..., local key = ..., key = ... in a table).
local function assignmentEntry(file, key)
  for _, e in ipairs(file and file.entries or {}) do
    local lhs = (e.target or ""):match("^(.-)=[^=]") or ""
    if lhs:find("[%.]" .. key .. "%f[^%w_]") or lhs:find("^%s*local%s+" .. key .. "%s*$") or
        lhs:find("^%s*" .. key .. "%s*$") then
      return e
    end
  end
end

function M.parentOf(cls)
  local p = rawget(cls, "super")
  return M.isClass(p) and p or nil
end

--- The documented name of runtime class `cls`: the ---@class above its util.class line, else discord.<name>.
function M.className(db, cls)
  local made = rawget(cls, "__name")
  -- Own methods in key order (metamethods come from the class maker): the first whose file makes
  -- the class names it, so the answer is the same on every run.
  local fallback
  for _, t in ipairs({ cls, rawget(cls, "getters") or {} }) do
    local keys = {}
    for k, v in pairs(t) do
      if type(k) == "string" and k:sub(1, 2) ~= "__" and type(v) == "function" then keys[#keys + 1] = k end
    end
    table.sort(keys)
    for _, k in ipairs(keys) do
      local file = db.files[debug.getinfo(t[k], "S").source:sub(2)]
      for _, e in ipairs(file and file.entries or {}) do
        local d = e.defs[#e.defs]
        if d and d.kind == "class" and (e.target or ""):find('class%(%s*"' .. made .. '"') then
          return d.name, file.rel
        end
      end
      fallback = fallback or file
    end
  end
  return "discord." .. made, fallback and fallback.rel
end

local function sortedKeys(t)
  local keys = {}
  for k in pairs(t) do
    if type(k) == "string" and k:sub(1, 1) ~= "_" then keys[#keys + 1] = k end
  end
  table.sort(keys)
  return keys
end

-- The problems of a function's annotation block against the function itself.
local function checkFunction(db, item)
  local e, file, line = M.blockOf(db, item.fn)
  item.entry, item.where = e, file and (file.rel .. ":" .. line)
  if not e then return { "no annotation block above its definition" } end
  if e.private then
    item.private = true
    return {}
  end
  local out = {}
  if not e.desc then out[#out + 1] = "no one-line description" end
  local actual, documented = M.paramsOf(item.fn), {}
  if actual[1] == "self" then table.remove(actual, 1) end
  for _, p in ipairs(e.params) do documented[p.name] = p end
  for _, name in ipairs(actual) do
    if not documented[name] and not name:find("^_") then out[#out + 1] = "no ---@param " .. name end
  end
  local present = {}
  for _, name in ipairs(actual) do present[name] = true end
  for _, p in ipairs(e.params) do
    if not present[p.name] and p.name ~= "self" then
      db.stale[#db.stale + 1] = ("%s:%d: ---@param %s names no parameter of %s"):format(file.rel, p.line, p.name,
        item.label)
    end
  end
  if #e.returns == 0 and db.returning[file.path][line] then out[#out + 1] = "returns a value but has no ---@return" end
  return out
end

--- Walks what the modules export: module functions and values, classes with their methods and getters,
--- enums. Fills db.items (one per export, re-exports counted once) and db.stale.
function M.walk(db)
  db.items, db.stale, db.classes, db.enums = {}, {}, {}, {}
  local seen, moduleOf = {}, {}
  for _, m in ipairs(db.modules) do
    if type(m.value) == "table" then moduleOf[m.value] = m.name end
  end
  local function add(item)
    db.items[#db.items + 1] = item
    return item
  end
  local walkClass
  local function walkValue(owner, key, v, modName)
    if seen[v] or moduleOf[v] and moduleOf[v] ~= modName then return end
    if type(v) == "function" or type(v) == "table" then seen[v] = true end
    local label = owner .. "." .. key
    if type(v) == "function" then
      local item = add({ kind = "function", owner = owner, name = key, fn = v, label = label, module = modName })
      item.problems = checkFunction(db, item)
    elseif M.isClass(v) then
      walkClass(v)
    elseif M.isEnum(v) then
      local file = db.files[package.searchpath(modName, package.path) or ""]
      local e = assignmentEntry(file, key)
      local d = e and e.defs[1]
      if not (d and d.kind == "enum") then d = db.defs["discord." .. (getmetatable(v).__name or key)] end
      local name = d and d.name or "discord." .. (getmetatable(v).__name or key)
      local item = add({ kind = "enum", owner = owner, name = key, value = v, label = name, module = modName, def = d,
        where = e and file.rel .. ":" .. e.targetLine, private = e and e.private })
      db.enums[name] = item
      item.problems = {}
      if not (d and d.kind == "enum") then
        item.problems[1] = "no ---@enum " .. name
      elseif not d.desc then
        item.problems[1] = "no one-line description"
      end
    else
      local item = add({ kind = "value", owner = owner, name = key, value = v, label = label, module = modName })
      local file = db.files[package.searchpath(modName, package.path) or ""]
      local e = assignmentEntry(file, key)
      item.problems = { "no one-line description above its assignment" }
      if e then
        item.entry, item.where, item.private = e, file.rel .. ":" .. e.targetLine, e.private
        item.problems = e.desc and {} or item.problems
      end
    end
  end
  function walkClass(cls)
    seen[cls] = true
    local name, rel = M.className(db, cls)
    local d = db.defs[name]
    if db.classes[name] then
      db.stale[#db.stale + 1] = ("%s names two classes, in %s and %s: give one its own ---@class name above its "
        .. "util.class line"):format(name, db.classes[name].file or "?", rel or "?")
      return
    end
    local cItem = add({ kind = "class", name = name, label = name, cls = cls, def = d, problems = {}, file = rel,
      where = rel })
    db.classes[name] = cItem
    if not (d and d.kind == "class") then
      cItem.problems[1] = "no ---@class " .. name
    elseif not d.desc then
      cItem.problems[1] = "no one-line description"
    end
    -- A subclass that sets its own value of a field its parent documents (Flags, TYPE) inherits the
    -- parent's entry, as the language server reads it.
    local fields = {}
    local c = cls
    while c do
      local cd = db.defs[(M.className(db, c))]
      for _, f in ipairs(cd and cd.fields or {}) do fields[f.name] = fields[f.name] or f end
      c = M.parentOf(c)
    end
    local parent = M.parentOf(cls)
    if parent and not seen[parent] then walkClass(parent) end
    for _, key in ipairs(sortedKeys(cls)) do
      local v = rawget(cls, key)
      if key ~= "super" and key ~= "getters" then
        local item = add({ kind = type(v) == "function" and "method" or "value", owner = name, name = key, fn = v,
          label = name .. (type(v) == "function" and ":" or ".") .. key, class = name, field = fields[key] })
        if type(v) ~= "function" then
          item.problems = (fields[key] and fields[key].desc ~= "") and {} or { "no ---@field with a description" }
        else
          item.problems = checkFunction(db, item)
          -- A ---@field NAME fun(...) line with a description in the class block documents it too.
          local f = fields[key]
          if #item.problems > 0 and not item.entry and f and f.type:find("^fun%(") and f.desc ~= "" then
            item.problems = {}
          end
        end
      end
    end
    for _, key in ipairs(sortedKeys(cls.getters)) do
      local v = rawget(cls.getters, key)
      local item = add({ kind = "getter", owner = name, name = key, fn = v, label = name .. "." .. key, class = name,
        field = fields[key] })
      local f = fields[key]
      if f and f.desc ~= "" then
        item.problems = {}
      else
        item.problems = checkFunction(db, item)
        if #item.problems == 0 and #item.entry.returns == 0 then item.problems = { "no ---@return type" } end
        if f and not item.entry then item.problems = { "its ---@field has no description" } end
      end
    end
    -- Fields that name nothing: no method, getter or assignment of that key anywhere in the library.
    for _, f in ipairs(d and d.fields or {}) do
      if cls[f.name] == nil and cls.getters[f.name] == nil and not db.assigned[f.name] then
        db.stale[#db.stale + 1] = ("%s:%d: ---@field %s names nothing in %s"):format(d.file.rel, f.line, f.name, name)
      end
    end
  end
  local walked = {}
  for _, m in ipairs(db.modules) do
    if M.isClass(m.value) then
      walkClass(m.value)
    elseif type(m.value) == "table" and not walked[m.value] then
      walked[m.value] = true
      for _, key in ipairs(sortedKeys(m.value)) do walkValue(m.name, key, m.value[key], m.name) end
    end
  end
  return db
end

return M
