-- Messages, their references and snapshots, and MessagePayload, which turns send and edit
-- options into the API body.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

-- An empty list that is only read.
local NONE = {}

local M = {}

local Limits = require("discord.constants").Limits
local MessageFlagsBitField = require("discord.bitfield").MessageFlagsBitField
local FLAG_BITS = MessageFlagsBitField.Flags

-- Message types a user can send; every other type is a system message.
local USER_TYPES = util.set({ 0, 19, 20, 23 })

local ReferenceType = { Default = 0, Forward = 1 }
--- What a message reference is: Default 0 (a reply) or Forward 1.
---@type table<string, integer>
M.MessageReferenceType = ReferenceType

-- MessagePayload ------------------------------------------------------------------------------------------

--- Turns the options of send, reply and edit into the request body and its files.
---@class discord.MessagePayload
---@field target table The channel, message, user or interaction the payload is for.
---@field options discord.MessageOptions The options it was made from.
---@field body table|nil The API body, once `resolveBody` ran.
---@field files table[]|nil The files to upload, once `resolveBody` ran.
local MessagePayload = util.class("MessagePayload")
M.MessagePayload = MessagePayload

--- Wraps message options for a target (`MessagePayload(target, options)`).
--- Raises a string error when the options are neither a string nor a table.
---@param target table Channel, message, user or interaction.
---@param options string|discord.MessageOptions|discord.MessagePayload A string is the content.
function MessagePayload:init(target, options)
  self.target = target
  if type(options) == "string" then options = { content = options } end
  if util.instanceOf(options, MessagePayload) then options = options.options end
  if type(options) ~= "table" then error("message options must be a string or a table", 3) end
  self.options = options
  self.body = nil
  self.files = nil
end

--- A payload from options merged with `extra` (which wins).
---@param target table Channel, message, user or interaction.
---@param options string|discord.MessageOptions|nil
---@param extra? table
---@return discord.MessagePayload
function MessagePayload.create(target, options, extra)
  if type(options) == "string" then options = { content = options } end
  if extra then
    local merged = {}
    for k, v in pairs(options or {}) do merged[k] = v end
    for k, v in pairs(extra) do merged[k] = v end
    options = merged
  end
  return MessagePayload(target, options)
end

--- Whether the target is a Message (an edit or reply).
---@return boolean
MessagePayload.getters.isMessage = function(self) return util.className(self.target) == "Message" end

local function resolveFlags(flags)
  if flags == nil then return nil end
  local ok, bits = pcall(MessageFlagsBitField.resolve, MessageFlagsBitField, flags)
  if not ok then error(bits, 4) end
  return bits
end

-- IDs of a list of objects or IDs, as a JSON array.
local function idArray(list)
  return json.array(util.map(list, function(x) return type(x) == "table" and x.id or x end))
end

--- allowedMentions in camelCase -> the API's allowed_mentions.
---@param am discord.AllowedMentions|nil
---@return table|nil
function M.resolveAllowedMentions(am)
  if am == nil then return nil end
  local out = {}
  if am.parse ~= nil then out.parse = idArray(am.parse) end
  if am.users ~= nil then out.users = idArray(am.users) end
  if am.roles ~= nil then out.roles = idArray(am.roles) end
  local replied = am.repliedUser
  if replied == nil then replied = am.replied_user end
  if replied ~= nil then out.replied_user = replied == true end
  return out
end

local function componentJSON(c)
  if type(c) == "table" and type(c.toJSON) == "function" then return c:toJSON() end
  return c
end

local function referenceOf(ref)
  if ref == nil then return nil end
  if type(ref) == "string" then return { message_id = ref } end
  if util.className(ref) == "Message" then
    return { message_id = ref.id, channel_id = ref.channelId, guild_id = ref.guildId }
  end
  return { message_id = ref.messageId or ref.message_id, channel_id = ref.channelId or ref.channel_id,
    guild_id = ref.guildId or ref.guild_id }
end

