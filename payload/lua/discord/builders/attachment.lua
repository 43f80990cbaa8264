-- Files to upload (AttachmentBuilder) and the multipart/form-data body that carries them with the
-- JSON payload: a `payload_json` part, then one `files[n]` part per file.
local runtime = require("runtime")
local json = require("json")
local util = require("discord.util")
local errors = require("discord.errors")

local M = {}

local Limits = require("discord.constants").Limits

-- Content types by file extension; anything else goes as application/octet-stream.
local TYPES = {
  png = "image/png", jpg = "image/jpeg", jpeg = "image/jpeg", gif = "image/gif", webp = "image/webp",
  avif = "image/avif", svg = "image/svg+xml", bmp = "image/bmp",
  mp4 = "video/mp4", webm = "video/webm", mov = "video/quicktime", mkv = "video/x-matroska",
  mp3 = "audio/mpeg", ogg = "audio/ogg", opus = "audio/ogg", wav = "audio/wav", flac = "audio/flac",
  m4a = "audio/mp4",
  txt = "text/plain", md = "text/markdown", csv = "text/csv", log = "text/plain", html = "text/html",
  json = "application/json", lua = "text/x-lua", xml = "application/xml", pdf = "application/pdf",
  zip = "application/zip", gz = "application/gzip",
}
--- Content types by file extension, used when a file's bytes do not tell.
---@type table<string, string>
M.ContentTypes = TYPES

-- Magic numbers win over a missing or misleading extension.
local SIGNATURES = {
  { "\x89PNG\r\n\x1a\n", "image/png" }, { "\xff\xd8\xff", "image/jpeg" }, { "GIF8", "image/gif" },
  { "OggS", "audio/ogg" }, { "%PDF-", "application/pdf" }, { "ID3", "audio/mpeg" },
}

