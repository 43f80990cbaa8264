-- The client's channel cache, the channels of one guild (fetch, create, edit, delete, positions) and
-- the threads of one channel.
local util = require("discord.util")
local json = require("json")
local base = require("discord.managers.base")

local M = {}

local function channelModule()
  return require("discord.channel")
end

-- ChannelManager ------------------------------------------------------------------------------------------

--- Every channel the client knows, DMs included.
local ChannelManager = util.class("ChannelManager", base.CachingManager)
M.ChannelManager = ChannelManager

--- Made by the client.
---@private
---@param client discord.Client
---@param iterable? table[]
function ChannelManager:init(client, iterable)
  base.CachingManager.init(self, client, channelModule().BaseChannel, iterable)
end

function ChannelManager._path(_, id)
  return "/channels/" .. id
end

--- `_add(data, guild, opts)`: patches or creates the channel and keeps the guild's list in step.
--- `opts.cache = false` builds the object without caching it.
function ChannelManager:_add(data, guild, opts)
  opts = opts or {}
  if guild == nil and data.guild_id ~= nil then guild = self.client.guilds.cache:get(data.guild_id) end
  local existing = self.cache:get(data.id)
  if existing and opts.cache ~= false then
    -- A channel whose type changed (text <-> announcement), or a partial one now known, may need another class.
    if data.type ~= nil and data.type ~= existing.type
        and channelModule().classFor(data, guild) ~= getmetatable(existing) then
      self:_remove(data.id)
      return self:_add(data, guild, opts)
    end
    existing:_patch(data)
    if guild and guild.channels then guild.channels.cache:set(existing.id, existing) end
    return existing
  end
  local channel = channelModule().createChannel(self.client, data, guild)
  if opts.cache ~= false then
    self.cache:set(channel.id, channel)
    if guild and guild.channels then guild.channels.cache:set(channel.id, channel) end
  end
  return channel
end

function ChannelManager:_remove(id)
  local channel = self.cache:get(id)
  if channel and channel.guild and channel.guild.channels then channel.guild.channels.cache:delete(id) end
  self.cache:delete(id)
  return channel
end

--- A channel by ID: cached unless `opts.force`.
--- Raises an error when `id` is not a channel ID; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id discord.ChannelResolvable
---@param opts? discord.FetchOptions
---@return discord.BaseChannel channel
function ChannelManager:fetch(id, opts)
  opts = opts or {}
  id = self:resolveId(id)
  if id == nil then error("ChannelManager:fetch: not a channel ID", 2) end
  if not opts.force then
    local hit = self.cache:get(id)
    if hit and not hit.partial then return hit end
  end
  local data = self.client.rest:get("/channels/" .. id)
  return self:_add(data, nil, { cache = opts.cache })
end

-- A group DM's recipient.
local function recipientPath(self, channel, user)
  return "/channels/" .. self:resolveId(channel) .. "/recipients/" .. self.client.users:resolveId(user)
end

--- Adds a user to a group DM with their OAuth2 token (gdm.join scope).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel discord.ChannelResolvable The group DM.
---@param user discord.UserResolvable
---@param opts? {accessToken?: string, nick?: string}
function ChannelManager:addRecipient(channel, user, opts)
  opts = opts or {}
  self.client.rest:put(recipientPath(self, channel, user), { body = { access_token = opts.accessToken,
    nick = opts.nick } })
end

--- Removes a user from a group DM.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel discord.ChannelResolvable The group DM.
---@param user discord.UserResolvable
function ChannelManager:removeRecipient(channel, user)
  self.client.rest:delete(recipientPath(self, channel, user))
end

-- A partial channel (Channel partials): without its type the channel cannot pick its class; one that holds
-- messages is the useful guess.
function ChannelManager:_partial(id, guildId)
  local guild = guildId and self.client.guilds.cache:get(guildId) or nil
  local channel = guildId and channelModule().TextChannel(self.client, { id = id, guild_id = guildId }, guild)
    or channelModule().DMChannel(self.client, { id = id })
  rawset(channel, "_partialType", true)
  self.cache:set(id, channel)
  if guild then guild.channels.cache:set(id, channel) end
  return channel
