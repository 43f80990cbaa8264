-- CDN addresses of avatars, icons, emojis and other images, with the API's size and format rules.
local constants = require("discord.constants")
local errors = require("discord.errors")

local cdn = {}

local BASE = constants.CDN

local ALLOWED_FORMATS = {}
for _, f in ipairs(constants.ImageFormats) do ALLOWED_FORMATS[f] = true end

-- The image routes take exactly these sizes, powers of two and the in-between ones alike.
local SIZES = {}
for _, n in ipairs(constants.ImageSizes) do SIZES[n] = true end
local SIZE_TEXT = "one of " .. table.concat(constants.ImageSizes, ", ")

local function validSize(size)
  return math.type(size) == "integer" and SIZES[size] == true
end

local function invalid(name, expected)
  error(errors.LibraryError("InvalidOption", name, expected), 3)
end

--- Builds "<CDN>/<route>/<hash>.<ext>[?size=N]"; animated hashes default to gif unless forceStatic.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param route string
---@param hash string
---@param opts? discord.ImageURLOptions
---@return string
local function image(route, hash, opts)
  opts = opts or {}
  local ext = opts.extension or opts.format or "webp"
  if not ALLOWED_FORMATS[ext] then invalid("extension", "one of webp, png, jpg, jpeg, gif") end
  if hash:sub(1, 2) == "a_" and not opts.forceStatic and not opts.extension and not opts.format then ext = "gif" end
  local url = BASE .. "/" .. route .. "/" .. hash .. "." .. ext
  local query = {}
  if opts.size ~= nil then
    if not validSize(opts.size) then invalid("size", SIZE_TEXT) end
    query[#query + 1] = "size=" .. opts.size
  end
  -- The WebP route serves animation only when asked.
  if ext == "webp" and hash:sub(1, 2) == "a_" and not opts.forceStatic and (opts.extension or opts.format) then
    query[#query + 1] = "animated=true"
  end
  if #query > 0 then url = url .. "?" .. table.concat(query, "&") end
  return url
end
cdn.image = image

local function need(name, v)
  if type(v) ~= "string" or v == "" then invalid(name, "a non-empty string") end
  return v
end

--- URL of a user's avatar.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param userId discord.Snowflake User ID.
---@param hash string Image hash.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.avatar(userId, hash, opts)
  return image("avatars/" .. need("userId", userId), need("hash", hash), opts)
end

--- URL of a user's or guild's banner.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param id discord.Snowflake User or guild ID.
---@param hash string Image hash.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.banner(id, hash, opts)
  return image("banners/" .. need("id", id), need("hash", hash), opts)
end

--- URL of an avatar decoration preset (PNG).
--- Raises `discord.LibraryError` InvalidOption for an empty asset.
---@param asset string Asset hash.
---@return string
function cdn.avatarDecoration(asset)
  return BASE .. "/avatar-decoration-presets/" .. need("asset", asset) .. ".png"
end

--- URL of a member's guild avatar.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param guildId discord.Snowflake
---@param userId discord.Snowflake
---@param hash string Image hash.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.guildMemberAvatar(guildId, userId, hash, opts)
  return image("guilds/" .. need("guildId", guildId) .. "/users/" .. need("userId", userId) .. "/avatars",
    need("hash", hash), opts)
end

--- URL of a member's guild banner.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param guildId discord.Snowflake
---@param userId discord.Snowflake
---@param hash string Image hash.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.guildMemberBanner(guildId, userId, hash, opts)
  return image("guilds/" .. need("guildId", guildId) .. "/users/" .. need("userId", userId) .. "/banners",
    need("hash", hash), opts)
end

--- URL of a guild's icon.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param guildId discord.Snowflake Guild ID.
---@param hash string Image hash.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.icon(guildId, hash, opts)
  return image("icons/" .. need("guildId", guildId), need("hash", hash), opts)
end

--- URL of a guild's invite splash.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param guildId discord.Snowflake Guild ID.
---@param hash string Image hash.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.splash(guildId, hash, opts)
  return image("splashes/" .. need("guildId", guildId), need("hash", hash), opts)
end

--- URL of a guild's discovery splash.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param guildId discord.Snowflake Guild ID.
---@param hash string Image hash.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.discoverySplash(guildId, hash, opts)
  return image("discovery-splashes/" .. need("guildId", guildId), need("hash", hash), opts)
end

--- URL of a role's icon.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param roleId discord.Snowflake Role ID.
---@param hash string Image hash.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.roleIcon(roleId, hash, opts)
  return image("role-icons/" .. need("roleId", roleId), need("hash", hash), opts)
end

--- URL of a group DM's icon.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param channelId discord.Snowflake Channel ID.
---@param hash string Image hash.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.channelIcon(channelId, hash, opts)
  return image("channel-icons/" .. need("channelId", channelId), need("hash", hash), opts)
end

--- URL of an application's icon.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param appId discord.Snowflake Application ID.
---@param hash string Image hash.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.appIcon(appId, hash, opts)
  return image("app-icons/" .. need("appId", appId), need("hash", hash), opts)
end

--- URL of an application's asset (rich presence images).
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param appId discord.Snowflake Application ID.
---@param hash string Image hash.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.appAsset(appId, hash, opts)
  return image("app-assets/" .. need("appId", appId), need("hash", hash), opts)
end

--- URL of a team's icon.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param teamId discord.Snowflake Team ID.
---@param hash string Image hash.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.teamIcon(teamId, hash, opts)
  return image("team-icons/" .. need("teamId", teamId), need("hash", hash), opts)
end

--- URL of a scheduled event's cover image.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param eventId discord.Snowflake Event ID.
---@param hash string Image hash.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.guildScheduledEventCover(eventId, hash, opts)
  return image("guild-events/" .. need("eventId", eventId), need("hash", hash), opts)
end

--- URL of a sticker pack's banner.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param bannerId discord.Snowflake Banner asset ID.
---@param opts? discord.ImageURLOptions
---@return string
function cdn.stickerPackBanner(bannerId, opts)
  return image("app-assets/710982414301790216/store", need("bannerId", bannerId), opts)
end

--- URL of a custom emoji; animated emojis default to gif.
--- Raises `discord.LibraryError` InvalidOption for an empty ID or hash, a bad size or extension.
---@param emojiId discord.Snowflake
---@param opts? {animated?: boolean, extension?: string, size?: integer}
---@return string
function cdn.emoji(emojiId, opts)
  opts = opts or {}
  local ext = opts.extension or opts.format or (opts.animated and "gif" or "webp")
  if not ALLOWED_FORMATS[ext] then invalid("extension", "one of webp, png, jpg, jpeg, gif") end
  local url = BASE .. "/emojis/" .. need("emojiId", emojiId) .. "." .. ext
  local query = {}
  if opts.size ~= nil then
    if not validSize(opts.size) then invalid("size", SIZE_TEXT) end
    query[#query + 1] = "size=" .. opts.size
  end
  if ext == "webp" and opts.animated then query[#query + 1] = "animated=true" end
  if #query > 0 then url = url .. "?" .. table.concat(query, "&") end
  return url
end

-- Sticker format types: PNG and APNG are served as png, Lottie as json, GIF from the media proxy.
local STICKER_EXT = { [1] = "png", [2] = "png", [3] = "json", [4] = "gif" }

--- URL of a sticker: png (PNG, APNG), json (Lottie) or gif (from the media proxy).
--- Raises `discord.LibraryError` InvalidOption for an unknown format type.
---@param stickerId discord.Snowflake
---@param formatType? integer 1 PNG (default), 2 APNG, 3 Lottie, 4 GIF.
---@return string
function cdn.sticker(stickerId, formatType)
  local ext = STICKER_EXT[formatType or 1]
  if not ext then invalid("formatType", "a sticker format type (1-4)") end
  local base = ext == "gif" and constants.MediaProxy or BASE
  return base .. "/stickers/" .. need("stickerId", stickerId) .. "." .. ext
end

--- URL of a soundboard sound's audio file.
--- Raises `discord.LibraryError` InvalidOption for an empty ID.
---@param soundId discord.Snowflake
---@return string
function cdn.soundboardSound(soundId)
  return BASE .. "/soundboard-sounds/" .. need("soundId", soundId)
end

--- Index of the default avatar: users on the new name system by ID, the rest by discriminator.
--- Raises `discord.LibraryError` InvalidOption for an ID or discriminator that is not a number.
---@param userId discord.Snowflake
---@param discriminator? string
---@return integer
function cdn.defaultAvatarIndex(userId, discriminator)
  if discriminator == nil or discriminator == "0" or discriminator == "0000" then
    local n = math.tointeger(tonumber(userId))
    if not n then invalid("userId", "a snowflake") end
    return (n >> 22) % constants.DefaultAvatarCount
  end
  local d = math.tointeger(tonumber(discriminator))
  if not d then invalid("discriminator", "a number") end
  return d % 5
end

--- URL of a default avatar by index.
--- Raises `discord.LibraryError` InvalidOption for an index out of range.
---@param index integer From 0 to constants.DefaultAvatarCount - 1.
---@return string
function cdn.defaultAvatar(index)
  if math.type(index) ~= "integer" or index < 0 or index >= constants.DefaultAvatarCount then
    invalid("index", "an integer from 0 to " .. (constants.DefaultAvatarCount - 1))
  end
  return BASE .. "/embed/avatars/" .. index .. ".png"
end

return cdn
