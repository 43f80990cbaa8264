-- A guild's scheduled event: when and where, its status changes, recurrence and subscribers.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

local GuildScheduledEvent = util.class("GuildScheduledEvent", Base)
M.GuildScheduledEvent = GuildScheduledEvent

local FIELDS = {
  guild_id = "guildId", channel_id = "channelId", creator_id = "creatorId", name = "name",
  description = "description", privacy_level = "privacyLevel", status = "status", entity_type = "entityType",
  entity_id = "entityId", user_count = "userCount", image = "image",
}

--- Recurrence rule in the library's names; times are Unix ms.
local function recurrenceOf(r)
  if r == nil or r == json.null then return nil end
  return {
    startTimestamp = util.parseTimestamp(r.start), endTimestamp = util.parseTimestamp(util.nullable(r["end"])),
    frequency = r.frequency, interval = r.interval, byWeekday = util.nullable(r.by_weekday),
    byNWeekday = util.nullable(r.by_n_weekday), byMonth = util.nullable(r.by_month),
    byMonthDay = util.nullable(r.by_month_day), byYearDay = util.nullable(r.by_year_day),
    count = util.nullable(r.count),
  }
end
M.recurrenceOf = recurrenceOf

--- `GuildScheduledEvent(client, data, guild)`.
function GuildScheduledEvent:init(client, data, guild)
  Base.init(self, client)
  self.guild = guild
  self.id = data.id
  self:_patch(data)
end

function GuildScheduledEvent:_patch(data)
  self:_copy(data, FIELDS)
  if data.scheduled_start_time ~= nil then
    self.scheduledStartTimestamp = util.parseTimestamp(util.nullable(data.scheduled_start_time))
  end
  if data.scheduled_end_time ~= nil then
    self.scheduledEndTimestamp = util.parseTimestamp(util.nullable(data.scheduled_end_time))
  end
  if data.entity_metadata ~= nil then
    local md = util.nullable(data.entity_metadata)
    self.entityMetadata = md and { location = md.location } or nil
  end
  if type(data.creator) == "table" then self.creator = self.client.users:_add(data.creator) end
  if data.recurrence_rule ~= nil then self.recurrenceRule = recurrenceOf(data.recurrence_rule) end
  return self
end

local Status = require("discord.enums").GuildScheduledEventStatus

GuildScheduledEvent.getters.channel = function(self)
  return self.channelId and self.client.channels.cache:get(self.channelId) or nil
end
GuildScheduledEvent.getters.createdTimestamp = function(self) return require("discord.snowflake").timestamp(self.id) end
GuildScheduledEvent.getters.url = function(self)
  return "https://discord.com/events/" .. self.guild.id .. "/" .. self.id
end
for name, value in pairs({ isActive = "Active", isScheduled = "Scheduled", isCompleted = "Completed",
  isCanceled = "Canceled" }) do
  GuildScheduledEvent[name] = function(self) return self.status == Status[value] end
end

function GuildScheduledEvent:coverImageURL(opts)
  return self.image and require("discord.cdn").guildScheduledEventCover(self.id, self.image, opts) or nil
end

local function events(self) return self.guild.scheduledEvents end

--- (B) Edits the event; `opts` as for GuildScheduledEventManager:create, plus status.
function GuildScheduledEvent:edit(opts, reason) return events(self):edit(self, opts, reason) end
function GuildScheduledEvent:setName(name, reason) return self:edit({ name = name }, reason) end
function GuildScheduledEvent:setStatus(status, reason) return self:edit({ status = status }, reason) end
function GuildScheduledEvent:setLocation(location, reason) return self:edit({ location = location }, reason) end
function GuildScheduledEvent:setScheduledStartTime(ms, reason) return self:edit({ scheduledStartTime = ms }, reason) end
function GuildScheduledEvent:setScheduledEndTime(ms, reason) return self:edit({ scheduledEndTime = ms }, reason) end

--- (B) Deletes the event.
function GuildScheduledEvent:delete()
  events(self):delete(self)
  return self
end

--- (B) The users who subscribed: {limit=, before=, after=, withMember=}.
function GuildScheduledEvent:fetchSubscribers(opts)
  return events(self):fetchSubscribers(self, opts)
end

--- (B) An invite to the event through a channel (its own, or `opts.channel`).
function GuildScheduledEvent:createInviteURL(opts)
  opts = opts or {}
  local channel = opts.channel or self.channelId or self.guild.systemChannelId
  if channel == nil then error("GuildScheduledEvent:createInviteURL: no channel to invite through", 2) end
  local invite = self.guild.invites:create(channel, opts)
  return invite.url .. "?event=" .. self.id
end

function GuildScheduledEvent:toJSON()
  local out = Base.toJSON(self)
  out.guild = nil
  return out
end

return M
