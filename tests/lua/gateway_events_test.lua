-- Dispatch events: each one Discord documents has a handler; the newer ones patch the cache and emit.
local runtime = require("runtime")
local json = require("json")
local server = require("fake.discord.server")
local errors = require("discord.errors")

local DOCS = "../shared/references/discord-api-docs/events/gateway-events.mdx"

-- The names in the documentation's table of receive events; op-level events (Hello ...) are not dispatches.
local function documentedDispatches()
  local f = io.open(DOCS, "rb")
  if not f then return nil end
  local text = f:read("a")
  f:close()
  local names = {}
  for title in text:match("\n## Receive Events\n(.-)\n#### Hello\n"):gmatch("\n| %[([^%]]+)%]") do
    if title ~= "Hello" and title ~= "Reconnect" and title ~= "Invalid Session" then
      names[#names + 1] = title:upper():gsub(" ", "_")
    end
  end
  return names
end

describe("gateway dispatch", function()
  it("has a handler for every dispatch event Discord documents", function()
    local names = documentedDispatches()
    if not names then return pending("Discord's documentation is not beside the project") end
    require("discord")
    local handlers = require("discord.ws").handlers
    local missing = {}
    for _, name in ipairs(names) do
      if not handlers[name] then missing[#missing + 1] = name end
    end
    assert.same({}, missing)
    assert.is_true(#names >= 79, #names .. " names read")
  end)

  local fd, client, seen
  local EVENTS = { "rateLimited", "channelInfo", "voiceChannelStatusUpdate", "voiceChannelStartTimeUpdate",
    "integrationCreate", "integrationUpdate", "integrationDelete" }
  before_each(function()
    fd, client, seen = server.session({ intents = { "Guilds", "GuildMembers", "GuildIntegrations" } }, EVENTS)
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
