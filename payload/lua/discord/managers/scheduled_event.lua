-- A guild's scheduled events: fetch (with subscriber counts), create, edit, delete and subscribers.
local util = require("discord.util")
local json = require("json")
local base = require("discord.managers.base")

local M = {}

--- A guild's scheduled events (`guild.scheduledEvents`): fetch, create, edit, delete, subscribers, exceptions.
---@class discord.GuildScheduledEventManager: discord.ResourceManager
---@field guild discord.Guild The guild.
local GuildScheduledEventManager = util.class("GuildScheduledEventManager", base.ResourceManager)
M.GuildScheduledEventManager = GuildScheduledEventManager

--- Made by the guild.
---@private
---@param guild discord.Guild
---@param iterable? table[]
function GuildScheduledEventManager:init(guild, iterable)
  self.guild = guild
  base.ResourceManager.init(self, guild.client, require("discord.structures.scheduled_event").GuildScheduledEvent,
    "/guilds/" .. guild.id .. "/scheduled-events", guild, iterable)
end

local enums = require("discord.enums")

local function enumValue(enum, v)
  if type(v) == "string" then return enum[v] end
  return v
end

local function time(v)
  if v == false then return json.null end
  if math.type(v) == "integer" then return util.isoTimestamp(v) end
  return v
end

local RECURRENCE = { frequency = "frequency", interval = "interval", byWeekday = "by_weekday",
  byNWeekday = "by_n_weekday", byMonth = "by_month", byMonthDay = "by_month_day", count = "count" }

local function recurrenceBody(r)
  if r == false then return json.null end
  local out = base.bodyOf(r, RECURRENCE)
  out.start = time(r.startTimestamp or r.start)
  if r.endTimestamp then out["end"] = time(r.endTimestamp) end
  for _, k in ipairs({ "by_weekday", "by_month", "by_month_day" }) do
    if type(out[k]) == "table" then out[k] = json.array(out[k]) end
  end
  if type(out.by_n_weekday) == "table" then out.by_n_weekday = json.array(out.by_n_weekday) end
  return out
end

local function eventBody(self, opts)
  local body = base.bodyOf(opts, { name = "name", description = "description" })
  if opts.scheduledStartTime ~= nil then body.scheduled_start_time = time(opts.scheduledStartTime) end
  if opts.scheduledEndTime ~= nil then body.scheduled_end_time = time(opts.scheduledEndTime) end
  if opts.privacyLevel ~= nil then
    body.privacy_level = enumValue(enums.GuildScheduledEventPrivacyLevel, opts.privacyLevel)
  end
  if opts.entityType ~= nil then body.entity_type = enumValue(enums.GuildScheduledEventEntityType, opts.entityType) end
  if opts.status ~= nil then body.status = enumValue(enums.GuildScheduledEventStatus, opts.status) end
  if opts.channel == false then
    body.channel_id = json.null
  elseif opts.channel ~= nil then
    body.channel_id = self.client.channels:resolveId(opts.channel)
  end
  if opts.location ~= nil then body.entity_metadata = { location = opts.location } end
  if opts.entityMetadata ~= nil then body.entity_metadata = { location = opts.entityMetadata.location } end
  if opts.image ~= nil then body.image = opts.image == false and json.null or util.imageData(opts.image) end
  if opts.recurrenceRule ~= nil then body.recurrence_rule = recurrenceBody(opts.recurrenceRule) end
  return body
end

--- Options of `GuildScheduledEventManager:create` and `:edit`; enum values may be given by name.
---@class discord.ScheduledEventOptions
---@field name? string Needed to create.
---@field scheduledStartTime? integer|string Unix ms or ISO text (needed to create).
---@field scheduledEndTime? integer|string|false Unix ms or ISO text (needed for external events).
---@field privacyLevel? integer|string discord.GuildScheduledEventPrivacyLevel (GuildOnly).
---@field entityType? integer|string discord.GuildScheduledEventEntityType (needed to create).
---@field status? integer|string discord.GuildScheduledEventStatus (edit: start, end or cancel).
---@field channel? discord.ChannelResolvable|false The stage or voice channel; false clears it.
---@field location? string Where an external event takes place.
---@field entityMetadata? {location?: string} Where an external event takes place (or `location`).
---@field description? string The event's description.
---@field image? discord.ImageSource|false The cover image; false removes it.
---@field recurrenceRule? table|false {startTimestamp=, frequency=, interval=, byWeekday=, ...}; false clears it.
---@field reason? string Audit log reason.
local External = enums.GuildScheduledEventEntityType.External

