-- Messages: the payloads of send, reply and edit, the REST calls behind message methods, and mentions.
local json = require("json")
local util = require("discord.util")
local S = require("support.objects")
local MessagePayload = require("discord.message").MessagePayload
local EmbedBuilder = require("discord.embed").EmbedBuilder

local MSG = "500000000000000001"

local function messageData(fields)
  local d = {
    id = MSG, channel_id = S.GENERAL, guild_id = S.GUILD, content = "hello <@" .. S.ALICE .. "> in <#" .. S.GENERAL
      .. ">", author = S.user(S.ALICE, "alice"), timestamp = "2026-01-01T00:00:00.000000+00:00",
    edited_timestamp = json.null, tts = false, mention_everyone = false, type = 0, pinned = false,
    mentions = { S.user(S.ALICE, "alice") }, mention_roles = { S.MUTED_ROLE }, attachments = {
      { id = "1", filename = "SPOILER_cat.png", size = 10, url = "https://cdn/x", proxy_url = "https://p/x",
        width = 4, height = 3, content_type = "image/png" },
    }, embeds = { { title = "E" } },
  }
  for k, v in pairs(fields or {}) do d[k] = v end
  return d
end

-- The server echoes a posted or patched message back.
local function echo(api)
  local n = 0
  local function reply(_, body)
    n = n + 1
    return 200, messageData({ id = "60000000000000000" .. n, content = body.content or "",
      author = S.user(S.BOT, "bot", true), mentions = {}, mention_roles = {}, attachments = {},
      embeds = body.embeds or {} })
  end
  api.on("POST", "/channels/" .. S.GENERAL .. "/messages", reply)
  api.on("PATCH", "/channels/" .. S.GENERAL .. "/messages/" .. MSG, function(_, body)
    return 200, messageData({ content = body.content, edited_timestamp = "2026-01-01T00:01:00.000000+00:00" })
  end)
end

