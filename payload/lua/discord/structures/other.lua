-- Smaller guild objects: templates, the public preview, the widget and its settings, integrations,
-- the welcome screen and onboarding.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base
local Collection = require("discord.collection").Collection

local M = {}

-- Templates -----------------------------------------------------------------------------------------------

--- A guild template: a snapshot of a guild's channels, roles and settings that others can copy.
---@class discord.GuildTemplate: discord.Base
---@field code string The template's code.
---@field id string The same as `code`.
---@field name string The template's name.
---@field description string? The template's description.
---@field usageCount integer How many times it was used.
---@field creatorId discord.Snowflake The ID of who made it.
---@field creator discord.User? Who made it.
---@field guildId discord.Snowflake The source guild.
---@field serializedGuild table The snapshot, as Discord sends it.
---@field unSynced boolean? Whether the guild changed since the last sync.
---@field createdTimestamp discord.Milliseconds? When it was made.
---@field updatedTimestamp discord.Milliseconds? When it was last synced with its guild.
---@field url string The template's link (read-only).
---@field guild discord.Guild? The source guild, when cached (read-only).
local GuildTemplate = util.class("GuildTemplate", Base)
M.GuildTemplate = GuildTemplate

--- `GuildTemplate(client, data)`.
---@private
---@param client discord.Client
---@param data table
function GuildTemplate:init(client, data)
  Base.init(self, client)
  self:_patch(data)
end

function GuildTemplate:_patch(data)
  self:_copy(data, { code = "code", name = "name", description = "description", usage_count = "usageCount",
    creator_id = "creatorId", source_guild_id = "guildId", serialized_source_guild = "serializedGuild",
    is_dirty = "unSynced" })
  self.id = self.code
  if type(data.creator) == "table" then self.creator = self.client.users:_add(data.creator) end
  if data.created_at ~= nil then self.createdTimestamp = util.parseTimestamp(data.created_at) end
  if data.updated_at ~= nil then self.updatedTimestamp = util.parseTimestamp(data.updated_at) end
  return self
end

GuildTemplate.getters.url = function(self) return require("discord.constants").TemplateURL .. "/" .. self.code end
GuildTemplate.getters.guild = function(self) return self.client.guilds.cache:get(self.guildId) end

local function templatePath(self) return "/guilds/" .. self.guildId .. "/templates/" .. self.code end

--- Always raises: applications can no longer create guilds, from a template or otherwise.
--- Raises `discord.LibraryError` RouteGone.
---@deprecated Discord removed the route; there is no replacement.
function GuildTemplate:createGuild()
  local gone = require("discord.errors").LibraryError
  error(gone("RouteGone", "GuildTemplate:createGuild", "POST /guilds/templates/{code}"), 2)
end

--- Changes the template's name or description.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? {name?: string, description?: string}
---@return discord.GuildTemplate template
function GuildTemplate:edit(opts)
  opts = opts or {}
  return self:_patch(self.client.rest:patch(templatePath(self), { body = { name = opts.name,
    description = opts.description } }))
end

--- Brings the template up to date with its guild.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.GuildTemplate template
function GuildTemplate:sync() return self:_patch(self.client.rest:put(templatePath(self))) end

--- Deletes the template; returns it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.GuildTemplate template
function GuildTemplate:delete()
  self.client.rest:delete(templatePath(self))
  return self
end

--- A template by code or discord.new URL.
--- Raises `discord.DiscordAPIError` when Discord refuses it (UnknownGuildTemplate).
---@async
---@param client discord.Client
---@param code string
---@return discord.GuildTemplate template
function M.fetchTemplate(client, code)
  code = tostring(code):match("discord%.new/([%w]+)") or code
  return GuildTemplate(client, client.rest:get("/guilds/templates/" .. code))
end

-- Preview ------------------------------------------------------------------------------------------------------

