-- A guild's audit log: the entries, what each one did to which target, its changes and reason, and the
-- users, webhooks, threads and other objects the reply brings along.
local util = require("discord.util")
local json = require("json")
local enums = require("discord.enums")
local Collection = require("discord.collection").Collection

local M = {}

local Event = enums.AuditLogEvent

-- Target type by the first action of each range of ten.
local TARGETS = {
  [0] = "Guild", [1] = "Channel", [2] = "User", [3] = "Role", [4] = "Invite", [5] = "Webhook", [6] = "Emoji",
  [7] = "Message", [8] = "Integration", [9] = "Sticker", [10] = "GuildScheduledEvent", [11] = "Thread",
  [12] = "ApplicationCommand", [13] = "SoundboardSound", [14] = "AutoModeration", [15] = "GuildOnboarding",
  [16] = "GuildOnboardingPrompt", [19] = "GuildHomeSettings",
}

local CREATE = util.set({ Event.ChannelCreate, Event.ChannelOverwriteCreate, Event.MemberBanRemove, Event.BotAdd,
  Event.RoleCreate, Event.InviteCreate, Event.WebhookCreate, Event.EmojiCreate, Event.MessagePin,
  Event.IntegrationCreate, Event.StageInstanceCreate, Event.StickerCreate, Event.GuildScheduledEventCreate,
  Event.ThreadCreate, Event.SoundboardSoundCreate, Event.AutoModerationRuleCreate, Event.OnboardingPromptCreate,
  Event.OnboardingCreate, Event.HomeSettingsCreate, Event.CreatorMonetizationRequestCreated,
  Event.VoiceChannelStatusCreate })
local DELETE = util.set({ Event.ChannelDelete, Event.ChannelOverwriteDelete, Event.MemberKick, Event.MemberPrune,
  Event.MemberBanAdd, Event.MemberDisconnect, Event.RoleDelete, Event.InviteDelete, Event.WebhookDelete,
  Event.EmojiDelete, Event.MessageDelete, Event.MessageBulkDelete, Event.MessageUnpin, Event.IntegrationDelete,
  Event.StageInstanceDelete, Event.StickerDelete, Event.GuildScheduledEventDelete, Event.ThreadDelete,
  Event.SoundboardSoundDelete, Event.AutoModerationRuleDelete, Event.OnboardingPromptDelete,
  Event.VoiceChannelStatusDelete })

-- What Auto Moderation did to a member, by the rule that triggered.
local function automodAction(action)
  return action >= Event.AutoModerationBlockMessage and action <= Event.AutoModerationQuarantineUser
end

--- "Create", "Delete", "Update" or "All" for an action number.
---@param action integer discord.AuditLogEvent value.
---@return "Create"|"Delete"|"Update"|"All" kind
function M.actionType(action)
  if CREATE[action] then return "Create" end
  if DELETE[action] then return "Delete" end
  if automodAction(action) then return "All" end
  return "Update"
end

