-- Numeric enums of the API with reverse lookup: ChannelType.GuildText == 0 and ChannelType[0] == "GuildText".
-- A misspelt name raises; an unknown number gives nil, since Discord adds values over time.
local enums = {}

--- Makes an enum with reverse lookup; a misspelt name raises, an unknown number gives nil.
---@param name string
---@param values table<string, integer>
---@return table
local function enum(name, values)
  local t = {}
  for k, v in pairs(values) do
    t[k] = v
    if t[v] == nil then t[v] = k end
  end
  return setmetatable(t, {
    __name = name,
    __index = function(_, key)
      if type(key) == "string" then error("enums." .. name .. " has no value named '" .. key .. "'", 2) end
      return nil
    end,
  })
end
enums.enum = enum

--- Name of value `v` in enum `e`, or nil; never raises.
---@param e table An enum.
---@param v any
---@return string|nil
function enums.nameOf(e, v)
  local name = rawget(e, v)
  if type(name) == "string" then return name end
  return nil
end

--- True when `v` is a value (not a name) of enum `e`.
---@param e table An enum.
---@param v any
---@return boolean
function enums.has(e, v)
  return type(rawget(e, v)) == "string"
end

-- Gateway ------------------------------------------------------------------------------------------------

--- Opcodes of gateway payloads (Dispatch, Heartbeat, Identify, ...).
---@enum discord.GatewayOpcodes
enums.GatewayOpcodes = enum("GatewayOpcodes", {
  Dispatch = 0, Heartbeat = 1, Identify = 2, PresenceUpdate = 3, VoiceStateUpdate = 4, Resume = 6,
  Reconnect = 7, RequestGuildMembers = 8, InvalidSession = 9, Hello = 10, HeartbeatAck = 11,
  RequestSoundboardSounds = 31, RequestChannelInfo = 43,
})

--- Close codes of the gateway; Zombie (4900) is the library's own, which keeps the session resumable.
---@enum discord.GatewayCloseCodes
enums.GatewayCloseCodes = enum("GatewayCloseCodes", {
  Normal = 1000, GoingAway = 1001, UnknownError = 4000, UnknownOpcode = 4001, DecodeError = 4002,
  NotAuthenticated = 4003, AuthenticationFailed = 4004, AlreadyAuthenticated = 4005, InvalidSeq = 4007,
  RateLimited = 4008, SessionTimedOut = 4009, InvalidShard = 4010, ShardingRequired = 4011,
  InvalidAPIVersion = 4012, InvalidIntents = 4013, DisallowedIntents = 4014,
  -- Not sent by Discord: the library closes a zombie connection with it so that the session survives.
  Zombie = 4900,
})

--- Opcodes of voice gateway payloads.
---@enum discord.VoiceOpcodes
enums.VoiceOpcodes = enum("VoiceOpcodes", {
  Identify = 0, SelectProtocol = 1, Ready = 2, Heartbeat = 3, SessionDescription = 4, Speaking = 5,
  HeartbeatAck = 6, Resume = 7, Hello = 8, Resumed = 9, ClientsConnect = 11, ClientDisconnect = 13,
  DavePrepareTransition = 21, DaveExecuteTransition = 22, DaveTransitionReady = 23, DavePrepareEpoch = 24,
  DaveMLSExternalSender = 25, DaveMLSKeyPackage = 26, DaveMLSProposals = 27,
  DaveMLSCommitWelcome = 28, DaveMLSAnnounceCommitTransition = 29, DaveMLSWelcome = 30,
  DaveMLSInvalidCommitWelcome = 31,
})

--- Close codes of the voice gateway.
---@enum discord.VoiceCloseCodes
enums.VoiceCloseCodes = enum("VoiceCloseCodes", {
  UnknownOpcode = 4001, FailedToDecode = 4002, NotAuthenticated = 4003, AuthenticationFailed = 4004,
  AlreadyAuthenticated = 4005, SessionNoLongerValid = 4006, SessionTimeout = 4009, ServerNotFound = 4011,
  UnknownProtocol = 4012, Disconnected = 4014, VoiceServerCrashed = 4015, UnknownEncryptionMode = 4016,
  BadRequest = 4020,
})

--- Shard states as the library reports them.
---@enum discord.Status
enums.Status = enum("Status", {
  Ready = 0, Connecting = 1, Reconnecting = 2, Idle = 3, Nearly = 4, Disconnected = 5, WaitingForGuilds = 6,
  Identifying = 7, Resuming = 8,
})

