-- Auto moderation: a guild's rules (trigger, actions, exemptions) and the execution events that report
-- what a rule did.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

--- An auto moderation rule of a guild: its trigger, actions and exemptions.
---@class discord.AutoModerationRule: discord.Base
---@field id discord.Snowflake The rule's ID.
---@field guild discord.Guild The guild it belongs to.
---@field name string The rule's name.
---@field creatorId discord.Snowflake Who made it.
---@field eventType integer discord.AutoModerationRuleEventType (1 MessageSend, 2 MemberUpdate).
---@field triggerType integer discord.AutoModerationRuleTriggerType (Keyword, Spam, KeywordPreset, ...).
---@field triggerMetadata discord.AutoModerationTriggerMetadataOptions? In the library's names.
---@field actions {type: integer, metadata: table}[] metadata: channelId, durationSeconds, customMessage.
---@field enabled boolean Whether it is on.
---@field exemptRoles discord.Snowflake[] IDs of roles it ignores.
---@field exemptChannels discord.Snowflake[] IDs of channels it ignores.
---@field guildId discord.Snowflake The guild's ID (read-only).
---@field creator discord.User? Who made it, when cached (read-only).
local AutoModerationRule = util.class("AutoModerationRule", Base)
M.AutoModerationRule = AutoModerationRule

local FIELDS = {
  name = "name", creator_id = "creatorId", event_type = "eventType", trigger_type = "triggerType",
  enabled = "enabled", guild_id = "guildId",
}

--- The trigger metadata in the library's names.
---@private
---@param m? table
---@return discord.AutoModerationTriggerMetadataOptions metadata
local function metadataOf(m)
  m = m or {}
  return {
    keywordFilter = m.keyword_filter or {}, regexPatterns = m.regex_patterns or {}, presets = m.presets or {},
    allowList = m.allow_list or {}, mentionTotalLimit = util.nullable(m.mention_total_limit),
    mentionRaidProtectionEnabled = m.mention_raid_protection_enabled == true,
  }
end
M.metadataOf = metadataOf

--- An action in the library's names.
---@private
---@param a table
---@return table action
local function actionOf(a)
  local md = a.metadata or {}
  return { type = a.type, metadata = { channelId = md.channel_id, durationSeconds = md.duration_seconds,
    customMessage = md.custom_message } }
end
M.actionOf = actionOf

--- `AutoModerationRule(client, data, guild)`.
---@private
---@param client discord.Client
---@param data table
---@param guild discord.Guild
function AutoModerationRule:init(client, data, guild)
  Base.init(self, client)
  self.guild = guild
  self.id = data.id
  self:_patch(data)
end

function AutoModerationRule:_patch(data)
  self:_copy(data, FIELDS)
  if data.trigger_metadata ~= nil then self.triggerMetadata = metadataOf(data.trigger_metadata) end
  if data.actions ~= nil then self.actions = util.map(data.actions, actionOf) end
  if data.exempt_roles ~= nil then self.exemptRoles = util.array(util.shallowCopy(data.exempt_roles)) end
  if data.exempt_channels ~= nil then self.exemptChannels = util.array(util.shallowCopy(data.exempt_channels)) end
  return self
end

AutoModerationRule.getters.guildId = function(self) return self.guild.id end
AutoModerationRule.getters.creator = function(self)
  return self.creatorId and self.client.users.cache:get(self.creatorId) or nil
end

local function rules(self) return self.guild.autoModerationRules end

--- Edits the rule; the trigger type cannot change.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.AutoModerationRuleOptions
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.AutoModerationRule rule
function AutoModerationRule:edit(opts, reason) return rules(self):edit(self, opts, reason) end
--- Renames the rule.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param name string
---@param reason? string Audit log reason.
---@return discord.AutoModerationRule rule
function AutoModerationRule:setName(name, reason) return self:edit({ name = name }, reason) end
--- Turns the rule on (or off with false).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param enabled? boolean
---@param reason? string Audit log reason.
---@return discord.AutoModerationRule rule
function AutoModerationRule:setEnabled(enabled, reason) return self:edit({ enabled = enabled ~= false }, reason) end
--- Replaces the rule's actions.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param actions discord.AutoModerationActionOptions[]
---@param reason? string Audit log reason.
---@return discord.AutoModerationRule rule
function AutoModerationRule:setActions(actions, reason) return self:edit({ actions = actions }, reason) end
--- Replaces the keywords of a Keyword rule.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param words string[]
---@param reason? string Audit log reason.
---@return discord.AutoModerationRule rule
function AutoModerationRule:setKeywordFilter(words, reason)
  return self:edit({ triggerMetadata = { keywordFilter = words } }, reason)
