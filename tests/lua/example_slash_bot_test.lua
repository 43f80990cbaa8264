-- The example slash-command bot on four shards against the fake Discord: it identifies in pairs,
-- syncs its commands, and answers commands, a button, a select, a modal, autocomplete and a poll in
-- guilds on every shard, with autoDefer covering its slow command.
local runtime = require("runtime")
local server = require("fake.discord.server")

local BOT = "tests/lua/examples/slash_bot.lua"

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
    runtime.run(function() client = dofile(BOT) end, { ["for"] = 30000 })
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

  it("identifies four shards in pairs 5 s apart and registers its commands once", function()
    assert.is_true(client:isReady())
    local at = {}
    for _, i in ipairs(fd.gateway.identifies) do at[i.d.shard[1]] = i.at end
    assert.are.same({ 4, 4 }, { #fd.gateway.identifies, fd.gateway.identifies[1].d.shard[2] })
    assert.are.same({ 0, 5000 }, { at[1] - at[0], at[2] - at[0] })
    assert.are.equal(at[2], at[3])
    local names = {}
    for _, c in ipairs(fd.commands.global) do names[#names + 1] = c.name end
    table.sort(names)
    assert.are.same({ "color", "feedback", "fruit", "ping", "poll", "report" }, names)
    assert.are.same({}, fd.gateway.faults)
  end)

  it("answers a button, a select and a poll on different shards", function()
    local ping = deliver(function(x) return x:command(fd.alice, chat[3], "ping") end)
    assert.are.same({ 4, "Pong!" }, { ping.responses[1].type, ping.original.content })
    assert.are.equal("ping:again", ping.original.components[1].components[1].custom_id)
    local click = deliver(function(x) return x:click(fd.bob, ping.original, "ping:again") end)
    assert.are.same({ 7, "Pong! (1)" }, { click.responses[1].type, ping.original.content })
    assert.are.equal("Again (1)", ping.original.components[1].components[1].label)

    local color = deliver(function(x) return x:command(fd.alice, chat[1], "color") end)
    assert.are.same({ "blue", "green", "red" }, { color.original.components[1].components[1].options[1].value,
      color.original.components[1].components[1].options[2].value,
      color.original.components[1].components[1].options[3].value })
    assert.are.equal(64, color.original.flags & 64)
    deliver(function(x) return x:select(fd.alice, color.original, "color:pick", { "green" }) end)
    assert.are.same({ "You picked green", 0x57F287 }, { color.original.content, color.original.embeds[1].color })

    local poll = deliver(function(x)
      return x:command(fd.alice, chat[2], "poll", { { name = "question", type = 3, value = "Lunch?" },
        { name = "answers", type = 3, value = "pizza, sushi" } })
    end)
    local p = poll.original.poll
    assert.are.same({ "Lunch?", "pizza", "sushi" }, { p.question.text, p.answers[1].poll_media.text,
      p.answers[2].poll_media.text })
    assert.are.same({}, fd.interactions.violations)
  end)

  it("runs a modal, autocomplete and a slow command that autoDefer covers", function()
    local fb = deliver(function(x) return x:command(fd.bob, chat[0], "feedback") end, 1000)
    assert.are.same({ 9, "feedback" }, { fb.responses[1].type, fb.modal.custom_id })
    local sub = deliver(function(x) return x:submit(fd.bob, chat[0], "feedback", { words = "great bot" }) end)
    assert.are.equal('Thanks, bob: "great bot"', sub.original.content)

    local ac = deliver(function(x)
      return x:autocomplete(fd.alice, chat[2], "fruit", { { name = "name", type = 3, value = "Ap", focused = true } })
    end)
    assert.are.same({ { name = "apple", value = "apple" }, { name = "apricot", value = "apricot" } }, ac.choices)

    local report = deliver(function(x) return x:command(fd.alice, chat[1], "report") end)
    assert.are.same({ 5, 2000 }, { report.responses[1].type, report.responses[1].at - report.created })
    assert.are.equal("Report ready: all systems nominal.", report.original.content)
    assert.are.same({}, fd.interactions.violations)
  end)
end)
