-- A soundboard sound: a guild's own or one of Discord's defaults.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

--- A soundboard sound: a guild's own or one of Discord's defaults.
---@class discord.SoundboardSound: discord.Base
---@field guild discord.Guild? Nil for default sounds.
---@field soundId discord.Snowflake The sound's ID.
---@field id discord.Snowflake The same as `soundId`.
---@field name string The sound's name.
---@field volume number 0 to 1.
---@field emojiId discord.Snowflake? The custom emoji shown with it.
---@field emojiName string? The Unicode emoji shown with it.
---@field guildId discord.Snowflake? The guild it belongs to; nil for default sounds.
---@field available boolean Whether it can be played (boosts may lapse).
---@field user discord.User? Who uploaded it.
---@field url string The sound file's CDN address (read-only).
---@field isDefault boolean Whether it is one of Discord's defaults (read-only).
---@field emoji {id: discord.Snowflake?, name: string?}? Its emoji (read-only).
---@field createdTimestamp discord.Milliseconds (read-only).
local SoundboardSound = util.class("SoundboardSound", Base)
M.SoundboardSound = SoundboardSound

--- `SoundboardSound(client, data, guild)`; default sounds have no guild.
---@private
---@param client discord.Client
---@param data table
---@param guild? discord.Guild
function SoundboardSound:init(client, data, guild)
  Base.init(self, client)
  self.guild = guild
  self.soundId = data.sound_id
  self.id = data.sound_id
  self:_patch(data)
end

function SoundboardSound:_patch(data)
  self:_copy(data, { name = "name", volume = "volume", emoji_id = "emojiId", emoji_name = "emojiName",
    guild_id = "guildId", available = "available" })
  if type(data.user) == "table" then self.user = self.client.users:_add(data.user) end
  return self
end

SoundboardSound.getters.url = function(self) return require("discord.cdn").soundboardSound(self.soundId) end
SoundboardSound.getters.isDefault = function(self) return self.guildId == nil end
SoundboardSound.getters.emoji = function(self)
  if self.emojiId == nil and self.emojiName == nil then return nil end
  return { id = self.emojiId, name = self.emojiName }
end
SoundboardSound.getters.createdTimestamp = function(self)
  return require("discord.snowflake").timestamp(self.soundId)
end

local function sounds(self, what)
  if not self.guild then error("SoundboardSound:" .. what .. ": default sounds cannot be changed", 3) end
  return self.guild.soundboardSounds
end

--- Edits the sound's name, volume or emoji.
--- Raises an error for a default sound or bad volume; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.SoundboardSoundOptions
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.SoundboardSound sound
function SoundboardSound:edit(opts, reason) return sounds(self, "edit"):edit(self, opts, reason) end

--- Deletes the sound; returns it.
--- Raises an error for a default sound; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.SoundboardSound sound
function SoundboardSound:delete(reason)
  sounds(self, "delete"):delete(self, reason)
  return self
end

--- Plays the sound in a voice channel the bot is connected to; returns the sound.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel discord.ChannelResolvable
---@return discord.SoundboardSound sound
function SoundboardSound:send(channel)
  local id = self.client.channels:resolveId(channel)
  local body = { sound_id = self.soundId }
  if self.guildId then body.source_guild_id = self.guildId end
  self.client.rest:post("/channels/" .. id .. "/send-soundboard-sound", { body = body })
  return self
end

--- Plain table of the sound's fields, without the guild.
---@return table json
function SoundboardSound:toJSON()
  local out = Base.toJSON(self)
  out.guild = nil
  return out
end

return M
