-- The members of one thread: add, remove and fetch, with the bot's own membership.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

local ThreadMemberManager = util.class("ThreadMemberManager", base.CachingManager)
M.ThreadMemberManager = ThreadMemberManager

--- `ThreadMemberManager(thread)`: its cache holds ThreadMembers by user ID.
---@private
---@param thread discord.ThreadChannel
function ThreadMemberManager:init(thread)
  self.thread = thread
  base.CachingManager.init(self, thread.client, require("discord.structures.thread_member").ThreadMember)
end

function ThreadMemberManager._keyOf(_, data)
  return data.user_id or (type(data.member) == "table" and data.member.user and data.member.user.id)
end

function ThreadMemberManager:_construct(data)
  return self.holds(self.client, data, self.thread)
end

--- The bot's own thread member, when cached (read-only).
---@return discord.ThreadMember? me
ThreadMemberManager.getters.me = function(self)
  local me = self.client.user
  return me and self.cache:get(me.id) or nil
end

--- The user ID of a user, member, thread member or message (its author); "@me" stays "@me".
---@param x any
---@return discord.Snowflake|"@me"|nil id
function ThreadMemberManager:resolveId(x)
  if x == "@me" then return x end
  if util.className(x) == "ThreadMember" then return x.id end
  return self.client.users:resolveId(x)
end

local function path(self, id)
  return "/channels/" .. self.thread.id .. "/thread-members" .. (id and ("/" .. id) or "")
end

local function meOr(self, id)
  local me = self.client.user
  if id == "@me" or (me and id == me.id) then return "@me", me and me.id end
  return id, id
end

--- Adds a member to the thread (the bot itself when `member` is nil or "@me"); returns the ID given.
--- Raises an error when `member` is not a user; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param member? discord.UserResolvable|"@me"
---@param reason? string Audit log reason.
---@return discord.Snowflake|"@me" id
function ThreadMemberManager:add(member, reason)
  local id = self:resolveId(member or "@me")
  if id == nil then error("ThreadMemberManager:add: not a user: " .. tostring(member), 2) end
  local route = meOr(self, id)
  self.client.rest:put(path(self, route), { reason = reason })
  return id
end

--- Removes a member from the thread (the bot itself when `member` is nil or "@me"); returns the ID given.
--- Raises an error when `member` is not a user; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param member? discord.UserResolvable|"@me"
---@param reason? string Audit log reason.
---@return discord.Snowflake|"@me" id
function ThreadMemberManager:remove(member, reason)
  local id = self:resolveId(member or "@me")
  if id == nil then error("ThreadMemberManager:remove: not a user: " .. tostring(member), 2) end
  local route, userId = meOr(self, id)
  self.client.rest:delete(path(self, route), { reason = reason })
  if userId then self.cache:delete(userId) end
  return id
end

--- `fetch(member, {withMember=, force=, cache=})`: one ThreadMember (the bot's when nil);
--- `fetch({withMember=, after=, limit=, cache=})`: a Collection of up to 100.
--- Raises an error when `x` is not a user; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param x? discord.UserResolvable|"@me"|{withMember?: boolean, after?: any, limit?: integer, cache?: boolean}
---@param opts? {withMember?: boolean, force?: boolean, cache?: boolean}
---@return discord.ThreadMember|discord.Collection result
function ThreadMemberManager:fetch(x, opts)
  if type(x) == "table" and util.className(x) == "table" and x.id == nil then
    local o = x
    local list = self.client.rest:get(path(self), { query = {
      with_member = o.withMember and "true" or nil, after = o.after and self:resolveId(o.after), limit = o.limit,
    } })
    local out = require("discord.collection").Collection()
    for _, data in ipairs(list) do
      local m = self:_add(data, o.cache ~= false)
      out:set(m.id, m)
    end
    return out
  end
  opts = opts or {}
  local id = self:resolveId(x or "@me")
  if id == "@me" then id = self.client.user and self.client.user.id end
  if id == nil then error("ThreadMemberManager:fetch: not a user: " .. tostring(x), 2) end
  if not opts.force then
    local hit = self.cache:get(id)
    if hit and not hit.partial then return hit end
  end
  local data = self.client.rest:get(path(self, id), { query = { with_member = opts.withMember and "true" or nil } })
  return self:_add(data, opts.cache ~= false)
end

--- The bot's own thread member.
--- Raises `discord.DiscordAPIError` when Discord refuses it (UnknownMember when the bot is not in the thread).
---@async
---@param opts? {withMember?: boolean, force?: boolean, cache?: boolean}
---@return discord.ThreadMember me
function ThreadMemberManager:fetchMe(opts)
  return self:fetch("@me", opts)
end

return M
