-- Guilds: patching from the gateway, their member, role and channel managers, edits and images.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

---@type discord.Guild
local Guild = util.class("Guild", Base)
Guild.__fields = 28
M.Guild = Guild

local FIELDS = {
  name = "name",
  icon = "icon",
  splash = "splash",
  discovery_splash = "discoverySplash",
  banner = "banner",
  description = "description",
  owner_id = "ownerId",
  afk_channel_id = "afkChannelId",
  afk_timeout = "afkTimeout",
  system_channel_id = "systemChannelId",
  system_channel_flags = "systemChannelFlags",
  rules_channel_id = "rulesChannelId",
  public_updates_channel_id = "publicUpdatesChannelId",
  safety_alerts_channel_id = "safetyAlertsChannelId",
  widget_enabled = "widgetEnabled",
  widget_channel_id = "widgetChannelId",
  verification_level = "verificationLevel",
  explicit_content_filter = "explicitContentFilter",
  default_message_notifications = "defaultMessageNotifications",
  mfa_level = "mfaLevel",
  nsfw_level = "nsfwLevel",
  premium_tier = "premiumTier",
  premium_subscription_count = "premiumSubscriptionCount",
  premium_progress_bar_enabled = "premiumProgressBarEnabled",
  preferred_locale = "preferredLocale",
  vanity_url_code = "vanityURLCode",
  max_members = "maximumMembers",
  max_presences = "maximumPresences",
  max_video_channel_users = "maxVideoChannelUsers",
  max_stage_video_channel_users = "maxStageVideoChannelUsers",
  approximate_member_count = "approximateMemberCount",
  approximate_presence_count = "approximatePresenceCount",
  application_id = "applicationId",
  large = "large",
  features = "features",
  icon_hash = "iconHash",
  region = "region",
}

-- Lists in guild payloads and the manager each fills.
local LISTS = { emojis = "emojis", stickers = "stickers", stage_instances = "stageInstances",
  guild_scheduled_events = "scheduledEvents", soundboard_sounds = "soundboardSounds" }

--- Builds a guild from API data (GUILD_CREATE or a fetch); the guild manager makes them.
---@param client discord.Client
---@param data table Raw guild object.
function Guild:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self.available = true
  self.features = {}
  self.members = require("discord.managers.member").GuildMemberManager(self)
  self.roles = require("discord.managers.role").RoleManager(self)
  self.channels = require("discord.managers.channel").GuildChannelManager(self)
  self:_patch(data)
end

local copyFields = Base._copier(FIELDS)

function Guild:_patch(data)
  -- An unavailable guild sends only its ID; keep what is known. Full data means it is back.
  if data.unavailable == true then
    self.available = false
    return self
  end
  if data.unavailable == false or data.name ~= nil then self.available = true end
  copyFields(self, data)
  self:_copyNested(data, { incidents_data = "incidentsData" })
  if data.welcome_screen ~= nil then
    local screen = util.nullable(data.welcome_screen)
    self.welcomeScreen = screen and require("discord.structures.other").welcomeScreenOf(screen) or nil
  end
  -- The bot's permissions, in the guild list of the current user.
  self:_flags(data, "permissions", "PermissionsBitField", "permissions")
  if data.member_count ~= nil then self.memberCount = data.member_count end
  if self.memberCount == nil and data.approximate_member_count ~= nil then
    self.memberCount = data.approximate_member_count
  end
  if data.joined_at ~= nil then self.joinedTimestamp = util.parseTimestamp(util.nullable(data.joined_at)) end

  if data.roles ~= nil then
    -- The role list is complete: roles missing from it were deleted.
    local seen = {}
    for _, r in ipairs(data.roles) do
      self.roles:_add(r)
      seen[r.id] = true
    end
    for _, id in ipairs(self.roles.cache:keys()) do
      if not seen[id] then self.roles:_remove(id) end
    end
  end
  if data.channels ~= nil then
    for _, c in ipairs(data.channels) do
      if c.guild_id == nil then
        local copy = {}
        for k, v in pairs(c) do copy[k] = v end
        copy.guild_id = self.id
        c = copy
      end
      self.client.channels:_add(c, self)
    end
  end
  if data.threads ~= nil then
    for _, t in ipairs(data.threads) do self.client.channels:_add(t, self) end
  end
  if data.members ~= nil then
    for _, m in ipairs(data.members) do self.members:_add(m) end
  end
  if data.presences ~= nil then
    for _, p in ipairs(data.presences) do self.presences:_add(p) end
  end
  if data.voice_states ~= nil then
    for _, v in ipairs(data.voice_states) do self.voiceStates:_add(v) end
  end
  -- Full lists: what is missing from them is gone.
  for key, field in pairs(LISTS) do
    -- An empty list changes nothing in a manager not made yet, so it stays unmade.
    local list = data[key]
    if list ~= nil and (list[1] ~= nil or rawget(self, "_" .. field)) then self[field]:_addAll(list, true, true) end
  end
  return self
