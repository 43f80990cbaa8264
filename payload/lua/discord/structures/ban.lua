-- A ban: the banned user and the reason the moderator gave.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

--- A ban: the banned user and the reason the moderator gave.
---@class discord.GuildBan: discord.Base
---@field guild discord.Guild The guild.
---@field user discord.User The banned user.
---@field id discord.Snowflake The banned user's ID.
---@field reason string? The moderator's reason (only REST gives it).
---@field partial boolean Whether the reason is unknown, as in gateway events (read-only).
local GuildBan = util.class("GuildBan", Base)
M.GuildBan = GuildBan

--- `GuildBan(client, data, guild)`: `data` is {user=, reason=}.
---@private
---@param client discord.Client
---@param data table
---@param guild discord.Guild
function GuildBan:init(client, data, guild)
  Base.init(self, client)
  self.guild = guild
  self:_patch(data)
end

function GuildBan:_patch(data)
  if data.user ~= nil then
    self.user = self.client.users:_add(data.user)
    self.id = self.user.id
  end
  if data.reason ~= nil then self.reason = util.nullable(data.reason) end
  return self
end

GuildBan.getters.partial = function(self) return self.reason == nil end

--- Fetches the ban again, with its reason (from REST unless `force` is false and it is cached).
--- Raises `discord.DiscordAPIError` when Discord refuses it (UnknownBan once lifted).
---@async
---@param force? boolean
---@return discord.GuildBan ban
function GuildBan:fetch(force)
  return self.guild.bans:fetch(self.id, { force = force ~= false })
end

--- Lifts the ban; returns the user ID.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.Snowflake userId
function GuildBan:remove(reason)
  return self.guild.bans:remove(self.id, reason)
end

--- Plain table: guildId, user (ID) and reason.
---@return table json
function GuildBan:toJSON()
  return { guildId = self.guild.id, user = self.id, reason = self.reason }
end

return M
