-- The client's channel cache and the channels of one guild: fetch, create, edit, delete, positions.
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

--- (B) A channel by ID: cached unless `opts.force`.
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

-- GuildChannelManager -------------------------------------------------------------------------------------

--- The channels of one guild; its cache is filled by the client's ChannelManager.
local GuildChannelManager = util.class("GuildChannelManager", base.CachingManager)
M.GuildChannelManager = GuildChannelManager

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

--- Channels that are not threads.
GuildChannelManager.getters.channelCountWithoutThreads = function(self)
  local n = 0
  for _, c in self.cache:iter() do
    if not c:isThread() then n = n + 1 end
  end
  return n
end

--- (B) `fetch(id)` returns one channel; `fetch()` every channel of the guild as a Collection.
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

--- (B) Creates a channel: {name=, type=, topic=, parent=, permissionOverwrites=, position=, nsfw=,
--- rateLimitPerUser=, reason=}. The type defaults to a text channel.
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

--- (B) Edits a channel given as object or ID.
function GuildChannelManager:edit(channel, opts, reason)
  local c = self:resolve(channel)
  if not c then error("GuildChannelManager:edit: unknown channel " .. tostring(channel), 2) end
  return c:edit(opts, reason)
end

--- (B) Deletes a channel given as object or ID.
function GuildChannelManager:delete(channel, reason)
  local id = self:resolveId(channel)
  if id == nil then error("GuildChannelManager:delete: not a channel: " .. tostring(channel), 2) end
  self.client.rest:delete("/channels/" .. id, { reason = reason })
  self:_remove(id)
end

--- (B) Sets positions of several channels: a list of {channel=, position=, parent=, lockPermissions=}.
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

--- (B) Moves one channel.
function GuildChannelManager:setPosition(channel, position, opts)
  opts = opts or {}
  return self:setPositions({ { channel = channel, position = position, lockPermissions = opts.lockPermissions } },
    opts.reason)
end

return M
