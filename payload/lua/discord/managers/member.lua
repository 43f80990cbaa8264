-- Members of one guild: REST and gateway fetches, search, edit, kick, ban and prune.
local util = require("discord.util")
local json = require("json")
local base = require("discord.managers.base")

local M = {}

local GuildMemberManager = util.class("GuildMemberManager", base.CachingManager)
M.GuildMemberManager = GuildMemberManager

--- Made by the guild.
---@private
---@param guild discord.Guild
---@param iterable? table[]
function GuildMemberManager:init(guild, iterable)
  self.guild = guild
  base.CachingManager.init(self, guild.client, require("discord.member").GuildMember)
  for _, data in ipairs(iterable or {}) do self:_add(data) end
end

function GuildMemberManager._keyOf(_, data)
  return data.user and data.user.id
end

function GuildMemberManager:_construct(data)
  return self.holds(self.client, data, self.guild)
end

--- Adds a member payload that comes without its user (a message's, a mention's), the user given beside it
--- instead of in a copy of the payload.
---@private
---@param data table Raw guild member object.
---@param user discord.User|table The member's user, cached or raw.
---@return discord.GuildMember
function GuildMemberManager:_addWithUser(data, user)
  if data.user ~= nil then return self:_add(data) end
  local member = base.get(self.cache, user.id)
  if member then return member:_patch(data, user) end
  member = self.holds(self.client, data, self.guild, user)
  self.cache:set(user.id, member)
  return member
end

function GuildMemberManager:_path(id)
  return "/guilds/" .. self.guild.id .. "/members" .. (id and ("/" .. id) or "")
end

--- The bot's own member, when cached (read-only).
---@return discord.GuildMember? me
GuildMemberManager.getters.me = function(self)
  local me = self.client.user
  return me and self.cache:get(me.id) or nil
end

--- The user ID of a member, user, message (its author), user mention or ID.
---@param x any
---@return discord.Snowflake? id
function GuildMemberManager:resolveId(x)
  if type(x) == "table" then
    local cls = util.className(x)
    if cls == "Message" then return x.author and x.author.id end
    if cls == "GuildMember" or cls == "User" or cls == "ClientUser" then return x.id end
  end
  if type(x) == "string" then
    local id = x:match("^<@!?(%d+)>$")
    if id then return id end
  end
  return base.CachingManager.resolveId(self, x)
end

local function collect(self, list, cache)
  local out = require("discord.collection").Collection()
  for _, data in ipairs(list) do
    local m = self:_add(data, cache)
    out:set(m.id, m)
  end
  return out
end

--- `fetch(user, opts)`: one member over REST; `fetch({user=, query=, limit=, withPresences=, time=})`
--- several through the gateway; `fetch()` every member (GuildMembers intent).
--- Raises `discord.LibraryError` GuildMembersTimeout from the gateway; `discord.DiscordAPIError` from REST.
---@async
---@param x? discord.UserResolvable|discord.FetchMembersOptions
---@param opts? discord.FetchOptions For one member.
---@return discord.GuildMember|discord.Collection result
function GuildMemberManager:fetch(x, opts)
  opts = opts or {}
  if x == nil or (type(x) == "table" and util.className(x) == "table" and x.id == nil) then
    local o = x or {}
    local ids = o.user
    if ids ~= nil and type(ids) ~= "table" then ids = { ids } end
    if ids ~= nil then ids = util.map(ids, function(u) return self:resolveId(u) end) end
    local found = self.client.ws:requestGuildMembers(self.guild.id, {
      userIds = ids, query = o.query, limit = o.limit, presences = o.withPresences, timeout = o.time,
    })
    local out = require("discord.collection").Collection()
    for _, m in ipairs(found) do out:set(m.id, m) end
    return out
  end
  local id = self:resolveId(x)
  if id == nil then error("GuildMemberManager:fetch: not a user: " .. tostring(x), 2) end
  return base.CachingManager.fetch(self, id, opts)
end

--- The bot's own member of this guild.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? discord.FetchOptions
---@return discord.GuildMember me
function GuildMemberManager:fetchMe(opts)
  return self:fetch(self.client.user.id, opts)
