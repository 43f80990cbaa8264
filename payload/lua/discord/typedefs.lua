-- Type annotations for editors with the Lua language server. Nothing here runs: the module only
-- carries the comments and returns an empty table.

---@alias discord.Snowflake string Decimal ID of anything on Discord.
---@alias discord.Milliseconds integer Unix time or a duration, in milliseconds.
---@alias discord.ColorResolvable integer|string|integer[] 0xRRGGBB, "#RRGGBB", a colour name or {r, g, b}.
---@alias discord.PermissionResolvable string|integer|string[]|discord.PermissionsBitField
---@alias discord.UserResolvable discord.User|discord.GuildMember|discord.Message|discord.Snowflake
---@alias discord.RoleResolvable discord.Role|discord.Snowflake|string Role, ID, "<@&id>" or "@everyone".
---@alias discord.ChannelResolvable discord.BaseChannel|discord.Snowflake

--- Size and format of a CDN image URL.
---@class discord.ImageURLOptions
---@field size? integer A power of two from 16 to 4096 (or an allowed in-between size).
---@field extension? "webp"|"png"|"jpg"|"jpeg"|"gif" Format (webp by default; gif for animated hashes).
---@field forceStatic? boolean A still image even for an animated hash.

-- Client --------------------------------------------------------------------------------------------------

--- Options of `Client(options)`; every key is optional.
---@class discord.ClientOptions
---@field intents? string[]|integer Intent names or bits; derived from the listeners when absent.
---@field token? string Read from DISCORD_TOKEN by login when absent.
---@field shardCount? integer|"auto" The bot's total shard count ("auto": Discord's recommendation).
---@field shards? integer|integer[]|"auto" The shards this process runs (all of them by default).
---@field partials? discord.Partial[] Kinds that arrive as partial objects instead of being dropped.
---@field sweepers? table<string, discord.SweeperOptions> By kind: messages, threads, users, guildMembers, ...
---@field waitGuildTimeout? discord.Milliseconds How long `ready` waits for the guilds of READY (15000).
---@field failIfNotExists? boolean Whether replies to deleted messages fail (true).
---@field allowedMentions? discord.AllowedMentions Default for every message the client sends.
---@field enforceNonce? boolean Sends a nonce with every message so Discord drops duplicates.
---@field makeCache? fun(managerName: string, holds: table, manager: table): discord.Collection
---@field presence? discord.PresenceData
---@field rest? table Limiter settings: api, version, timeout, retries, globalRequestsPerSecond, offset.
---@field ws? table Gateway settings: compress, large_threshold, properties, maxBackoff.
---@field autoDefer? integer|false Defers every interaction still unanswered after this many ms (0-2999).
---@field sessionFile? string Where destroy saves the sessions, so a restart within 60 s resumes them.
---@field record? string A JSONL file that receives every REST exchange and gateway frame.
---@field transport? table {replay = path}: answers from a recording instead of the network.

--- The bot: logs in, runs the shards, keeps the caches and emits every gateway event (see discord.ClientEvent).
---@class discord.Client: discord.EventEmitter
---@field options discord.ClientOptions
---@field rest discord.REST
---@field user discord.ClientUser|nil Set once READY arrives.
---@field users discord.UserManager
---@field guilds discord.GuildManager
---@field channels discord.ChannelManager
---@field readyAt discord.Milliseconds|nil
---@field ping integer|nil Heartbeat round trip in milliseconds.
---@field uptime integer|nil
---@field ws discord.ShardingManager
---@field shard discord.ShardingManager The same object as `ws`.
---@field sweepers discord.Sweepers
---@field readyTimestamp discord.Milliseconds|nil When the client became ready (read-only).
---@field intents integer|nil The intents the shards identify with, set by login.
---@field application discord.ClientApplication|nil The bot's application, set once READY arrives.
---@field on fun(self, event: discord.ClientEvent, listener: function): function Adds a listener; returns it.
---@field once fun(self, event: discord.ClientEvent, listener: function): function Listens to the next one only.

