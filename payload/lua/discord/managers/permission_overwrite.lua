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
---@private
---@param channel discord.GuildChannel
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

--- The ID of a role, member, user, message (its author) or an ID: the key of its overwrite.
---@param x any
---@return discord.Snowflake? id
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

--- Replaces every overwrite of the channel; returns the edited channel.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param overwrites (table|discord.PermissionOverwrites)[] Overwrites, or {id=, type=, allow=, deny=} tables.
---@param reason? string Audit log reason.
---@return discord.GuildChannel channel
function PermissionOverwriteManager:set(overwrites, reason)
  local body = require("discord.channel").overwriteBody(overwrites, self.channel.guild)
  return self.channel:edit({ permissionOverwrites = body }, reason)
end

--- Creates (or replaces) the overwrite of a role or member from `{FlagName = true|false}`.
--- Raises an error when the target's kind is unknown (give `opts.type`); `discord.DiscordAPIError` when refused.
---@async
---@param target any A role, member, user or ID.
---@param options table<string, boolean|nil> true allows, false denies the flag.
---@param opts? {reason?: string, type?: integer} type: 0 role, 1 member.
---@return discord.PermissionOverwrites overwrite
function PermissionOverwriteManager:create(target, options, opts)
  local id = self:resolveId(target)
  if id == nil then error("PermissionOverwriteManager:create: not a role or member: " .. tostring(target), 2) end
  local kind = targetType(self, target, opts)
  local allow, deny = structure().resolveOverwriteOptions(options)
  return put(self, id, kind, allow, deny, opts and opts.reason)
end

--- Changes the given flags of an overwrite and keeps its others (creates it when absent); `upsert` is the same.
--- Raises an error when the target's kind is unknown (give `opts.type`); `discord.DiscordAPIError` when refused.
---@async
---@param target any A role, member, user or ID.
---@param options table<string, boolean|nil> true allows, false denies, nil resets the flag.
---@param opts? {reason?: string, type?: integer} type: 0 role, 1 member.
---@return discord.PermissionOverwrites overwrite
function PermissionOverwriteManager:edit(target, options, opts)
  local id = self:resolveId(target)
  if id == nil then error("PermissionOverwriteManager:edit: not a role or member: " .. tostring(target), 2) end
  local existing = self.cache:get(id)
  local kind = existing and existing.type or targetType(self, target, opts)
  local allow, deny = structure().resolveOverwriteOptions(options, existing and {
    allow = existing.allow.bitfield, deny = existing.deny.bitfield })
  return put(self, id, kind, allow, deny, opts and opts.reason)
end
--- The same as `edit`: changes the given flags of an overwrite, creating it when absent.
---@async
---@param target any A role, member, user or ID.
---@param options table<string, boolean|nil>
---@param opts? {reason?: string, type?: integer}
---@return discord.PermissionOverwrites overwrite
PermissionOverwriteManager.upsert = PermissionOverwriteManager.edit

--- Removes the overwrite of a role or member; returns the channel.
--- Raises an error when `target` names nothing; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param target any A role, member, user or ID.
---@param reason? string Audit log reason.
---@return discord.GuildChannel channel
function PermissionOverwriteManager:delete(target, reason)
  local id = self:resolveId(target)
  if id == nil then error("PermissionOverwriteManager:delete: not a role or member: " .. tostring(target), 2) end
  self.client.rest:delete(path(self, id), { reason = reason })
  self.cache:delete(id)
  return self.channel
end

--- The cached overwrites as the API's list.
---@return table[] list
function PermissionOverwriteManager:toJSON()
  return json.array(util.map(self.cache:values(), function(o) return o:toJSON() end))
end

return M
