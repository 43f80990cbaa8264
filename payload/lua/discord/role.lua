-- Guild roles: permissions, colours, tags and their order.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

---@type discord.Role
local Role = util.class("Role", Base)
Role.__fields = 6
M.Role = Role

local FIELDS = {
  name = "name",
  color = "color",
  icon = "icon",
  unicode_emoji = "unicodeEmoji",
  position = "rawPosition",
}

-- A guild's roles are many and alike: these are held only when true, colour and flags only when set,
-- gradient colours only when there is a gradient, and the client is the guild's.
local BOOLEANS = { "hoist", "managed", "mentionable" }
local TRUE = {}
for _, k in ipairs(BOOLEANS) do TRUE[k] = k end
Role.hoist, Role.managed, Role.mentionable = false, false, false
Role.color = 0
Role.getters.client = function(self) return self.guild.client end
Base._sparseFlagsOf(Role, "RoleFlagsBitField")
Role.getters.colors = function(self)
  if rawget(self, "_hasColors") then return { primaryColor = self.color } end
end

--- Builds a role from API data; the guild's role manager makes them.
---@param client discord.Client
---@param data table Raw role object.
---@param guild discord.Guild
function Role:init(client, data, guild)
  if not guild then Base.init(self, client) end
  self.guild = guild
  self.id = data.id
  self:_patch(data)
end

local copyFields, copyTrue = Base._copier(FIELDS), Base._trueCopier(TRUE)

function Role:_patch(data)
  copyFields(self, data)
  copyTrue(self, data)
  self:_sparseFlags(data, "flags", "RoleFlagsBitField")
  if data.permissions ~= nil then
    local PermissionsBitField = require("discord.bitfield").PermissionsBitField
    self.permissions = PermissionsBitField:shared(data.permissions)
  end
  local c = data.colors
  if c ~= nil then
    local primary = util.nullable(c.primary_color)
    local secondary, tertiary = util.nullable(c.secondary_color), util.nullable(c.tertiary_color)
    if secondary == nil and tertiary == nil then
      self.colors, self._hasColors = nil, true
    else
      self.colors = { primaryColor = primary, secondaryColor = secondary, tertiaryColor = tertiary }
    end
    self.color = primary or self.color
  end
  if rawget(self, "color") == 0 then self.color = nil end
  if data.tags ~= nil then
    -- Tags without a value are sent as null when true, so presence is what counts.
    local t = data.tags
    self.tags = {
      botId = t.bot_id,
      integrationId = t.integration_id,
      premiumSubscriberRole = t.premium_subscriber ~= nil or nil,
      subscriptionListingId = t.subscription_listing_id,
      availableForPurchase = t.available_for_purchase ~= nil or nil,
      guildConnections = t.guild_connections ~= nil or nil,
    }
  end
  return self
end

--- The guild's ID.
---@return discord.Snowflake|nil
Role.getters.guildId = function(self) return self.guild and self.guild.id end
--- When the role was created, from its ID.
---@return discord.Milliseconds
Role.getters.createdTimestamp = function(self) return require("discord.snowflake").timestamp(self.id) end
--- The colour as "#rrggbb".
---@return string
Role.getters.hexColor = function(self) return string.format("#%06x", self.color or 0) end

--- Position among the guild's cached roles, 0 for @everyone; `rawPosition` is what the API sent.
---@return integer
Role.getters.position = function(self)
  if not self.guild then return self.rawPosition end
  local n = 0
  for _, r in self.guild.roles.cache:iter() do
    if r ~= self and Role.comparePositions(self, r) > 0 then n = n + 1 end
  end
  return n
end

--- Cached members that have this role (every member for @everyone).
---@return discord.Collection
Role.getters.members = function(self)
  local guild = self.guild
  if self.id == guild.id then return guild.members.cache:clone() end
  return guild.members.cache:filter(function(m) return m._roles ~= nil and util.contains(m._roles, self.id) end)
end

--- The bot can edit a role below its highest role when it has Manage Roles.
---@return boolean
Role.getters.editable = function(self)
  if self.managed then return false end
  local me = self.guild.members.me
  if not me or not me.permissions:has("ManageRoles") then return false end
  return Role.comparePositions(me.roles.highest, self) > 0
end

--- > 0 when `a` is above `b`, < 0 when below; equal positions put the older role higher, as Discord does.
---@param a discord.Role
---@param b discord.Role
---@return integer
function Role.comparePositions(a, b)
  if a.rawPosition ~= b.rawPosition then return (a.rawPosition or 0) - (b.rawPosition or 0) end
  return require("discord.snowflake").compare(b.id, a.id)
end

