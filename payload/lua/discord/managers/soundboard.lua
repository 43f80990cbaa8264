-- A guild's soundboard sounds: fetch, upload, edit, delete and play; Discord's default sounds.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

--- A guild's soundboard sounds (`guild.soundboardSounds`), keyed by sound ID: fetch, upload, edit, delete, play.
---@class discord.GuildSoundboardSoundManager: discord.ResourceManager
---@field guild discord.Guild The guild.
local GuildSoundboardSoundManager = util.class("GuildSoundboardSoundManager", base.ResourceManager)
M.GuildSoundboardSoundManager = GuildSoundboardSoundManager

--- Made by the guild.
---@private
---@param guild discord.Guild
---@param iterable? table[]
function GuildSoundboardSoundManager:init(guild, iterable)
  self.guild = guild
  base.ResourceManager.init(self, guild.client, require("discord.structures.soundboard").SoundboardSound,
    "/guilds/" .. guild.id .. "/soundboard-sounds", guild, iterable)
end

function GuildSoundboardSoundManager._keyOf(_, data)
  return data.sound_id
end

-- Discord takes MP3 and Ogg, at most 512 KB.
local MAX_SOUND = 512 * 1024

local function soundData(sound)
  if type(sound) == "table" and sound.path then
    local bytes, msg = require("runtime").read_file(sound.path)
    if not bytes then error(require("discord.errors").LibraryError("FileUnreadable", sound.path, msg), 4) end
    sound = bytes
  end
  if type(sound) ~= "string" then error("GuildSoundboardSoundManager: the sound must be bytes or {path=}", 4) end
  if sound:match("^data:") then return sound end
  if #sound > MAX_SOUND then error("GuildSoundboardSoundManager: sounds are at most 512 KB", 4) end
  local mime = sound:sub(1, 4) == "OggS" and "audio/ogg" or "audio/mpeg"
  return "data:" .. mime .. ";base64," .. util.base64Encode(sound)
end

--- Options of `GuildSoundboardSoundManager:create` and `:edit`.
---@class discord.SoundboardSoundOptions
---@field file? string|table The sound (to create): MP3 or Ogg bytes of at most 512 KB, a data URI, or {path=}.
---@field sound? string|table The same as `file`.
---@field name? string 2 to 32 characters (needed to create).
---@field volume? number 0 to 1.
---@field emojiId? discord.Snowflake A custom emoji shown with it.
---@field emojiName? string A Unicode emoji shown with it.
---@field reason? string Audit log reason.
local FIELDS = { name = "name", volume = "volume", emojiId = "emoji_id", emojiName = "emoji_name" }

local function checkVolume(opts)
  if opts.volume ~= nil and (type(opts.volume) ~= "number" or opts.volume < 0 or opts.volume > 1) then
    error("GuildSoundboardSoundManager: volume must be 0 to 1", 3)
  end
end

--- Uploads a sound.
--- Raises an error for a bad name, volume or sound, `discord.LibraryError` FileUnreadable,
--- `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.SoundboardSoundOptions
---@return discord.SoundboardSound sound
function GuildSoundboardSoundManager:create(opts)
  opts = opts or {}
  if type(opts.name) ~= "string" or #opts.name < 2 or #opts.name > 32 then
    error("GuildSoundboardSoundManager:create: the name must be 2 to 32 characters", 2)
  end
  checkVolume(opts)
  local body = base.bodyOf(opts, FIELDS)
  body.sound = soundData(opts.file or opts.sound)
  return self:_create(body, opts.reason)
end

--- Edits a sound's name, volume or emoji.
--- Raises an error for a bad volume; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param sound any The sound or its ID.
---@param opts discord.SoundboardSoundOptions
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.SoundboardSound sound
function GuildSoundboardSoundManager:edit(sound, opts, reason)
  opts = opts or {}
  checkVolume(opts)
  return self:_edit(sound, base.bodyOf(opts, FIELDS), base.reasonOf(opts, reason))
end

--- One sound by ID, or every sound of the guild as a Collection.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id? any The sound or its ID; absent fetches all.
---@param opts? discord.FetchOptions
---@return discord.SoundboardSound|discord.Collection result
function GuildSoundboardSoundManager:fetch(id, opts)
  if type(id) == "table" and self:resolveId(id) == nil then id, opts = nil, id end
  opts = opts or {}
  if id ~= nil then return base.CachingManager.fetch(self, id, opts) end
  local res = self.client.rest:get(self:_path())
  return self:_addAll(res.items or res, opts.cache, true)
end

--- Plays a sound of this guild in a voice channel the bot is connected to.
--- Raises an error when `sound` names nothing; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param sound any The sound or its ID.
---@param channel discord.ChannelResolvable The voice channel.
function GuildSoundboardSoundManager:send(sound, channel)
  local id = self:_need(sound, "send")
  local chId = self.client.channels:resolveId(channel)
  self.client.rest:post("/channels/" .. chId .. "/send-soundboard-sound",
    { body = { sound_id = id, source_guild_id = self.guild.id } })
end

--- Discord's default sounds, as a Collection by sound ID.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param client discord.Client
---@return discord.Collection sounds SoundboardSounds by sound ID.
function M.fetchDefaultSounds(client)
  local SoundboardSound = require("discord.structures.soundboard").SoundboardSound
  local out = require("discord.collection").Collection()
  for _, s in ipairs(client.rest:get("/soundboard-default-sounds")) do
    out:set(s.sound_id, SoundboardSound(client, s))
  end
  return out
end

-- Gateway events -----------------------------------------------------------------------------------------

base.guildResource("soundboardSounds", { "GUILD_SOUNDBOARD_SOUND_CREATE", "GUILD_SOUNDBOARD_SOUND_UPDATE",
  "GUILD_SOUNDBOARD_SOUND_DELETE", "guildSoundboardSoundCreate", "guildSoundboardSoundUpdate",
  "guildSoundboardSoundDelete" }, "sound_id")

base.handlers.GUILD_SOUNDBOARD_SOUNDS_UPDATE = function(client, packet)
  local guild = base.guildOf(client, packet.d)
  if not guild then return end
  local sounds = guild.soundboardSounds:_addAll(packet.d.soundboard_sounds, true, true)
  client:emit("guildSoundboardSoundsUpdate", sounds, guild)
end

-- The answer to a request for soundboard sounds (op 31).
base.handlers.SOUNDBOARD_SOUNDS = function(client, packet)
  local guild = base.guildOf(client, packet.d)
  if not guild then return end
  client:emit("soundboardSounds", guild.soundboardSounds:_addAll(packet.d.soundboard_sounds, true, true), guild)
end

-- Client methods ----------------------------------------------------------------------------------------

local Client = require("discord.client").Client

--- Discord's default soundboard sounds, as a Collection by sound ID.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Collection sounds SoundboardSounds by sound ID.
function Client:fetchDefaultSoundboardSounds() return M.fetchDefaultSounds(self) end

return M
