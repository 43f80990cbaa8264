-- In-memory state of the fake Discord. Users and roles are kept in the API's JSON shape; the others
-- refer to users by ID.
local runtime = require("runtime")
local json = require("json")

local Store = {}
Store.__index = Store

local EPOCH = 1420070400000

function Store.new()
  return setmetatable({ seq = 0, users = {}, guilds = {}, channels = {}, messages = {}, guild_order = {} }, Store)
end

local function copy(t)
  local out = {}
  for k, v in pairs(t) do out[k] = v end
  return out
end
Store.copy = copy

function Store.copyKeys(from, to, keys)
  for _, k in ipairs(keys) do if from[k] ~= nil then to[k] = from[k] end end
end

function Store.has(list, v)
  for i, x in ipairs(list) do if x == v then return i end end
end

--- The object with this ID in a list, and its index.
function Store.byId(list, id)
  for i, o in ipairs(list or {}) do if o.id == id then return o, i end end
end

function Store.unescape(s) return (s:gsub("%%(%x%x)", function(h) return string.char(tonumber(h, 16)) end)) end

--- A snowflake from the virtual clock (so IDs sort by creation) that lands on `shard` of `count` (default: any).
function Store:id(shard, count)
  self.seq, count = self.seq + 1, count or 1
  local ts = runtime.time() - EPOCH
  ts = ts + ((shard or 0) - ts) % count
  return string.format("%d", (ts << 22) | (self.seq & 0x3FFFFF))
end

