-- Users: names, avatars and the DM channel.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

---@type discord.User
local User = util.class("User", Base)
User.__fields = 4
M.User = User

local FIELDS = {
  username = "username",
  global_name = "globalName",
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

-- Held only when they differ: most of the users a bot caches are neither bots nor system users, have no
-- discriminator and no public flags, and share their client.
User.bot = false
User.system = false
local TRUE = { bot = "bot", system = "system" }
User.discriminator = "0"
Base._sparseFlagsOf(User, "UserFlagsBitField")

local classOfClient = util.sharingBy(User, "client")

local null = require("json").null
local rawget = rawget

-- Most events repeat the user as cached: reading the payload is cheaper than writing it all again. Keys the
-- user does not copy change nothing.
local sameFields = Base._comparer(FIELDS, NESTED)

local function unchanged(self, data)
  if not sameFields(self, data) then return false end
  -- The bot's own user carries `flags`; others only their public flags.
  local v = data.public_flags
  if v == nil then v = data.flags end
  if v ~= nil then
    local flags = rawget(self, "flags")
    if (flags and flags.bitfield or 0) ~= v then return false end
  end
  v = data.discriminator
  if v ~= nil and (rawget(self, "discriminator") or "0") ~= v then return false end
  v = data.bot
  if v ~= nil and (rawget(self, "bot") == true) ~= (v == true) then return false end
  v = data.system
  return v == nil or (rawget(self, "system") == true) == (v == true)
end

--- Whether patching with `data` would change nothing.
---@private
---@param data table Raw user object.
---@return boolean
function User:_unchanged(data)
  return unchanged(self, data)
end

-- Called as functions: a method is found through the class's index function, and every new user is patched.
local setFlags = Base._sparseFlags

local copyFields, copyNested, copyTrue = Base._copier(FIELDS), Base._nestedCopier(NESTED), Base._trueCopier(TRUE)

-- Copies the payload's fields; a new user is filled without first being compared with it.
local function fill(self, data)
  copyFields(self, data)
  copyNested(self, data)
  -- The bot's own user carries `flags`; others only their public flags.
  setFlags(self, data, data.public_flags == nil and "flags" or "public_flags", "UserFlagsBitField")
  local discriminator = data.discriminator
  if discriminator ~= nil then
    self.discriminator = discriminator ~= "0" and discriminator ~= null and discriminator or nil
  end
  copyTrue(self, data)
  return self
end

function User:_patch(data)
  if unchanged(self, data) then return self end
  return fill(self, data)
end

--- Builds a user from API data; the user manager makes them.
---@param client discord.Client
---@param data table Raw user object.
function User:init(client, data)
  if client ~= nil and getmetatable(self) == User then
    setmetatable(self, classOfClient(client))
    self.id = data.id
    return fill(self, data)
  end
  -- Subclasses (the bot's own user) patch in their own way.
  Base.init(self, client)
  self.id = data.id
  self:_patch(data)
end

--- True for a user known only by ID (from a mention or a removal event).
---@return boolean
User.getters.partial = function(self) return self.username == nil end

--- "name" for migrated users, "name#1234" for the others.
---@return string|nil
User.getters.tag = function(self)
  if self.username == nil then return nil end
  if self.discriminator == nil or self.discriminator == "0" then return self.username end
  return self.username .. "#" .. self.discriminator
end

--- The global display name, else the username.
---@return string|nil
User.getters.displayName = function(self) return self.globalName or self.username end

--- When the account was created, from its ID.
---@return discord.Milliseconds
User.getters.createdTimestamp = function(self)
  return require("discord.snowflake").timestamp(self.id)
end

--- The profile accent colour as "#rrggbb", when known.
---@return string|nil
User.getters.hexAccentColor = function(self)
  if self.accentColor == nil then return nil end
  return string.format("#%06x", self.accentColor)
end

--- URL of the default avatar Discord shows without a custom one.
---@return string
User.getters.defaultAvatarURL = function(self)
  local cdn = require("discord.cdn")
  return cdn.defaultAvatar(cdn.defaultAvatarIndex(self.id, self.discriminator))
end

--- The cached DM channel with this user, if any.
---@return discord.DMChannel|nil
User.getters.dmChannel = function(self)
  local channels = self.client and self.client.channels
  if not channels then return nil end
  return channels.cache:find(function(c) return c.recipientId == self.id and c.type == 1 end)
end

--- URL of the user's avatar; nil when the user has none.
---@param opts? discord.ImageURLOptions
---@return string|nil
function User:avatarURL(opts)
  if self.avatar == nil then return nil end
  return require("discord.cdn").avatar(self.id, self.avatar, opts)
end

--- The avatar URL, else the default avatar's.
---@param opts? discord.ImageURLOptions
---@return string
function User:displayAvatarURL(opts)
  return self:avatarURL(opts) or self.defaultAvatarURL
end

--- URL of the profile banner; nil when none is known (fetch the user to get it).
---@param opts? discord.ImageURLOptions
---@return string|nil
function User:bannerURL(opts)
  if self.banner == nil then return nil end
  return require("discord.cdn").banner(self.id, self.banner, opts)
end

--- Opens (or returns the cached) DM channel.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param force? boolean Asks the API even when a DM channel is cached.
---@return discord.DMChannel
function User:createDM(force)
  return self.client.users:createDM(self, { force = force })
end

--- Closes the DM channel.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.DMChannel|nil
function User:deleteDM()
  return self.client.users:deleteDM(self)
end

--- Sends a direct message; takes what `send` takes.
--- Raises `discord.DiscordAPIError` (50007 when the user does not accept DMs).
---@async
---@param options string|discord.MessageOptions
---@return discord.Message
function User:send(options)
  return self:createDM():send(options)
end

--- Fetches the user again from the API.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param force? boolean False lets the cached one answer (true).
---@return discord.User
function User:fetch(force)
  return self.client.users:fetch(self.id, { force = force ~= false })
end

--- Whether `other` is this user with the same names, avatar and bot flag.
---@param other? discord.User
---@return boolean
function User:equals(other)
  return other ~= nil and other.id == self.id and other.username == self.username
    and other.globalName == self.globalName and other.avatar == self.avatar and other.bot == self.bot
end

--- The user as API data, `bot` and `system` included.
---@return table
function User:toJSON()
  local out = Base.toJSON(self)
  out.bot, out.system = self.bot, self.system
  out.discriminator, out.flags = self.discriminator, self.flags:toJSON()
  return out
end

--- The mention "<@id>" (also `tostring(user)`).
---@return string
function User:toString()
  return "<@" .. self.id .. ">"
end
User.__tostring = User.toString

return M
