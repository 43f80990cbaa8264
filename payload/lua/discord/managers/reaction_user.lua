-- The users behind one reaction: fetched page by page, normal or burst, and removing one.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

local ReactionUserManager = util.class("ReactionUserManager", base.CachingManager)
M.ReactionUserManager = ReactionUserManager

local TYPES = { normal = 0, burst = 1, Normal = 0, Burst = 1, [0] = 0, [1] = 1 }
--- Kinds of reaction: Normal (0) or Burst (1, a super reaction); the values of `enums.ReactionType`.
---@type table<string, integer>
M.ReactionType = { Normal = 0, Burst = 1 }

--- `ReactionUserManager(reaction)`: its cache holds the users seen reacting.
---@private
---@param reaction discord.MessageReaction
function ReactionUserManager:init(reaction)
  self.reaction = reaction
  base.CachingManager.init(self, reaction.client, require("discord.user").User)
end

--- The user ID of a user, member, message (its author) or ID.
---@param x any
---@return discord.Snowflake? id
ReactionUserManager.resolveId = function(self, x) return self.client.users:resolveId(x) end

--- One page of the users who reacted ("normal" or "burst" `type`), by user ID in ID order; kept in `cache`.
--- Raises an error for a bad limit or type; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? {limit?: integer, after?: discord.UserResolvable, type?: string|integer} limit 1-100 (25).
---@return discord.Collection users
function ReactionUserManager:fetch(opts)
  opts = opts or {}
  local limit = opts.limit or 25
  if math.type(limit) ~= "integer" or limit < 1 or limit > 100 then
    error("ReactionUserManager:fetch: limit must be 1 to 100", 2)
  end
  local kind = opts.type
  if kind ~= nil then
    kind = TYPES[kind]
    if kind == nil then error("ReactionUserManager:fetch: type must be normal or burst", 2) end
  end
  local after = opts.after and self:resolveId(opts.after)
  local list = self.client.rest:get(self.reaction:_path(), { query = { limit = limit, after = after, type = kind } })
  local out = require("discord.collection").Collection()
  for _, data in ipairs(list) do
    local user = self.client.users:_add(data)
    self.cache:set(user.id, user)
    out:set(user.id, user)
  end
  return out
end

--- Iterator over every user who reacted, pages of 100; the steps that fetch suspend the task.
--- Raises `discord.DiscordAPIError` from the loop when Discord refuses a page.
---@param opts? {limit?: integer, after?: discord.UserResolvable, type?: string|integer}
---@return fun(): discord.User? iterator
function ReactionUserManager:each(opts)
  opts = opts or {}
  return base.pages(function(size, after)
    return self:fetch({ limit = size, after = after, type = opts.type }):values()
  end, 100, opts.limit, opts.after and self:resolveId(opts.after))
end

--- Removes a user's reaction (the bot's own when `user` is nil); returns the reaction.
--- Raises an error when `user` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param user? discord.UserResolvable
---@return discord.MessageReaction reaction
function ReactionUserManager:remove(user)
  local me = self.client.user
  local id = user == nil and (me and me.id) or self:resolveId(user)
  if id == nil then error("ReactionUserManager:remove: not a user: " .. tostring(user), 2) end
  local own = me ~= nil and id == me.id
  self.client.rest:delete(self.reaction:_path() .. "/" .. (own and "@me" or id))
  if own then self.reaction.message.reactions:_removeUser(self.reaction.emoji:toJSON(), id, false) end
  return self.reaction
end

return M
