-- The channels inside one category.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

--- The channels inside one category (`category.children`).
---@class discord.CategoryChannelChildManager: discord.DataManager
---@field channel discord.CategoryChannel The category.
---@field guild discord.Guild The category's guild.
---@field cache discord.Collection The guild's cached channels whose parent is this category (read-only).
local CategoryChannelChildManager = util.class("CategoryChannelChildManager", base.DataManager)
M.CategoryChannelChildManager = CategoryChannelChildManager

--- Made by the category.
---@private
---@param channel discord.CategoryChannel
function CategoryChannelChildManager:init(channel)
  base.DataManager.init(self, channel.client, require("discord.channel").GuildChannel)
  self.channel = channel
  self.guild = channel.guild
end

CategoryChannelChildManager.getters.cache = function(self)
  local id = self.channel.id
  return self.guild.channels.cache:filter(function(c) return c.parentId == id end)
end

--- Creates a channel in this category.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts string|discord.ChannelOptions The name, or options as for `GuildChannelManager:create`.
---@return discord.GuildChannel channel
function CategoryChannelChildManager:create(opts)
  if type(opts) == "string" then opts = { name = opts } end
  local o = {}
  for k, v in pairs(opts or {}) do o[k] = v end
  o.parent = self.channel.id
  return self.guild.channels:create(o)
end

return M
