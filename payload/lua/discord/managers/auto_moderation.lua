-- A guild's auto moderation rules: fetch, create, edit and delete, each with an audit-log reason.
local util = require("discord.util")
local json = require("json")
local base = require("discord.managers.base")

local M = {}

--- A guild's auto moderation rules (`guild.autoModerationRules`): fetch, create, edit and delete.
---@class discord.AutoModerationRuleManager: discord.ResourceManager
---@field guild discord.Guild The guild the rules belong to.
local AutoModerationRuleManager = util.class("AutoModerationRuleManager", base.ResourceManager)
M.AutoModerationRuleManager = AutoModerationRuleManager

--- Made by the guild.
---@private
---@param guild discord.Guild
---@param iterable? table[]
function AutoModerationRuleManager:init(guild, iterable)
  self.guild = guild
  base.ResourceManager.init(self, guild.client, require("discord.structures.automod").AutoModerationRule,
    "/guilds/" .. guild.id .. "/auto-moderation/rules", guild, iterable)
end

local enums = require("discord.enums")

-- Enum values may be given by name ("Keyword", "BlockMessage").
local function enumValue(enum, v, what)
  if type(v) == "string" then
    local n = enum[v]
    if n == nil then error("AutoModerationRuleManager: unknown " .. what .. " " .. v, 5) end
    return n
  end
  return v
end

local METADATA = {
  keywordFilter = "keyword_filter", regexPatterns = "regex_patterns", allowList = "allow_list",
  mentionTotalLimit = "mention_total_limit", mentionRaidProtectionEnabled = "mention_raid_protection_enabled",
}

local function metadataBody(m)
  local out = {}
  for from, to in pairs(METADATA) do
    local v = m[from]
    if type(v) == "table" then v = json.array(util.shallowCopy(v)) end
    if v ~= nil then out[to] = v end
  end
  if m.presets then
    out.presets = json.array(util.map(m.presets, function(p)
      return enumValue(enums.AutoModerationRuleKeywordPresetType, p, "preset")
    end))
  end
  return out
end

local function actionBody(self, a)
  local md = a.metadata or {}
  local out = { type = enumValue(enums.AutoModerationActionType, a.type, "action type") }
  local m = {}
  if md.channel or md.channelId then m.channel_id = self.client.channels:resolveId(md.channel or md.channelId) end
  if md.durationSeconds ~= nil then m.duration_seconds = md.durationSeconds end
  if md.customMessage ~= nil then m.custom_message = md.customMessage end
  if next(m) ~= nil then out.metadata = m end
  return out
end

--- Options of `AutoModerationRuleManager:create` and `:edit`.
---@class discord.AutoModerationRuleOptions
---@field name? string The rule's name (needed to create).
---@field eventType? integer|string discord.AutoModerationRuleEventType value or name (MessageSend by default).
---@field triggerType? integer|string discord.AutoModerationRuleTriggerType value or name (needed to create).
---@field triggerMetadata? discord.AutoModerationTriggerMetadataOptions Settings of the trigger.
---@field actions? discord.AutoModerationActionOptions[] At least one to create.
---@field enabled? boolean Whether the rule is on.
---@field exemptRoles? discord.RoleResolvable[] Roles the rule ignores (up to 20).
---@field exemptChannels? discord.ChannelResolvable[] Channels the rule ignores (up to 50).
---@field reason? string Audit log reason.

--- The trigger's settings of an auto moderation rule.
---@class discord.AutoModerationTriggerMetadataOptions
---@field keywordFilter? string[] Words to match (Keyword trigger).
---@field regexPatterns? string[] Rust regular expressions to match (Keyword trigger).
---@field presets? (integer|string)[] discord.AutoModerationRuleKeywordPresetType values or names.
---@field allowList? string[] Words that never trigger the rule.
---@field mentionTotalLimit? integer The most unique mentions a message may have (MentionSpam trigger).
---@field mentionRaidProtectionEnabled? boolean Whether to detect mention raids (MentionSpam trigger).

--- One action of an auto moderation rule.
---@class discord.AutoModerationActionOptions
---@field type integer|string discord.AutoModerationActionType value or name.
---@field metadata? discord.AutoModerationActionMetadataOptions Settings of the action.

--- Settings of one auto moderation action.
---@class discord.AutoModerationActionMetadataOptions
---@field channel? discord.ChannelResolvable Where SendAlertMessage posts (or `channelId`).
---@field channelId? discord.Snowflake Where SendAlertMessage posts (or `channel`).
---@field durationSeconds? integer How long a Timeout lasts.
---@field customMessage? string Shown to the member whose message BlockMessage blocked.
local function ruleBody(self, opts)
  local body = base.bodyOf(opts, { name = "name", enabled = "enabled" })
  if opts.eventType ~= nil then
    body.event_type = enumValue(enums.AutoModerationRuleEventType, opts.eventType, "event type")
  end
  if opts.triggerType ~= nil then
    body.trigger_type = enumValue(enums.AutoModerationRuleTriggerType, opts.triggerType, "trigger type")
  end
  if opts.triggerMetadata ~= nil then body.trigger_metadata = metadataBody(opts.triggerMetadata) end
  if opts.actions ~= nil then
    body.actions = json.array(util.map(opts.actions, function(a) return actionBody(self, a) end))
  end
  if opts.exemptRoles ~= nil then
    body.exempt_roles = json.array(util.map(opts.exemptRoles, function(r) return self.guild.roles:resolveId(r) end))
  end
  if opts.exemptChannels ~= nil then
    body.exempt_channels = json.array(util.map(opts.exemptChannels,
      function(c) return self.client.channels:resolveId(c) end))
  end
  return body
end

--- Creates a rule; enum values may be given by name ("Keyword", "BlockMessage").
--- Raises an error without a name, a trigger type or an action; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.AutoModerationRuleOptions
---@return discord.AutoModerationRule rule
function AutoModerationRuleManager:create(opts)
  opts = opts or {}
  if type(opts.name) ~= "string" or opts.name == "" then
    error("AutoModerationRuleManager:create: a name is needed", 2)
  end
  if opts.triggerType == nil or type(opts.actions) ~= "table" or #opts.actions == 0 then
    error("AutoModerationRuleManager:create: triggerType and at least one action are needed", 2)
  end
  local body = ruleBody(self, opts)
  body.event_type = body.event_type or enums.AutoModerationRuleEventType.MessageSend
  return self:_create(body, opts.reason)
end

--- Edits a rule; the trigger type cannot change.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param rule any The rule or its ID.
---@param opts discord.AutoModerationRuleOptions Only the fields to change.
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.AutoModerationRule rule
function AutoModerationRuleManager:edit(rule, opts, reason)
  opts = opts or {}
  local body = ruleBody(self, opts)
  body.trigger_type = nil
  return self:_edit(rule, body, base.reasonOf(opts, reason))
end

-- Gateway events -----------------------------------------------------------------------------------------

base.guildResource("autoModerationRules", { "AUTO_MODERATION_RULE_CREATE", "AUTO_MODERATION_RULE_UPDATE",
  "AUTO_MODERATION_RULE_DELETE", "autoModerationRuleCreate", "autoModerationRuleUpdate", "autoModerationRuleDelete" })

base.handlers.AUTO_MODERATION_ACTION_EXECUTION = function(client, packet)
  local guild = base.guildOf(client, packet.d)
  if not guild then return end
  local Execution = require("discord.structures.automod").AutoModerationActionExecution
  client:emit("autoModerationActionExecution", Execution(guild, packet.d))
end

return M