--- The public preview of a discoverable guild (or one the bot is in).
---@class discord.GuildPreview: discord.Base
---@field id discord.Snowflake The guild's ID.
---@field name string The guild's name.
---@field icon string? Hash of the guild icon.
---@field splash string? Hash of the invite splash image.
---@field discoverySplash string? Hash of the discovery splash image.
---@field features string[] The guild's features.
---@field approximateMemberCount integer About how many members it has.
---@field approximatePresenceCount integer About how many members are online.
---@field description string? The guild's description.
---@field emojis discord.Collection Emojis by ID.
---@field stickers discord.Collection Stickers by ID.
local GuildPreview = util.class("GuildPreview", Base)
M.GuildPreview = GuildPreview

--- `GuildPreview(client, data)`.
---@private
---@param client discord.Client
---@param data table
function GuildPreview:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self:_copy(data, { name = "name", icon = "icon", splash = "splash", discovery_splash = "discoverySplash",
    features = "features", approximate_member_count = "approximateMemberCount",
    approximate_presence_count = "approximatePresenceCount", description = "description" })
  local Emoji = require("discord.structures.emoji").Emoji
  local Sticker = require("discord.structures.sticker").Sticker
  self.emojis, self.stickers = Collection(), Collection()
  for _, e in ipairs(data.emojis or {}) do self.emojis:set(e.id, Emoji(client, e)) end
  for _, s in ipairs(data.stickers or {}) do self.stickers:set(s.id, Sticker(client, s)) end
end

--- The guild icon's address, nil when it has none.
---@param opts? {size?: integer, extension?: string}
---@return string? url
function GuildPreview:iconURL(opts)
  return self.icon and require("discord.cdn").icon(self.id, self.icon, opts) or nil
end

--- Plain table of the preview's fields; emojis and stickers as IDs.
---@return table json
function GuildPreview:toJSON()
  local out = Base.toJSON(self)
  out.emojis, out.stickers = json.array(self.emojis:keys()), json.array(self.stickers:keys())
  return out
end

-- Widget -------------------------------------------------------------------------------------------------------

--- A guild's public widget: its name, invite, voice channels and online members.
---@class discord.Widget: discord.Base
---@field id discord.Snowflake The guild's ID.
---@field name string The guild's name.
---@field instantInvite string? The widget's invite link.
---@field presenceCount integer Online members.
---@field channels discord.Collection {id=, name=, position=} by ID.
---@field members discord.Collection {id=, username=, status=, avatarURL=, channelId=, ...} by ID (anonymised).
local Widget = util.class("Widget", Base)
M.Widget = Widget

--- `Widget(client, data)`.
---@private
---@param client discord.Client
---@param data table
function Widget:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self:_copy(data, { name = "name", instant_invite = "instantInvite", presence_count = "presenceCount" })
  self.channels, self.members = Collection(), Collection()
  for _, c in ipairs(data.channels or {}) do
    self.channels:set(c.id, { id = c.id, name = c.name, position = c.position })
  end
  for _, m in ipairs(data.members or {}) do
    self.members:set(m.id, { id = m.id, username = m.username, status = m.status, avatarURL = m.avatar_url,
      activity = m.activity, channelId = m.channel_id, deaf = m.deaf, mute = m.mute, selfDeaf = m.self_deaf,
      selfMute = m.self_mute, suppress = m.suppress })
  end
end

--- The widget of a guild with the widget enabled (no authorization needed).
--- Raises `discord.DiscordAPIError` when Discord refuses it (GuildWidgetDisabled).
---@async
---@param client discord.Client
---@param guildId discord.Snowflake
---@return discord.Widget widget
function M.fetchWidget(client, guildId)
  return Widget(client, client.rest:get("/guilds/" .. guildId .. "/widget.json", { auth = false }))
end

--- The URL of the widget image; `style` is shield, banner1 ... banner4.
---@param guildId discord.Snowflake
---@param style? string
---@return string url
function M.widgetImageURL(guildId, style)
  return require("discord.constants").API.url .. "/guilds/" .. guildId .. "/widget.png"
    .. util.queryString({ style = style })
