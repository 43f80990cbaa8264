-- Reactions: the bot's own and other users', their users and removal (on uncached messages: flow_5_test).
local server = require("fake.discord.server")
local resolveEmoji = require("discord.structures.reaction").resolveEmoji
local act = server.act

local INTENTS = { "Guilds", "GuildMembers", "GuildMessages", "GuildMessageReactions" }
local EVENTS = { "messageReactionAdd", "messageReactionRemove", "messageReactionRemoveAll",
  "messageReactionRemoveEmoji" }
local THUMBS, CUSTOM = "\u{1F44D}", "<:tarn:123456789012345678>"

describe("reactions", function()
  local fd, client, seen
  after_each(function() server.stop(client) client = nil end)

  local function said()
    local raw = act(function() return fd:say(fd.alice, fd.general, "react to me") end)
    return raw, client.channels.cache:get(fd.general.id).messages.cache:get(raw.id)
  end

  it("resolves every emoji form to the route identifier and cache key", function()
    for _, c in ipairs({ { THUMBS, "%F0%9F%91%8D", THUMBS },
      { CUSTOM, "tarn%3A123456789012345678", "123456789012345678" }, { { id = "3", name = "x" }, "x%3A3", "3" } }) do
      local e = resolveEmoji(c[1])
      assert.same({ c[2], c[3] }, { e.identifier, e.key })
    end
    assert.same({ CUSTOM, nil, nil }, { tostring(resolveEmoji(CUSTOM)), resolveEmoji(""), resolveEmoji({}) })
  end)

  it("counts the bot's reaction once although the gateway repeats it, and others' as they come", function()
    fd, client, seen = server.session({ intents = INTENTS }, EVENTS)
    local raw, msg = said()
    local reaction = act(function() return msg:react(THUMBS) end)
    act(function()
      fd:react(fd.bob, fd.general, raw, THUMBS)
      fd:react(fd.alice, fd.general, raw, THUMBS, true)
    end)
    local r, user, details = table.unpack(seen.messageReactionAdd[3], 1, 3)
    assert.same({ reaction, "alice", true, client.user, 3, 2, 1, true, { fd.bot.id, fd.bob.id }, { fd.alice.id } },
      { r, user.username, details.burst, seen.messageReactionAdd[1][2], reaction.count, reaction.countDetails.normal,
        reaction.countDetails.burst, reaction.me, act(function() return reaction.users:fetch() end):keys(),
        act(function() return reaction.users:fetch({ type = "burst" }) end):keys() })
    act(function() reaction.users:remove(fd.bob.id) end)
    act(function() reaction.users:remove() end)
    assert.same({ 1, false, 2, "/@me" }, { reaction.count, reaction.me, #seen.messageReactionRemove,
      fd:requests("DELETE")[2].path:sub(-4) })
    -- A normal reaction's empty colours leave those of a super reaction.
    act(function() fd:react(fd.bob, fd.general, raw, THUMBS) end)
    assert.same({ "#ffcc00" }, reaction.burstColors)
  end)

  it("keeps who reacted in order through removals (three users held, ten passed on)", function()
    fd, client, seen = server.session({ intents = INTENTS }, EVENTS)
    local r, ids = select(2, said()).reactions, {}
    for i = 1, 10 do ids[i] = client.users:_add({ id = tostring(9000 + i), username = "u" }).id end
    for i = 1, 10 do r:_addUser({ name = "x" }, ids[i]) if i <= 3 then r:_addUser({ name = THUMBS }, ids[i]) end end
    r:_removeUser({ name = THUMBS }, ids[2], false)
    local thumbs = r.cache:get(THUMBS)
    assert.same({ { ids[1], ids[3] }, 2, false, ids }, { thumbs.users.cache:keys(), thumbs.count,
      select(2, r:_addUser({ name = "x" }, ids[5])), r.cache:get("x").users.cache:keys() })
  end)

  it("removes one emoji or all reactions through the gateway events", function()
    fd, client, seen = server.session({ intents = INTENTS }, EVENTS)
    local raw, msg = said()
    act(function()
      msg:react(THUMBS)
      msg:react(CUSTOM)
      fd:react(fd.bob, fd.general, raw, "tarn:123456789012345678")
    end)
    local custom = msg.reactions.cache:get("123456789012345678")
    assert.same({ { THUMBS, "123456789012345678" }, 2 }, { msg.reactions.cache:keys(), custom.count })
    act(function() custom:remove() end)
    local left = msg.reactions.cache:keys()
    act(function() msg.reactions:removeAll() end)
    assert.same({ custom, { THUMBS }, msg, { THUMBS }, 0 }, { seen.messageReactionRemoveEmoji[1][1], left,
      seen.messageReactionRemoveAll[1][1], seen.messageReactionRemoveAll[1][2]:keys(), msg.reactions.cache.size })
  end)
end)
