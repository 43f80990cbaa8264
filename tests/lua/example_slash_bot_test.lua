-- The example slash-command bot on four shards against the fake Discord: it identifies in pairs,
-- syncs its commands and answers every kind of interaction in guilds on every shard.
local runtime = require("runtime")
local server = require("fake.discord.server")

describe("example slash-command bot", function()
  local fd, client, chat

  setup(function()
    fd = server.reset()
    fd.gateway.shards, fd.gateway.max_concurrency = 4, 2
    chat = {}
    for shard = 0, 3 do
      local g = fd.store:addGuild({ id = fd.store:idOnShard(shard, 4), name = "G" .. shard, owner = fd.alice,
        channels = { { name = "chat" .. shard, type = 0 } }, members = { fd.bot, fd.alice, fd.bob } })
      chat[shard] = fd.store.channels[g.channels[1]]
    end
    runtime.env.DISCORD_TOKEN = fd.token
    runtime.run(function() client = dofile("tests/lua/examples/slash_bot.lua") end, { ["for"] = 30000 })
  end)

  teardown(function()
    client:destroy()
    runtime.run(nil, { ["for"] = 5000 })
  end)

  local function deliver(make, ms)
    local it
    runtime.run(function() it = make(fd.interactions) end, { ["for"] = ms or 5000 })
    return it
  end

  it("identifies four shards in pairs 5 s apart and registers its commands", function()
    local at, names = {}, {}
    for _, i in ipairs(fd.gateway.identifies) do at[i.d.shard[1] + 1] = i.at - fd.gateway.identifies[1].at end
    for _, c in ipairs(fd.commands.global) do names[#names + 1] = c.name end
    table.sort(names)
    assert.are.same({ 0, 0, 5000, 5000 }, at)
    assert.are.same({ "color", "feedback", "fruit", "ping", "poll", "report" }, names)
    assert.is_true(client:isReady())
  end)

  it("answers a button, a select, a poll, a modal, autocomplete and a slow command on every shard", function()
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
    assert.are.equal('Thanks, bob: "great bot"', sub.original.content)

    local ac = deliver(function(x)
      return x:autocomplete(fd.alice, chat[2], "fruit", { { name = "name", type = 3, value = "Ap", focused = true } })
    end)
    assert.are.same({ { name = "apple", value = "apple" }, { name = "apricot", value = "apricot" } }, ac.choices)

    local report = deliver(function(x) return x:command(fd.alice, chat[1], "report") end)
    assert.are.same({ 5, 2000, "Report ready: all systems nominal." }, { report.responses[1].type,
      report.responses[1].at - report.created, report.original.content })
    assert.are.same({}, fd.interactions.violations)
    assert.are.same({}, fd.gateway.faults)
  end)
end)
