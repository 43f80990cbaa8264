-- Markdown and mention syntax of Discord messages, and escaping of user text.
local constants = require("discord.constants")

local F = {}

local function id(v)
  if type(v) == "table" then v = v.id end
  if type(v) == "number" then v = string.format("%d", v) end
  if type(v) ~= "string" then error("formatters: expected an ID or an object with an id", 3) end
  return v
end

--- The mention "<@id>" of a user or member.
--- Raises a string error when `user` is neither an ID nor an object with an id.
---@param user discord.UserResolvable|integer
---@return string
function F.userMention(user) return "<@" .. id(user) .. ">" end
--- The mention "<#id>" of a channel.
--- Raises a string error when `channel` is neither an ID nor an object with an id.
---@param channel discord.ChannelResolvable|integer
---@return string
function F.channelMention(channel) return "<#" .. id(channel) .. ">" end
--- The mention "<@&id>" of a role.
--- Raises a string error when `role` is neither an ID nor an object with an id.
---@param role discord.Role|discord.Snowflake|integer
---@return string
function F.roleMention(role) return "<@&" .. id(role) .. ">" end

--- A clickable command mention: (name, id), (name, sub, id) or (name, group, sub, id).
--- Raises a string error when the last argument is not an ID or object.
---@param name string Command name.
---@param a any Subcommand group, subcommand or command ID.
---@param b? any Subcommand or command ID.
---@param c? any Command ID.
---@return string
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

--- "<:name:id>" or "<a:name:id>" of a custom emoji; the name defaults to "_", which the client accepts.
--- Raises a string error when `emojiId` is neither an ID nor an object with an id.
---@param emojiId discord.Snowflake|table An ID, or an emoji with id, name, animated.
---@param animated? boolean
---@param name? string
---@return string
function F.formatEmoji(emojiId, animated, name)
  if type(emojiId) == "table" then
    animated = emojiId.animated
    name = emojiId.name
  end
  return "<" .. (animated and "a" or "") .. ":" .. (name or "_") .. ":" .. id(emojiId) .. ">"
end

--- Styles of `time`: short or long time or date, date and time, or relative ("in 5 minutes").
---@enum discord.TimestampStyles
F.TimestampStyles = {
  ShortTime = "t", LongTime = "T", ShortDate = "d", LongDate = "D", ShortDateTime = "f", LongDateTime = "F",
  RelativeTime = "R",
}

local STYLE_LETTERS = { t = true, T = true, d = true, D = true, f = true, F = true, R = true }

--- "<t:seconds[:style]>", a time each reader sees in their own zone, from Unix milliseconds.
--- Raises a string error for a time that is not a number or an unknown style.
---@param ms number Unix milliseconds.
---@param style? string A style letter ("t", "R", ...) or a key of `TimestampStyles`.
---@return string
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

--- The text as **bold**.
---@param s string
---@return string
function F.bold(s) return "**" .. s .. "**" end
--- The text as _italic_.
---@param s string
---@return string
function F.italic(s) return "_" .. s .. "_" end
--- The text as __underlined__.
---@param s string
---@return string
function F.underline(s) return "__" .. s .. "__" end
--- The text as ~~struck through~~.
---@param s string
---@return string
function F.strikethrough(s) return "~~" .. s .. "~~" end
--- The text as ||hidden until clicked||.
---@param s string
---@return string
function F.spoiler(s) return "||" .. s .. "||" end
--- The text as a one-line quote ("> ").
---@param s string
---@return string
function F.quote(s) return "> " .. s end
--- The text as a quote of everything after it (">>> ").
---@param s string
---@return string
function F.blockQuote(s) return ">>> " .. s end
--- The text as small grey subtext ("-# ").
---@param s string
---@return string
function F.subtext(s) return "-# " .. s end
--- "<url>": a link Discord shows without an embed.
---@param url string
---@return string
function F.hideLinkEmbed(url) return "<" .. url .. ">" end

--- "# text" up to "### text".
--- Raises a string error for a level other than 1, 2 or 3.
---@param s string
---@param level? integer 1 (default) to 3.
---@return string
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

--- A "- " list; nested tables become indented sub-lists.
---@param items any[]
---@return string
function F.unorderedList(items) return list(items, "-", 0) end
--- A numbered list; nested tables become indented sub-lists.
---@param items any[]
---@return string
function F.orderedList(items) return list(items, "1", 0) end

--- Inline code; text holding backticks is fenced with double backticks.
---@param s string
---@return string
function F.inlineCode(s)
  if s:find("`", 1, true) then return "`` " .. s .. " ``" end
  return "`" .. s .. "`"
end

--- A fenced code block: codeBlock(text) or codeBlock(language, text).
---@param lang string Language, or the text when `content` is nil.
---@param content? string
---@return string
function F.codeBlock(lang, content)
  if content == nil then
    content, lang = lang, ""
  end
  return "```" .. lang .. "\n" .. content .. "\n```"
end