end

-- GuildChannelManager -------------------------------------------------------------------------------------

--- The channels of one guild; its cache is filled by the client's ChannelManager.
local GuildChannelManager = util.class("GuildChannelManager", base.CachingManager)
M.GuildChannelManager = GuildChannelManager

--- Made by the guild.
---@private
---@param guild discord.Guild
---@param iterable? table[]
function GuildChannelManager:init(guild, iterable)
  self.guild = guild
  base.CachingManager.init(self, guild.client, channelModule().GuildChannel)
  for _, data in ipairs(iterable or {}) do self:_add(data) end
end

function GuildChannelManager:_add(data, cache)
  return self.client.channels:_add(data, self.guild, { cache = cache })
end

function GuildChannelManager:_remove(id)
  return self.client.channels:_remove(id)
end

--- How many cached channels of the guild are not threads (read-only).
---@return integer count
GuildChannelManager.getters.channelCountWithoutThreads = function(self)
  local n = 0
  for _, c in self.cache:iter() do
    if not c:isThread() then n = n + 1 end
  end
  return n
end

--- `fetch(id)`: one channel (nil when it belongs to another guild); `fetch()`: every channel of the guild.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id? discord.ChannelResolvable
---@param opts? discord.FetchOptions
---@return discord.GuildChannel|discord.Collection|nil result
function GuildChannelManager:fetch(id, opts)
  opts = opts or {}
  if id ~= nil then
    id = self:resolveId(id)
    if not opts.force then
      local hit = self.cache:get(id)
      if hit then return hit end
    end
    local data = self.client.rest:get("/channels/" .. id)
    if data.guild_id ~= self.guild.id then return nil end
    return self:_add(data, opts.cache)
  end
  local list = self.client.rest:get("/guilds/" .. self.guild.id .. "/channels")
  local out = require("discord.collection").Collection()
  local seen = {}
  for _, data in ipairs(list) do
    local channel = self:_add(data, opts.cache)
    out:set(channel.id, channel)
    seen[channel.id] = true
  end
  -- Channels the API no longer lists were deleted while the bot was away.
  if opts.cache ~= false then
    for _, cid in ipairs(self.cache:keys()) do
      local c = self.cache:get(cid)
      if not seen[cid] and not c:isThread() then self:_remove(cid) end
    end
  end
  return out
end

-- The threads of a list of active threads (`add` caches each) with the bot's memberships in them.
local function addThreads(data, add)
  local out = require("discord.collection").Collection()
  for _, t in ipairs(data.threads or {}) do
    local thread = add(t)
    out:set(thread.id, thread)
  end
  for _, m in ipairs(data.members or {}) do
    local thread = out:get(m.id)
    if thread then thread.members:_add(m) end
  end
  return out
end

--- Every active thread of the guild, with the bot's memberships in them.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.FetchedThreads threads `hasMore` is always false.
function GuildChannelManager:fetchActiveThreads()
  local res = self.client.rest:get("/guilds/" .. self.guild.id .. "/threads/active")
  return { threads = addThreads(res, function(t) return self:_add(t) end), hasMore = false }
end

--- Creates a channel (a text channel unless `opts.type` says otherwise).
--- Raises an error without a name; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts string|discord.ChannelOptions The name, or options (with `reason`).
---@return discord.GuildChannel channel
function GuildChannelManager:create(opts)
  if type(opts) == "string" then opts = { name = opts } end
  if type(opts) ~= "table" or type(opts.name) ~= "string" then
    error("GuildChannelManager:create: a channel needs a name", 2)
  end
  local body = channelModule().channelBody(opts, self.guild)
  if body.type == nil then body.type = 0 end
  local data = self.client.rest:post("/guilds/" .. self.guild.id .. "/channels", { body = body, reason = opts.reason })
  return self:_add(data)
end

