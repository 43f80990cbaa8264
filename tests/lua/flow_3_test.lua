-- Flow: several shards in one process against the fake gateway's shards: the plan, identify
-- buckets of max_concurrency 5 s apart, the session start limit, guild routing and per-shard status.
local runtime = require("runtime")
local server = require("fake.discord.server")
local sharding = require("discord.sharding")
local errors = require("discord.errors")
local map = require("discord.util").map

local INTENTS = { "Guilds", "GuildMembers", "GuildMessages", "MessageContent" }
local SHARD_EVENTS = { "ready", "shardReady", "shardResume", "shardReconnecting", "shardDisconnect", "shardStatus",
  "error", "warn", "raw", "messageCreate" }

describe("flow: sharding", function()
  local fd, client, seen, guildOn

  -- One guild per shard besides the default one; `gw` sets the fake gateway's knobs.
  local function start(gw, options)
    options = options or {}
    options.intents = INTENTS
    if options.shards == nil and options.shardCount == nil then options.shards = "auto" end
    fd, client = server.login(options, function(f, c)
      f.gateway.shards, f.gateway.max_concurrency = 4, 2
      for k, v in pairs(gw or {}) do f.gateway[k] = v end
      guildOn = {}
      for shard = 0, 3 do
        local g = f.store:addGuild({ id = f.store:idOnShard(shard, 4), name = "G" .. shard, owner = f.alice,
          channels = { { name = "chat" .. shard, type = 0 } }, members = { f.bot, f.alice } })
        guildOn[shard] = g
      end
      seen = {}
      for _, name in ipairs(SHARD_EVENTS) do
        seen[name] = {}
        c:on(name, function(...) table.insert(seen[name], { at = runtime.now(), args = table.pack(...) }) end)
      end
    end)
  end

  after_each(function()
    client:destroy()
    runtime.run(nil, { ["for"] = 1000 })
  end)

  local function identifyTimes()
    local out = {}
    for _, i in ipairs(fd.gateway.identifies) do out[#out + 1] = { i.d.shard[1], i.d.shard[2], i.at } end
    table.sort(out, function(a, b) return a[3] < b[3] or (a[3] == b[3] and a[1] < b[1]) end)
    return out
  end

  local function arg(name, i) return map(seen[name], function(e) return e.args[i] end) end

  it("identifies four shards in pairs 5 s apart, then is ready once every shard is", function()
    start()
    local t = identifyTimes()
    assert.are.equal(4, #t)
    assert.are.same({ { 0, 4 }, { 1, 4 }, { 2, 4 }, { 3, 4 } }, map(t, function(r) return { r[1], r[2] } end))
    assert.are.equal(t[1][3], t[2][3])
    assert.are.equal(t[3][3], t[4][3])
    assert.are.equal(5000, t[3][3] - t[1][3])
    assert.are.same({}, fd.gateway.faults)
    local ready = arg("shardReady", 1)
    table.sort(ready)
    assert.are.same({ 0, 1, 2, 3 }, ready)
    assert.are.equal(1, #seen.ready)
    for _, e in ipairs(seen.shardReady) do assert.is_true(e.at <= seen.ready[1].at) end
    assert.are.same({ 0, 1, 2, 3 }, client.shard.ids)
    assert.are.equal(4, client.shard.count)
    assert.are.same({ [0] = "ready", "ready", "ready", "ready" }, client.ws:statuses())
    for shard, g in pairs(guildOn) do
      local guild = client.guilds.cache:get(g.id)
      assert.are.same({ shard, shard, shard }, { guild.shardId, guild.shard.id, sharding.shardIdFor(g.id, 4) })
      assert.is_true(client.ws.shards:get(shard).guilds:has(g.id))
    end
    assert.are.same({ 1, 1, 1, 1 }, client.shard:broadcastEval(function(c, id)
      return c.ws.shards:get(id).guilds:filter(function(g) return g.name and g.name:match("^G%d$") end).size
    end))
  end)

  it("delivers each guild's events from its shard and sends its requests there", function()
    start()
    local g = guildOn[3]
    local chat = fd.store.channels[g.channels[1]]
    local before = #seen.raw
    runtime.run(function() fd:say(fd.alice, chat, "on three") end, { ["for"] = 1000 })
    assert.are.equal("on three", seen.messageCreate[1].args[1].content)
    assert.are.same({ "MESSAGE_CREATE", 3 }, { seen.raw[before + 1].args[1].t, seen.raw[before + 1].args[2] })
    runtime.run(function() client.guilds.cache:get(guildOn[2].id).members:fetch({ user = { fd.alice.id } }) end,
      { ["for"] = 1000 })
    local op8 = fd.gateway:receivedOps(8)
    assert.are.equal(1, #op8)
    assert.are.equal(2, op8[1].conn.session.shard[1])
    runtime.run(function() client.user:setPresence({ status = "dnd", shardId = 1 }) end, { ["for"] = 1000 })
    assert.are.same({ 1 }, map(fd.gateway:receivedOps(3), function(r) return r.conn.session.shard[1] end))
    assert.are.equal("dnd", fd.gateway.presences[1].status)
  end)

  it("reconnects one shard without disturbing the others", function()
    start()
    local seq = fd.gateway:session(1).seq
    local from = #seen.shardStatus
    runtime.run(function() fd.gateway:close(4000, "Unknown error", 1) end, { ["for"] = 5000 })
    assert.are.same({ 1 }, arg("shardReconnecting", 1))
    assert.are.same({ 1 }, arg("shardResume", 1))
    local resumes = fd.gateway:receivedOps(6)
    assert.are.same({ 1, seq }, { #resumes, resumes[1].d.seq })
    local changed = {}
    for i = from + 1, #seen.shardStatus do changed[seen.shardStatus[i].args[1]] = true end
    assert.are.same({ [1] = true }, changed)
    assert.are.same({ [0] = "ready", "ready", "ready", "ready" }, client.ws:statuses())
    -- A shard that must identify again waits for its key's slot like any other.
    runtime.run(function() fd.gateway:invalidate(false, 3) end, { ["for"] = 20000 })
    assert.are.equal(5, #fd.gateway.identifies)
    assert.are.same({ 3, 4 }, { fd.gateway.identifies[5].d.shard[1], fd.gateway.identifies[5].d.shard[2] })
    assert.are.same({}, fd.gateway.faults)
    assert.are.equal(1, #seen.ready)
  end)

  it("waits for the reset when the session start limit runs out", function()
    start({ session_starts = 2, reset_after = 30000 })
    assert.truthy(seen.warn[1].args[1]:find("Only 2 of 4 session starts left", 1, true))
    runtime.run(nil, { ["for"] = 30000 })
    local t = identifyTimes()
    assert.are.equal(4, #t)
    assert.is_true(t[3][3] >= 30000 and t[4][3] >= 30000, "identified at " .. t[3][3])
    assert.are.same({}, fd.gateway.faults)
    assert.are.equal(1, #seen.ready)
    assert.is_true(seen.ready[1].at >= 30000)
  end)

  it("stops with a fatal GatewayError when Discord requires more shards", function()
    start({ required_shards = 2 }, { shardCount = 1 })
    assert.are.equal(0, #seen.ready)
    local err = seen.error[1].args[1]
    assert.is_true(errors.is(err, "GatewayError"))
    assert.are.same({ 4011, true }, { err.code, err.fatal })
    assert.are.equal(4011, seen.shardDisconnect[1].args[1].code)
  end)

  it("plans the shards from the options and Discord's recommendation", function()
    local cases = {
      { { shardCount = 1 }, 5, 1, { 0 } },
      { { shards = "auto", shardCount = 1 }, 5, 5, { 0, 1, 2, 3, 4 } },
      { { shardCount = "auto" }, 3, 3, { 0, 1, 2 } },
      { { shards = { 3, 1, 1 }, shardCount = 4 }, 1, 4, { 1, 3 } },
      { { shards = { 2 }, shardCount = "auto" }, 4, 4, { 2 } },
    }
    for i, c in ipairs(cases) do
      local count, ids = sharding.plan(c[1], { shards = c[2] })
      assert.are.same({ c[3], c[4] }, { count, ids }, "case " .. i)
    end
    for _, bad in ipairs({ { shards = { 4 }, shardCount = 4 }, { shards = { -1 }, shardCount = 2 },
      { shards = {}, shardCount = 2 } }) do
      local ok, err = pcall(sharding.plan, bad, {})
      assert.is_false(ok)
      assert.is_true(errors.is(err, "LibraryError", "InvalidOption"), tostring(err))
    end
    assert.are.same({ 4, 1 }, { sharding.shardIdFor("175928847299117063", 16),
      sharding.shardIdFor("175928847299117063", 5) })
  end)
end)