-- Channels and messages ----------------------------------------------------------------------------------

--- Kinds of channel: GuildText 0, DM 1, GuildVoice 2, GuildCategory 4, threads, forums, ...
---@enum discord.ChannelType
enums.ChannelType = enum("ChannelType", {
  GuildText = 0, DM = 1, GuildVoice = 2, GroupDM = 3, GuildCategory = 4, GuildAnnouncement = 5,
  AnnouncementThread = 10, PublicThread = 11, PrivateThread = 12, GuildStageVoice = 13, GuildDirectory = 14,
  GuildForum = 15, GuildMedia = 16,
})

--- Channel types that hold messages.
---@type integer[]
enums.TextBasedChannelTypes = { 0, 1, 2, 3, 5, 10, 11, 12, 13 }
--- Channel types of threads.
---@type integer[]
enums.ThreadChannelTypes = { 10, 11, 12 }
--- Channel types with voice: voice and stage.
---@type integer[]
enums.VoiceBasedChannelTypes = { 2, 13 }

--- Kinds of message: Default, Reply, ChatInputCommand and the system messages.
---@enum discord.MessageType
enums.MessageType = enum("MessageType", {
  Default = 0, RecipientAdd = 1, RecipientRemove = 2, Call = 3, ChannelNameChange = 4, ChannelIconChange = 5,
  ChannelPinnedMessage = 6, UserJoin = 7, GuildBoost = 8, GuildBoostTier1 = 9, GuildBoostTier2 = 10,
  GuildBoostTier3 = 11, ChannelFollowAdd = 12, GuildDiscoveryDisqualified = 14,
  GuildDiscoveryRequalified = 15, GuildDiscoveryGracePeriodInitialWarning = 16,
  GuildDiscoveryGracePeriodFinalWarning = 17, ThreadCreated = 18, Reply = 19, ChatInputCommand = 20,
  ThreadStarterMessage = 21, GuildInviteReminder = 22, ContextMenuCommand = 23, AutoModerationAction = 24,
  RoleSubscriptionPurchase = 25, InteractionPremiumUpsell = 26, StageStart = 27, StageEnd = 28,
  StageSpeaker = 29, StageRaiseHand = 30, StageTopic = 31, GuildApplicationPremiumSubscription = 32,
  GuildIncidentAlertModeEnabled = 36, GuildIncidentAlertModeDisabled = 37, GuildIncidentReportRaid = 38,
  GuildIncidentReportFalseAlarm = 39, PurchaseNotification = 44, PollResult = 46,
})

--- Message types a bot may delete; the others are system messages.
---@type integer[]
enums.DeletableMessageTypes = {
  0, 6, 7, 8, 9, 10, 11, 12, 18, 19, 20, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 36, 37, 38, 39, 44, 46,
}

--- What a message reference is: a reply (Default) or a forward.
---@enum discord.MessageReferenceType
enums.MessageReferenceType = enum("MessageReferenceType", { Default = 0, Forward = 1 })

--- Rich presence invites in messages: Join, Spectate, Listen, JoinRequest, StreamRequest.
---@enum discord.MessageActivityType
enums.MessageActivityType = enum("MessageActivityType", {
  Join = 1, Spectate = 2, Listen = 3, JoinRequest = 5, StreamRequest = 6,
})

--- Client themes a shared message can carry.
---@enum discord.BaseThemeType
enums.BaseThemeType = enum("BaseThemeType", { Unset = 0, Dark = 1, Light = 2, Darker = 3, Midnight = 4 })

--- Whom a permission overwrite is for: a role or a member.
---@enum discord.OverwriteType
enums.OverwriteType = enum("OverwriteType", { Role = 0, Member = 1 })

--- Camera quality in voice channels: Auto or Full (720p).
---@enum discord.VideoQualityMode
enums.VideoQualityMode = enum("VideoQualityMode", { Auto = 1, Full = 2 })

--- Minutes of inactivity before a thread archives: OneHour, OneDay, ThreeDays, OneWeek.
---@enum discord.ThreadAutoArchiveDuration
enums.ThreadAutoArchiveDuration = enum("ThreadAutoArchiveDuration", {
  OneHour = 60, OneDay = 1440, ThreeDays = 4320, OneWeek = 10080,
})

