-- The voice states of one guild's members who are in a voice channel, keyed by user ID.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

local VoiceStateManager = util.class("VoiceStateManager", base.CachingManager)
M.VoiceStateManager = VoiceStateManager

function VoiceStateManager:init(guild, iterable)
  self.guild = guild
  base.CachingManager.init(self, guild.client, require("discord.structures.voicestate").VoiceState)
  for _, data in ipairs(iterable or {}) do self:_add(data) end
end

function VoiceStateManager._keyOf(_, data)
  return data.user_id
end

function VoiceStateManager:_construct(data)
  return self.holds(self.guild, data)
end

VoiceStateManager.resolveId = function(self, x) return self.client.users:resolveId(x) end

--- The member's state, or one with no channel when the member is in none.
function VoiceStateManager:stateOf(userId)
  return self.cache:get(userId) or self.holds(self.guild, { user_id = userId })
end

return M
