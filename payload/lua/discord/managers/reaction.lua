-- The reactions of one message, keyed by emoji (custom emoji ID or Unicode text).
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

-- Loaded at the first reaction (it needs this module) and kept: every message's first reaction makes a manager.
local structures
local function reactionModule()
  structures = structures or require("discord.structures.reaction")
  return structures
end

local ReactionManager = util.class("ReactionManager", base.CachingManager)
M.ReactionManager = ReactionManager

--- `ReactionManager(message)`.
---@private
---@param message discord.Message
function ReactionManager:init(message)
  self.message = message
  base.CachingManager.init(self, message.client, reactionModule().MessageReaction)
end

-- The cache key of an emoji payload: its ID, else its Unicode text.
local function emojiKey(e)
  if type(e) ~= "table" then return nil end
  return util.nullable(e.id) or util.nullable(e.name)
end

function ReactionManager._keyOf(_, data)
  return emojiKey(data.emoji)
end

function ReactionManager:_construct(data)
  return self.holds(self.client, data, self.message)
end

--- Takes the full list from message data: reactions are patched in place, missing ones dropped.
function ReactionManager:_patchAll(list)
  local seen = {}
  for _, data in ipairs(list or {}) do
    local key = self:_keyOf(data)
    if key then
      seen[key] = true
      self:_add(data)
    end
  end
  for _, key in ipairs(self.cache:keys()) do
    if not seen[key] then self.cache:delete(key) end
  end
end

--- The cache key (custom emoji ID or Unicode text) of a reaction or of any emoji form.
---@param x any A reaction, emoji, "name:id", "<:name:id>" or Unicode emoji.
---@return string? key
function ReactionManager:resolveId(x)
  if util.instanceOf(x, self.holds) then return x.emoji.key end
  local emoji = reactionModule().resolveEmoji(x)
  return emoji and emoji.key or nil
end

--- The cached reaction of a reaction or of any emoji form.
---@param x any A reaction, emoji, "name:id", "<:name:id>" or Unicode emoji.
---@return discord.MessageReaction? reaction
function ReactionManager:resolve(x)
  if util.instanceOf(x, self.holds) then return x end
  local key = self:resolveId(x)
  return key and self.cache:get(key) or nil
end

-- Read, never kept: a new reaction copies the counts.
local ZERO_COUNTS = { normal = 0, burst = 0 }
-- The data a new reaction is made from, filled for it and emptied after: the reaction copies what it reads.
local fresh = {}

-- The reaction for an emoji, made with no users when the message had none of it.
function ReactionManager:_forEmoji(emojiData, extra)
  local key = emojiKey(emojiData)
  local existing = key and self.cache:get(key)
  if existing then
    if extra then existing:_patch(extra) end
    return existing
  end
  -- Every key is set, so nothing is left from a construction that raised.
  local counted = not self.message.partial
  fresh.emoji, fresh.me, fresh.burst_colors = emojiData, false, nil
  fresh.count, fresh.count_details = counted and 0 or nil, counted and ZERO_COUNTS or nil
  if extra then
    for k, v in pairs(extra) do fresh[k] = v end
  end
  local reaction = self.holds(self.client, fresh, self.message)
  for k in next, fresh do fresh[k] = nil end
  if key then self.cache:set(key, reaction) end
  return reaction
end

--- Applies one user's reaction; returns the reaction and whether it counted as new.
function ReactionManager:_addUser(emojiData, userId, burst, extra)
  local reaction = self:_forEmoji(emojiData, extra)
  return reaction, reaction:_addUser(userId, burst)
end

--- Takes one user's reaction away; the reaction stays cached while anyone is left. Returns the
--- reaction (nil when unknown) and whether it counted.
function ReactionManager:_removeUser(emojiData, userId, burst)
  local key = emojiKey(emojiData)
  local reaction = key and self.cache:get(key)
  if not reaction then
    if not self.message.partial then return nil, false end
    reaction = self:_forEmoji(emojiData)
  end
  local counted = reaction:_removeUser(userId, burst)
  if reaction.count == 0 then self.cache:delete(key) end
  return reaction, counted
end

--- Removes every reaction from the message; returns the message.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Message message
function ReactionManager:removeAll()
  self.client.rest:delete("/channels/" .. self.message.channelId .. "/messages/" .. self.message.id .. "/reactions")
  return self.message
end

-- Gateway events -----------------------------------------------------------------------------------------

local handlers = base.handlers

local function reactionDetails(d)
  local burst = d.burst == true
  return { type = d.type or (burst and 1 or 0), burst = burst, burstColors = d.burst_colors,
    messageAuthorId = d.message_author_id }
end

-- A partial reaction (its message is partial) reaches listeners only with Reaction partials on.
local function reactionShown(client, reaction)
  return reaction ~= nil and (not reaction.partial or base.partials().enabled(client, "Reaction"))
end

handlers.MESSAGE_REACTION_ADD = function(client, packet)
  local d = packet.d
  local message = base.eventMessage(client, d)
  if not message then return end
  local user = base.eventUser(client, d)
  if not user then return end
  -- Most reactions carry no burst colours: an empty list changes nothing.
  local colors = d.burst_colors
  local reaction = message.reactions:_addUser(d.emoji, d.user_id, d.burst == true,
    colors and colors[1] ~= nil and { burst_colors = colors } or nil)
  if reactionShown(client, reaction) then client:emit("messageReactionAdd", reaction, user, reactionDetails(d)) end
end

handlers.MESSAGE_REACTION_REMOVE = function(client, packet)
  local d = packet.d
  local message = base.eventMessage(client, d)
  if not message then return end
  local user = base.partials().user(client, d.user_id)
  if not user then return end
  local reaction = message.reactions:_removeUser(d.emoji, d.user_id, d.burst == true)
  if reactionShown(client, reaction) then client:emit("messageReactionRemove", reaction, user, reactionDetails(d)) end
end

handlers.MESSAGE_REACTION_REMOVE_ALL = function(client, packet)
  local message = base.eventMessage(client, packet.d)
  if not message then return end
  local removed = message.reactions.cache:clone()
  message.reactions.cache:clear()
  client:emit("messageReactionRemoveAll", message, removed)
end

handlers.MESSAGE_REACTION_REMOVE_EMOJI = function(client, packet)
  local d = packet.d
  local message = base.eventMessage(client, d)
  if not message then return end
  local reactions = message.reactions
  local key = reactions:_keyOf(d)
  local reaction = key and reactions.cache:get(key)
  if not reaction and message.partial then reaction = reactions:_forEmoji(d.emoji) end
  if not reaction then return end
  reactions.cache:delete(key)
  if reactionShown(client, reaction) then client:emit("messageReactionRemoveEmoji", reaction) end
end

return M