end

--- When the guild was created, from its ID.
---@return discord.Milliseconds
Guild.getters.createdTimestamp = function(self) return require("discord.snowflake").timestamp(self.id) end

--- Initials of the name: "Lua Bot Club" -> "LBC".
---@return string|nil
Guild.getters.nameAcronym = function(self)
  if self.name == nil then return nil end
  local out = self.name:gsub("'s ", " "):gsub("%w+", function(w) return w:sub(1, 1) end):gsub("%s", "")
  return out
end

--- The owner as a member, when cached.
---@return discord.GuildMember|nil
Guild.getters.owner = function(self) return self.ownerId and self.members.cache:get(self.ownerId) or nil end
--- The bot's own member in this guild, when cached.
---@return discord.GuildMember|nil
Guild.getters.me = function(self) return self.members.me end
--- Whether the guild is a Discord partner.
---@return boolean
Guild.getters.partnered = function(self) return util.contains(self.features, "PARTNERED") end
--- Whether the guild is verified.
---@return boolean
Guild.getters.verified = function(self) return util.contains(self.features, "VERIFIED") end

local function channelGetter(field)
  return function(self)
    local id = self[field]
    return id and self.client.channels.cache:get(id) or nil
  end
end

--- The channel where join and boost messages go, when cached.
---@return discord.TextChannel|nil
Guild.getters.systemChannel = channelGetter("systemChannelId")
--- The rules channel of a community guild, when cached.
---@return discord.TextChannel|nil
Guild.getters.rulesChannel = channelGetter("rulesChannelId")
--- The voice channel idle members are moved to, when cached.
---@return discord.VoiceChannel|nil
Guild.getters.afkChannel = channelGetter("afkChannelId")
--- The channel where Discord posts community updates, when cached.
---@return discord.TextChannel|nil
Guild.getters.publicUpdatesChannel = channelGetter("publicUpdatesChannelId")
--- The channel for safety alerts, when cached.
---@return discord.TextChannel|nil
Guild.getters.safetyAlertsChannel = channelGetter("safetyAlertsChannelId")
--- The channel the widget's invite leads to, when cached.
---@return discord.GuildChannel|nil
Guild.getters.widgetChannel = channelGetter("widgetChannelId")

--- The shard that receives this guild's events.
---@return discord.Shard|nil
Guild.getters.shard = function(self)
  local shards = self.client.ws and self.client.ws.shards
  if not shards or self.shardId == nil then return nil end
  return shards:get(self.shardId)
end

-- Managers made on first use, so that a guild costs little until a bot asks for them.
local MANAGERS = {
  bans = { "discord.managers.ban", "GuildBanManager" },
  emojis = { "discord.managers.emoji", "GuildEmojiManager" },
  stickers = { "discord.managers.sticker", "GuildStickerManager" },
  invites = { "discord.managers.invite", "GuildInviteManager" },
  presences = { "discord.managers.presence", "PresenceManager" },
  voiceStates = { "discord.managers.voice_state", "VoiceStateManager" },
  scheduledEvents = { "discord.managers.scheduled_event", "GuildScheduledEventManager" },
  stageInstances = { "discord.managers.stage_instance", "StageInstanceManager" },
  autoModerationRules = { "discord.managers.auto_moderation", "AutoModerationRuleManager" },
  soundboardSounds = { "discord.managers.soundboard", "GuildSoundboardSoundManager" },
  commands = { "discord.managers.application_command", "ApplicationCommandManager" },
}
for field, where in pairs(MANAGERS) do
  local key = "_" .. field
  Guild.getters[field] = function(self)
    local cached = rawget(self, key)
    if cached then return cached end
    local manager = require(where[1])[where[2]](self)
    rawset(self, key, manager)
    return manager
  end
