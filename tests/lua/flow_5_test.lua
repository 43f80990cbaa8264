-- Flow: (old, new) pairs of update events, partials completed by fetch, sweepers, cache limits, polls.
local runtime = require("runtime")
local json = require("json")
local server = require("fake.discord.server")
local act = server.act

local INTENTS = { "Guilds", "GuildMembers", "GuildMessages", "MessageContent", "GuildPresences", "DirectMessages",
  "DirectMessageTyping", "GuildMessagePolls", "GuildVoiceStates", "GuildMessageReactions" }
-- Pairs of channelUpdate and threadUpdate: threads_test.
local EVENTS = { "messageUpdate", "guildUpdate", "roleUpdate", "guildMemberUpdate", "userUpdate", "presenceUpdate",
  "messageDelete", "typingStart", "cacheSweep", "error", "messagePollVoteAdd", "messagePollVoteRemove",
  "voiceStateUpdate", "messageReactionAdd" }

describe("flow: updates, partials, sweepers", function()
  local fd, client, seen

  local function start(options)
    options = options or {}
    options.intents = INTENTS
    fd, client, seen = server.session(options, EVENTS)
    return client.channels.cache:get(fd.general.id)
  end
  after_each(function() server.stop(client) end)
  local function guild() return client.guilds.cache:get(fd.guild.id) end

  it("pairs every update with the object as it was", function()
    start()
    local said = act(function() return fd:say(fd.alice, fd.general, "first") end)
    local presence = { user = { id = fd.bob.id }, guild_id = fd.guild.id, status = "online",
      activities = json.array({ { name = "Chess", type = 0 } }), client_status = { desktop = "online" } }
    act(function() fd.gateway:dispatch("PRESENCE_UPDATE", presence) end)
    local g, voice = guild(), fd.guild.channels[3]
    -- event, the cause, the field, its old and new value
    local cases = {
      { "messageUpdate", function() g.channels.cache:get(fd.general.id).messages.cache:get(said.id):edit("x") end,
        "content", "first", "x" },
      { "guildUpdate", function() fd.gateway:dispatch("GUILD_UPDATE", { id = g.id, name = "Renamed" }) end,
        "name", "Test Guild", "Renamed" },
      { "roleUpdate", function() g.roles.cache:get(fd.mod_role.id):edit({ name = "Admin" }) end,
        "name", "Mod", "Admin" },
      { "guildMemberUpdate", function() g.members.cache:get(fd.bob.id):setNickname("B") end,
        "nickname", nil, "B" },
      { "userUpdate", function()
          fd.bob.username = "robert"
          fd:memberUpdate(fd.guild, fd.guild.members[fd.bob.id])
        end, "username", "bob", "robert" },
      { "presenceUpdate", function()
          presence.status = "dnd"
          fd.gateway:dispatch("PRESENCE_UPDATE", presence)
        end, "status", "online", "dnd" },
      { "voiceStateUpdate", function()
          fd.gateway:dispatch("VOICE_STATE_UPDATE", { guild_id = g.id, user_id = fd.bob.id, channel_id = voice,
            session_id = "s", deaf = false, mute = true, self_deaf = false, self_mute = false, suppress = false })
        end, "channelId", nil, voice },
    }
    for _, c in ipairs(cases) do
      local event, cause, field, before, after = table.unpack(c)
      local n = #seen[event]
      act(cause)
      local got = seen[event][n + 1]
      assert.same({ before, after, true }, { got[1][field], got[2][field], got[1] ~= got[2] }, event)
    end
    -- A message in a new DM brings its channel.
    act(function() fd:say(fd.alice, fd.store:addChannel(nil, { type = 1, recipients = { fd.alice.id } }), "psst") end)
    assert.same({ "Chess", true, nil, "psst", {} }, { seen.presenceUpdate[2][2].activities[1].name,
      g.members.cache:get(fd.bob.id).voice.mute, seen.presenceUpdate[1][1],
      client.users.cache:get(fd.alice.id).dmChannel.messages.cache:first().content, seen.error })
  end)

  it("drops events about uncached objects unless partials allow them, then fetch completes them", function()
    -- partials; messageDelete and typingStart events, messageReactionAdd events
    for _, row in ipairs({ { {}, 0, 0 }, { { "Message", "Channel", "User" }, 1, 0 },
      { { "Message", "Channel", "User", "Reaction" }, 1, 2 } }) do
      start({ partials = row[1] })
      local dm = fd.store:addChannel(nil, { type = 1, recipients = { fd.alice.id } })
      local old = fd.store:addMessage(fd.general, fd.alice, { content = "from before" })
      act(function()
        fd:react(fd.bob, fd.general, old, "\u{1F44D}")
        fd:react(fd.alice, fd.general, old, "\u{1F44D}")
        fd.gateway:dispatch("MESSAGE_DELETE", { id = old.id, channel_id = fd.general.id, guild_id = fd.guild.id })
        fd.gateway:dispatch("TYPING_START", { channel_id = dm.id, user_id = fd.alice.id, timestamp = 1767225600 })
      end)
      local n = row[2]
      assert.same({ n, n, row[3] }, { #seen.messageDelete, #seen.typingStart, #seen.messageReactionAdd })
      if row[3] > 0 then
        local reaction = seen.messageReactionAdd[1][1]
        local partials = { reaction.partial, reaction.message.partial }
        act(function() reaction:fetch() end)
        assert.same({ { true, true }, false, 2, "from before" }, { partials, reaction.partial, reaction.count,
          reaction.message.content })
      elseif n > 0 then
        local msg, typing = seen.messageDelete[1][1], seen.typingStart[1][1]
        assert.same({ true, old.id, true, 1767225600000 }, { msg.partial, msg.id, typing.channel.partial,
          typing.startedTimestamp })
        local channel = act(function() return typing.channel:fetch() end)
        assert.same({ "DMChannel", false }, { require("discord.util").className(channel), channel.partial })
        local partial = client.channels.cache:get(fd.general.id).messages:_add({ id = old.id })
        act(function() partial:fetch() end)
        assert.same({ false, "from before" }, { partial.partial, partial.content })
      end
      server.stop(client)
    end
  end)

  it("sweeps on the virtual clock by lifetime and by filter, and keeps the bot", function()
    start({ sweepers = { messages = { interval = 60, lifetime = 120 },
      users = { interval = 300, filter = function() return function(u) return not u.bot end end } } })
    -- Sweeps every 60 s from the login: the one at 180 s is the first to find "old" (said at ~10 s) too old.
    act(function() fd:say(fd.alice, fd.general, "old") end)
    local cache = client.channels.cache:get(fd.general.id).messages.cache
    runtime.run(nil, { ["for"] = 160000 })
    local function texts() return cache:map(function(m) return m.content end) end
    assert.same({ "old" }, texts())
    runtime.run(nil, { ["for"] = 20000 })
    act(function() fd:say(fd.bob, fd.general, "new") end)
    assert.same({ { "new" }, true }, { texts(), seen.cacheSweep[#seen.cacheSweep][1]:find("Swept 1 messages") ~= nil })
    runtime.run(nil, { ["for"] = 300000 })
    assert.same({ fd.bot.id }, client.users.cache:keys())
    for _, s in ipairs({ { messages = { interval = 0, lifetime = 1 } }, { users = { interval = 1, lifetime = 5 } },
      { teapots = { interval = 1 } }, { messages = { interval = 5 } } }) do
      assert.error_matches(function() require("discord").Client({ sweepers = s }) end, "sweepers%.")
    end
  end)

  it("bounds caches per manager and keeps the bot's own member over the limit", function()
    local general = start({ makeCache = require("discord.client.options").cacheWithLimits({ MessageManager = 2,
      GuildMemberManager = 1 }) })
    act(function() for i = 1, 3 do fd:say(fd.alice, fd.general, "m" .. i) end end)
    assert.same({ "m2", "m3" }, general.messages.cache:map(function(m) return m.content end))
    -- One member besides the bot, which is kept over the limit.
    assert.same({ true, 2 }, { guild().members.me ~= nil, guild().members.cache.size })
    assert.error_matches(function() require("discord").Client({ makeCache = function() return {} end }) end,
      "makeCache", nil, true)
  end)

  it("sends a poll within Discord's limits, counts votes, lists voters and ends it", function()
    local general = start()
    local msg = act(function()
      return general:send({ poll = { question = "Lunch?", answers = { "Soup", { text = "Pie", emoji = "\u{1F967}" } },
        duration = 2 } })
    end)
    local body = fd:requests("POST", "/channels/%d+/messages")[1].body.poll
    local built = require("discord").PollBuilder():setQuestion("Lunch?"):addAnswers("Soup")
      :addAnswers({ text = "Pie", emoji = "\u{1F967}" }):setDuration(2):toJSON()
    assert.same(built, body)
    assert.same({ "Lunch?", 2, false, { name = "\u{1F967}" } }, { body.question.text, body.duration,
      body.allow_multiselect, body.answers[2].poll_media.emoji })
    local raw = fd.store:message(fd.general.id, msg.id)
    act(function()
      fd:vote(fd.alice, fd.general, raw, 2)
      fd:vote(fd.bob, fd.general, raw, 2)
      fd:vote(fd.bob, fd.general, raw, 2, true)
    end)
    local pie = msg.poll.answers:get(2)
    assert.same({ "Pie", 1, 2, 1, pie, fd.alice.id, { fd.alice.id } }, { pie.text, pie.voteCount,
      #seen.messagePollVoteAdd, #seen.messagePollVoteRemove, seen.messagePollVoteAdd[1][1],
      seen.messagePollVoteAdd[1][2], act(function() return pie.voters:fetch() end):keys() })
    act(function() msg.poll:expire() end)
    assert.same({ true, false, true }, { msg.poll:hasEnded(), seen.messageUpdate[1][1].poll.resultsFinalized,
      msg.poll.resultsFinalized })
    -- Refused by the library itself, before any request.
    for _, r in ipairs({ { { question = ("q"):rep(301), answers = { "a" } }, "longer than 300 characters" },
      { { question = "q", answers = {} }, "1 to 10 answers" },
      { { question = "q", answers = { ("a"):rep(56) } }, "longer than 55 characters" },
      { { question = "q", answers = { "a" }, duration = 769 }, "a duration of 1 to 768 whole hours" } }) do
      assert.error_matches(function() general:send({ poll = r[1] }) end, r[2], nil, true)
    end
  end)
end)
