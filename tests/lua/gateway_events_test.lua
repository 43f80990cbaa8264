-- What Discord documents is known (dispatch events, audit-log events, component types), and the newer
-- dispatch events patch the cache and emit.
local runtime = require("runtime")
local json = require("json")
local server = require("fake.discord.server")
local errors = require("discord.errors")
local util = require("discord.util")

-- The rows of a table in Discord's documentation, from `heading` on; nil without the documentation.
local function docTable(file, heading)
  local f = io.open("../shared/references/discord-api-docs/" .. file, "rb")
  if not f then return nil end
  local text = f:read("a")
  f:close()
  return text:match("\n(|.-)\n\n", assert(text:find(heading, 1, true), heading))
end

describe("what Discord documents", function()
  it("is known: dispatch events, audit-log events and component types", function()
    local dispatch = docTable("events/gateway-events.mdx", "\n## Receive Events\n")
    if not dispatch then return pending("Discord's documentation is not beside the project") end
    require("discord")
    local handlers, enums = require("discord.ws").handlers, require("discord.enums")
    local builders, received = require("discord.builders.components"), require("discord.structures.components")
    local counts, missing = { 0, 0, 0 }, {}
    local function check(i, ok, name)
      counts[i] = counts[i] + 1
      if not ok then missing[#missing + 1] = name end
    end
    for title in dispatch:gmatch("\n| %[([^%]]+)%]") do
      local name = title:upper():gsub(" ", "_")
      if not ({ HELLO = 1, RECONNECT = 1, INVALID_SESSION = 1 })[name] then check(1, handlers[name], name) end
    end
    for name, v in docTable("resources/audit-log.mdx", "Audit Log Events"):gmatch("\n| (%u[%u_]+) +| (%d+)") do
      local pascal = name:lower():gsub("_?(%a)(%a*)", function(a, rest) return a:upper() .. rest end)
      check(2, rawget(enums.AuditLogEvent, pascal) == tonumber(v), name)
    end
    for v, title in docTable("components/reference.mdx", "### Component Object"):gmatch("\n| (%d+) +| %[([^%]]+)%]") do
      local n = tonumber(v)
      check(3, rawget(enums.ComponentType, (title:gsub(" ", ""))) == n and received._byType[n] ~= nil
        and pcall(builders.createComponentBuilder, { type = n }), title)
    end
    assert.same({ {}, { 79, 69, 20 } }, { missing, counts })
  end)
end)

describe("gateway dispatch", function()
  local fd, client, seen
  before_each(function()
    fd, client, seen = server.session({ intents = { "Guilds", "GuildMembers", "GuildIntegrations",
      "GuildModeration" } }, { "rateLimited", "channelInfo", "voiceChannelStatusUpdate",
      "voiceChannelStartTimeUpdate", "integrationCreate", "integrationUpdate", "integrationDelete",
      "guildAuditLogEntryCreate" })
  end)
  after_each(function() server.stop(client) end)

  it("fails a rate-limited request for every member at once with Discord's retry_after", function()
    local guild = client.guilds.cache:get(fd.guild.id)
    assert.equal(3, server.act(function() return guild.members:fetch().size end))
    -- Without the event the request would wait out its 120 s; the window here is 5 s.
    local err, took, left = server.act(function()
      local started = runtime.now()
      local _, e = pcall(guild.members.fetch, guild.members)
      return e, runtime.now() - started, 30000 - (started - fd.gateway.all_members[fd.guild.id])
    end)
    assert.is_true(errors.is(err, "RateLimitError") and took < 1000, tostring(err) .. " after " .. took .. " ms")
    local info = seen.rateLimited[1][1]
    assert.same({ 8, fd.guild.id, true, 1, left, left, {} }, { err.opcode, info.guildId, info.gateway,
      #seen.rateLimited, err.retryAfter, info.retryAfter, client.ws._chunkWaiters })
    server.act(function() runtime.sleep(left) end, left + 1000)
    -- A chunk patches the members the cache already holds.
    fd.guild.members[fd.alice.id].nick = "Al"
    assert.same({ 3, "Al" }, server.act(function()
      return { guild.members:fetch().size, guild.members.cache:get(fd.alice.id).nickname }
    end))
  end)

  it("patches voice channel info, reads new audit-log entries and emits integrations", function()
    local voice, G = fd.store.channels[fd.guild.channels[3]], fd.guild.id
    local channel = client.channels.cache:get(voice.id)
    local function entry(id, action, target, options)
      return { id = id, guild_id = G, action_type = action, user_id = fd.alice.id, target_id = target,
        options = options }
    end
    local integration = { id = "71", guild_id = G, name = "Feeds", type = "discord", enabled = true,
      account = { id = "72", name = "Feeds" }, application = { id = "73", name = "Feeds", description = "" } }
    server.act(function()
      for _, d in ipairs({
        { "VOICE_CHANNEL_STATUS_UPDATE", { id = voice.id, guild_id = G, status = "jamming" } },
        { "VOICE_CHANNEL_START_TIME_UPDATE", { id = voice.id, guild_id = G, voice_start_time = 1767225600 } },
        { "VOICE_CHANNEL_STATUS_UPDATE", { id = voice.id, guild_id = G, status = json.null } },
        { "VOICE_CHANNEL_START_TIME_UPDATE", { id = voice.id, guild_id = G } },
        { "GUILD_AUDIT_LOG_ENTRY_CREATE", entry("81", 146, fd.bob.id, { auto_moderation_rule_name = "r" }) },
        { "GUILD_AUDIT_LOG_ENTRY_CREATE", entry("82", 192, voice.id, { channel_id = voice.id, status = "live" }) },
        { "GUILD_AUDIT_LOG_ENTRY_CREATE", entry("83", 193, voice.id, { channel_id = voice.id }) },
        { "INTEGRATION_CREATE", integration },
        { "INTEGRATION_DELETE", { id = "71", guild_id = G, application_id = "73" } },
      }) do fd.gateway:dispatch(d[1], d[2]) end
    end)
    local status, start = seen.voiceChannelStatusUpdate, seen.voiceChannelStartTimeUpdate
    -- Each old copy holds what the one before set; the nulls clear both at the end.
    assert.same({ nil, "jamming", "jamming", 1767225600, nil, nil }, { status[1][1].status, start[1][1].status,
      status[2][1].status, start[2][1].voiceStartTime, channel.status, channel.voiceStartTime })
    local entries = util.map(seen.guildAuditLogEntryCreate, function(e)
      local e1 = e[1]
      return { e1.actionType, e1.targetType, e1.target.id, e1.extra.status or e1.extra.autoModerationRuleName }
    end)
    assert.same({ { "All", "User", fd.bob.id, "r" }, { "Create", "Channel", voice.id, "live" },
      { "Delete", "Channel", voice.id, nil } }, entries)
    local created, deleted = seen.integrationCreate[1][1], seen.integrationDelete[1][1]
    assert.same({ "Feeds", G, "73", "71", "73", G }, { created.name, created.guild.id, created.application.id,
      deleted.id, deleted.applicationId, deleted.guild.id })

    -- Channel info answers a request (op 43) with the fields asked for.
    voice.status, voice.voice_start_time = "back", 1767229200
    server.act(function() client.ws:requestChannelInfo(G, { "status" }) end)
    local info = seen.channelInfo[1]
    assert.same({ { guild_id = G, fields = { "status" } }, { voice.id }, G, "back", nil },
      { fd.gateway:receivedOps(43)[1].d, info[1]:keys(), info[2].id, channel.status, channel.voiceStartTime })
  end)
end)
