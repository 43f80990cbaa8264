-- Interactions: slash and context menu commands, autocomplete, buttons and selects, modal submits,
-- and their responses (reply, defer, edit, follow-up, update, modal, autocomplete choices). The
-- first response must come within 3 s and only once; follow-ups and edits work for 15 minutes.
local runtime = require("runtime")
local json = require("json")
local util = require("discord.util")
local errors = require("discord.errors")
local enums = require("discord.enums")
local Base = require("discord.managers.base").Base

local M = {}

local InteractionType = enums.InteractionType
local ResponseType = enums.InteractionResponseType
local CommandType = enums.ApplicationCommandType
local ComponentType = enums.ComponentType

local EPHEMERAL = 1 << 6
local DEADLINE = 3000
local TOKEN_LIFETIME = 15 * 60 * 1000
--- Milliseconds Discord allows for the first response to an interaction (3000).
---@type integer
M.Deadline = DEADLINE
--- Milliseconds an interaction's token stays valid for edits and follow-ups (15 minutes).
---@type integer
M.TokenLifetime = TOKEN_LIFETIME

local function libError(code, ...)
  return errors.LibraryError(code, ...)
end

local function collection()
  return require("discord.collection").Collection()
end

-- Payloads ------------------------------------------------------------------------------------------------

--- A component as API JSON: builders through toJSON, raw tables checked by the component builders.
---@param c table Builder or raw component.
---@return table
local function componentJSON(c)
  if type(c) == "table" and type(c.toJSON) == "function" then return c:toJSON() end
  local builders = util.provided("component builders", true)
  if builders then return builders.createComponentBuilder(c):toJSON() end
  return c
end
M.componentJSON = componentJSON

local function resolveFlags(flags)
  if flags == nil then return nil end
  return require("discord.bitfield").MessageFlagsBitField:resolve(flags)
end

--- Message options of a response -> API body and files; `edit` allows a partial message.
--- Raises `discord.LibraryError` FileTooLarge over the channel's upload limit, a string error for bad options.
---@param target discord.BaseInteraction
---@param options string|discord.InteractionReplyOptions
---@param edit? boolean
---@return table body
---@return table[] files
local function messageData(target, options, edit)
  if type(options) == "string" then options = { content = options } end
  if type(options) ~= "table" then error("interaction response options must be a string or a table", 3) end
  local MessagePayload = require("discord.message").MessagePayload
  if util.instanceOf(options, MessagePayload) then options = options.options end
  local o = {}
  for k, v in pairs(options) do o[k] = v end
  local flags = resolveFlags(o.flags)
  if o.ephemeral then flags = (flags or 0) | EPHEMERAL end
  o.flags, o.ephemeral, o.withResponse, o.fetchReply = flags, nil, nil, nil
  if o.components ~= nil then o.components = json.array(util.map(o.components, componentJSON)) end
  o._edit = edit or nil
  local payload = MessagePayload(target, o):resolveBody()
  payload.body.nonce, payload.body.enforce_nonce = nil, nil
  -- The interaction says how large a file this channel takes.
  local limit = target.attachmentSizeLimit
  for _, f in ipairs(limit and payload.files or {}) do
    if #f.data > limit then error(libError("FileTooLarge", f.name, #f.data, limit), 3) end
  end
  return payload.body, payload.files
end
M.messageData = messageData

-- Builds the Message for a webhook reply; ephemeral ones are not cached.
local function toMessage(interaction, data)
  if data == nil then return nil end
  local client = interaction.client
  local channel = client.channels.cache:get(data.channel_id or interaction.channelId)
  local ephemeral = math.type(data.flags) == "integer" and data.flags & EPHEMERAL ~= 0
  if channel and channel.messages then return channel.messages:_add(data, not ephemeral) end
  return require("discord.message").Message(client, data, channel)
end

--- The `interactionMetadata` of a message an interaction made: camelCase fields, users as User objects.
---@param client discord.Client
---@param raw table|nil Raw interaction_metadata.
---@return table|nil
function M.metadataOf(client, raw)
  raw = util.nullable(raw)
  if type(raw) ~= "table" then return nil end
  local function user(u) return type(u) == "table" and client.users:_add(u) or nil end
  return {
    id = raw.id, type = raw.type, name = raw.name, commandType = raw.command_type, user = user(raw.user),
    authorizingIntegrationOwners = raw.authorizing_integration_owners,
    originalResponseMessageId = raw.original_response_message_id, interactedMessageId = raw.interacted_message_id,
    targetUser = user(raw.target_user), targetMessageId = raw.target_message_id,
    triggeringInteractionMetadata = M.metadataOf(client, raw.triggering_interaction_metadata),
  }
end

-- InteractionWebhook ---------------------------------------------------------------------------------------

-- The webhook of an interaction's token: follow-ups and edits of the replies, for 15 minutes.
---@type discord.InteractionWebhook
local InteractionWebhook = util.class("InteractionWebhook")
InteractionWebhook.__fields = 4
M.InteractionWebhook = InteractionWebhook

--- The webhook of an interaction's token; every interaction has one as `interaction.webhook`.
---@param interaction discord.BaseInteraction
function InteractionWebhook:init(interaction)
  self.interaction = interaction
  self.client = interaction.client
  self.id = interaction.applicationId
  self.token = interaction.token
end

function InteractionWebhook:_path(message)
  local p = "/webhooks/" .. self.id .. "/" .. self.token
  if message ~= nil then
    local id = type(message) == "table" and message.id or tostring(message)
    p = p .. "/messages/" .. id
  end
  return p
end

function InteractionWebhook:_checkToken()
  if runtime.now() - self.interaction._receivedAt >= TOKEN_LIFETIME then
    error(libError("InteractionTokenExpired"), 3)
  end
end

--- Sends a follow-up message and returns it.
--- Raises `discord.LibraryError` InteractionTokenExpired after 15 minutes, `discord.DiscordAPIError` when refused.
---@async
---@param options discord.InteractionReplyResolvable
---@return discord.Message
function InteractionWebhook:send(options)
  self:_checkToken()
  local body, files = messageData(self.interaction, options, false)
  local data = self.client.rest:post(self:_path(), {
    body = body, files = #files > 0 and files or nil, auth = false, query = { wait = true },
  })
  return toMessage(self.interaction, data)
end

--- Edits a reply ("@original" or a follow-up) and returns it.
--- Raises `discord.LibraryError` InteractionTokenExpired after 15 minutes, `discord.DiscordAPIError` when refused.
---@async
---@param message discord.WebhookMessageResolvable
---@param options discord.InteractionReplyResolvable
---@return discord.Message
function InteractionWebhook:editMessage(message, options)
  self:_checkToken()
  local body, files = messageData(self.interaction, options, true)
  local data = self.client.rest:patch(self:_path(message), {
    body = body, files = #files > 0 and files or nil, auth = false,
  })
  return toMessage(self.interaction, data)
