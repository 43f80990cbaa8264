-- Collectors on the virtual clock: each kind with the ways it ends, and the await helpers.
local runtime = require("runtime")
local server = require("fake.discord.server")
local discord = require("discord")
local C = require("discord.builders.components")

describe("collectors", function()
  local fd, client, channel, t0

  before_each(function()
    fd, client = server.login({ intents = { "Guilds", "GuildMessages", "MessageContent", "GuildMessageReactions" } })
    channel = client.channels.cache:get(fd.general.id)
    t0 = runtime.now()
  end)
  after_each(function() server.stop(client) end)

  -- Runs `steps` ({ms after now, fn}) as timers, then the loop for `span` ms past the last one.
  local function script(steps, span)
    local last = 0
    for _, s in ipairs(steps) do
      runtime.timer(s[1], s[2])
      last = math.max(last, s[1])
    end
    runtime.run(nil, { ["for"] = last + (span or 30000) })
  end

  -- A collector's events: its end reason, when it ended and with how many, and each item.
  local function watch(collector)
    local seen = { collect = {}, ignore = {}, dispose = {} }
    for name, list in pairs(seen) do collector:on(name, function(item) list[#list + 1] = item end) end
    collector:on("end", function(collected, reason)
      seen.reason, seen.at, seen.size = reason, runtime.now() - t0, collected.size
    end)
    return seen
  end

  local function say(text) return function() fd:say(fd.alice, fd.general, text) end end

  it("ends a message collector for each of its reasons", function()
    local rows = {
      { "limit", { max = 2 }, { { 100, say("a") }, { 200, say("b") }, { 300, say("c") } }, 2, 200 },
      { "time", { time = 5000 }, { { 100, say("a") } }, 1, 5000 },
      { "idle", { idle = 2000 }, { { 1000, say("a") }, { 2500, say("b") } }, 2, 4500 },
      { "processedLimit", { maxProcessed = 2, filter = function(m) return m.content == "keep" end },
        { { 100, say("skip") }, { 200, say("keep") } }, 1, 200 },
      { "user", { time = 60000 }, { { 100, say("a") } }, 1, 700 },
      { "channelDelete", { time = 60000 }, { { 100, function()
        fd.gateway:dispatch("CHANNEL_DELETE", fd.store:channelJSON(fd.general))
      end } }, 0, 100 },
      -- The channel is gone from here on; the guild goes last.
      { "guildDelete", {}, { { 100, function() fd.gateway:dispatch("GUILD_DELETE", { id = fd.guild.id }) end } }, 0,
        100 },
    }
    for _, row in ipairs(rows) do
      local reason, opts, steps, size, at = table.unpack(row)
      t0 = runtime.now()
      local collector = channel:createMessageCollector(opts)
      local seen = watch(collector)
      if reason == "user" then steps[#steps + 1] = { 700, function() collector:stop() end } end
      script(steps, 10000)
      -- No listener is left behind.
      assert.same({ reason, size, at, 0, reason == "processedLimit" and "skip" or nil }, { seen.reason, seen.size,
        seen.at, client:listenerCount("messageCreate"), seen.ignore[1] and seen.ignore[1].content }, reason)
    end
    assert.same({ nil, nil, nil }, { client.channels.cache:get(fd.general.id),
      client.channels.cache:get(fd.category.id), client.guilds.cache:get(fd.guild.id) })
  end)

  it("disposes deleted messages, iterates, and answers awaitMessages or raises for errors", function()
    local collector = channel:createMessageCollector({ dispose = true, time = 10000 })
    local seen, texts = watch(collector), {}
    runtime.spawn(function() for m in collector:iter() do texts[#texts + 1] = m.content end end)
    script({ { 100, say("one") }, { 200, say("two") }, { 300, function()
      client.rest:delete("/channels/" .. fd.general.id .. "/messages/" .. fd.store.messages[fd.general.id][1].id)
    end } }, 10000)
    assert.same({ "time", 1, "one", { "one", "two" } }, { seen.reason, seen.size, seen.dispose[1].content, texts })
    local got, reason
    runtime.timer(100, say("hi"))
    runtime.run(function() got, reason = channel:awaitMessages({ max = 1, time = 1000 }) end, { ["for"] = 2000 })
    local err = server.raised(function() channel:awaitMessages({ max = 1, time = 1000, errors = { "time" } }) end)
    assert.same({ "hi", "limit", "CollectorError", "time", 0 }, { got:first().content, reason, err.name, err.reason,
      err.collected.size })
  end)

  it("collects reactions by emoji, disposes an emoji nobody keeps, and ends when the message goes", function()
    local stored = server.act(function() return fd:say(fd.bob, fd.general, "vote") end, 100)
    t0 = runtime.now()
    local collector = channel.messages.cache:get(stored.id):createReactionCollector({ dispose = true })
    local seen, events = watch(collector), {}
    for _, name in ipairs({ "create", "remove" }) do
      collector:on(name, function(r, u) events[#events + 1] = name .. " " .. r.emoji.name .. " " .. u.username end)
    end
    local UP, OK = "\u{1F44D}", "\u{2705}"
    local function react(user, e) return function() fd:react(user, fd.general, stored, e) end end
    local function unreact(user)
      return function()
        fd.gateway:dispatch("MESSAGE_REACTION_REMOVE", { channel_id = fd.general.id, message_id = stored.id,
          guild_id = fd.guild.id, emoji = { name = UP }, user_id = user.id })
      end
    end
    script({ { 100, react(fd.alice, UP) }, { 200, react(fd.alice, OK) }, { 300, react(fd.bob, UP) },
      { 400, unreact(fd.bob) }, { 500, unreact(fd.alice) },
      { 600, function() client.rest:delete("/channels/" .. fd.general.id .. "/messages/" .. stored.id) end },
    }, 1000)
    assert.same({ "messageDelete", 600, 1, 3, UP, { fd.alice.id }, { "create " .. UP .. " alice",
      "create " .. OK .. " alice", "remove " .. UP .. " bob", "remove " .. UP .. " alice" } }, { seen.reason, seen.at,
      seen.size, #seen.collect, seen.dispose[1].emoji.name, collector.users:keys(), events })
  end)

  -- The bot's message with two buttons and a select: the library's and the store's copy.
  local function panel()
    local msg = server.act(function()
      return channel:send({ content = "Pick", components = {
        C.ActionRowBuilder():addComponents(C.ButtonBuilder():setStyle("Primary"):setCustomId("yes"):setLabel("Yes"),
          C.ButtonBuilder():setStyle("Danger"):setCustomId("no"):setLabel("No")),
        C.ActionRowBuilder():addComponents(C.StringSelectMenuBuilder():setCustomId("pick")
          :addOptions({ label = "A", value = "a" }, { label = "B", value = "b" })),
      } })
    end, 1000)
    t0 = runtime.now()
    return msg, fd.store:message(fd.general.id, msg.id)
  end

  -- A click on a button, or a choice in the select ("pick").
  local function click(user, stored, id)
    return function() fd.interactions:click(user, stored, id, id == "pick" and { "a" } or nil) end
  end

  it("ends component collectors at their limits, idle, when the message goes, and times out awaits", function()
    for _, row in ipairs({ { "limit", { max = 2 }, { "yes", "no", "yes" }, 2 },
      { "componentLimit", { maxComponents = 1 }, { "no" }, 1 },
      { "userLimit", { maxUsers = 2 }, { "yes", "yes", "no" }, 3 },
      { "messageDelete", { time = 60000 }, { "yes" }, 1 },
      -- The select does not count for a button collector, so the second click comes too late.
      { "idle", { componentType = "Button", idle = 150 }, { "yes", "pick", "no" }, 1 } }) do
      local reason, opts, ids, size = table.unpack(row)
      local msg, stored = panel()
      local collector = msg:createMessageComponentCollector(opts)
      local seen = watch(collector)
      collector:on("collect", function(i) i:deferUpdate() end)
      local steps = { { 1000, function() msg:delete() end } }
      for n, id in ipairs(ids) do steps[n + 1] = { n * 100, click(n == 3 and fd.bob or fd.alice, stored, id) } end
      script(steps, 2000)
      assert.same({ reason, size }, { seen.reason, seen.size }, reason)
    end
    local msg, stored = panel()
    runtime.timer(500, click(fd.bob, stored, "no"))
    runtime.timer(800, click(fd.alice, stored, "yes"))
    local got = server.act(function()
      local i = msg:awaitMessageComponent({ time = 2000, filter = function(i) return i.user.id == fd.alice.id end })
      i:deferUpdate()
      return i
    end, 3000)
    local err = server.raised(function() msg:awaitMessageComponent({ time = 1000 }) end, 2000)
    assert.same({ "yes", fd.alice.id, "InteractionCollectorError", "time" }, { got.customId, got.user.id, err.code,
      err.reason })
  end)

  it("collects modal submits by custom_id until its time runs out", function()
    local collector = discord.ModalSubmitCollector(client, { customId = "feedback", time = 10000 })
    local seen = watch(collector)
    collector:on("collect", function(i) i:reply({ content = "thanks", flags = "Ephemeral" }) end)
    local function submit(id, text)
      return function() fd.interactions:submit(fd.alice, fd.general, id, { body = text }) end
    end
    script({ { 1000, submit("feedback", "great") }, { 2000, submit("other", "x") },
      { 3000, submit("feedback", "ok") } })
    assert.same({ "time", 10000, 2, "ok", {} }, { seen.reason, seen.at, seen.size,
      seen.collect[2].fields:getTextInputValue("body"), fd.interactions.violations })
  end)
end)
