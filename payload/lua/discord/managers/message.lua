-- Messages of one channel: fetch and paging, pins, edit, delete and bulk delete.
local util = require("discord.util")
local json = require("json")
local base = require("discord.managers.base")

local M = {}

local Limits = require("discord.constants").Limits

local MessageManager = util.class("MessageManager", base.CachingManager)
M.MessageManager = MessageManager

--- `MessageManager(channel)`: the cache is bounded (200 messages unless the client says otherwise).
---@private
---@param channel discord.BaseChannel
function MessageManager:init(channel)
  self.channel = channel
  base.CachingManager.init(self, channel.client, require("discord.message").Message)
end

function MessageManager:_construct(data)
  return self.holds(self.client, data, self.channel)
end

function MessageManager:_path(id)
  return "/channels/" .. self.channel.id .. "/messages" .. (id and ("/" .. id) or "")
end

--- Options of `MessageManager:fetch` for a list.
---@class discord.FetchMessagesOptions
---@field limit? integer 1 to 100 (50).
---@field before? discord.Snowflake Messages before this ID.
---@field after? discord.Snowflake Messages after this ID.
---@field around? discord.Snowflake Messages around this ID.
---@field cache? boolean Keep the fetched messages (true).

local function collectionOf(self, list, cache)
  local out = require("discord.collection").Collection()
  for _, data in ipairs(list) do
    local msg = self:_add(data, cache)
    out:set(msg.id, msg)
  end
  return out
end

--- `fetch(id, opts)`: one message; `fetch({limit=, before=, after=, around=, cache=})` up to 100, newest first.
--- Raises an error for a limit outside 1 to 100; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param x any|discord.FetchMessagesOptions The message or its ID, or options for a list.
---@param opts? discord.FetchOptions For one message.
---@return discord.Message|discord.Collection result
function MessageManager:fetch(x, opts)
  if type(x) == "table" and util.className(x) ~= "Message" and x.id == nil then
    local query = { limit = x.limit or 50, before = x.before, after = x.after, around = x.around }
    if query.limit < 1 or query.limit > Limits.FetchMessages then
      error("MessageManager:fetch: limit must be 1 to " .. Limits.FetchMessages, 2)
    end
    local list = self.client.rest:get(self:_path(), { query = query })
    return collectionOf(self, list, x.cache ~= false)
  end
  return base.CachingManager.fetch(self, x, opts)
end

--- Iterator over the channel's history, newest first, pages of 100; the steps that fetch suspend the task.
--- Raises `discord.DiscordAPIError` from the loop when Discord refuses a page.
---@param opts? {limit?: integer, before?: any, cache?: boolean} `limit` defaults to every message.
---@return fun(): discord.Message? iterator
function MessageManager:history(opts)
  opts = opts or {}
  return base.pages(function(size, before)
    local list = self.client.rest:get(self:_path(), { query = { limit = size, before = before } })
    return util.map(list, function(data) return self:_add(data, opts.cache ~= false) end)
  end, Limits.FetchMessages, opts.limit, opts.before and self:resolveId(opts.before))
end

--- Pinned messages, newest pin first: every pin, or `limit` of them before a pin time.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? boolean|{limit?: integer, before?: integer|string, cache?: boolean} `before`: Unix ms or ISO time.
---@return discord.Collection messages
function MessageManager:fetchPinned(opts)
  if type(opts) ~= "table" then opts = { cache = opts } end
  local out, before, left = require("discord.collection").Collection(), opts.before, opts.limit or math.huge
  repeat
    local page = self:fetchPins({ before = before, limit = math.min(left, 50), cache = opts.cache })
    for _, pin in ipairs(page.items) do
      out:set(pin.message.id, pin.message)
      before = pin.pinnedAt
    end
    left = left - #page.items
  until not page.hasMore or left <= 0 or #page.items == 0
  return out
end

--- Edits a message given as object or ID; returns the patched (or new) Message.
--- Raises an error when `message` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param message any The message or its ID.
---@param options string|discord.MessageOptions
---@return discord.Message message
function MessageManager:edit(message, options)
  local id = self:resolveId(message)
  if id == nil then error("MessageManager:edit: not a message: " .. tostring(message), 2) end
  local MessagePayload = require("discord.message").MessagePayload
  if type(options) == "string" then options = { content = options } end
  local opts = {}
  for k, v in pairs(options or {}) do opts[k] = v end
  opts._edit = true
  local payload = MessagePayload(self:resolve(id) or self.channel, opts):resolveBody()
  local data = self.client.rest:patch(self:_path(id), { body = payload.body, files = payload.files })
  return self:_add(data)
end

--- Deletes a message given as object or ID.
--- Raises an error when `message` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param message any The message or its ID.
---@param reason? string Audit log reason.
function MessageManager:delete(message, reason)
  local id = self:resolveId(message)
  if id == nil then error("MessageManager:delete: not a message: " .. tostring(message), 2) end
  self.client.rest:delete(self:_path(id), { reason = reason })
  local cached = self:_remove(id)
  if cached then cached.deleted = true end
  if util.className(message) == "Message" then message.deleted = true end
end

--- Pins a message of the channel.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param message any The message or its ID.
---@param reason? string Audit log reason.
function MessageManager:pin(message, reason)
  self.client.rest:put(self:_path() .. "/pins/" .. self:resolveId(message), { reason = reason })
end

