-- The bot's application: its settings and owner (a user or a team), edits, role connection metadata,
-- and the managers of its commands, emojis, entitlements and SKUs.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base
local Collection = require("discord.collection").Collection

local M = {}

-- Teams ------------------------------------------------------------------------------------------------------

--- A team that owns an application.
---@class discord.Team: discord.Base
---@field id discord.Snowflake The team's ID.
---@field name string The team's name.
---@field icon string? Hash of the team icon.
---@field ownerId discord.Snowflake The ID of the team's owner.
---@field members discord.Collection By user ID: {user=, id=, role=, membershipState=, teamId=}.
---@field owner table? The owner's member entry (read-only).
---@field createdTimestamp discord.Milliseconds (read-only).
local Team = util.class("Team", Base)
M.Team = Team

--- `Team(client, data)`.
---@private
---@param client discord.Client
---@param data table
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

--- The team icon's address, nil when it has none.
---@param opts? {size?: integer, extension?: string}
---@return string? url
function Team:iconURL(opts)
  return self.icon and require("discord.cdn").teamIcon(self.id, self.icon, opts) or nil
end

--- Plain table of the team's fields; members as IDs.
---@return table json
function Team:toJSON()
  local out = Base.toJSON(self)
  out.members = json.array(self.members:keys())
  return out
end

-- Application ------------------------------------------------------------------------------------------------

--- The bot's application (`client.application`): settings, owner, and its commands, emojis, SKUs and more.
---@class discord.ClientApplication: discord.Base
---@field id discord.Snowflake? Known after READY.
---@field name string? The application's name.
---@field description string? The application's description.
---@field icon string? Hash of the application icon.
---@field cover string? The cover image hash.
---@field flags discord.BitField? ApplicationFlagsBitField.
---@field botPublic boolean? Whether others than the owner can add the bot.
---@field botRequireCodeGrant boolean? Whether adding the bot needs the full OAuth2 code grant.
---@field approximateGuildCount integer? About how many guilds the application is in.
---@field approximateUserInstallCount integer? About how many users installed the application.
---@field approximateUserAuthorizationCount integer? About how many users authorized the application.
---@field interactionsEndpointURL string? Where Discord sends interactions by HTTP instead of the gateway.
---@field roleConnectionsVerificationURL string? The role connection verification page.
---@field customInstallURL string? The default install link, when set.
---@field tags string[]? Up to 5 tags describing the application.
---@field termsOfServiceURL string? The application's terms of service.
---@field privacyPolicyURL string? The application's privacy policy.
---@field verifyKey string? The key that checks interaction signatures.
---@field guildId discord.Snowflake? The guild of a game's store page.
---@field primarySkuId discord.Snowflake? The game's main SKU, when sold on Discord.
---@field slug string? The URL slug of the game's store page.
---@field redirectURIs string[]? The OAuth2 redirect URIs.
---@field eventWebhooksURL string? Where Discord sends webhook events.
---@field eventWebhooksStatus integer? 1 disabled, 2 enabled, 3 disabled by Discord.
---@field eventWebhooksTypes string[]? The webhook event types subscribed to.
---@field rpcOrigins string[]? The RPC origin URLs.
---@field installParams {scopes: string[], permissions: discord.PermissionsBitField}? The in-app install link.
---@field integrationTypesConfig table? As Discord sends it.
---@field owner discord.User|discord.Team|nil The owning user or team.
---@field bot discord.User? The bot user.
---@field commands discord.ApplicationCommandManager The global commands.
---@field partial boolean Whether only the ID and flags are known (before `fetch`) (read-only).
---@field createdTimestamp discord.Milliseconds? (read-only).
---@field guild discord.Guild? The guild of `guildId`, when cached (read-only).
---@field emojis discord.ApplicationEmojiManager The application's emojis (read-only).
---@field entitlements discord.EntitlementManager (read-only).
---@field skus discord.SKUManager (read-only).
---@field lobbies discord.LobbyManager Social SDK lobbies (read-only).
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
---@private
---@param client discord.Client
---@param data? table
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

--- The application icon's address, nil when it has none.
---@param opts? {size?: integer, extension?: string}
---@return string? url
function ClientApplication:iconURL(opts)
  return self.icon and self.id and require("discord.cdn").appIcon(self.id, self.icon, opts) or nil
end

