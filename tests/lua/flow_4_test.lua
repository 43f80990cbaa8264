-- Flow: interactions: a deferred slash command, the rules as errors, autoDefer.
local runtime = require("runtime")
local json = require("json")
local server = require("fake.discord.server")

describe("flow: interactions", function()
  local fd, client, handler, failures, panel

  local function start(options)
    options = options or {}
    options.intents = { "Guilds", "GuildMessages" }
    fd, client = server.login(options, function(_, c)
      c:on("interactionCreate", function(i)
        local ok, e = pcall(handler, i)
        if not ok then failures[#failures + 1] = e end
      end)
    end)
    panel = fd.store:addMessage(fd.general, fd.bot, { content = "Panel", components = json.array({
      { type = 1, components = { { type = 2, style = 1, custom_id = "b", label = "B" } } } }) })
  end
  after_each(function() server.stop(client) end)

  -- Runs `body` as the listener for the interaction `make` delivers; returns the fake's record.
  local function deliver(body, make, ms)
    failures, handler = {}, body
    local it
    runtime.run(function() it = make(fd.interactions) end, { ["for"] = ms or 10000 })
    return it
  end

  local function slash(x)
    return x:command(fd.alice, fd.general, "cmd", { { name = "text", type = 3, value = "hi" } })
  end
  local function click(x) return x:click(fd.alice, panel, "b") end

  it("defers a slash command, edits the reply after 5 s and follows up", function()
    start()
    local seen = {}
    local it = deliver(function(i)
      i:deferReply({ ephemeral = true })
      runtime.sleep(5000)
      seen.reply = i:editReply("filed: " .. i.options:getString("text", true))
      seen.follow = i:followUp("one more")
      seen.fetched = i:fetchReply()
    end, slash)
    local patch = fd:requests("PATCH", "/webhooks/%d+/[^/]+/messages/@original")[1]
    local meta = seen.reply.interactionMetadata
    assert.same({ {}, 5, 64, 0, {} }, { failures, it.responses[1].type, it.responses[1].data.flags,
      it.responses[1].at - it.created, fd.interactions.violations })
    -- The placeholder became the reply: no longer loading, still ephemeral.
    assert.same({ "filed: hi", 64, it.original.id, it.original.id, it.id, "alice", "one more", seen.follow.id, 5000,
      nil }, { it.original.content, it.original.flags, seen.reply.id, seen.fetched.id, meta.id, meta.user.username,
      it.followups[1].content, it.followups[1].id, patch.at - it.created, patch.headers.authorization })
  end)

  it("raises clear errors for late, repeated, wrong and expired responses, before Discord would refuse", function()
    start()
    local modal = function(x) return x:submit(fd.alice, fd.general, "m", { t = "v" }) end
    local typing = function(n)
      return function(x) return x:autocomplete(fd.alice, fd.general, "f", { { name = "q", type = 3, value = n,
        focused = true } }) end
    end
    local respond = function(i) i:respond({ i.options:getFocused() }) end
    local many = {}
    for n = 1, 26 do many[n] = "f" .. n end
    -- name, listener, interaction, error code, initial responses Discord received
    local cases = {
      { "late", function(i) runtime.sleep(3100) i:reply("x") end, slash, "InteractionExpired", 0 },
      { "twice", function(i) i:reply("one") i:reply("two") end, slash, "InteractionAlreadyReplied", 1 },
      { "edit first", function(i) i:editReply("x") end, slash, "InteractionNotReplied", 0 },
      { "after 15 minutes", function(i) i:deferReply() runtime.sleep(900000) i:followUp("x") end, slash,
        "InteractionTokenExpired", 1 },
      { "update from a plain modal", function(i) i:update("x") end, modal, "InteractionResponseInvalid", 0 },
      { "two suggestion lists", function(i) respond(i) respond(i) end, typing("a"), "InteractionAlreadyReplied", 1 },
      { "26 suggestions", function(i) i:respond(many) end, typing("b"), "InvalidOption", 0 },
      { "missing modal field", function(i) i.fields:getTextInputValue("nope") end, modal,
        "ModalSubmitInteractionFieldNotFound", 0 },
      { "modal never submitted", function(i)
        i:showModal({ custom_id = "fb", title = "T", components = { { type = 18, label = "L",
          component = { type = 4, custom_id = "w", style = 2 } } } })
        i:awaitModalSubmit({ time = 60000 })
      end, slash, "InteractionCollectorError", 1 },
      -- A global pause that outlasts the 3 s: the reply is not sent late.
      { "global pause", function(i) i:reply("x") end, slash, "InteractionExpired", 0, function()
        fd.rest:inject({ path = "/interactions/.*", global = true, retry_after = 4 })
      end },
    }
    for _, c in ipairs(cases) do
      if c[6] then c[6]() end
      local it = deliver(c[2], c[3], 20 * 60000)
      assert.same({ 1, "LibraryError", c[4], c[5] }, { #failures, failures[1].name, failures[1].code, #it.responses },
        c[1])
    end
    -- The reply met the pause once and was not sent again after it.
    local paused = fd.interactions.list[#fd.interactions.list]
    assert.same({ {}, 1 }, { fd.interactions.violations, #fd:requests("POST", "/interactions/" .. paused.id .. "/.*") })
  end)

  it("sends a first response again, its file too, when its answer is lost, and takes the refusal as done", function()
    start()
    fd.rest:inject({ path = "/interactions/.*", lost = true })
    local png = "\x89PNG\r\n\x1a\n\r\n--"
    local it = deliver(function(i) i:reply({ content = "hi", files = { { name = "a.png", data = png } } }) end, slash)
    local sent = fd:requests("POST", "/interactions/.*")
    assert.same({ {}, 1, 2, "answered twice", png, "image/png" }, { failures, #it.responses, #sent,
      fd.interactions.violations[1].text, fd.store.files[it.original.attachments[1].id],
      sent[2].files[1].content_type })
  end)

  it("autoDefer defers what is not answered in time, and later answers edit the deferred reply", function()
    start({ autoDefer = 2000 })
    -- name, ms before answering, answer, interaction, callback type, requests after it, resulting text
    local cases = {
      { "slow command", 2500, function(i) i:reply("late") end, slash, 5, { "PATCH @" }, "late" },
      { "fast command", 100, function(i) i:reply("quick") end, slash, 4, {}, "quick" },
      { "slow ephemeral", 2500, function(i) i:reply({ content = "s", ephemeral = true }) end, slash, 5,
        { "DELETE @", "POST" } },
      { "slow button", 2600, function(i) i:update({ content = "upd" }) end, click, 6, { "PATCH @" }, "upd" },
    }
    for _, c in ipairs(cases) do
      local before = #fd:requests()
      local it, after = deliver(function(i) runtime.sleep(c[2]) c[3](i) end, c[4]), {}
      for n, r in ipairs(fd:requests()) do
        if n > before + 1 then after[#after + 1] = r.method .. (r.path:match("@original$") and " @" or "") end
      end
      assert.same({ {}, c[5], math.min(c[2], 2000), c[6], c[7] }, { failures, it.responses[1].type,
        it.responses[1].at - it.created, after, c[7] and (it.original or panel).content }, c[1])
    end
    local secret = fd.interactions.list[#fd.interactions.list - 1]
    assert.same({ "s", 64, 1, {} }, { secret.followups[1].content, secret.followups[1].flags, #secret.deleted,
      fd.interactions.violations })
  end)
end)