--- Every event the client emits, with the arguments its listeners receive.
---@alias discord.ClientEvent
---| "ready" # (client: discord.Client) Every shard of this process is ready.
---| "debug" # (message: string) Library diagnostics: REST, gateway and cache.
---| "warn" # (message: string) Something the bot author should look at, such as listeners no intent feeds.
---| "error" # (err: any) A listener or background task failed.
---| "raw" # (packet: table, shardId: integer) Every gateway dispatch, before it is handled.
---| "shardReady" # (shardId: integer, unavailableGuildIds: discord.Snowflake[]|nil) A shard is ready.
---| "shardResume" # (shardId: integer, replayedEvents: integer) A shard resumed its session.
---| "shardReconnecting" # (shardId: integer) A shard is reconnecting.
---| "shardDisconnect" # (event: {code: integer, reason: string}, shardId: integer) A shard closed for good.
---| "shardError" # (err: any, shardId: integer) A shard's connection failed.
---| "shardStatus" # (shardId: integer, status: discord.ShardStatus, previous: discord.ShardStatus) Status change.
---| "rateLimited" # (info: table) A REST or gateway rate limit was hit; `info.gateway` for the gateway.
---| "invalidRequestWarning" # (info: table) Many 401/403/429 answers: Discord may ban the bot's IP for a while.
---| "cacheSweep" # (message: string) A sweeper removed entries from a cache.
---| "applicationCommandPermissionsUpdate" # (data: table) {id, applicationId, guildId, permissions} changed.
---| "autoModerationRuleCreate" # (rule: discord.AutoModerationRule) An auto moderation rule was created.
---| "autoModerationRuleUpdate" # (old: discord.AutoModerationRule|nil, rule: discord.AutoModerationRule) Changed.
---| "autoModerationRuleDelete" # (rule: discord.AutoModerationRule) An auto moderation rule was deleted.
---| "autoModerationActionExecution" # (execution: discord.AutoModerationActionExecution) A rule acted.
---| "channelCreate" # (channel: discord.GuildChannel) A channel was created.
---| "channelUpdate" # (old: discord.BaseChannel, channel: discord.BaseChannel) A channel changed.
---| "channelDelete" # (channel: discord.BaseChannel) A channel was deleted.
---| "channelInfo" # (channels: discord.Collection, guild: discord.Guild) Answer to `ws:requestChannelInfo`.
---| "channelPinsUpdate" # (channel: discord.BaseChannel, lastPinTimestamp: discord.Milliseconds|nil) Pins changed.
---| "voiceChannelStatusUpdate" # (old: discord.VoiceChannel, channel: discord.VoiceChannel) Its status changed.
---| "voiceChannelStartTimeUpdate" # (old: discord.VoiceChannel, channel: discord.VoiceChannel) Start time changed.
---| "threadCreate" # (thread: discord.ThreadChannel, newlyCreated: boolean) A thread was created or joined.
---| "threadUpdate" # (old: discord.ThreadChannel, thread: discord.ThreadChannel) A thread changed.
---| "threadDelete" # (thread: discord.ThreadChannel) A thread was deleted.
---| "threadListSync" # (threads: discord.Collection, guild: discord.Guild) The bot gained access to threads.
---| "threadMemberUpdate" # (old: discord.ThreadMember, member: discord.ThreadMember) The bot's thread member changed.
---| "threadMembersUpdate" # (added: discord.Collection, removed: discord.Collection, thread: discord.ThreadChannel)
---| "entitlementCreate" # (entitlement: discord.Entitlement) A user bought or was granted an SKU.
---| "entitlementUpdate" # (old: discord.Entitlement|nil, entitlement: discord.Entitlement) It changed.
---| "entitlementDelete" # (entitlement: discord.Entitlement) An entitlement was removed.
---| "guildCreate" # (guild: discord.Guild) The bot joined a guild.
---| "guildAvailable" # (guild: discord.Guild) A guild came back after an outage (or arrived at startup).
---| "guildUpdate" # (old: discord.Guild, guild: discord.Guild) A guild changed.
---| "guildDelete" # (guild: discord.Guild) The bot left or was removed from a guild.
---| "guildUnavailable" # (guild: discord.Guild) A guild became unavailable during an outage.
---| "guildAuditLogEntryCreate" # (entry: discord.GuildAuditLogsEntry, guild: discord.Guild) An audit log entry.
---| "guildBanAdd" # (ban: discord.GuildBan) A user was banned.
---| "guildBanRemove" # (ban: discord.GuildBan) A user was unbanned.
---| "emojiCreate" # (emoji: discord.GuildEmoji) An emoji was added.
---| "emojiUpdate" # (old: discord.GuildEmoji, emoji: discord.GuildEmoji) An emoji changed.
---| "emojiDelete" # (emoji: discord.GuildEmoji) An emoji was removed.
---| "stickerCreate" # (sticker: discord.Sticker) A sticker was added.
---| "stickerUpdate" # (old: discord.Sticker, sticker: discord.Sticker) A sticker changed.
---| "stickerDelete" # (sticker: discord.Sticker) A sticker was removed.
---| "guildIntegrationsUpdate" # (guild: discord.Guild) A guild's integrations changed.
---| "guildMemberAdd" # (member: discord.GuildMember) Someone joined a guild (GuildMembers intent).
---| "guildMemberUpdate" # (old: discord.GuildMember, member: discord.GuildMember) A member changed.
---| "guildMemberRemove" # (member: discord.GuildMember) Someone left or was removed from a guild.
---| "guildMembersChunk" # (members: discord.Collection, guild: discord.Guild, info: table) A chunk of members.
---| "roleCreate" # (role: discord.Role) A role was created.
---| "roleUpdate" # (old: discord.Role, role: discord.Role) A role changed.
---| "roleDelete" # (role: discord.Role) A role was deleted.
---| "guildScheduledEventCreate" # (event: discord.GuildScheduledEvent) A scheduled event was created.
---| "guildScheduledEventUpdate" # (old: discord.GuildScheduledEvent|nil, event: discord.GuildScheduledEvent)
---| "guildScheduledEventDelete" # (event: discord.GuildScheduledEvent) A scheduled event was deleted.
---| "guildScheduledEventUserAdd" # (event: discord.GuildScheduledEvent, user: discord.User) A user subscribed.
---| "guildScheduledEventUserRemove" # (event: discord.GuildScheduledEvent, user: discord.User) Unsubscribed.
---| "guildSoundboardSoundCreate" # (sound: discord.SoundboardSound) A soundboard sound was added.
---| "guildSoundboardSoundUpdate" # (old: discord.SoundboardSound, sound: discord.SoundboardSound) It changed.
---| "guildSoundboardSoundDelete" # (sound: discord.SoundboardSound) A soundboard sound was removed.
---| "guildSoundboardSoundsUpdate" # (sounds: discord.Collection, guild: discord.Guild) Several sounds changed.
---| "soundboardSounds" # (sounds: discord.Collection, guild: discord.Guild) Answer to a soundboard request.
---| "integrationCreate" # (integration: discord.Integration) An integration was added.
---| "integrationUpdate" # (old: nil, integration: discord.Integration) An integration changed (not cached).
---| "integrationDelete" # (integration: discord.Integration) An integration was removed (id, guild only).
---| "interactionCreate" # (interaction: discord.BaseInteraction) A command, component, autocomplete or modal.
---| "inviteCreate" # (invite: discord.Invite) An invite was created.
---| "inviteDelete" # (invite: discord.Invite) An invite was deleted.
---| "messageCreate" # (message: discord.Message) A message was sent where the bot can see it.
---| "messageUpdate" # (old: discord.Message, message: discord.Message) A message was edited.
---| "messageDelete" # (message: discord.Message) A message was deleted.
---| "messageDeleteBulk" # (messages: discord.Collection, channel: discord.BaseChannel) Messages were bulk deleted.
---| "messageReactionAdd" # (reaction: discord.MessageReaction, user: discord.User, details: table) A reaction.
---| "messageReactionRemove" # (reaction: discord.MessageReaction, user: discord.User, details: table) Removed.
---| "messageReactionRemoveAll" # (message: discord.Message, removed: discord.Collection) All reactions removed.
---| "messageReactionRemoveEmoji" # (reaction: discord.MessageReaction) One emoji's reactions were removed.
---| "messagePollVoteAdd" # (answer: discord.PollAnswer, userId: discord.Snowflake) A poll vote.
---| "messagePollVoteRemove" # (answer: discord.PollAnswer, userId: discord.Snowflake) A vote was withdrawn.
---| "presenceUpdate" # (old: discord.Presence|nil, presence: discord.Presence) Status or activity changed.
---| "typingStart" # (typing: discord.Typing) Someone started typing.
---| "userUpdate" # (old: discord.User, user: discord.User) A user (or the bot's own user) changed.
---| "voiceChannelEffectSend" # (effect: discord.VoiceChannelEffect) An emoji or sound was used in voice.
---| "voiceStateUpdate" # (old: discord.VoiceState, state: discord.VoiceState) Someone joined, left or muted.
---| "voiceServerUpdate" # (data: {token: string, guildId: discord.Snowflake, endpoint: string|nil}) Voice server.
---| "webhooksUpdate" # (channel: discord.BaseChannel) A channel's webhooks changed.
---| "stageInstanceCreate" # (stage: discord.StageInstance) A stage went live.
---| "stageInstanceUpdate" # (old: discord.StageInstance, stage: discord.StageInstance) A stage changed.
---| "stageInstanceDelete" # (stage: discord.StageInstance) A stage ended.
---| "subscriptionCreate" # (subscription: discord.Subscription) A user subscribed to an SKU.
---| "subscriptionUpdate" # (old: nil, subscription: discord.Subscription) A subscription changed.
---| "subscriptionDelete" # (subscription: discord.Subscription) A subscription ended.

--- Settings of `client:generateInvite`.
---@class discord.InviteGenerationOptions
---@field scopes? string[] OAuth2 scopes ({"bot"}).
---@field permissions? discord.PermissionResolvable Permissions the link asks for.
---@field guild? discord.Guild|discord.Snowflake Guild preselected in the form.
---@field disableGuildSelect? boolean Keeps the user from choosing another guild.

--- Named events; every listener runs in its own task, in registration order; a failing one emits "error".
---@class discord.EventEmitter

--- Options of a REST request.
---@class discord.RequestOptions
---@field body? table|string Encoded as JSON unless a string.
---@field query? table<string, any>
---@field reason? string Audit log reason.
---@field auth? boolean False sends no Authorization header.
---@field files? table[] {name=, data=, description=}; the body then goes as multipart.

--- The REST client: builds requests, keeps Discord's rate limits per route and retries what may be retried.
---@class discord.REST
---@field get fun(self, path: string, opts?: discord.RequestOptions): table|nil (B)
---@field post fun(self, path: string, opts?: discord.RequestOptions): table|nil (B)
---@field patch fun(self, path: string, opts?: discord.RequestOptions): table|nil (B)
---@field put fun(self, path: string, opts?: discord.RequestOptions): table|nil (B)
---@field delete fun(self, path: string, opts?: discord.RequestOptions): table|nil (B)

--- An ordered map (insertion order) with the helpers of discord.js's Collection; managers cache in them.
---@class discord.Collection
---@field size integer

