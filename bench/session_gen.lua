-- A seeded gateway session of a big bot, written as JSON lines and as binary records (OUT.bin; not a test,
-- never checked in):
--   lua5.4 bench/session_gen.lua OUT [--scale S] [--seed N]
-- Packets as Discord sends them; lines {"mark": name} split the phases (ready, guilds, chunks, mix) and
-- the probes that follow, each of which starts from a fresh client (setup packets, then a mark, then the
-- packets whose cached objects are counted). The JavaScript side reads the JSON lines, the Lua side the records.
package.path = "bench/?.lua;payload/lua/?.lua;payload/lua/?/init.lua;tests/lua/fake/?.lua;" .. package.path
local json = require("json")

local out = assert(arg[1], "usage: session_gen.lua OUT [--scale S] [--seed N]")
local scale, seed = 1, 35
for i = 2, #arg - 1 do
  if arg[i] == "--scale" then scale = tonumber(arg[i + 1]) end
  if arg[i] == "--seed" then seed = math.tointeger(tonumber(arg[i + 1])) end
end
math.randomseed(seed)
local rand = math.random

-- Beside the JSON, the same values as binary records (OUT.bin), which the Lua side reads back far faster than
-- a JSON decoder written in Lua would, leaving only the values behind as a native decoder does.
local f = assert(io.open(out .. ".part", "w"))
local fb = assert(io.open(out .. ".bin.part", "wb"))
local record = require("session_record").record
local function write(v)
  f:write(json.encode(v), "\n")
  fb:write(record(v))
end
local seq = 0
local function send(t, d)
  seq = seq + 1
  write({ op = 0, t = t, s = seq, d = d })
end
local function mark(name) write({ mark = name }) end
local A, null = json.array, json.null

local nextId = 1180000000000000000
local function snowflake()
  nextId = nextId + rand(1, 4096)
  return tostring(nextId)
end
local EPOCH = 1765000000
local function iso(s) return os.date("!%Y-%m-%dT%H:%M:%S.000000+00:00", EPOCH + s) end

local BOT = "1100000000000000001"
local function user(n)
  if n == 0 then
    return { id = BOT, username = "tarnbot", discriminator = "0", global_name = null, avatar = null, bot = true,
      public_flags = 0, flags = 0, primary_guild = null, avatar_decoration_data = null, collectibles = null }
  end
  return { id = tostring(1200000000000000000 + n), username = "user" .. n, discriminator = "0",
    global_name = "User " .. n, avatar = n % 3 == 0 and null or ("%032x"):format(n),
    public_flags = n % 7 == 0 and 64 or 0,
    flags = 0, primary_guild = null, avatar_decoration_data = null, collectibles = null }
