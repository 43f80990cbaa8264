-- Reactions on a message: the emoji reacted with, the counts (normal and burst) and whether the
-- bot is among the users.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base
local getFrom = require("discord.managers.base").get

local M = {}

-- ReactionEmoji ---------------------------------------------------------------------------------------------

--- The emoji of a reaction: a Unicode emoji (name only) or a custom one (id and name).
local ReactionEmoji = util.class("ReactionEmoji")
ReactionEmoji.__fields = 2
M.ReactionEmoji = ReactionEmoji
-- Held only when true: a custom emoji then fits the two fields of a Unicode one.
ReactionEmoji.animated = false

--- `ReactionEmoji(data)` from {id=, name=, animated=}.
---@private
---@param data table
function ReactionEmoji:init(data)
  self.id = util.nullable(data.id)
  self.name = util.nullable(data.name)
  self.animated = data.animated == true or nil
end

--- The cache key of the reaction: the ID of a custom emoji, the text of a Unicode one (read-only).
---@return string key
ReactionEmoji.getters.key = function(self) return self.id or self.name end

--- The form used in reaction routes: "name:id" or the URL-encoded Unicode emoji (read-only).
---@return string identifier
ReactionEmoji.getters.identifier = function(self)
  if self.id then return util.urlEncode((self.name or "_") .. ":" .. self.id) end
  return util.urlEncode(self.name)
end

--- The image address of a custom emoji; nil for Unicode ones (read-only).
---@return string? url
ReactionEmoji.getters.url = function(self)
  if not self.id then return nil end
  return require("discord.cdn").emoji(self.id, { animated = self.animated })
end

--- The emoji as it is written in a message: "<:name:id>", "<a:name:id>" or the Unicode text.
---@return string text
function ReactionEmoji:toString()
  if self.id then return "<" .. (self.animated and "a" or "") .. ":" .. (self.name or "_") .. ":" .. self.id .. ">" end
  return self.name or ""
end
ReactionEmoji.__tostring = ReactionEmoji.toString

--- The emoji in the API's form: {id, name, animated}.
---@return table json
function ReactionEmoji:toJSON()
  return { id = self.id or json.null, name = self.name or json.null, animated = self.animated or nil }
end

--- Any emoji form (ReactionEmoji, MessageReaction, GuildEmoji, "<:n:id>", "n:id", Unicode, {id=, name=}).
---@param x any
---@return discord.ReactionEmoji? emoji Nil when it is none.
function M.resolveEmoji(x)
  if util.instanceOf(x, ReactionEmoji) then return x end
  if type(x) == "table" then
    if util.instanceOf(x.emoji, ReactionEmoji) then return x.emoji end
    if x.id == nil and x.name == nil then return nil end
    return ReactionEmoji(x)
  end
  if type(x) ~= "string" or x == "" then return nil end
  local e = util.parseEmoji(x)
  if not e or (e.id == nil and (e.name == nil or e.name == "")) then return nil end
  return ReactionEmoji(e)
end

-- MessageReaction -------------------------------------------------------------------------------------------

local MessageReaction = util.class("MessageReaction", Base)
MessageReaction.__fields = 7
M.MessageReaction = MessageReaction

-- Most reactions are not the bot's: `me` and `meBurst` are held only while true.
MessageReaction.me = false
MessageReaction.meBurst = false
local copyTrue = Base._trueCopier({ me = "me", me_burst = "meBurst" })

--- `MessageReaction(client, data, message)`: `data` as the API sends it in a message's reactions.
---@private
---@param client discord.Client
---@param data table
---@param message discord.Message
function MessageReaction:init(client, data, message)
  Base.init(self, client)
  self.message = message
  self.emoji = ReactionEmoji(data.emoji or {})
  self:_patch(data)
end

-- Most reactions are never asked for their users: the manager is made when first read. Until then the users
-- counted are held in a short list (`_users`), which it takes; a longer one makes it.
local HELD = 8

--- The users who reacted, as far as they were seen (read-only).
---@return discord.ReactionUserManager users
MessageReaction.getters.users = function(self)
  local manager = require("discord.managers.reaction_user").ReactionUserManager(self)
  local held = rawget(self, "_users")
  if held then
    for i = 1, #held do manager.cache:set(held[i].id, held[i]) end
    self._users = nil
  end
  rawset(self, "users", manager)
  return manager
end

local function heldUser(self, userId)
  local manager = rawget(self, "users")
  if manager then return getFrom(manager.cache, userId) end
  local held = rawget(self, "_users")
  if held then
    for i = 1, #held do
      if held[i].id == userId then return held[i], i end
    end
  end
  return nil
end