--- A 64-bit set of flags read by name; `Flags` maps names to bits.
---@class discord.BitField
---@field bitfield integer The bits, as one 64-bit integer.
---@field frozen boolean|nil Set on copies made by `freeze`: add and remove raise.
---@field Flags table<string, integer> Class field: the flags by name.
---@field DefaultBit integer Class field: the bits of `Cls()`.
---@field All integer Class field: every flag of the class.

--- Permissions as a bit field; Administrator implies every permission in `has` and `any`.
---@class discord.PermissionsBitField: discord.BitField
---@field Default integer Class field: what @everyone gets in a new guild.

--- Events of every collector, with their arguments.
---@alias discord.CollectorEvent
---| "collect" # (item: any, ...: any) An item passed the filter and was collected.
---| "ignore" # (item: any, ...: any) An item was offered but the filter refused it.
---| "dispose" # (item: any, ...: any) A collected item went away (with the `dispose` option).
---| "create" # (reaction: discord.MessageReaction, user: discord.User) Reactions: first of an emoji.
---| "remove" # (reaction: discord.MessageReaction, user: discord.User) Reactions: a user's was removed.
---| "end" # (collected: discord.Collection, reason: string) The collector ended.

--- Options of every collector.
---@class discord.CollectorOptions
---@field filter? fun(item: any, ...: any): boolean Which offered items to collect.
---@field time? integer Milliseconds until the collector ends ("time").
---@field idle? integer Milliseconds without a collected item until it ends ("idle").
---@field max? integer Items to collect before it ends ("limit").
---@field maxProcessed? integer Items to look at before it ends ("processedLimit").
---@field dispose? boolean Also follow removals ("dispose" events).
---@field errors? string[] End reasons that make the await helpers raise.

--- Options of a message collector.
---@class discord.MessageCollectorOptions: discord.CollectorOptions

--- Options of a reaction collector.
---@class discord.ReactionCollectorOptions: discord.CollectorOptions
---@field maxEmojis? integer Distinct emojis before it ends ("emojiLimit").
---@field maxUsers? integer Distinct users before it ends ("userLimit").

--- Options of an interaction or modal submit collector.
---@class discord.InteractionCollectorOptions: discord.CollectorOptions
---@field message? discord.Message|discord.Snowflake Only interactions on this message.
---@field channel? discord.BaseChannel|discord.Snowflake Only interactions in this channel.
---@field guild? discord.Guild|discord.Snowflake Only interactions in this guild.
---@field interactionType? integer|string discord.enums.InteractionType value or name.
---@field componentType? integer|string discord.enums.ComponentType value or name.
---@field customId? string Only components or modals with this custom ID.
---@field maxComponents? integer Interactions before it ends ("componentLimit").
---@field maxUsers? integer Distinct users before it ends ("userLimit").

-- Managers ------------------------------------------------------------------------------------------------

---@class discord.FetchOptions
---@field force? boolean Ask the API even when the object is cached.
---@field cache? boolean Keep the fetched object (true).

---@class discord.CachingManager
---@field client discord.Client
---@field cache discord.Collection
---@field resolve fun(self, x: any): table|nil
---@field resolveId fun(self, x: any): discord.Snowflake|nil
---@field fetch fun(self, id: any, opts?: discord.FetchOptions): table (B)

---@class discord.UserManager: discord.CachingManager
---@field createDM fun(self, user: discord.UserResolvable, opts?: discord.FetchOptions): discord.DMChannel (B)
---@field deleteDM fun(self, user: discord.UserResolvable): discord.DMChannel|nil (B)
---@field send fun(self, user: discord.UserResolvable, options: string|discord.MessageOptions): discord.Message (B)

---@class discord.GuildManager: discord.CachingManager
---@field create fun(self, opts: string|table): discord.Guild (B)

---@class discord.ChannelManager: discord.CachingManager

---@class discord.GuildChannelManager: discord.CachingManager
---@field guild discord.Guild
---@field create fun(self, opts: discord.ChannelOptions): discord.GuildChannel (B)
---@field edit fun(self, channel: discord.ChannelResolvable, opts: discord.ChannelOptions, reason?: string) (B)
---@field delete fun(self, channel: discord.ChannelResolvable, reason?: string) (B)
---@field setPositions fun(self, list: {channel: any, position: integer, parent?: any}[], reason?: string) (B)

---@class discord.MessageManager: discord.CachingManager
---@field channel discord.TextChannel|discord.DMChannel
---@field fetchPinned fun(self): discord.Collection (B)
---@field history fun(self, opts?: {limit?: integer, before?: any, cache?: boolean}): fun(): discord.Message
---@field edit fun(self, message: any, options: string|discord.MessageOptions): discord.Message (B)
---@field delete fun(self, message: any, reason?: string) (B)
---@field bulkDelete fun(self, messages: any, filterOld?: boolean, reason?: string): discord.Snowflake[] (B)

---@class discord.GuildMemberManager: discord.CachingManager
---@field guild discord.Guild
---@field me discord.GuildMember|nil
---@field search fun(self, opts: string|{query: string, limit?: integer}): discord.Collection (B)
---@field list fun(self, opts?: {limit?: integer, after?: discord.Snowflake}): discord.Collection (B)
---@field each fun(self, opts?: {limit?: integer, after?: any, cache?: boolean}): fun(): discord.GuildMember
---@field edit fun(self, member: discord.UserResolvable, opts: discord.MemberEditOptions, reason?: string) (B)
---@field kick fun(self, user: discord.UserResolvable, reason?: string) (B)
---@field ban fun(self, user: discord.UserResolvable, opts?: {deleteMessageSeconds?: integer, reason?: string}) (B)
---@field unban fun(self, user: discord.UserResolvable, reason?: string) (B)
---@field prune fun(self, opts?: {days?: integer, dry?: boolean, roles?: table, reason?: string}): integer|nil (B)

---@class discord.GuildMemberRoleManager
---@field cache discord.Collection Roles of the member, @everyone included.
---@field highest discord.Role
---@field color discord.Role|nil
---@field hoist discord.Role|nil
---@field has fun(self, role: discord.RoleResolvable): boolean
---@field add fun(self, roles: discord.RoleResolvable|table, reason?: string): discord.GuildMember (B)
---@field remove fun(self, roles: discord.RoleResolvable|table, reason?: string): discord.GuildMember (B)
---@field set fun(self, roles: table, reason?: string): discord.GuildMember (B)

---@class discord.RoleManager: discord.CachingManager
---@field everyone discord.Role
---@field highest discord.Role
---@field create fun(self, opts?: discord.RoleOptions): discord.Role (B)
---@field edit fun(self, role: discord.RoleResolvable, opts: discord.RoleOptions, reason?: string): discord.Role (B)
---@field delete fun(self, role: discord.RoleResolvable, reason?: string) (B)
---@field setPositions fun(self, list: {role: any, position: integer}[], reason?: string) (B)

-- Structures ----------------------------------------------------------------------------------------------

---@class discord.UserPrimaryGuild
---@field identityGuildId discord.Snowflake|nil
---@field identityEnabled boolean|nil
---@field tag string|nil
---@field badge string|nil