--- Edits a cached channel given as object or ID.
--- Raises an error for a channel not in the cache; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel discord.ChannelResolvable
---@param opts discord.ChannelOptions
---@param reason? string Audit log reason.
---@return discord.GuildChannel channel
function GuildChannelManager:edit(channel, opts, reason)
  local c = self:resolve(channel)
  if not c then error("GuildChannelManager:edit: unknown channel " .. tostring(channel), 2) end
  return c:edit(opts, reason)
end

--- Deletes a channel given as object or ID.
--- Raises an error when `channel` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel discord.ChannelResolvable
---@param reason? string Audit log reason.
function GuildChannelManager:delete(channel, reason)
  local id = self:resolveId(channel)
  if id == nil then error("GuildChannelManager:delete: not a channel: " .. tostring(channel), 2) end
  self.client.rest:delete("/channels/" .. id, { reason = reason })
  self:_remove(id)
end

--- Sets positions (and parents) of several channels at once; returns the guild.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param list {channel: any, position: integer, parent?: any, lockPermissions?: boolean}[] parent false: none.
---@param reason? string Audit log reason.
---@return discord.Guild guild
function GuildChannelManager:setPositions(list, reason)
  local body = {}
  for i, item in ipairs(list) do
    local entry = { id = self:resolveId(item.channel), position = item.position }
    if item.parent ~= nil then
      entry.parent_id = item.parent == false and json.null or self:resolveId(item.parent)
    end
    if item.lockPermissions ~= nil then entry.lock_permissions = item.lockPermissions == true end
    body[i] = entry
  end
  self.client.rest:patch("/guilds/" .. self.guild.id .. "/channels", { body = json.array(body), reason = reason })
  for _, entry in ipairs(body) do
    local c = self.cache:get(entry.id)
    if c then
      c.rawPosition = entry.position
      if entry.parent_id ~= nil then c.parentId = util.nullable(entry.parent_id) end
    end
  end
  return self.guild
end

--- Moves one channel; returns the guild.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel discord.ChannelResolvable
---@param position integer
---@param opts? {lockPermissions?: boolean, reason?: string}
---@return discord.Guild guild
function GuildChannelManager:setPosition(channel, position, opts)
  opts = opts or {}
  return self:setPositions({ { channel = channel, position = position, lockPermissions = opts.lockPermissions } },
    opts.reason)
end

-- ThreadManager -------------------------------------------------------------------------------------------

local ChannelType = require("discord.enums").ChannelType
local ARCHIVE_DURATIONS = util.set({ 60, 1440, 4320, 10080 })
local THREAD_TYPES = {
  PublicThread = ChannelType.PublicThread, PrivateThread = ChannelType.PrivateThread,
  AnnouncementThread = ChannelType.AnnouncementThread,
  [ChannelType.PublicThread] = ChannelType.PublicThread, [ChannelType.PrivateThread] = ChannelType.PrivateThread,
  [ChannelType.AnnouncementThread] = ChannelType.AnnouncementThread,
}
local THREAD_NAME_MAX = 100

--- The threads of one text, announcement, forum or media channel; its cache is a view of the
--- client's channels.
local ThreadManager = util.class("ThreadManager", base.DataManager)
M.ThreadManager = ThreadManager

--- Made by the channel.
---@private
---@param channel discord.GuildChannel
function ThreadManager:init(channel)
  base.DataManager.init(self, channel.client, channelModule().ThreadChannel)
  self.channel = channel
end

--- The cached threads whose parent is this channel (read-only).
---@return discord.Collection threads
ThreadManager.getters.cache = function(self)
  return self.client.channels.cache:filter(function(c)
    return c.parentId == self.channel.id and c:isThread()
  end)
end

local function isThreadOnly(channel)
  return channel.type == ChannelType.GuildForum or channel.type == ChannelType.GuildMedia
end

local function checkCreate(opts)
  if type(opts) ~= "table" then error("ThreadManager:create: options must be a table", 3) end
  local name = opts.name
  if type(name) ~= "string" or name == "" or util.utf8len(name) > THREAD_NAME_MAX then
    error("ThreadManager:create: a thread name must be 1 to " .. THREAD_NAME_MAX .. " characters", 3)
  end
  local minutes = opts.autoArchiveDuration
  if minutes ~= nil and not ARCHIVE_DURATIONS[minutes] then
    error("ThreadManager:create: autoArchiveDuration must be 60, 1440, 4320 or 10080 minutes", 3)
  end
  return { name = name, auto_archive_duration = minutes, rate_limit_per_user = opts.rateLimitPerUser }
