-- Package root. Loads the library eagerly, as lower layers use parts that higher ones provide, and
-- voice on first use, so a bot that never touches voice never loads it.
if _VERSION ~= "Lua 5.4" then
  error("discord: this library needs Lua 5.4, not " .. tostring(_VERSION), 0)
end

local util = require("discord.util")
local errors = require("discord.errors")
local constants = require("discord.constants")
local enums = require("discord.enums")
local formatters = require("discord.formatters")
local client = require("discord.client")
local collection = require("discord.collection")
local bitfield = require("discord.bitfield")
local intents = require("discord.intents")
local rest = require("discord.rest")

--- The package: the client and main classes, every other export loaded by name on first use.
local discord = {
  --- The library's version.
  version = "1.2.4",
  util = util,
  errors = errors,
  constants = constants,
  enums = enums,
  formatters = formatters,
  Client = client.Client,
  Collection = collection.Collection,
  LimitedCollection = collection.LimitedCollection,
  BitField = bitfield.BitField,
  PermissionsBitField = bitfield.PermissionsBitField,
  IntentsBitField = intents.IntentsBitField,
  REST = rest.REST,
  --- Path builders of the endpoints the library uses (the same table as `discord.rest.Routes`).
  Routes = rest.Routes,
}

discord.try = errors.try

-- Export name -> module. The value is the module's field of the same name, or the
-- module itself when it has none (cdn, snowflake, options ...).
local lazy = {
  cdn = "discord.cdn",
  snowflake = "discord.snowflake",
  Options = "discord.client.options",
  Partials = "discord.client.partials",
  Sweepers = "discord.client.sweepers",
  typedefs = "discord.typedefs",
  WebSocketShard = "discord.ws",
  WebSocketManager = "discord.ws",
  ShardingManager = "discord.sharding",
  Shard = "discord.sharding",
  -- Structures
  User = "discord.user",
  Guild = "discord.guild",
  GuildMember = "discord.member",
  Role = "discord.role",
  Message = "discord.message",
  MessagePayload = "discord.message",
  BaseChannel = "discord.channel",
  GuildChannel = "discord.channel",
  TextChannel = "discord.channel",
  DMChannel = "discord.channel",
  CategoryChannel = "discord.channel",
  Embed = "discord.embed",
  EmbedBuilder = "discord.embed",
  ClientUser = "discord.structures.clientuser",
  Attachment = "discord.structures.attachment",
  MessageMentions = "discord.structures.mentions",
  -- Managers
  BaseManager = "discord.managers.base",
  CachingManager = "discord.managers.base",
  UserManager = "discord.managers.user",
  GuildManager = "discord.managers.guild",
  ChannelManager = "discord.managers.channel",
  MessageManager = "discord.managers.message",
  GuildMemberManager = "discord.managers.member",
  GuildMemberRoleManager = "discord.managers.member_role",
  RoleManager = "discord.managers.role",
  CategoryChannelChildManager = "discord.managers.category_child",
  -- Interactions
  BaseInteraction = "discord.interaction",
  CommandInteraction = "discord.interaction",
  ChatInputCommandInteraction = "discord.interaction",
  ContextMenuCommandInteraction = "discord.interaction",
  UserContextMenuCommandInteraction = "discord.interaction",
  MessageContextMenuCommandInteraction = "discord.interaction",
  PrimaryEntryPointCommandInteraction = "discord.interaction",
  AutocompleteInteraction = "discord.interaction",
  MessageComponentInteraction = "discord.interaction",
  ButtonInteraction = "discord.interaction",
  StringSelectMenuInteraction = "discord.interaction",
  UserSelectMenuInteraction = "discord.interaction",
  RoleSelectMenuInteraction = "discord.interaction",
  MentionableSelectMenuInteraction = "discord.interaction",
  ChannelSelectMenuInteraction = "discord.interaction",
  ModalSubmitInteraction = "discord.interaction",
  InteractionResponse = "discord.interaction",
  InteractionCallbackResponse = "discord.interaction",
  InteractionWebhook = "discord.interaction",
  CommandInteractionOptionResolver = "discord.structures.option_resolver",
  -- Loaded on first use.
  AttachmentBuilder = "discord.builders.attachment",
  ButtonBuilder = "discord.builders.components",
  ActionRowBuilder = "discord.builders.components",
  ContainerBuilder = "discord.builders.components",
  SlashCommandBuilder = "discord.builders.slash",
  InteractionCollector = "discord.collectors",
  MessageCollector = "discord.collectors",
  ReactionCollector = "discord.collectors",
  PollBuilder = "discord.structures.poll",
  Poll = "discord.structures.poll",
  PollAnswer = "discord.structures.poll",
  MessageReaction = "discord.structures.reaction",
  ThreadChannel = "discord.channel",
  ForumChannel = "discord.channel",
  MediaChannel = "discord.channel",
  VoiceChannel = "discord.channel",
  StageChannel = "discord.channel",
  ThreadMember = "discord.structures.thread_member",
  ForumTag = "discord.structures.forum_tag",
  PermissionOverwrites = "discord.structures.permission_overwrite",
  Presence = "discord.structures.presence",
  Activity = "discord.structures.presence",
  Typing = "discord.structures.typing",
  VoiceState = "discord.structures.voicestate",
}
---@private
discord._lazy = lazy

