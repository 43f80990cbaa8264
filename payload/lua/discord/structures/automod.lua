-- Auto moderation: a guild's rules (trigger, actions, exemptions) and the execution events that report
-- what a rule did.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

local AutoModerationRule = util.class("AutoModerationRule", Base)
M.AutoModerationRule = AutoModerationRule

local FIELDS = {
  name = "name", creator_id = "creatorId", event_type = "eventType", trigger_type = "triggerType",
  enabled = "enabled", guild_id = "guildId",
}

--- The trigger metadata in the library's names.
local function metadataOf(m)
  m = m or {}
  return {
    keywordFilter = m.keyword_filter or {}, regexPatterns = m.regex_patterns or {}, presets = m.presets or {},
    allowList = m.allow_list or {}, mentionTotalLimit = util.nullable(m.mention_total_limit),
    mentionRaidProtectionEnabled = m.mention_raid_protection_enabled == true,
  }
end
M.metadataOf = metadataOf

local function actionOf(a)
  local md = a.metadata or {}
  return { type = a.type, metadata = { channelId = md.channel_id, durationSeconds = md.duration_seconds,
    customMessage = md.custom_message } }
end
M.actionOf = actionOf

--- `AutoModerationRule(client, data, guild)`.
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

--- (B) Edits the rule; `opts` as for AutoModerationRuleManager:create.
function AutoModerationRule:edit(opts, reason) return rules(self):edit(self, opts, reason) end
function AutoModerationRule:setName(name, reason) return self:edit({ name = name }, reason) end
function AutoModerationRule:setEnabled(enabled, reason) return self:edit({ enabled = enabled ~= false }, reason) end
function AutoModerationRule:setActions(actions, reason) return self:edit({ actions = actions }, reason) end
function AutoModerationRule:setKeywordFilter(words, reason)
  return self:edit({ triggerMetadata = { keywordFilter = words } }, reason)
end
function AutoModerationRule:setRegexPatterns(patterns, reason)
  return self:edit({ triggerMetadata = { regexPatterns = patterns } }, reason)
end
function AutoModerationRule:setExemptRoles(roles, reason) return self:edit({ exemptRoles = roles }, reason) end
function AutoModerationRule:setExemptChannels(channels, reason)
  return self:edit({ exemptChannels = channels }, reason)
end

--- (B) Deletes the rule.
function AutoModerationRule:delete(reason)
  rules(self):delete(self, reason)
  return self
end

function AutoModerationRule:toJSON()
  local out = Base.toJSON(self)
  out.guild, out.guildId = nil, self.guild.id
  return out
end

-- Action executions ------------------------------------------------------------------------------------------

local AutoModerationActionExecution = util.class("AutoModerationActionExecution")
M.AutoModerationActionExecution = AutoModerationActionExecution

--- `AutoModerationActionExecution(guild, data)`: AUTO_MODERATION_ACTION_EXECUTION's payload.
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

function AutoModerationActionExecution:toJSON()
  return { guildId = self.guild.id, ruleId = self.ruleId, userId = self.userId, channelId = self.channelId,
    messageId = self.messageId, action = self.action, content = self.content, matchedKeyword = self.matchedKeyword,
    matchedContent = self.matchedContent, ruleTriggerType = self.ruleTriggerType or json.null }
end

return M