end
local function memberFields(g, n, m)
  m = m or {}
  local roles = {}
  for _ = 1, rand(0, 3) do roles[#roles + 1] = g.roles[rand(2, #g.roles)] end
  m.roles, m.nick = A(roles), n % 4 == 0 and ("nick" .. n) or null
  m.avatar, m.banner, m.joined_at, m.premium_since = null, null, iso(-n), null
  m.deaf, m.mute, m.pending, m.flags, m.communication_disabled_until = false, false, false, 0, null
  return m
end
local function member(g, n) return memberFields(g, n, { user = user(n) }) end

-- Guilds: most under 100 members, a few large ones of 500 channels and 250 roles.
local guildCount = math.max(4, math.floor(1000 * scale + 0.5))
local bigCount = math.max(1, math.floor(3 * scale + 0.5))
local memberTotal = math.floor(200000 * scale + 0.5)
local dispatches = math.floor(200000 * scale + 0.5)
local guilds, userCount = {}, 0
local smallTotal = 0
for i = 1, guildCount do
  local big = i <= bigCount
  local g = { id = snowflake(), big = big, members = {}, roles = {}, text = {}, voice = {} }
  g.size = big and 0 or rand(2, 98)
  if not big then smallTotal = smallTotal + g.size end
  guilds[i] = g
end
for i = 1, bigCount do guilds[i].size = (memberTotal - smallTotal) // bigCount end

local function roleData(g, i)
  return { id = i == 1 and g.id or snowflake(), name = i == 1 and "@everyone" or ("role " .. i),
    color = i == 1 and 0 or rand(0, 0xFFFFFF), colors = { primary_color = 0, secondary_color = null,
    tertiary_color = null }, hoist = i % 10 == 0, icon = null, unicode_emoji = null, position = i - 1,
    permissions = i == 1 and "2248473465835073" or "1071698660929", managed = false, mentionable = false,
    flags = 0 }
end
local function channelData(g, i, type, parent)
  local c = { id = snowflake(), type = type, name = (type == 4 and "category-" or "channel-") .. i,
    position = i, permission_overwrites = A({}), parent_id = parent or null, flags = 0 }
  if i % 5 == 0 then
    c.permission_overwrites = A({ { id = g.roles[math.min(#g.roles, 2)], type = 0, allow = "1024", deny = "0" } })
  end
  if type == 0 then
    c.topic, c.nsfw, c.last_message_id, c.rate_limit_per_user = i % 2 == 0 and "talk" or null, false, null, 0
  elseif type == 2 then
    c.bitrate, c.user_limit, c.rtc_region, c.nsfw, c.last_message_id = 64000, 0, null, false, null
  end
  return c
end

local function guildCreate(g, withMembers)
  local roles, channels, members, presences = {}, {}, {}, {}
  for i = 1, g.big and 250 or rand(2, 8) do
    roles[i] = roleData(g, i)
    g.roles[i] = roles[i].id
  end
  local nChannels = g.big and 500 or rand(3, 10)
  local category
  for i = 1, nChannels do
    local type = (i == 1 or i % 25 == 0) and 4 or (i % 10 == 3 and 2 or 0)
    local c = channelData(g, i, type, category)
    if type == 4 then category = c.id end
    channels[#channels + 1] = c
    if type == 0 then g.text[#g.text + 1] = c.id elseif type == 2 then g.voice[#g.voice + 1] = c.id end
  end
  if #g.voice == 0 then
    local c = channelData(g, nChannels + 1, 2, category)
    channels[#channels + 1], g.voice[1] = c, c.id
  end
  members[1] = member(g, 0)
  g.members[1] = 0
  for _ = 2, g.size do
    userCount = userCount + 1
    g.members[#g.members + 1] = userCount
    if withMembers then
      members[#members + 1] = member(g, userCount)
      if userCount % 3 == 0 then
        presences[#presences + 1] = { user = { id = user(userCount).id }, status = "online",
          activities = A({ { name = "a game", type = 0, id = "custom", created_at = (EPOCH + userCount) * 1000 } }),
          client_status = { desktop = "online" } }
      end
    end
  end
  return { id = g.id, name = "guild " .. g.id:sub(-4), icon = null, splash = null, discovery_splash = null,
    owner_id = user(g.members[2] or 1).id, afk_channel_id = null, afk_timeout = 300, widget_enabled = false,
    verification_level = 1, default_message_notifications = 1, explicit_content_filter = 0, roles = A(roles),
    emojis = A({}), features = A(g.big and { "COMMUNITY", "NEWS" } or {}), mfa_level = 0, application_id = null,
    system_channel_id = g.text[1], system_channel_flags = 0, rules_channel_id = null, max_members = 500000,
    vanity_url_code = null, description = null, banner = null, premium_tier = 0, premium_subscription_count = 0,
    preferred_locale = "en-US", public_updates_channel_id = null, nsfw_level = 0, stickers = A({}),
    premium_progress_bar_enabled = false, safety_alerts_channel_id = null, joined_at = iso(0),
    large = g.size > 50, unavailable = false, member_count = g.size, voice_states = A({}), members = A(members),
    channels = A(channels), threads = A({}), presences = A(presences), stage_instances = A({}),
    guild_scheduled_events = A({}), soundboard_sounds = A({}), lazy = true }
end

local function chunks(g)
  local count = math.ceil((#g.members - 1) / 1000)
  for c = 0, count - 1 do
    local list = {}
    for k = 2 + c * 1000, math.min(#g.members, 1 + (c + 1) * 1000) do list[#list + 1] = member(g, g.members[k]) end
    send("GUILD_MEMBERS_CHUNK", { guild_id = g.id, members = A(list), chunk_index = c, chunk_count = count })
  end
end

-- READY, the guilds, then the members of the large ones.
mark("ready")
local unavailable = {}
for i, g in ipairs(guilds) do unavailable[i] = { id = g.id, unavailable = true } end
local APP = BOT
send("READY", { v = 10, user = user(0), guilds = A(unavailable), session_id = "0123456789abcdef0123456789abcdef",
  resume_gateway_url = "wss://gateway-us-east1-b.discord.gg", shard = A({ 0, 1 }), private_channels = A({}),
  relationships = A({}), user_settings = {}, presences = A({}), guild_join_requests = A({}),
  geo_ordered_rtc_regions = A({}),
  application = { id = APP, flags = 565248 }, auth = {} })
mark("guilds")
for _, g in ipairs(guilds) do send("GUILD_CREATE", guildCreate(g, g.size <= 50)) end
mark("chunks")
for _, g in ipairs(guilds) do
  if g.size > 50 then chunks(g) end
end

-- The mix: where the activity is (the large guilds' first 50 text channels, one channel of each small one).
local active = {}
for _, g in ipairs(guilds) do
  for k = 1, g.big and math.min(50, #g.text) or 1 do
    active[#active + 1] = { g = g, id = g.text[k], recent = {}, weight = g.big and 12 or 1 }
  end
end
local cumulative, sum = {}, 0
for i, c in ipairs(active) do
  sum = sum + c.weight
  cumulative[i] = sum
end
local function pickChannel()
  local r, lo, hi = rand() * sum, 1, #cumulative
  while lo < hi do
    local mid = (lo + hi) // 2
    if cumulative[mid] < r then lo = mid + 1 else hi = mid end
  end
  return active[lo]
end
local function pickMember(g) return g.members[rand(2, #g.members)] end
local clock = 1000

local function messageData(c, n, id, edited)
  local mentions, embeds = {}, {}
  if rand() < 0.3 then
    local m = pickMember(c.g)
    local u = user(m)
    u.member = memberFields(c.g, m)
    u.member.user = nil
    mentions[1] = u
  end
  if rand() < 0.25 then
    embeds[1] = { type = "rich", title = "Result " .. n, description = ("words "):rep(rand(2, 20)), color = 5814783,
      fields = A({ { name = "score", value = tostring(rand(1, 99)), inline = true },
        { name = "level", value = tostring(rand(1, 50)), inline = true } }),
      footer = { text = "tarn" }, timestamp = iso(clock) }
  end
  local m = memberFields(c.g, n)
  return { id = id, channel_id = c.id, guild_id = c.g.id, author = user(n), member = m,
    content = ("message text "):rep(rand(1, 8)) .. (mentions[1] and ("<@" .. mentions[1].id .. ">") or ""),
    timestamp = iso(clock), edited_timestamp = edited and iso(clock) or null, tts = false, mention_everyone = false,
    mentions = A(mentions), mention_roles = A({}), attachments = A({}), embeds = A(embeds), pinned = false, type = 0,
    flags = 0, components = A({}), nonce = tostring(rand(1, 1 << 40)) }
end

local mix = {
  { 0.50, "MESSAGE_CREATE" }, { 0.15, "PRESENCE_UPDATE" }, { 0.10, "TYPING_START" },
  { 0.08, "MESSAGE_REACTION_ADD" }, { 0.05, "GUILD_MEMBER_UPDATE" }, { 0.05, "MESSAGE_UPDATE" },
  { 0.04, "VOICE_STATE_UPDATE" }, { 0.03, "INTERACTION_CREATE" },
}
local STATUS = { "online", "idle", "dnd", "offline" }
local EMOJI = { { id = null, name = "👍" }, { id = null, name = "🔥" }, { id = "1170000000000000001", name = "tarn",
  animated = false } }
mark("mix")
for _ = 1, dispatches do
  clock = clock + 1
  local r, t = rand(), nil
  for _, row in ipairs(mix) do
    if r < row[1] then t = row[2] break end
    r = r - row[1]
  end
  t = t or "MESSAGE_CREATE"
  local c = pickChannel()
  if (t == "MESSAGE_REACTION_ADD" or t == "MESSAGE_UPDATE") and #c.recent == 0 then t = "MESSAGE_CREATE" end
  local g, n = c.g, pickMember(c.g)
  if t == "MESSAGE_CREATE" then
    local id = snowflake()
    send(t, messageData(c, n, id))
    table.insert(c.recent, { id = id, author = n })
    if #c.recent > 20 then table.remove(c.recent, 1) end
  elseif t == "MESSAGE_UPDATE" then
    local m = c.recent[rand(1, #c.recent)]
    send(t, messageData(c, m.author, m.id, true))
  elseif t == "MESSAGE_REACTION_ADD" then
    local m = c.recent[rand(1, #c.recent)]
    send(t, { user_id = user(n).id, channel_id = c.id, message_id = m.id, guild_id = g.id,
      member = memberFields(g, n, { user = user(n) }), emoji = EMOJI[rand(1, #EMOJI)],
      message_author_id = user(m.author).id, burst = false, burst_colors = A({}), type = 0 })
  elseif t == "PRESENCE_UPDATE" then
    send(t, { user = { id = user(n).id }, guild_id = g.id, status = STATUS[rand(1, 4)],
      activities = A(rand() < 0.5
        and { { name = "a game", type = 0, id = "custom", created_at = (EPOCH + clock) * 1000 } } or {}),
      client_status = { desktop = "online" } })
  elseif t == "TYPING_START" then
    send(t, { channel_id = c.id, guild_id = g.id, user_id = user(n).id, timestamp = EPOCH + clock,
      member = memberFields(g, n, { user = user(n) }) })
  elseif t == "GUILD_MEMBER_UPDATE" then
    local m = memberFields(g, n, { user = user(n), guild_id = g.id })
    m.nick = "renamed" .. clock
    send(t, m)
  elseif t == "VOICE_STATE_UPDATE" then
    send(t, { guild_id = g.id, channel_id = g.voice[rand(1, #g.voice)], user_id = user(n).id,
      member = memberFields(g, n, { user = user(n) }), session_id = ("%032x"):format(clock), deaf = false, mute = false,
      self_deaf = rand() < 0.2, self_mute = rand() < 0.3, self_video = false, suppress = false,
      request_to_speak_timestamp = null })
  else
    local m = memberFields(g, n, { user = user(n), permissions = "2248473465835073" })
    send(t, { id = snowflake(), application_id = APP, type = 2, data = { id = "1190000000000000001", name = "roll",
      type = 1, options = A({ { name = "sides", type = 4, value = rand(2, 20) } }) },
      guild_id = g.id, channel_id = c.id,
      channel = { id = c.id, type = 0, guild_id = g.id, name = "channel", position = 1,
        permissions = "2248473465835073",
        flags = 0, parent_id = null, nsfw = false, topic = null, last_message_id = null, rate_limit_per_user = 0 },
      member = m, token = ("t"):rep(60) .. clock, version = 1, app_permissions = "2248473465835073", locale = "en-US",
      guild_locale = "en-US", entitlements = A({}), authorizing_integration_owners = { ["0"] = g.id }, context = 0,
      attachment_size_limit = 10485760 })
  end
end

-- Probes: the memory of one kind of cached object, from a fresh client each.
local function probeGuild(size, nRoles, nChannels)
  local g = { id = snowflake(), big = false, members = {}, roles = {}, text = {}, voice = {}, size = size }
  local d = guildCreate(g, true)
  local roles, channels = {}, {}
  for i = 1, nRoles do roles[i] = roleData(g, i) g.roles[i] = roles[i].id end
  for i = 1, nChannels do channels[i] = channelData(g, i, 0) end
  d.roles, d.channels = A(roles), A(channels)
  return g, d
end
local function probeReady(ids)
  local list = {}
  for i, id in ipairs(ids) do list[i] = { id = id, unavailable = true } end
  send("READY", { v = 10, user = user(0), guilds = A(list), session_id = "probe", resume_gateway_url = "wss://x",
    shard = A({ 0, 1 }), application = { id = APP, flags = 0 } })
end
-- A probe of one guild, whose measured packets follow.
local function probe(name, size, nRoles, nChannels)
  mark(name)
  local g, d = probeGuild(size, nRoles, nChannels)
  probeReady({ g.id })
  send("GUILD_CREATE", d)
  mark("measure")
  return g, d
end
-- Members (each with its user): a guild's members by chunks.
local g, d = probe("probe members 10000", 1, 2, 1)
for _ = 1, 10000 do
  userCount = userCount + 1
  g.members[#g.members + 1] = userCount
end
chunks(g)
-- Messages: 50 channels of 200 messages each (the explicit limit), authors already cached.
g, d = probe("probe messages 10000", 21, 2, 50)
for k = 1, 10000 do
  local c = { g = g, id = d.channels[(k - 1) % 50 + 1].id }
  send("MESSAGE_CREATE", messageData(c, g.members[rand(2, #g.members)], snowflake()))
end
-- Channels and roles: a guild with 5000 of each against the bare guild.
for _, what in ipairs({ "channels", "roles" }) do
  mark("probe " .. what .. " 5000")
  g, d = probeGuild(1, 1, 0)
  local g2, d2 = probeGuild(1, what == "roles" and 5001 or 1, what == "channels" and 5000 or 0)
  probeReady({ g.id, g2.id })
  send("GUILD_CREATE", d)
  mark("measure")
  send("GUILD_CREATE", d2)
end
-- Guilds: 1000 small guilds of 3 channels, 3 roles and the bot's member.
mark("probe guilds 1000")
local ids, list = {}, {}
for i = 1, 1000 do
  g, d = probeGuild(1, 3, 3)
  ids[i], list[i] = g.id, d
end
probeReady(ids)
mark("measure")
for _, gd in ipairs(list) do send("GUILD_CREATE", gd) end
-- Old objects kept by a listener of update events: 10000 member updates, each kept.
g, d = probe("probe updates 10000", 21, 2, 1)
for k = 1, 10000 do
  local m = memberFields(g, g.members[(k - 1) % 20 + 2], { user = user(g.members[(k - 1) % 20 + 2]), guild_id = g.id })
  m.nick = "renamed" .. k
  send("GUILD_MEMBER_UPDATE", m)
end
mark("end")
f:close()
fb:close()
assert(os.rename(out .. ".bin.part", out .. ".bin"))
assert(os.rename(out .. ".part", out))
