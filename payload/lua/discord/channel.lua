-- Channels: the base and guild channel classes, text, announcement, DM, category, voice, stage,
-- thread, forum and media channels, the text mixin that sends messages, permissions with
-- overwrites, and the factory that picks the class.
local util = require("discord.util")
local json = require("json")
local enums = require("discord.enums")
local Base = require("discord.managers.base").Base

local M = {}

local ChannelType = enums.ChannelType
local TEXT_BASED = util.set(enums.TextBasedChannelTypes)
local THREADS = util.set(enums.ThreadChannelTypes)
local VOICE_BASED = util.set(enums.VoiceBasedChannelTypes)

local function Permissions()
  return require("discord.bitfield").PermissionsBitField
end

-- BaseChannel ---------------------------------------------------------------------------------------------

---@type discord.BaseChannel
local BaseChannel = util.class("BaseChannel", Base)
M.BaseChannel = BaseChannel

--- Builds a channel from API data; the channel manager makes them (`channels:_add`).
---@param client discord.Client
---@param data table Raw channel object.
function BaseChannel:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self.type = data.type
  self:_patch(data)
end

-- Group DMs have an icon and may belong to an application; interactions give the app's permissions.
local BASE_FIELDS = { icon = "icon", application_id = "applicationId", managed = "managed", owner_id = "ownerId" }

local copyBaseFields = Base._copier(BASE_FIELDS)

function BaseChannel:_patch(data)
  if data.type ~= nil then self.type = data.type end
  copyBaseFields(self, data)
  self:_flags(data, "flags", "ChannelFlagsBitField")
  self:_flags(data, "app_permissions", "PermissionsBitField", "appPermissions")
  return self
end

--- When the channel was created, from its ID.
---@return discord.Milliseconds
BaseChannel.getters.createdTimestamp = function(self) return require("discord.snowflake").timestamp(self.id) end
--- True when only the ID is known (a partial channel).
---@return boolean
BaseChannel.getters.partial = function(self) return self.type == nil end

--- Link to the channel in the Discord client.
---@return string
BaseChannel.getters.url = function(self)
  return "https://discord.com/channels/" .. (self.guildId or "@me") .. "/" .. self.id
end

--- Whether the channel holds messages (has `messages` and `send`).
---@return boolean
function BaseChannel:isTextBased() return TEXT_BASED[self.type] == true and self.messages ~= nil end
--- Whether it is a DM or group DM.
---@return boolean
function BaseChannel:isDMBased() return self.type == ChannelType.DM or self.type == ChannelType.GroupDM end
--- Whether it is a thread (public, private or announcement).
---@return boolean
function BaseChannel:isThread() return THREADS[self.type] == true end
--- Whether it is a voice or stage channel.
---@return boolean
function BaseChannel:isVoiceBased() return VOICE_BASED[self.type] == true end
--- Whether the channel has a `send` method.
---@return boolean
function BaseChannel:isSendable() return self.send ~= nil end

--- Deletes the channel (for a DM, closes it) and drops it from the cache.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.BaseChannel self
function BaseChannel:delete(reason)
  self.client.rest:delete("/channels/" .. self.id, { reason = reason })
  self.client.channels:_remove(self.id)
  return self
end

--- Fetches the channel again from the API.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param force? boolean False lets the cached one answer (true).
---@return discord.BaseChannel
function BaseChannel:fetch(force)
  return self.client.channels:fetch(self.id, { force = force ~= false })
end

--- The channel mention "<#id>" (also `tostring(channel)`).
---@return string
function BaseChannel:toString()
  return "<#" .. self.id .. ">"
end
BaseChannel.__tostring = function(self) return self:toString() end

--- Whether `other` is the same channel with the same type and name.
---@param other? discord.BaseChannel
---@return boolean
function BaseChannel:equals(other)
  return other ~= nil and other.id == self.id and other.type == self.type and other.name == self.name
end

-- Text mixin ----------------------------------------------------------------------------------------------

--- Methods of every channel that holds messages, copied into its class.
---@type discord.TextBased
local TextBased = {}
M.TextBased = TextBased

-- The message manager needs the client, so this runs before the class's _patch.
local function initText(self, client)
  self.client = client
  self.lastMessageId = nil
  self.lastPinTimestamp = nil
end

function TextBased:_patchText(data)
  if data.last_message_id ~= nil then self.lastMessageId = util.nullable(data.last_message_id) end
  if data.last_pin_timestamp ~= nil then
    self.lastPinTimestamp = util.parseTimestamp(util.nullable(data.last_pin_timestamp))
  end
end

--- Sends a message: a string or message options with content, embeds, files, components, reply, ...
--- Raises `discord.DiscordAPIError` when Discord refuses it; invalid options raise before sending.
---@async
---@param options string|discord.MessageOptions
---@return discord.Message
function TextBased:send(options)
  local MessagePayload = require("discord.message").MessagePayload
  local payload = MessagePayload.create(self, options):resolveBody()
  local files = #payload.files > 0 and payload.files or nil
  local data = self.client.rest:post("/channels/" .. self.id .. "/messages", { body = payload.body, files = files })
  return self.messages:_add(data)
end

--- Shows "typing..." for about ten seconds, or until the bot sends a message.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
function TextBased:sendTyping()
  self.client.rest:post("/channels/" .. self.id .. "/typing")
end

--- Deletes 2 to 100 messages at once; see `MessageManager:bulkDelete`.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param messages discord.Collection|discord.Message[]|discord.Snowflake[]|integer Messages, or how many recent.
---@param filterOld? boolean Skips messages older than two weeks instead of failing.
---@param reason? string Audit log reason.
---@return discord.Snowflake[] deleted
function TextBased:bulkDelete(messages, filterOld, reason)
  return self.messages:bulkDelete(messages, filterOld, reason)
end

--- Collects messages sent in the channel; see `discord.MessageCollector`.
---@param opts? discord.MessageCollectorOptions
---@return discord.MessageCollector
function TextBased:createMessageCollector(opts)
  return util.provided("collectors").MessageCollector(self, opts)
