-- The library's reference site, built from the annotations in payload/lua.
--   lua5.4 scripts/site/build.lua OUT_DIR [--root DIR]   writes the site
--   lua5.4 scripts/site/build.lua --check [--root DIR]   lists exports without a reference entry, entries
--                                                        that name nothing and unknown types; exit 1 when any
local here = arg[0]:match("^(.*)/[^/]*$") or "."
package.path = here .. "/?.lua;" .. package.path
local reader = require("reader")

local root, outDir, check = here .. "/../..", nil, false
local i = 1
while arg[i] do
  if arg[i] == "--check" then
    check = true
  elseif arg[i] == "--root" and arg[i + 1] then
    root, i = arg[i + 1], i + 1
  elseif not outDir and arg[i]:sub(1, 1) ~= "-" then
    outDir = arg[i]
  else
    io.stderr:write("usage: build.lua OUT_DIR | --check [--root DIR]\n")
    os.exit(2)
  end
  i = i + 1
end
if not check and not outDir then
  io.stderr:write("usage: build.lua OUT_DIR | --check [--root DIR]\n")
  os.exit(2)
end
root = root:gsub("/+$", "")

local db = reader.walk(reader.load(root))

-- Types an annotation names that no ---@class, ---@enum or ---@alias defines.
local function unknownTypes()
  local out = {}
  local function need(file, line, t, generics)
    for _, name in ipairs(reader.typeNames(t or "")) do
      if not reader.BUILTIN[name] and not db.defs[name] and not db.classes[name] and not db.enums[name] and
          not (generics and generics[name]) and not name:find("^%d") then
        out[#out + 1] = ("%s:%d: unknown type %s"):format(file.rel, line, name)
      end
    end
  end
  local seenFiles = {}
  for _, file in pairs(db.files) do
    if not seenFiles[file] then
      seenFiles[file] = true
      for _, e in ipairs(file.entries) do
        for _, p in ipairs(e.params) do need(file, p.line, p.type, e.generics) end
        for _, r in ipairs(e.returns) do need(file, r.line, r.type, e.generics) end
        if e.type then need(file, e.first, e.type) end
        for _, s in ipairs(e.see) do
          if s:find("^discord%.") then need(file, e.first, s:match("^[%w_%.]+")) end
        end
        for _, d in ipairs(e.defs) do
          if d.parent then need(file, d.line, d.parent) end
          if d.type then need(file, d.line, d.type) end
          for _, f in ipairs(d.fields or {}) do need(file, f.line, f.type) end
        end
      end
    end
  end
  table.sort(out)
  return out
end

-- Definitions that name nothing: an event list of a class that does not exist; names defined twice.
local function staleDefs()
  local out = {}
  for name, d in pairs(db.defs) do
    local emitter = d.kind == "alias" and name:match("^(discord%..+)Event$")
    if emitter and not db.classes[emitter] then
      out[#out + 1] = ("%s:%d: %s lists the events of %s, which is no class"):format(d.file.rel, d.line, name, emitter)
    end
  end
  for _, p in ipairs(db.problems) do out[#out + 1] = p end
  return out
end

if check then
  local exports, documented, missing = 0, 0, {}
  for _, m in ipairs(db.modules) do
    if m.error then missing[#missing + 1] = m.name .. ": does not load: " .. tostring(m.error) end
  end
  for _, item in ipairs(db.items) do
    if not item.private then
      exports = exports + 1
      if #item.problems == 0 then
        documented = documented + 1
      else
        missing[#missing + 1] = ("%s %s (%s): %s"):format(item.kind, item.label, item.where or item.module or "?",
          table.concat(item.problems, "; "))
      end
    end
  end
  -- Fields of every ---@class (option tables too) that no export above stands for: each is an entry of its own.
  local covered, fields = {}, {}
  for _, item in ipairs(db.items) do
    if item.field then covered[item.field] = true end
  end
  for name, d in pairs(db.defs) do
    for _, f in ipairs(d.kind == "class" and d.fields or {}) do
      if not f.private and not covered[f] then fields[#fields + 1] = { name = name, d = d, f = f } end
    end
  end
  table.sort(fields, function(a, b)
    if a.d.file.rel ~= b.d.file.rel then return a.d.file.rel < b.d.file.rel end
    return a.f.line < b.f.line
  end)
  for _, x in ipairs(fields) do
    exports = exports + 1
    if x.f.desc ~= "" then
      documented = documented + 1
    else
      missing[#missing + 1] = ("field %s.%s (%s:%d): no one-line description"):format(x.name, x.f.name,
        x.d.file.rel, x.f.line)
    end
  end
  local stale = staleDefs()
  for _, s in ipairs(db.stale) do stale[#stale + 1] = s end
  table.sort(stale)
  local unknown = unknownTypes()
  for _, l in ipairs(missing) do print("missing: " .. l) end
  for _, l in ipairs(stale) do print("names nothing: " .. l) end
  for _, l in ipairs(unknown) do print(l) end
  print(("exports %d, documented %d, missing %d, naming nothing %d, unknown types %d"):format(exports, documented,
    #missing, #stale, #unknown))
  os.exit((#missing + #stale + #unknown) == 0 and 0 or 1)
end

require("site").write(db, outDir)
