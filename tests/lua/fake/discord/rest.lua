-- REST side of the fake Discord: routes, buckets with real X-RateLimit-* headers, the global limit
-- and injected 429s.
local runtime = require("runtime")
local json = require("json")
local openapi = require("fake.discord.openapi")

table.insert(runtime.checks, function()
  local refusals = openapi.takeRefusals()
  return refusals and "Discord's OpenAPI description refuses:\n" .. refusals
end)

local Rest = {}
Rest.__index = Rest

local MAJOR = { channel = true, guild = true, webhook = true }

-- Bucket of each route template; routes sharing a hash share the counter per major parameter.
local BUCKETS = {
  ["POST /channels/:channel/messages"] = { hash = "msg-create", limit = 5, window = 5000 },
  ["PUT /guilds/:guild/members/:member/roles/:role"] = { hash = "member-roles", limit = 10, window = 10000 },
  ["DELETE /guilds/:guild/members/:member/roles/:role"] = { hash = "member-roles", limit = 10, window = 10000 },
}
local DEFAULT_BUCKET = { limit = 50, window = 1000 }

function Rest.new(server)
  return setmetatable({
    server = server, store = server.store, routes = {}, buckets = {},
    injections = {}, violations = {}, global_window = { start = -1, count = 0 }, global_limit = 50,
  }, Rest)
end

--- Adds a route. handler(req, params, body) -> status, table|nil [, headers].
function Rest:route(method, template, handler)
  self.routes[#self.routes + 1] = { method = method, template = template, segs = openapi.segments(template),
    handler = handler }
end

