-- Flow: a recorded session replays with no network, a changed send fails at the first difference, and
-- a restart within 60 s resumes the saved session.
local runtime = require("runtime")
local http = require("http")
local server = require("fake.discord.server")
local discord = require("discord")

local INTENTS = { "Guilds", "GuildMessages", "MessageContent" }
local REC = "/bots/session.jsonl"

-- A bot answering !ping with `answer`, logged in with `options`; it runs as long as a recorded one did.
local function session(options, answer, during)
  local client = discord.Client(options)
  client:on("messageCreate", function(msg)
    if msg.content == "!ping" then msg:reply(answer) end
    if msg.content == "!file" then msg:reply({ files = { { name = "a.txt", data = answer } } }) end
  end)
  runtime.run(function() client:login("test-token") end, { ["for"] = 10000 })
  runtime.run(during, { ["for"] = 50000 })
  client:destroy()
  runtime.run(nil, { ["for"] = 2000 })
  return client
end

describe("flow: record, replay and resume", function()
  local recording
  setup(function()
    local fd = server.reset()
    session({ intents = INTENTS, record = REC }, "pong", function()
      fd:say(fd.alice, fd.general, "!ping")
      fd.rest:inject({ method = "POST", path = "/channels/%d+/messages", status = 429, retry_after = 0.5 })
      fd:say(fd.alice, fd.general, "!ping")
      fd:say(fd.alice, fd.general, "!file")
    end)
    recording = runtime.files[REC]
  end)

  -- A replay with fresh fakes and nothing mounted, so any real request would fail.
  local function replay(answer)
    runtime.reset()
    http.reset()
    runtime.files[REC] = recording
    -- Another random state: uploads get another multipart boundary than when recorded.
    runtime.random_bytes(7)
    local client = session({ intents = INTENTS, transport = { replay = REC } }, answer, function() end)
    return client.rest.transport, client
  end

  it("writes timed JSONL without the token", function()
    local kinds, last = {}, -1
    for line in recording:gmatch("[^\n]+") do
      local e = require("json").decode(line)
      kinds[e.k] = (kinds[e.k] or 0) + 1
      assert.is_true(e.at >= last, line)
      last = e.at
    end
    -- The IDENTIFY frame is a JSON text inside the line.
    local function has(text) return recording:find(text, 1, true) ~= nil end
    assert.same({ false, true, true, true, true, true, true, true }, { has("test-token"),
      has('"authorization":"Bot <token>"'), has("multipart/form-data; boundary=<boundary>"),
      has('\\"token\\":\\"<token>\\"'), kinds.http >= 4, kinds.open == 1, kinds.send >= 2, kinds.recv >= 5 })
  end)

  it("replays with identical sends and the recorded timing, and fails at the first send that differs", function()
    local transport, client = replay("pong")
    assert.same({ nil, true, 0, "tarnbot" }, { transport.failure, transport:finished(), #http.exchanges,
      client.user.username })
    transport = replay("pang")
    local e = transport.failure
    assert.same({ "ReplayMismatch", true, true, false }, { e.code,
      e.message:find('expected POST https://discord.com/api/v10/channels/%d+/messages {.-"content":"pong"') ~= nil,
      e.message:find('got POST .-"content":"pang"') ~= nil, transport:finished() }, e.message)
  end)

  it("resumes the saved session after a restart within 60 s, and identifies after longer", function()
    for _, case in ipairs({ { 30000, true }, { 61000, false } }) do
      local fd = server.reset()
      local opts = { intents = INTENTS, sessionFile = "/bots/session.json" }
      session(opts, "pong", function() fd:say(fd.alice, fd.general, "hello") end)
      local shard0 = require("json").decode(runtime.files["/bots/session.json"]).shards["0"]
      -- Closed with a code that leaves the session alive on Discord's side.
      assert.is_nil(fd.gateway.sessions[shard0.sessionId].dead)
      runtime.run(function()
        fd:say(fd.alice, fd.general, "while away")
        runtime.sleep(case[1])
      end, { ["for"] = case[1] })
      local resumed, said, second = {}, {}, discord.Client(opts)
      second:on("shardResume", function(id) resumed[#resumed + 1] = id end)
      -- Caches start empty after a restart, so the missed event is seen raw.
      second:on("raw", function(p) if p.t == "MESSAGE_CREATE" then said[#said + 1] = p.d.content end end)
      runtime.run(function() second:login("test-token") end, { ["for"] = 10000 })
      local resumes = fd.gateway:receivedOps(6)
      if case[2] then
        assert.same({ 1, shard0.sessionId, shard0.sequence, { 0 }, { "while away" }, fd.bot.id, true, 1 },
          { #resumes, resumes[1].d.session_id, resumes[1].d.seq, resumed, said, second.user.id, second:isReady(),
            #fd.gateway.identifies })
      else
        assert.same({ 0, 2 }, { #resumes, #fd.gateway.identifies })
      end
      server.stop(second)
    end
  end)
end)
