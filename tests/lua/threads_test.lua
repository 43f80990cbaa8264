-- Threads, forum posts with tags, thread members and permission overwrites against the fake Discord.
local json = require("json")
local util = require("discord.util")
local server = require("fake.discord.server")
local social = require("fake.discord.social")
local P = require("discord.bitfield").PermissionFlags
local act = server.act

describe("threads", function()
  local fd, client, seen, forumId

  before_each(function()
    fd, client, seen = server.session({ intents = { "Guilds", "GuildMembers", "GuildMessages" } },
      { "threadCreate", "threadUpdate", "threadDelete", "threadListSync", "threadMembersUpdate", "channelUpdate" },
      function(f)
        local forum = f.store:addChannel(f.guild, { name = "help", type = 15 })
        forum.available_tags, forumId = json.array({}), forum.id
      end)
  end)
  after_each(function() server.stop(client) end)

  local function general() return client.channels.cache:get(fd.general.id) end
  local function fails(fn, text)
    local before = #fd:requests()
    local ok, err = pcall(fn)
    assert.same({ false, true, before }, { ok, tostring(err):find(text, 1, true) ~= nil, #fd:requests() }, text)
  end

  it("creates threads in a channel and from a message, and refuses bad options before sending", function()
    local said = act(function() return fd:say(fd.alice, fd.general, "let's discuss") end)
    local msg = general().messages.cache:get(said.id)
    local public, private, fromMessage = act(function()
      return general().threads:create({ name = "plans", autoArchiveDuration = 60 }),
        general().threads:create({ name = "secret", type = "PrivateThread", invitable = false }),
        msg:startThread({ name = "about it" })
    end)
    assert.same({ "ThreadChannel", 12, false, fromMessage, true }, { util.className(public), private.type,
      private.invitable, msg.thread, public.joined })
    assert.same({ general(), 3, true }, { public.parent, general().threads.cache.size, seen.threadCreate[1][2] })
    local me = client.guilds.cache:get(fd.guild.id).members.me
    assert.equal(general():permissionsFor(me).bitfield, public:permissionsFor(me).bitfield)
    fails(function() general().threads:create({ name = ("x"):rep(101) }) end, "1 to 100 characters")
    fails(function() general().threads:create({ name = "x", autoArchiveDuration = 30 }) end, "60, 1440, 4320 or 10080")
  end)

  it("keeps forum tags and creates posts with tags and a starter message", function()
    local f = client.channels.cache:get(forumId)
    act(function() f:setAvailableTags({ { name = "bug", emoji = "\u{1F41B}" }, { name = "idea" } }) end)
    assert.same({ "ForumChannel", "bug", "\u{1F41B}", 0 }, { util.className(f), f.availableTags[1].name,
      f.availableTags[1].emoji.name, #seen.channelUpdate[1][1].availableTags })
    local post = act(function()
      return f:createPost({ name = "It crashes", message = { content = "steps" }, appliedTags = { "bug" } })
    end)
    local body, tag = fd:requests("POST", "/channels/" .. f.id .. "/threads")[1].body, f.availableTags[1].id
    assert.same({ { tag }, "steps", { tag }, "steps" }, { body.applied_tags, body.message.content, post.appliedTags,
      act(function() return post:fetchStarterMessage({ force = true }) end).content })
    fails(function() f:createPost({ name = "x", message = "m", appliedTags = { "1", "2", "3", "4", "5", "6" } }) end,
      "at most 5 tags")
    fails(function() f:setAvailableTags({ { name = ("t"):rep(21) } }) end, "1 to 20 characters")
    f:_patch({ flags = 1 << 4 })
    fails(function() f:createPost({ name = "x", message = "m" }) end, "at least one tag")
  end)

  it("joins, leaves and fetches thread members; archives, deletes and syncs threads", function()
    local thread, other = act(function()
      return general().threads:create({ name = "crew" }), general().threads:create({ name = "gone" })
    end)
    act(function()
      thread:leave()
      thread:join()
      thread.members:add(fd.alice)
    end)
    local added, _, t = table.unpack(seen.threadMembersUpdate[3], 1, 3)
    local alice = act(function() return thread.members:fetch(fd.alice.id, { withMember = true, force = true }) end)
    assert.same({ { fd.alice.id }, thread, 2, true, "alice", false }, { added:keys(), t, thread.memberCount,
      thread.joined, alice.guildMember.user.username, alice.partial })
    act(function() thread:setArchived(true) end)
    local old, new = table.unpack(seen.threadUpdate[1], 1, 2)
    assert.same({ false, true, { thread.id } }, { old.archived, new.archived,
      act(function() return general().threads:fetchArchived() end).threads:keys() })
    -- A sync for #general that lists only "crew" means "gone" is gone.
    local raw = social.threadJSON(fd.store, fd.store.channels[thread.id])
    act(function()
      fd.gateway:dispatch("THREAD_LIST_SYNC", { guild_id = fd.guild.id, channel_ids = { fd.general.id },
        threads = json.array({ raw }) })
    end)
    local synced, gone = seen.threadListSync[1][1]:keys(), client.channels.cache:get(other.id)
    act(function() thread:delete() end)
    assert.same({ { thread.id }, nil, thread, nil }, { synced, gone, seen.threadDelete[1][1],
      client.channels.cache:get(thread.id) })
  end)

  it("edits permission overwrites and recomputes permissions from them", function()
    local ch = general()
    -- Bob: Alice owns the guild, and overwrites do not bind the owner.
    local bob = client.guilds.cache:get(fd.guild.id).members.cache:get(fd.bob.id)
    act(function() ch.permissionOverwrites:edit(bob, { SendMessages = false, AttachFiles = true }) end)
    local old, new = table.unpack(seen.channelUpdate[#seen.channelUpdate], 1, 2)
    assert.same({ false, 0, 1 }, { ch:permissionsFor(bob):has("SendMessages"), old.permissionOverwrites.cache.size,
      new.permissionOverwrites.cache.size })
    act(function() ch.permissionOverwrites.cache:get(fd.bob.id):edit({ AttachFiles = json.null }) end)
    local o = ch.permissionOverwrites.cache:get(fd.bob.id)
    assert.same({ 0, P.SendMessages }, { o.allow.bitfield, o.deny.bitfield })
    act(function() o:delete() end)
    assert.same({ true, false }, { ch:permissionsFor(bob):has("SendMessages"),
      (pcall(ch.permissionOverwrites.create, ch.permissionOverwrites, "999", { ViewChannel = true })) })
  end)
end)
