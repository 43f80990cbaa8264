-- Stickers, standard and guild, and the packs standard stickers come in.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

local Sticker = util.class("Sticker", Base)
M.Sticker = Sticker

local FIELDS = {
  name = "name", description = "description", tags = "tags", type = "type", format_type = "format",
  available = "available", guild_id = "guildId", pack_id = "packId", sort_value = "sortValue",
}

--- `Sticker(client, data)`.
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

--- (B) Fetches the sticker again.
function Sticker:fetch()
  local data = self.client.rest:get("/stickers/" .. self.id)
  return self:_patch(data)
end

--- (B) The pack of a standard sticker, or nil.
function Sticker:fetchPack()
  if not self.packId then return nil end
  return M.fetchPack(self.client, self.packId)
end

--- (B) The uploader of a guild sticker.
function Sticker:fetchUser()
  return guildStickers(self, "fetchUser"):fetchUser(self)
end

--- (B) Edits a guild sticker: {name=, description=, tags=}.
function Sticker:edit(opts, reason) return guildStickers(self, "edit"):edit(self, opts, reason) end

--- (B) Deletes a guild sticker.
function Sticker:delete(reason)
  guildStickers(self, "delete"):delete(self, reason)
  return self
end

function Sticker:equals(other)
  return type(other) == "table" and other.id == self.id and other.name == self.name
    and other.description == self.description and other.tags == self.tags and other.available == self.available
end

-- Packs ------------------------------------------------------------------------------------------------------

local StickerPack = util.class("StickerPack", Base)
M.StickerPack = StickerPack

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

function StickerPack:bannerURL(opts)
  return self.bannerId and require("discord.cdn").stickerPackBanner(self.bannerId, opts) or nil
end

function StickerPack:toJSON()
  local out = Base.toJSON(self)
  out.stickers = json.array(self.stickers:keys())
  return out
end

--- (B) Every standard sticker pack, as a Collection by ID.
function M.fetchPacks(client)
  local res = client.rest:get("/sticker-packs")
  local out = require("discord.collection").Collection()
  for _, p in ipairs(res.sticker_packs or {}) do out:set(p.id, StickerPack(client, p)) end
  return out
end

--- (B) One standard sticker pack.
function M.fetchPack(client, id)
  return StickerPack(client, client.rest:get("/sticker-packs/" .. id))
end

-- Client methods ----------------------------------------------------------------------------------------

local Client = require("discord.client").Client

function Client:fetchSticker(id)
  return M.Sticker(self, self.rest:get("/stickers/" .. id))
end
function Client:fetchStickerPacks() return M.fetchPacks(self) end
function Client:fetchStickerPack(id) return M.fetchPack(self, id) end

return M
