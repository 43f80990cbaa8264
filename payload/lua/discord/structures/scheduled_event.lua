-- A guild's scheduled event: when and where, its status changes, recurrence and subscribers.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

--- A guild's scheduled event: when and where, its status, recurrence and subscribers.
---@class discord.GuildScheduledEvent: discord.Base
---@field id discord.Snowflake The event's ID.
---@field guild discord.Guild The guild it belongs to.
---@field guildId discord.Snowflake The ID of the guild it belongs to.
---@field channelId discord.Snowflake? The stage or voice channel; nil for external events.
---@field creatorId discord.Snowflake? Who made it.
---@field creator discord.User? Who made it, when known.
---@field name string The event's name.
---@field description string? The event's description.
---@field privacyLevel integer discord.GuildScheduledEventPrivacyLevel.
---@field status integer discord.GuildScheduledEventStatus: Scheduled, Active, Completed, Canceled.
---@field entityType integer discord.GuildScheduledEventEntityType: StageInstance, Voice, External.
---@field entityId discord.Snowflake? The ID of the entity tied to the event.
---@field entityMetadata {location: string?}? Where an external event takes place.
---@field userCount integer? Subscribers (when fetched with counts).
---@field image string? The cover image hash.
---@field scheduledStartTimestamp discord.Milliseconds? When it starts.
---@field scheduledEndTimestamp discord.Milliseconds? When it ends (needed for external events).
---@field recurrenceRule table? {startTimestamp, endTimestamp, frequency, interval, byWeekday, ...}.
---@field channel discord.GuildChannel? The event's channel, when cached (read-only).
---@field createdTimestamp discord.Milliseconds (read-only).
---@field url string The event's link (read-only).
local GuildScheduledEvent = util.class("GuildScheduledEvent", Base)
M.GuildScheduledEvent = GuildScheduledEvent

local FIELDS = {
  guild_id = "guildId", channel_id = "channelId", creator_id = "creatorId", name = "name",
  description = "description", privacy_level = "privacyLevel", status = "status", entity_type = "entityType",
  entity_id = "entityId", user_count = "userCount", image = "image",
}

--- Recurrence rule in the library's names; times are Unix ms.
---@private
---@param r table|nil
---@return table? rule
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
---@private
---@param client discord.Client
---@param data table
---@param guild discord.Guild
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
  --- Whether the status is Active (`isActive`), Scheduled, Completed or Canceled (`isCanceled`).
  ---@return boolean is
  GuildScheduledEvent[name] = function(self) return self.status == Status[value] end
end

--- The cover image address, nil when it has none.
---@param opts? {size?: integer, extension?: string}
---@return string? url
function GuildScheduledEvent:coverImageURL(opts)
  return self.image and require("discord.cdn").guildScheduledEventCover(self.id, self.image, opts) or nil
end

local function events(self) return self.guild.scheduledEvents end

--- Edits the event (also starts, ends or cancels it through `status`).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.ScheduledEventOptions
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.GuildScheduledEvent event
function GuildScheduledEvent:edit(opts, reason) return events(self):edit(self, opts, reason) end
--- Renames the event.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param name string
---@param reason? string Audit log reason.
---@return discord.GuildScheduledEvent event
function GuildScheduledEvent:setName(name, reason) return self:edit({ name = name }, reason) end
--- Starts, ends or cancels the event.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param status integer|string discord.GuildScheduledEventStatus value or name.
---@param reason? string Audit log reason.
---@return discord.GuildScheduledEvent event
function GuildScheduledEvent:setStatus(status, reason) return self:edit({ status = status }, reason) end
--- Changes where an external event takes place.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param location string
---@param reason? string Audit log reason.
---@return discord.GuildScheduledEvent event
function GuildScheduledEvent:setLocation(location, reason) return self:edit({ location = location }, reason) end
--- Moves the start.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param ms integer|string Unix ms or ISO text.
---@param reason? string Audit log reason.
---@return discord.GuildScheduledEvent event
function GuildScheduledEvent:setScheduledStartTime(ms, reason) return self:edit({ scheduledStartTime = ms }, reason) end
--- Moves the end.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param ms integer|string Unix ms or ISO text.
---@param reason? string Audit log reason.
---@return discord.GuildScheduledEvent event
function GuildScheduledEvent:setScheduledEndTime(ms, reason) return self:edit({ scheduledEndTime = ms }, reason) end

--- Deletes the event; returns it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.GuildScheduledEvent event
function GuildScheduledEvent:delete()
  events(self):delete(self)
  return self
end

--- The users who subscribed, by user ID: {user=, member=}.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? {limit?: integer, before?: any, after?: any, withMember?: boolean}
---@return discord.Collection subscribers
function GuildScheduledEvent:fetchSubscribers(opts)
  return events(self):fetchSubscribers(self, opts)
end

--- Makes an invite to the event through a channel (its own, `opts.channel`, or the system channel).
--- Raises an error when there is no channel; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? discord.InviteCreateOptions Plus `channel`.
---@return string url The invite link with `?event=` the event's ID.
function GuildScheduledEvent:createInviteURL(opts)
  opts = opts or {}
  local channel = opts.channel or self.channelId or self.guild.systemChannelId
  if channel == nil then error("GuildScheduledEvent:createInviteURL: no channel to invite through", 2) end
  local invite = self.guild.invites:create(channel, opts)
  return invite.url .. "?event=" .. self.id
end

--- Plain table of the event's fields, without the guild.
---@return table json
function GuildScheduledEvent:toJSON()
  local out = Base.toJSON(self)
  out.guild = nil
  return out
end

return M