-- Builders, application commands, received components and collectors.
for path, names in pairs({
  ["discord.builders.slash"] = {
    "SlashCommandBuilder", "ContextMenuCommandBuilder", "SlashCommandSubcommandBuilder",
    "SlashCommandSubcommandGroupBuilder", "SlashCommandStringOption", "SlashCommandIntegerOption",
    "SlashCommandNumberOption", "SlashCommandBooleanOption", "SlashCommandUserOption", "SlashCommandChannelOption",
    "SlashCommandRoleOption", "SlashCommandMentionableOption", "SlashCommandAttachmentOption",
  },
  ["discord.builders.components"] = {
    "ActionRowBuilder", "ButtonBuilder", "StringSelectMenuBuilder", "StringSelectMenuOptionBuilder",
    "UserSelectMenuBuilder", "RoleSelectMenuBuilder", "MentionableSelectMenuBuilder", "ChannelSelectMenuBuilder",
    "TextInputBuilder", "LabelBuilder", "ModalBuilder", "ContainerBuilder", "TextDisplayBuilder", "SeparatorBuilder",
    "SectionBuilder", "ThumbnailBuilder", "MediaGalleryBuilder", "MediaGalleryItemBuilder", "FileBuilder",
    "FileUploadBuilder", "RadioGroupBuilder", "RadioGroupOptionBuilder", "CheckboxGroupBuilder",
    "CheckboxGroupOptionBuilder", "CheckboxBuilder", "createComponentBuilder",
  },
  ["discord.structures.components"] = {
    "ActionRow", "ButtonComponent", "StringSelectMenuComponent", "UserSelectMenuComponent", "RoleSelectMenuComponent",
    "MentionableSelectMenuComponent", "ChannelSelectMenuComponent", "TextInputComponent", "LabelComponent",
    "SectionComponent", "TextDisplayComponent", "ThumbnailComponent", "MediaGalleryComponent", "FileComponent",
    "SeparatorComponent", "ContainerComponent", "FileUploadComponent", "RadioGroupComponent",
    "CheckboxGroupComponent", "CheckboxComponent", "createComponent",
  },
  ["discord.structures.applicationcommand"] = { "ApplicationCommand" },
  ["discord.managers.application_command"] = { "ApplicationCommandManager" },
  ["discord.managers.application_command_permissions"] = { "ApplicationCommandPermissionsManager" },
  ["discord.structures.webhook"] = { "Webhook", "WebhookClient" },
  ["discord.structures.emoji"] = { "Emoji", "GuildEmoji", "ApplicationEmoji" },
  ["discord.structures.ban"] = { "GuildBan" },
  ["discord.structures.invite"] = { "Invite" },
  ["discord.structures.sticker"] = { "Sticker", "StickerPack" },
  ["discord.structures.automod"] = { "AutoModerationRule", "AutoModerationActionExecution" },
  ["discord.structures.audit_log"] = { "GuildAuditLogs", "GuildAuditLogsEntry" },
  ["discord.structures.scheduled_event"] = { "GuildScheduledEvent" },
  ["discord.structures.stage_instance"] = { "StageInstance" },
  ["discord.structures.soundboard"] = { "SoundboardSound" },
  ["discord.structures.entitlement"] = { "Entitlement" },
  ["discord.structures.sku"] = { "SKU", "SKUFlagsBitField" },
  ["discord.structures.subscription"] = { "Subscription" },
  ["discord.structures.voice_region"] = { "VoiceRegion" },
  ["discord.structures.voice_channel_effect"] = { "VoiceChannelEffect" },
  ["discord.structures.application"] = { "ClientApplication", "Team" },
  ["discord.structures.other"] = { "GuildTemplate", "GuildPreview", "Widget", "Integration" },
  ["discord.managers.base"] = { "ResourceManager", "DataManager" },
  ["discord.managers.ban"] = { "GuildBanManager" },
  ["discord.managers.emoji"] = { "GuildEmojiManager" },
  ["discord.managers.emoji_role"] = { "GuildEmojiRoleManager" },
  ["discord.managers.application_emoji"] = { "ApplicationEmojiManager" },
  ["discord.managers.sticker"] = { "GuildStickerManager" },
  ["discord.managers.invite"] = { "GuildInviteManager" },
  ["discord.managers.auto_moderation"] = { "AutoModerationRuleManager" },
  ["discord.managers.scheduled_event"] = { "GuildScheduledEventManager" },
  ["discord.managers.stage_instance"] = { "StageInstanceManager" },
  ["discord.managers.soundboard"] = { "GuildSoundboardSoundManager" },
  ["discord.managers.entitlement"] = { "EntitlementManager" },
  ["discord.managers.sku"] = { "SKUManager" },
  ["discord.managers.subscription"] = { "SubscriptionManager" },
  ["discord.managers.voice_state"] = { "VoiceStateManager" },
  ["discord.collectors"] = {
    "Collector", "MessageCollector", "ReactionCollector", "InteractionCollector", "ModalSubmitCollector",
    "CollectorError", "awaitMessages", "awaitReactions", "awaitMessageComponent", "awaitModalSubmit",
  },
}) do
  for _, name in ipairs(names) do lazy[name] = path end