--- The cover image's address, nil when it has none.
---@param opts? {size?: integer, extension?: string}
---@return string? url
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

--- Fetches every field of the application; `{byId = true}` asks for it by its ID.
--- Raises `discord.LibraryError` ClientNotReady (byId before READY); `discord.DiscordAPIError` when refused.
---@async
---@param opts? {byId?: boolean}
---@return discord.ClientApplication application
function ClientApplication:fetch(opts)
  return self:_patch(self.client.rest:get(appPath(self, opts and opts.byId)))
end

local EDIT = {
  description = "description", interactionsEndpointURL = "interactions_endpoint_url",
  roleConnectionsVerificationURL = "role_connections_verification_url", customInstallURL = "custom_install_url",
  tags = { "tags", json.array }, eventWebhooksURL = "event_webhooks_url",
  integrationTypesConfig = "integration_types_config",
}

--- Edits the application's settings; false for `icon` or `coverImage` removes it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.ApplicationEditOptions
---@return discord.ClientApplication application
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

--- Options of `ClientApplication:edit`.
---@class discord.ApplicationEditOptions
---@field description? string The new description.
---@field icon? discord.ImageSource|false The new icon; false removes it.
---@field coverImage? discord.ImageSource|false The new cover image; false removes it.
---@field flags? any ApplicationFlagsBitField flags (only the editable ones).
---@field tags? string[] Up to 5 tags.
---@field installParams? {scopes?: string[], permissions?: discord.PermissionResolvable} The in-app install link.
---@field interactionsEndpointURL? string Where Discord sends interactions by HTTP.
---@field roleConnectionsVerificationURL? string The role connection verification page.
---@field customInstallURL? string The default install link.
---@field eventWebhooksURL? string Where Discord sends webhook events.
---@field integrationTypesConfig? table As Discord takes it.
---@field byId? boolean Edit through the application's ID instead of @me.
local function metadataPath(self)
  if not self.id then error(require("discord.errors").LibraryError("ClientNotReady", "use the application"), 3) end
  return "/applications/" .. self.id .. "/role-connections/metadata"
end

local function recordOf(r)
  return { type = r.type, key = r.key, name = r.name, nameLocalizations = util.nullable(r.name_localizations),
    description = r.description, descriptionLocalizations = util.nullable(r.description_localizations) }
end

--- The role connection metadata records, in the library's names.
--- Raises `discord.LibraryError` ClientNotReady before READY; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return table[] records {type=, key=, name=, description=, nameLocalizations=, descriptionLocalizations=}.
function ClientApplication:fetchRoleConnectionMetadataRecords()
  return util.map(self.client.rest:get(metadataPath(self)), recordOf)
end

--- Replaces the role connection metadata records (at most 5); returns them.
--- Raises an error for more than 5; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param records table[] {type=, key=, name=, description=, nameLocalizations=, descriptionLocalizations=}.
---@return table[] records
function ClientApplication:editRoleConnectionMetadataRecords(records)
  if #records > 5 then error("ClientApplication: at most 5 role connection metadata records", 2) end
  local body = json.array(util.map(records, function(r)
    return { type = r.type, key = r.key, name = r.name, description = r.description,
      name_localizations = r.nameLocalizations, description_localizations = r.descriptionLocalizations }
  end))
  return util.map(self.client.rest:put(metadataPath(self), { body = body }), recordOf)
end

--- An activity instance of an embedded activity launch, as Discord sends it.
--- Raises `discord.LibraryError` ClientNotReady before READY; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param instanceId string
---@return table instance
function ClientApplication:fetchActivityInstance(instanceId)
  if not self.id then error(require("discord.errors").LibraryError("ClientNotReady", "use the application"), 2) end
  return self.client.rest:get("/applications/" .. self.id .. "/activity-instances/" .. instanceId)
end

--- Uploads a file for an activity to show; returns the attachment's data ({id=, filename=, url=, ...}).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param file discord.AttachmentBuilder|string|table An AttachmentBuilder, a path or {name=, data=}.
---@return table attachment
function ClientApplication:uploadAttachment(file)
  local f = util.provided("attachments").resolveFile(file, 1)
  f.field = "file"
  return self.client.rest:post(appPath(self, true) .. "/attachment", { files = { f } }).attachment
end

--- The bot's OAuth2 authorisation: {application=, scopes=, expires=, user=}, as Discord sends it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return table authorization
function ClientApplication:fetchAuthorization() return self.client.rest:get("/oauth2/@me") end