end

local function image(kind)
  return function(self, opts)
    local hash = self[kind]
    if hash == nil then return nil end
    return require("discord.cdn")[kind](self.id, hash, opts)
  end
end

Guild.iconURL = image("icon")
Guild.bannerURL = image("banner")
Guild.splashURL = image("splash")
Guild.discoverySplashURL = image("discoverySplash")

local EDIT_FIELDS = {
  name = "name",
  verificationLevel = "verification_level",
  defaultMessageNotifications = "default_message_notifications",
  explicitContentFilter = "explicit_content_filter",
  afkTimeout = "afk_timeout",
  systemChannelFlags = "system_channel_flags",
  preferredLocale = "preferred_locale",
  description = "description",
  features = "features",
  premiumProgressBarEnabled = "premium_progress_bar_enabled",
}

local CHANNEL_FIELDS = {
  afkChannel = "afk_channel_id",
  systemChannel = "system_channel_id",
  rulesChannel = "rules_channel_id",
  publicUpdatesChannel = "public_updates_channel_id",
  safetyAlertsChannel = "safety_alerts_channel_id",
}

--- Edits the guild: name, images (bytes or data URI; false removes), channels, levels, owner.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.GuildEditOptions
---@param reason? string Audit log reason.
---@return discord.Guild
function Guild:edit(opts, reason)
  opts = opts or {}
  local body = {}
  for from, to in pairs(EDIT_FIELDS) do
    if opts[from] ~= nil then body[to] = opts[from] end
  end
  if body.features then body.features = json.array(body.features) end
  -- false or null clears a field; other values are converted for the API.
  local function setOrClear(to, v, convert)
    if v == false or v == json.null then
      body[to] = json.null
    elseif v ~= nil then
      body[to] = convert(v)
    end
  end
  for from, to in pairs(CHANNEL_FIELDS) do
    setOrClear(to, opts[from], function(v) return self.client.channels:resolveId(v) end)
  end
  for _, key in ipairs({ "icon", "banner", "splash", "discoverySplash" }) do
    setOrClear(util.snakeCase(key), opts[key], util.imageData)
  end
  if opts.owner ~= nil then body.owner_id = self.members:resolveId(opts.owner) end
  local data = self.client.rest:patch("/guilds/" .. self.id, { body = body, reason = reason or opts.reason })
  return self.client.guilds:_add(data)
end

--- Renames the guild.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param name string
---@param reason? string Audit log reason.
---@return discord.Guild
function Guild:setName(name, reason) return self:edit({ name = name }, reason) end
--- Sets the icon (image bytes or data URI); nil removes it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param icon string|nil
---@param reason? string Audit log reason.
---@return discord.Guild
function Guild:setIcon(icon, reason) return self:edit({ icon = icon or false }, reason) end
--- Sets the banner (image bytes or data URI); nil removes it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param banner string|nil
---@param reason? string Audit log reason.
---@return discord.Guild
function Guild:setBanner(banner, reason) return self:edit({ banner = banner or false }, reason) end
--- Sets the channel for join and boost messages; nil turns them off.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param c discord.ChannelResolvable|nil
---@param reason? string Audit log reason.
---@return discord.Guild
function Guild:setSystemChannel(c, reason) return self:edit({ systemChannel = c or false }, reason) end
--- Sets the rules channel of a community guild; nil clears it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param c discord.ChannelResolvable|nil
---@param reason? string Audit log reason.
---@return discord.Guild
function Guild:setRulesChannel(c, reason) return self:edit({ rulesChannel = c or false }, reason) end
--- Sets the voice channel idle members are moved to; nil clears it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param c discord.ChannelResolvable|nil
---@param reason? string Audit log reason.
---@return discord.Guild
function Guild:setAFKChannel(c, reason) return self:edit({ afkChannel = c or false }, reason) end
--- Sets after how many idle seconds members are moved: 60, 300, 900, 1800 or 3600.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param seconds integer
---@param reason? string Audit log reason.
---@return discord.Guild
function Guild:setAFKTimeout(seconds, reason) return self:edit({ afkTimeout = seconds }, reason) end
--- Sets what members must have before they can talk: 0 none to 4 verified phone.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param level integer discord.enums.GuildVerificationLevel value.
---@param reason? string Audit log reason.
---@return discord.Guild
function Guild:setVerificationLevel(level, reason) return self:edit({ verificationLevel = level }, reason) end

