-- The permission overwrites of one guild channel: set, create, edit and delete.
local util = require("discord.util")
local json = require("json")
local base = require("discord.managers.base")

local M = {}

local function structure()
  return require("discord.structures.permission_overwrite")
end

local PermissionOverwriteManager = util.class("PermissionOverwriteManager", base.CachingManager)
M.PermissionOverwriteManager = PermissionOverwriteManager

--- `PermissionOverwriteManager(channel)`: its cache holds PermissionOverwrites by role or user ID.
function PermissionOverwriteManager:init(channel)
  self.channel = channel
  base.CachingManager.init(self, channel.client, structure().PermissionOverwrites)
end

function PermissionOverwriteManager:_construct(data)
  return self.holds(self.client, data, self.channel)
end

--- Takes the channel's full list: overwrites missing from it are gone.
function PermissionOverwriteManager:_patchAll(list)
  local seen = {}
  for _, o in ipairs(list) do
    seen[o.id] = true
    self:_add(o)
  end
  for _, id in ipairs(self.cache:keys()) do
    if not seen[id] then self.cache:delete(id) end
  end
end

-- Roles, members, users and IDs name their overwrite.
function PermissionOverwriteManager:resolveId(x)
  local cls = util.className(x)
  if cls == "Message" then return x.author and x.author.id end
  return base.CachingManager.resolveId(self, x)
end

local function path(self, id)
  return "/channels/" .. self.channel.id .. "/permissions/" .. id
end

local function targetType(self, target, opts)
  local t = opts and opts.type
  if t == nil then t = structure().typeOf(target, self.channel.guild) end
  if t ~= 0 and t ~= 1 then
    error("PermissionOverwriteManager: cannot tell whether " .. tostring(target) .. " is a role or a member; "
      .. "give opts.type (0 role, 1 member)", 4)
  end
  return t
end

-- Sends one overwrite and caches it; the channel update from the gateway confirms it.
local function put(self, id, kind, allow, deny, reason)
  local P = require("discord.bitfield").PermissionsBitField
  local body = { type = kind, allow = P(allow):toJSON(), deny = P(deny):toJSON() }
  self.client.rest:put(path(self, id), { body = body, reason = reason })
  return self:_add({ id = id, type = kind, allow = allow, deny = deny })
end

--- (B) Replaces every overwrite of the channel: a list of {id=, type=, allow=, deny=} or overwrites.
function PermissionOverwriteManager:set(overwrites, reason)
  local body = require("discord.channel").overwriteBody(overwrites, self.channel.guild)
  return self.channel:edit({ permissionOverwrites = body }, reason)
end

--- (B) Creates (or replaces) the overwrite of a role or member from `{Flag = true|false}`.
--- `opts`: {reason=, type=}.
function PermissionOverwriteManager:create(target, options, opts)
  local id = self:resolveId(target)
  if id == nil then error("PermissionOverwriteManager:create: not a role or member: " .. tostring(target), 2) end
  local kind = targetType(self, target, opts)
  local allow, deny = structure().resolveOverwriteOptions(options)
  return put(self, id, kind, allow, deny, opts and opts.reason)
end

--- (B) Changes the given flags of an overwrite and keeps its others (creates it when absent).
function PermissionOverwriteManager:edit(target, options, opts)
  local id = self:resolveId(target)
  if id == nil then error("PermissionOverwriteManager:edit: not a role or member: " .. tostring(target), 2) end
  local existing = self.cache:get(id)
  local kind = existing and existing.type or targetType(self, target, opts)
  local allow, deny = structure().resolveOverwriteOptions(options, existing and {
    allow = existing.allow.bitfield, deny = existing.deny.bitfield })
  return put(self, id, kind, allow, deny, opts and opts.reason)
end
PermissionOverwriteManager.upsert = PermissionOverwriteManager.edit

--- (B) Removes the overwrite of a role or member.
function PermissionOverwriteManager:delete(target, reason)
  local id = self:resolveId(target)
  if id == nil then error("PermissionOverwriteManager:delete: not a role or member: " .. tostring(target), 2) end
  self.client.rest:delete(path(self, id), { reason = reason })
  self.cache:delete(id)
  return self.channel
end

-- A list body for the API from this manager's cache.
function PermissionOverwriteManager:toJSON()
  return json.array(util.map(self.cache:values(), function(o) return o:toJSON() end))
end

return M