--- Builds `self.body` (a table for JSON) and `self.files`; returns self.
--- Raises `discord.LibraryError` (MessageContentTooLong, files) or a string error for other refused options.
---@async
---@return discord.MessagePayload self
function MessagePayload:resolveBody()
  if self.body then return self end
  local o = self.options
  local isEdit = o._edit == true
  local body = {}

  if o.content ~= nil then
    if o.content == json.null or o.content == false then
      body.content = isEdit and "" or nil
    else
      local content = tostring(o.content)
      if util.utf8len(content) > Limits.MessageContent then
        error(require("discord.errors").LibraryError("MessageContentTooLong", Limits.MessageContent), 3)
      end
      body.content = content
    end
  end
  if o.tts ~= nil then body.tts = o.tts == true end

  local client = self.target and self.target.client
  local nonce = o.nonce
  if nonce == nil and not isEdit and client and client.options and client.options.enforceNonce then
    nonce = require("discord.snowflake").generate()
  end
  if nonce ~= nil then
    body.nonce = nonce
    if o.enforceNonce ~= nil then body.enforce_nonce = o.enforceNonce == true end
  end

  if o.embeds ~= nil then
    if #o.embeds > Limits.MessageEmbeds then error("a message has at most " .. Limits.MessageEmbeds .. " embeds", 3) end
    local embed = require("discord.embed")
    body.embeds = json.array(util.map(o.embeds, embed.resolveEmbed))
    -- The 6000-character total holds for all embeds of a message together.
    local total = 0
    for _, e in ipairs(body.embeds) do total = total + embed.embedLength(e) end
    if total > Limits.EmbedTotal then
      error("the embeds of a message are " .. total .. " characters long, over the " .. Limits.EmbedTotal
        .. " limit", 3)
    end
  end
  if o.components ~= nil then body.components = json.array(util.map(o.components, componentJSON)) end
  if o.poll ~= nil then body.poll = require("discord.structures.poll").resolvePoll(o.poll) end
  if o.stickers ~= nil then
    body.sticker_ids = idArray(o.stickers)
  end

  local flags = resolveFlags(o.flags)
  if flags ~= nil then body.flags = flags end
  -- An edited message that has the IsComponentsV2 flag keeps it, and its rules.
  local target = self.target
  local wasV2 = isEdit and util.className(target) == "Message" and target.flags ~= nil
    and target.flags.bitfield & FLAG_BITS.IsComponentsV2 ~= 0
  if body.components ~= nil or wasV2 or (flags ~= nil and flags & FLAG_BITS.IsComponentsV2 ~= 0) then
    local ok, err = pcall(util.provided("component builders").applyMessageRules, body, FLAG_BITS.IsComponentsV2,
      1, wasV2)
    if not ok then error(err, 3) end
  end

  local allowed = o.allowedMentions
  if allowed == nil and not isEdit and client and client.options then allowed = client.options.allowedMentions end
  if allowed ~= nil then body.allowed_mentions = M.resolveAllowedMentions(allowed) end

  local ref
  if o.reply then
    ref = referenceOf(o.reply.messageReference)
    if ref and ref.message_id then
      local fail = o.reply.failIfNotExists
      if fail == nil and client and client.options then fail = client.options.failIfNotExists end
      if fail ~= nil then ref.fail_if_not_exists = fail ~= false end
    else
      ref = nil
    end
  elseif o.forward then
    ref = referenceOf(o.forward.message)
    ref.type = ReferenceType.Forward
  elseif o.messageReference then
    ref = referenceOf(o.messageReference)
  end
  if ref then body.message_reference = ref end

  local files = util.provided("attachments").resolveFiles(o.files)
  if #files > 0 or o.attachments ~= nil then
    local attachments, keep = {}, o.attachments or {}
    if type(keep.values) == "function" then keep = keep:values() end
    for _, a in ipairs(keep) do
      -- Attachments that stay on an edited message are listed by ID.
      attachments[#attachments + 1] = { id = type(a) == "table" and a.id or a }
    end
    for i, f in ipairs(files) do
      attachments[#attachments + 1] = { id = tostring(i - 1), filename = f.name, description = f.description,
        title = f.title, duration_secs = f.duration, waveform = f.waveform }
    end
    body.attachments = json.array(attachments)
  end

  if not isEdit and body.content == nil and body.embeds == nil and #files == 0 and body.sticker_ids == nil
      and body.components == nil and body.poll == nil and not (ref and ref.type == ReferenceType.Forward) then
    error("cannot send an empty message: give content, embeds, files, stickers, components or a poll", 3)
  end

  self.body = body
  self.files = files
  return self
end

-- Message -------------------------------------------------------------------------------------------------

---@type discord.Message
local Message = util.class("Message", Base)
Message.__fields = 8
M.Message = Message

-- What most messages are is held by the class, not by each message: not deleted, not pinned, not read
-- aloud, of the default type and without flags, and made by the one client. A message then holds eight
-- fields or fewer.
Message.deleted = false
Message.pinned = false
Message.tts = false
local TRUE = { pinned = "pinned", tts = "tts" }
Message.type = 0
Base._sparseFlagsOf(Message, "MessageFlagsBitField")
local classOfClient = util.sharingBy(Message, "client")

local FIELDS = {
  content = "content",
  nonce = "nonce",
  webhook_id = "webhookId",
  application_id = "applicationId",
  position = "position",
  activity = "activity",
}

-- Objects nested in a message, with their keys in camelCase.
local NESTED = {
  call = "call", application = "application", sticker_items = "stickerItems",
  role_subscription_data = "roleSubscriptionData", resolved = "resolved", shared_client_theme = "sharedClientTheme",
}

--- Builds a message from API data; channels' message managers make them.
---@param client discord.Client
---@param data table Raw message object.
---@param channel? discord.BaseChannel
function Message:init(client, data, channel)
  if getmetatable(self) == Message then
    setmetatable(self, classOfClient(client))
  else
    Base.init(self, client)
  end
  self.id = data.id
  self.channelId = data.channel_id or (channel and channel.id)
  self.guildId = data.guild_id or (channel and channel.guildId)
  -- Called directly, with the client at hand: neither is then looked for through the class.
  Message._patch(self, data, client)
end

-- Loaded at the first message, not at every one: these modules need this one.
local Embed, MessageMentions, createComponent, ReactionManager
-- Called as functions: a method is found through the class's index function.
local copyFields, copyNested, copyTrue = Base._copier(FIELDS), Base._nestedCopier(NESTED), Base._trueCopier(TRUE)
local setFlags = Base._sparseFlags
local getFrom = require("discord.managers.base").get
local parseTimestamp = util.parseTimestamp
local null = json.null
local function toEmbed(e) return Embed(e) end

function Message:_patch(data, client)
  -- Read once: the client comes from the class.
  client = client or self.client
  if Embed == nil then
    Embed = require("discord.embed").Embed
    MessageMentions = require("discord.structures.mentions").MessageMentions
    createComponent = require("discord.structures.components").createComponent
  end
  copyFields(self, data)
  copyNested(self, data)
  setFlags(self, data, "flags", "MessageFlagsBitField")
  copyTrue(self, data)
  local v = data.type
  if v ~= nil then self.type = v ~= 0 and v ~= null and v or nil end
  if data.interaction_metadata ~= nil then
    self.interactionMetadata = require("discord.interaction").metadataOf(client, data.interaction_metadata)
  end
  if data.guild_id ~= nil then self.guildId = data.guild_id end
  local author = data.author
  if author ~= nil then
    -- Most authors are cached: patched in place, as the generic add would, without its checks.
    local users, cache = client.users, not data.webhook_id
    local cached = cache and getFrom(users.cache, author.id)
    if cached then
      if cached ~= author then cached:_patch(author) end
      self.author = cached
    else
      self.author = users:_add(author, cache)
    end
  end
  -- Nulls are tested here, not by calls: a new message's payload carries several.
  v = data.edited_timestamp
  if v ~= nil then self.editedTimestamp = v ~= null and parseTimestamp(v) or nil end
  if data.attachments ~= nil and (data.attachments[1] ~= nil or rawget(self, "attachments")) then
    local Attachment = require("discord.structures.attachment").Attachment
    local Collection = require("discord.collection").Collection
    self.attachments = Collection()
    for _, a in ipairs(data.attachments) do self.attachments:set(a.id, Attachment(client, a)) end
  end
  -- Most messages have neither: the empty lists are made when first read.
  local list = data.embeds
  if list ~= nil then self.embeds = list[1] ~= nil and util.map(list, toEmbed) or nil end
  list = data.components
  if list ~= nil then self.components = list ~= null and list[1] ~= nil and util.map(list, createComponent) or nil end
  if data.reactions ~= nil then self.reactions:_patchAll(util.nullable(data.reactions)) end
  if data.poll ~= nil then
    local poll = util.nullable(data.poll)
    if not poll then
      self.poll = nil
    elseif self.poll then
      self.poll:_patch(poll)
    else
      self.poll = require("discord.structures.poll").Poll(client, poll, self)
    end
  end
  local referenced = data.referenced_message
  if referenced == null then referenced = nil end
  local old = rawget(self, "mentions")
  if data.mentions ~= nil or data.mention_roles ~= nil or data.mention_everyone ~= nil or old == nil then
    local users = data.mentions or (old and old.users:values()) or NONE
    local roles = data.mention_roles or (old and old._roleIds) or NONE
    local everyone = data.mention_everyone == nil and old and old.everyone or data.mention_everyone
    local channels, replied = data.mention_channels or NONE, referenced and referenced.author or nil
    -- Most messages mention nobody: their empty mentions are made when first read.
    self.mentions = (users[1] or roles[1] or channels[1] or replied or everyone == true)
      and MessageMentions(self, users, roles, everyone, channels, replied) or nil
  end
  local ref = data.message_reference
  if ref == null then
    self.reference = nil
  elseif ref ~= nil then
    self.reference = {
      type = ref.type or ReferenceType.Default,
      messageId = ref.message_id,
      channelId = ref.channel_id,
      guildId = ref.guild_id,
    }
  end
  if data.message_snapshots ~= nil then
    -- Forwarded messages: a partial copy of each original, without author or guild data.
    self.messageSnapshots = util.map(data.message_snapshots, function(s)
      local m = s.message or {}
      return {
        content = m.content,
        type = m.type,
        flags = m.flags,
        createdTimestamp = util.parseTimestamp(m.timestamp),
        embeds = util.map(m.embeds or {}, toEmbed),
        attachments = m.attachments or {},
      }
    end)
  end
  if referenced and self.channel and self.channel.messages then
    self.channel.messages:_add(referenced)
  end
  local guild = data.member ~= nil and self.guildId ~= nil and getFrom(client.guilds.cache, self.guildId)
  if guild and self.author then guild.members:_addWithUser(data.member, self.author) end
  return self
end

-- The old object of an update keeps its own poll counts.
function Message:_clone()
  local old = Base._clone(self)
  if self.poll then old.poll = self.poll:_clone() end
  return old
end

-- Most messages have no embeds, components, mentions, attachments or reactions: these are made when first read.
local function emptyList() return {} end
for field, make in pairs({
  embeds = emptyList,
  components = emptyList,
  mentions = function(self) return require("discord.structures.mentions").MessageMentions(self) end,
  attachments = function() return require("discord.collection").Collection() end,
  reactions = function(self)
    ReactionManager = ReactionManager or require("discord.managers.reaction").ReactionManager
    return ReactionManager(self)
  end,
}) do
  Message.getters[field] = function(self)
    local v = make(self)
    rawset(self, field, v)
    return v
  end
end

--- Plain table of the message's public fields; linked objects become their IDs.
---@return table json
function Message:toJSON()
  local out = Base.toJSON(self)
  -- The lists and mentions not yet made are written as what they read as.
  out.embeds, out.components = out.embeds or {}, out.components or {}
  out.mentions = out.mentions or self.mentions:toJSON()
  out.createdTimestamp = self.createdTimestamp
  out.deleted, out.pinned, out.tts, out.type = self.deleted, self.pinned, self.tts, self.type
  out.flags = self.flags:toJSON()
  return out
end

--- The channel it was sent in, when cached.
---@return discord.BaseChannel|nil
Message.getters.channel = function(self)
  return self.client.channels.cache:get(self.channelId)
end

--- The guild it was sent in, when cached.
---@return discord.Guild|nil
Message.getters.guild = function(self)
  if self.guildId == nil then return nil end
  return self.client.guilds.cache:get(self.guildId)
end

--- The author as a member of the guild, when cached.
---@return discord.GuildMember|nil
Message.getters.member = function(self)
  local guild = self.guild
  if not guild or not self.author then return nil end
  return guild.members.cache:get(self.author.id)
end

--- True for a message known only by ID (from a reaction or delete event).
---@return boolean
Message.getters.partial = function(self) return self.content == nil and self.author == nil end

--- Whether it is a system message (join, boost, pin, ...) rather than one a user wrote.
---@return boolean
Message.getters.system = function(self) return self.type ~= nil and not USER_TYPES[self.type] end

-- Discord's `timestamp` of a message is the time in its ID: read from the ID when asked, as for every other
-- object, not parsed and kept for each message.
local snowflake = require("discord.snowflake")

--- When it was sent, from its ID.
---@return discord.Milliseconds|nil
Message.getters.createdTimestamp = function(self)
  return snowflake.isValid(self.id) and snowflake.timestamp(self.id) or nil
end

--- When it was last edited, or nil.
---@return discord.Milliseconds|nil
Message.getters.editedAt = function(self) return self.editedTimestamp end

--- Link to the message in the Discord client.
---@return string
Message.getters.url = function(self)
  return "https://discord.com/channels/" .. (self.guildId or "@me") .. "/" .. self.channelId .. "/" .. self.id
end

--- The content with mentions written as names, so it can be shown without pinging anyone.
---@return string|nil
Message.getters.cleanContent = function(self)
  if self.content == nil then return nil end
  local client, guild = self.client, self.guild
  local text = self.content:gsub("<@!?(%d+)>", function(id)
    local member = guild and guild.members.cache:get(id)
    if member then return "@" .. member.displayName end
    local user = client.users.cache:get(id)
    if user then return "@" .. (user.displayName or user.username) end
    return nil
  end)
  text = text:gsub("<@&(%d+)>", function(id)
    local role = guild and guild.roles.cache:get(id)
    if role then return "@" .. role.name end
    return nil
  end)
  text = text:gsub("<#(%d+)>", function(id)
    local channel = client.channels.cache:get(id)
    if channel and channel.name then return "#" .. channel.name end
    return nil
  end)
  -- A zero-width space keeps @everyone and @here from pinging when the text is sent again.
  text = text:gsub("@(everyone)", "@\u{200B}%1"):gsub("@(here)", "@\u{200B}%1")
  return text
end

--- Whether the bot can edit it: its own and not deleted.
---@return boolean
Message.getters.editable = function(self)
  local me = self.client.user
  return me ~= nil and self.author ~= nil and self.author.id == me.id and not self.deleted
end

--- Whether it can be pinned: not a system message and not deleted.
---@return boolean
Message.getters.pinnable = function(self)
  return not self.system and not self.deleted
end

--- The bot may delete its own messages, and others' where it can manage messages.
---@return boolean
Message.getters.deletable = function(self)
  if self.deleted then return false end
  local me = self.client.user
  if me and self.author and self.author.id == me.id then return true end
  local channel = self.channel
  if not self.guild or not channel or not channel.permissionsFor then return false end
  local perms = channel:permissionsFor(me)
  return perms ~= nil and perms:has("ManageMessages")
end

--- Whether it was sent in a guild.
---@return boolean
function Message:inGuild()
  return self.guildId ~= nil
end

local function messagePath(self)
  return "/channels/" .. self.channelId .. "/messages/" .. self.id
end

--- Replies in the same channel, referencing this message; takes what `send` takes.
--- Raises `discord.LibraryError` ChannelNotCached, or as `send` does.
---@async
---@param options string|discord.MessageOptions Also `failIfNotExists`.
---@return discord.Message
function Message:reply(options)
  local channel = self.channel
  if not channel then error(require("discord.errors").LibraryError("ChannelNotCached"), 2) end
  if type(options) == "string" then options = { content = options } end
  local merged = {}
  for k, v in pairs(options or {}) do merged[k] = v end
  merged.reply = { messageReference = self, failIfNotExists = merged.failIfNotExists }
  merged.failIfNotExists = nil
  return channel:send(merged)
end

--- Forwards this message to another channel.
--- Raises a string error for an unknown channel, `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel discord.ChannelResolvable
---@return discord.Message
function Message:forward(channel)
  local target = self.client.channels:resolve(channel)
  if not target then error("Message:forward: unknown channel " .. tostring(channel), 2) end
  return target:send({ forward = { message = self } })
end

--- Edits content, embeds, components, flags or attachments; returns this message, patched.
--- Raises `discord.LibraryError` ChannelNotCached, `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param options string|discord.MessageOptions
---@return discord.Message
function Message:edit(options)
  local channel = self.channel
  if not channel or not channel.messages then error(require("discord.errors").LibraryError("ChannelNotCached"), 2) end
  return channel.messages:edit(self, options)
end

--- Deletes the message.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.Message self
function Message:delete(reason)
  local channel = self.channel
  if channel and channel.messages then
    channel.messages:delete(self, reason)
  else
    self.client.rest:delete(messagePath(self), { reason = reason })
    self.deleted = true
  end
  return self
end

--- Pins the message in its channel.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.Message self
function Message:pin(reason)
  self.client.rest:put("/channels/" .. self.channelId .. "/messages/pins/" .. self.id, { reason = reason })
  self.pinned = true
  return self
end

--- Unpins the message.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.Message self
function Message:unpin(reason)
  self.client.rest:delete("/channels/" .. self.channelId .. "/messages/pins/" .. self.id, { reason = reason })
  self.pinned = false
  return self
end

--- Adds the bot's reaction: a Unicode emoji, "name:id", "<:name:id>", an emoji or reaction, or {name=, id=}.
--- Raises a string error for something that is not an emoji, `discord.DiscordAPIError` when refused.
---@async
---@param emoji string|table
---@return discord.MessageReaction
function Message:react(emoji)
  local e = require("discord.structures.reaction").resolveEmoji(emoji)
  if not e then error("Message:react: not an emoji: " .. tostring(emoji), 2) end
  self.client.rest:put(messagePath(self) .. "/reactions/" .. e.identifier .. "/@me")
  local me = self.client.user
  if not me then return self.reactions:_forEmoji(e:toJSON()) end
  return (self.reactions:_addUser(e:toJSON(), me.id, false))
end

--- The thread started from this message, when cached.
---@return discord.ThreadChannel|nil
Message.getters.thread = function(self)
  local thread = self.client.channels.cache:get(self.id)
  if thread and thread:isThread() then return thread end
  return nil
end

--- Starts a thread from this message.
--- Raises a string error when the channel cannot hold threads, `discord.DiscordAPIError` when refused.
---@async
---@param opts discord.ThreadCreateOptions name, autoArchiveDuration, rateLimitPerUser, reason.
---@return discord.ThreadChannel
function Message:startThread(opts)
  local channel = self.channel
  if not channel or not channel.threads then error("Message:startThread: the channel cannot hold threads", 2) end
  local o = {}
  for k, v in pairs(opts or {}) do o[k] = v end
  o.startMessage = self
  return channel.threads:create(o)
end

--- Publishes a message of an announcement channel to the following channels.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Message self
function Message:crosspost()
  local data = self.client.rest:post(messagePath(self) .. "/crosspost")
  return self:_patch(data)
end

--- Hides (true by default) or shows again the link embeds of the message.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param suppress? boolean
---@return discord.Message
function Message:suppressEmbeds(suppress)
  local flags = self.flags and self.flags.bitfield or 0
  if suppress == false then
    flags = flags & ~FLAG_BITS.SuppressEmbeds
  else
    flags = flags | FLAG_BITS.SuppressEmbeds
  end
  return self:edit({ flags = flags })
end

--- Removes every attachment from the message.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Message
function Message:removeAttachments()
  return self:edit({ attachments = {} })
end

--- Fetches the message again from the API.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param force? boolean False lets the cached one answer (true).
---@return discord.Message
function Message:fetch(force)
  return self.channel.messages:fetch(self.id, { force = force ~= false })
end

--- The message this one replies to.
--- Raises `discord.LibraryError` MessageReferenceMissing when it is no reply, or a REST error.
---@async
---@return discord.Message
function Message:fetchReference()
  local ref = self.reference
  if not ref or not ref.messageId then error(require("discord.errors").LibraryError("MessageReferenceMissing"), 2) end
  local channel = self.client.channels:resolve(ref.channelId or self.channelId)
  if not channel then error(require("discord.errors").LibraryError("ChannelNotCached"), 2) end
  return channel.messages:fetch(ref.messageId)
end

--- Collects reactions to this message; see `discord.ReactionCollector`.
---@param opts? discord.ReactionCollectorOptions
---@return discord.ReactionCollector
function Message:createReactionCollector(opts)
  return util.provided("collectors").ReactionCollector(self, opts)
end

--- The reactions collected until the collector ends; see `discord.collectors.awaitReactions`.
--- Raises `discord.CollectorError` when `errors` lists the end reason.
---@async
---@param opts? discord.ReactionCollectorOptions
---@return discord.Collection collected
---@return string reason Why the collector ended.
function Message:awaitReactions(opts)
  return util.provided("collectors").awaitReactions(self, opts)
end

--- Collects the component interactions of this message; see `discord.InteractionCollector`.
---@param opts? discord.InteractionCollectorOptions
---@return discord.InteractionCollector
function Message:createMessageComponentCollector(opts)
  local o = {}
  for k, v in pairs(opts or {}) do o[k] = v end
  o.message = self
  o.interactionType = require("discord.enums").InteractionType.MessageComponent
  return util.provided("collectors").InteractionCollector(self.client, o)
end

--- The first component interaction on this message that passes `opts.filter` within `opts.time`.
--- Raises `discord.LibraryError` InteractionCollectorError when none comes in time.
---@async
---@param opts discord.InteractionCollectorOptions
---@return discord.MessageComponentInteraction
function Message:awaitMessageComponent(opts)
  return util.provided("collectors").awaitMessageComponent(self, opts)
end

--- Whether `other` (or raw data) is this message with the same content, pins, embeds and attachments.
---@param other? discord.Message
---@param rawData? table Raw message data to compare with instead.
---@return boolean
function Message:equals(other, rawData)
  if other == nil or other.id ~= self.id then return false end
  if rawData then
    return self.content == rawData.content and self.pinned == rawData.pinned and self.tts == rawData.tts
  end
  return self.content == other.content and self.pinned == other.pinned and self.tts == other.tts
    and #self.embeds == #other.embeds and self.attachments.size == other.attachments.size
end

--- The content, or "" (also `tostring(message)`).
---@return string
function Message:toString()
  return self.content or ""
end
Message.__tostring = Message.toString

return M
