-- Webhooks: the objects the API returns (incoming, channel follower, application), their messages, and
-- WebhookClient, which needs only a webhook's ID and token.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

--- A webhook: incoming (with a token), channel follower or application; sends and edits its messages.
---@class discord.Webhook: discord.Base
---@field id discord.Snowflake The webhook's ID.
---@field type integer discord.WebhookType: 1 incoming, 2 channel follower, 3 application.
---@field guildId discord.Snowflake? The guild it belongs to.
---@field channelId discord.Snowflake? The channel it posts to.
---@field name string? The default name it posts with.
---@field avatar string? The avatar hash.
---@field token string? Only incoming webhooks have one; it lets anyone post through the webhook.
---@field applicationId discord.Snowflake? The application that made it.
---@field url string? The posting URL, when Discord sends it.
---@field owner discord.User? Who made it.
---@field sourceGuild {id: discord.Snowflake, name: string, icon: string?}? A follower's source guild.
---@field sourceChannel {id: discord.Snowflake, name: string}? A follower's source channel.
---@field channel discord.BaseChannel? The channel, when cached (read-only).
---@field guild discord.Guild? The guild, when cached (read-only).
---@field createdTimestamp discord.Milliseconds (read-only).
local Webhook = util.class("Webhook", Base)
M.Webhook = Webhook

local FIELDS = {
  type = "type", guild_id = "guildId", channel_id = "channelId", name = "name", avatar = "avatar", token = "token",
  application_id = "applicationId", url = "url",
}

--- `Webhook(client, data)`.
---@private
---@param client discord.Client
---@param data table
function Webhook:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self:_patch(data)
end

function Webhook:_patch(data)
  self:_copy(data, FIELDS)
  if type(data.user) == "table" then self.owner = self.client.users:_add(data.user) end
  if type(data.source_guild) == "table" then
    self.sourceGuild = { id = data.source_guild.id, name = data.source_guild.name,
      icon = util.nullable(data.source_guild.icon) }
  end
  if type(data.source_channel) == "table" then
    self.sourceChannel = { id = data.source_channel.id, name = data.source_channel.name }
  end
  return self
end

local WebhookType = require("discord.enums").WebhookType

Webhook.getters.channel = function(self)
  return self.channelId and self.client.channels.cache:get(self.channelId) or nil
end
Webhook.getters.guild = function(self) return self.guildId and self.client.guilds.cache:get(self.guildId) or nil end
Webhook.getters.createdTimestamp = function(self) return require("discord.snowflake").timestamp(self.id) end

--- Whether it is an incoming webhook (the kind with a token).
---@return boolean incoming
function Webhook:isIncoming() return self.type == WebhookType.Incoming end
--- Whether it posts what an announcement channel it follows publishes.
---@return boolean follower
function Webhook:isChannelFollower() return self.type == WebhookType.ChannelFollower end
--- Whether an application made it (interaction webhooks).
---@return boolean application
function Webhook:isApplicationCreated() return self.type == WebhookType.Application end

--- The URL that posts to the webhook; nil without its token.
---@return string? url
function Webhook:getURL()
  if not self.token then return nil end
  return require("discord.constants").WebhookURL .. "/" .. self.id .. "/" .. self.token
end

--- The avatar's address, nil when it has none.
---@param opts? {size?: integer, extension?: string}
---@return string? url
function Webhook:avatarURL(opts)
  return self.avatar and require("discord.cdn").avatar(self.id, self.avatar, opts) or nil
end

-- With a token the webhook's own routes need no bot authorization.
function Webhook:_path(withToken, rest)
  local p = "/webhooks/" .. self.id
  if withToken then
    if not self.token then error("Webhook: this webhook has no token (only incoming webhooks have one)", 4) end
    p = p .. "/" .. self.token
  end
  return p .. (rest or "")
end

function Webhook:_rest()
  return self.client.rest
end

