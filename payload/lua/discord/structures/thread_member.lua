-- A member of a thread: who joined it and when, with the notification flags.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

local ThreadMember = util.class("ThreadMember", Base)
M.ThreadMember = ThreadMember

--- `ThreadMember(client, data, thread)`: `data` as the API sends it ({id, user_id, join_timestamp,
--- flags, member}).
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

--- A thread member known only from a removal or a mention has no join date.
ThreadMember.getters.partial = function(self) return self.joinedTimestamp == nil end
ThreadMember.getters.joinedAt = function(self) return self.joinedTimestamp end

ThreadMember.getters.user = function(self) return self.client.users.cache:get(self.id) end

--- The guild member behind the thread member, when cached.
ThreadMember.getters.guildMember = function(self)
  local guild = self.thread and self.thread.guild
  return guild and guild.members.cache:get(self.id) or nil
end

--- The bot can remove others from a thread it may manage, or from a private thread it owns.
ThreadMember.getters.manageable = function(self)
  local thread = self.thread
  local me = self.client.user
  if not thread or not me or self.id == me.id then return false end
  if thread.ownerId == me.id and thread.type == 12 then return true end
  local perms = thread.guild and thread.guild.members.me and thread:permissionsFor(thread.guild.members.me)
  return perms ~= nil and perms:has("ManageThreads")
end

--- (B) Takes the member out of the thread.
function ThreadMember:remove()
  self.thread.members:remove(self.id)
  return self
end

--- (B) Fetches the thread member again.
function ThreadMember:fetch(opts)
  opts = opts or {}
  return self.thread.members:fetch(self.id, { force = true, withMember = opts.withMember })
end

function ThreadMember:toString()
  return "<@" .. tostring(self.id) .. ">"
end
ThreadMember.__tostring = ThreadMember.toString

return M
