-- Stickers, standard and guild, and the packs standard stickers come in.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

--- A sticker: a standard one from a pack, or a guild's own.
---@class discord.Sticker: discord.Base
---@field id discord.Snowflake The sticker's ID.
---@field name string The sticker's name.
---@field description string? The sticker's description.
---@field tags string The Unicode emoji (or words) the sticker stands for.
---@field type integer discord.StickerType: 1 standard, 2 guild.
---@field format integer discord.StickerFormatType: 1 PNG, 2 APNG, 3 Lottie, 4 GIF.
---@field available boolean? False when a guild sticker became unusable (lost boosts).
---@field guildId discord.Snowflake? The guild of a guild sticker.
---@field packId discord.Snowflake? The pack of a standard sticker.
---@field sortValue integer? Its place in its pack.
---@field user discord.User? Who uploaded a guild sticker (when Discord sends it).
---@field createdTimestamp discord.Milliseconds (read-only).
---@field partial boolean Whether only the ID and name are known, as in messages (read-only).
---@field url string The sticker image's CDN address (read-only).
---@field guild discord.Guild? The guild of a guild sticker, when cached (read-only).
local Sticker = util.class("Sticker", Base)
M.Sticker = Sticker

local FIELDS = {
  name = "name", description = "description", tags = "tags", type = "type", format_type = "format",
  available = "available", guild_id = "guildId", pack_id = "packId", sort_value = "sortValue",
}

--- `Sticker(client, data)`.
---@private
---@param client discord.Client
---@param data table
function Sticker:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self:_patch(data)
end

function Sticker:_patch(data)
  self:_copy(data, FIELDS)
  if type(data.user) == "table" then self.user = self.client.users:_add(data.user) end
  return self
end

Sticker.getters.createdTimestamp = function(self) return require("discord.snowflake").timestamp(self.id) end
Sticker.getters.partial = function(self) return self.type == nil end
Sticker.getters.url = function(self) return require("discord.cdn").sticker(self.id, self.format) end
Sticker.getters.guild = function(self) return self.guildId and self.client.guilds.cache:get(self.guildId) or nil end

local function guildStickers(self, what)
  local guild = self.guild
  if not guild then error("Sticker:" .. what .. ": not a sticker of a cached guild", 3) end
  return guild.stickers
end

--- Fetches the sticker again and completes it in place.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Sticker sticker
function Sticker:fetch()
  local data = self.client.rest:get("/stickers/" .. self.id)
  return self:_patch(data)
end

--- The pack of a standard sticker, or nil for a guild sticker.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.StickerPack? pack
function Sticker:fetchPack()
  if not self.packId then return nil end
  return M.fetchPack(self.client, self.packId)
end

--- The user who uploaded a guild sticker.
--- Raises an error when its guild is not cached; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.User? user
function Sticker:fetchUser()
  return guildStickers(self, "fetchUser"):fetchUser(self)
end

--- Edits a guild sticker's name, description or tags.
--- Raises an error when its guild is not cached; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts {name?: string, description?: string, tags?: string, reason?: string}
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.Sticker sticker
function Sticker:edit(opts, reason) return guildStickers(self, "edit"):edit(self, opts, reason) end

--- Deletes a guild sticker; returns it.
--- Raises an error when its guild is not cached; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.Sticker sticker
function Sticker:delete(reason)
  guildStickers(self, "delete"):delete(self, reason)
  return self
end

--- Whether `other` is the same sticker with the same name, description, tags and availability.
---@param other any
---@return boolean equal
function Sticker:equals(other)
  return type(other) == "table" and other.id == self.id and other.name == self.name
    and other.description == self.description and other.tags == self.tags and other.available == self.available
end

-- Packs ------------------------------------------------------------------------------------------------------

--- A pack of standard stickers.
---@class discord.StickerPack: discord.Base
---@field id discord.Snowflake The pack's ID.
---@field name string The pack's name.
---@field description string The pack's description.
---@field skuId discord.Snowflake The pack's SKU.
---@field coverStickerId discord.Snowflake? The sticker shown as the pack's icon.
---@field bannerId discord.Snowflake? The banner image's asset ID.
---@field stickers discord.Collection Its Stickers by ID.
---@field coverSticker discord.Sticker? The sticker shown as the pack's icon (read-only).
local StickerPack = util.class("StickerPack", Base)
M.StickerPack = StickerPack

--- `StickerPack(client, data)`.
---@private
---@param client discord.Client
---@param data table
function StickerPack:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self:_copy(data, { name = "name", description = "description", sku_id = "skuId",
    cover_sticker_id = "coverStickerId", banner_asset_id = "bannerId" })
  self.stickers = require("discord.collection").Collection()
  for _, s in ipairs(data.stickers or {}) do self.stickers:set(s.id, Sticker(client, s)) end
end

StickerPack.getters.coverSticker = function(self)
  return self.coverStickerId and self.stickers:get(self.coverStickerId) or nil
end

--- The pack's banner image address, nil when it has none.
---@param opts? {size?: integer, extension?: string}
---@return string? url
function StickerPack:bannerURL(opts)
  return self.bannerId and require("discord.cdn").stickerPackBanner(self.bannerId, opts) or nil
end

--- Plain table of the pack's fields; `stickers` as IDs.
---@return table json
function StickerPack:toJSON()
  local out = Base.toJSON(self)
  out.stickers = json.array(self.stickers:keys())
  return out
end

--- Every standard sticker pack, as a Collection by ID.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param client discord.Client
---@return discord.Collection packs
function M.fetchPacks(client)
  local res = client.rest:get("/sticker-packs")
  local out = require("discord.collection").Collection()
  for _, p in ipairs(res.sticker_packs or {}) do out:set(p.id, StickerPack(client, p)) end
  return out
end

--- One standard sticker pack.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param client discord.Client
---@param id discord.Snowflake
---@return discord.StickerPack pack
function M.fetchPack(client, id)
  return StickerPack(client, client.rest:get("/sticker-packs/" .. id))
end

-- Client methods ----------------------------------------------------------------------------------------

local Client = require("discord.client").Client

--- A sticker by ID, standard or of any guild.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id discord.Snowflake
---@return discord.Sticker sticker
function Client:fetchSticker(id)
  return M.Sticker(self, self.rest:get("/stickers/" .. id))
end
--- Every standard sticker pack, as a Collection by ID.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Collection packs
function Client:fetchStickerPacks() return M.fetchPacks(self) end
--- One standard sticker pack.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id discord.Snowflake
---@return discord.StickerPack pack
function Client:fetchStickerPack(id) return M.fetchPack(self, id) end

return M
