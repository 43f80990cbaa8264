-- Fake of the host's `_discord` module. The inflater reads the stored deflate blocks with sync flushes
-- that `deflater()` makes for the fake gateway.
local M = {}

-- Inflater
local Inflater = {}
Inflater.__index = Inflater

--- Inflates one message; a push that does not end with a sync flush is a library fault.
function Inflater:push(bytes)
  if type(bytes) ~= "string" then error("inflater:push: expected a string", 2) end
  local pos = 1
  if not self.header_seen then
    local cmf, flg = bytes:byte(1, 2)
    if not flg or cmf & 0x0F ~= 8 or ((cmf << 8) | flg) % 31 ~= 0 then error("inflater:push: bad zlib header", 2) end
    self.header_seen = true
    pos = 3
  end
  local out, flushed = {}, false
  while pos <= #bytes do
    local hdr = bytes:byte(pos)
    local final, btype = hdr & 1, (hdr >> 1) & 3
    if btype ~= 0 then error("inflater:push: the fake reads stored blocks only", 2) end
    if pos + 4 > #bytes then error("inflater:push: message ends inside a block header", 2) end
    local len, nlen = string.unpack("<I2I2", bytes, pos + 1)
    if len ~ nlen ~= 0xFFFF then error("inflater:push: corrupt stored block length", 2) end
    local data_start = pos + 5
    if data_start + len - 1 > #bytes then error("inflater:push: message ends inside a block", 2) end
    if final == 1 then error("inflater:push: the gateway never ends its stream", 2) end
    out[#out + 1] = bytes:sub(data_start, data_start + len - 1)
    pos = data_start + len
    flushed = len == 0
  end
  if not flushed then error("inflater:push: message does not end with a sync flush", 2) end
  return table.concat(out)
end

function M.inflater() return setmetatable({}, Inflater) end

-- Deflater (test side)
local Deflater = {}
Deflater.__index = Deflater

--- Compresses one message as stored blocks plus a sync flush; the first also carries the zlib header.
function Deflater:push(text)
  local parts = {}
  if not self.started then
    parts[1] = "\x78\x01"
    self.started = true
  end
  for pos = 1, #text, 65535 do
    local chunk = text:sub(pos, pos + 65534)
    parts[#parts + 1] = string.pack("<BI2I2", 0, #chunk, (~#chunk) & 0xFFFF) .. chunk
  end
  parts[#parts + 1] = "\0\0\0\xff\xff"
  return table.concat(parts)
end

function M.deflater() return setmetatable({}, Deflater) end

-- "AEAD": the text XORed with the key and a tag over mode, key, nonce, AAD and text.
M.modes = { "aead_aes256_gcm_rtpsize", "aead_xchacha20_poly1305_rtpsize" }
local NONCE = { aead_aes256_gcm_rtpsize = 12, aead_xchacha20_poly1305_rtpsize = 24 }

function M.aead_modes() return { table.unpack(M.modes) } end

local function xor(key, text)
  return (text:gsub("()(.)", function(i, c) return string.char(c:byte() ~ key:byte((i - 1) % 32 + 1)) end))
end

local function tag(mode, key, nonce, aad, text)
  if not NONCE[mode] or #key ~= 32 or #nonce ~= NONCE[mode] then error("aead: bad mode, key or nonce", 3) end
  local h = 0
  for c in (mode .. key .. nonce .. aad .. text):gmatch(".") do h = (h * 31 + c:byte()) & 0xFFFFFFFF end
  return string.pack(">I4I12", h, #aad)
end

function M.aead_encrypt(mode, key, nonce, aad, plain) return xor(key, plain) .. tag(mode, key, nonce, aad, plain) end

function M.aead_decrypt(mode, key, nonce, aad, sealed)
  local plain = xor(key, sealed:sub(1, -17))
  if tag(mode, key, nonce, aad, plain) ~= sealed:sub(-16) then return nil, "authentication failed" end
  return plain
end

-- Opus "encoder": a TOC byte and the first stereo sample, enough to see the volume reach it.
function M.opus_encoder()
  return { set = function() end, encode = function(_, pcm) return "\xFC" .. pcm:sub(1, 4) end }
end

-- UDP: M.udp_peers["host:port"] = fn(packet, reply) answers what the library sends.
local runtime = require("runtime")
M.udp_peers = {}
local Udp = {}
Udp.__index = Udp

function Udp:send(b)
  self.peer(b, function(r)
    table.insert(self.inbox, r)
    runtime.poke(self)
  end)
  return true
end

function Udp:receive(timeout)
  if runtime.park(self, function() return self.inbox[1] or self.closed end, timeout) and self.inbox[1] then
    return table.remove(self.inbox, 1)
  end
  if self.closed then return nil, "socket closed", "closed" end
  return nil, "timeout", "timeout"
end

function Udp:close()
  self.closed = true
  runtime.poke(self)
end

function M.udp(host, port)
  runtime.sleep(0)
  local peer = M.udp_peers[host .. ":" .. port]
  if not peer then return nil, "unreachable " .. host, "connect" end
  return setmetatable({ peer = peer, inbox = {} }, Udp)
end

return M
