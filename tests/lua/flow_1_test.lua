-- Flow: a bot logs in, becomes ready, and closes on an interrupt (REST limits under load: rest_limiter_test).
local runtime = require("runtime")
local http = require("http")
local json = require("json")
local server = require("fake.discord.server")
local discord = require("discord")

local INTENTS = { "Guilds", "GuildMessages", "MessageContent" }

describe("flow: login, ready and interrupt", function()
  local fd, client, seen, guildAtReady

  before_each(function()
    fd, client, seen = server.session({ intents = INTENTS, presence = { status = "idle", activities = { "chess" } } },
      { "ready", "shardReady" }, function(f, c)
        c:on("ready", function() guildAtReady = c.guilds.cache:get(f.guild.id) end)
      end)
  end)
  after_each(function() server.stop(client) end)

  it("checks the token, identifies over zlib-stream and fires ready once the guild has arrived", function()
    -- The fakes themselves refuse a wrong token, gateway version or encoding.
    local identify = fd.gateway.identifies[1].d
    assert.same({ 1, "zlib-stream", discord.IntentsBitField:resolve(INTENTS), { 0, 1 }, { since = json.null,
      status = "idle", afk = false, activities = { { name = "chess", type = 0 } } } }, { #fd:requests("GET",
      "/gateway/bot"), http.connects[1].query.compress, identify.intents, identify.shard, identify.presence })
    assert.same({ 1, client, "Test Guild", 0, nil, fd.bot.id, true }, { #seen.ready, seen.ready[1][1],
      guildAtReady.name, seen.shardReady[1][1], seen.shardReady[1][2], client.user.id, client:isReady() })
  end)

  it("closes with 1000 on an interrupt and does not reconnect", function()
    runtime.interrupt()
    -- Nothing is left to run: the script would end here.
    local t0 = runtime.now()
    local parked, last = runtime.run(nil, { ["for"] = 1000000000 }), fd.gateway.closes[#fd.gateway.closes]
    assert.same({ 0, true, 1, 1000, "client", false }, { parked, runtime.now() - t0 < 10000, #http.connects, last.code,
      last.by, client:isReady() })
  end)
end)

describe("flow: login checks", function()
  local client
  after_each(function() server.stop(client) end)
  it("fires ready after waitGuildTimeout when a guild never arrives, and guildAvailable when it does", function()
    local hidden, holding, readyAt, shardReady, available = nil, true, nil, nil, nil
    local fd
    fd, client = server.login({ intents = INTENTS, waitGuildTimeout = 4000 }, function(f, c)
      hidden = f.store:addGuild({ name = "Outage", owner = f.alice, members = { f.bot } })
      local dispatch = f.gateway.dispatch
      f.gateway.dispatch = function(g, t, d, session)
        if holding and t == "GUILD_CREATE" and d.id == hidden.id then return end
        return dispatch(g, t, d, session)
      end
      c:on("ready", function() readyAt = runtime.now() end)
      c:on("shardReady", function(id, missing) shardReady = { id, missing } end)
      c:on("guildAvailable", function(g) available = g end)
    end)
    assert.same({ 4000, { 0, { hidden.id } }, false, true }, { readyAt, shardReady,
      client.guilds.cache:get(hidden.id).available, client.guilds.cache:get(fd.guild.id).available })
    holding = false
    runtime.run(function() fd.gateway:dispatch("GUILD_CREATE", fd.store:guildJSON(hidden)) end, { ["for"] = 1000 })
    assert.same({ client.guilds.cache:get(hidden.id), true, "Outage" }, { available, available.available,
      available.name })
  end)

  it("puts Lua's collector in the mode its collector option names", function()
    collectgarbage("generational")
    discord.Client({ collector = false })
    assert.equal("generational", collectgarbage("generational"))
    discord.Client()
    assert.equal("incremental", collectgarbage("incremental"))
    assert.error_matches(function() discord.Client({ collector = "fast" }) end, "The option 'collector' must be")
  end)
end)
