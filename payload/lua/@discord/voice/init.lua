-- Voice: the voice gateway (v8), UDP with IP discovery, AEAD-encrypted RTP, Ogg Opus demuxing of
-- FFmpeg's output, inline volume, and the audio player. It reaches the client only through an adapter
-- that sends op 4 on the guild's shard and hands back the two voice dispatches.
local runtime = require("runtime")
local json = require("json")
local http = require("http")
local _discord = require("_discord")
local util = require("discord.util")
local errors = require("discord.errors")
local enums = require("discord.enums")

local M = {}

local VoiceOpcodes = enums.VoiceOpcodes

local FRAME_MS <const> = 20
local FRAME_SAMPLES <const> = 960
M.FRAME_MS, M.FRAME_SAMPLES, M.SAMPLE_RATE, M.CHANNELS = FRAME_MS, FRAME_SAMPLES, 48000, 2
local PCM_FRAME_BYTES <const> = FRAME_SAMPLES * 2 * 2
M.PCM_FRAME_BYTES = PCM_FRAME_BYTES
-- The Opus frame of silence; Discord expects a few of them when a sender stops.
M.SILENCE_FRAME = "\xF8\xFF\xFE"
local RTP_VERSION <const> = 0x80
local RTP_PAYLOAD_TYPE <const> = 0x78
local NONCE_SIZES = { aead_aes256_gcm_rtpsize = 12, aead_xchacha20_poly1305_rtpsize = 24 }
M.NONCE_SIZES = NONCE_SIZES
-- DAVE is not built yet: every connection offers protocol version 0.
M.MAX_DAVE_PROTOCOL_VERSION = 0
M.GATEWAY_VERSION = 8
local MAX_ATTEMPTS <const> = 5
M.KEEP_ALIVE_INTERVAL = 5000
local BUFFER_FRAMES <const> = 50

local function enum(t)
  return setmetatable(t, { __index = function(_, k) error("unknown voice constant " .. tostring(k), 2) end })
end

M.VoiceConnectionStatus = enum({ Signalling = "signalling", Connecting = "connecting", Ready = "ready",
  Disconnected = "disconnected", Destroyed = "destroyed" })
M.VoiceConnectionDisconnectReason = enum({ WebSocketClose = "websocketClose", AdapterUnavailable =
  "adapterUnavailable", EndpointRemoved = "endpointRemoved", Manual = "manual" })
M.AudioPlayerStatus = enum({ Idle = "idle", Buffering = "buffering", Playing = "playing", Paused = "paused",
  AutoPaused = "autopaused" })
M.NoSubscriberBehavior = enum({ Pause = "pause", Play = "play", Stop = "stop" })
M.StreamType = enum({ Arbitrary = "arbitrary", OggOpus = "ogg/opus", Raw = "raw", Opus = "opus" })
M.SpeakingFlags = enum({ None = 0, Microphone = 1, Soundshare = 2, Priority = 4 })

local Status, PlayerStatus, StreamType = M.VoiceConnectionStatus, M.AudioPlayerStatus, M.StreamType

-- Errors ---------------------------------------------------------------------------------------------------

--- A voice failure: `code` is the voice gateway's close code when it closed, `dave` is true when the
--- channel requires end-to-end encryption.
local VoiceError = util.class("VoiceError", errors.DiscordError)
M.VoiceError = VoiceError

function VoiceError:init(message, info)
  errors.DiscordError.init(self, message)
  info = info or {}
  self.code, self.reason, self.dave, self.fatal = info.code, info.reason, info.dave == true, info.fatal == true
end

function VoiceError:__tostring()
  return "VoiceError" .. (self.code and ("[" .. self.code .. "]") or "") .. ": " .. self.message
end

M.DAVE_REQUIRED = "This voice channel requires end-to-end encryption (DAVE), which this version of the library "
  .. "does not support yet; the connection was refused"

-- What each close code of the voice gateway means: its text and what the connection does next:
-- "resume" the session, open a "new" session, stay "disconnected", or stop ("fatal").
local CLOSE_CODES = {
  [4001] = { "Unknown opcode", "fatal" },
  [4002] = { "Failed to decode payload", "fatal" },
  [4003] = { "Not authenticated", "fatal" },
  [4004] = { "Authentication failed", "fatal" },
  [4005] = { "Already authenticated", "fatal" },
  [4006] = { "Session no longer valid", "new" },
  [4009] = { "Session timeout", "new" },
  [4011] = { "Server not found", "fatal" },
  [4012] = { "Unknown protocol", "fatal" },
  [4014] = { "Disconnected (kicked, moved, or the channel was deleted)", "disconnected" },
  [4015] = { "Voice server crashed", "resume" },
  [4016] = { "Unknown encryption mode", "fatal" },
  [4017] = { M.DAVE_REQUIRED, "dave" },
  [4020] = { "Bad request", "fatal" },
  [4021] = { "Disconnected: rate limited", "disconnected" },
  [4022] = { "Disconnected: call terminated", "disconnected" },
}
M.CloseCodes = CLOSE_CODES

--- What to do after the voice gateway closed with `code` and `reason`.
function M.closeAction(code, reason)
  local known = CLOSE_CODES[code]
  if known then return known[2] end
  -- Some servers say it in words rather than with the code.
  if type(reason) == "string" and (reason:find("DAVE", 1, true) or reason:find("E2EE", 1, true)) then
    return "dave"
  end
  return "resume"
end

local function closeError(code, reason)
  local action = M.closeAction(code, reason)
  local known = CLOSE_CODES[code]
  local text = action == "dave" and M.DAVE_REQUIRED or (known and known[1] or "Voice connection closed")
  if reason and reason ~= "" and reason ~= text and action ~= "dave" then text = text .. " (" .. reason .. ")" end
  return VoiceError(text, { code = code, reason = reason, dave = action == "dave",
    fatal = action == "fatal" or action == "dave" })
end
M.closeError = closeError

-- Helpers --------------------------------------------------------------------------------------------------

local function debugLog(emitter, text)
  if emitter:listenerCount("debug") > 0 then emitter:emit("debug", text) end
  runtime.log("debug", "voice", text)
end

