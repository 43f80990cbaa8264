-- The roles allowed to use one guild emoji; edits go out as a whole new list.
local util = require("discord.util")

local M = {}

--- The roles allowed to use one guild emoji (`emoji.roles`); edits go out as a whole new list.
---@class discord.GuildEmojiRoleManager
---@field emoji discord.GuildEmoji The emoji.
---@field guild discord.Guild The emoji's guild.
---@field client discord.Client The client that owns it.
---@field cache discord.Collection The allowed roles that are cached, by ID (read-only).
local GuildEmojiRoleManager = util.class("GuildEmojiRoleManager")
M.GuildEmojiRoleManager = GuildEmojiRoleManager

--- Made by the emoji.
---@private
---@param emoji discord.GuildEmoji
function GuildEmojiRoleManager:init(emoji)
  self.emoji = emoji
  self.guild = emoji.guild
  self.client = emoji.client
end

GuildEmojiRoleManager.getters.cache = function(self)
  local out = require("discord.collection").Collection()
  for _, id in ipairs(self.emoji._roles) do
    local role = self.guild.roles.cache:get(id)
    if role then out:set(id, role) end
  end
  return out
end

local function ids(self, roles, what)
  if type(roles) ~= "table" or util.isClass(getmetatable(roles)) then roles = { roles } end
  return util.map(roles, function(r)
    local id = self.guild.roles:resolveId(r)
    if id == nil then error("GuildEmojiRoleManager:" .. what .. ": not a role: " .. tostring(r), 4) end
    return id
  end)
end

--- Replaces the list of allowed roles (an empty list allows everyone).
--- Raises an error for something that is not a role; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param roles discord.RoleResolvable|discord.RoleResolvable[]
---@return discord.GuildEmoji emoji
function GuildEmojiRoleManager:set(roles)
  return self.guild.emojis:edit(self.emoji, { roles = ids(self, roles, "set") })
end

--- Allows one or more roles as well.
--- Raises an error for something that is not a role; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param roles discord.RoleResolvable|discord.RoleResolvable[]
---@return discord.GuildEmoji emoji
function GuildEmojiRoleManager:add(roles)
  local list = util.shallowCopy(self.emoji._roles)
  for _, id in ipairs(ids(self, roles, "add")) do
    if not util.contains(list, id) then list[#list + 1] = id end
  end
  return self:set(list)
end

--- Takes roles off the list.
--- Raises an error for something that is not a role; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param roles discord.RoleResolvable|discord.RoleResolvable[]
---@return discord.GuildEmoji emoji
function GuildEmojiRoleManager:remove(roles)
  local drop = util.set(ids(self, roles, "remove"))
  return self:set(util.filter(self.emoji._roles, function(id) return not drop[id] end))
end

return M
