-- Collectors gather what arrives over time (messages, reactions, component and modal interactions)
-- until a limit, a timer or the loss of their source ends them, and the await helpers built on them.
local runtime = require("runtime")
local util = require("discord.util")
local enums = require("discord.enums")

local M = {}

local InteractionType = enums.InteractionType

local function fail(who, level, fmt, ...)
  error(who .. ": " .. string.format(fmt, ...), level + 1)
end

local function checkMs(who, name, v, level)
  if v ~= nil and (math.type(v) ~= "integer" or v < 0) then
    fail(who, level + 1, "%s must be a non-negative integer (ms), got %s", name, tostring(v))
  end
  return v
end

local function checkCount(who, name, v, level)
  if v ~= nil and (math.type(v) ~= "integer" or v < 1) then
    fail(who, level + 1, "%s must be a positive integer, got %s", name, tostring(v))
  end
  return v
end

-- Collector ----------------------------------------------------------------------------------------------

--- Base of every collector: gathers items from client events until a limit, a timer or `stop` ends it.
---@class discord.Collector: discord.EventEmitter
---@field client discord.Client The client whose events it listens to.
---@field options discord.CollectorOptions The options it was made with.
---@field filter fun(item: any, ...: any): boolean Keeps an item when it returns true (every item by default).
---@field collected discord.Collection The items collected so far, by key.
---@field ended boolean Whether it has stopped collecting.
---@field endReason string|nil "time", "idle", "limit", "user", "messageDelete", ... once ended.
---@field received integer Items offered so far, filtered or not.
---@field on fun(self, event: discord.CollectorEvent, listener: function): function Adds a listener.
---@field once fun(self, event: discord.CollectorEvent, listener: function): function Listens once.
local Collector = util.class("Collector", util.EventEmitter)
M.Collector = Collector

--- Starts collecting; subclasses pass their client.
--- Raises a string error for a filter that is not a function or a bad time, idle, max or maxProcessed.
---@param client discord.Client
---@param opts? discord.CollectorOptions
function Collector:init(client, opts)
  util.EventEmitter.init(self)
  opts = opts or {}
  local who = self.__name
  if opts.filter ~= nil and type(opts.filter) ~= "function" then fail(who, 3, "filter must be a function") end
  self.client = client
  self.options = opts
  self.filter = opts.filter or function() return true end
  checkMs(who, "time", opts.time, 3)
  checkMs(who, "idle", opts.idle, 3)
  checkCount(who, "max", opts.max, 3)
  checkCount(who, "maxProcessed", opts.maxProcessed, 3)
  self.collected = require("discord.collection").Collection()
  self.ended = false
  self.endReason = nil
  self.received = 0
  self._bound = {}
  self._endFuture = util.Future()
  self._waiters = {}
  if opts.time then self._timer = runtime.timer(opts.time, function() self:stop("time") end) end
  if opts.idle then self._idleTimer = runtime.timer(opts.idle, function() self:stop("idle") end) end
end

