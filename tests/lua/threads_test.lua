-- Threads, forum posts with tags, thread members and permission overwrites against the fake Discord.
local runtime = require("runtime")
local json = require("json")
local util = require("discord.util")
local server = require("fake.discord.server")
local social = require("fake.discord.social")
local P = require("discord.bitfield").PermissionFlags

local INTENTS = { "Guilds", "GuildMembers", "GuildMessages", "MessageContent" }
local EVENTS = { "threadCreate", "threadUpdate", "threadDelete", "threadListSync", "threadMembersUpdate",
  "channelUpdate", "channelDelete", "error" }

describe("threads", function()
  local fd, client, seen, forumRaw

  before_each(function()
    fd, client = server.login({ intents = INTENTS }, function(f, c)
      forumRaw = f.store:addChannel(f.guild, { name = "help", type = 15 })
      forumRaw.available_tags = json.array({ { id = f.store:id(), name = "old", moderated = false,
        emoji_id = json.null, emoji_name = json.null } })
      seen = {}
      for _, name in ipairs(EVENTS) do
        seen[name] = {}
        c:on(name, function(...) table.insert(seen[name], table.pack(...)) end)
      end
    end)
  end)

  after_each(function()
    client:destroy()
    runtime.run(nil, { ["for"] = 1000 })
  end)

  local function act(fn)
    local out
    runtime.run(function() out = table.pack(fn()) end, { ["for"] = 5000 })
    return table.unpack(out, 1, out.n)
  end

  local function fails(fn, text)
    local before = #fd:requests()
    local ok, err = pcall(fn)
    assert.is_false(ok, text)
    assert.truthy(tostring(err):find(text, 1, true), tostring(err))
    assert.are.equal(before, #fd:requests(), "no request for: " .. text)
  end

  local function general() return client.channels.cache:get(fd.general.id) end
  local function forum() return client.channels.cache:get(forumRaw.id) end

  it("gives every channel kind its class and threads their parent's permissions", function()
    local voice = client.channels.cache:get(fd.guild.channels[3])
    assert.are.same({ "VoiceChannel", "ForumChannel" }, { util.className(voice), util.className(forum()) })
    assert.are.same({ "old" }, util.map(forum().availableTags, function(t) return t.name end))
    local thread = act(function() return general().threads:create({ name = "chat" }) end)
    assert.are.equal("ThreadChannel", util.className(thread))
    assert.are.equal(general(), thread.parent)
    local me = client.guilds.cache:get(fd.guild.id).members.me
    assert.are.equal(general():permissionsFor(me).bitfield, thread:permissionsFor(me).bitfield)
    assert.is_true(voice.joinable)
  end)

  it("creates threads in a channel and from a message, and refuses bad options before sending", function()
    local said = act(function() return fd:say(fd.alice, fd.general, "let's discuss") end)
    local msg = general().messages.cache:get(said.id)
    local public, private, fromMessage = act(function()
      return general().threads:create({ name = "plans", autoArchiveDuration = 60 }),
        general().threads:create({ name = "secret", type = "PrivateThread", invitable = false }),
        msg:startThread({ name = "about it" })
    end)
    local bodies = util.map(fd:requests("POST", "/channels/%d+/.*threads"), function(r) return r.body end)
    assert.are.same({ { name = "plans", auto_archive_duration = 60, type = 11 },
      { name = "secret", type = 12, invitable = false }, { name = "about it" } }, bodies)
    assert.are.same({ 11, 12, 11 }, { public.type, private.type, fromMessage.type })
    assert.are.same({ msg.id, fromMessage }, { fromMessage.id, msg.thread })
    assert.are.same({ true, true, 60 }, { public.joined, private.invitable == false, public.autoArchiveDuration })
    assert.are.same({ true, true, true }, util.map(seen.threadCreate, function(e) return e[2] end))
    local names = util.map(general().threads.cache:values(), function(t) return t.name end)
    table.sort(names)
    assert.are.same({ "about it", "plans", "secret" }, names)
    local ch = general()
    fails(function() ch.threads:create({ name = "" }) end, "1 to 100 characters")
    fails(function() ch.threads:create({ name = ("x"):rep(101) }) end, "1 to 100 characters")
    fails(function() ch.threads:create({ name = "x", autoArchiveDuration = 30 }) end, "60, 1440, 4320 or 10080")
    fails(function() ch.threads:create({ name = "x", type = "GuildText" }) end, "PublicThread or PrivateThread")
  end)

  it("keeps forum tags and creates posts with tags and a starter message", function()
    local f = forum()
    act(function()
      f:setAvailableTags({ { name = "bug", emoji = "\u{1F41B}" }, { name = "idea", moderated = true } })
    end)
    assert.are.same({ "bug", "idea" }, util.map(f.availableTags, function(t) return t.name end))
    assert.are.same({ nil, "\u{1F41B}", true }, { f.availableTags[1].emoji.id, f.availableTags[1].emoji.name,
      f.availableTags[2].moderated })
    local old = seen.channelUpdate[1][1]
    assert.are.same({ "old" }, util.map(old.availableTags, function(t) return t.name end))
    local post = act(function()
      return f:createPost({ name = "It crashes", message = { content = "steps: ..." }, appliedTags = { "bug" } })
    end)
    local body = fd:requests("POST", "/channels/" .. f.id .. "/threads")[1].body
    assert.are.same({ { f.availableTags[1].id }, "steps: ..." }, { body.applied_tags, body.message.content })
    assert.are.same({ f.availableTags[1].id }, post.appliedTags)
    assert.are.equal("steps: ...", post.messages.cache:get(post.id).content)
    assert.are.equal("steps: ...", act(function() return post:fetchStarterMessage({ force = true }) end).content)
    act(function() post:setAppliedTags({ f.availableTags[2] }) end)
    assert.are.same({ f.availableTags[2].id }, post.appliedTags)
    fails(function() f:createPost({ name = "no message" }) end, "a post needs a message")
    fails(function() f:createPost({ name = "x", message = "m", appliedTags = { "1", "2", "3", "4", "5", "6" } }) end,
      "at most 5 tags")
    fails(function() f:setAvailableTags({ { name = ("t"):rep(21) } }) end, "1 to 20 characters")
    local many = {}
    for i = 1, 21 do many[i] = { name = "t" .. i } end
    fails(function() f:setAvailableTags(many) end, "at most 20 tags")
    f:_patch({ flags = 1 << 4 })
    fails(function() f:createPost({ name = "x", message = "m" }) end, "at least one tag")
  end)

  it("joins, leaves and lists thread members", function()
    local thread = act(function() return general().threads:create({ name = "crew" }) end)
    act(function() thread:leave() end)
    assert.is_false(thread.joined)
    act(function()
      thread:join()
      thread.members:add(fd.alice)
    end)
    assert.is_true(thread.joined)
    local added, removed, t = table.unpack(seen.threadMembersUpdate[#seen.threadMembersUpdate], 1, 3)
    assert.are.same({ { fd.alice.id }, 0, thread, 2 }, { added:keys(), removed.size, t, thread.memberCount })
    local alice = act(function() return thread.members:fetch(fd.alice.id, { withMember = true, force = true }) end)
    assert.are.same({ "ThreadMember", fd.alice.id, "alice", false }, { util.className(alice), alice.id,
      alice.guildMember.user.username, alice.partial })
    local all = act(function() return thread.members:fetch({ withMember = true }) end)
    assert.are.same({ fd.bot.id, fd.alice.id }, all:keys())
    act(function() alice:remove() end)
    assert.is_nil(thread.members.cache:get(fd.alice.id))
    local paths = util.map(fd:requests(nil, "/channels/%d+/thread%-members.*"), function(r)
      return r.method .. " " .. r.path:match("thread%-members(.*)$")
    end)
    assert.are.same({ "DELETE /@me", "PUT /@me", "PUT /" .. fd.alice.id, "GET /" .. fd.alice.id, "GET ",
      "DELETE /" .. fd.alice.id }, paths)
  end)

  it("archives, locks and deletes threads with (old, new) updates, and drops them with their parent", function()
    local thread = act(function() return general().threads:create({ name = "short-lived" }) end)
    act(function() thread:setArchived(true) end)
    local old, new = table.unpack(seen.threadUpdate[1], 1, 2)
    assert.are.same({ false, true, thread }, { old.archived, new.archived, new })
    local archived = act(function() return general().threads:fetchArchived() end)
    assert.are.same({ { thread.id }, false }, { archived.threads:keys(), archived.hasMore })
    assert.are.equal(0, act(function() return general().threads:fetchActive() end).threads.size)
    act(function() thread:edit({ archived = false, locked = true }) end)
    assert.are.same({ false, true }, { thread.archived, thread.locked })
    act(function() thread:delete() end)
    assert.are.equal(thread, seen.threadDelete[1][1])
    assert.is_nil(client.channels.cache:get(thread.id))
    local other = act(function() return general().threads:create({ name = "orphan" }) end)
    act(function() general():delete() end)
    assert.is_nil(client.channels.cache:get(other.id))
    assert.are.equal(1, #seen.channelDelete)
  end)

  it("syncs the thread list: threads missing from a synced channel are gone", function()
    local keep, gone = act(function()
      return general().threads:create({ name = "keep" }), general().threads:create({ name = "gone" })
    end)
    local raw = social.threadJSON(fd.store, fd.store.channels[keep.id])
    act(function()
      fd.gateway:dispatch("THREAD_LIST_SYNC", { guild_id = fd.guild.id, channel_ids = { fd.general.id },
        threads = json.array({ raw }), members = json.array({ raw.member }) })
    end)
    local threads, guild = table.unpack(seen.threadListSync[1], 1, 2)
    assert.are.same({ { keep.id }, fd.guild.id }, { threads:keys(), guild.id })
    assert.is_nil(client.channels.cache:get(gone.id))
    assert.is_true(keep.joined)
  end)

  it("edits permission overwrites and recomputes permissions from them", function()
    local ch = general()
    -- Bob, since Alice owns the guild and overwrites do not bind the owner.
    local bob = client.guilds.cache:get(fd.guild.id).members.cache:get(fd.bob.id)
    assert.is_true(ch:permissionsFor(bob):has("SendMessages"))
    act(function() ch.permissionOverwrites:edit(bob, { SendMessages = false, AttachFiles = true }) end)
    local put = fd:requests("PUT", "/channels/%d+/permissions/%d+")[1]
    assert.are.same({ type = 1, allow = tostring(P.AttachFiles), deny = tostring(P.SendMessages) }, put.body)
    assert.is_false(ch:permissionsFor(bob):has("SendMessages"))
    local old, new = table.unpack(seen.channelUpdate[#seen.channelUpdate], 1, 2)
    assert.are.same({ 0, 1 }, { old.permissionOverwrites.cache.size, new.permissionOverwrites.cache.size })
    -- Editing keeps the flags not named; json.null returns one to the default.
    act(function() ch.permissionOverwrites.cache:get(fd.bob.id):edit({ AttachFiles = json.null }) end)
    local o = ch.permissionOverwrites.cache:get(fd.bob.id)
    assert.are.same({ 0, P.SendMessages }, { o.allow.bitfield, o.deny.bitfield })
    act(function() ch.permissionOverwrites:create(fd.member_role.id, { ViewChannel = false }) end)
    assert.are.equal(0, fd:requests("PUT", "/channels/%d+/permissions/%d+")[3].body.type)
    act(function() o:delete() end)
    assert.is_nil(ch.permissionOverwrites.cache:get(fd.bob.id))
    assert.is_true(ch:permissionsFor(bob):has("SendMessages"))
    local ok, err = pcall(ch.permissionOverwrites.create, ch.permissionOverwrites, "999", { ViewChannel = true })
    assert.is_false(ok)
    assert.truthy(tostring(err):find("role or a member", 1, true))
    assert.are.same({}, seen.error)
  end)
end)
