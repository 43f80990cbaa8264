-- Fake voice server: answers op 4 on the main gateway, runs the voice gateway (v8) and the UDP peer
-- (IP discovery, then RTP it decrypts and checks), noting in `faults` every rule the client breaks.
local runtime = require("runtime")
local json = require("json")
local _discord = require("_discord")

local Voice = {}
Voice.__index = Voice

local IP, PORT, SSRC, SEEN = "10.0.0.5", 50001, 4242, { "203.0.113.7", 40404 }
local SESSION = { session_id = "vsession", token = "vtoken" }

function Voice.new(server)
  local self = setmetatable({ server = server, faults = {}, received = {}, speaking = {}, rtp = {}, joins = {},
    modes = { "xsalsa20_poly1305_lite", "aead_xchacha20_poly1305_rtpsize", "aead_aes256_gcm_rtpsize" },
    key = {}, identifies = 0, conns = {} }, Voice)
  for i = 1, 32 do self.key[i] = i * 7 end
  server.gateway.voice = self
  require("http").mount_ws("wss://voice.test", function(sock, req) self:_serve(sock, req) end)
  _discord.udp_peers[IP .. ":" .. PORT] = function(p, reply) self:_udp(p, reply) end
  return self
end

function Voice:check(ok, text, ...)
  if not ok then self.faults[#self.faults + 1] = text:format(...) end
end

-- Op 4 from the bot: Discord answers with the bot's voice state and, when it joined, the server.
function Voice:stateUpdate(d)
  local gw = self.server.gateway
  self.joins[#self.joins + 1] = d
  gw:dispatch("VOICE_STATE_UPDATE", { guild_id = d.guild_id, channel_id = d.channel_id, user_id = self.server.bot.id,
    session_id = SESSION.session_id, self_deaf = d.self_deaf, self_mute = d.self_mute })
  if d.channel_id ~= json.null then
    gw:dispatch("VOICE_SERVER_UPDATE", { guild_id = d.guild_id, token = SESSION.token, endpoint = "voice.test:443" })
  end
end

local function same(d, want)
  for k, v in pairs(want) do
    if d[k] ~= v then return false end
  end
  return true
end

function Voice:_serve(sock, req)
  local c, who = { seq = 0 }, { server_id = self.server.guild.id, session_id = SESSION.session_id,
    token = SESSION.token }
  -- Hello and heartbeat ACKs carry no sequence number.
  local function send(op, d, unnumbered)
    if not unnumbered then c.seq = c.seq + 1 end
    sock:send(json.encode({ op = op, d = d, seq = not unnumbered and c.seq or nil }))
  end
  self.conns[#self.conns + 1] = sock
  self:check(req.query.v == "8", "voice gateway v%s", req.query.v)
  send(8, { heartbeat_interval = 13750 }, true)
  for data in function() return sock:receive() end do
    local m = json.decode(data)
    local op, d = m.op, m.d
    self.received[#self.received + 1] = { op = op, d = d }
    if op == 0 then
      self.identifies = self.identifies + 1
      self:check(same(d, who) and d.user_id == self.server.bot.id and d.max_dave_protocol_version == 0, data)
      if self.dave_required then return sock:close(4017, "E2EE/DAVE protocol required") end
      send(2, { ssrc = SSRC, ip = IP, port = PORT, modes = self.modes })
    elseif op == 1 then
      self:check(d.protocol == "udp" and same(d.data, { address = SEEN[1], port = SEEN[2] }), data)
      self.mode = d.data.mode
      send(4, { mode = self.mode, secret_key = json.array(self.key), dave_protocol_version = 0 })
    elseif op == 3 then
      self:check(d.seq_ack == c.seq, "heartbeat acked %s of %d", d.seq_ack, c.seq)
      send(6, { t = d.t }, true)
    elseif op == 5 then
      self:check(d.ssrc == SSRC, data)
      self.speaking[#self.speaking + 1] = d.speaking
    else
      self:check(op == 7 and same(d, who), data)
      c.seq = d.seq_ack
      send(9, json.null)
    end
  end
end

function Voice:_udp(p, reply)
  if #p == 8 then
    self.keepalives = string.unpack("<I4", p)
    return
  end
  if #p == 74 then
    self:check(string.unpack(">I2I2I4", p) == 1 and p:sub(5, 8) == string.pack(">I4", SSRC), "discovery")
    return reply(string.pack(">I2I2I4z", 2, 70, SSRC, SEEN[1]) .. ("\0"):rep(63 - #SEEN[1])
      .. string.pack(">I2", SEEN[2]))
  end
  local v, pt, seq, ts, ssrc = string.unpack(">BBI2I4I4", p)
  local nonce = string.unpack(">I4", p, #p - 3)
  local full = p:sub(-4) .. ("\0"):rep(self.mode == "aead_aes256_gcm_rtpsize" and 8 or 20)
  local opus = _discord.aead_decrypt(self.mode, string.char(table.unpack(self.key)), full, p:sub(1, 12), p:sub(13, -5))
  self:check(v == 0x80 and pt == 0x78 and ssrc == SSRC and opus, "bad RTP packet")
  local last = self.rtp[#self.rtp]
  self:check(not last or (seq == (last.seq + 1) & 0xFFFF and ts == (last.ts + 960) & 0xFFFFFFFF
    and nonce == last.nonce + 1), "RTP %d/%d/%d after %s", seq, ts, nonce, last and last.nonce)
  self.rtp[#self.rtp + 1] = { at = runtime.now(), seq = seq, ts = ts, nonce = nonce, opus = opus }
end

return Voice