local function iso(ms)
  return os.date("!%Y-%m-%dT%H:%M:%S", ms // 1000) .. string.format(".%03d000+00:00", ms % 1000)
end
Store.iso = iso

function Store:addUser(u)
  local user = {
    id = self:id(), username = u.username, discriminator = "0", global_name = json.null, avatar = json.null,
    public_flags = 0, flags = 0, bot = u.bot, primary_guild = json.null,
  }
  self.users[user.id] = user
  return user
end

function Store:userJSON(user) return copy(user) end
function Store:roleJSON(role) return copy(role) end

--- g = {id, name, owner, roles = {{name, permissions}}, channels = {{name, type, parent = name}}, members}
function Store:addGuild(g)
  local guild = {
    id = g.id or self:id(), name = g.name, owner_id = g.owner.id, icon = json.null,
    roles = {}, channels = {}, members = {}, member_order = {},
  }
  self.guilds[guild.id] = guild
  self.guild_order[#self.guild_order + 1] = guild.id
  -- The @everyone role shares the guild's ID.
  self:addRole(guild, { id = guild.id, name = "@everyone", permissions = "1071698665025", position = 0 })
  for _, r in ipairs(g.roles or {}) do self:addRole(guild, r) end
  local by_name = {}
  for _, c in ipairs(g.channels or {}) do
    by_name[c.name] = self:addChannel(guild, { name = c.name, type = c.type, topic = c.topic,
      parent_id = c.parent and by_name[c.parent].id })
  end
  for _, user in ipairs(g.members) do
    guild.members[user.id] = { user_id = user.id, roles = {}, nick = json.null, joined_at = iso(runtime.time()) }
    guild.member_order[#guild.member_order + 1] = user.id
  end
  return guild
end

function Store:addRole(guild, r)
  local role = {
    id = r.id or self:id(), name = r.name, color = r.color or 0, hoist = r.hoist or false, position = r.position,
    permissions = r.permissions or "0", managed = false, mentionable = false, icon = json.null,
    unicode_emoji = json.null, flags = 0,
    colors = r.colors or { primary_color = r.color or 0, secondary_color = json.null, tertiary_color = json.null },
  }
  guild.roles[#guild.roles + 1] = role
  return role
end

function Store:addChannel(guild, c)
  local ch = {
    id = self:id(), type = c.type, name = c.name, parent_id = c.parent_id or json.null,
    topic = c.topic or json.null, nsfw = false, last_message_id = json.null, rate_limit_per_user = 0,
    permission_overwrites = json.array({}), recipients = c.recipients,
  }
  if guild then
    ch.guild_id, ch.position = guild.id, #guild.channels
    guild.channels[#guild.channels + 1] = ch.id
  end
  self.channels[ch.id] = ch
  self.messages[ch.id] = {}
  return ch
end

function Store:memberJSON(member)
  return {
    user = self:userJSON(self.users[member.user_id]), roles = json.array({ table.unpack(member.roles) }),
    nick = member.nick, joined_at = member.joined_at, avatar = json.null, banner = json.null, flags = 0,
    pending = false, premium_since = json.null, mute = false, deaf = false,
    communication_disabled_until = member.communication_disabled_until or json.null,
  }
end

-- Fields Discord sends for a DM; other channels carry everything the store keeps (threads: social.threadJSON).
local DM_FIELDS = { "id", "type", "last_message_id", "flags", "recipients" }

function Store:channelJSON(ch)
  local out = copy(ch)
  if ch.type == 1 then
    out = {}
    for _, k in ipairs(DM_FIELDS) do out[k] = ch[k] end
  end
  out.flags = ch.flags or 0
  if ch.recipients then
    out.recipients = json.array({})
    for _, uid in ipairs(ch.recipients) do out.recipients[#out.recipients + 1] = self:userJSON(self.users[uid]) end
  end
  return out
end

--- The guild as REST answers carry it.
function Store:guildRESTJSON(guild)
  local out = require("fake.discord.openapi").sample("GuildResponse", { id = guild.id, name = guild.name,
    icon = guild.icon, owner_id = guild.owner_id, roles = json.array({}) })
  for _, r in ipairs(guild.roles) do out.roles[#out.roles + 1] = self:roleJSON(r) end
  return out
end

--- The guild as GUILD_CREATE carries it.
function Store:guildJSON(guild)
  local out = {
    id = guild.id, name = guild.name, icon = guild.icon, owner_id = guild.owner_id, features = json.array({}),
    system_channel_id = json.null, joined_at = iso(runtime.time()), member_count = #guild.member_order,
    roles = json.array({}), channels = json.array({}), members = json.array({}), threads = json.array({}),
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

-- Messages
function Store:addMessage(ch, author, fields)
  local msg = {
    id = self:id(), channel_id = ch.id, author_id = author.id, content = fields.content or "",
    timestamp = iso(runtime.time()), edited_timestamp = json.null, tts = false, pinned = false, type = fields.type or 0,
    embeds = fields.embeds or json.array({}), attachments = fields.attachments or json.array({}),
    components = fields.components or json.array({}),
    flags = fields.flags or 0, message_reference = fields.message_reference or nil,
    poll = fields.poll and require("fake.discord.social").newPoll(fields.poll),
  }
  local list = self.messages[ch.id]
  list[#list + 1] = msg
  ch.last_message_id = msg.id
  return msg
end

--- A message's attachments: each ({id = n}) takes the bytes of files[n] (kept in `self.files`).
function Store:attachmentsFor(list, files)
  local out = json.array({})
  for _, a in ipairs(list or {}) do
    local part
    for _, f in ipairs(files or {}) do if tostring(f.n) == tostring(a.id) then part = f end end
    if part then
      local id = self:id()
      self.files = self.files or {}
      self.files[id] = part.data
      out[#out + 1] = { id = id, filename = a.filename or part.filename, description = a.description,
        content_type = part.content_type, size = #part.data,
        url = "https://cdn.discordapp.com/attachments/0/" .. id .. "/" .. (a.filename or part.filename),
        proxy_url = "https://media.discordapp.net/attachments/0/" .. id .. "/" .. (a.filename or part.filename) }
    end
  end
  return out
end

function Store:message(channelId, messageId) return Store.byId(self.messages[channelId], messageId) end

local SELECTS = { [3] = true, [5] = true, [6] = true, [7] = true, [8] = true }

--- Components as Discord answers them: numbered in tree order, selects with their value counts.
function Store.componentsJSON(list)
  local n = 0
  local function walk(items)
    local out = json.array({})
    for i, c in ipairs(items) do
      local d = copy(c)
      n = n + 1
      d.id = c.id or n
      if SELECTS[c.type] then d.min_values, d.max_values = c.min_values or 1, c.max_values or 1 end
      if c.components then d.components = walk(c.components) end
      if c.component then d.component = walk({ c.component })[1] end
      if c.accessory then d.accessory = walk({ c.accessory })[1] end
      out[i] = d
    end
    return out
  end
  return walk(list or {})
end

function Store:messageJSON(msg)
  local out = copy(msg)
  out.author_id, out.author = nil, self:userJSON(self.users[msg.author_id])
  out.mention_everyone = msg.content:find("@everyone", 1, true) ~= nil
  out.mentions, out.mention_roles = json.array({}), json.array({})
  for id in msg.content:gmatch("<@&(%d+)>") do out.mention_roles[#out.mention_roles + 1] = id end
  for id in msg.content:gmatch("<@!?(%d+)>") do
    if self.users[id] then out.mentions[#out.mentions + 1] = self:userJSON(self.users[id]) end
  end
  out.components = Store.componentsJSON(msg.components)
  out.embeds = json.array({})
  for i, e in ipairs(msg.embeds) do
    out.embeds[i] = copy(e)
    out.embeds[i].type = e.type or "rich"
  end
  out.reactions = require("fake.discord.social").reactionsJSON(msg, self.bot_id)
  if msg.poll then out.poll = require("fake.discord.social").pollJSON(msg.poll, self.bot_id) end
  local ref = msg.message_reference
  if ref then
    out.referenced_message = self:messageJSON(self:message(ref.channel_id, ref.message_id))
    out.referenced_message.referenced_message, out.referenced_message.reactions = nil, nil
  end
  return out
end

--- A message as MESSAGE_CREATE and MESSAGE_UPDATE carry it: the REST shape with the guild and the author's member.
function Store:messageEvent(d)
  local guild = self.guilds[self.channels[d.channel_id].guild_id]
  if not guild then return d end
  local out = copy(d)
  out.guild_id = guild.id
  local member = guild.members[d.author.id]
  if member then
    out.member = self:memberJSON(member)
    out.member.user = nil
  end
  return out
end

return Store