--- A Discord user; bots are users too.
---@class discord.User
---@field id discord.Snowflake
---@field username string
---@field globalName string|nil
---@field discriminator string "0" for users without a discriminator.
---@field bot boolean
---@field tag string|nil (read-only)
---@field displayName string|nil (read-only)
---@field createdTimestamp discord.Milliseconds (read-only)
---@field primaryGuild discord.UserPrimaryGuild|nil The server tag the user shows.
---@field collectibles {nameplate?: {skuId: discord.Snowflake, asset: string, label: string, palette: string}}|nil
---@field dmChannel discord.DMChannel|nil (read-only)
---@field system boolean|nil An official Discord system user.
---@field avatar string|nil Avatar hash; see `avatarURL`.
---@field banner string|nil Known after a fetch.
---@field accentColor integer|nil
---@field avatarDecorationData table|nil
---@field premiumType integer|nil
---@field email string|nil
---@field verified boolean|nil
---@field mfaEnabled boolean|nil
---@field locale string|nil
---@field flags discord.UserFlagsBitField|nil
---@field partial boolean (read-only)
---@field hexAccentColor string|nil (read-only)
---@field defaultAvatarURL string (read-only)

--- A presence to show: status, activities, AFK.
---@class discord.PresenceData
---@field status? "online"|"idle"|"dnd"|"invisible"
---@field activities? {name: string, type?: integer|string, url?: string, state?: string}[]
---@field afk? boolean
---@field since? discord.Milliseconds
---@field shardId? integer|integer[] Only these shards (all by default).

---@class discord.ClientUser: discord.User
---@field edit fun(self, opts: {username?: string, avatar?: string|false, banner?: string|false}): discord.ClientUser
---@field setPresence fun(self, presence: discord.PresenceData): discord.PresenceData Over op 3.
---@field setActivity fun(self, activity?: string|table, opts?: discord.ActivityOptions): discord.PresenceData
---@field setStatus fun(self, status: string): discord.PresenceData

--- A server: its channels, members, roles, emojis and settings.
---@class discord.Guild
---@field id discord.Snowflake
---@field name string
---@field available boolean
---@field ownerId discord.Snowflake
---@field memberCount integer
---@field members discord.GuildMemberManager
---@field roles discord.RoleManager
---@field channels discord.GuildChannelManager
---@field me discord.GuildMember|nil The bot's member, when cached (read-only).
---@field owner discord.GuildMember|nil (read-only)
---@field systemChannel discord.TextChannel|nil (read-only)
---@field icon string|nil Icon hash; see `iconURL`.
---@field iconHash string|nil
---@field splash string|nil
---@field discoverySplash string|nil
---@field banner string|nil
---@field description string|nil
---@field afkChannelId discord.Snowflake|nil
---@field afkTimeout integer Seconds.
---@field systemChannelId discord.Snowflake|nil
---@field systemChannelFlags integer|nil
---@field rulesChannelId discord.Snowflake|nil
---@field publicUpdatesChannelId discord.Snowflake|nil
---@field safetyAlertsChannelId discord.Snowflake|nil
---@field widgetEnabled boolean|nil
---@field widgetChannelId discord.Snowflake|nil
---@field verificationLevel integer discord.enums.GuildVerificationLevel value.
---@field explicitContentFilter integer
---@field defaultMessageNotifications integer
---@field mfaLevel integer
---@field nsfwLevel integer
---@field premiumTier integer Boost level.
---@field premiumSubscriptionCount integer|nil Boosts.
---@field premiumProgressBarEnabled boolean|nil
---@field preferredLocale string
---@field vanityURLCode string|nil
---@field vanityURLUses integer|nil Set by `fetchVanityData`.
---@field maximumMembers integer|nil
---@field maximumPresences integer|nil
---@field maxVideoChannelUsers integer|nil
---@field maxStageVideoChannelUsers integer|nil
---@field approximateMemberCount integer|nil From `fetch`.
---@field approximatePresenceCount integer|nil From `fetch`.
---@field applicationId discord.Snowflake|nil Set for a guild a bot created.
---@field large boolean|nil
---@field features string[] discord.enums.GuildFeature values.
---@field region string|nil
---@field joinedTimestamp discord.Milliseconds|nil When the bot joined.
---@field welcomeScreen table|nil
---@field shardId integer|nil
---@field createdTimestamp discord.Milliseconds (read-only)
---@field nameAcronym string|nil (read-only)
---@field partnered boolean (read-only)
---@field verified boolean (read-only)
---@field rulesChannel discord.TextChannel|nil (read-only)
---@field afkChannel discord.VoiceChannel|nil (read-only)
---@field publicUpdatesChannel discord.TextChannel|nil (read-only)
---@field safetyAlertsChannel discord.TextChannel|nil (read-only)
---@field widgetChannel discord.GuildChannel|nil (read-only)
---@field shard discord.Shard|nil The shard that receives its events (read-only).
---@field bans discord.GuildBanManager Made on first use (read-only).
---@field emojis discord.GuildEmojiManager (read-only)
---@field stickers discord.GuildStickerManager (read-only)
---@field invites discord.GuildInviteManager (read-only)
---@field presences discord.PresenceManager (read-only)
---@field voiceStates discord.VoiceStateManager (read-only)
---@field scheduledEvents discord.GuildScheduledEventManager (read-only)
---@field stageInstances discord.StageInstanceManager (read-only)
---@field autoModerationRules discord.AutoModerationRuleManager (read-only)
---@field soundboardSounds discord.GuildSoundboardSoundManager (read-only)
---@field commands discord.ApplicationCommandManager The guild's own commands (read-only).

--- What `guild:edit` changes; false clears a channel or image.
---@class discord.GuildEditOptions
---@field name? string
---@field verificationLevel? integer discord.enums.GuildVerificationLevel value.
---@field defaultMessageNotifications? integer 0 all messages, 1 only mentions.
---@field explicitContentFilter? integer discord.enums.GuildExplicitContentFilter value.
---@field afkTimeout? integer Seconds: 60, 300, 900, 1800 or 3600.
---@field afkChannel? discord.ChannelResolvable|false
---@field systemChannel? discord.ChannelResolvable|false
---@field rulesChannel? discord.ChannelResolvable|false
---@field publicUpdatesChannel? discord.ChannelResolvable|false
---@field safetyAlertsChannel? discord.ChannelResolvable|false
---@field systemChannelFlags? integer
---@field preferredLocale? string
---@field description? string
---@field features? string[]
---@field premiumProgressBarEnabled? boolean
---@field icon? string|false Image bytes or a data URI.
---@field banner? string|false
---@field splash? string|false
---@field discoverySplash? string|false
---@field owner? discord.UserResolvable Transfers ownership (the bot must own the guild).
---@field reason? string Audit log reason.

--- What a channel create or edit sets (camelCase; roles and members resolved).
---@class discord.ChannelOptions
---@field name? string
---@field type? integer|string
---@field topic? string
---@field nsfw? boolean
---@field parent? discord.ChannelResolvable|false
---@field position? integer
---@field rateLimitPerUser? integer Seconds of slowmode.
---@field permissionOverwrites? {id: any, type?: integer, allow?: any, deny?: any}[]
---@field lockPermissions? boolean
---@field reason? string

--- Base of every channel: ID, type, mention, delete and fetch.
---@class discord.BaseChannel
---@field id discord.Snowflake
---@field type integer
---@field url string

--- Methods of every channel that holds messages, copied into its class.
---@class discord.TextBased
---@field messages discord.MessageManager
---@field lastMessageId discord.Snowflake|nil
---@field lastMessage discord.Message|nil The last message, when cached (read-only).
---@field lastPinAt discord.Milliseconds|nil When a message was last pinned (read-only).
---@field send fun(self, options: string|discord.MessageOptions): discord.Message (B)
---@field sendTyping fun(self) (B)
---@field bulkDelete fun(self, messages: any, filterOld?: boolean, reason?: string): discord.Snowflake[] (B)

--- A direct message channel with one user.
---@class discord.DMChannel: discord.BaseChannel, discord.TextBased
---@field recipientId discord.Snowflake
---@field recipient discord.User|nil