local function setState(self, new)
  local old = self.state
  self.state = new
  if old.status ~= new.status or old ~= new then
    self:emit("stateChange", old, new)
    if old.status ~= new.status then self:emit(new.status, old, new) end
  end
end

local function random32() return (string.unpack("<I4", runtime.random_bytes(4))) end

--- (B) Waits until `target` (a connection or player) reaches `status`; returns the target. Raises a
--- VoiceError after `timeout` ms, or the connection's error when it is destroyed first.
function M.entersState(target, status, timeout)
  if target.state.status == status then return target end
  local done = util.Future()
  local function watch(_, new)
    if new.status == status then
      done:resolve(target)
    elseif new.status == Status.Destroyed then
      done:reject(target.lastError or VoiceError("the voice connection was destroyed"))
    end
  end
  target:on("stateChange", watch)
  local ok, res = done:wait(timeout)
  target:off("stateChange", watch)
  if ok then return target end
  if res == "timeout" then
    error(VoiceError("did not reach the " .. status .. " state within " .. timeout .. " ms"), 2)
  end
  error(res, 2)
end

-- Ogg Opus demuxing -------------------------------------------------------------------------------------

--- Splits an Ogg stream into Opus packets. Bytes may arrive in pieces of any size; the OpusHead and
--- OpusTags headers are checked and dropped.
local OggDemuxer = util.class("OggDemuxer")
M.OggDemuxer = OggDemuxer

function OggDemuxer:init()
  self.buffer, self.partial, self.head, self.tags, self.pages = "", {}, nil, false, 0
end

