-- Routes of the fake Discord around messages and channels beyond sending them: reactions (with
-- their users), threads and forum posts with their members, permission overwrites. Each write
-- dispatches what Discord would send, and refuses what Discord would refuse.
local runtime = require("runtime")
local json = require("json")

local M = {}

local GUILDS, GUILD_MEMBERS, GUILD_REACTIONS, DM_REACTIONS = 1 << 0, 1 << 1, 1 << 10, 1 << 13
local THREAD_TYPES = { [10] = true, [11] = true, [12] = true }
local ARCHIVE_MINUTES = { [60] = true, [1440] = true, [4320] = true, [10080] = true }
local REQUIRE_TAG = 1 << 4

local function iso(ms)
  return os.date("!%Y-%m-%dT%H:%M:%S", ms // 1000) .. string.format(".%03d000+00:00", ms % 1000)
end

local function invalid(message) return 400, { code = 50035, message = message } end

local function unescape(s) return (s:gsub("%%(%x%x)", function(h) return string.char(tonumber(h, 16)) end)) end

-- "name:id" or a Unicode emoji from a route, as the API's emoji object; nil when malformed.
local function emojiOf(text)
  text = unescape(text)
  local name, id = text:match("^([%w_~]+):(%d+)$")
  if name then return { id = id, name = name } end
  if text == "" or text:find("[%w:]") then return nil end
  return { id = json.null, name = text }
end
M.emojiOf = emojiOf

local function sameEmoji(a, b)
  if a.id ~= json.null and a.id ~= nil then return a.id == b.id end
  return (b.id == json.null or b.id == nil) and a.name == b.name
end

--- The stored reaction of a message with this emoji, made when `create`.
function M.reaction(msg, emoji, create)
  msg.reactions = msg.reactions or {}
  for i, r in ipairs(msg.reactions) do
    if sameEmoji(r.emoji, emoji) then return r, i end
  end
  if not create then return nil end
  local r = { emoji = { id = emoji.id or json.null, name = emoji.name }, users = {}, burst = {} }
  msg.reactions[#msg.reactions + 1] = r
  return r, #msg.reactions
end

--- The message's reactions as the API sends them, `me` seen from `botId`.
function M.reactionsJSON(msg, botId)
  local out = json.array({})
  for _, r in ipairs(msg.reactions or {}) do
    local normal, burst = #r.users, #r.burst
    if normal + burst > 0 then
      local me, meBurst = false, false
      for _, u in ipairs(r.users) do me = me or u == botId end
      for _, u in ipairs(r.burst) do meBurst = meBurst or u == botId end
      out[#out + 1] = { emoji = r.emoji, count = normal + burst, count_details = { normal = normal, burst = burst },
        me = me, me_burst = meBurst, burst_colors = json.array({}) }
    end
  end
  return out
end

function M.install(server, route)
  local store = server.store

  local function bits(channel) return channel.guild_id and GUILD_REACTIONS or DM_REACTIONS end

  local function event(channel, msg, emoji, extra)
    local d = { channel_id = channel.id, message_id = msg.id, guild_id = channel.guild_id, emoji = emoji }
    for k, v in pairs(extra or {}) do d[k] = v end
    return d
  end

  --- A user reacts (`burst` for a super reaction): stored, and MESSAGE_REACTION_ADD goes out.
  function server:react(user, channel, msg, text, burst)
    local emoji = type(text) == "table" and text or emojiOf(text)
    local r = M.reaction(msg, emoji, true)
    local list = burst and r.burst or r.users
    for _, u in ipairs(list) do
      if u == user.id then return false end
    end
    list[#list + 1] = user.id
    local extra = { user_id = user.id, burst = burst == true, type = burst and 1 or 0,
      message_author_id = msg.author_id, burst_colors = json.array(burst and { "#ff0000" } or {}) }
    local guild = store.guilds[channel.guild_id]
    if guild and guild.members[user.id] then extra.member = store:memberJSON(guild.members[user.id]) end
    self:_echo("MESSAGE_REACTION_ADD", channel, event(channel, msg, r.emoji, extra), bits(channel))
    return true
  end

  local function unreact(channel, msg, emoji, userId)
    local r = M.reaction(msg, emoji)
    if not r then return false end
    for _, kind in ipairs({ "users", "burst" }) do
      for i, u in ipairs(r[kind]) do
        if u == userId then
          table.remove(r[kind], i)
          server:_echo("MESSAGE_REACTION_REMOVE", channel, event(channel, msg, r.emoji,
            { user_id = userId, burst = kind == "burst", type = kind == "burst" and 1 or 0 }), bits(channel))
          return true
        end
      end
    end
    return false
  end

  local function withEmoji(handler)
    return function(p, body, req)
      local emoji = emojiOf(req.path:match("/reactions/([^/]+)"))
      if not emoji then return 400, { code = 10014, message = "Unknown Emoji" } end
      return handler(p, emoji, body, req)
    end
  end

  -- Reads that complete partial objects.
  route("GET", "/channels/:channel", function(p) return 200, store:channelJSON(p.channel) end)
  route("GET", "/channels/:channel/messages/:message", function(p) return 200, store:messageJSON(p.message) end)
  route("GET", "/guilds/:guild/members/:member", function(p) return 200, store:memberJSON(p.member) end)

  local base = "/channels/:channel/messages/:message/reactions"
  route("PUT", base .. "/:emoji/@me", withEmoji(function(p, emoji)
    server:react(server.bot, p.channel, p.message, emoji)
    return 204
  end))
  route("DELETE", base .. "/:emoji/@me", withEmoji(function(p, emoji)
    unreact(p.channel, p.message, emoji, server.bot.id)
    return 204
  end))
  route("DELETE", base .. "/:emoji/:user", withEmoji(function(p, emoji)
    unreact(p.channel, p.message, emoji, p.user.id)
    return 204
  end))
  route("GET", base .. "/:emoji", withEmoji(function(p, emoji, _, req)
    local limit = tonumber(req.query.limit or "25")
    if not limit or limit < 1 or limit > 100 then return 400, { code = 50035, message = "Invalid limit" } end
    local r = M.reaction(p.message, emoji)
    if not r then return 404, { code = 10014, message = "Unknown Emoji" } end
    local ids = {}
    for _, u in ipairs(req.query.type == "1" and r.burst or r.users) do ids[#ids + 1] = u end
    table.sort(ids, function(a, b) return #a < #b or (#a == #b and a < b) end)
    local out, after = json.array({}), req.query.after
    for _, id in ipairs(ids) do
      local later = not after or #id > #after or (#id == #after and id > after)
      if later and #out < limit then out[#out + 1] = store:userJSON(store.users[id]) end
    end
    return 200, out
  end))
  route("DELETE", base .. "/:emoji", withEmoji(function(p, emoji)
    local r, i = M.reaction(p.message, emoji)
    if r then
      table.remove(p.message.reactions, i)
      server:_echo("MESSAGE_REACTION_REMOVE_EMOJI", p.channel, event(p.channel, p.message, r.emoji), bits(p.channel))
    end
    return 204
  end))
  route("DELETE", base, function(p)
    p.message.reactions = {}
    server:_echo("MESSAGE_REACTION_REMOVE_ALL", p.channel, event(p.channel, p.message), bits(p.channel))
    return 204
  end)
  M.installThreads(server, route)
  M.installPolls(server, route)
end

-- Threads ---------------------------------------------------------------------------------------------------

--- A thread in the store: a channel record that is not among the guild's channels. `t` = {name=, type=,
--- parent=channel, owner=user, id=, auto_archive_duration=, applied_tags=, invitable=}.
function M.addThread(store, t)
  local parent = t.parent
  local thread = {
    id = t.id or store:id(), type = t.type or 11, name = t.name, guild_id = parent.guild_id, parent_id = parent.id,
    owner_id = t.owner.id, last_message_id = json.null, rate_limit_per_user = t.rate_limit_per_user or 0,
    message_count = 0, member_count = 0, total_message_sent = 0, flags = 0, nsfw = false,
    applied_tags = json.array(t.applied_tags or {}), permission_overwrites = json.array({}),
    thread_metadata = { archived = false, auto_archive_duration = t.auto_archive_duration or 4320,
      archive_timestamp = iso(runtime.time()), locked = false, invitable = t.invitable,
      create_timestamp = iso(runtime.time()) },
    members = {}, member_order = {},
  }
  store.channels[thread.id] = thread
  store.messages[thread.id] = {}
  return thread
end

function M.threadMemberJSON(store, thread, userId, withMember)
  local m = thread.members[userId]
  local out = { id = thread.id, user_id = userId, join_timestamp = m.join_timestamp, flags = m.flags or 0 }
  local guild = store.guilds[thread.guild_id]
  if withMember and guild and guild.members[userId] then out.member = store:memberJSON(guild.members[userId]) end
  return out
end

-- The thread as the API sends it; `member` is the bot's thread member when it has joined.
function M.threadJSON(store, thread)
  local out = {}
  for k, v in pairs(thread) do
    if k ~= "members" and k ~= "member_order" then out[k] = v end
  end
  out.thread_metadata = {}
  for k, v in pairs(thread.thread_metadata) do out.thread_metadata[k] = v end
  if thread.members[store.bot_id] then out.member = M.threadMemberJSON(store, thread, store.bot_id) end
  return out
end

--- The active threads of a guild (for GUILD_CREATE and the active list).
function M.activeThreads(store, guildId)
  local out = json.array({})
  for _, ch in pairs(store.channels) do
    if THREAD_TYPES[ch.type] and ch.guild_id == guildId and not ch.thread_metadata.archived then
      out[#out + 1] = M.threadJSON(store, ch)
    end
  end
  table.sort(out, function(a, b) return #a.id < #b.id or (#a.id == #b.id and a.id < b.id) end)
  return out
end

local function installThreads(server, route)
  local store = server.store

  local function joinThread(thread, userId)
    if thread.members[userId] then return false end
    thread.members[userId] = { join_timestamp = iso(runtime.time()), flags = 0 }
    thread.member_order[#thread.member_order + 1] = userId
    thread.member_count = #thread.member_order
    return true
  end

  local function leaveThread(thread, userId)
    if not thread.members[userId] then return false end
    thread.members[userId] = nil
    for i, u in ipairs(thread.member_order) do
      if u == userId then table.remove(thread.member_order, i) break end
    end
    thread.member_count = #thread.member_order
    return true
  end

  -- Others' joins and leaves go out only with the GuildMembers intent; the bot's own always.
  local function membersUpdate(thread, added, removed)
    local session = server.gateway:sessionFor(thread.guild_id)
    local own = added == store.bot_id or removed == store.bot_id
    if not session or (not own and session.intents & GUILD_MEMBERS == 0) then return end
    server.gateway:dispatch("THREAD_MEMBERS_UPDATE", {
      id = thread.id, guild_id = thread.guild_id, member_count = thread.member_count,
      added_members = added and json.array({ M.threadMemberJSON(store, thread, added, true) }) or nil,
      removed_member_ids = removed and json.array({ removed }) or nil,
    })
  end
  M.membersUpdate = membersUpdate

  --- A user joins a thread (a public one, or is added to a private one by the fake).
  function server:joinThread(user, thread)
    if joinThread(thread, user.id) then membersUpdate(thread, user.id, nil) end
  end

  local function created(thread)
    local d = M.threadJSON(store, thread)
    d.newly_created = true
    server:_echo("THREAD_CREATE", nil, d, GUILDS)
    return d
  end

  local function checkThread(body)
    if type(body.name) ~= "string" or body.name == "" or utf8.len(body.name) > 100 then
      return "name must be 1 to 100 characters"
    end
    if body.auto_archive_duration ~= nil and not ARCHIVE_MINUTES[body.auto_archive_duration] then
      return "auto_archive_duration must be 60, 1440, 4320 or 10080"
    end
    return nil
  end

  route("POST", "/channels/:channel/threads", function(p, body)
    local parent = p.channel
    local problem = checkThread(body)
    if problem then return invalid(problem) end
    local forum = parent.type == 15 or parent.type == 16
    local kind = body.type
    if forum then
      if type(body.message) ~= "table" then return invalid("a forum post needs a message") end
      local tags = body.applied_tags or {}
      if #tags > 5 then return invalid("at most 5 tags") end
      for _, id in ipairs(tags) do
        local known = false
        for _, tag in ipairs(parent.available_tags or {}) do known = known or tag.id == id end
        if not known then return invalid("unknown tag " .. tostring(id)) end
      end
      if #tags == 0 and (parent.flags or 0) & REQUIRE_TAG ~= 0 then return invalid("a tag is required") end
      kind = 11
    elseif parent.type == 5 then
      kind = 10
    elseif parent.type ~= 0 or (kind ~= 11 and kind ~= 12) then
      return invalid("cannot create a thread of type " .. tostring(kind) .. " here")
    end
    local invitable
    if kind == 12 then invitable = body.invitable ~= false end
    local thread = M.addThread(store, { name = body.name, type = kind, parent = parent, owner = server.bot,
      auto_archive_duration = body.auto_archive_duration, applied_tags = body.applied_tags,
      invitable = invitable, rate_limit_per_user = body.rate_limit_per_user })
    joinThread(thread, server.bot.id)
    local d = M.threadJSON(store, thread)
    if forum then
      -- The starter message of a post has the post's ID.
      local msg = store:addMessage(thread, server.bot, { content = body.message.content,
        embeds = body.message.embeds })
      msg.id, thread.last_message_id, thread.message_count = thread.id, thread.id, 1
      d = M.threadJSON(store, thread)
      d.message = store:messageJSON(msg)
    end
    created(thread)
    return 201, d
  end)

  route("POST", "/channels/:channel/messages/:message/threads", function(p, body)
    local problem = checkThread(body)
    if problem then return invalid(problem) end
    if store.channels[p.message.id] then
      return 400, { code = 160004, message = "A thread has already been created for this message" }
    end
    local thread = M.addThread(store, { id = p.message.id, name = body.name, type = p.channel.type == 5 and 10 or 11,
      parent = p.channel, owner = server.bot, auto_archive_duration = body.auto_archive_duration })
    joinThread(thread, server.bot.id)
    p.message.thread_id = thread.id
    created(thread)
    return 201, M.threadJSON(store, thread)
  end)

  local function threadOf(p)
    if not THREAD_TYPES[p.channel.type] then return nil, 400, { code = 50024, message = "Not a thread" } end
    return p.channel
  end

  local function memberRoute(method, suffix, fn)
    route(method, "/channels/:channel/thread-members" .. suffix, function(p, body, req)
      local thread, status, err = threadOf(p)
      if not thread then return status, err end
      if thread.thread_metadata.archived and method ~= "GET" then
        return 400, { code = 50083, message = "Thread is archived" }
      end
      return fn(thread, p, req, body)
    end)
  end
  memberRoute("PUT", "/@me", function(thread)
    if joinThread(thread, server.bot.id) then membersUpdate(thread, server.bot.id, nil) end
    return 204
  end)
  memberRoute("DELETE", "/@me", function(thread)
    if leaveThread(thread, server.bot.id) then membersUpdate(thread, nil, server.bot.id) end
    return 204
  end)
  memberRoute("PUT", "/:user", function(thread, p)
    if joinThread(thread, p.user.id) then membersUpdate(thread, p.user.id, nil) end
    return 204
  end)
  memberRoute("DELETE", "/:user", function(thread, p)
    if leaveThread(thread, p.user.id) then membersUpdate(thread, nil, p.user.id) end
    return 204
  end)
  memberRoute("GET", "/:user", function(thread, p, req)
    if not thread.members[p.user.id] then return 404, { code = 10007, message = "Unknown Member" } end
    return 200, M.threadMemberJSON(store, thread, p.user.id, req.query.with_member == "true")
  end)
  memberRoute("GET", "", function(thread, _, req)
    local out, after = json.array({}), req.query.after
    local limit = tonumber(req.query.limit or "100")
    for _, uid in ipairs(thread.member_order) do
      if (not after or uid > after) and #out < limit then
        out[#out + 1] = M.threadMemberJSON(store, thread, uid, req.query.with_member == "true")
      end
    end
    return 200, out
  end)

  local function listed(threads)
    local members = json.array({})
    for _, t in ipairs(threads) do
      if t.member then members[#members + 1] = t.member end
    end
    return { threads = threads, members = members, has_more = false }
  end

  route("GET", "/guilds/:guild/threads/active", function(p)
    return 200, listed(M.activeThreads(store, p.guild.id))
  end)
  local function archived(p, req, pick)
    local out = json.array({})
    for _, ch in pairs(store.channels) do
      if THREAD_TYPES[ch.type] and ch.parent_id == p.channel.id and ch.thread_metadata.archived and pick(ch)
          and (not req.query.before or ch.thread_metadata.archive_timestamp < req.query.before) then
        out[#out + 1] = M.threadJSON(store, ch)
      end
    end
    table.sort(out, function(a, b) return a.thread_metadata.archive_timestamp > b.thread_metadata.archive_timestamp end)
    return 200, listed(out)
  end
  route("GET", "/channels/:channel/threads/archived/public", function(p, _, req)
    return archived(p, req, function(ch) return ch.type ~= 12 end)
  end)
  route("GET", "/channels/:channel/threads/archived/private", function(p, _, req)
    return archived(p, req, function(ch) return ch.type == 12 end)
  end)
  route("GET", "/channels/:channel/users/@me/threads/archived/private", function(p, _, req)
    return archived(p, req, function(ch) return ch.type == 12 and ch.members[store.bot_id] ~= nil end)
  end)

  -- Channel edits: threads and forums have fields of their own and threads send THREAD_UPDATE.
  local previous
  for _, r in ipairs(server.rest.routes) do
    if r.method == "PATCH" and r.template == "/channels/:channel" then previous = r.handler end
  end
  server.rest:route("PATCH", "/channels/:channel", function(req, params, body)
    local ch = store.channels[params.channel]
    if not ch or not (THREAD_TYPES[ch.type] or ch.type == 15 or ch.type == 16) then
      return previous(req, params, body)
    end
    body = body or {}
    for _, k in ipairs({ "name", "rate_limit_per_user", "flags", "topic", "default_sort_order",
      "default_forum_layout", "default_thread_rate_limit_per_user", "default_auto_archive_duration" }) do
      if body[k] ~= nil then ch[k] = body[k] end
    end
    if THREAD_TYPES[ch.type] then
      local meta = ch.thread_metadata
      if meta.locked and body.archived == false and store.bot_id ~= ch.owner_id then
        return 403, { code = 50013, message = "Missing Permissions" }
      end
      for _, k in ipairs({ "archived", "locked", "invitable", "auto_archive_duration" }) do
        if body[k] ~= nil then meta[k] = body[k] end
      end
      if body.archived ~= nil then meta.archive_timestamp = iso(runtime.time()) end
      if body.applied_tags ~= nil then
        if #body.applied_tags > 5 then return invalid("at most 5 tags") end
        ch.applied_tags = body.applied_tags
      end
      local d = M.threadJSON(store, ch)
      server:_echo("THREAD_UPDATE", nil, d, GUILDS)
      return 200, d
    end
    if body.available_tags ~= nil then
      if #body.available_tags > 20 then return invalid("at most 20 tags") end
      for _, tag in ipairs(body.available_tags) do
        if type(tag.name) ~= "string" or tag.name == "" or utf8.len(tag.name) > 20 then
          return invalid("tag names are 1 to 20 characters")
        end
        if tag.id == nil then tag.id = store:id() end
      end
      ch.available_tags = body.available_tags
    end
    if body.default_reaction_emoji ~= nil then ch.default_reaction_emoji = body.default_reaction_emoji end
    local d = store:channelJSON(ch)
    server:_echo("CHANNEL_UPDATE", nil, d, GUILDS)
    return 200, d
  end)

  route("DELETE", "/channels/:channel", function(p)
    local ch = p.channel
    store.channels[ch.id] = nil
    if THREAD_TYPES[ch.type] then
      server:_echo("THREAD_DELETE", nil, { id = ch.id, guild_id = ch.guild_id, parent_id = ch.parent_id,
        type = ch.type }, GUILDS)
      return 200, M.threadJSON(store, ch)
    end
    local guild = store.guilds[ch.guild_id]
    if guild then
      for i, id in ipairs(guild.channels) do
        if id == ch.id then table.remove(guild.channels, i) break end
      end
    end
    local d = store:channelJSON(ch)
    server:_echo("CHANNEL_DELETE", nil, d, GUILDS)
    return 200, d
  end)

  -- Overwrites: the whole channel goes out again in CHANNEL_UPDATE.
  local function overwriteRoute(method, fn)
    route(method, "/channels/:channel/permissions/:overwrite", function(p, body, req)
      local id = req.path:match("/permissions/(%d+)$")
      local list = p.channel.permission_overwrites
      for i, o in ipairs(list) do
        if o.id == id then table.remove(list, i) break end
      end
      local status, err = fn(list, id, body)
      if status then return status, err end
      server:_echo("CHANNEL_UPDATE", nil, store:channelJSON(p.channel), GUILDS)
      return 204
    end)
  end
  overwriteRoute("PUT", function(list, id, body)
    if body.type ~= 0 and body.type ~= 1 then return invalid("type must be 0 or 1") end
    list[#list + 1] = { id = id, type = body.type, allow = body.allow or "0", deny = body.deny or "0" }
  end)
  overwriteRoute("DELETE", function() end)
end
M.installThreads = installThreads

-- Polls -----------------------------------------------------------------------------------------------------

local GUILD_POLLS, DM_POLLS = 1 << 24, 1 << 25

-- Discord's refusal of a poll request, or nil.
function M.pollProblem(poll)
  if type(poll.question) ~= "table" or type(poll.question.text) ~= "string" or utf8.len(poll.question.text) > 300 then
    return "question text of at most 300 characters"
  end
  if type(poll.answers) ~= "table" or #poll.answers < 1 or #poll.answers > 10 then return "1 to 10 answers" end
  for _, a in ipairs(poll.answers) do
    local text = a.poll_media and a.poll_media.text
    if type(text) ~= "string" or text == "" or utf8.len(text) > 55 then return "answer text of 1 to 55 characters" end
  end
  if math.type(poll.duration) ~= "integer" or poll.duration < 1 or poll.duration > 768 then
    return "duration of 1 to 768 hours"
  end
  return nil
end

function M.newPoll(req)
  local poll = { question = req.question, answers = json.array({}), allow_multiselect = req.allow_multiselect,
    layout_type = req.layout_type or 1, expiry = runtime.time() + req.duration * 3600000, votes = {} }
  for i, a in ipairs(req.answers) do
    poll.answers[i] = { answer_id = i, poll_media = a.poll_media }
    poll.votes[i] = {}
  end
  return poll
end

function M.pollJSON(poll, botId)
  local counts = json.array({})
  for i, voters in ipairs(poll.votes) do
    local me = false
    for _, u in ipairs(voters) do me = me or u == botId end
    counts[#counts + 1] = { id = i, count = #voters, me_voted = me }
  end
  return { question = poll.question, answers = poll.answers, expiry = iso(poll.expiry),
    allow_multiselect = poll.allow_multiselect, layout_type = poll.layout_type,
    results = { is_finalized = poll.finalized == true, answer_counts = counts } }
end

function M.installPolls(server, route)
  local store = server.store
  local function bits(channel) return channel.guild_id and GUILD_POLLS or DM_POLLS end

  --- A user votes for (or, with `remove`, takes back) an answer; MESSAGE_POLL_VOTE_* goes out.
  function server:vote(user, channel, msg, answerId, remove)
    local voters = msg.poll.votes[answerId]
    for i, u in ipairs(voters) do
      if u == user.id then
        if not remove then return false end
        table.remove(voters, i)
      end
    end
    if not remove then voters[#voters + 1] = user.id end
    self:_echo(remove and "MESSAGE_POLL_VOTE_REMOVE" or "MESSAGE_POLL_VOTE_ADD", channel, { user_id = user.id,
      channel_id = channel.id, message_id = msg.id, guild_id = channel.guild_id, answer_id = answerId }, bits(channel))
    return true
  end

  local previous
  for _, r in ipairs(server.rest.routes) do
    if r.method == "POST" and r.template == "/channels/:channel/messages" then previous = r.handler end
  end
  server.rest:route("POST", "/channels/:channel/messages", function(req, params, body)
    local problem = body and body.poll and M.pollProblem(body.poll)
    if problem then return invalid("poll: " .. problem) end
    return previous(req, params, body)
  end)

  route("POST", "/channels/:channel/polls/:message/expire", function(p)
    local poll = p.message.poll
    if not poll then return 404, { code = 10008, message = "Unknown Message" } end
    if p.message.author_id ~= store.bot_id then return 403, { code = 50013, message = "Missing Permissions" } end
    poll.finalized, poll.expiry = true, runtime.time()
    local d = store:messageJSON(p.message)
    server:_echo("MESSAGE_UPDATE", p.channel, d)
    return 200, d
  end)
  route("GET", "/channels/:channel/polls/:message/answers/:answer", function(p, _, req)
    local id = tonumber(req.path:match("/answers/(%d+)$"))
    local voters = p.message.poll and p.message.poll.votes[id]
    if not voters then return 404, { code = 10008, message = "Unknown answer" } end
    local users = json.array({})
    for _, u in ipairs(voters) do users[#users + 1] = store:userJSON(store.users[u]) end
    return 200, { users = users }
  end)
end

return M