--- A channel of a guild: position, parent category, permission overwrites, invites, webhooks.
---@class discord.GuildChannel: discord.BaseChannel
---@field guild discord.Guild
---@field guildId discord.Snowflake
---@field name string
---@field parentId discord.Snowflake|nil
---@field parent discord.CategoryChannel|nil
---@field position integer
---@field rawPosition integer
---@field permissionOverwrites discord.PermissionOverwriteManager

--- A guild text channel.
---@class discord.TextChannel: discord.GuildChannel, discord.TextBased
---@field topic string|nil
---@field nsfw boolean
---@field rateLimitPerUser integer|nil
---@field threads discord.ThreadManager

--- A category that groups guild channels.
---@class discord.CategoryChannel: discord.GuildChannel
---@field children {cache: discord.Collection, create: fun(self, opts: discord.ChannelOptions): discord.GuildChannel}

--- Which mentions in a message may ping.
---@class discord.AllowedMentions
---@field parse? ("users"|"roles"|"everyone")[]
---@field users? discord.Snowflake[]
---@field roles? discord.Snowflake[]
---@field repliedUser? boolean

--- What `send`, `reply` and `edit` take besides a plain string.
---@class discord.MessageOptions
---@field content? string At most 2000 characters.
---@field embeds? (discord.EmbedBuilder|table)[] At most 10.
---@field allowedMentions? discord.AllowedMentions
---@field reply? {messageReference: discord.Message|discord.Snowflake, failIfNotExists?: boolean}
---@field files? ({name: string, data: string, description?: string, spoiler?: boolean}|string)[]
---@field attachments? table[] On edits: the attachments to keep.
---@field flags? integer|string[]
---@field components? table[]
---@field stickers? discord.Snowflake[]
---@field tts? boolean
---@field nonce? string|integer
---@field poll? discord.PollData

--- A message: content, author, embeds, attachments, components, reactions.
---@class discord.Message
---@field id discord.Snowflake
---@field content string|nil nil on a partial message; empty without the MessageContent intent.
---@field author discord.User
---@field member discord.GuildMember|nil The author as a member, when cached (read-only).
---@field channel discord.TextChannel|discord.DMChannel The channel, when cached (read-only).
---@field channelId discord.Snowflake
---@field guild discord.Guild|nil (read-only)
---@field guildId discord.Snowflake|nil
---@field createdTimestamp discord.Milliseconds
---@field editedTimestamp discord.Milliseconds|nil
---@field embeds discord.Embed[]
---@field attachments discord.Collection
---@field mentions discord.MessageMentions
---@field reference {type: integer, messageId: discord.Snowflake, channelId: discord.Snowflake, guildId?: string}|nil
---@field cleanContent string|nil The content with mentions as names (read-only).
---@field reactions discord.ReactionManager
---@field poll discord.Poll|nil
---@field thread discord.ThreadChannel|nil The thread started from the message, when cached.
---@field partial boolean
---@field type integer discord.enums.MessageType value.
---@field flags discord.MessageFlagsBitField|nil
---@field tts boolean|nil
---@field nonce string|integer|nil
---@field pinned boolean|nil
---@field webhookId discord.Snowflake|nil Set when a webhook sent it.
---@field applicationId discord.Snowflake|nil
---@field position integer|nil Its place in a thread.
---@field activity table|nil Rich presence invite data.
---@field components table[] Received components (discord.structures.components).
---@field interactionMetadata table|nil The interaction that made it (see `metadataOf`).
---@field messageSnapshots {content: string, type: integer, flags: integer, embeds: discord.Embed[]}[]|nil Forwards.
---@field call table|nil
---@field application table|nil
---@field stickerItems table[]|nil
---@field roleSubscriptionData table|nil
---@field resolved table|nil
---@field sharedClientTheme table|nil
---@field deleted boolean Set once the bot saw it deleted.
---@field system boolean A system message (read-only).
---@field editedAt discord.Milliseconds|nil (read-only)
---@field url string Link to the message (read-only).
---@field editable boolean (read-only)
---@field pinnable boolean (read-only)
---@field deletable boolean (read-only)

---@class discord.MessageMentions
---@field everyone boolean
---@field users discord.Collection
---@field roles discord.Collection
---@field members discord.Collection|nil
---@field channels discord.Collection
---@field repliedUser discord.User|nil
---@field has fun(self, x: any, opts?: table): boolean

---@class discord.Attachment
---@field id discord.Snowflake
---@field name string
---@field url string
---@field size integer
---@field contentType string|nil
---@field spoiler boolean
---@field clipParticipants discord.User[]|nil
---@field clipCreatedTimestamp discord.Milliseconds|nil

---@class discord.MemberEditOptions
---@field nick? string
---@field roles? discord.RoleResolvable[]
---@field mute? boolean
---@field deaf? boolean
---@field communicationDisabledUntil? discord.Milliseconds|string

--- A user as a member of one guild: nickname, roles, permissions, timeout.
---@class discord.GuildMember
---@field id discord.Snowflake
---@field user discord.User
---@field guild discord.Guild
---@field nickname string|nil
---@field displayName string|nil The nickname, else the user's display name (read-only).
---@field roles discord.GuildMemberRoleManager (read-only)
---@field permissions discord.PermissionsBitField Guild-wide (read-only).
---@field joinedTimestamp discord.Milliseconds|nil
---@field manageable boolean (read-only)
---@field kickable boolean (read-only)
---@field bannable boolean (read-only)
---@field moderatable boolean (read-only)
---@field avatar string|nil Guild avatar hash.
---@field banner string|nil
---@field pending boolean|nil Has not passed membership screening.
---@field deaf boolean|nil
---@field mute boolean|nil
---@field premiumSinceTimestamp discord.Milliseconds|nil Boosting since.
---@field communicationDisabledUntilTimestamp discord.Milliseconds|nil Timeout end.
---@field communicationDisabledUntil discord.Milliseconds|nil The same (read-only).
---@field partial boolean (read-only)
---@field guildId discord.Snowflake|nil (read-only)
---@field voice discord.VoiceState (read-only)
---@field presence discord.Presence|nil (read-only)
---@field displayColor integer (read-only)
---@field displayHexColor string (read-only)

---@class discord.RoleOptions
---@field name? string
---@field color? discord.ColorResolvable
---@field hoist? boolean
---@field mentionable? boolean
---@field permissions? discord.PermissionResolvable
---@field icon? string|false Image bytes or data URI; false removes it.
---@field position? integer
---@field reason? string

--- A role of a guild: colour, permissions, position.
---@class discord.Role
---@field id discord.Snowflake
---@field guild discord.Guild
---@field name string
---@field color integer
---@field hexColor string (read-only)
---@field hoist boolean
---@field managed boolean
---@field mentionable boolean
---@field permissions discord.PermissionsBitField
---@field position integer Among the cached roles, 0 for @everyone (read-only).
---@field rawPosition integer What the API sent.
---@field editable boolean (read-only)
---@field members discord.Collection (read-only)
---@field colors {primaryColor: integer, secondaryColor: integer|nil, tertiaryColor: integer|nil}|nil
---@field icon string|nil Icon hash; see `iconURL`.
---@field unicodeEmoji string|nil
---@field tags table|nil botId, integrationId, premiumSubscriber, ...
---@field flags discord.RoleFlagsBitField|nil
---@field guildId discord.Snowflake|nil (read-only)
---@field createdTimestamp discord.Milliseconds (read-only)

--- An embed as received; `data` keeps the API form, fields read in camelCase.
---@class discord.Embed
---@field title string|nil
---@field description string|nil
---@field url string|nil
---@field color integer|nil
---@field fields {name: string, value: string, inline: boolean}[]
---@field length integer