--- How a forum sorts its posts.
---@enum discord.SortOrderType
enums.SortOrderType = enum("SortOrderType", { LatestActivity = 0, CreationDate = 1 })
--- How a forum shows its posts: list or gallery.
---@enum discord.ForumLayoutType
enums.ForumLayoutType = enum("ForumLayoutType", { NotSet = 0, ListView = 1, GalleryView = 2 })

--- Normal or burst (super) reactions.
---@enum discord.ReactionType
enums.ReactionType = enum("ReactionType", { Normal = 0, Burst = 1 })

--- Layouts of a poll.
---@enum discord.PollLayoutType
enums.PollLayoutType = enum("PollLayoutType", { Default = 1 })

--- Standard (Nitro packs) or guild stickers.
---@enum discord.StickerType
enums.StickerType = enum("StickerType", { Standard = 1, Guild = 2 })
--- File formats of stickers: PNG, APNG, Lottie, GIF.
---@enum discord.StickerFormatType
enums.StickerFormatType = enum("StickerFormatType", { PNG = 1, APNG = 2, Lottie = 3, GIF = 4 })

--- Kinds of embed, as the strings Discord sends ("rich", "image", "link", ...).
---@enum discord.EmbedType
enums.EmbedType = {
  Rich = "rich", Image = "image", Video = "video", GIFV = "gifv", Article = "article", Link = "link",
  AutoModerationMessage = "auto_moderation_message", PollResult = "poll_result",
}

-- Guilds -------------------------------------------------------------------------------------------------

--- What members need before they can talk: None to VeryHigh (verified phone).
---@enum discord.GuildVerificationLevel
enums.GuildVerificationLevel = enum("GuildVerificationLevel", {
  None = 0, Low = 1, Medium = 2, High = 3, VeryHigh = 4,
})
--- Default notification setting of a guild: all messages or only mentions.
---@enum discord.GuildDefaultMessageNotifications
enums.GuildDefaultMessageNotifications = enum("GuildDefaultMessageNotifications", {
  AllMessages = 0, OnlyMentions = 1,
})
--- Whose media Discord scans for explicit content.
---@enum discord.GuildExplicitContentFilter
enums.GuildExplicitContentFilter = enum("GuildExplicitContentFilter", {
  Disabled = 0, MembersWithoutRoles = 1, AllMembers = 2,
})
--- Whether moderators need two-factor authentication.
---@enum discord.GuildMFALevel
enums.GuildMFALevel = enum("GuildMFALevel", { None = 0, Elevated = 1 })
--- Age rating of a guild.
---@enum discord.GuildNSFWLevel
enums.GuildNSFWLevel = enum("GuildNSFWLevel", { Default = 0, Explicit = 1, Safe = 2, AgeRestricted = 3 })
--- Boost level of a guild.
---@enum discord.GuildPremiumTier
enums.GuildPremiumTier = enum("GuildPremiumTier", { None = 0, Tier1 = 1, Tier2 = 2, Tier3 = 3 })
--- Kinds of student hub.
---@enum discord.GuildHubType
enums.GuildHubType = enum("GuildHubType", { Default = 0, HighSchool = 1, College = 2 })
--- Styles of the guild widget image ("shield", "banner1" to "banner4").
---@enum discord.GuildWidgetStyle
enums.GuildWidgetStyle = {
  Shield = "shield", Banner1 = "banner1", Banner2 = "banner2", Banner3 = "banner3", Banner4 = "banner4",
}
--- Which onboarding requirements apply.
---@enum discord.GuildOnboardingMode
enums.GuildOnboardingMode = enum("GuildOnboardingMode", { OnboardingDefault = 0, OnboardingAdvanced = 1 })
--- Kinds of onboarding prompt: multiple choice or dropdown.
---@enum discord.GuildOnboardingPromptType
enums.GuildOnboardingPromptType = enum("GuildOnboardingPromptType", { MultipleChoice = 0, Dropdown = 1 })
--- What happens when a subscription integration expires.
---@enum discord.IntegrationExpireBehavior
enums.IntegrationExpireBehavior = enum("IntegrationExpireBehavior", { RemoveRole = 0, Kick = 1 })

