-- The roles allowed to use one guild emoji; edits go out as a whole new list.
local util = require("discord.util")

local M = {}

local GuildEmojiRoleManager = util.class("GuildEmojiRoleManager")
M.GuildEmojiRoleManager = GuildEmojiRoleManager

function GuildEmojiRoleManager:init(emoji)
  self.emoji = emoji
  self.guild = emoji.guild
  self.client = emoji.client
end

--- The allowed roles that are cached, as a Collection.
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

--- (B) Replaces the list.
function GuildEmojiRoleManager:set(roles)
  return self.guild.emojis:edit(self.emoji, { roles = ids(self, roles, "set") })
end

--- (B) Allows one or more roles as well.
function GuildEmojiRoleManager:add(roles)
  local list = util.shallowCopy(self.emoji._roles)
  for _, id in ipairs(ids(self, roles, "add")) do
    if not util.contains(list, id) then list[#list + 1] = id end
  end
  return self:set(list)
end

--- (B) Takes roles off the list.
function GuildEmojiRoleManager:remove(roles)
  local drop = util.set(ids(self, roles, "remove"))
  return self:set(util.filter(self.emoji._roles, function(id) return not drop[id] end))
end

return M