--- Creates an event.
--- Raises an error for missing name, start, type, channel or location; `discord.DiscordAPIError` when refused.
---@async
---@param opts discord.ScheduledEventOptions
---@return discord.GuildScheduledEvent event
function GuildScheduledEventManager:create(opts)
  opts = opts or {}
  if type(opts.name) ~= "string" or opts.scheduledStartTime == nil or opts.entityType == nil then
    error("GuildScheduledEventManager:create: name, scheduledStartTime and entityType are needed", 2)
  end
  local body = eventBody(self, opts)
  body.privacy_level = body.privacy_level or enums.GuildScheduledEventPrivacyLevel.GuildOnly
  if body.entity_type == External and (body.entity_metadata == nil or body.scheduled_end_time == nil) then
    error("GuildScheduledEventManager:create: external events need a location and an end time", 2)
  end
  if body.entity_type ~= External and body.channel_id == nil then
    error("GuildScheduledEventManager:create: stage and voice events need a channel", 2)
  end
  return self:_create(body, opts.reason)
end

--- Edits an event (also starts, ends or cancels it through `status`).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param event any The event or its ID.
---@param opts discord.ScheduledEventOptions
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.GuildScheduledEvent event
function GuildScheduledEventManager:edit(event, opts, reason)
  opts = opts or {}
  return self:_edit(event, eventBody(self, opts), base.reasonOf(opts, reason))
end

--- One event or all of them, with subscriber counts unless `withUserCount` is false.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id? any The event or its ID; absent fetches all.
---@param opts? {withUserCount?: boolean, force?: boolean, cache?: boolean}
---@return discord.GuildScheduledEvent|discord.Collection result
function GuildScheduledEventManager:fetch(id, opts)
  if type(id) == "table" and self:resolveId(id) == nil then id, opts = nil, id end
  opts = opts or {}
  local query = { with_user_count = opts.withUserCount ~= false and "true" or nil }
  if id ~= nil then
    local key = self:_need(id, "fetch")
    if not opts.force then
      local hit = self.cache:get(key)
      if hit then return hit end
    end
    return self:_add(self.client.rest:get(self:_path(key), { query = query }), opts.cache ~= false)
  end
  return self:_addAll(self.client.rest:get(self:_path(), { query = query }), opts.cache, true)
end

local function exceptionId(x) return type(x) == "table" and x.id or tostring(x) end

--- Options of `GuildScheduledEventManager:createException` and `:editException` (times in Unix ms or ISO).
---@class discord.ScheduledEventExceptionOptions
---@field originalScheduledStartTime? integer|string Which occurrence (to create).
---@field scheduledStartTime? integer|string|false The occurrence's new start.
---@field scheduledEndTime? integer|string|false The occurrence's new end; false clears it.
---@field isCanceled? boolean Whether the occurrence is canceled.
local function exceptionBody(opts)
  local body = { is_canceled = opts.isCanceled }
  for key, field in pairs({ scheduledStartTime = "scheduled_start_time", scheduledEndTime = "scheduled_end_time",
    originalScheduledStartTime = "original_scheduled_start_time" }) do
    local v = opts[key]
    if v == false then body[field] = json.null elseif v ~= nil then
      body[field] = type(v) == "number" and util.isoTimestamp(v) or v
    end
  end
  return body
end

