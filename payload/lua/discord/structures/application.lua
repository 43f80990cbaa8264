-- The bot's application: its settings and owner (a user or a team), edits, role connection metadata,
-- and the managers of its commands, emojis, entitlements and SKUs.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base
local Collection = require("discord.collection").Collection

local M = {}

-- Teams ------------------------------------------------------------------------------------------------------

local Team = util.class("Team", Base)
M.Team = Team

function Team:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self:_copy(data, { name = "name", icon = "icon", owner_user_id = "ownerId" })
  self.members = Collection()
  for _, m in ipairs(data.members or {}) do
    local user = client.users:_add(m.user)
    self.members:set(user.id, { user = user, id = user.id, role = m.role, membershipState = m.membership_state,
      teamId = self.id })
  end
end

Team.getters.owner = function(self) return self.members:get(self.ownerId) end
Team.getters.createdTimestamp = function(self) return require("discord.snowflake").timestamp(self.id) end

function Team:iconURL(opts)
  return self.icon and require("discord.cdn").teamIcon(self.id, self.icon, opts) or nil
end

function Team:toJSON()
  local out = Base.toJSON(self)
  out.members = json.array(self.members:keys())
  return out
end

-- Application ------------------------------------------------------------------------------------------------

local ClientApplication = util.class("ClientApplication", Base)
M.ClientApplication = ClientApplication

local FIELDS = {
  name = "name", description = "description", icon = "icon", cover_image = "cover", bot_public = "botPublic",
  bot_require_code_grant = "botRequireCodeGrant", approximate_guild_count = "approximateGuildCount",
  approximate_user_install_count = "approximateUserInstallCount", interactions_endpoint_url = "interactionsEndpointURL",
  role_connections_verification_url = "roleConnectionsVerificationURL", custom_install_url = "customInstallURL",
  tags = "tags", terms_of_service_url = "termsOfServiceURL", privacy_policy_url = "privacyPolicyURL",
  verify_key = "verifyKey", guild_id = "guildId", primary_sku_id = "primarySkuId", slug = "slug",
  redirect_uris = "redirectURIs", event_webhooks_url = "eventWebhooksURL", rpc_origins = "rpcOrigins",
  approximate_user_authorization_count = "approximateUserAuthorizationCount",
  event_webhooks_status = "eventWebhooksStatus", event_webhooks_types = "eventWebhooksTypes",
}

--- `ClientApplication(client, data)`; READY gives only the ID and flags, fetch() the rest.
function ClientApplication:init(client, data)
  Base.init(self, client)
  self:_patch(data or {})
end

function ClientApplication:_patch(data)
  if data.id ~= nil then self.id = data.id end
  self:_copy(data, FIELDS)
  -- Flags above bit 30 come only in flags_new, as a string.
  self:_flags(data, data.flags_new ~= nil and "flags_new" or "flags", "ApplicationFlagsBitField")
  if type(data.install_params) == "table" then
    local PermissionsBitField = require("discord.bitfield").PermissionsBitField
    self.installParams = { scopes = data.install_params.scopes,
      permissions = PermissionsBitField(data.install_params.permissions or "0"):freeze() }
  end
  if type(data.integration_types_config) == "table" then self.integrationTypesConfig = data.integration_types_config end
  if type(data.team) == "table" then
    self.owner = Team(self.client, data.team)
  elseif type(data.owner) == "table" then
    self.owner = self.client.users:_add(data.owner)
  end
  if type(data.bot) == "table" then self.bot = self.client.users:_add(data.bot) end
  return self
end

ClientApplication.getters.partial = function(self) return self.name == nil end
ClientApplication.getters.createdTimestamp = function(self)
  return self.id and require("discord.snowflake").timestamp(self.id) or nil
end
ClientApplication.getters.guild = function(self)
  return self.guildId and self.client.guilds.cache:get(self.guildId) or nil
end