--- A 429 for the next f.times requests matching f.method and f.path (`lost`: done, answer lost).
function Rest:inject(f) self.injections[#self.injections + 1] = f end

local function jsonResponse(status, body, headers)
  headers = headers or {}
  local out = { status = status, headers = headers }
  if body ~= nil then
    headers["Content-Type"] = "application/json"
    out.body = json.encode(body)
  end
  return out
end

function Rest:_bucket(method, route, params)
  local key = method .. " " .. route.template
  local cfg = BUCKETS[key] or DEFAULT_BUCKET
  local hash = cfg.hash or key
  local major = {}
  for _, seg in ipairs(route.segs) do
    local p = seg:sub(1, 1) == ":" and seg:sub(2)
    if p and MAJOR[p] then major[#major + 1] = params[p] end
  end
  local id = hash .. ":" .. table.concat(major, ":")
  local b = self.buckets[id]
  if not b then
    b = { hash = hash, limit = cfg.limit, window = cfg.window, used = 0, reset = 0 }
    self.buckets[id] = b
  end
  if runtime.now() >= b.reset then b.used, b.reset = 0, runtime.now() + b.window end
  return b
end

local function limitHeaders(b)
  local left = b.reset - runtime.now()
  return {
    ["X-RateLimit-Limit"] = tostring(b.limit),
    ["X-RateLimit-Remaining"] = tostring(math.max(0, b.limit - b.used)),
    ["X-RateLimit-Reset-After"] = string.format("%.3f", left / 1000),
    ["X-RateLimit-Bucket"] = b.hash,
  }
end

local function tooMany(retryMs, global, scope, headers)
  headers = headers or {}
  headers["Retry-After"] = tostring(math.max(1, math.ceil(retryMs / 1000)))
  headers["X-RateLimit-Scope"] = scope
  if global then headers["X-RateLimit-Global"] = "true" end
  return jsonResponse(429, { message = "You are being rate limited.", retry_after = retryMs / 1000, global = global },
    headers)
end

--- A multipart body as Discord reads it: payload_json, and files {field, n, filename, content_type, data}.
function Rest.parseMultipart(raw, ctype)
  local delim = "--" .. (ctype:match("boundary=([^;%s]+)") or "?")
  local closing = "\r\n" .. delim .. "--\r\n"
  if raw:sub(1, #delim + 2) ~= delim .. "\r\n" or raw:sub(-#closing) ~= closing then
    return nil, nil, "body not framed by the boundary"
  end
  local body, files, pos = {}, {}, #delim + 3
  while pos < #raw - #closing do
    local headEnd = raw:find("\r\n\r\n", pos, true)
    if not headEnd then return nil, nil, "part without headers" end
    local head, stop = raw:sub(pos, headEnd - 1), raw:find("\r\n" .. delim, headEnd + 4, true)
    local data, name = raw:sub(headEnd + 4, stop - 1), head:match('form%-data; name="([^"]+)"')
    if name == "payload_json" then
      body = json.decode(data)
      if type(body) ~= "table" then return nil, nil, "payload_json is not JSON" end
    elseif name and head:match('filename="[^"]+"') then
      files[#files + 1] = { field = name, n = tonumber(name:match("^files%[(%d+)%]$")),
        filename = head:match('filename="([^"]*)"'), content_type = head:match("Content%-Type: ([^\r]+)"), data = data }
    else
      return nil, nil, "bad part " .. tostring(name)
    end
    pos = stop + #delim + 4
  end
  return body, files
end

-- The body as Discord reads it (JSON, or multipart with its files in req.files); nil, error text if unreadable.
local function readBody(req)
  if not req.body or req.body == "" then return nil end
  local ctype = req.headers["content-type"] or ""
  if ctype:match("^multipart/form%-data") then
    local body, files, err = Rest.parseMultipart(req.body, ctype)
    if not body then return nil, { message = "Invalid Form Body: " .. err, code = 50035 } end
    req.files = files
    return body
  end
  local body = ctype == "application/json" and json.decode(req.body)
  if not body then return nil, { message = "The request body is not JSON", code = 50109 } end
  return body
end

function Rest:handle(req)
  local path = req.path:match("^/api/v10(/.*)$")
  if not path then return jsonResponse(404, { message = "404: Not Found", code = 0 }) end
  local body, unreadable = readBody(req)
  local errs = openapi.checkRequest(req.method, path, req.query or {}, body, req.files)
  if #errs > 0 then
    openapi.refuse("request", errs)
    return jsonResponse(400, { message = "Invalid Form Body", code = 50035, errors = errs })
  end
  local f
  for i, inj in ipairs(self.injections) do
    if (inj.method or req.method) == req.method and path:match("^" .. (inj.path or ".*") .. "$") then
      f, inj.times = inj, (inj.times or 1) - 1
      if inj.times <= 0 then table.remove(self.injections, i) end
      break
    end
  end
  if f and f.lost then
    self:_dispatch(req, path, body, unreadable)
    return nil, "timed out", "timeout"
  end
  if f then return tooMany((f.retry_after or 1) * 1000, f.global or false, f.global and "global" or "user") end
  if not (req.headers["user-agent"] or ""):match("^DiscordBot %(.+, .+%)$") then
    return jsonResponse(400, { message = "User-Agent must be of the form DiscordBot (url, version)", code = 0 })
  end
  -- Interaction and webhook tokens carry their own authority.
  local tokenRoute = path:match("^/interactions/%d+/[^/]+/callback$") or path:match("^/webhooks/%d+/[^/]+")
  local auth = req.headers.authorization
  local bearer = self.server.bearer and auth == "Bearer " .. self.server.bearer
  if not tokenRoute and not bearer and auth ~= "Bot " .. self.server.token then
    return jsonResponse(401, { message = "401: Unauthorized", code = 0 })
  end
  return self:_dispatch(req, path, body, unreadable)
end

function Rest:_dispatch(req, path, body, unreadable)
  local route, params = openapi.match(self.routes, req.method, path)
  if not route then
    -- An operation without a route of its own gets the smallest answer Discord could give.
    local status, answer = openapi.answer(req.method, path)
    if not status then return jsonResponse(404, { message = "404: Not Found", code = 0 }) end
    route = { segs = openapi.segments(path), template = path, handler = function() return status, answer end }
    params = {}
  end

  -- Interaction callbacks are exempt from the global limit.
  local now = runtime.now()
  if not path:match("^/interactions/") then
    local gw = self.global_window
    if now - gw.start >= 1000 then gw.start, gw.count = now, 0 end
    gw.count = gw.count + 1
    if gw.count > self.global_limit then
      self.violations[#self.violations + 1] = { at = now, method = req.method, path = path, global = true }
      return tooMany(gw.start + 1000 - now, true, "global")
    end
  end
  local bucket = self:_bucket(req.method, route, params)
  if bucket.used >= bucket.limit then
    self.violations[#self.violations + 1] = { at = now, method = req.method, path = path, bucket = bucket.hash }
    return tooMany(bucket.reset - now, false, "user", limitHeaders(bucket))
  end
  bucket.used = bucket.used + 1

  if unreadable then return jsonResponse(400, unreadable) end
  local status, result, headers = route.handler(req, params, body)
  local out = jsonResponse(status, result, headers)
  local wrong = openapi.checkAnswer(req.method, path, status, out.body and json.decode(out.body))
  if #wrong > 0 then openapi.refuse("answer", wrong) end
  for k, v in pairs(limitHeaders(bucket)) do out.headers[k] = v end
  return out
end

return Rest