--- The content type for a file name and its bytes (signature first, then the extension).
---@param name string|nil
---@param data string|nil
---@return string
function M.contentTypeOf(name, data)
  if type(data) == "string" then
    for _, sig in ipairs(SIGNATURES) do
      if data:sub(1, #sig[1]) == sig[1] then return sig[2] end
    end
    if data:sub(1, 4) == "RIFF" and data:sub(9, 12) == "WEBP" then return "image/webp" end
  end
  local ext = type(name) == "string" and name:match("%.([%w]+)$")
  return ext and TYPES[ext:lower()] or "application/octet-stream"
end

local function invalid(what, expected)
  error(errors.LibraryError("InvalidOption", what, expected), 3)
end

local function checkName(name)
  if type(name) ~= "string" or name == "" then invalid("name", "a non-empty file name") end
  if name:find("[/\\%z]") then invalid("name", "a file name without path separators") end
end

-- AttachmentBuilder ------------------------------------------------------------------------------------

---@type discord.AttachmentBuilder
local AttachmentBuilder = util.class("AttachmentBuilder")
M.AttachmentBuilder = AttachmentBuilder

local SPOILER = "SPOILER_"

--- A file held in memory (`AttachmentBuilder(bytes, data)`); `AttachmentBuilder.fromFile` reads one from disk.
--- Raises `discord.LibraryError` InvalidOption for bytes that are not a string or a bad option.
---@param attachment? string The file's bytes.
---@param data? table Options: name, description, title, spoiler, contentType, duration (s), waveform.
function AttachmentBuilder:init(attachment, data)
  data = data or {}
  if attachment ~= nil and type(attachment) ~= "string" then invalid("attachment", "the file's bytes as a string") end
  self.attachment = attachment
  self.name = nil
  self.description = data.description
  self.title = data.title
  self.contentType = data.contentType
  self.duration = data.duration
  self.waveform = data.waveform
  if data.name ~= nil then self:setName(data.name) end
  if data.spoiler then self:setSpoiler(true) end
end

--- Reads the file at `path` through the runtime; its base name is the default name.
--- Raises `discord.LibraryError` FileUnreadable when it cannot be read, InvalidOption for a bad path.
---@async
---@param path string
---@param data? table Options as `AttachmentBuilder(bytes, data)` takes.
---@return discord.AttachmentBuilder
function AttachmentBuilder.fromFile(path, data)
  if type(path) ~= "string" or path == "" then invalid("path", "a file path") end
  local bytes, msg = runtime.read_file(path)
  if not bytes then error(errors.LibraryError("FileUnreadable", path, msg), 2) end
  local opts = {}
  for k, v in pairs(data or {}) do opts[k] = v end
  opts.name = opts.name or path:match("[^/\\]+$")
  return AttachmentBuilder(bytes, opts)
end

--- Sets the file's bytes, and its name when given.
--- Raises `discord.LibraryError` InvalidOption for bytes that are not a string or a bad name.
---@param attachment string
---@param name? string
---@return discord.AttachmentBuilder self
function AttachmentBuilder:setFile(attachment, name)
  if type(attachment) ~= "string" then invalid("attachment", "the file's bytes as a string") end
  self.attachment = attachment
  if name ~= nil then self:setName(name) end
  return self
end

--- Sets the file name Discord shows (its extension picks the preview).
--- Raises `discord.LibraryError` InvalidOption for an empty or non-string name.
---@param name string
---@return discord.AttachmentBuilder self
function AttachmentBuilder:setName(name)
  checkName(name)
  self.name = name
  return self
end

--- Sets the alt text shown for the file, at most 1024 characters; nil removes it.
--- Raises `discord.LibraryError` InvalidOption for a longer or non-string text.
---@param description string|nil
---@return discord.AttachmentBuilder self
function AttachmentBuilder:setDescription(description)
  if description ~= nil and (type(description) ~= "string" or util.utf8len(description) > 1024) then
    invalid("description", "a string of at most 1024 characters")
  end
  self.description = description
  return self
end

--- Sets the file's title; nil removes it.
--- Raises `discord.LibraryError` InvalidOption for a title that is not a string.
---@param title string|nil
---@return discord.AttachmentBuilder self
function AttachmentBuilder:setTitle(title)
  if title ~= nil and type(title) ~= "string" then invalid("title", "a string") end
  self.title = title
  return self
end

--- Sets a voice message's length in seconds.
--- Raises `discord.LibraryError` InvalidOption for a negative or non-number value.
---@param seconds number
---@return discord.AttachmentBuilder self
function AttachmentBuilder:setDuration(seconds)
  if type(seconds) ~= "number" or seconds < 0 then invalid("duration", "a non-negative number of seconds") end
  self.duration = seconds
  return self
end

--- Sets a voice message's waveform (base64).
--- Raises `discord.LibraryError` InvalidOption for a waveform that is not a string.
---@param waveform string
---@return discord.AttachmentBuilder self
function AttachmentBuilder:setWaveform(waveform)
  if type(waveform) ~= "string" then invalid("waveform", "a base64 string") end
  self.waveform = waveform
  return self
end

--- Marks the file as a spoiler (true by default), which Discord blurs; it renames it to SPOILER_<name>.
---@param spoiler? boolean
---@return discord.AttachmentBuilder self
function AttachmentBuilder:setSpoiler(spoiler)
  local name = self.name or "file"
  if spoiler == false then
    if util.startsWith(name, SPOILER) then self.name = name:sub(#SPOILER + 1) end
  elseif not util.startsWith(name, SPOILER) then
    self.name = SPOILER .. name
  end
  return self
end

--- Whether the file is marked as a spoiler.
---@return boolean
AttachmentBuilder.getters.spoiler = function(self)
  return self.name ~= nil and util.startsWith(self.name, SPOILER)
end

--- The file as the request builder takes it: {name=, data=, contentType=, ...}; `index` is its 1-based place.
--- Raises `discord.LibraryError` InvalidOption when no bytes were set.
---@param index? integer
---@return table
function AttachmentBuilder:toFile(index)
  if self.attachment == nil then invalid("attachment", "set before sending") end
  local name = self.name or ("file" .. tostring(index or 1))
  return {
    name = name, data = self.attachment, description = self.description, title = self.title,
    contentType = self.contentType or M.contentTypeOf(name, self.attachment), duration = self.duration,
    waveform = self.waveform, index = index,
  }
end

--- The `attachments` entry of the payload.
---@return table
function AttachmentBuilder:toJSON()
  return { filename = self.name, description = self.description, title = self.title,
    duration_secs = self.duration, waveform = self.waveform }
end

-- Resolving what the user gave -----------------------------------------------------------------------------

--- A file of a message's `files` as {name=, data=, ...}: a builder, a path, a received Attachment or a table.
--- Raises `discord.LibraryError` InvalidOption for anything else, FileUnreadable when it cannot be read.
---@async
---@param f discord.AttachmentBuilder|string|discord.Attachment|{name?: string, data?: string, path?: string}
---@param index integer 1-based place in the message.
---@return table
function M.resolveFile(f, index)
  if util.instanceOf(f, AttachmentBuilder) then return f:toFile(index) end
  if type(f) == "string" then return AttachmentBuilder.fromFile(f):toFile(index) end
  if type(f) ~= "table" then invalid("files[" .. index .. "]", "an AttachmentBuilder, a path or {name=, data=}") end
  local data = f.data or f.attachment
  local name = f.name
  if data == nil and f.path then
    local b = AttachmentBuilder.fromFile(f.path, { name = name })
    data, name = b.attachment, b.name
  end
  if data == nil and util.className(f) == "Attachment" and f.url then
    local res = require("http").request({ url = f.url, timeout_ms = 30000 })
    if not res or res.status ~= 200 then error(errors.LibraryError("FileUnreadable", f.url, "download failed"), 2) end
    data = res.body
  end
  if type(data) ~= "string" then invalid("files[" .. index .. "]", "a file with its bytes (data=)") end
  local b = AttachmentBuilder(data, { name = name or ("file" .. index), description = f.description,
    title = f.title, contentType = f.contentType, spoiler = f.spoiler, duration = f.duration, waveform = f.waveform })
  return b:toFile(index)
end

--- Resolves a message's list of files; at most 10.
--- Raises `discord.LibraryError` InvalidOption for more than 10 or a bad file, FileUnreadable as resolveFile.
---@async
---@param list? table[]
---@return table[]
function M.resolveFiles(list)
  local out = {}
  if list == nil then return out end
  if type(list) ~= "table" then invalid("files", "an array") end
  if #list > Limits.MessageFiles then invalid("files", "at most " .. Limits.MessageFiles .. " files") end
  for i, f in ipairs(list) do out[i] = M.resolveFile(f, i) end
  return out
end

-- multipart/form-data --------------------------------------------------------------------------------------

-- Quotes and line breaks in a file name would end the header early.
local function quoteName(name)
  return (name:gsub('[\r\n"]', { ["\r"] = "%0D", ["\n"] = "%0A", ['"'] = "%22" }))
end

local function newBoundary(parts)
  while true do
    local raw = runtime.random_bytes(16)
    local b = "tarnwick-" .. raw:gsub(".", function(c) return string.format("%02x", c:byte()) end)
    local clash = false
    for _, p in ipairs(parts) do
      if p:find(b, 1, true) then clash = true break end
    end
    if not clash then return b end
  end
end

--- The body and Content-Type of a request with files: `payload` goes first as payload_json, then `files[n]`.
---@param files table[] Resolved files.
---@param payload? table JSON payload.
---@param boundary? string Fixed boundary, for tests.
---@return string body
---@return string contentType
function M.encodeMultipart(files, payload, boundary)
  local parts, heads = {}, {}
  if payload ~= nil then
    heads[#heads + 1] = 'Content-Disposition: form-data; name="payload_json"\r\nContent-Type: application/json'
    parts[#parts + 1] = type(payload) == "string" and payload or json.encode(payload)
  end
  for i, f in ipairs(files) do
    if type(f.data) ~= "string" then invalid("files[" .. i .. "]", "a file with its bytes") end
    local name = f.name or ("file" .. i)
    local n = (f.index or i) - 1
    -- A route that takes one file names its own field (`field`); messages number theirs.
    heads[#heads + 1] = string.format('Content-Disposition: form-data; name="%s"; filename="%s"\r\n'
      .. "Content-Type: %s", f.field or ("files[" .. n .. "]"), quoteName(name),
      f.contentType or M.contentTypeOf(name, f.data))
    parts[#parts + 1] = f.data
  end
  if boundary ~= nil then
    for _, p in ipairs(parts) do
      if p:find(boundary, 1, true) then error("encodeMultipart: the boundary occurs in a part", 2) end
    end
  else
    boundary = newBoundary(parts)
  end
  local out = {}
  for i, p in ipairs(parts) do
    out[#out + 1] = "--" .. boundary .. "\r\n" .. heads[i] .. "\r\n\r\n"
    out[#out + 1] = p
    out[#out + 1] = "\r\n"
  end
  out[#out + 1] = "--" .. boundary .. "--\r\n"
  return table.concat(out), "multipart/form-data; boundary=" .. boundary
end

util.provide("attachments", M)

return M
