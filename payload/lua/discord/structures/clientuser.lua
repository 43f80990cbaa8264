-- The bot's own user: profile edits and presence.
local util = require("discord.util")
local User = require("discord.user").User

local M = {}

local ClientUser = util.class("ClientUser", User)
M.ClientUser = ClientUser

local STATUSES = util.set({ "online", "idle", "dnd", "invisible" })

--- Made from READY's user.
---@private
---@param client discord.Client
---@param data table
function ClientUser:init(client, data)
  self.presence = { status = "online", activities = {}, afk = false }
  User.init(self, client, data)
end

function ClientUser:_patch(data)
  User._patch(self, data)
  if data.verified ~= nil then self.verified = data.verified == true end
  if data.mfa_enabled ~= nil then self.mfaEnabled = data.mfa_enabled == true end
  return self
end

--- Changes the bot's username, avatar or banner; images are bytes or data URIs, false removes one.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts {username?: string, avatar?: string|false, banner?: string|false}
---@return discord.ClientUser user
function ClientUser:edit(opts)
  local json = require("json")
  local body = {}
  if opts.username ~= nil then body.username = opts.username end
  for _, key in ipairs({ "avatar", "banner" }) do
    local v = opts[key]
    if v == false then
      body[key] = json.null
    elseif v ~= nil then
      body[key] = util.imageData(v)
    end
  end
  local data = self.client.rest:patch("/users/@me", { body = body })
  return self:_patch(data)
end

--- Changes the bot's username.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param name string
---@return discord.ClientUser user
function ClientUser:setUsername(name) return self:edit({ username = name }) end
--- Changes the bot's avatar (bytes or a data URI); nil removes it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param image? string
---@return discord.ClientUser user
function ClientUser:setAvatar(image) return self:edit({ avatar = image or false }) end
--- Changes the bot's banner (bytes or a data URI); nil removes it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param image? string
---@return discord.ClientUser user
function ClientUser:setBanner(image) return self:edit({ banner = image or false }) end

--- Sets status, activities and afk over the gateway on every shard, or on `shardId` (waits for the send).
--- Raises an error for an unknown status or bad activities.
---@async
---@param p? discord.PresenceData
---@return discord.PresenceData presence
function ClientUser:setPresence(p)
  local json = require("json")
  p = p or {}
  if p.status ~= nil and not STATUSES[p.status] then
    error("ClientUser:setPresence: unknown status " .. tostring(p.status), 2)
  end
  local activities
  if p.activities ~= nil then
    if type(p.activities) ~= "table" then error("ClientUser:setPresence: activities must be a list", 2) end
    local activityData = require("discord.structures.presence").activityData
    activities = util.map(p.activities, function(a) return activityData(a, 4) end)
  end
  if p.status ~= nil then self.presence.status = p.status end
  if activities then self.presence.activities = activities end
  if p.afk ~= nil then self.presence.afk = p.afk == true end
  local d = {
    since = p.since or json.null,
    status = self.presence.status,
    activities = json.array(util.deepCopy(self.presence.activities)),
    afk = self.presence.afk,
  }
  if self.client.ws and self.client.ws.broadcast then self.client.ws:broadcast({ op = 3, d = d }, p.shardId) end
  return self.presence
end

--- Sets the bot's status on every shard.
--- Raises an error for an unknown status.
---@async
---@param status "online"|"idle"|"dnd"|"invisible"
---@return discord.PresenceData presence
function ClientUser:setStatus(status)
  return self:setPresence({ status = status })
end

--- Sets one activity: `setActivity("name", {type=, url=, state=, shardId=})` or `setActivity({name=, type=})`.
---@async
---@param activity? string|table Nil clears it.
---@param opts? discord.ActivityOptions
---@return discord.PresenceData presence
function ClientUser:setActivity(activity, opts)
  opts = opts or {}
  if type(activity) == "string" then
    activity = { name = activity, type = opts.type, url = opts.url, state = opts.state }
  end
  return self:setPresence({ activities = activity and { activity } or {}, shardId = opts.shardId })
end

--- Marks the bot AFK (or not, with false).
---@async
---@param afk? boolean
---@return discord.PresenceData presence
function ClientUser:setAFK(afk)
  return self:setPresence({ afk = afk ~= false })
end

--- The bot's own user, fresh from Discord, patched in place.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.ClientUser user
function ClientUser:fetch()
  return self:_patch(self.client.rest:get("/users/@me"))
end

--- The accounts connected to the bot's user, as Discord sends them ({{type=, id=, name=, ...}}).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return table[] connections
function ClientUser:fetchConnections()
  return self.client.rest:get("/users/@me/connections")
end

-- Gateway events -----------------------------------------------------------------------------------------

local events = require("discord.managers.base")

events.handlers.READY = function(client, packet, shard)
  local d = packet.d
  if client.user then
    client.user:_patch(d.user)
  else
    client.user = ClientUser(client, d.user)
  end
  client.users.cache:set(client.user.id, client.user)
  if d.application then
    if client.application and client.application._patch then
      client.application:_patch(d.application)
    else
      client.application = client.application or {}
      client.application.id = d.application.id
      client.application.flags = d.application.flags
    end
  end
  for _, g in ipairs(d.guilds or {}) do
    client.guilds:_add(g).shardId = shard.id
  end
end

events.handlers.USER_UPDATE = function(client, packet)
  if not client.user then return end
  local old = events.clone(client.user)
  client.user:_patch(packet.d)
  client:emit("userUpdate", old, client.user)
end

return M