end

--- {enabled=, channelId=} from a widget settings reply.
---@private
---@param d table
---@return {enabled: boolean, channelId: discord.Snowflake?} settings
function M.widgetSettingsOf(d)
  return { enabled = d.enabled == true, channelId = util.nullable(d.channel_id) }
end

-- Integrations --------------------------------------------------------------------------------------------------

--- The application of a bot's integration.
---@class discord.IntegrationApplication
---@field id discord.Snowflake The application's ID.
---@field name string The application's name.
---@field icon string? Hash of its icon.
---@field description string Its description.
---@field bot discord.User? Its bot user.

--- An integration of a guild: a bot, or a Twitch, YouTube or other connection.
---@class discord.Integration: discord.Base
---@field id discord.Snowflake The integration's ID.
---@field guild discord.Guild The guild it belongs to.
---@field name string The integration's name.
---@field type string "twitch", "youtube", "discord" or "guild_subscription".
---@field enabled boolean? Whether it is on.
---@field syncing boolean? Whether it is syncing.
---@field roleId discord.Snowflake? The role it gives subscribers.
---@field enableEmoticons boolean? Whether Twitch emoticons are synced.
---@field expireBehavior integer? What happens when a subscription lapses: 0 remove role, 1 kick.
---@field expireGracePeriod integer? Days of grace before that happens.
---@field subscriberCount integer? How many subscribers it has.
---@field revoked boolean? Whether it was revoked.
---@field scopes string[]? The OAuth2 scopes a bot was added with.
---@field user discord.User? Who added it.
---@field account {id: string, name: string}? The connected account.
---@field syncedTimestamp discord.Milliseconds? When it last synced.
---@field application discord.IntegrationApplication? The bot's application.
---@field applicationId discord.Snowflake? The bot's application, on a deletion event.
---@field role discord.Role? The subscriber role, when cached (read-only).
local Integration = util.class("Integration", Base)
M.Integration = Integration

--- `Integration(client, data, guild)`.
---@private
---@param client discord.Client
---@param data table
---@param guild discord.Guild
function Integration:init(client, data, guild)
  Base.init(self, client)
  self.guild = guild
  self.id = data.id
  self:_copy(data, { name = "name", type = "type", enabled = "enabled", syncing = "syncing", role_id = "roleId",
    enable_emoticons = "enableEmoticons", expire_behavior = "expireBehavior",
    expire_grace_period = "expireGracePeriod", subscriber_count = "subscriberCount", revoked = "revoked",
    scopes = "scopes" })
  if type(data.user) == "table" then self.user = client.users:_add(data.user) end
  if type(data.account) == "table" then self.account = { id = data.account.id, name = data.account.name } end
  if data.synced_at ~= nil then self.syncedTimestamp = util.parseTimestamp(util.nullable(data.synced_at)) end
  if type(data.application) == "table" then
    local a = data.application
    self.application = { id = a.id, name = a.name, icon = util.nullable(a.icon), description = a.description,
      bot = type(a.bot) == "table" and client.users:_add(a.bot) or nil }
  end
end

Integration.getters.role = function(self) return self.roleId and self.guild.roles.cache:get(self.roleId) or nil end

--- Removes the integration (and its bot) from the guild; returns it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.Integration integration
function Integration:delete(reason)
  self.client.rest:delete("/guilds/" .. self.guild.id .. "/integrations/" .. self.id, { reason = reason })
  return self
end

--- Plain table of the integration's fields, without the guild.
---@return table json
function Integration:toJSON()
  local out = Base.toJSON(self)
  out.guild = nil
  return out
end

-- Welcome screen and onboarding ------------------------------------------------------------------------------------

