-- Writes the static site: the start page, the guide, the example bots, a page per class, enum and module,
-- the types page and the search index. Every link is relative, so the folder works from anywhere.
local md = require("markdown")
local reader = require("reader")
local escape = md.escape

local M = {}

local GUIDE = { "install", "first-bot", "slash-commands", "voice", "sharding", "errors", "library" }
-- Pages beside the guide: every REST operation, every gateway event, receiving voice.
local DOCS = { "rest-operations", "gateway-events", "voice-receive" }
local EXAMPLES = { "prefix_bot", "slash_bot", "moderation_bot", "play_bot", "record_bot" }

local function fileName(name) return (name:gsub("[^%w%.%-_]", "-")) end

local function write(path, text)
  local f = assert(io.open(path, "wb"))
  f:write(text)
  f:close()
end

local function sortedBy(list, key)
  table.sort(list, function(a, b) return a[key] < b[key] end)
  return list
end

-- Pages ----------------------------------------------------------------------------------------------------

local Site = {}
Site.__index = Site

-- URL (from the site's root) of the page of type `name`, or nil.
function Site:typeUrl(name)
  local kind = self.kinds[name]
  if kind == "class" then return "classes/" .. fileName(name) .. ".html" end
  if kind == "enum" then return "enums/" .. fileName(name) .. ".html" end
  if kind ~= "alias" then return end
  -- A class's event names are listed on the class's own page.
  local owner = name:match("^(.*)Event$")
  if owner and self.kinds[owner] == "class" then return "classes/" .. fileName(owner) .. ".html#events" end
  return "types.html#" .. fileName(name)
end

-- A type expression with every discord.* name linked; `up` leads from the page to the root.
function Site:typeHtml(t, up)
  if not t then return "" end
  return (escape(t):gsub("discord%.[%w_%.]+", function(name)
    local url = self:typeUrl(name)
    return url and ('<a href="' .. up .. url .. '">' .. name .. "</a>") or name
  end))
end

-- Rendering context for prose on a page `up` below the root: code spans that name a type, `Class:method` or
-- `Class.field` link to it; links of a file in `docDir` (a folder of the repository) lead to the page made
-- from their target, and are plain text when the site has none.
function Site:ctx(up, docDir)
  local qualified = function(n) return n:find("^discord%.") and n or "discord." .. n end
  local ctx = {}
  function ctx.code(code)
    local name, member = code:match("^([%w_%.]+)[:.]([%w_]+)%(?%)?$")
    if self:typeUrl(qualified(code)) then return up .. self:typeUrl(qualified(code)) end
    if name and self.kinds[qualified(name)] == "class" then
      return up .. self:typeUrl(qualified(name)) .. (self:memberIds(qualified(name))[member] and "#" .. member or "")
    end
  end
  function ctx.url(url)
    if url:find("^%a[%w+.-]*:") or url:find("^#") then return url end
    local path, anchor = url:match("^([^#]*)(.*)$")
    local parts = {}
    for part in ((docDir or "") .. "/" .. path):gmatch("[^/]+") do
      if part == ".." then parts[#parts] = nil elseif part ~= "." then parts[#parts + 1] = part end
    end
    local repo = table.concat(parts, "/")
    local guide, doc, example = repo:match("^docs/lua/guide/(.+)%.md$"), repo:match("^docs/lua/([^/]+)%.md$"),
      repo:match("^examples/(.+)%.lua$")
    local target = guide == "index" and "index.html" or guide and "guide/" .. guide .. ".html" or
      doc and self.docs[doc] and doc .. ".html" or example and "examples/" .. example .. ".html"
    return target and up .. target .. anchor or nil
  end
  return ctx
end

function Site:page(path, title, body, extra)
  local depth = select(2, path:gsub("/", ""))
  local up = ("../"):rep(depth)
  local nav = { '<a href="' .. up .. 'index.html">Start</a>' }
  for _, g in ipairs(self.guide) do
    nav[#nav + 1] = '<a href="' .. up .. "guide/" .. g.name .. '.html">' .. escape(g.short) .. "</a>"
  end
  nav[#nav + 1] = '<a href="' .. up .. 'reference.html">Reference</a>'
  local html = table.concat({
    "<!DOCTYPE html>",
    '<html lang="en">',
    "<head>",
    '<meta charset="utf-8">',
    '<meta name="viewport" content="width=device-width, initial-scale=1">',
    '<meta name="color-scheme" content="light dark">',
    "<title>" .. escape(title) .. " - Tarnwick</title>",
    '<link rel="stylesheet" href="' .. up .. 'style.css">',
    "</head>",
    '<body data-root="' .. up .. '">',
    '<header><a class="brand" href="' .. up .. 'index.html">Tarnwick</a>',
    '<form class="search" action="' .. up .. 'index.html" role="search">',
    '<input id="q" name="q" type="search" placeholder="Search classes, methods, guide" autocomplete="off"',
    'aria-label="Search">',
    '<ol id="results" hidden></ol></form></header>',
    '<nav class="top">' .. table.concat(nav, " ") .. "</nav>",
    "<main>",
    body,
    "</main>",
    extra or "",
    '<script src="' .. up .. 'search-index.js"></script>',
    '<script src="' .. up .. 'search.js"></script>',
    "</body>",
    "</html>",
    "",
  }, "\n")
  write(self.out .. "/" .. path, html)
  self.pages[#self.pages + 1] = path
end

function Site:index(entry) self.search[#self.search + 1] = entry end

-- Reference pages ------------------------------------------------------------------------------------------

-- Members of a class from the walk and from its ---@class block.
function Site:members(name)
  local c = { fields = {}, methods = {}, events = {} }
  local def = self.db.defs[name]
  local done = {}
  for _, item in ipairs(self.byClass[name] or {}) do
    if item.kind == "method" then
      local e = item.entry or {}
      c.methods[#c.methods + 1] = { name = item.name, desc = e.desc or (item.field and item.field.desc), entry = e,
        static = e.target and e.target:find("function [%w_]+%.") ~= nil,
        fun = not item.entry and item.field and item.field.type or nil }
      done[item.name] = true
    elseif item.kind == "getter" and item.entry and not item.field then
      local r = item.entry.returns[1] or {}
      c.fields[#c.fields + 1] = { name = item.name, type = r.type, desc = (item.entry.desc or "") .. " (read-only)" }
      done[item.name] = true
    end
  end
  for _, f in ipairs(def and def.fields or {}) do
    if not f.private and not done[f.name] then
      if f.type:find("^fun%(") then
        c.methods[#c.methods + 1] = { name = f.name, desc = f.desc, entry = {}, fun = f.type }
      else
        c.fields[#c.fields + 1] = { name = f.name, type = f.type, desc = f.desc }
      end
    end
  end
  local events = self.db.defs[name .. "Event"]
  for _, v in ipairs(events and events.variants or {}) do
    local args, desc = v.desc:match("^(%b())%s*(.*)")
    c.events[#c.events + 1] = { name = v.value, args = args or "", desc = desc or v.desc }
  end
  sortedBy(c.fields, "name")
  sortedBy(c.methods, "name")
  return c
end

-- The anchors a class page has for its members.
function Site:memberIds(name)
  self.ids = self.ids or {}
  if not self.ids[name] then
    local ids, c = {}, self:members(name)
    for _, list in ipairs({ c.fields, c.methods }) do
      for _, m in ipairs(list) do ids[m.name] = true end
    end
    self.ids[name] = ids
  end
  return self.ids[name]
end

function Site:methodHtml(owner, m, up, short)
  local e = m.entry
  local params = {}
  for _, p in ipairs(e.params or {}) do params[#params + 1] = p.name .. (p.optional and "?" or "") end
  -- init runs when the class is called: show the call.
  local call = m.name == "init" and owner:gsub("^discord%.", "") or short .. (m.static and "." or ":") .. m.name
  local sig = m.fun and escape(m.name) .. ": " .. self:typeHtml(m.fun, up) or
    escape(call .. "(" .. table.concat(params, ", ") .. ")")
  local rets = {}
  for _, r in ipairs(e.returns or {}) do rets[#rets + 1] = self:typeHtml(r.type, up) end
  if #rets > 0 then sig = sig .. " &rarr; " .. table.concat(rets, ", ") end
  local out = { '<section class="member" id="' .. escape(m.name) .. '">', "<h3><code>" .. sig .. "</code>" ..
    (e.async and ' <span class="tag">async</span>' or "") .. "</h3>" }
  if e.deprecated then out[#out + 1] = '<p class="deprecated">Deprecated: ' .. md.inline(e.deprecated,
    self:ctx(up)) .. "</p>" end
  out[#out + 1] = "<p>" .. md.inline(m.desc or "", self:ctx(up)) .. "</p>"
  if #(e.params or {}) > 0 then
    out[#out + 1] = "<dl>"
    for _, p in ipairs(e.params) do
      out[#out + 1] = "<dt><code>" .. escape(p.name) .. "</code> " .. self:typeHtml(p.type, up) .. "</dt><dd>" ..
        md.inline(p.desc or "", self:ctx(up)) .. "</dd>"
    end
    out[#out + 1] = "</dl>"
  end
  for _, r in ipairs(e.returns or {}) do
    out[#out + 1] = "<p>Returns " .. self:typeHtml(r.type, up) .. (r.desc ~= "" and (": " .. md.inline(r.desc,
      self:ctx(up))) or "") .. "</p>"
  end
  for _, r in ipairs(e.raises or {}) do out[#out + 1] = '<p class="raises">' .. md.inline(r, self:ctx(up)) ..
    "</p>" end
  for _, s in ipairs(e.see or {}) do
    out[#out + 1] = "<p>See " .. self:typeHtml(s, up) .. "</p>"
  end
  out[#out + 1] = "</section>"
  self:index({ n = m.name, t = owner .. (m.static and "." or ":") .. m.name, u = self.current .. "#" .. m.name,
    k = "method", d = m.desc or "" })
  return table.concat(out, "\n")
end

function Site:classPage(name)
  local def, item = self.db.defs[name], self.db.classes[name]
  local path = "classes/" .. fileName(name) .. ".html"
  self.current = path
  local up, short = "../", name:gsub("^discord%.", "")
  local c = self:members(name)
  local body = { "<h1>" .. escape(name) .. "</h1>", "<p>" .. md.inline(def and def.desc or "", self:ctx(up))
    .. "</p>" }
  local parent = (def and def.parent) or (item and reader.parentOf(item.cls) and
    reader.className(self.db, reader.parentOf(item.cls)))
  if parent then body[#body + 1] = "<p>Extends " .. self:typeHtml(parent, up) .. "</p>" end
  local subs = {}
  for other, d in pairs(self.db.defs) do
    if d.kind == "class" and d.parent == name then subs[#subs + 1] = other end
  end
  table.sort(subs)
  if #subs > 0 then body[#body + 1] = "<p>Extended by " .. self:typeHtml(table.concat(subs, ", "), up) .. "</p>" end
  if #c.fields > 0 then
    body[#body + 1] = '<h2 id="fields">Fields</h2><div class="table"><table>'
    for _, f in ipairs(c.fields) do
      body[#body + 1] = '<tr id="' .. escape(f.name) .. '"><td><code>' .. escape(f.name) .. "</code></td><td>" ..
        self:typeHtml(f.type, up) .. "</td><td>" .. md.inline(f.desc or "", self:ctx(up)) .. "</td></tr>"
      self:index({ n = f.name, t = name .. "." .. f.name, u = path .. "#" .. f.name, k = "field", d = f.desc or "" })
    end
    body[#body + 1] = "</table></div>"
  end
  if #c.methods > 0 then
    body[#body + 1] = '<h2 id="methods">Methods</h2>'
    for _, m in ipairs(c.methods) do body[#body + 1] = self:methodHtml(name, m, up, short:sub(1, 1):lower() ..
      short:sub(2)) end
  end
  local inherited, ancestor = {}, parent
  while ancestor and self.kinds[ancestor] == "class" do
    local names = {}
    for id in pairs(self:memberIds(ancestor)) do names[#names + 1] = id end
    table.sort(names)
    for i, id in ipairs(names) do
      names[i] = '<a href="' .. up .. self:typeUrl(ancestor) .. "#" .. escape(id) .. '"><code>' .. escape(id) ..
        "</code></a>"
    end
    if #names > 0 then inherited[#inherited + 1] = "<p>From " .. self:typeHtml(ancestor, up) .. ": " ..
      table.concat(names, ", ") .. "</p>" end
    local d = self.db.defs[ancestor]
    ancestor = d and d.parent or (self.db.classes[ancestor] and reader.parentOf(self.db.classes[ancestor].cls) and
      reader.className(self.db, reader.parentOf(self.db.classes[ancestor].cls)))
  end
  if #inherited > 0 then body[#body + 1] = '<h2 id="inherited">Inherited</h2>' .. table.concat(inherited, "\n") end
  if #c.events > 0 then
    body[#body + 1] = '<h2 id="events">Events</h2><dl>'
    for _, ev in ipairs(c.events) do
      body[#body + 1] = '<dt id="event-' .. escape(ev.name) .. '"><code>' .. escape(ev.name) .. "</code> " ..
        self:typeHtml(ev.args, up) .. "</dt><dd>" .. md.inline(ev.desc, self:ctx(up)) .. "</dd>"
      self:index({ n = ev.name, t = name .. " event " .. ev.name, u = path .. "#event-" .. ev.name, k = "event",
        d = ev.desc })
    end
    body[#body + 1] = "</dl>"
  end
  self:index({ n = short, t = name, u = path, k = "class", d = def and def.desc or "" })
  self:page(path, name, table.concat(body, "\n"))
end

function Site:enumPage(name)
  local item, def = self.db.enums[name], self.db.defs[name]
  local path = "enums/" .. fileName(name) .. ".html"
  local rows = {}
  for k, v in pairs(item and item.value or {}) do
    if type(k) == "string" then rows[#rows + 1] = { k = k, v = v } end
  end
  table.sort(rows, function(a, b)
    if type(a.v) == type(b.v) and a.v ~= b.v then return a.v < b.v end
    return a.k < b.k
  end)
  local body = { "<h1>" .. escape(name) .. "</h1>", "<p>" .. md.inline(def and def.desc or "", self:ctx("../")) ..
    "</p>", '<div class="table"><table><tr><th>Name</th><th>Value</th></tr>' }
  for _, r in ipairs(rows) do
    body[#body + 1] = '<tr id="' .. escape(r.k) .. '"><td><code>' .. escape(r.k) .. "</code></td><td><code>" ..
      escape(tostring(r.v)) .. "</code></td></tr>"
  end
  body[#body + 1] = "</table></div>"
  self:index({ n = name:gsub("^discord%.", ""), t = name, u = path, k = "enum", d = def and def.desc or "" })
  self:page(path, name, table.concat(body, "\n"))
end

function Site:modulePage(mod, items)
  local path = "modules/" .. fileName(mod) .. ".html"
  self.current = path
  local file = self.db.files[package.searchpath(mod, package.path) or ""]
  local about = {}
  for _, l in ipairs(file and file.lines or {}) do
    local c = l:match("^%-%- (.*)")
    if not c then break end
    about[#about + 1] = c
  end
  local body = { "<h1><code>require(&quot;" .. escape(mod) .. "&quot;)</code></h1>", "<p>" ..
    md.inline(table.concat(about, " "), self:ctx("../")) .. "</p>" }
  local fns, values = {}, {}
  for _, item in ipairs(items) do
    if item.kind == "function" then
      fns[#fns + 1] = { name = item.name, desc = item.entry and item.entry.desc, entry = item.entry or {},
        static = true }
    elseif item.kind == "value" then
      values[#values + 1] = item
    end
  end
  if #values > 0 then
    body[#body + 1] = '<h2 id="values">Values</h2><div class="table"><table>'
    for _, v in ipairs(values) do
      local e = v.entry or {}
      body[#body + 1] = '<tr id="' .. escape(v.name) .. '"><td><code>' .. escape(v.name) .. "</code></td><td>" ..
        self:typeHtml(e.type or type(v.value), "../") .. "</td><td>" .. md.inline(e.desc or "", self:ctx("../"))
        .. "</td></tr>"
      self:index({ n = v.name, t = mod .. "." .. v.name, u = path .. "#" .. v.name, k = "value", d = e.desc or "" })
    end
    body[#body + 1] = "</table></div>"
  end
  if #fns > 0 then
    body[#body + 1] = '<h2 id="functions">Functions</h2>'
    for _, f in ipairs(fns) do body[#body + 1] = self:methodHtml(mod, f, "../", mod:match("[^./]+$")) end
  end
  self:index({ n = mod, t = mod, u = path, k = "module", d = table.concat(about, " ") })
  self:page(path, mod, table.concat(body, "\n"))
end

function Site:typesPage()
  local body = { "<h1>Types</h1>", "<p>Names the annotations use for values of a given shape.</p><dl>" }
  local names = {}
  for name, d in pairs(self.db.defs) do
    if d.kind == "alias" and not name:find("Event$") then names[#names + 1] = name end
  end
  table.sort(names)
  for _, name in ipairs(names) do
    local d = self.db.defs[name]
    local variants = {}
    for _, v in ipairs(d.variants) do variants[#variants + 1] = '"' .. v.value .. '"' end
    body[#body + 1] = '<dt id="' .. fileName(name) .. '"><code>' .. escape(name) .. "</code> = " ..
      self:typeHtml(d.type or table.concat(variants, "|"), "") .. "</dt><dd>" .. md.inline(d.desc or "",
      self:ctx("")) .. "</dd>"
    self:index({ n = name:gsub("^discord%.", ""), t = name, u = "types.html#" .. fileName(name), k = "type",
      d = d.desc or "" })
  end
  body[#body + 1] = "</dl>"
  self:page("types.html", "Types", table.concat(body, "\n"))
end

-- The reference's contents: every class, enum and module page.
function Site:referencePage(classes, enums, modules)
  local function list(title, id, names, url)
    local out = { '<h2 id="' .. id .. '">' .. title .. '</h2><ul class="columns">' }
    for _, n in ipairs(names) do out[#out + 1] = '<li><a href="' .. url(n) .. '">' .. escape(n) .. "</a></li>" end
    out[#out + 1] = "</ul>"
    return table.concat(out, "\n")
  end
  local body = { "<h1>Reference</h1>", '<p>Every class, enum and module of the library, read from the annotations ' ..
    'in its sources. Shapes of values are on the <a href="types.html">types</a> page.</p>',
    list("Classes", "classes", classes, function(n) return self:typeUrl(n) end),
    list("Enums", "enums", enums, function(n) return self:typeUrl(n) end),
    list("Modules", "modules", modules, function(n) return "modules/" .. fileName(n) .. ".html" end) }
  self:page("reference.html", "Reference", table.concat(body, "\n"))
end

-- Guide ----------------------------------------------------------------------------------------------------

function Site:guidePages()
  for _, g in ipairs(self.guide) do
    local path = "guide/" .. g.name .. ".html"
    local html, _, headings = md.render(g.text, self:ctx("../", "docs/lua/guide"))
    for _, h in ipairs(headings) do
      self:index({ n = h.text:gsub("`", ""), t = g.title .. (h.level > 1 and (": " .. h.text:gsub("`", "")) or ""),
        u = path .. (h.level > 1 and ("#" .. h.id) or ""), k = "guide", d = "" })
    end
    self:page(path, g.title, html)
  end
  for _, name in ipairs(DOCS) do
    local html, title, headings = md.render(self.docs[name], self:ctx("", "docs/lua"))
    for _, h in ipairs(headings) do
      self:index({ n = h.text:gsub("`", ""), t = title .. (h.level > 1 and (": " .. h.text:gsub("`", "")) or ""),
        u = name .. ".html" .. (h.level > 1 and ("#" .. h.id) or ""), k = "guide", d = "" })
    end
    self:page(name .. ".html", title, html)
  end
  for _, name in ipairs(EXAMPLES) do
    local src = reader.readFile(self.root .. "/examples/" .. name .. ".lua")
    if src then
      local about = {}
      for l in src:gmatch("[^\n]*") do
        local c = l:match("^%-%- ?(.*)")
        if not c then break end
        about[#about + 1] = c
      end
      local path = "examples/" .. name .. ".html"
      self:index({ n = name, t = "Example: " .. name .. ".lua", u = path, k = "example", d = about[1] or "" })
      self:page(path, name .. ".lua", "<h1>" .. name .. ".lua</h1><p>" .. md.inline(table.concat(about, " "),
        self:ctx("../")) .. "</p><pre><code class=\"language-lua\">" .. escape(src) .. "</code></pre>")
    end
  end
end

function Site:startPage()
  local html = md.render(self.start, self:ctx("", "docs/lua/guide"))
  local guide, examples = { '<h2 id="guide">Guide</h2><ul>' }, { '<h2 id="examples">Example bots</h2><ul>' }
  for _, g in ipairs(self.guide) do
    guide[#guide + 1] = '<li><a href="guide/' .. g.name .. '.html">' .. escape(g.title) .. "</a></li>"
  end
  for _, name in ipairs(EXAMPLES) do
    examples[#examples + 1] = '<li><a href="examples/' .. name .. '.html">' .. name .. ".lua</a></li>"
  end
  self:page("index.html", "Start", html .. "\n" .. table.concat(guide, "\n") .. "</ul>\n" ..
    table.concat(examples, "\n") .. '</ul>\n<p><a href="reference.html">The reference</a>: every class, enum and ' ..
    "module.</p>")
end

-- Entry ----------------------------------------------------------------------------------------------------

local function json(v)
  if type(v) == "table" then
    if v[1] ~= nil or next(v) == nil then
      local out = {}
      for i, x in ipairs(v) do out[i] = json(x) end
      return "[" .. table.concat(out, ",\n") .. "]"
    end
    local keys, out = {}, {}
    for k in pairs(v) do keys[#keys + 1] = k end
    table.sort(keys)
    for _, k in ipairs(keys) do out[#out + 1] = json(k) .. ":" .. json(v[k]) end
    return "{" .. table.concat(out, ",") .. "}"
  end
  return '"' .. tostring(v):gsub('[%c"\\<]', function(c) return ("\\u%04x"):format(c:byte()) end) .. '"'
end

--- Builds the site of `db` (reader.walk's result) into `out`; the guide, the pages beside it and the example
--- bots come from the repository the generator is in, so that --root can show another copy of the library.
function M.write(db, out)
  local here = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
  local root = here .. "/../.."
  local self = setmetatable({ db = db, out = out, root = root, pages = {}, search = {}, kinds = {}, byClass = {},
    guide = {}, docs = {} }, Site)
  for name, d in pairs(db.defs) do self.kinds[name] = d.kind end
  for name in pairs(db.classes) do self.kinds[name] = "class" end
  for name in pairs(db.enums) do self.kinds[name] = "enum" end
  for _, item in ipairs(db.items) do
    if item.class and not item.private then
      self.byClass[item.class] = self.byClass[item.class] or {}
      table.insert(self.byClass[item.class], item)
    end
  end
  local dir = root .. "/docs/lua/guide/"
  self.start = assert(reader.readFile(dir .. "index.md"), "docs/lua/guide/index.md is missing")
  for _, name in ipairs(GUIDE) do
    local text = assert(reader.readFile(dir .. name .. ".md"), "docs/lua/guide/" .. name .. ".md is missing")
    local title = text:match("^#%s+([^\n]+)"):gsub("`", "")
    local short = text:match("<!%-%- nav: (.-) %-%->") or title
    self.guide[#self.guide + 1] = { name = name, text = text, title = title, short = short }
  end
  for _, name in ipairs(DOCS) do
    self.docs[name] = assert(reader.readFile(root .. "/docs/lua/" .. name .. ".md"), "docs/lua/" .. name .. ".md")
  end
  for _, sub in ipairs({ "", "/guide", "/examples", "/classes", "/enums", "/modules" }) do
    os.execute("mkdir -p '" .. out .. sub .. "'")
  end
  local classes, enums, modules, byModule = {}, {}, {}, {}
  for name, kind in pairs(self.kinds) do
    if kind == "class" then
      classes[#classes + 1] = name
    elseif kind == "enum" then
      enums[#enums + 1] = name
    end
  end
  for _, item in ipairs(db.items) do
    if item.module and not item.private and (item.kind == "function" or item.kind == "value") then
      if not byModule[item.module] then
        byModule[item.module] = {}
        modules[#modules + 1] = item.module
      end
      table.insert(byModule[item.module], item)
    end
  end
  table.sort(classes)
  table.sort(enums)
  table.sort(modules)
  self:startPage()
  self:guidePages()
  for _, name in ipairs(classes) do self:classPage(name) end
  for _, name in ipairs(enums) do self:enumPage(name) end
  for _, mod in ipairs(modules) do self:modulePage(mod, byModule[mod]) end
  self:typesPage()
  self:referencePage(classes, enums, modules)
  write(out .. "/search-index.js", "window.SEARCH_INDEX = " .. json(self.search) .. ";\n")
  for _, asset in ipairs({ "style.css", "search.js" }) do write(out .. "/" .. asset, reader.readFile(here .. "/" ..
    asset)) end
  print(("site: %d pages, %d search entries in %s"):format(#self.pages, #self.search, out))
end

return M
