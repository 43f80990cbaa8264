-- A member's voice state: the channel they are in, mute and deafen flags, streams, and the actions
-- a moderator (or the bot on a stage) takes on them.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

--- A member's voice state: the channel they are in, mute and deafen flags, streams, stage state.
---@class discord.VoiceState: discord.Base
---@field guild discord.Guild The guild of the voice state.
---@field id discord.Snowflake The member's user ID.
---@field guildId discord.Snowflake? The ID of the guild.
---@field channelId discord.Snowflake? Nil when the member is in no voice channel.
---@field sessionId string? The voice session ID.
---@field serverDeaf boolean? Deafened by a moderator.
---@field serverMute boolean? Muted by a moderator.
---@field selfDeaf boolean? Deafened by the member.
---@field selfMute boolean? Muted by the member.
---@field selfVideo boolean? Camera on.
---@field streaming boolean? Sharing the screen ("Go Live").
---@field suppress boolean? In a stage's audience.
---@field requestToSpeakTimestamp discord.Milliseconds? When the member raised a hand on a stage.
---@field member discord.GuildMember? The member, when cached (read-only).
---@field channel discord.BaseGuildVoiceChannel? The channel, when cached (read-only).
---@field deaf boolean Deafened by themselves or a moderator (read-only).
---@field mute boolean Muted by themselves or a moderator (read-only).
local VoiceState = util.class("VoiceState", Base)
VoiceState.__fields = 4
M.VoiceState = VoiceState

local FIELDS = { channel_id = "channelId", session_id = "sessionId" }

-- Most members in voice are neither muted nor deafened, nor on camera, streaming or in a stage's audience:
-- a flag is held only while true, and the class holds false. A state then holds three or four fields.
local FLAGS = {
  deaf = "serverDeaf", mute = "serverMute", self_deaf = "selfDeaf", self_mute = "selfMute",
  self_video = "selfVideo", self_stream = "streaming", suppress = "suppress",
}
for _, field in pairs(FLAGS) do VoiceState[field] = false end

-- A guild's states share it, and its client, through their class.
local classOfGuild = util.sharingBy(VoiceState, "guild")
VoiceState.getters.client = function(self) return self.guild.client end
VoiceState.getters.guildId = function(self) return self.guild.id end

--- `VoiceState(guild, data)`: `data` as VOICE_STATE_UPDATE carries it; `{user_id=}` alone is the state
--- of a member in no channel.
---@private
---@param guild discord.Guild
---@param data table
function VoiceState:init(guild, data)
  if getmetatable(self) == VoiceState then
    setmetatable(self, classOfGuild(guild))
  else
    Base.init(self, guild.client)
    self.guild = guild
  end
  self.id = data.user_id
  self:_patch(data)
end

local copyFields, copyFlags = Base._copier(FIELDS), Base._trueCopier(FLAGS)

function VoiceState:_patch(data)
  copyFields(self, data)
  copyFlags(self, data)
  -- parseTimestamp reads null as nil.
  local at = data.request_to_speak_timestamp
  if at ~= nil then self.requestToSpeakTimestamp = util.parseTimestamp(at) end
  return self
end

VoiceState.getters.member = function(self) return self.guild.members.cache:get(self.id) end
VoiceState.getters.channel = function(self)
  return self.channelId and self.client.channels.cache:get(self.channelId) or nil
end
VoiceState.getters.deaf = function(self) return self.serverDeaf == true or self.selfDeaf == true end
VoiceState.getters.mute = function(self) return self.serverMute == true or self.selfMute == true end

local function editMember(self, opts, reason)
  return self.guild.members:edit(self.id, opts, reason)
end

--- Server-mutes the member (or unmutes with false); returns the edited member.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param mute? boolean
---@param reason? string Audit log reason.
---@return discord.GuildMember member
function VoiceState:setMute(mute, reason) return editMember(self, { mute = mute ~= false }, reason) end
--- Server-deafens the member (or undeafens with false); returns the edited member.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param deaf? boolean
---@param reason? string Audit log reason.
---@return discord.GuildMember member
function VoiceState:setDeaf(deaf, reason) return editMember(self, { deaf = deaf ~= false }, reason) end

--- Moves the member to another voice channel; nil disconnects. Returns the edited member.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel? discord.ChannelResolvable
---@param reason? string Audit log reason.
---@return discord.GuildMember member
function VoiceState:setChannel(channel, reason)
  return editMember(self, { channel = channel or json.null }, reason)
end

--- Disconnects the member from voice; returns the edited member.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.GuildMember member
function VoiceState:disconnect(reason) return self:setChannel(nil, reason) end

local function stagePath(self)
  local me = self.client.user
  return "/guilds/" .. self.guild.id .. "/voice-states/" .. ((me and self.id == me.id) and "@me" or self.id)
end

local function onStage(self, what)
  local channel = self.channel
  if not channel or channel.type ~= 13 then error("VoiceState:" .. what .. ": the member is not on a stage", 3) end
  return channel
end

--- The bot raises (true) or lowers (false) its hand on a stage; returns the state.
--- Raises an error for another member or off a stage; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param request? boolean
---@return discord.VoiceState state
function VoiceState:setRequestToSpeak(request)
  local me = self.client.user
  if not me or self.id ~= me.id then error("VoiceState:setRequestToSpeak: only for the bot itself", 2) end
  local channel = onStage(self, "setRequestToSpeak")
  local ts = request ~= false and util.isoTimestamp(require("runtime").time()) or json.null
  self.client.rest:patch(stagePath(self), { body = { channel_id = channel.id, request_to_speak_timestamp = ts } })
  return self
end

--- Moves a member on a stage to the audience (true) or lets them speak (false); returns the state.
--- Raises an error off a stage; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param suppressed? boolean
---@return discord.VoiceState state
function VoiceState:setSuppressed(suppressed)
  local channel = onStage(self, "setSuppressed")
  self.client.rest:patch(stagePath(self), { body = { channel_id = channel.id, suppress = suppressed ~= false } })
  return self
end

--- Plain table of the state's fields, with guildId.
---@return table json
function VoiceState:toJSON()
  local out = Base.toJSON(self)
  out.guild, out.guildId = nil, self.guild.id
  for _, field in pairs(FLAGS) do out[field] = self[field] end
  return out
end

return M