--- Feature strings of a guild (COMMUNITY, PARTNERED, VANITY_URL, ...).
---@enum discord.GuildFeature
enums.GuildFeature = {
  AnimatedBanner = "ANIMATED_BANNER", AnimatedIcon = "ANIMATED_ICON",
  ApplicationCommandPermissionsV2 = "APPLICATION_COMMAND_PERMISSIONS_V2", AutoModeration = "AUTO_MODERATION",
  Banner = "BANNER", Community = "COMMUNITY", CreatorMonetizableProvisional = "CREATOR_MONETIZABLE_PROVISIONAL",
  CreatorStorePage = "CREATOR_STORE_PAGE", DeveloperSupportServer = "DEVELOPER_SUPPORT_SERVER",
  Discoverable = "DISCOVERABLE", Featurable = "FEATURABLE", InvitesDisabled = "INVITES_DISABLED",
  InviteSplash = "INVITE_SPLASH", MemberVerificationGateEnabled = "MEMBER_VERIFICATION_GATE_ENABLED",
  MoreSoundboard = "MORE_SOUNDBOARD", MoreStickers = "MORE_STICKERS", News = "NEWS", Partnered = "PARTNERED",
  PreviewEnabled = "PREVIEW_ENABLED", RaidAlertsDisabled = "RAID_ALERTS_DISABLED",
  RoleIcons = "ROLE_ICONS", RoleSubscriptionsAvailableForPurchase = "ROLE_SUBSCRIPTIONS_AVAILABLE_FOR_PURCHASE",
  RoleSubscriptionsEnabled = "ROLE_SUBSCRIPTIONS_ENABLED", Soundboard = "SOUNDBOARD",
  TicketedEventsEnabled = "TICKETED_EVENTS_ENABLED", VanityURL = "VANITY_URL", Verified = "VERIFIED",
  VIPRegions = "VIP_REGIONS", WelcomeScreenEnabled = "WELCOME_SCREEN_ENABLED",
}

--- Action types of audit log entries (MemberKick, ChannelCreate, ...).
---@enum discord.AuditLogEvent
enums.AuditLogEvent = enum("AuditLogEvent", {
  GuildUpdate = 1, ChannelCreate = 10, ChannelUpdate = 11, ChannelDelete = 12, ChannelOverwriteCreate = 13,
  ChannelOverwriteUpdate = 14, ChannelOverwriteDelete = 15, MemberKick = 20, MemberPrune = 21,
  MemberBanAdd = 22, MemberBanRemove = 23, MemberUpdate = 24, MemberRoleUpdate = 25, MemberMove = 26,
  MemberDisconnect = 27, BotAdd = 28, RoleCreate = 30, RoleUpdate = 31, RoleDelete = 32, InviteCreate = 40,
  InviteUpdate = 41, InviteDelete = 42, WebhookCreate = 50, WebhookUpdate = 51, WebhookDelete = 52,
  EmojiCreate = 60, EmojiUpdate = 61, EmojiDelete = 62, MessageDelete = 72, MessageBulkDelete = 73,
  MessagePin = 74, MessageUnpin = 75, IntegrationCreate = 80, IntegrationUpdate = 81, IntegrationDelete = 82,
  StageInstanceCreate = 83, StageInstanceUpdate = 84, StageInstanceDelete = 85, StickerCreate = 90,
  StickerUpdate = 91, StickerDelete = 92, GuildScheduledEventCreate = 100, GuildScheduledEventUpdate = 101,
  GuildScheduledEventDelete = 102, ThreadCreate = 110, ThreadUpdate = 111, ThreadDelete = 112,
  ApplicationCommandPermissionUpdate = 121, SoundboardSoundCreate = 130, SoundboardSoundUpdate = 131,
  SoundboardSoundDelete = 132, AutoModerationRuleCreate = 140, AutoModerationRuleUpdate = 141,
  AutoModerationRuleDelete = 142, AutoModerationBlockMessage = 143, AutoModerationFlagToChannel = 144,
  AutoModerationUserCommunicationDisabled = 145, AutoModerationQuarantineUser = 146,
  CreatorMonetizationRequestCreated = 150,
  CreatorMonetizationTermsAccepted = 151, OnboardingPromptCreate = 163, OnboardingPromptUpdate = 164,
  OnboardingPromptDelete = 165, OnboardingCreate = 166, OnboardingUpdate = 167, HomeSettingsCreate = 190,
  HomeSettingsUpdate = 191, VoiceChannelStatusCreate = 192, VoiceChannelStatusDelete = 193,
})

