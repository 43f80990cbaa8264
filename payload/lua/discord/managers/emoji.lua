-- A guild's custom emojis: fetch, create (from bytes, a file or a data URI), edit and delete.
local util = require("discord.util")
local json = require("json")
local base = require("discord.managers.base")

local M = {}

--- A guild's custom emojis (`guild.emojis`): fetch, create (from bytes, a file or a data URI), edit and delete.
---@class discord.GuildEmojiManager: discord.ResourceManager
---@field guild discord.Guild The guild the emojis belong to.
local GuildEmojiManager = util.class("GuildEmojiManager", base.ResourceManager)
M.GuildEmojiManager = GuildEmojiManager

--- Made by the guild.
---@private
---@param guild discord.Guild
---@param iterable? table[]
function GuildEmojiManager:init(guild, iterable)
  self.guild = guild
  base.ResourceManager.init(self, guild.client, require("discord.structures.emoji").GuildEmoji,
    "/guilds/" .. guild.id .. "/emojis", guild, iterable)
end

--- The ID of an emoji, of a table with `id`, of an emoji mention ("<:name:id>") or an ID.
---@param x any
---@return discord.Snowflake? id
function GuildEmojiManager:resolveId(x)
  if type(x) == "string" then
    local id = x:match("^<a?:[%w_]+:(%d+)>$")
    if id then return id end
  end
  return base.CachingManager.resolveId(self, x)
end

--- The text reaction routes use for an emoji ("name:id", or the URL-encoded Unicode emoji).
---@param x any An emoji, its ID or mention, or a Unicode emoji.
---@return string? identifier
function GuildEmojiManager:resolveIdentifier(x)
  local emoji = self:resolve(x)
  if emoji then return emoji.identifier end
  if type(x) == "string" then
    local parsed = util.parseEmoji(x)
    if parsed and parsed.id then return (parsed.name or "_") .. ":" .. parsed.id end
    return util.urlEncode(x)
  end
  return nil
end

--- An image: its bytes, a data URI, or {path=} of a file read through the runtime.
---@alias discord.ImageSource string|table

--- Options of `GuildEmojiManager:create` and `ApplicationEmojiManager:create`.
---@class discord.EmojiCreateOptions
---@field attachment discord.ImageSource The image.
---@field name string 2 to 32 letters, digits or underscores.
---@field roles? discord.RoleResolvable[] Only these roles may use it (guild emojis).
---@field reason? string Audit log reason (guild emojis).

--- Options of `GuildEmojiManager:edit` and `ApplicationEmojiManager:edit`.
---@class discord.EmojiEditOptions
---@field name? string The new name.
---@field roles? discord.RoleResolvable[] Only these roles may use it (guild emojis).
---@field reason? string Audit log reason (guild emojis).
local function roleIds(self, roles)
  return json.array(util.map(roles, function(r) return self.guild.roles:resolveId(r) end))
end

--- The image of an emoji or sticker as a data URI: bytes, a data URI, or {path=} read through the runtime.
--- Raises `discord.LibraryError` FileUnreadable when the file cannot be read.
---@private
---@param attachment discord.ImageSource
---@return string dataUri
function M.imageOf(attachment)
  if type(attachment) == "table" and attachment.path then
    local bytes, msg = require("runtime").read_file(attachment.path)
    if not bytes then
      error(require("discord.errors").LibraryError("FileUnreadable", attachment.path, msg), 3)
    end
    attachment = bytes
  end
  return util.imageData(attachment)
end

--- Uploads a new emoji to the guild.
--- Raises an error for a bad name (2 to 32 letters, digits, _); `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.EmojiCreateOptions
---@return discord.GuildEmoji emoji
function GuildEmojiManager:create(opts)
  opts = opts or {}
  if type(opts.name) ~= "string" or not opts.name:match("^[%w_]+$") or #opts.name < 2 or #opts.name > 32 then
    error("GuildEmojiManager:create: the name must be 2 to 32 letters, digits or underscores", 2)
  end
  local body = { name = opts.name, image = M.imageOf(opts.attachment) }
  if opts.roles then body.roles = roleIds(self, opts.roles) end
  return self:_create(body, opts.reason)
end

--- Renames an emoji or changes the roles allowed to use it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param emoji any The emoji or its ID.
---@param opts discord.EmojiEditOptions
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.GuildEmoji emoji
function GuildEmojiManager:edit(emoji, opts, reason)
  opts = opts or {}
  local body = {}
  if opts.name ~= nil then body.name = opts.name end
  if opts.roles ~= nil then body.roles = roleIds(self, opts.roles) end
  return self:_edit(emoji, body, base.reasonOf(opts, reason))
end

--- The user who uploaded an emoji.
--- Raises an error for a managed emoji; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param emoji any The emoji or its ID.
---@return discord.User? author
function GuildEmojiManager:fetchAuthor(emoji)
  local id = self:_need(emoji, "fetchAuthor")
  local cached = self.cache:get(id)
  if cached and cached.managed then error("GuildEmojiManager:fetchAuthor: managed emojis have no author", 2) end
  local got = self:_add(self.client.rest:get(self:_path(id)))
  return got.author
end

-- Gateway events -----------------------------------------------------------------------------------------

base.handlers.GUILD_EMOJIS_UPDATE = base.expressions("emojis", "emojiCreate", "emojiUpdate", "emojiDelete")

return M
