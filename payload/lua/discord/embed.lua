-- Embeds: the received Embed and the EmbedBuilder that checks Discord's limits.
local util = require("discord.util")
local json = require("json")

local M = {}

-- Discord's limits in characters (code points), and at most 10 embeds per message.
local L = require("discord.constants").Limits
local Limits = {
  title = L.EmbedTitle,
  description = L.EmbedDescription,
  fields = L.EmbedFields,
  fieldName = L.EmbedFieldName,
  fieldValue = L.EmbedFieldValue,
  footerText = L.EmbedFooterText,
  authorName = L.EmbedAuthorName,
  total = L.EmbedTotal,
  perMessage = L.MessageEmbeds,
}
--- Discord's embed limits in characters (code points), and `perMessage`, the most embeds per message.
---@type table<string, integer>
M.Limits = Limits

local function nullable(v)
  if v == json.null then return nil end
  return v
end

local function len(s)
  if s == nil or s == json.null then return 0 end
  return util.utf8len(s)
end

--- Characters that count towards the 6000 limit: title, description, fields, footer text, author name.
---@param data table Embed in API form.
---@return integer
local function embedLength(data)
  local n = len(data.title) + len(data.description)
  for _, f in ipairs(data.fields or {}) do n = n + len(f.name) + len(f.value) end
  if type(data.footer) == "table" then n = n + len(data.footer.text) end
  if type(data.author) == "table" then n = n + len(data.author.name) end
  return n
end
M.embedLength = embedLength

-- Embed ---------------------------------------------------------------------------------------------------

-- An embed as received; `data` keeps the API form. Fields read in camelCase.
---@type discord.Embed
local Embed = util.class("Embed")
M.Embed = Embed

--- Wraps a received embed (`Embed(data)`); `data` keeps the API form.
---@param data? table Embed in API form.
function Embed:init(data)
  self.data = data or {}
end

local function media(part)
  if type(part) ~= "table" then return nil end
  return {
    url = nullable(part.url),
    proxyURL = nullable(part.proxy_url),
    width = nullable(part.width),
    height = nullable(part.height),
  }
end

--- The title.
---@return string|nil
Embed.getters.title = function(self) return nullable(self.data.title) end
--- The embed type: "rich", "image", "video", "link", ....
---@return string|nil
Embed.getters.type = function(self) return nullable(self.data.type) end
--- The description.
---@return string|nil
Embed.getters.description = function(self) return nullable(self.data.description) end
--- The URL the title links to.
---@return string|nil
Embed.getters.url = function(self) return nullable(self.data.url) end
--- The colour as an integer.
---@return integer|nil
Embed.getters.color = function(self) return nullable(self.data.color) end
--- The embed's flags as Discord sent them.
---@return integer|nil
Embed.getters.flags = function(self) return nullable(self.data.flags) end
--- The timestamp as Discord sent it (ISO 8601).
---@return string|nil
Embed.getters.timestamp = function(self) return nullable(self.data.timestamp) end
--- The timestamp in Unix milliseconds.
---@return discord.Milliseconds|nil
Embed.getters.createdTimestamp = function(self) return util.parseTimestamp(self.data.timestamp) end
--- The image: {url, proxyURL, width, height}.
---@return table|nil
Embed.getters.image = function(self) return media(self.data.image) end
--- The thumbnail: {url, proxyURL, width, height}.
---@return table|nil
Embed.getters.thumbnail = function(self) return media(self.data.thumbnail) end
--- The video: {url, proxyURL, width, height}.
---@return table|nil
Embed.getters.video = function(self) return media(self.data.video) end
--- Characters that count towards the 6000 limit.
---@return integer
Embed.getters.length = function(self) return embedLength(self.data) end

--- The colour as "#rrggbb".
---@return string|nil
Embed.getters.hexColor = function(self)
  local c = nullable(self.data.color)
  if c == nil then return nil end
  return string.format("#%06x", c)
end

--- The fields, {name, value, inline} each.
---@return {name: string, value: string, inline: boolean}[]
Embed.getters.fields = function(self)
  local out = {}
  for i, f in ipairs(self.data.fields or {}) do
    out[i] = { name = f.name, value = f.value, inline = f.inline == true }
  end
  return out
end

