-- Polls: the poll of a message with its answers and counts, ending it, and the request form of a
-- new poll with Discord's limits.
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

--- Discord's limits: question text, answer count and text, duration in hours (32 days at most).
---@type {question: integer, answers: integer, answerText: integer, minHours: integer, maxHours: integer}
local Limits = { question = 300, answers = 10, answerText = 55, minHours = 1, maxHours = 768 }
M.Limits = Limits

local function invalid(msg, level)
  error(require("discord.errors").LibraryError("InvalidOption", "poll", msg), level + 1)
end

local function media(v, what, limit, level)
  if type(v) == "string" then v = { text = v } end
  if type(v) ~= "table" or type(v.text) ~= "string" or v.text == "" then invalid(what .. " needs text", level + 1) end
  if util.utf8len(v.text) > limit then invalid(what .. " is longer than " .. limit .. " characters", level + 1) end
  local out = { text = v.text }
  if v.emoji ~= nil then
    local e = require("discord.structures.reaction").resolveEmoji(v.emoji)
    if not e then invalid(what .. " has an emoji that is none: " .. tostring(v.emoji), level + 1) end
    out.emoji = e.id and { id = e.id } or { name = e.name }
  end
  return out
end

--- The request form of a poll from a PollData table or a PollBuilder.
--- Raises `discord.LibraryError` InvalidOption on any limit Discord would refuse.
---@param poll discord.PollData|discord.PollBuilder
---@return table body
function M.resolvePoll(poll)
  if type(poll) == "table" and type(poll.toJSON) == "function" and not util.instanceOf(poll, M.Poll) then
    poll = poll:toJSON()
  end
  if type(poll) ~= "table" then invalid("a table {question=, answers=}", 2) end
  local question = media(poll.question, "the question", Limits.question, 2)
  question.emoji = nil
  local answers = poll.answers
  if type(answers) ~= "table" or #answers < 1 or #answers > Limits.answers then
    invalid("1 to " .. Limits.answers .. " answers", 2)
  end
  local out = json.array({})
  for i, a in ipairs(answers) do
    local m = type(a) == "table" and (a.poll_media or a.pollMedia) or a
    out[i] = { poll_media = media(m, "answer " .. i, Limits.answerText, 2) }
  end
  local hours = poll.duration
  if hours == nil then hours = 24 end
  if math.type(hours) ~= "integer" or hours < Limits.minHours or hours > Limits.maxHours then
    invalid("a duration of " .. Limits.minHours .. " to " .. Limits.maxHours .. " whole hours", 2)
  end
  local multi = poll.allowMultiselect
  if multi == nil then multi = poll.allow_multiselect end
  return { question = question, answers = out, duration = hours, allow_multiselect = multi == true,
    layout_type = poll.layoutType or poll.layout_type or 1 }
end

-- PollBuilder -----------------------------------------------------------------------------------------------

--- Builds a poll step by step; each setter checks its limit at once, `toJSON` checks the whole.
---@class discord.PollBuilder
---@field data table The poll so far: question, answers, duration, allowMultiselect, layoutType.
local PollBuilder = util.class("PollBuilder")
M.PollBuilder = PollBuilder

--- `PollBuilder([data])`: starts from a PollData table when given.
---@param data? discord.PollData
function PollBuilder:init(data)
  data = data or {}
  self.data = { question = data.question, answers = {}, duration = data.duration,
    allowMultiselect = data.allowMultiselect, layoutType = data.layoutType }
  for _, a in ipairs(data.answers or {}) do self:addAnswers(a) end
end

--- Sets the question (at most 300 characters).
--- Raises `discord.LibraryError` InvalidOption when it is empty or too long.
---@param question string|{text: string}
---@return discord.PollBuilder self
function PollBuilder:setQuestion(question)
  self.data.question = media(question, "the question", Limits.question, 2).text
  return self
end

