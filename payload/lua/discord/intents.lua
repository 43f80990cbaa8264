-- Gateway intents: the flag set, the privileged ones, and the intents that the events a bot listens
-- for need.
local bitfield = require("discord.bitfield")

local intents = {}

local Flags = {}
for name, n in pairs({
  Guilds = 0, GuildMembers = 1, GuildModeration = 2, GuildExpressions = 3, GuildIntegrations = 4,
  GuildWebhooks = 5, GuildInvites = 6, GuildVoiceStates = 7, GuildPresences = 8, GuildMessages = 9,
  GuildMessageReactions = 10, GuildMessageTyping = 11, DirectMessages = 12, DirectMessageReactions = 13,
  DirectMessageTyping = 14, MessageContent = 15, GuildScheduledEvents = 16, AutoModerationConfiguration = 20,
  AutoModerationExecution = 21, GuildMessagePolls = 24, DirectMessagePolls = 25,
}) do
  Flags[name] = 1 << n
end
-- Older names of the same bits.
Flags.GuildBans = Flags.GuildModeration
Flags.GuildEmojisAndStickers = Flags.GuildExpressions

--- The gateway intents a shard identifies with, as a bit field.
---@class discord.IntentsBitField: discord.BitField
local IntentsBitField = bitfield.define("IntentsBitField", Flags)
intents.IntentsBitField = IntentsBitField
--- Intent bits by name (Guilds, GuildMembers, GuildMessages, MessageContent, ...), older aliases included.
---@type table<string, integer>
intents.Flags = Flags

--- Intents Discord grants only when they are switched on for the application.
---@type integer
intents.Privileged = Flags.GuildMembers | Flags.GuildPresences | Flags.MessageContent
--- Every intent.
---@type integer
intents.All = IntentsBitField.All
--- Every intent but the privileged ones.
---@type integer
intents.NonPrivileged = IntentsBitField.All & ~intents.Privileged

--- Resolves names, integers, decimal strings or an IntentsBitField to an integer.
--- Raises `discord.LibraryError` InvalidBitField for an unknown name.
---@param v string|integer|string[]|discord.IntentsBitField
---@return integer
function intents.resolve(v)
  return IntentsBitField:resolve(v)
end

--- Names of the privileged intents in `v`.
--- Raises `discord.LibraryError` InvalidBitField for an unknown name.
---@param v string|integer|string[]|discord.IntentsBitField
---@return string[]
function intents.privilegedIn(v)
  return IntentsBitField(intents.resolve(v) & intents.Privileged):toArray()
end

local G, DM = Flags.GuildMessages, Flags.DirectMessages

