-- Fake of the host's `_discord` module. The inflater reads zlib streams made of stored deflate
-- blocks with sync flushes, which is what the fake gateway sends; `deflater()` makes them.
local M = {}

-- Inflater
local Inflater = {}
Inflater.__index = Inflater

--- Inflates one complete message. The library must push whole messages: a push that ends anywhere but
--- after a sync flush (an empty stored block, 00 00 FF FF) is a library fault, so it raises.
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

function M.inflater()
  return setmetatable({}, Inflater)
end

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

function M.deflater()
  return setmetatable({}, Deflater)
end

return M