--- Fetches the guild again, with approximate member and presence counts.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Guild
function Guild:fetch()
  return self.client.guilds:fetch(self.id, { force = true })
end

--- The owner as a member.
--- Raises `discord.LibraryError` FetchOwnerId when the owner is unknown, or a REST error.
---@async
---@param opts? discord.FetchOptions
---@return discord.GuildMember
function Guild:fetchOwner(opts)
  if self.ownerId == nil then error(require("discord.errors").LibraryError("FetchOwnerId"), 2) end
  return self.members:fetch(self.ownerId, opts)
end

--- Makes the bot leave the guild; the owner cannot.
--- Raises `discord.LibraryError` GuildOwned when the bot owns it, `discord.DiscordAPIError` when refused.
---@async
---@return discord.Guild self
function Guild:leave()
  if self.client.user and self.ownerId == self.client.user.id then
    error(require("discord.errors").LibraryError("GuildOwned"), 2)
  end
  self.client.rest:delete("/users/@me/guilds/" .. self.id)
  return self
end

--- The audit log, newest first, filtered by action type, user and position.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? {type?: integer|string, user?: discord.UserResolvable, before?: any, after?: any, limit?: integer}
---@return discord.GuildAuditLogs
function Guild:fetchAuditLogs(opts)
  return require("discord.structures.audit_log").fetch(self, opts)
end

--- Every webhook of the guild, as a Collection by ID.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Collection
function Guild:fetchWebhooks()
  local Webhook = require("discord.structures.webhook").Webhook
  local out = require("discord.collection").Collection()
  for _, w in ipairs(self.client.rest:get("/guilds/" .. self.id .. "/webhooks")) do
    out:set(w.id, Webhook(self.client, w))
  end
  return out
end

--- The voice regions open to this guild, as a Collection by ID.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Collection
function Guild:fetchVoiceRegions()
  return require("discord.structures.voice_region").fetch(self.client, self)
end

--- The guild's integrations, as a Collection by ID.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Collection
function Guild:fetchIntegrations()
  local Integration = require("discord.structures.other").Integration
  local out = require("discord.collection").Collection()
  for _, i in ipairs(self.client.rest:get("/guilds/" .. self.id .. "/integrations")) do
    out:set(i.id, Integration(self.client, i, self))
  end
  return out
end

--- The guild's templates, as a Collection by code.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Collection
function Guild:fetchTemplates()
  local GuildTemplate = require("discord.structures.other").GuildTemplate
  local out = require("discord.collection").Collection()
  for _, t in ipairs(self.client.rest:get("/guilds/" .. self.id .. "/templates")) do
    out:set(t.code, GuildTemplate(self.client, t))
  end
  return out
end

--- Makes a template of the guild.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param name string
---@param description? string
---@return discord.GuildTemplate
function Guild:createTemplate(name, description)
  local data = self.client.rest:post("/guilds/" .. self.id .. "/templates",
    { body = { name = name, description = description } })
  return require("discord.structures.other").GuildTemplate(self.client, data)
end

--- The public preview of the guild.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.GuildPreview
function Guild:fetchPreview()
  return require("discord.structures.other").GuildPreview(self.client,
    self.client.rest:get("/guilds/" .. self.id .. "/preview"))
end

--- The widget, as everyone sees it (it must be enabled).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Widget
function Guild:fetchWidget()
  return require("discord.structures.other").fetchWidget(self.client, self.id)
end

--- Whether the widget is on and the channel its invite leads to.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return {enabled: boolean, channelId: discord.Snowflake|nil}
function Guild:fetchWidgetSettings()
  local other = require("discord.structures.other")
  return other.widgetSettingsOf(self.client.rest:get("/guilds/" .. self.id .. "/widget"))
end

