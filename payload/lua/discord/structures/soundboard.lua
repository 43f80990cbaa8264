-- A soundboard sound: a guild's own or one of Discord's defaults.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

local SoundboardSound = util.class("SoundboardSound", Base)
M.SoundboardSound = SoundboardSound

--- `SoundboardSound(client, data, guild)`; default sounds have no guild.
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

--- (B) Edits the sound: {name=, volume=, emojiId=, emojiName=, reason=}.
function SoundboardSound:edit(opts, reason) return sounds(self, "edit"):edit(self, opts, reason) end

--- (B) Deletes the sound.
function SoundboardSound:delete(reason)
  sounds(self, "delete"):delete(self, reason)
  return self
end

--- (B) Plays the sound in the voice channel the bot is in.
function SoundboardSound:send(channel)
  local id = self.client.channels:resolveId(channel)
  local body = { sound_id = self.soundId }
  if self.guildId then body.source_guild_id = self.guildId end
  self.client.rest:post("/channels/" .. id .. "/send-soundboard-sound", { body = body })
  return self
end

function SoundboardSound:toJSON()
  local out = Base.toJSON(self)
  out.guild = nil
  return out
end

return M