--- The application as OAuth2 describes it, as Discord sends it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return table application
function ClientApplication:fetchOAuth2Application() return self.client.rest:get("/oauth2/applications/@me") end

--- Discord's OpenID Connect signing keys: {keys = {...}}.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return table keys
function ClientApplication:fetchPublicKeys() return self.client.rest:get("/oauth2/keys") end

--- The OpenID Connect user info of the authorisation, as Discord sends it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return table info
function ClientApplication:fetchUserInfo() return self.client.rest:get("/oauth2/userinfo") end

--- A Social SDK provisional account: a bot names it by `externalUserId`, a game client by its auth token.
---@class discord.ProvisionalAccountOptions
---@field externalUserId? string The game's ID of the user (bot form).
---@field provisionalUserId? discord.Snowflake The provisional account's user ID.
---@field preferredGlobalName? string The display name to give a new account.
---@field clientSecret? string The application's secret (game client form).
---@field externalAuthToken? string The game client's token from its identity provider.
---@field externalAuthType? string The kind of that token, e.g. "OIDC".

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

--- A Social SDK provisional account's token; returns Discord's answer ({access_token=, ...}).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.ProvisionalAccountOptions
---@return table token
function ClientApplication:createProvisionalToken(opts)
  return provisional(self, "/partner-sdk/token", opts or {})
end

--- Unmerges a provisional account from the Discord account it was merged into.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.ProvisionalAccountOptions
function ClientApplication:unmergeProvisionalAccount(opts)
  provisional(self, "/partner-sdk/provisional-accounts/unmerge", opts or {})
end

--- Attaches the game's moderation metadata (string values) to a direct message between two users.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param user1 discord.UserResolvable
---@param user2 discord.UserResolvable
---@param message any The message or its ID.
---@param metadata? table<string, string>
function ClientApplication:setDMModerationMetadata(user1, user2, message, metadata)
  local users = self.client.users
  self.client.rest:put("/partner-sdk/dms/" .. users:resolveId(user1) .. "/" .. users:resolveId(user2)
    .. "/messages/" .. (type(message) == "table" and message.id or tostring(message)) .. "/moderation-metadata",
    { body = json.object(metadata or {}) })
end

--- Plain table of the application's fields, without its managers.
---@return table json
function ClientApplication:toJSON()
  local out = Base.toJSON(self)
  out.commands = nil
  return out
end

-- Social SDK lobbies ----------------------------------------------------------------------------------------
-- Lobbies are kept as Discord sends them (snake_case tables); the library has no cache of them.

--- Social SDK lobbies of the application (`client.application.lobbies`); lobbies are Discord's tables.
---@class discord.LobbyManager
---@field application discord.ClientApplication The application the lobbies belong to.
---@field client discord.Client The client that owns it.
local LobbyManager = util.class("LobbyManager")
M.LobbyManager = LobbyManager

--- Made by the application.
---@private
---@param application discord.ClientApplication
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

--- Options of the lobby methods of `LobbyManager`.
---@class discord.LobbyOptions
---@field secret? string Joins the lobby of this secret (createOrJoin).
---@field members? (discord.UserResolvable|{id: any, metadata?: table, flags?: integer})[] The members to add.
---@field metadata? table<string, string> Metadata of the lobby (createOrJoin).
---@field lobbyMetadata? table<string, string> Metadata of the lobby.
---@field memberMetadata? table<string, string> Metadata of the bot as a member of the lobby (createOrJoin).
---@field idleTimeoutSeconds? integer Seconds an idle lobby waits before it shuts down (5-604800).
---@field flags? integer Member flags (1: may link the lobby to a channel).
---@field overrideEventWebhooksURL? string Where this lobby's webhook events go instead of the application's.
local function lobbyPath(lobby, rest)
  return "/lobbies/" .. (type(lobby) == "table" and lobby.id or tostring(lobby)) .. (rest or "")
end

--- Joins the lobby of `opts.secret`, creating it when there is none; returns it as Discord sends it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.LobbyOptions
---@return table lobby
function LobbyManager:createOrJoin(opts)
  return self.client.rest:put("/lobbies", { body = lobbyBody(self, opts) })
end

