-- Presences: a user's status per client and their activities.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

local ActivityType = { Playing = 0, Streaming = 1, Listening = 2, Watching = 3, Custom = 4, Competing = 5 }
M.ActivityType = ActivityType
local TYPE_NAMES = util.invert(ActivityType)

-- Activity --------------------------------------------------------------------------------------------------

local Activity = util.class("Activity")
M.Activity = Activity

local ACTIVITY_FIELDS = {
  name = "name", url = "url", details = "details", state = "state", application_id = "applicationId",
  party = "party", assets = "assets", buttons = "buttons", sync_id = "syncId", session_id = "sessionId",
}

--- `Activity(data, presence)`: `data` as the gateway sends it.
function Activity:init(data, presence)
  self.presence = presence
  self.type = data.type or 0
  for from, to in pairs(ACTIVITY_FIELDS) do self[to] = util.nullable(data[from]) end
  local ts = util.nullable(data.timestamps)
  self.timestamps = ts and { start = util.nullable(ts.start), ["end"] = util.nullable(ts["end"]) } or nil
  self.createdTimestamp = data.created_at
  local e = util.nullable(data.emoji)
  self.emoji = e and require("discord.structures.reaction").ReactionEmoji(e) or nil
  if data.flags ~= nil then self.flags = require("discord.bitfield").ActivityFlagsBitField(data.flags):freeze() end
end

Activity.getters.typeName = function(self) return TYPE_NAMES[self.type] end

function Activity:equals(other)
  return other ~= nil and other.type == self.type and other.name == self.name and other.url == self.url
    and other.state == self.state and other.details == self.details
end

--- "Playing Chess"; a custom status shows its text.
function Activity:toString()
  if self.type == ActivityType.Custom then return self.state or self.name or "" end
  return (TYPE_NAMES[self.type] or "") .. " " .. (self.name or "")
end
Activity.__tostring = Activity.toString

--- The gateway form of an activity given as a name or `{name=, type=, url=, state=}`.
M.activityData = require("discord.ws").activityData

-- Presence --------------------------------------------------------------------------------------------------

local Presence = util.class("Presence", Base)
M.Presence = Presence

--- `Presence(client, data, guild)`: `data` as PRESENCE_UPDATE carries it.
function Presence:init(client, data, guild)
  Base.init(self, client)
  self.guild = guild
  self.userId = data.user and data.user.id
  self.status = "offline"
  self.clientStatus = {}
  self.activities = {}
  self:_patch(data)
end

function Presence:_patch(data)
  if data.status ~= nil then self.status = data.status end
  if data.client_status ~= nil then
    local cs = util.nullable(data.client_status) or {}
    self.clientStatus = { desktop = cs.desktop, mobile = cs.mobile, web = cs.web }
  end
  if data.activities ~= nil then
    self.activities = util.map(data.activities, function(a) return Activity(a, self) end)
  end
  return self
end

Presence.getters.id = function(self) return self.userId end
Presence.getters.user = function(self) return self.client.users.cache:get(self.userId) end
Presence.getters.member = function(self)
  return self.guild and self.guild.members.cache:get(self.userId) or nil
end

function Presence:equals(other)
  if other == nil or other.status ~= self.status or #other.activities ~= #self.activities then return false end
  for i, a in ipairs(self.activities) do
    if not a:equals(other.activities[i]) then return false end
  end
  local a, b = self.clientStatus, other.clientStatus
  return a.desktop == b.desktop and a.mobile == b.mobile and a.web == b.web
end

function Presence:toJSON()
  return { userId = self.userId, guildId = self.guild and self.guild.id, status = self.status,
    clientStatus = self.clientStatus, activities = json.array(util.map(self.activities, function(a)
      return { name = a.name, type = a.type, url = a.url, state = a.state, details = a.details }
    end)) }
end

return M