end
--- Replaces the regular expressions of a Keyword rule.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param patterns string[]
---@param reason? string Audit log reason.
---@return discord.AutoModerationRule rule
function AutoModerationRule:setRegexPatterns(patterns, reason)
  return self:edit({ triggerMetadata = { regexPatterns = patterns } }, reason)
end
--- Replaces the roles the rule does not apply to.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param roles discord.RoleResolvable[]
---@param reason? string Audit log reason.
---@return discord.AutoModerationRule rule
function AutoModerationRule:setExemptRoles(roles, reason) return self:edit({ exemptRoles = roles }, reason) end
--- Replaces the channels the rule does not apply to.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channels discord.ChannelResolvable[]
---@param reason? string Audit log reason.
---@return discord.AutoModerationRule rule
function AutoModerationRule:setExemptChannels(channels, reason)
  return self:edit({ exemptChannels = channels }, reason)
end

--- Deletes the rule; returns it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.AutoModerationRule rule
function AutoModerationRule:delete(reason)
  rules(self):delete(self, reason)
  return self
end

--- Plain table of the rule's fields, with guildId.
---@return table json
function AutoModerationRule:toJSON()
  local out = Base.toJSON(self)
  out.guild, out.guildId = nil, self.guild.id
  return out
end

-- Action executions ------------------------------------------------------------------------------------------

--- What a rule did: the `autoModerationActionExecution` event's argument.
---@class discord.AutoModerationActionExecution
---@field guild discord.Guild The guild it happened in.
---@field client discord.Client The client that received it.
---@field action {type: integer, metadata: table} The action taken, in the library's names.
---@field ruleId discord.Snowflake The ID of the rule that triggered.
---@field ruleTriggerType integer discord.AutoModerationRuleTriggerType.
---@field userId discord.Snowflake The member whose content triggered it.
---@field channelId discord.Snowflake? The channel of the message, if any.
---@field messageId discord.Snowflake? Nil when the message was blocked.
---@field alertSystemMessageId discord.Snowflake? The alert a SendAlertMessage action posted.
---@field content string The content (needs the MessageContent intent).
---@field matchedKeyword string? The keyword or pattern that matched.
---@field matchedContent string? The text that matched (needs the MessageContent intent).
---@field autoModerationRule discord.AutoModerationRule? The rule, when cached (read-only).
---@field user discord.User? (read-only).
---@field member discord.GuildMember? (read-only).
---@field channel discord.BaseChannel? (read-only).
local AutoModerationActionExecution = util.class("AutoModerationActionExecution")
M.AutoModerationActionExecution = AutoModerationActionExecution

--- `AutoModerationActionExecution(guild, data)`: AUTO_MODERATION_ACTION_EXECUTION's payload.
---@private
---@param guild discord.Guild
---@param data table
function AutoModerationActionExecution:init(guild, data)
  self.guild = guild
  self.client = guild.client
  self.action = actionOf(data.action or {})
  self.ruleId = data.rule_id
  self.ruleTriggerType = data.rule_trigger_type
  self.userId = data.user_id
  self.channelId = data.channel_id
  self.messageId = data.message_id
  self.alertSystemMessageId = data.alert_system_message_id
  self.content = data.content
  self.matchedKeyword = util.nullable(data.matched_keyword)
  self.matchedContent = util.nullable(data.matched_content)
end

AutoModerationActionExecution.getters.autoModerationRule = function(self)
  return self.guild.autoModerationRules.cache:get(self.ruleId)
end
AutoModerationActionExecution.getters.user = function(self) return self.client.users.cache:get(self.userId) end
AutoModerationActionExecution.getters.member = function(self) return self.guild.members.cache:get(self.userId) end
AutoModerationActionExecution.getters.channel = function(self)
  return self.channelId and self.client.channels.cache:get(self.channelId) or nil
end

--- Plain table of the execution's fields.
---@return table json
function AutoModerationActionExecution:toJSON()
  return { guildId = self.guild.id, ruleId = self.ruleId, userId = self.userId, channelId = self.channelId,
    messageId = self.messageId, action = self.action, content = self.content, matchedKeyword = self.matchedKeyword,
    matchedContent = self.matchedContent, ruleTriggerType = self.ruleTriggerType or json.null }
end

return M