--- Turns the widget on or off and sets its invite channel.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param settings {enabled?: boolean, channel?: discord.ChannelResolvable|false}
---@param reason? string Audit log reason.
---@return {enabled: boolean, channelId: discord.Snowflake|nil}
function Guild:setWidgetSettings(settings, reason)
  local body = { enabled = settings.enabled == true }
  if settings.channel ~= nil then
    body.channel_id = settings.channel and self.client.channels:resolveId(settings.channel) or json.null
  end
  local other = require("discord.structures.other")
  local d = self.client.rest:patch("/guilds/" .. self.id .. "/widget", { body = body, reason = reason })
  self.widgetEnabled, self.widgetChannelId = d.enabled, util.nullable(d.channel_id)
  return other.widgetSettingsOf(d)
end

--- The welcome screen of a community guild.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return table {enabled, description, welcomeChannels}.
function Guild:fetchWelcomeScreen()
  local other = require("discord.structures.other")
  return other.welcomeScreenOf(self.client.rest:get("/guilds/" .. self.id .. "/welcome-screen"))
end

--- Edits the welcome screen: enabled, description, welcomeChannels {channel, description, emojiId, emojiName}.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts table
---@param reason? string Audit log reason.
---@return table {enabled, description, welcomeChannels}.
function Guild:editWelcomeScreen(opts, reason)
  local other = require("discord.structures.other")
  local d = self.client.rest:patch("/guilds/" .. self.id .. "/welcome-screen",
    { body = other.welcomeScreenBody(opts or {}), reason = reason })
  return other.welcomeScreenOf(d)
end

--- The onboarding settings: prompts, default channels, enabled, mode.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return table
function Guild:fetchOnboarding()
  return require("discord.structures.other").onboardingOf(self.client.rest:get("/guilds/" .. self.id .. "/onboarding"))
end

--- Edits onboarding; prompts in the API's shape.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts {prompts?: table[], defaultChannels?: discord.ChannelResolvable[], enabled?: boolean, mode?: integer}
---@param reason? string Audit log reason.
---@return table
function Guild:editOnboarding(opts, reason)
  opts = opts or {}
  local body = { enabled = opts.enabled, mode = opts.mode, prompts = opts.prompts and json.array(opts.prompts) }
  if opts.defaultChannels then
    body.default_channel_ids = json.array(util.map(opts.defaultChannels,
      function(c) return self.client.channels:resolveId(c) end))
  end
  local d = self.client.rest:put("/guilds/" .. self.id .. "/onboarding", { body = body, reason = reason })
  return require("discord.structures.other").onboardingOf(d)
end

--- The vanity invite's code and uses (also stored on the guild).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return {code: string|nil, uses: integer}
function Guild:fetchVanityData()
  local d = self.client.rest:get("/guilds/" .. self.id .. "/vanity-url")
  self.vanityURLCode = util.nullable(d.code)
  self.vanityURLUses = d.uses
  return { code = self.vanityURLCode, uses = d.uses }
end

--- Always raises: Discord has withdrawn the route that changed a guild's two-factor requirement.
--- Raises `discord.LibraryError` RouteGone.
---@deprecated Discord no longer lets bots change it.
function Guild:setMFALevel()
  error(require("discord.errors").LibraryError("RouteGone", "Guild:setMFALevel", "POST /guilds/{id}/mfa"), 2)
end

--- Pauses invites and DMs until the given times (Unix ms; false lifts the pause).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts {invitesDisabledUntil?: discord.Milliseconds|false, dmsDisabledUntil?: discord.Milliseconds|false}
---@param reason? string Audit log reason.
---@return {invitesDisabledUntil: discord.Milliseconds|nil, dmsDisabledUntil: discord.Milliseconds|nil}
function Guild:setIncidentActions(opts, reason)
  local body = {}
  local fields = { invitesDisabledUntil = "invites_disabled_until", dmsDisabledUntil = "dms_disabled_until" }
  for key, field in pairs(fields) do
    local v = opts[key]
    if v == false then body[field] = json.null elseif v ~= nil then body[field] = util.isoTimestamp(v) end
  end
  local d = self.client.rest:put("/guilds/" .. self.id .. "/incident-actions", { body = body, reason = reason })
  return { invitesDisabledUntil = util.parseTimestamp(util.nullable(d.invites_disabled_until)),
    dmsDisabledUntil = util.parseTimestamp(util.nullable(d.dms_disabled_until)) }
end

