-- The emojis an application owns, usable by the bot in every guild.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

--- The emojis an application owns, usable by the bot in every guild (`client.application.emojis`).
---@class discord.ApplicationEmojiManager: discord.ResourceManager
---@field application discord.ClientApplication The application that owns the emojis.
local ApplicationEmojiManager = util.class("ApplicationEmojiManager", base.ResourceManager)
M.ApplicationEmojiManager = ApplicationEmojiManager

--- `ApplicationEmojiManager(application)`: the application needs its ID (known after READY).
---@private
---@param application discord.ClientApplication
function ApplicationEmojiManager:init(application)
  self.application = application
  base.ResourceManager.init(self, application.client, require("discord.structures.emoji").ApplicationEmoji, nil,
    application)
end

function ApplicationEmojiManager:_path(id)
  local appId = self.application.id
  if appId == nil then error(require("discord.errors").LibraryError("ClientNotReady", "manage emojis"), 4) end
  return "/applications/" .. appId .. "/emojis" .. (id and ("/" .. id) or "")
end

--- One emoji by ID, or all the application's emojis as a Collection when `id` is absent.
--- Raises `discord.LibraryError` ClientNotReady before READY; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id? any The emoji or its ID; absent fetches all.
---@param opts? discord.FetchOptions
---@return discord.ApplicationEmoji|discord.Collection result
function ApplicationEmojiManager:fetch(id, opts)
  if type(id) == "table" and self:resolveId(id) == nil then id, opts = nil, id end
  opts = opts or {}
  if id ~= nil then return base.CachingManager.fetch(self, id, opts) end
  local res = self.client.rest:get(self:_path())
  return self:_addAll(res.items or res, opts.cache, true)
end

--- Uploads a new application emoji.
--- Raises an error without a name; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.EmojiCreateOptions
---@return discord.ApplicationEmoji emoji
function ApplicationEmojiManager:create(opts)
  opts = opts or {}
  if type(opts.name) ~= "string" or opts.name == "" then
    error("ApplicationEmojiManager:create: a name is needed", 2)
  end
  local imageOf = require("discord.managers.emoji").imageOf
  return self:_create({ name = opts.name, image = imageOf(opts.attachment) })
end

--- Renames an application emoji.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param emoji any The emoji or its ID.
---@param opts discord.EmojiEditOptions Only `name` is used.
---@return discord.ApplicationEmoji emoji
function ApplicationEmojiManager:edit(emoji, opts)
  return self:_edit(emoji, { name = (opts or {}).name })
end

return M