--- What sets off an auto moderation rule: keywords, spam, presets, mentions, ...
---@enum discord.AutoModerationRuleTriggerType
enums.AutoModerationRuleTriggerType = enum("AutoModerationRuleTriggerType", {
  Keyword = 1, Spam = 3, KeywordPreset = 4, MentionSpam = 5, MemberProfile = 6,
})
--- When an auto moderation rule is checked: message send or member update.
---@enum discord.AutoModerationRuleEventType
enums.AutoModerationRuleEventType = enum("AutoModerationRuleEventType", { MessageSend = 1, MemberUpdate = 2 })
--- What an auto moderation rule does: block, alert, timeout, ...
---@enum discord.AutoModerationActionType
enums.AutoModerationActionType = enum("AutoModerationActionType", {
  BlockMessage = 1, SendAlertMessage = 2, Timeout = 3, BlockMemberInteraction = 4,
})
--- Discord's word lists for keyword preset rules.
---@enum discord.AutoModerationRuleKeywordPresetType
enums.AutoModerationRuleKeywordPresetType = enum("AutoModerationRuleKeywordPresetType", {
  Profanity = 1, SexualContent = 2, Slurs = 3,
})

--- States of a scheduled event: Scheduled, Active, Completed, Canceled.
---@enum discord.GuildScheduledEventStatus
enums.GuildScheduledEventStatus = enum("GuildScheduledEventStatus", {
  Scheduled = 1, Active = 2, Completed = 3, Canceled = 4,
})
--- Where a scheduled event happens: stage, voice or external.
---@enum discord.GuildScheduledEventEntityType
enums.GuildScheduledEventEntityType = enum("GuildScheduledEventEntityType", {
  StageInstance = 1, Voice = 2, External = 3,
})
--- Who can see a scheduled event.
---@enum discord.GuildScheduledEventPrivacyLevel
enums.GuildScheduledEventPrivacyLevel = enum("GuildScheduledEventPrivacyLevel", { GuildOnly = 2 })
--- Weekdays of a scheduled event's recurrence rule.
---@enum discord.GuildScheduledEventRecurrenceRuleWeekday
enums.GuildScheduledEventRecurrenceRuleWeekday = enum("GuildScheduledEventRecurrenceRuleWeekday", {
  Monday = 0, Tuesday = 1, Wednesday = 2, Thursday = 3, Friday = 4, Saturday = 5, Sunday = 6,
})

--- Months of a scheduled event's recurrence rule.
---@enum discord.GuildScheduledEventRecurrenceRuleMonth
enums.GuildScheduledEventRecurrenceRuleMonth = enum("GuildScheduledEventRecurrenceRuleMonth", {
  January = 1, February = 2, March = 3, April = 4, May = 5, June = 6, July = 7, August = 8, September = 9,
  October = 10, November = 11, December = 12,
})

--- How often a scheduled event repeats.
---@enum discord.GuildScheduledEventRecurrenceRuleFrequency
enums.GuildScheduledEventRecurrenceRuleFrequency = enum("GuildScheduledEventRecurrenceRuleFrequency", {
  Yearly = 0, Monthly = 1, Weekly = 2, Daily = 3,
})
--- Who can see a stage instance.
---@enum discord.StageInstancePrivacyLevel
enums.StageInstancePrivacyLevel = enum("StageInstancePrivacyLevel", { Public = 1, GuildOnly = 2 })

--- Kinds of invite: guild, group DM, friend.
---@enum discord.InviteType
enums.InviteType = enum("InviteType", { Guild = 0, GroupDM = 1, Friend = 2 })
--- What a voice channel invite opens: a stream or an embedded application.
---@enum discord.InviteTargetType
enums.InviteTargetType = enum("InviteTargetType", { Stream = 1, EmbeddedApplication = 2 })

--- Kinds of webhook: incoming, channel follower, application.
---@enum discord.WebhookType
enums.WebhookType = enum("WebhookType", { Incoming = 1, ChannelFollower = 2, Application = 3 })

-- Users and presences ------------------------------------------------------------------------------------

--- Nitro subscription of a user.
---@enum discord.UserPremiumType
enums.UserPremiumType = enum("UserPremiumType", { None = 0, NitroClassic = 1, Nitro = 2, NitroBasic = 3 })

