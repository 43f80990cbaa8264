-- The client's user cache, user fetches and DM channels.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

local UserManager = util.class("UserManager", base.CachingManager)
M.UserManager = UserManager

--- Made by the client.
---@private
---@param client discord.Client
---@param iterable? table[]
function UserManager:init(client, iterable)
  base.CachingManager.init(self, client, require("discord.user").User, iterable)
end

function UserManager._path(_, id)
  return "/users/" .. id
end

--- A cached user: from a user, its ID, or a member or message (its author).
---@param x any
---@return discord.User? user
function UserManager:resolve(x)
  if type(x) == "table" then
    local cls = util.className(x)
    if cls == "GuildMember" then return x.user end
    if cls == "Message" then return x.author end
  end
  return base.CachingManager.resolve(self, x)
end

--- The ID of a user, member, message author, table with `id`, or an ID.
---@param x any
---@return discord.Snowflake? id
function UserManager:resolveId(x)
  if type(x) == "table" then
    local cls = util.className(x)
    if cls == "GuildMember" then return x.id end
    if cls == "Message" then return x.author and x.author.id end
  end
  return base.CachingManager.resolveId(self, x)
end

local function dmOf(self, id)
  return self.client.channels.cache:find(function(c) return c.type == 1 and c.recipientId == id end)
end

--- The DM channel with a user: the cached one unless `opts.force`.
--- Raises an error when `user` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param user discord.UserResolvable
---@param opts? discord.FetchOptions
---@return discord.DMChannel channel
function UserManager:createDM(user, opts)
  opts = opts or {}
  local id = self:resolveId(user)
  if id == nil then error("UserManager:createDM: not a user: " .. tostring(user), 2) end
  if not opts.force then
    local cached = dmOf(self, id)
    if cached then return cached end
  end
  local data = self.client.rest:post("/users/@me/channels", { body = { recipient_id = id } })
  return self.client.channels:_add(data, nil, { cache = opts.cache })
end

--- Closes the DM channel with a user; returns the channel, or nil when none was open.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param user discord.UserResolvable
---@return discord.DMChannel? channel
function UserManager:deleteDM(user)
  local id = self:resolveId(user)
  local dm = id and dmOf(self, id)
  if not dm then return nil end
  self.client.rest:delete("/channels/" .. dm.id)
  self.client.channels:_remove(dm.id)
  return dm
end

--- Sends a direct message, opening the DM channel when needed.
--- Raises `discord.DiscordAPIError` when Discord refuses it (CannotSendMessagesToThisUser for closed DMs).
---@async
---@param user discord.UserResolvable
---@param options string|discord.MessageOptions
---@return discord.Message message
function UserManager:send(user, options)
  return self:createDM(user):send(options)
end

return M
