-- A member of a thread: who joined it and when, with the notification flags.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

local ThreadMember = util.class("ThreadMember", Base)
M.ThreadMember = ThreadMember

--- `ThreadMember(client, data, thread)`: `data` as the API sends it ({id, user_id, join_timestamp, flags, member}).
---@private
---@param client discord.Client
---@param data table
---@param thread discord.ThreadChannel
function ThreadMember:init(client, data, thread)
  Base.init(self, client)
  self.thread = thread
  self.threadId = data.id or (thread and thread.id)
  self.id = data.user_id or (data.member and data.member.user and data.member.user.id)
  self:_patch(data)
end

function ThreadMember:_patch(data)
  if data.join_timestamp ~= nil then self.joinedTimestamp = util.parseTimestamp(util.nullable(data.join_timestamp)) end
  self:_flags(data, "flags", "ThreadMemberFlagsBitField")
  local member = util.nullable(data.member)
  local guild = self.thread and self.thread.guild
  if member and guild then
    local raw = util.shallowCopy(member)
    raw.user = raw.user or { id = self.id }
    guild.members:_add(raw)
  end
  return self
end

--- Whether it is known only from a removal or a mention, without a join date (read-only).
---@return boolean partial
ThreadMember.getters.partial = function(self) return self.joinedTimestamp == nil end
--- When the user joined the thread, Unix ms (read-only).
---@return discord.Milliseconds? joinedAt
ThreadMember.getters.joinedAt = function(self) return self.joinedTimestamp end

--- The user, when cached (read-only).
---@return discord.User? user
ThreadMember.getters.user = function(self) return self.client.users.cache:get(self.id) end

--- The guild member behind the thread member, when cached (read-only).
---@return discord.GuildMember? member
ThreadMember.getters.guildMember = function(self)
  local guild = self.thread and self.thread.guild
  return guild and guild.members.cache:get(self.id) or nil
end

--- Whether the bot can remove this member: Manage Threads, or a private thread it owns (read-only).
---@return boolean manageable
ThreadMember.getters.manageable = function(self)
  local thread = self.thread
  local me = self.client.user
  if not thread or not me or self.id == me.id then return false end
  if thread.ownerId == me.id and thread.type == 12 then return true end
  local perms = thread.guild and thread.guild.members.me and thread:permissionsFor(thread.guild.members.me)
  return perms ~= nil and perms:has("ManageThreads")
end

--- Takes the member out of the thread; returns it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.ThreadMember member
function ThreadMember:remove()
  self.thread.members:remove(self.id)
  return self
end

--- Fetches the thread member again from Discord.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? {withMember?: boolean} Include the guild member.
---@return discord.ThreadMember member
function ThreadMember:fetch(opts)
  opts = opts or {}
  return self.thread.members:fetch(self.id, { force = true, withMember = opts.withMember })
end

--- The user's mention, "<@id>" (also what tostring gives).
---@return string mention
function ThreadMember:toString()
  return "<@" .. tostring(self.id) .. ">"
end
ThreadMember.__tostring = ThreadMember.toString

return M
