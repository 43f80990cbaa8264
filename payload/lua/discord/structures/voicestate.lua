-- A member's voice state: the channel they are in, mute and deafen flags, streams, and the actions
-- a moderator (or the bot on a stage) takes on them.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

local VoiceState = util.class("VoiceState", Base)
M.VoiceState = VoiceState

local FIELDS = {
  channel_id = "channelId", session_id = "sessionId", deaf = "serverDeaf", mute = "serverMute",
  self_deaf = "selfDeaf", self_mute = "selfMute", self_video = "selfVideo", self_stream = "streaming",
  suppress = "suppress", guild_id = "guildId",
}

--- `VoiceState(guild, data)`: `data` as VOICE_STATE_UPDATE carries it; `{user_id=}` alone is the state
--- of a member in no channel.
function VoiceState:init(guild, data)
  Base.init(self, guild.client)
  self.guild = guild
  self.id = data.user_id
  self:_patch(data)
end

function VoiceState:_patch(data)
  self:_copy(data, FIELDS)
  if data.request_to_speak_timestamp ~= nil then
    self.requestToSpeakTimestamp = util.parseTimestamp(util.nullable(data.request_to_speak_timestamp))
  end
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

--- (B) Server-mutes or unmutes the member.
function VoiceState:setMute(mute, reason) return editMember(self, { mute = mute ~= false }, reason) end
--- (B) Server-deafens or undeafens the member.
function VoiceState:setDeaf(deaf, reason) return editMember(self, { deaf = deaf ~= false }, reason) end

--- (B) Moves the member to another voice channel; nil disconnects.
function VoiceState:setChannel(channel, reason)
  return editMember(self, { channel = channel or json.null }, reason)
end

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

--- (B) The bot raises (true) or lowers its hand on a stage.
function VoiceState:setRequestToSpeak(request)
  local me = self.client.user
  if not me or self.id ~= me.id then error("VoiceState:setRequestToSpeak: only for the bot itself", 2) end
  local channel = onStage(self, "setRequestToSpeak")
  local ts = request ~= false and util.isoTimestamp(require("runtime").time()) or json.null
  self.client.rest:patch(stagePath(self), { body = { channel_id = channel.id, request_to_speak_timestamp = ts } })
  return self
end

--- (B) Moves a member on a stage to the audience (true) or lets them speak (false).
function VoiceState:setSuppressed(suppressed)
  local channel = onStage(self, "setSuppressed")
  self.client.rest:patch(stagePath(self), { body = { channel_id = channel.id, suppress = suppressed ~= false } })
  return self
end

function VoiceState:toJSON()
  local out = Base.toJSON(self)
  out.guild, out.guildId = nil, self.guild.id
  return out
end

return M
