-- The example prefix bot against the fake Discord: it logs in, answers commands with embeds and
-- changes roles, and the fake's gateway brings the change back into its cache.
local runtime = require("runtime")
local server = require("fake.discord.server")

local BOT = "tests/lua/examples/prefix_bot.lua"

describe("example prefix bot", function()
  local fd, client

  -- Starts the bot as `tarn run` would and runs the loop until it is ready.
  before_each(function()
    fd = server.reset()
    -- The bot holds the Mod role, so it may hand out the roles below it.
    fd.guild.members[fd.bot.id].roles = { fd.mod_role.id }
    runtime.env.DISCORD_TOKEN = fd.token
    runtime.run(function() client = dofile(BOT) end, { ["for"] = 20000 })
    assert.is_true(client:isReady())
  end)

  after_each(function()
    client:destroy()
    runtime.run(nil, { ["for"] = 5000 })
  end)

  -- A user writes; the loop runs until the bot has answered. Returns the replies Discord accepted.
  local function say(user, text)
    local before = #fd:requests("POST", "/channels/%d+/messages")
    runtime.run(function() fd:say(user, fd.general, text) end, { ["for"] = 5000 })
    local posts = fd:requests("POST", "/channels/%d+/messages")
    local out = {}
    for i = before + 1, #posts do
      if posts[i].status == 200 then out[#out + 1] = posts[i].body end
    end
    return out
  end

  local function member(userId)
    return client.guilds.cache:get(fd.guild.id).members.cache:get(userId)
  end

  it("answers !ping with an embed that replies to the command", function()
    local msg
    runtime.run(function() msg = fd:say(fd.alice, fd.general, "!ping") end, { ["for"] = 5000 })
    local replies = fd:requests("POST", "/channels/" .. fd.general.id .. "/messages")
    assert.are.equal(1, #replies)
    local body = replies[1].body
    assert.are.equal("Pong!", body.embeds[1].title)
    assert.are.equal(msg.id, body.message_reference.message_id)
    assert.are.same({ parse = {} }, body.allowed_mentions)
    assert.are.equal(0, #fd.gateway.faults)
  end)

  it("gives and takes a role for a member with Manage Roles, and the cache follows", function()
    local roleId = fd.member_role.id
    local replies = say(fd.alice, "!role add <@" .. fd.bob.id .. "> member")
    assert.are.equal("Roles changed", replies[1].embeds[1].title)
    assert.are.equal("Gave Member to bob", replies[1].embeds[1].description)
    local puts = fd:requests("PUT", "/guilds/%d+/members/%d+/roles/%d+")
    assert.are.equal("/guilds/" .. fd.guild.id .. "/members/" .. fd.bob.id .. "/roles/" .. roleId, puts[1].path)
    assert.are.equal("requested%20by%20alice", puts[1].headers["x-audit-log-reason"])
    assert.is_true(member(fd.bob.id).roles:has(roleId))

    say(fd.alice, "!role remove <@" .. fd.bob.id .. "> <@&" .. roleId .. ">")
    assert.are.equal(1, #fd:requests("DELETE", "/guilds/%d+/members/%d+/roles/%d+"))
    assert.is_false(member(fd.bob.id).roles:has(roleId))
  end)

  it("refuses bad commands with an error embed and calls nothing", function()
    local cases = {
      { fd.bob, "!role add <@" .. fd.alice.id .. "> Member", "You need the Manage Roles permission." },
      { fd.alice, "!role add <@" .. fd.bob.id .. "> Mod", "That role is above mine, or managed by an integration." },
    }
    for _, c in ipairs(cases) do
      local replies = say(c[1], c[2])
      assert.are.equal(1, #replies, c[2])
      assert.are.same({ title = "Cannot do that", description = c[3], color = 0xe74c3c }, replies[1].embeds[1])
    end
    assert.are.equal(0, #fd:requests("PUT", "/guilds/.*"))
    -- Messages from bots and without the prefix get no answer.
    assert.are.equal(0, #say(fd.alice, "ping"))
  end)
end)