--- Subscribers of an event (or of one exception of a recurring event), by user ID: {user=, member=}.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param event any The event or its ID.
---@param opts? {limit?: integer, before?: any, after?: any, withMember?: boolean, exception?: any} limit <= 100.
---@return discord.Collection subscribers Tables {guildScheduledEventId=, user=, member=} by user ID.
function GuildScheduledEventManager:fetchSubscribers(event, opts)
  opts = opts or {}
  local id = self:_need(event, "fetchSubscribers")
  local route = opts.exception and ("/" .. exceptionId(opts.exception) .. "/users") or "/users"
  local list = self.client.rest:get(self:_path(id) .. route, { query = {
    limit = opts.limit or 100, before = opts.before and self.client.users:resolveId(opts.before) or nil,
    after = opts.after and self.client.users:resolveId(opts.after) or nil,
    with_member = opts.withMember and "true" or nil } })
  local out = require("discord.collection").Collection()
  for _, s in ipairs(list) do
    local user = self.client.users:_add(s.user)
    local member
    if type(s.member) == "table" then
      local m = util.shallowCopy(s.member)
      m.user = m.user or s.user
      member = self.guild.members:_add(m)
    end
    out:set(user.id, { guildScheduledEventId = id, user = user, member = member })
  end
  return out
end

--- Moves or cancels one occurrence of a recurring event; returns Discord's exception as sent.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param event any The event or its ID.
---@param opts discord.ScheduledEventExceptionOptions
---@param reason? string Audit log reason.
---@return table exception
function GuildScheduledEventManager:createException(event, opts, reason)
  local id = self:_need(event, "createException")
  return self.client.rest:post(self:_path(id) .. "/exceptions", { body = exceptionBody(opts or {}), reason = reason })
end

--- Changes an exception of a recurring event; returns Discord's exception as sent.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param event any The event or its ID.
---@param exception any The exception or its ID.
---@param opts discord.ScheduledEventExceptionOptions
---@param reason? string Audit log reason.
---@return table exception
function GuildScheduledEventManager:editException(event, exception, opts, reason)
  local id = self:_need(event, "editException")
  return self.client.rest:patch(self:_path(id) .. "/exceptions/" .. exceptionId(exception),
    { body = exceptionBody(opts or {}), reason = reason })
end

--- Drops an exception: the occurrence follows the event again.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param event any The event or its ID.
---@param exception any The exception or its ID.
---@param reason? string Audit log reason.
function GuildScheduledEventManager:deleteException(event, exception, reason)
  local id = self:_need(event, "deleteException")
  self.client.rest:delete(self:_path(id) .. "/exceptions/" .. exceptionId(exception), { reason = reason })
end

--- Subscriber counts of an event, as Discord sends them ({user_count=, ...}).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param event any The event or its ID.
---@param opts? {exceptions?: any[]} Counts for these exceptions too.
---@return table counts
function GuildScheduledEventManager:fetchSubscriberCount(event, opts)
  local id = self:_need(event, "fetchSubscriberCount")
  local ids = opts and opts.exceptions and util.map(opts.exceptions, exceptionId) or nil
  return self.client.rest:get(self:_path(id) .. "/users/counts", { query = {
    guild_scheduled_event_exception_ids = ids } })
end

-- Gateway events -----------------------------------------------------------------------------------------

base.guildResource("scheduledEvents", { "GUILD_SCHEDULED_EVENT_CREATE", "GUILD_SCHEDULED_EVENT_UPDATE",
  "GUILD_SCHEDULED_EVENT_DELETE", "guildScheduledEventCreate", "guildScheduledEventUpdate",
  "guildScheduledEventDelete" })

local function scheduledEventUser(event)
  return function(client, packet)
    local d = packet.d
    local guild = base.guildOf(client, d)
    if not guild then return end
    local P = base.partials()
    local ev = guild.scheduledEvents.cache:get(d.guild_scheduled_event_id)
    local user = client.users.cache:get(d.user_id)
    if (not ev or not user) and not P.enabled(client, "GuildScheduledEvent") then return end
    ev = ev or guild.scheduledEvents:_add({ id = d.guild_scheduled_event_id, guild_id = guild.id }, false)
    client:emit(event, ev, user or P.user(client, d.user_id) or { id = d.user_id })
  end
end
base.handlers.GUILD_SCHEDULED_EVENT_USER_ADD = scheduledEventUser("guildScheduledEventUserAdd")
base.handlers.GUILD_SCHEDULED_EVENT_USER_REMOVE = scheduledEventUser("guildScheduledEventUserRemove")

return M
