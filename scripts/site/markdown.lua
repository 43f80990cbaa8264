-- The Markdown the guide uses, to HTML: headings, paragraphs, lists, tables, fenced code, code spans,
-- emphasis and links. `ctx.url(target)` gives a link's address in the site (nil: plain text) and
-- `ctx.code(text)` the page a code span names (nil: none).
local M = {}

function M.escape(s)
  return (s:gsub("[&<>\"]", { ["&"] = "&amp;", ["<"] = "&lt;", [">"] = "&gt;", ['"'] = "&quot;" }))
end
local escape = M.escape

--- GitHub's anchor for a heading text.
function M.slug(text)
  text = text:gsub("`", ""):gsub("%[([^%]]*)%]%([^)]*%)", "%1"):lower()
  return (text:gsub("[!-,./:-@%[-%^`{-~]", ""):gsub(" ", "-"))
end

local function inline(s, ctx)
  local out, i = {}, 1
  while i <= #s do
    local tick = s:match("^`+", i)
    if tick then
      local j = s:find(tick, i + #tick, true)
      if j then
        local code = s:sub(i + #tick, j - 1):gsub("^ (.*) $", "%1")
        local url = ctx.code and ctx.code(code)
        local html = "<code>" .. escape(code) .. "</code>"
        out[#out + 1] = url and ('<a href="' .. escape(url) .. '">' .. html .. "</a>") or html
        i = j + #tick
        goto continue
      end
    end
    do
      local text, url, after = s:match("^%[([^%]]*)%]%(([^)%s]+)%)()", i)
      if text then
        local to = ctx.url and ctx.url(url)
        out[#out + 1] = to and ('<a href="' .. escape(to) .. '">' .. inline(text, ctx) .. "</a>") or inline(text, ctx)
        i = after
        goto continue
      end
      local stars, body, after2 = s:match("^(%*%*?)([^*]+)%1()", i)
      if stars and not body:find("^%s") then
        local tag = #stars == 2 and "strong" or "em"
        out[#out + 1] = "<" .. tag .. ">" .. inline(body, ctx) .. "</" .. tag .. ">"
        i = after2
        goto continue
      end
      local plain = s:match("^[^`%[*]+", i) or s:sub(i, i)
      out[#out + 1] = escape(plain)
      i = i + #plain
    end
    ::continue::
  end
  return table.concat(out)
end
M.inline = inline

local function cells(line)
  local out = {}
  for c in line:gsub("^%s*|", ""):gsub("|%s*$", ""):gmatch("[^|]+") do out[#out + 1] = c:match("^%s*(.-)%s*$") end
  return out
end

--- Renders `text`. Returns the HTML, the title (first heading), the headings {level, text, id} and the
--- fenced code blocks {lang, info, code, line}.
function M.render(text, ctx)
  local lines = {}
  for l in (text .. "\n"):gmatch("(.-)\n") do lines[#lines + 1] = l end
  local out, headings, blocks, title = {}, {}, {}, nil
  local para, list = {}, nil
  local function flush()
    if #para > 0 then out[#out + 1] = "<p>" .. inline(table.concat(para, " "), ctx) .. "</p>" end
    para = {}
    if list then
      out[#out + 1] = "</" .. list .. ">"
      list = nil
    end
  end
  local i = 1
  while i <= #lines do
    local l = lines[i]
    local fence, info = l:match("^(```+)%s*(.-)%s*$")
    local level, htext = l:match("^(#+)%s+(.-)%s*$")
    local bullet, item = l:match("^%s*([-*]) (.*)$")
    local num, nitem = l:match("^%s*(%d+)%. (.*)$")
    if fence then
      flush()
      local code, start = {}, i + 1
      i = i + 1
      while i <= #lines and not lines[i]:find("^" .. fence .. "%s*$") do
        code[#code + 1] = lines[i]
        i = i + 1
      end
      local lang = info:match("^%S*")
      blocks[#blocks + 1] = { lang = lang, info = info, code = table.concat(code, "\n") .. "\n", line = start }
      out[#out + 1] = '<pre><code class="language-' .. escape(lang) .. '">' .. escape(table.concat(code, "\n"))
        .. "</code></pre>"
    elseif level then
      flush()
      local id = M.slug(htext)
      headings[#headings + 1] = { level = #level, text = htext, id = id }
      title = title or htext:gsub("`", "")
      out[#out + 1] = ("<h%d id=\"%s\">%s</h%d>"):format(#level, escape(id), inline(htext, ctx), #level)
    elseif l:find("^%s*|") and (lines[i + 1] or ""):find("^%s*|[-:| ]+|%s*$") then
      flush()
      local head = cells(l)
      local rows = { "<table><thead><tr>" }
      for _, c in ipairs(head) do rows[#rows + 1] = "<th>" .. inline(c, ctx) .. "</th>" end
      rows[#rows + 1] = "</tr></thead><tbody>"
      i = i + 2
      while i <= #lines and lines[i]:find("^%s*|") do
        rows[#rows + 1] = "<tr>"
        for _, c in ipairs(cells(lines[i])) do rows[#rows + 1] = "<td>" .. inline(c, ctx) .. "</td>" end
        rows[#rows + 1] = "</tr>"
        i = i + 1
      end
      rows[#rows + 1] = "</tbody></table>"
      out[#out + 1] = '<div class="table">' .. table.concat(rows) .. "</div>"
      i = i - 1
    elseif bullet or num then
      local kind = bullet and "ul" or "ol"
      if #para > 0 or list ~= kind then flush() end
      if not list then
        out[#out + 1] = "<" .. kind .. ">"
        list = kind
      end
      local body = { bullet and item or nitem }
      -- Continuation lines are indented.
      while lines[i + 1] and lines[i + 1]:find("^%s%s+%S") and not lines[i + 1]:find("^%s*[-*] ") do
        i = i + 1
        body[#body + 1] = lines[i]:match("^%s*(.*)")
      end
      out[#out + 1] = "<li>" .. inline(table.concat(body, " "), ctx) .. "</li>"
    elseif l:find("^%s*$") or l:find("^<!%-%-.*%-%->%s*$") then
      flush()
    else
      if list then flush() end
      para[#para + 1] = l:match("^%s*(.-)%s*$")
    end
    i = i + 1
  end
  flush()
  return table.concat(out, "\n"), title, headings, blocks
end

return M