end

--- Fetches a reply ("@original" or a follow-up) as a Message.
--- Raises `discord.LibraryError` InteractionTokenExpired after 15 minutes, `discord.DiscordAPIError` when refused.
---@async
---@param message discord.WebhookMessageResolvable
---@return discord.Message
function InteractionWebhook:fetchMessage(message)
  self:_checkToken()
  return toMessage(self.interaction, self.client.rest:get(self:_path(message), { auth = false }))
end

--- Deletes a reply ("@original" or a follow-up).
--- Raises `discord.LibraryError` InteractionTokenExpired after 15 minutes, `discord.DiscordAPIError` when refused.
---@async
---@param message discord.WebhookMessageResolvable
function InteractionWebhook:deleteMessage(message)
  self:_checkToken()
  self.client.rest:delete(self:_path(message), { auth = false })
end

-- Responses -------------------------------------------------------------------------------------------------

-- What `reply` and the other initial responses return: a handle on the original reply.
---@type discord.InteractionResponse
local InteractionResponse = util.class("InteractionResponse")
M.InteractionResponse = InteractionResponse

--- A handle on an interaction's original reply.
---@param interaction discord.BaseInteraction
---@param id? discord.Snowflake Its ID (the interaction's by default).
function InteractionResponse:init(interaction, id)
  self.interaction = interaction
  self.client = interaction.client
  self.id = id or interaction.id
end

-- The reply's message, fetched once: collectors need its ID.
function InteractionResponse:_message()
  if not self.message then self.message = self.interaction:fetchReply() end
  return self.message
end

--- Collects the component interactions on the reply (fetches the reply first).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? discord.InteractionCollectorOptions
---@return discord.InteractionCollector
function InteractionResponse:createMessageComponentCollector(opts)
  return self:_message():createMessageComponentCollector(opts)
end

--- The first component interaction on the reply that passes `opts.filter` within `opts.time`.
--- Raises `discord.LibraryError` InteractionCollectorError when none comes in time, or a REST error.
---@async
---@param opts discord.InteractionCollectorOptions `time` in milliseconds, `filter`, `componentType`.
---@return discord.MessageComponentInteraction
function InteractionResponse:awaitMessageComponent(opts)
  return util.provided("collectors").awaitMessageComponent(self:_message(), opts)
end

--- Fetches the reply as a Message.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Message
function InteractionResponse:fetch() return self.interaction:fetchReply() end
--- Edits the reply; same as `interaction:editReply`.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param options discord.InteractionReplyResolvable
---@return discord.Message
function InteractionResponse:edit(options) return self.interaction:editReply(options) end
--- Deletes the reply; same as `interaction:deleteReply`.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
function InteractionResponse:delete() return self.interaction:deleteReply() end

-- The reply of a response sent with `withResponse = true`: the interaction's callback record and
-- the resource it created (`resource.message` for message responses).
---@type discord.InteractionCallbackResponse
local InteractionCallbackResponse = util.class("InteractionCallbackResponse")
M.InteractionCallbackResponse = InteractionCallbackResponse

--- Builds the callback record from the reply to a response sent with `withResponse`.
---@param interaction discord.BaseInteraction
---@param data table Raw interaction callback response.
function InteractionCallbackResponse:init(interaction, data)
  self.client = interaction.client
  local i = data.interaction or {}
  self.interaction = {
    id = i.id, type = i.type, responseMessageId = i.response_message_id,
    responseMessageLoading = i.response_message_loading, responseMessageEphemeral = i.response_message_ephemeral,
    activityInstanceId = i.activity_instance_id,
  }
  local r = util.nullable(data.resource)
  if r then
    self.resource = { type = r.type, message = r.message and toMessage(interaction, r.message) or nil,
      activityInstance = r.activity_instance }
  end
end

-- Callback types each kind of interaction may use as its first response.
local ALLOWED = {
  [InteractionType.ApplicationCommand] = {
    [ResponseType.ChannelMessageWithSource] = true, [ResponseType.DeferredChannelMessageWithSource] = true,
    [ResponseType.Modal] = true, [ResponseType.LaunchActivity] = true, [ResponseType.PremiumRequired] = true,
  },
  [InteractionType.MessageComponent] = {
    [ResponseType.ChannelMessageWithSource] = true, [ResponseType.DeferredChannelMessageWithSource] = true,
    [ResponseType.DeferredMessageUpdate] = true, [ResponseType.UpdateMessage] = true, [ResponseType.Modal] = true,
    [ResponseType.LaunchActivity] = true, [ResponseType.PremiumRequired] = true,
  },
  [InteractionType.ApplicationCommandAutocomplete] = { [ResponseType.ApplicationCommandAutocompleteResult] = true },
  [InteractionType.ModalSubmit] = {
    [ResponseType.ChannelMessageWithSource] = true, [ResponseType.DeferredChannelMessageWithSource] = true,
    [ResponseType.DeferredMessageUpdate] = true, [ResponseType.UpdateMessage] = true,
  },
}
--- The response types each interaction type allows: `AllowedResponses[type][responseType] == true`.
---@type table<integer, table<integer, boolean>>
M.AllowedResponses = ALLOWED

local TYPE_LABEL = {
  [InteractionType.Ping] = "ping", [InteractionType.ApplicationCommand] = "command",
  [InteractionType.MessageComponent] = "component", [InteractionType.ApplicationCommandAutocomplete] = "autocomplete",
  [InteractionType.ModalSubmit] = "modal submit",
}

-- BaseInteraction -------------------------------------------------------------------------------------------

---@type discord.BaseInteraction
local BaseInteraction = util.class("BaseInteraction", Base)
M.BaseInteraction = BaseInteraction

--- Builds an interaction from an INTERACTION_CREATE payload; see `createInteraction`.
---@param client discord.Client
---@param data table Raw interaction.
function BaseInteraction:init(client, data)
  Base.init(self, client)
  self._receivedAt = runtime.now()
  self.id = data.id
  self.applicationId = data.application_id
  self.type = data.type
  self.token = data.token
  self.version = data.version
  self.guildId = data.guild_id
  self.channelId = data.channel_id or (type(data.channel) == "table" and data.channel.id) or nil
  self.locale = data.locale
  self.guildLocale = data.guild_locale
  self.context = data.context
  self.attachmentSizeLimit = data.attachment_size_limit
  self.authorizingIntegrationOwners = data.authorizing_integration_owners
  self.entitlements = data.entitlements or {}
  local PermissionsBitField = require("discord.bitfield").PermissionsBitField
  self.appPermissions = data.app_permissions and PermissionsBitField(data.app_permissions):freeze() or nil
  self.deferred, self.replied, self.ephemeral = false, false, nil
  self:_patchUser(data)
  self:_patchChannel(data)
end

-- The lock that orders the answers and the token's webhook are made at the first answer, not with every
-- interaction: three tables fewer for one a listener filters out.
BaseInteraction.getters._lock = function(self)
  local lock = util.Mutex()
  rawset(self, "_lock", lock)
  return lock
end

--- The webhook of the interaction's token (read-only).
---@return discord.InteractionWebhook webhook
BaseInteraction.getters.webhook = function(self)
  local webhook = InteractionWebhook(self)
  rawset(self, "webhook", webhook)
  return webhook
end

function BaseInteraction:_patchUser(data)
  local member = util.nullable(data.member)
  local userData = util.nullable(data.user) or (member and member.user)
  if userData then self.user = self.client.users:_add(userData) end
  if member then
    local PermissionsBitField = require("discord.bitfield").PermissionsBitField
    self.memberPermissions = member.permissions and PermissionsBitField(member.permissions):freeze() or nil
    local guild = self.guild
    if guild then
      self.member = guild.members:_addWithUser(member, userData)
    else
      self.member = member
    end
  end
end

-- A DM channel is cached like any other; a guild channel the cache lacks stays a partial copy.
function BaseInteraction:_patchChannel(data)
  local ch = util.nullable(data.channel)
  if type(ch) ~= "table" or self.client.channels.cache:get(ch.id) then return end
  local copy = {}
  for k, v in pairs(ch) do copy[k] = v end
  copy.guild_id = copy.guild_id or self.guildId
  local dm = copy.type == enums.ChannelType.DM
  self._partialChannel = self.client.channels:_add(copy, nil, { cache = dm })
end

--- When the interaction was created, from its ID.
---@return discord.Milliseconds
BaseInteraction.getters.createdTimestamp = function(self) return require("discord.snowflake").timestamp(self.id) end
BaseInteraction.getters.createdAt = BaseInteraction.getters.createdTimestamp

--- The guild it came from, when cached.
---@return discord.Guild|nil
BaseInteraction.getters.guild = function(self)
  return self.guildId and self.client.guilds.cache:get(self.guildId) or nil
end

--- The channel it came from: cached, or a partial channel from the payload.
---@return discord.BaseChannel|nil
BaseInteraction.getters.channel = function(self)
  return self.channelId and self.client.channels.cache:get(self.channelId) or self._partialChannel
end

--- Time left for the first response, in ms (0 when it is too late).
---@return integer
BaseInteraction.getters.timeLeft = function(self)
  return math.max(0, DEADLINE - (runtime.now() - self._receivedAt))
end

--- Whether it came from a guild (cached or not).
---@return boolean
function BaseInteraction:inGuild() return self.guildId ~= nil end
--- Whether it came from a guild the client has cached.
---@return boolean
function BaseInteraction:inCachedGuild() return self.guild ~= nil end
--- Whether it came from a guild the client has not cached (a user-installed app).
---@return boolean
function BaseInteraction:inRawGuild() return self.guildId ~= nil and self.guild == nil end

--- Whether `reply` and the other responses apply (not ping or autocomplete).
---@return boolean
function BaseInteraction:isRepliable()
  return self.type ~= InteractionType.Ping and self.type ~= InteractionType.ApplicationCommandAutocomplete
end
--- Whether it is an application command (slash or context menu).
---@return boolean
function BaseInteraction:isCommand() return self.type == InteractionType.ApplicationCommand end
--- Whether it is a slash command.
---@return boolean
function BaseInteraction:isChatInputCommand()
  return self:isCommand() and self.commandType == CommandType.ChatInput
end
--- Whether it is a user or message context menu command.
---@return boolean
function BaseInteraction:isContextMenuCommand()
  return self:isCommand() and (self.commandType == CommandType.User or self.commandType == CommandType.Message)
end
--- Whether it is a user context menu command.
---@return boolean
function BaseInteraction:isUserContextMenuCommand() return self:isCommand() and self.commandType == CommandType.User end
--- Whether it is a message context menu command.
---@return boolean
function BaseInteraction:isMessageContextMenuCommand()
  return self:isCommand() and self.commandType == CommandType.Message
end
--- Whether it is the app's primary entry point (Activities launcher).
---@return boolean
function BaseInteraction:isPrimaryEntryPointCommand()
  return self:isCommand() and self.commandType == CommandType.PrimaryEntryPoint
end
--- Whether it asks for autocomplete choices.
---@return boolean
function BaseInteraction:isAutocomplete() return self.type == InteractionType.ApplicationCommandAutocomplete end
--- Whether a button or select menu was used.
---@return boolean
function BaseInteraction:isMessageComponent() return self.type == InteractionType.MessageComponent end
--- Whether a modal was submitted.
---@return boolean
function BaseInteraction:isModalSubmit() return self.type == InteractionType.ModalSubmit end

local SELECTS = util.set({ ComponentType.StringSelect, ComponentType.UserSelect, ComponentType.RoleSelect,
  ComponentType.MentionableSelect, ComponentType.ChannelSelect })

local function isComponent(self, t)
  return self.type == InteractionType.MessageComponent and self.componentType == t
end
--- Whether a button was pressed.
---@return boolean
function BaseInteraction:isButton() return isComponent(self, ComponentType.Button) end
--- Whether any kind of select menu was used.
---@return boolean
function BaseInteraction:isAnySelectMenu()
  return self.type == InteractionType.MessageComponent and SELECTS[self.componentType] == true
end
--- Whether a string select menu was used.
---@return boolean
function BaseInteraction:isStringSelectMenu() return isComponent(self, ComponentType.StringSelect) end
--- Whether a user select menu was used.
---@return boolean
function BaseInteraction:isUserSelectMenu() return isComponent(self, ComponentType.UserSelect) end
--- Whether a role select menu was used.
---@return boolean
function BaseInteraction:isRoleSelectMenu() return isComponent(self, ComponentType.RoleSelect) end
--- Whether a mentionable select menu was used.
---@return boolean
function BaseInteraction:isMentionableSelectMenu() return isComponent(self, ComponentType.MentionableSelect) end
--- Whether a channel select menu was used.
---@return boolean
function BaseInteraction:isChannelSelectMenu() return isComponent(self, ComponentType.ChannelSelect) end
--- True for component interactions and for modals opened from a message's component.
---@return boolean
function BaseInteraction:isFromMessage() return self.message ~= nil end

--- The interaction's fields as a plain table, without token and webhook.
---@return table
function BaseInteraction:toJSON()
  local out = Base.toJSON(self)
  out.token, out.webhook = nil, nil
  return out
end

-- The responses mixin ---------------------------------------------------------------------------------------

--- Response methods; each interaction class gets the ones its kind allows (see `discord.RepliableInteraction`).
---@class discord.InteractionResponses
local Responses = {}
--- The response methods each answerable interaction class takes its share of (discord.InteractionResponses).
M.InteractionResponses = Responses

local function acknowledged(self)
  return self.deferred or self.replied
end

-- Edits, deletes, fetches and follow-ups need the first response to have gone out.
local function needReply(self)
  if not acknowledged(self) then error(libError("InteractionNotReplied"), 3) end
end

-- The first response: one only, within 3 s, of a type this interaction allows. Runs under the
-- interaction's lock so that a reply and autoDefer cannot both go out.
function Responses:_respond(kind, data, files, opts)
  opts = opts or {}
  if acknowledged(self) then
    error(libError("InteractionAlreadyReplied", self._autoDeferred and " (autoDefer deferred it)" or ""), 0)
  end
  local allowed = ALLOWED[self.type]
  if not (allowed and allowed[kind]) then
    error(libError("InteractionResponseInvalid", TYPE_LABEL[self.type] or tostring(self.type),
      ResponseType[kind] or tostring(kind)), 0)
  end
  if (kind == ResponseType.DeferredMessageUpdate or kind == ResponseType.UpdateMessage) and self.message == nil then
    error(libError("InteractionResponseInvalid", "modal submit not opened from a message", ResponseType[kind]), 0)
  end
  local elapsed = runtime.now() - self._receivedAt
  if elapsed >= DEADLINE then error(libError("InteractionExpired", elapsed), 0) end
  local body = { type = kind, data = data }
  local ok, res = pcall(self.client.rest.post, self.client.rest, "/interactions/" .. self.id .. "/" .. self.token
    .. "/callback", {
      body = body, files = files and #files > 0 and files or nil, auth = false,
      query = opts.withResponse and { with_response = true } or nil, deadline = self._receivedAt + DEADLINE,
      -- Discord takes one first response only, so a repeat cannot act twice: it is refused with 40060.
      replayable = true,
    })
  if not ok and errors.is(res, "DiscordAPIError", 40060) and res.retried then
    -- The attempt that timed out had arrived.
    ok, res = true, nil
  end
  if not ok then
    if errors.is(res, "DiscordAPIError", 10062) or (errors.is(res, "HTTPError") and res.deadline) then
      local e = libError("InteractionExpired", runtime.now() - self._receivedAt)
      e.cause = res
      error(e, 0)
    elseif errors.is(res, "DiscordAPIError", 40060) then
      local e = libError("InteractionAlreadyReplied", "")
      e.cause = res
      error(e, 0)
    end
    error(res, 0)
  end
  self:_cancelAutoDefer()
  if type(res) == "table" and res.interaction then return InteractionCallbackResponse(self, res) end
  return res
end

-- A first response under the lock: `redirect()` may answer instead; once Discord took the response,
-- `marks` are set on the interaction.
function Responses:_first(kind, data, files, opts, marks, redirect)
  return self._lock:run(function()
    local other = redirect and redirect()
    if other then return other end
    local r = self:_respond(kind, data, files, opts)
    for k, v in pairs(marks) do self[k] = v end
    return r
  end)
end

function Responses:_cancelAutoDefer()
  if self._autoDeferTimer then
    self._autoDeferTimer:cancel()
    self._autoDeferTimer = nil
  end
end

-- What a response returns: the callback record with `withResponse`, the reply with `fetchReply`.
local function responseResult(self, res, opts)
  if opts.withResponse then return res end
  if opts.fetchReply then return self:fetchReply() end
  return InteractionResponse(self)
end

local function optionsTable(options)
  if type(options) == "string" then return { content = options } end
  return options or {}
end

--- Shows "thinking..." now and answers later with `editReply`; the first response, within 3 s.
--- Raises `discord.LibraryError` InteractionAlreadyReplied, InteractionExpired, or a REST error.
---@async
---@param opts? {ephemeral?: boolean, flags?: string[]|integer, withResponse?: boolean, fetchReply?: boolean}
---@return discord.InteractionReplyResult
function Responses:deferReply(opts)
  opts = opts or {}
  local flags = resolveFlags(opts.flags) or 0
  if opts.ephemeral then flags = flags | EPHEMERAL end
  return responseResult(self, self:_first(ResponseType.DeferredChannelMessageWithSource,
    flags ~= 0 and { flags = flags } or nil, nil, opts, { deferred = true, ephemeral = flags & EPHEMERAL ~= 0 }), opts)
end

-- Where a reply goes after autoDefer deferred the interaction.
local AFTER_AUTO_DEFER = { reply = "auto", update = "followUp" }

--- Answers with a message as the first response, within 3 s; after autoDefer it edits the deferred reply.
--- Raises `discord.LibraryError` InteractionAlreadyReplied, InteractionExpired, or a REST error.
---@async
---@param options discord.InteractionReplyResolvable
---@return discord.InteractionReplyResult
function Responses:reply(options)
  local opts = optionsTable(options)
  local body, files = messageData(self, opts, false)
  local res = self:_first(ResponseType.ChannelMessageWithSource, body, files, opts,
    { replied = true, ephemeral = (body.flags or 0) & EPHEMERAL ~= 0 },
    function() return not self.replied and AFTER_AUTO_DEFER[self._autoDeferred] end)
  if res == "auto" then return self:_replyAfterAutoDefer(opts) end
  if res == "followUp" then return self:followUp(opts) end
  return responseResult(self, res, opts)
end

-- A deferred reply cannot become ephemeral later: such a reply replaces the public placeholder.
function Responses:_replyAfterAutoDefer(opts)
  local wantEphemeral = opts.ephemeral or (resolveFlags(opts.flags) or 0) & EPHEMERAL ~= 0
  if wantEphemeral and not self.ephemeral then
    self:deleteReply()
    return self:followUp(opts)
  end
  local strip = {}
  for k, v in pairs(opts) do strip[k] = v end
  strip.ephemeral, strip.flags = nil, nil
  return self:editReply(strip)
end

--- Edits the reply (or, with `options.message`, a follow-up) and returns it.
--- Raises `discord.LibraryError` InteractionNotReplied before the first response, or a REST error.
---@async
---@param options discord.InteractionReplyResolvable|{message?: discord.WebhookMessageResolvable}
---@return discord.Message
function Responses:editReply(options)
  needReply(self)
  local opts = optionsTable(options)
  local target = opts.message or "@original"
  local clean = {}
  for k, v in pairs(opts) do clean[k] = v end
  clean.message = nil
  local msg = self.webhook:editMessage(target, clean)
  if target == "@original" then self.replied = true end
  return msg
end

--- Deletes the reply, or a follow-up given as message or ID.
--- Raises `discord.LibraryError` InteractionNotReplied before the first response, or a REST error.
---@async
---@param message? discord.WebhookMessageResolvable
function Responses:deleteReply(message)
  needReply(self)
  self.webhook:deleteMessage(message or "@original")
end

--- The reply as a Message, or a follow-up by ID.
--- Raises `discord.LibraryError` InteractionNotReplied before the first response, or a REST error.
---@async
---@param message? discord.WebhookMessageResolvable
---@return discord.Message
function Responses:fetchReply(message)
  needReply(self)
  return self.webhook:fetchMessage(message or "@original")
end

--- Sends another message after the first response and returns it.
--- Raises `discord.LibraryError` InteractionNotReplied before the first response, or a REST error.
---@async
---@param options discord.InteractionReplyResolvable
---@return discord.Message
function Responses:followUp(options)
  needReply(self)
  return self.webhook:send(optionsTable(options))
end

--- Components and modals from a message: acknowledges now, the message is edited later.
--- Raises `discord.LibraryError` InteractionAlreadyReplied, InteractionExpired, or a REST error.
---@async
---@param opts? {withResponse?: boolean, fetchReply?: boolean}
---@return discord.InteractionReplyResult
function Responses:deferUpdate(opts)
  opts = opts or {}
  return responseResult(self, self:_first(ResponseType.DeferredMessageUpdate, nil, nil, opts, { deferred = true }),
    opts)
end

--- Components and modals from a message: edits that message as the first response.
--- Raises `discord.LibraryError` InteractionAlreadyReplied, InteractionExpired, or a REST error.
---@async
---@param options discord.InteractionReplyResolvable
---@return discord.InteractionReplyResult|discord.Message
function Responses:update(options)
  local opts = optionsTable(options)
  local body, files = messageData(self, opts, true)
  local res = self:_first(ResponseType.UpdateMessage, body, files, opts, { replied = true },
    function() return not self.replied and self._autoDeferred == "update" and "auto" end)
  if res == "auto" then
    local msg = self.webhook:editMessage("@original", opts)
    self.replied = true
    return msg
  end
  if self.message then
    -- An ephemeral message gets no update event, so the copy is patched here.
    local patch = {}
    for k, v in pairs(body) do
      if k ~= "attachments" and k ~= "allowed_mentions" then patch[k] = v end
    end
    self.message:_patch(patch)
  end
  return responseResult(self, res, opts)
end

-- Raw modal tables are checked by ModalBuilder when the builders are loaded.
local function modalJSON(modal)
  if type(modal) ~= "table" then error("showModal: the modal must be a ModalBuilder or a table", 3) end
  if type(modal.toJSON) == "function" then return modal:toJSON() end
  local builders = util.provided("component builders", true)
  if builders then return builders.ModalBuilder(modal):toJSON() end
  return modal
end

--- Opens a modal as the first response; `awaitModalSubmit` or interactionCreate gets the answer.
--- Raises `discord.LibraryError` InteractionAlreadyReplied, InteractionExpired, or a REST error.
---@async
---@param modal discord.ModalBuilder|table
---@param opts? {withResponse?: boolean}
---@return discord.InteractionCallbackResponse|nil
function Responses:showModal(modal, opts)
  opts = opts or {}
  local data = modalJSON(modal)
  local res = self:_first(ResponseType.Modal, data, nil, opts, { replied = true, _modalId = data.custom_id })
  if opts.withResponse then return res end
  return nil
end

--- Waits for the user to submit the modal this interaction showed.
--- Raises `discord.LibraryError` InvalidOption without a time, InteractionCollectorError when it runs out.
---@async
---@param opts {time: integer, filter?: fun(i: discord.ModalSubmitInteraction): boolean, customId?: string}
---@return discord.ModalSubmitInteraction
function Responses:awaitModalSubmit(opts)
  opts = opts or {}
  if math.type(opts.time) ~= "integer" or opts.time <= 0 then
    error(libError("InvalidOption", "time", "a positive number of milliseconds"), 2)
  end
  local o = {}
  for k, v in pairs(opts) do o[k] = v end
  o.customId = o.customId or self._modalId
  local userId, filter = self.user and self.user.id, opts.filter
  -- Only the user the modal was shown to can submit it.
  o.filter = function(i, ...)
    if userId and not (i.user and i.user.id == userId) then return false end
    return filter == nil or filter(i, ...)
  end
  return util.provided("collectors").awaitModalSubmit(self.client, o)
end

--- Launches the app's activity (the Activities entry point) as the first response.
--- Raises `discord.LibraryError` InteractionAlreadyReplied, InteractionExpired, or a REST error.
---@async
---@param opts? {withResponse?: boolean}
---@return discord.InteractionCallbackResponse|nil
function Responses:launchActivity(opts)
  opts = opts or {}
  local res = self:_first(ResponseType.LaunchActivity, nil, nil, opts, { replied = true })
  if opts.withResponse then return res end
  return nil
end

-- Runs from the autoDefer timer: defers whatever has not been answered yet.
function Responses:_autoDefer()
  self._autoDeferTimer = nil
  if acknowledged(self) then return end
  local useUpdate = self.type == InteractionType.MessageComponent
    or (self.type == InteractionType.ModalSubmit and self.message ~= nil)
  local kind, marks = ResponseType.DeferredMessageUpdate, { deferred = true, _autoDeferred = "update" }
  if not useUpdate then
    kind, marks = ResponseType.DeferredChannelMessageWithSource, { deferred = true, _autoDeferred = "reply",
      ephemeral = false }
  end
  local ok, err = pcall(self._first, self, kind, nil, nil, {}, marks, function() return acknowledged(self) end)
  if ok then
    self.client:emit("debug", "autoDefer deferred interaction " .. tostring(self.id))
  else
    self.client:emit("error", err)
  end
end

local function applyResponses(cls, names)
  for _, n in ipairs(names) do cls[n] = Responses[n] end
  cls._respond, cls._first, cls._cancelAutoDefer, cls._autoDefer = Responses._respond, Responses._first,
    Responses._cancelAutoDefer, Responses._autoDefer
  cls._replyAfterAutoDefer = Responses._replyAfterAutoDefer
end

local REPLY_METHODS = { "deferReply", "reply", "editReply", "deleteReply", "fetchReply", "followUp" }

-- Commands --------------------------------------------------------------------------------------------------

local function resolver()
  return require("discord.structures.option_resolver")
end

---@type discord.CommandInteraction
local CommandInteraction = util.class("CommandInteraction", BaseInteraction)
M.CommandInteraction = CommandInteraction

--- Builds a command or autocomplete interaction: the command's ID, name, type and options.
---@param self discord.CommandInteraction|discord.AutocompleteInteraction
---@param client discord.Client
---@param data table Raw interaction.
local function commandInit(self, client, data)
  BaseInteraction.init(self, client, data)
  local d = data.data or {}
  self.commandId = d.id
  self.commandName = d.name
  self.commandType = d.type
  self.commandGuildId = d.guild_id
  self.options = resolver().CommandInteractionOptionResolver(client, d.options, d.resolved, self.guildId)
end
CommandInteraction.init = commandInit

--- The registered command, when the application's (or guild's) command cache holds it.
---@return discord.ApplicationCommand|nil
CommandInteraction.getters.command = function(self)
  local mgr
  if self.commandGuildId then
    local guild = self.client.guilds.cache:get(self.commandGuildId)
    mgr = guild and guild.commands
  else
    local app = self.client.application
    mgr = app and app.commands
  end
  local cache = type(mgr) == "table" and mgr.cache
  return cache and cache:get(self.commandId) or nil
