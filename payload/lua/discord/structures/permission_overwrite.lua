-- A permission overwrite of a channel: the bits one role or member is allowed or denied there.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

local OverwriteType = { Role = 0, Member = 1 }
M.OverwriteType = OverwriteType

local function Permissions()
  return require("discord.bitfield").PermissionsBitField
end

local PermissionOverwrites = util.class("PermissionOverwrites", Base)
M.PermissionOverwrites = PermissionOverwrites

--- `PermissionOverwrites(client, data, channel)`: `data` as the API sends it.
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

--- (B) Changes some permissions and keeps the others: `{SendMessages = false, ViewChannel = true,
--- AttachFiles = nil}` (nil, or json.null, returns a permission to the role's default).
function PermissionOverwrites:edit(options, reason)
  return self.channel.permissionOverwrites:edit(self.id, options, { reason = reason, type = self.type })
end

--- (B) Removes the overwrite.
function PermissionOverwrites:delete(reason)
  self.channel.permissionOverwrites:delete(self.id, reason)
  return self
end

function PermissionOverwrites:toJSON()
  return { id = self.id, type = self.type, allow = self.allow:toJSON(), deny = self.deny:toJSON() }
end

--- `{Flag = true|false|nil}` applied to allow and deny bits (`initial` gives the starting ones):
--- true allows, false denies, nil or json.null takes the flag out of both. Returns allow, deny.
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

-- The overwrite type of a target: members and users are 1, roles 0; IDs are looked up in the guild.
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
