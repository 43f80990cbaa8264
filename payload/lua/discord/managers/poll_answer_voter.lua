-- The users who voted for one poll answer.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

local PollAnswerVoterManager = util.class("PollAnswerVoterManager", base.CachingManager)
M.PollAnswerVoterManager = PollAnswerVoterManager

function PollAnswerVoterManager:init(answer)
  self.answer = answer
  base.CachingManager.init(self, answer.client, require("discord.user").User)
end

PollAnswerVoterManager.resolveId = function(self, x) return self.client.users:resolveId(x) end

--- (B) Voters by user ID: {limit= (1-100, default 25), after=}.
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

return M
