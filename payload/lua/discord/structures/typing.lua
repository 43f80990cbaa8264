-- Someone started typing in a channel.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

local Typing = util.class("Typing", Base)
Typing.__fields = 3
M.Typing = Typing

-- Read through the channel: an event then holds three fields, a table of four slots.
Typing.getters.client = function(self) return self.channel.client end
--- The guild's ID, for a guild channel (read-only).
---@return discord.Snowflake? guildId
Typing.getters.guildId = function(self) return self.channel.guildId end

--- `Typing(channel, user, data)`: `data` as TYPING_START carries it (timestamp in seconds).
---@private
---@param channel discord.BaseChannel
---@param user discord.User
---@param data table
function Typing:init(channel, user, data)
  self.channel = channel
  self.user = user
  self.startedTimestamp = (data.timestamp or 0) * 1000
end

--- When the user started typing, Unix ms (read-only).
---@return discord.Milliseconds startedAt
Typing.getters.startedAt = function(self) return self.startedTimestamp end
--- The guild of the channel, when cached (read-only).
---@return discord.Guild? guild
Typing.getters.guild = function(self) return self.guildId and self.client.guilds.cache:get(self.guildId) or nil end

--- The typing user's member, when cached (read-only).
---@return discord.GuildMember? member
Typing.getters.member = function(self)
  local guild = self.guild
  return guild and self.user and guild.members.cache:get(self.user.id) or nil
end

--- Whether the typing happened in a guild channel.
---@return boolean inGuild
function Typing:inGuild()
  return self.guildId ~= nil
end

--- Plain table: channelId, userId, guildId, startedTimestamp.
---@return table json
function Typing:toJSON()
  return { channelId = self.channel.id, userId = self.user and self.user.id, guildId = self.guildId,
    startedTimestamp = self.startedTimestamp }
end

-- Gateway events -----------------------------------------------------------------------------------------

local events = require("discord.managers.base")

events.handlers.TYPING_START = function(client, packet)
  local d = packet.d
  local channel = events.partials().channel(client, d.channel_id, d.guild_id)
  if not channel then return end
  local user = events.eventUser(client, d)
  if not user then return end
  client:emit("typingStart", Typing(channel, user, d))
end

return M
