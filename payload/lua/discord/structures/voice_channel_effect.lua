-- A voice channel effect: an emoji reaction or soundboard sound someone sent in a voice channel.
local util = require("discord.util")

local M = {}

--- A voice channel effect: an emoji reaction or soundboard sound someone sent in a voice channel.
---@class discord.VoiceChannelEffect
---@field guild discord.Guild The guild it was sent in.
---@field client discord.Client The client that received it.
---@field channelId discord.Snowflake The voice channel it was sent in.
---@field userId discord.Snowflake Who sent it.
---@field animationType integer? discord.VoiceChannelEffectSendAnimationType (Premium, Basic).
---@field animationId integer? The ID of the emoji animation.
---@field soundId discord.Snowflake|integer? The soundboard sound, for sound effects.
---@field soundVolume number? 0 to 1.
---@field emoji discord.Emoji? The emoji of the effect.
---@field channel discord.VoiceChannel? The channel, when cached (read-only).
---@field member discord.GuildMember? The sender, when cached (read-only).
---@field soundboardSound discord.SoundboardSound? The guild's sound that was played, when cached (read-only).
local VoiceChannelEffect = util.class("VoiceChannelEffect")
M.VoiceChannelEffect = VoiceChannelEffect

--- `VoiceChannelEffect(guild, data)`: VOICE_CHANNEL_EFFECT_SEND's payload.
---@private
---@param guild discord.Guild
---@param data table
function VoiceChannelEffect:init(guild, data)
  self.guild = guild
  self.client = guild.client
  self.channelId = data.channel_id
  self.userId = data.user_id
  self.animationType = util.nullable(data.animation_type)
  self.animationId = data.animation_id
  self.soundId = data.sound_id
  self.soundVolume = data.sound_volume
  local e = util.nullable(data.emoji)
  if type(e) == "table" then
    self.emoji = require("discord.structures.emoji").Emoji(self.client, e)
  end
end

VoiceChannelEffect.getters.channel = function(self) return self.client.channels.cache:get(self.channelId) end
VoiceChannelEffect.getters.member = function(self) return self.guild.members.cache:get(self.userId) end

VoiceChannelEffect.getters.soundboardSound = function(self)
  return self.soundId and self.guild.soundboardSounds.cache:get(tostring(self.soundId)) or nil
end

--- Plain table of the effect's fields.
---@return table json
function VoiceChannelEffect:toJSON()
  return { guildId = self.guild.id, channelId = self.channelId, userId = self.userId,
    animationType = self.animationType, animationId = self.animationId, soundId = self.soundId,
    soundVolume = self.soundVolume, emoji = self.emoji and self.emoji:toJSON() or nil }
end

-- Gateway events -----------------------------------------------------------------------------------------

local events = require("discord.managers.base")

events.handlers.VOICE_CHANNEL_EFFECT_SEND = function(client, packet)
  local guild = events.guildOf(client, packet.d)
  if guild then client:emit("voiceChannelEffectSend", VoiceChannelEffect(guild, packet.d)) end
end

return M