--- > 0 when this role is above `other`, < 0 when below, 0 for the same.
--- Raises a string error for an unknown role.
---@param other discord.RoleResolvable
---@return integer
function Role:comparePositionTo(other)
  local r = self.guild.roles:resolve(other)
  if not r then error("Role:comparePositionTo: unknown role " .. tostring(other), 2) end
  return Role.comparePositions(self, r)
end

--- The role's permissions in a channel, after the channel's overwrites for it.
--- Raises a string error when `channel` is not a guild channel.
---@param channel discord.ChannelResolvable
---@param checkAdmin? boolean False ignores Administrator (true).
---@return discord.PermissionsBitField
function Role:permissionsIn(channel, checkAdmin)
  channel = self.client.channels:resolve(channel)
  if not channel or not channel.rolePermissions then error("Role:permissionsIn: not a guild channel", 2) end
  return channel:rolePermissions(self, checkAdmin)
end

--- URL of the role's icon; nil when it has none.
---@param opts? discord.ImageURLOptions
---@return string|nil
function Role:iconURL(opts)
  if self.icon == nil then return nil end
  return require("discord.cdn").roleIcon(self.id, self.icon, opts)
end

--- Edits the role: name, color, colors, hoist, permissions, mentionable, icon, unicodeEmoji, position.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.RoleOptions
---@param reason? string Audit log reason.
---@return discord.Role
function Role:edit(opts, reason)
  return self.guild.roles:edit(self, opts, reason)
end

--- Renames the role.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param name string
---@param reason? string Audit log reason.
---@return discord.Role
function Role:setName(name, reason) return self:edit({ name = name }, reason) end
--- Sets the role's colour.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param color discord.ColorResolvable
---@param reason? string Audit log reason.
---@return discord.Role
function Role:setColor(color, reason) return self:edit({ color = color }, reason) end
--- Shows the role's members apart in the member list (true by default), or not.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param hoist? boolean
---@param reason? string Audit log reason.
---@return discord.Role
function Role:setHoist(hoist, reason) return self:edit({ hoist = hoist ~= false }, reason) end
--- Lets everyone mention the role (true by default), or not.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param v? boolean
---@param reason? string Audit log reason.
---@return discord.Role
function Role:setMentionable(v, reason) return self:edit({ mentionable = v ~= false }, reason) end
--- Sets the role's guild-wide permissions.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param perms discord.PermissionResolvable
---@param reason? string Audit log reason.
---@return discord.Role
function Role:setPermissions(perms, reason) return self:edit({ permissions = perms }, reason) end
--- Sets the role icon (image bytes or data URI); nil removes it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param icon string|nil
---@param reason? string Audit log reason.
---@return discord.Role
function Role:setIcon(icon, reason) return self:edit({ icon = icon or false }, reason) end
--- Sets a Unicode emoji as the role icon; nil removes it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param emoji string|nil
---@param reason? string Audit log reason.
---@return discord.Role
function Role:setUnicodeEmoji(emoji, reason) return self:edit({ unicodeEmoji = emoji or false }, reason) end
--- Sets the gradient colours of the role.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param colors {primaryColor: discord.ColorResolvable, secondaryColor?: any, tertiaryColor?: any} Up to three colours.
---@param reason? string Audit log reason.
---@return discord.Role
function Role:setColors(colors, reason) return self:edit({ colors = colors }, reason) end

--- Moves the role to a position among the guild's roles.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param position integer
---@param reason? string Audit log reason.
---@return discord.Role self
function Role:setPosition(position, reason)
  self.guild.roles:setPosition(self, position, reason)
  return self
end

--- Deletes the role.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.Role self
function Role:delete(reason)
  self.guild.roles:delete(self, reason)
  return self
end

--- Whether `other` is this role with the same name, colour, hoist, position, mentionable and managed.
---@param other? discord.Role
---@return boolean
function Role:equals(other)
  return other ~= nil and self.id == other.id and self.name == other.name and self.color == other.color
    and self.hoist == other.hoist and self.rawPosition == other.rawPosition and self.mentionable == other.mentionable
    and self.managed == other.managed
    and (self.permissions and self.permissions.bitfield) == (other.permissions and other.permissions.bitfield)
end

--- The mention "<@&id>", or "@everyone" (also `tostring(role)`).
---@return string
function Role:toString()
  if self.guild and self.id == self.guild.id then return "@everyone" end
  return "<@&" .. self.id .. ">"
end
Role.__tostring = Role.toString

--- The role as API data, its true-only flags included.
---@return table
function Role:toJSON()
  local out = Base.toJSON(self)
  for _, k in ipairs(BOOLEANS) do out[k] = self[k] end
  out.color, out.colors, out.flags = self.color, self.colors, self.flags:toJSON()
  return out
end

return M