--- Builds an embed and checks Discord's limits as it goes.
---@class discord.EmbedBuilder

-- Interactions --------------------------------------------------------------------------------------------

--- What `reply`, `editReply`, `followUp` and `update` take besides a plain string.
---@class discord.InteractionReplyOptions
---@field content? string
---@field embeds? (discord.EmbedBuilder|table)[]
---@field components? table[] Builders or raw components; raw ones are checked by the component builders.
---@field files? (discord.AttachmentBuilder|string|{name: string, data?: string, path?: string})[]
---@field attachments? table[] Attachments kept on an edited reply, by ID.
---@field ephemeral? boolean Only the user sees the reply.
---@field flags? string[]|integer Message flags: Ephemeral, SuppressEmbeds, SuppressNotifications, IsComponentsV2.
---@field allowedMentions? discord.AllowedMentions
---@field poll? table
---@field tts? boolean
---@field withResponse? boolean Return the InteractionCallbackResponse.
---@field fetchReply? boolean Return the reply as a Message.

---@alias discord.InteractionReplyResolvable string|discord.InteractionReplyOptions

--- What `reply` and the other first responses return: a handle on the original reply.
---@class discord.InteractionResponse
---@field interaction discord.BaseInteraction

--- What a response sent with `withResponse = true` returns: the callback record and its resource.
---@class discord.InteractionCallbackResponse
---@field interaction {id: discord.Snowflake, type: integer, responseMessageId?: discord.Snowflake}
---@field resource {type: integer, message?: discord.Message}|nil

---@alias discord.WebhookMessageResolvable string|discord.Message "@original" or a follow-up.

--- The webhook of an interaction's token: follow-ups and edits of the replies, for 15 minutes.
---@class discord.InteractionWebhook
---@field id discord.Snowflake The application's ID.
---@field token string

--- Base of every interaction: who, where, when, and the type checks (`isButton`, ...).
---@class discord.BaseInteraction
---@field id discord.Snowflake
---@field applicationId discord.Snowflake
---@field type integer discord.enums.InteractionType
---@field token string Valid for 15 minutes.
---@field user discord.User
---@field member discord.GuildMember|table|nil A raw member when the guild is not cached.
---@field memberPermissions discord.PermissionsBitField|nil
---@field appPermissions discord.PermissionsBitField|nil
---@field guildId discord.Snowflake|nil
---@field guild discord.Guild|nil
---@field channelId discord.Snowflake|nil
---@field channel discord.BaseChannel|nil
---@field locale string
---@field guildLocale string|nil
---@field context integer|nil discord.enums.InteractionContextType
---@field attachmentSizeLimit integer|nil Largest file, in bytes, the channel takes.
---@field deferred boolean
---@field replied boolean
---@field ephemeral boolean|nil
---@field timeLeft integer Milliseconds left for the first response.
---@field shardId integer|nil
---@field webhook discord.InteractionWebhook
---@field createdTimestamp discord.Milliseconds (read-only)
---@field createdAt discord.Milliseconds The same as `createdTimestamp` (read-only).

---@alias discord.InteractionReplyResult discord.InteractionResponse|discord.Message|discord.InteractionCallbackResponse

--- An interaction that can be answered: reply, defer, edit, delete and follow up.
---@class discord.RepliableInteraction: discord.BaseInteraction
---@field reply fun(self, options: discord.InteractionReplyResolvable): discord.InteractionReplyResult (B)
---@field deferReply fun(self, opts?: {ephemeral?: boolean, withResponse?: boolean}): discord.InteractionReplyResult (B)
---@field editReply fun(self, options: discord.InteractionReplyResolvable|{message?: string}): discord.Message (B)
---@field deleteReply fun(self, message?: string|discord.Message) (B)
---@field fetchReply fun(self, message?: string): discord.Message (B)
---@field followUp fun(self, options: discord.InteractionReplyResolvable): discord.Message (B)

--- A slash or context-menu command was used.
---@class discord.CommandInteraction: discord.RepliableInteraction
---@field commandId discord.Snowflake
---@field commandName string
---@field commandType integer discord.enums.ApplicationCommandType
---@field commandGuildId discord.Snowflake|nil
---@field command discord.ApplicationCommand|nil When the command cache holds it.
---@field options discord.CommandInteractionOptionResolver
---@field showModal fun(self, modal: discord.ModalBuilder|table, opts?: {withResponse?: boolean}) (B)
---@field awaitModalSubmit fun(self, opts: {time: integer, filter?: function}): discord.ModalSubmitInteraction (B)
---@field launchActivity fun(self, opts?: {withResponse?: boolean}) (B)

--- A slash command was used; `options` holds what the user typed.
---@class discord.ChatInputCommandInteraction: discord.CommandInteraction

--- A user context-menu command was used on `targetUser`.
---@class discord.UserContextMenuCommandInteraction: discord.ContextMenuCommandInteraction
---@field targetId discord.Snowflake
---@field targetUser discord.User
---@field targetMember discord.GuildMember|table|nil

--- A message context-menu command was used on `targetMessage`.
---@class discord.MessageContextMenuCommandInteraction: discord.ContextMenuCommandInteraction
---@field targetId discord.Snowflake
---@field targetMessage discord.Message

--- A user is typing an option with autocomplete; answer with `respond`.
---@class discord.AutocompleteInteraction: discord.BaseInteraction
---@field command discord.ApplicationCommand|nil The registered command, when cached (read-only).
---@field commandId discord.Snowflake
---@field commandName string
---@field options discord.CommandInteractionOptionResolver
---@field responded boolean

--- A button or select menu of a message was used.
---@class discord.MessageComponentInteraction: discord.RepliableInteraction
---@field customId string
---@field componentType integer discord.enums.ComponentType
---@field message discord.Message
---@field component table|nil The component that was used.
---@field values string[]|nil Select menus: what was chosen.
---@field users discord.Collection|nil User and mentionable selects.
---@field members discord.Collection|nil
---@field roles discord.Collection|nil Role and mentionable selects.
---@field channels discord.Collection|nil Channel selects.
---@field update fun(self, options: discord.InteractionReplyResolvable): discord.InteractionResponse (B)
---@field deferUpdate fun(self, opts?: {withResponse?: boolean}): discord.InteractionResponse (B)
---@field showModal fun(self, modal: discord.ModalBuilder|table, opts?: table) (B)
---@field awaitModalSubmit fun(self, opts: {time: integer, filter?: function}): discord.ModalSubmitInteraction (B)

--- The values of a submitted modal, by custom ID.
---@class discord.ModalSubmitFields
---@field fields discord.Collection custom_id -> {customId, type, value, values}

--- A modal was submitted; `fields` holds the values.
---@class discord.ModalSubmitInteraction: discord.RepliableInteraction
---@field customId string
---@field components table[]
---@field fields discord.ModalSubmitFields
---@field message discord.Message|nil Set when the modal came from a message's component.

---@class discord.CommandInteractionOption
---@field name string
---@field type integer discord.enums.ApplicationCommandOptionType
---@field value any
---@field focused boolean
---@field user? discord.User
---@field member? discord.GuildMember|table
---@field role? discord.Role|table
---@field channel? discord.BaseChannel
---@field attachment? discord.Attachment

