-- The example bots run as `tarn run` would, against the fake Discord.
local runtime = require("runtime")
local server = require("fake.discord.server")

-- Fresh fakes (`setup(fd)` first) and the example started until it is ready.
local function start(file, setup)
  local fd, client = server.reset(), nil
  if setup then setup(fd) end
  runtime.env.DISCORD_TOKEN = fd.token
  runtime.run(function() client = dofile("tests/lua/examples/" .. file) end, { ["for"] = 30000 })
  assert.is_true(client:isReady())
  return fd, client
end

describe("example prefix bot", function()
  local fd, client
  before_each(function()
    -- The bot holds the Mod role, so it may hand out the roles below it.
    fd, client = start("prefix_bot.lua", function(f) f.guild.members[f.bot.id].roles = { f.mod_role.id } end)
  end)
  after_each(function() server.stop(client) end)

  -- A user writes; returns the bodies of the replies Discord accepted.
  local function say(user, text)
    local before = #fd:requests("POST", "/channels/%d+/messages")
    server.act(function() fd:say(user, fd.general, text) end)
    local out = {}
    for i, p in ipairs(fd:requests("POST", "/channels/%d+/messages")) do
      if i > before and p.status == 200 then out[#out + 1] = p.body end
    end
    return out
  end
  local function has(role) return client.guilds.cache:get(fd.guild.id).members.cache:get(fd.bob.id).roles:has(role) end

  it("answers !ping with an embed that replies to the command", function()
    local body = say(fd.alice, "!ping")[1]
    local msg = fd.store.messages[fd.general.id][1]
    assert.are.same({ "Pong!", msg.id, { parse = {} }, {} }, { body.embeds[1].title,
      body.message_reference.message_id, body.allowed_mentions, fd.gateway.faults })
  end)

  it("gives and takes a role for a member with Manage Roles, refuses others, and the cache follows", function()
    local roleId = fd.member_role.id
    local embed = say(fd.alice, "!role add <@" .. fd.bob.id .. "> member")[1].embeds[1]
    local put = fd:requests("PUT", "/guilds/%d+/members/%d+/roles/%d+")[1]
    assert.are.same({ "Gave Member to bob", "/guilds/" .. fd.guild.id .. "/members/" .. fd.bob.id .. "/roles/"
      .. roleId, "requested%20by%20alice", true }, { embed.description, put.path, put.headers["x-audit-log-reason"],
      has(roleId) })
    say(fd.alice, "!role remove <@" .. fd.bob.id .. "> <@&" .. roleId .. ">")
    assert.are.same({ 1, false }, { #fd:requests("DELETE", "/guilds/.*"), has(roleId) })
    for _, c in ipairs({
      { fd.bob, "!role add <@" .. fd.alice.id .. "> Member", "You need the Manage Roles permission." },
      { fd.alice, "!role add <@" .. fd.bob.id .. "> Mod", "That role is above mine, or managed by an integration." },
    }) do
      assert.are.same({ { title = "Cannot do that", description = c[3], color = 0xe74c3c } },
        { say(c[1], c[2])[1].embeds[1] }, c[2])
    end
    assert.are.same({ 1, 0 }, { #fd:requests("PUT", "/guilds/.*"), #say(fd.alice, "ping") })
  end)
end)

describe("example slash-command bot", function()
  local fd, client, chat

  -- Four shards with max_concurrency 2, a guild on each.
  setup(function()
    fd, client = start("slash_bot.lua", function(f)
      f.gateway.shards, f.gateway.max_concurrency, chat = 4, 2, {}
      for shard = 0, 3 do
        local g = f.store:addGuild({ id = f.store:idOnShard(shard, 4), name = "G" .. shard, owner = f.alice,
          channels = { { name = "chat" .. shard, type = 0 } }, members = { f.bot, f.alice, f.bob } })
        chat[shard] = f.store.channels[g.channels[1]]
      end
    end)
  end)
  teardown(function() server.stop(client) end)

  local function deliver(make, ms) return server.act(function() return make(fd.interactions) end, ms) end

  it("syncs its commands and answers each kind of interaction on every shard", function()
    local names = require("discord.util").map(fd.commands.global, function(c) return c.name end)
    table.sort(names)
    assert.are.same({ "color", "feedback", "fruit", "ping", "poll", "report" }, names)
    local ping = deliver(function(x) return x:command(fd.alice, chat[3], "ping") end)
    deliver(function(x) return x:click(fd.bob, ping.original, "ping:again") end)
    assert.are.same({ "Pong! (1)", "Again (1)" }, { ping.original.content,
      ping.original.components[1].components[1].label })

    local color = deliver(function(x) return x:command(fd.alice, chat[1], "color") end)
    local menu = color.original.components[1].components[1]
    assert.are.same({ 64, "blue" }, { color.original.flags, menu.options[1].value })
    deliver(function(x) return x:select(fd.alice, color.original, "color:pick", { "green" }) end)
    assert.are.same({ "You picked green", 0x57F287 }, { color.original.content, color.original.embeds[1].color })

    local poll = deliver(function(x)
      return x:command(fd.alice, chat[2], "poll", { { name = "question", type = 3, value = "Lunch?" },
        { name = "answers", type = 3, value = "pizza, sushi" } })
    end).original.poll
    assert.are.same({ "Lunch?", "sushi" }, { poll.question.text, poll.answers[2].poll_media.text })

    deliver(function(x) return x:command(fd.bob, chat[0], "feedback") end, 1000)
    local sub = deliver(function(x) return x:submit(fd.bob, chat[0], "feedback", { words = "great bot" }) end)
    local ac = deliver(function(x)
      return x:autocomplete(fd.alice, chat[2], "fruit", { { name = "name", type = 3, value = "Ap", focused = true } })
    end)
    assert.are.same({ 'Thanks, bob: "great bot"', { { name = "apple", value = "apple" },
      { name = "apricot", value = "apricot" } } }, { sub.original.content, ac.choices })

    local report = deliver(function(x) return x:command(fd.alice, chat[1], "report") end)
    assert.are.same({ 5, 2000, "Report ready: all systems nominal." }, { report.responses[1].type,
      report.responses[1].at - report.created, report.original.content })
    assert.are.same({ {}, {} }, { fd.interactions.violations, fd.gateway.faults })
  end)
end)
