-- The voice states of one guild's members who are in a voice channel, keyed by user ID.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

--- The voice states of a guild's members who are in a voice channel, by user ID (`guild.voiceStates`).
---@class discord.VoiceStateManager: discord.CachingManager
---@field guild discord.Guild The guild.
local VoiceStateManager = util.class("VoiceStateManager", base.CachingManager)
M.VoiceStateManager = VoiceStateManager

--- Made by the guild.
---@private
---@param guild discord.Guild
---@param iterable? table[]
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

--- The user ID of a member, user, message (its author) or ID: states are keyed by user.
---@param x any
---@return discord.Snowflake? id
VoiceStateManager.resolveId = function(self, x) return self.client.users:resolveId(x) end

--- The member's cached state, or one with no channel when the member is in none.
---@param userId discord.Snowflake
---@return discord.VoiceState state
function VoiceStateManager:stateOf(userId)
  return self.cache:get(userId) or self.holds(self.guild, { user_id = userId })
end

--- A member's voice state from REST ("@me" or the bot itself: the bot's own); cached unless `opts.cache` is false.
--- Raises an error when `user` is not one; `discord.DiscordAPIError` (404) for a member in no voice channel.
---@async
---@param user discord.UserResolvable|"@me"
---@param opts? discord.FetchOptions
---@return discord.VoiceState state
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

-- Gateway events -----------------------------------------------------------------------------------------

-- A member joined, left, moved or changed a flag. Old is a state with no channel when none was cached;
-- members who leave voice leave the cache.
base.handlers.VOICE_STATE_UPDATE = function(client, packet)
  local d = packet.d
  local guild = base.guildOf(client, d)
  if not guild or d.user_id == nil then return end
  if type(d.member) == "table" then base.partials().member(client, guild, d.user_id, d.member) end
  local states = guild.voiceStates
  local old = base.clone(base.get(states.cache, d.user_id)) or states:stateOf(d.user_id)
  local new = states:_addByKey(d.user_id, d)
  if util.nullable(d.channel_id) == nil then states.cache:delete(d.user_id) end
  client:emit("voiceStateUpdate", old, new)
end

-- Voice connections read the server from the raw event; listeners get its fields in camelCase.
base.handlers.VOICE_SERVER_UPDATE = function(client, packet)
  local d = packet.d
  client:emit("voiceServerUpdate", { token = d.token, guildId = d.guild_id, endpoint = util.nullable(d.endpoint) })
end

return M