---@class discord.CommandInteractionOptionResolver
---@field data discord.CommandInteractionOption[]
---@field resolved table Collections by ID: users, members, roles, channels, messages, attachments.
---@field get fun(self, name: string, required?: boolean): discord.CommandInteractionOption|nil
---@field getSubcommand fun(self, required?: boolean): string|nil Raises unless `required` is false.
---@field getSubcommandGroup fun(self, required?: boolean): string|nil
---@field getString fun(self, name: string, required?: boolean): string|nil
---@field getInteger fun(self, name: string, required?: boolean): integer|nil
---@field getNumber fun(self, name: string, required?: boolean): number|nil
---@field getBoolean fun(self, name: string, required?: boolean): boolean|nil
---@field getUser fun(self, name: string, required?: boolean): discord.User|nil
---@field getMember fun(self, name: string): discord.GuildMember|table|nil
---@field getChannel fun(self, name: string, required?: boolean, channelTypes?: integer[]): discord.BaseChannel|nil
---@field getRole fun(self, name: string, required?: boolean): discord.Role|nil
---@field getMentionable fun(self, name: string, required?: boolean): discord.GuildMember|discord.User|discord.Role|nil
---@field getAttachment fun(self, name: string, required?: boolean): discord.Attachment|nil
---@field getMessage fun(self, name: string, required?: boolean): discord.Message|nil
---@field getFocused fun(self, getFull?: boolean): any The value being typed, or the whole option.

--- A file to send, held in memory, with its name, description and spoiler flag.
---@class discord.AttachmentBuilder
---@field attachment string|nil The bytes.
---@field name string|nil
---@field description string|nil
---@field spoiler boolean
---@field fromFile fun(path: string, data?: table): discord.AttachmentBuilder (B) Reads through the runtime.

-- Sharding ------------------------------------------------------------------------------------------------

---@alias discord.ShardStatus
---| "idle" # Not started.
---| "connecting" # Opening the connection.
---| "identifying" # Sent IDENTIFY, waiting for READY.
---| "resuming" # Sent RESUME, waiting for RESUMED.
---| "waitingForGuilds" # READY came; waiting for the guilds it announced.
---| "ready" # Receiving events.
---| "reconnecting" # Lost the connection; connecting again.
---| "disconnected" # Closed for good.

--- The rest of an activity given to `setActivity`.
---@class discord.ActivityOptions
---@field type? integer|string 0-5 or Playing, Streaming, Listening, Watching, Custom, Competing.
---@field url? string Streaming: a Twitch or YouTube address.
---@field state? string
---@field shardId? integer|integer[]

--- One gateway connection of the bot: its ID, status, ping and guilds.
---@class discord.Shard
---@field id integer
---@field status discord.ShardStatus
---@field ping integer Heartbeat round trip in ms, -1 before the first ACK.
---@field readyAt discord.Milliseconds|nil
---@field sessionId string|nil
---@field guilds discord.Collection The cached guilds of this shard.
---@field send fun(self, payload: table): boolean (B)

--- The shards of one client in this process (`client.ws`, also `client.shard`).
---@class discord.ShardingManager
---@field shards discord.Collection Shards by ID.
---@field ids integer[] The shards of this process.
---@field count integer The bot's total shard count.
---@field totalShards integer
---@field ping integer
---@field status discord.ShardStatus Of the lowest shard.

-- Caches, partials, sweepers -------------------------------------------------------------------------------

---@alias discord.Partial "User"|"Channel"|"GuildMember"|"Message"|"Reaction"|"GuildScheduledEvent"|"ThreadMember"
---| "Poll"|"PollAnswer"|"SoundboardSound"

--- How one kind of cache is swept: how often, and by age or by a filter.
---@class discord.SweeperOptions
---@field interval integer Seconds between sweeps.
---@field lifetime? integer Seconds; messages (since sent or edited) and threads (since archived) only.
---@field filter? fun(): (fun(value: any, key: any, collection: discord.Collection): boolean)|nil

--- Drops cached objects on an interval, by age or by a filter, so a long-running bot's caches stay bounded.
---@class discord.Sweepers
---@field client discord.Client
---@field options table<string, discord.SweeperOptions> The checked options, by kind.
---@field filterByLifetime fun(opts?: table): function The same as `discord.client.sweepers.filterByLifetime`.
---@field outdatedMessageSweepFilter fun(lifetime?: integer): function Filter factory for old messages.
---@field archivedThreadSweepFilter fun(lifetime?: integer): function Filter factory for long-archived threads.
---@field expiredInviteSweepFilter fun(lifetime?: integer): function Filter factory for expired invites.
---@field DefaultSweeperSettings table<string, discord.SweeperOptions> Archived threads go after 4 h, hourly.
---@field destroy fun(self) The same as `stop`.
---@field sweepApplicationCommands fun(self, filter: function): integer Sweeps every guild's commands.
---@field sweepAutoModerationRules fun(self, filter: function): integer Sweeps every guild's automod rules.
---@field sweepBans fun(self, filter: function): integer Sweeps every guild's cached bans.
---@field sweepEmojis fun(self, filter: function): integer Sweeps every guild's emojis.
---@field sweepInvites fun(self, filter: function): integer Sweeps every guild's invites.
---@field sweepGuildMembers fun(self, filter: function): integer Sweeps every guild's members (the bot stays).
---@field sweepPresences fun(self, filter: function): integer Sweeps every guild's presences.
---@field sweepStageInstances fun(self, filter: function): integer Sweeps every guild's stage instances.
---@field sweepStickers fun(self, filter: function): integer Sweeps every guild's stickers.
---@field sweepVoiceStates fun(self, filter: function): integer Sweeps every guild's voice states.

-- Channels beyond text --------------------------------------------------------------------------------------

--- Voice and stage channels; they have a text chat of their own.
---@class discord.BaseGuildVoiceChannel: discord.GuildChannel, discord.TextBased
---@field bitrate integer
---@field userLimit integer
---@field rtcRegion string|nil
---@field videoQualityMode integer|nil
---@field joinable boolean

--- A guild voice channel.
---@class discord.VoiceChannel: discord.BaseGuildVoiceChannel
---@field speakable boolean

--- A stage channel: speakers and an audience.
---@class discord.StageChannel: discord.BaseGuildVoiceChannel
---@field topic string|nil

---@class discord.ThreadCreateOptions
---@field name string 1 to 100 characters.
---@field autoArchiveDuration? 60|1440|4320|10080 Minutes.
---@field type? "PublicThread"|"PrivateThread"|integer
---@field invitable? boolean Private threads: whether members may invite others.
---@field rateLimitPerUser? integer
---@field startMessage? discord.Message|discord.Snowflake
---@field message? string|discord.MessageOptions Forum and media posts: the starter message.
---@field appliedTags? (discord.ForumTag|discord.Snowflake|string)[] At most 5; names of the channel's tags work.
---@field reason? string

---@class discord.FetchedThreads
---@field threads discord.Collection
---@field hasMore boolean

---@class discord.FetchArchivedOptions
---@field type? "public"|"private"
---@field joined? boolean Private threads the bot has joined.
---@field before? discord.ThreadChannel|discord.Snowflake|discord.Milliseconds
---@field limit? integer

---@class discord.ThreadManager
---@field channel discord.GuildChannel
---@field cache discord.Collection The cached threads of the channel.
---@field create fun(self, opts: discord.ThreadCreateOptions): discord.ThreadChannel (B)
---@field fetch fun(self, id?: discord.Snowflake, opts?: table): discord.ThreadChannel|discord.FetchedThreads (B)
---@field fetchActive fun(self): discord.FetchedThreads (B)
---@field fetchArchived fun(self, opts?: discord.FetchArchivedOptions): discord.FetchedThreads (B)

