-- Guilds, channels, members and roles built from gateway data: patching, clones, permissions, order.
local json = require("json")
local util = require("discord.util")
local S = require("support.objects")

describe("guild structures", function()
  local client, guild
  before_each(function()
    client = S.client()
    guild = client.guilds.cache:get(S.GUILD)
  end)

  it("builds the right class for each channel and links guild, parent and children", function()
    local classes = {
      [S.CATEGORY] = "CategoryChannel", [S.GENERAL] = "TextChannel", [S.VOICE] = "GuildChannel",
    }
    for id, cls in pairs(classes) do
      local c = client.channels.cache:get(id)
      assert.are.equal(cls, util.className(c))
      assert.are.equal(c, guild.channels.cache:get(id))
      assert.are.equal(guild, c.guild)
    end
    local category = client.channels.cache:get(S.CATEGORY)
    assert.are.same({ S.GENERAL, S.VOICE }, category.children.cache:keys())
    assert.are.equal("<#" .. S.GENERAL .. ">", tostring(guild.channels.cache:get(S.GENERAL)))
    local dm = client.channels:_add({ id = "9", type = 1, recipients = { S.user(S.ALICE, "alice") } })
    assert.are.equal("DMChannel", util.className(dm))
    assert.are.equal(client.users.cache:get(S.ALICE), dm.recipient)
    assert.are.equal(dm, client.users.cache:get(S.ALICE).dmChannel)
  end)

  it("keeps absent fields, clears null ones and leaves the old clone untouched", function()
    local general = client.channels.cache:get(S.GENERAL)
    local old = general:_clone()
    client.channels:_add({ id = S.GENERAL, type = 0, topic = json.null, name = "chat", guild_id = S.GUILD })
    assert.are.equal(general, client.channels.cache:get(S.GENERAL))
    assert.are.equal("chat", general.name)
    assert.is_nil(general.topic)
    assert.are.equal(S.CATEGORY, general.parentId)
    assert.are.equal("general", old.name)
    assert.are.equal("hi", old.topic)
    -- A type change (text -> announcement) rebuilds the object with its new class.
    local news = client.channels:_add({ id = S.GENERAL, type = 5, guild_id = S.GUILD })
    assert.are.equal("AnnouncementChannel", util.className(news))
    assert.are.equal(news, guild.channels.cache:get(S.GENERAL))
  end)

  it("drops roles missing from a full role list and removes channels from both caches", function()
    local data = S.guildData()
    table.remove(data.roles, 3)
    data.channels = nil
    data.members = nil
    guild:_patch(data)
    assert.is_nil(guild.roles.cache:get(S.MUTED_ROLE))
    assert.are.equal(3, guild.roles.cache.size)
    client.channels:_remove(S.VOICE)
    assert.is_nil(guild.channels.cache:get(S.VOICE))
    assert.is_false(client.channels.cache:has(S.VOICE))
    guild:_patch({ id = S.GUILD, unavailable = true })
    assert.is_false(guild.available)
    assert.are.equal("Lua Bot Club", guild.name)
    -- GUILD_CREATE after an outage need not say `unavailable = false`.
    guild:_patch({ id = S.GUILD, name = "Back" })
    assert.is_true(guild.available)
  end)

  it("orders roles by position then age and channels within their group", function()
    assert.are.equal(S.ADMIN_ROLE, guild.roles.highest.id)
    assert.are.same({ 0, 1, 2, 3 }, util.map({ S.GUILD, S.MUTED_ROLE, S.MOD_ROLE, S.ADMIN_ROLE },
      function(id) return guild.roles.cache:get(id).position end))
    -- Same raw position: the older role is above.
    local a = guild.roles:_add({ id = "300000000000000010", name = "a", position = 5, permissions = "0" })
    local b = guild.roles:_add({ id = "300000000000000020", name = "b", position = 5, permissions = "0" })
    assert.is_true(a:comparePositionTo(b) > 0)
    assert.are.equal(a, guild.roles.highest)
    local second = client.channels:_add({ id = "400000000000000009", type = 0, name = "second", position = 0,
      parent_id = S.CATEGORY }, guild)
    assert.are.equal(0, client.channels.cache:get(S.GENERAL).position)
    assert.are.equal(1, second.position)
    assert.are.equal(0, client.channels.cache:get(S.VOICE).position)
  end)

  it("computes member permissions from roles, overwrites, ownership and timeouts", function()
    local P = require("discord.bitfield").PermissionFlags
    local general = client.channels.cache:get(S.GENERAL)
    local alice = guild.members.cache:get(S.ALICE)
    local function can(memberId, perm, channel)
      local m = guild.members.cache:get(memberId)
      return (channel and channel:permissionsFor(m) or m.permissions):has(perm)
    end
    local cases = {
      { "everyone can send in the guild", S.ALICE, "SendMessages", nil, true },
      { "the muted role's deny applies in #general", S.ALICE, "SendMessages", general, false },
      { "reading stays allowed", S.ALICE, "ViewChannel", general, true },
      { "moderator role permission", S.BOT, "KickMembers", nil, true },
      { "no ban without the permission", S.BOT, "BanMembers", nil, false },
      { "the owner has everything", S.OWNER, "BanMembers", general, true },
    }
    for _, c in ipairs(cases) do assert.are.equal(c[5], can(c[2], c[3], c[4]), c[1]) end
    -- A member overwrite beats the role deny; a timeout leaves only reading.
    general:_patch({ permission_overwrites = {
      { id = S.MUTED_ROLE, type = 0, allow = "0", deny = tostring(P.SendMessages) },
      { id = S.ALICE, type = 1, allow = tostring(P.SendMessages), deny = "0" },
    } })
    assert.is_true(can(S.ALICE, "SendMessages", general))
    alice:_patch({ communication_disabled_until = "2099-01-01T00:00:00.000Z" })
    assert.is_true(alice:isCommunicationDisabled())
    assert.are.equal(P.ViewChannel | P.ReadMessageHistory, general:permissionsFor(alice).bitfield)
    -- Administrator through a role: every permission, unless checkAdmin is false.
    alice:_patch({ roles = { S.ADMIN_ROLE }, communication_disabled_until = json.null })
    assert.is_true(can(S.ALICE, "ManageGuild", general))
    assert.is_false(general:permissionsFor(alice, false):has("ManageGuild", false))
    assert.is_false(general:permissionsFor(guild.roles.cache:get(S.MUTED_ROLE)):has("SendMessages"))
  end)

  it("knows which members the bot may manage", function()
    local function m(id) return guild.members.cache:get(id) end
    assert.is_true(m(S.ALICE).manageable)
    assert.is_true(m(S.ALICE).kickable)
    assert.is_false(m(S.ALICE).bannable)
    assert.is_false(m(S.OWNER).manageable)
    assert.is_false(m(S.BOT).manageable)
    m(S.ALICE):_patch({ roles = { S.ADMIN_ROLE } })
    assert.is_false(m(S.ALICE).manageable)
    assert.is_false(guild.roles.cache:get(S.ADMIN_ROLE).editable)
    assert.is_true(guild.roles.cache:get(S.MUTED_ROLE).editable)
  end)

  it("reads member, role and user fields", function()
    local bot = guild.members.cache:get(S.BOT)
    assert.are.equal("bot", bot.displayName)
    assert.are.equal(0x3498db, bot.displayColor)
    assert.are.equal("#3498db", bot.displayHexColor)
    assert.are.equal(S.MOD_ROLE, bot.roles.hoist.id)
    assert.are.equal(util.parseTimestamp("2025-01-02T03:04:05Z"), bot.joinedTimestamp)
    bot:_patch({ nick = "Robo" })
    assert.are.equal("Robo", bot.displayName)
    assert.are.equal("@everyone", tostring(guild.roles.everyone))
    assert.are.equal("<@&" .. S.MOD_ROLE .. ">", tostring(guild.roles.cache:get(S.MOD_ROLE)))
    assert.are.equal("LBC", guild.nameAcronym)
    assert.are.equal(guild.members.cache:get(S.OWNER), guild.owner)
    local u = client.users:_add({ id = "80351110224678912", username = "old", discriminator = "1337", avatar = "a_x",
      public_flags = 1 << 17 })
    assert.are.equal("old#1337", u.tag)
    assert.is_true(u.flags:has("VerifiedDeveloper"))
    u:_patch({ public_flags = json.null })
    assert.is_nil(u.flags)
    assert.are.equal("https://cdn.discordapp.com/embed/avatars/2.png", u.defaultAvatarURL)
    assert.truthy(u:displayAvatarURL():find("/avatars/80351110224678912/a_x", 1, true))
    local P = require("discord.bitfield").PermissionFlags
    local channelJSON = client.channels.cache:get(S.GENERAL):toJSON()
    assert.are.same({ { id = S.MUTED_ROLE, type = 0, allow = "0", deny = tostring(P.SendMessages) } },
      channelJSON.permissionOverwrites)
    assert.are.same({ "general", S.GUILD, S.CATEGORY }, { channelJSON.name, channelJSON.guild, channelJSON.parentId })
    local json_ = bot:toJSON()
    assert.are.same({ S.MOD_ROLE }, json_.roles)
    assert.are.equal(S.GUILD, json_.guild)
    assert.are.equal(S.BOT, json_.user)
  end)

  it("raises a clear error for managers of later versions", function()
    for _, field in ipairs({ "bans", "emojis", "invites", "scheduledEvents" }) do
      local err = S.failure(function() return guild[field] end)
      assert.truthy(err:find("is not available in this version", 1, true), field .. ": " .. err)
    end
    assert.truthy(S.failure(function() return client.channels.cache:get(S.GENERAL).threads end)
      :find("Threads is not available in this version", 1, true))
  end)
end)
