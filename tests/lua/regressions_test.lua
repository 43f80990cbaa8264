-- Faults found by trying the library as a bot author would; each test is named after what broke.
local server = require("fake.discord.server")
local MessagePayload = require("discord.message").MessagePayload
local act = server.act

describe("regressions", function()
  local fd, client
  after_each(function() server.stop(client) client = nil end)

  it("fetch with force and cache = false returns what it fetched and leaves the cache alone", function()
    fd, client = server.login({ intents = { "Guilds", "GuildMembers" } })
    local guild = client.guilds.cache:get(fd.guild.id)
    local cases = {
      { client.users, fd.alice.id, function() fd.alice.username = "alice2" end, "username", "alice", "alice2" },
      { guild.members, fd.bob.id, function() fd.guild.members[fd.bob.id].nick = "bobby" end, "nickname", nil, "bobby" },
      { client.channels, fd.general.id, function() fd.general.topic = "new" end, "topic", "hello", "new" },
    }
    for _, c in ipairs(cases) do
      local manager, id, change, field, before, after = table.unpack(c)
      local cached = manager.cache:get(id)
      change()
      local got = act(function() return manager:fetch(id, { force = true, cache = false }) end)
      assert.same({ after, before, cached }, { got[field], cached[field], manager.cache:get(id) }, field)
    end
  end)

  it("addRole and removeRole refuse what they cannot resolve before sending anything", function()
    fd, client = server.login({ intents = { "Guilds", "GuildMembers" } })
    local members = client.guilds.cache:get(fd.guild.id).members
    local before = #fd:requests()
    for _, c in ipairs({ { "addRole", nil, fd.member_role.id, "addRole: not a user" },
      { "addRole", { name = "no id" }, fd.member_role.id, "addRole: not a user" },
      { "removeRole", fd.alice.id, nil, "removeRole: not a role" } }) do
      assert.error_matches(function() members[c[1]](members, c[2], c[3]) end, c[4], nil, true)
    end
    -- Only the call that resolves goes out, and Discord takes it (a wrong path would be refused).
    act(function() members:addRole(fd.alice.id, fd.member_role.id) end)
    assert.same({ before + 1, 1 }, { #fd:requests(), #fd:requests("PUT") })
  end)

  it("raw embed tables are held to every field limit and the message to the 6000 total", function()
    local function send(embeds) return MessagePayload(nil, { embeds = embeds }):resolveBody().body end
    local x = function(n) return ("x"):rep(n) end
    local many = {}
    for i = 1, 26 do many[i] = { name = "f", value = "v" } end
    for _, c in ipairs({
      { { title = x(257) }, "title is longer than 256" }, { { description = x(4097) }, "description is longer" },
      { { fields = many }, "at most 25 fields" }, { { fields = { { name = x(257), value = "v" } } }, "field name" },
      { { fields = { { name = "n", value = x(1025) } } }, "field value is longer" },
      { { footer = { text = x(2049) } }, "footer text" }, { { author = { name = x(257) } }, "author name" },
    }) do
      assert.error_matches(function() send({ c[1] }) end, c[2], nil, true)
    end
    local half = { description = x(3500) }
    assert.error_matches(function() send({ half, half }) end, "over the 6000 limit", nil, true)
    assert.equal(x(256), send({ { title = x(256), description = x(4096) } }).embeds[1].title)
  end)

  it("op 8 with more than 100 user IDs goes out as several requests and merges the answers", function()
    fd, client = server.login({ intents = { "Guilds", "GuildMembers" } })
    local ids = {}
    for i = 1, 247 do
      local user = fd.store:addUser({ username = "user" .. i })
      fd.guild.members[user.id] = { user_id = user.id, roles = {}, nick = "m" .. i, joined_at = "2026-01-01T00:00:00Z" }
      ids[i] = user.id
    end
    local got = act(function() return client.guilds.cache:get(fd.guild.id).members:fetch({ user = ids }) end)
    local sent = fd.gateway:receivedOps(8)
    assert.same({ 100, 100, 47, true, 247, "m247" }, { #sent[1].d.user_ids, #sent[2].d.user_ids,
      #sent[3].d.user_ids, sent[1].d.nonce ~= sent[3].d.nonce, got.size, got:get(ids[247]).nickname })
  end)
end)
