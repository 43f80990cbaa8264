-- Reactions, threads, forum posts, permission overwrites and polls in the fake Discord.
local runtime = require("runtime")
local json = require("json")
local Store = require("fake.discord.store")

local M = {}

local GUILDS, GUILD_MEMBERS = 1 << 0, 1 << 1
local THREADS = { [10] = true, [11] = true, [12] = true }

local iso, has, unescape = Store.iso, Store.has, Store.unescape
local function bad(message) return 400, { code = 50035, message = message } end

-- Reactions
-- "name:id" or a Unicode emoji from a route as the API's emoji object; nil when malformed.
local function emojiOf(text)
  text = unescape(text or "")
  local name, id = text:match("^([%w_~]+):(%d+)$")
  if name then return { id = id, name = name } end
  if text == "" or text:find("[%w:]") then return nil end
  return { id = json.null, name = text }
end

local function reaction(msg, emoji, create)
  msg.reactions = msg.reactions or {}
  for i, r in ipairs(msg.reactions) do
    if (r.emoji.id ~= json.null and r.emoji.id == emoji.id) or (r.emoji.id == json.null and r.emoji.name == emoji.name)
    then return r, i end
  end
  if not create then return nil end
  local r = { emoji = { id = emoji.id or json.null, name = emoji.name }, users = {}, burst = {} }
  msg.reactions[#msg.reactions + 1] = r
  return r
end

function M.reactionsJSON(msg, botId)
  local out = json.array({})
  for _, r in ipairs(msg.reactions or {}) do
    if #r.users + #r.burst > 0 then
      out[#out + 1] = { emoji = r.emoji, count = #r.users + #r.burst, me = has(r.users, botId) ~= nil,
        count_details = { normal = #r.users, burst = #r.burst }, me_burst = has(r.burst, botId) ~= nil,
        burst_colors = json.array({}) }
    end
  end
  return out
end

local function installReactions(server, route)
  local store = server.store
  local function echo(t, ch, msg, d)
    d.channel_id, d.message_id, d.guild_id = ch.id, msg.id, ch.guild_id
    server:_echo(t, ch, d, ch.guild_id and 1 << 10 or 1 << 13)
  end

  --- A user reacts (`burst` for a super reaction); MESSAGE_REACTION_ADD goes out.
  function server:react(user, ch, msg, text, burst)
    local r = reaction(msg, type(text) == "table" and text or emojiOf(text), true)
    local list = burst and r.burst or r.users
    if has(list, user.id) then return end
    list[#list + 1] = user.id
    local g = store.guilds[ch.guild_id]
    echo("MESSAGE_REACTION_ADD", ch, msg, { emoji = r.emoji, user_id = user.id, burst = burst == true,
      type = burst and 1 or 0, member = g and g.members[user.id] and store:memberJSON(g.members[user.id]),
      burst_colors = json.array(burst and { "#ffcc00" } or {}) })
  end

  local function unreact(ch, msg, emoji, userId)
    local r = reaction(msg, emoji)
    for _, kind in ipairs({ "users", "burst" }) do
      local i = r and has(r[kind], userId)
      if i then
        table.remove(r[kind], i)
        echo("MESSAGE_REACTION_REMOVE", ch, msg, { emoji = r.emoji, user_id = userId, burst = kind == "burst" })
        return
      end
    end
  end

  local base = "/channels/:channel/messages/:message/reactions"
  local function on(method, suffix, fn)
    route(method, base .. suffix, function(p, _, req)
      local emoji = emojiOf(req.path:match("/reactions/([^/]+)"))
      if suffix ~= "" and not emoji then return 400, { code = 10014, message = "Unknown Emoji" } end
      return fn(p, emoji, req)
    end)
  end
  on("PUT", "/:emoji/@me", function(p, e) server:react(server.bot, p.channel, p.message, e) return 204 end)
  on("DELETE", "/:emoji/@me", function(p, e) unreact(p.channel, p.message, e, server.bot.id) return 204 end)
  on("DELETE", "/:emoji/:user", function(p, e) unreact(p.channel, p.message, e, p.user.id) return 204 end)
  on("GET", "/:emoji", function(p, e, req)
    local r, limit = reaction(p.message, e), tonumber(req.query.limit or "25")
    if not r then return bad("unknown emoji") end
    local out = json.array({})
    for _, id in ipairs(req.query.type == "1" and r.burst or r.users) do
      if #out < limit and (not req.query.after or id > req.query.after) then out[#out + 1] = store.users[id] end
    end
    return 200, out
  end)
  on("DELETE", "/:emoji", function(p, e)
    local r, i = reaction(p.message, e)
    if r then
      table.remove(p.message.reactions, i)
      echo("MESSAGE_REACTION_REMOVE_EMOJI", p.channel, p.message, { emoji = r.emoji })
    end
    return 204
  end)
  on("DELETE", "", function(p)
    p.message.reactions = {}
    echo("MESSAGE_REACTION_REMOVE_ALL", p.channel, p.message, {})
    return 204
  end)
end

-- Threads
-- A thread in the store: a channel that is not among its guild's channels.
local function addThread(store, parent, owner, t)
  local th = {
    id = t.id or store:id(), type = t.type, name = t.name, guild_id = parent.guild_id, parent_id = parent.id,
    owner_id = owner.id, member_count = 0, message_count = 0, flags = 0, rate_limit_per_user = 0,
    applied_tags = json.array(t.applied_tags or {}), permission_overwrites = json.array({}), members = {},
    thread_metadata = { archived = false, locked = false, auto_archive_duration = t.auto_archive_duration or 4320,
      archive_timestamp = iso(runtime.time()), create_timestamp = iso(runtime.time()), invitable = t.invitable },
  }
  store.channels[th.id], store.messages[th.id] = th, {}
  return th
end

function M.threadMemberJSON(store, th, uid, withMember)
  local g = store.guilds[th.guild_id]
  return { id = th.id, user_id = uid, join_timestamp = th.members[uid], flags = 0,
    member = withMember and g.members[uid] and store:memberJSON(g.members[uid]) or nil }
end

function M.threadJSON(store, th)
  local out = Store.copy(th)
  out.members, out.permission_overwrites, out.thread_metadata = nil, nil, {}
  out.total_message_sent = th.total_message_sent or th.message_count
  for k, v in pairs(th.thread_metadata) do out.thread_metadata[k] = v end
  if th.members[store.bot_id] then out.member = M.threadMemberJSON(store, th, store.bot_id) end
  return out
end

local function installThreads(server, route)
  local store = server.store

  -- Others' joins and leaves go out only with GuildMembers; the bot's own always.
  local function members(th, uid, join)
    if join == (th.members[uid] ~= nil) then return end
    th.members[uid] = join and iso(runtime.time()) or nil
    th.member_count = th.member_count + (join and 1 or -1)
    local session = server.gateway:sessionFor(th.guild_id)
    if not session or (uid ~= store.bot_id and session.intents & GUILD_MEMBERS == 0) then return end
    server.gateway:dispatch("THREAD_MEMBERS_UPDATE", { id = th.id, guild_id = th.guild_id,
      member_count = th.member_count, removed_member_ids = not join and json.array({ uid }) or nil,
      added_members = join and json.array({ M.threadMemberJSON(store, th, uid, true) }) or nil })
  end

  -- Names, durations and tag counts Discord's description refuses before a route runs.
  local function create(parent, body, t)
    t.name, t.auto_archive_duration = body.name, body.auto_archive_duration
    local th = addThread(store, parent, server.bot, t)
    th.members[store.bot_id], th.member_count = iso(runtime.time()), 1
    local d = M.threadJSON(store, th)
    if t.message then
      local msg = store:addMessage(th, server.bot, { content = t.message.content, embeds = t.message.embeds })
      -- A post's starter message has the post's ID.
      msg.id, th.last_message_id, th.message_count = th.id, th.id, 1
      d.message = store:messageJSON(msg)
    end
    local ev = M.threadJSON(store, th)
    ev.newly_created = true
    server:_echo("THREAD_CREATE", nil, ev, GUILDS)
    return 201, d
  end

  route("POST", "/channels/:channel/threads", function(p, body)
    local parent = p.channel
    if parent.type == 15 or parent.type == 16 then
      if type(body.message) ~= "table" then return bad("a post needs a message") end
      return create(parent, body, { type = 11, applied_tags = body.applied_tags, message = body.message })
    end
    if parent.type ~= 0 and parent.type ~= 5 then return bad("no threads here") end
    local kind = parent.type == 5 and 10 or body.type
    if kind ~= 10 and kind ~= 11 and kind ~= 12 then return bad("thread type") end
    local invitable
    if kind == 12 then invitable = body.invitable ~= false end
    return create(parent, body, { type = kind, invitable = invitable })
  end)
  route("POST", "/channels/:channel/messages/:message/threads", function(p, body)
    if store.channels[p.message.id] then return 400, { code = 160004, message = "Thread exists" } end
    return create(p.channel, body, { id = p.message.id, type = p.channel.type == 5 and 10 or 11 })
  end)

  local function memberRoute(method, suffix, fn)
    route(method, "/channels/:channel/thread-members" .. suffix, function(p, _, req)
      if not THREADS[p.channel.type] then return 400, { code = 50024, message = "Not a thread" } end
      return fn(p.channel, suffix == "/@me" and store.bot_id or p.user and p.user.id, req)
    end)
  end
  for _, suffix in ipairs({ "/@me", "/:user" }) do
    memberRoute("PUT", suffix, function(th, uid) members(th, uid, true) return 204 end)
    memberRoute("DELETE", suffix, function(th, uid) members(th, uid, false) return 204 end)
  end
  memberRoute("GET", "/:user", function(th, uid, req)
    if not th.members[uid] then return 404, { code = 10007, message = "Unknown Member" } end
    return 200, M.threadMemberJSON(store, th, uid, req.query.with_member == "true")
  end)
  route("GET", "/channels/:channel/threads/archived/public", function(p)
    local out, ms = json.array({}), json.array({})
    for _, ch in pairs(store.channels) do
      if ch.parent_id == p.channel.id and THREADS[ch.type] and ch.thread_metadata.archived then
        out[#out + 1] = M.threadJSON(store, ch)
        ms[#ms + 1] = out[#out].member
      end
    end
    return 200, { threads = out, members = ms, has_more = false }
  end)

  -- Threads and forums have fields of their own, and threads send THREAD_UPDATE.
  route("PATCH", "/channels/:channel", function(p, body)
    local ch = p.channel
    Store.copyKeys(body, ch, { "name", "topic", "nsfw", "position", "parent_id", "rate_limit_per_user", "flags",
      "applied_tags", "available_tags", "default_reaction_emoji" })
    if not THREADS[ch.type] then
      for _, tag in ipairs(ch.available_tags or {}) do tag.id = tag.id or store:id() end
      server:_echo("CHANNEL_UPDATE", nil, store:channelJSON(ch), GUILDS)
      return 200, store:channelJSON(ch)
    end
    Store.copyKeys(body, ch.thread_metadata, { "archived", "locked", "invitable", "auto_archive_duration" })
    if body.archived ~= nil then ch.thread_metadata.archive_timestamp = iso(runtime.time()) end
    local d = M.threadJSON(store, ch)
    server:_echo("THREAD_UPDATE", nil, d, GUILDS)
    return 200, d
  end)

  route("DELETE", "/channels/:channel", function(p)
    local ch = p.channel
    store.channels[ch.id] = nil
    server:_echo("THREAD_DELETE", nil, { id = ch.id, guild_id = ch.guild_id, parent_id = ch.parent_id }, GUILDS)
    return 200, M.threadJSON(store, ch)
  end)

  -- Overwrites: the whole channel goes out again in CHANNEL_UPDATE.
  for _, method in ipairs({ "PUT", "DELETE" }) do
    route(method, "/channels/:channel/permissions/:overwrite", function(p, body, req)
      local id, list = req.path:match("(%d+)$"), p.channel.permission_overwrites
      for i, o in ipairs(list) do if o.id == id then table.remove(list, i) end end
      if method == "PUT" then
        if body.type ~= 0 and body.type ~= 1 then return bad("type") end
        list[#list + 1] = { id = id, type = body.type, allow = body.allow or "0", deny = body.deny or "0" }
      end
      server:_echo("CHANNEL_UPDATE", nil, store:channelJSON(p.channel), GUILDS)
      return 204
    end)
  end
end

-- Polls
-- The stored poll: the request's fields, its expiry and the votes per answer.
function M.newPoll(req)
  local poll = { expiry = runtime.time() + req.duration * 3600000, votes = {} }
  for k, v in pairs(req) do poll[k] = v end
  for i = 1, #req.answers do poll.votes[i] = {} end
  return poll
end

function M.pollJSON(poll, botId)
  local answers, counts = json.array({}), json.array({})
  for i, voters in ipairs(poll.votes) do
    local media = Store.copy(poll.answers[i].poll_media)
    -- A Unicode emoji comes back with a null ID.
    if media.emoji then media.emoji = { id = media.emoji.id or json.null, name = media.emoji.name } end
    answers[i] = { answer_id = i, poll_media = media }
    counts[i] = { id = i, count = #voters, me_voted = has(voters, botId) ~= nil }
  end
  return { question = poll.question, answers = answers, expiry = iso(poll.expiry),
    allow_multiselect = poll.allow_multiselect, layout_type = 1,
    results = { is_finalized = poll.finalized == true, answer_counts = counts } }
end

local function installPolls(server, route)
  local store = server.store

  --- A user votes for an answer (or takes the vote back); MESSAGE_POLL_VOTE_* goes out.
  function server:vote(user, ch, msg, answerId, remove)
    local voters = msg.poll.votes[answerId]
    local i = has(voters, user.id)
    if remove and i then table.remove(voters, i) elseif not remove and not i then voters[#voters + 1] = user.id end
    self:_echo(remove and "MESSAGE_POLL_VOTE_REMOVE" or "MESSAGE_POLL_VOTE_ADD", ch, { user_id = user.id,
      channel_id = ch.id, message_id = msg.id, guild_id = ch.guild_id, answer_id = answerId },
      ch.guild_id and 1 << 24 or 1 << 25)
  end

  route("POST", "/channels/:channel/polls/:message/expire", function(p)
    if p.message.author_id ~= store.bot_id then return 403, { code = 50013, message = "Missing Permissions" } end
    p.message.poll.finalized, p.message.poll.expiry = true, runtime.time()
    local d = store:messageJSON(p.message)
    server:_echo("MESSAGE_UPDATE", p.channel, d)
    return 200, d
  end)
  route("GET", "/channels/:channel/polls/:message/answers/:answer", function(p, _, req)
    local users = json.array({})
    for _, u in ipairs(p.message.poll.votes[tonumber(req.path:match("(%d+)$"))] or {}) do
      users[#users + 1] = store.users[u]
    end
    return 200, { users = users }
  end)
end

function M.install(server, route)
  local store = server.store
  -- Reads that complete partial objects.
  route("GET", "/channels/:channel", function(p)
    return 200, THREADS[p.channel.type] and M.threadJSON(store, p.channel) or store:channelJSON(p.channel)
  end)
  route("GET", "/channels/:channel/messages/:message", function(p) return 200, store:messageJSON(p.message) end)
  route("GET", "/guilds/:guild/members/:member", function(p) return 200, store:memberJSON(p.member) end)
  installReactions(server, route)
  installThreads(server, route)
  installPolls(server, route)
end

return M