--- Adds answers as texts or {text=, emoji=}; at most 10 in all, 55 characters each.
--- Raises `discord.LibraryError` InvalidOption on a limit.
---@param ... string|{text: string, emoji?: any}
---@return discord.PollBuilder self
function PollBuilder:addAnswers(...)
  local answers = self.data.answers
  for i = 1, select("#", ...) do
    if #answers >= Limits.answers then invalid("at most " .. Limits.answers .. " answers", 2) end
    answers[#answers + 1] = media(select(i, ...), "answer " .. (#answers + 1), Limits.answerText, 2)
  end
  return self
end

--- Replaces every answer.
--- Raises `discord.LibraryError` InvalidOption on a limit.
---@param ... string|{text: string, emoji?: any}
---@return discord.PollBuilder self
function PollBuilder:setAnswers(...)
  self.data.answers = {}
  return self:addAnswers(...)
end

--- Removes `count` answers (1 by default) at `index` (1-based).
---@param index integer
---@param count? integer
---@return discord.PollBuilder self
function PollBuilder:spliceAnswers(index, count)
  for _ = 1, count or 1 do table.remove(self.data.answers, index) end
  return self
end

--- Hours the poll stays open, 1 to 768 (24 when never set).
--- Raises `discord.LibraryError` InvalidOption outside that range.
---@param hours integer
---@return discord.PollBuilder self
function PollBuilder:setDuration(hours)
  if math.type(hours) ~= "integer" or hours < Limits.minHours or hours > Limits.maxHours then
    invalid("a duration of " .. Limits.minHours .. " to " .. Limits.maxHours .. " whole hours", 2)
  end
  self.data.duration = hours
  return self
end

--- Whether voters may pick several answers (true unless `multi` is false).
---@param multi? boolean
---@return discord.PollBuilder self
function PollBuilder:setMultiSelect(multi)
  self.data.allowMultiselect = multi ~= false
  return self
end

--- Sets the layout (1, the default, is the only one Discord has).
---@param layout integer
---@return discord.PollBuilder self
function PollBuilder:setLayoutType(layout)
  self.data.layoutType = layout
  return self
end

--- The request form of the poll.
--- Raises `discord.LibraryError` InvalidOption when the question or the answers are missing.
---@return table body
function PollBuilder:toJSON()
  local d = self.data
  local answers = util.map(d.answers, function(a)
    local out = { text = a.text }
    if a.emoji then out.emoji = a.emoji.id and { id = a.emoji.id } or a.emoji.name end
    return out
  end)
  return M.resolvePoll({ question = d.question, answers = answers, duration = d.duration,
    allowMultiselect = d.allowMultiselect, layoutType = d.layoutType })
end

-- PollAnswer ------------------------------------------------------------------------------------------------

local PollAnswer = util.class("PollAnswer", Base)
M.PollAnswer = PollAnswer

--- `PollAnswer(client, data, poll)`: `data` = {answer_id, poll_media}.
---@private
---@param client discord.Client
---@param data table
---@param poll discord.Poll
function PollAnswer:init(client, data, poll)
  Base.init(self, client)
  self.poll = poll
  self.id = data.answer_id
  self.voteCount = 0
  self.voters = require("discord.managers.poll_answer_voter").PollAnswerVoterManager(self)
  self:_patch(data)
end

function PollAnswer:_patch(data)
  local m = util.nullable(data.poll_media)
  if m then
    self.text = util.nullable(m.text)
    local e = util.nullable(m.emoji)
    self.emoji = e and require("discord.structures.reaction").ReactionEmoji(e) or nil
  end
  return self
end

--- Whether it is known only from a vote event on an uncached message (read-only).
---@return boolean partial
PollAnswer.getters.partial = function(self) return self.poll.partial or self.text == nil end

-- Poll ------------------------------------------------------------------------------------------------------

local Poll = util.class("Poll", Base)
M.Poll = Poll

--- `Poll(client, data, message)`: `data` as the API sends it in a message.
---@private
---@param client discord.Client
---@param data table
---@param message discord.Message
function Poll:init(client, data, message)
  Base.init(self, client)
  self.message = message
  self.answers = require("discord.collection").Collection()
  self.resultsFinalized = false
  self:_patch(data)
end

function Poll:_patch(data)
  local q = util.nullable(data.question)
  if q then self.question = { text = util.nullable(q.text) } end
  if data.expiry ~= nil then self.expiresTimestamp = util.parseTimestamp(util.nullable(data.expiry)) end
  if data.allow_multiselect ~= nil then self.allowMultiselect = data.allow_multiselect == true end
  if data.layout_type ~= nil then self.layoutType = data.layout_type end
  for _, a in ipairs(data.answers or {}) do
    local existing = self.answers:get(a.answer_id)
    if existing then existing:_patch(a) else self.answers:set(a.answer_id, PollAnswer(self.client, a, self)) end
  end
  local results = util.nullable(data.results)
  if results then
    self.resultsFinalized = results.is_finalized == true
    for _, c in ipairs(results.answer_counts or {}) do
      local answer = self.answers:get(c.id)
      if answer then
        answer.voteCount = c.count
        answer.meVoted = c.me_voted == true
      end
    end
  end
  return self
end

function Poll:_clone()
  local copy = Base._clone(self)
  copy.answers = self.answers:mapValues(function(a) return util.shallowCopy(a) end)
  return copy
end

--- Whether it is known only from a vote event on an uncached message (read-only).
---@return boolean partial
Poll.getters.partial = function(self) return self.question == nil end

--- When the poll closes, Unix ms (read-only).
---@return discord.Milliseconds? expiresAt
Poll.getters.expiresAt = function(self) return self.expiresTimestamp end

--- True once the poll can take no more votes.
---@return boolean ended
function Poll:hasEnded()
  if self.resultsFinalized then return true end
  return self.expiresTimestamp ~= nil and self.expiresTimestamp <= require("runtime").time()
end

--- Ends the poll now (also `poll["end"]`); only the bot's own polls. Returns the message.
--- Raises an error for another author's poll; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Message message
function Poll:expire()
  local message = self.message
  local me = self.client.user
  if message.author and me and message.author.id ~= me.id then
    error("Poll:expire: only polls the bot sent can be ended", 2)
  end
  local data = self.client.rest:post("/channels/" .. message.channelId .. "/polls/" .. message.id .. "/expire")
  return message.channel and message.channel.messages:_add(data) or message:_patch(data)
end
Poll["end"] = Poll.expire

--- Completes a partial poll by fetching its message.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Poll poll
function Poll:fetch()
  local message = self.message:fetch(true)
  return message.poll
end

--- Plain table: question, options, expiry and the answers with their counts.
---@return table json
function Poll:toJSON()
  return {
    question = self.question, allowMultiselect = self.allowMultiselect, layoutType = self.layoutType,
    expiresTimestamp = self.expiresTimestamp, resultsFinalized = self.resultsFinalized,
    answers = json.array(util.map(self.answers:values(), function(a)
      return { id = a.id, text = a.text, emoji = a.emoji and a.emoji:toJSON() or nil, voteCount = a.voteCount }
    end)),
  }
end

return M
