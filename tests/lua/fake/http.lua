-- Fake of the host's `http` module: requests and WebSockets go to handlers mounted on URL prefixes and
-- are recorded.
local runtime = require("runtime")

local M = {}

local function inTask(fname) if not runtime.current() then error(fname .. ": not inside a task", 3) end end

local function prefixHandler(list, url)
  local best, len
  for _, m in ipairs(list) do
    if url:sub(1, #m.prefix) == m.prefix and (not len or #m.prefix > len) then best, len = m, #m.prefix end
  end
  return best
end

local function unescape(s) return (s:gsub("%%(%x%x)", function(h) return string.char(tonumber(h, 16)) end)) end

-- Scheme, host, path and the query as a table ("a=1&b=%20x" -> {a = "1", b = " x"}).
local function splitUrl(url)
  local scheme, host, rest = url:match("^(%a[%w+.-]*)://([^/?#]+)(.*)$")
  if not scheme then return nil end
  local path, q = rest:match("^([^?#]*)%??([^#]*)")
  local query = {}
  for k, v in q:gmatch("([^&=]*)=?([^&]*)") do if k ~= "" then query[unescape(k)] = unescape(v) end end
  return scheme, host, path ~= "" and path or "/", query
end

-- Requests
--- handler(req) -> {status=, headers=, body=} or nil, msg, kind. It runs in the caller's task.
function M.mount(prefix, handler) M.handlers[#M.handlers + 1] = { prefix = prefix, handler = handler } end

function M.request(opts)
  if type(opts) ~= "table" or type(opts.url) ~= "string" then error("http.request: url is required", 2) end
  if opts.body ~= nil and type(opts.body) ~= "string" then error("http.request: body must be a string", 2) end
  inTask("http.request")
  local scheme, host, path, query = splitUrl(opts.url)
  if not scheme then error("http.request: malformed URL " .. opts.url, 2) end
  local headers = {}
  for k, v in pairs(opts.headers or {}) do headers[k:lower()] = v end

  local req = {
    method = opts.method or "GET", url = opts.url, host = host, path = path, query = query, headers = headers,
    body = opts.body, at = runtime.now(),
  }
  local exchange = { request = req }
  M.exchanges[#M.exchanges + 1] = exchange

  local mount = prefixHandler(M.handlers, opts.url)
  if not mount then return nil, "could not resolve host " .. host, "dns" end
  local resp, msg, kind = mount.handler(req)
  runtime.sleep(0)
  if not resp then return nil, msg, kind end
  local answered = {}
  for k, v in pairs(resp.headers or {}) do answered[k:lower()] = tostring(v) end
  exchange.response = { status = resp.status or 200, headers = answered, body = resp.body or "" }
  return exchange.response
end

-- WebSockets
local Socket = {}
Socket.__index = Socket
Socket.__name = "http.websocket"

local function markClosed(sock, code, reason)
  if sock.closed then return end
  sock.closed = { code = code, reason = reason or "" }
  if sock.receiver then runtime.wake(sock.receiver) end
end

function Socket:send(data, kind)
  if type(data) ~= "string" then error("ws:send: data must be a string", 2) end
  kind = kind or "text"
  if kind ~= "text" and kind ~= "binary" then error("ws:send: kind must be 'text' or 'binary'", 2) end
  inTask("ws:send")
  if self.closed then return nil, "socket is closed", "closed" end
  local peer = self.peer
  peer.inbox[#peer.inbox + 1] = { data = data, opcode = kind }
  if peer.receiver then runtime.wake(peer.receiver) end
  runtime.sleep(0)
  return true
end

function Socket:receive()
  inTask("ws:receive")
  if self.receiver then error("ws:receive: another task is already receiving", 2) end
  while true do
    local frame = table.remove(self.inbox, 1)
    if frame then return frame.data, frame.opcode end
    if self.closed then return nil, self.closed.reason, "closed", self.closed.code end
    self.receiver = runtime.current()
    runtime.suspend()
    self.receiver = nil
  end
end

--- Closes both ends; the peer reads what was queued, then the close with this code.
function Socket:close(code, reason)
  if code ~= nil and math.type(code) ~= "integer" then error("ws:close: code must be an integer", 2) end
  if self.closed then return true end
  code = code or 1000
  self.close_sent = { code = code, reason = reason or "", at = runtime.now() }
  markClosed(self, code, reason)
  markClosed(self.peer, code, reason)
  return true
end

--- Server side: the connection drops without a close frame (both ends see 1006).
function Socket:drop()
  markClosed(self, 1006, "connection lost")
  markClosed(self.peer, 1006, "connection lost")
end

--- handler(serverSocket, req) runs in a task per connection; `accept(req)` may refuse with nil, msg, kind.
function M.mount_ws(prefix, handler, accept)
  M.ws_handlers[#M.ws_handlers + 1] = { prefix = prefix, handler = handler, accept = accept }
end

function M.websocket(url, opts)
  if type(url) ~= "string" then error("http.websocket: url must be a string", 2) end
  opts = opts or {}
  inTask("http.websocket")
  local scheme, host, path, query = splitUrl(url)
  if not scheme or (scheme ~= "ws" and scheme ~= "wss") then error("http.websocket: not a ws:// or wss:// URL", 2) end
  local req = { url = url, host = host, path = path, query = query, headers = opts.headers or {}, at = runtime.now() }
  M.connects[#M.connects + 1] = req
  local mount = prefixHandler(M.ws_handlers, url)
  runtime.sleep(0)
  if not mount then return nil, "could not resolve host " .. host, "dns" end
  if mount.accept then
    local ok, msg, kind = mount.accept(req)
    if not ok then return nil, msg, kind end
  end
  local client = setmetatable({ inbox = {}, url = url }, Socket)
  local server = setmetatable({ inbox = {}, url = url }, Socket)
  client.peer, server.peer = server, client
  runtime.spawn(mount.handler, server, req)
  return client
end

--- Forgets mounts and records.
function M.reset()
  M.handlers, M.ws_handlers = {}, {}
  M.exchanges, M.connects = {}, {}
end

M.reset()

return M
