-- A permission overwrite of a channel: the bits one role or member is allowed or denied there.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

local OverwriteType = { Role = 0, Member = 1 }
--- Whom a permission overwrite is for: Role (0) or Member (1); the values of `enums.OverwriteType`.
---@type table<string, integer>
M.OverwriteType = OverwriteType

local function Permissions()
  return require("discord.bitfield").PermissionsBitField
end

local PermissionOverwrites = util.class("PermissionOverwrites", Base)
PermissionOverwrites.__fields = 6
M.PermissionOverwrites = PermissionOverwrites

--- `PermissionOverwrites(client, data, channel)`: `data` as the API sends it.
---@private
---@param client discord.Client
---@param data table
---@param channel discord.GuildChannel
function PermissionOverwrites:init(client, data, channel)
  Base.init(self, client)
  self.channel = channel
  self.id = data.id
  self:_patch(data)
end

function PermissionOverwrites:_patch(data)
  local P = Permissions()
  if data.type ~= nil then self.type = data.type end
  if data.allow ~= nil then self.allow = P(data.allow):freeze() end
  if data.deny ~= nil then self.deny = P(data.deny):freeze() end
  self.allow = self.allow or P(0):freeze()
  self.deny = self.deny or P(0):freeze()
  return self
end

--- Changes some permissions and keeps the others: true allows, false denies, json.null resets a flag.
--- Raises an error for an unknown permission name; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param options table<string, boolean|table> `{SendMessages = false, ViewChannel = true, AttachFiles = json.null}`.
---@param reason? string Audit log reason.
---@return discord.PermissionOverwrites overwrite
function PermissionOverwrites:edit(options, reason)
  return self.channel.permissionOverwrites:edit(self.id, options, { reason = reason, type = self.type })
end

--- Removes the overwrite; returns it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.PermissionOverwrites overwrite
function PermissionOverwrites:delete(reason)
  self.channel.permissionOverwrites:delete(self.id, reason)
  return self
end

--- The overwrite in the API's form: id, type, allow and deny as strings.
---@return table json
function PermissionOverwrites:toJSON()
  return { id = self.id, type = self.type, allow = self.allow:toJSON(), deny = self.deny:toJSON() }
end

--- `{Flag = true|false|json.null}` applied to allow and deny bits (`initial` gives the starting ones).
--- Raises an error for an unknown permission or a value other than true, false or json.null.
---@param options table<string, boolean|table>
---@param initial? {allow?: any, deny?: any}
---@return integer allow
---@return integer deny
function M.resolveOverwriteOptions(options, initial)
  if type(options) ~= "table" then error("permission overwrite options must be a table {Flag = true|false}", 3) end
  local P = Permissions()
  local allow = initial and initial.allow and P:resolve(initial.allow) or 0
  local deny = initial and initial.deny and P:resolve(initial.deny) or 0
  for name, value in pairs(options) do
    local bit = P.Flags[name]
    if bit == nil then error("unknown permission " .. tostring(name), 3) end
    if value == true then
      allow, deny = allow | bit, deny & ~bit
    elseif value == false then
      allow, deny = allow & ~bit, deny | bit
    elseif value == json.null then
      allow, deny = allow & ~bit, deny & ~bit
    else
      error("permission " .. name .. " must be true, false or json.null", 3)
    end
  end
  return allow, deny
end

--- The overwrite type of a target: members and users are 1, roles 0; IDs are looked up in the guild's cache.
---@param target any A role, member, user, overwrite or ID.
---@param guild? discord.Guild
---@return integer? type 0 role, 1 member; nil when it cannot tell.
function M.typeOf(target, guild)
  local cls = util.className(target)
  if cls == "Role" then return OverwriteType.Role end
  if cls == "GuildMember" or cls == "User" or cls == "ClientUser" then return OverwriteType.Member end
  if type(target) == "table" and target.type ~= nil then return target.type end
  local id = type(target) == "table" and target.id or target
  if guild and guild.roles.cache:has(tostring(id)) then return OverwriteType.Role end
  if guild and guild.members.cache:has(tostring(id)) then return OverwriteType.Member end
  return nil
end

return M