--- The footer: {text, iconURL, proxyIconURL}.
---@return {text: string, iconURL: string|nil, proxyIconURL: string|nil}|nil
Embed.getters.footer = function(self)
  local f = self.data.footer
  if type(f) ~= "table" then return nil end
  return { text = f.text, iconURL = nullable(f.icon_url), proxyIconURL = nullable(f.proxy_icon_url) }
end

--- The author: {name, url, iconURL, proxyIconURL}.
---@return {name: string, url: string|nil, iconURL: string|nil, proxyIconURL: string|nil}|nil
Embed.getters.author = function(self)
  local a = self.data.author
  if type(a) ~= "table" then return nil end
  return { name = a.name, url = nullable(a.url), iconURL = nullable(a.icon_url),
    proxyIconURL = nullable(a.proxy_icon_url) }
end

--- The provider of a link embed: {name, url}.
---@return {name: string|nil, url: string|nil}|nil
Embed.getters.provider = function(self)
  local p = self.data.provider
  if type(p) ~= "table" then return nil end
  return { name = nullable(p.name), url = nullable(p.url) }
end

--- True when both embeds carry the same data.
---@param other discord.Embed|table An Embed or API data.
---@return boolean
function Embed:equals(other)
  local b = other
  if type(other) == "table" and other.data then b = other.data end
  return json.encode(self.data) == json.encode(b)
end

--- A copy of the embed in API form.
---@return table
function Embed:toJSON()
  return util.deepCopy(self.data)
end

-- EmbedBuilder --------------------------------------------------------------------------------------------

---@type discord.EmbedBuilder
local EmbedBuilder = util.class("EmbedBuilder")
M.EmbedBuilder = EmbedBuilder

local function checkText(what, v, limit, level)
  if type(v) ~= "string" then error("EmbedBuilder: " .. what .. " must be a string", level + 1) end
  if util.utf8len(v) > limit then
    error("EmbedBuilder: " .. what .. " is longer than " .. limit .. " characters", level + 1)
  end
  return v
end

local function checkURL(what, v, level)
  if type(v) ~= "string" or not (v:match("^https?://") or v:match("^attachment://")) then
    error("EmbedBuilder: " .. what .. " must be an http(s) or attachment:// URL", level + 1)
  end
  return v
end

local function field(f, level)
  if type(f) ~= "table" then error("EmbedBuilder: a field must be a table {name=, value=}", level + 1) end
  local name = checkText("field name", f.name, Limits.fieldName, level + 1)
  local value = checkText("field value", f.value, Limits.fieldValue, level + 1)
  if name == "" or value == "" then error("EmbedBuilder: field name and value must not be empty", level + 1) end
  return { name = name, value = value, inline = f.inline == true or nil }
end

local function fromCamel(data)
  -- Accepts API data, a received Embed, or camelCase tables as written by hand.
  if util.instanceOf(data, Embed) then data = data.data end
  local out = util.deepCopy(data)
  if type(out.footer) == "table" and out.footer.iconURL then
    out.footer.icon_url, out.footer.iconURL = out.footer.iconURL, nil
  end
  if type(out.author) == "table" and out.author.iconURL then
    out.author.icon_url, out.author.iconURL = out.author.iconURL, nil
  end
  return out
end

--- Starts a builder (`EmbedBuilder(data)`) from API data, camelCase options, a received Embed or nothing.
---@param data? table|discord.Embed
function EmbedBuilder:init(data)
  self.data = data and fromCamel(data) or {}
  if self.data.fields then self.data.fields = json.array(self.data.fields) end
end

--- A builder from API data or a received Embed; same as `EmbedBuilder(data)`.
---@param data table|discord.Embed
---@return discord.EmbedBuilder
function EmbedBuilder.from(data)
  return EmbedBuilder(data)
end

--- Sets the title (up to 256 characters); nil removes it.
--- Raises a string error for a value that is not a string or is over Discord's limit.
---@param title string|nil
---@return discord.EmbedBuilder self
function EmbedBuilder:setTitle(title)
  self.data.title = title ~= nil and checkText("title", title, Limits.title, 2) or nil
  return self
end

--- Sets the description (up to 4096 characters); nil removes it.
--- Raises a string error for a value that is not a string or is over Discord's limit.
---@param text string|nil
---@return discord.EmbedBuilder self
function EmbedBuilder:setDescription(text)
  self.data.description = text ~= nil and checkText("description", text, Limits.description, 2) or nil
  return self
