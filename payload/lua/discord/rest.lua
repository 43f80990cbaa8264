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

--- Splits a literal path into its rate limit route: template with IDs replaced, major parameter, callback flag.
---@param method string HTTP method.
---@param path string Literal path such as "/channels/123/messages".
---@return {key: string, template: string, major: string, interactionCallback: boolean}
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
--- Path builders of the endpoints the library uses (`Routes.channel(id)`); literal paths work just as well.
---@type table<string, fun(...: any): string>
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
  channelPins = "/channels/{1}/messages/pins",
  channelPin = "/channels/{1}/messages/pins/{2}",
  channelTyping = "/channels/{1}/typing",
  channelPermission = "/channels/{1}/permissions/{2}",
  channelInvites = "/channels/{1}/invites",
  channelWebhooks = "/channels/{1}/webhooks",
  channelMessageReactions = "/channels/{1}/messages/{2}/reactions",
  channelMessageReaction = "/channels/{1}/messages/{2}/reactions/{3}",
  channelMessageOwnReaction = "/channels/{1}/messages/{2}/reactions/{3}/@me",
  channelMessageUserReaction = "/channels/{1}/messages/{2}/reactions/{3}/{4}",
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

---@private
function Bucket:acquire(urgent)
  if not self.busy then
    self.busy = true
    return
  end
  local lane = self.lanes[urgent and 1 or 2]
  lane:push(runtime.current())
  runtime.suspend()
end

---@private
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

---@private
function Bucket:limited(now)
  return self.remaining <= 0 and now < self.resetAt
end

---@type discord.REST
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
--- Default REST settings: api, version, timeout, retries, retryDelay, globalRequestsPerSecond, authPrefix, ...
---@type table<string, any>
M.DEFAULTS = DEFAULTS

--- Creates a REST client (`REST(options)`); the client makes one from `options.rest`.
---@param options? table Keys of `DEFAULTS`, plus `token`.
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

--- Sets the bot token (a "Bot " prefix is dropped), or clears it with nil.
--- Raises a string error when the token is not a string.
---@param token string|nil
---@return discord.REST self
function REST:setToken(token)
  if token ~= nil and type(token) ~= "string" then
    error("REST:setToken expects a string", 2)
  end
  self.token = token and token:gsub("^%s*[Bb]ot%s+", ""):gsub("%s+$", "") or nil
  return self
end

--- The User-Agent header the library sends, with `userAgentAppendix` when set.
---@return string
function REST:userAgent()
  local ua = constants.UserAgent
  if self.options.userAgentAppendix then ua = ua .. " " .. self.options.userAgentAppendix end
  return ua
end

--- The API base, such as "https://discord.com/api/v10".
---@return string
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
  if hash then
    self.routeHashes[req.route.key] = hash
    -- Requests queued on the provisional bucket finish there; later ones use the real one, which takes
    -- what each of their answers says, the last one included.
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

--- Whether sending the request twice has the effect of once: idempotent methods, nonce-enforced creates.
---@param method string
---@param body any
---@return boolean
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
    local multipart = util.provided("attachments")
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
    raw = opts.raw,
  }
end

-- Through the recording or replaying transport when the client has one.
function REST:_send(opts)
  if self.transport then return self.transport:request(opts) end
  return http.request(opts)
end