--- "[text](url)" or "[text](url \"title\")".
---@param text string
---@param url string
---@param title? string
---@return string
function F.hyperlink(text, url, title)
  if title then return "[" .. text .. "](" .. url .. ' "' .. title .. '")' end
  return "[" .. text .. "](" .. url .. ")"
end

--- Link to a channel in the Discord client ("@me" without a guild).
--- Raises a string error when `channelId` is neither an ID nor an object with an id.
---@param channelId discord.ChannelResolvable
---@param guildId? discord.Snowflake|discord.Guild
---@return string
function F.channelLink(channelId, guildId)
  return constants.MessageURL .. "/" .. (guildId and id(guildId) or "@me") .. "/" .. id(channelId)
end

--- Link to a message in the Discord client.
--- Raises a string error when `messageId` is neither an ID nor an object with an id.
---@param channelId discord.ChannelResolvable
---@param messageId discord.Snowflake|discord.Message
---@param guildId? discord.Snowflake|discord.Guild
---@return string
function F.messageLink(channelId, messageId, guildId)
  return F.channelLink(channelId, guildId) .. "/" .. id(messageId)
end

-- Escaping -----------------------------------------------------------------------------------------------

-- Each rule escapes one kind of markup; escapeMarkdown applies those not switched off.
local ESCAPERS = {
  --- Escapes code block fences (```) only. Exported as `escapeCodeBlock`.
  ---@param s string
  ---@return string
  codeBlock = function(s) return (s:gsub("```", "\\`\\`\\`")) end,
  --- Escapes backticks only. Exported as `escapeInlineCode`.
  ---@param s string
  ---@return string
  inlineCode = function(s) return (s:gsub("`", "\\`")) end,
  --- Escapes ** (bold) only. Exported as `escapeBold`.
  ---@param s string
  ---@return string
  bold = function(s) return (s:gsub("%*%*", "\\*\\*")) end,
  --- Escapes every * and _ (italic, and so bold and underline). Exported as `escapeItalic`.
  ---@param s string
  ---@return string
  italic = function(s)
    s = s:gsub("%*", function() return "\\*" end)
    return (s:gsub("_", "\\_"))
  end,
  --- Escapes __ (underline) only. Exported as `escapeUnderline`.
  ---@param s string
  ---@return string
  underline = function(s) return (s:gsub("__", "\\_\\_")) end,
  --- Escapes ~~ (strikethrough) only. Exported as `escapeStrikethrough`.
  ---@param s string
  ---@return string
  strikethrough = function(s) return (s:gsub("~~", "\\~\\~")) end,
  --- Escapes || (spoiler) only. Exported as `escapeSpoiler`.
  ---@param s string
  ---@return string
  spoiler = function(s) return (s:gsub("||", "\\|\\|")) end,
  --- Escapes # at line starts (headings) only. Exported as `escapeHeading`.
  ---@param s string
  ---@return string
  heading = function(s) return (s:gsub("^( *)(#+ )", "%1\\%2"):gsub("\n( *)(#+ )", "\n%1\\%2")) end,
  --- Escapes - and * at line starts (lists) only. Exported as `escapeBulletedList`.
  ---@param s string
  ---@return string
  bulletedList = function(s) return (s:gsub("^( *)([-*] )", "%1\\%2"):gsub("\n( *)([-*] )", "\n%1\\%2")) end,
  --- Escapes "1. " at line starts (numbered lists) only. Exported as `escapeNumberedList`.
  ---@param s string
  ---@return string
  numberedList = function(s) return (s:gsub("^( *)(%d+)%. ", "%1%2\\. "):gsub("\n( *)(%d+)%. ", "\n%1%2\\. ")) end,
  --- Escapes [text]( (masked links) only. Exported as `escapeMaskedLink`.
  ---@param s string
  ---@return string
  maskedLink = function(s) return (s:gsub("%[([^%]]*)%]%(", "\\[%1\\](")) end,
  --- Escapes > at line starts (quotes) only. Exported as `escapeQuote`.
  ---@param s string
  ---@return string
  quote = function(s) return (s:gsub("^( *)>", "%1\\>"):gsub("\n( *)>", "\n%1\\>")) end,
}

local LINE_RULES = { "strikethrough", "spoiler", "heading", "bulletedList", "numberedList", "maskedLink", "quote" }

--- Escapes Discord markdown in user text; `opts.<rule> = false` keeps that kind, e.g. {codeBlock = false}.
---@param s string
---@param opts? table<string, boolean> Rules: codeBlock, inlineCode, bold, italic, underline, spoiler, quote, ...
---@return string
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

--- Defuses @everyone, @here and <@...> by inserting a zero-width space after "@".
---@param s string
---@return string
function F.escapeMentions(s)
  s = s:gsub("@(everyone)", "@\u{200B}%1"):gsub("@(here)", "@\u{200B}%1")
  return (s:gsub("<@([!&]?%d+)>", "<@\u{200B}%1>"))
end

return F
