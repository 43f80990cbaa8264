-- What Discord documents is known (dispatch events, audit-log events, component types), and the newer
-- dispatch events patch the cache and emit.
local runtime = require("runtime")
local json = require("json")
local server = require("fake.discord.server")
local errors = require("discord.errors")

local DOCS = "../shared/references/discord-api-docs/"

-- A table of Discord's documentation: the text from `heading` to the next blank line after the table.
local function docTable(file, heading)
  local f = io.open(DOCS .. file, "rb")
  if not f then return nil end
  local text = f:read("a")
  f:close()
  local from = assert(text:find(heading, 1, true), heading)
  return text:match("\n(|.-)\n\n", from)
end

local function pascal(upper)
  return (upper:lower():gsub("_?(%a)(%a*)", function(a, rest) return a:upper() .. rest end))
end

describe("what Discord documents", function()
  local enums = require("discord.enums")
  it("is known: dispatch events, audit-log events and component types", function()
    local dispatch = docTable("events/gateway-events.mdx", "\n## Receive Events\n")
    if not dispatch then return pending("Discord's documentation is not beside the project") end
    require("discord")
    local handlers = require("discord.ws").handlers
    local builders, received = require("discord.builders.components"), require("discord.structures.components")
    local counts, missing = { 0, 0, 0 }, {}
    for title in dispatch:gmatch("\n| %[([^%]]+)%]") do
      if title ~= "Hello" and title ~= "Reconnect" and title ~= "Invalid Session" then
        counts[1] = counts[1] + 1
        local name = title:upper():gsub(" ", "_")
        if not handlers[name] then missing[#missing + 1] = name end
      end
    end
    local events = docTable("resources/audit-log.mdx", "###### Audit Log Events")
    for name, value in events:gmatch("\n| (%u[%u_]+) +| (%d+)") do
      counts[2] = counts[2] + 1
      if rawget(enums.AuditLogEvent, pascal(name)) ~= tonumber(value) then missing[#missing + 1] = name end
    end
    local types = docTable("components/reference.mdx", "### Component Object")
    for value, title in types:gmatch("\n| (%d+) +| %[([^%]]+)%]") do
      counts[3] = counts[3] + 1
      local n = tonumber(value)
      local ok = rawget(enums.ComponentType, (title:gsub(" ", ""))) == n and received._byType[n] ~= nil
        and pcall(builders.createComponentBuilder, { type = n })
      if not ok then missing[#missing + 1] = title end
    end
    assert.same({ {}, { 79, 69, 20 } }, { missing, counts })
  end)
end)

describe("gateway dispatch", function()
  local fd, client, seen
  local EVENTS = { "rateLimited", "channelInfo", "voiceChannelStatusUpdate", "voiceChannelStartTimeUpdate",
    "integrationCreate", "integrationUpdate", "integrationDelete" }
  before_each(function()
    fd, client, seen = server.session({ intents = { "Guilds", "GuildMembers", "GuildIntegrations",
      "GuildModeration" } }, EVENTS)
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
    assert.is_true(errors.is(err, "RateLimitError"), tostring(err))
    assert.is_true(took < 1000, "waited " .. took .. " ms")
    local info = seen.rateLimited[1][1]
    assert.same({ 8, fd.guild.id, true, 1 }, { err.opcode, info.guildId, info.gateway, #seen.rateLimited })
    assert.same({ left, left }, { err.retryAfter, info.retryAfter })
    assert.same({}, client.ws._chunkWaiters)
    server.act(function() runtime.sleep(left) end, left + 1000)
    assert.equal(3, server.act(function() return guild.members:fetch().size end))
  end)

  it("patches voice channel status and start time, from updates and from a channel info request", function()
    local voice = fd.store.channels[fd.guild.channels[3]]
    local channel = client.channels.cache:get(voice.id)
    local function dispatch(t, d) server.act(function() fd.gateway:dispatch(t, d) end) end
    dispatch("VOICE_CHANNEL_STATUS_UPDATE", { id = voice.id, guild_id = fd.guild.id, status = "jamming" })
    dispatch("VOICE_CHANNEL_START_TIME_UPDATE", { id = voice.id, guild_id = fd.guild.id,
      voice_start_time = 1767225600 })
    local status, start = seen.voiceChannelStatusUpdate[1], seen.voiceChannelStartTimeUpdate[1]
    assert.same({ nil, "jamming", "jamming", nil, 1767225600 }, { status[1].status, status[2].status,
      start[1].status, start[1].voiceStartTime, channel.voiceStartTime })
    dispatch("VOICE_CHANNEL_STATUS_UPDATE", { id = voice.id, guild_id = fd.guild.id, status = json.null })
    dispatch("VOICE_CHANNEL_START_TIME_UPDATE", { id = voice.id, guild_id = fd.guild.id })
    assert.same({ nil, nil }, { channel.status, channel.voiceStartTime })

    voice.status, voice.voice_start_time = "back", 1767229200
    server.act(function() client.ws:requestChannelInfo(fd.guild.id, { "status" }) end)
    local sent = fd.gateway:receivedOps(43)
    local info = seen.channelInfo[1]
    assert.same({ { guild_id = fd.guild.id, fields = { "status" } }, { voice.id }, fd.guild.id, "back", nil },
      { sent[1].d, info[1]:keys(), info[2].id, channel.status, channel.voiceStartTime })
    assert.same({}, fd.gateway.faults)
  end)

  it("reads the audit-log entries of a quarantine and of voice channel statuses", function()
    local voice = fd.guild.channels[3]
    local entries = {}
    client:on("guildAuditLogEntryCreate", function(e) entries[#entries + 1] = e end)
    server.act(function()
      for i, action in ipairs({ 146, 192, 193 }) do
        fd.gateway:dispatch("GUILD_AUDIT_LOG_ENTRY_CREATE", { id = tostring(80 + i), guild_id = fd.guild.id,
          action_type = action, user_id = fd.alice.id, target_id = action == 146 and fd.bob.id or voice,
          options = action == 146 and { auto_moderation_rule_name = "r", auto_moderation_rule_trigger_type = "1" }
            or { channel_id = voice, status = action == 192 and "live" or nil } })
      end
    end)
    local got = {}
    for i, e in ipairs(entries) do
      got[i] = { e.actionType, e.targetType, e.target.id, e.extra.status or e.extra.autoModerationRuleName }
    end
    assert.same({ { "All", "User", fd.bob.id, "r" }, { "Create", "Channel", voice, "live" },
      { "Delete", "Channel", voice, nil } }, got)
  end)

  it("emits integrations as they are created, updated and deleted", function()
    local data = { id = "71", guild_id = fd.guild.id, name = "Feeds", type = "discord", enabled = true,
      account = { id = "72", name = "Feeds" }, application = { id = "73", name = "Feeds", description = "" } }
    server.act(function()
      fd.gateway:dispatch("INTEGRATION_CREATE", data)
      data.enabled = false
      fd.gateway:dispatch("INTEGRATION_UPDATE", data)
      fd.gateway:dispatch("INTEGRATION_DELETE", { id = "71", guild_id = fd.guild.id, application_id = "73" })
    end)
    local created, updated = seen.integrationCreate[1][1], seen.integrationUpdate[1]
    local deleted = seen.integrationDelete[1][1]
    assert.same({ "Feeds", true, fd.guild.id, "73" }, { created.name, created.enabled, created.guild.id,
      created.application.id })
    assert.same({ nil, false, "71", "73", fd.guild.id }, { updated[1], updated[2].enabled, deleted.id,
      deleted.applicationId, deleted.guild.id })
  end)
end)