function OggDemuxer:_packet(packet, out)
  if not self.head then
    if packet:sub(1, 8) ~= "OpusHead" or #packet < 19 then error(VoiceError("the stream is not Ogg Opus"), 0) end
    local version, channels, preSkip, rate = string.unpack("<BBI2I4", packet, 9)
    self.head = { version = version, channels = channels, preSkip = preSkip, inputSampleRate = rate }
  elseif not self.tags then
    if packet:sub(1, 8) ~= "OpusTags" then error(VoiceError("the Ogg Opus stream has no OpusTags header"), 0) end
    self.tags = true
  else
    out[#out + 1] = packet
  end
end

--- Feeds bytes; returns the complete packets found so far (perhaps none).
function OggDemuxer:push(bytes)
  local out, buf = {}, self.buffer .. bytes
  local pos = 1
  while true do
    if #buf - pos + 1 < 27 then break end
    if buf:sub(pos, pos + 3) ~= "OggS" then
      local at = buf:find("OggS", pos + 1, true)
      if not at then
        pos = math.max(pos, #buf - 2)
        break
      end
      pos = at
    else
      -- A page that begins a stream (chained Ogg, as radio streams send) brings new headers.
      if buf:byte(pos + 5) & 2 ~= 0 and self.tags then self.head, self.tags = nil, false end
      local segments = buf:byte(pos + 26)
      local bodyStart = pos + 27 + segments
      if bodyStart - 1 > #buf then break end
      local total = 0
      for i = 0, segments - 1 do total = total + buf:byte(pos + 27 + i) end
      if bodyStart + total - 1 > #buf then break end
      local at = bodyStart
      for i = 0, segments - 1 do
        local len = buf:byte(pos + 27 + i)
        self.partial[#self.partial + 1] = buf:sub(at, at + len - 1)
        at = at + len
        if len < 255 then
          local packet = table.concat(self.partial)
          self.partial = {}
          if #packet > 0 then self:_packet(packet, out) end
        end
      end
      self.pages = self.pages + 1
      pos = bodyStart + total
    end
  end
  self.buffer = buf:sub(pos)
  return out
end

-- Volume -----------------------------------------------------------------------------------------------

--- Scales 16-bit PCM. `volume` is linear (1 = as is); the setters take decibels or a perceived level.
local VolumeTransformer = util.class("VolumeTransformer")
M.VolumeTransformer = VolumeTransformer

function VolumeTransformer:init(volume) self:setVolume(volume or 1) end

function VolumeTransformer:setVolume(v)
  if type(v) ~= "number" or v < 0 or v ~= v then error("setVolume: volume must be a number of 0 or more", 2) end
  self.volume = v
end
function VolumeTransformer:setVolumeDecibels(db) self:setVolume(10 ^ (db / 20)) end
function VolumeTransformer:setVolumeLogarithmic(v) self:setVolume(v ^ 1.660964) end
VolumeTransformer.getters.volumeDecibels = function(self) return math.log(self.volume, 10) * 20 end
VolumeTransformer.getters.volumeLogarithmic = function(self) return self.volume ^ (1 / 1.660964) end

local SAMPLE_FORMAT = "<" .. string.rep("i2", PCM_FRAME_BYTES // 2)

--- One frame (3840 bytes) scaled by the volume, clipped to 16 bits.
function VolumeTransformer:apply(pcm)
  local v = self.volume
  if v == 1 then return pcm end
  local samples = table.pack(string.unpack(SAMPLE_FORMAT, pcm))
  for i = 1, PCM_FRAME_BYTES // 2 do
    local s = math.floor(samples[i] * v + 0.5)
    samples[i] = s > 32767 and 32767 or (s < -32768 and -32768 or s)
  end
  return string.pack(SAMPLE_FORMAT, table.unpack(samples, 1, PCM_FRAME_BYTES // 2))
end

-- Audio resources ----------------------------------------------------------------------------------------

-- A byte source: a file read whole, a process, an object with read(), or a function returning the next
-- piece (nil at the end).
local function reader(input)
  if type(input) == "function" then return input end
  if type(input) == "table" and type(input.read) == "function" then return function() return input:read() end end
  if type(input) == "string" then
    local done = false
    return function()
      if done then return nil end
      done = true
      local bytes, msg = runtime.read_file(input)
      if not bytes then error(VoiceError("cannot read " .. input .. ": " .. tostring(msg)), 0) end
      return bytes
    end
  end
  error("createAudioResource: input must be a file, URL, process, stream or function", 3)
end

--- (B) Reads the start of a stream and tells what it holds: "ogg/opus" when it is Ogg with an OpusHead,
--- else "arbitrary". Returns the type and a reader that gives the bytes already read first.
function M.demuxProbe(input)
  local read = reader(input)
  local head = {}
  local size = 0
  while size < 64 do
    local b = read()
    if not b then break end
    head[#head + 1] = b
    size = size + #b
  end
  local bytes = table.concat(head)
  local kind = (bytes:sub(1, 4) == "OggS" and bytes:find("OpusHead", 1, true)) and StreamType.OggOpus
    or StreamType.Arbitrary
  local first = true
  return kind, function()
    if first then
      first = false
      if bytes ~= "" then return bytes end
    end
    return read()
  end
end

local function ffmpegArgs(input, opts, raw)
  local args = { "-analyzeduration", "0", "-loglevel", "0", "-nostdin" }
  if type(input) == "string" and input:match("^https?://") then
    for _, a in ipairs({ "-reconnect", "1", "-reconnect_streamed", "1", "-reconnect_delay_max", "5" }) do
      args[#args + 1] = a
    end
  end
  if opts.seek and opts.seek > 0 then
    args[#args + 1] = "-ss"
    args[#args + 1] = string.format("%.3f", opts.seek / 1000)
  end
  local from = type(input) == "string" and input or "pipe:0"
  for _, a in ipairs({ "-i", from, "-vn", "-map_metadata", "-1" }) do args[#args + 1] = a end
  for _, a in ipairs(opts.ffmpegArgs or {}) do args[#args + 1] = a end
  local tail = raw and { "-f", "s16le", "-ar", "48000", "-ac", "2" }
    or { "-acodec", "libopus", "-f", "opus", "-ar", "48000", "-ac", "2", "-b:a", tostring(opts.bitrate or 128000) }
  for _, a in ipairs(tail) do args[#args + 1] = a end
  args[#args + 1] = "pipe:1"
  return args
end
M.ffmpegArgs = ffmpegArgs

--- Audio a player can play: Opus packets taken from FFmpeg, an Ogg Opus stream, raw PCM or packets.
local AudioResource = util.class("AudioResource")
M.AudioResource = AudioResource

function AudioResource:init(input, opts)
  opts = opts or {}
  self.input, self.metadata = input, opts.metadata
  self.inputType = opts.inputType or (type(input) == "string" and StreamType.Arbitrary or StreamType.OggOpus)
  self.silencePaddingFrames = opts.silencePaddingFrames or 5
  self.silenceRemaining = -1
  self.playbackDuration, self.started, self.ended, self.packets = 0, false, false, {}
  self.seek = opts.seek or 0
  self._opts = opts
  local pcm = self.inputType == StreamType.Raw or (self.inputType == StreamType.Arbitrary and opts.inlineVolume)
  if opts.inlineVolume then
    if not pcm then error("createAudioResource: inline volume needs a file, a URL or raw PCM", 3) end
    self.volume = VolumeTransformer(opts.volume or 1)
  end
  self._pcm = pcm
  -- Streams of unknown content go through FFmpeg's stdin; files and URLs FFmpeg opens itself.
  if self.inputType ~= StreamType.Arbitrary or type(input) ~= "string" then self._read = reader(input) end
end

--- Starts FFmpeg (for files and URLs) and the task that keeps a second of packets ready.
function AudioResource:_start()
  if self.started then return end
  self.started = true
  if self.inputType == StreamType.Arbitrary then
    local search = require("@discord/voice/search")
    local path, msg = search.findTool("ffmpeg")
    if not path then return self:_fail(VoiceError(msg)) end
    local feed = self._read
    local proc, err = runtime.process({ file = path, args = ffmpegArgs(self.input, self._opts, self._pcm),
      stdin = feed and "pipe" or "null", stdout = "pipe", stderr = "null" })
    if not proc then return self:_fail(VoiceError("could not start FFmpeg: " .. tostring(err))) end
    self.process = proc
    self._read = function() return proc:read() end
    if feed then
      runtime.spawn(function()
        for bytes in feed do
          if self.ended or not proc:write(bytes) then break end
        end
        proc:close_stdin()
      end)
    end
  end
  runtime.spawn(function()
    local ok, err = util.try(self._pump, self)
    if not ok then self:_fail(err) end
  end)
end

function AudioResource:_fail(err)
  self.error = type(err) == "table" and err or VoiceError(tostring(err))
  self.ended = true
  runtime.log("warn", "voice", "audio resource failed: " .. tostring(err))
end

function AudioResource:_pump()
  local demux = self.inputType ~= StreamType.Opus and not self._pcm and OggDemuxer() or nil
  local pending, encoder = "", nil
  if self._pcm then
    encoder = _discord.opus_encoder(48000, 2, "audio")
    if self._opts.bitrate then encoder:set("bitrate", self._opts.bitrate) end
  end
  while not self.ended do
    while #self.packets >= BUFFER_FRAMES and not self.ended do runtime.sleep(FRAME_MS * 10) end
    local bytes = self._read()
    if bytes == nil or self.ended then break end
    if demux then
      for _, p in ipairs(demux:push(bytes)) do self.packets[#self.packets + 1] = p end
    elseif encoder then
      pending = pending .. bytes
      while #pending >= PCM_FRAME_BYTES do
        local frame = pending:sub(1, PCM_FRAME_BYTES)
        pending = pending:sub(PCM_FRAME_BYTES + 1)
        if self.volume then frame = self.volume:apply(frame) end
        self.packets[#self.packets + 1] = encoder:encode(frame, FRAME_SAMPLES)
      end
    else
      self.packets[#self.packets + 1] = bytes
    end
  end
  self.ended = true
end

--- True while a packet is ready or the closing silence is still to be sent.
AudioResource.getters.readable = function(self)
  if #self.packets > 0 then return true end
  if not self.ended then return false end
  return self.silenceRemaining ~= 0
end

--- The next packet; after the end, `silencePaddingFrames` frames of silence, then nil.
function AudioResource:read()
  local p = table.remove(self.packets, 1)
  if p then
    self.playbackDuration = self.playbackDuration + FRAME_MS
    return p
  end
  if not self.ended then return nil end
  if self.silenceRemaining == -1 then self.silenceRemaining = self.silencePaddingFrames end
  if self.silenceRemaining == 0 then return nil end
  self.silenceRemaining = self.silenceRemaining - 1
  return M.SILENCE_FRAME
end

--- Stops reading and kills FFmpeg.
function AudioResource:destroy()
  self.ended, self.packets = true, {}
  if self.silenceRemaining == -1 then self.silenceRemaining = 0 end
  if self.process then self.process:kill() end
end

--- `input`: a file path or URL (FFmpeg transcodes it), or a stream/process/function, with
--- `opts.inputType`: "arbitrary" (FFmpeg reads it on stdin), "ogg/opus" (demuxed here; a path is read
--- whole), "raw" (s16le PCM, 48 kHz stereo) or "opus" (one packet per read). `opts`: inlineVolume,
--- volume, metadata, seek (ms), bitrate, ffmpegArgs, silencePaddingFrames (5).
function M.createAudioResource(input, opts)
  if input == nil then error("createAudioResource: input is required", 2) end
  return AudioResource(input, opts)
end

-- Networking: voice gateway and UDP -------------------------------------------------------------------------

local function encodeKey(bytes)
  if type(bytes) ~= "table" or #bytes ~= 32 then return nil end
  local out = {}
  for i, b in ipairs(bytes) do
    if math.type(b) ~= "integer" or b < 0 or b > 255 then return nil end
    out[i] = string.char(b)
  end
  return table.concat(out)
end

--- The best mode of the runtime's list that the server offers, or nil.
function M.chooseMode(offered)
  local set = util.set(offered or {})
  for _, mode in ipairs(_discord.aead_modes()) do
    if set[mode] and NONCE_SIZES[mode] then return mode end
  end
  return nil
end

--- (B) IP discovery: the address and port the voice server sees for this socket.
function M.discoverIp(sock, ssrc, timeout)
  local request = string.pack(">I2I2I4", 1, 70, ssrc) .. string.rep("\0", 66)
  for _ = 1, 3 do
    sock:send(request)
    local reply = sock:receive(timeout or 2000)
    if reply and #reply >= 74 and string.unpack(">I2", reply) == 2 then
      local address = reply:sub(9, 72):match("^[^%z]*")
      return address, (string.unpack(">I2", reply, 73))
    end
  end
  return nil, "no IP discovery reply from the voice server"
end

--- The RTP header of a frame: version 2, payload type 120, then sequence, timestamp and SSRC.
function M.rtpHeader(sequence, timestamp, ssrc)
  return string.pack(">BBI2I4I4", RTP_VERSION, RTP_PAYLOAD_TYPE, sequence, timestamp, ssrc)
end

--- One encrypted RTP packet: header, sealed Opus with the header as AAD, and the 4-byte nonce counter.
function M.sealPacket(mode, key, header, counter, opus)
  local nonce = string.pack(">I4", counter)
  local full = nonce .. string.rep("\0", NONCE_SIZES[mode] - 4)
  return header .. _discord.aead_encrypt(mode, key, full, header, opus) .. nonce
end

-- VoiceConnection ------------------------------------------------------------------------------------------

local connections = {}

local function key(guildId, group) return (group or "default") .. ":" .. tostring(guildId) end

--- One guild's voice connection. Events: stateChange(old, new), one event per status, error, debug.
--- `state.status` is one of VoiceConnectionStatus.
local VoiceConnection = util.class("VoiceConnection", util.EventEmitter)
M.VoiceConnection = VoiceConnection

function VoiceConnection:init(config, adapterCreator)
  util.EventEmitter.init(self)
  self.joinConfig = config
  self.state = { status = Status.Signalling }
  self.rejoinAttempts, self.attempts = 0, 0
  self.ping = { ws = nil, udp = nil }
  self.speaking = 0
  self.packets = { sent = 0, silence = 0 }
  self.users = {}
  self._voice = {}
  self.adapter = adapterCreator({
    onVoiceServerUpdate = function(d) self:_serverUpdate(d) end,
    onVoiceStateUpdate = function(d) self:_stateUpdate(d) end,
    destroy = function() self:destroy(false) end,
  })
end

function VoiceConnection:debug(text) debugLog(self, "[voice " .. tostring(self.joinConfig.guildId) .. "] " .. text) end

function VoiceConnection:_payload()
  local c = self.joinConfig
  return { op = 4, d = { guild_id = c.guildId, channel_id = c.channelId or json.null, self_deaf = c.selfDeaf,
    self_mute = c.selfMute } }
end

-- (B) Sends op 4 through the adapter; false when the shard is not there.
function VoiceConnection:_signal()
  local ok = self.adapter.sendPayload(self:_payload())
  if not ok then
    setState(self, { status = Status.Disconnected, reason = M.VoiceConnectionDisconnectReason.AdapterUnavailable })
  end
  return ok
end

function VoiceConnection:_stateUpdate(d)
  self._voice.sessionId = d.session_id
  if util.nullable(d.channel_id) ~= nil then self.joinConfig.channelId = d.channel_id end
  local status = self.state.status
  if util.nullable(d.channel_id) == nil and status ~= Status.Destroyed and status ~= Status.Disconnected
      and not self._leaving then
    self:_closeNetworking()
    setState(self, { status = Status.Disconnected, reason = M.VoiceConnectionDisconnectReason.EndpointRemoved })
    return
  end
  self:_tryConnect()
end

function VoiceConnection:_serverUpdate(d)
  self._voice.token = d.token
  self._voice.endpoint = util.nullable(d.endpoint)
  self._voice.serverId = d.guild_id
  if not self._voice.endpoint then
    -- The old server went away; a new endpoint follows.
    self:_closeNetworking()
    if self.state.status ~= Status.Destroyed then setState(self, { status = Status.Signalling }) end
    return
  end
  self._voice.fresh = true
  self:_tryConnect()
end

function VoiceConnection:_tryConnect()
  local v = self._voice
  if self.state.status == Status.Destroyed or not (v.sessionId and v.token and v.endpoint and v.fresh) then return end
  v.fresh = false
  self:_closeNetworking()
  self:_open(false)
end

-- Opens the voice gateway; `resume` resumes the session of the last socket.
function VoiceConnection:_open(resume)
  local net = { resume = resume, seqAck = resume and self._net and self._net.seqAck or -1, missed = 0 }
  if resume and self._net then
    net.udp, net.ssrc, net.mode, net.key = self._net.udp, self._net.ssrc, self._net.mode, self._net.key
    net.rtp = self._net.rtp
  end
  self._net = net
  setState(self, { status = Status.Connecting, networking = net })
  runtime.spawn(function()
    local ok, err = util.try(self._run, self, net)
    if not ok then self:_failed(net, err) end
  end)
end

function VoiceConnection:_send(net, op, d)
  local ws = net.ws
  if not ws then return false end
  return ws:send(json.encode({ op = op, d = d }), "text")
end

function VoiceConnection:_run(net)
  local endpoint = self._voice.endpoint:gsub("^wss://", ""):gsub(":443$", "")
  local url = "wss://" .. endpoint .. "/?v=" .. M.GATEWAY_VERSION
  self:debug("connecting to " .. url .. (net.resume and " to resume" or ""))
  local ws, msg, kind = http.websocket(url, { timeout_ms = 15000 })
  if self._net ~= net then
    if ws then ws:close(1000) end
    return
  end
  if not ws then return self:_closed(net, nil, tostring(msg) .. " (" .. tostring(kind) .. ")") end
  net.ws = ws
  while true do
    local data, text, how, code = ws:receive()
    if not data then
      if how == "timeout" then goto continue end
      return self:_closed(net, code, text)
    end
    if self._net ~= net then return end
    do
      local packet = json.decode(data)
      if type(packet) == "table" then self:_handle(net, packet) end
    end
    ::continue::
  end
end

function VoiceConnection:_handle(net, packet)
  if math.type(packet.seq) == "integer" then net.seqAck = packet.seq end
  local op, d = packet.op, packet.d
  if op == VoiceOpcodes.Hello then
    self:_startHeartbeat(net, math.tointeger(d.heartbeat_interval) or math.floor(d.heartbeat_interval))
    local v = self._voice
    if net.resume then
      self:_send(net, VoiceOpcodes.Resume, { server_id = v.serverId, session_id = v.sessionId, token = v.token,
        seq_ack = net.seqAck })
    else
      self:_send(net, VoiceOpcodes.Identify, { server_id = v.serverId, user_id = self.joinConfig.userId,
        session_id = v.sessionId, token = v.token, max_dave_protocol_version = M.MAX_DAVE_PROTOCOL_VERSION })
    end
  elseif op == VoiceOpcodes.Ready then
    self:_ready(net, d)
  elseif op == VoiceOpcodes.SessionDescription then
    self:_session(net, d)
  elseif op == VoiceOpcodes.HeartbeatAck then
    local t = type(d) == "table" and d.t or d
    if t == net.nonce then
      net.missed = 0
      self.ping.ws = runtime.now() - net.beatAt
    end
  elseif op == VoiceOpcodes.Resumed then
    self.attempts = 0
    self:_keepAlive(net)
    self:debug("resumed")
    setState(self, { status = Status.Ready, networking = net })
  elseif op == VoiceOpcodes.Speaking then
    if type(d) == "table" and d.user_id then self.users[d.user_id] = { ssrc = d.ssrc, speaking = d.speaking } end
  elseif op == VoiceOpcodes.ClientsConnect then
    for _, id in ipairs(type(d) == "table" and d.user_ids or {}) do self.users[id] = self.users[id] or {} end
  elseif op == VoiceOpcodes.ClientDisconnect then
    if type(d) == "table" and d.user_id then self.users[d.user_id] = nil end
  elseif op and op >= VoiceOpcodes.DavePrepareTransition then
    -- Only a DAVE session sends these; one that reaches us means the server expects DAVE.
    self:_refuseDave(net)
  end
end

function VoiceConnection:_startHeartbeat(net, interval)
  if net.beat then net.beat:cancel() end
  net.beat = runtime.timer(interval, function()
    if self._net ~= net or not net.ws then return end
    if net.nonce and net.missed >= 2 then
      -- Two beats without an ACK: the socket is dead without knowing it.
      self:debug("no heartbeat ACK; reconnecting")
      net.ws:close(4900, "zombie")
      return
    end
    if net.nonce then net.missed = net.missed + 1 end
    net.nonce, net.beatAt = runtime.now(), runtime.now()
    self:_send(net, VoiceOpcodes.Heartbeat, { t = net.nonce, seq_ack = net.seqAck })
  end, true)
end

function VoiceConnection:_ready(net, d)
  net.ssrc = math.tointeger(d.ssrc)
  net.mode = M.chooseMode(d.modes)
  if not net.mode then
    error(VoiceError("the voice server offers no encryption mode this runtime has (offered: "
      .. table.concat(d.modes or {}, ", ") .. ")", { fatal = true }), 0)
  end
  if net.udp then net.udp:close() end
  local sock, msg = _discord.udp(d.ip, math.tointeger(d.port))
  if not sock then error(VoiceError("could not open UDP to " .. tostring(d.ip) .. ": " .. tostring(msg)), 0) end
  net.udp = sock
  local started = runtime.now()
  local address, port = M.discoverIp(sock, net.ssrc)
  if not address then error(VoiceError(port), 0) end
  self.ping.udp = runtime.now() - started
  net.address, net.port = address, port
  self:debug("IP discovery: " .. address .. ":" .. port .. ", mode " .. net.mode)
  self:_send(net, VoiceOpcodes.SelectProtocol, { protocol = "udp",
    data = { address = address, port = port, mode = net.mode } })
end

function VoiceConnection:_session(net, d)
  if math.type(d.dave_protocol_version) == "integer" and d.dave_protocol_version > M.MAX_DAVE_PROTOCOL_VERSION then
    return self:_refuseDave(net)
  end
  if d.mode ~= net.mode then
    error(VoiceError("the voice server chose " .. tostring(d.mode) .. " instead of " .. net.mode, { fatal = true }), 0)
  end
  net.key = encodeKey(d.secret_key)
  if not net.key then error(VoiceError("the session description has no 32-byte key", { fatal = true }), 0) end
  net.rtp = net.rtp or { sequence = random32() & 0xFFFF, timestamp = random32(), nonce = 0 }
  self.attempts, self.rejoinAttempts = 0, 0
  self.speaking = 0
  self:_keepAlive(net)
  setState(self, { status = Status.Ready, networking = net })
end

-- A small UDP packet every 5 s keeps the NAT mapping open while no audio is sent.
function VoiceConnection:_keepAlive(net)
  if net.keepAlive then return end
  local counter = 0
  net.keepAlive = runtime.timer(M.KEEP_ALIVE_INTERVAL, function()
    if self._net ~= net or not net.udp then return net.keepAlive:cancel() end
    if runtime.now() - (net.lastSent or 0) < M.KEEP_ALIVE_INTERVAL then return end
    counter = (counter + 1) & 0xFFFFFFFF
    net.udp:send(string.pack("<I4I4", counter, 0))
  end, true)
end

function VoiceConnection:_refuseDave(net)
  local err = closeError(4017)
  self:_stop(net, err)
end

-- Reports a fatal error once, leaves the channel and ends in Destroyed.
function VoiceConnection:_stop(_, err)
  if self.state.status == Status.Destroyed then return end
  self.lastError = err
  runtime.log("error", "voice", tostring(err))
  if self:listenerCount("error") > 0 then self:emit("error", err) end
  self:destroy()
end

function VoiceConnection:_failed(net, err)
  if self._net ~= net then return end
  if type(err) == "table" and err.fatal then return self:_stop(net, err) end
  self:debug("connection failed: " .. tostring(err))
  if net.ws then net.ws:close(4000) end
  self:_retry(net, false, err)
end

function VoiceConnection:_closed(net, code, reason)
  if net.beat then net.beat:cancel() end
  if self._net ~= net then return end
  local action = code and M.closeAction(code, reason) or "resume"
  self:debug("voice gateway closed: " .. tostring(code) .. " " .. tostring(reason) .. " -> " .. action)
  if action == "dave" or action == "fatal" then return self:_stop(net, closeError(code, reason)) end
  if action == "disconnected" then
    self._net = nil
    if net.udp then net.udp:close() end
    self.lastError = closeError(code, reason)
    setState(self, { status = Status.Disconnected, reason = M.VoiceConnectionDisconnectReason.WebSocketClose,
      closeCode = code })
    return
  end
  self:_retry(net, action == "resume" and net.ssrc ~= nil, closeError(code or 1006, reason))
end

-- Resumes (or opens a new session) after a backoff of 1, 2, 4 ... s; after MAX_ATTEMPTS tries the
-- connection stays disconnected.
function VoiceConnection:_retry(net, resume, err)
  self.attempts = self.attempts + 1
  if self.attempts > MAX_ATTEMPTS then
    self._net = nil
    self.lastError = err
    if self:listenerCount("error") > 0 then self:emit("error", err) end
    setState(self, { status = Status.Disconnected, reason = M.VoiceConnectionDisconnectReason.WebSocketClose,
      closeCode = err and err.code })
    return
  end
  local wait = math.min(60000, 1000 << (self.attempts - 1))
  self:debug("reconnecting in " .. wait .. " ms" .. (resume and " (resume)" or " (new session)"))
  setState(self, { status = Status.Connecting, networking = net })
  runtime.timer(wait, function()
    if self._net ~= net or self.state.status == Status.Destroyed then return end
    if resume then
      self:_open(true)
    else
      self._net = nil
      if net.udp then net.udp:close() end
      self._voice.token, self._voice.endpoint = nil, nil
      setState(self, { status = Status.Signalling })
      self:_signal()
    end
  end)
end

function VoiceConnection:_closeNetworking()
  local net = self._net
  self._net = nil
  if not net then return end
  if net.beat then net.beat:cancel() end
  if net.keepAlive then net.keepAlive:cancel() end
  if net.ws then net.ws:close(1000) end
  if net.udp then net.udp:close() end
end

--- (B) Sets the speaking flags (true means Microphone); sends op 5 only when they change.
function VoiceConnection:setSpeaking(flags)
  if flags == true then flags = M.SpeakingFlags.Microphone elseif not flags then flags = 0 end
  local net = self._net
  if self.state.status ~= Status.Ready or not net or self.speaking == flags then return false end
  self.speaking = flags
  return self:_send(net, VoiceOpcodes.Speaking, { speaking = flags, delay = 0, ssrc = net.ssrc })
end

--- Seals and sends one Opus packet; false when the connection is not ready.
function VoiceConnection:playOpusPacket(opus)
  local net = self._net
  if self.state.status ~= Status.Ready or not net or not net.key then return false end
  local rtp = net.rtp
  rtp.sequence = (rtp.sequence + 1) & 0xFFFF
  rtp.timestamp = (rtp.timestamp + FRAME_SAMPLES) & 0xFFFFFFFF
  rtp.nonce = (rtp.nonce + 1) & 0xFFFFFFFF
  local packet = M.sealPacket(net.mode, net.key, M.rtpHeader(rtp.sequence, rtp.timestamp, net.ssrc), rtp.nonce, opus)
  net.udp:send(packet)
  net.lastSent = runtime.now()
  self.packets.sent = self.packets.sent + 1
  if opus == M.SILENCE_FRAME then self.packets.silence = self.packets.silence + 1 end
  return true
end

--- Plays the player's audio on this connection; returns a subscription with unsubscribe().
function VoiceConnection:subscribe(player)
  if self.state.status == Status.Destroyed then return nil end
  if self.subscription then self.subscription:unsubscribe() end
  local sub = { connection = self, player = player }
  function sub.unsubscribe()
    player:_unsubscribe(sub)
    if self.subscription == sub then self.subscription = nil end
  end
  self.subscription = sub
  player:_subscribe(sub)
  return sub
end

--- (B) Joins another channel (or the same one again) with `opts` {channelId, selfDeaf, selfMute}.
function VoiceConnection:rejoin(opts)
  if self.state.status == Status.Destroyed then return false end
  for k, v in pairs(opts or {}) do self.joinConfig[k] = v end
  self.rejoinAttempts = self.rejoinAttempts + 1
  if self.state.status ~= Status.Ready then setState(self, { status = Status.Signalling }) end
  return self:_signal()
end

--- (B) Leaves the channel but keeps the connection for a later rejoin.
function VoiceConnection:disconnect()
  if self.state.status == Status.Destroyed then return false end
  self._leaving = true
  self.joinConfig.channelId = nil
  local ok = self.adapter.sendPayload(self:_payload())
  self._leaving = false
  self:_closeNetworking()
  setState(self, { status = Status.Disconnected, reason = M.VoiceConnectionDisconnectReason.Manual })
  return ok
end

--- (B) Leaves the channel (unless `leave` is false) and ends the connection for good.
function VoiceConnection:destroy(leave)
  if self.state.status == Status.Destroyed then return end
  if leave ~= false then
    self._leaving = true
    self.joinConfig.channelId = nil
    pcall(self.adapter.sendPayload, self:_payload())
  end
  if self.subscription then self.subscription:unsubscribe() end
  self:_closeNetworking()
  local k = key(self.joinConfig.guildId, self.joinConfig.group)
  if connections[k] == self then connections[k] = nil end
  if self.adapter.destroy then self.adapter.destroy() end
  setState(self, { status = Status.Destroyed })
end

function VoiceConnection:toJSON()
  return { guildId = self.joinConfig.guildId, channelId = self.joinConfig.channelId, status = self.state.status }
end

-- Client adapter ---------------------------------------------------------------------------------------

local hooked = setmetatable({}, { __mode = "k" })

-- One raw listener per client passes the bot's voice dispatches to the connection of their guild.
local function hook(client)
  local routes = hooked[client]
  if routes then return routes end
  routes = {}
  hooked[client] = routes
  client:on("raw", function(packet)
    local d = packet.d
    if type(d) ~= "table" or not d.guild_id then return end
    local methods = routes[d.guild_id]
    if not methods then return end
    if packet.t == "VOICE_SERVER_UPDATE" then
      methods.onVoiceServerUpdate(d)
    elseif packet.t == "VOICE_STATE_UPDATE" and client.user and d.user_id == client.user.id then
      methods.onVoiceStateUpdate(d)
    end
  end)
  return routes
end

--- The adapter creator of a guild on a client: op 4 goes out on the guild's shard.
function M.adapterCreator(client, guildId)
  return function(methods)
    local routes = hook(client)
    routes[guildId] = methods
    return {
      sendPayload = function(payload)
        local shard = client.ws and client.ws:shardFor(guildId)
        if not shard then return false end
        return shard:send(payload) ~= false
      end,
      destroy = function()
        if routes[guildId] == methods then routes[guildId] = nil end
      end,
    }
  end
end

--- (B) Joins a voice channel. `opts`: channelId and guildId, or channel (a voice channel object);
--- client or adapterCreator; selfDeaf (true), selfMute (false), group ("default"), debug.
--- Returns the guild's connection, moving an existing one.
function M.joinVoiceChannel(opts)
  if type(opts) ~= "table" then error("joinVoiceChannel: expected an options table", 2) end
  local channel = opts.channel
  local config = {
    channelId = opts.channelId or (channel and channel.id), guildId = opts.guildId or (channel and channel.guildId),
    selfDeaf = opts.selfDeaf ~= false, selfMute = opts.selfMute == true, group = opts.group or "default",
  }
  local client = opts.client or (channel and channel.client)
  if type(config.channelId) ~= "string" or type(config.guildId) ~= "string" then
    error("joinVoiceChannel: channelId and guildId are required", 2)
  end
  local creator = opts.adapterCreator or (client and M.adapterCreator(client, config.guildId))
  if not creator then error("joinVoiceChannel: a client or an adapterCreator is required", 2) end
  config.userId = opts.userId or (client and client.user and client.user.id)
  local k = key(config.guildId, config.group)
  local existing = connections[k]
  -- A connection made through another client (or adapter) cannot be moved from here.
  if existing and existing._source ~= (opts.adapterCreator or client) then
    existing:destroy(false)
    existing = nil
  end
  if existing and existing.state.status ~= Status.Destroyed then
    existing:rejoin({ channelId = config.channelId, selfDeaf = config.selfDeaf, selfMute = config.selfMute })
    return existing
  end
  local conn = VoiceConnection(config, creator)
  conn._source = opts.adapterCreator or client
  if opts.debug then conn:on("debug", function(t) runtime.log("info", "voice", t) end) end
  connections[k] = conn
  conn:_signal()
  return conn
end

--- The connection of a guild in a group ("default"), or nil.
function M.getVoiceConnection(guildId, group) return connections[key(guildId, group)] end

--- All connections of a group.
function M.getVoiceConnections(group)
  local out = {}
  for k, c in pairs(connections) do
    if k:sub(1, #(group or "default") + 1) == (group or "default") .. ":" then out[c.joinConfig.guildId] = c end
  end
  return out
end

-- AudioPlayer --------------------------------------------------------------------------------------------

--- Plays one resource at a time on every subscribed connection, a frame every 20 ms. Events:
--- stateChange(old, new), one per status, error(err, resource), debug, subscribe, unsubscribe.
local AudioPlayer = util.class("AudioPlayer", util.EventEmitter)
M.AudioPlayer = AudioPlayer

function AudioPlayer:init(opts)
  util.EventEmitter.init(self)
  opts = opts or {}
  local b = opts.behaviors or {}
  self.behaviors = { noSubscriber = b.noSubscriber or M.NoSubscriberBehavior.Pause,
    maxMissedFrames = b.maxMissedFrames or 250 }
  self.subscribers = {}
  self.state = { status = PlayerStatus.Idle }
  self._silence = 0
end

function AudioPlayer:debug(text) debugLog(self, "[player] " .. text) end

function AudioPlayer:_subscribe(sub)
  self.subscribers[#self.subscribers + 1] = sub
  self:emit("subscribe", sub)
end

function AudioPlayer:_unsubscribe(sub)
  for i, s in ipairs(self.subscribers) do
    if s == sub then
      table.remove(self.subscribers, i)
      sub.connection:setSpeaking(false)
      self:emit("unsubscribe", sub)
      return
    end
  end
end

--- Connections that can take audio now.
function AudioPlayer:playable()
  local out = {}
  for _, s in ipairs(self.subscribers) do
    if s.connection.state.status == Status.Ready then out[#out + 1] = s.connection end
  end
  return out
end

--- Plays `resource`, ending what played before.
function AudioPlayer:play(resource)
  if not util.instanceOf(resource, AudioResource) then error("play: expected an audio resource", 2) end
  if resource.player and resource.player ~= self then error("play: the resource plays on another player", 2) end
  if resource.ended and resource.started then error("play: the resource has already ended", 2) end
  local current = self.state.resource
  if current and current ~= resource then current:destroy() end
  resource.player = self
  resource:_start()
  self._missed = 0
  setState(self, { status = PlayerStatus.Buffering, resource = resource })
  self:_loop()
  return true
end

--- Pauses; `interpolateSilence` (true) sends five silence frames first.
function AudioPlayer:pause(interpolateSilence)
  if self.state.status ~= PlayerStatus.Playing then return false end
  self._silence = interpolateSilence == false and 0 or 5
  setState(self, { status = PlayerStatus.Paused, resource = self.state.resource })
  return true
end

function AudioPlayer:unpause()
  if self.state.status ~= PlayerStatus.Paused then return false end
  setState(self, { status = PlayerStatus.Playing, resource = self.state.resource })
  return true
end

--- Stops playing. The resource still sends its closing silence unless `force`.
function AudioPlayer:stop(force)
  local r = self.state.resource
  if self.state.status == PlayerStatus.Idle or not r then return false end
  if force or r.silencePaddingFrames == 0 then
    r:destroy()
    self:_idle()
  else
    r:destroy()
    r.silenceRemaining = r.silencePaddingFrames
    if self.state.status ~= PlayerStatus.Playing then
      setState(self, { status = PlayerStatus.Playing, resource = r })
    end
  end
  return true
end

function AudioPlayer:_idle()
  local r = self.state.resource
  for _, c in ipairs(self:playable()) do c:setSpeaking(false) end
  setState(self, { status = PlayerStatus.Idle })
  if r and r.error then self:emit("error", r.error, r) end
end

-- One task sends the frames; deadlines are absolute, so the 20 ms do not drift.
function AudioPlayer:_loop()
  if self._running then return end
  self._running = true
  runtime.spawn(function()
    local nextAt = runtime.now()
    while self.state.status ~= PlayerStatus.Idle do
      local ok, err = util.try(self._cycle, self)
      if not ok then
        runtime.log("error", "voice", "audio player: " .. tostring(err))
        if self.state.resource then self.state.resource:destroy() end
        self:_idle()
        break
      end
      nextAt = nextAt + FRAME_MS
      local wait = nextAt - runtime.now()
      if wait < 0 then
        nextAt = runtime.now()
        wait = 0
      end
      runtime.sleep(wait)
    end
    self._running = false
  end)
end

function AudioPlayer:_sendSilence(targets)
  if self._silence > 0 then
    self._silence = self._silence - 1
    for _, c in ipairs(targets) do c:playOpusPacket(M.SILENCE_FRAME) end
    if self._silence == 0 then
      for _, c in ipairs(targets) do c:setSpeaking(false) end
    end
  end
end

function AudioPlayer:_cycle()
  local state = self.state
  local r = state.resource
  local targets = self:playable()
  if state.status == PlayerStatus.Paused or state.status == PlayerStatus.AutoPaused then
    self:_sendSilence(targets)
    if state.status == PlayerStatus.AutoPaused and #targets > 0 then
      setState(self, { status = PlayerStatus.Playing, resource = r })
    end
    return
  end
  if state.status == PlayerStatus.Buffering then
    if r.readable then
      setState(self, { status = PlayerStatus.Playing, resource = r })
    elseif r.ended and r.silenceRemaining == 0 then
      return self:_idle()
    else
      return
    end
  end
  if #targets == 0 then
    local b = self.behaviors.noSubscriber
    if b == M.NoSubscriberBehavior.Pause then
      self._silence = 0
      return setState(self, { status = PlayerStatus.AutoPaused, resource = r })
    elseif b == M.NoSubscriberBehavior.Stop then
      return self:stop(true)
    end
  end
  if not r.readable then
    if r.ended then return self:_idle() end
    self._missed = self._missed + 1
    if self._missed > self.behaviors.maxMissedFrames then
      self:debug("the resource gave no audio for too long")
      r:_fail(VoiceError("the audio source stalled"))
      self:stop(true)
    end
    return
  end
  self._missed = 0
  local packet = r:read()
  if not packet then return self:_idle() end
  for _, c in ipairs(targets) do
    if packet ~= M.SILENCE_FRAME then c:setSpeaking(true) end
    c:playOpusPacket(packet)
  end
  if not r.readable and r.ended then self:_idle() end
end

--- A player; `opts.behaviors`: noSubscriber ("pause", "play" or "stop"), maxMissedFrames (frames in a
--- row without audio before the player gives up on a resource; 250, five seconds).
function M.createAudioPlayer(opts) return AudioPlayer(opts) end

-- Diagnostics -------------------------------------------------------------------------------------------

--- A text listing what voice depends on and where it was found: the Lua version, the runtime's
--- encryption modes and Opus encoder, FFmpeg, FFprobe and yt-dlp.
function M.generateDependencyReport()
  local search = require("@discord/voice/search")
  local lines = { "Core", "- library: " .. require("discord.constants").VERSION, "- " .. _VERSION,
    "", "Encryption (best first)" }
  for _, mode in ipairs(_discord.aead_modes()) do lines[#lines + 1] = "- " .. mode end
  local ok = pcall(_discord.opus_encoder, 48000, 2, "audio")
  lines[#lines + 1] = ""
  lines[#lines + 1] = "Opus"
  lines[#lines + 1] = "- runtime encoder: " .. (ok and "yes" or "no")
  lines[#lines + 1] = "- DAVE protocol version offered: " .. M.MAX_DAVE_PROTOCOL_VERSION
  lines[#lines + 1] = ""
  lines[#lines + 1] = "Tools"
  for _, name in ipairs({ "ffmpeg", "ffprobe", "yt-dlp" }) do
    local path, msg = search.findTool(name, { refresh = true })
    lines[#lines + 1] = "- " .. name .. ": " .. (path or ("not found (" .. msg .. ")"))
  end
  return table.concat(lines, "\n")
end

return M
