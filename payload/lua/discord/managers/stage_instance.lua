-- A guild's stage instances, addressed by their stage channel: create, fetch, edit and delete.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

--- A guild's stage instances, addressed by their stage channel (`guild.stageInstances`).
---@class discord.StageInstanceManager: discord.ResourceManager
---@field guild discord.Guild The guild.
local StageInstanceManager = util.class("StageInstanceManager", base.ResourceManager)
M.StageInstanceManager = StageInstanceManager

--- Made by the guild.
---@private
---@param guild discord.Guild
---@param iterable? table[]
function StageInstanceManager:init(guild, iterable)
  self.guild = guild
  base.ResourceManager.init(self, guild.client, require("discord.structures.stage_instance").StageInstance,
    "/stage-instances", guild, iterable)
end

local function channelId(self, channel, what)
  local inst = type(channel) == "table" and channel.channelId
  local id = inst or self.client.channels:resolveId(channel)
  if id == nil then error("StageInstanceManager:" .. what .. ": not a stage channel: " .. tostring(channel), 3) end
  return id
end

--- Options of `StageInstanceManager:create` and `:edit`.
---@class discord.StageInstanceOptions
---@field topic? string 1 to 120 characters (needed to create).
---@field privacyLevel? integer|string discord.StageInstancePrivacyLevel value or name.
---@field sendStartNotification? boolean Notify @everyone that the stage started.
---@field guildScheduledEvent? any The scheduled event it belongs to (or its ID).
---@field reason? string Audit log reason.
local function privacy(v)
  if type(v) == "string" then return require("discord.enums").StageInstancePrivacyLevel[v] end
  return v
end

--- Opens a stage in a stage channel.
--- Raises an error without a topic or channel; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel discord.ChannelResolvable The stage channel.
---@param opts discord.StageInstanceOptions
---@return discord.StageInstance instance
function StageInstanceManager:create(channel, opts)
  opts = opts or {}
  if type(opts.topic) ~= "string" or opts.topic == "" then
    error("StageInstanceManager:create: a topic is needed", 2)
  end
  local body = { channel_id = channelId(self, channel, "create"), topic = opts.topic }
  if opts.privacyLevel ~= nil then body.privacy_level = privacy(opts.privacyLevel) end
  if opts.sendStartNotification ~= nil then body.send_start_notification = opts.sendStartNotification == true end
  if opts.guildScheduledEvent ~= nil then
    body.guild_scheduled_event_id = self.guild.scheduledEvents:resolveId(opts.guildScheduledEvent)
  end
  return self:_create(body, opts.reason)
end

--- The instance of a stage channel (cached unless `opts.force`).
--- Raises an error when `channel` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel discord.ChannelResolvable|discord.StageInstance
---@param opts? discord.FetchOptions
---@return discord.StageInstance instance
function StageInstanceManager:fetch(channel, opts)
  opts = opts or {}
  local id = channelId(self, channel, "fetch")
  if not opts.force then
    local hit = self.cache:find(function(s) return s.channelId == id end)
    if hit then return hit end
  end
  return self:_add(self.client.rest:get(self:_path(id)), opts.cache ~= false)
end

--- Changes the topic or privacy of the instance of a stage channel.
--- Raises an error when `channel` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel discord.ChannelResolvable|discord.StageInstance
---@param opts discord.StageInstanceOptions `topic` and `privacyLevel` are used.
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.StageInstance instance
function StageInstanceManager:edit(channel, opts, reason)
  opts = opts or {}
  local body = {}
  if opts.topic ~= nil then body.topic = opts.topic end
  if opts.privacyLevel ~= nil then body.privacy_level = privacy(opts.privacyLevel) end
  local data = self.client.rest:patch(self:_path(channelId(self, channel, "edit")),
    { body = body, reason = base.reasonOf(opts, reason) })
  return self:_add(data)
end

--- Ends the stage of a channel; returns the instance when it was cached.
--- Raises an error when `channel` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel discord.ChannelResolvable|discord.StageInstance
---@param reason? string Audit log reason.
---@return discord.StageInstance? instance
function StageInstanceManager:delete(channel, reason)
  local id = channelId(self, channel, "delete")
  self.client.rest:delete(self:_path(id), { reason = reason })
  local inst = self.cache:find(function(s) return s.channelId == id end)
  if inst then self:_remove(inst.id) end
  return inst
end

-- Gateway events -----------------------------------------------------------------------------------------

base.guildResource("stageInstances", { "STAGE_INSTANCE_CREATE", "STAGE_INSTANCE_UPDATE", "STAGE_INSTANCE_DELETE",
  "stageInstanceCreate", "stageInstanceUpdate", "stageInstanceDelete" })

return M