end

-- The structures every bot meets are loaded now, so that the first event does not pay for them.
for _, name in ipairs({
  "discord.snowflake", "discord.cdn", "discord.embed", "discord.user", "discord.guild", "discord.channel",
  "discord.message", "discord.member", "discord.role", "discord.managers.base",
}) do
  require(name)
end

-- The modules that keep a cache, or make the structure an event carries, register the gateway's
-- dispatch handlers when they load: the shard finds them all before its first event. The others here
-- provide what lower layers use from above: builders, collectors, the client's fetches.
for _, name in ipairs({
  "discord.builders.components", "discord.builders.attachment", "discord.builders.slash", "discord.collectors",
  "discord.structures.invite", "discord.structures.sticker", "discord.structures.voice_region",
  "discord.structures.clientuser", "discord.interaction", "discord.managers.guild", "discord.managers.channel",
  "discord.managers.message", "discord.managers.member", "discord.managers.role", "discord.managers.reaction",
  "discord.managers.poll_answer_voter", "discord.managers.presence", "discord.managers.voice_state",
  "discord.managers.application_command_permissions", "discord.managers.scheduled_event",
  "discord.managers.stage_instance", "discord.managers.auto_moderation", "discord.managers.soundboard",
  "discord.managers.ban", "discord.managers.emoji", "discord.managers.sticker", "discord.managers.invite",
  "discord.managers.entitlement", "discord.managers.subscription", "discord.structures.typing",
  "discord.structures.audit_log", "discord.structures.webhook", "discord.structures.other",
  "discord.structures.voice_channel_effect",
}) do
  require(name)
end

-- Names also found in the eagerly loaded tables: enums (ChannelType ...), error
-- classes and formatters (userMention ...).
local flat = { enums, errors, formatters }

setmetatable(discord, {
  __index = function(t, name)
    local path = lazy[name]
    local value
    if path then
      local mod = require(path)
      if type(mod) == "table" then value = mod[name] end
      if value == nil then value = mod end
    else
      for _, source in ipairs(flat) do
        if type(source) == "table" and source[name] ~= nil then
          value = source[name]
          break
        end
      end
    end
    if value ~= nil then rawset(t, name, value) end
    return value
  end,
})

return discord