end

--- Creates a thread; in a forum or media channel, a post with its starter `message` and `appliedTags`.
--- Raises an error for a bad name, duration, type, message or missing tag; `discord.DiscordAPIError` when refused.
---@async
---@param opts discord.ThreadCreateOptions
---@return discord.ThreadChannel thread
function ThreadManager:create(opts)
  local body = checkCreate(opts)
  local parent = self.channel
  local guild = parent.guild
  local rest = self.client.rest
  local data
  if isThreadOnly(parent) then
    if opts.message == nil then error("ThreadManager:create: a post needs a message", 2) end
    local MessagePayload = require("discord.message").MessagePayload
    local payload = MessagePayload.create(parent, opts.message):resolveBody()
    body.message = payload.body
    local tags = require("discord.structures.forum_tag").resolveIds(opts.appliedTags, parent.availableTags)
    if #tags == 0 and parent.flags and parent.flags:has("RequireTag") then
      error("ThreadManager:create: posts in this channel need at least one tag", 2)
    end
    if #tags > 0 then body.applied_tags = tags end
    local files = #payload.files > 0 and payload.files or nil
    data = rest:post("/channels/" .. parent.id .. "/threads", { body = body, files = files, reason = opts.reason })
  elseif opts.startMessage ~= nil then
    local id = parent.messages:resolveId(opts.startMessage)
    if id == nil then error("ThreadManager:create: not a message: " .. tostring(opts.startMessage), 2) end
    data = rest:post("/channels/" .. parent.id .. "/messages/" .. id .. "/threads", { body = body,
      reason = opts.reason })
  else
    local kind = parent.type == ChannelType.GuildAnnouncement and ChannelType.AnnouncementThread
      or THREAD_TYPES[opts.type or ChannelType.PublicThread]
    if kind == nil then error("ThreadManager:create: type must be PublicThread or PrivateThread", 2) end
    body.type = kind
    if kind == ChannelType.PrivateThread and opts.invitable ~= nil then body.invitable = opts.invitable == true end
    data = rest:post("/channels/" .. parent.id .. "/threads", { body = body, reason = opts.reason })
  end
  local thread = self.client.channels:_add(data, guild)
  if type(data.message) == "table" then thread.messages:_add(data.message) end
  return thread
end

-- A thread list answer ({threads, members, has_more}) into the cache: {threads=, hasMore=}.
function ThreadManager:_list(res, keep)
  local out = require("discord.collection").Collection()
  for _, t in ipairs(res.threads or {}) do
    if keep == nil or keep(t) then
      local thread = self.client.channels:_add(t, self.channel.guild)
      out:set(thread.id, thread)
    end
  end
  for _, m in ipairs(res.members or {}) do
    local thread = out:get(m.id)
    if thread then thread.members:_add(m) end
  end
  return { threads = out, hasMore = res.has_more == true }
end

--- `fetch(id)`: one thread of this channel (nil when it is not one); `fetch()`: the active threads.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id? discord.ChannelResolvable
---@param opts? discord.FetchOptions
---@return discord.ThreadChannel|discord.FetchedThreads|nil result
function ThreadManager:fetch(id, opts)
  if id == nil then return self:fetchActive() end
  local thread = self.client.channels:fetch(id, opts)
  if not thread:isThread() or thread.parentId ~= self.channel.id then return nil end
  return thread
end

--- The active (unarchived) threads of the channel.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.FetchedThreads threads
function ThreadManager:fetchActive()
  local res = self.client.rest:get("/guilds/" .. self.channel.guildId .. "/threads/active")
  return self:_list(res, function(t) return t.parent_id == self.channel.id end)
end

