-- Webhooks: the objects the API returns (incoming, channel follower, application), their messages, and
-- WebhookClient, which needs only a webhook's ID and token.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

local Webhook = util.class("Webhook", Base)
M.Webhook = Webhook

local FIELDS = {
  type = "type", guild_id = "guildId", channel_id = "channelId", name = "name", avatar = "avatar", token = "token",
  application_id = "applicationId", url = "url",
}

--- `Webhook(client, data)`.
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

function Webhook:isIncoming() return self.type == WebhookType.Incoming end
function Webhook:isChannelFollower() return self.type == WebhookType.ChannelFollower end
function Webhook:isApplicationCreated() return self.type == WebhookType.Application end

--- The URL that posts to the webhook; nil without its token.
function Webhook:getURL()
  if not self.token then return nil end
  return require("discord.constants").WebhookURL .. "/" .. self.id .. "/" .. self.token
end

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

-- Without a bot token, the webhook's own token authorises its routes.
local function tokenOnly(self) return self.token ~= nil and self.client.token == nil end

--- (B) Edits the webhook: {name=, avatar= (bytes, data URI or false), channel=, reason=}. Moving it to
--- another channel needs the bot's authorization.
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

--- (B) Deletes the webhook.
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

--- (B) Posts a message: content, embeds, components, files, username=, avatarURL=, threadId=,
--- threadName= (forum webhooks), appliedTags=, withComponents=. Returns the message.
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

--- (B) A message the webhook sent: {threadId=}.
function Webhook:fetchMessage(message, opts)
  local data = self:_rest():get(self:_path(true, "/messages/" .. messageId(message)),
    { auth = false, query = threadQuery(opts) })
  return toMessage(self, data)
end

--- (B) Edits a message the webhook sent; `options` as for send, plus threadId=.
function Webhook:editMessage(message, options)
  local body, files = payloadOf(self, options, true)
  local data = self:_rest():patch(self:_path(true, "/messages/" .. messageId(message)),
    { body = body, files = files, auth = false, query = threadQuery(options) })
  return toMessage(self, data)
end

--- (B) Deletes a message the webhook sent.
function Webhook:deleteMessage(message, threadId)
  self:_rest():delete(self:_path(true, "/messages/" .. messageId(message)),
    { auth = false, query = threadQuery({ threadId = threadId }) })
end

--- (B) Posts a Slack- or GitHub-formatted body as it comes (`kind` "slack" or "github").
function Webhook:sendCompatible(kind, body, opts)
  if kind ~= "slack" and kind ~= "github" then error("Webhook:sendCompatible: kind must be slack or github", 2) end
  return self:_rest():post(self:_path(true, "/" .. kind), { body = body, auth = false,
    query = threadQuery(opts, { wait = "true" }) })
end

function Webhook:toJSON()
  local out = Base.toJSON(self)
  out.token = nil
  return out
end

-- Token-only client -------------------------------------------------------------------------------------------

local WebhookClient = util.class("WebhookClient", Webhook)
M.WebhookClient = WebhookClient

--- `WebhookClient({id=, token=} or {url=}, options)`: posts through a webhook without a bot. `options.rest`
--- are REST options.
function WebhookClient:init(data, options)
  data = data or {}
  local id, token = data.id, data.token
  if data.url then id, token = tostring(data.url):match("/webhooks/(%d+)/([%w_%-]+)") end
  if not id or not token then error("WebhookClient: give {id=, token=} or the webhook's URL", 2) end
  options = options or {}
  local client = { options = options, token = nil, rest = require("discord.rest").REST(options.rest) }
  Webhook.init(self, client, { id = id, token = token, type = WebhookType.Incoming })
end

--- (B) Fetches the webhook's name, avatar and channel through its token.
function WebhookClient:fetch()
  return self:_patch(self:_rest():get(self:_path(true), { auth = false }))
end

function WebhookClient:destroy() end

-- Gateway events -----------------------------------------------------------------------------------------

require("discord.managers.base").handlers.WEBHOOKS_UPDATE = function(client, packet)
  local channel = client.channels.cache:get(packet.d.channel_id)
  if channel then client:emit("webhooksUpdate", channel) end
end

-- Client methods ----------------------------------------------------------------------------------------

local Client = require("discord.client").Client

--- (B) A webhook; its token skips the bot's authorization.
function Client:fetchWebhook(id, token)
  local path = "/webhooks/" .. id .. (token and ("/" .. token) or "")
  return M.Webhook(self, self.rest:get(path, { auth = token == nil }))
end

return M