end

--- Sets the URL the title links to; nil removes it.
--- Raises a string error for a URL that is not http(s) or attachment://.
---@param url string|nil
---@return discord.EmbedBuilder self
function EmbedBuilder:setURL(url)
  self.data.url = url ~= nil and checkURL("url", url, 2) or nil
  return self
end

--- Sets the timestamp: Unix milliseconds, or now without an argument; false removes it.
--- Raises a string error for a value that is not a number.
---@param ms? discord.Milliseconds|false
---@return discord.EmbedBuilder self
function EmbedBuilder:setTimestamp(ms)
  if ms == false then
    self.data.timestamp = nil
    return self
  end
  if ms == nil then ms = require("runtime").time() end
  if math.type(ms) == nil then error("EmbedBuilder: timestamp must be Unix milliseconds", 2) end
  self.data.timestamp = util.isoTimestamp(ms)
  return self
end

--- Sets the side colour; nil removes it.
--- Raises a string error for something that is not a colour.
---@param color discord.ColorResolvable|nil
---@return discord.EmbedBuilder self
function EmbedBuilder:setColor(color)
  if color == nil then
    self.data.color = nil
    return self
  end
  local ok, c = pcall(util.resolveColor, color, require("discord.constants").Colors)
  if not ok then error("EmbedBuilder: not a colour: " .. tostring(color), 2) end
  self.data.color = c
  return self
end

--- Sets the footer (text up to 2048 characters, optional icon); nil removes it.
--- Raises a string error for a value that is not a string or is over Discord's limit.
---@param opts string|{text: string, iconURL?: string}|nil
---@return discord.EmbedBuilder self
function EmbedBuilder:setFooter(opts)
  if opts == nil then
    self.data.footer = nil
    return self
  end
  if type(opts) == "string" then opts = { text = opts } end
  local footer = { text = checkText("footer text", opts.text, Limits.footerText, 2) }
  if opts.iconURL ~= nil then footer.icon_url = checkURL("footer icon URL", opts.iconURL, 2) end
  self.data.footer = footer
  return self
end

--- Sets the author line (name up to 256 characters, optional link and icon); nil removes it.
--- Raises a string error for a value that is not a string or is over Discord's limit.
---@param opts string|{name: string, url?: string, iconURL?: string}|nil
---@return discord.EmbedBuilder self
function EmbedBuilder:setAuthor(opts)
  if opts == nil then
    self.data.author = nil
    return self
  end
  if type(opts) == "string" then opts = { name = opts } end
  local author = { name = checkText("author name", opts.name, Limits.authorName, 2) }
  if opts.url ~= nil then author.url = checkURL("author URL", opts.url, 2) end
  if opts.iconURL ~= nil then author.icon_url = checkURL("author icon URL", opts.iconURL, 2) end
  self.data.author = author
  return self
end

