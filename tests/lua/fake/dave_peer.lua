-- An independent DAVE member (npm @snazzah/davey, run by tests/dave-peer/peer.js) with the fake voice
-- gateway's member shape. One node process serves all; it reads our pipe, answers into a FIFO.
local json = require("json")

local M = {}
local DIR = "tests/dave-peer/"
M.MISSING = "dave peer: node or tests/dave-peer/node_modules is missing: run scripts/bootstrap.sh"

local hex = require("vectors").hex
local function unhex(h) return h ~= nil and h ~= json.null and require("vectors").unhex(h) or nil end

--- Nil when node and the pinned package are installed, else the line to show.
function M.missing()
  local f = io.open(DIR .. "node_modules/@snazzah/davey-linux-x64-gnu/package.json")
  if f then f:close() end
  if not f or not os.execute("node --version >/dev/null 2>&1") then return M.MISSING end
end

local proc

local function start()
  if M.missing() then error(M.MISSING, 0) end
  local dir = os.tmpname()
  os.remove(dir)
  assert(os.execute("mkdir -m 700 " .. dir .. " && mkfifo " .. dir .. "/out"))
  local input = assert(io.popen("exec node " .. DIR .. "peer.js > " .. dir .. "/out", "w"))
  local output = assert(io.open(dir .. "/out", "r"))
  os.execute("rm -r " .. dir)
  proc = { input = input, output = output, sessions = 0 }
end

local function call(q)
  if not proc then start() end
  proc.input:write(json.encode(q), "\n")
  proc.input:flush()
  local line = proc.output:read("l")
  if not line then error("dave peer: the node process ended", 0) end
  local a = json.decode(line)
  if not a.ok then error("dave peer " .. q.op .. ": " .. a.error, 0) end
  return a.data ~= json.null and a.data or nil, a
end

--- Ends the node process; the next member starts a new one.
function M.stop()
  if not proc then return end
  proc.input:close()
  proc.output:close()
  proc = nil
end

local Member = {}
Member.__index = Member

--- A new peer session for user `userId` (string) in channel `channelId`, protocol version 1.
function M.member(userId, channelId)
  if not proc then start() end
  proc.sessions = proc.sessions + 1
  local m = setmetatable({ s = proc.sessions, userId = userId, channelId = channelId }, Member)
  call({ op = "create", s = m.s, user = userId, channel = channelId })
  return m
end

function Member:call(op, q)
  q = q or {}
  q.op, q.s = op, self.s
  return call(q)
end

--- Forgets the group (the peer starts over; the external sender is set again).
function Member:reset()
  self:call("reinit", { user = self.userId, channel = self.channelId })
  if self.externalSender then self:setExternalSender(self.externalSender) end
end
function Member:setExternalSender(bytes)
  self.externalSender = bytes
  self:call("setExternalSender", { data = hex(bytes) })
end
function Member:keyPackage() return unhex(self:call("keyPackage")) end

local KINDS = { append = 0, revoke = 1 }

--- Op 27 after its operation type: the commit and the Welcome (or nil).
function Member:processProposals(kind, bytes, userIds)
  local _, a = self:call("processProposals", { kind = KINDS[kind] or kind, data = hex(bytes),
    userIds = json.array(userIds or {}) })
  return unhex(a.commit), unhex(a.welcome)
end

function Member:processCommit(bytes) self:call("processCommit", { data = hex(bytes) }) end
function Member:processWelcome(bytes) self:call("processWelcome", { data = hex(bytes) }) end
function Member:encryptOpus(frame) return unhex(self:call("encryptOpus", { data = hex(frame) })) end
--- The frame in the clear, or nil when the peer refuses it.
function Member:decrypt(userId, frame)
  local ok, data = pcall(self.call, self, "decrypt", { user = userId, data = hex(frame) })
  return ok and unhex(data) or nil
end
function Member:verificationCode(userId) return (self:call("verificationCode", { user = userId })) end
function Member:privacyCode() return (self:call("privacyCode")) end
function Member:epoch() return (self:call("epoch")) end

return M
