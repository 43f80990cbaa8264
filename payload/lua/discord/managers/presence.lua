-- The presences of one guild's members, keyed by user ID.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

--- The presences of one guild's members, keyed by user ID (`guild.presences`; GuildPresences intent).
---@class discord.PresenceManager: discord.CachingManager
---@field guild discord.Guild The guild.
local PresenceManager = util.class("PresenceManager", base.CachingManager)
M.PresenceManager = PresenceManager

--- Made by the guild.
---@private
---@param guild discord.Guild
---@param iterable? table[]
function PresenceManager:init(guild, iterable)
  self.guild = guild
  base.CachingManager.init(self, guild.client, require("discord.structures.presence").Presence)
  for _, data in ipairs(iterable or {}) do self:_add(data) end
end

function PresenceManager._keyOf(_, data)
  return data.user and data.user.id
end

function PresenceManager:_construct(data)
  return self.holds(self.client, data, self.guild)
end

--- The user ID of a member, user, message (its author) or ID: presences are keyed by user.
---@param x any
---@return discord.Snowflake? id
PresenceManager.resolveId = function(self, x) return self.client.users:resolveId(x) end

-- Gateway events -----------------------------------------------------------------------------------------

base.handlers.PRESENCE_UPDATE = function(client, packet)
  local d = packet.d
  local guild = base.guildOf(client, d)
  if not guild or not d.user then return end
  base.patchUser(client, d.user)
  local presences, id = guild.presences, d.user.id
  local old = base.clone(base.get(presences.cache, id))
  -- A payload, keyed by its user: the add without the generic checks.
  local presence = id ~= nil and presences:_addByKey(id, d) or presences:_add(d)
  if old == nil or not old:equals(presence) then client:emit("presenceUpdate", old, presence) end
end

return M