end

applyResponses(CommandInteraction, { "deferReply", "reply", "editReply", "deleteReply", "fetchReply", "followUp",
  "showModal", "awaitModalSubmit", "launchActivity" })

---@type discord.ChatInputCommandInteraction
local ChatInputCommandInteraction = util.class("ChatInputCommandInteraction", CommandInteraction)
ChatInputCommandInteraction.__fields = 28
M.ChatInputCommandInteraction = ChatInputCommandInteraction

--- "/name group sub option:value", as the user typed it.
---@return string
function ChatInputCommandInteraction:toString()
  local parts = { "/" .. tostring(self.commandName) }
  local g, s = self.options:getSubcommandGroup(false), self.options:getSubcommand(false)
  if g then parts[#parts + 1] = g end
  if s then parts[#parts + 1] = s end
  for _, o in ipairs(self.options._hoistedOptions) do
    parts[#parts + 1] = o.name .. ":" .. tostring(o.value)
  end
  return table.concat(parts, " ")
end
ChatInputCommandInteraction.__tostring = ChatInputCommandInteraction.toString

--- A user or message context menu command; the target also reads as option "user" or "message".
---@class discord.ContextMenuCommandInteraction: discord.CommandInteraction
---@field targetId discord.Snowflake The user or message it was used on.
local ContextMenuCommandInteraction = util.class("ContextMenuCommandInteraction", CommandInteraction)
M.ContextMenuCommandInteraction = ContextMenuCommandInteraction

--- Builds a context menu command interaction from its payload.
---@param client discord.Client
---@param data table Raw interaction.
function ContextMenuCommandInteraction:init(client, data)
  CommandInteraction.init(self, client, data)
  local d = data.data or {}
  self.targetId = d.target_id
  local r = self.options.resolved
  -- The target reads like an option named "user" or "message".
  local opt
  if self.commandType == CommandType.User then
    opt = { name = "user", type = enums.ApplicationCommandOptionType.User, value = self.targetId,
      user = r.users:get(self.targetId), member = r.members:get(self.targetId) }
  elseif self.commandType == CommandType.Message then
    opt = { name = "message", type = "_MESSAGE", value = self.targetId, message = r.messages:get(self.targetId) }
  end
  if opt then
    self.options.data[#self.options.data + 1] = opt
    self.options._hoistedOptions = self.options.data
  end
end

---@type discord.UserContextMenuCommandInteraction
local UserContextMenuCommandInteraction = util.class("UserContextMenuCommandInteraction",
  ContextMenuCommandInteraction)
M.UserContextMenuCommandInteraction = UserContextMenuCommandInteraction
--- The user the command was used on.
---@return discord.User
UserContextMenuCommandInteraction.getters.targetUser = function(self)
  return self.options.resolved.users:get(self.targetId)
end
--- The member the command was used on, in a guild.
---@return discord.GuildMember|nil
UserContextMenuCommandInteraction.getters.targetMember = function(self)
  return self.options.resolved.members:get(self.targetId)
end

---@type discord.MessageContextMenuCommandInteraction
local MessageContextMenuCommandInteraction = util.class("MessageContextMenuCommandInteraction",
  ContextMenuCommandInteraction)
M.MessageContextMenuCommandInteraction = MessageContextMenuCommandInteraction
--- The message the command was used on.
---@return discord.Message
MessageContextMenuCommandInteraction.getters.targetMessage = function(self)
  return self.options.resolved.messages:get(self.targetId)
end

--- The app's primary entry point command, which launches its activity.
---@class discord.PrimaryEntryPointCommandInteraction: discord.CommandInteraction
local PrimaryEntryPointCommandInteraction = util.class("PrimaryEntryPointCommandInteraction", CommandInteraction)
M.PrimaryEntryPointCommandInteraction = PrimaryEntryPointCommandInteraction

-- Autocomplete -----------------------------------------------------------------------------------------------

---@type discord.AutocompleteInteraction
local AutocompleteInteraction = util.class("AutocompleteInteraction", BaseInteraction)
M.AutocompleteInteraction = AutocompleteInteraction

--- Builds an autocomplete interaction from its payload.
---@param client discord.Client
---@param data table Raw interaction.
function AutocompleteInteraction:init(client, data)
  commandInit(self, client, data)
  self.responded = false
end

AutocompleteInteraction.getters.command = CommandInteraction.getters.command

local CHOICE_LIMIT, CHOICE_TEXT = 25, 100

local function choiceJSON(c, i)
  if type(c) == "string" or type(c) == "number" then c = { name = tostring(c), value = c } end
  if type(c) ~= "table" then error(libError("InvalidOption", "choices[" .. i .. "]", "a table {name=, value=}"), 4) end
  local name = c.name
  if type(name) ~= "string" or name == "" or util.utf8len(name) > CHOICE_TEXT then
    error(libError("InvalidOption", "choices[" .. i .. "].name", "a string of 1 to 100 characters"), 4)
  end
  local v = c.value
  if not (type(v) == "number" or (type(v) == "string" and util.utf8len(v) <= CHOICE_TEXT)) then
    error(libError("InvalidOption", "choices[" .. i .. "].value", "a number or a string of at most 100 characters"), 4)
  end
  return { name = name, value = v, name_localizations = c.nameLocalizations or c.name_localizations }
end

--- Sends up to 25 suggestions: {name=, value=} tables (strings and numbers stand for both).
--- Raises `discord.LibraryError` InvalidOption for bad choices, InteractionAlreadyReplied, or a REST error.
---@async
---@param choices ({name: string, value: string|number}|string|number)[]
function AutocompleteInteraction:respond(choices)
  if type(choices) ~= "table" then error(libError("InvalidOption", "choices", "an array"), 2) end
  if #choices > CHOICE_LIMIT then
    error(libError("InvalidOption", "choices", "at most " .. CHOICE_LIMIT .. " choices"), 2)
  end
  local list = json.array({})
  for i, c in ipairs(choices) do list[i] = choiceJSON(c, i) end
  self:_first(ResponseType.ApplicationCommandAutocompleteResult, { choices = list }, nil, nil, { responded = true },
    function()
      if self.responded then error(libError("InteractionAlreadyReplied", ""), 0) end
    end)
end

AutocompleteInteraction._respond, AutocompleteInteraction._first = Responses._respond, Responses._first
AutocompleteInteraction._cancelAutoDefer = Responses._cancelAutoDefer

-- Components --------------------------------------------------------------------------------------------------

---@type discord.MessageComponentInteraction
local MessageComponentInteraction = util.class("MessageComponentInteraction", BaseInteraction)
M.MessageComponentInteraction = MessageComponentInteraction

--- Builds a component interaction from its payload.
---@param client discord.Client
---@param data table Raw interaction.
function MessageComponentInteraction:init(client, data)
  BaseInteraction.init(self, client, data)
  local d = data.data or {}
  self.customId = d.custom_id
  self.componentType = d.component_type
  self.values = d.values
  if data.message then self.message = toMessage(self, data.message) end
  if SELECTS[self.componentType] then self:_patchSelect(d) end
end

-- The users, members, roles and channels a select chose, resolved like command options.
function MessageComponentInteraction:_patchSelect(d)
  local r = resolver().resolveData(self.client, self.guildId, d.resolved)
  self.users, self.members, self.roles, self.channels = collection(), collection(), collection(), collection()
  for _, id in ipairs(d.values or {}) do
    if r.users:get(id) then self.users:set(id, r.users:get(id)) end
    if r.members:get(id) then self.members:set(id, r.members:get(id)) end
    if r.roles:get(id) then self.roles:set(id, r.roles:get(id)) end
    if r.channels:get(id) then self.channels:set(id, r.channels:get(id)) end
  end
end

--- The component with `customId` among (nested) message components; nil when absent.
---@param list table[]|nil Message components.
---@param customId string
---@return table|nil
local function findComponent(list, customId)
  for _, c in ipairs(list or {}) do
    local id = c.customId or c.custom_id
    if id == customId then return c end
    local inner = c.components or c.data and c.data.components
    local found = inner and findComponent(inner, customId)
    if found then return found end
    local accessory = c.accessory
    if accessory and (accessory.customId or accessory.custom_id) == customId then return accessory end
    local child = c.component
    if child and (child.customId or child.custom_id) == customId then return child end
  end
  return nil
end
M.findComponent = findComponent

--- The component that was used, from the message's components.
---@return table|nil
MessageComponentInteraction.getters.component = function(self)
  local msg = self.message
  return msg and findComponent(msg.components, self.customId) or nil
end

applyResponses(MessageComponentInteraction, { "deferReply", "reply", "editReply", "deleteReply", "fetchReply",
  "followUp", "deferUpdate", "update", "showModal", "awaitModalSubmit", "launchActivity" })

--- A button was pressed.
---@class discord.ButtonInteraction: discord.MessageComponentInteraction
local ButtonInteraction = util.class("ButtonInteraction", MessageComponentInteraction)
M.ButtonInteraction = ButtonInteraction
--- A string select menu was used; `values` holds the choices.
---@class discord.StringSelectMenuInteraction: discord.MessageComponentInteraction
local StringSelectMenuInteraction = util.class("StringSelectMenuInteraction", MessageComponentInteraction)
M.StringSelectMenuInteraction = StringSelectMenuInteraction
--- A user select menu was used; `users` and `members` hold the choices.
---@class discord.UserSelectMenuInteraction: discord.MessageComponentInteraction
local UserSelectMenuInteraction = util.class("UserSelectMenuInteraction", MessageComponentInteraction)
M.UserSelectMenuInteraction = UserSelectMenuInteraction
--- A role select menu was used; `roles` holds the choices.
---@class discord.RoleSelectMenuInteraction: discord.MessageComponentInteraction
local RoleSelectMenuInteraction = util.class("RoleSelectMenuInteraction", MessageComponentInteraction)
M.RoleSelectMenuInteraction = RoleSelectMenuInteraction
--- A mentionable select menu was used; `users`, `members` and `roles` hold the choices.
---@class discord.MentionableSelectMenuInteraction: discord.MessageComponentInteraction
local MentionableSelectMenuInteraction = util.class("MentionableSelectMenuInteraction", MessageComponentInteraction)
M.MentionableSelectMenuInteraction = MentionableSelectMenuInteraction
--- A channel select menu was used; `channels` holds the choices.
---@class discord.ChannelSelectMenuInteraction: discord.MessageComponentInteraction
local ChannelSelectMenuInteraction = util.class("ChannelSelectMenuInteraction", MessageComponentInteraction)
M.ChannelSelectMenuInteraction = ChannelSelectMenuInteraction

-- Modals ------------------------------------------------------------------------------------------------------

-- The values of a submitted modal, by custom ID.
---@type discord.ModalSubmitFields
local ModalSubmitFields = util.class("ModalSubmitFields")
M.ModalSubmitFields = ModalSubmitFields

-- Fields sit in action rows (classic modals) or in labels (current ones); text displays hold none.
local function collectFields(list, out)
  for _, c in ipairs(list or {}) do
    if c.type == ComponentType.ActionRow then
      collectFields(c.components, out)
    elseif c.type == ComponentType.Label and c.component then
      collectFields({ c.component }, out)
    elseif c.custom_id then
      out[#out + 1] = { customId = c.custom_id, type = c.type, value = c.value, values = c.values }
    end
  end
  return out
end

--- Reads the fields of a submitted modal's components.
---@param components? table[] The submitted components.
---@param resolved? table Resolved users, members, roles, channels and attachments.
function ModalSubmitFields:init(components, resolved)
  self.components = components or {}
  self.fields = collection()
  for _, f in ipairs(collectFields(self.components, {})) do self.fields:set(f.customId, f) end
  self.resolved = resolved
end

--- The field {customId=, type=, value=, values=} with `customId`.
--- Raises `discord.LibraryError` when it is missing or (with `componentType`) of another type.
---@param customId string
---@param componentType? integer discord.enums.ComponentType value.
---@return table
function ModalSubmitFields:getField(customId, componentType)
  local f = self.fields:get(customId)
  if not f then error(libError("ModalSubmitInteractionFieldNotFound", customId), 2) end
  if componentType ~= nil and f.type ~= componentType then
    error(libError("ModalSubmitInteractionFieldType", customId, tostring(ComponentType[f.type] or f.type),
      tostring(ComponentType[componentType] or componentType)), 2)
  end
  return f
end

--- The text of a text input; nil for an optional field left out when `required` is false.
--- Raises `discord.LibraryError` when the field is missing (unless `required` is false) or not a text input.
---@param customId string
---@param required? boolean
---@return string|nil
function ModalSubmitFields:getTextInputValue(customId, required)
  if required == false and not self.fields:get(customId) then return nil end
  return self:getField(customId, ComponentType.TextInput).value
end

--- The values chosen in a string select.
--- Raises `discord.LibraryError` when the field is missing or not a string select.
---@param customId string
---@return string[]
function ModalSubmitFields:getStringSelectValues(customId)
  return self:getField(customId, ComponentType.StringSelect).values or {}
end

local function selected(self, customId, kind)
  local f = self:getField(customId)
  local out = collection()
  local pool = self.resolved and self.resolved[kind]
  for _, id in ipairs(f.values or {}) do
    local v = pool and pool:get(id)
    if v then out:set(id, v) end
  end
  return out
end
--- The users chosen in a user or mentionable select, by ID.
--- Raises `discord.LibraryError` when the field is missing.
---@param customId string
---@return discord.Collection
function ModalSubmitFields:getSelectedUsers(customId) return selected(self, customId, "users") end
--- The members chosen in a user or mentionable select, by ID.
--- Raises `discord.LibraryError` when the field is missing.
---@param customId string
---@return discord.Collection
function ModalSubmitFields:getSelectedMembers(customId) return selected(self, customId, "members") end
--- The roles chosen in a role or mentionable select, by ID.
--- Raises `discord.LibraryError` when the field is missing.
---@param customId string
---@return discord.Collection
function ModalSubmitFields:getSelectedRoles(customId) return selected(self, customId, "roles") end
--- The channels chosen in a channel select, by ID.
--- Raises `discord.LibraryError` when the field is missing.
---@param customId string
---@return discord.Collection
function ModalSubmitFields:getSelectedChannels(customId) return selected(self, customId, "channels") end

--- The files uploaded through a file upload, Attachments by ID; empty for an optional one left out.
--- Raises `discord.LibraryError` when the field is missing (unless `required` is false) or not a file upload.
---@param customId string
---@param required? boolean
---@return discord.Collection
function ModalSubmitFields:getUploadedFiles(customId, required)
  if required == false and not self.fields:get(customId) then return collection() end
  self:getField(customId, ComponentType.FileUpload)
  return selected(self, customId, "attachments")
end

--- The value chosen in a radio group, or nil when none was.
--- Raises `discord.LibraryError` when the field is missing or not a radio group.
---@param customId string
---@return string|nil
function ModalSubmitFields:getRadioGroup(customId)
  return util.nullable(self:getField(customId, ComponentType.RadioGroup).value)
end

--- The values chosen in a checkbox group (a list, empty when none were).
--- Raises `discord.LibraryError` when the field is missing or not a checkbox group.
---@param customId string
---@return string[]
function ModalSubmitFields:getCheckboxGroup(customId)
  return self:getField(customId, ComponentType.CheckboxGroup).values or {}
end

--- Whether a checkbox was checked.
--- Raises `discord.LibraryError` when the field is missing or not a checkbox.
---@param customId string
---@return boolean
function ModalSubmitFields:getCheckbox(customId)
  return self:getField(customId, ComponentType.Checkbox).value == true
end

---@type discord.ModalSubmitInteraction
local ModalSubmitInteraction = util.class("ModalSubmitInteraction", BaseInteraction)
M.ModalSubmitInteraction = ModalSubmitInteraction

--- Builds a modal submit interaction from its payload.
---@param client discord.Client
---@param data table Raw interaction.
function ModalSubmitInteraction:init(client, data)
  BaseInteraction.init(self, client, data)
  local d = data.data or {}
  self.customId = d.custom_id
  self.components = d.components or {}
  local resolved = resolver().resolveData(client, self.guildId, d.resolved)
  self.fields = ModalSubmitFields(self.components, resolved)
  if data.message then self.message = toMessage(self, data.message) end
end

applyResponses(ModalSubmitInteraction, REPLY_METHODS)

--- Acknowledges the submit and edits the message later; only for a modal opened from a message's component.
--- Raises `discord.LibraryError` InteractionResponseInvalid otherwise, InteractionAlreadyReplied, or a REST error.
---@async
---@param opts? {withResponse?: boolean, fetchReply?: boolean}
---@return discord.InteractionReplyResult
function ModalSubmitInteraction:deferUpdate(opts)
  return Responses.deferUpdate(self, opts)
end

--- Edits the message the modal was opened from, as the first response.
--- Raises `discord.LibraryError` InteractionResponseInvalid without that message, or as `update` does.
---@async
---@param options discord.InteractionReplyResolvable
---@return discord.InteractionReplyResult|discord.Message
function ModalSubmitInteraction:update(options)
  return Responses.update(self, options)
end

-- Factory -------------------------------------------------------------------------------------------------

local COMPONENT_CLASSES = {
  [ComponentType.Button] = ButtonInteraction,
  [ComponentType.StringSelect] = StringSelectMenuInteraction,
  [ComponentType.UserSelect] = UserSelectMenuInteraction,
  [ComponentType.RoleSelect] = RoleSelectMenuInteraction,
  [ComponentType.MentionableSelect] = MentionableSelectMenuInteraction,
  [ComponentType.ChannelSelect] = ChannelSelectMenuInteraction,
}

local COMMAND_CLASSES = {
  [CommandType.ChatInput] = ChatInputCommandInteraction,
  [CommandType.User] = UserContextMenuCommandInteraction,
  [CommandType.Message] = MessageContextMenuCommandInteraction,
  [CommandType.PrimaryEntryPoint] = PrimaryEntryPointCommandInteraction,
}

--- The interaction object of the right class for a raw INTERACTION_CREATE payload; nil for a ping.
---@param client discord.Client
---@param data table Raw interaction.
---@return discord.BaseInteraction|nil
function M.createInteraction(client, data)
  local t = data.type
  local d = data.data or {}
  if t == InteractionType.ApplicationCommand then
    return (COMMAND_CLASSES[d.type] or CommandInteraction)(client, data)
  elseif t == InteractionType.ApplicationCommandAutocomplete then
    return AutocompleteInteraction(client, data)
  elseif t == InteractionType.MessageComponent then
    return (COMPONENT_CLASSES[d.component_type] or MessageComponentInteraction)(client, data)
  elseif t == InteractionType.ModalSubmit then
    return ModalSubmitInteraction(client, data)
  end
  return nil
end

--- Starts the autoDefer timer of a new interaction when `options.autoDefer` asks for one.
---@param client discord.Client
---@param interaction discord.BaseInteraction
function M.scheduleAutoDefer(client, interaction)
  local ms = client.options.autoDefer
  if not ms or not interaction._autoDefer then return end
  local wait = math.max(0, ms - (runtime.now() - interaction._receivedAt))
  interaction._autoDeferTimer = runtime.timer(wait, function()
    if interaction._autoDeferTimer then interaction:_autoDefer() end
  end)
end

-- Gateway events -----------------------------------------------------------------------------------------

-- An interaction needs no cache update; autoDefer starts counting from its arrival.
require("discord.managers.base").handlers.INTERACTION_CREATE = function(client, packet, shard)
  local interaction = M.createInteraction(client, packet.d)
  if not interaction then return end
  interaction.shardId = shard and shard.id
  client:emit("interactionCreate", interaction)
  M.scheduleAutoDefer(client, interaction)
end

return M
