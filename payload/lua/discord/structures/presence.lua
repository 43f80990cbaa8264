-- Presences: a user's status per client and their activities.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

local ActivityType = { Playing = 0, Streaming = 1, Listening = 2, Watching = 3, Custom = 4, Competing = 5 }
--- Kinds of activity: Playing 0, Streaming 1, Listening 2, Watching 3, Custom 4, Competing 5 (`enums.ActivityType`).
---@type table<string, integer>
M.ActivityType = ActivityType
local TYPE_NAMES = util.invert(ActivityType)

-- Activity --------------------------------------------------------------------------------------------------

local Activity = util.class("Activity")
Activity.__fields = 4
M.Activity = Activity

local ACTIVITY_FIELDS = {
  name = "name", url = "url", details = "details", state = "state", application_id = "applicationId",
  party = "party", assets = "assets", buttons = "buttons", sync_id = "syncId", session_id = "sessionId",
}

local copyActivityFields = Base._copier(ACTIVITY_FIELDS)

--- `Activity(data, presence)`: `data` as the gateway sends it.
---@private
---@param data table
---@param presence? discord.Presence
function Activity:init(data, presence)
  self.presence = presence
  self.type = data.type or 0
  copyActivityFields(self, data)
  local ts = util.nullable(data.timestamps)
  self.timestamps = ts and { start = util.nullable(ts.start), ["end"] = util.nullable(ts["end"]) } or nil
  self.createdTimestamp = data.created_at
  local e = util.nullable(data.emoji)
  self.emoji = e and require("discord.structures.reaction").ReactionEmoji(e) or nil
  if data.flags ~= nil then self.flags = require("discord.bitfield").ActivityFlagsBitField(data.flags):freeze() end
end

--- The type's name: "Playing", "Streaming", "Listening", "Watching", "Custom" or "Competing" (read-only).
---@return string? typeName
Activity.getters.typeName = function(self) return TYPE_NAMES[self.type] end

--- Whether `other` has the same type, name, url, state and details.
---@param other? discord.Activity
---@return boolean equal
function Activity:equals(other)
  return other ~= nil and other.type == self.type and other.name == self.name and other.url == self.url
    and other.state == self.state and other.details == self.details
end

--- "Playing Chess"; a custom status shows its text (also what tostring gives).
---@return string text
function Activity:toString()
  if self.type == ActivityType.Custom then return self.state or self.name or "" end
  return (TYPE_NAMES[self.type] or "") .. " " .. (self.name or "")
end
Activity.__tostring = Activity.toString

--- The gateway form of an activity given as a name or `{name=, type=, url=, state=}`.
M.activityData = require("discord.ws").activityData

-- Presence --------------------------------------------------------------------------------------------------

local Presence = util.class("Presence", Base)
Presence.__fields = 6
M.Presence = Presence

--- `Presence(client, data, guild)`: `data` as PRESENCE_UPDATE carries it.
---@private
---@param client discord.Client
---@param data table
---@param guild? discord.Guild
function Presence:init(client, data, guild)
  Base.init(self, client)
  self.guild = guild
  self.userId = data.user and data.user.id
  self.status = "offline"
  self:_patch(data)
  if rawget(self, "clientStatus") == nil then self.clientStatus = {} end
  if rawget(self, "activities") == nil then self.activities = {} end
end

function Presence:_patch(data)
  if data.status ~= nil then self.status = data.status end
  -- Kept as the payload gives it (the statuses by platform): one table fewer an event.
  if data.client_status ~= nil then self.clientStatus = util.nullable(data.client_status) or {} end
  local list = data.activities
  if list ~= nil then
    local activities = {}
    for i, a in ipairs(list) do activities[i] = Activity(a, self) end
    self.activities = activities
  end
  return self
end

--- The user's ID (read-only).
---@return discord.Snowflake id
Presence.getters.id = function(self) return self.userId end
--- The user, when cached (read-only).
---@return discord.User? user
Presence.getters.user = function(self) return self.client.users.cache:get(self.userId) end
--- The guild member, when cached (read-only).
---@return discord.GuildMember? member
Presence.getters.member = function(self)
  return self.guild and self.guild.members.cache:get(self.userId) or nil
end

--- Whether `other` has the same status, client statuses and activities.
---@param other? discord.Presence
---@return boolean equal
function Presence:equals(other)
  if other == nil or other.status ~= self.status or #other.activities ~= #self.activities then return false end
  for i, a in ipairs(self.activities) do
    if not a:equals(other.activities[i]) then return false end
  end
  local a, b = self.clientStatus, other.clientStatus
  return a.desktop == b.desktop and a.mobile == b.mobile and a.web == b.web
end

--- Plain table: userId, guildId, status, clientStatus and the activities.
---@return table json
function Presence:toJSON()
  return { userId = self.userId, guildId = self.guild and self.guild.id, status = self.status,
    clientStatus = self.clientStatus, activities = json.array(util.map(self.activities, function(a)
      return { name = a.name, type = a.type, url = a.url, state = a.state, details = a.details }
    end)) }
end

return M
