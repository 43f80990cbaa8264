-- The REST client against scripted replies: routes, headers, buckets, the global limit, 429s,
-- retries and the invalid-request counter, all on the fake runtime's virtual clock.
local runtime = require("runtime")
local http = require("http")
local json = require("json")
local errors = require("discord.errors")
local rest = require("discord.rest")
local util = require("discord.util")

local API = "https://discord.com/api"

local function reply(status, headers, body)
  local h = { ["content-type"] = "application/json" }
  for k, v in pairs(headers or {}) do h[k] = v end
  return { status = status, headers = h, body = body and json.encode(body) or "" }
end

local function limits(hash, limit, remaining, resetAfter)
  return {
    ["x-ratelimit-bucket"] = hash, ["x-ratelimit-limit"] = tostring(limit),
    ["x-ratelimit-remaining"] = tostring(remaining), ["x-ratelimit-reset-after"] = tostring(resetAfter),
  }
end

-- Mounts `responder(req, n)` and returns the list of request times.
local function serve(responder)
  local seen = {}
  http.mount(API, function(req)
    seen[#seen + 1] = req
    return responder(req, #seen)
  end)
  return seen
end

local function newRest(opts)
  opts = opts or {}
  opts.token = opts.token or "Bot secret"
  local r = rest.REST(opts)
  local events = { rateLimited = {}, invalidRequestWarning = {} }
  for name, list in pairs(events) do
    r:on(name, function(info) list[#list + 1] = info end)
  end
  return r, events
end

-- Runs fn in a task and returns what it returned or raised.
local function run(fn)
  local out
  runtime.run(function()
    out = table.pack(pcall(fn))
  end)
  return out
end

describe("REST", function()
  before_each(function()
    runtime.reset()
    http.reset()
  end)

  it("derives route keys and major parameters from literal paths", function()
    local now = runtime.time()
    local old = tostring(((now - 15 * 24 * 3600 * 1000 - 1420070400000) << 22) | 1)
    local recent = tostring(((now - 1000 - 1420070400000) << 22) | 1)
    local cases = {
      { "POST", "/webhooks/9/abcDEF", "POST /webhooks/:id/:token", "9/abcDEF", false },
      { "DELETE", "/channels/3/messages/" .. old, "DELETE /channels/:id/messages/:id (old)", "3", false },
      { "DELETE", "/channels/3/messages/" .. recent, "DELETE /channels/:id/messages/:id", "3", false },
    }
    for _, c in ipairs(cases) do
      local r = rest.parseRoute(c[1], c[2])
      assert.are.same({ c[3], c[4], c[5] }, { r.key, r.major, r.interactionCallback }, c[2])
    end
  end)

  it("queues each bucket in arrival order, apart from other major parameters", function()
    local seen = serve(function() return reply(200, limits("h", 1, 0, 1), {}) end)
    local r = newRest()
    runtime.run(function()
      for i = 1, 4 do
        runtime.spawn(function() r:post("/channels/9/messages", { body = { i = i } }) end)
      end
      runtime.spawn(function() r:post("/channels/8/messages", { body = { i = 0 } }) end)
    end)
    local order, at = {}, {}
    for i, req in ipairs(seen) do order[i], at[i] = json.decode(req.body).i, req.at end
    -- Channel 8 shares the route but not the bucket.
    assert.are.same({ 1, 0, 2, 3, 4 }, order)
    assert.are.same({ 0, 0, 1000, 2000, 3000 }, at)
  end)

  it("holds to 50 requests per second, interaction callbacks exempt", function()
    local seen = serve(function() return reply(200, nil, {}) end)
    local r = newRest()
    runtime.run(function()
      for i = 1, 60 do
        runtime.spawn(function() r:get("/channels/" .. i) end)
        runtime.spawn(function() r:post("/interactions/" .. i .. "/tok/callback", { body = { type = 5 } }) end)
      end
    end)
    local late = { channels = 0, interactions = 0 }
    for _, req in ipairs(seen) do
      local kind = req.path:match("^/api/v10/(%a+)/")
      if req.at >= 1000 then late[kind] = late[kind] + 1 end
    end
    assert.are.same({ channels = 10, interactions = 0 }, late)
  end)

  it("waits out 429s by header or body, pausing everyone on a global one", function()
    local cases = {
      { name = "bucket, header only", headers = { ["retry-after"] = "2" }, body = { message = "slow" },
        wait = 2000, global = false, otherAt = 0, events = 1 },
      { name = "global", headers = { ["x-ratelimit-global"] = "true", ["x-ratelimit-scope"] = "global" },
        body = { retry_after = 0.5, global = true }, wait = 500, global = true, otherAt = 500, events = 2 },
    }
    for _, c in ipairs(cases) do
      runtime.reset()
      http.reset()
      local seen = serve(function(req, n)
        if n == 1 then return reply(429, c.headers, c.body) end
        return reply(200, nil, { path = req.path })
      end)
      local r, events = newRest()
      runtime.run(function()
        runtime.spawn(function() r:get("/channels/1") end)
        runtime.spawn(function()
          runtime.sleep(10)
          r:get("/guilds/2")
        end)
      end)
      assert.are.equal(3, #seen, c.name)
      local retry = seen[1].path == seen[2].path and seen[2] or seen[3]
      local other = retry == seen[2] and seen[3] or seen[2]
      assert.are.equal(c.wait, retry.at, c.name)
      assert.are.equal(math.max(10, c.otherAt), other.at, c.name)
      -- A global pause also reports each request it holds back.
      assert.are.equal(c.events, #events.rateLimited, c.name)
      assert.are.same({ c.global, c.wait }, { events.rateLimited[1].global, events.rateLimited[1].retryAfter }, c.name)
    end
  end)

  it("retries 5xx and transport failures with growing, jittered pauses, then raises HTTPError", function()
    -- fails: how many attempts fail and how; sent: attempts that reach the server.
    local cases = {
      { "GET 502 three times", "GET", nil, 3, { status = 502 }, 4, true },
      { "GET refused four times", "GET", nil, 4, { kind = "connect" }, 4, false },
      { "DELETE timing out", "DELETE", nil, 1, { kind = "timeout" }, 2, true },
      { "POST refused before sending", "POST", {}, 1, { kind = "connect" }, 2, true },
      { "POST timing out after sending", "POST", {}, 1, { kind = "timeout" }, 1, false },
      { "POST cut off mid-reply", "POST", {}, 1, { kind = "closed" }, 1, false },
      { "POST answered 500", "POST", {}, 1, { status = 500 }, 1, false },
      { "PATCH answered 503", "PATCH", {}, 1, { status = 503 }, 1, false },
      { "POST with an enforced nonce", "POST", { nonce = "1", enforce_nonce = true }, 1, { kind = "timeout" }, 2,
        true },
    }
    for _, c in ipairs(cases) do
      local name, method, body, fails, how, sent, ok = table.unpack(c)
      runtime.reset()
      http.reset()
      local seen = serve(function(_, n)
        if n <= fails then
          if how.kind then return nil, "failed", how.kind end
          return { status = how.status, headers = {}, body = "<html>" }
        end
        return reply(200, nil, { done = true })
      end)
      local r = newRest()
      local out = run(function() return r:request(method, "/channels/1/messages", { body = body }) end)
      assert.are.equal(sent, #seen, name)
      assert.are.equal(ok, out[1], name)
      if not ok then
        assert.is_true(errors.is(out[2], "HTTPError"), name)
        assert.are.same({ how.status, how.kind, method }, { out[2].status, out[2].kind, out[2].method }, name)
      end
      -- Retry n waits 500 * 2^(n-1) ms plus up to as much again.
      for i = 2, #seen do
        local gap, least = seen[i].at - seen[i - 1].at, 500 * (1 << (i - 2))
        assert.is_true(gap >= least and gap <= 2 * least, name .. ": gap " .. gap)
      end
    end
  end)

  it("spreads the retries of requests that failed together", function()
    local tries = {}
    local seen = serve(function(req)
      tries[req.path] = (tries[req.path] or 0) + 1
      if tries[req.path] == 1 then return { status = 503, headers = {}, body = "" } end
      return reply(200, nil, {})
    end)
    local r = newRest({ retries = 1 })
    runtime.run(function()
      for i = 1, 8 do
        runtime.spawn(function() pcall(r.get, r, "/channels/" .. i) end)
      end
    end)
    local retryTimes = {}
    for _, req in ipairs(seen) do
      if req.at > 0 then retryTimes[req.at] = true end
    end
    assert.are.equal(16, #seen)
    assert.is_true(#util.keys(retryTimes) >= 6, "retries bunched together")
  end)

  it("raises RateLimitError when told to reject", function()
    serve(function() return reply(429, { ["retry-after"] = "3" }, { retry_after = 3 }) end)
    local r = newRest({ rejectOnRateLimit = { "POST /channels" } })
    local limited = run(function() return r:post("/channels/4/messages", { body = {} }) end)
    assert.is_true(errors.is(limited[2], "RateLimitError"))
    assert.are.same({ "POST /channels/:id/messages", 3000, 0 }, { limited[2].route, limited[2].retryAfter,
      runtime.now() })
  end)

  it("warns at 80% and 95% of the invalid requests allowed in 10 minutes", function()
    local shared = 0
    serve(function(req)
      if req.path:find("/users/") then
        shared = shared + 1
        if shared == 1 then return reply(429, { ["x-ratelimit-scope"] = "shared" }, { retry_after = 0.1 }) end
        return reply(200, nil, {})
      end
      return reply(403, nil, { code = 50013, message = "Missing Permissions" })
    end)
    local r, events = newRest({ globalRequestsPerSecond = 100000 })
    local counts = {}
    runtime.run(function()
      for i = 1, 9500 do
        pcall(r.delete, r, "/channels/" .. i)
        if i == 7999 then counts.before = #events.invalidRequestWarning end
      end
    end)
    assert.are.equal(0, counts.before)
    assert.are.equal(2, #events.invalidRequestWarning)
    assert.are.same({ 8000, 9500 }, { events.invalidRequestWarning[1].count, events.invalidRequestWarning[2].count })
    assert.are.equal(9500, r.invalidCount)
    -- After the window a new count starts; shared-scope 429s are not counted.
    local out
    runtime.run(function()
      runtime.sleep(600000)
      out = table.pack(pcall(r.delete, r, "/channels/1"))
      r:get("/users/5")
    end)
    assert.is_true(errors.is(out[2], "DiscordAPIError", 50013))
    assert.are.same({ 403, "DELETE", "/channels/1" }, { out[2].status, out[2].method, out[2].path })
    assert.are.equal(2, shared)
    assert.are.equal(1, r.invalidCount)
  end)
end)
