-- A guild's custom emojis: fetch, create (from bytes, a file or a data URI), edit and delete.
local util = require("discord.util")
local json = require("json")
local base = require("discord.managers.base")

local M = {}

local GuildEmojiManager = util.class("GuildEmojiManager", base.ResourceManager)
M.GuildEmojiManager = GuildEmojiManager

function GuildEmojiManager:init(guild, iterable)
  self.guild = guild
  base.ResourceManager.init(self, guild.client, require("discord.structures.emoji").GuildEmoji,
    "/guilds/" .. guild.id .. "/emojis", guild, iterable)
end

--- Emoji mentions ("<:name:id>") resolve too.
function GuildEmojiManager:resolveId(x)
  if type(x) == "string" then
    local id = x:match("^<a?:[%w_]+:(%d+)>$")
    if id then return id end
  end
  return base.CachingManager.resolveId(self, x)
end

--- The text used for the emoji in reaction routes.
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

local function roleIds(self, roles)
  return json.array(util.map(roles, function(r) return self.guild.roles:resolveId(r) end))
end

-- The image of an emoji or sticker: bytes, a data URI, or {path=} read through the runtime.
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

--- (B) Creates an emoji: {attachment=, name=, roles=, reason=}.
function GuildEmojiManager:create(opts)
  opts = opts or {}
  if type(opts.name) ~= "string" or not opts.name:match("^[%w_]+$") or #opts.name < 2 or #opts.name > 32 then
    error("GuildEmojiManager:create: the name must be 2 to 32 letters, digits or underscores", 2)
  end
  local body = { name = opts.name, image = M.imageOf(opts.attachment) }
  if opts.roles then body.roles = roleIds(self, opts.roles) end
  return self:_create(body, opts.reason)
end

--- (B) Edits an emoji: {name=, roles=}.
function GuildEmojiManager:edit(emoji, opts, reason)
  opts = opts or {}
  local body = {}
  if opts.name ~= nil then body.name = opts.name end
  if opts.roles ~= nil then body.roles = roleIds(self, opts.roles) end
  return self:_edit(emoji, body, base.reasonOf(opts, reason))
end

--- (B) The user who uploaded an emoji.
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
