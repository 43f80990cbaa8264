-- The REST client against scripted replies: route keys, buckets, the global limit, 429s, retries and
-- the invalid-request counter.
local runtime = require("runtime")
local http = require("http")
local json = require("json")
local errors = require("discord.errors")
local rest = require("discord.rest")
local util = require("discord.util")

local function reply(status, headers, body)
  local h = { ["content-type"] = "application/json" }
  for k, v in pairs(headers or {}) do h[k] = v end
  return { status = status, headers = h, body = body and json.encode(body) or "" }
end

-- Fresh fakes serving `responder(req, n)`; returns the requests, a client and its events.
local function serve(responder, opts)
  runtime.reset()
  http.reset()
  local seen = {}
  http.mount("https://discord.com/api", function(req)
    seen[#seen + 1] = req
    return responder(req, #seen)
  end)
  opts = opts or {}
  opts.token = "Bot secret"
  local r, events = rest.REST(opts), { rateLimited = {}, invalidRequestWarning = {} }
  for name, list in pairs(events) do r:on(name, function(info) list[#list + 1] = info end) end
  return seen, r, events
end

local function ok200() return reply(200, nil, {}) end

describe("REST", function()
  it("derives route keys and major parameters from literal paths", function()
    local now = runtime.time()
    local old = tostring(((now - 15 * 24 * 3600 * 1000 - 1420070400000) << 22) | 1)
    local recent = tostring(((now - 1000 - 1420070400000) << 22) | 1)
    for _, c in ipairs({ { "POST", "/webhooks/9/abcDEF", "POST /webhooks/:id/:token", "9/abcDEF" },
      { "DELETE", "/channels/3/messages/" .. old, "DELETE /channels/:id/messages/:id (old)", "3" },
      { "DELETE", "/channels/3/messages/" .. recent, "DELETE /channels/:id/messages/:id", "3" } }) do
      local r = rest.parseRoute(c[1], c[2])
      assert.same({ c[3], c[4], false }, { r.key, r.major, r.interactionCallback }, c[2])
    end
  end)

  it("queues each bucket in arrival order, apart from other major parameters", function()
    local seen, r = serve(function() return reply(200, { ["x-ratelimit-bucket"] = "h", ["x-ratelimit-limit"] = "1",
      ["x-ratelimit-remaining"] = "0", ["x-ratelimit-reset-after"] = "1" }, {}) end)
    runtime.run(function()
      for i = 1, 4 do runtime.spawn(function() r:post("/channels/9/messages", { body = { i = i } }) end) end
      runtime.spawn(function() r:post("/channels/8/messages", { body = { i = 0 } }) end)
      -- After the burst the learned bucket knows the last answer's reset, not the first one's.
      runtime.spawn(function()
        runtime.sleep(3500)
        r:post("/channels/9/messages", { body = { i = 5 } })
      end)
    end)
    local order, at = {}, {}
    for i, req in ipairs(seen) do order[i], at[i] = json.decode(req.body).i, req.at end
    assert.same({ { 1, 0, 2, 3, 4, 5 }, { 0, 0, 1000, 2000, 3000, 4000 } }, { order, at })
  end)

  it("holds to 50 requests per second, interaction callbacks exempt", function()
    local seen, r = serve(ok200)
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
    assert.same({ channels = 10, interactions = 0 }, late)
  end)

  it("waits out 429s by header or body, pausing everyone on a global one", function()
    -- headers, body, wait, global, when the other request goes, rateLimited events
    for _, c in ipairs({ { { ["retry-after"] = "2" }, { message = "slow" }, 2000, false, 10, 1 },
      { { ["x-ratelimit-global"] = "true", ["x-ratelimit-scope"] = "global" }, { retry_after = 0.5 }, 500, true,
        500, 2 }, { {}, { retry_after = 0.5, global = true }, 500, true, 500, 2 } }) do
      local seen, r, events = serve(function(req, n)
        if n == 1 then return reply(429, c[1], c[2]) end
        return reply(200, nil, { path = req.path })
      end)
      runtime.run(function()
        runtime.spawn(function() r:get("/channels/1") end)
        runtime.spawn(function()
          runtime.sleep(10)
          r:get("/guilds/2")
        end)
      end)
      local retry, other = seen[2], seen[3]
      if seen[1].path ~= retry.path then retry, other = other, retry end
      local info = events.rateLimited[1]
      assert.same({ 3, c[3], c[5], c[6], c[4], c[3], c[4] and "global" or "user" }, { #seen, retry.at, other.at,
        #events.rateLimited, info.global, info.retryAfter, info.scope })
    end
  end)

  it("retries 5xx and transport failures with growing, jittered pauses, then raises HTTPError", function()
    -- method, body, failing attempts, how they fail, attempts that reach the server, success
    local cases = {
      { "GET", nil, 3, { status = 502 }, 4, true }, { "GET", nil, 4, { kind = "connect" }, 4, false },
      { "DELETE", nil, 1, { kind = "timeout" }, 2, true }, { "POST", {}, 1, { kind = "connect" }, 2, true },
      { "POST", {}, 1, { kind = "timeout" }, 1, false }, { "POST", {}, 1, { kind = "closed" }, 1, false },
      { "POST", {}, 1, { status = 500 }, 1, false }, { "PATCH", {}, 1, { status = 503 }, 1, false },
      { "POST", { nonce = "1", enforce_nonce = true }, 1, { kind = "timeout" }, 2, true },
    }
    for n, c in ipairs(cases) do
      local method, body, fails, how, sent, ok = table.unpack(c)
      local name = n .. " " .. method .. " " .. tostring(how.kind or how.status)
      local seen, r = serve(function(_, i)
        if i > fails then return reply(200, nil, { done = true }) end
        if how.kind then return nil, "failed", how.kind end
        return { status = how.status, headers = {}, body = "<html>" }
      end)
      local out
      runtime.run(function() out = table.pack(pcall(r.request, r, method, "/channels/1/messages", { body = body })) end)
      assert.same({ sent, ok }, { #seen, out[1] }, name)
      if not ok then
        assert.same({ true, how.status, how.kind, method }, { errors.is(out[2], "HTTPError"), out[2].status,
          out[2].kind, out[2].method }, name)
      end
      -- Retry n waits 500 * 2^(n-1) ms plus up to as much again.
      for i = 2, #seen do
        local gap, least = seen[i].at - seen[i - 1].at, 500 * (1 << (i - 2))
        assert.is_true(gap >= least and gap <= 2 * least, name .. ": gap " .. gap)
      end
    end
  end)

  it("spreads the retries of requests that failed together", function()
    -- The eight first tries fail at once.
    local seen, r = serve(function(_, n) return n <= 8 and { status = 503, headers = {}, body = "" } or ok200() end,
      { retries = 1 })
    runtime.run(function()
      for i = 1, 8 do runtime.spawn(function() pcall(r.get, r, "/channels/" .. i) end) end
    end)
    local retryTimes = {}
    for _, req in ipairs(seen) do retryTimes[req.at] = req.at > 0 or nil end
    -- The retries are not bunched together.
    assert.same({ 16, true }, { #seen, #util.keys(retryTimes) >= 6 })
  end)

  it("raises RateLimitError when told to reject", function()
    local _, r = serve(function() return reply(429, { ["retry-after"] = "3" }, { retry_after = 3 }) end,
      { rejectOnRateLimit = { "POST /channels" } })
    local err
    runtime.run(function() err = select(2, pcall(r.post, r, "/channels/4/messages", { body = {} })) end)
    assert.same({ true, "POST /channels/:id/messages", 3000, 0 }, { errors.is(err, "RateLimitError"), err.route,
      err.retryAfter, runtime.now() })
  end)

  it("warns at 80% and 95% of the invalid requests allowed in 10 minutes", function()
    local shared = 0
    local _, r, events = serve(function(req)
      if not req.path:find("/users/") then return reply(403, nil, { code = 50013, message = "Missing Permissions" }) end
      shared = shared + 1
      if shared == 1 then return reply(429, { ["x-ratelimit-scope"] = "shared" }, { retry_after = 0.1 }) end
      return ok200()
    end, { globalRequestsPerSecond = 100000 })
    local before
    runtime.run(function()
      for i = 1, 9500 do
        pcall(r.delete, r, "/channels/" .. i)
        if i == 7999 then before = #events.invalidRequestWarning end
      end
    end)
    local w = events.invalidRequestWarning
    assert.same({ 0, 2, 8000, 9500, 9500 }, { before, #w, w[1].count, w[2].count, r.invalidCount })
    -- After the window a new count starts; shared-scope 429s are not counted.
    local err
    runtime.run(function()
      runtime.sleep(600000)
      err = select(2, pcall(r.delete, r, "/channels/1"))
      r:get("/users/5")
    end)
    assert.same({ true, 403, "DELETE", "/channels/1", 2, 1 }, { errors.is(err, "DiscordAPIError", 50013),
      err.status, err.method, err.path, shared, r.invalidCount })
  end)
end)