local function lazyManager(field, module, class)
  ClientApplication.getters[field] = function(self)
    local m = rawget(self, "_" .. field)
    if not m then
      m = require(module)[class](self)
      rawset(self, "_" .. field, m)
    end
    return m
  end
end
lazyManager("emojis", "discord.managers.application_emoji", "ApplicationEmojiManager")
lazyManager("entitlements", "discord.managers.entitlement", "EntitlementManager")
lazyManager("skus", "discord.managers.sku", "SKUManager")

function ClientApplication:iconURL(opts)
  return self.icon and self.id and require("discord.cdn").appIcon(self.id, self.icon, opts) or nil
end

function ClientApplication:coverURL(opts)
  return self.cover and self.id and require("discord.cdn").appIcon(self.id, self.cover, opts) or nil
end

-- The application's route: its ID when `byId` (both name the bot's own application), else @me.
local function appPath(self, byId)
  if byId and not self.id then
    error(require("discord.errors").LibraryError("ClientNotReady", "use the application"), 3)
  end
  return "/applications/" .. (byId and self.id or "@me")
end

--- (B) Fetches every field of the application: {byId=} asks for it by its ID.
function ClientApplication:fetch(opts)
  return self:_patch(self.client.rest:get(appPath(self, opts and opts.byId)))
end

local EDIT = {
  description = "description", interactionsEndpointURL = "interactions_endpoint_url",
  roleConnectionsVerificationURL = "role_connections_verification_url", customInstallURL = "custom_install_url",
  tags = { "tags", json.array }, eventWebhooksURL = "event_webhooks_url",
  integrationTypesConfig = "integration_types_config",
}

--- (B) Edits the application: {description=, icon=, coverImage=, flags=, tags=, installParams={scopes=,
--- permissions=}, interactionsEndpointURL=, roleConnectionsVerificationURL=, customInstallURL=, byId=, ...}.
function ClientApplication:edit(opts)
  opts = opts or {}
  local body = require("discord.managers.base").bodyOf(opts, EDIT)
  for key, field in pairs({ icon = "icon", coverImage = "cover_image" }) do
    if opts[key] == false then body[field] = json.null elseif opts[key] ~= nil then
      body[field] = util.imageData(opts[key])
    end
  end
  if opts.flags ~= nil then body.flags = require("discord.bitfield").ApplicationFlagsBitField:resolve(opts.flags) end
  if opts.installParams ~= nil then
    local p = opts.installParams
    body.install_params = { scopes = json.array(util.shallowCopy(p.scopes or {})),
      permissions = tostring(require("discord.bitfield").PermissionsBitField:resolve(p.permissions or 0)) }
  end
  return self:_patch(self.client.rest:patch(appPath(self, opts.byId), { body = body }))
end

local function metadataPath(self)
  if not self.id then error(require("discord.errors").LibraryError("ClientNotReady", "use the application"), 3) end
  return "/applications/" .. self.id .. "/role-connections/metadata"
end

local function recordOf(r)
  return { type = r.type, key = r.key, name = r.name, nameLocalizations = util.nullable(r.name_localizations),
    description = r.description, descriptionLocalizations = util.nullable(r.description_localizations) }
end

--- (B) The role connection metadata records.
function ClientApplication:fetchRoleConnectionMetadataRecords()
  return util.map(self.client.rest:get(metadataPath(self)), recordOf)
end

--- (B) Replaces the records (at most 5): {{type=, key=, name=, description=, nameLocalizations=, ...}}.
function ClientApplication:editRoleConnectionMetadataRecords(records)
  if #records > 5 then error("ClientApplication: at most 5 role connection metadata records", 2) end
  local body = json.array(util.map(records, function(r)
    return { type = r.type, key = r.key, name = r.name, description = r.description,
      name_localizations = r.nameLocalizations, description_localizations = r.descriptionLocalizations }
  end))
  return util.map(self.client.rest:put(metadataPath(self), { body = body }), recordOf)
end

