-- Guild resources: caches follow the gateway's events (each call's route, body and reason: rest_operations_test).
local server = require("fake.discord.server")

describe("guild resources", function()
  local fd, client, guild
  before_each(function()
    fd, client = server.login({ intents = { "Guilds", "GuildModeration", "GuildExpressions", "GuildInvites",
      "GuildScheduledEvents", "AutoModerationConfiguration" } })
    guild = client.guilds.cache:get(fd.guild.id)
  end)
  after_each(function() server.stop(client) end)

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