--- Listens to a client event for as long as the collector runs.
function Collector:_listen(name, fn)
  local bound = function(...)
    if self.ended then return end
    fn(self, ...)
  end
  self.client:on(name, bound)
  self._bound[#self._bound + 1] = { name, bound }
end

--- The key of an offered item in `collected`; nil ignores it. Subclasses override.
---@param self discord.Collector
---@param item any
---@return any key
function Collector.collect(_, item)
  return item and item.id
end

--- The key of an item that went away; nil ignores it. Subclasses override.
---@param self discord.Collector
---@param item any
---@return any key
function Collector.dispose(_, item)
  return item and item.id
end

--- Offers an item (and the event's other arguments) to the collector.
---@param item any
---@param ... any
function Collector:handleCollect(item, ...)
  if self.ended then return end
  local key = self:collect(item, ...)
  if key == nil then return end
  self.received = self.received + 1
  local args = table.pack(item, ...)
  args.n = args.n + 1
  args[args.n] = self.collected
  local ok, pass = pcall(self.filter, table.unpack(args, 1, args.n))
  if self.ended then return end
  if not ok then
    self.client:emit("error", pass)
    pass = false
  end
  if pass then
    self.collected:set(key, item)
    if self._queue then self._queue:push(table.pack(item, ...)) end
    self:emit("collect", item, ...)
    self:_resolveWaiters(item, ...)
    if self._idleTimer then self:resetTimer() end
  else
    self:emit("ignore", item, ...)
  end
  self:checkEnd()
end

--- Takes an item out of `collected` when its source says it is gone (only with `dispose`).
---@param item any
---@param ... any
function Collector:handleDispose(item, ...)
  if self.ended or not self.options.dispose then return end
  local key = self:dispose(item, ...)
  if key == nil or not self.collected:has(key) then return end
  self.collected:delete(key)
  self:emit("dispose", item, ...)
  self:checkEnd()
end

---@private
function Collector:endReason_()
  local o = self.options
  if o.max and self.collected.size >= o.max then return "limit" end
  if o.maxProcessed and self.received >= o.maxProcessed then return "processedLimit" end
  return nil
end

--- Ends the collector when a limit is reached; true when it ended (or had).
---@return boolean
function Collector:checkEnd()
  if self.ended then return true end
  local reason = self:endReason_()
  if reason then
    self:stop(reason)
    return true
  end
  return false
end

--- Restarts the timers: `{time=, idle=}` (ms) replaces their lengths; without them the same lengths run again.
--- Raises a string error for a negative or fractional time.
---@param opts? {time?: integer, idle?: integer}
function Collector:resetTimer(opts)
  if self.ended then return end
  opts = opts or {}
  if self._timer and opts.time ~= nil then
    self._timer:cancel()
    self._timer = runtime.timer(checkMs(self.__name, "time", opts.time, 2), function() self:stop("time") end)
  end
  if self._idleTimer then
    self._idleTimer:cancel()
    local idle = checkMs(self.__name, "idle", opts.idle, 2) or self.options.idle
    self._idleTimer = runtime.timer(idle, function() self:stop("idle") end)
  end
end

--- Ends the collector with `reason` ("user" by default): listeners go, timers stop, "end" fires once.
---@param reason? string
function Collector:stop(reason)
  if self.ended then return end
  self.ended = true
  self.endReason = reason or "user"
  if self._timer then self._timer:cancel() end
  if self._idleTimer then self._idleTimer:cancel() end
  for _, b in ipairs(self._bound) do self.client:off(b[1], b[2]) end
  self._bound = {}
  for _, w in ipairs(self._waiters) do w:reject(self.endReason) end
  self._waiters = {}
  if self._queue then self._queue:close() end
  self._endFuture:resolve(self.collected, self.endReason)
  self:emit("end", self.collected, self.endReason)
end

function Collector:_resolveWaiters(...)
  local waiters = self._waiters
  self._waiters = {}
  for _, w in ipairs(waiters) do w:resolve(...) end
end

--- The next collected item (and its event's other arguments).
--- Raises a string error when the collector has ended or ends first.
---@async
---@return any ...
function Collector:next()
  if self.ended then error(self.__name .. ": already ended (" .. tostring(self.endReason) .. ")", 2) end
  local f = util.Future()
  self._waiters[#self._waiters + 1] = f
  local res = table.pack(f:wait())
  if not res[1] then error(self.__name .. ": ended (" .. tostring(res[2]) .. ")", 2) end
  return table.unpack(res, 2, res.n)
end

--- Iterator over the items collected from now on: `for item in collector:iter() do`; each step waits.
---@return fun(): any step Suspends until the next item; nil once the collector has ended.
function Collector:iter()
  if not self._queue then self._queue = util.Queue() end
  local queue = self._queue
  if self.ended then queue:close() end
  return function()
    local entry = queue:pop()
    if entry == nil then return nil end
    return table.unpack(entry, 1, entry.n)
  end
end

--- Waits until the collector ends; returns the collected items and the reason.
---@async
---@return discord.Collection collected
---@return string reason
function Collector:wait()
  local _, collected, reason = self._endFuture:wait()
  return collected, reason
end

-- A collector ends when the place it listens to goes away.
function Collector:_endOn(event, reason, test)
  self:_listen(event, function(c, obj)
    if test(obj) then c:stop(reason) end
  end)
end

-- The thread a collector's channel is (when it is one).
local function isThread(channel)
  return type(channel) == "table" and util.contains(enums.ThreadChannelTypes, channel.type)
end

-- MessageCollector ---------------------------------------------------------------------------------------

--- Messages sent in a channel; ends with "channelDelete", "threadDelete" or "guildDelete" when it goes away.
---@class discord.MessageCollector: discord.Collector
---@field channel discord.BaseChannel The channel whose messages it collects.
local MessageCollector = util.class("MessageCollector", Collector)
M.MessageCollector = MessageCollector

--- Starts collecting messages of a channel (`MessageCollector(channel, opts)`); `dispose` follows deletions.
--- Raises a string error without a channel, or for bad options.
---@param channel discord.BaseChannel
---@param opts? discord.MessageCollectorOptions
function MessageCollector:init(channel, opts)
  if type(channel) ~= "table" or channel.id == nil then fail("MessageCollector", 2, "a channel is needed") end
  Collector.init(self, channel.client, opts)
  self.channel = channel
  local channelId = channel.id
  local guildId = channel.guildId
  self:_listen("messageCreate", function(c, msg) c:handleCollect(msg) end)
  self:_listen("messageDelete", function(c, msg) c:handleDispose(msg) end)
  self:_listen("messageDeleteBulk", function(c, messages)
    for _, msg in messages:iter() do c:handleDispose(msg) end
  end)
  self:_endOn(isThread(channel) and "threadDelete" or "channelDelete",
    isThread(channel) and "threadDelete" or "channelDelete", function(ch) return ch.id == channelId end)
  if guildId then self:_endOn("guildDelete", "guildDelete", function(g) return g.id == guildId end) end
end

--- The message's ID when it was sent in this channel, else nil.
---@param msg discord.Message
---@return discord.Snowflake|nil
function MessageCollector:collect(msg)
  if type(msg) ~= "table" or msg.channelId ~= self.channel.id then return nil end
  return msg.id
end

--- The message's ID when it was in this channel, else nil.
---@param msg discord.Message
---@return discord.Snowflake|nil
function MessageCollector:dispose(msg)
  if type(msg) ~= "table" or msg.channelId ~= self.channel.id then return nil end
  return msg.id
end

-- ReactionCollector --------------------------------------------------------------------------------------

--- Reactions added to a message, keyed by emoji (its ID, or the Unicode name); also "create" and "remove" events.
---@class discord.ReactionCollector: discord.Collector
---@field message discord.Message The message whose reactions it collects.
---@field users discord.Collection Users who reacted, by ID.
---@field total integer Reactions collected, every user counted.
local ReactionCollector = util.class("ReactionCollector", Collector)
M.ReactionCollector = ReactionCollector

--- The collection key of a reaction: its emoji's ID, or the Unicode name.
---@param reaction discord.MessageReaction
---@return string|nil
local function emojiKey(reaction)
  local e = reaction and reaction.emoji
  if type(e) ~= "table" then return nil end
  return e.id or e.name
end
M.reactionKey = emojiKey

local function messageIdOfReaction(r)
  if type(r) ~= "table" then return nil end
  if type(r.message) == "table" then return r.message.id end
  return r.messageId
end

--- Starts collecting reactions to a message (`ReactionCollector(message, opts)`).
--- Raises a string error without a message, or for bad options.
---@param message discord.Message
---@param opts? discord.ReactionCollectorOptions
function ReactionCollector:init(message, opts)
  if type(message) ~= "table" or message.id == nil then fail("ReactionCollector", 2, "a message is needed") end
  Collector.init(self, message.client, opts)
  checkCount("ReactionCollector", "maxEmojis", self.options.maxEmojis, 2)
  checkCount("ReactionCollector", "maxUsers", self.options.maxUsers, 2)
  self.message = message
  self.users = require("discord.collection").Collection()
  self.total = 0
  local messageId, channelId, guildId = message.id, message.channelId, message.guildId
  self:_listen("messageReactionAdd", function(c, reaction, user) c:handleCollect(reaction, user) end)
  self:_listen("messageReactionRemove", function(c, reaction, user) c:handleDispose(reaction, user) end)
  self:_listen("messageReactionRemoveAll", function(c, msg)
    if type(msg) == "table" and msg.id == messageId then c:_empty() end
  end)
  self:_listen("messageReactionRemoveEmoji", function(c, reaction)
    if messageIdOfReaction(reaction) == messageId then c:_drop(emojiKey(reaction)) end
  end)
  self:_endOn("messageDelete", "messageDelete", function(m) return m.id == messageId end)
  self:_listen("messageDeleteBulk", function(c, messages)
    if messages:has(messageId) then c:stop("messageDelete") end
  end)
  local channel = message.channel
  self:_endOn(isThread(channel) and "threadDelete" or "channelDelete",
    isThread(channel) and "threadDelete" or "channelDelete", function(ch) return ch.id == channelId end)
  if guildId then self:_endOn("guildDelete", "guildDelete", function(g) return g.id == guildId end) end
  self._firsts = {}
end

--- The reaction's emoji key when it is on this message, else nil.
---@param reaction discord.MessageReaction
---@param user discord.User
---@return string|nil
function ReactionCollector:collect(reaction, user)
  if messageIdOfReaction(reaction) ~= self.message.id then return nil end
  local key = emojiKey(reaction)
  if key == nil then return nil end
  return key, user
end

--- Emits like any emitter; counts users on "collect" and fires "create" for an emoji's first reaction.
---@param name string
---@param ... any
---@return boolean
function ReactionCollector:emit(name, ...)
  if name == "collect" then
    local reaction, user = ...
    if user and user.id then self.users:set(user.id, user) end
    self.total = self.total + 1
    local key = emojiKey(reaction)
    if not self._firsts[key] then
      self._firsts[key] = true
      Collector.emit(self, "create", reaction, user)
    end
  end
  return Collector.emit(self, name, ...)
end

--- The reaction's emoji key when it is on this message, else nil.
---@param reaction discord.MessageReaction
---@return string|nil
function ReactionCollector:dispose(reaction)
  if messageIdOfReaction(reaction) ~= self.message.id then return nil end
  return emojiKey(reaction)
end

--- A removal takes the user out; the emoji goes only when nobody reacts with it any more.
---@param reaction discord.MessageReaction
---@param user discord.User
function ReactionCollector:handleDispose(reaction, user)
  if self.ended or not self.options.dispose or self:dispose(reaction) == nil then return end
  local key = emojiKey(reaction)
  if not self.collected:has(key) then return end
  if user and user.id then
    local still = false
    for _, other in self.collected:iter() do
      local users = other.users and other.users.cache
      if users and users:has(user.id) then still = true end
    end
    if not still then self.users:delete(user.id) end
  end
  self:emit("remove", reaction, user)
  if (reaction.count or 0) <= 0 then
    self.collected:delete(key)
    self:emit("dispose", reaction, user)
  end
end

function ReactionCollector:_empty()
  self.collected:clear()
  self.users:clear()
  self.total = 0
  self:checkEnd()
end

function ReactionCollector:_drop(key)
  if key ~= nil then self.collected:delete(key) end
  self:checkEnd()
end

---@private
function ReactionCollector:endReason_()
  local o = self.options
  if o.max and self.total >= o.max then return "limit" end
  if o.maxEmojis and self.collected.size >= o.maxEmojis then return "emojiLimit" end
  if o.maxUsers and self.users.size >= o.maxUsers then return "userLimit" end
  if o.maxProcessed and self.received >= o.maxProcessed then return "processedLimit" end
  return nil
end

-- InteractionCollector -----------------------------------------------------------------------------------

--- Interactions: component clicks on a message or in a channel, or modal submits.
---@class discord.InteractionCollector: discord.Collector
---@field message discord.Message|nil The message whose components it watches, if any.
---@field messageId discord.Snowflake|nil The ID of that message.
---@field channelId discord.Snowflake|nil Only interactions from this channel, when set.
---@field guildId discord.Snowflake|nil Only interactions from this guild, when set.
---@field interactionType integer|nil Only interactions of this discord.enums.InteractionType, when set.
---@field componentType integer|nil Only components of this discord.enums.ComponentType, when set.
---@field users discord.Collection Users who interacted, by ID.
---@field total integer Interactions collected.
local InteractionCollector = util.class("InteractionCollector", Collector)
M.InteractionCollector = InteractionCollector

local function idOf(x)
  if type(x) == "table" then return x.id end
  if x == nil then return nil end
  return tostring(x)
end

-- The fields read from an interaction, whether it is the library's object or close to the raw payload.
local function messageIdOf(i)
  if type(i.message) == "table" then return i.message.id end
  return i.messageId
end

local function userIdOf(i)
  local u = i.user or (i.member and i.member.user)
  return u and u.id
end

local function componentTypeOf(i)
  if i.componentType ~= nil then return i.componentType end
  return type(i.data) == "table" and i.data.component_type or nil
end

--- The custom ID of an interaction object or of a raw interaction payload.
---@param i table
---@return string|nil
local function customIdOf(i)
  if i.customId ~= nil then return i.customId end
  return type(i.data) == "table" and i.data.custom_id or nil
end
M.interactionCustomId = customIdOf

--- Starts collecting interactions (`InteractionCollector(client, opts)`).
--- Raises a string error for bad options.
---@param client discord.Client
---@param opts? discord.InteractionCollectorOptions
function InteractionCollector:init(client, opts)
  opts = opts or {}
  Collector.init(self, client, opts)
  local who = "InteractionCollector"
  checkCount(who, "maxComponents", opts.maxComponents, 2)
  checkCount(who, "maxUsers", opts.maxUsers, 2)
  local message = opts.message
  self.messageId = idOf(message)
  self.message = type(message) == "table" and message or nil
  self.channelId = idOf(opts.channel) or (self.message and self.message.channelId)
  self.guildId = idOf(opts.guild) or (self.message and self.message.guildId)
    or (type(opts.channel) == "table" and opts.channel.guildId or nil)
  local t = opts.interactionType
  if type(t) == "string" then t = rawget(InteractionType, t) end
  self.interactionType = t
  local ct = opts.componentType
  if type(ct) == "string" then ct = rawget(enums.ComponentType, ct) end
  self.componentType = ct
  self.users = require("discord.collection").Collection()
  self.total = 0
  self:_listen("interactionCreate", function(c, i) c:handleCollect(i) end)
  if self.messageId then
    local mid = self.messageId
    self:_endOn("messageDelete", "messageDelete", function(m) return m.id == mid end)
    self:_listen("messageDeleteBulk", function(c, messages)
      if messages:has(mid) then c:stop("messageDelete") end
    end)
  end
  if self.channelId then
    local cid = self.channelId
    self:_endOn("channelDelete", "channelDelete", function(ch) return ch.id == cid end)
    self:_endOn("threadDelete", "threadDelete", function(ch) return ch.id == cid end)
  end
  if self.guildId then
    local gid = self.guildId
    self:_endOn("guildDelete", "guildDelete", function(g) return g.id == gid end)
  end
end

--- The interaction's ID when it matches the type, component, custom ID, message, channel and guild; else nil.
---@param i discord.BaseInteraction
---@return discord.Snowflake|nil
function InteractionCollector:collect(i)
  if type(i) ~= "table" then return nil end
  local t = i.type
  if self.interactionType and t ~= self.interactionType then return nil end
  if not self.interactionType and t ~= InteractionType.MessageComponent and t ~= InteractionType.ModalSubmit then
    return nil
  end
  if self.componentType and componentTypeOf(i) ~= self.componentType then return nil end
  if self.messageId and messageIdOf(i) ~= self.messageId then return nil end
  if self.channelId and i.channelId ~= self.channelId and (i.channel == nil or i.channel.id ~= self.channelId) then
    return nil
  end
  if self.guildId and i.guildId ~= nil and i.guildId ~= self.guildId then return nil end
  local want = self.options.customId
  if want ~= nil and customIdOf(i) ~= want then return nil end
  return i.id
end

--- Always nil: interactions do not go away.
---@return nil
function InteractionCollector.dispose()
  return nil
end

--- Emits like any emitter; counts users on "collect".
---@param name string
---@param ... any
---@return boolean
function InteractionCollector:emit(name, ...)
  if name == "collect" then
    local i = ...
    self.total = self.total + 1
    local uid = userIdOf(i)
    if uid then self.users:set(uid, i.user or i.member.user) end
  end
  return Collector.emit(self, name, ...)
end

---@private
function InteractionCollector:endReason_()
  local o = self.options
  if o.max and self.total >= o.max then return "limit" end
  if o.maxComponents and self.collected.size >= o.maxComponents then return "componentLimit" end
  if o.maxUsers and self.users.size >= o.maxUsers then return "userLimit" end
  if o.maxProcessed and self.received >= o.maxProcessed then return "processedLimit" end
  return nil
end

--- Modal submits with a given custom ID (or any): an InteractionCollector for modal submits.
---@class discord.ModalSubmitCollector: discord.InteractionCollector
local ModalSubmitCollector = util.class("ModalSubmitCollector", InteractionCollector)
M.ModalSubmitCollector = ModalSubmitCollector

--- Starts collecting modal submits (`ModalSubmitCollector(client, opts)`).
---@param client discord.Client
---@param opts? discord.InteractionCollectorOptions
function ModalSubmitCollector:init(client, opts)
  local o = {}
  for k, v in pairs(opts or {}) do o[k] = v end
  o.interactionType = InteractionType.ModalSubmit
  InteractionCollector.init(self, client, o)
end

-- Await helpers -----------------------------------------------------------------------------------------

--- Raised by awaitMessages and awaitReactions when the collector ended for a reason listed in `errors`.
---@class discord.CollectorError: discord.DiscordError
---@field reason string The end reason.
---@field collected discord.Collection What was collected before.
local CollectorError = util.class("CollectorError", require("discord.errors").DiscordError)
M.CollectorError = CollectorError

--- Builds the error from the end reason and what was collected.
---@param reason string
---@param collected discord.Collection
function CollectorError:init(reason, collected)
  require("discord.errors").DiscordError.init(self, "Collector ended with reason: " .. tostring(reason))
  self.reason = reason
  self.collected = collected
end

local function errorReasons(opts)
  local set = {}
  for _, r in ipairs(opts and opts.errors or {}) do set[r] = true end
  return set
end

-- (B) Runs a collector to its end; raises CollectorError for a reason in opts.errors.
local function awaitAll(collector, opts)
  local collected, reason = collector:wait()
  if errorReasons(opts)[reason] then error(CollectorError(reason, collected), 2) end
  return collected, reason
end

--- The messages collected in a channel until the collector ends.
--- Raises `discord.CollectorError` when the end reason is listed in `opts.errors` (such as "time").
---@async
---@param channel discord.BaseChannel
---@param opts? discord.MessageCollectorOptions
---@return discord.Collection collected
---@return string reason
function M.awaitMessages(channel, opts)
  return awaitAll(MessageCollector(channel, opts), opts)
end

--- The reactions collected on a message until the collector ends.
--- Raises `discord.CollectorError` when the end reason is listed in `opts.errors` (such as "time").
---@async
---@param message discord.Message
---@param opts? discord.ReactionCollectorOptions
---@return discord.Collection collected
---@return string reason
function M.awaitReactions(message, opts)
  return awaitAll(ReactionCollector(message, opts), opts)
end

-- (B) The first interaction a one-item collector takes; raises InteractionCollectorError when it ends
-- without one.
local function awaitOne(collector)
  local collected, reason = collector:wait()
  local first = collected:first()
  if first == nil then
    local errors = require("discord.errors")
    local e = errors.LibraryError("InteractionCollectorError", reason)
    e.reason = reason
    error(e, 3)
  end
  return first
end

--- The first component interaction on the message that passes `opts.filter` within `opts.time`.
--- Raises `discord.LibraryError` InteractionCollectorError (`reason`: "time", "messageDelete", ...) without one.
---@async
---@param message discord.Message
---@param opts? discord.InteractionCollectorOptions
---@return discord.MessageComponentInteraction
function M.awaitMessageComponent(message, opts)
  local o = {}
  for k, v in pairs(opts or {}) do o[k] = v end
  o.max, o.message = 1, message
  o.interactionType = InteractionType.MessageComponent
  return awaitOne(InteractionCollector(message.client, o))
end

--- The first modal submit that passes `opts.filter` (and matches `opts.customId`) within `opts.time`.
--- Raises `discord.LibraryError` InteractionCollectorError (`reason`: "time", ...) without one.
---@async
---@param client discord.Client
---@param opts? discord.InteractionCollectorOptions
---@return discord.ModalSubmitInteraction
function M.awaitModalSubmit(client, opts)
  local o = {}
  for k, v in pairs(opts or {}) do o[k] = v end
  o.max = 1
  return awaitOne(ModalSubmitCollector(client, o))
end

util.provide("collectors", M)

return M
