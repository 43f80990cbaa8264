-- Objects behind a logged-in client and the fake Discord: the caches GUILD_CREATE fills, objects
-- patched in place by the events that REST writes cause, and members fetched over the gateway.
local runtime = require("runtime")
local util = require("discord.util")
local server = require("fake.discord.server")
local Client = require("discord.client").Client

describe("objects over the gateway", function()
  local fd, client, guild, events

  before_each(function()
    fd = server.reset()
    fd.guild.members[fd.bot.id].roles = { fd.mod_role.id }
    client = Client({ intents = { "Guilds", "GuildMembers", "GuildMessages", "MessageContent" } })
    events = {}
    for _, name in ipairs({ "channelUpdate", "messageUpdate", "messageDelete", "roleUpdate", "guildMemberUpdate",
      "channelDelete" }) do
      client:on(name, function(...) events[#events + 1] = { name, ... } end)
    end
    runtime.run(function() client:login(fd.token) end, { ["for"] = 20000 })
    guild = client.guilds.cache:get(fd.guild.id)
  end)

  after_each(function()
    client:destroy()
    runtime.run(nil, { ["for"] = 5000 })
  end)

  -- Runs fn in a task and lets the events it causes arrive.
  local function act(fn)
    local out
    runtime.run(function() out = fn() end, { ["for"] = 5000 })
    return out
  end

  it("fills guild, channel, role and member caches from GUILD_CREATE", function()
    assert.are.equal("Test Guild", guild.name)
    assert.are.same({ "CategoryChannel", "TextChannel", "GuildChannel" }, util.map(fd.guild.channels,
      function(id) return util.className(client.channels.cache:get(id)) end))
    local general = client.channels.cache:get(fd.general.id)
    assert.are.equal(guild, general.guild)
    assert.are.equal(fd.category.id, general.parent.id)
    assert.are.equal("hello", general.topic)
    assert.are.equal(3, guild.roles.cache.size)
    assert.are.equal(fd.alice.id, guild.owner.id)
    assert.is_true(guild.members.me.permissions:has("ManageRoles"))
    assert.are.equal(client.user, guild.members.me.user)
  end)

  it("patches objects in place and passes the old state beside them", function()
    local general = client.channels.cache:get(fd.general.id)
    local sent = act(function() return general:send("first") end)
    act(function()
      general:setTopic("news")
      sent:edit("second")
      guild.roles.cache:get(fd.member_role.id):setName("Members")
      guild.members.cache:get(fd.bob.id).roles:add(fd.member_role.id)
    end)
    local byName = {}
    for _, e in ipairs(events) do byName[e[1]] = e end
    local function pair(name, field)
      local e = byName[name]
      return { e[2][field], e[3][field] }
    end
    assert.are.same({ "hello", "news" }, pair("channelUpdate", "topic"))
    assert.are.equal(general, byName.channelUpdate[3])
    assert.are.same({ "first", "second" }, pair("messageUpdate", "content"))
    assert.are.equal(sent, byName.messageUpdate[3])
    assert.are.same({ "Member", "Members" }, pair("roleUpdate", "name"))
    local old, new = byName.guildMemberUpdate[2], byName.guildMemberUpdate[3]
    assert.is_false(old.roles:has(fd.member_role.id))
    assert.is_true(new.roles:has(fd.member_role.id))
    assert.are.equal(guild.members.cache:get(fd.bob.id), new)
  end)

  it("forgets deleted messages and channels", function()
    local general = client.channels.cache:get(fd.general.id)
    local sent = act(function() return general:send("bye") end)
    act(function() sent:delete() end)
    assert.is_true(sent.deleted)
    assert.is_nil(general.messages.cache:get(sent.id))
    act(function() general:delete() end)
    assert.is_nil(client.channels.cache:get(fd.general.id))
    assert.is_nil(guild.channels.cache:get(fd.general.id))
    local names = util.map(events, function(e) return e[1] end)
    assert.are.same({ "messageDelete", "channelDelete" }, names)
  end)

  it("fetches members over the gateway and one member over REST", function()
    guild.members:_remove(fd.bob.id)
    local found = act(function() return guild.members:fetch({ query = "b" }) end)
    assert.are.same({ fd.bob.id }, found:keys())
    assert.are.equal(found:get(fd.bob.id), guild.members.cache:get(fd.bob.id))
    local alice = act(function() return guild.members:fetch(fd.alice.id, { force = true }) end)
    assert.are.equal(guild.members.cache:get(fd.alice.id), alice)
    assert.are.equal(1, #fd:requests("GET", "/guilds/%d+/members/%d+"))
  end)
end)
