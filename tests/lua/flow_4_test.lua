-- Flow: interactions against the fake Discord, which holds the bot to Discord's rules (3 s for the
-- first response, one only, callback types per interaction type, 15-minute tokens): a deferred slash
-- command, a modal, autocomplete, buttons and selects, uploads, and autoDefer.
local runtime = require("runtime")
local json = require("json")
local server = require("fake.discord.server")
local errors = require("discord.errors")
local discord = require("discord")

local EPHEMERAL, LOADING = 64, 128

describe("flow: interactions", function()
  local fd, client, handler, failures

  local function start(options)
    options = options or {}
    options.intents = { "Guilds", "GuildMessages" }
    fd, client = server.login(options, function(_, c)
      c:on("interactionCreate", function(i)
        local ok, e = pcall(handler, i)
        if not ok then failures[#failures + 1] = e end
      end)
    end)
  end

  before_each(function()
    failures = {}
    handler = function() end
  end)

  after_each(function()
    client:destroy()
    runtime.run(nil, { ["for"] = 1000 })
  end)

  -- Delivers an interaction made by `make(fd.interactions)` and runs the loop for `ms`.
  local function deliver(make, ms)
    local it
    runtime.run(function() it = make(fd.interactions) end, { ["for"] = ms or 10000 })
    return it
  end

  local function slash(name, options)
    return function(x) return x:command(fd.alice, fd.general, name, options) end
  end

  it("defers a slash command, edits the reply after 5 s and follows up", function()
    start()
    local seen = {}
    handler = function(i)
      seen.kind = { i:isChatInputCommand(), i:isButton(), i:isAutocomplete(), i:isRepliable(), i:inCachedGuild() }
      seen.text, seen.user, seen.member = i.options:getString("text", true), i.user, i.member
      i:deferReply({ ephemeral = true })
      runtime.sleep(5000)
      seen.reply = i:editReply("report filed: " .. seen.text)
      seen.follow = i:followUp("and one more thing")
      seen.fetched = i:fetchReply()
    end
    local it = deliver(slash("report", { { name = "text", type = 3, value = "the roof leaks" } }))
    assert.are.same({}, failures)
    assert.are.same({ true, false, false, true, true }, seen.kind)
    assert.are.same({ fd.alice.id, "alice" }, { seen.user.id, seen.member.user.username })
    assert.are.same({ 5, EPHEMERAL }, { it.responses[1].type, it.responses[1].data.flags })
    assert.is_true(it.responses[1].at - it.created < 100)
    -- The placeholder became the reply: no longer loading, still ephemeral.
    assert.are.same({ "report filed: the roof leaks", EPHEMERAL }, { it.original.content, it.original.flags })
    assert.are.equal(it.original.id, seen.reply.id)
    assert.are.equal(it.original.id, seen.fetched.id)
    assert.are.same({ "and one more thing" }, { it.followups[1].content })
    local patch = fd:requests("PATCH", "/webhooks/%d+/[^/]+/messages/@original")
    assert.are.equal(5000, patch[1].at - it.created)
    -- Interaction routes carry no bot token.
    assert.is_nil(patch[1].headers.authorization)
    assert.are.same({}, fd.interactions.violations)
  end)

  it("raises clear errors for late, repeated, wrong and expired responses, before Discord would refuse", function()
    local cases = {
      { "late", function(i)
        runtime.sleep(3100)
        i:reply("too late")
      end, "InteractionExpired", 0 },
      { "twice", function(i)
        i:reply("one")
        i:reply("two")
      end, "InteractionAlreadyReplied", 1 },
      { "defer then reply", function(i)
        i:deferReply()
        i:reply("two")
      end, "InteractionAlreadyReplied", 1 },
      { "update of a modal not opened from a message", function(i) i:update("x") end, "InteractionResponseInvalid", 0,
        function(x) return x:submit(fd.alice, fd.general, "m", { t = "v" }) end },
      { "edit before replying", function(i) i:editReply("x") end, "InteractionNotReplied", 0 },
      { "follow-up before replying", function(i) i:followUp("x") end, "InteractionNotReplied", 0 },
      { "follow-up after 15 minutes", function(i)
        i:deferReply()
        runtime.sleep(15 * 60 * 1000)
        i:followUp("hello?")
      end, "InteractionTokenExpired", 1 },
    }
    start()
    for _, c in ipairs(cases) do
      local name, body, code, sent, make = table.unpack(c)
      failures = {}
      handler = body
      local it = deliver(make or slash("case"), 20 * 60 * 1000)
      assert.are.equal(1, #failures, name)
      assert.is_true(errors.is(failures[1], "LibraryError"), name .. ": " .. tostring(failures[1]))
      assert.are.equal(code, failures[1].code, name)
      assert.are.equal(sent, #it.responses, name)
    end
    assert.are.same({}, fd.interactions.violations)
  end)

  it("shows a modal and answers its submission", function()
    start()
    local got = {}
    handler = function(i)
      if i:isChatInputCommand() then
        i:showModal({ custom_id = "feedback", title = "Feedback", components = {
          { type = 18, label = "Your words", component = { type = 4, custom_id = "words", style = 2 } } } })
        local ok, submitted = pcall(i.awaitModalSubmit, i, { time = 60000 })
        got.ok, got.submitted = ok, submitted
        if ok then
          got.words = submitted.fields:getTextInputValue("words")
          got.missing = { pcall(submitted.fields.getTextInputValue, submitted.fields, "nope") }
          submitted:reply({ content = "thanks", ephemeral = true })
        end
      end
    end
    local it = deliver(slash("feedback"), 1000)
    assert.are.same({ 9, "feedback", "Feedback" }, { it.responses[1].type, it.modal.custom_id, it.modal.title })
    -- Another user's modal and another modal are not this one's answer.
    deliver(function(x) return x:submit(fd.bob, fd.general, "feedback", { words = "not mine" }) end, 1000)
    local sub = deliver(function(x) return x:submit(fd.alice, fd.general, "feedback", { words = "love it" }) end)
    assert.is_true(got.ok, tostring(got.submitted))
    assert.are.equal("love it", got.words)
    assert.is_true(got.submitted:isModalSubmit())
    assert.is_false(got.missing[1])
    assert.are.equal("ModalSubmitInteractionFieldNotFound", got.missing[2].code)
    assert.are.same({ 4, "thanks", EPHEMERAL }, { sub.responses[1].type, sub.original.content, sub.original.flags })

    -- Nobody answers: the wait ends with the collector's error.
    got = {}
    deliver(slash("feedback"), 70000)
    assert.is_false(got.ok)
    assert.are.equal("InteractionCollectorError", got.submitted.code)
    assert.are.same({}, fd.interactions.violations)
  end)

  it("answers autocomplete with matching choices and refuses too many", function()
    start()
    local fruit = { "apple", "apricot", "banana", "blueberry", "cherry" }
    handler = function(i)
      if not i:isAutocomplete() then return end
      local typed = i.options:getFocused()
      if typed == "*" then
        local many = {}
        for n = 1, 26 do many[n] = "f" .. n end
        i:respond(many)
      end
      local out = {}
      for _, f in ipairs(fruit) do
        if f:sub(1, #typed) == typed then out[#out + 1] = { name = f, value = f:upper() } end
      end
      i:respond(out)
      i:respond(out)
    end
    local it = deliver(function(x)
      return x:autocomplete(fd.alice, fd.general, "fruit", {
        { name = "kind", type = 3, value = "ap", focused = true }, { name = "count", type = 4, value = 2 } })
    end)
    assert.are.equal(8, it.responses[1].type)
    assert.are.same({ { name = "apple", value = "APPLE" }, { name = "apricot", value = "APRICOT" } }, it.choices)
    assert.are.equal(1, #it.responses)
    assert.are.equal("InteractionAlreadyReplied", failures[1].code)
    failures = {}
    it = deliver(function(x)
      return x:autocomplete(fd.alice, fd.general, "fruit", { { name = "kind", type = 3, value = "*", focused = true } })
    end)
    assert.are.same({ 0, "InvalidOption" }, { #it.responses, failures[1].code })
    assert.are.same({}, fd.interactions.violations)
  end)

  it("updates the message of a button and reads what a select chose", function()
    start()
    local panel
    runtime.run(function()
      panel = fd.store:addMessage(fd.general, fd.bot, { content = "Panel", components = json.array({
        { type = 1, components = { { type = 2, style = 1, custom_id = "go", label = "Go" } } },
        { type = 1, components = { { type = 5, custom_id = "who" } } } }) })
    end, { ["for"] = 100 })
    local seen = {}
    handler = function(i)
      if i:isButton() then
        seen.component = i.component
        seen.message = i.message
        i:update({ content = "Pressed by " .. i.user.username, components = {} })
      elseif i:isUserSelectMenu() then
        seen.values, seen.users = i.values, i.users
        i:deferUpdate()
        i:editReply({ content = "Picked" })
      end
    end
    local click = deliver(function(x) return x:click(fd.alice, panel, "go") end)
    assert.are.same({}, failures)
    assert.are.same({ 7, "Pressed by alice" }, { click.responses[1].type, panel.content })
    assert.are.equal("Go", seen.component.label)
    assert.are.equal(panel.id, seen.message.id)
    -- The bot's copy of the message follows the update.
    assert.are.equal("Pressed by alice", client.channels.cache:get(fd.general.id).messages.cache:get(panel.id).content)

    local pick = deliver(function(x) return x:select(fd.alice, panel, "who", { fd.bob.id }, 5) end)
    assert.are.same({ 6 }, { pick.responses[1].type })
    assert.are.same({ fd.bob.id }, seen.values)
    assert.are.equal("bob", seen.users:get(fd.bob.id).username)
    assert.are.equal("Picked", panel.content)
    assert.are.same({}, fd.interactions.violations)
  end)

  it("uploads files byte for byte in replies, follow-ups and channel messages", function()
    start()
    local png = "\x89PNG\r\n\x1a\n" .. string.rep("\0\r\n--", 50) .. "\xff"
    handler = function(i)
      i:reply({ content = "chart", files = { discord.AttachmentBuilder(png, { name = "chart.png",
        description = "the chart" }) } })
      i:followUp({ files = { { name = "notes.txt", data = "a\r\nb" }, discord.AttachmentBuilder("x"):setName("y.bin")
        :setSpoiler(true) } })
    end
    local it = deliver(slash("chart"))
    assert.are.same({}, failures)
    local cb = fd:requests("POST", "/interactions/.*")[1]
    assert.are.same({ 4, "chart" }, { cb.body.type, cb.body.data.content })
    assert.are.same({ { id = 0, filename = "chart.png", description = "the chart" } }, cb.body.data.attachments)
    assert.are.same({ "files[0]", "chart.png", "image/png", png }, { cb.files[1].field, cb.files[1].filename,
      cb.files[1].content_type, cb.files[1].data })
    local a = it.original.attachments[1]
    assert.are.same({ "chart.png", #png, png }, { a.filename, a.size, fd.store.files[a.id] })
    local follow = it.followups[1].attachments
    assert.are.same({ "notes.txt", "SPOILER_y.bin" }, { follow[1].filename, follow[2].filename })
    assert.are.same({ "a\r\nb", "x" }, { fd.store.files[follow[1].id], fd.store.files[follow[2].id] })

    local sent
    runtime.run(function()
      sent = client.channels.cache:get(fd.general.id):send({ content = "log", files = { { name = "log.txt",
        data = png } } })
    end, { ["for"] = 1000 })
    assert.are.equal(png, fd.store.files[fd.store:message(fd.general.id, sent.id).attachments[1].id])
    assert.are.equal("log.txt", sent.attachments:first().name)
  end)

  it("autoDefer defers what is not answered in time, and later answers edit the deferred reply", function()
    -- Each case: what the listener does after `wait` ms; the callback type sent; what followed it.
    local cases = {
      { "slow command", 2500, function(i) i:reply("late answer") end, slash("slow"), 5,
        { "PATCH @original" }, "late answer" },
      { "fast command", 100, function(i) i:reply("quick") end, slash("fast"), 4, {}, "quick" },
      { "slow ephemeral command", 2500, function(i) i:reply({ content = "secret", ephemeral = true }) end,
        slash("secret"), 5, { "DELETE @original", "POST follow-up" } },
      { "slow button", 2600, function(i) i:update({ content = "updated late" }) end, "button", 6,
        { "PATCH @original" }, "updated late" },
    }
    start({ autoDefer = 2000 })
    local panel
    runtime.run(function()
      panel = fd.store:addMessage(fd.general, fd.bot, { content = "Panel", components = json.array({
        { type = 1, components = { { type = 2, style = 1, custom_id = "b", label = "B" } } } }) })
    end, { ["for"] = 100 })
    for _, c in ipairs(cases) do
      local name, wait, act, make, kind, after, content = table.unpack(c)
      failures = {}
      local before = #fd:requests()
      handler = function(i)
        runtime.sleep(wait)
        act(i)
      end
      if make == "button" then make = function(x) return x:click(fd.alice, panel, "b") end end
      local it = deliver(make)
      assert.are.same({}, failures, name)
      assert.are.equal(kind, it.responses[1].type, name)
      assert.are.equal(math.min(wait, 2000), it.responses[1].at - it.created, name)
      local rest = {}
      for n, r in ipairs(fd:requests()) do
        if n > before and not r.path:match("/callback$") then
          rest[#rest + 1] = r.method .. (r.path:match("@original$") and " @original" or " follow-up")
        end
      end
      assert.are.same(after, rest, name)
      if content then assert.are.equal(content, (it.original or panel).content, name) end
    end
    local secret = fd.interactions.list[#fd.interactions.list - 1]
    assert.are.same({ "secret", EPHEMERAL }, { secret.followups[1].content, secret.followups[1].flags & EPHEMERAL })
    assert.are.same({ true, 1 }, { secret.original == nil, #secret.deleted })
    assert.are.same({}, fd.interactions.violations)
    -- A modal needs the first response, so it cannot follow autoDefer.
    handler = function(i)
      runtime.sleep(2500)
      i:showModal({ custom_id = "m", title = "M", components = {
        { type = 18, label = "L", component = { type = 4, custom_id = "t", style = 1 } } } })
    end
    failures = {}
    deliver(slash("modal"))
    assert.are.equal("InteractionAlreadyReplied", failures[1].code)
    assert.truthy(failures[1].message:find("autoDefer", 1, true))
  end)

  it("refuses an autoDefer that leaves no time before the deadline", function()
    local ok, e = pcall(discord.Client, { autoDefer = 3000 })
    assert.is_false(ok)
    assert.are.equal("InvalidOption", e.code)
  end)
end)

describe("flow: loading placeholder", function()
  it("is filled by the first follow-up after a defer", function()
    local fd, client = server.login({ intents = { "Guilds" } }, function(_, c)
      c:on("interactionCreate", function(i)
        i:deferReply()
        i:followUp("here it is")
      end)
    end)
    local it
    runtime.run(function() it = fd.interactions:command(fd.alice, fd.general, "x") end, { ["for"] = 5000 })
    assert.are.same({ "here it is", 0, 0 }, { it.original.content, it.original.flags & LOADING, #it.followups })
    client:destroy()
    runtime.run(nil, { ["for"] = 1000 })
  end)
end)
