-- The example bots run as `tarn run` would, against the fake Discord.
local runtime = require("runtime")
local server = require("fake.discord.server")
local Voice = require("fake.discord.voice")

local function start(file, setup) return server.script("examples/" .. file, setup) end

-- The bot script with a DAVE call in the voice channel, and `who` in it, each a member made by `member`.
local function inCall(file, who, member)
  local vs
  local fd, client = start(file, function(f)
    vs = Voice.new(f):dave({ channelId = f.guild.channels[3] })
    require("fake.tools").install()
  end)
  local room = fd.guild.channels[3]
  for _, name in ipairs(who) do
    server.act(function() vs:host(fd[name].id, member(fd[name].id, room)) end)
    server.act(function()
      fd.gateway:dispatch("VOICE_STATE_UPDATE", { guild_id = fd.guild.id, user_id = fd[name].id, channel_id = room })
    end)
  end
  return fd, client, vs, room
end


describe("example prefix bot", function()
  local fd, client
  before_each(function()
    -- The bot holds the Mod role, so it may hand out the roles below it.
    fd, client = start("prefix_bot.lua", function(f) f.guild.members[f.bot.id].roles = { f.mod_role.id } end)
  end)
  after_each(function() server.stop(client) end)

  local function has(role) return client.guilds.cache:get(fd.guild.id).members.cache:get(fd.bob.id).roles:has(role) end

  it("answers !ping with an embed that replies to the command", function()
    local body = fd:replies(fd.alice, "!ping")[1]
    local msg = fd.store.messages[fd.general.id][1]
    assert.same({ "Pong!", msg.id, { parse = {} } }, { body.embeds[1].title, body.message_reference.message_id,
      body.allowed_mentions })
  end)

  it("gives and takes a role for a member with Manage Roles, refuses others, and the cache follows", function()
    local roleId = fd.member_role.id
    local embed = fd:replies(fd.alice, "!role add <@" .. fd.bob.id .. "> member")[1].embeds[1]
    local put = fd:requests("PUT", "/guilds/%d+/members/%d+/roles/%d+")[1]
    -- A wrong path would give the role to nobody, or to someone else.
    assert.same({ "Gave Member to bob", "requested%20by%20alice", true }, { embed.description,
      put.headers["x-audit-log-reason"], has(roleId) })
    fd:replies(fd.alice, "!role remove <@" .. fd.bob.id .. "> <@&" .. roleId .. ">")
    assert.same({ 1, false }, { #fd:requests("DELETE", "/guilds/.*"), has(roleId) })
    for _, c in ipairs({
      { fd.bob, "!role add <@" .. fd.alice.id .. "> Member", "You need the Manage Roles permission." },
      { fd.alice, "!role add <@" .. fd.bob.id .. "> Mod", "That role is above mine, or managed by an integration." },
    }) do
      assert.same({ { title = "Cannot do that", description = c[3], color = 0xe74c3c } },
        { fd:replies(c[1], c[2])[1].embeds[1] }, c[2])
    end
    assert.same({ 1, 0 }, { #fd:requests("PUT", "/guilds/.*"), #fd:replies(fd.alice, "ping") })
  end)
end)

describe("example slash-command bot", function()
  local fd, client, chat

  setup(function()
    fd, client = start("slash_bot.lua", function(f)
      chat = {}
      for shard, on in pairs(f:shardGuilds()) do chat[shard] = on.channel end
    end)
  end)
  teardown(function() server.stop(client) end)

  -- Calls the fake's interactions[method](user, ...) and lets the bot answer.
  local function deliver(method, ...)
    local args = table.pack(...)
    return server.act(function() return fd.interactions[method](fd.interactions, table.unpack(args, 1, args.n)) end)
  end
  local function str(name, value, focused) return { name = name, type = 3, value = value, focused = focused } end

  it("syncs its commands and answers each kind of interaction on every shard", function()
    local names = require("discord.util").map(fd.commands.global, function(c) return c.name end)
    table.sort(names)
    local ping = deliver("command", fd.alice, chat[3], "ping")
    deliver("click", fd.bob, ping.original, "ping:again")
    local color = deliver("command", fd.alice, chat[1], "color")
    local menu = color.original.components[1].components[1]
    assert.same({ { "color", "feedback", "fruit", "ping", "poll", "report" }, "Pong! (1)", "Again (1)", 64, "blue" },
      { names, ping.original.content, ping.original.components[1].components[1].label, color.original.flags,
        menu.options[1].value })
    deliver("click", fd.alice, color.original, "color:pick", { "green" })
    local poll = deliver("command", fd.alice, chat[2], "poll", { str("question", "Lunch?"),
      str("answers", "pizza, sushi") }).original.poll
    deliver("command", fd.bob, chat[0], "feedback")
    local sub = deliver("submit", fd.bob, chat[0], "feedback", { words = "great bot" })
    local ac = deliver("autocomplete", fd.alice, chat[2], "fruit", { str("name", "Ap", true) })
    local report = deliver("command", fd.alice, chat[1], "report")
    assert.same({ "You picked green", 0x57F287, "Lunch?", "sushi", 'Thanks, bob: "great bot"',
      { { name = "apple", value = "apple" }, { name = "apricot", value = "apricot" } }, 5, 2000,
      "Report ready: all systems nominal.", {} }, { color.original.content, color.original.embeds[1].color,
      poll.question.text, poll.answers[2].poll_media.text, sub.original.content, ac.choices,
      report.responses[1].type, report.responses[1].at - report.created, report.original.content,
      fd.interactions.violations })
  end)
end)

describe("example moderation bot", function()
  local fd, client
  before_each(function() fd, client = start("moderation_bot.lua") end)
  after_each(function() server.stop(client) end)

  local function say(user, text) return (fd:replies(user, text)[1] or {}).content end

  it("refuses members without the permission, then sends each action with its body and the moderator's reason, "
    .. "and reads the reason back", function()
    local bob, g, before = "<@" .. fd.bob.id .. ">", "/guilds/" .. fd.guild.id, #fd:requests()
    -- Only the refusal goes out.
    assert.same({ "You need the BanMembers permission.", before + 1 }, { say(fd.bob, "!ban <@" .. fd.alice.id
      .. "> x"), #fd:requests() })
    local filtered = say(fd.alice, "!filter spam scam")
    local rule = fd:requests("POST", "/guilds/%d+/auto%-moderation/rules")[1]
    local t0 = runtime.time()
    local timedOut = say(fd.alice, "!timeout " .. bob .. " 10 spamming")
    local patch = fd:requests("PATCH", "/guilds/%d+/members/%d+")[1]
    local untilMs = require("discord.util").parseTimestamp(patch.body.communication_disabled_until)
    local banned = say(fd.alice, "!ban " .. bob .. " raid")
    local ban = fd:requests("PUT", "/guilds/%d+/bans/%d+")[1]
    assert.same({ true, { name = "Blocked words", event_type = 1, trigger_type = 1, enabled = true,
      trigger_metadata = { keyword_filter = { "spam", "scam" } },
      actions = { { type = 1, metadata = { custom_message = "That word is not allowed here." } },
        { type = 2, metadata = { channel_id = fd.general.id } } } }, "alice%3A%20filter%20spam%2C%20scam",
      "bob is timed out for 10 minute(s).", g .. "/members/" .. fd.bob.id, "alice%3A%20spamming", true,
      "bob is banned.", g .. "/bans/" .. fd.bob.id, { delete_message_seconds = 86400 }, "alice%3A%20raid",
      "Delete by audit log: alice: raid", true },
      { filtered:match("^Rule %d+ blocks 2 word%(s%)%.$") ~= nil, rule.body, rule.headers["x-audit-log-reason"],
        timedOut, patch.path, patch.headers["x-audit-log-reason"], math.abs(untilMs - (t0 + 600000)) < 5000,
        banned, ban.path, ban.body, ban.headers["x-audit-log-reason"], say(fd.alice, "!why " .. bob),
        client.guilds.cache:get(fd.guild.id).bans.cache:has(fd.bob.id) })
  end)
end)

describe("example /play bot", function()
  it("joins the caller's DAVE channel, queues, skips and loops the track", function()
    -- Alice waits in the channel; she welcomes the bot into her group and decrypts what it plays.
    local fd, client, vs, room = inCall("play_bot.lua", { "alice" }, Voice.ownMember)
    local function say(name, value, ms)
      return server.act(function()
        return fd.interactions:command(fd.alice, fd.general, name, value and { { name = value[1], type = 3,
          value = value[2] } })
      end, ms).original.content
    end
    -- Ten frames and the closing silence take 300 ms: the looped track starts four times.
    local replies = { say("play", { "query", "lofi beats" }, 100), say("play", { "query", "rain" }, 100),
      say("skip", nil, 300), say("loop", { "mode", "track" }, 700), say("queue", nil, 100) }
    local inputs = {}
    for _, p in ipairs(runtime.processes) do
      inputs[#inputs + 1] = table.concat(p.args, " "):match("%-i https://media%.test/(%w+)")
    end
    assert.same({ "Now playing **Lofi Beats to Study (2:05)**", "Queued **Lofi Rain (1:02:05)**",
      "Skipped Lofi Beats to Study", "Loop: track", { "lofi1", "lofi2", "lofi2", "lofi2", "lofi2" }, room, {} },
      { replies[1], replies[2], replies[3], replies[4], inputs, vs.joins[1].channel_id, fd.interactions.violations })
    assert.truthy(replies[5]:find("^Lofi Rain %(1:02:05%) 0:0%d %[o%-+%] 1:02:05$"), replies[5])
    -- Every frame reached Alice encrypted and decrypts byte for byte: the encoder's audio ("a"), silence.
    local audio, played = "\xFC" .. string.pack("<i2i2", 1000, -1000), {}
    for i, p in ipairs(vs.rtp) do
      played[i] = not p.encrypted and "c" or p.opus == audio and "a" or p.opus == "\xF8\xFF\xFE" and "-" or "?"
    end
    assert.equal(("aaaaaaaaaa-----"):rep(4) .. "aaaaa", table.concat(played))
    server.stop(client)
  end)
end)

describe("example /record bot", function()
  it("writes one Ogg file per speaker of its DAVE channel with every frame they sent", function()
    local peers, voice = require("dave_peer"), require("@discord/voice")
    local fd, client, vs = inCall("record_bot.lua", { "alice", "bob" }, peers.missing() and Voice.ownMember
      or peers.member)
    local said, slots = {}, {}
    -- `quiet` frames of time without a packet between `before` frames and `after` frames; the bot hears
    -- the quiet within the recording, not before its first frame.
    local function talk(who, before, quiet, after)
      while not (vs.dv.members[fd.bot.id] and vs.dv.members[fd.bot.id].leaf and not vs.dv.pending) do
        runtime.sleep(20)
      end
      said[who], slots[who] = {}, before + after + (before > 0 and quiet or 0)
      for i = 1, before + after do
        if i == before + 1 then runtime.sleep(quiet * 20) end
        said[who][i] = "\xFC" .. who .. i .. ("\x55"):rep(i * 5 % 120)
        vs:speak(fd[who].id, said[who][i], { pause = i == before + 1 and i > 1 and quiet or 0 })
        runtime.sleep(20)
      end
    end
    local reply = server.act(function()
      runtime.spawn(talk, "alice", 25, 15, 15)
      runtime.spawn(talk, "bob", 0, 10, 30)
      return fd.interactions:command(fd.alice, fd.general, "record", { { name = "seconds", type = 4, value = 2 } })
    end, 8000)
    assert.equal("Recorded 2 speaker(s).", reply.original.content)
    for _, who in ipairs({ "alice", "bob" }) do
      -- The frames as they were sent, the pauses kept as Opus silence that FFmpeg counts in the duration.
      local bytes, frames, file = assert(runtime.files["./" .. fd[who].id .. ".ogg"], who), {}, os.tmpname()
      for _, p in ipairs(voice.OggDemuxer():push(bytes)) do
        frames[#frames + 1] = p ~= voice.SILENCE_FRAME and p or nil
      end
      local f = assert(io.open(file, "wb"))
      f:write(bytes)
      f:close()
      local probe = assert(io.popen("ffprobe -v error -show_entries format=duration -of csv=p=0 " .. file .. " 2>&1"))
      local out = probe:read("a")
      probe:close()
      os.remove(file)
      assert.same(said[who], frames, who)
      assert.is_true(math.abs((tonumber(out) or -1) - slots[who] * 0.02) <= 0.04, who .. ": " .. out)
    end
    server.stop(client)
  end)
end)