--- Sets the large image (http(s) or attachment://name); nil removes it.
--- Raises a string error for a URL that is not http(s) or attachment://.
---@param url string|nil
---@return discord.EmbedBuilder self
function EmbedBuilder:setImage(url)
  self.data.image = url ~= nil and { url = checkURL("image URL", url, 2) } or nil
  return self
end

--- Sets the small image at the top right; nil removes it.
--- Raises a string error for a URL that is not http(s) or attachment://.
---@param url string|nil
---@return discord.EmbedBuilder self
function EmbedBuilder:setThumbnail(url)
  self.data.thumbnail = url ~= nil and { url = checkURL("thumbnail URL", url, 2) } or nil
  return self
end

--- Removes `deleteCount` fields at `index` (1-based) and inserts the given fields there.
--- Raises a string error for a bad field or more than 25 fields.
---@param index integer
---@param deleteCount integer
---@param ... {name: string, value: string, inline?: boolean}
---@return discord.EmbedBuilder self
function EmbedBuilder:spliceFields(index, deleteCount, ...)
  local fields = self.data.fields or json.array({})
  local added = table.pack(...)
  local new = {}
  for i = 1, added.n do new[i] = field(added[i], 2) end
  if #fields - math.min(deleteCount, math.max(#fields - index + 1, 0)) + #new > Limits.fields then
    error("EmbedBuilder: an embed has at most " .. Limits.fields .. " fields", 2)
  end
  for _ = 1, deleteCount do
    if fields[index] == nil then break end
    table.remove(fields, index)
  end
  for i = #new, 1, -1 do table.insert(fields, math.min(index, #fields + 1), new[i]) end
  self.data.fields = json.array(fields)
  return self
end

--- Appends fields, given one by one or as one list (at most 25 in all).
--- Raises a string error for a bad field or more than 25 fields.
---@param ... {name: string, value: string, inline?: boolean}
---@return discord.EmbedBuilder self
function EmbedBuilder:addFields(...)
  local n = self.data.fields and #self.data.fields or 0
  local args = table.pack(...)
  -- addFields({a}, {b}) and addFields({{a}, {b}}) both work.
  if args.n == 1 and type(args[1]) == "table" and args[1].name == nil and args[1][1] ~= nil then
    args = table.pack(table.unpack(args[1]))
  end
  local ok, err = pcall(self.spliceFields, self, n + 1, 0, table.unpack(args, 1, args.n))
  if not ok then error(err, 2) end
  return self
end

--- Replaces every field, given one by one or as one list.
--- Raises a string error for a bad field or more than 25 fields.
---@param ... {name: string, value: string, inline?: boolean}
---@return discord.EmbedBuilder self
function EmbedBuilder:setFields(...)
  self.data.fields = nil
  local ok, err = pcall(self.addFields, self, ...)
  if not ok then error(err, 2) end
  return self
end

--- Characters that count towards the 6000 limit.
---@return integer
EmbedBuilder.getters.length = function(self) return embedLength(self.data) end

-- Data that did not pass through the setters (a raw table, EmbedBuilder(data)) is held to the
-- same limits before it is sent.
local function checkOptionalText(what, v, limit, level)
  if v ~= nil and v ~= json.null then checkText(what, v, limit, level + 1) end
end

local function checkData(data, level)
  checkOptionalText("title", data.title, Limits.title, level + 1)
  checkOptionalText("description", data.description, Limits.description, level + 1)
  if data.url ~= nil and data.url ~= json.null then checkURL("url", data.url, level + 1) end
  local fields = data.fields
  if fields ~= nil and fields ~= json.null then
    if type(fields) ~= "table" then error("EmbedBuilder: fields must be a list", level + 1) end
    if #fields > Limits.fields then
      error("EmbedBuilder: an embed has at most " .. Limits.fields .. " fields", level + 1)
    end
    for _, f in ipairs(fields) do field(f, level + 1) end
  end
  for _, part in ipairs({ { "footer", "text", "footer text", Limits.footerText },
    { "author", "name", "author name", Limits.authorName } }) do
    local v = data[part[1]]
    if v ~= nil and v ~= json.null then
      if type(v) ~= "table" then error("EmbedBuilder: " .. part[1] .. " must be a table", level + 1) end
      checkText(part[3], v[part[2]], part[4], level + 1)
    end
  end
  for _, key in ipairs({ "image", "thumbnail" }) do
    local v = data[key]
    if v ~= nil and v ~= json.null and (type(v) ~= "table" or v.url == nil) then
      error("EmbedBuilder: " .. key .. " must be a table {url=}", level + 1)
    end
  end
end

--- The API form of the embed.
--- Raises a string error when the embed is empty, a part is over its limit or the whole over 6000.
---@return table
function EmbedBuilder:toJSON()
  checkData(self.data, 2)
  local total = embedLength(self.data)
  if total > Limits.total then
    error("EmbedBuilder: embed is " .. total .. " characters long, over the " .. Limits.total .. " limit", 2)
  end
  local out = util.deepCopy(self.data)
  if next(out) == nil then error("EmbedBuilder: an embed needs at least one part", 2) end
  return out
end

--- API form of an embed given as a builder, a received Embed or a plain table.
--- Raises a string error for anything else, or as `EmbedBuilder:toJSON` does.
---@param e discord.EmbedBuilder|discord.Embed|table
---@return table
function M.resolveEmbed(e)
  if util.instanceOf(e, EmbedBuilder) then return e:toJSON() end
  if util.instanceOf(e, Embed) then return e:toJSON() end
  if type(e) == "table" then return EmbedBuilder(e):toJSON() end
  error("not an embed: " .. tostring(e), 2)
end

return M
