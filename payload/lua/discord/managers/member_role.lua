-- The roles of one member: a view of the guild's roles, and add, remove and set.
local util = require("discord.util")
local json = require("json")
local base = require("discord.managers.base")

local M = {}

local GuildMemberRoleManager = util.class("GuildMemberRoleManager", base.DataManager)
M.GuildMemberRoleManager = GuildMemberRoleManager

--- Made by the member.
---@private
---@param member discord.GuildMember
function GuildMemberRoleManager:init(member)
  base.DataManager.init(self, member.client, require("discord.role").Role)
  self.member = member
  self.guild = member.guild
end

--- The member's cached roles by ID, @everyone included (read-only).
---@return discord.Collection roles
GuildMemberRoleManager.getters.cache = function(self)
  local roles = self.guild.roles
  local out = require("discord.collection").Collection()
  local everyone = roles.cache:get(self.guild.id)
  if everyone then out:set(everyone.id, everyone) end
  for _, id in ipairs(self.member._roles) do
    local r = roles.cache:get(id)
    if r then out:set(id, r) end
  end
  return out
end

local function highestWhere(self, pred)
  local Role = self.holds
  local best
  for _, r in self.cache:iter() do
    if pred(r) and (best == nil or Role.comparePositions(r, best) > 0) then best = r end
  end
  return best
end

--- The member's highest role by position (@everyone when it has none) (read-only).
---@return discord.Role? role
GuildMemberRoleManager.getters.highest = function(self)
  return highestWhere(self, function() return true end)
end

--- The highest role that sets the name colour (read-only).
---@return discord.Role? role
GuildMemberRoleManager.getters.color = function(self)
  return highestWhere(self, function(r) return (r.color or 0) ~= 0 end)
end

--- The highest role shown separately in the member list (read-only).
---@return discord.Role? role
GuildMemberRoleManager.getters.hoist = function(self)
  return highestWhere(self, function(r) return r.hoist == true end)
end

--- The highest role with an icon or a Unicode emoji (read-only).
---@return discord.Role? role
GuildMemberRoleManager.getters.icon = function(self)
  return highestWhere(self, function(r) return r.icon ~= nil or r.unicodeEmoji ~= nil end)
end

--- The role Discord manages for this bot member, nil for humans (read-only).
---@return discord.Role? role
GuildMemberRoleManager.getters.botRole = function(self)
  if not self.member.user.bot then return nil end
  return self.cache:find(function(r) return r.tags ~= nil and r.tags.botId == self.member.id end)
end

--- The guild's booster role when the member has it (read-only).
---@return discord.Role? role
GuildMemberRoleManager.getters.premiumSubscriberRole = function(self)
  return self.cache:find(function(r) return r.tags ~= nil and r.tags.premiumSubscriberRole end)
end

--- The ID of a role, a role mention, "@everyone" or an ID.
---@param x discord.RoleResolvable
---@return discord.Snowflake? id
function GuildMemberRoleManager:resolveId(x)
  return self.guild.roles:resolveId(x)
end

--- Whether the member has the role (@everyone always).
---@param role discord.RoleResolvable
---@return boolean has
function GuildMemberRoleManager:has(role)
  local id = self:resolveId(role)
  return id == self.guild.id or util.contains(self.member._roles, id)
end

local function idList(self, roles, what)
  if type(roles) == "table" and type(roles.keys) == "function" and type(roles.size) == "number" then
    roles = roles:keys()
  elseif type(roles) ~= "table" or util.isClass(getmetatable(roles)) then
    roles = { roles }
  end
  local out = {}
  for _, r in ipairs(roles) do
    local id = self:resolveId(r)
    if id == nil or not self.guild.roles.cache:has(id) then
      error("GuildMemberRoleManager:" .. what .. ": unknown role " .. tostring(r), 3)
    end
    out[#out + 1] = id
  end
  return out
end

-- The member as it will be after the change; the cached member changes when the gateway says so.
local function withRoles(self, ids)
  local clone = self.member:_clone()
  clone._roles = ids
  return clone
end

--- Gives the member one role or several; returns a copy of the member with its new roles.
--- Raises an error for a role not in the guild's cache; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param roles discord.RoleResolvable|discord.RoleResolvable[]|discord.Collection
---@param reason? string Audit log reason.
---@return discord.GuildMember member
function GuildMemberRoleManager:add(roles, reason)
  local ids = idList(self, roles, "add")
  local current = self.member._roles
  if #ids == 1 then
    local path = "/guilds/" .. self.guild.id .. "/members/" .. self.member.id .. "/roles/" .. ids[1]
    self.client.rest:put(path, { reason = reason })
  else
    local all = util.map(current, function(id) return id end)
    for _, id in ipairs(ids) do
      if not util.contains(all, id) then all[#all + 1] = id end
    end
    return self:set(all, reason)
  end
  local after = util.map(current, function(id) return id end)
  if not util.contains(after, ids[1]) then after[#after + 1] = ids[1] end
  return withRoles(self, after)
end

--- Takes one role or several from the member; returns a copy of the member with its new roles.
--- Raises an error for a role not in the guild's cache; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param roles discord.RoleResolvable|discord.RoleResolvable[]|discord.Collection
---@param reason? string Audit log reason.
---@return discord.GuildMember member
function GuildMemberRoleManager:remove(roles, reason)
  local ids = idList(self, roles, "remove")
  local drop = util.set(ids)
  local after = util.filter(self.member._roles, function(id) return not drop[id] end)
  if #ids == 1 then
    local path = "/guilds/" .. self.guild.id .. "/members/" .. self.member.id .. "/roles/" .. ids[1]
    self.client.rest:delete(path, { reason = reason })
    return withRoles(self, after)
  end
  return self:set(after, reason)
end

--- Replaces all of the member's roles.
--- Raises an error for a role not in the guild's cache; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param roles discord.RoleResolvable|discord.RoleResolvable[]|discord.Collection
---@param reason? string Audit log reason.
---@return discord.GuildMember member
function GuildMemberRoleManager:set(roles, reason)
  local ids = idList(self, roles, "set")
  return self.guild.members:edit(self.member, { roles = json.array(ids) }, reason)
end

return M