-- The intents each event needs. Events outside this table need only Guilds or nothing.
local EVENT_INTENTS = {
  guildCreate = Flags.Guilds, guildUpdate = Flags.Guilds, guildDelete = Flags.Guilds,
  guildAvailable = Flags.Guilds, guildUnavailable = Flags.Guilds,
  roleCreate = Flags.Guilds, roleUpdate = Flags.Guilds, roleDelete = Flags.Guilds,
  channelCreate = Flags.Guilds, channelUpdate = Flags.Guilds, channelDelete = Flags.Guilds,
  channelPinsUpdate = Flags.Guilds | DM,
  threadCreate = Flags.Guilds, threadUpdate = Flags.Guilds, threadDelete = Flags.Guilds,
  threadListSync = Flags.Guilds, threadMemberUpdate = Flags.Guilds, threadMembersUpdate = Flags.Guilds,
  stageInstanceCreate = Flags.Guilds, stageInstanceUpdate = Flags.Guilds, stageInstanceDelete = Flags.Guilds,
  -- Member events arrive only with the privileged intent.
  guildMemberAdd = Flags.GuildMembers, guildMemberUpdate = Flags.GuildMembers,
  guildMemberRemove = Flags.GuildMembers, guildMemberAvailable = Flags.GuildMembers,
  guildAuditLogEntryCreate = Flags.GuildModeration, guildBanAdd = Flags.GuildModeration,
  guildBanRemove = Flags.GuildModeration,
  emojiCreate = Flags.GuildExpressions, emojiUpdate = Flags.GuildExpressions, emojiDelete = Flags.GuildExpressions,
  stickerCreate = Flags.GuildExpressions, stickerUpdate = Flags.GuildExpressions,
  stickerDelete = Flags.GuildExpressions, guildSoundboardSoundCreate = Flags.GuildExpressions,
  guildSoundboardSoundUpdate = Flags.GuildExpressions, guildSoundboardSoundDelete = Flags.GuildExpressions,
  guildIntegrationsUpdate = Flags.GuildIntegrations, integrationCreate = Flags.GuildIntegrations,
  integrationUpdate = Flags.GuildIntegrations, integrationDelete = Flags.GuildIntegrations,
  voiceChannelStatusUpdate = Flags.Guilds, voiceChannelStartTimeUpdate = Flags.Guilds,
  webhooksUpdate = Flags.GuildWebhooks, webhookUpdate = Flags.GuildWebhooks,
  inviteCreate = Flags.GuildInvites, inviteDelete = Flags.GuildInvites,
  voiceStateUpdate = Flags.GuildVoiceStates, voiceChannelEffectSend = Flags.GuildVoiceStates,
  presenceUpdate = Flags.GuildPresences,
  messageCreate = G | DM, messageUpdate = G | DM, messageDelete = G | DM, messageDeleteBulk = G,
  messageReactionAdd = Flags.GuildMessageReactions | Flags.DirectMessageReactions,
  messageReactionRemove = Flags.GuildMessageReactions | Flags.DirectMessageReactions,
  messageReactionRemoveAll = Flags.GuildMessageReactions | Flags.DirectMessageReactions,
  messageReactionRemoveEmoji = Flags.GuildMessageReactions | Flags.DirectMessageReactions,
  typingStart = Flags.GuildMessageTyping | Flags.DirectMessageTyping,
  guildScheduledEventCreate = Flags.GuildScheduledEvents, guildScheduledEventUpdate = Flags.GuildScheduledEvents,
  guildScheduledEventDelete = Flags.GuildScheduledEvents,
  guildScheduledEventUserAdd = Flags.GuildScheduledEvents, guildScheduledEventUserRemove = Flags.GuildScheduledEvents,
  autoModerationRuleCreate = Flags.AutoModerationConfiguration,
  autoModerationRuleUpdate = Flags.AutoModerationConfiguration,
  autoModerationRuleDelete = Flags.AutoModerationConfiguration,
  autoModerationActionExecution = Flags.AutoModerationExecution,
  messagePollVoteAdd = Flags.GuildMessagePolls | Flags.DirectMessagePolls,
  messagePollVoteRemove = Flags.GuildMessagePolls | Flags.DirectMessagePolls,
}
--- The intents each client event needs, by event name; others need only Guilds or nothing.
---@type table<string, integer>
intents.EventIntents = EVENT_INTENTS

--- Intents for a bot that listens to the named events; Guilds always, MessageContent never.
---@param events string[] Event names.
---@return integer
function intents.intentsFor(events)
  local n = Flags.Guilds
  for _, name in ipairs(events) do n = n | (EVENT_INTENTS[name] or 0) end
  return n
end

--- Names of the events that `v` gives none of their intents to.
--- Raises `discord.LibraryError` InvalidBitField for an unknown name.
---@param v string|integer|string[]|discord.IntentsBitField
---@param events string[] Event names.
---@return string[]
function intents.eventsMissing(v, events)
  local have = intents.resolve(v)
  local out = {}
  for _, name in ipairs(events) do
    local need = EVENT_INTENTS[name]
    if need and have & need == 0 then out[#out + 1] = name end
  end
  return out
end

return intents
