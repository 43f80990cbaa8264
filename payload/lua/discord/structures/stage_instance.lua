-- A stage instance: the live topic of a stage channel.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

--- A stage instance: the live topic of a stage channel.
---@class discord.StageInstance: discord.Base
---@field id discord.Snowflake The stage instance's ID.
---@field guild discord.Guild The guild it belongs to.
---@field guildId discord.Snowflake The ID of the guild it belongs to.
---@field channelId discord.Snowflake The stage channel.
---@field topic string The stage topic (1-120 characters).
---@field privacyLevel integer discord.StageInstancePrivacyLevel.
---@field discoverableDisabled boolean? Whether stage discovery is off (deprecated by Discord).
---@field guildScheduledEventId discord.Snowflake? The scheduled event it belongs to.
---@field channel discord.StageChannel? The stage channel, when cached (read-only).
---@field guildScheduledEvent discord.GuildScheduledEvent? Its scheduled event, when cached (read-only).
---@field createdTimestamp discord.Milliseconds When it was created (read-only).
local StageInstance = util.class("StageInstance", Base)
M.StageInstance = StageInstance

--- `StageInstance(client, data, guild)`.
---@private
---@param client discord.Client
---@param data table
---@param guild discord.Guild
function StageInstance:init(client, data, guild)
  Base.init(self, client)
  self.guild = guild
  self.id = data.id
  self:_patch(data)
end

function StageInstance:_patch(data)
  self:_copy(data, { guild_id = "guildId", channel_id = "channelId", topic = "topic", privacy_level = "privacyLevel",
    discoverable_disabled = "discoverableDisabled", guild_scheduled_event_id = "guildScheduledEventId" })
  return self
end

StageInstance.getters.channel = function(self) return self.client.channels.cache:get(self.channelId) end
StageInstance.getters.guildScheduledEvent = function(self)
  return self.guildScheduledEventId and self.guild.scheduledEvents.cache:get(self.guildScheduledEventId) or nil
end
StageInstance.getters.createdTimestamp = function(self) return require("discord.snowflake").timestamp(self.id) end

--- Edits the topic or privacy level.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.StageInstanceOptions `topic` and `privacyLevel` are used.
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.StageInstance instance
function StageInstance:edit(opts, reason) return self.guild.stageInstances:edit(self.channelId, opts, reason) end
--- Changes the topic.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param topic string
---@param reason? string Audit log reason.
---@return discord.StageInstance instance
function StageInstance:setTopic(topic, reason) return self:edit({ topic = topic }, reason) end

--- Ends the stage; returns this instance.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.StageInstance instance
function StageInstance:delete(reason)
  self.guild.stageInstances:delete(self.channelId, reason)
  return self
end

--- Plain table of the instance's fields, without the guild.
---@return table json
function StageInstance:toJSON()
  local out = Base.toJSON(self)
  out.guild = nil
  return out
end

return M