end

--- The messages collected until the collector ends; see `discord.collectors.awaitMessages`.
--- Raises `discord.CollectorError` when `errors` lists the end reason.
---@async
---@param opts? discord.MessageCollectorOptions
---@return discord.Collection collected
---@return string reason Why the collector ended.
function TextBased:awaitMessages(opts)
  return util.provided("collectors").awaitMessages(self, opts)
end

--- Collects component interactions on any message of the channel.
---@param opts? discord.InteractionCollectorOptions
---@return discord.InteractionCollector
function TextBased:createMessageComponentCollector(opts)
  local o = {}
  for k, v in pairs(opts or {}) do o[k] = v end
  o.channel = self
  o.interactionType = require("discord.enums").InteractionType.MessageComponent
  return util.provided("collectors").InteractionCollector(self.client, o)
end

local textGetters = {
  --- The last message, when cached.
  ---@return discord.Message|nil
  lastMessage = function(self)
    return self.lastMessageId and self.messages.cache:get(self.lastMessageId) or nil
  end,
  --- When a message was last pinned.
  ---@return discord.Milliseconds|nil
  lastPinAt = function(self) return self.lastPinTimestamp end,
  -- Most of a big bot's channels never see a message: their managers are made when first read.
  --- Its messages: the cache and fetching.
  ---@return discord.MessageManager
  messages = function(self)
    local manager = require("discord.managers.message").MessageManager(self)
    rawset(self, "messages", manager)
    return manager
  end,
}

---@private
local function applyText(cls)
  for k, v in pairs(TextBased) do cls[k] = v end
  for k, v in pairs(textGetters) do cls.getters[k] = v end
end
M.applyTextBased = applyText

-- DMChannel -----------------------------------------------------------------------------------------------

---@type discord.DMChannel
local DMChannel = util.class("DMChannel", BaseChannel)
M.DMChannel = DMChannel
applyText(DMChannel)

--- Builds a DM channel from API data.
---@param client discord.Client
---@param data table Raw channel object.
function DMChannel:init(client, data)
  initText(self, client)
  BaseChannel.init(self, client, data)
end

function DMChannel:_patch(data)
  BaseChannel._patch(self, data)
  self:_patchText(data)
  local recipients = data.recipients
  if type(recipients) == "table" and recipients[1] then
    self.recipientId = self.client.users:_add(recipients[1]).id
  end
  return self
end

--- The other person, when cached.
---@return discord.User|nil
DMChannel.getters.recipient = function(self)
  return self.recipientId and self.client.users.cache:get(self.recipientId) or nil
end

--- True when the DM is known only by ID.
---@return boolean
DMChannel.getters.partial = function(self) return self.lastMessageId == nil and self.recipientId == nil end

--- "<@id>" of the recipient, so a DM channel prints as the person.
---@return string
function DMChannel:toString()
  return "<@" .. tostring(self.recipientId) .. ">"
end

-- GuildChannel --------------------------------------------------------------------------------------------

---@type discord.GuildChannel
local GuildChannel = util.class("GuildChannel", BaseChannel)
M.GuildChannel = GuildChannel

--- Builds a guild channel from API data; the guild may be absent when it is not cached.
---@param client discord.Client
---@param data table Raw channel object.
---@param guild? discord.Guild
function GuildChannel:init(client, data, guild)
  self.guild = guild
  self.guildId = (guild and guild.id) or data.guild_id
  BaseChannel.init(self, client, data)
end

-- Made when a channel has overwrites or when first read.
--- Its permission overwrites by role or member ID.
---@return discord.PermissionOverwriteManager
GuildChannel.getters.permissionOverwrites = function(self)
  local manager = require("discord.managers.permission_overwrite").PermissionOverwriteManager(self)
  rawset(self, "permissionOverwrites", manager)
  return manager
end

local GUILD_FIELDS = {
  name = "name",
  position = "rawPosition",
  parent_id = "parentId",
  nsfw = "nsfw",
}

local copyGuildFields = Base._copier(GUILD_FIELDS)

-- The old object of an update keeps its own overwrites; the live ones are patched in place.
function GuildChannel:_clone()
  local copy = Base._clone(self)
  local overwrites = util.shallowCopy(self.permissionOverwrites)
  overwrites.cache = self.permissionOverwrites.cache:mapValues(function(o) return o:_clone() end)
  copy.permissionOverwrites = overwrites
  return copy
end

function GuildChannel:_patch(data)
  BaseChannel._patch(self, data)
  copyGuildFields(self, data)
  if data.guild_id ~= nil then self.guildId = data.guild_id end
  local overwrites = data.permission_overwrites
  if overwrites ~= nil and (overwrites[1] ~= nil or rawget(self, "permissionOverwrites")) then
    self.permissionOverwrites:_patchAll(overwrites)
  end
  return self
end

--- The category (or, for a thread, the channel) it sits in, when cached.
---@return discord.GuildChannel|nil
GuildChannel.getters.parent = function(self)
  return self.parentId and self.client.channels.cache:get(self.parentId) or nil
end

-- Channels sort within a group: categories among categories, the rest within their category and kind.
local SORT_GROUPS = {
  [ChannelType.GuildText] = "text", [ChannelType.GuildAnnouncement] = "text", [ChannelType.GuildForum] = "text",
  [ChannelType.GuildMedia] = "text", [ChannelType.GuildDirectory] = "text",
  [ChannelType.GuildVoice] = "voice", [ChannelType.GuildStageVoice] = "voice",
  [ChannelType.GuildCategory] = "category",
}

local function sortKey(a, b)
  if (a.rawPosition or 0) ~= (b.rawPosition or 0) then return (a.rawPosition or 0) < (b.rawPosition or 0) end
  return require("discord.snowflake").older(a.id, b.id)
end

