-- Flow: gateway faults: zombies, op 7 and 9, close codes, backoff, split zlib frames, the send limit.
local runtime = require("runtime")
local http = require("http")
local server = require("fake.discord.server")
local errors = require("discord.errors")

local RESUME_URL = "wss://gateway-resume.discord.gg"

describe("flow: gateway faults", function()
  local fd, client, seen

  local function start(setup, ws)
    fd, client, seen = server.session({ intents = { "Guilds", "GuildMessages", "MessageContent" }, ws = ws },
      { "ready", "shardResume", "shardReconnecting", "shardDisconnect", "error", "messageCreate" }, setup)
    assert.equal(1, #seen.ready)
  end
  after_each(function() server.stop(client) end)

  local function sessionSeq() return fd.gateway.sessions["session-1"].seq end

  -- Connections opened at or after `t`.
  local function connectsSince(t)
    local out = {}
    for _, c in ipairs(http.connects) do if c.at >= t then out[#out + 1] = c end end
    return out
  end

  it("reconnects as each fault demands: resume, identify anew or stop", function()
    local cases = {
      { "op 7", function(g) g:reconnect() end, "resume", 0, 0 },
      { "op 9 resumable", function(g) g:invalidate(true) end, "resume", 0, 0 },
      { "op 9 not resumable", function(g) g:invalidate(false) end, "identify", 1000, 5000 },
      { "close 4000", function(g) g:close(4000, "Unknown error") end, "resume", 1000, 1000 },
      { "dropped connection", function(g) g:drop() end, "resume", 1000, 1000 },
      { "close 4007", function(g) g:close(4007, "Invalid seq.") end, "identify", 1000, 1000 },
      { "close 4009", function(g) g:close(4009, "Session timed out.") end, "identify", 1000, 1000 },
      { "close 4004", function(g) g:close(4004, "Authentication failed.") end, "fatal" },
      { "close 4014", function(g) g:close(4014, "Disallowed intent(s).") end, "fatal" },
    }
    for _, c in ipairs(cases) do
      local name, act, expect, minDelay, maxDelay = table.unpack(c)
      start()
      local t0, seq = runtime.now(), sessionSeq()
      runtime.run(function() act(fd.gateway) end, { ["for"] = 20000 })
      local again = connectsSince(t0)
      local resumes = fd.gateway:receivedOps(6)
      if expect == "fatal" then
        local err = seen.error[1][1]
        assert.same({ 0, 1, true, c[1]:match("%d+$") + 0, true, err.code }, { #again, #seen.error,
          errors.is(err, "GatewayError"), err.code, err.fatal, seen.shardDisconnect[1][1].code }, name)
      else
        local delay = again[1].at - t0
        assert.same({ 1, true, {}, 1 }, { #again, delay >= minDelay and delay <= maxDelay, seen.error,
          #seen.shardReconnecting }, name .. ": reconnected after " .. delay .. " ms")
        if expect == "resume" then
          assert.same({ RESUME_URL, 1, "session-1", seq, 1, 1 }, { again[1].url:sub(1, #RESUME_URL), #resumes,
            resumes[1].d.session_id, resumes[1].d.seq, #seen.shardResume, #fd.gateway.identifies }, name)
        else
          assert.same({ 0, 2 }, { #resumes, #fd.gateway.identifies }, name)
        end
      end
      server.stop(client)
    end
  end)

  it("closes a zombie connection with 4900 and resumes at the last sequence number", function()
    start(function(f) f.gateway.ack = false end)
    client:on("shardReconnecting", function() fd.gateway.ack = true end)
    local seq = sessionSeq()
    runtime.run(nil, { ["for"] = 2 * 41250 })
    -- Two beats: the first unanswered, the second finds no ACK and closes instead of beating.
    local closes, resumes, beats = fd.gateway.closes, fd.gateway:receivedOps(6), {}
    for _, b in ipairs(fd.gateway:receivedOps(1)) do
      if b.conn == fd.gateway.connections[1] then beats[#beats + 1] = b end
    end
    assert.same({ 4900, "client", 1, beats[1].at + 41250, 1, "session-1", seq, 1 }, { closes[1].code, closes[1].by,
      #beats, closes[1].at, #resumes, resumes[1].d.session_id, resumes[1].d.seq, #seen.shardResume })
    -- Events sent while away are not lost.
    runtime.run(function() fd:say(fd.alice, fd.general, "after resume") end, { ["for"] = 1000 })
    assert.equal("after resume", seen.messageCreate[1][1].content)
  end)

  it("backs off 1, 2, 4, 8 and 16 s while reconnects fail, starts over after a resume, stops on destroy", function()
    start()
    local refusals = 4
    http.mount_ws(RESUME_URL .. "/", function(sock, req) return fd.gateway:_serve(sock, req) end, function()
      if refusals > 0 then
        refusals = refusals - 1
        return nil, "connection refused", "connect"
      end
      return true
    end)
    local t0 = runtime.now()
    runtime.run(function() fd.gateway:drop() end, { ["for"] = 40000 })
    local gaps, last = {}, t0
    for _, c in ipairs(connectsSince(t0)) do
      gaps[#gaps + 1] = c.at - last
      last = c.at
    end
    assert.same({ { 1000, 2000, 4000, 8000, 16000 }, 1 }, { gaps, #seen.shardResume })
    local t1 = runtime.now()
    runtime.run(function() fd.gateway:drop() end, { ["for"] = 5000 })
    assert.equal(1000, connectsSince(t1)[1].at - t1)
    -- Destroyed while waiting to reconnect: the wait ends and nothing is left for the loop.
    refusals = 10
    runtime.run(function() fd.gateway:drop() end, { ["for"] = 4000 })
    client:destroy()
    local t2 = runtime.now()
    assert.same({ 0, t2 }, { runtime.run(nil, { ["for"] = 1000000 }), runtime.now() })
  end)

  it("decodes zlib messages split across frames, and plain text frames without compression", function()
    for _, c in ipairs({ { split = true, compress = true }, { split = false, compress = false } }) do
      start(function(f) f.gateway.split = c.split end, { compress = c.compress })
      runtime.run(function() fd:say(fd.alice, fd.general, "hello") end, { ["for"] = 1000 })
      assert.same({ c.compress and "zlib-stream" or nil, "hello", "Test Guild" }, { http.connects[1].query.compress,
        seen.messageCreate[1][1].content, client.guilds.cache:get(fd.guild.id).name })
      client:destroy()
    end
  end)

  it("keeps to 120 sends a minute with room for heartbeats", function()
    start()
    local t0 = runtime.now()
    runtime.run(function()
      for i = 1, 130 do client.user:setPresence({ status = i % 2 == 0 and "idle" or "online" }) end
    end, { ["for"] = 120000 })
    -- More than 120 sends in a minute would be refused by the fake gateway.
    local presences = fd.gateway:receivedOps(3)
    assert.same({ 130, true }, { #presences, presences[1].at < t0 + 100 })
  end)
end)