--- Options of `Webhook:send` and `Webhook:editMessage`: a message, plus what only webhooks take.
---@class discord.WebhookMessageOptions: discord.MessageOptions
---@field username? string The name shown instead of the webhook's (send).
---@field avatarURL? string The avatar shown instead of the webhook's (send).
---@field threadId? discord.Snowflake|discord.ThreadChannel Post in (or edit in) this thread (or `thread`).
---@field thread? discord.Snowflake|discord.ThreadChannel Post in (or edit in) this thread (or `threadId`).
---@field threadName? string Forum and media webhooks: make a post with this name (send).
---@field appliedTags? discord.Snowflake[] Tags of that post (send).
---@field withComponents? boolean Lets a webhook not owned by an application send components.

-- Without a bot token, the webhook's own token authorises its routes.
local function tokenOnly(self) return self.token ~= nil and self.client.token == nil end

--- Edits the webhook's name, avatar or channel; moving it needs the bot's authorization.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts {name?: string, avatar?: discord.ImageSource|false, channel?: discord.ChannelResolvable, reason?: string}
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.Webhook webhook
function Webhook:edit(opts, reason)
  opts = opts or {}
  local body = {}
  if opts.name ~= nil then body.name = opts.name end
  if opts.avatar == false then
    body.avatar = json.null
  elseif opts.avatar ~= nil then
    body.avatar = util.imageData(opts.avatar)
  end
  local useToken = opts.channel == nil and tokenOnly(self)
  if opts.channel ~= nil then
    body.channel_id = type(opts.channel) == "table" and opts.channel.id or tostring(opts.channel)
  end
  local data = self:_rest():patch(self:_path(useToken), { body = body, reason = reason or opts.reason,
    auth = not useToken })
  return self:_patch(data)
end

--- Deletes the webhook (through its token when the client has no bot token); returns it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.Webhook webhook
function Webhook:delete(reason)
  local useToken = tokenOnly(self)
  self:_rest():delete(self:_path(useToken), { reason = reason, auth = not useToken })
  return self
end

-- Messages ---------------------------------------------------------------------------------------------------

local function toMessage(self, data)
  if data == nil then return nil end
  local channel = self.client.channels and self.client.channels.cache:get(data.channel_id) or nil
  if channel and channel.messages then return channel.messages:_add(data) end
  local ok, Message = pcall(function() return require("discord.message").Message end)
  if ok and self.client.users then return Message(self.client, data, channel) end
  return data
end

local function payloadOf(self, options, edit)
  if type(options) == "string" then options = { content = options } end
  local MessagePayload = require("discord.message").MessagePayload
  if util.instanceOf(options, MessagePayload) then options = options.options end
  local o = util.shallowCopy(options)
  o._edit = edit or nil
  local payload = MessagePayload(self, o):resolveBody()
  local body = payload.body
  body.nonce, body.enforce_nonce, body.message_reference = nil, nil, nil
  if not edit then
    if options.username ~= nil then body.username = options.username end
    if options.avatarURL ~= nil then body.avatar_url = options.avatarURL end
    if options.threadName ~= nil then body.thread_name = options.threadName end
    if options.appliedTags ~= nil then body.applied_tags = json.array(util.shallowCopy(options.appliedTags)) end
  end
  local files = payload.files or {}
  return body, #files > 0 and files or nil
end

local function threadQuery(options, query)
  query = query or {}
  local thread = type(options) == "table" and (options.threadId or options.thread) or nil
  if thread ~= nil then query.thread_id = type(thread) == "table" and thread.id or tostring(thread) end
  if type(options) == "table" and options.withComponents then query.with_components = "true" end
  return query
end

--- Posts a message through the webhook's token.
--- Raises an error without a token; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param options string|discord.WebhookMessageOptions
---@return discord.Message|table message A plain table when the client keeps no caches (WebhookClient).
function Webhook:send(options)
  local body, files = payloadOf(self, options, false)
  local data = self:_rest():post(self:_path(true), { body = body, files = files, auth = false,
    query = threadQuery(options, { wait = "true" }) })
  return toMessage(self, data)
end

local function messageId(message)
  if message == "@original" then return message end
  return type(message) == "table" and message.id or tostring(message)
end