--- {description=, welcomeChannels={{channelId=, description=, emojiId=, emojiName=}}, enabled=}.
---@private
---@param d table
---@return table screen
function M.welcomeScreenOf(d)
  return { description = util.nullable(d.description), welcomeChannels = util.map(d.welcome_channels or {},
    function(c)
      return { channelId = c.channel_id, description = c.description, emojiId = util.nullable(c.emoji_id),
        emojiName = util.nullable(c.emoji_name) }
    end), enabled = d.enabled }
end

--- The body of a welcome screen edit.
---@private
---@param opts table
---@return table body
function M.welcomeScreenBody(opts)
  local body = {}
  if opts.enabled ~= nil then body.enabled = opts.enabled == true end
  if opts.description ~= nil then body.description = opts.description end
  if opts.welcomeChannels ~= nil then
    body.welcome_channels = json.array(util.map(opts.welcomeChannels, function(c)
      local ch = c.channel or c.channelId
      return { channel_id = type(ch) == "table" and ch.id or ch, description = c.description,
        emoji_id = c.emojiId or json.null, emoji_name = c.emojiName or json.null }
    end))
  end
  return body
end

--- The onboarding settings in the library's names.
---@private
---@param d table
---@return table onboarding
function M.onboardingOf(d)
  return {
    guildId = d.guild_id, enabled = d.enabled, mode = d.mode,
    defaultChannelIds = d.default_channel_ids or {},
    prompts = util.map(d.prompts or {}, function(p)
      return { id = p.id, type = p.type, title = p.title, singleSelect = p.single_select, required = p.required,
        inOnboarding = p.in_onboarding, options = util.map(p.options or {}, function(o)
          return { id = o.id, title = o.title, description = util.nullable(o.description),
            channelIds = o.channel_ids or {}, roleIds = o.role_ids or {}, emoji = util.nullable(o.emoji) }
        end) }
    end),
  }
end

-- Gateway events -----------------------------------------------------------------------------------------

local events = require("discord.managers.base")

events.handlers.GUILD_INTEGRATIONS_UPDATE = function(client, packet)
  local guild = events.guildOf(client, packet.d)
  if guild then client:emit("guildIntegrationsUpdate", guild) end
end

-- Integrations are not cached: create and update carry the whole object (without its user).
events.handlers.INTEGRATION_CREATE = function(client, packet)
  local guild = events.guildOf(client, packet.d)
  if guild then client:emit("integrationCreate", Integration(client, packet.d, guild)) end
end

events.handlers.INTEGRATION_UPDATE = function(client, packet)
  local guild = events.guildOf(client, packet.d)
  if guild then client:emit("integrationUpdate", nil, Integration(client, packet.d, guild)) end
end

-- A deletion names the integration and, for a bot's, its application.
events.handlers.INTEGRATION_DELETE = function(client, packet)
  local d = packet.d
  local guild = events.guildOf(client, d)
  if not guild then return end
  local integration = Integration(client, { id = d.id }, guild)
  integration.applicationId = d.application_id
  client:emit("integrationDelete", integration)
end

-- Client methods ----------------------------------------------------------------------------------------

local Client = require("discord.client").Client

--- A guild template by code or discord.new URL.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param code string
---@return discord.GuildTemplate template
function Client:fetchGuildTemplate(code) return M.fetchTemplate(self, code) end
--- The public widget of a guild with the widget enabled.
--- Raises `discord.DiscordAPIError` when Discord refuses it (GuildWidgetDisabled).
---@async
---@param guild any A guild or its ID.
---@return discord.Widget widget
function Client:fetchGuildWidget(guild)
  return M.fetchWidget(self, self.guilds:resolveId(guild))
end
--- The public preview of a guild (discoverable, or one the bot is in).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param guild any A guild or its ID.
---@return discord.GuildPreview preview
function Client:fetchGuildPreview(guild)
  local data = self.rest:get("/guilds/" .. self.guilds:resolveId(guild) .. "/preview")
  return M.GuildPreview(self, data)
end

return M