--- Kinds of activity: Playing, Streaming, Listening, Watching, Custom, Competing.
---@enum discord.ActivityType
enums.ActivityType = enum("ActivityType", {
  Playing = 0, Streaming = 1, Listening = 2, Watching = 3, Custom = 4, Competing = 5,
})

--- Presence statuses as strings: online, idle, dnd, invisible, offline.
---@enum discord.PresenceStatus
enums.PresenceStatus = {
  Online = "online", Idle = "idle", DoNotDisturb = "dnd", Invisible = "invisible", Offline = "offline",
}

--- Whether a team member has accepted the invite.
---@enum discord.TeamMemberMembershipState
enums.TeamMemberMembershipState = enum("TeamMemberMembershipState", { Invited = 1, Accepted = 2 })
--- Roles of team members, as strings.
---@enum discord.TeamMemberRole
enums.TeamMemberRole = { Admin = "admin", Developer = "developer", ReadOnly = "read_only" }

-- Interactions and components ----------------------------------------------------------------------------

--- Kinds of interaction: Ping, ApplicationCommand, MessageComponent, Autocomplete, ModalSubmit.
---@enum discord.InteractionType
enums.InteractionType = enum("InteractionType", {
  Ping = 1, ApplicationCommand = 2, MessageComponent = 3, ApplicationCommandAutocomplete = 4, ModalSubmit = 5,
})

--- Kinds of interaction response (the callback types).
---@enum discord.InteractionResponseType
enums.InteractionResponseType = enum("InteractionResponseType", {
  Pong = 1, ChannelMessageWithSource = 4, DeferredChannelMessageWithSource = 5, DeferredMessageUpdate = 6,
  UpdateMessage = 7, ApplicationCommandAutocompleteResult = 8, Modal = 9, PremiumRequired = 10,
  LaunchActivity = 12,
})

--- Where a command can be used: guild, the bot's DM, other private channels.
---@enum discord.InteractionContextType
enums.InteractionContextType = enum("InteractionContextType", { Guild = 0, BotDM = 1, PrivateChannel = 2 })
--- How an app is installed: to a guild or to a user.
---@enum discord.ApplicationIntegrationType
enums.ApplicationIntegrationType = enum("ApplicationIntegrationType", { GuildInstall = 0, UserInstall = 1 })

--- State of an application's event webhooks.
---@enum discord.ApplicationEventWebhookStatus
enums.ApplicationEventWebhookStatus = enum("ApplicationEventWebhookStatus", {
  Disabled = 1, Enabled = 2, DisabledByDiscord = 3,
})

--- Comparison types of role connection metadata.
---@enum discord.ApplicationRoleConnectionMetadataType
enums.ApplicationRoleConnectionMetadataType = enum("ApplicationRoleConnectionMetadataType", {
  IntegerLessThanOrEqual = 1, IntegerGreaterThanOrEqual = 2, IntegerEqual = 3, IntegerNotEqual = 4,
  DatetimeLessThanOrEqual = 5, DatetimeGreaterThanOrEqual = 6, BooleanEqual = 7, BooleanNotEqual = 8,
})

--- Kinds of command: ChatInput (slash), User, Message, PrimaryEntryPoint.
---@enum discord.ApplicationCommandType
enums.ApplicationCommandType = enum("ApplicationCommandType", {
  ChatInput = 1, User = 2, Message = 3, PrimaryEntryPoint = 4,
})

--- Types of slash command options: String, Integer, Boolean, User, Channel, ...
---@enum discord.ApplicationCommandOptionType
enums.ApplicationCommandOptionType = enum("ApplicationCommandOptionType", {
  Subcommand = 1, SubcommandGroup = 2, String = 3, Integer = 4, Boolean = 5, User = 6, Channel = 7, Role = 8,
  Mentionable = 9, Number = 10, Attachment = 11,
})

--- Whom a command permission is for: role, user or channel.
---@enum discord.ApplicationCommandPermissionType
enums.ApplicationCommandPermissionType = enum("ApplicationCommandPermissionType", {
  Role = 1, User = 2, Channel = 3,
})

--- Who handles the primary entry point command: the app or Discord.
---@enum discord.EntryPointCommandHandlerType
enums.EntryPointCommandHandlerType = enum("EntryPointCommandHandlerType", {
  AppHandler = 1, DiscordLaunchActivity = 2,
})