--- Archived threads of the channel, newest first: public, private, or private ones the bot joined.
--- Raises an error for a bad type; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? discord.FetchArchivedOptions
---@return discord.FetchedThreads threads
function ThreadManager:fetchArchived(opts)
  opts = opts or {}
  local kind = opts.type or "public"
  if kind ~= "public" and kind ~= "private" then
    error("ThreadManager:fetchArchived: type must be public or private", 2)
  end
  local path = "/channels/" .. self.channel.id
  if opts.joined then
    path = path .. "/users/@me/threads/archived/private"
  else
    path = path .. "/threads/archived/" .. kind
  end
  local before = opts.before
  if type(before) == "table" then
    before = opts.joined and before.id or (before.archiveTimestamp and util.isoTimestamp(before.archiveTimestamp))
  elseif math.type(before) == "integer" and not opts.joined then
    before = util.isoTimestamp(before)
  end
  local res = self.client.rest:get(path, { query = { before = before, limit = opts.limit } })
  return self:_list(res)
end

--- Options of `ThreadManager:search`.
---@class discord.ThreadSearchOptions
---@field name? string Text to look for in the thread names.
---@field tag? discord.Snowflake[] Tag IDs.
---@field tagSetting? "match_some"|"match_all" Whether a thread needs some or all of the tags.
---@field archived? boolean Whether to look in archived threads.
---@field sortBy? "relevance"|"creation_time"|"last_message_time"|"archive_time" What to sort by.
---@field sortOrder? "asc"|"desc" Ascending or descending.
---@field limit? integer 1 to 25.
---@field offset? integer How many results to skip.
---@field slop? integer The most words allowed between the matched words of `name`.
---@field minId? discord.Snowflake Only threads with a greater ID.
---@field maxId? discord.Snowflake Only threads with a smaller ID.

--- What `ThreadManager:search` returns.
---@class discord.ThreadSearchResult
---@field threads? discord.Collection The threads found, by ID.
---@field hasMore? boolean Whether more results remain past this page.
---@field total? integer How many threads match in all.
---@field indexing? boolean True (and nothing else) while Discord builds the index.
local SEARCH = { name = "name", slop = "slop", minId = "min_id", maxId = "max_id", tag = "tag",
  tagSetting = "tag_setting", archived = "archived", sortBy = "sort_by", sortOrder = "sort_order", limit = "limit",
  offset = "offset" }

--- Searches the threads of a forum or media channel; `{indexing = true}` only while Discord builds its index.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? discord.ThreadSearchOptions
---@return discord.ThreadSearchResult result
function ThreadManager:search(opts)
  local query = {}
  for k, v in pairs(opts or {}) do
    if SEARCH[k] then query[SEARCH[k]] = type(v) == "boolean" and tostring(v) or v end
  end
  local res = self.client.rest:get("/channels/" .. self.channel.id .. "/threads/search", { query = query })
  if res == nil or res.threads == nil then return { indexing = true } end
  local out = self:_list(res)
  out.total = res.total_results
  return out
end

-- Gateway events -----------------------------------------------------------------------------------------

local handlers = base.handlers
local get, clone, guildOf = base.get, base.clone, base.guildOf

handlers.CHANNEL_CREATE = function(client, packet)
  base.created(client, "channelCreate", client.channels, packet.d, guildOf(client, packet.d))
end

handlers.CHANNEL_UPDATE = function(client, packet)
  base.updated(client, "channelUpdate", client.channels, packet.d.id, packet.d, guildOf(client, packet.d))
end

handlers.CHANNEL_DELETE = function(client, packet)
  local d = packet.d
  local channel = get(client.channels.cache, d.id)
  if not channel then return end
  client.channels:_remove(d.id)
  -- Its threads go with it, without events of their own.
  for _, id in ipairs(client.channels.cache:keys()) do
    local c = client.channels.cache:get(id)
    if c.parentId == d.id and c:isThread() then client.channels:_remove(id) end
  end
  client:emit("channelDelete", channel)
end

handlers.CHANNEL_PINS_UPDATE = function(client, packet)
  local d = packet.d
  local channel = get(client.channels.cache, d.channel_id)
  if not channel then return end
  local ts = util.nullable(d.last_pin_timestamp)
  channel.lastPinTimestamp = ts and util.parseTimestamp(ts) or nil
  client:emit("channelPinsUpdate", channel, channel.lastPinTimestamp)