--- A message the webhook sent ("@original" for an interaction's reply).
--- Raises an error without a token; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param message discord.Message|discord.Snowflake|"@original"
---@param opts? {threadId?: discord.Snowflake}
---@return discord.Message|table message
function Webhook:fetchMessage(message, opts)
  local data = self:_rest():get(self:_path(true, "/messages/" .. messageId(message)),
    { auth = false, query = threadQuery(opts) })
  return toMessage(self, data)
end

--- Edits a message the webhook sent.
--- Raises an error without a token; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param message discord.Message|discord.Snowflake|"@original"
---@param options string|discord.WebhookMessageOptions
---@return discord.Message|table message
function Webhook:editMessage(message, options)
  local body, files = payloadOf(self, options, true)
  local data = self:_rest():patch(self:_path(true, "/messages/" .. messageId(message)),
    { body = body, files = files, auth = false, query = threadQuery(options) })
  return toMessage(self, data)
end

--- Deletes a message the webhook sent.
--- Raises an error without a token; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param message discord.Message|discord.Snowflake|"@original"
---@param threadId? discord.Snowflake The thread it is in.
function Webhook:deleteMessage(message, threadId)
  self:_rest():delete(self:_path(true, "/messages/" .. messageId(message)),
    { auth = false, query = threadQuery({ threadId = threadId }) })
end

--- Posts a Slack- or GitHub-formatted body as it comes; returns Discord's answer.
--- Raises an error for another kind or without a token; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param kind "slack"|"github"
---@param body table
---@param opts? {threadId?: discord.Snowflake}
---@return table? data
function Webhook:sendCompatible(kind, body, opts)
  if kind ~= "slack" and kind ~= "github" then error("Webhook:sendCompatible: kind must be slack or github", 2) end
  return self:_rest():post(self:_path(true, "/" .. kind), { body = body, auth = false,
    query = threadQuery(opts, { wait = "true" }) })
end

--- Plain table of the webhook's fields, without its token.
---@return table json
function Webhook:toJSON()
  local out = Base.toJSON(self)
  out.token = nil
  return out
end

-- Token-only client -------------------------------------------------------------------------------------------

--- Posts through a webhook with only its ID and token (or URL), without a bot or a gateway connection.
---@class discord.WebhookClient: discord.Webhook
local WebhookClient = util.class("WebhookClient", Webhook)
M.WebhookClient = WebhookClient

--- `WebhookClient({id=, token=} or {url=}, options)`: `options.rest` are REST options.
--- Raises an error without an ID and token or a webhook URL.
---@param data {id?: discord.Snowflake, token?: string, url?: string}
---@param options? {rest?: table}
function WebhookClient:init(data, options)
  data = data or {}
  local id, token = data.id, data.token
  if data.url then id, token = tostring(data.url):match("/webhooks/(%d+)/([%w_%-]+)") end
  if not id or not token then error("WebhookClient: give {id=, token=} or the webhook's URL", 2) end
  options = options or {}
  local client = { options = options, token = nil, rest = require("discord.rest").REST(options.rest) }
  Webhook.init(self, client, { id = id, token = token, type = WebhookType.Incoming })
end

--- Fetches the webhook's name, avatar and channel through its token.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.WebhookClient webhook
function WebhookClient:fetch()
  return self:_patch(self:_rest():get(self:_path(true), { auth = false }))
end

--- Does nothing: a WebhookClient holds no connection (kept for code written for a client).
function WebhookClient:destroy() end

-- Gateway events -----------------------------------------------------------------------------------------

require("discord.managers.base").handlers.WEBHOOKS_UPDATE = function(client, packet)
  local channel = client.channels.cache:get(packet.d.channel_id)
  if channel then client:emit("webhooksUpdate", channel) end
end

-- Client methods ----------------------------------------------------------------------------------------

local Client = require("discord.client").Client

--- A webhook by ID; with its token, without the bot's authorization.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id discord.Snowflake
---@param token? string
---@return discord.Webhook webhook
function Client:fetchWebhook(id, token)
  local path = "/webhooks/" .. id .. (token and ("/" .. token) or "")
  return M.Webhook(self, self.rest:get(path, { auth = token == nil }))
end

return M
