-- The fakes hold the library to the host's contract, so their own rules are checked here.
local runtime = require("runtime")
local json = require("json")
local http = require("http")
local _discord = require("_discord")
local server = require("fake.discord.server")

describe("fake runtime", function()
  before_each(runtime.reset)

  it("jumps the clock to the next timer and keeps order among equal deadlines", function()
    local log = {}
    runtime.run(function()
      local t = runtime.timer(100, function() log[#log + 1] = "tick" .. runtime.now() end, true)
      runtime.timer(250, function() t:cancel() end)
      runtime.spawn(function() runtime.sleep(100) log[#log + 1] = "sleeper" end)
      runtime.sleep(600000)
      log[#log + 1] = "done" .. runtime.now()
    end)
    assert.same({ "tick100", "sleeper", "tick200", "done600000" }, log)
  end)

  it("wakes only suspended tasks, later and with the given values", function()
    local got = {}
    runtime.run(function()
      local me = runtime.current()
      runtime.spawn(function()
        got.inline = runtime.wake(me, "x", 2)
        got.twice = runtime.wake(me, "y")
        got.order = "waker ran first"
      end)
      got.values = { runtime.suspend() }
      local sleeper = runtime.spawn(function() runtime.sleep(10) end)
      runtime.sleep(1)
      got.sleeping = runtime.wake(sleeper)
    end)
    assert.same({ inline = true, twice = false, order = "waker ran first", values = { "x", 2 }, sleeping = false },
      got)
  end)

  it("refuses blocking calls outside tasks and from coroutines the library made", function()
    assert.has_error(function() runtime.sleep(1) end, "sleep: not inside a task")
    assert.has_error(function()
      runtime.run(function() coroutine.wrap(function() runtime.sleep(1) end)() end)
    end)
    assert.has_error(function() runtime.run(function() runtime.sleep(1.5) end) end)
  end)

  it("fails the run on a task error unless asked to keep going", function()
    assert.has_error(function() runtime.run(function() error("inside") end) end)
    runtime.reset()
    runtime.run(function() error("kept") end, { errors = true })
    assert.equal(1, #runtime.errors)
    assert.equal(1, #runtime.logged("error", "kept"))
  end)

  it("runs scripted processes: output in reads, exit code after the scripted time", function()
    runtime.programs["yt-dlp"] = function(args) return { stdout = args[1] .. "\n", code = 2, ms = 300 } end
    local got = {}
    runtime.run(function()
      assert.same({ nil, "cannot start ffmpeg: not found", "notfound" }, { runtime.process({ file = "ffmpeg" }) })
      local p = runtime.process({ file = "yt-dlp", args = { "query" } })
      got = { p:read(2), p:read(), p:read() == nil, (select(3, p:wait(100))) }
      got[5] = p:wait()
      got[6] = runtime.now()
    end)
    assert.same({ "qu", "ery\n", true, "timeout", 2, 300 }, got)
  end)

  it("stops at a virtual deadline and after runtime.stop", function()
    local n = 0
    runtime.timer(1000, function() n = n + 1 end, true)
    runtime.run(nil, { ["for"] = 5500 })
    assert.same({ 5, 5500 }, { n, runtime.now() })
    runtime.timer(0, function() runtime.stop(3) end)
    runtime.run(nil, { ["for"] = 5000 })
    assert.same({ 5, 3, 5500 }, { n, runtime.exit_code, runtime.now() })
  end)
end)

describe("fake json", function()
  it("encodes deterministically and round-trips arrays, objects and null", function()
    local text = '{"a":[],"b":{},"c":[1,2.5,null,"\\u00e9"],"d":-9223372036854775808}'
    local v = assert(json.decode(text))
    assert.equal(math.mininteger, v.d)
    assert.equal("float", math.type(v.c[2]))
    assert.equal('{"a":[],"b":{},"c":[1,2.5,null,"\u{e9}"],"d":-9223372036854775808}', json.encode(v))
    assert.equal('{"x":1,"y":[true]}', json.encode({ y = { true }, x = 1 }))
  end)

  it("raises on what JSON cannot carry and reports decode errors with the offset", function()
    local cyclic = {}
    cyclic.self = cyclic
    for _, bad in ipairs({ { 1, x = 2 }, { [0.5] = 1 }, { math.huge }, { print }, cyclic, "\255" }) do
      assert.has_error(function() json.encode(bad) end)
    end
    assert.same({ nil, "expected a key at byte 8" }, { json.decode('{"a":1,}') })
    assert.same({ nil, "expected ',' or ']' at byte 3" }, { json.decode('[01]') })
    assert.has_error(function() return json.null.field end)
  end)
end)

describe("fake _discord inflater", function()
  it("inflates stored blocks with sync flushes across messages and refuses partial pushes", function()
    local d, z = _discord.deflater(), _discord.inflater()
    assert.equal('{"op":10}', z:push(d:push('{"op":10}')))
    local big = string.rep("y", 70000)
    assert.equal(big, z:push(d:push(big)))
    local framed = d:push("split")
    assert.has_error(function() z:push(framed:sub(1, 4)) end, "inflater:push: message ends inside a block header")
    -- Whole blocks without the closing sync flush are still half a message.
    assert.has_error(function() z:push(framed:sub(1, -6)) end, "inflater:push: message does not end with a sync flush")
    local z2 = _discord.inflater()
    assert.has_error(function() z2:push("\0\0") end, "inflater:push: bad zlib header")
  end)
end)

describe("fake Discord REST", function()
  local fd
  before_each(function() fd = server.reset() end)

  local function call(method, path, body, headers)
    local res
    runtime.run(function()
      local h = { Authorization = "Bot " .. server.TOKEN, ["User-Agent"] = "DiscordBot (x, 1)" }
      if body then h["Content-Type"] = "application/json" end
      for k, v in pairs(headers or {}) do h[k] = v end
      res = { http.request({ method = method, url = server.API .. "/v10" .. path, headers = h,
        body = body and json.encode(body) }) }
    end)
    local r = res[1]
    if r and r.body ~= "" then r.json = json.decode(r.body) end
    return r, res[2], res[3]
  end

  it("answers with real rate-limit headers and a 429 when the bucket is spent", function()
    fd.rest:setBucket("POST /channels/:channel/messages", { limit = 1, window = 2000, hash = "abc" })
    local path = "/channels/" .. fd.general.id .. "/messages"
    local r = call("POST", path, { content = "hi" })
    assert.same({ 200, "1", "0", "2.000", "abc" }, { r.status, r.headers["x-ratelimit-limit"],
      r.headers["x-ratelimit-remaining"], r.headers["x-ratelimit-reset-after"], r.headers["x-ratelimit-bucket"] })
    r = call("POST", path, { content = "again" })
    assert.same({ 429, "user", "2", 2.0 }, { r.status, r.headers["x-ratelimit-scope"], r.headers["retry-after"],
      r.json.retry_after })
    assert.equal(1, #fd.rest.violations)
  end)

  it("serves injected faults in order without counting them as violations", function()
    fd.rest:inject({ method = "GET", path = "/users/@me", status = 429, global = true, retry_after = 0.5 })
    fd.rest:inject({ path = "/users/@me", status = 502, raw = "<html>" })
    fd.rest:inject({ path = "/users/@me", transport = "connect" })
    local r = call("GET", "/users/@me")
    assert.same({ 429, "true", "global", 0.5 }, { r.status, r.headers["x-ratelimit-global"],
      r.headers["x-ratelimit-scope"], r.json.retry_after })
    assert.equal(502, call("GET", "/users/@me").status)
    assert.same({ nil, "injected connect failure", "connect" }, { call("GET", "/users/@me") })
    assert.equal("tarnbot", call("GET", "/users/@me").json.username)
    assert.same({}, fd.rest.violations)
  end)

  it("holds the library to 50 requests a second", function()
    for _ = 1, 50 do assert.equal(200, call("GET", "/users/@me").status) end
    local r = call("GET", "/users/@me")
    assert.same({ 429, "global" }, { r.status, r.headers["x-ratelimit-scope"] })
    assert.same({ true, "/users/@me" }, { fd.rest.violations[1].global, fd.rest.violations[1].path })
  end)

  it("checks authentication, agent and bodies as the API does", function()
    assert.equal(401, call("GET", "/users/@me", nil, { Authorization = "Bot wrong" }).status)
    assert.equal(400, call("GET", "/users/@me", nil, { ["User-Agent"] = "curl" }).status)
    local path = "/channels/" .. fd.general.id .. "/messages"
    local r = call("POST", path, { content = string.rep("x", 2001) })
    assert.same({ 400, 50035, "Must be 2000 or fewer in length." },
      { r.status, r.json.code, r.json.errors.content._errors[1].message })
    assert.equal(50006, call("POST", path, { content = "" }).json.code)
    assert.equal(10008, call("GET", path .. "/1").json.code)
    assert.equal(1, fd.rest.invalid) -- only 401, 403 and 429 count
  end)
end)

describe("fake Discord gateway", function()
  local fd
  before_each(function() fd = server.reset() end)

  -- A bare client: identifies or resumes, and collects dispatches until `stop` returns true.
  local function session(first, stop, opts)
    local got = { t = {} }
    runtime.run(function()
      local url = (opts and opts.url or "wss://gateway.discord.gg") .. "/?v=10&encoding=json&compress=zlib-stream"
      local ws = assert(http.websocket(url))
      local z = _discord.inflater()
      local function recv()
        local data, _, how, code = ws:receive()
        if not data then return nil, how, code end
        return json.decode(z:push(data))
      end
      local hello = recv()
      got.interval = hello.d.heartbeat_interval
      ws:send(json.encode(first))
      while true do
        local msg, _, code = recv()
        if not msg then
          got.closed = code
          return
        end
        got.t[#got.t + 1] = msg.t or msg.op
        if msg.s then got.seq = msg.s end
        if msg.t == "READY" then got.session = msg.d.session_id end
        if msg.t == "MESSAGE_CREATE" then got.content = msg.d.content end
        if stop(msg, got) then
          ws:close(opts and opts.code or 4900)
          return
        end
      end
    end, { ["for"] = 60000 })
    return got
  end

  local identify = { op = 2, d = { token = server.TOKEN, intents = 513,
    properties = { os = "linux", browser = "t", device = "t" } } }

  it("identifies, resumes with the missed events, and blanks content without the MessageContent intent", function()
    local first = session(identify, function(msg) return msg.t == "GUILD_CREATE" end)
    assert.same({ "READY", "GUILD_CREATE" }, first.t)
    fd:say(fd.alice, fd.general, "while away")
    local second = session({ op = 6, d = { token = server.TOKEN, session_id = first.session, seq = first.seq } },
      function(msg) return msg.t == "RESUMED" end, { url = "wss://gateway-resume.discord.gg" })
    assert.same({ "MESSAGE_CREATE", "RESUMED" }, second.t)
    assert.equal("", second.content)
    assert.same({}, fd.gateway.faults)
  end)

  it("notes early identifies and late heartbeats, and closes with 4008 after 120 sends in a minute", function()
    local closed
    runtime.run(function()
      local a = assert(http.websocket("wss://gateway.discord.gg/?v=10&encoding=json"))
      local b = assert(http.websocket("wss://gateway.discord.gg/?v=10&encoding=json"))
      a:send(json.encode(identify))
      b:send(json.encode(identify))
      runtime.sleep(41250 + 2000)
      for _ = 1, 121 do a:send(json.encode({ op = 1, d = json.null })) end
      repeat
        local data, _, _, code = a:receive()
        closed = code
      until not data
    end)
    local texts = {}
    for _, f in ipairs(fd.gateway.faults) do texts[#texts + 1] = f.text end
    assert.same({ "IDENTIFY 0 ms after the previous one", "heartbeat 2000 ms late", "more than 120 sends in 60 s" },
      texts)
    assert.equal(4008, closed)
  end)

  it("ends the session on a normal close and refuses bad tokens with 4004", function()
    local first = session(identify, function(msg) return msg.t == "GUILD_CREATE" end, { code = 1000 })
    local again = session({ op = 6, d = { token = server.TOKEN, session_id = first.session, seq = 1 } },
      function(msg) return msg.op == 9 end, { url = "wss://gateway-resume.discord.gg" })
    assert.same({ 9 }, again.t)
    local bad = session({ op = 2, d = { token = "nope", intents = 1, properties = {} } }, function() return false end)
    assert.equal(4004, bad.closed)
  end)

  it("closes with 4014 for privileged intents it lacks; splits frames and refuses connections on request", function()
    fd.gateway.allowed_intents = 0
    local msg = { op = 2, d = { token = server.TOKEN, intents = 1 << 15, properties = identify.d.properties } }
    assert.equal(4014, session(msg, function() return false end).closed)
    fd.gateway.allowed_intents = -1
    fd.gateway.split = true
    -- A whole-message inflater must refuse a half frame, which is what the library has to handle.
    assert.has_error(function() session(identify, function() return false end) end)
    fd.gateway:refuse(1)
    runtime.run(function()
      assert.same({ nil, "connection refused", "connect" }, { http.websocket("wss://gateway.discord.gg/?v=10") })
    end)
  end)
end)