--- Unpins a message of the channel.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param message any The message or its ID.
---@param reason? string Audit log reason.
function MessageManager:unpin(message, reason)
  self.client.rest:delete(self:_path() .. "/pins/" .. self:resolveId(message), { reason = reason })
end

--- Adds the bot's reaction to a message given as object or ID.
--- Raises an error for something that is not an emoji; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param message any The message or its ID.
---@param emoji any A Unicode emoji, "name:id", "<:name:id>", an emoji or reaction object.
---@return discord.MessageReaction reaction
function MessageManager:react(message, emoji)
  local msg = self:resolve(message)
  if msg then return msg:react(emoji) end
  local Message = require("discord.message").Message
  return Message(self.client, { id = self:resolveId(message), channel_id = self.channel.id }, self.channel):react(emoji)
end

--- Publishes a message of an announcement channel to the channels that follow it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param message any The message or its ID.
---@return discord.Message message
function MessageManager:crosspost(message)
  local data = self.client.rest:post(self:_path(self:resolveId(message)) .. "/crosspost")
  return self:_add(data)
end

--- Deletes 2 to 100 messages at once (or the last `n` when given a number); returns the IDs deleted.
--- Raises an error for more than 100; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param messages integer|any[]|discord.Collection Messages or IDs, or how many of the last to delete.
---@param filterOld? boolean Leave out messages older than two weeks (Discord refuses them).
---@param reason? string Audit log reason.
---@return discord.Snowflake[] ids
function MessageManager:bulkDelete(messages, filterOld, reason)
  if math.type(messages) == "integer" then
    local fetched = self:fetch({ limit = messages })
    messages = fetched:keys()
  end
  local ids = {}
  local list = messages
  if type(messages) == "table" and type(messages.keys) == "function" then list = messages:keys() end
  local now = require("runtime").time()
  local snowflake = require("discord.snowflake")
  for _, m in ipairs(list) do
    local id = self:resolveId(m)
    if id and (not filterOld or now - snowflake.timestamp(id) < Limits.BulkDeleteMaxAge) then ids[#ids + 1] = id end
  end
  if #ids == 0 then return {} end
  if #ids > Limits.BulkDeleteMessages then
    error("MessageManager:bulkDelete: at most " .. Limits.BulkDeleteMessages .. " messages", 2)
  end
  if #ids == 1 then
    self:delete(ids[1], reason)
    return ids
  end
  self.client.rest:post(self:_path() .. "/bulk-delete", { body = { messages = json.array(ids) }, reason = reason })
  for _, id in ipairs(ids) do
    local cached = self:_remove(id)
    if cached then cached.deleted = true end
  end
  return ids
end

--- One page of pins, newest first.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? {limit?: integer, before?: integer|string, cache?: boolean} limit 1 to 50; `before` Unix ms or ISO.
---@return {items: {pinnedAt: discord.Milliseconds, message: discord.Message}[], hasMore: boolean} page
function MessageManager:fetchPins(opts)
  opts = opts or {}
  local before = opts.before
  if math.type(before) == "integer" then before = util.isoTimestamp(before) end
  local res = self.client.rest:get(self:_path() .. "/pins", { query = { before = before, limit = opts.limit } })
  local items = util.map(res.items, function(pin)
    return { pinnedAt = util.parseTimestamp(pin.pinned_at), message = self:_add(pin.message, opts.cache ~= false) }
  end)
  return { items = items, hasMore = res.has_more == true }
end

-- Gateway events -----------------------------------------------------------------------------------------

local handlers = base.handlers

-- A DM's first message may come before its channel is known.
local function channelForMessage(client, d)
  local channel = base.get(client.channels.cache, d.channel_id)
  if channel or d.guild_id then return channel end
  return client.channels:_add({ id = d.channel_id, type = 1, recipients = json.array({ d.author }) })
end

handlers.MESSAGE_CREATE = function(client, packet)
  local d = packet.d
  local channel = channelForMessage(client, d)
  if not channel or not channel.messages then return end
  local guild = base.guildOf(client, d)
  -- The message takes its member into the cache, and the member its author.
  if d.author and not (guild and d.member) then client.users:_add(d.author) end
  local messages, id = channel.messages, d.id
  local message
  if id ~= nil then message = messages:_addByKey(id, d) else message = messages:_add(d) end
  channel.lastMessageId = id
  client:emit("messageCreate", message)
end

handlers.MESSAGE_UPDATE = function(client, packet)
  local d = packet.d
  local message = base.eventMessage(client, d, d.id)
  if not message then return end
  local old = base.clone(message)
  message:_patch(d)
  client:emit("messageUpdate", old, message)
end

handlers.MESSAGE_DELETE = function(client, packet)
  local d = packet.d
  local message, channel = base.eventMessage(client, d, d.id)
  if not message then return end
  channel.messages:_remove(d.id)
  message.deleted = true
  client:emit("messageDelete", message)
end

handlers.MESSAGE_DELETE_BULK = function(client, packet)
  local d = packet.d
  local channel = base.get(client.channels.cache, d.channel_id)
  if not channel or not channel.messages then return end
  local Collection = require("discord.collection").Collection
  local deleted = Collection()
  for _, id in ipairs(d.ids or {}) do
    local message = base.eventMessage(client, d, id)
    if message then
      channel.messages:_remove(id)
      message.deleted = true
      deleted:set(id, message)
    end
  end
  client:emit("messageDeleteBulk", deleted, channel)
end

return M
