-- Flow: shards in one process: identify buckets, the session start limit, routing, per-shard status.
local runtime = require("runtime")
local server = require("fake.discord.server")
local sharding = require("discord.sharding")
local map = require("discord.util").map
local act = server.act

describe("flow: sharding", function()
  local fd, client, seen, guildOn
  after_each(function() server.stop(client) end)

  -- A guild on each of four shards; `gw` sets more of the fake gateway's knobs.
  local function start(gw, options)
    options = options or { shards = "auto" }
    options.intents = { "Guilds", "GuildMembers", "GuildMessages", "MessageContent" }
    fd, client, seen = server.session(options, { "ready", "shardReady", "shardResume", "shardReconnecting",
      "shardStatus", "error", "warn", "raw" }, function(f)
      guildOn = f:shardGuilds()
      for k, v in pairs(gw or {}) do f.gateway[k] = v end
    end)
  end

  -- {shard, count, at} of each IDENTIFY, by time.
  local function identifies()
    local out = map(fd.gateway.identifies, function(i) return { i.d.shard[1], i.d.shard[2], i.at } end)
    table.sort(out, function(a, b) return a[3] < b[3] or (a[3] == b[3] and a[1] < b[1]) end)
    return out
  end
  local function arg(name, i) return map(seen[name], function(e) return e[i] end) end
  local function shardOf(op) return fd.gateway:receivedOps(op)[1].conn.session.shard[1] end

  it("identifies four shards in pairs 5 s apart, routes guilds by ID and is ready once every shard is", function()
    start()
    local t, ready = identifies(), arg("shardReady", 1)
    table.sort(ready)
    assert.same({ { { 0, 4, 0 }, { 1, 4, 0 }, { 2, 4, 5000 }, { 3, 4, 5000 } }, { 0, 1, 2, 3 }, 1, { 0, 1, 2, 3 }, 4,
      { [0] = "ready", "ready", "ready", "ready" } }, { map(t, function(r) return { r[1], r[2], r[3] - t[1][3] } end),
      ready, #seen.ready, client.shard.ids, client.shard.count, client.ws:statuses() })
    for shard, on in pairs(guildOn) do
      local id = on.guild.id
      assert.same({ shard, shard }, { client.guilds.cache:get(id).shard.id, sharding.shardIdFor(id, 4) })
    end
    -- Events come from the guild's shard; requests and presences go there.
    act(function() fd:say(fd.alice, guildOn[3].channel, "on three") end)
    local raw = seen.raw[#seen.raw]
    act(function() client.guilds.cache:get(guildOn[2].guild.id).members:fetch({ user = { fd.alice.id } }) end)
    act(function() client.user:setPresence({ status = "dnd", shardId = 1 }) end)
    assert.same({ "MESSAGE_CREATE", 3, 2, 1, "dnd" }, { raw[1].t, raw[2], shardOf(8), shardOf(3),
      fd.gateway.presences[1].status })
  end)

  it("reconnects one shard without disturbing the others, and re-identifies through the queue", function()
    start()
    local seq, from = fd.gateway:session(1).seq, #seen.shardStatus
    act(function() fd.gateway:close(4000, "Unknown error", 1) end)
    assert.same({ { 1 }, { 1 }, seq }, { arg("shardReconnecting", 1), arg("shardResume", 1),
      fd.gateway:receivedOps(6)[1].d.seq })
    for i = from + 1, #seen.shardStatus do assert.equal(1, seen.shardStatus[i][1]) end
    act(function() fd.gateway:invalidate(false, 3) end, 20000)
    assert.same({ 5, 3, 1 }, { #fd.gateway.identifies, fd.gateway.identifies[5].d.shard[1], #seen.ready })
  end)

  it("waits for the reset when the session start limit runs out", function()
    start({ session_starts = 2, reset_after = 30000 })
    runtime.run(nil, { ["for"] = 30000 })
    local t = identifies()
    assert.same({ true, 4, true, 1 }, { seen.warn[1][1]:find("Only 2 of 4 session starts left") ~= nil, #t,
      t[3][3] >= 30000, #seen.ready })
  end)

  it("plans the shards from the options and Discord's recommendation", function()
    for i, c in ipairs({ { { shardCount = 1 }, 5, 1, { 0 } },
      { { shards = "auto", shardCount = 1 }, 3, 3, { 0, 1, 2 } },
      { { shards = { 3, 1, 1 }, shardCount = 4 }, 1, 4, { 1, 3 } },
      { { shards = { 2 }, shardCount = "auto" }, 4, 4, { 2 } } }) do
      assert.same({ c[3], c[4] }, { sharding.plan(c[1], { shards = c[2] }) }, "case " .. i)
    end
    for _, bad in ipairs({ { shards = { 4 }, shardCount = 4 }, { shards = {}, shardCount = 2 } }) do
      assert.error_matches(function() sharding.plan(bad, {}) end, "LibraryError[InvalidOption]", nil, true)
    end
    local id = "175928847299117063"
    assert.same({ 4, 1 }, { sharding.shardIdFor(id, 16), sharding.shardIdFor(id, 5) })
  end)
end)