--- Creates a lobby; returns it as Discord sends it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? discord.LobbyOptions
---@return table lobby
function LobbyManager:create(opts)
  return self.client.rest:post("/lobbies", { body = lobbyBody(self, opts) })
end

--- A lobby, as Discord sends it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param lobby any The lobby table or its ID.
---@return table lobby
function LobbyManager:fetch(lobby) return self.client.rest:get(lobbyPath(lobby)) end
--- Edits a lobby; returns it as Discord sends it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param lobby any The lobby table or its ID.
---@param opts discord.LobbyOptions
---@return table lobby
function LobbyManager:edit(lobby, opts)
  return self.client.rest:patch(lobbyPath(lobby), { body = lobbyBody(self, opts) })
end
--- Deletes a lobby.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param lobby any The lobby table or its ID.
function LobbyManager:delete(lobby) self.client.rest:delete(lobbyPath(lobby)) end
--- Takes the bot out of a lobby.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param lobby any The lobby table or its ID.
function LobbyManager:leave(lobby) self.client.rest:delete(lobbyPath(lobby, "/members/@me")) end

--- Links the lobby to a channel, or unlinks it (`channel` nil); returns the lobby.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param lobby any The lobby table or its ID.
---@param channel? discord.ChannelResolvable
---@return table lobby
function LobbyManager:linkChannel(lobby, channel)
  return self.client.rest:patch(lobbyPath(lobby, "/channel-linking"), { body = {
    channel_id = channel and self.client.channels:resolveId(channel) or json.null } })
end

--- Adds or updates a member of a lobby; returns the member as Discord sends it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param lobby any The lobby table or its ID.
---@param user discord.UserResolvable
---@param opts? {metadata?: table<string, string>, flags?: integer}
---@return table member
function LobbyManager:addMember(lobby, user, opts)
  opts = opts or {}
  return self.client.rest:put(lobbyPath(lobby, "/members/" .. self.client.users:resolveId(user)),
    { body = { metadata = opts.metadata, flags = opts.flags } })
end

--- Takes a member out of a lobby.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param lobby any The lobby table or its ID.
---@param user discord.UserResolvable
function LobbyManager:removeMember(lobby, user)
  self.client.rest:delete(lobbyPath(lobby, "/members/" .. self.client.users:resolveId(user)))
end

--- Adds, updates or removes (`remove = true`) up to 25 members at once.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param lobby any The lobby table or its ID.
---@param members {id: any, metadata?: table, flags?: integer, remove?: boolean}[]
---@return table[] members
function LobbyManager:bulkUpdateMembers(lobby, members)
  return self.client.rest:post(lobbyPath(lobby, "/members/bulk"), { body = json.array(util.map(members, function(m)
    return { id = self.client.users:resolveId(m.id), metadata = m.metadata, flags = m.flags,
      remove_member = m.remove }
  end)) })
end

--- An invite to the guild of the lobby's linked channel, for the bot or for `user`.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param lobby any The lobby table or its ID.
---@param user? discord.UserResolvable
---@return table invite
function LobbyManager:createGuildInvite(lobby, user)
  local who = user and self.client.users:resolveId(user) or "@me"
  return self.client.rest:post(lobbyPath(lobby, "/members/" .. who .. "/invites"))
end

--- The lobby's latest messages, as Discord sends them.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param lobby any The lobby table or its ID.
---@param opts? {limit?: integer}
---@return table[] messages
function LobbyManager:fetchMessages(lobby, opts)
  return self.client.rest:get(lobbyPath(lobby, "/messages"), { query = { limit = opts and opts.limit } })
end

--- Sends a message to the lobby; returns it as Discord sends it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param lobby any The lobby table or its ID.
---@param message string|{content: string, flags?: integer}
---@return table message
function LobbyManager:send(lobby, message)
  if type(message) == "string" then message = { content = message } end
  return self.client.rest:post(lobbyPath(lobby, "/messages"), { body = { content = message.content,
    flags = message.flags } })
end

--- Attaches the game's moderation metadata (string values) to a lobby message.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param lobby any The lobby table or its ID.
---@param message any The message or its ID.
---@param metadata? table<string, string>
function LobbyManager:setModerationMetadata(lobby, message, metadata)
  local id = type(message) == "table" and message.id or tostring(message)
  self.client.rest:put(lobbyPath(lobby, "/messages/" .. id .. "/moderation-metadata"),
    { body = json.object(metadata or {}) })
end

return M
