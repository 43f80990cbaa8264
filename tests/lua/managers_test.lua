-- Managers: resolving, fetching through the cache, and the REST calls of roles, members, channels,
-- users and the client user.
local json = require("json")
local util = require("discord.util")
local S = require("support.objects")

-- "METHOD path" of each call, with the body as JSON and the audit-log reason when there is one.
local function trace(api)
  return util.map(api.calls, function(c)
    local line = c.method .. " " .. c.path
    if c.body ~= nil then line = line .. " " .. json.encode(c.body) end
    if c.reason then line = line .. " (" .. c.reason .. ")" end
    return line
  end)
end

describe("managers", function()
  local client, api, guild
  before_each(function()
    client, api = S.client()
    guild = client.guilds.cache:get(S.GUILD)
  end)

  it("resolve objects, IDs and mentions to IDs", function()
    local alice = guild.members.cache:get(S.ALICE)
    local cases = {
      { client.users, alice, S.ALICE }, { client.users, "123", "123" }, { client.users, 42, "42" },
      { client.users, { id = "7" }, "7" }, { client.users, {}, nil },
      { guild.members, "<@!" .. S.ALICE .. ">", S.ALICE }, { guild.members, alice.user, S.ALICE },
      { guild.roles, "@everyone", S.GUILD }, { guild.roles, "<@&" .. S.MOD_ROLE .. ">", S.MOD_ROLE },
      { client.guilds, client.channels.cache:get(S.GENERAL), S.GUILD }, { client.guilds, alice, S.GUILD },
    }
    for i, c in ipairs(cases) do assert.are.equal(c[3], c[1]:resolveId(c[2]), "case " .. i) end
    assert.are.equal(alice.user, client.users:resolve(alice))
    assert.are.equal(guild, client.guilds:resolve(alice))
    assert.is_nil(guild.roles:resolve("999"))
  end)

  it("fetch from the cache unless forced, and cache what they fetch unless told not to", function()
    local n = 0
    api.on("GET", "/users/55", function()
      n = n + 1
      return 200, S.user("55", "fetched" .. n)
    end)
    S.run(function()
      local u = client.users:fetch("55", { cache = false })
      assert.are.equal("fetched1", u.username)
      assert.is_false(client.users.cache:has("55"))
      local cached = client.users:fetch("55")
      assert.are.equal(cached, client.users:fetch("55"))
      assert.are.equal(cached, client.users:fetch("55", { force = true }))
      assert.are.equal("fetched3", cached.username)
    end)
    assert.are.equal(3, n)
  end)

  it("add, remove and set member roles", function()
    local alice = guild.members.cache:get(S.ALICE)
    api.on("PATCH", "/guilds/" .. S.GUILD .. "/members/" .. S.ALICE, function(_, body)
      return 200, S.member(S.user(S.ALICE, "alice"), body.roles)
    end)
    local results = S.run(function()
      return {
        alice.roles:add(S.MOD_ROLE, "promoted"),
        alice.roles:add({ S.MOD_ROLE, guild.roles.cache:get(S.ADMIN_ROLE) }),
        alice.roles:remove(S.MUTED_ROLE),
        alice.roles:set({}),
      }
    end)
    local base = "/guilds/" .. S.GUILD .. "/members/" .. S.ALICE
    assert.are.same({
      "PUT " .. base .. "/roles/" .. S.MOD_ROLE .. " (promoted)",
      "PATCH " .. base .. ' {"roles":["' .. S.MUTED_ROLE .. '","' .. S.MOD_ROLE .. '","' .. S.ADMIN_ROLE .. '"]}',
      "DELETE " .. base .. "/roles/" .. S.MUTED_ROLE,
      "PATCH " .. base .. ' {"roles":[]}',
    }, trace(api))
    -- The results show the change; the cached member waits for the gateway.
    assert.are.same({ S.MUTED_ROLE, S.MOD_ROLE }, results[1]._roles)
    assert.are.same({}, results[3]._roles)
    assert.are.same({ S.MUTED_ROLE }, alice._roles)
    assert.is_true(results[1].roles:has(S.MOD_ROLE))
    assert.truthy(S.failure(alice.roles.add, alice.roles, "999"):find("unknown role 999", 1, true))
  end)

  it("edit, time out, kick and ban members", function()
    local alice = guild.members.cache:get(S.ALICE)
    api.on("PATCH", "/guilds/" .. S.GUILD .. "/members/" .. S.ALICE, function(_, body)
      local m = S.member(S.user(S.ALICE, "alice"), { S.MUTED_ROLE })
      m.nick = body.nick
      m.communication_disabled_until = body.communication_disabled_until
      return 200, m
    end)
    api.on("PATCH", "/guilds/" .. S.GUILD .. "/members/@me", function(_, body)
      local m = S.member(S.user(S.BOT, "bot", true), { S.MOD_ROLE })
      m.nick = body.nick
      return 200, m
    end)
    local renamed, timed = S.run(function()
      local r = alice:setNickname("Al", "tidy")
      local t = alice:timeout(60000)
      alice:kick("bye")
      alice:ban({ deleteMessageSeconds = 3600, reason = "spam" })
      guild.members.me:setNickname("Robo")
      guild.members:unban(S.ALICE)
      return r, t
    end)
    local base = "/guilds/" .. S.GUILD
    assert.are.same({
      "PATCH " .. base .. "/members/" .. S.ALICE .. ' {"nick":"Al"} (tidy)',
      "PATCH " .. base .. "/members/" .. S.ALICE .. ' {"communication_disabled_until":"2026-01-01T00:01:00.000Z"}',
      "DELETE " .. base .. "/members/" .. S.ALICE .. " (bye)",
      "PUT " .. base .. "/bans/" .. S.ALICE .. ' {"delete_message_seconds":3600} (spam)',
      "PATCH " .. base .. '/members/@me {"nick":"Robo"}',
      "DELETE " .. base .. "/bans/" .. S.ALICE,
    }, trace(api))
    assert.are.equal("Al", renamed.displayName)
    assert.is_true(timed:isCommunicationDisabled())
    assert.is_nil(alice.nickname)
  end)

  it("create, edit, move and delete roles", function()
    api.on("POST", "/guilds/" .. S.GUILD .. "/roles", function(_, body)
      return 200, { id = "300000000000000009", name = body.name, color = body.color, permissions = body.permissions,
        position = 1 }
    end)
    api.on("PATCH", "/guilds/" .. S.GUILD .. "/roles/300000000000000009", function(_, body)
      return 200, { id = "300000000000000009", name = body.name, position = 1 }
    end)
    api.on("PATCH", "/guilds/" .. S.GUILD .. "/roles", function(_, body)
      return 200, util.map(body, function(r) return { id = r.id, position = r.position } end)
    end)
    local role = S.run(function()
      local r = guild.roles:create({ name = "Helper", color = "#00ff00", permissions = { "KickMembers", "BanMembers" },
        reason = "new" })
      r:setName("Helpers")
      r:setPosition(3)
      return r
    end)
    assert.are.equal(role, guild.roles.cache:get("300000000000000009"))
    assert.are.equal("Helpers", role.name)
    assert.are.equal(3, role.rawPosition)
    assert.is_true(role.permissions:has("BanMembers"))
    S.run(function() role:delete() end)
    assert.is_nil(guild.roles.cache:get(role.id))
    assert.are.same({
      "POST /guilds/" .. S.GUILD .. '/roles {"color":65280,"name":"Helper","permissions":"6"} (new)',
      "PATCH /guilds/" .. S.GUILD .. '/roles/300000000000000009 {"name":"Helpers"}',
      "PATCH /guilds/" .. S.GUILD .. '/roles [{"id":"300000000000000009","position":3}]',
      "DELETE /guilds/" .. S.GUILD .. "/roles/300000000000000009",
    }, trace(api))
  end)

  it("create, edit and move channels", function()
    local P = require("discord.bitfield").PermissionFlags
    api.on("POST", "/guilds/" .. S.GUILD .. "/channels", function(_, body)
      return 200, { id = "400000000000000020", guild_id = S.GUILD, type = body.type, name = body.name,
        parent_id = body.parent_id, position = 2, permission_overwrites = body.permission_overwrites or {} }
    end)
    api.on("PATCH", "/channels/400000000000000020", function(_, body)
      return 200, { id = "400000000000000020", guild_id = S.GUILD, type = 0, topic = body.topic,
        rate_limit_per_user = body.rate_limit_per_user }
    end)
    local category = client.channels.cache:get(S.CATEGORY)
    local c = S.run(function()
      local made = category.children:create({ name = "rules", permissionOverwrites = {
        { id = S.GUILD, deny = { "SendMessages" } }, { id = S.ALICE, allow = P.SendMessages },
      } })
      made:edit({ topic = "Read me", rateLimitPerUser = 30 })
      made:setPosition(1, { reason = "up" })
      return made
    end)
    assert.are.equal("TextChannel", util.className(c))
    assert.are.equal(category, c.parent)
    assert.are.equal("Read me", c.topic)
    assert.are.equal(30, c.rateLimitPerUser)
    assert.are.equal(1, c.rawPosition)
    assert.are.same({
      "POST /guilds/" .. S.GUILD .. '/channels {"name":"rules","parent_id":"' .. S.CATEGORY .. '",'
        .. '"permission_overwrites":[{"allow":"0","deny":"2048","id":"' .. S.GUILD .. '","type":0},'
        .. '{"allow":"2048","deny":"0","id":"' .. S.ALICE .. '","type":1}],"type":0}',
      'PATCH /channels/400000000000000020 {"rate_limit_per_user":30,"topic":"Read me"}',
      "PATCH /guilds/" .. S.GUILD .. '/channels [{"id":"400000000000000020","position":1}] (up)',
    }, trace(api))
  end)

  it("edit the guild and list the bot's guilds", function()
    api.on("PATCH", "/guilds/" .. S.GUILD, function(_, body)
      return 200, { id = S.GUILD, name = body.name, icon = json.null, system_channel_id = body.system_channel_id }
    end)
    api.on("GET", "/users/@me/guilds", function()
      return 200, { { id = S.GUILD, name = "Lua Bot Club", owner = false, permissions = "8" } }
    end)
    local listed = S.run(function()
      guild:edit({ name = "Renamed", icon = false, systemChannel = client.channels.cache:get(S.GENERAL),
        rulesChannel = false }, "rebrand")
      return client.guilds:fetch()
    end)
    assert.are.same({
      "PATCH /guilds/" .. S.GUILD .. ' {"icon":null,"name":"Renamed","rules_channel_id":null,"system_channel_id":"'
        .. S.GENERAL .. '"} (rebrand)',
      "GET /users/@me/guilds",
    }, trace(api))
    assert.are.equal("Renamed", guild.name)
    assert.is_nil(guild.icon)
    assert.are.equal(S.GENERAL, guild.systemChannel.id)
    assert.are.equal(3, guild.members.cache.size)
    assert.are.equal("8", listed:get(S.GUILD).permissions)
  end)

  it("open a DM once and send through it", function()
    local opened = 0
    api.on("POST", "/users/@me/channels", function(_, body)
      opened = opened + 1
      return 200, { id = "900000000000000001", type = 1, recipients = { S.user(body.recipient_id, "alice") } }
    end)
    api.on("POST", "/channels/900000000000000001/messages", function(_, body)
      return 200, { id = "900000000000000002", channel_id = "900000000000000001", content = body.content,
        author = S.user(S.BOT, "bot", true), timestamp = "2026-01-01T00:00:00Z" }
    end)
    local alice = guild.members.cache:get(S.ALICE)
    local sent = S.run(function()
      alice:send("hi")
      return alice.user:send({ content = "again" })
    end)
    assert.are.equal(1, opened)
    assert.are.equal("again", sent.content)
    assert.are.equal("DMChannel", util.className(sent.channel))
    assert.is_nil(sent.guild)
  end)

  it("edit the client user and send presence on every shard", function()
    local sent = {}
    client.ws.broadcast = function(_, payload) sent[#sent + 1] = payload end
    api.on("PATCH", "/users/@me", function(_, body)
      return 200, { id = S.BOT, username = body.username, avatar = "newhash", bot = true, verified = true }
    end)
    S.run(function()
      client.user:edit({ username = "robot", avatar = "\x89PNG\r\n\x1a\nrest" })
    end)
    assert.are.equal("robot", client.user.username)
    assert.is_true(client.user.verified)
    assert.are.equal("data:image/png;base64,iVBORw0KGgpyZXN0", api.calls[1].body.avatar)
    client.user:setPresence({ status = "idle", activities = { { name = "with Lua", type = "Playing" } } })
    client.user:setActivity({ name = "the logs", type = "Watching" })
    assert.are.same({ op = 3, d = { since = json.null, status = "idle", afk = false,
      activities = { { name = "the logs", type = 3 } } } }, sent[2])
    assert.truthy(S.failure(client.user.setStatus, client.user, "busy"):find("unknown status busy", 1, true))
  end)
end)

describe("modules of later versions", function()
  it("load, and raise a clear error when used", function()
    for _, name in ipairs({ "discord.interaction", "discord.builders.slash", "discord.managers.ban",
      "@discord/voice", "discord.structures.webhook", "discord.sharding" }) do
      local mod = require(name)
      assert.are.equal("table", type(mod))
      for _, use in ipairs({ function() return mod.anything end, function() mod.x = 1 end, function() mod() end }) do
        local err = S.failure(use)
        assert.truthy(err:find(name .. " is not available in this version.", 1, true), err)
      end
    end
  end)
end)
