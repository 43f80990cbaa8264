-- Reactions: the bot's own, other users' through the gateway, their users, removal, and
-- reactions on messages the cache does not hold.
local runtime = require("runtime")
local server = require("fake.discord.server")
local resolveEmoji = require("discord.structures.reaction").resolveEmoji

local INTENTS = { "Guilds", "GuildMembers", "GuildMessages", "MessageContent", "GuildMessageReactions",
  "DirectMessages", "DirectMessageReactions" }
local EVENTS = { "messageReactionAdd", "messageReactionRemove", "messageReactionRemoveAll",
  "messageReactionRemoveEmoji", "error" }
local THUMBS = "\u{1F44D}"

describe("reactions", function()
  local fd, client, seen

  local function start(options)
    options = options or {}
    options.intents = INTENTS
    fd, client = server.login(options, function(_, c)
      seen = {}
      for _, name in ipairs(EVENTS) do
        seen[name] = {}
        c:on(name, function(...) table.insert(seen[name], table.pack(...)) end)
      end
    end)
  end

  after_each(function()
    if client then client:destroy() end
    runtime.run(nil, { ["for"] = 1000 })
    client = nil
  end)

  local function act(fn)
    local out
    runtime.run(function() out = table.pack(fn()) end, { ["for"] = 5000 })
    return table.unpack(out, 1, out.n)
  end

  local function said(text)
    local raw = act(function() return fd:say(fd.alice, fd.general, text or "react to me") end)
    return raw, client.channels.cache:get(fd.general.id).messages.cache:get(raw.id)
  end

  it("resolves every emoji form to the route identifier", function()
    local cases = {
      { THUMBS, "%F0%9F%91%8D", THUMBS },
      { "<:tarn:123456789012345678>", "tarn%3A123456789012345678", "123456789012345678" },
      { "<a:spin:223456789012345678>", "spin%3A223456789012345678", "223456789012345678" },
      { "tarn:123456789012345678", "tarn%3A123456789012345678", "123456789012345678" },
      { { id = "323456789012345678", name = "x" }, "x%3A323456789012345678", "323456789012345678" },
    }
    for _, c in ipairs(cases) do
      local e = resolveEmoji(c[1])
      assert.are.same({ c[2], c[3] }, { e.identifier, e.key }, tostring(c[1]))
    end
    assert.are.equal("<a:spin:223456789012345678>", tostring(resolveEmoji(cases[3][1])))
    for _, bad in ipairs({ "", {}, 42 }) do assert.is_nil(resolveEmoji(bad)) end
  end)

  it("counts the bot's reaction once although the gateway repeats it, and others' as they come", function()
    start()
    local raw, msg = said()
    local reaction = act(function() return msg:react(THUMBS) end)
    assert.are.same({ 1, true, 1 }, { reaction.count, reaction.me, #seen.messageReactionAdd })
    assert.are.equal(client.user, seen.messageReactionAdd[1][2])
    act(function() fd:react(fd.bob, fd.general, raw, THUMBS) end)
    act(function() fd:react(fd.alice, fd.general, raw, THUMBS, true) end)
    assert.are.equal(3, #seen.messageReactionAdd)
    local r, user, details = table.unpack(seen.messageReactionAdd[3], 1, 3)
    assert.are.equal(reaction, r)
    assert.are.same({ "alice", true, 1 }, { user.username, details.burst, details.type })
    assert.are.same({ 3, 2, 1 }, { reaction.count, reaction.countDetails.normal, reaction.countDetails.burst })
    local users = act(function() return reaction.users:fetch() end)
    assert.are.same({ fd.bot.id, fd.bob.id }, users:keys())
    local burst = act(function() return reaction.users:fetch({ type = "burst" }) end)
    assert.are.same({ fd.alice.id }, burst:keys())
    -- Removing Bob's reaction waits for the gateway; removing the bot's own counts at once.
    act(function() reaction.users:remove(fd.bob.id) end)
    assert.are.equal(fd.bob.id, seen.messageReactionRemove[1][2].id)
    act(function() reaction.users:remove() end)
    assert.are.same({ 1, false, 2 }, { reaction.count, reaction.me, #seen.messageReactionRemove })
    local paths = {}
    for _, r2 in ipairs(fd:requests(nil, "/channels/%d+/messages/%d+/reactions/.*")) do
      paths[#paths + 1] = r2.method .. " " .. r2.path:match("/reactions/(.*)$")
    end
    assert.are.same({ "PUT %F0%9F%91%8D/@me", "GET %F0%9F%91%8D", "GET %F0%9F%91%8D",
      "DELETE %F0%9F%91%8D/" .. fd.bob.id, "DELETE %F0%9F%91%8D/@me" }, paths)
    assert.are.same({}, seen.error)
  end)

  it("removes one emoji or all reactions through the gateway events", function()
    start()
    local raw, msg = said()
    act(function()
      msg:react(THUMBS)
      msg:react("<:tarn:123456789012345678>")
      fd:react(fd.bob, fd.general, raw, "tarn:123456789012345678")
    end)
    assert.are.same({ THUMBS, "123456789012345678" }, msg.reactions.cache:keys())
    local custom = msg.reactions.cache:get("123456789012345678")
    assert.are.equal(2, custom.count)
    act(function() custom:remove() end)
    assert.are.equal(custom, seen.messageReactionRemoveEmoji[1][1])
    assert.are.same({ THUMBS }, msg.reactions.cache:keys())
    act(function() msg.reactions:removeAll() end)
    local m, removed = table.unpack(seen.messageReactionRemoveAll[1], 1, 2)
    assert.are.same({ msg, { THUMBS }, 0 }, { m, removed:keys(), msg.reactions.cache.size })
    -- A fetched message brings its reactions; the same objects are patched.
    act(function() fd:react(fd.bob, fd.general, raw, THUMBS) end)
    local thumbs = msg.reactions.cache:get(THUMBS)
    act(function() fd:react(fd.alice, fd.general, raw, THUMBS) end)
    act(function() msg:fetch() end)
    assert.are.same({ thumbs, 2, false }, { msg.reactions.cache:get(THUMBS), thumbs.count, thumbs.me })
  end)

  it("drops reactions on uncached messages unless partials allow them, and completes them on fetch", function()
    local cases = {
      { {}, 0 },
      { { "Message" }, 0 },
      { { "Message", "Reaction" }, 1 },
    }
    for _, c in ipairs(cases) do
      start({ partials = c[1] })
      local raw = fd.store:addMessage(fd.general, fd.alice, { content = "from before" })
      act(function()
        fd:react(fd.bob, fd.general, raw, THUMBS)
        fd:react(fd.alice, fd.general, raw, THUMBS)
      end)
      act(function() fd:react(fd.bob, fd.general, raw, "\u{2764}") end)
      local shown = #seen.messageReactionAdd
      assert.are.equal(c[2] * 3, shown, table.concat(c[1], ","))
      if shown > 0 then
        local reaction = seen.messageReactionAdd[1][1]
        assert.are.same({ true, true }, { reaction.partial, reaction.message.partial })
        act(function() reaction:fetch() end)
        assert.are.same({ false, 2, "from before" }, { reaction.partial, reaction.count, reaction.message.content })
        assert.are.equal(reaction, reaction.message.reactions.cache:get(THUMBS))
      end
      client:destroy()
      runtime.run(nil, { ["for"] = 1000 })
    end
  end)
end)
