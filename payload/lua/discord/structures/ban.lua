-- A ban: the banned user and the reason the moderator gave.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

local GuildBan = util.class("GuildBan", Base)
M.GuildBan = GuildBan

--- `GuildBan(client, data, guild)`: `data` is {user=, reason=}.
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

--- (B) Fetches the ban again (its reason comes only from REST).
function GuildBan:fetch(force)
  return self.guild.bans:fetch(self.id, { force = force ~= false })
end

--- (B) Lifts the ban.
function GuildBan:remove(reason)
  return self.guild.bans:remove(self.id, reason)
end

function GuildBan:toJSON()
  return { guildId = self.guild.id, user = self.id, reason = self.reason }
end

return M