--- (B) Activity instance of an embedded activity launch.
function ClientApplication:fetchActivityInstance(instanceId)
  if not self.id then error(require("discord.errors").LibraryError("ClientNotReady", "use the application"), 2) end
  return self.client.rest:get("/applications/" .. self.id .. "/activity-instances/" .. instanceId)
end

--- (B) Uploads a file for an activity to show (AttachmentBuilder, path or {name=, data=}); returns the
--- attachment's data ({id=, filename=, url=, ...}).
function ClientApplication:uploadAttachment(file)
  local f = util.provided("attachments").resolveFile(file, 1)
  f.field = "file"
  return self.client.rest:post(appPath(self, true) .. "/attachment", { files = { f } }).attachment
end

--- (B) The bot's OAuth2 authorisation: {application=, scopes=, expires=, user=}, as Discord sends it.
function ClientApplication:fetchAuthorization() return self.client.rest:get("/oauth2/@me") end

--- (B) The application as OAuth2 describes it, as Discord sends it.
function ClientApplication:fetchOAuth2Application() return self.client.rest:get("/oauth2/applications/@me") end

--- (B) Discord's OpenID Connect signing keys: {keys = {...}}.
function ClientApplication:fetchPublicKeys() return self.client.rest:get("/oauth2/keys") end

--- (B) The OpenID Connect user info of the authorisation, as Discord sends it.
function ClientApplication:fetchUserInfo() return self.client.rest:get("/oauth2/userinfo") end

-- The Social SDK's provisional accounts: a bot names its user by `externalUserId`; a game client by its
-- external authentication token.
local function provisional(self, route, opts)
  if opts.externalUserId then
    return self.client.rest:post(route .. "/bot", { body = { external_user_id = opts.externalUserId,
      provisional_user_id = opts.provisionalUserId, preferred_global_name = opts.preferredGlobalName } })
  end
  return self.client.rest:post(route, { body = { client_id = self.id, client_secret = opts.clientSecret,
    external_auth_token = opts.externalAuthToken, external_auth_type = opts.externalAuthType } })
end

--- (B) A provisional account's token: {externalUserId=, provisionalUserId=, preferredGlobalName=} or
--- {clientSecret=, externalAuthToken=, externalAuthType=}. Returns Discord's answer ({access_token=, ...}).
function ClientApplication:createProvisionalToken(opts)
  return provisional(self, "/partner-sdk/token", opts or {})
end

--- (B) Unmerges a provisional account from the Discord account it was merged into (options as above).
function ClientApplication:unmergeProvisionalAccount(opts)
  provisional(self, "/partner-sdk/provisional-accounts/unmerge", opts or {})
end

--- (B) Attaches the game's moderation metadata (string values) to a direct message between two users.
function ClientApplication:setDMModerationMetadata(user1, user2, message, metadata)
  local users = self.client.users
  self.client.rest:put("/partner-sdk/dms/" .. users:resolveId(user1) .. "/" .. users:resolveId(user2)
    .. "/messages/" .. (type(message) == "table" and message.id or tostring(message)) .. "/moderation-metadata",
    { body = json.object(metadata or {}) })
end

function ClientApplication:toJSON()
  local out = Base.toJSON(self)
  out.commands = nil
  return out
end

-- Social SDK lobbies ----------------------------------------------------------------------------------------
-- Lobbies are kept as Discord sends them (snake_case tables); the library has no cache of them.

local LobbyManager = util.class("LobbyManager")
M.LobbyManager = LobbyManager

function LobbyManager:init(application)
  self.application, self.client = application, application.client
end

ClientApplication.getters.lobbies = function(self)
  local m = rawget(self, "_lobbies") or LobbyManager(self)
  rawset(self, "_lobbies", m)
  return m
end

local LOBBY = { idleTimeoutSeconds = "idle_timeout_seconds", metadata = "metadata", flags = "flags",
  lobbyMetadata = "lobby_metadata", memberMetadata = "member_metadata", secret = "secret",
  overrideEventWebhooksURL = "override_event_webhooks_url" }