end

-- Being added to a thread the cache holds sends THREAD_CREATE again.
handlers.THREAD_CREATE = function(client, packet)
  local d = packet.d
  base.created(client, "threadCreate", client.channels, d, guildOf(client, d), d.newly_created == true)
end

handlers.THREAD_UPDATE = function(client, packet)
  base.updated(client, "threadUpdate", client.channels, packet.d.id, packet.d, guildOf(client, packet.d))
end

handlers.THREAD_DELETE = function(client, packet)
  base.gone(client, "threadDelete", client.channels, packet.d.id)
end

-- Sent when the bot gains access to channels: their active threads, complete.
handlers.THREAD_LIST_SYNC = function(client, packet)
  local d = packet.d
  local guild = guildOf(client, d)
  if not guild then return end
  local synced = d.channel_ids and util.set(d.channel_ids) or nil
  local listed = {}
  for _, t in ipairs(d.threads or {}) do listed[t.id] = true end
  for _, id in ipairs(client.channels.cache:keys()) do
    local c = client.channels.cache:get(id)
    if c:isThread() and c.guildId == guild.id and not listed[id] and (synced == nil or synced[c.parentId]) then
      client.channels:_remove(id)
    end
  end
  client:emit("threadListSync", addThreads(d, function(t) return client.channels:_add(t, guild) end), guild)
end

-- The bot's own membership of a thread changed.
handlers.THREAD_MEMBER_UPDATE = function(client, packet)
  local d = packet.d
  local thread = get(client.channels.cache, d.id)
  if thread and thread.members then base.updated(client, "threadMemberUpdate", thread.members, d.user_id, d) end
end

handlers.THREAD_MEMBERS_UPDATE = function(client, packet)
  local d = packet.d
  local thread = get(client.channels.cache, d.id)
  if not thread or not thread.members then return end
  local Collection = require("discord.collection").Collection
  local old = clone(thread)
  if d.member_count ~= nil then thread.memberCount = d.member_count end
  local added, removed = Collection(), Collection()
  for _, m in ipairs(d.added_members or {}) do
    local raw = util.shallowCopy(m)
    raw.id = raw.id or thread.id
    local member = thread.members:_add(raw)
    added:set(member.id, member)
  end
  for _, id in ipairs(d.removed_member_ids or {}) do
    local member = thread.members:_remove(id)
    if not member and base.partials().enabled(client, "ThreadMember") then
      member = thread.members:_add({ id = thread.id, user_id = id }, false)
    end
    if member then removed:set(id, member) end
  end
  client:emit("threadMembersUpdate", added, removed, thread, old)
end

-- Ephemeral data of voice channels: the status text and when the voice session started (Unix seconds).
local VOICE_INFO = { status = "status", voice_start_time = "voiceStartTime" }

-- An update names the field it changes; one it leaves out has no value any more.
local function voiceInfoUpdate(event, key)
  return function(client, packet)
    local d = packet.d
    local channel = get(client.channels.cache, d.id)
    if not channel then return end
    local old = clone(channel)
    channel[VOICE_INFO[key]] = util.nullable(d[key])
    client:emit(event, old, channel)
  end
end
handlers.VOICE_CHANNEL_STATUS_UPDATE = voiceInfoUpdate("voiceChannelStatusUpdate", "status")
handlers.VOICE_CHANNEL_START_TIME_UPDATE = voiceInfoUpdate("voiceChannelStartTimeUpdate", "voice_start_time")

-- The answer to client.ws:requestChannelInfo: the fields asked for, for the cached channels it lists.
handlers.CHANNEL_INFO = function(client, packet)
  local d = packet.d
  local guild = guildOf(client, d)
  if not guild then return end
  local channels = require("discord.collection").Collection()
  for _, info in ipairs(d.channels or {}) do
    local channel = get(client.channels.cache, info.id)
    if channel then
      channel:_copy(info, VOICE_INFO)
      channels:set(channel.id, channel)
    end
  end
  client:emit("channelInfo", channels, guild)
end

return M