--- Place among the channels shown beside it, counted from 0.
---@return integer
GuildChannel.getters.position = function(self)
  local guild = self.guild
  local group = SORT_GROUPS[self.type]
  if not guild or not group then return self.rawPosition end
  local list = {}
  for _, c in guild.channels.cache:iter() do
    if SORT_GROUPS[c.type] == group and (group == "category" or c.parentId == self.parentId) then
      list[#list + 1] = c
    end
  end
  table.sort(list, sortKey)
  for i, c in ipairs(list) do
    if c.id == self.id then return i - 1 end
  end
  return self.rawPosition
end

--- True when the overwrites equal the parent category's; nil without a parent.
---@return boolean|nil
GuildChannel.getters.permissionsLocked = function(self)
  local parent = self.parent
  if not parent then return nil end
  local mine, theirs = self.permissionOverwrites.cache, parent.permissionOverwrites.cache
  if theirs.size ~= mine.size then return false end
  for id, o in mine:iter() do
    local p = theirs:get(id)
    if not p or p.allow.bitfield ~= o.allow.bitfield or p.deny.bitfield ~= o.deny.bitfield then return false end
  end
  return true
end

local function applyOverwrite(bits, o)
  if not o then return bits end
  return (bits & ~o.deny.bitfield) | o.allow.bitfield
end

--- A member's permissions here: roles, then the @everyone, role and member overwrites.
---@param member discord.GuildMember
---@param checkAdmin? boolean False ignores Administrator and ownership (true).
---@return discord.PermissionsBitField
function GuildChannel:memberPermissions(member, checkAdmin)
  local P = Permissions()
  local F = P.Flags
  local guild = self.guild
  if checkAdmin ~= false and member.id == guild.ownerId then return P(P.All):freeze() end
  local bits = 0
  for _, role in member.roles.cache:iter() do bits = bits | role.permissions.bitfield end
  if checkAdmin ~= false and bits & F.Administrator ~= 0 then return P(P.All):freeze() end
  local overwrites = self.permissionOverwrites.cache
  bits = applyOverwrite(bits, overwrites:get(guild.id))
  local allow, deny = 0, 0
  for _, roleId in ipairs(member._roles or {}) do
    local o = overwrites:get(roleId)
    if o then
      allow = allow | o.allow.bitfield
      deny = deny | o.deny.bitfield
    end
  end
  bits = (bits & ~deny) | allow
  bits = applyOverwrite(bits, overwrites:get(member.id))
  -- A member in timeout can only read.
  if member.isCommunicationDisabled and member:isCommunicationDisabled() then
    bits = bits & (F.ViewChannel | F.ReadMessageHistory)
  end
  return P(bits):freeze()
end

--- A role's permissions in this channel after the @everyone and role overwrites.
---@param role discord.Role
---@param checkAdmin? boolean False ignores Administrator (true).
---@return discord.PermissionsBitField
function GuildChannel:rolePermissions(role, checkAdmin)
  local P = Permissions()
  if checkAdmin ~= false and role.permissions.bitfield & P.Flags.Administrator ~= 0 then return P(P.All):freeze() end
  local bits = role.permissions.bitfield
  local overwrites = self.permissionOverwrites.cache
  bits = applyOverwrite(bits, overwrites:get(self.guildId))
  bits = applyOverwrite(bits, overwrites:get(role.id))
  return P(bits):freeze()
end

--- Permissions of a member, user, role or ID in this channel; nil when it cannot be resolved.
---@param x discord.GuildMember|discord.User|discord.Role|discord.Snowflake
---@param checkAdmin? boolean False ignores Administrator and ownership (true).
---@return discord.PermissionsBitField|nil
function GuildChannel:permissionsFor(x, checkAdmin)
  local guild = self.guild
  if not guild then return nil end
  if util.className(x) == "Role" then return self:rolePermissions(x, checkAdmin) end
  local member = guild.members:resolve(x)
  if member then return self:memberPermissions(member, checkAdmin) end
  local role = guild.roles:resolve(x)
  if role then return self:rolePermissions(role, checkAdmin) end
  return nil
end

local function mePermissions(self)
  local me = self.guild and self.guild.members.me
  return me and self:memberPermissions(me) or nil
end

--- Whether the bot can see the channel.
---@return boolean
GuildChannel.getters.viewable = function(self)
  local p = mePermissions(self)
  return p ~= nil and p:has("ViewChannel")
end

--- Whether the bot can edit the channel (ManageChannels and ViewChannel).
---@return boolean
GuildChannel.getters.manageable = function(self)
  local p = mePermissions(self)
  return p ~= nil and p:has({ "ManageChannels", "ViewChannel" })
end

--- Whether the bot can delete it (manageable, not the rules or updates channel).
---@return boolean
GuildChannel.getters.deletable = function(self)
  return self.manageable and self.guild.rulesChannelId ~= self.id and self.guild.publicUpdatesChannelId ~= self.id
end

--- Cached members that can see the channel.
---@return discord.Collection
GuildChannel.getters.members = function(self)
  return self.guild.members.cache:filter(function(m)
    return self:memberPermissions(m):has("ViewChannel")
  end)
end

--- The API form of permission overwrites from a list, a Collection or a PermissionOverwriteManager.
---@param list table|discord.Collection|discord.PermissionOverwriteManager {id=, type=, allow=, deny=} entries.
---@param guild? discord.Guild Tells roles from members when `type` is absent.
---@return table[]
local function overwriteBody(list, guild)
  local out = {}
  local P = Permissions()
  if util.className(list) == "PermissionOverwriteManager" then list = list.cache end
  local iter = list
  if type(list.values) == "function" then iter = list:values() end
  for _, o in ipairs(iter) do
    local id = o.id
    if type(id) == "table" then id = id.id end
    local t = o.type
    if t == nil then t = (guild and guild.roles.cache:has(id)) and 0 or 1 end
    out[#out + 1] = { id = id, type = t, allow = P(o.allow or 0):toJSON(), deny = P(o.deny or 0):toJSON() }
  end
  return json.array(out)
end
M.overwriteBody = overwriteBody

--- The API body of a channel edit or create from camelCase options.
---@param opts discord.ChannelOptions
---@param guild? discord.Guild Resolves roles and members of overwrites.
---@return table
function M.channelBody(opts, guild)
  local body = {}
  local direct = {
    name = "name", type = "type", position = "position", topic = "topic", nsfw = "nsfw",
    bitrate = "bitrate", userLimit = "user_limit", rateLimitPerUser = "rate_limit_per_user",
    defaultAutoArchiveDuration = "default_auto_archive_duration", flags = "flags",
    defaultThreadRateLimitPerUser = "default_thread_rate_limit_per_user", rtcRegion = "rtc_region",
    videoQualityMode = "video_quality_mode",
  }
  for from, to in pairs(direct) do
    if opts[from] ~= nil then body[to] = opts[from] end
  end
  if type(body.type) == "string" then
    body.type = ChannelType[body.type] or error("unknown channel type " .. tostring(body.type), 3)
  end
  if opts.parent ~= nil then
    if opts.parent == false or opts.parent == json.null then
      body.parent_id = json.null
    else
      body.parent_id = type(opts.parent) == "table" and opts.parent.id or opts.parent
    end
  end
  if opts.permissionOverwrites ~= nil then
    body.permission_overwrites = overwriteBody(opts.permissionOverwrites, guild)
  end
  M.threadBody(opts, body)
  return body
end

local ForumTagModule = function() return require("discord.structures.forum_tag") end

--- Adds the thread and forum fields of an edit or create to `body`.
---@param opts table camelCase options.
---@param body table API body to fill.
---@return table body
function M.threadBody(opts, body)
  local direct = {
    archived = "archived", locked = "locked", invitable = "invitable", autoArchiveDuration = "auto_archive_duration",
    defaultSortOrder = "default_sort_order", defaultForumLayout = "default_forum_layout",
  }
  for from, to in pairs(direct) do
    if opts[from] ~= nil then body[to] = opts[from] end
  end
  if opts.appliedTags ~= nil then body.applied_tags = ForumTagModule().resolveIds(opts.appliedTags, opts._tags) end
  if opts.availableTags ~= nil then
    local tags = opts.availableTags
    if #tags > ForumTagModule().Limits.tags then
      error("a channel has at most " .. ForumTagModule().Limits.tags .. " tags", 4)
    end
    body.available_tags = json.array(util.map(tags, ForumTagModule().resolve))
  end
  if opts.defaultReactionEmoji ~= nil then
    local e = opts.defaultReactionEmoji
    if e == false or e == json.null then
      body.default_reaction_emoji = json.null
    else
      local emoji = require("discord.structures.reaction").resolveEmoji(e)
      if not emoji then error("not an emoji: " .. tostring(e), 4) end
      body.default_reaction_emoji = { emoji_id = emoji.id or json.null,
        emoji_name = emoji.id and json.null or emoji.name }
    end
  end
  return body
end

--- Edits the channel and returns it, patched.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.ChannelOptions name, topic, nsfw, position, parent, rateLimitPerUser, overwrites, ...
---@param reason? string Audit log reason.
---@return discord.GuildChannel self
function GuildChannel:edit(opts, reason)
  opts = opts or {}
  local body = M.channelBody(opts, self.guild)
  if opts.lockPermissions then
    local parentId = body.parent_id
    if parentId == nil then parentId = self.parentId end
    local parent = parentId and parentId ~= json.null and self.client.channels.cache:get(parentId)
    if parent then body.permission_overwrites = overwriteBody(parent.permissionOverwrites, self.guild) end
  end
  return self:_patchREST(body, reason or opts.reason)
end

-- Sends an edit and returns the channel as Discord answers it.
function GuildChannel:_patchREST(body, reason)
  local data = self.client.rest:patch("/channels/" .. self.id, { body = body, reason = reason })
  return self.client.channels:_add(data, self.guild)
end

--- The channel's fields as a plain table, overwrites included.
---@return table
function GuildChannel:toJSON()
  local out = Base.toJSON(self)
  out.permissionOverwrites = self.permissionOverwrites:toJSON()
  return out
end

--- Renames the channel.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param name string
---@param reason? string Audit log reason.
---@return discord.GuildChannel self
function GuildChannel:setName(name, reason) return self:edit({ name = name }, reason) end

--- Moves the channel into a category (nil or false takes it out); syncs its permissions unless told not to.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param parent discord.CategoryChannel|discord.Snowflake|false|nil
---@param opts? {lockPermissions?: boolean, reason?: string}
---@return discord.GuildChannel self
function GuildChannel:setParent(parent, opts)
  opts = opts or {}
  return self:edit({ parent = parent or false, lockPermissions = opts.lockPermissions ~= false }, opts.reason)
end

--- Moves the channel to a position; with `relative`, by that many places.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param position integer
---@param opts? {relative?: boolean, lockPermissions?: boolean, reason?: string}
---@return discord.GuildChannel self
function GuildChannel:setPosition(position, opts)
  opts = opts or {}
  if opts.relative then position = self.position + position end
  self.guild.channels:setPosition(self, position, opts)
  return self
end

--- Copies the parent category's overwrites onto the channel.
--- Raises a string error without a parent, `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.GuildChannel self
function GuildChannel:lockPermissions()
  local parent = self.parent
  if not parent then error("GuildChannel:lockPermissions: the channel has no parent", 2) end
  return self:edit({ permissionOverwrites = parent.permissionOverwrites })
end

-- TextChannel ---------------------------------------------------------------------------------------------

-- Guild channels with messages of their own: the text mixin and the fields of their kind.
local function textChannel(cls, fields)
  applyText(cls)
  --- Builds the channel from API data.
  ---@param client discord.Client
  ---@param data table Raw channel object.
  ---@param guild? discord.Guild
  function cls:init(client, data, guild)
    initText(self, client)
    GuildChannel.init(self, client, data, guild)
  end
  function cls:_patch(data)
    GuildChannel._patch(self, data)
    self:_copy(data, fields)
    self:_patchText(data)
    if self.nsfw == nil then self.nsfw = false end
    return self
  end
end

--- Makes an invite to the channel; options as for `GuildInviteManager:create`.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? table maxAge, maxUses, temporary, unique, targetUser, targetApplication, reason.
---@return discord.Invite
function GuildChannel:createInvite(opts)
  return self.guild.invites:create(self, opts)
end

--- The channel's invites, as a Collection by code.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? {cache?: boolean}
---@return discord.Collection
function GuildChannel:fetchInvites(opts)
  return self.guild.invites:fetch({ channelId = self.id, cache = (opts or {}).cache })
end

--- The channel's webhooks, as a Collection by ID.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Collection
function GuildChannel:fetchWebhooks()
  local Webhook = require("discord.structures.webhook").Webhook
  local out = require("discord.collection").Collection()
  for _, w in ipairs(self.client.rest:get("/channels/" .. self.id .. "/webhooks")) do
    out:set(w.id, Webhook(self.client, w))
  end
  return out
end

--- Makes an incoming webhook in the channel.
--- Raises a string error for a name not 1 to 80 characters, `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts {name: string, avatar?: string, reason?: string} Avatar as image bytes or a data URI.
---@return discord.Webhook
function GuildChannel:createWebhook(opts)
  opts = opts or {}
  if type(opts.name) ~= "string" or opts.name == "" or #opts.name > 80 then
    error("GuildChannel:createWebhook: the name must be 1 to 80 characters", 2)
  end
  local body = { name = opts.name }
  if opts.avatar ~= nil then body.avatar = util.imageData(opts.avatar) end
  local data = self.client.rest:post("/channels/" .. self.id .. "/webhooks", { body = body, reason = opts.reason })
  return require("discord.structures.webhook").Webhook(self.client, data)
end

---@type discord.TextChannel
local TextChannel = util.class("TextChannel", GuildChannel)
TextChannel.__fields = 12
M.TextChannel = TextChannel

local TEXT_FIELDS = {
  topic = "topic",
  rate_limit_per_user = "rateLimitPerUser",
  default_auto_archive_duration = "defaultAutoArchiveDuration",
  default_thread_rate_limit_per_user = "defaultThreadRateLimitPerUser",
}
textChannel(TextChannel, TEXT_FIELDS)

--- Sets the topic (nil clears it).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param topic string|nil
---@param reason? string Audit log reason.
---@return discord.TextChannel self
function TextChannel:setTopic(topic, reason) return self:edit({ topic = topic or json.null }, reason) end
--- Marks the channel age-restricted (true by default) or not.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param nsfw? boolean
---@param reason? string Audit log reason.
---@return discord.TextChannel self
function TextChannel:setNSFW(nsfw, reason) return self:edit({ nsfw = nsfw ~= false }, reason) end

--- Sets slowmode in seconds (0 turns it off).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param seconds integer 0 to 21600.
---@param reason? string Audit log reason.
---@return discord.TextChannel self
function TextChannel:setRateLimitPerUser(seconds, reason)
  return self:edit({ rateLimitPerUser = seconds }, reason)
end

-- One thread manager per channel, made when first used.
local function threadsOf(self)
  local threads = rawget(self, "_threads")
  if not threads then
    threads = require("discord.managers.channel").ThreadManager(self)
    rawset(self, "_threads", threads)
  end
  return threads
end

--- The threads of this channel.
---@return discord.ThreadManager
TextChannel.getters.threads = threadsOf

-- AnnouncementChannel -------------------------------------------------------------------------------------

--- A channel whose messages other servers can follow.
---@class discord.AnnouncementChannel: discord.TextChannel
local AnnouncementChannel = util.class("AnnouncementChannel", TextChannel)
M.AnnouncementChannel = AnnouncementChannel
M.NewsChannel = AnnouncementChannel

--- Posts this channel's announcements into another channel as well.
--- Raises a string error for something that is not a channel, `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel discord.ChannelResolvable The channel that receives them.
---@param reason? string Audit log reason.
---@return discord.AnnouncementChannel self
function AnnouncementChannel:addFollower(channel, reason)
  local id = self.client.channels:resolveId(channel)
  if id == nil then error("AnnouncementChannel:addFollower: not a channel: " .. tostring(channel), 2) end
  local body = { webhook_channel_id = id }
  self.client.rest:post("/channels/" .. self.id .. "/followers", { body = body, reason = reason })
  return self
end

-- CategoryChannel -----------------------------------------------------------------------------------------

---@type discord.CategoryChannel
local CategoryChannel = util.class("CategoryChannel", GuildChannel)
M.CategoryChannel = CategoryChannel

--- The channels in this category.
---@return discord.CategoryChannelChildManager
CategoryChannel.getters.children = function(self)
  return require("discord.managers.category_child").CategoryChannelChildManager(self)
end

-- Voice and stage channels ------------------------------------------------------------------------------

-- Voice and stage channels; they have a text chat of their own.
---@type discord.BaseGuildVoiceChannel
local BaseGuildVoiceChannel = util.class("BaseGuildVoiceChannel", GuildChannel)
M.BaseGuildVoiceChannel = BaseGuildVoiceChannel

local VOICE_FIELDS = {
  bitrate = "bitrate",
  user_limit = "userLimit",
  rtc_region = "rtcRegion",
  video_quality_mode = "videoQualityMode",
  rate_limit_per_user = "rateLimitPerUser",
}
textChannel(BaseGuildVoiceChannel, VOICE_FIELDS)

--- True when the bot may see the channel and connect to it.
---@return boolean
BaseGuildVoiceChannel.getters.joinable = function(self)
  local me = self.guild and self.guild.members.me
  return me ~= nil and self:memberPermissions(me):has({ "ViewChannel", "Connect" })
end

--- Sets the audio bitrate in bits per second.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param bitrate integer
---@param reason? string Audit log reason.
---@return discord.BaseGuildVoiceChannel self
function BaseGuildVoiceChannel:setBitrate(bitrate, reason) return self:edit({ bitrate = bitrate }, reason) end
--- Sets how many users may join (0 for no limit).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param limit integer
---@param reason? string Audit log reason.
---@return discord.BaseGuildVoiceChannel self
function BaseGuildVoiceChannel:setUserLimit(limit, reason) return self:edit({ userLimit = limit }, reason) end

--- Sets the voice region ID, or nil for automatic.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param region string|nil
---@param reason? string Audit log reason.
---@return discord.BaseGuildVoiceChannel self
function BaseGuildVoiceChannel:setRTCRegion(region, reason)
  return self:edit({ rtcRegion = region or json.null }, reason)
end

--- Sets the camera video quality: 1 automatic, 2 full (720p).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param mode integer
---@param reason? string Audit log reason.
---@return discord.BaseGuildVoiceChannel self
function BaseGuildVoiceChannel:setVideoQualityMode(mode, reason)
  return self:edit({ videoQualityMode = mode }, reason)
end

--- Sets the channel's status text (up to 500 characters; nil or "" clears it).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param status string|nil
---@param reason? string Audit log reason.
---@return discord.BaseGuildVoiceChannel self
function BaseGuildVoiceChannel:setStatus(status, reason)
  self.client.rest:put("/channels/" .. self.id .. "/voice-status", { body = { status = status or "" },
    reason = reason })
  self.status = status ~= "" and status or nil
  return self
end

---@type discord.VoiceChannel
local VoiceChannel = util.class("VoiceChannel", BaseGuildVoiceChannel)
VoiceChannel.__fields = 12
M.VoiceChannel = VoiceChannel

--- Whether the bot may speak in the channel.
---@return boolean
VoiceChannel.getters.speakable = function(self)
  local me = self.guild and self.guild.members.me
  return me ~= nil and self:memberPermissions(me):has("Speak")
end

---@type discord.StageChannel
local StageChannel = util.class("StageChannel", BaseGuildVoiceChannel)
M.StageChannel = StageChannel

function StageChannel:_patch(data)
  BaseGuildVoiceChannel._patch(self, data)
  self:_copy(data, { topic = "topic" })
  return self
end

--- Sets the stage's topic (nil clears it).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param topic string|nil
---@param reason? string Audit log reason.
---@return discord.StageChannel self
function StageChannel:setTopic(topic, reason) return self:edit({ topic = topic or json.null }, reason) end

-- ThreadChannel -------------------------------------------------------------------------------------------

-- A thread: public, private or in an announcement channel, or a post of a forum or media channel.
---@type discord.ThreadChannel
local ThreadChannel = util.class("ThreadChannel", GuildChannel)
M.ThreadChannel = ThreadChannel
applyText(ThreadChannel)

local THREAD_FIELDS = {
  owner_id = "ownerId",
  message_count = "messageCount",
  member_count = "memberCount",
  total_message_sent = "totalMessageSent",
  rate_limit_per_user = "rateLimitPerUser",
}

local META_FIELDS = {
  archived = "archived",
  auto_archive_duration = "autoArchiveDuration",
  locked = "locked",
  invitable = "invitable",
}

--- Builds a thread from API data.
---@param client discord.Client
---@param data table Raw channel object.
---@param guild? discord.Guild
function ThreadChannel:init(client, data, guild)
  initText(self, client)
  self.members = require("discord.managers.thread_member").ThreadMemberManager(self)
  self.appliedTags = {}
  GuildChannel.init(self, client, data, guild)
end

function ThreadChannel:_patch(data)
  GuildChannel._patch(self, data)
  self:_copy(data, THREAD_FIELDS)
  self:_patchText(data)
  local meta = util.nullable(data.thread_metadata)
  if meta then
    self:_copy(meta, META_FIELDS)
    if meta.archive_timestamp ~= nil then
      self.archiveTimestamp = util.parseTimestamp(util.nullable(meta.archive_timestamp))
    end
    if meta.create_timestamp ~= nil then
      self._createTimestamp = util.parseTimestamp(util.nullable(meta.create_timestamp))
    end
  end
  if data.applied_tags ~= nil then self.appliedTags = util.map(data.applied_tags, function(t) return t end) end
  local member = util.nullable(data.member)
  if member and self.client.user then
    local raw = util.shallowCopy(member)
    raw.id, raw.user_id = self.id, raw.user_id or self.client.user.id
    self.members:_add(raw)
  end
  return self
end

function ThreadChannel:_clone()
  local copy = GuildChannel._clone(self)
  copy.appliedTags = util.map(self.appliedTags, function(t) return t end)
  return copy
end

--- When the thread was created (older threads: from the ID).
---@return discord.Milliseconds
ThreadChannel.getters.createdTimestamp = function(self)
  return self._createTimestamp or require("discord.snowflake").timestamp(self.id)
end

--- When the thread was archived or its archive state last changed.
---@return discord.Milliseconds|nil
ThreadChannel.getters.archivedAt = function(self) return self.archiveTimestamp end
--- Always nil: threads have no position.
---@return nil
ThreadChannel.getters.position = function() return nil end

--- Whether the bot has joined the thread.
---@return boolean
ThreadChannel.getters.joined = function(self) return self.members.me ~= nil end

--- The thread owner as a thread member, when cached.
---@return discord.ThreadMember|nil
ThreadChannel.getters.owner = function(self)
  return self.ownerId and self.members.cache:get(self.ownerId) or nil
end

--- Whether the post is pinned in its forum or media channel.
---@return boolean
ThreadChannel.getters.pinned = function(self)
  return self.flags ~= nil and self.flags:has("Pinned")
end

--- A member's permissions in the thread: those of its parent channel.
---@param member discord.GuildMember
---@param checkAdmin? boolean False ignores Administrator and ownership (true).
---@return discord.PermissionsBitField
function ThreadChannel:memberPermissions(member, checkAdmin)
  local parent = self.parent
  if not parent or not parent.memberPermissions then return Permissions()(0):freeze() end
  return parent:memberPermissions(member, checkAdmin)
end

--- A role's permissions in the thread: those of its parent channel.
---@param role discord.Role
---@param checkAdmin? boolean False ignores Administrator (true).
---@return discord.PermissionsBitField
function ThreadChannel:rolePermissions(role, checkAdmin)
  local parent = self.parent
  if not parent or not parent.rolePermissions then return Permissions()(0):freeze() end
  return parent:rolePermissions(role, checkAdmin)
end

local function mePerms(self)
  local me = self.guild and self.guild.members.me
  return me and self:memberPermissions(me) or nil
end

--- The bot may join a public thread it can see; a private one only when invited or managing threads.
---@return boolean
ThreadChannel.getters.joinable = function(self)
  local perms = mePerms(self)
  if not perms or not perms:has("ViewChannel") or self.archived and self.locked then return false end
  return self.type ~= ChannelType.PrivateThread or perms:has("ManageThreads")
end

--- Whether the bot can send messages in the thread now.
---@return boolean
ThreadChannel.getters.sendable = function(self)
  local perms = mePerms(self)
  if not perms or not perms:has({ "ViewChannel", "SendMessagesInThreads" }) then return false end
  if self.locked and not perms:has("ManageThreads") then return false end
  return self.type ~= ChannelType.PrivateThread or self.joined or perms:has("ManageThreads")
end

--- Whether the bot can edit the thread: its owner, or ManageThreads.
---@return boolean
ThreadChannel.getters.editable = function(self)
  local me = self.client.user
  if me and self.ownerId == me.id then return true end
  local perms = mePerms(self)
  return perms ~= nil and perms:has("ManageThreads")
end

--- Whether the bot can unarchive the thread.
---@return boolean
ThreadChannel.getters.unarchivable = function(self)
  if not self.archived then return false end
  if not self.locked then return self.sendable end
  local perms = mePerms(self)
  return perms ~= nil and perms:has("ManageThreads")
end

--- Edits the thread: name, archived, autoArchiveDuration, locked, invitable, rateLimitPerUser, appliedTags, flags.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts table
---@param reason? string Audit log reason.
---@return discord.ThreadChannel self
function ThreadChannel:edit(opts, reason)
  opts = opts or {}
  local parent = self.parent
  local withTags = {}
  for k, v in pairs(opts) do withTags[k] = v end
  withTags._tags = parent and parent.availableTags
  return self:_patchREST(M.channelBody(withTags, self.guild), reason or opts.reason)
end

--- Archives the thread (true by default) or unarchives it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param archived? boolean
---@param reason? string Audit log reason.
---@return discord.ThreadChannel self
function ThreadChannel:setArchived(archived, reason) return self:edit({ archived = archived ~= false }, reason) end
--- Locks the thread (true by default) so only moderators can unarchive it, or unlocks it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param locked? boolean
---@param reason? string Audit log reason.
---@return discord.ThreadChannel self
function ThreadChannel:setLocked(locked, reason) return self:edit({ locked = locked ~= false }, reason) end
--- Lets non-moderators add others to a private thread (true by default), or not.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param invitable? boolean
---@param reason? string Audit log reason.
---@return discord.ThreadChannel self
function ThreadChannel:setInvitable(invitable, reason) return self:edit({ invitable = invitable ~= false }, reason) end
--- Sets the forum tags of a post.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param tags discord.Snowflake[] Tag IDs.
---@param reason? string Audit log reason.
---@return discord.ThreadChannel self
function ThreadChannel:setAppliedTags(tags, reason) return self:edit({ appliedTags = tags }, reason) end

--- Minutes of inactivity before the thread archives itself: 60, 1440, 4320 or 10080.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param minutes integer
---@param reason? string Audit log reason.
---@return discord.ThreadChannel self
function ThreadChannel:setAutoArchiveDuration(minutes, reason)
  return self:edit({ autoArchiveDuration = minutes }, reason)
end

local PINNED = 1 << 1

--- Pins a post of a forum or media channel.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.ThreadChannel self
function ThreadChannel:pin(reason)
  return self:edit({ flags = (self.flags and self.flags.bitfield or 0) | PINNED }, reason)
end

--- Unpins a post of a forum or media channel.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.ThreadChannel self
function ThreadChannel:unpin(reason)
  return self:edit({ flags = (self.flags and self.flags.bitfield or 0) & ~PINNED }, reason)
end

--- Joins the thread.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.ThreadChannel self
function ThreadChannel:join()
  self.members:add("@me")
  return self
end

--- Leaves the thread.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.ThreadChannel self
function ThreadChannel:leave()
  self.members:remove("@me")
  return self
end

--- The message the thread was started from (a forum post's first message).
--- Raises `discord.LibraryError` ChannelNotCached without its channel, `discord.DiscordAPIError` when refused.
---@async
---@param opts? discord.FetchOptions
---@return discord.Message
function ThreadChannel:fetchStarterMessage(opts)
  local parent = self.parent
  local inForum = parent and (parent.type == ChannelType.GuildForum or parent.type == ChannelType.GuildMedia)
  local channel = inForum and self or parent
  if not channel or not channel.messages then error(require("discord.errors").LibraryError("ChannelNotCached"), 2) end
  return channel.messages:fetch(self.id, opts)
end

--- The owner as a thread member; nil when the owner is unknown.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? discord.FetchOptions
---@return discord.ThreadMember|nil
function ThreadChannel:fetchOwner(opts)
  if self.ownerId == nil then return nil end
  return self.members:fetch(self.ownerId, opts)
end

-- Forum and media channels -------------------------------------------------------------------------------

-- Channels that hold only threads (posts): forums and media channels.
---@type discord.ThreadOnlyChannel
local ThreadOnlyChannel = util.class("ThreadOnlyChannel", GuildChannel)
M.ThreadOnlyChannel = ThreadOnlyChannel

local FORUM_FIELDS = {
  topic = "topic",
  rate_limit_per_user = "rateLimitPerUser",
  default_auto_archive_duration = "defaultAutoArchiveDuration",
  default_thread_rate_limit_per_user = "defaultThreadRateLimitPerUser",
  default_sort_order = "defaultSortOrder",
  default_forum_layout = "defaultForumLayout",
  last_message_id = "lastMessageId",
}

--- Builds a forum or media channel from API data.
---@param client discord.Client
---@param data table Raw channel object.
---@param guild? discord.Guild
function ThreadOnlyChannel:init(client, data, guild)
  self.availableTags = {}
  GuildChannel.init(self, client, data, guild)
end

function ThreadOnlyChannel:_patch(data)
  GuildChannel._patch(self, data)
  self:_copy(data, FORUM_FIELDS)
  if self.nsfw == nil then self.nsfw = false end
  if data.available_tags ~= nil then
    local ForumTag = ForumTagModule().ForumTag
    self.availableTags = util.map(data.available_tags, function(t) return ForumTag(t) end)
  end
  if data.default_reaction_emoji ~= nil then
    local e = util.nullable(data.default_reaction_emoji)
    self.defaultReactionEmoji = e and { id = util.nullable(e.emoji_id), name = util.nullable(e.emoji_name) } or nil
  end
  return self
end

function ThreadOnlyChannel:_clone()
  local copy = GuildChannel._clone(self)
  copy.availableTags = util.map(self.availableTags, function(t) return t end)
  return copy
end

--- The posts of this channel.
---@return discord.ThreadManager
ThreadOnlyChannel.getters.threads = threadsOf

--- Replaces the tags posts can carry.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param tags table[] {name=, moderated=, emoji=, id=} per tag.
---@param reason? string Audit log reason.
---@return discord.ThreadOnlyChannel self
function ThreadOnlyChannel:setAvailableTags(tags, reason) return self:edit({ availableTags = tags }, reason) end
--- Sets the guidelines shown above the posts (nil clears them).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param topic string|nil
---@param reason? string Audit log reason.
---@return discord.ThreadOnlyChannel self
function ThreadOnlyChannel:setTopic(topic, reason) return self:edit({ topic = topic or json.null }, reason) end

--- Sets the reaction shown on every post; nil removes it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param emoji string|table|nil A Unicode emoji, an emoji ID or {id=, name=}.
---@param reason? string Audit log reason.
---@return discord.ThreadOnlyChannel self
function ThreadOnlyChannel:setDefaultReactionEmoji(emoji, reason)
  return self:edit({ defaultReactionEmoji = emoji or false }, reason)
end

--- Sets the slowmode (seconds) new posts start with.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param seconds integer
---@param reason? string Audit log reason.
---@return discord.ThreadOnlyChannel self
function ThreadOnlyChannel:setDefaultThreadRateLimitPerUser(seconds, reason)
  return self:edit({ defaultThreadRateLimitPerUser = seconds }, reason)
end

--- Sets the auto-archive minutes new posts start with: 60, 1440, 4320 or 10080.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param minutes integer
---@param reason? string Audit log reason.
---@return discord.ThreadOnlyChannel self
function ThreadOnlyChannel:setDefaultAutoArchiveDuration(minutes, reason)
  return self:edit({ defaultAutoArchiveDuration = minutes }, reason)
end

--- Sets how posts are sorted: 0 latest activity, 1 creation date.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param order integer
---@param reason? string Audit log reason.
---@return discord.ThreadOnlyChannel self
function ThreadOnlyChannel:setDefaultSortOrder(order, reason) return self:edit({ defaultSortOrder = order }, reason) end

--- Creates a post: a thread with a first message (what `send` takes), tags and settings.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.ThreadCreateOptions name, message, appliedTags, autoArchiveDuration, rateLimitPerUser, reason.
---@return discord.ThreadChannel
function ThreadOnlyChannel:createPost(opts)
  return self.threads:create(opts)
end

---@type discord.ForumChannel
local ForumChannel = util.class("ForumChannel", ThreadOnlyChannel)
M.ForumChannel = ForumChannel

--- Sets how posts are shown: 0 not set, 1 list, 2 gallery.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param layout integer
---@param reason? string Audit log reason.
---@return discord.ForumChannel self
function ForumChannel:setDefaultForumLayout(layout, reason)
  return self:edit({ defaultForumLayout = layout }, reason)
end

---@type discord.MediaChannel
local MediaChannel = util.class("MediaChannel", ThreadOnlyChannel)
M.MediaChannel = MediaChannel

-- Factory -------------------------------------------------------------------------------------------------

local CLASSES = {
  [ChannelType.GuildText] = TextChannel,
  [ChannelType.GuildAnnouncement] = AnnouncementChannel,
  [ChannelType.GuildCategory] = CategoryChannel,
  [ChannelType.GuildVoice] = VoiceChannel,
  [ChannelType.GuildStageVoice] = StageChannel,
  [ChannelType.AnnouncementThread] = ThreadChannel,
  [ChannelType.PublicThread] = ThreadChannel,
  [ChannelType.PrivateThread] = ThreadChannel,
  [ChannelType.GuildForum] = ForumChannel,
  [ChannelType.GuildMedia] = MediaChannel,
}

--- The class for raw channel data: each kind its own; other guild channels a GuildChannel, group DMs a BaseChannel.
---@param data table Raw channel object.
---@param guild? discord.Guild
---@return table class
function M.classFor(data, guild)
  if data.type == ChannelType.DM then return DMChannel end
  local cls = CLASSES[data.type]
  if cls then return cls end
  if guild or data.guild_id then return GuildChannel end
  return BaseChannel
end

--- Builds the channel object of the right class for raw channel data.
---@param client discord.Client
---@param data table Raw channel object.
---@param guild? discord.Guild
---@return discord.BaseChannel
function M.createChannel(client, data, guild)
  return M.classFor(data, guild)(client, data, guild)
end

return M
