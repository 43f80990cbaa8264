-- In-memory state of the fake Discord: users, guilds, channels, roles, members and messages, with
-- the JSON shapes the API sends.
local runtime = require("runtime")
local json = require("json")

local Store = {}
Store.__index = Store

local EPOCH = 1420070400000

function Store.new()
  return setmetatable({
    seq = 0,
    users = {}, guilds = {}, channels = {}, messages = {}, guild_order = {},
  }, Store)
end

--- A snowflake made from the virtual clock, so IDs sort by creation like real ones.
function Store:id()
  self.seq = self.seq + 1
  return string.format("%d", ((runtime.time() - EPOCH) << 22) | (self.seq & 0x3FFFFF))
end

local function iso(ms)
  return os.date("!%Y-%m-%dT%H:%M:%S", ms // 1000) .. string.format(".%03d000+00:00", ms % 1000)
end
Store.iso = iso

-- Users ------------------------------------------------------------------------------------------------

function Store:addUser(u)
  local user = {
    id = u.id or self:id(), username = u.username or "user", discriminator = "0",
    global_name = u.global_name or json.null, avatar = u.avatar or json.null, bot = u.bot or false,
  }
  self.users[user.id] = user
  return user
end

function Store:userJSON(user)
  local out = {
    id = user.id, username = user.username, discriminator = user.discriminator, global_name = user.global_name,
    avatar = user.avatar, public_flags = 0,
  }
  if user.bot then out.bot = true end
  return out
end

-- Guilds -----------------------------------------------------------------------------------------------

--- g = {name=, owner=user, roles={{name=, permissions=}}, channels={{name=, type=, parent=name}}, members={user}}
function Store:addGuild(g)
  local guild = {
    id = g.id or self:id(), name = g.name or "guild", owner_id = g.owner and g.owner.id, icon = json.null,
    roles = {}, channels = {}, members = {}, member_order = {},
  }
  self.guilds[guild.id] = guild
  self.guild_order[#self.guild_order + 1] = guild.id
  -- The @everyone role shares the guild's ID.
  self:addRole(guild, { id = guild.id, name = "@everyone", permissions = g.everyone_permissions or "1071698665025",
    position = 0 })
  for _, r in ipairs(g.roles or {}) do self:addRole(guild, r) end
  local by_name = {}
  for _, c in ipairs(g.channels or {}) do
    local ch = self:addChannel(guild, { name = c.name, type = c.type, parent_id = c.parent and by_name[c.parent].id,
      topic = c.topic })
    by_name[c.name] = ch
  end
  for _, u in ipairs(g.members or {}) do self:addMember(guild, u) end
  return guild
end

function Store:addRole(guild, r)
  local role = {
    id = r.id or self:id(), name = r.name or "role", color = r.color or 0, hoist = r.hoist or false,
    position = r.position or #guild.roles, permissions = r.permissions or "0", managed = false,
    mentionable = r.mentionable or false,
  }
  guild.roles[#guild.roles + 1] = role
  return role
end

function Store:role(guild, id)
  for i, r in ipairs(guild.roles) do
    if r.id == id then return r, i end
  end
  return nil
end

function Store:addChannel(guild, c)
  local ch = {
    id = c.id or self:id(), type = c.type or 0, name = c.name, position = c.position,
    parent_id = c.parent_id or json.null, topic = c.topic or json.null, nsfw = false,
    last_message_id = json.null, rate_limit_per_user = 0, permission_overwrites = json.array({}),
    guild_id = guild and guild.id or nil, recipients = c.recipients,
  }
  if guild then
    ch.position = ch.position or #guild.channels
    guild.channels[#guild.channels + 1] = ch.id
  end
  self.channels[ch.id] = ch
  self.messages[ch.id] = {}
  return ch
end

function Store:addMember(guild, user, roles)
  local member = { user_id = user.id, roles = roles or {}, nick = json.null, joined_at = iso(runtime.time()) }
  if not guild.members[user.id] then guild.member_order[#guild.member_order + 1] = user.id end
  guild.members[user.id] = member
  return member
end

function Store:roleJSON(role)
  local out = {}
  for k, v in pairs(role) do out[k] = v end
  return out
end

function Store:memberJSON(member)
  return {
    user = self:userJSON(self.users[member.user_id]), roles = json.array({ table.unpack(member.roles) }),
    nick = member.nick, joined_at = member.joined_at,
    communication_disabled_until = member.communication_disabled_until or json.null,
  }
end

function Store:channelJSON(ch)
  local out = {}
  for k, v in pairs(ch) do
    if k ~= "recipients" then out[k] = v end
  end
  if ch.recipients then
    out.recipients = json.array({})
    for _, uid in ipairs(ch.recipients) do out.recipients[#out.recipients + 1] = self:userJSON(self.users[uid]) end
  end
  return out
end

--- The guild as GUILD_CREATE carries it.
function Store:guildJSON(guild)
  local out = {
    id = guild.id, name = guild.name, icon = guild.icon, owner_id = guild.owner_id, features = json.array({}),
    system_channel_id = json.null, joined_at = iso(runtime.time()), member_count = #guild.member_order,
    roles = json.array({}), channels = json.array({}), members = json.array({}),
  }
  for _, r in ipairs(guild.roles) do out.roles[#out.roles + 1] = self:roleJSON(r) end
  for _, cid in ipairs(guild.channels) do
    local ch = self:channelJSON(self.channels[cid])
    ch.guild_id = nil
    out.channels[#out.channels + 1] = ch
  end
  for _, uid in ipairs(guild.member_order) do out.members[#out.members + 1] = self:memberJSON(guild.members[uid]) end
  return out
end

-- Messages ---------------------------------------------------------------------------------------------

function Store:addMessage(ch, author, fields)
  local msg = {
    id = self:id(), channel_id = ch.id, author_id = author.id, content = fields.content or "",
    timestamp = iso(runtime.time()), edited_timestamp = json.null, tts = false, mention_everyone = false,
    embeds = fields.embeds or json.array({}), attachments = json.array({}), pinned = false, type = fields.type or 0,
    flags = fields.flags or 0, message_reference = fields.message_reference, nonce = fields.nonce,
    components = fields.components or json.array({}),
  }
  local list = self.messages[ch.id]
  list[#list + 1] = msg
  ch.last_message_id = msg.id
  return msg
end

function Store:message(channelId, messageId)
  for i, m in ipairs(self.messages[channelId] or {}) do
    if m.id == messageId then return m, i end
  end
  return nil
end

local function mentionIds(content, pattern)
  local out, seen = {}, {}
  for id in content:gmatch(pattern) do
    if not seen[id] then
      seen[id] = true
      out[#out + 1] = id
    end
  end
  return out
end

function Store:messageJSON(msg)
  local ch = self.channels[msg.channel_id]
  local out = {
    id = msg.id, channel_id = msg.channel_id, author = self:userJSON(self.users[msg.author_id]),
    content = msg.content, timestamp = msg.timestamp, edited_timestamp = msg.edited_timestamp, tts = msg.tts,
    mention_everyone = msg.content:find("@everyone", 1, true) ~= nil, embeds = msg.embeds,
    attachments = msg.attachments, pinned = msg.pinned, type = msg.type, flags = msg.flags,
    components = msg.components, mentions = json.array({}),
    mention_roles = json.array(mentionIds(msg.content, "<@&(%d+)>")), nonce = msg.nonce,
  }
  for _, uid in ipairs(mentionIds(msg.content, "<@!?(%d+)>")) do
    if self.users[uid] then out.mentions[#out.mentions + 1] = self:userJSON(self.users[uid]) end
  end
  if ch.guild_id then
    out.guild_id = ch.guild_id
    local member = self.guilds[ch.guild_id].members[msg.author_id]
    if member then
      out.member = self:memberJSON(member)
      out.member.user = nil
    end
  end
  if msg.message_reference then
    out.message_reference = msg.message_reference
    local ref = self:message(msg.message_reference.channel_id or msg.channel_id, msg.message_reference.message_id)
    if ref then out.referenced_message = self:messageJSON(ref) end
  end
  return out
end

return Store
