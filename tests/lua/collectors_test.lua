-- Collectors on the fake runtime's virtual clock against the fake Discord: each kind with the way it
-- ends ("limit", "time", "idle", "user", the source going away) and the await helpers.
local runtime = require("runtime")
local server = require("fake.discord.server")
local discord = require("discord")

local C = require("discord.builders.components")

local INTENTS = { "Guilds", "GuildMessages", "MessageContent", "GuildMessageReactions" }

describe("collectors", function()
  local fd, client, channel, t0

  before_each(function()
    fd, client = server.login({ intents = INTENTS })
    channel = client.channels.cache:get(fd.general.id)
    t0 = runtime.now()
  end)

  after_each(function()
    client:destroy()
    runtime.run(nil, { ["for"] = 1000 })
  end)

  -- Runs `steps` ({ms after t0, fn}) as timers, then the loop for `span` ms more than the last one.
  local function script(steps, span)
    local last = 0
    for _, s in ipairs(steps) do
      runtime.timer(s[1], s[2])
      last = math.max(last, s[1])
    end
    runtime.run(nil, { ["for"] = last + (span or 30000) })
  end

  -- Watches a collector's events: the reason and virtual time of its end, and what each event carried.
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
      assert.are.same({ reason, size, at }, { seen.reason, seen.size, seen.at }, reason)
      assert.are.equal(0, client:listenerCount("messageCreate"), reason .. ": listener left behind")
      if reason == "processedLimit" then assert.are.equal("skip", seen.ignore[1].content) end
      -- Those two leave the client without its guild or channel: the next row starts afresh.
      if reason == "channelDelete" or reason == "guildDelete" then
        client:destroy()
        fd, client = server.login({ intents = INTENTS })
        channel = client.channels.cache:get(fd.general.id)
      end
    end
  end)

  it("disposes deleted messages and answers awaitMessages, raising for the reasons listed in errors", function()
    local collector = channel:createMessageCollector({ dispose = true, time = 10000 })
    local seen = watch(collector)
    script({ { 100, say("one") }, { 200, say("two") }, { 300, function()
      local msg = fd.store.messages[fd.general.id][1]
      client.rest:delete("/channels/" .. fd.general.id .. "/messages/" .. msg.id)
    end } }, 10000)
    assert.are.same({ "time", 1 }, { seen.reason, seen.size })
    assert.are.equal("one", seen.dispose[1].content)

    local got, err, reason
    runtime.timer(100, say("hi"))
    runtime.run(function() got, reason = channel:awaitMessages({ max = 1, time = 1000 }) end, { ["for"] = 2000 })
    assert.are.same({ "hi", "limit" }, { got:first().content, reason })
    runtime.run(function()
      local ok
      ok, err = pcall(channel.awaitMessages, channel, { max = 1, time = 1000, errors = { "time" } })
      assert.is_false(ok)
    end, { ["for"] = 2000 })
    assert.are.same({ "CollectorError", "time", 0 }, { err.name, err.reason, err.collected.size })
  end)

  it("collects reactions by emoji and ends at its user limit, or when the message goes", function()
    local stored
    runtime.run(function() stored = fd:say(fd.bob, fd.general, "vote") end, { ["for"] = 100 })
    local message = channel.messages.cache:get(stored.id)
    t0 = runtime.now()
    local collector = message:createReactionCollector({ maxUsers = 2, dispose = true, time = 60000 })
    local seen = watch(collector)
    local created = 0
    collector:on("create", function() created = created + 1 end)
    script({
      { 100, function() fd:react(fd.alice, fd.general, stored, "\u{1F44D}") end },
      { 200, function() fd:react(fd.alice, fd.general, stored, "\u{2705}") end },
      { 300, function() fd:react(fd.bob, fd.general, stored, "\u{1F44D}") end },
    }, 1000)
    assert.are.same({ "userLimit", 300, 2, 2 }, { seen.reason, seen.at, seen.size, created })
    assert.are.same({ "\u{1F44D}", "\u{2705}", "\u{1F44D}" }, { seen.collect[1].emoji.name,
      seen.collect[2].emoji.name, seen.collect[3].emoji.name })

    t0 = runtime.now()
    local second = message:createReactionCollector({ time = 60000 })
    local seen2 = watch(second)
    script({ { 100, function() client.rest:delete("/channels/" .. fd.general.id .. "/messages/" .. stored.id) end } },
      1000)
    assert.are.same({ "messageDelete", 100 }, { seen2.reason, seen2.at })
  end)

  -- The bot posts a message with two buttons and a select; returns the library's and the store's copy.
  local function panel()
    local msg
    runtime.run(function()
      msg = channel:send({ content = "Pick", components = {
        C.ActionRowBuilder():addComponents(C.ButtonBuilder():setStyle("Primary"):setCustomId("yes"):setLabel("Yes"),
          C.ButtonBuilder():setStyle("Danger"):setCustomId("no"):setLabel("No")),
        C.ActionRowBuilder():addComponents(C.StringSelectMenuBuilder():setCustomId("pick")
          :addOptions({ label = "A", value = "a" }, { label = "B", value = "b" })),
      } })
    end, { ["for"] = 1000 })
    t0 = runtime.now()
    return msg, fd.store:message(fd.general.id, msg.id)
  end

  local function click(user, stored, id) return function() fd.interactions:click(user, stored, id) end end

  it("ends a button collector on its idle timeout after each click was answered with update", function()
    local msg, stored = panel()
    assert.are.equal("ButtonComponent", discord.util.className(msg.components[1].components[1]))
    local collector = msg:createMessageComponentCollector({ componentType = "Button", idle = 15000 })
    local seen = watch(collector)
    collector:on("collect", function(i) i:update({ content = i.user.username .. " chose " .. i.customId }) end)
    script({
      { 1000, click(fd.alice, stored, "yes") },
      { 5000, function() fd.interactions:select(fd.bob, stored, "pick", { "a" }) end },
      { 9000, click(fd.bob, stored, "no") },
    }, 30000)
    assert.are.same({ "idle", 24000, 2 }, { seen.reason, seen.at, seen.size })
    assert.are.same({ "yes", "no" }, { seen.collect[1].customId, seen.collect[2].customId })
    assert.are.equal("bob chose no", stored.content)
    assert.are.same({}, fd.interactions.violations)
  end)

  it("ends component collectors at their limits and when the message is deleted", function()
    local rows = {
      { "limit", { max = 2 }, { "yes", "no", "yes" }, 2 },
      { "componentLimit", { maxComponents = 1 }, { "no" }, 1 },
      { "userLimit", { maxUsers = 2 }, { "yes", "yes", "no" }, 3, { bobThird = true } },
      { "messageDelete", { time = 60000 }, { "yes" }, 1, { delete = true } },
    }
    for _, row in ipairs(rows) do
      local reason, opts, ids, size, extra = table.unpack(row)
      local msg, stored = panel()
      local collector = msg:createMessageComponentCollector(opts)
      local seen = watch(collector)
      collector:on("collect", function(i) i:deferUpdate() end)
      local steps = {}
      for n, id in ipairs(ids) do
        local user = (extra and extra.bobThird and n == 3) and fd.bob or fd.alice
        steps[n] = { n * 100, click(user, stored, id) }
      end
      if extra and extra.delete then
        steps[#steps + 1] = { 1000, function() msg:delete() end }
      end
      script(steps, 2000)
      assert.are.same({ reason, size }, { seen.reason, seen.size }, reason)
    end
  end)

  it("raises from awaitMessageComponent on time-out and returns the first matching click", function()
    local msg, stored = panel()
    local got, err
    runtime.timer(500, click(fd.bob, stored, "no"))
    runtime.timer(800, click(fd.alice, stored, "yes"))
    runtime.run(function()
      got = msg:awaitMessageComponent({ time = 2000, filter = function(i) return i.user.id == fd.alice.id end })
      got:deferUpdate()
    end, { ["for"] = 3000 })
    assert.are.same({ "yes", fd.alice.id }, { got.customId, got.user.id })
    runtime.run(function()
      local ok
      ok, err = pcall(msg.awaitMessageComponent, msg, { time = 1000 })
      assert.is_false(ok)
    end, { ["for"] = 2000 })
    assert.is_true(discord.errors.is(err, "LibraryError"))
    assert.are.same({ "InteractionCollectorError", "time" }, { err.code, err.reason })
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
    assert.are.same({ "time", 10000, 2 }, { seen.reason, seen.at, seen.size })
    assert.are.same({ "great", "ok" }, { seen.collect[1].fields:getTextInputValue("body"),
      seen.collect[2].fields:getTextInputValue("body") })
    assert.are.same({}, fd.interactions.violations)
  end)
end)