local function holdUser(self, userId, user)
  local manager = rawget(self, "users")
  if not manager then
    local held = rawget(self, "_users")
    if held == nil then
      self._users = { user }
      return
    elseif #held < HELD then
      held[#held + 1] = user
      return
    end
    manager = self.users
  end
  manager.cache:set(userId, user)
end

local function dropUser(self, userId)
  local manager = rawget(self, "users")
  if manager then return manager.cache:delete(userId) end
  local _, at = heldUser(self, userId)
  if at then table.remove(self._users, at) end
end

-- The counts are held as two numbers, not as a table each reaction keeps: read, they make the table.
---@return {normal: integer|nil, burst: integer|nil}
MessageReaction.getters.countDetails = function(self)
  return { normal = rawget(self, "_normal"), burst = rawget(self, "_burst") }
end

-- Most reactions have no burst colours: the list is made when first read.
MessageReaction.getters.burstColors = function(self)
  local colors = {}
  rawset(self, "burstColors", colors)
  return colors
end

local function copyList(list)
  return { table.unpack(list) }
end

function MessageReaction:_patch(data)
  if data.count ~= nil then self.count = util.nullable(data.count) end
  copyTrue(self, data)
  local details = util.nullable(data.count_details)
  if details then
    self._normal, self._burst = details.normal, details.burst
  elseif data.count ~= nil then
    local burst = rawget(self, "_burst") or 0
    self._normal, self._burst = self.count and (self.count - burst), burst
  end
  if data.burst_colors ~= nil then self.burstColors = copyList(data.burst_colors) end
  if data.emoji ~= nil and data.emoji.name ~= nil then self.emoji.name = util.nullable(data.emoji.name) end
  return self
end

--- Whether it is on a partial message and its count is not known (read-only).
---@return boolean partial
MessageReaction.getters.partial = function(self) return self.count == nil end

--- The emoji's key: custom emoji ID or Unicode text (read-only).
---@return string id
MessageReaction.getters.id = function(self) return self.emoji.key end

local function isMe(self, userId)
  return self.client.user ~= nil and userId == self.client.user.id
end

-- Counts one more user; false when the user was already counted (the bot's own reaction comes
-- back from the gateway after the request that made it).
function MessageReaction:_addUser(userId, burst)
  -- Partial: the count is unknown (read raw, as the getter would).
  if rawget(self, "count") == nil then return true end
  if isMe(self, userId) then
    if burst then
      if self.meBurst then return false end
      self.meBurst = true
    else
      if self.me then return false end
      self.me = true
    end
  elseif heldUser(self, userId) ~= nil then
    return false
  end
  local user = getFrom(self.client.users.cache, userId)
  if user then holdUser(self, userId, user) end
  self.count = self.count + 1
  if burst then
    self._burst = (rawget(self, "_burst") or 0) + 1
  else
    self._normal = (rawget(self, "_normal") or 0) + 1
  end
  return true
end

-- Counts one user less; false when the bot's own reaction was already taken away.
function MessageReaction:_removeUser(userId, burst)
  if self.partial then return true end
  if isMe(self, userId) then
    if burst then
      if not self.meBurst then return false end
      self.meBurst = nil
    else
      if not self.me then return false end
      self.me = nil
    end
  end
  dropUser(self, userId)
  self.count = math.max(0, self.count - 1)
  if burst then
    self._burst = math.max(0, (rawget(self, "_burst") or 1) - 1)
  else
    self._normal = math.max(0, (rawget(self, "_normal") or 1) - 1)
  end
  return true
end

local function reactionPath(self)
  return "/channels/" .. self.message.channelId .. "/messages/" .. self.message.id .. "/reactions/"
    .. self.emoji.identifier
end
MessageReaction._path = reactionPath

--- Adds the bot's reaction with this emoji.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.MessageReaction reaction
function MessageReaction:react()
  return self.message:react(self.emoji)
end

--- Removes every user's reaction with this emoji; returns the reaction.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.MessageReaction reaction
function MessageReaction:remove()
  self.client.rest:delete(reactionPath(self))
  return self
end

--- Completes a partial reaction (and its message) in place; a reaction that is gone gets count 0.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.MessageReaction reaction
function MessageReaction:fetch()
  local message = self.message:fetch(true)
  local fresh = message.reactions.cache:get(self.emoji.key)
  if fresh and fresh ~= self then
    self:_patch({ count = fresh.count, me = fresh.me, me_burst = fresh.meBurst,
      count_details = fresh.countDetails, burst_colors = fresh.burstColors })
  elseif not fresh then
    self:_patch({ count = 0, me = false, me_burst = false, count_details = { normal = 0, burst = 0 } })
  end
  self.message = message
  return self
end

--- Plain table: emoji, counts, me, meBurst, burstColors and messageId.
---@return table json
function MessageReaction:toJSON()
  return {
    emoji = self.emoji:toJSON(), count = self.count, me = self.me, meBurst = self.meBurst,
    countDetails = self.countDetails,
    burstColors = self.burstColors, messageId = self.message and self.message.id,
  }
end

return M