end

--- One page of members in ID order.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? {limit?: integer, after?: discord.Snowflake, cache?: boolean} limit 1 to 1000 (1 by default).
---@return discord.Collection members
function GuildMemberManager:list(opts)
  opts = opts or {}
  local list = self.client.rest:get(self:_path(), { query = { limit = opts.limit or 1, after = opts.after } })
  return collect(self, list, opts.cache ~= false)
end

--- Iterator over every member in ID order, pages of up to 1000; the steps that fetch suspend the task.
--- Raises `discord.DiscordAPIError` from the loop when Discord refuses a page.
---@param opts? {limit?: integer, after?: discord.UserResolvable, cache?: boolean}
---@return fun(): discord.GuildMember? iterator
function GuildMemberManager:each(opts)
  opts = opts or {}
  return base.pages(function(size, after)
    local list = self.client.rest:get(self:_path(), { query = { limit = size, after = after } })
    return util.map(list, function(data) return self:_add(data, opts.cache ~= false) end)
  end, require("discord.constants").Limits.FetchMembers, opts.limit, opts.after and self:resolveId(opts.after))
end

--- Members whose username or nickname starts with the query.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts string|{query: string, limit?: integer, cache?: boolean} The query, or options (limit 1 by default).
---@return discord.Collection members
function GuildMemberManager:search(opts)
  if type(opts) == "string" then opts = { query = opts } end
  local list = self.client.rest:get(self:_path() .. "/search", {
    query = { query = opts.query, limit = opts.limit or 1 },
  })
  return collect(self, list, opts.cache ~= false)
end

local function isoOrNull(ts)
  if ts == nil or ts == json.null then return json.null end
  if type(ts) == "string" then return ts end
  return util.isoTimestamp(ts)
end

--- Edits a member; returns a copy as changed (the cache follows when the gateway reports the change).
--- Raises an error when `member` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param member discord.UserResolvable
---@param opts discord.MemberEditOptions
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.GuildMember member
function GuildMemberManager:edit(member, opts, reason)
  local id = self:resolveId(member)
  if id == nil then error("GuildMemberManager:edit: not a member: " .. tostring(member), 2) end
  opts = opts or {}
  local body = {}
  if opts.nick ~= nil then body.nick = opts.nick end
  if opts.roles ~= nil then
    body.roles = json.array(util.map(opts.roles, function(r) return self.guild.roles:resolveId(r) end))
  end
  if opts.mute ~= nil then body.mute = opts.mute == true end
  if opts.deaf ~= nil then body.deaf = opts.deaf == true end
  if opts.channel ~= nil then
    body.channel_id = opts.channel == json.null and json.null or self.client.channels:resolveId(opts.channel)
  end
  if opts.communicationDisabledUntil ~= nil then
    body.communication_disabled_until = isoOrNull(opts.communicationDisabledUntil)
  end
  if opts.flags ~= nil then body.flags = opts.flags end
  -- Changing only its own nickname, the bot may lack Manage Nicknames.
  local path = self:_path(id)
  if self.client.user and id == self.client.user.id and body.nick ~= nil and next(body, next(body)) == nil then
    path = self:_path("@me")
  end
  local data = self.client.rest:patch(path, { body = body, reason = reason or opts.reason })
  local cached = self.cache:get(id)
  if cached then return cached:_clone():_patch(data) end
  return self:_add(data, false)
end

--- Kicks a member from the guild.
--- Raises an error when `user` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param user discord.UserResolvable
---@param reason? string Audit log reason.
function GuildMemberManager:kick(user, reason)
  local id = self:resolveId(user)
  if id == nil then error("GuildMemberManager:kick: not a user: " .. tostring(user), 2) end
  self.client.rest:delete(self:_path(id), { reason = reason })
end

