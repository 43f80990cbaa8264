-- Faults found by trying the library as a bot author would; each test is named after what broke.
local runtime = require("runtime")
local server = require("fake.discord.server")
local constants = require("discord.constants")
local cdn = require("discord.cdn")
local MessagePayload = require("discord.message").MessagePayload

local INTENTS = { "Guilds", "GuildMembers", "GuildMessages" }

local function failure(fn, ...)
  local ok, err = pcall(fn, ...)
  assert.is_false(ok, "expected an error")
  return tostring(err)
end

describe("regressions", function()
  local fd, client

  local function start()
    fd, client = server.login({ intents = INTENTS })
  end

  local function act(fn)
    local out
    runtime.run(function() out = table.pack(fn()) end, { ["for"] = 5000 })
    return table.unpack(out, 1, out.n)
  end

  after_each(function()
    if client then client:destroy() end
    runtime.run(nil, { ["for"] = 1000 })
    client = nil
  end)

  it("fetch with force and cache = false returns what it fetched and leaves the cache alone", function()
    start()
    local guild = client.guilds.cache:get(fd.guild.id)
    fd.rest:route("GET", "/guilds/:guild/members/:member", function(_, params)
      return 200, fd.store:memberJSON(fd.guild.members[params.member])
    end)
    fd.rest:route("GET", "/channels/:channel", function(_, params)
      return 200, fd.store:channelJSON(fd.store.channels[params.channel])
    end)
    local cases = {
      { "user", client.users, fd.alice.id, function() fd.alice.username = "alice2" end, "username",
        "alice", "alice2" },
      { "member", guild.members, fd.bob.id, function() fd.guild.members[fd.bob.id].nick = "bobby" end, "nickname",
        nil, "bobby" },
      { "channel", client.channels, fd.general.id, function() fd.general.topic = "changed" end, "topic",
        "hello", "changed" },
    }
    for _, c in ipairs(cases) do
      local name, manager, id, change, field, before, after = table.unpack(c)
      local cached = manager.cache:get(id)
      assert.are.equal(before, cached[field], name)
      change()
      local got = act(function() return manager:fetch(id, { force = true, cache = false }) end)
      assert.are.equal(after, got[field], name)
      assert.are_not.equal(cached, got, name)
      assert.are.equal(cached, manager.cache:get(id), name)
      assert.are.equal(before, cached[field], name)
    end
  end)

  it("addRole and removeRole refuse what they cannot resolve before sending anything", function()
    start()
    local members = client.guilds.cache:get(fd.guild.id).members
    local cases = {
      { "addRole", nil, fd.member_role.id, "addRole: not a user" },
      { "addRole", { name = "no id" }, fd.member_role.id, "addRole: not a user" },
      { "removeRole", fd.alice.id, nil, "removeRole: not a role" },
      { "addRole", fd.alice.id, 3.5, "addRole: not a role" },
    }
    local before = #fd:requests()
    for _, c in ipairs(cases) do
      local err = failure(members[c[1]], members, c[2], c[3])
      assert.truthy(err:find(c[4], 1, true), err)
    end
    assert.are.equal(before, #fd:requests())
    act(function() members:addRole(fd.alice.id, fd.member_role.id, "ok") end)
    local puts = fd:requests("PUT", "/guilds/%d+/members/%d+/roles/%d+")
    assert.are.equal("/guilds/" .. fd.guild.id .. "/members/" .. fd.alice.id .. "/roles/" .. fd.member_role.id,
      puts[1].path)
  end)

  it("cdn accepts every size of constants.ImageSizes and only those", function()
    for _, size in ipairs(constants.ImageSizes) do
      assert.are.equal("https://cdn.discordapp.com/avatars/1/h.webp?size=" .. size,
        cdn.avatar("1", "h", { size = size }))
      assert.truthy(cdn.emoji("2", { size = size }):find("size=" .. size, 1, true))
    end
    for _, size in ipairs({ 0, 8, 15, 17, 200, 8192, 64.0, "64" }) do
      assert.truthy(failure(cdn.icon, "1", "h", { size = size }):find("size", 1, true), tostring(size))
    end
  end)

  it("raw embed tables are held to every field limit and the message to the 6000 total", function()
    local function send(embeds) return MessagePayload(nil, { embeds = embeds }):resolveBody().body end
    local function fields(n, value)
      local out = {}
      for i = 1, n do out[i] = { name = "f" .. i, value = value or "v" } end
      return out
    end
    local x = function(n) return ("x"):rep(n) end
    local cases = {
      { { title = x(257) }, "title is longer than 256" },
      { { description = x(4097) }, "description is longer than 4096" },
      { { fields = fields(26) }, "at most 25 fields" },
      { { fields = { { name = x(257), value = "v" } } }, "field name is longer than 256" },
      { { fields = { { name = "n", value = x(1025) } } }, "field value is longer than 1024" },
      { { fields = { { name = "n" } } }, "field value must be a string" },
      { { footer = { text = x(2049) } }, "footer text is longer than 2048" },
      { { author = { name = x(257) } }, "author name is longer than 256" },
      { { url = "javascript:alert(1)" }, "http(s) or attachment:// URL" },
    }
    for _, c in ipairs(cases) do
      local err = failure(send, { c[1] })
      assert.truthy(err:find(c[2], 1, true), err)
    end
    -- Each within its own limits, together over the total.
    local half = { description = x(3500) }
    assert.truthy(failure(send, { half, half }):find("over the 6000 limit", 1, true))
    local ok = { title = x(256), description = x(4096), fields = fields(25, x(10)), footer = { text = "f" } }
    assert.are.equal(x(256), send({ ok }).embeds[1].title)
  end)

  it("op 8 with more than 100 user IDs goes out as several requests and merges the answers", function()
    start()
    for i = 1, 247 do
      local user = fd.store:addUser({ username = "user" .. i })
      fd.guild.members[user.id] = { user_id = user.id, roles = {}, nick = "m" .. i, joined_at = "2026-01-01T00:00:00Z" }
      fd.guild.member_order[#fd.guild.member_order + 1] = user.id
    end
    local ids = {}
    for i = 4, #fd.guild.member_order do ids[#ids + 1] = fd.guild.member_order[i] end
    ids[#ids + 1] = "1234567890123456789"
    local guild = client.guilds.cache:get(fd.guild.id)
    local got = act(function() return guild.members:fetch({ user = ids }) end)
    local sent = fd.gateway:receivedOps(8)
    assert.are.same({ 100, 100, 48 }, { #sent[1].d.user_ids, #sent[2].d.user_ids, #sent[3].d.user_ids })
    local nonces = {}
    for _, r in ipairs(sent) do nonces[r.d.nonce] = true end
    assert.are.equal(3, #require("discord.util").keys(nonces))
    assert.are.equal(247, got.size)
    assert.are.equal("m247", got:get(ids[247]).nickname)
    assert.are.same({}, fd.gateway.faults)
  end)
end)