local function lobbyBody(self, opts)
  local body = require("discord.managers.base").bodyOf(opts or {}, LOBBY)
  if opts and opts.members then
    body.members = json.array(util.map(opts.members, function(m)
      return { id = self.client.users:resolveId(m.id or m), metadata = m.metadata, flags = m.flags }
    end))
  end
  return body
end

local function lobbyPath(lobby, rest)
  return "/lobbies/" .. (type(lobby) == "table" and lobby.id or tostring(lobby)) .. (rest or "")
end

--- (B) Joins the lobby of `secret`, creating it when there is none: {secret=, idleTimeoutSeconds=,
--- lobbyMetadata=, memberMetadata=, flags=}.
function LobbyManager:createOrJoin(opts)
  return self.client.rest:put("/lobbies", { body = lobbyBody(self, opts) })
end

--- (B) Creates a lobby: {members = {{id=, metadata=, flags=}}, metadata=, idleTimeoutSeconds=, flags=}.
function LobbyManager:create(opts)
  return self.client.rest:post("/lobbies", { body = lobbyBody(self, opts) })
end

function LobbyManager:fetch(lobby) return self.client.rest:get(lobbyPath(lobby)) end
function LobbyManager:edit(lobby, opts)
  return self.client.rest:patch(lobbyPath(lobby), { body = lobbyBody(self, opts) })
end
function LobbyManager:delete(lobby) self.client.rest:delete(lobbyPath(lobby)) end
function LobbyManager:leave(lobby) self.client.rest:delete(lobbyPath(lobby, "/members/@me")) end

--- (B) Links the lobby to a channel, or unlinks it (`channel` nil).
function LobbyManager:linkChannel(lobby, channel)
  return self.client.rest:patch(lobbyPath(lobby, "/channel-linking"), { body = {
    channel_id = channel and self.client.channels:resolveId(channel) or json.null } })
end

--- (B) Adds or updates a member: {metadata=, flags=}.
function LobbyManager:addMember(lobby, user, opts)
  opts = opts or {}
  return self.client.rest:put(lobbyPath(lobby, "/members/" .. self.client.users:resolveId(user)),
    { body = { metadata = opts.metadata, flags = opts.flags } })
end

function LobbyManager:removeMember(lobby, user)
  self.client.rest:delete(lobbyPath(lobby, "/members/" .. self.client.users:resolveId(user)))
end

--- (B) Adds, updates or removes (`remove = true`) up to 25 members: {{id=, metadata=, flags=, remove=}}.
function LobbyManager:bulkUpdateMembers(lobby, members)
  return self.client.rest:post(lobbyPath(lobby, "/members/bulk"), { body = json.array(util.map(members, function(m)
    return { id = self.client.users:resolveId(m.id), metadata = m.metadata, flags = m.flags,
      remove_member = m.remove }
  end)) })
end

--- (B) An invite to the guild of the lobby's linked channel, for the bot or for `user`.
function LobbyManager:createGuildInvite(lobby, user)
  local who = user and self.client.users:resolveId(user) or "@me"
  return self.client.rest:post(lobbyPath(lobby, "/members/" .. who .. "/invites"))
end

--- (B) The lobby's latest messages: {limit=}.
function LobbyManager:fetchMessages(lobby, opts)
  return self.client.rest:get(lobbyPath(lobby, "/messages"), { query = { limit = opts and opts.limit } })
end

--- (B) Sends a message to the lobby: text, or {content=, flags=}.
function LobbyManager:send(lobby, message)
  if type(message) == "string" then message = { content = message } end
  return self.client.rest:post(lobbyPath(lobby, "/messages"), { body = { content = message.content,
    flags = message.flags } })
end

--- (B) Attaches the game's moderation metadata (string values) to a lobby message.
function LobbyManager:setModerationMetadata(lobby, message, metadata)
  local id = type(message) == "table" and message.id or tostring(message)
  self.client.rest:put(lobbyPath(lobby, "/messages/" .. id .. "/moderation-metadata"),
    { body = json.object(metadata or {}) })
end

return M