local MESSAGE_SEARCH = { content = "content", authorId = "author_id", authorType = "author_type",
  mentions = "mentions", mentionsRoleId = "mentions_role_id", mentionEveryone = "mention_everyone",
  repliedToUserId = "replied_to_user_id", repliedToMessageId = "replied_to_message_id", channelId = "channel_id",
  minId = "min_id", maxId = "max_id", has = "has", pinned = "pinned", includeNsfw = "include_nsfw",
  linkHostname = "link_hostname", embedProvider = "embed_provider", embedType = "embed_type",
  attachmentExtension = "attachment_extension", attachmentFilename = "attachment_filename",
  sortBy = "sort_by", sortOrder = "sort_order", limit = "limit", offset = "offset", slop = "slop" }

--- Searches the guild's messages; {indexing = true} while Discord builds the guild's index.
--- Raises a string error for an unknown option, `discord.DiscordAPIError` when refused.
---@async
---@param opts? table content, authorId, channelId, mentions, has, pinned, minId, maxId, sortBy, limit (1-25), ...
---@return {messages: discord.Message[], total: integer}|{indexing: boolean}
function Guild:searchMessages(opts)
  local query = {}
  for k, v in pairs(opts or {}) do
    if not MESSAGE_SEARCH[k] then error("Guild:searchMessages: unknown option " .. tostring(k), 2) end
    query[MESSAGE_SEARCH[k]] = type(v) == "boolean" and tostring(v) or v
  end
  local res = self.client.rest:get("/guilds/" .. self.id .. "/messages/search", { query = query })
  if res == nil or res.messages == nil then return { indexing = true } end
  local out = {}
  for _, hit in ipairs(res.messages) do
    -- Each hit is a list whose first message is the match.
    local data = hit[1] or hit
    local channel = self.client.channels.cache:get(data.channel_id)
    out[#out + 1] = channel and channel.messages and channel.messages:_add(data, false)
      or require("discord.message").Message(self.client, data, channel)
  end
  return { messages = out, total = res.total_results }
end

--- The guild's new member welcome (its home settings), as Discord sends it; nil when it has none.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return table|nil
function Guild:fetchNewMemberWelcome()
  return self.client.rest:get("/guilds/" .. self.id .. "/new-member-welcome")
end

--- Requests to join the guild, as Discord sends them.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? {status?: string, limit?: integer, before?: discord.Snowflake, after?: discord.Snowflake}
---@return table
function Guild:fetchJoinRequests(opts)
  opts = opts or {}
  return self.client.rest:get("/guilds/" .. self.id .. "/requests", { query = { status = opts.status,
    limit = opts.limit, before = opts.before, after = opts.after } })
end

--- Approves ("APPROVED") or rejects ("REJECTED", with a reason) a join request.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param request table|discord.Snowflake The request or its ID.
---@param action "APPROVED"|"REJECTED"
---@param rejectionReason? string
---@return table
function Guild:reviewJoinRequest(request, action, rejectionReason)
  local id = type(request) == "table" and request.id or tostring(request)
  return self.client.rest:patch("/guilds/" .. self.id .. "/requests/" .. id, { body = { action = action,
    rejection_reason = rejectionReason } })
end

--- The widget image as PNG bytes: style "shield" (default), "banner1" to "banner4".
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param style? string
---@return string png
function Guild:fetchWidgetImage(style)
  return self.client.rest:get("/guilds/" .. self.id .. "/widget.png", { query = { style = style }, raw = true })
end

--- Whether `other` is this guild with the same name, icon, owner and member count.
---@param other? discord.Guild
---@return boolean
function Guild:equals(other)
  return other ~= nil and other.id == self.id and other.name == self.name and other.icon == self.icon
    and other.ownerId == self.ownerId and other.memberCount == self.memberCount
end

--- The guild's name, or its ID when unknown (also `tostring(guild)`).
---@return string
function Guild:toString()
  return self.name or self.id
end
Guild.__tostring = Guild.toString

--- The guild's fields as a plain table, members and roles as lists of IDs.
---@return table
function Guild:toJSON()
  local out = Base.toJSON(self)
  out.members = json.array(self.members.cache:keys())
  out.roles = json.array(self.roles.cache:keys())
  out.channels = json.array(self.channels.cache:keys())
  return out
end

return M
