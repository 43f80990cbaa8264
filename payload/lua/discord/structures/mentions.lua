-- Who and what a message mentions: users, roles, channels, everyone and the replied-to user.
local util = require("discord.util")
local json = require("json")

local M = {}

local MessageMentions = util.class("MessageMentions")
M.MessageMentions = MessageMentions

-- Patterns that find mentions in message text; each capture is an ID (or everyone/here).
MessageMentions.EveryonePattern = "@(everyone)"
MessageMentions.HerePattern = "@(here)"
MessageMentions.UsersPattern = "<@!?(%d+)>"
MessageMentions.RolesPattern = "<@&(%d+)>"
MessageMentions.ChannelsPattern = "<#(%d+)>"

local Collection
local function newCollection()
  Collection = Collection or require("discord.collection").Collection
  return Collection()
end

-- Held only when there is something to hold: most messages mention nobody.
local NO_ROLES, NONE = {}, {}
MessageMentions.everyone = false
MessageMentions._roleIds = NO_ROLES
MessageMentions.getters.client = function(self) return self.message.client end

--- `MessageMentions(message, users, roles, everyone, crosspostedChannels, repliedUser)` from message data.
---@private
---@param message discord.Message
---@param users? table[]
---@param roles? discord.Snowflake[]
---@param everyone? boolean
---@param crosspostedChannels? table[]
---@param repliedUser? table
function MessageMentions:init(message, users, roles, everyone, crosspostedChannels, repliedUser)
  self.message = message
  if everyone == true then self.everyone = true end
  local client = message.client
  if users and users[1] ~= nil then
    local list, cached, guild = newCollection(), client.users, nil
    self.users = list
    for _, u in ipairs(users) do
      local user = u.id ~= nil and cached:_addByKey(u.id, u) or cached:_add(u)
      list:set(user.id, user)
      -- Mentions in guilds carry a partial member beside the user.
      if type(u.member) == "table" then
        guild = guild or message.guild
        -- The user just patched: the member need not compare it again.
        if guild then guild.members:_addWithUser(u.member, user) end
      end
    end
  end
  if roles and roles[1] ~= nil then self._roleIds = { table.unpack(roles) } end
  if crosspostedChannels and crosspostedChannels[1] ~= nil then self.crosspostedChannels = newCollection() end
  for _, c in ipairs(crosspostedChannels or NONE) do
    self.crosspostedChannels:set(c.id, { channelId = c.id, guildId = c.guild_id, type = c.type, name = c.name })
  end
  if repliedUser ~= nil and repliedUser ~= json.null then
    self.repliedUser = client.users:_add(repliedUser)
  end
end

-- Most messages mention nobody: the empty collections are made when first read.
for _, field in ipairs({ "users", "crosspostedChannels" }) do
  MessageMentions.getters[field] = function(self)
    local c = newCollection()
    rawset(self, field, c)
    return c
  end
end

--- Mentioned roles that are in the guild's cache, by ID (read-only).
---@return discord.Collection roles
MessageMentions.getters.roles = function(self)
  local out = newCollection()
  local guild = self.message.guild
  for _, id in ipairs(self._roleIds) do
    local role = guild and guild.roles.cache:get(id)
    if role then out:set(id, role) end
  end
  return out
end

--- Mentioned users that are cached members of the guild, by ID; nil outside guilds (read-only).
---@return discord.Collection? members
MessageMentions.getters.members = function(self)
  local guild = self.message.guild
  if not guild then return nil end
  local out = newCollection()
  for _, id in ipairs(self.users:keys()) do
    local member = guild.members.cache:get(id)
    if member then out:set(id, member) end
  end
  return out
end

--- Channels mentioned in the content that are in the client's cache, by ID (read-only).
---@return discord.Collection channels
MessageMentions.getters.channels = function(self)
  local out = newCollection()
  for id in (self.message.content or ""):gmatch(MessageMentions.ChannelsPattern) do
    local channel = self.client.channels.cache:get(id)
    if channel then out:set(id, channel) end
  end
  return out
end

--- User IDs written in the content (also those Discord did not resolve), in order, without repeats (read-only).
---@return discord.Snowflake[] ids
MessageMentions.getters.parsedUsers = function(self)
  local out, seen = {}, {}
  for id in (self.message.content or ""):gmatch(MessageMentions.UsersPattern) do
    if not seen[id] then
      seen[id] = true
      out[#out + 1] = id
    end
  end
  return out
end

--- Whether `x` (a user, member, role, channel or ID) is mentioned, directly, by a role or by @everyone.
---@param x any
---@param opts? {ignoreDirect?: boolean, ignoreRoles?: boolean, ignoreRepliedUser?: boolean, ignoreEveryone?: boolean}
---@return boolean mentioned
function MessageMentions:has(x, opts)
  opts = opts or {}
  local id = type(x) == "table" and x.id or x
  if id == nil then return false end
  local cls = util.className(x)
  if not opts.ignoreEveryone and self.everyone then return true end
  if not opts.ignoreDirect then
    if self.users:has(id) then
      -- A reply mentions its author without the author's ID in the text.
      local onlyByReply = self.repliedUser and self.repliedUser.id == id and not util.contains(self.parsedUsers, id)
      if not (onlyByReply and opts.ignoreRepliedUser) then return true end
    end
    if util.contains(self._roleIds, id) then return true end
    if self.channels:has(id) then return true end
  end
  if not opts.ignoreRoles and cls == "GuildMember" then
    for _, roleId in ipairs(self._roleIds) do
      if x._roles and util.contains(x._roles, roleId) then return true end
    end
  end
  return false
end

--- Plain table: everyone, users (IDs), roles (IDs), repliedUser (ID).
---@return table json
function MessageMentions:toJSON()
  return {
    everyone = self.everyone,
    users = json.array(self.users:keys()),
    roles = json.array(util.map(self._roleIds, function(id) return id end)),
    repliedUser = self.repliedUser and self.repliedUser.id or nil,
  }
end

return M