describe("MessagePayload", function()
  local client, channel
  before_each(function()
    client = S.client()
    channel = client.channels.cache:get(S.GENERAL)
  end)

  local function body(options, target)
    return MessagePayload(target or channel, options):resolveBody().body
  end

  it("turns send options into the API body", function()
    local cases = {
      { "a string is the content", "hi", { content = "hi" } },
      { "embeds from builders and tables", { embeds = { EmbedBuilder():setTitle("A"), { description = "B" } } },
        { embeds = { { title = "A" }, { description = "B" } } } },
      { "allowed mentions in snake_case",
        { content = "x", allowedMentions = { parse = { "users" }, repliedUser = false } },
        { content = "x", allowed_mentions = { parse = { "users" }, replied_user = false } } },
      { "flags by name", { content = "x", flags = { "SuppressEmbeds", "SuppressNotifications" } },
        { content = "x", flags = (1 << 2) | (1 << 12) } },
      { "stickers by ID", { stickers = { "7", { id = "8" } } }, { sticker_ids = { "7", "8" } } },
      { "a reply without failIfNotExists takes the client option",
        { content = "x", reply = { messageReference = "42" } },
        { content = "x", message_reference = { message_id = "42", fail_if_not_exists = true } } },
    }
    for _, c in ipairs(cases) do assert.are.same(c[3], body(c[2]), c[1]) end
    client.options.allowedMentions = { parse = {} }
    assert.are.same({ parse = {} }, body("x").allowed_mentions)
    assert.is_true(json.is_array(body("x").allowed_mentions.parse))
  end)

  it("refuses empty and over-long messages and too many embeds", function()
    local cases = {
      { {}, "cannot send an empty message" },
      { { content = ("x"):rep(2001) }, "2000 or fewer characters" },
      { { embeds = { {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {} } }, "at most 10 embeds" },
      { { content = "x", flags = { "NoSuchFlag" } }, "NoSuchFlag" },
    }
    for _, c in ipairs(cases) do
      local err = S.failure(body, c[1])
      assert.truthy(err:find(c[2], 1, true), err)
    end
    assert.are.same({ content = "" }, body({ content = json.null, _edit = true }))
  end)

  it("lists kept attachments and new files on edits", function()
    local out = body({ _edit = true, attachments = { { id = "11" } }, files = { { name = "a.txt", data = "A",
      description = "d", spoiler = true } } })
    assert.are.same({ attachments = { { id = "11" }, { id = 0, filename = "SPOILER_a.txt", description = "d" } } }, out)
  end)
end)

describe("Message", function()
  local client, api, channel, msg
  before_each(function()
    client, api = S.client()
    channel = client.channels.cache:get(S.GENERAL)
    msg = channel.messages:_add(messageData())
    echo(api)
  end)

  it("reads its data and links author, member, channel and guild", function()
    assert.are.equal(client.users.cache:get(S.ALICE), msg.author)
    assert.are.equal(client.guilds.cache:get(S.GUILD).members.cache:get(S.ALICE), msg.member)
    assert.are.equal(channel, msg.channel)
    assert.are.equal(1767225600000, msg.createdTimestamp)
    assert.is_nil(msg.editedTimestamp)
    assert.is_true(msg.attachments:get("1").spoiler)
    assert.are.equal("E", msg.embeds[1].title)
    assert.are.equal("https://discord.com/channels/" .. S.GUILD .. "/" .. S.GENERAL .. "/" .. MSG, msg.url)
    assert.are.equal("hello @alice in #general", msg.cleanContent)
    assert.is_false(msg.system)
    assert.is_false(msg.editable)
    assert.is_true(msg.deletable)
  end)

  it("resolves mentions", function()
    local m = msg.mentions
    local guild = client.guilds.cache:get(S.GUILD)
    assert.are.same({ S.ALICE }, m.users:keys())
    assert.are.same({ S.MUTED_ROLE }, m.roles:keys())
    assert.are.same({ S.GENERAL }, m.channels:keys())
    assert.are.same({ S.ALICE }, m.members:keys())
    assert.are.same({ S.ALICE }, m.parsedUsers)
    local cases = {
      { "a mentioned user", S.ALICE, nil, true },
      { "a mentioned role", guild.roles.cache:get(S.MUTED_ROLE), nil, true },
      { "a member through a mentioned role", guild.members.cache:get(S.ALICE), { ignoreDirect = true }, true },
      { "a member through a role, roles ignored", guild.members.cache:get(S.ALICE),
        { ignoreDirect = true, ignoreRoles = true }, false },
      { "someone else", S.OWNER, nil, false },
    }
    for _, c in ipairs(cases) do assert.are.equal(c[4], m:has(c[2], c[3]), c[1]) end
    -- A reply mentions its author without the author in the text.
    local reply = channel.messages:_add(messageData({ id = "7", content = "ok", mentions = { S.user(S.OWNER, "owner") },
      referenced_message = messageData({ id = "6", author = S.user(S.OWNER, "owner") }), mention_roles = {} }))
    assert.is_true(reply.mentions:has(S.OWNER))
    assert.is_false(reply.mentions:has(S.OWNER, { ignoreRepliedUser = true }))
  end)

  it("replies with a message reference and edits and deletes through REST", function()
    S.run(function()
      local r = msg:reply({ content = "pong", embeds = { EmbedBuilder():setTitle("P") } })
      assert.are.equal("pong", r.content)
      assert.are.equal(r, channel.messages.cache:get(r.id))
      local edited = msg:edit("changed")
      assert.are.equal(msg, edited)
      assert.are.equal("changed", msg.content)
      assert.is_not_nil(msg.editedTimestamp)
      msg:pin("keep")
      msg:react("<:blob:123>")
      msg:react("\u{1F44D}")
      msg:delete()
    end)
    local calls = api.calls
    assert.are.same({
      content = "pong", embeds = { { title = "P" } },
      message_reference = { message_id = MSG, channel_id = S.GENERAL, guild_id = S.GUILD, fail_if_not_exists = true },
    }, calls[1].body)
    assert.are.same({ "PATCH", { content = "changed" } }, { calls[2].method, calls[2].body })
    local rest = {}
    for i = 3, #calls do
      rest[#rest + 1] = calls[i].method .. " " .. calls[i].path .. " " .. tostring(calls[i].reason)
    end
    local base = "/channels/" .. S.GENERAL
    assert.are.same({
      "PUT " .. base .. "/pins/" .. MSG .. " keep",
      "PUT " .. base .. "/messages/" .. MSG .. "/reactions/blob%3A123/@me nil",
      "PUT " .. base .. "/messages/" .. MSG .. "/reactions/%F0%9F%91%8D/@me nil",
      "DELETE " .. base .. "/messages/" .. MSG .. " nil",
    }, rest)
    assert.is_true(msg.deleted)
    assert.is_nil(channel.messages.cache:get(MSG))
  end)

  it("bulk deletes, leaving out messages older than two weeks when asked", function()
    local runtime = require("runtime")
    local snowflake = require("discord.snowflake")
    local now = runtime.time()
    local fresh = snowflake.fromTimestamp(now - 1000)
    local fresh2 = snowflake.fromTimestamp(now - 2000)
    local old = snowflake.fromTimestamp(now - 15 * 24 * 3600 * 1000)
    local ids = S.run(function() return channel:bulkDelete({ fresh, old, fresh2 }, true) end)
    assert.are.same({ fresh, fresh2 }, ids)
    assert.are.same({ "POST", "/channels/" .. S.GENERAL .. "/messages/bulk-delete", { messages = { fresh, fresh2 } } },
      { api.calls[1].method, api.calls[1].path, api.calls[1].body })
    -- One message left: Discord wants a single delete.
    S.run(function() channel:bulkDelete({ fresh, old }, true) end)
    assert.are.equal("DELETE", api.calls[2].method)
    assert.are.equal("/channels/" .. S.GENERAL .. "/messages/" .. fresh, api.calls[2].path)
  end)

  it("walks the history page by page, newest first", function()
    -- 250 stored messages with IDs 1000..1249.
    api.on("GET", "/channels/" .. S.GENERAL .. "/messages", function(req)
      local before = tonumber(req.query.before or "1250")
      local out = {}
      for id = before - 1, math.max(1000, before - tonumber(req.query.limit)), -1 do
        out[#out + 1] = messageData({ id = tostring(id), content = "m" .. id })
      end
      return 200, out
    end)
    local seen = S.run(function()
      local ids = {}
      for m in channel.messages:history({ limit = 230, cache = false }) do ids[#ids + 1] = tonumber(m.id) end
      local all = 0
      for _ in channel.messages:history({ before = "1100" }) do all = all + 1 end
      return { ids = ids, all = all }
    end)
    assert.are.equal(230, #seen.ids)
    assert.are.same({ 1249, 1020 }, { seen.ids[1], seen.ids[230] })
    assert.are.equal(100, seen.all)
    local pages = util.map(api.calls, function(c) return (c.query.limit or "") .. "/" .. (c.query.before or "") end)
    assert.are.same({ "100/", "100/1150", "30/1050", "100/1100", "100/1000" }, pages)
    assert.is_nil(channel.messages.cache:get("1249"))
  end)

  it("keeps the last 200 messages of a channel by default", function()
    for i = 1, 205 do channel.messages:_add(messageData({ id = tostring(700000000000000000 + i) })) end
    assert.are.equal(200, channel.messages.cache.size)
    assert.is_nil(channel.messages.cache:get("700000000000000001"))
  end)
end)
