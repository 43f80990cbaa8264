-- Markdown and mention syntax of Discord messages, and escaping of user text.
local constants = require("discord.constants")

local F = {}

local function id(v)
  if type(v) == "table" then v = v.id end
  if type(v) == "number" then v = string.format("%d", v) end
  if type(v) ~= "string" then error("formatters: expected an ID or an object with an id", 3) end
  return v
end

function F.userMention(user) return "<@" .. id(user) .. ">" end
function F.channelMention(channel) return "<#" .. id(channel) .. ">" end
function F.roleMention(role) return "<@&" .. id(role) .. ">" end

--- "</name sub:id>", "</name group sub:id>" or "</name:id>".
function F.chatInputApplicationCommandMention(name, a, b, c)
  local parts = { name }
  local cmdId
  if c ~= nil then
    parts[2], parts[3], cmdId = a, b, c
  elseif b ~= nil then
    parts[2], cmdId = a, b
  else
    cmdId = a
  end
  return "</" .. table.concat(parts, " ") .. ":" .. id(cmdId) .. ">"
end

--- "<:name:id>" or "<a:name:id>"; the name defaults to "_", which the client accepts.
function F.formatEmoji(emojiId, animated, name)
  if type(emojiId) == "table" then
    animated = emojiId.animated
    name = emojiId.name
  end
  return "<" .. (animated and "a" or "") .. ":" .. (name or "_") .. ":" .. id(emojiId) .. ">"
end

F.TimestampStyles = {
  ShortTime = "t", LongTime = "T", ShortDate = "d", LongDate = "D", ShortDateTime = "f", LongDateTime = "F",
  RelativeTime = "R",
}

local STYLE_LETTERS = { t = true, T = true, d = true, D = true, f = true, F = true, R = true }

--- "<t:seconds[:style]>" from Unix milliseconds (the library's unit for times).
function F.time(ms, style)
  ms = math.tointeger(ms) or (type(ms) == "number" and math.floor(ms))
  if not ms then error("formatters.time: expected Unix milliseconds", 2) end
  if style ~= nil and not STYLE_LETTERS[style] then
    style = F.TimestampStyles[style]
    if not style then error("formatters.time: unknown style", 2) end
  end
  local secs = ms // 1000
  if style then return string.format("<t:%d:%s>", secs, style) end
  return string.format("<t:%d>", secs)
end

function F.bold(s) return "**" .. s .. "**" end
function F.italic(s) return "_" .. s .. "_" end
function F.underline(s) return "__" .. s .. "__" end
function F.strikethrough(s) return "~~" .. s .. "~~" end
function F.spoiler(s) return "||" .. s .. "||" end
function F.quote(s) return "> " .. s end
function F.blockQuote(s) return ">>> " .. s end
function F.subtext(s) return "-# " .. s end
function F.hideLinkEmbed(url) return "<" .. url .. ">" end

--- "# text" up to "### text".
function F.heading(s, level)
  level = level or 1
  if level < 1 or level > 3 then error("formatters.heading: level must be 1, 2 or 3", 2) end
  return string.rep("#", level) .. " " .. s
end

local function list(items, marker, indent)
  local out = {}
  for i, item in ipairs(items) do
    if type(item) == "table" then
      out[#out + 1] = list(item, marker, indent + 1)
    else
      local m = marker == "-" and "-" or (tostring(i) .. ".")
      out[#out + 1] = string.rep("  ", indent) .. m .. " " .. tostring(item)
    end
  end
  return table.concat(out, "\n")
end

--- Nested tables become indented sub-lists.
function F.unorderedList(items) return list(items, "-", 0) end
function F.orderedList(items) return list(items, "1", 0) end

--- Inline code; text holding backticks is fenced with double backticks.
function F.inlineCode(s)
  if s:find("`", 1, true) then return "`` " .. s .. " ``" end
  return "`" .. s .. "`"
end

--- codeBlock(text) or codeBlock(language, text).
function F.codeBlock(lang, content)
  if content == nil then
    content, lang = lang, ""
  end
  return "```" .. lang .. "\n" .. content .. "\n```"
end

--- "[text](url)" or "[text](url "title")".
function F.hyperlink(text, url, title)
  if title then return "[" .. text .. "](" .. url .. ' "' .. title .. '")' end
  return "[" .. text .. "](" .. url .. ")"
end

function F.channelLink(channelId, guildId)
  return constants.MessageURL .. "/" .. (guildId and id(guildId) or "@me") .. "/" .. id(channelId)
end

function F.messageLink(channelId, messageId, guildId)
  return F.channelLink(channelId, guildId) .. "/" .. id(messageId)
end

-- Escaping -----------------------------------------------------------------------------------------------

-- Each rule escapes one kind of markup; escapeMarkdown applies those not switched off.
local ESCAPERS = {
  codeBlock = function(s) return (s:gsub("```", "\\`\\`\\`")) end,
  inlineCode = function(s) return (s:gsub("`", "\\`")) end,
  bold = function(s) return (s:gsub("%*%*", "\\*\\*")) end,
  italic = function(s)
    s = s:gsub("%*", function() return "\\*" end)
    return (s:gsub("_", "\\_"))
  end,
  underline = function(s) return (s:gsub("__", "\\_\\_")) end,
  strikethrough = function(s) return (s:gsub("~~", "\\~\\~")) end,
  spoiler = function(s) return (s:gsub("||", "\\|\\|")) end,
  heading = function(s) return (s:gsub("^( *)(#+ )", "%1\\%2"):gsub("\n( *)(#+ )", "\n%1\\%2")) end,
  bulletedList = function(s) return (s:gsub("^( *)([-*] )", "%1\\%2"):gsub("\n( *)([-*] )", "\n%1\\%2")) end,
  numberedList = function(s) return (s:gsub("^( *)(%d+)%. ", "%1%2\\. "):gsub("\n( *)(%d+)%. ", "\n%1%2\\. ")) end,
  maskedLink = function(s) return (s:gsub("%[([^%]]*)%]%(", "\\[%1\\](")) end,
  quote = function(s) return (s:gsub("^( *)>", "%1\\>"):gsub("\n( *)>", "\n%1\\>")) end,
}

local LINE_RULES = { "strikethrough", "spoiler", "heading", "bulletedList", "numberedList", "maskedLink", "quote" }

--- Escapes Discord markdown. `opts.<rule> = false` keeps that kind of markup, e.g. {codeBlock = false}.
function F.escapeMarkdown(s, opts)
  opts = opts or {}
  -- Escaping every backtick covers code blocks, and escaping every * and _ covers bold and underline.
  if opts.inlineCode ~= false then
    s = ESCAPERS.inlineCode(s)
  elseif opts.codeBlock ~= false then
    s = ESCAPERS.codeBlock(s)
  end
  if opts.italic ~= false then
    s = ESCAPERS.italic(s)
  else
    if opts.bold ~= false then s = ESCAPERS.bold(s) end
    if opts.underline ~= false then s = ESCAPERS.underline(s) end
  end
  for _, rule in ipairs(LINE_RULES) do
    if opts[rule] ~= false then s = ESCAPERS[rule](s) end
  end
  return s
end

for name, fn in pairs(ESCAPERS) do
  F["escape" .. name:sub(1, 1):upper() .. name:sub(2)] = fn
end

--- Removes mentions' power by inserting a zero-width space after "@" in @everyone, @here and <@...>.
function F.escapeMentions(s)
  s = s:gsub("@(everyone)", "@\u{200B}%1"):gsub("@(here)", "@\u{200B}%1")
  return (s:gsub("<@([!&]?%d+)>", "<@\u{200B}%1>"))
end

return F
