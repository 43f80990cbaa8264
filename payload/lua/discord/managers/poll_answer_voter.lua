-- The users who voted for one poll answer.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

local PollAnswerVoterManager = util.class("PollAnswerVoterManager", base.CachingManager)
M.PollAnswerVoterManager = PollAnswerVoterManager

--- Made by the poll answer.
---@private
---@param answer discord.PollAnswer
function PollAnswerVoterManager:init(answer)
  self.answer = answer
  base.CachingManager.init(self, answer.client, require("discord.user").User)
end

--- The user ID of a user, member, message (its author) or ID.
---@param x any
---@return discord.Snowflake? id
PollAnswerVoterManager.resolveId = function(self, x) return self.client.users:resolveId(x) end

--- One page of the users who voted for this answer, by user ID; they stay in `cache`.
--- Raises an error for a limit outside 1 to 100; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? {limit?: integer, after?: discord.UserResolvable} limit 1 to 100 (25).
---@return discord.Collection users
function PollAnswerVoterManager:fetch(opts)
  opts = opts or {}
  local limit = opts.limit or 25
  if math.type(limit) ~= "integer" or limit < 1 or limit > 100 then
    error("PollAnswerVoterManager:fetch: limit must be 1 to 100", 2)
  end
  local message = self.answer.poll.message
  local path = "/channels/" .. message.channelId .. "/polls/" .. message.id .. "/answers/" .. self.answer.id
  local query = { limit = limit, after = opts.after and self:resolveId(opts.after) }
  local res = self.client.rest:get(path, { query = query })
  local out = require("discord.collection").Collection()
  for _, data in ipairs(res.users or {}) do
    local user = self.client.users:_add(data)
    self.cache:set(user.id, user)
    out:set(user.id, user)
  end
  return out
end

-- Gateway events -----------------------------------------------------------------------------------------

-- The answer a vote is for: from the cached poll, or partial when Poll and PollAnswer partials allow.
local function pollAnswer(client, d)
  local P = base.partials()
  local message = base.eventMessage(client, d)
  if not message then return nil end
  local poll = message.poll
  local structures = require("discord.structures.poll")
  if not poll then
    if not P.enabled(client, "Poll") then return nil end
    poll = structures.Poll(client, {}, message)
    message.poll = poll
  end
  local answer = poll.answers:get(d.answer_id)
  if not answer then
    if not P.enabled(client, "PollAnswer") then return nil end
    answer = structures.PollAnswer(client, { answer_id = d.answer_id }, poll)
    poll.answers:set(d.answer_id, answer)
  end
  return answer
end

-- A vote counts on a complete answer; the voter is kept while cached.
local function vote(event, delta)
  return function(client, packet)
    local d = packet.d
    local answer = pollAnswer(client, d)
    if not answer then return end
    if not answer.partial then answer.voteCount = math.max(0, answer.voteCount + delta) end
    local user = delta > 0 and client.users.cache:get(d.user_id)
    if user then
      answer.voters.cache:set(user.id, user)
    elseif delta < 0 then
      answer.voters.cache:delete(d.user_id)
    end
    client:emit(event, answer, d.user_id)
  end
end
base.handlers.MESSAGE_POLL_VOTE_ADD = vote("messagePollVoteAdd", 1)
base.handlers.MESSAGE_POLL_VOTE_REMOVE = vote("messagePollVoteRemove", -1)

return M
