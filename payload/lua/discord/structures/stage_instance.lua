-- A stage instance: the live topic of a stage channel.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

local StageInstance = util.class("StageInstance", Base)
M.StageInstance = StageInstance

--- `StageInstance(client, data, guild)`.
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

--- (B) Edits the topic or privacy level: {topic=, privacyLevel=, reason=}.
function StageInstance:edit(opts, reason) return self.guild.stageInstances:edit(self.channelId, opts, reason) end
function StageInstance:setTopic(topic, reason) return self:edit({ topic = topic }, reason) end

--- (B) Ends the stage.
function StageInstance:delete(reason)
  self.guild.stageInstances:delete(self.channelId, reason)
  return self
end

function StageInstance:toJSON()
  local out = Base.toJSON(self)
  out.guild = nil
  return out
end

return M
