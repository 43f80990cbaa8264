-- Guild and application resources: each call's route, body and audit-log reason; caches follow events.
local json = require("json")
local http = require("http")
local util = require("discord.util")
local server = require("fake.discord.server")

local ISO = "2026-01-01T00:00:00.000Z"

describe("guild resources", function()
  local fd, client, guild
  before_each(function()
    fd, client = server.login({ intents = { "Guilds", "GuildModeration", "GuildExpressions", "GuildInvites",
      "GuildScheduledEvents", "AutoModerationConfiguration" } })
    guild = client.guilds.cache:get(fd.guild.id)
  end)
  after_each(function() server.stop(client) end)

  -- The last request a call sent, whether or not the fake knows the route.
  local function sent(call)
    local before = #fd:requests()
    server.act(function() pcall(call) end)
    local all = fd:requests()
    assert.is_true(#all > before, "nothing sent")
    return all[#all]
  end

  it("send each route with its body and reason", function()
    local g, G = guild, "/guilds/" .. fd.guild.id
    local png = "\137PNG\r\n\26\n"
    local rows = {
      { function() g.bans:remove(fd.bob.id, "appeal") end, "DELETE", G .. "/bans/" .. fd.bob.id, nil, "appeal" },
      { function() g.bans:bulkCreate({ fd.bob.id }, { deleteMessageSeconds = 60, reason = "raid" }) end,
        "POST", G .. "/bulk-ban", { user_ids = { fd.bob.id }, delete_message_seconds = 60 }, "raid" },
      { function() g.bans:fetch({ limit = 5, after = "10" }) end, "GET", G .. "/bans" },
      { function() g.emojis:create({ name = "wave", attachment = png, roles = { fd.member_role.id } }) end,
        "POST", G .. "/emojis", { name = "wave", image = "data:image/png;base64,iVBORw0KGgo=",
          roles = { fd.member_role.id } } },
      { function() g.stickers:edit("5", { name = "hi", tags = "wave" }, "rename") end, "PATCH", G .. "/stickers/5",
        { name = "hi", tags = "wave" }, "rename" },
      { function() g.invites:create(fd.general.id, { maxAge = 0, unique = true, reason = "event" }) end, "POST",
        "/channels/" .. fd.general.id .. "/invites", { max_age = 0, unique = true }, "event" },
      { function() g.invites:delete("https://discord.gg/abc-1", "leak") end, "DELETE", "/invites/abc-1", nil, "leak" },
      { function() g.scheduledEvents:create({ name = "Meet", entityType = "External", location = "Park",
        scheduledStartTime = ISO, scheduledEndTime = ISO, reason = "plan" }) end, "POST", G .. "/scheduled-events",
        { name = "Meet", entity_type = 3, privacy_level = 2, entity_metadata = { location = "Park" },
          scheduled_start_time = ISO, scheduled_end_time = ISO }, "plan" },
      { function() g.stageInstances:create("7", { topic = "AMA", privacyLevel = "GuildOnly", reason = "talk" }) end,
        "POST", "/stage-instances", { channel_id = "7", topic = "AMA", privacy_level = 2 }, "talk" },
      { function() g.soundboardSounds:create({ name = "boop", file = "OggS..", volume = 0.5 }) end, "POST",
        G .. "/soundboard-sounds", { name = "boop", volume = 0.5, sound = "data:audio/ogg;base64,T2dnUy4u" } },
      { function() g.soundboardSounds:send("9", "7") end, "POST", "/channels/7/send-soundboard-sound",
        { sound_id = "9", source_guild_id = fd.guild.id } },
      { function() g:fetchAuditLogs({ type = "MemberBanAdd", limit = 10 }) end, "GET", G .. "/audit-logs" },
      { function() g.voiceStates:fetch(fd.bot.id) end, "GET", G .. "/voice-states/@me" },
      { function() g:setWidgetSettings({ enabled = true, channel = false }, "open") end, "PATCH", G .. "/widget",
        { enabled = true, channel_id = json.null }, "open" },
      { function() client.application.entitlements:createTest({ sku = "3", guild = fd.guild.id }) end, "POST",
        "/applications/" .. fd.bot.id .. "/entitlements", { sku_id = "3", owner_id = fd.guild.id, owner_type = 1 } },
      { function() client.channels.cache:get(fd.general.id):createWebhook({ name = "CI", reason = "builds" }) end,
        "POST", "/channels/" .. fd.general.id .. "/webhooks", { name = "CI" }, "builds" },
      { function() require("discord").WebhookClient({ url = "https://discord.com/api/webhooks/4/tok" })
        :send({ content = "hi", username = "ci", threadId = "8" }) end, "POST", "/webhooks/4/tok",
        { content = "hi", username = "ci" } },
    }
    for i, row in ipairs(rows) do
      local req = sent(row[1])
      assert.same({ row[2], row[3], row[4], row[5] and (row[5]:gsub(" ", "%%20")) }, { req.method, req.path,
        row[4] and req.body, req.headers["x-audit-log-reason"] }, i .. ": " .. row[2] .. " " .. row[3])
    end
    local hook = util.find(http.exchanges, function(ex) return ex.request.path == "/api/v10/webhooks/4/tok" end)
    assert.same({ { thread_id = "8", wait = "true" }, nil }, { hook.request.query, hook.request.headers.authorization })
  end)

  it("keep rules, bans and emojis in step with the gateway", function()
    local rule = server.act(function()
      return guild.autoModerationRules:create({ name = "r", triggerType = "Keyword",
        triggerMetadata = { keywordFilter = { "x" } }, actions = { { type = "BlockMessage" } } })
    end)
    server.act(function() rule:setName("renamed", "tidy") end)
    local cached = guild.autoModerationRules.cache:get(rule.id)
    server.act(function() rule:delete() end)
    assert.same({ "renamed", { "x" }, rule, false }, { rule.name, rule.triggerMetadata.keywordFilter, cached,
      guild.autoModerationRules.cache:has(rule.id) })
    local seen = {}
    for _, e in ipairs({ "emojiCreate", "emojiUpdate", "emojiDelete", "guildBanAdd" }) do
      client:on(e, function(a, b) seen[#seen + 1] = { e, (b or a).name or (b or a).id } end)
    end
    local function emojis(list)
      server.act(function() fd.gateway:dispatch("GUILD_EMOJIS_UPDATE", { guild_id = fd.guild.id, emojis = list }) end)
    end
    emojis({ { id = "1", name = "a" }, { id = "2", name = "b" } })
    emojis({ { id = "1", name = "a2" } })
    server.act(function() guild.bans:create(fd.bob.id, { reason = "x" }) end)
    assert.same({ { { "emojiCreate", "a" }, { "emojiCreate", "b" }, { "emojiUpdate", "a2" }, { "emojiDelete", "b" },
      { "guildBanAdd", fd.bob.id } }, "a2", "x" }, { seen, guild.emojis.cache:get("1").name,
      server.act(function() return guild.bans:fetch(fd.bob.id, { force = true }) end).reason })
  end)
end)
