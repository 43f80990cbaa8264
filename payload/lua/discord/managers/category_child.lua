-- The channels inside one category.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

local CategoryChannelChildManager = util.class("CategoryChannelChildManager", base.DataManager)
M.CategoryChannelChildManager = CategoryChannelChildManager

function CategoryChannelChildManager:init(channel)
  base.DataManager.init(self, channel.client, require("discord.channel").GuildChannel)
  self.channel = channel
  self.guild = channel.guild
end

--- The guild's cached channels whose parent is this category.
CategoryChannelChildManager.getters.cache = function(self)
  local id = self.channel.id
  return self.guild.channels.cache:filter(function(c) return c.parentId == id end)
end

--- (B) Creates a channel in this category; options as for GuildChannelManager:create.
function CategoryChannelChildManager:create(opts)
  if type(opts) == "string" then opts = { name = opts } end
  local o = {}
  for k, v in pairs(opts or {}) do o[k] = v end
  o.parent = self.channel.id
  return self.guild.channels:create(o)
end

return M