--- Delay before retry `n` (1-based): exponential from `retryDelay`, capped, plus random jitter.
---@param n integer Retry number, from 1.
---@param urgent? boolean Interaction callbacks retry sooner.
---@return integer ms
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

    local res, msg, kind = self:_send({
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
        -- Images and CSV come back as they are.
        if req.raw then return res.body or "" end
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

--- Sends a request through the rate limiter and returns the decoded JSON reply, or nil for 204.
--- Raises `discord.DiscordAPIError` (4xx), `discord.HTTPError` (transport, 5xx), `discord.RateLimitError`.
---@async
---@param method string "GET", "POST", "PATCH", "PUT" or "DELETE".
---@param path string Path below the API base, such as "/channels/123".
---@param opts? discord.RequestOptions Also headers, timeout, deadline and replayable.
---@return table|nil
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
  --- Sends a request with the method's HTTP verb (`rest:get(path)` is `rest:request("GET", path)`).
  --- Raises what `request` raises.
  ---@async
  ---@param path string
  ---@param opts? discord.RequestOptions
  ---@return table|nil
  REST[m] = function(self, path, opts)
    return self:request(verb, path, opts)
  end
end

-- Transports ------------------------------------------------------------------------------------------------
-- REST and the gateway reach the network through a transport: the host's http module itself, a recorder
-- around it that writes every exchange and frame to a JSONL file, or a replayer that answers from such a
-- file and fails on the first send that differs from it. The bot token never reaches the file.

local REDACTED = "<token>"

local function redactor(tokenOf)
  return function(s)
    local token = tokenOf and tokenOf()
    if type(s) ~= "string" or not token or token == "" then return s end
    return (s:gsub(token:gsub("%p", "%%%0"), REDACTED))
  end
end

-- Frames that are not text (zlib-stream) are kept as base64.
local function packData(data)
  if utf8.len(data) then return data, nil end
  return util.base64Encode(data), true
end

local function unpackData(data, b64)
  if b64 then return util.base64Decode(data) end
  return data
end

local function redactHeaders(headers, redact)
  local out = {}
  for k, v in pairs(headers or {}) do out[k:lower()] = redact(tostring(v)) end
  return out
end

-- A request as kept in a recording: token redacted, and the random multipart boundary replaced so that
-- an upload compares equal across runs.
local function recordedRequest(opts, redact)
  local headers = redactHeaders(opts.headers, redact)
  local body = opts.body and redact(opts.body)
  local boundary = (headers["content-type"] or ""):match("boundary=([^;%s]+)")
  if boundary then
    local pattern = boundary:gsub("%p", "%%%0")
    headers["content-type"] = headers["content-type"]:gsub(pattern, "<boundary>")
    if body then body = body:gsub(pattern, "<boundary>") end
  end
  return { k = "http", method = opts.method, url = redact(opts.url), headers = headers }, body
end

--- A transport that passes requests and frames to the http module and records them as JSONL.
---@class discord.RecordingTransport
---@field path string The recording file.
local Recorder = {}
Recorder.__index = Recorder

--- A transport that passes everything to `http` and records each exchange and frame as JSONL in `path`.
--- Raises `discord.LibraryError` InvalidOption when `path` cannot be written.
---@param path string Recording file.
---@param tokenOf? fun(): string|nil Gives the token to redact.
---@return discord.RecordingTransport
function M.recorder(path, tokenOf)
  local self = setmetatable({ path = path, lines = {}, t0 = runtime.now(), conns = 0, lastFlush = -math.huge },
    Recorder)
  self.redact = redactor(tokenOf)
  local ok, msg = runtime.write_file(path, "")
  if not ok then
    error(errors.LibraryError("InvalidOption", "record", "a writable path (" .. tostring(msg) .. ")"), 0)
  end
  return self
end

function Recorder:_log(entry)
  entry.at = runtime.now() - self.t0
  self.lines[#self.lines + 1] = json.encode(entry) .. "\n"
  -- Rewriting the file costs its whole size, so writes are at most one a second.
  if self.flushTimer then return end
  local wait = math.max(0, self.lastFlush + 1000 - runtime.now())
  self.flushTimer = runtime.timer(wait, function()
    self.flushTimer = nil
    self:flush()
  end)
end

--- Writes what was recorded so far to the file.
function Recorder:flush()
  self.lastFlush = runtime.now()
  runtime.write_file(self.path, table.concat(self.lines))
end

--- Stops the flush timer and writes the file one last time.
function Recorder:close()
  if self.flushTimer then
    self.flushTimer:cancel()
    self.flushTimer = nil
  end
  self:flush()
end

--- Sends an HTTP request through the http module and records it with its answer.
---@async
---@param opts table The http module's request options.
---@return table|nil res
---@return string|nil msg
---@return string|nil kind
function Recorder:request(opts)
  local started = runtime.now()
  local res, msg, kind = http.request(opts)
  local entry, body = recordedRequest(opts, self.redact)
  entry.dt = runtime.now() - started
  if body ~= nil then entry.body, entry.b64 = packData(body) end
  if res then
    entry.status, entry.rheaders = res.status, res.headers
    entry.rbody, entry.rb64 = packData(res.body or "")
  else
    entry.err, entry.kind = msg, kind
  end
  self:_log(entry)
  return res, msg, kind
end

local RecordedSocket = {}
RecordedSocket.__index = RecordedSocket

--- Opens a WebSocket through the http module; its frames are recorded.
---@async
---@param url string
---@param opts? table
---@return table|nil socket send, receive and close as the http module's sockets.
---@return string|nil msg
---@return string|nil kind
function Recorder:websocket(url, opts)
  self.conns = self.conns + 1
  local c = self.conns
  local ws, msg, kind = http.websocket(url, opts)
  self:_log({ k = "open", c = c, url = self.redact(url), err = not ws and msg or nil, kind = not ws and kind or nil })
  if not ws then return nil, msg, kind end
  return setmetatable({ ws = ws, c = c, rec = self }, RecordedSocket)
end

---@private
function RecordedSocket:send(data, op)
  local packed, b64 = packData(self.rec.redact(data))
  self.rec:_log({ k = "send", c = self.c, data = packed, b64 = b64, op = op or "text" })
  return self.ws:send(data, op)
end

---@private
function RecordedSocket:receive(timeout)
  local data, op, kind, code = self.ws:receive(timeout)
  if data ~= nil then
    local packed, b64 = packData(data)
    self.rec:_log({ k = "recv", c = self.c, data = packed, b64 = b64, op = op })
  elseif kind ~= "timeout" then
    self.rec:_log({ k = "recv", c = self.c, closed = op or "", kind = kind, code = code })
  end
  return data, op, kind, code
end

---@private
function RecordedSocket:close(code, reason)
  self.rec:_log({ k = "close", c = self.c, code = code or 1000 })
  return self.ws:close(code, reason)
end

-- Replay --------------------------------------------------------------------------------------------------

local OUTPUT = { http = true, open = true, send = true, close = true }

--- A transport that answers from a recording; `failure` holds the first difference from it.
---@class discord.ReplayTransport
---@field failure discord.LibraryError|nil Why the replay failed (ReplayMismatch), once it has.
local Replayer = {}
Replayer.__index = Replayer

--- A transport that answers from a recording and fails (`failure`) on the first send that differs.
--- Raises `discord.LibraryError` InvalidOption when the file cannot be read.
---@param path string Recording file.
---@param tokenOf? fun(): string|nil Gives the token to redact.
---@return discord.ReplayTransport
function M.replayer(path, tokenOf)
  local text, msg = runtime.read_file(path)
  if not text then
    error(errors.LibraryError("InvalidOption", "transport.replay", "a readable file (" .. tostring(msg) .. ")"), 0)
  end
  local self = setmetatable({ entries = {}, outputs = {}, inputs = {}, pos = 1, done = 0, t0 = runtime.now(),
    waiting = {}, conns = {}, opened = 0 }, Replayer)
  self.redact = redactor(tokenOf)
  local n = 0
  for line in text:gmatch("[^\n]+") do
    n = n + 1
    local entry, err = json.decode(line)
    if type(entry) ~= "table" then
      error(errors.LibraryError("InvalidOption", "transport.replay", "a JSONL recording (line " .. n .. ": "
        .. tostring(err) .. ")"), 0)
    end
    entry.line = n
    if OUTPUT[entry.k] then
      self.outputs[#self.outputs + 1] = entry
    elseif entry.k == "recv" then
      -- A frame is due once every send recorded before it has been made.
      entry.after = #self.outputs
      self.inputs[entry.c] = self.inputs[entry.c] or {}
      table.insert(self.inputs[entry.c], entry)
    end
  end
  return self
end

local function describeEntry(e)
  if e == nil then return "nothing (the recording ends)" end
  if e.k == "http" then return e.method .. " " .. e.url .. (e.body and (" " .. e.body) or "") end
  if e.k == "open" then return "connect " .. e.url end
  if e.k == "close" then return "close " .. tostring(e.code) end
  return "frame " .. tostring(e.data)
end

-- Checks the next send; the first difference is kept and raised from then on.
function Replayer:_expect(got)
  if self.failure then error(self.failure, 0) end
  local want = self.outputs[self.pos]
  local same = want ~= nil and want.k == got.k
  if same then
    for _, key in ipairs({ "method", "url", "body", "data", "code", "c" }) do
      if got[key] ~= nil and want[key] ~= got[key] then same = false end
    end
    if same and got.headers then
      for k, v in pairs(got.headers) do
        if want.headers[k] ~= v then same = false end
      end
    end
  end
  if not same then
    self.failure = errors.LibraryError("ReplayMismatch", self.pos, want and want.line or "end", describeEntry(want),
      describeEntry(got))
    error(self.failure, 0)
  end
  self.pos = self.pos + 1
  for task in pairs(self.waiting) do runtime.wake(task) end
  return want
end

--- Answers an HTTP request from the recording.
--- Raises `discord.LibraryError` ReplayMismatch when the request differs from the recorded one.
---@async
---@param opts table The http module's request options.
---@return table|nil res
---@return string|nil msg
---@return string|nil kind
function Replayer:request(opts)
  local got, body = recordedRequest(opts, self.redact)
  if body ~= nil then got.body = packData(body) end
  local want = self:_expect(got)
  runtime.sleep(want.dt or 0)
  if want.err then return nil, want.err, want.kind end
  return { status = want.status, headers = want.rheaders or {}, body = unpackData(want.rbody or "", want.rb64) }
end

local ReplayedSocket = {}
ReplayedSocket.__index = ReplayedSocket

--- Opens a replayed WebSocket whose frames arrive at their recorded times.
--- Raises `discord.LibraryError` ReplayMismatch when the URL differs from the recorded one.
---@async
---@param url string
---@return table|nil socket
---@return string|nil msg
---@return string|nil kind
function Replayer:websocket(url)
  self.opened = self.opened + 1
  local want = self:_expect({ k = "open", url = self.redact(url) })
  runtime.sleep(0)
  if want.err then return nil, want.err, want.kind end
  local sock = setmetatable({ r = self, c = want.c, i = 1 }, ReplayedSocket)
  self.conns[#self.conns + 1] = sock
  return sock
end

---@private
function ReplayedSocket:send(data, op)
  if self.closed then return nil, "socket is closed", "closed" end
  local packed = packData(self.r.redact(data))
  -- A frame that differs fails the replay; the gateway sees its connection closed.
  local ok, err = pcall(self.r._expect, self.r, { k = "send", c = self.c, data = packed, op = op })
  if not ok then return nil, tostring(err), "closed" end
  return true
end

---@private
function ReplayedSocket:receive(timeout)
  local r = self.r
  local deadline = timeout and runtime.now() + timeout
  while true do
    local e = (r.inputs[self.c] or {})[self.i]
    if e and r.pos > e.after and not r.failure then
      local due = r.t0 + e.at
      if runtime.now() < due then
        if deadline and deadline < due then
          runtime.sleep(deadline - runtime.now())
          return nil, "timed out", "timeout"
        end
        runtime.sleep(due - runtime.now())
      end
      self.i = self.i + 1
      if e.closed then
        self.closed = true
        return nil, e.closed, e.kind or "closed", e.code
      end
      return unpackData(e.data, e.b64), e.op
    end
    if self.closed or r.failure or (r.ended and not e) then
      return nil, "closed", "closed", self.closeCode or 1006
    end
    -- Wait for the sends this frame follows, or for the end.
    local me = runtime.current()
    r.waiting[me] = true
    if deadline then
      local t = runtime.timer(math.max(0, deadline - runtime.now()), function() runtime.wake(me) end)
      runtime.suspend()
      t:cancel()
      r.waiting[me] = nil
      if runtime.now() >= deadline then return nil, "timed out", "timeout" end
    else
      runtime.suspend()
      r.waiting[me] = nil
    end
  end
end

---@private
function ReplayedSocket:close(code)
  if self.closed then return true end
  self.closeCode = code or 1000
  local ok = pcall(self.r._expect, self.r, { k = "close", c = self.c, code = code or 1000 })
  self.closed = true
  for task in pairs(self.r.waiting) do runtime.wake(task) end
  return ok
end

--- Ends the replay: receivers still waiting for frames that will not come see their connections closed.
function Replayer:close()
  self.ended = true
  for task in pairs(self.waiting) do runtime.wake(task) end
end

--- True once every recorded send has been made.
---@return boolean
function Replayer:finished()
  return self.failure == nil and self.pos > #self.outputs
end

--- The transport a client's options ask for: `record = path`, `transport = {replay = path}`, or nil for http.
---@param options discord.ClientOptions
---@param tokenOf? fun(): string|nil Gives the token to redact.
---@return table|nil transport
function M.transportFor(options, tokenOf)
  local t = options.transport
  if type(t) == "table" and t.replay then return M.replayer(t.replay, tokenOf) end
  if type(t) == "table" and t.request then return t end
  if options.record then return M.recorder(options.record, tokenOf) end
  return nil
end

return M
