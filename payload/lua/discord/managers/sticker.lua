-- A guild's stickers: fetch, upload (multipart), edit and delete; the standard packs.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

--- A guild's stickers (`guild.stickers`): fetch, upload, edit and delete; the standard packs.
---@class discord.GuildStickerManager: discord.ResourceManager
---@field guild discord.Guild The guild.
local GuildStickerManager = util.class("GuildStickerManager", base.ResourceManager)
M.GuildStickerManager = GuildStickerManager

--- Made by the guild.
---@private
---@param guild discord.Guild
---@param iterable? table[]
function GuildStickerManager:init(guild, iterable)
  self.guild = guild
  base.ResourceManager.init(self, guild.client, require("discord.structures.sticker").Sticker,
    "/guilds/" .. guild.id .. "/stickers", guild, iterable)
end

function GuildStickerManager:_construct(data)
  return self.holds(self.client, data)
end

--- Options of `GuildStickerManager:create`.
---@class discord.StickerCreateOptions
---@field file string|{path?: string, data?: string, name?: string} Bytes, or a file; its extension sets the type.
---@field name string 2 to 30 characters.
---@field tags string The Unicode emoji the sticker stands for.
---@field description? string The sticker's description.
---@field reason? string Audit log reason.
local MIME = { png = "image/png", apng = "image/png", gif = "image/gif", json = "application/json" }

--- Uploads a sticker (PNG, APNG, GIF or Lottie JSON).
--- Raises an error for a bad name, no tags or no file; `discord.LibraryError` FileUnreadable;
--- `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.StickerCreateOptions
---@return discord.Sticker sticker
function GuildStickerManager:create(opts)
  opts = opts or {}
  if type(opts.name) ~= "string" or #opts.name < 2 or #opts.name > 30 then
    error("GuildStickerManager:create: the name must be 2 to 30 characters", 2)
  end
  if type(opts.tags) ~= "string" or opts.tags == "" then error("GuildStickerManager:create: tags are needed", 2) end
  local file = opts.file
  if type(file) == "string" then file = { data = file, name = "sticker.png" } end
  if type(file) ~= "table" then error("GuildStickerManager:create: a file is needed", 2) end
  if file.path and not file.data then
    local bytes, msg = require("runtime").read_file(file.path)
    if not bytes then error(require("discord.errors").LibraryError("FileUnreadable", file.path, msg), 2) end
    file = { data = bytes, name = file.name or file.path:match("[^/\\]+$") }
  end
  local ext = (file.name or ""):match("%.(%w+)$") or "png"
  -- This route takes its fields as form parts, not payload_json.
  local boundary = "tarnwick" .. util.base64Encode(require("runtime").random_bytes(12)):gsub("[^%w]", "")
  local parts = {}
  for _, field in ipairs({ { "name", opts.name }, { "tags", opts.tags }, { "description", opts.description or "" } }) do
    parts[#parts + 1] = "--" .. boundary .. "\r\nContent-Disposition: form-data; name=\"" .. field[1]
      .. "\"\r\n\r\n" .. field[2] .. "\r\n"
  end
  parts[#parts + 1] = "--" .. boundary .. "\r\nContent-Disposition: form-data; name=\"file\"; filename=\""
    .. (file.name or "sticker." .. ext) .. "\"\r\nContent-Type: " .. (MIME[ext:lower()] or "image/png")
    .. "\r\n\r\n" .. file.data .. "\r\n"
  parts[#parts + 1] = "--" .. boundary .. "--\r\n"
  local data = self.client.rest:post(self:_path(), { body = table.concat(parts), reason = opts.reason,
    headers = { ["Content-Type"] = "multipart/form-data; boundary=" .. boundary } })
  return self:_add(data)
end

--- Edits a sticker's name, description or tags.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param sticker any The sticker or its ID.
---@param opts {name?: string, description?: string, tags?: string, reason?: string}
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.Sticker sticker
function GuildStickerManager:edit(sticker, opts, reason)
  opts = opts or {}
  local body = base.bodyOf(opts, { name = "name", description = "description", tags = "tags" })
  return self:_edit(sticker, body, base.reasonOf(opts, reason))
end

--- The user who uploaded a sticker.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param sticker any The sticker or its ID.
---@return discord.User? user
function GuildStickerManager:fetchUser(sticker)
  local id = self:_need(sticker, "fetchUser")
  return self:_add(self.client.rest:get(self:_path(id))).user
end

--- Discord's standard sticker packs.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Collection packs StickerPacks by ID.
function GuildStickerManager:fetchPacks()
  return require("discord.structures.sticker").fetchPacks(self.client)
end

-- Gateway events -----------------------------------------------------------------------------------------

base.handlers.GUILD_STICKERS_UPDATE = base.expressions("stickers", "stickerCreate", "stickerUpdate", "stickerDelete")

return M
