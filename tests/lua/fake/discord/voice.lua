-- Fake voice server: answers op 4 on the main gateway, runs the voice gateway (v8) and the UDP peer
-- (IP discovery, then RTP it decrypts and checks), noting in `faults` every rule the client breaks.
local runtime = require("runtime")
local json = require("json")
local http = require("http")
local _discord = require("_discord")

local Voice = {}
Voice.__index = Voice

local HOST, IP, PORT, SSRC = "voice.test", "10.0.0.5", 50001, 4242
Voice.SEEN_AS = { "203.0.113.7", 40404 }

function Voice.new(server)
  local self = setmetatable({ server = server, faults = {}, received = {}, speaking = {}, rtp = {}, joins = {},
    modes = { "xsalsa20_poly1305_lite", "aead_xchacha20_poly1305_rtpsize", "aead_aes256_gcm_rtpsize" },
    key = {}, identifies = 0, conns = {} }, Voice)
  for i = 1, 32 do self.key[i] = (i * 7) % 256 end
  self.keyBytes = string.char(table.unpack(self.key))
  server.gateway.voice = self
  http.mount_ws("wss://" .. HOST, function(sock, req) self:_serve(sock, req) end)
  _discord.udp_peers[IP .. ":" .. PORT] = function(p, reply) self:_udp(p, reply) end
  return self
end

function Voice:fault(text) self.faults[#self.faults + 1] = text end

-- Op 4 from the bot: Discord answers with the bot's voice state and, when it joined, the server.
function Voice:stateUpdate(d)
  local gw, bot = self.server.gateway, self.server.bot.id
  self.joins[#self.joins + 1] = d
  gw:dispatch("VOICE_STATE_UPDATE", { guild_id = d.guild_id, channel_id = d.channel_id, user_id = bot,
    session_id = "vsession", self_deaf = d.self_deaf, self_mute = d.self_mute, deaf = false, mute = false,
    suppress = false })
  if d.channel_id ~= json.null then
    gw:dispatch("VOICE_SERVER_UPDATE", { guild_id = d.guild_id, token = "vtoken", endpoint = HOST .. ":443" })
  end
end

function Voice:_send(c, op, d)
  c.seq = c.seq + 1
  c.sock:send(json.encode({ op = op, d = d, seq = c.seq }))
end

function Voice:_serve(sock, req)
  local c = { sock = sock, seq = 0 }
  self.conns[#self.conns + 1] = c
  if req.query.v ~= "8" then return sock:close(4012, "version") end
  sock:send(json.encode({ op = 8, d = { heartbeat_interval = 13750 } }))
  local guild = self.server.guild.id
  while true do
    local data = sock:receive()
    if not data then return end
    local m = json.decode(data)
    local op, d = m.op, m.d
    self.received[#self.received + 1] = { op = op, d = d, at = runtime.now() }
    if op == 0 then
      self.identifies = self.identifies + 1
      if d.server_id ~= guild or d.user_id ~= self.server.bot.id or d.session_id ~= "vsession" or d.token ~= "vtoken"
        or d.max_dave_protocol_version ~= 0 then self:fault("identify " .. data) end
      if self.dave_required then return sock:close(4017, "E2EE/DAVE protocol required") end
      self:_send(c, 2, { ssrc = SSRC, ip = IP, port = PORT, modes = self.modes })
    elseif op == 1 then
      local a = d.data
      if d.protocol ~= "udp" or a.address ~= Voice.SEEN_AS[1] or a.port ~= Voice.SEEN_AS[2] then
        self:fault("select " .. data)
      end
      self.mode = a.mode
      self:_send(c, 4, { mode = a.mode, secret_key = json.array(self.key), dave_protocol_version = 0 })
    elseif op == 3 then
      if d.seq_ack ~= c.seq then self:fault("heartbeat acked " .. tostring(d.seq_ack) .. " of " .. c.seq) end
      sock:send(json.encode({ op = 6, d = { t = d.t } }))
    elseif op == 5 then
      if d.ssrc ~= SSRC then self:fault("speaking with ssrc " .. tostring(d.ssrc)) end
      self.speaking[#self.speaking + 1] = d.speaking
    elseif op == 7 then
      if d.session_id ~= "vsession" or d.token ~= "vtoken" or d.server_id ~= guild then
        self:fault("resume " .. data)
      end
      c.seq = d.seq_ack
      self:_send(c, 9, json.null)
    else
      self:fault("op " .. tostring(op))
    end
  end
end

function Voice:_udp(p, reply)
  if #p == 74 and p:byte(2) == 1 then
    local ssrc = string.unpack(">I4", p, 5)
    if ssrc ~= SSRC then self:fault("discovery for ssrc " .. ssrc) end
    local addr = Voice.SEEN_AS[1] .. string.rep("\0", 64 - #Voice.SEEN_AS[1])
    return reply(string.pack(">I2I2I4", 2, 70, SSRC) .. addr .. string.pack(">I2", Voice.SEEN_AS[2]))
  end
  local v, pt, seq, ts, ssrc = string.unpack(">BBI2I4I4", p)
  local nonce = string.unpack(">I4", p, #p - 3)
  local size = self.mode == "aead_aes256_gcm_rtpsize" and 12 or 24
  local opus = _discord.aead_decrypt(self.mode, self.keyBytes, p:sub(-4) .. string.rep("\0", size - 4), p:sub(1, 12),
    p:sub(13, -5))
  if v ~= 0x80 or pt ~= 0x78 or ssrc ~= SSRC or not opus then self:fault("bad RTP packet") end
  local last = self.rtp[#self.rtp]
  if last and (seq ~= (last.seq + 1) & 0xFFFF or ts ~= (last.ts + 960) & 0xFFFFFFFF or nonce ~= last.nonce + 1) then
    self:fault(string.format("RTP %d/%d/%d after %d/%d/%d", seq, ts, nonce, last.seq, last.ts, last.nonce))
  end
  self.rtp[#self.rtp + 1] = { at = runtime.now(), seq = seq, ts = ts, nonce = nonce, opus = opus }
end

return Voice