--- Bans a user, member or not.
--- Raises an error when `user` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param user discord.UserResolvable
---@param opts? discord.BanOptions `deleteMessageSeconds` and `reason` are used.
function GuildMemberManager:ban(user, opts)
  opts = opts or {}
  local id = self:resolveId(user)
  if id == nil then error("GuildMemberManager:ban: not a user: " .. tostring(user), 2) end
  local body = {}
  if opts.deleteMessageSeconds ~= nil then body.delete_message_seconds = opts.deleteMessageSeconds end
  self.client.rest:put("/guilds/" .. self.guild.id .. "/bans/" .. id, { body = body, reason = opts.reason })
end

--- Lifts a ban.
--- Raises an error when `user` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param user discord.UserResolvable
---@param reason? string Audit log reason.
function GuildMemberManager:unban(user, reason)
  local id = self:resolveId(user)
  if id == nil then error("GuildMemberManager:unban: not a user: " .. tostring(user), 2) end
  self.client.rest:delete("/guilds/" .. self.guild.id .. "/bans/" .. id, { reason = reason })
end

--- Removes members inactive for `days` (1 to 30, 7 by default), or with `dry` counts them only.
--- Raises an error for bad `days`; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? discord.PruneOptions
---@return integer? pruned The number pruned (or that would be), nil when `count` is false.
function GuildMemberManager:prune(opts)
  opts = opts or {}
  local days = opts.days or 7
  if math.type(days) ~= "integer" or days < 1 or days > 30 then
    error("GuildMemberManager:prune: days must be 1 to 30", 2)
  end
  local roles = opts.roles and util.map(opts.roles, function(r) return self.guild.roles:resolveId(r) end) or nil
  local path = "/guilds/" .. self.guild.id .. "/prune"
  local res
  if opts.dry then
    res = self.client.rest:get(path, { query = { days = days, include_roles = roles and table.concat(roles, ",") } })
  else
    res = self.client.rest:post(path, {
      body = { days = days, compute_prune_count = opts.count ~= false, include_roles = roles and json.array(roles) },
      reason = opts.reason,
    })
  end
  return res and util.nullable(res.pruned)
end

--- Options of `GuildMemberManager:prune`.
---@class discord.PruneOptions
---@field days? integer Inactive for this many days, 1 to 30 (7).
---@field roles? discord.RoleResolvable[] Also prune members with these roles.
---@field dry? boolean Only count.
---@field count? boolean False skips the count (faster on large guilds).
---@field reason? string Audit log reason.

--- Options of `GuildMemberManager:fetch` through the gateway.
---@class discord.FetchMembersOptions
---@field user? discord.UserResolvable|discord.UserResolvable[] These members.
---@field query? string Members whose name starts with it.
---@field limit? integer The most to return.
---@field withPresences? boolean Their presences too (GuildPresences intent).
---@field time? discord.Milliseconds How long to wait for the chunks.

--- Options of `GuildMemberManager:add`.
---@class discord.AddMemberOptions
---@field accessToken string The user's OAuth2 access token with the guilds.join scope.
---@field nick? string The nickname to give (needs ManageNicknames).
---@field roles? discord.RoleResolvable[] The roles to give (needs ManageRoles).
---@field mute? boolean Whether to mute in voice channels (needs MuteMembers).
---@field deaf? boolean Whether to deafen in voice channels (needs DeafenMembers).

-- The member and role paths of addRole/removeRole; both must resolve before anything is sent.
local function rolePath(self, what, user, role)
  local uid = self:resolveId(user)
  if uid == nil then error("GuildMemberManager:" .. what .. ": not a user or member: " .. tostring(user), 3) end
  local rid = self.guild.roles:resolveId(role)
  if rid == nil then error("GuildMemberManager:" .. what .. ": not a role: " .. tostring(role), 3) end
  return self:_path(uid) .. "/roles/" .. rid
end

--- Gives a member a role.
--- Raises an error when `user` or `role` names nothing; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param user discord.UserResolvable
---@param role discord.RoleResolvable
---@param reason? string Audit log reason.
function GuildMemberManager:addRole(user, role, reason)
  self.client.rest:put(rolePath(self, "addRole", user, role), { reason = reason })
end