--- Kinds of message and modal component: ActionRow, Button, selects, TextInput, layout, ...
---@enum discord.ComponentType
enums.ComponentType = enum("ComponentType", {
  ActionRow = 1, Button = 2, StringSelect = 3, TextInput = 4, UserSelect = 5, RoleSelect = 6,
  MentionableSelect = 7, ChannelSelect = 8, Section = 9, TextDisplay = 10, Thumbnail = 11, MediaGallery = 12,
  File = 13, Separator = 14, ContentInventoryEntry = 16, Container = 17, Label = 18, FileUpload = 19,
  RadioGroup = 21, CheckboxGroup = 22, Checkbox = 23,
})

--- Button styles: Primary, Secondary, Success, Danger, Link, Premium.
---@enum discord.ButtonStyle
enums.ButtonStyle = enum("ButtonStyle", {
  Primary = 1, Secondary = 2, Success = 3, Danger = 4, Link = 5, Premium = 6,
})

--- Text input styles: Short (one line) or Paragraph.
---@enum discord.TextInputStyle
enums.TextInputStyle = enum("TextInputStyle", { Short = 1, Paragraph = 2 })

--- Kinds of default value of auto-populated selects, as strings.
---@enum discord.SelectMenuDefaultValueType
enums.SelectMenuDefaultValueType = { Channel = "channel", Role = "role", User = "user" }

--- Padding of a separator component.
---@enum discord.SeparatorSpacingSize
enums.SeparatorSpacingSize = enum("SeparatorSpacingSize", { Small = 1, Large = 2 })

-- Monetisation -------------------------------------------------------------------------------------------

--- How an entitlement was obtained: purchase, premium subscription, test, ...
---@enum discord.EntitlementType
enums.EntitlementType = enum("EntitlementType", {
  Purchase = 1, PremiumSubscription = 2, DeveloperGift = 3, TestModePurchase = 4, FreePurchase = 5,
  UserGift = 6, PremiumPurchase = 7, ApplicationSubscription = 8,
})

--- Kinds of SKU: durable, consumable, subscription.
---@enum discord.SKUType
enums.SKUType = enum("SKUType", { Durable = 2, Consumable = 3, Subscription = 5, SubscriptionGroup = 6 })

--- States of a subscription: Active, Inactive, Ending.
---@enum discord.SubscriptionStatus
enums.SubscriptionStatus = enum("SubscriptionStatus", { Active = 0, Inactive = 1, Ending = 2 })

-- Locales ------------------------------------------------------------------------------------------------

--- Locales Discord supports, as strings ("en-US", "de", ...).
---@enum discord.Locale
enums.Locale = {
  Indonesian = "id", EnglishUS = "en-US", EnglishGB = "en-GB", Bulgarian = "bg", ChineseCN = "zh-CN",
  ChineseTW = "zh-TW", Croatian = "hr", Czech = "cs", Danish = "da", Dutch = "nl", Finnish = "fi",
  French = "fr", German = "de", Greek = "el", Hindi = "hi", Hungarian = "hu", Italian = "it", Japanese = "ja",
  Korean = "ko", Lithuanian = "lt", Norwegian = "no", Polish = "pl", PortugueseBR = "pt-BR", Romanian = "ro",
  Russian = "ru", SpanishES = "es-ES", SpanishLATAM = "es-419", Swedish = "sv-SE", Thai = "th", Turkish = "tr",
  Ukrainian = "uk", Vietnamese = "vi",
}

--- Gateway dispatch names -> library event names, where the camelCase rule does not give the name.
---@type table<string, string>
enums.EventNames = {
  GUILD_ROLE_CREATE = "roleCreate", GUILD_ROLE_UPDATE = "roleUpdate", GUILD_ROLE_DELETE = "roleDelete",
  GUILD_MEMBER_ADD = "guildMemberAdd", GUILD_MEMBER_UPDATE = "guildMemberUpdate",
  GUILD_MEMBER_REMOVE = "guildMemberRemove", GUILD_MEMBERS_CHUNK = "guildMembersChunk",
  GUILD_EMOJIS_UPDATE = "emojiUpdate", GUILD_STICKERS_UPDATE = "stickerUpdate",
  TYPING_START = "typingStart", MESSAGE_DELETE_BULK = "messageDeleteBulk",
  INTERACTION_CREATE = "interactionCreate", WEBHOOKS_UPDATE = "webhooksUpdate",
  VOICE_SERVER_UPDATE = "voiceServerUpdate",
}

return enums
