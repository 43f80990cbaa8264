-- Users: names, avatars and the DM channel.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

local User = util.class("User", Base)
M.User = User

local FIELDS = {
  username = "username",
  global_name = "globalName",
  discriminator = "discriminator",
  avatar = "avatar",
  banner = "banner",
  accent_color = "accentColor",
  avatar_decoration_data = "avatarDecorationData",
  premium_type = "premiumType",
  email = "email",
  verified = "verified",
  mfa_enabled = "mfaEnabled",
  locale = "locale",
}

-- The nameplate and the server tag shown beside the name.
local NESTED = { collectibles = "collectibles", primary_guild = "primaryGuild" }

-- Held only when true: most of the users a bot caches are neither.
User.bot = false
User.system = false

function User:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self:_patch(data)
end

function User:_patch(data)
  self:_copy(data, FIELDS)
  self:_copyNested(data, NESTED)
  -- The bot's own user carries `flags`; others only their public flags.
  self:_flags(data, data.public_flags == nil and "flags" or "public_flags", "UserFlagsBitField")
  if data.bot ~= nil then self.bot = data.bot == true or nil end
  if data.system ~= nil then self.system = data.system == true or nil end
  return self
end

--- A user known only by ID (from a mention or a removal event) is partial.
User.getters.partial = function(self) return self.username == nil end

--- "name" for migrated users, "name#1234" for the others.
User.getters.tag = function(self)
  if self.username == nil then return nil end
  if self.discriminator == nil or self.discriminator == "0" then return self.username end
  return self.username .. "#" .. self.discriminator
end

User.getters.displayName = function(self) return self.globalName or self.username end

User.getters.createdTimestamp = function(self)
  return require("discord.snowflake").timestamp(self.id)
end

User.getters.hexAccentColor = function(self)
  if self.accentColor == nil then return nil end
  return string.format("#%06x", self.accentColor)
end

User.getters.defaultAvatarURL = function(self)
  local cdn = require("discord.cdn")
  return cdn.defaultAvatar(cdn.defaultAvatarIndex(self.id, self.discriminator))
end

--- The cached DM channel with this user, if any.
User.getters.dmChannel = function(self)
  local channels = self.client and self.client.channels
  if not channels then return nil end
  return channels.cache:find(function(c) return c.recipientId == self.id and c.type == 1 end)
end

--- `opts`: {size=, extension=, forceStatic=}; nil when the user has no avatar.
function User:avatarURL(opts)
  if self.avatar == nil then return nil end
  return require("discord.cdn").avatar(self.id, self.avatar, opts)
end

function User:displayAvatarURL(opts)
  return self:avatarURL(opts) or self.defaultAvatarURL
end

function User:bannerURL(opts)
  if self.banner == nil then return nil end
  return require("discord.cdn").banner(self.id, self.banner, opts)
end

--- (B) Opens (or returns the cached) DM channel.
function User:createDM(force)
  return self.client.users:createDM(self, { force = force })
end

--- (B) Closes the DM channel.
function User:deleteDM()
  return self.client.users:deleteDM(self)
end

--- (B) Sends a direct message; takes what TextChannel:send takes.
function User:send(options)
  return self:createDM():send(options)
end

--- (B) Fetches the user again.
function User:fetch(force)
  return self.client.users:fetch(self.id, { force = force ~= false })
end

function User:equals(other)
  return other ~= nil and other.id == self.id and other.username == self.username
    and other.globalName == self.globalName and other.avatar == self.avatar and other.bot == self.bot
end

function User:toJSON()
  local out = Base.toJSON(self)
  out.bot, out.system = self.bot, self.system
  return out
end

function User:toString()
  return "<@" .. self.id .. ">"
end
User.__tostring = User.toString

return M