--- Takes a role from a member.
--- Raises an error when `user` or `role` names nothing; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param user discord.UserResolvable
---@param role discord.RoleResolvable
---@param reason? string Audit log reason.
function GuildMemberManager:removeRole(user, role, reason)
  self.client.rest:delete(rolePath(self, "removeRole", user, role), { reason = reason })
end

--- Edits the bot's own member of this guild; false for `avatar` or `banner` clears it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts {nick?: string, bio?: string, avatar?: discord.ImageSource|false, banner?: discord.ImageSource|false}
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.GuildMember me
function GuildMemberManager:editMe(opts, reason)
  opts = opts or {}
  local body = { nick = opts.nick, bio = opts.bio }
  for _, key in ipairs({ "avatar", "banner" }) do
    if opts[key] == false then
      body[key] = json.null
    elseif opts[key] ~= nil then
      body[key] = util.imageData(opts[key])
    end
  end
  local data = self.client.rest:patch(self:_path("@me"), { body = body, reason = reason or opts.reason })
  return self:_add(data)
end

--- Adds a user to the guild with their OAuth2 token.
--- Raises an error when `user` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param user discord.UserResolvable
---@param opts discord.AddMemberOptions
---@return discord.GuildMember? member Nil when the user was a member already.
function GuildMemberManager:add(user, opts)
  opts = opts or {}
  local id = self.client.users:resolveId(user)
  if id == nil then error("GuildMemberManager:add: not a user: " .. tostring(user), 2) end
  local body = { access_token = opts.accessToken, nick = opts.nick, mute = opts.mute, deaf = opts.deaf }
  if opts.roles then
    body.roles = json.array(util.map(opts.roles, function(r) return self.guild.roles:resolveId(r) end))
  end
  local data = self.client.rest:put(self:_path(id), { body = body })
  return data and self:_add(data) or nil
end

-- Gateway events -----------------------------------------------------------------------------------------

local handlers = base.handlers

handlers.GUILD_MEMBER_ADD = function(client, packet)
  local d = packet.d
  local guild = base.guildOf(client, d)
  if not guild then return end
  local member = guild.members:_add(d)
  if guild.memberCount then guild.memberCount = guild.memberCount + 1 end
  client:emit("guildMemberAdd", member)
end

handlers.GUILD_MEMBER_UPDATE = function(client, packet)
  local d = packet.d
  local guild = base.guildOf(client, d)
  if not guild or not d.user then return end
  base.patchUser(client, d.user)
  local old = base.clone(base.get(guild.members.cache, d.user.id))
  if not old and base.partials().enabled(client, "GuildMember") then
    old = guild.members:_add({ user = d.user }, false)
  end
  local member = guild.members:_add(d)
  if old then client:emit("guildMemberUpdate", old, member) end
end

handlers.GUILD_MEMBER_REMOVE = function(client, packet)
  local d = packet.d
  local guild = base.guildOf(client, d)
  if not guild or not d.user then return end
  local member = base.get(guild.members.cache, d.user.id)
  guild.members:_remove(d.user.id)
  if guild.memberCount then guild.memberCount = guild.memberCount - 1 end
  if member then client:emit("guildMemberRemove", member) end
end

handlers.GUILD_MEMBERS_CHUNK = function(client, packet)
  local d = packet.d
  local guild = base.guildOf(client, d)
  if not guild then return end
  local manager = guild.members
  local addByKey = manager._addByKey
  -- The chunk's collection is filled as lists, not by a call for each of a thousand members.
  local ids, byId = {}, {}
  for _, m in ipairs(d.members or {}) do
    local user = m.user
    local id = type(user) == "table" and user.id
    local member
    if id then
      member = addByKey(manager, id, m)
    else
      member = manager:_add(m)
      id = member.id
    end
    if byId[id] == nil then ids[#ids + 1] = id end
    byId[id] = member
  end
  local members = require("discord.collection").over(ids, byId)
  client.ws:_chunkArrived(d, members)
  client:emit("guildMembersChunk", members, guild, {
    index = d.chunk_index, count = d.chunk_count, nonce = d.nonce, notFound = d.not_found,
  })
end

return M
