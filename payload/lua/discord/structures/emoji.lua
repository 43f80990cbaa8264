-- Emoji kinds: the base emoji (name and ID), a guild's custom emoji with its roles and author, and an
-- application's emoji. Emojis on reactions are discord.structures.reaction's ReactionEmoji.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

--- An emoji: a Unicode character (name only) or a custom emoji (name and ID).
---@class discord.Emoji: discord.Base
---@field id discord.Snowflake? Nil for a Unicode emoji.
---@field name string? The character, or the custom emoji's name.
---@field animated boolean Whether it is animated.
---@field identifier string Reaction routes form: "name:id" ("a:name:id" if animated), or the URL-encoded character.
---@field createdTimestamp discord.Milliseconds? When a custom emoji was made (read-only).
---@field url string? The image address of a custom emoji (read-only).
local Emoji = util.class("Emoji", Base)
M.Emoji = Emoji

--- `Emoji(client, data)` from the API's emoji object.
---@private
---@param client discord.Client
---@param data table
function Emoji:init(client, data)
  Base.init(self, client)
  self.id = util.nullable(data.id)
  self.animated = false
  self:_patch(data)
end

function Emoji:_patch(data)
  if data.name ~= nil then self.name = util.nullable(data.name) end
  if data.animated ~= nil then self.animated = data.animated == true end
  return self
end

Emoji.getters.identifier = function(self)
  if self.id then return (self.animated and "a:" or "") .. (self.name or "_") .. ":" .. self.id end
  return util.urlEncode(self.name or "")
end

Emoji.getters.createdTimestamp = function(self)
  return self.id and require("discord.snowflake").timestamp(self.id) or nil
end

--- The image URL of a custom emoji; nil for a Unicode one.
---@param opts? {size?: integer, extension?: string, animated?: boolean}
---@return string? url
function Emoji:imageURL(opts)
  if not self.id then return nil end
  opts = opts or {}
  if opts.animated == nil then opts = util.mergeDefaults({ animated = self.animated }, opts) end
  return require("discord.cdn").emoji(self.id, opts)
end

Emoji.getters.url = function(self) return self:imageURL() end

--- "<:name:id>" (or "<a:name:id>"), or the character itself (also what tostring gives).
---@return string text
function Emoji:toString()
  if not self.id then return self.name or "" end
  return string.format("<%s:%s:%s>", self.animated and "a" or "", self.name or "_", self.id)
end
Emoji.__tostring = Emoji.toString

--- Plain table: id, name, animated.
---@return table json
function Emoji:toJSON()
  return { id = self.id, name = self.name, animated = self.animated }
end

--- True when `other` is the same emoji with the same fields.
---@param other any
---@return boolean equal
function Emoji:equals(other)
  if type(other) ~= "table" then return false end
  return other.id == self.id and other.name == self.name and (other.animated == true) == self.animated
end

-- Guild emojis ---------------------------------------------------------------------------------------------

--- A guild's custom emoji, with the roles allowed to use it and its author.
---@class discord.GuildEmoji: discord.Emoji
---@field guild discord.Guild The guild it belongs to.
---@field managed boolean? Whether an integration manages it.
---@field available boolean? False when lost boosts made it unusable.
---@field requireColons boolean? Whether it must be typed with colons.
---@field author discord.User? Who uploaded it (after `fetchAuthor`, or when Discord sent it).
---@field roles discord.GuildEmojiRoleManager The roles allowed to use it; all members when empty (read-only).
---@field deletable boolean Whether the bot may delete it (read-only).
local GuildEmoji = util.class("GuildEmoji", Emoji)
M.GuildEmoji = GuildEmoji

--- `GuildEmoji(client, data, guild)`.
---@private
---@param client discord.Client
---@param data table
---@param guild discord.Guild
function GuildEmoji:init(client, data, guild)
  self.guild = guild
  self._roles = {}
  Emoji.init(self, client, data)
end

function GuildEmoji:_patch(data)
  Emoji._patch(self, data)
  self:_copy(data, { managed = "managed", available = "available", require_colons = "requireColons" })
  if data.roles ~= nil then self._roles = util.array(data.roles) end
  if type(data.user) == "table" then self.author = self.client.users:_add(data.user) end
  return self
end

