-- Structures and managers: what GUILD_CREATE builds, patching, permissions, message payloads, and the
-- REST calls behind object methods.
local runtime = require("runtime")
local json = require("json")
local util = require("discord.util")
local server = require("fake.discord.server")
local MessagePayload = require("discord.message").MessagePayload
local P = require("discord.bitfield").PermissionFlags
local act = server.act

describe("objects", function()
  local fd, client, guild, muted

  -- The bot moderates; Alice is muted, and the muted role may not write in #general.
  before_each(function()
    fd, client = server.login({ intents = { "Guilds", "GuildMembers", "GuildMessages", "MessageContent" } }, function(f)
      muted = f.store:addRole(f.guild, { name = "Muted", position = 1 })
      f.mod_role.position, f.mod_role.permissions = 3, tostring(P.ManageRoles | P.KickMembers)
      f.guild.members[f.bot.id].roles = { f.mod_role.id }
      f.guild.members[f.alice.id].roles = { muted.id }
      f.guild.owner_id = f.bob.id
      f.general.permission_overwrites = json.array({ { id = muted.id, type = 0, allow = "0",
        deny = tostring(P.SendMessages) } })
    end)
    guild = client.guilds.cache:get(fd.guild.id)
  end)

  after_each(function() server.stop(client) end)

  local function channel(id) return client.channels.cache:get(id or fd.general.id) end
  local function member(user) return guild.members.cache:get(user.id) end

  it("builds each channel's class from GUILD_CREATE and links guild, parent and children", function()
    local dm = client.channels:_add({ id = "9", type = 1, recipients = { fd.store:userJSON(fd.alice) } })
    assert.same({ { "CategoryChannel", "TextChannel", "VoiceChannel" }, guild, channel(fd.category.id),
      { fd.general.id }, guild.members.cache:get(fd.bob.id), client.user, "DMChannel", fd.alice.id },
      { util.map(fd.guild.channels, function(id) return util.className(channel(id)) end), channel().guild,
        channel().parent, channel(fd.category.id).children.cache:keys(), guild.owner, guild.members.me.user,
        util.className(dm), dm.recipient.id })
  end)

  it("patches in place: absent fields kept, null cleared, the old clone untouched", function()
    local general = channel()
    local old = general:_clone()
    client.channels:_add({ id = general.id, type = 0, topic = json.null, parent_id = json.null, guild_id = guild.id })
    assert.same({ nil, nil, old.rawPosition, "hello", fd.category.id }, { general.topic, general.parentId,
      general.rawPosition, old.topic, old.parentId })
    -- A type change (text -> announcement) rebuilds the object with its new class.
    local news = client.channels:_add({ id = general.id, type = 5, guild_id = guild.id })
    guild:_patch({ id = guild.id, unavailable = true })
    assert.same({ "AnnouncementChannel", news, false, "Test Guild" }, { util.className(news),
      guild.channels.cache:get(general.id), guild.available, guild.name })
  end)

  it("read nested objects with camelCase keys, and tell whether a payload would change a user", function()
    local user = client.users:_add({ id = "70", username = "neo", flags = 64,
      primary_guild = { identity_guild_id = "71", tag = "NEO" }, collectibles = { nameplate = { sku_id = "5" } } })
    local m = guild.members:_add({ user = { id = "70" }, roles = {}, avatar_decoration_data = { sku_id = "6" },
      collectibles = json.null })
    local msg = channel().messages:_add({ id = "72", channel_id = fd.general.id, author = { id = "70" },
      call = { participants = { "70" }, ended_timestamp = json.null }, attachments = { { id = "74", flags = 1,
        clip_created_at = "2026-01-01T00:00:01.000Z", clip_participants = { { id = "70" } } } } })
    local a = msg.attachments:get("74")
    assert.same({ { identityGuildId = "71", tag = "NEO" }, { nameplate = { skuId = "5" } }, true,
      { skuId = "6" }, nil, { participants = { "70" } }, true, 1767225601000, user },
      { user.primaryGuild, user.collectibles, user.flags:has("HypeSquadOnlineHouse1"), m.avatarDecorationData,
        m.collectibles, msg.call, a.flags:has("IsClip"), a.clipCreatedTimestamp, a.clipParticipants[1] })
    -- Whether a payload would change the user, field by field.
    for _, row in ipairs({ { { username = "neo", global_name = json.null, discriminator = "0", public_flags = 64,
        bot = false, unknown = 1 }, true }, { { system = false }, true }, { { discriminator = "1234" }, false },
      { { public_flags = 0 }, false }, { { flags = 0, public_flags = 64 }, true }, { { bot = true }, false },
      { { collectibles = json.null }, false }, { { primary_guild = json.null }, false },
      { { username = "trinity" }, false }, { { avatar = json.null, banner = json.null }, true },
      { { avatar = "a1" }, false }, { { global_name = "Neo" }, false } }) do
      assert.equal(row[2], user:_unchanged(row[1]), json.encode(row[1]))
    end
  end)

  it("hold a voice state's flags only while true, and write them all", function()
    local state = guild.voiceStates:_add({ user_id = fd.alice.id, guild_id = guild.id, channel_id = "80",
      session_id = "s", deaf = false, mute = false, self_deaf = false, self_mute = true, self_video = false,
      self_stream = false, suppress = false })
    local old = state:_clone()
    state:_patch({ self_mute = false, self_deaf = true })
    assert.same({ { id = fd.alice.id, guildId = guild.id, channelId = "80", sessionId = "s", serverDeaf = false,
      serverMute = false, selfDeaf = false, selfMute = true, selfVideo = false, streaming = false, suppress = false },
      true, false, true, client, nil },
      { old:toJSON(), state.selfDeaf, state.selfMute, state.deaf, state.client, rawget(state, "selfMute") })
  end)

  it("computes permissions from roles, overwrites, ownership and timeouts", function()
    local function can(user, perm, ch)
      local m = member(user)
      return (ch and ch:permissionsFor(m) or m.permissions):has(perm)
    end
    local general = channel()
    local cases = {
      { "everyone can send in the guild", fd.alice, "SendMessages", nil, true },
      { "the muted role's deny applies in #general", fd.alice, "SendMessages", general, false },
      { "reading stays allowed", fd.alice, "ViewChannel", general, true },
      { "a role's permission", fd.bot, "KickMembers", nil, true },
      { "no ban without it", fd.bot, "BanMembers", nil, false },
      { "the owner has everything", fd.bob, "BanMembers", general, true },
    }
    for _, c in ipairs(cases) do assert.equal(c[5], can(c[2], c[3], c[4]), c[1]) end
    local alice = member(fd.alice)
    assert.same({ true, true, false, false }, { alice.manageable, alice.kickable, alice.bannable,
      member(fd.bob).manageable })
    general:_patch({ permission_overwrites = {
      { id = muted.id, type = 0, allow = "0", deny = tostring(P.SendMessages) },
      { id = fd.alice.id, type = 1, allow = tostring(P.SendMessages), deny = "0" } } })
    assert.is_true(can(fd.alice, "SendMessages", general))
    alice:_patch({ communication_disabled_until = "2099-01-01T00:00:00.000Z" })
    assert.equal(P.ViewChannel | P.ReadMessageHistory, general:permissionsFor(alice).bitfield)
  end)

  it("turns send options into the API body and refuses what Discord would", function()
    local function body(options) return MessagePayload(channel(), options):resolveBody().body end
    local cases = {
      { "hi", { content = "hi" } },
      { { content = "x", flags = { "SuppressEmbeds", "SuppressNotifications" } }, { content = "x", flags = 4100 } },
      { { _edit = true, attachments = { { id = "11" } }, files = { { name = "a.txt", data = "A", spoiler = true,
        description = "d" } } }, { attachments = { { id = "11" }, { id = "0", filename = "SPOILER_a.txt",
        description = "d" } } } },
    }
    for i, c in ipairs(cases) do assert.same(c[2], body(c[1]), "case " .. i) end
    assert.error_matches(function() body({}) end, "cannot send an empty message", nil, true)
    assert.error_matches(function() body({ content = ("x"):rep(2001) }) end, "2000 or fewer characters", nil, true)
  end)

  it("reads mentions from a message, and a reply edited and deleted elsewhere leaves the cache", function()
    local said = act(function() return fd:say(fd.alice, fd.general, "hi <@" .. fd.bob.id .. ">") end)
    local msg = channel().messages.cache:get(said.id)
    local reply = act(function()
      local r = msg:reply("pong")
      r:edit("changed")
      -- Deleted behind the message's back: only MESSAGE_DELETE tells the cache.
      client.rest:delete("/channels/" .. r.channelId .. "/messages/" .. r.id)
      return r
    end)
    assert.same({ { fd.bob.id }, member(fd.alice), "changed", true, nil }, { msg.mentions.users:keys(), msg.member,
      reply.content, reply.deleted, channel().messages.cache:get(reply.id) })
  end)

  it("resolve to IDs, fetch through the cache, and open a DM once", function()
    local cases = {
      { client.users, member(fd.alice), fd.alice.id }, { client.users, {}, nil },
      { guild.members, "<@!" .. fd.alice.id .. ">", fd.alice.id }, { client.guilds, channel(), guild.id },
    }
    for i, c in ipairs(cases) do assert.equal(c[3], c[1]:resolveId(c[2]), "case " .. i) end
    local carol = fd.store:addUser({ username = "carol" })
    local got = act(function()
      local u = client.users:fetch(carol.id, { cache = false })
      local uncached = not client.users.cache:has(carol.id)
      local a = client.users:fetch(carol.id)
      local b, c = client.users:fetch(carol.id), client.users:fetch(carol.id, { force = true })
      member(fd.alice):send("hi")
      local alice = client.users.cache:get(fd.alice.id)
      return { u.username, uncached, a == b, a == c, alice:send("again").channel == alice.dmChannel }
    end)
    assert.same({ "carol", true, true, true, true }, got)
    assert.same({ 3, 1 }, { #fd:requests("GET", "/users/%d+"), #fd:requests("POST", "/users/@me/channels") })
  end)

  it("send a member's roles and timeout and a role as Discord expects them, and the caches follow", function()
    -- Discord's answer alone renames the guild here.
    fd.rest:route("PATCH", "/guilds/:guild", function(_, _, b)
      fd.guild.name = b.name
      return 200, fd.store:guildRESTJSON(fd.guild)
    end)
    local alice, from, until_ = member(fd.alice), #fd:requests() + 1, nil
    local role = act(function()
      alice.roles:set({})
      until_ = util.isoTimestamp(runtime.time() + 60000)
      alice:timeout(60000)
      local r = guild.roles:create({ name = "Helper", color = "#00ff00", permissions = { "KickMembers" } })
      r:setName("Helpers")
      r:delete()
      guild:setName("Renamed")
      return r
    end)
    local g, a = "/guilds/" .. guild.id, "/members/" .. fd.alice.id
    assert.same({
      "PATCH " .. g .. a .. ' {"roles":[]}',
      "PATCH " .. g .. a .. ' {"communication_disabled_until":"' .. until_ .. '"}',
      "POST " .. g .. '/roles {"color":65280,"name":"Helper","permissions":"2"}',
      "PATCH " .. g .. "/roles/" .. role.id .. ' {"name":"Helpers"}',
      "DELETE " .. g .. "/roles/" .. role.id,
      "PATCH " .. g .. ' {"name":"Renamed"}',
    }, util.map({ table.unpack(fd:requests(), from) }, function(r)
      return r.method .. " " .. r.path .. (r.body and " " .. json.encode(r.body) or "")
    end))
    assert.same({ false, nil, "Renamed" }, { alice.roles.cache:has(muted.id), guild.roles.cache:get(role.id),
      guild.name })
  end)
end)
