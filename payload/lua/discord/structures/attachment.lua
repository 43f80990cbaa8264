-- A file attached to a received message.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

local Attachment = util.class("Attachment", Base)
M.Attachment = Attachment

local FIELDS = {
  filename = "name",
  title = "title",
  description = "description",
  content_type = "contentType",
  size = "size",
  url = "url",
  proxy_url = "proxyURL",
  height = "height",
  width = "width",
  ephemeral = "ephemeral",
  duration_secs = "duration",
  waveform = "waveform",
  placeholder = "placeholder",
  placeholder_version = "placeholderVersion",
}

--- `Attachment(client, data)` from a message's attachment object.
---@private
---@param client discord.Client
---@param data table
function Attachment:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self:_patch(data)
end

-- Clips name the application and the users they show.
local NESTED = { application = "application" }

function Attachment:_patch(data)
  self:_copy(data, FIELDS)
  self:_copyNested(data, NESTED)
  if data.clip_created_at ~= nil then
    self.clipCreatedTimestamp = util.parseTimestamp(util.nullable(data.clip_created_at))
  end
  if type(data.clip_participants) == "table" then
    self.clipParticipants = util.map(data.clip_participants, function(u) return self.client.users:_add(u) end)
  end
  self:_flags(data, "flags", "AttachmentFlagsBitField")
  return self
end

--- Whether the file name starts with SPOILER_, which Discord hides (read-only).
---@return boolean spoiler
Attachment.getters.spoiler = function(self)
  return self.name ~= nil and util.startsWith(self.name, "SPOILER_")
end

--- Whether it is an image or video (they carry their size) (read-only).
---@return boolean isMedia
Attachment.getters.isMedia = function(self)
  return self.width ~= nil and self.height ~= nil
end

return M
