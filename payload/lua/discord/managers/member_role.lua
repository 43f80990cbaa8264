-- The roles of one member: a view of the guild's roles, and add, remove and set.
local util = require("discord.util")
local json = require("json")
local base = require("discord.managers.base")

local M = {}

local GuildMemberRoleManager = util.class("GuildMemberRoleManager", base.DataManager)
M.GuildMemberRoleManager = GuildMemberRoleManager

function GuildMemberRoleManager:init(member)
  base.DataManager.init(self, member.client, require("discord.role").Role)
  self.member = member
  self.guild = member.guild
end

--- The member's cached roles, @everyone included.
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

GuildMemberRoleManager.getters.highest = function(self)
  return highestWhere(self, function() return true end)
end

--- The highest role that sets the name colour.
GuildMemberRoleManager.getters.color = function(self)
  return highestWhere(self, function(r) return (r.color or 0) ~= 0 end)
end

--- The highest role shown separately in the member list.
GuildMemberRoleManager.getters.hoist = function(self)
  return highestWhere(self, function(r) return r.hoist == true end)
end

GuildMemberRoleManager.getters.icon = function(self)
  return highestWhere(self, function(r) return r.icon ~= nil or r.unicodeEmoji ~= nil end)
end

GuildMemberRoleManager.getters.botRole = function(self)
  if not self.member.user.bot then return nil end
  return self.cache:find(function(r) return r.tags ~= nil and r.tags.botId == self.member.id end)
end

GuildMemberRoleManager.getters.premiumSubscriberRole = function(self)
  return self.cache:find(function(r) return r.tags ~= nil and r.tags.premiumSubscriberRole end)
end

function GuildMemberRoleManager:resolveId(x)
  return self.guild.roles:resolveId(x)
end

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

--- (B) Gives the member one role or several; returns the member with its new roles.
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

--- (B) Takes one role or several from the member; returns the member with its new roles.
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

--- (B) Replaces all of the member's roles.
function GuildMemberRoleManager:set(roles, reason)
  local ids = idList(self, roles, "set")
  return self.guild.members:edit(self.member, { roles = json.array(ids) }, reason)
end

return M