--- The kind of object an action targets ("User", "Channel", "Role" ... or "Unknown").
---@param action integer discord.AuditLogEvent value.
---@return string kind
function M.targetType(action)
  if action == Event.MemberMove or action == Event.MemberDisconnect then return "User" end
  -- Deletes and pins name the message's author; a bulk delete names the channel.
  if action == Event.MessageDelete or action == Event.MessagePin or action == Event.MessageUnpin then return "User" end
  if action == Event.MessageBulkDelete then return "Channel" end
  if automodAction(action) then return "User" end
  if action == Event.VoiceChannelStatusCreate or action == Event.VoiceChannelStatusDelete then return "Channel" end
  if action >= 83 and action <= 85 then return "StageInstance" end
  if action == 121 then return "ApplicationCommand" end
  return TARGETS[action // 10] or "Unknown"
end

-- Entries ----------------------------------------------------------------------------------------------------

--- One entry of a guild's audit log: what was done to which target, by whom, with which changes.
---@class discord.GuildAuditLogsEntry
---@field guild discord.Guild The guild it belongs to.
---@field client discord.Client The client that fetched it.
---@field id discord.Snowflake The entry's ID.
---@field action integer discord.AuditLogEvent value.
---@field actionType "Create"|"Delete"|"Update"|"All" Create, Delete or Update by the action; All for auto moderation.
---@field targetType string "User", "Channel", "Role" ... or "Unknown".
---@field targetId discord.Snowflake? The ID of what was acted on.
---@field executorId discord.Snowflake? Who did it.
---@field reason string? The reason given, if any.
---@field changes {key: string, old: any, new: any}[] What changed: each key with its old and new value.
---@field extra table? Details by action: counts, the channel, the overwritten role or member.
---@field target any The cached object, one the reply brought, or a table of the changes.
---@field executor discord.User? Who did it, when cached (read-only).
---@field createdTimestamp discord.Milliseconds (read-only).
local GuildAuditLogsEntry = util.class("GuildAuditLogsEntry")
M.GuildAuditLogsEntry = GuildAuditLogsEntry

local function changeOf(c)
  return { key = c.key, old = c.old_value, new = c.new_value }
end

-- Extra details by action: counts, the channel, the overwritten role or member.
local function extraOf(logs, guild, action, o)
  if type(o) ~= "table" then return nil end
  if action == Event.MemberPrune then
    return { removed = tonumber(o.members_removed), days = tonumber(o.delete_member_days) }
  elseif action == Event.MemberMove or action == Event.MessageDelete or action == Event.MessageBulkDelete then
    return { channel = guild.client.channels.cache:get(o.channel_id) or { id = o.channel_id },
      count = tonumber(o.count) }
  elseif action == Event.MessagePin or action == Event.MessageUnpin then
    return { channel = guild.client.channels.cache:get(o.channel_id) or { id = o.channel_id },
      messageId = o.message_id }
  elseif action == Event.MemberDisconnect then
    return { count = tonumber(o.count) }
  elseif action >= Event.ChannelOverwriteCreate and action <= Event.ChannelOverwriteDelete then
    if o.type == "0" or o.type == 0 then return guild.roles.cache:get(o.id) or { id = o.id, name = o.role_name } end
    return guild.members.cache:get(o.id) or logs.users:get(o.id) or { id = o.id }
  elseif action == Event.VoiceChannelStatusCreate or action == Event.VoiceChannelStatusDelete then
    return { channel = guild.client.channels.cache:get(o.channel_id) or { id = o.channel_id }, status = o.status }
  elseif automodAction(action) then
    return { autoModerationRuleName = o.auto_moderation_rule_name,
      autoModerationRuleTriggerType = o.auto_moderation_rule_trigger_type,
      channel = o.channel_id and (guild.client.channels.cache:get(o.channel_id) or { id = o.channel_id }) or nil }
  elseif action == Event.ApplicationCommandPermissionUpdate then
    return { applicationId = o.application_id }
  end
  return util.shallowCopy(o)
end

-- The entry's target: the cached object, one the reply brought, or a table of the changes.
local function targetOf(logs, guild, kind, id, changes)
  local client = guild.client
  local found
  if id == nil then
    found = nil
  elseif kind == "Guild" then
    found = guild
  elseif kind == "User" then
    found = logs.users:get(id) or client.users.cache:get(id)
  elseif kind == "Channel" or kind == "Thread" then
    found = logs.threads:get(id) or client.channels.cache:get(id)
  elseif kind == "Role" then
    found = guild.roles.cache:get(id)
  elseif kind == "Webhook" then
    found = logs.webhooks:get(id)
  elseif kind == "Integration" then
    found = logs.integrations:get(id)
  elseif kind == "ApplicationCommand" then
    found = logs.applicationCommands:get(id)
  elseif kind == "AutoModeration" then
    found = logs.autoModerationRules:get(id) or guild.autoModerationRules.cache:get(id)
  elseif kind == "GuildScheduledEvent" then
    found = logs.guildScheduledEvents:get(id) or guild.scheduledEvents.cache:get(id)
  elseif kind == "Emoji" then
    found = guild.emojis.cache:get(id)
  elseif kind == "Sticker" then
    found = guild.stickers.cache:get(id)
  elseif kind == "StageInstance" then
    found = guild.stageInstances.cache:get(id)
  elseif kind == "SoundboardSound" then
    found = guild.soundboardSounds.cache:get(id)
  end
  if found then return found end
  -- Deleted objects live on only in their changes.
  local out = { id = id }
  for _, c in ipairs(changes) do
    local v = c.new
    if v == nil then v = c.old end
    out[c.key] = v
  end
  return out
end

--- `GuildAuditLogsEntry(logs, guild, data)`.
---@private
---@param logs discord.GuildAuditLogs|table
---@param guild discord.Guild
---@param data table
function GuildAuditLogsEntry:init(logs, guild, data)
  self.guild = guild
  self.client = guild.client
  self.id = data.id
  self.action = data.action_type
  self.actionType = M.actionType(self.action)
  self.targetType = M.targetType(self.action)
  self.targetId = util.nullable(data.target_id)
  self.executorId = util.nullable(data.user_id)
  self.reason = util.nullable(data.reason)
  self.changes = util.map(data.changes or {}, changeOf)
  self.extra = extraOf(logs, guild, self.action, data.options)
  self.target = targetOf(logs, guild, self.targetType, self.targetId, self.changes)
end

GuildAuditLogsEntry.getters.executor = function(self)
  return self.executorId and self.client.users.cache:get(self.executorId) or nil
end
GuildAuditLogsEntry.getters.createdTimestamp = function(self)
  return require("discord.snowflake").timestamp(self.id)
end

--- The change of one key, or nil.
---@param key string The API's name of the field, as "name" or "permissions".
---@return {key: string, old: any, new: any}? change
function GuildAuditLogsEntry:change(key)
  return util.find(self.changes, function(c) return c.key == key end)
end

--- Plain table of the entry's fields.
---@return table json
function GuildAuditLogsEntry:toJSON()
  return { id = self.id, guildId = self.guild.id, action = self.action, actionType = self.actionType,
    targetType = self.targetType, targetId = self.targetId or json.null, executorId = self.executorId or json.null,
    reason = self.reason or json.null, changes = json.array(self.changes), extra = self.extra }
end

-- The log ------------------------------------------------------------------------------------------------------

--- A page of a guild's audit log with the objects the reply brought along.
---@class discord.GuildAuditLogs
---@field guild discord.Guild The guild it belongs to.
---@field entries discord.Collection GuildAuditLogsEntries by ID, newest first.
---@field users discord.Collection Users the entries refer to, by ID.
---@field webhooks discord.Collection Webhooks the entries refer to, by ID.
---@field integrations discord.Collection Integrations the entries refer to, by ID.
---@field threads discord.Collection Threads the entries refer to, by ID.
---@field applicationCommands discord.Collection Application commands the entries refer to, by ID.
---@field autoModerationRules discord.Collection Auto moderation rules the entries refer to, by ID.
---@field guildScheduledEvents discord.Collection Scheduled events the entries refer to, by ID.
local GuildAuditLogs = util.class("GuildAuditLogs")
M.GuildAuditLogs = GuildAuditLogs

--- `GuildAuditLogs(guild, data)`: the reply of the audit log route.
---@private
---@param guild discord.Guild
---@param data table
function GuildAuditLogs:init(guild, data)
  local client = guild.client
  self.guild = guild
  self.users, self.webhooks, self.integrations = Collection(), Collection(), Collection()
  self.threads, self.applicationCommands = Collection(), Collection()
  self.autoModerationRules, self.guildScheduledEvents = Collection(), Collection()
  for _, u in ipairs(data.users or {}) do self.users:set(u.id, client.users:_add(u)) end
  local Webhook = require("discord.structures.webhook").Webhook
  for _, w in ipairs(data.webhooks or {}) do self.webhooks:set(w.id, Webhook(client, w)) end
  for _, i in ipairs(data.integrations or {}) do
    self.integrations:set(i.id, require("discord.structures.other").Integration(client, i, guild))
  end
  for _, t in ipairs(data.threads or {}) do
    self.threads:set(t.id, client.channels:_add(t, guild, { cache = false }))
  end
  local ApplicationCommand = require("discord.structures.applicationcommand").ApplicationCommand
  for _, c in ipairs(data.application_commands or {}) do
    self.applicationCommands:set(c.id, ApplicationCommand(client, c, guild))
  end
  for _, r in ipairs(data.auto_moderation_rules or {}) do
    self.autoModerationRules:set(r.id, guild.autoModerationRules:_add(r, false))
  end
  for _, e in ipairs(data.guild_scheduled_events or {}) do
    self.guildScheduledEvents:set(e.id, guild.scheduledEvents:_add(e, false))
  end
  self.entries = Collection()
  for _, e in ipairs(data.audit_log_entries or {}) do
    self.entries:set(e.id, GuildAuditLogsEntry(self, guild, e))
  end
end

--- Fetches a page of a guild's audit log (needs View Audit Log).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param guild discord.Guild
---@param opts? {type?: integer|string, user?: discord.UserResolvable, before?: any, after?: any, limit?: integer}
---@return discord.GuildAuditLogs logs
function M.fetch(guild, opts)
  opts = opts or {}
  local action = opts.type
  if type(action) == "string" then action = Event[action] end
  local query = {
    action_type = action, user_id = opts.user and guild.client.users:resolveId(opts.user) or nil,
    before = opts.before and (type(opts.before) == "table" and opts.before.id or opts.before) or nil,
    after = opts.after and (type(opts.after) == "table" and opts.after.id or opts.after) or nil,
    limit = opts.limit,
  }
  local data = guild.client.rest:get("/guilds/" .. guild.id .. "/audit-logs", { query = query })
  return GuildAuditLogs(guild, data)
end

--- The entry of an AUDIT_LOG_ENTRY_CREATE event.
---@private
---@param guild discord.Guild
---@param data table
---@return discord.GuildAuditLogsEntry entry
function M.entryFromEvent(guild, data)
  local empty = { users = Collection(), webhooks = Collection(), integrations = Collection(),
    threads = Collection(), applicationCommands = Collection(), autoModerationRules = Collection(),
    guildScheduledEvents = Collection() }
  return GuildAuditLogsEntry(empty, guild, data)
end

-- Gateway events -----------------------------------------------------------------------------------------

require("discord.managers.base").handlers.GUILD_AUDIT_LOG_ENTRY_CREATE = function(client, packet)
  local guild = client.guilds.cache:get(packet.d.guild_id)
  if not guild then return end
  client:emit("guildAuditLogEntryCreate", M.entryFromEvent(guild, packet.d), guild)
end

return M
