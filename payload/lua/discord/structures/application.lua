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

--- (B) Fetches every field of the application.
function ClientApplication:fetch()
  return self:_patch(self.client.rest:get("/applications/@me"))
end

local EDIT = {
  description = "description", interactionsEndpointURL = "interactions_endpoint_url",
  roleConnectionsVerificationURL = "role_connections_verification_url", customInstallURL = "custom_install_url",
  tags = { "tags", json.array }, eventWebhooksURL = "event_webhooks_url",
  integrationTypesConfig = "integration_types_config",
}

--- (B) Edits the application: {description=, icon=, coverImage=, flags=, tags=, installParams={scopes=,
--- permissions=}, interactionsEndpointURL=, roleConnectionsVerificationURL=, customInstallURL=, ...}.
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
  return self:_patch(self.client.rest:patch("/applications/@me", { body = body }))
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

function ClientApplication:toJSON()
  local out = Base.toJSON(self)
  out.commands = nil
  return out
end

return M
