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

--- (B) A member's voice state from REST (`"@me"` or the bot itself: the bot's own); cached unless
--- `opts.cache` is false. Discord answers 404 for a member in no voice channel.
function VoiceStateManager:fetch(user, opts)
  opts = opts or {}
  local me = self.client.user
  local id = user == "@me" and "@me" or self:resolveId(user)
  if id == nil then error("VoiceStateManager:fetch: not a user: " .. tostring(user), 2) end
  if me and id == me.id then id = "@me" end
  if not opts.force then
    local hit = self.cache:get(id == "@me" and me and me.id or id)
    if hit then return hit end
  end
  local data = self.client.rest:get("/guilds/" .. self.guild.id .. "/voice-states/" .. id)
  return self:_add(data, opts.cache ~= false)
end

return M