GuildEmoji.getters.roles = function(self)
  return require("discord.managers.emoji_role").GuildEmojiRoleManager(self)
end

GuildEmoji.getters.deletable = function(self)
  local me = self.guild.members and self.guild.members.me
  if self.managed or not me or not me.permissions then return false end
  return me.permissions:has("ManageGuildExpressions")
end

--- Renames the emoji or changes its roles.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.EmojiEditOptions
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.GuildEmoji emoji
function GuildEmoji:edit(opts, reason)
  return self.guild.emojis:edit(self, opts, reason)
end

--- Renames the emoji.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param name string
---@param reason? string Audit log reason.
---@return discord.GuildEmoji emoji
function GuildEmoji:setName(name, reason) return self:edit({ name = name }, reason) end

--- Deletes the emoji; returns it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.GuildEmoji emoji
function GuildEmoji:delete(reason)
  self.guild.emojis:delete(self, reason)
  return self
end

--- The user who uploaded the emoji (needs Manage Expressions).
--- Raises an error for a managed emoji; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.User? author
function GuildEmoji:fetchAuthor()
  return self.guild.emojis:fetchAuthor(self)
end

--- True when `other` is the same emoji with the same fields and roles.
---@param other any
---@return boolean equal
function GuildEmoji:equals(other)
  if not Emoji.equals(self, other) then return false end
  if other.managed ~= self.managed or other.available ~= self.available then return false end
  local a, b = other._roles or {}, self._roles
  if #a ~= #b then return false end
  for i = 1, #a do
    if not util.contains(b, a[i]) then return false end
  end
  return true
end

--- Plain table: the emoji's fields, guildId, roles (IDs) and author (ID).
---@return table json
function GuildEmoji:toJSON()
  local out = Emoji.toJSON(self)
  out.guildId, out.managed, out.available, out.requireColons = self.guild.id, self.managed, self.available,
    self.requireColons
  out.roles = json.array(util.shallowCopy(self._roles))
  out.author = self.author and self.author.id or nil
  return out
end

-- Application emojis ----------------------------------------------------------------------------------------

--- An emoji the application owns, usable by the bot in every guild.
---@class discord.ApplicationEmoji: discord.Emoji
---@field application discord.ClientApplication The application it belongs to.
---@field managed boolean? Whether an integration manages it.
---@field available boolean? Whether it can be used.
---@field requireColons boolean? Whether it must be typed with colons.
---@field author discord.User? Who uploaded it.
local ApplicationEmoji = util.class("ApplicationEmoji", Emoji)
M.ApplicationEmoji = ApplicationEmoji

--- `ApplicationEmoji(client, data, application)`.
---@private
---@param client discord.Client
---@param data table
---@param application discord.ClientApplication
function ApplicationEmoji:init(client, data, application)
  self.application = application
  Emoji.init(self, client, data)
end

function ApplicationEmoji:_patch(data)
  Emoji._patch(self, data)
  self:_copy(data, { managed = "managed", available = "available", require_colons = "requireColons" })
  if type(data.user) == "table" then self.author = self.client.users:_add(data.user) end
  return self
end

local function appEmojis(self)
  return self.client.application.emojis
end

--- Renames the emoji.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.EmojiEditOptions Only `name` is used.
---@return discord.ApplicationEmoji emoji
function ApplicationEmoji:edit(opts) return appEmojis(self):edit(self, opts) end
--- Renames the emoji.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param name string
---@return discord.ApplicationEmoji emoji
function ApplicationEmoji:setName(name) return self:edit({ name = name }) end
--- Deletes the emoji; returns it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.ApplicationEmoji emoji
function ApplicationEmoji:delete()
  appEmojis(self):delete(self)
  return self
end
--- The user who uploaded the emoji.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.User? author
function ApplicationEmoji:fetchAuthor()
  return appEmojis(self):fetch(self.id, { force = true }).author
end

--- The emoji of an API emoji object: a GuildEmoji when `guild` is given and it has an ID, else an Emoji.
---@param client discord.Client
---@param data table
---@param guild? discord.Guild
---@return discord.Emoji|discord.GuildEmoji emoji
function M.fromData(client, data, guild)
  if guild and util.nullable(data.id) then return GuildEmoji(client, data, guild) end
  return Emoji(client, data)
end

return M