--- A thread: public, private or in an announcement channel, or a post of a forum or media channel.
---@class discord.ThreadChannel: discord.GuildChannel, discord.TextBased
---@field ownerId discord.Snowflake
---@field archived boolean
---@field locked boolean
---@field invitable boolean|nil
---@field autoArchiveDuration integer
---@field archiveTimestamp discord.Milliseconds|nil
---@field messageCount integer|nil
---@field memberCount integer|nil
---@field appliedTags discord.Snowflake[]
---@field members discord.ThreadMemberManager
---@field joined boolean
---@field joinable boolean
---@field sendable boolean
---@field editable boolean
---@field unarchivable boolean
---@field pinned boolean

---@class discord.ThreadMember
---@field id discord.Snowflake The user's ID.
---@field threadId discord.Snowflake
---@field thread discord.ThreadChannel
---@field joinedTimestamp discord.Milliseconds|nil
---@field flags discord.BitField|nil
---@field user discord.User|nil
---@field guildMember discord.GuildMember|nil
---@field manageable boolean
---@field partial boolean
---@field remove fun(self): discord.ThreadMember (B)
---@field fetch fun(self, opts?: {withMember?: boolean}): discord.ThreadMember (B)

---@class discord.ThreadMemberManager: discord.CachingManager
---@field me discord.ThreadMember|nil
---@field add fun(self, member?: discord.UserResolvable|"@me", reason?: string): discord.Snowflake (B)
---@field remove fun(self, member?: discord.UserResolvable|"@me", reason?: string): discord.Snowflake (B)
---@field fetchMe fun(self, opts?: table): discord.ThreadMember (B)

---@class discord.ForumTag
---@field id discord.Snowflake
---@field name string 1 to 20 characters.
---@field moderated boolean
---@field emoji {id: discord.Snowflake|nil, name: string|nil}|nil

--- Channels that hold only threads (posts): forums and media channels.
---@class discord.ThreadOnlyChannel: discord.GuildChannel
---@field topic string|nil
---@field availableTags discord.ForumTag[] At most 20.
---@field defaultReactionEmoji {id: discord.Snowflake|nil, name: string|nil}|nil
---@field defaultSortOrder integer|nil
---@field defaultThreadRateLimitPerUser integer|nil
---@field threads discord.ThreadManager

--- A forum: posts with tags, shown as a list or gallery.
---@class discord.ForumChannel: discord.ThreadOnlyChannel
---@field defaultForumLayout integer|nil

--- A media channel: posts that lead with an image or video.
---@class discord.MediaChannel: discord.ThreadOnlyChannel

---@class discord.PermissionOverwrites
---@field id discord.Snowflake
---@field type 0|1 0 for a role, 1 for a member.
---@field allow discord.PermissionsBitField
---@field deny discord.PermissionsBitField
---@field edit fun(self, options: table<string, boolean|userdata>, reason?: string): discord.PermissionOverwrites (B)
---@field delete fun(self, reason?: string): discord.PermissionOverwrites (B)

---@class discord.PermissionOverwriteManager: discord.CachingManager
---@field channel discord.GuildChannel
---@field set fun(self, overwrites: table[], reason?: string): discord.GuildChannel (B)
---@field create fun(self, target: any, options: table, opts?: {reason?: string, type?: 0|1}): table (B)
---@field edit fun(self, target: any, options: table, opts?: table): discord.PermissionOverwrites (B) Keeps other flags.
---@field delete fun(self, target: any, reason?: string): discord.GuildChannel (B)

-- Reactions, polls, presences, typing -----------------------------------------------------------------------

---@class discord.ReactionEmoji
---@field id discord.Snowflake|nil
---@field name string|nil
---@field animated boolean
---@field identifier string The form reaction routes take.
---@field url string|nil

---@class discord.MessageReaction
---@field message discord.Message
---@field emoji discord.ReactionEmoji
---@field count integer|nil Nil while partial.
---@field countDetails {normal: integer|nil, burst: integer|nil}
---@field me boolean
---@field meBurst boolean
---@field burstColors string[]
---@field users discord.ReactionUserManager
---@field partial boolean
---@field react fun(self): discord.MessageReaction (B)
---@field remove fun(self): discord.MessageReaction (B) Every user's reaction with this emoji.
---@field fetch fun(self): discord.MessageReaction (B)

---@class discord.ReactionManager: discord.CachingManager
---@field message discord.Message
---@field removeAll fun(self): discord.Message (B)

---@class discord.ReactionUserManager: discord.CachingManager
---@field fetch fun(self, opts?: {limit?: integer, after?: any, type?: "normal"|"burst"}): discord.Collection (B)
---@field each fun(self, opts?: {limit?: integer, after?: any, type?: string}): fun(): discord.User
---@field remove fun(self, user?: discord.UserResolvable): discord.MessageReaction (B) The bot's own by default.

---@class discord.PollData
---@field question string|{text: string} At most 300 characters.
---@field answers (string|{text: string, emoji?: any})[] 1 to 10, each at most 55 characters.
---@field duration? integer Hours, 1 to 768 (24).
---@field allowMultiselect? boolean
---@field layoutType? integer

---@class discord.PollAnswer
---@field id integer
---@field text string|nil
---@field emoji discord.ReactionEmoji|nil
---@field voteCount integer
---@field poll discord.Poll
---@field voters discord.PollAnswerVoterManager
---@field partial boolean

---@class discord.PollAnswerVoterManager: discord.CachingManager
---@field fetch fun(self, opts?: {limit?: integer, after?: any}): discord.Collection (B)

---@class discord.Poll
---@field message discord.Message
---@field question {text: string}|nil
---@field answers discord.Collection Answers by ID.
---@field expiresTimestamp discord.Milliseconds|nil
---@field allowMultiselect boolean
---@field resultsFinalized boolean
---@field partial boolean
---@field hasEnded fun(self): boolean
---@field expire fun(self): discord.Message (B) Ends the poll; also `poll["end"]`.
---@field fetch fun(self): discord.Poll (B)

---@class discord.Activity
---@field name string
---@field type integer 0 Playing, 1 Streaming, 2 Listening, 3 Watching, 4 Custom, 5 Competing.
---@field url string|nil
---@field state string|nil
---@field details string|nil
---@field emoji discord.ReactionEmoji|nil
---@field timestamps {start: integer|nil, end: integer|nil}|nil

---@class discord.Presence
---@field userId discord.Snowflake
---@field user discord.User|nil
---@field member discord.GuildMember|nil
---@field guild discord.Guild
---@field status "online"|"idle"|"dnd"|"offline"
---@field clientStatus {desktop: string|nil, mobile: string|nil, web: string|nil}
---@field activities discord.Activity[]

---@class discord.Typing
---@field channel discord.BaseChannel
---@field user discord.User
---@field member discord.GuildMember|nil
---@field guild discord.Guild|nil
---@field startedTimestamp discord.Milliseconds
---@field inGuild fun(self): boolean

-- Events of this part, with their arguments:
-- shardReady(id, unavailableGuildIds|nil), shardResume(id, replayed), shardReconnecting(id),
-- shardDisconnect({code, reason}, id), shardError(err, id), shardStatus(id, status, previous), raw(packet, id),
-- threadCreate(thread, newlyCreated), threadUpdate(old, new), threadDelete(thread), threadListSync(threads, guild),
-- threadMemberUpdate(old, new), threadMembersUpdate(added, removed, thread),
-- messageReactionAdd(reaction, user, {type, burst, burstColors}), messageReactionRemove(reaction, user, details),
-- messageReactionRemoveAll(message, removed), messageReactionRemoveEmoji(reaction),
-- messagePollVoteAdd(answer, userId), messagePollVoteRemove(answer, userId), presenceUpdate(old|nil, new),
-- typingStart(typing), userUpdate(old, new), cacheSweep(text).

return {}
