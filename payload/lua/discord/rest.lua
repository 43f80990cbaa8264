-- REST client: routes, request building, the rate limiter and retries.
local runtime = require("runtime")
local http = require("http")
local json = require("json")
local util = require("discord.util")
local errors = require("discord.errors")
local constants = require("discord.constants")

local M = {}

local RL = constants.RateLimits
local SWEEP_INTERVAL = 60 * 60 * 1000

local encodeURIComponent = util.urlEncode

--- Splits a literal path into its route: the template with IDs replaced, the
-- major parameter whose buckets are kept apart, and whether it is an interaction
-- callback (exempt from the global limit).
local function parseRoute(method, path)
  path = path:gsub("[?#].*$", "")
  local segs = {}
  for s in path:gmatch("[^/]+") do segs[#segs + 1] = s end
  local major = "global"
  local first = segs[1]
  if (first == "channels" or first == "guilds") and segs[2] and segs[2]:match("^%d+$") then
    major = segs[2]
  elseif first == "webhooks" and segs[2] then
    major = segs[3] and (segs[2] .. "/" .. segs[3]) or segs[2]
  elseif first == "interactions" and segs[2] then
    major = segs[2]
  end
  local tpl = {}
  for i, s in ipairs(segs) do
    if segs[i - 1] == "reactions" then
      tpl[#tpl + 1] = ":reaction"
      break
    elseif s:match("^%d+$") then
      tpl[#tpl + 1] = ":id"
    elseif i == 3 and (first == "webhooks" or first == "interactions") then
      tpl[#tpl + 1] = ":token"
    else
      tpl[#tpl + 1] = s
    end
  end
  local template = "/" .. table.concat(tpl, "/")
  local key = method .. " " .. template
  -- Deleting messages older than two weeks has its own, stricter limit.
  if method == "DELETE" and template == "/channels/:id/messages/:id" then
    local id = math.tointeger(tonumber(segs[4]))
    if id and (id >> 22) + constants.Epoch < runtime.time() - constants.Limits.BulkDeleteMaxAge then
      key = key .. " (old)"
    end
  end
  return {
    key = key,
    template = template,
    major = major,
    interactionCallback = first == "interactions" and segs[4] == "callback",
  }
end
M.parseRoute = parseRoute

-- Paths of the endpoints the library uses; literal paths work just as well.
local Routes = {}
M.Routes = Routes
local function routeFormat(fmt)
  return function(...)
    local args = table.pack(...)
    for i = 1, args.n do args[i] = encodeURIComponent(tostring(args[i])) end
    return (fmt:gsub("{(%d)}", function(n) return args[tonumber(n)] end))
  end
end
for name, fmt in pairs({
  gateway = "/gateway",
  gatewayBot = "/gateway/bot",
  user = "/users/{1}",
  currentUser = "/users/@me",
  userChannels = "/users/@me/channels",
  userGuilds = "/users/@me/guilds",
  userGuild = "/users/@me/guilds/{1}",
  channel = "/channels/{1}",
  channelMessages = "/channels/{1}/messages",
  channelMessage = "/channels/{1}/messages/{2}",
  channelMessagesBulkDelete = "/channels/{1}/messages/bulk-delete",
  channelMessageCrosspost = "/channels/{1}/messages/{2}/crosspost",
  channelPins = "/channels/{1}/pins",
  channelPin = "/channels/{1}/pins/{2}",
  channelTyping = "/channels/{1}/typing",
  channelPermission = "/channels/{1}/permissions/{2}",
  channelInvites = "/channels/{1}/invites",
  channelWebhooks = "/channels/{1}/webhooks",
  channelMessageReactions = "/channels/{1}/messages/{2}/reactions",
  channelMessageReaction = "/channels/{1}/messages/{2}/reactions/{3}",
  channelMessageOwnReaction = "/channels/{1}/messages/{2}/reactions/{3}/@me",
  channelMessageUserReaction = "/channels/{1}/messages/{2}/reactions/{3}/{4}",
  guilds = "/guilds",
  guild = "/guilds/{1}",
  guildPreview = "/guilds/{1}/preview",
  guildChannels = "/guilds/{1}/channels",
  guildMembers = "/guilds/{1}/members",
  guildMembersSearch = "/guilds/{1}/members/search",
  guildMember = "/guilds/{1}/members/{2}",
  guildCurrentMember = "/guilds/{1}/members/@me",
  guildMemberRole = "/guilds/{1}/members/{2}/roles/{3}",
  guildRoles = "/guilds/{1}/roles",
  guildRole = "/guilds/{1}/roles/{2}",
  guildBans = "/guilds/{1}/bans",
  guildBan = "/guilds/{1}/bans/{2}",
  guildPrune = "/guilds/{1}/prune",
  guildInvites = "/guilds/{1}/invites",
  guildAuditLog = "/guilds/{1}/audit-logs",
  guildEmojis = "/guilds/{1}/emojis",
  guildEmoji = "/guilds/{1}/emojis/{2}",
  guildActiveThreads = "/guilds/{1}/threads/active",
  webhook = "/webhooks/{1}",
  webhookWithToken = "/webhooks/{1}/{2}",
  webhookMessage = "/webhooks/{1}/{2}/messages/{3}",
  interactionCallback = "/interactions/{1}/{2}/callback",
  webhookMessages = "/webhooks/{1}/{2}/messages",
  webhookOriginal = "/webhooks/{1}/{2}/messages/@original",
  invite = "/invites/{1}",
  applicationCommands = "/applications/{1}/commands",
  applicationGuildCommands = "/applications/{1}/guilds/{2}/commands",
  currentApplication = "/applications/@me",
  oauth2CurrentApplication = "/oauth2/applications/@me",
  voiceRegions = "/voice/regions",
}) do
  Routes[name] = routeFormat(fmt)
end

-- FIFO lock per bucket. Interaction callbacks take the front lane so that a busy
-- bucket does not push them past Discord's 3 s deadline.
local Bucket = {}
Bucket.__index = Bucket

local function newBucket(id)
  return setmetatable({
    id = id,
    limit = -1,
    remaining = 1,
    resetAt = 0,
    busy = false,
    lanes = { util.Queue(), util.Queue() },
    lastUsed = 0,
  }, Bucket)
end

function Bucket:acquire(urgent)
  if not self.busy then
    self.busy = true
    return
  end
  local lane = self.lanes[urgent and 1 or 2]
  lane:push(runtime.current())
  runtime.suspend()
end

function Bucket:release()
  self.lastUsed = runtime.now()
  for _, lane in ipairs(self.lanes) do
    if lane:size() > 0 then
      runtime.wake(lane:tryPop())
      return
    end
  end
  self.busy = false
end

function Bucket:limited(now)
  return self.remaining <= 0 and now < self.resetAt
end

local REST = util.class("REST", util.EventEmitter)
M.REST = REST

local DEFAULTS = {
  api = constants.API.base,
  version = constants.API.version,
  timeout = 15000,
  retries = RL.serverErrorRetries,
  retryDelay = RL.retryDelay,
  maxRetryDelay = RL.maxRetryDelay,
  globalRequestsPerSecond = RL.globalPerSecond,
  rejectOnRateLimit = nil,
  userAgentAppendix = nil,
  authPrefix = "Bot",
}
M.DEFAULTS = DEFAULTS

--- `REST(options)`: options as in DEFAULTS plus `token`.
function REST:init(options)
  util.EventEmitter.init(self)
  options = options or {}
  self.options = {}
  for k, v in pairs(DEFAULTS) do self.options[k] = v end
  for k, v in pairs(options) do self.options[k] = v end
  self.token = nil
  if options.token then self:setToken(options.token) end
  self.routeHashes = {} -- route key -> X-RateLimit-Bucket hash
  self.buckets = {} -- hash:major -> Bucket
  self.globalRemaining = self.options.globalRequestsPerSecond
  self.globalResetAt = 0
  self.globalPauseUntil = 0
  self.invalidCount = 0
  self.invalidResetAt = 0
  self.invalidWarned = 0
  self.lastSweep = runtime.now()
end

function REST:setToken(token)
  if token ~= nil and type(token) ~= "string" then
    error("REST:setToken expects a string", 2)
  end
  self.token = token and token:gsub("^%s*[Bb]ot%s+", ""):gsub("%s+$", "") or nil
  return self
end

function REST:userAgent()
  local ua = constants.UserAgent
  if self.options.userAgentAppendix then ua = ua .. " " .. self.options.userAgentAppendix end
  return ua
end

function REST:baseURL()
  return self.options.api .. "/v" .. self.options.version
end

function REST:_bucketFor(route)
  local hash = self.routeHashes[route.key] or ("Global(" .. route.key .. ")")
  local id = hash .. ":" .. route.major
  local bucket = self.buckets[id]
  if not bucket then
    bucket = newBucket(id)
    bucket.hash = hash
    self.buckets[id] = bucket
  end
  return bucket
end

-- Buckets are dropped once idle and past their reset; done lazily because a
-- timer would keep the runtime's loop alive.
function REST:_sweep(now)
  if now - self.lastSweep < SWEEP_INTERVAL then return end
  self.lastSweep = now
  for id, b in pairs(self.buckets) do
    if not b.busy and now >= b.resetAt and now - b.lastUsed > SWEEP_INTERVAL then
      self.buckets[id] = nil
    end
  end
end

function REST:_shouldReject(info)
  local rule = self.options.rejectOnRateLimit
  if type(rule) == "function" then return rule(info) and true or false end
  if type(rule) == "table" then
    local r = info.route:lower()
    for _, prefix in ipairs(rule) do
      local p = prefix:lower()
      if r:sub(1, #p) == p or info.template:lower():sub(1, #p) == p then return true end
    end
  end
  return false
end

function REST:_rateLimited(info)
  if self:_shouldReject(info) then
    error(errors.RateLimitError(info), 0)
  end
  self:emit("rateLimited", info)
end

function REST:_limitInfo(req, bucket, timeToReset, global, extra)
  local info = {
    timeToReset = timeToReset,
    limit = global and self.options.globalRequestsPerSecond or bucket.limit,
    method = req.method,
    hash = bucket.hash,
    url = req.url,
    path = req.path,
    route = req.route.key,
    template = req.route.template,
    majorParameter = req.route.major,
    global = global,
  }
  for k, v in pairs(extra or {}) do info[k] = v end
  return info
end

-- Waits for the global pause and the per-second limit. Interaction callbacks
-- only wait for a pause, which Discord applies to them too.
function REST:_waitGlobal(req, bucket)
  while true do
    local now = runtime.now()
    if now < self.globalPauseUntil then
      local wait = self.globalPauseUntil - now
      -- The request that met the 429 has reported it already.
      if not req.reported then self:_rateLimited(self:_limitInfo(req, bucket, wait, true)) end
      req.reported = nil
      runtime.sleep(wait)
    elseif req.route.interactionCallback then
      return
    else
      if now >= self.globalResetAt then
        self.globalRemaining = self.options.globalRequestsPerSecond
        self.globalResetAt = now + 1000
      end
      if self.globalRemaining > 0 then
        self.globalRemaining = self.globalRemaining - 1
        return
      end
      local wait = self.globalResetAt - now
      self:_rateLimited(self:_limitInfo(req, bucket, wait, true))
      runtime.sleep(wait)
    end
  end
end

function REST:_countInvalid(status, scope)
  if not (status == 401 or status == 403 or (status == 429 and scope ~= "shared")) then return end
  local now = runtime.now()
  if now >= self.invalidResetAt then
    self.invalidCount = 0
    self.invalidWarned = 0
    self.invalidResetAt = now + RL.invalidRequestWindow
  end
  self.invalidCount = self.invalidCount + 1
  for level, share in ipairs(RL.invalidRequestWarnings) do
    if self.invalidWarned < level and self.invalidCount >= RL.invalidRequests * share then
      self.invalidWarned = level
      self:emit("invalidRequestWarning", {
        count = self.invalidCount,
        remainingTime = self.invalidResetAt - now,
      })
    end
  end
end

local function headerNumber(headers, name)
  local v = headers[name]
  return v and tonumber(v)
end

function REST:_applyHeaders(req, bucket, res)
  local h = res.headers or {}
  local hash = h["x-ratelimit-bucket"]
  local limit = headerNumber(h, "x-ratelimit-limit")
  local remaining = headerNumber(h, "x-ratelimit-remaining")
  local resetAfter = headerNumber(h, "x-ratelimit-reset-after")
  local now = runtime.now()
  if limit then bucket.limit = limit end
  if remaining then
    bucket.remaining = remaining
  elseif not hash then
    bucket.remaining = 1 -- route without a limit
  end
  if resetAfter then
    bucket.resetAt = now + math.ceil(resetAfter * 1000)
  end
  if hash and hash ~= self.routeHashes[req.route.key] then
    self.routeHashes[req.route.key] = hash
    -- Requests queued on the provisional bucket finish there; later ones use
    -- the real one, which starts from what we just learned.
    local id = hash .. ":" .. req.route.major
    local real = self.buckets[id]
    if not real then
      real = newBucket(id)
      real.hash = hash
      self.buckets[id] = real
    end
    if real ~= bucket and not real.busy then
      real.limit, real.remaining, real.resetAt = bucket.limit, bucket.remaining, bucket.resetAt
    end
  end
end

local function retryAfterOf(res, body)
  local h = res.headers or {}
  local ra = headerNumber(h, "retry-after")
  if type(body) == "table" and type(body.retry_after) == "number" then
    -- The body carries fractions; the header only whole seconds.
    ra = body.retry_after
  end
  return math.ceil((ra or 1) * 1000)
end

-- Transport failures that happen before any byte of the request went out.
local UNSENT = { dns = true, connect = true, tls = true }
local IDEMPOTENT = { GET = true, HEAD = true, PUT = true, DELETE = true, OPTIONS = true }

-- Whether sending the request twice has the effect of sending it once: idempotent methods, and
-- message creates that Discord deduplicates by their enforced nonce.
local function replayable(method, body)
  if IDEMPOTENT[method] then return true end
  return type(body) == "table" and body.enforce_nonce == true and body.nonce ~= nil
end
M.replayable = replayable

function REST:_buildRequest(method, path, opts)
  method = method:upper()
  local headers = { ["User-Agent"] = self:userAgent() }
  if opts.auth ~= false then
    if not self.token then
      error(errors.LibraryError("TokenMissing"), 0)
    end
    headers["Authorization"] = (opts.authPrefix or self.options.authPrefix) .. " " .. self.token
  end
  if opts.reason and opts.reason ~= "" then
    headers["X-Audit-Log-Reason"] = encodeURIComponent(opts.reason)
  end
  for k, v in pairs(opts.headers or {}) do headers[k] = v end
  local body
  if opts.files and #opts.files > 0 then
    -- encodeMultipart(files, payload) -> body, content type (with its boundary).
    local multipart = require("discord.builders.attachment")
    local contentType
    body, contentType = multipart.encodeMultipart(opts.files, opts.body)
    headers["Content-Type"] = contentType
  elseif opts.body ~= nil then
    if type(opts.body) == "string" then
      body = opts.body
    else
      body = json.encode(opts.body)
      headers["Content-Type"] = "application/json"
    end
  end
  local url = (opts.api or self:baseURL()) .. path .. util.queryString(opts.query)
  return {
    method = method,
    path = path,
    url = url,
    headers = headers,
    body = body,
    route = parseRoute(method, path),
    timeout = opts.timeout or self.options.timeout,
    deadline = opts.deadline,
    replayable = opts.replayable or replayable(method, opts.body),
  }
end

--- Delay before retry `n` (1-based): exponential from `retryDelay` ms, with up to as much again
--- of random jitter so that many clients that failed together do not come back together.
function REST:retryDelay(n, urgent)
  local base = urgent and RL.urgentRetryDelay or self.options.retryDelay
  local d = base * (1 << (n - 1))
  d = math.min(d, self.options.maxRetryDelay)
  return d + math.random(0, d)
end

-- A request with a deadline (an interaction's first response) is not sent once it has passed.
local function checkDeadline(req, wait)
  if req.deadline and runtime.now() + (wait or 0) >= req.deadline then
    local e = errors.HTTPError({ message = "the deadline passes before the request can be sent", kind = "timeout",
      method = req.method, path = req.path, url = req.url })
    e.deadline = true
    error(e, 0)
  end
end

function REST:_backoff(req, failures, why)
  local wait = self:retryDelay(failures, req.route.interactionCallback)
  checkDeadline(req, wait)
  self:emit("debug", string.format("%s %s failed (%s); retry %d in %d ms", req.method, req.path, why, failures,
    wait))
  runtime.sleep(wait)
end

-- One request through its bucket, 429s waited out, 5xx and transport failures
-- retried. Runs with the bucket held.
function REST:_execute(req, bucket)
  local failures = 0
  while true do
    local now = runtime.now()
    if bucket:limited(now) then
      local wait = bucket.resetAt - now
      self:_rateLimited(self:_limitInfo(req, bucket, wait, false))
      runtime.sleep(wait)
      bucket.remaining = bucket.limit > 0 and bucket.limit or 1
    end
    self:_waitGlobal(req, bucket)
    checkDeadline(req)
    if bucket.remaining > 0 then bucket.remaining = bucket.remaining - 1 end

    local res, msg, kind = http.request({
      method = req.method,
      url = req.url,
      headers = req.headers,
      body = req.body,
      timeout_ms = req.timeout,
    })
    if not res then
      failures = failures + 1
      -- A request that may have reached Discord is sent again only when that cannot do it twice.
      if failures > self.options.retries or (not UNSENT[kind] and not req.replayable) then
        error(errors.HTTPError({
          message = msg or "request failed", kind = kind, method = req.method, path = req.path, url = req.url,
          retries = failures - 1,
        }), 0)
      end
      self:_backoff(req, failures, tostring(msg))
    else
      self:_applyHeaders(req, bucket, res)
      local status = res.status
      local h = res.headers or {}
      local body, decodeError
      if res.body and res.body ~= "" then body, decodeError = json.decode(res.body) end
      self:_countInvalid(status, h["x-ratelimit-scope"])
      if status >= 200 and status < 300 then
        if status == 204 or res.body == nil or res.body == "" then return nil end
        if body == nil then
          error(errors.HTTPError({
            message = "reply is not JSON: " .. tostring(decodeError), status = status, method = req.method,
            path = req.path,
          }), 0)
        end
        return body
      elseif status == 429 then
        local wait = retryAfterOf(res, body)
        local global = h["x-ratelimit-global"] == "true" or (type(body) == "table" and body.global == true)
        if global then
          self.globalPauseUntil = math.max(self.globalPauseUntil, runtime.now() + wait)
        else
          bucket.remaining = 0
          bucket.resetAt = math.max(bucket.resetAt, runtime.now() + wait)
        end
        self:_rateLimited(self:_limitInfo(req, bucket, wait, global, {
          retryAfter = wait, scope = h["x-ratelimit-scope"] or (global and "global" or "user"), status = 429,
        }))
        if global then
          req.reported = true
        else
          runtime.sleep(wait)
        end
      elseif status >= 500 then
        failures = failures + 1
        if failures > self.options.retries or not req.replayable then
          error(errors.HTTPError({
            message = "server error " .. status, status = status, method = req.method, path = req.path,
            url = req.url, body = res.body, retries = failures - 1,
          }), 0)
        end
        self:_backoff(req, failures, "status " .. status)
      elseif type(body) == "table" then
        local e = errors.DiscordAPIError(body, status, req.method, req.path, req.body)
        -- After a retry the refusal may be of what the first attempt already did.
        e.retried = failures > 0
        error(e, 0)
      else
        error(errors.HTTPError({
          message = "reply is not JSON", status = status, method = req.method, path = req.path, url = req.url,
          body = res.body,
        }), 0)
      end
    end
  end
end

--- Sends a request and returns the decoded JSON reply, or nil for 204.
-- `opts`: body, query, reason, auth (false for none), files, headers, timeout, deadline (runtime.now()
-- time after which it is not sent: an HTTPError with `deadline = true` instead), replayable (true when
-- sending it twice does no harm, so transport time-outs and 5xx are retried).
function REST:request(method, path, opts)
  if type(method) ~= "string" or type(path) ~= "string" then
    error("REST:request expects a method and a path", 2)
  end
  opts = opts or {}
  local req = self:_buildRequest(method, path, opts)
  self:_sweep(runtime.now())
  local bucket = self:_bucketFor(req.route)
  bucket:acquire(req.route.interactionCallback)
  local ok, res = pcall(self._execute, self, req, bucket)
  bucket:release()
  if not ok then error(res, 0) end
  return res
end

for _, m in ipairs({ "get", "post", "patch", "put", "delete" }) do
  local verb = m:upper()
  REST[m] = function(self, path, opts)
    return self:request(verb, path, opts)
  end
end

return M
