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
--- Audio format: frames of 20 ms (FRAME_MS) and 960 samples (FRAME_SAMPLES), 48000 Hz, 2 channels.
---@type integer
M.FRAME_MS, M.FRAME_SAMPLES, M.SAMPLE_RATE, M.CHANNELS = FRAME_MS, FRAME_SAMPLES, 48000, 2
local PCM_FRAME_BYTES <const> = FRAME_SAMPLES * 2 * 2
--- Bytes of one 20 ms frame of 16-bit stereo PCM (3840).
---@type integer
M.PCM_FRAME_BYTES = PCM_FRAME_BYTES
--- The Opus frame of silence; Discord expects a few of them when a sender stops.
---@type string
M.SILENCE_FRAME = "\xF8\xFF\xFE"
local RTP_VERSION <const> = 0x80
local RTP_PAYLOAD_TYPE <const> = 0x78
local NONCE_SIZES = { aead_aes256_gcm_rtpsize = 12, aead_xchacha20_poly1305_rtpsize = 24 }
--- Nonce length in bytes of each transport encryption mode this library speaks.
---@type table<string, integer>
M.NONCE_SIZES = NONCE_SIZES
--- The end-to-end encryption (DAVE) version offered when the runtime has a secure random source.
---@type integer
M.MAX_DAVE_PROTOCOL_VERSION = 1
--- The voice gateway version spoken.
---@type integer
M.GATEWAY_VERSION = 8
local MAX_ATTEMPTS <const> = 5
--- Milliseconds between the UDP keep-alives that hold the NAT mapping open while no audio is sent.
---@type integer
M.KEEP_ALIVE_INTERVAL = 5000
local BUFFER_FRAMES <const> = 50

local function enum(t)
  return setmetatable(t, { __index = function(_, k) error("unknown voice constant " .. tostring(k), 2) end })
end

--- The states of a voice connection (`connection.state.status`); each is also the event of that state.
---@enum discord.VoiceConnectionStatus
M.VoiceConnectionStatus = enum({ Signalling = "signalling", Connecting = "connecting", Ready = "ready",
  Disconnected = "disconnected", Destroyed = "destroyed" })
--- Why a connection is disconnected (`state.reason` in the disconnected state).
---@enum discord.VoiceConnectionDisconnectReason
M.VoiceConnectionDisconnectReason = enum({ WebSocketClose = "websocketClose", AdapterUnavailable =
  "adapterUnavailable", EndpointRemoved = "endpointRemoved", Manual = "manual" })
--- The states of an audio player (`player.state.status`); each is also the event of that state.
---@enum discord.AudioPlayerStatus
M.AudioPlayerStatus = enum({ Idle = "idle", Buffering = "buffering", Playing = "playing", Paused = "paused",
  AutoPaused = "autopaused" })
--- What a player does while no connection can take its audio: pause (autopaused), play on, or stop.
---@enum discord.NoSubscriberBehavior
M.NoSubscriberBehavior = enum({ Pause = "pause", Play = "play", Stop = "stop" })
--- How a resource reads its input: through FFmpeg, as Ogg Opus, as s16le 48 kHz stereo PCM, or as packets.
---@enum discord.StreamType
M.StreamType = enum({ Arbitrary = "arbitrary", OggOpus = "ogg/opus", Raw = "raw", Opus = "opus" })
--- The speaking flags a connection sends with op 5 (bits).
---@enum discord.SpeakingFlags
M.SpeakingFlags = enum({ None = 0, Microphone = 1, Soundshare = 2, Priority = 4 })
--- What the bot's frames carry: transport encryption only, no end-to-end key yet, or end-to-end encryption.
---@enum discord.MediaEncryption
M.MediaEncryption = enum({ Transport = "transport", Pending = "pending", EndToEnd = "e2ee" })

local Status, PlayerStatus, StreamType = M.VoiceConnectionStatus, M.AudioPlayerStatus, M.StreamType
local DisconnectReason, Media, NoSubscriber = M.VoiceConnectionDisconnectReason, M.MediaEncryption,
  M.NoSubscriberBehavior
local SILENCE_FRAME <const> = M.SILENCE_FRAME

-- Errors ---------------------------------------------------------------------------------------------------

--- A voice failure: a fatal close of the voice gateway, a refused end-to-end encryption, a failed source.
---@class discord.VoiceError: discord.DiscordError
---@field code integer? The voice gateway's close code, when it closed.
---@field reason string? The close reason the voice gateway gave.
---@field dave boolean True when the channel requires end-to-end encryption (DAVE) that failed here.
---@field fatal boolean True when the connection gives up instead of reconnecting.
local VoiceError = util.class("VoiceError", errors.DiscordError)
M.VoiceError = VoiceError

--- Makes a voice error.
---@param message string What went wrong.
---@param info? {code?: integer, reason?: string, dave?: boolean, fatal?: boolean} The fields to set.
function VoiceError:init(message, info)
  errors.DiscordError.init(self, message)
  info = info or {}
  self.code, self.reason, self.dave, self.fatal = info.code, info.reason, info.dave == true, info.fatal == true
end

function VoiceError:__tostring()
  return "VoiceError" .. (self.code and ("[" .. self.code .. "]") or "") .. ": " .. self.message
end

--- The error text when a channel requires end-to-end encryption and the runtime has no secure random source.
---@type string
M.DAVE_REQUIRED = "This voice channel requires end-to-end encryption (DAVE), which needs runtime.random_bytes, "
  .. "a secure random source this runtime does not have; the connection was refused"

--- The DAVE version this runtime can offer: never without a secure random source.
---@return integer version MAX_DAVE_PROTOCOL_VERSION, or 0 without `runtime.random_bytes`.
function M.daveVersion() return runtime.random_bytes and M.MAX_DAVE_PROTOCOL_VERSION or 0 end

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
--- Each known close code of the voice gateway: {text, action}, the action as `closeAction` returns it.
---@type table<integer, string[]>
M.CloseCodes = CLOSE_CODES

--- What a connection does after the voice gateway closed: "resume", "new", "disconnected", "fatal" or "dave".
---@param code integer The close code.
---@param reason? string The close reason (some servers name DAVE there instead of using 4017).
---@return string action
function M.closeAction(code, reason)
  local known = CLOSE_CODES[code]
  if known then return known[2] end
  -- Some servers say it in words rather than with the code.
  if type(reason) == "string" and (reason:find("DAVE", 1, true) or reason:find("E2EE", 1, true)) then
    return "dave"
  end
  return "resume"
end

--- The `discord.VoiceError` that tells of a close of the voice gateway.
---@param code integer The close code.
---@param reason? string The close reason.
---@return discord.VoiceError err
local function closeError(code, reason)
  local action = M.closeAction(code, reason)
  local known = CLOSE_CODES[code]
  local text = known and known[1] or "Voice connection closed"
  if action == "dave" then
    text = M.daveVersion() > 0 and "The voice server refused this library's end-to-end encryption (DAVE) version "
      .. M.daveVersion() or M.DAVE_REQUIRED
  end
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

--- Waits until a connection or player reaches `status`; returns at once when it is there.
--- Raises `discord.VoiceError` after `timeout` ms, or the connection's error when it is destroyed first.
---@async
---@param target discord.VoiceConnection|discord.AudioPlayer What to watch.
---@param status discord.VoiceConnectionStatus|discord.AudioPlayerStatus The status to wait for.
---@param timeout? integer Milliseconds to wait at most (none: no limit).
---@return discord.VoiceConnection|discord.AudioPlayer target
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

-- End-to-end encryption primitives -----------------------------------------------------------------------
-- Pure Lua: the runtime brings no hash, cipher or curve. Secrets never steer a branch; the AES
-- S-box and round tables are the one place where secret bytes index a table (see docs/lua/guide/voice.md).
-- Takes the runtime (`rt`, its random source). Gives: randomBytes, equal, sha256, hmac, hkdfExtract,
-- hkdfExpand, aesEncryptBlock, gcm, gcmSeal, gcmOpen, publicKey, ecdh, ecdsaSign, ecdsaVerify,
-- ecdsaVerifyRaw, deriveKeyPair, generateKeyPair, sealBase, openBase (HPKE) and scrypt.

local daveCrypto = (function(rt)
  local spack, sunpack, schar, sbyte, srep, concat = string.pack, string.unpack, string.char, string.byte,
    string.rep, table.concat

  local function randomBytes(n)
    local source = rt.random_bytes
    if type(source) ~= "function" then
      error("DAVE needs runtime.random_bytes, a secure random source, which this runtime does not have", 2)
    end
    local bytes = source(n)
    if type(bytes) ~= "string" or #bytes ~= n then error("runtime.random_bytes returned the wrong size", 2) end
    return bytes
  end

  -- Compares without an early exit, so the time does not tell where two MACs differ.
  local function equal(a, b)
    if #a ~= #b then return false end
    local d = 0
    for i = 1, #a do d = d | (sbyte(a, i) ~ sbyte(b, i)) end
    return d == 0
  end

  local function xorBytes(a, b)
    local out = {}
    for i = 1, #a do out[i] = schar(sbyte(a, i) ~ sbyte(b, i)) end
    return concat(out)
  end

  -- SHA-256 ----------------------------------------------------------------------------------------------
  local K256 = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
  }
  local BLOCK_FORMAT = ">" .. srep("I4", 16)

  local function sha256(msg)
    local h0, h1, h2, h3 = 0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a
    local h4, h5, h6, h7 = 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19
    local len = #msg
    msg = msg .. "\x80" .. srep("\0", (55 - len) % 64) .. spack(">I8", len * 8)
    local w = {}
    for pos = 1, #msg, 64 do
      w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10], w[11], w[12], w[13], w[14], w[15], w[16] =
        sunpack(BLOCK_FORMAT, msg, pos)
      for i = 17, 64 do
        local x, y = w[i - 15], w[i - 2]
        local s0 = ((x >> 7 | x << 25) ~ (x >> 18 | x << 14) ~ (x >> 3)) & 0xffffffff
        local s1 = ((y >> 17 | y << 15) ~ (y >> 19 | y << 13) ~ (y >> 10)) & 0xffffffff
        w[i] = (w[i - 16] + s0 + w[i - 7] + s1) & 0xffffffff
      end
      local a, b, c, d, e, f, g, h = h0, h1, h2, h3, h4, h5, h6, h7
      for i = 1, 64 do
        local s1 = ((e >> 6 | e << 26) ~ (e >> 11 | e << 21) ~ (e >> 25 | e << 7)) & 0xffffffff
        local ch = (e & f) ~ (~e & g)
        local t1 = (h + s1 + ch + K256[i] + w[i]) & 0xffffffff
        local s0 = ((a >> 2 | a << 30) ~ (a >> 13 | a << 19) ~ (a >> 22 | a << 10)) & 0xffffffff
        local maj = (a & b) ~ (a & c) ~ (b & c)
        h, g, f, e, d, c, b, a = g, f, e, (d + t1) & 0xffffffff, c, b, a, (t1 + s0 + maj) & 0xffffffff
      end
      h0, h1, h2, h3 = (h0 + a) & 0xffffffff, (h1 + b) & 0xffffffff, (h2 + c) & 0xffffffff, (h3 + d) & 0xffffffff
      h4, h5, h6, h7 = (h4 + e) & 0xffffffff, (h5 + f) & 0xffffffff, (h6 + g) & 0xffffffff, (h7 + h) & 0xffffffff
    end
    return spack(">I4I4I4I4I4I4I4I4", h0, h1, h2, h3, h4, h5, h6, h7)
  end

  -- HMAC and HKDF ----------------------------------------------------------------------------------------
  local IPAD, OPAD = srep("\x36", 64), srep("\x5c", 64)

  local function hmac(keyBytes, msg)
    if #keyBytes > 64 then keyBytes = sha256(keyBytes) end
    keyBytes = keyBytes .. srep("\0", 64 - #keyBytes)
    return sha256(xorBytes(keyBytes, OPAD) .. sha256(xorBytes(keyBytes, IPAD) .. msg))
  end

  local function hkdfExtract(salt, ikm)
    if salt == nil or salt == "" then salt = srep("\0", 32) end
    return hmac(salt, ikm)
  end

  local function hkdfExpand(prk, info, length)
    if length > 255 * 32 then error("HKDF output too long: " .. length, 2) end
    local out, t = {}, ""
    for i = 1, (length + 31) // 32 do
      t = hmac(prk, t .. info .. schar(i))
      out[i] = t
    end
    return concat(out):sub(1, length)
  end

  -- AES-128 (encrypt direction only) ---------------------------------------------------------------------
  local SBOX = { sbyte(
    "\x63\x7c\x77\x7b\xf2\x6b\x6f\xc5\x30\x01\x67\x2b\xfe\xd7\xab\x76\xca\x82\xc9\x7d\xfa\x59\x47\xf0" ..
    "\xad\xd4\xa2\xaf\x9c\xa4\x72\xc0\xb7\xfd\x93\x26\x36\x3f\xf7\xcc\x34\xa5\xe5\xf1\x71\xd8\x31\x15" ..
    "\x04\xc7\x23\xc3\x18\x96\x05\x9a\x07\x12\x80\xe2\xeb\x27\xb2\x75\x09\x83\x2c\x1a\x1b\x6e\x5a\xa0" ..
    "\x52\x3b\xd6\xb3\x29\xe3\x2f\x84\x53\xd1\x00\xed\x20\xfc\xb1\x5b\x6a\xcb\xbe\x39\x4a\x4c\x58\xcf" ..
    "\xd0\xef\xaa\xfb\x43\x4d\x33\x85\x45\xf9\x02\x7f\x50\x3c\x9f\xa8\x51\xa3\x40\x8f\x92\x9d\x38\xf5" ..
    "\xbc\xb6\xda\x21\x10\xff\xf3\xd2\xcd\x0c\x13\xec\x5f\x97\x44\x17\xc4\xa7\x7e\x3d\x64\x5d\x19\x73" ..
    "\x60\x81\x4f\xdc\x22\x2a\x90\x88\x46\xee\xb8\x14\xde\x5e\x0b\xdb\xe0\x32\x3a\x0a\x49\x06\x24\x5c" ..
    "\xc2\xd3\xac\x62\x91\x95\xe4\x79\xe7\xc8\x37\x6d\x8d\xd5\x4e\xa9\x6c\x56\xf4\xea\x65\x7a\xae\x08" ..
    "\xba\x78\x25\x2e\x1c\xa6\xb4\xc6\xe8\xdd\x74\x1f\x4b\xbd\x8b\x8a\x70\x3e\xb5\x66\x48\x03\xf6\x0e" ..
    "\x61\x35\x57\xb9\x86\xc1\x1d\x9e\xe1\xf8\x98\x11\x69\xd9\x8e\x94\x9b\x1e\x87\xe9\xce\x55\x28\xdf" ..
    "\x8c\xa1\x89\x0d\xbf\xe6\x42\x68\x41\x99\x2d\x0f\xb0\x54\xbb\x16", 1, 256) }
  -- Indexed from 0: S[x] and the four round tables T0..T3 (column x of MixColumns(SubBytes)).
  local S, T0, T1, T2, T3 = {}, {}, {}, {}, {}
  for x = 0, 255 do
    local s = SBOX[x + 1]
    local s2 = ((s << 1) ~ ((s >> 7) * 0x1b)) & 0xff
    local s3 = s2 ~ s
    S[x] = s
    T0[x] = s2 << 24 | s << 16 | s << 8 | s3
    T1[x] = s3 << 24 | s2 << 16 | s << 8 | s
    T2[x] = s << 24 | s3 << 16 | s2 << 8 | s
    T3[x] = s << 24 | s << 16 | s3 << 8 | s2
  end
  local RCON = { 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36 }

  local function aesExpand(keyBytes)
    if type(keyBytes) ~= "string" or #keyBytes ~= 16 then error("AES-128 needs a 16-byte key", 3) end
    local rk = { sunpack(">I4I4I4I4", keyBytes) }
    rk[5] = nil
    for i = 5, 44 do
      local t = rk[i - 1]
      if i % 4 == 1 then
        t = (S[(t >> 16) & 0xff] << 24 | S[(t >> 8) & 0xff] << 16 | S[t & 0xff] << 8 | S[t >> 24])
          ~ (RCON[(i - 1) // 4] << 24)
      end
      rk[i] = rk[i - 4] ~ t
    end
    return rk
  end

  -- One block as four big-endian words.
  local function aesBlock(rk, s0, s1, s2, s3)
    s0, s1, s2, s3 = s0 ~ rk[1], s1 ~ rk[2], s2 ~ rk[3], s3 ~ rk[4]
    local k = 4
    for _ = 1, 9 do
      s0, s1, s2, s3 =
        T0[s0 >> 24] ~ T1[(s1 >> 16) & 0xff] ~ T2[(s2 >> 8) & 0xff] ~ T3[s3 & 0xff] ~ rk[k + 1],
        T0[s1 >> 24] ~ T1[(s2 >> 16) & 0xff] ~ T2[(s3 >> 8) & 0xff] ~ T3[s0 & 0xff] ~ rk[k + 2],
        T0[s2 >> 24] ~ T1[(s3 >> 16) & 0xff] ~ T2[(s0 >> 8) & 0xff] ~ T3[s1 & 0xff] ~ rk[k + 3],
        T0[s3 >> 24] ~ T1[(s0 >> 16) & 0xff] ~ T2[(s1 >> 8) & 0xff] ~ T3[s2 & 0xff] ~ rk[k + 4]
      k = k + 4
    end
    return
      (S[s0 >> 24] << 24 | S[(s1 >> 16) & 0xff] << 16 | S[(s2 >> 8) & 0xff] << 8 | S[s3 & 0xff]) ~ rk[41],
      (S[s1 >> 24] << 24 | S[(s2 >> 16) & 0xff] << 16 | S[(s3 >> 8) & 0xff] << 8 | S[s0 & 0xff]) ~ rk[42],
      (S[s2 >> 24] << 24 | S[(s3 >> 16) & 0xff] << 16 | S[(s0 >> 8) & 0xff] << 8 | S[s1 & 0xff]) ~ rk[43],
      (S[s3 >> 24] << 24 | S[(s0 >> 16) & 0xff] << 16 | S[(s1 >> 8) & 0xff] << 8 | S[s2 & 0xff]) ~ rk[44]
  end

  local function aesEncryptBlock(keyBytes, block)
    return spack(">I4I4I4I4", aesBlock(aesExpand(keyBytes), sunpack(">I4I4I4I4", block)))
  end

  -- GCM --------------------------------------------------------------------------------------------------
  local R_HIGH <const> = 0xE100000000000000

  -- X * H in GF(2^128), bit-reflected; masks instead of branches keep it independent of the data.
  local function gmul(xh, xl, hh, hl)
    local zh, zl, vh, vl = 0, 0, hh, hl
    for _, word in ipairs({ xh, xl }) do
      for i = 63, 0, -1 do
        local m = -((word >> i) & 1)
        zh, zl = zh ~ (vh & m), zl ~ (vl & m)
        local carry = -(vl & 1)
        vh, vl = (vh >> 1) ~ (R_HIGH & carry), (vl >> 1) | (vh << 63)
      end
    end
    return zh, zl
  end

  local function ghash(hh, hl, yh, yl, data)
    local n = #data
    if n % 16 ~= 0 then data = data .. srep("\0", 16 - n % 16) end
    for pos = 1, #data, 16 do
      local a, b = sunpack(">i8i8", data, pos)
      yh, yl = gmul(yh ~ a, yl ~ b, hh, hl)
    end
    return yh, yl
  end

  local Gcm = {}
  Gcm.__index = Gcm

  -- Counter mode from block inc32(J0) = IV || 2.
  function Gcm:_ctr(iv, input)
    local rk, c0, c1, c2 = self.rk, sunpack(">I4I4I4", iv)
    local out, ctr, n = {}, 2, #input
    for pos = 1, n, 16 do
      local k0, k1, k2, k3 = aesBlock(rk, c0, c1, c2, ctr)
      local ks = spack(">I4I4I4I4", k0, k1, k2, k3)
      local chunk = input:sub(pos, pos + 15)
      out[#out + 1] = xorBytes(chunk, ks)
      ctr = (ctr + 1) & 0xffffffff
    end
    return concat(out)
  end

  function Gcm:_tag(iv, aad, ct, tagLen)
    local yh, yl = ghash(self.hh, self.hl, 0, 0, aad)
    yh, yl = ghash(self.hh, self.hl, yh, yl, ct)
    yh, yl = gmul(yh ~ (#aad * 8), yl ~ (#ct * 8), self.hh, self.hl)
    local rk, c0, c1, c2 = self.rk, sunpack(">I4I4I4", iv)
    local e = spack(">I4I4I4I4", aesBlock(rk, c0, c1, c2, 1))
    return xorBytes(e, spack(">i8i8", yh, yl)):sub(1, tagLen)
  end

  local function checkIv(iv, tagLen)
    if type(iv) ~= "string" or #iv ~= 12 then error("AES-GCM needs a 12-byte nonce", 3) end
    if tagLen ~= 16 and tagLen ~= 8 then error("AES-GCM tags are 16 or 8 bytes", 3) end
  end

  --- ciphertext .. tag (tagLen 16, or 8 as media frames use).
  function Gcm:seal(iv, plaintext, aad, tagLen)
    tagLen = tagLen or 16
    checkIv(iv, tagLen)
    local ct = self:_ctr(iv, plaintext)
    return ct .. self:_tag(iv, aad or "", ct, tagLen)
  end

  --- The plaintext, or nil when the tag does not match.
  function Gcm:open(iv, sealed, aad, tagLen)
    tagLen = tagLen or 16
    checkIv(iv, tagLen)
    if #sealed < tagLen then return nil end
    local ct, tag = sealed:sub(1, -tagLen - 1), sealed:sub(-tagLen)
    if not equal(self:_tag(iv, aad or "", ct, tagLen), tag) then return nil end
    return self:_ctr(iv, ct)
  end

  --- An AES-128-GCM context for one key; reuse it for many messages under that key.
  local function gcm(keyBytes)
    local rk = aesExpand(keyBytes)
    local hh, hl = sunpack(">i8i8", spack(">I4I4I4I4", aesBlock(rk, 0, 0, 0, 0)))
    return setmetatable({ rk = rk, hh = hh, hl = hl }, Gcm)
  end

  local function gcmSeal(keyBytes, iv, plaintext, aad, tagLen) return gcm(keyBytes):seal(iv, plaintext, aad, tagLen) end
  local function gcmOpen(keyBytes, iv, sealed, aad, tagLen) return gcm(keyBytes):open(iv, sealed, aad, tagLen) end

  -- P-256 arithmetic ---------------------------------------------------------------------------------
  -- Numbers are nine 29-bit limbs, least significant first. Montgomery form with R = 2^261: since
  -- 4m < R, a product of two values below 2m is again below 2m, so products skip the final subtraction
  -- and sums and differences fold back below 2m with a masked subtraction.
  local LIMB <const>, MASK <const>, NL <const> = 29, (1 << 29) - 1, 9

  local function fromBytes(s)
    local r, acc, bits, k = {}, 0, 0, 1
    for i = #s, 1, -1 do
      acc, bits = acc | (sbyte(s, i) << bits), bits + 8
      if bits >= LIMB then r[k], acc, bits, k = acc & MASK, acc >> LIMB, bits - LIMB, k + 1 end
    end
    for i = k, NL do r[i], acc = acc & MASK, acc >> LIMB end
    return r
  end

  local function toBytes(r)
    local out, acc, bits, k = {}, 0, 0, 1
    for i = 32, 1, -1 do
      if bits < 8 then acc, bits, k = acc | (r[k] << bits), bits + LIMB, k + 1 end
      out[i], acc, bits = schar(acc & 0xff), acc >> 8, bits - 8
    end
    return concat(out)
  end

  -- Big-endian byte strings of equal length, compared as numbers (public values only).
  local function less(a, b)
    for i = 1, #a do
      local x, y = sbyte(a, i), sbyte(b, i)
      if x ~= y then return x < y end
    end
    return false
  end

  -- r - m if that is not negative, else r; r is below 2^261 in normalised limbs.
  local function condSub(r, m)
    local d, borrow = {}, 0
    for i = 1, NL do
      local v = r[i] - m[i] - borrow
      d[i], borrow = v & MASK, (v >> 63) & 1
    end
    local keep = -borrow
    for i = 1, NL do d[i] = (r[i] & keep) | (d[i] & ~keep) end
    return d
  end

  -- Multiplication and squaring modulo p = 2^256 - 2^224 + 2^192 + 2^96 - 1. In the Montgomery
  -- reduction of a product's columns t1..t17, p = -1 mod 2^29 makes each step's factor q the low limb
  -- itself, and q * p is q shifted four times (the -q only cancels the low limb, which is carried out
  -- whole); limbs may go negative on the way, so carries divide instead of shifting. Generated, as is
  -- the squaring, which doubles the cross products once.
  local function reduceP(t1, t2, t3, t4, t5, t6, t7, t8, t9, t10, t11, t12, t13, t14, t15, t16, t17)
    local q = t1 & MASK; t2 = t2 + t1 // 0x20000000; t4 = t4 + (q << 9); t7 = t7 + (q << 18); t8 = t8 - (q << 21)
    t9 = t9 + (q << 24)
    q = t2 & MASK; t3 = t3 + t2 // 0x20000000; t5 = t5 + (q << 9); t8 = t8 + (q << 18); t9 = t9 - (q << 21)
    t10 = t10 + (q << 24)
    q = t3 & MASK; t4 = t4 + t3 // 0x20000000; t6 = t6 + (q << 9); t9 = t9 + (q << 18); t10 = t10 - (q << 21)
    t11 = t11 + (q << 24)
    q = t4 & MASK; t5 = t5 + t4 // 0x20000000; t7 = t7 + (q << 9); t10 = t10 + (q << 18); t11 = t11 - (q << 21)
    t12 = t12 + (q << 24)
    q = t5 & MASK; t6 = t6 + t5 // 0x20000000; t8 = t8 + (q << 9); t11 = t11 + (q << 18); t12 = t12 - (q << 21)
    t13 = t13 + (q << 24)
    q = t6 & MASK; t7 = t7 + t6 // 0x20000000; t9 = t9 + (q << 9); t12 = t12 + (q << 18); t13 = t13 - (q << 21)
    t14 = t14 + (q << 24)
    q = t7 & MASK; t8 = t8 + t7 // 0x20000000; t10 = t10 + (q << 9); t13 = t13 + (q << 18); t14 = t14 - (q << 21)
    t15 = t15 + (q << 24)
    q = t8 & MASK; t9 = t9 + t8 // 0x20000000; t11 = t11 + (q << 9); t14 = t14 + (q << 18); t15 = t15 - (q << 21)
    t16 = t16 + (q << 24)
    q = t9 & MASK; t10 = t10 + t9 // 0x20000000; t12 = t12 + (q << 9); t15 = t15 + (q << 18); t16 = t16 - (q << 21)
    t17 = t17 + (q << 24)
    t11 = t11 + t10 // 0x20000000; t12 = t12 + t11 // 0x20000000; t13 = t13 + t12 // 0x20000000
    t14 = t14 + t13 // 0x20000000; t15 = t15 + t14 // 0x20000000; t16 = t16 + t15 // 0x20000000
    t17 = t17 + t16 // 0x20000000; local t18 = t17 // 0x20000000
    return { t10 & MASK, t11 & MASK, t12 & MASK, t13 & MASK, t14 & MASK, t15 & MASK, t16 & MASK, t17 & MASK, t18 }
  end

  -- Montgomery products: the columns of a * b, then the modulus' reduction of them.
  local function multiplier(reduce)
    return function(a, b)
      local a1, a2, a3, a4, a5, a6, a7, a8, a9 = a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]
      local b1, b2, b3, b4, b5, b6, b7, b8, b9 = b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9]
      local t1 = a1 * b1
      local t2 = a1 * b2 + a2 * b1
      local t3 = a1 * b3 + a2 * b2 + a3 * b1
      local t4 = a1 * b4 + a2 * b3 + a3 * b2 + a4 * b1
      local t5 = a1 * b5 + a2 * b4 + a3 * b3 + a4 * b2 + a5 * b1
      local t6 = a1 * b6 + a2 * b5 + a3 * b4 + a4 * b3 + a5 * b2 + a6 * b1
      local t7 = a1 * b7 + a2 * b6 + a3 * b5 + a4 * b4 + a5 * b3 + a6 * b2 + a7 * b1
      local t8 = a1 * b8 + a2 * b7 + a3 * b6 + a4 * b5 + a5 * b4 + a6 * b3 + a7 * b2 + a8 * b1
      local t9 = a1 * b9 + a2 * b8 + a3 * b7 + a4 * b6 + a5 * b5 + a6 * b4 + a7 * b3 + a8 * b2 + a9 * b1
      local t10 = a2 * b9 + a3 * b8 + a4 * b7 + a5 * b6 + a6 * b5 + a7 * b4 + a8 * b3 + a9 * b2
      local t11 = a3 * b9 + a4 * b8 + a5 * b7 + a6 * b6 + a7 * b5 + a8 * b4 + a9 * b3
      local t12 = a4 * b9 + a5 * b8 + a6 * b7 + a7 * b6 + a8 * b5 + a9 * b4
      local t13 = a5 * b9 + a6 * b8 + a7 * b7 + a8 * b6 + a9 * b5
      local t14 = a6 * b9 + a7 * b8 + a8 * b7 + a9 * b6
      local t15 = a7 * b9 + a8 * b8 + a9 * b7
      local t16 = a8 * b9 + a9 * b8
      local t17 = a9 * b9
      return reduce(t1, t2, t3, t4, t5, t6, t7, t8, t9, t10, t11, t12, t13, t14, t15, t16, t17)
    end
  end
  local pmul = multiplier(reduceP)

  local function psqr(a)
    local a1, a2, a3, a4, a5, a6, a7, a8, a9 = a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]
    local d1, d2, d3, d4, d5, d6, d7, d8 = a1 << 1, a2 << 1, a3 << 1, a4 << 1, a5 << 1, a6 << 1, a7 << 1, a8 << 1
    local t1 = a1 * a1
    local t2 = d1 * a2
    local t3 = d1 * a3 + a2 * a2
    local t4 = d1 * a4 + d2 * a3
    local t5 = d1 * a5 + d2 * a4 + a3 * a3
    local t6 = d1 * a6 + d2 * a5 + d3 * a4
    local t7 = d1 * a7 + d2 * a6 + d3 * a5 + a4 * a4
    local t8 = d1 * a8 + d2 * a7 + d3 * a6 + d4 * a5
    local t9 = d1 * a9 + d2 * a8 + d3 * a7 + d4 * a6 + a5 * a5
    local t10 = d2 * a9 + d3 * a8 + d4 * a7 + d5 * a6
    local t11 = d3 * a9 + d4 * a8 + d5 * a7 + a6 * a6
    local t12 = d4 * a9 + d5 * a8 + d6 * a7
    local t13 = d5 * a9 + d6 * a8 + a7 * a7
    local t14 = d6 * a9 + d7 * a8
    local t15 = d7 * a9 + a8 * a8
    local t16 = d8 * a9
    local t17 = a9 * a9
    return reduceP(t1, t2, t3, t4, t5, t6, t7, t8, t9, t10, t11, t12, t13, t14, t15, t16, t17)
  end

  -- `mul` and `sqr` replace the generic Montgomery product when the modulus has a faster one.
  local function newField(modHex, fastMul, fastSqr)
    local F = { m = fromBytes((modHex:gsub("..", function(h) return schar(tonumber(h, 16)) end))) }
    local m = F.m
    F.m2 = {}
    local c = 0
    for i = 1, NL do
      local v = 2 * m[i] + c
      F.m2[i], c = v & MASK, v >> LIMB
    end
    -- -m^-1 mod 2^29 by Newton's iteration.
    local inv = 1
    for _ = 1, 5 do inv = (inv * (2 - m[1] * inv)) & MASK end
    local minv = (-inv) & MASK

    local m1, m2, m3, m4, m5, m6, m7, m8, m9 = table.unpack(m)
    local n1, n2, n3, n4, n5, n6, n7, n8, n9 = table.unpack(F.m2)

    -- The reduction for any modulus; unrolled: locals instead of table slots make it several times faster.
    local function reduce(t1, t2, t3, t4, t5, t6, t7, t8, t9, t10, t11, t12, t13, t14, t15, t16, t17)
      local t18 = 0
      local q = (t1 * minv) & MASK; t1 = t1 + q * m1; t2 = t2 + q * m2; t3 = t3 + q * m3; t4 = t4 + q * m4
      t5 = t5 + q * m5; t6 = t6 + q * m6; t7 = t7 + q * m7; t8 = t8 + q * m8; t9 = t9 + q * m9; t2 = t2 + (t1 >> 29)
      q = (t2 * minv) & MASK; t2 = t2 + q * m1; t3 = t3 + q * m2; t4 = t4 + q * m3; t5 = t5 + q * m4; t6 = t6 + q * m5
      t7 = t7 + q * m6; t8 = t8 + q * m7; t9 = t9 + q * m8; t10 = t10 + q * m9; t3 = t3 + (t2 >> 29)
      q = (t3 * minv) & MASK; t3 = t3 + q * m1; t4 = t4 + q * m2; t5 = t5 + q * m3; t6 = t6 + q * m4; t7 = t7 + q * m5
      t8 = t8 + q * m6; t9 = t9 + q * m7; t10 = t10 + q * m8; t11 = t11 + q * m9; t4 = t4 + (t3 >> 29)
      q = (t4 * minv) & MASK; t4 = t4 + q * m1; t5 = t5 + q * m2; t6 = t6 + q * m3; t7 = t7 + q * m4; t8 = t8 + q * m5
      t9 = t9 + q * m6; t10 = t10 + q * m7; t11 = t11 + q * m8; t12 = t12 + q * m9; t5 = t5 + (t4 >> 29)
      q = (t5 * minv) & MASK; t5 = t5 + q * m1; t6 = t6 + q * m2; t7 = t7 + q * m3; t8 = t8 + q * m4; t9 = t9 + q * m5
      t10 = t10 + q * m6; t11 = t11 + q * m7; t12 = t12 + q * m8; t13 = t13 + q * m9; t6 = t6 + (t5 >> 29)
      q = (t6 * minv) & MASK; t6 = t6 + q * m1; t7 = t7 + q * m2; t8 = t8 + q * m3; t9 = t9 + q * m4; t10 = t10 + q * m5
      t11 = t11 + q * m6; t12 = t12 + q * m7; t13 = t13 + q * m8; t14 = t14 + q * m9; t7 = t7 + (t6 >> 29)
      q = (t7 * minv) & MASK; t7 = t7 + q * m1; t8 = t8 + q * m2; t9 = t9 + q * m3; t10 = t10 + q * m4
      t11 = t11 + q * m5; t12 = t12 + q * m6; t13 = t13 + q * m7; t14 = t14 + q * m8; t15 = t15 + q * m9
      t8 = t8 + (t7 >> 29)
      q = (t8 * minv) & MASK; t8 = t8 + q * m1; t9 = t9 + q * m2; t10 = t10 + q * m3; t11 = t11 + q * m4
      t12 = t12 + q * m5; t13 = t13 + q * m6; t14 = t14 + q * m7; t15 = t15 + q * m8; t16 = t16 + q * m9
      t9 = t9 + (t8 >> 29)
      q = (t9 * minv) & MASK; t9 = t9 + q * m1; t10 = t10 + q * m2; t11 = t11 + q * m3; t12 = t12 + q * m4
      t13 = t13 + q * m5; t14 = t14 + q * m6; t15 = t15 + q * m7; t16 = t16 + q * m8; t17 = t17 + q * m9
      t10 = t10 + (t9 >> 29)
      t11 = t11 + (t10 >> 29); t12 = t12 + (t11 >> 29); t13 = t13 + (t12 >> 29); t14 = t14 + (t13 >> 29)
      t15 = t15 + (t14 >> 29); t16 = t16 + (t15 >> 29); t17 = t17 + (t16 >> 29); t18 = t18 + (t17 >> 29)
      return { t10 & MASK, t11 & MASK, t12 & MASK, t13 & MASK, t14 & MASK, t15 & MASK, t16 & MASK, t17 & MASK, t18 }
    end
    local genericMul = multiplier(reduce)

    -- Carries the limbs, then takes n off once without a branch when the sum reached it.
    local function subtractOnce(r1, r2, r3, r4, r5, r6, r7, r8, r9)
      r1 = r1 & MASK; r2 = r2 & MASK; r3 = r3 & MASK; r4 = r4 & MASK; r5 = r5 & MASK; r6 = r6 & MASK; r7 = r7 & MASK
      r8 = r8 & MASK
      local d1 = r1 - n1; local d2 = r2 - n2 - ((d1 >> 63) & 1); local d3 = r3 - n3 - ((d2 >> 63) & 1)
      local d4 = r4 - n4 - ((d3 >> 63) & 1); local d5 = r5 - n5 - ((d4 >> 63) & 1)
      local d6 = r6 - n6 - ((d5 >> 63) & 1); local d7 = r7 - n7 - ((d6 >> 63) & 1)
      local d8 = r8 - n8 - ((d7 >> 63) & 1); local d9 = r9 - n9 - ((d8 >> 63) & 1); local keep = -((d9 >> 63) & 1)
      local drop = ~keep & MASK
      return { (r1 & keep) | (d1 & drop), (r2 & keep) | (d2 & drop), (r3 & keep) | (d3 & drop),
        (r4 & keep) | (d4 & drop), (r5 & keep) | (d5 & drop), (r6 & keep) | (d6 & drop),
        (r7 & keep) | (d7 & drop), (r8 & keep) | (d8 & drop), (r9 & keep) | (d9 & drop) }
    end

    function F.add(a, b)
      local r1 = a[1] + b[1]; local r2 = a[2] + b[2] + (r1 >> 29); local r3 = a[3] + b[3] + (r2 >> 29)
      local r4 = a[4] + b[4] + (r3 >> 29); local r5 = a[5] + b[5] + (r4 >> 29); local r6 = a[6] + b[6] + (r5 >> 29)
      local r7 = a[7] + b[7] + (r6 >> 29); local r8 = a[8] + b[8] + (r7 >> 29); local r9 = a[9] + b[9] + (r8 >> 29)
      return subtractOnce(r1, r2, r3, r4, r5, r6, r7, r8, r9)
    end

    function F.sub(a, b)
      local r1 = a[1] - b[1] + n1; local r2 = a[2] - b[2] + n2 + r1 // 0x20000000
      local r3 = a[3] - b[3] + n3 + r2 // 0x20000000; local r4 = a[4] - b[4] + n4 + r3 // 0x20000000
      local r5 = a[5] - b[5] + n5 + r4 // 0x20000000; local r6 = a[6] - b[6] + n6 + r5 // 0x20000000
      local r7 = a[7] - b[7] + n7 + r6 // 0x20000000; local r8 = a[8] - b[8] + n8 + r7 // 0x20000000
      local r9 = a[9] - b[9] + n9 + r8 // 0x20000000
      return subtractOnce(r1, r2, r3, r4, r5, r6, r7, r8, r9)
    end
    F.mul = fastMul or genericMul
    F.sqr = fastSqr or function(a) return genericMul(a, a) end
    local mul, sqr = F.mul, F.sqr

    local R2 = { 1, 0, 0, 0, 0, 0, 0, 0, 0 }
    for _ = 1, 2 * LIMB * NL do R2 = F.add(R2, R2) end
    R2 = condSub(R2, m)
    F.one = mul(R2, { 1, 0, 0, 0, 0, 0, 0, 0, 0 })

    --- Any 32-byte big-endian number, into Montgomery form.
    function F.decode(s) return mul(fromBytes(s), R2) end
    --- The fully reduced value as 32 bytes.
    function F.encode(a) return toBytes(condSub(mul(a, { 1, 0, 0, 0, 0, 0, 0, 0, 0 }), m)) end

    -- a^(m-2): the exponent is public, so its bits may steer the loop.
    local exponent = toBytes(condSub(F.sub({ 0, 0, 0, 0, 0, 0, 0, 0, 0 }, { 2, 0, 0, 0, 0, 0, 0, 0, 0 }), m))
    function F.invert(a)
      local r = F.one
      for i = 1, 32 do
        local byte = sbyte(exponent, i)
        for bit = 7, 0, -1 do
          r = sqr(r)
          if (byte >> bit) & 1 == 1 then r = mul(r, a) end
        end
      end
      return r
    end
    return F
  end

  local P_HEX <const> = "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff"
  local N_HEX <const> = "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551"
  local Fp, Fn = newField(P_HEX, pmul, psqr), newField(N_HEX)

  -- Sums and differences modulo p stay below 4p instead of 2p (products of values below 4p are still
  -- below 2p, since 16p < R): the bits above 2^256 fold back through 2^256 = 2^224 - 2^192 - 2^96 + 1
  -- (mod p), with p added so that no limb goes negative, in place of a masked subtraction.
  local function foldP(r1, r2, r3, r4, r5, r6, r7, r8, r9)
    local top = r9 >> 24
    r1 = r1 + top + MASK; r2 = r2 + MASK + (r1 >> 29); r3 = r3 + MASK + (r2 >> 29)
    r4 = r4 + 0x1ff - (top << 9) + (r3 >> 29); r5 = r5 + r4 // 0x20000000; r6 = r6 + r5 // 0x20000000
    r7 = r7 + 0x40000 - (top << 18) + r6 // 0x20000000; r8 = r8 + 0x1fe00000 + (top << 21) + r7 // 0x20000000
    r9 = (r9 & 0xffffff) + 0xffffff + r8 // 0x20000000
    return { r1 & MASK, r2 & MASK, r3 & MASK, r4 & MASK, r5 & MASK, r6 & MASK, r7 & MASK, r8 & MASK, r9 }
  end
  function Fp.add(a, b)
    local r1 = a[1] + b[1]; local r2 = a[2] + b[2] + (r1 >> 29); local r3 = a[3] + b[3] + (r2 >> 29)
    local r4 = a[4] + b[4] + (r3 >> 29); local r5 = a[5] + b[5] + (r4 >> 29); local r6 = a[6] + b[6] + (r5 >> 29)
    local r7 = a[7] + b[7] + (r6 >> 29); local r8 = a[8] + b[8] + (r7 >> 29); local r9 = a[9] + b[9] + (r8 >> 29)
    return foldP(r1 & MASK, r2 & MASK, r3 & MASK, r4 & MASK, r5 & MASK, r6 & MASK, r7 & MASK, r8 & MASK, r9)
  end
  -- a - b + 4p, whose limbs are 0x1ffffffc, 0x1fffffff (twice), 0x7ff, 0, 0, 0x100000, 0x1f800000, 0x3ffffff.
  function Fp.sub(a, b)
    local r1 = a[1] - b[1] + 0x1ffffffc; local r2 = a[2] - b[2] + 0x1fffffff + r1 // 0x20000000
    local r3 = a[3] - b[3] + 0x1fffffff + r2 // 0x20000000; local r4 = a[4] - b[4] + 0x7ff + r3 // 0x20000000
    local r5 = a[5] - b[5] + r4 // 0x20000000; local r6 = a[6] - b[6] + r5 // 0x20000000
    local r7 = a[7] - b[7] + 0x100000 + r6 // 0x20000000; local r8 = a[8] - b[8] + 0x1f800000 + r7 // 0x20000000
    local r9 = a[9] - b[9] + 0x3ffffff + r8 // 0x20000000
    return foldP(r1 & MASK, r2 & MASK, r3 & MASK, r4 & MASK, r5 & MASK, r6 & MASK, r7 & MASK, r8 & MASK, r9)
  end
  -- k * a for a small k (up to 8).
  local function fsmall(a, k)
    local r1 = a[1] * k; local r2 = a[2] * k + (r1 >> 29); local r3 = a[3] * k + (r2 >> 29)
    local r4 = a[4] * k + (r3 >> 29); local r5 = a[5] * k + (r4 >> 29); local r6 = a[6] * k + (r5 >> 29)
    local r7 = a[7] * k + (r6 >> 29); local r8 = a[8] * k + (r7 >> 29); local r9 = a[9] * k + (r8 >> 29)
    return foldP(r1 & MASK, r2 & MASK, r3 & MASK, r4 & MASK, r5 & MASK, r6 & MASK, r7 & MASK, r8 & MASK, r9)
  end
  local fmul, fsqr, fadd, fsub = Fp.mul, Fp.sqr, Fp.add, Fp.sub

  -- a^(p-2) by a chain over p - 2 = ffffffff 00000001 0^96 ffffffff ffffffff fffffffd (hex): 255
  -- squarings and 12 multiplications instead of about 128.
  local function sqrn(a, n)
    for _ = 1, n do a = fsqr(a) end
    return a
  end
  function Fp.invert(a)
    local x2 = fmul(fsqr(a), a)
    local x3 = fmul(fsqr(x2), a)
    local x6 = fmul(sqrn(x3, 3), x3)
    local x12 = fmul(sqrn(x6, 6), x6)
    local x15 = fmul(sqrn(x12, 3), x3)
    local x30 = fmul(sqrn(x15, 15), x15)
    local x32 = fmul(sqrn(x30, 2), x2)
    local r = sqrn(fmul(sqrn(x32, 32), a), 96)
    r = fmul(sqrn(r, 32), x32)
    r = fmul(sqrn(r, 32), x32)
    return fmul(sqrn(fmul(sqrn(r, 30), x30), 2), a)
  end
  local function unhex(h) return (h:gsub("..", function(x) return schar(tonumber(x, 16)) end)) end
  local P_BYTES, N_BYTES = unhex(P_HEX), unhex(N_HEX)
  local B = Fp.decode(unhex("5ac635d8aa3a93e7b3ebbd55769886bc651d06b0cc53b0f63bce3c3e27d2604b"))
  local ZERO32 = srep("\0", 32)

  -- Complete projective addition for a = -3 (Renes, Costello and Batina, 2015): no special case for
  -- doubling or the point at infinity (0:1:0), hence no branch on the points.
  local function padd(p, q)
    local x1, y1, z1, x2, y2, z2 = p[1], p[2], p[3], q[1], q[2], q[3]
    local t0, t1, t2 = fmul(x1, x2), fmul(y1, y2), fmul(z1, z2)
    local t3 = fmul(fadd(x1, y1), fadd(x2, y2))
    local t4 = fadd(t0, t1)
    t3 = fsub(t3, t4)
    t4 = fmul(fadd(y1, z1), fadd(y2, z2))
    local x3 = fadd(t1, t2)
    t4 = fsub(t4, x3)
    x3 = fmul(fadd(x1, z1), fadd(x2, z2))
    local y3 = fadd(t0, t2)
    y3 = fsub(x3, y3)
    local z3 = fmul(B, t2)
    x3 = fsub(y3, z3)
    z3 = fadd(x3, x3)
    x3 = fadd(x3, z3)
    z3 = fsub(t1, x3)
    x3 = fadd(t1, x3)
    y3 = fmul(B, y3)
    t1 = fadd(t2, t2)
    t2 = fadd(t1, t2)
    y3 = fsub(fsub(y3, t2), t0)
    t1 = fadd(y3, y3)
    y3 = fadd(t1, y3)
    t1 = fadd(t0, t0)
    t0 = fsub(fadd(t1, t0), t2)
    t1 = fmul(t4, y3)
    t2 = fmul(t0, y3)
    y3 = fadd(fmul(x3, z3), t2)
    x3 = fsub(fmul(t3, x3), t1)
    z3 = fadd(fmul(t4, z3), fmul(t3, t0))
    return { x3, y3, z3 }
  end

  -- Scalar multiplication works in Jacobian coordinates (x = X/Z^2, y = Y/Z^3), whose doubling and
  -- addition cost about half the complete formulas'. Their exceptions (a point at infinity, equal
  -- points) are met only where a digit is zero or before the first nonzero digit: with k < n the
  -- running sum never equals nor cancels the multiple it is given, so masks pick the right result.
  local function jdouble(p)
    local x, y, z = p[1], p[2], p[3]
    local delta, gamma = fsqr(z), fsqr(y)
    local beta = fmul(x, gamma)
    local alpha = fsmall(fmul(fsub(x, delta), fadd(x, delta)), 3)
    local beta4 = fsmall(beta, 4)
    local x3 = fsub(fsqr(alpha), fadd(beta4, beta4))
    return { x3, fsub(fmul(alpha, fsub(beta4, x3)), fsmall(fsqr(gamma), 8)), fsmall(fmul(y, z), 2) }
  end

  -- p + q for p ~= +-q, neither at infinity.
  local function jadd(p, q)
    local x1, y1, z1, x2, y2, z2 = p[1], p[2], p[3], q[1], q[2], q[3]
    local z1z1, z2z2 = fsqr(z1), fsqr(z2)
    local u1, u2 = fmul(x1, z2z2), fmul(x2, z1z1)
    local s1, s2 = fmul(fmul(y1, z2), z2z2), fmul(fmul(y2, z1), z1z1)
    local h = fsub(u2, u1)
    local i = fsqr(fadd(h, h))
    local j, v = fmul(h, i), fmul(u1, i)
    local r = fsub(s2, s1)
    r = fadd(r, r)
    local x3 = fsub(fsub(fsqr(r), j), fadd(v, v))
    local s1j = fmul(s1, j)
    local z3 = fmul(fmul(z1, z2), h)
    return { x3, fsub(fmul(r, fsub(v, x3)), fadd(s1j, s1j)), fadd(z3, z3) }
  end

  -- p + q for an affine q (x, y; Z = 1) under the same conditions: five multiplications fewer.
  local function jaddAffine(p, q)
    local x1, y1, z1, x2, y2 = p[1], p[2], p[3], q[1], q[2]
    local z1z1 = fsqr(z1)
    local h = fsub(fmul(x2, z1z1), x1)
    local i = fsmall(fsqr(h), 4)
    local j, v = fmul(h, i), fmul(x1, i)
    local r = fsub(fmul(fmul(y2, z1), z1z1), y1)
    r = fadd(r, r)
    local x3 = fsub(fsub(fsqr(r), j), fadd(v, v))
    local y1j, z3 = fmul(y1, j), fmul(z1, h)
    return { x3, fsub(fmul(r, fsub(v, x3)), fadd(y1j, y1j)), fadd(z3, z3) }
  end

  local INFINITY = { Fp.one, Fp.one, { 0, 0, 0, 0, 0, 0, 0, 0, 0 } }

  -- mask ? a : b, limb by limb (written out, as in select: loops over the limbs cost twice as much).
  local function choose(mask, a, b)
    local out, keep = {}, ~mask
    for c = 1, 3 do
      local x, y = a[c], b[c]
      out[c] = { (x[1] & mask) | (y[1] & keep), (x[2] & mask) | (y[2] & keep), (x[3] & mask) | (y[3] & keep),
        (x[4] & mask) | (y[4] & keep), (x[5] & mask) | (y[5] & keep), (x[6] & mask) | (y[6] & keep),
        (x[7] & mask) | (y[7] & keep), (x[8] & mask) | (y[8] & keep), (x[9] & mask) | (y[9] & keep) }
    end
    return out
  end

  -- tbl[index] for a secret index (zeros for 0), read through masks over every entry; entries of an
  -- affine table (tbl.affine) have no Z.
  local function select(tbl, index)
    local coords = tbl.affine and 2 or 3
    local out = { nil, nil, Fp.one }
    for c = 1, coords do
      local o1, o2, o3, o4, o5, o6, o7, o8, o9 = 0, 0, 0, 0, 0, 0, 0, 0, 0
      for i = 1, #tbl do
        local mask, v = -(((i ~ index) - 1) >> 63), tbl[i][c]
        o1, o2, o3 = o1 | (v[1] & mask), o2 | (v[2] & mask), o3 | (v[3] & mask)
        o4, o5, o6 = o4 | (v[4] & mask), o5 | (v[5] & mask), o6 | (v[6] & mask)
        o7, o8, o9 = o7 | (v[7] & mask), o8 | (v[8] & mask), o9 | (v[9] & mask)
      end
      out[c] = { o1, o2, o3, o4, o5, o6, o7, o8, o9 }
    end
    return out
  end

  -- q + digit * P with tbl[j] = j * P; `started` is all ones once a nonzero digit was added.
  local function addDigit(q, tbl, digit, started)
    local t = select(tbl, digit)
    local zero = -((digit - 1) >> 63)
    local sum = tbl.affine and jaddAffine(q, t) or jadd(q, t)
    return choose(zero, q, choose(started, sum, t)), started | ~zero
  end

  -- The same for a public digit (signature checks), with branches instead of masks.
  local function addPublicDigit(q, tbl, digit, started)
    if digit == 0 then return q, started end
    local t = tbl[digit]
    if started == 0 then return { t[1], t[2], t[3] or Fp.one }, -1 end
    return tbl.affine and jaddAffine(q, t) or jadd(q, t), -1
  end

  local function multiples(p)
    local tbl = { p, jdouble(p) }
    for i = 3, 15 do tbl[i] = jadd(tbl[i - 1], p) end
    return tbl
  end

  -- k * P for a 32-byte scalar, four bits at a time; `add` is addDigit unless k is public.
  local function scalarMult(k, p, add)
    add = add or addDigit
    local tbl, q, started = multiples(p), INFINITY, 0
    for i = 1, 32 do
      local byte = sbyte(k, i)
      for _ = 1, 4 do q = jdouble(q) end
      q, started = add(q, tbl, byte >> 4, started)
      for _ = 1, 4 do q = jdouble(q) end
      q, started = add(q, tbl, byte & 15, started)
    end
    return q
  end

  local G = { Fp.decode(unhex("6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296")),
    Fp.decode(unhex("4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5")), Fp.one }

  -- The points of the tables made affine with one inversion (Montgomery's trick).
  local function toAffine(tables)
    local points, prefix = {}, {}
    for _, tbl in ipairs(tables) do
      for _, p in ipairs(tbl) do points[#points + 1] = p end
    end
    local acc = Fp.one
    for i, p in ipairs(points) do
      prefix[i] = acc
      acc = fmul(acc, p[3])
    end
    local inv = Fp.invert(acc)
    for i = #points, 1, -1 do
      local p = points[i]
      local zinv = fmul(inv, prefix[i])
      inv = fmul(inv, p[3])
      local zinv2 = fsqr(zinv)
      p[1], p[2], p[3] = fmul(p[1], zinv2), fmul(fmul(p[2], zinv2), zinv), nil
    end
    for _, tbl in ipairs(tables) do tbl.affine = true end
  end

  -- k * G from 64 affine tables of j * 16^w * G, built on first use: 64 additions and no doublings.
  local baseTables
  local function baseMult(k, add)
    add = add or addDigit
    if not baseTables then
      local tables, base = {}, G
      for w = 64, 1, -1 do
        tables[w] = multiples(base)
        base = jdouble(tables[w][8])
      end
      toAffine(tables)
      baseTables = tables
    end
    local q, started = INFINITY, 0
    for i = 1, 32 do
      local byte = sbyte(k, i)
      q, started = add(q, baseTables[2 * i - 1], byte >> 4, started)
      q, started = add(q, baseTables[2 * i], byte & 15, started)
    end
    return q
  end

  local function isZero(a) return equal(Fp.encode(a), ZERO32) end

  -- The same point in homogeneous coordinates (x = X/Z), as the complete addition takes it.
  local function projective(p) return { fmul(p[1], p[3]), p[2], fmul(fsqr(p[3]), p[3]) } end

  -- The affine x and y of a Jacobian point as 32-byte strings, or nil for the point at infinity.
  local function affine(p)
    if isZero(p[3]) then return nil end
    local zinv = Fp.invert(p[3])
    local zinv2 = fsqr(zinv)
    return Fp.encode(fmul(p[1], zinv2)), Fp.encode(fmul(fmul(p[2], zinv2), zinv))
  end

  local function encodePoint(p)
    local x, y = affine(p)
    return "\4" .. x .. y
  end

  --- An uncompressed point (04 || X || Y) on the curve, or nil and why.
  local function decodePoint(s)
    if type(s) ~= "string" or #s ~= 65 or sbyte(s, 1) ~= 4 then return nil, "not an uncompressed P-256 point" end
    local xs, ys = s:sub(2, 33), s:sub(34, 65)
    if not (less(xs, P_BYTES) and less(ys, P_BYTES)) then return nil, "coordinate out of range" end
    local x, y = Fp.decode(xs), Fp.decode(ys)
    local rhs = fadd(fsub(fmul(fmul(x, x), x), fadd(fadd(x, x), x)), B)
    if Fp.encode(fmul(y, y)) ~= Fp.encode(rhs) then return nil, "point not on the curve" end
    return { x, y, Fp.one }
  end

  -- 1 <= k < n for a secret k: the borrow of k - n and an OR of the bytes, without early exits.
  local function validScalar(k)
    if #k ~= 32 then return false end
    local borrow, any = 0, 0
    for i = 32, 1, -1 do
      local x = sbyte(k, i)
      borrow, any = ((x - sbyte(N_BYTES, i) - borrow) >> 63) & 1, any | x
    end
    return (borrow & ((any + 0xff) >> 8)) == 1
  end

  --- The public key (65 bytes) of a private scalar (32 bytes, 1 <= k < n).
  local function publicKey(sk)
    if not validScalar(sk) then error("invalid P-256 private key", 2) end
    return encodePoint(baseMult(sk))
  end

  --- The x coordinate of sk * pub, or nil and why when pub is not a valid point.
  local function ecdh(sk, pub)
    if not validScalar(sk) then error("invalid P-256 private key", 2) end
    local p, err = decodePoint(pub)
    if not p then return nil, err end
    local x = affine(scalarMult(sk, p))
    if not x then return nil, "shared point at infinity" end
    return x
  end

  -- ECDSA ------------------------------------------------------------------------------------------------
  local function nmul(a, b) return Fn.mul(a, b) end

  -- RFC 6979 k for SHA-256: the same key and message always give the same signature.
  local function deterministicK(sk, h, skip)
    local h1 = Fn.encode(Fn.decode(h))
    local v, k = srep("\1", 32), srep("\0", 32)
    k = hmac(k, v .. "\0" .. sk .. h1)
    v = hmac(k, v)
    k = hmac(k, v .. "\1" .. sk .. h1)
    v = hmac(k, v)
    while true do
      v = hmac(k, v)
      if validScalar(v) then
        if skip == 0 then return v end
        skip = skip - 1
      end
      k = hmac(k, v .. "\0")
      v = hmac(k, v)
    end
  end

  local function trimInteger(v)
    v = v:gsub("^%z+", "")
    if v == "" or sbyte(v, 1) >= 0x80 then v = "\0" .. v end
    return "\2" .. schar(#v) .. v
  end

  --- A DER signature of SHA-256(msg); raw = true gives r || s (64 bytes) instead.
  local function ecdsaSign(sk, msg, raw)
    if not validScalar(sk) then error("invalid P-256 private key", 2) end
    local h = sha256(msg)
    local e, d = Fn.decode(h), Fn.decode(sk)
    -- A zero r or s (never seen in practice) takes the next k of the same sequence.
    for attempt = 0, math.huge do
      local k = deterministicK(sk, h, attempt)
      local r = Fn.decode(affine(baseMult(k)))
      local rb = Fn.encode(r)
      local s = Fn.encode(nmul(Fn.invert(Fn.decode(k)), Fn.add(e, nmul(r, d))))
      if rb ~= ZERO32 and s ~= ZERO32 then
        if raw then return rb .. s end
        local body = trimInteger(rb) .. trimInteger(s)
        return "\48" .. schar(#body) .. body
      end
    end
  end

  local function verifyRS(pub, msg, rb, sb)
    if not (validScalar(rb) and validScalar(sb)) then return false end
    local q = decodePoint(pub)
    if not q then return false end
    local w = Fn.invert(Fn.decode(sb))
    local u1 = Fn.encode(nmul(Fn.decode(sha256(msg)), w))
    local u2 = Fn.encode(nmul(Fn.decode(rb), w))
    -- The two multiples may be equal or opposite, so the complete addition joins them.
    local sum = padd(projective(baseMult(u1, addPublicDigit)), projective(scalarMult(u2, q, addPublicDigit)))
    if isZero(sum[3]) then return false end
    local x = Fp.encode(fmul(sum[1], Fp.invert(sum[3])))
    return Fn.encode(Fn.decode(x)) == rb
  end

  -- One DER INTEGER at pos: its value as 32 bytes and the next position, or nil when it is not the
  -- minimal, non-negative encoding of a number below 2^256.
  local function derInteger(sig, pos)
    if sbyte(sig, pos) ~= 2 then return nil end
    local len = sbyte(sig, pos + 1)
    if not len or len == 0 or len > 33 or pos + 1 + len > #sig then return nil end
    local v = sig:sub(pos + 2, pos + 1 + len)
    local first, second = sbyte(v, 1), sbyte(v, 2)
    if first >= 0x80 or (first == 0 and (second == nil or second < 0x80)) then return nil end
    if len == 33 then
      if first ~= 0 then return nil end
      v = v:sub(2)
    end
    return srep("\0", 32 - #v) .. v, pos + 2 + len
  end

  --- Whether sig (DER) signs SHA-256(msg) for the public key pub (65 bytes).
  local function ecdsaVerify(pub, msg, sig)
    if #sig < 8 or sbyte(sig, 1) ~= 0x30 or sbyte(sig, 2) ~= #sig - 2 then return false end
    local r, pos = derInteger(sig, 3)
    if not r then return false end
    local s, stop = derInteger(sig, pos)
    if not s or stop ~= #sig + 1 then return false end
    return verifyRS(pub, msg, r, s)
  end

  --- The same for a raw r || s signature.
  local function ecdsaVerifyRaw(pub, msg, sig)
    if #sig ~= 64 then return false end
    return verifyRS(pub, msg, sig:sub(1, 32), sig:sub(33))
  end

  -- HPKE base mode: DHKEM(P-256, HKDF-SHA256), HKDF-SHA256, AES-128-GCM ---------------------------------
  local function u16(n) return spack(">I2", n) end
  local SUITE_KEM, SUITE_HPKE = "KEM" .. u16(0x10), "HPKE" .. u16(0x10) .. u16(1) .. u16(1)

  local function labeledExtract(suite, salt, label, ikm)
    return hkdfExtract(salt, "HPKE-v1" .. suite .. label .. ikm)
  end
  local function labeledExpand(suite, prk, label, info, length)
    return hkdfExpand(prk, u16(length) .. "HPKE-v1" .. suite .. label .. info, length)
  end

  --- The key pair (private scalar, public point) that ikm stands for.
  local function deriveKeyPair(ikm)
    local prk = labeledExtract(SUITE_KEM, "", "dkp_prk", ikm)
    for counter = 0, 255 do
      local sk = labeledExpand(SUITE_KEM, prk, "candidate", schar(counter), 32)
      if validScalar(sk) then return sk, publicKey(sk) end
    end
    error("DeriveKeyPair found no key")
  end

  --- A fresh key pair from the runtime's random source (signature keys and HPKE keys alike).
  local function generateKeyPair() return deriveKeyPair(randomBytes(32)) end

  -- The key schedule context depends on the public info alone: a commit encrypts its path secrets to
  -- every member under the same info, so the last one is kept.
  local PSK_ID_HASH = labeledExtract(SUITE_HPKE, "", "psk_id_hash", "")
  local lastInfo, lastContext
  local function hpkeKey(dh, kemContext, info)
    local prk = labeledExtract(SUITE_KEM, "", "eae_prk", dh)
    local shared = labeledExpand(SUITE_KEM, prk, "shared_secret", kemContext, 32)
    if info ~= lastInfo then
      lastInfo, lastContext = info, "\0" .. PSK_ID_HASH .. labeledExtract(SUITE_HPKE, "", "info_hash", info)
    end
    local context = lastContext
    local secret = labeledExtract(SUITE_HPKE, shared, "secret", "")
    return labeledExpand(SUITE_HPKE, secret, "key", context, 16),
      labeledExpand(SUITE_HPKE, secret, "base_nonce", context, 12)
  end

  --- enc (the ephemeral public key) and the ciphertext, or nil and why when pkR is not a valid key.
  local function sealBase(pkR, info, aad, plaintext)
    local skE, pkE = generateKeyPair()
    local dh, err = ecdh(skE, pkR)
    if not dh then return nil, err end
    local aeadKey, nonce = hpkeKey(dh, pkE .. pkR, info)
    return pkE, gcmSeal(aeadKey, nonce, plaintext, aad)
  end

  --- The plaintext, or nil and why.
  local function openBase(enc, skR, info, aad, ciphertext)
    local dh, err = ecdh(skR, enc)
    if not dh then return nil, err end
    local aeadKey, nonce = hpkeKey(dh, enc .. publicKey(skR), info)
    local plaintext = gcmOpen(aeadKey, nonce, ciphertext, aad)
    if not plaintext then return nil, "HPKE ciphertext does not authenticate" end
    return plaintext
  end

  -- scrypt (RFC 7914), for the pairwise verification code only; its memory (128 * r * N bytes) is the
  -- point of it. Words are little-endian 32-bit integers.
  local W32 <const> = 0xFFFFFFFF

  -- x[1..16] = Salsa20/8(x xor y[o + 1 .. o + 16]).
  local function salsaXor(x, y, o)
    local b0, b1, b2, b3 = x[1] ~ y[o + 1], x[2] ~ y[o + 2], x[3] ~ y[o + 3], x[4] ~ y[o + 4]
    local b4, b5, b6, b7 = x[5] ~ y[o + 5], x[6] ~ y[o + 6], x[7] ~ y[o + 7], x[8] ~ y[o + 8]
    local b8, b9, b10, b11 = x[9] ~ y[o + 9], x[10] ~ y[o + 10], x[11] ~ y[o + 11], x[12] ~ y[o + 12]
    local b12, b13, b14, b15 = x[13] ~ y[o + 13], x[14] ~ y[o + 14], x[15] ~ y[o + 15], x[16] ~ y[o + 16]
    local x0, x1, x2, x3, x4, x5, x6, x7 = b0, b1, b2, b3, b4, b5, b6, b7
    local x8, x9, x10, x11, x12, x13, x14, x15 = b8, b9, b10, b11, b12, b13, b14, b15
    local t
    for _ = 1, 4 do
      t = (x0 + x12) & W32 x4 = x4 ~ ((t << 7 | t >> 25) & W32)
      t = (x4 + x0) & W32 x8 = x8 ~ ((t << 9 | t >> 23) & W32)
      t = (x8 + x4) & W32 x12 = x12 ~ ((t << 13 | t >> 19) & W32)
      t = (x12 + x8) & W32 x0 = x0 ~ ((t << 18 | t >> 14) & W32)
      t = (x5 + x1) & W32 x9 = x9 ~ ((t << 7 | t >> 25) & W32)
      t = (x9 + x5) & W32 x13 = x13 ~ ((t << 9 | t >> 23) & W32)
      t = (x13 + x9) & W32 x1 = x1 ~ ((t << 13 | t >> 19) & W32)
      t = (x1 + x13) & W32 x5 = x5 ~ ((t << 18 | t >> 14) & W32)
      t = (x10 + x6) & W32 x14 = x14 ~ ((t << 7 | t >> 25) & W32)
      t = (x14 + x10) & W32 x2 = x2 ~ ((t << 9 | t >> 23) & W32)
      t = (x2 + x14) & W32 x6 = x6 ~ ((t << 13 | t >> 19) & W32)
      t = (x6 + x2) & W32 x10 = x10 ~ ((t << 18 | t >> 14) & W32)
      t = (x15 + x11) & W32 x3 = x3 ~ ((t << 7 | t >> 25) & W32)
      t = (x3 + x15) & W32 x7 = x7 ~ ((t << 9 | t >> 23) & W32)
      t = (x7 + x3) & W32 x11 = x11 ~ ((t << 13 | t >> 19) & W32)
      t = (x11 + x7) & W32 x15 = x15 ~ ((t << 18 | t >> 14) & W32)
      t = (x0 + x3) & W32 x1 = x1 ~ ((t << 7 | t >> 25) & W32)
      t = (x1 + x0) & W32 x2 = x2 ~ ((t << 9 | t >> 23) & W32)
      t = (x2 + x1) & W32 x3 = x3 ~ ((t << 13 | t >> 19) & W32)
      t = (x3 + x2) & W32 x0 = x0 ~ ((t << 18 | t >> 14) & W32)
      t = (x5 + x4) & W32 x6 = x6 ~ ((t << 7 | t >> 25) & W32)
      t = (x6 + x5) & W32 x7 = x7 ~ ((t << 9 | t >> 23) & W32)
      t = (x7 + x6) & W32 x4 = x4 ~ ((t << 13 | t >> 19) & W32)
      t = (x4 + x7) & W32 x5 = x5 ~ ((t << 18 | t >> 14) & W32)
      t = (x10 + x9) & W32 x11 = x11 ~ ((t << 7 | t >> 25) & W32)
      t = (x11 + x10) & W32 x8 = x8 ~ ((t << 9 | t >> 23) & W32)
      t = (x8 + x11) & W32 x9 = x9 ~ ((t << 13 | t >> 19) & W32)
      t = (x9 + x8) & W32 x10 = x10 ~ ((t << 18 | t >> 14) & W32)
      t = (x15 + x14) & W32 x12 = x12 ~ ((t << 7 | t >> 25) & W32)
      t = (x12 + x15) & W32 x13 = x13 ~ ((t << 9 | t >> 23) & W32)
      t = (x13 + x12) & W32 x14 = x14 ~ ((t << 13 | t >> 19) & W32)
      t = (x14 + x13) & W32 x15 = x15 ~ ((t << 18 | t >> 14) & W32)
    end
    x[1], x[2], x[3], x[4] = (x0 + b0) & W32, (x1 + b1) & W32, (x2 + b2) & W32, (x3 + b3) & W32
    x[5], x[6], x[7], x[8] = (x4 + b4) & W32, (x5 + b5) & W32, (x6 + b6) & W32, (x7 + b7) & W32
    x[9], x[10], x[11], x[12] = (x8 + b8) & W32, (x9 + b9) & W32, (x10 + b10) & W32, (x11 + b11) & W32
    x[13], x[14], x[15], x[16] = (x12 + b12) & W32, (x13 + b13) & W32, (x14 + b14) & W32, (x15 + b15) & W32
  end

  -- BlockMix of the 32r words of `b` into `out`: even blocks first, then odd ones.
  local function blockMix(b, r, out)
    local x = table.move(b, 32 * r - 15, 32 * r, 1, {})
    for i = 0, 2 * r - 1 do
      salsaXor(x, b, 16 * i)
      table.move(x, 1, 16, (i % 2 == 0 and i // 2 or r + i // 2) * 16 + 1, out)
    end
  end

  local function roMix(x, r, n)
    local v, y, len = {}, {}, 32 * r
    for i = 0, n - 1 do
      table.move(x, 1, len, i * len + 1, v)
      blockMix(x, r, y)
      x, y = y, x
    end
    for _ = 1, n do
      -- Integerify: the first word of the last 64-byte block, modulo n (a power of two).
      local o = (x[len - 15] & (n - 1)) * len
      for k = 1, len do x[k] = x[k] ~ v[o + k] end
      blockMix(x, r, y)
      x, y = y, x
    end
    return x
  end

  -- PBKDF2-HMAC-SHA256 with one iteration, as scrypt uses it.
  local function pbkdf2Once(password, salt, length)
    local out = {}
    for i = 1, (length + 31) // 32 do out[i] = hmac(password, salt .. spack(">I4", i)) end
    return concat(out):sub(1, length)
  end

  local function scrypt(password, salt, n, r, p, length)
    if n < 2 or n & (n - 1) ~= 0 then error("scrypt: N must be a power of two", 2) end
    local blocks, out, size = pbkdf2Once(password, salt, p * 128 * r), {}, 128 * r
    local format = "<" .. srep("I4", 32 * r)
    for i = 0, p - 1 do
      local x = { sunpack(format, blocks, i * size + 1) }
      x[#x] = nil
      out[i + 1] = spack(format, table.unpack(roMix(x, r, n), 1, 32 * r))
    end
    return pbkdf2Once(password, concat(out), length)
  end

  return {
    randomBytes = randomBytes, equal = equal, sha256 = sha256, hmac = hmac, hkdfExtract = hkdfExtract,
    hkdfExpand = hkdfExpand, aesEncryptBlock = aesEncryptBlock, gcm = gcm, gcmSeal = gcmSeal, gcmOpen = gcmOpen,
    publicKey = publicKey, ecdh = ecdh, ecdsaSign = ecdsaSign, ecdsaVerify = ecdsaVerify,
    ecdsaVerifyRaw = ecdsaVerifyRaw, deriveKeyPair = deriveKeyPair, generateKeyPair = generateKeyPair,
    sealBase = sealBase, openBase = openBase, scrypt = scrypt,
  }
end)(runtime)
M._daveCrypto = daveCrypto

-- DAVE: MLS (cipher suite 2) ----------------------------------------------------------------------------
-- The group layer under end-to-end voice encryption: the wire codec, tree arithmetic and the secret
-- derivations of an epoch, the group member of a call, its media keys and frames, and DAVE's binary
-- gateway messages. Takes the primitives (daveCrypto) and the runtime (`rt`, its clocks). Gives the table
-- `mls`: codec (varint, writer, reader), tree, structures (read*), key schedule, secret tree and ratchets,
-- RatchetTree, PublicMessage, Welcome, join, commits, member (Member), media and wire.

local daveMls = (function(crypto, rt)
  local mls = {}

  -- Raised for every malformed or out-of-range input; callers catch it with pcall.
  local function fail(msg) error("mls: " .. msg, 0) end
  mls.fail = fail

  -- Codec: big-endian integers, fixed bytes, vectors with a minimal varint length, optionals.

  local function varint(n)
    if math.type(n) ~= "integer" or n < 0 then fail("bad vector length") end
    if n < 0x40 then return string.char(n) end
    if n < 0x4000 then return string.pack(">I2", 0x4000 | n) end
    if n < 0x40000000 then return string.pack(">I4", 0x80000000 | n) end
    fail("vector too long")
  end
  mls.varint = varint

  local Writer = {}
  Writer.__index = Writer
  function mls.writer() return setmetatable({ n = 0 }, Writer) end
  function Writer:raw(s) self.n = self.n + 1 self[self.n] = s return self end
  function Writer:bytes() return table.concat(self, "", 1, self.n) end
  function Writer:u8(v) return self:raw(string.pack(">I1", v)) end
  function Writer:u16(v) return self:raw(string.pack(">I2", v)) end
  function Writer:u32(v) return self:raw(string.pack(">I4", v)) end
  function Writer:u64(v) return self:raw(string.pack(">i8", v)) end
  function Writer:fixed(s, len)
    if #s ~= len then fail("expected " .. len .. " bytes, got " .. #s) end
    return self:raw(s)
  end
  function Writer:vec(s) return self:raw(varint(#s)):raw(s) end
  -- A vector of items: fn(w, item) writes each one into a sub-writer whose length heads it.
  function Writer:list(items, fn)
    local sub = mls.writer()
    for _, item in ipairs(items) do fn(sub, item) end
    return self:vec(sub:bytes())
  end
  function Writer:optional(v, fn)
    if v == nil then return self:u8(0) end
    self:u8(1)
    fn(self, v)
    return self
  end

  local Reader = {}
  Reader.__index = Reader
  function mls.reader(s, i, j) return setmetatable({ s = s, pos = i or 1, stop = j or #s }, Reader) end
  function Reader:take(len)
    local p = self.pos
    if len < 0 or p + len - 1 > self.stop then fail("truncated input") end
    self.pos = p + len
    return self.s:sub(p, p + len - 1)
  end
  function Reader:done() return self.pos > self.stop end
  function Reader:finish()
    if not self:done() then fail("trailing bytes") end
  end
  local function int(self, len)
    local v = string.unpack(">I" .. len, self:take(len))
    return v
  end
  function Reader:u8() return int(self, 1) end
  function Reader:u16() return int(self, 2) end
  function Reader:u32() return int(self, 4) end
  function Reader:u64()
    local v = string.unpack(">i8", self:take(8))
    return v
  end
  function Reader:fixed(len) return self:take(len) end
  function Reader:varint()
    local first = self.s:byte(self.pos)
    if not first or self.pos > self.stop then fail("truncated input") end
    local prefix = first >> 6
    if prefix == 3 then fail("invalid varint prefix") end
    local size = 1 << prefix
    local v = int(self, size) & ((1 << (8 * size - 2)) - 1)
    if (size == 2 and v < 0x40) or (size == 4 and v < 0x4000) then fail("non-minimal varint") end
    return v
  end
  function Reader:vec() return self:take(self:varint()) end
  -- A reader limited to the next vector's contents; the outer reader moves past it.
  function Reader:sub()
    local len = self:varint()
    local p = self.pos
    self:take(len)
    return mls.reader(self.s, p, p + len - 1)
  end
  -- Reads a vector of items with fn(r) until its contents are used up.
  function Reader:list(fn)
    local sub, out = self:sub(), {}
    while not sub:done() do out[#out + 1] = fn(sub) end
    return out
  end
  function Reader:optional(fn)
    local present = self:u8()
    if present == 0 then return nil end
    if present ~= 1 then fail("invalid optional marker") end
    return fn(self)
  end
  -- The bytes consumed since position p (for signatures over what was just parsed).
  function Reader:since(p) return self.s:sub(p, self.pos - 1) end

  -- Tree math over the array representation: leaves at even indices, parents at odd ones.

  local tree = {}
  mls.tree = tree
  function tree.level(x)
    local k = 0
    while (x >> k) & 1 == 1 do k = k + 1 end
    return k
  end
  function tree.width(n) return n == 0 and 0 or 2 * (n - 1) + 1 end
  local function log2(x)
    local k = 0
    while (1 << (k + 1)) <= x do k = k + 1 end
    return k
  end
  function tree.root(n) return (1 << log2(tree.width(n))) - 1 end
  function tree.left(x)
    local k = tree.level(x)
    if k == 0 then return nil end
    return x ~ (1 << (k - 1))
  end
  function tree.right(x)
    local k = tree.level(x)
    if k == 0 then return nil end
    return x ~ (3 << (k - 1))
  end
  -- Trees always hold a power-of-two number of leaves, so parents never fall outside.
  function tree.parent(x, n)
    if x == tree.root(n) then return nil end
    local k = tree.level(x)
    local b = (x >> (k + 1)) & 1
    return (x | (1 << k)) ~ (b << (k + 1))
  end
  function tree.sibling(x, n)
    local p = tree.parent(x, n)
    if not p then return nil end
    if x < p then return tree.right(p) end
    return tree.left(p)
  end
  function tree.directPath(x, n)
    local out, r = {}, tree.root(n)
    while x ~= r do
      x = tree.parent(x, n)
      out[#out + 1] = x
    end
    return out
  end
  function tree.copath(x, n)
    local out, r = {}, tree.root(n)
    while x ~= r do
      out[#out + 1] = tree.sibling(x, n)
      x = tree.parent(x, n)
    end
    return out
  end
  function tree.isLeaf(x) return x & 1 == 0 end
  function tree.leafNode(i) return 2 * i end

  -- Structures: enough of the message layer to find what transcripts and signatures cover.

  local function credential(r)
    local kind = r:u16()
    if kind == 1 then return { type = 1, identity = r:vec() } end
    if kind == 2 then return { type = 2, certificates = r:list(Reader.vec) } end
    fail("unsupported credential type " .. kind)
  end
  local function u16s(r) return r:list(Reader.u16) end
  local function extensions(r)
    return r:list(function(s) return { type = s:u16(), data = s:vec() } end)
  end
  mls.readExtensions = extensions
  function Writer:extensions(list)
    return self:list(list or {}, function(s, e) s:u16(e.type):vec(e.data) end)
  end

  function mls.readLeafNode(r)
    local p, n = r.pos, {}
    n.encryptionKey, n.signatureKey, n.credential = r:vec(), r:vec(), credential(r)
    n.capabilities = { versions = u16s(r), cipherSuites = u16s(r), extensions = u16s(r), proposals = u16s(r),
      credentials = u16s(r) }
    n.source = r:u8()
    if n.source == 1 then
      n.notBefore, n.notAfter = r:u64(), r:u64()
    elseif n.source == 3 then
      n.parentHash = r:vec()
    elseif n.source ~= 2 then
      fail("invalid leaf node source")
    end
    n.extensions = extensions(r)
    n.tbs = r:since(p)
    n.signature = r:vec()
    n.raw = r:since(p)
    return n
  end

  function mls.readKeyPackage(r)
    local p, k = r.pos, {}
    k.version, k.cipherSuite, k.initKey = r:u16(), r:u16(), r:vec()
    k.leafNode, k.extensions = mls.readLeafNode(r), extensions(r)
    k.tbs = r:since(p)
    k.signature = r:vec()
    k.raw = r:since(p)
    return k
  end

  local PROPOSALS = {
    [1] = function(r) return { keyPackage = mls.readKeyPackage(r) } end,
    [2] = function(r) return { leafNode = mls.readLeafNode(r) } end,
    [3] = function(r) return { removed = r:u32() } end,
    -- Decoded so that messages carrying them parse; the group layer refuses them.
    [4] = function(r)
      local kind = r:u8()
      if kind == 1 then r:vec() elseif kind == 2 then r:u8() r:vec() r:u64() else fail("invalid psk type") end
      r:vec()
      return {}
    end,
    [5] = function(r)
      return { groupId = r:vec(), version = r:u16(), cipherSuite = r:u16(), extensions = extensions(r) }
    end,
    [6] = function(r) return { kemOutput = r:vec() } end,
    [7] = function(r) return { extensions = extensions(r) } end,
  }
  mls.ProposalType = { add = 1, update = 2, remove = 3 }

  function mls.readProposal(r)
    local p, kind = r.pos, r:u16()
    local read = PROPOSALS[kind]
    if not read then fail("unsupported proposal type " .. kind) end
    local out = read(r)
    out.type, out.raw = kind, r:since(p)
    return out
  end

  local function updatePath(r)
    local p = r.pos
    local path = { leafNode = mls.readLeafNode(r), nodes = r:list(function(s)
      local function hpke(c) return { kemOutput = c:vec(), ciphertext = c:vec() } end
      return { encryptionKey = s:vec(), secrets = s:list(hpke) }
    end) }
    path.raw = r:since(p)
    return path
  end

  function mls.readCommit(r)
    local c = {}
    c.proposals = r:list(function(s)
      local kind = s:u8()
      if kind == 1 then return { proposal = mls.readProposal(s) } end
      if kind == 2 then return { ref = s:vec() } end
      fail("invalid proposal-or-reference type")
    end)
    c.path = r:optional(updatePath)
    return c
  end

  mls.ContentType = { application = 1, proposal = 2, commit = 3 }
  mls.SenderType = { member = 1, external = 2, newMemberProposal = 3, newMemberCommit = 4 }

  function mls.readFramedContent(r)
    local p, c = r.pos, {}
    c.groupId, c.epoch = r:vec(), r:u64()
    c.senderType = r:u8()
    if c.senderType == 1 or c.senderType == 2 then
      c.senderIndex = r:u32()
    elseif c.senderType ~= 3 and c.senderType ~= 4 then
      fail("invalid sender type")
    end
    c.authenticatedData, c.contentType = r:vec(), r:u8()
    if c.contentType == 1 then
      c.application = r:vec()
    elseif c.contentType == 2 then
      c.proposal = mls.readProposal(r)
    elseif c.contentType == 3 then
      c.commit = mls.readCommit(r)
    else
      fail("invalid content type")
    end
    c.raw = r:since(p)
    return c
  end

  -- AuthenticatedContent: wire format, content, then the signature and (for commits) the
  -- confirmation tag. `confirmedInput` is the part the confirmed transcript hash covers.
  function mls.readAuthenticatedContent(r)
    local p, a = r.pos, {}
    a.wireFormat = r:u16()
    a.content = mls.readFramedContent(r)
    a.signature = r:vec()
    a.confirmedInput = r:since(p)
    if a.content.contentType == 3 then a.confirmationTag = r:vec() end
    a.raw = r:since(p)
    return a
  end

  -- Cipher suite 2: SHA-256, HMAC-SHA-256, HKDF-SHA-256, ECDSA P-256 and HPKE from daveCrypto.

  local NH <const>, NK <const>, NN <const> = 32, 16, 12
  mls.NH, mls.NK, mls.NN = NH, NK, NN
  local ZERO <const> = string.rep("\0", NH)

  local hash, mac, extract = crypto.sha256, crypto.hmac, crypto.hkdfExtract
  mls.hash, mls.mac = hash, mac

  -- The labelled derivations, signatures and encryption: labels are prefixed "MLS 1.0 ", and label and
  -- content or context go in as vectors.
  local function vec(s) return varint(#s) .. s end
  local function labelled(label) return vec("MLS 1.0 " .. label) end

  function mls.expandWithLabel(secret, label, context, length)
    return crypto.hkdfExpand(secret, string.pack(">I2", length) .. labelled(label) .. vec(context), length)
  end
  function mls.deriveSecret(secret, label) return mls.expandWithLabel(secret, label, "", NH) end
  function mls.deriveTreeSecret(secret, label, generation, length)
    return mls.expandWithLabel(secret, label, string.pack(">I4", generation), length)
  end
  function mls.refHash(label, value) return hash(vec(label) .. vec(value)) end
  function mls.keyPackageRef(raw) return mls.refHash("MLS 1.0 KeyPackage Reference", raw) end
  function mls.signWithLabel(sk, label, content) return crypto.ecdsaSign(sk, labelled(label) .. vec(content)) end
  function mls.verifyWithLabel(pk, label, content, sig)
    return crypto.ecdsaVerify(pk, labelled(label) .. vec(content), sig) == true
  end
  --- kem_output and ciphertext; raises when `pub` is not a valid key.
  function mls.encryptWithLabel(pub, label, context, plaintext)
    local enc, ct = crypto.sealBase(pub, labelled(label) .. vec(context), "", plaintext)
    if not enc then fail("encryption failed: " .. tostring(ct)) end
    return enc, ct
  end
  --- The plaintext, or nil and why.
  function mls.decryptWithLabel(sk, label, context, kemOutput, ciphertext)
    return crypto.openBase(kemOutput, sk, labelled(label) .. vec(context), "", ciphertext)
  end

  -- Key schedule --------------------------------------------------------------------------------------

  function mls.encodeGroupContext(g)
    return mls.writer():u16(1):u16(2):vec(g.groupId):u64(g.epoch):vec(g.treeHash)
      :vec(g.confirmedTranscriptHash):extensions(g.extensions):bytes()
  end
  function mls.readGroupContext(r)
    local g = { version = r:u16(), cipherSuite = r:u16(), groupId = r:vec(), epoch = r:u64(), treeHash = r:vec(),
      confirmedTranscriptHash = r:vec(), extensions = extensions(r) }
    if g.version ~= 1 or g.cipherSuite ~= 2 then fail("unsupported version or cipher suite") end
    return g
  end

  local EPOCH_LABELS = { senderData = "sender data", encryption = "encryption", exporter = "exporter",
    external = "external", confirmation = "confirm", membership = "membership", resumption = "resumption",
    authenticator = "authentication", init = "init" }

  -- The secrets of an epoch from the joiner secret (what a Welcome carries).
  function mls.epochFromJoiner(joiner, groupContext, pskSecret)
    local member = extract(joiner, pskSecret or ZERO)
    local s = { joiner = joiner, welcome = mls.deriveSecret(member, "welcome") }
    local epoch = mls.expandWithLabel(member, "epoch", groupContext, NH)
    for name, label in pairs(EPOCH_LABELS) do s[name] = mls.deriveSecret(epoch, label) end
    return s
  end

  -- The next epoch's secrets: the previous epoch's init secret, the commit secret (zeros without a
  -- path) and the new GroupContext encoding.
  function mls.nextEpoch(initSecret, commitSecret, groupContext, pskSecret)
    local joiner = mls.expandWithLabel(extract(initSecret, commitSecret or ZERO), "joiner", groupContext, NH)
    return mls.epochFromJoiner(joiner, groupContext, pskSecret)
  end

  function mls.export(exporterSecret, label, context, len)
    return mls.expandWithLabel(mls.deriveSecret(exporterSecret, label), "exported", hash(context), len)
  end

  -- Transcript hashes and the confirmation tag --------------------------------------------------------

  function mls.confirmedTranscriptHash(interimBefore, confirmedInput) return hash(interimBefore .. confirmedInput) end
  function mls.interimTranscriptHash(confirmed, confirmationTag)
    return hash(confirmed .. varint(#confirmationTag) .. confirmationTag)
  end
  function mls.confirmationTag(confirmationKey, confirmed) return mac(confirmationKey, confirmed) end

  -- Secret tree and hash ratchets ---------------------------------------------------------------------

  -- A ratchet from `secret`: keys (and nonces when nonceLen is given) per generation, moving forward
  -- only; each secret is dropped once the next one is derived.
  local Ratchet = {}
  Ratchet.__index = Ratchet
  function mls.ratchet(secret, keyLen, nonceLen)
    return setmetatable({ secret = secret, generation = 0, keyLen = keyLen, nonceLen = nonceLen }, Ratchet)
  end
  function Ratchet:advance()
    self.secret = mls.deriveTreeSecret(self.secret, "secret", self.generation, NH)
    self.generation = self.generation + 1
  end
  function Ratchet:get(generation)
    if generation < self.generation then fail("generation " .. generation .. " already consumed") end
    while self.generation < generation do self:advance() end
    return mls.deriveTreeSecret(self.secret, "key", generation, self.keyLen),
      self.nonceLen and mls.deriveTreeSecret(self.secret, "nonce", generation, self.nonceLen)
  end

  -- The secret tree of an epoch over `leaves` leaves; ratchets(i) gives leaf i's handshake and
  -- application ratchets. Node secrets on the way are not kept.
  function mls.secretTree(encryptionSecret, leaves)
    local t = {}
    function t.ratchets(i)
      if i < 0 or i >= leaves then fail("leaf " .. i .. " outside the tree") end
      local x, target, secret = tree.root(leaves), 2 * i, encryptionSecret
      while x ~= target do
        if target < x then
          x, secret = tree.left(x), mls.expandWithLabel(secret, "tree", "left", NH)
        else
          x, secret = tree.right(x), mls.expandWithLabel(secret, "tree", "right", NH)
        end
      end
      return mls.ratchet(mls.expandWithLabel(secret, "handshake", "", NH), NK, NN),
        mls.ratchet(mls.expandWithLabel(secret, "application", "", NH), NK, NN)
    end
    return t
  end

  -- The key and nonce that protect a PrivateMessage's sender data.
  function mls.senderDataKey(senderDataSecret, ciphertext)
    local sample = ciphertext:sub(1, NH)
    return mls.expandWithLabel(senderDataSecret, "key", sample, NK), mls.expandWithLabel(senderDataSecret, "nonce",
      sample, NN)
  end



  -- Ratchet tree ---------------------------------------------------------------------------------------
  -- nodes[x] is nil (blank), { leaf = LeafNode } or { parent = { encryptionKey, parentHash,
  -- unmergedLeaves } }; `leaves` is always a power of two.

  local RatchetTree = {}
  RatchetTree.__index = RatchetTree
  mls.RatchetTree = RatchetTree

  function mls.newTree(leaves) return setmetatable({ nodes = {}, leaves = leaves or 1 }, RatchetTree) end

  local function readParentNode(r)
    return { encryptionKey = r:vec(), parentHash = r:vec(), unmergedLeaves = r:list(Reader.u32) }
  end
  local function writeParentNode(w, p, unmerged)
    return w:vec(p.encryptionKey):vec(p.parentHash):list(unmerged or p.unmergedLeaves, w.u32)
  end

  -- The ratchet_tree extension's encoding; trailing blanks are left out and the last node must be set.
  function mls.readTree(r)
    local list = r:list(function(s)
      return s:optional(function(o)
        local kind = o:u8()
        if kind == 1 then return { leaf = mls.readLeafNode(o) } end
        if kind == 2 then return { parent = readParentNode(o) } end
        fail("invalid node type")
      end) or false
    end)
    local count = #list
    if count == 0 or not list[count] or count % 2 == 0 then fail("malformed ratchet tree") end
    local t = mls.newTree(1)
    while tree.width(t.leaves) < count do t.leaves = t.leaves * 2 end
    for i, n in ipairs(list) do
      if n then
        if (n.leaf ~= nil) ~= tree.isLeaf(i - 1) then fail("node of the wrong kind at " .. (i - 1)) end
        t.nodes[i - 1] = n
      end
    end
    return t
  end

  function RatchetTree:encode()
    local last = tree.width(self.leaves) - 1
    while last > 0 and not self.nodes[last] do last = last - 1 end
    local w = mls.writer()
    local items = {}
    for x = 0, last do items[#items + 1] = x end
    return w:list(items, function(s, x)
      local n = self.nodes[x]
      if not n then return s:u8(0) end
      s:u8(1)
      if n.leaf then return s:u8(1):raw(n.leaf.raw) end
      writeParentNode(s:u8(2), n.parent)
    end):bytes()
  end

  function RatchetTree:leaf(i) local n = self.nodes[2 * i] return n and n.leaf end
  -- The set of HPKE public keys of every node.
  function RatchetTree:encryptionKeys()
    local set = {}
    for _, n in pairs(self.nodes) do set[(n.leaf or n.parent).encryptionKey] = true end
    return set
  end

  function RatchetTree:resolution(x)
    local n = self.nodes[x]
    if n then
      local out = { x }
      if n.parent then
        for _, l in ipairs(n.parent.unmergedLeaves) do out[#out + 1] = 2 * l end
      end
      return out
    end
    if tree.isLeaf(x) then return {} end
    local out = self:resolution(tree.left(x))
    for _, y in ipairs(self:resolution(tree.right(x))) do out[#out + 1] = y end
    return out
  end

  -- Tree hash of the subtree at x; leaves in `excluded` (leaf index -> true) count as blank and are
  -- dropped from unmerged-leaf lists, as the original sibling hash of a parent hash needs. `memo` (node
  -- -> hash) keeps the hashes of a commit's subtrees, which it does not change, from one call to the next.
  function RatchetTree:treeHash(x, excluded, memo)
    x = x or tree.root(self.leaves)
    if excluded and not next(excluded) then excluded = nil end
    if memo and not excluded and memo[x] then return memo[x] end
    local n, w = self.nodes[x], mls.writer()
    if tree.isLeaf(x) then
      w:u8(1):u32(x // 2)
      if n and not (excluded and excluded[x // 2]) then w:u8(1):raw(n.leaf.raw) else w:u8(0) end
      local h = hash(w:bytes())
      if memo and not excluded then memo[x] = h end
      return h
    end
    w:u8(2)
    if n then
      local unmerged = {}
      for _, l in ipairs(n.parent.unmergedLeaves) do
        if not (excluded and excluded[l]) then unmerged[#unmerged + 1] = l end
      end
      writeParentNode(w:u8(1), n.parent, unmerged)
    else
      w:u8(0)
    end
    local h = hash(w:vec(self:treeHash(tree.left(x), excluded, memo))
      :vec(self:treeHash(tree.right(x), excluded, memo))
      :bytes())
    if memo and not excluded then memo[x] = h end
    return h
  end

  -- The parent hash of the parent node p as seen from its child on the other side of `sibling`.
  function RatchetTree:parentHash(p, sibling, memo)
    local node, excluded = self.nodes[p].parent, {}
    for _, l in ipairs(node.unmergedLeaves) do excluded[l] = true end
    return hash(mls.writer():vec(node.encryptionKey):vec(node.parentHash)
      :vec(self:treeHash(sibling, excluded, memo)):bytes())
  end

  local function parentHashOf(n)
    if n.parent then return n.parent.parentHash end
    return n.leaf.source == 3 and n.leaf.parentHash or nil
  end

  local function inSubtree(x, top)
    local k = tree.level(top)
    return x >> (k + 1) == top >> (k + 1)
  end

  -- True when every non-blank parent has exactly one descendant whose parent hash links to it.
  function RatchetTree:parentHashesValid()
    for p = 1, tree.width(self.leaves) - 1, 2 do
      local node = self.nodes[p]
      if node then
        local links = 0
        for _, side in ipairs({ { tree.left(p), tree.right(p) }, { tree.right(p), tree.left(p) } }) do
          local c, s = side[1], side[2]
          local ph = self:parentHash(p, s)
          local unmerged = {}
          for _, l in ipairs(node.parent.unmergedLeaves) do
            if inSubtree(2 * l, c) then unmerged[2 * l] = true end
          end
          local res = self:resolution(c)
          for _, d in ipairs(res) do
            local dn = self.nodes[d]
            if dn and parentHashOf(dn) == ph then
              local rest, ok = 0, true
              for _, y in ipairs(res) do
                if y ~= d then
                  rest = rest + 1
                  ok = ok and unmerged[y] == true
                end
              end
              local count = 0
              for _ in pairs(unmerged) do count = count + 1 end
              if ok and count == rest then links = links + 1 end
            end
          end
        end
        if links ~= 1 then return false end
      end
    end
    return true
  end

  -- Applying proposals --------------------------------------------------------------------------------

  function RatchetTree:blankPath(i)
    for _, x in ipairs(tree.directPath(2 * i, self.leaves)) do self.nodes[x] = nil end
  end

  -- Puts the leaf node in the leftmost blank leaf, growing the tree when none is left; its index.
  function RatchetTree:addLeaf(leafNode)
    local i = 0
    while i < self.leaves and self.nodes[2 * i] do i = i + 1 end
    if i == self.leaves then self.leaves = self.leaves * 2 end
    for _, x in ipairs(tree.directPath(2 * i, self.leaves)) do
      local n = self.nodes[x]
      if n then table.insert(n.parent.unmergedLeaves, i) end
    end
    self.nodes[2 * i] = { leaf = leafNode }
    return i
  end

  function RatchetTree:updateLeaf(i, leafNode)
    if not self:leaf(i) then fail("update of a blank leaf") end
    self.nodes[2 * i] = { leaf = leafNode }
    self:blankPath(i)
  end

  function RatchetTree:removeLeaf(i)
    if i < 0 or i >= self.leaves or not self:leaf(i) then fail("remove of a blank leaf " .. i) end
    self.nodes[2 * i] = nil
    self:blankPath(i)
    while self.leaves > 1 do
      local half, used = self.leaves // 2, false
      for l = half, self.leaves - 1 do used = used or self.nodes[2 * l] ~= nil end
      if used then break end
      for x = tree.width(half), tree.width(self.leaves) - 1 do self.nodes[x] = nil end
      self.leaves = half
    end
  end

  function RatchetTree:apply(proposal, sender)
    if proposal.type == 1 then return self:addLeaf(proposal.keyPackage.leafNode) end
    if proposal.type == 2 then return self:updateLeaf(sender, proposal.leafNode) end
    if proposal.type == 3 then return self:removeLeaf(proposal.removed) end
    fail("unsupported proposal type " .. proposal.type)
  end


  -- Signatures, references and PublicMessage -----------------------------------------------------------

  mls.WireFormat = { publicMessage = 1, privateMessage = 2, welcome = 3, groupInfo = 4, keyPackage = 5 }

  function Writer:framedContent(c)
    self:vec(c.groupId):u64(c.epoch):u8(c.senderType)
    if c.senderType == 1 or c.senderType == 2 then self:u32(c.senderIndex) end
    return self:vec(c.authenticatedData or ""):u8(c.contentType):raw(c.body)
  end
  -- A commit's body from proposals ({ ref = bytes } or { proposal = encoded Proposal }) and an
  -- encoded UpdatePath or nil.
  function mls.encodeCommit(proposals, path)
    local w = mls.writer():list(proposals, function(s, p)
      if p.ref then s:u8(2):vec(p.ref) else s:u8(1):raw(p.proposal) end
    end)
    if path then return w:u8(1):raw(path):bytes() end
    return w:u8(0):bytes()
  end

  local function authData(m)
    local w = mls.writer():vec(m.signature)
    if m.contentType == 3 then w:vec(m.confirmationTag) end
    return w:bytes()
  end

  -- FramedContentTBS; members and new-member commits sign over the GroupContext too.
  local function contentTbs(wireFormat, contentRaw, senderType, groupContext)
    local w = mls.writer():u16(1):u16(wireFormat):raw(contentRaw)
    if senderType == 1 or senderType == 4 then
      if not groupContext then fail("the group context is needed") end
      w:raw(groupContext)
    end
    return w:bytes()
  end

  function mls.readPublicMessage(r)
    local p, m = r.pos, {}
    local c = mls.readFramedContent(r)
    m.content, m.contentType, m.senderType = c, c.contentType, c.senderType
    m.signature = r:vec()
    if c.contentType == 3 then m.confirmationTag = r:vec() end
    if c.senderType == 1 then m.membershipTag = r:vec() end
    m.raw = r:since(p)
    return m
  end

  -- MLSMessage: version, wire format, then a PublicMessage, Welcome (raw) or KeyPackage.
  function mls.readMessage(r)
    local p, m = r.pos, { version = r:u16(), wireFormat = r:u16() }
    if m.version ~= 1 then fail("unsupported protocol version") end
    if m.wireFormat == 1 then
      m.publicMessage = mls.readPublicMessage(r)
    elseif m.wireFormat == 5 then
      m.keyPackage = mls.readKeyPackage(r)
    elseif m.wireFormat == 3 then
      m.welcome = r:take(r.stop - r.pos + 1)
    else
      fail("unsupported wire format " .. m.wireFormat)
    end
    m.raw = r:since(p)
    return m
  end

  -- AuthenticatedContent of a received PublicMessage, as proposal references and transcripts hash it.
  function mls.authenticatedContent(m) return string.pack(">I2", 1) .. m.content.raw .. authData(m) end
  function mls.proposalRef(m) return mls.refHash("MLS 1.0 Proposal Reference", mls.authenticatedContent(m)) end

  -- Checks a PublicMessage: the signature with `signatureKey` and, for members, the membership tag.
  -- `groupContext` is the encoded GroupContext of the message's epoch.
  function mls.verifyPublicMessage(m, signatureKey, groupContext, membershipKey)
    local tbs = contentTbs(1, m.content.raw, m.senderType, groupContext)
    if m.senderType == 1 then
      if not crypto.equal(mac(membershipKey, tbs .. authData(m)), m.membershipTag) then return false end
    end
    return mls.verifyWithLabel(signatureKey, "FramedContentTBS", tbs, m.signature)
  end

  -- An MLSMessage carrying a signed PublicMessage. `c` holds the FramedContent fields (body already
  -- encoded); a commit needs `confirmationKey` and the confirmed transcript hash it covers is computed
  -- from `interimTranscriptHash`, so the caller gets it back with the message.
  function mls.protectPublic(c, signaturePriv, groupContext, membershipKey, confirm)
    local contentRaw = mls.writer():framedContent(c):bytes()
    local tbs = contentTbs(1, contentRaw, c.senderType, groupContext)
    local m = { contentType = c.contentType, signature = mls.signWithLabel(signaturePriv, "FramedContentTBS", tbs) }
    local confirmed
    if c.contentType == 3 then
      confirmed = mls.confirmedTranscriptHash(confirm.interimTranscriptHash,
        string.pack(">I2", 1) .. contentRaw .. mls.writer():vec(m.signature):bytes())
      m.confirmationTag = mls.confirmationTag(confirm.keyFor and confirm.keyFor(confirmed) or confirm.confirmationKey,
        confirmed)
    end
    local w = mls.writer():u16(1):u16(1):raw(contentRaw):raw(authData(m))
    if c.senderType == 1 then w:vec(mac(membershipKey, tbs .. authData(m))) end
    return w:bytes(), confirmed, m.confirmationTag
  end



  -- Validation -----------------------------------------------------------------------------------------

  -- The leaf node's signature; nodes from updates and commits also sign the group and their position.
  function mls.leafSignatureValid(leaf, groupId, leafIndex)
    local tbs = leaf.tbs
    if leaf.source ~= 1 then tbs = tbs .. mls.writer():vec(groupId):u32(leafIndex):bytes() end
    return mls.verifyWithLabel(leaf.signatureKey, "LeafNodeTBS", tbs, leaf.signature)
  end

  -- nil, or why the leaf node is not acceptable from `source` (1 key package, 2 update, 3 commit).
  function mls.leafNodeProblem(leaf, source, groupId, leafIndex)
    if leaf.source ~= source then return "unexpected leaf node source" end
    if leaf.credential.type ~= 1 then return "credential is not basic" end
    local caps, listed = leaf.capabilities, {}
    for _, t in ipairs(caps.extensions) do listed[t] = true end
    for _, e in ipairs(leaf.extensions) do
      if not listed[e.type] then return "extension " .. e.type .. " not in the capabilities" end
    end
    local has = function(list, v)
      for _, x in ipairs(list) do if x == v then return true end end
      return false
    end
    if not (has(caps.versions, 1) and has(caps.cipherSuites, 2) and has(caps.credentials, 1)) then
      return "capabilities lack this group's version, cipher suite or credential"
    end
    if #leaf.signatureKey ~= 65 or #leaf.encryptionKey ~= 65 then return "keys of the wrong size" end
    if not mls.leafSignatureValid(leaf, groupId, leafIndex) then return "bad leaf node signature" end
  end

  -- nil, or why `caps` lack what the group's required_capabilities extension (type 3) asks for.
  -- Default extension and proposal types count as supported without being listed.
  function mls.capabilitiesProblem(caps, groupExtensions)
    for _, e in ipairs(groupExtensions or {}) do
      if e.type == 3 then
        local r = mls.reader(e.data)
        local wanted = { { r:list(Reader.u16), caps.extensions, 5 }, { r:list(Reader.u16), caps.proposals, 7 },
          { r:list(Reader.u16), caps.credentials, 0 } }
        r:finish()
        for _, w in ipairs(wanted) do
          for _, t in ipairs(w[1]) do
            local found = t <= w[3]
            for _, x in ipairs(w[2]) do found = found or x == t end
            if not found then return "capabilities lack required type " .. t end
          end
        end
      end
    end
  end

  -- A key package's lifetime holds now (seconds since 1970, compared as unsigned 64-bit numbers).
  local function lifetimeValid(leaf)
    local now = rt.time() // 1000
    return not math.ult(now, leaf.notBefore) and not math.ult(leaf.notAfter, now)
  end

  -- nil, or why the key package is invalid.
  function mls.keyPackageProblem(kp, groupExtensions)
    if kp.version ~= 1 or kp.cipherSuite ~= 2 then return "unsupported version or cipher suite" end
    if kp.initKey == kp.leafNode.encryptionKey then return "init key equals the encryption key" end
    local problem = mls.leafNodeProblem(kp.leafNode, 1) or mls.capabilitiesProblem(kp.leafNode.capabilities,
      groupExtensions)
    if problem then return problem end
    if not lifetimeValid(kp.leafNode) then return "key package outside its lifetime" end
    if not mls.verifyWithLabel(kp.leafNode.signatureKey, "KeyPackageTBS", kp.tbs, kp.signature) then
      return "bad key package signature"
    end
  end

  -- nil, or why a tree received with a Welcome cannot be used: every leaf, parent hash, unmerged
  -- leaf list and the uniqueness of keys.
  function RatchetTree:problem(groupId, groupExtensions)
    local seen = {}
    local function unique(k)
      if seen[k] then return false end
      seen[k] = true
      return true
    end
    for i = 0, self.leaves - 1 do
      local leaf = self:leaf(i)
      if leaf then
        local problem = mls.leafNodeProblem(leaf, leaf.source, groupId, i)
          or mls.capabilitiesProblem(leaf.capabilities, groupExtensions)
        if problem then return "leaf " .. i .. ": " .. problem end
        if not unique(leaf.encryptionKey) or not unique(leaf.signatureKey) then return "duplicate key in leaf " .. i end
      end
    end
    for p = 1, tree.width(self.leaves) - 1, 2 do
      local n = self.nodes[p]
      if n then
        if not unique(n.parent.encryptionKey) then return "duplicate key in node " .. p end
        for _, l in ipairs(n.parent.unmergedLeaves) do
          if not self:leaf(l) or not inSubtree(2 * l, p) then return "bad unmerged leaf " .. l .. " in node " .. p end
          for _, x in ipairs(tree.directPath(2 * l, self.leaves)) do
            if x == p then break end
            local between = self.nodes[x]
            if between then
              local listed = false
              for _, u in ipairs(between.parent.unmergedLeaves) do listed = listed or u == l end
              if not listed then return "unmerged leaf " .. l .. " missing below node " .. p end
            end
          end
        end
      end
    end
    if not self:parentHashesValid() then return "parent hashes do not chain" end
  end

  -- Welcome -------------------------------------------------------------------------------------------

  function mls.readWelcome(r)
    local w = { cipherSuite = r:u16() }
    if w.cipherSuite ~= 2 then fail("unsupported cipher suite") end
    w.secrets = r:list(function(s)
      return { newMember = s:vec(), kemOutput = s:vec(), ciphertext = s:vec() }
    end)
    w.encryptedGroupInfo = r:vec()
    return w
  end

  function mls.readGroupInfo(r)
    local p, g = r.pos, {}
    g.groupContext = mls.readGroupContext(r)
    g.context = r:since(p)
    g.extensions, g.confirmationTag, g.signer = extensions(r), r:vec(), r:u32()
    g.tbs = r:since(p)
    g.signature = r:vec()
    return g
  end

  local function readGroupSecrets(r)
    return { joiner = r:vec(), pathSecret = r:optional(Reader.vec),
      psks = r:list(function() fail("pre-shared keys are not supported") end) }
  end

  -- Opens a Welcome for the key package `keyPackageRaw` whose init private key is `initPriv`: the
  -- group secrets, the GroupInfo (signature not yet checked: the signer's key is in the tree) and the
  -- epoch's secrets, with the confirmation tag checked.
  function mls.openWelcome(welcome, keyPackageRaw, initPriv)
    local ref, entry = mls.keyPackageRef(keyPackageRaw)
    for _, e in ipairs(welcome.secrets) do
      if e.newMember == ref then entry = e end
    end
    if not entry then fail("the welcome has no secrets for our key package") end
    local plain = mls.decryptWithLabel(initPriv, "Welcome", welcome.encryptedGroupInfo, entry.kemOutput,
      entry.ciphertext)
    if not plain then fail("cannot decrypt the group secrets") end
    local gr = mls.reader(plain)
    local gs = readGroupSecrets(gr)
    gr:finish()
    local member = extract(gs.joiner, ZERO)
    local welcomeSecret = mls.deriveSecret(member, "welcome")
    local info = crypto.gcmOpen(mls.expandWithLabel(welcomeSecret, "key", "", NK),
      mls.expandWithLabel(welcomeSecret, "nonce", "", NN), welcome.encryptedGroupInfo, "", 16)
    if not info then fail("cannot decrypt the group info") end
    local ir = mls.reader(info)
    local gi = mls.readGroupInfo(ir)
    ir:finish()
    local secrets = mls.epochFromJoiner(gs.joiner, gi.context)
    local tag = mls.confirmationTag(secrets.confirmation, gi.groupContext.confirmedTranscriptHash)
    if not crypto.equal(tag, gi.confirmationTag) then fail("bad confirmation tag") end
    return gs, gi, secrets
  end

  function mls.verifyGroupInfo(gi, signerPub)
    return mls.verifyWithLabel(signerPub, "GroupInfoTBS", gi.tbs, gi.signature)
  end


  -- Joining ---------------------------------------------------------------------------------------------

  -- Parents on the leaf's direct path whose other child is not all blank: where path secrets go.
  function RatchetTree:filteredDirectPath(i)
    local out, x = {}, 2 * i
    for _, p in ipairs(tree.directPath(x, self.leaves)) do
      local sibling = tree.left(p) == x and tree.right(p) or tree.left(p)
      if #self:resolution(sibling) > 0 then out[#out + 1] = p end
      x = p
    end
    return out
  end

  -- The HPKE key pair of a tree node from its path secret.
  function mls.nodeKeyPair(pathSecret)
    local sk, pk = crypto.deriveKeyPair(mls.deriveSecret(pathSecret, "node"))
    return sk, pk
  end

  local EXT_RATCHET_TREE <const> = 2

  -- Joins the group of a Welcome with our key package (parsed), its private keys { init, encryption }
  -- and the tree from the GroupInfo's ratchet_tree extension or `ratchetTree` (encoded). The state:
  -- { groupContext, context (encoded), tree, leaf, secrets, privates (node -> private key),
  -- interimTranscriptHash, groupInfo }.
  function mls.join(welcome, keyPackage, privates, ratchetTree)
    local gs, gi, secrets = mls.openWelcome(welcome, keyPackage.raw, privates.init)
    local treeBytes = ratchetTree
    for _, e in ipairs(gi.extensions) do
      if e.type == EXT_RATCHET_TREE then treeBytes = e.data end
    end
    if not treeBytes then fail("the welcome carries no ratchet tree") end
    local tr = mls.reader(treeBytes)
    local t = mls.readTree(tr)
    tr:finish()
    local gc = gi.groupContext
    if t:treeHash() ~= gc.treeHash then fail("tree hash does not match the group context") end
    local problem = t:problem(gc.groupId, gc.extensions)
    if problem then fail(problem) end
    local signer = t:leaf(gi.signer)
    if not signer or not mls.verifyGroupInfo(gi, signer.signatureKey) then fail("bad group info signature") end
    local me
    for i = 0, t.leaves - 1 do
      local leaf = t:leaf(i)
      if leaf and leaf.raw == keyPackage.leafNode.raw then me = i end
    end
    if not me then fail("our leaf is not in the tree") end
    local nodePrivates = { [2 * me] = privates.encryption }
    if gs.pathSecret then
      local mine, secret, started = {}, gs.pathSecret, false
      for _, x in ipairs(tree.directPath(2 * me, t.leaves)) do mine[x] = true end
      for _, x in ipairs(t:filteredDirectPath(gi.signer)) do
        started = started or mine[x]
        if started then
          local sk, pk = mls.nodeKeyPair(secret)
          local n = t.nodes[x]
          if not n or n.parent.encryptionKey ~= pk then fail("path secret does not match node " .. x) end
          nodePrivates[x] = sk
          secret = mls.deriveSecret(secret, "path")
        end
      end
      if not started then fail("path secret without a common node") end
    end
    return { groupContext = gc, context = gi.context, tree = t, leaf = me, secrets = secrets,
      privates = nodePrivates, groupInfo = gi,
      interimTranscriptHash = mls.interimTranscriptHash(gc.confirmedTranscriptHash, gi.confirmationTag) }
  end


  -- UpdatePath --------------------------------------------------------------------------------------------

  -- The child of p whose subtree does not hold x; x may lie deeper than p's children, as the filtered
  -- direct path skips parents.
  local function copathChild(p, x)
    if inSubtree(x, tree.left(p)) then return tree.right(p) end
    return tree.left(p)
  end

  -- Merges the sender's UpdatePath into the tree: its nodes set, parent hashes checked, the new leaf
  -- validated. `added` holds leaf indices added by the same commit. Returns what decryptPath needs.
  function RatchetTree:mergePath(sender, path, groupId, added)
    local fdp = self:filteredDirectPath(sender)
    if #path.nodes ~= #fdp then fail("update path has the wrong length") end
    local leaf = path.leafNode
    local problem = mls.leafNodeProblem(leaf, 3, groupId, sender)
    if problem then fail(problem) end
    local known, keys = self:encryptionKeys(), { leaf.encryptionKey }
    for _, n in ipairs(path.nodes) do keys[#keys + 1] = n.encryptionKey end
    for _, k in ipairs(keys) do
      if known[k] then fail("update path repeats an encryption key") end
      known[k] = true
    end
    local merged = { sender = sender, path = path, fdp = fdp, resolutions = {}, copath = {}, hashes = {} }
    for k, p in ipairs(fdp) do
      local c, res = copathChild(p, k == 1 and 2 * sender or fdp[k - 1]), {}
      for _, y in ipairs(self:resolution(c)) do
        if not (added and added[y // 2] and tree.isLeaf(y)) then res[#res + 1] = y end
      end
      if #res ~= #path.nodes[k].secrets then fail("update path has the wrong number of secrets") end
      merged.resolutions[k], merged.copath[k] = res, c
    end
    self:blankPath(sender)
    for k, p in ipairs(fdp) do
      self.nodes[p] = { parent = { encryptionKey = path.nodes[k].encryptionKey, parentHash = "", unmergedLeaves = {} } }
    end
    for k = #fdp - 1, 1, -1 do
      self.nodes[fdp[k]].parent.parentHash = self:parentHash(fdp[k + 1], merged.copath[k + 1], merged.hashes)
    end
    local expected = #fdp > 0 and self:parentHash(fdp[1], merged.copath[1], merged.hashes) or ""
    if leaf.parentHash ~= expected then fail("leaf parent hash does not match the path") end
    self.nodes[2 * sender] = { leaf = leaf }
    return merged
  end

  -- Decrypts our path secret from a merged path with the keys in `privates` (node -> private key),
  -- which gains the new nodes' keys; `context` is the provisional GroupContext (encoded). Returns the
  -- commit secret and the path secret we decrypted.
  function mls.decryptPath(merged, me, privates, context)
    local fdp, nodes = merged.fdp, merged.path.nodes
    for k = 1, #fdp do
      if inSubtree(2 * me, merged.copath[k]) then
        local secret
        for j, y in ipairs(merged.resolutions[k]) do
          if privates[y] and not secret then
            local ct = nodes[k].secrets[j]
            secret = mls.decryptWithLabel(privates[y], "UpdatePathNode", context, ct.kemOutput, ct.ciphertext)
            if not secret then fail("cannot decrypt the path secret") end
          end
        end
        if not secret then fail("no private key for the path secret") end
        local first = secret
        for m = k, #fdp do
          local sk, pk = mls.nodeKeyPair(secret)
          if pk ~= nodes[m].encryptionKey then fail("path secret does not match node " .. fdp[m]) end
          privates[fdp[m]] = sk
          secret = mls.deriveSecret(secret, "path")
        end
        return secret, first
      end
    end
    fail("the update path does not cover our leaf")
  end

  function mls.readUpdatePath(r) return updatePath(r) end


  -- Proposals and commits -------------------------------------------------------------------------------
  -- A group state: { groupContext, context (encoded), tree, leaf (ours), secrets, privates (node ->
  -- HPKE private key), interimTranscriptHash }.

  local function reencodeContext(g) return mls.encodeGroupContext(g) end

  -- Checks a proposal sent by an external sender (index into `externalSenders`, a list of signature
  -- keys): group, epoch, Add or Remove only, signature. Returns { ref, proposal } for the queue.
  function mls.externalProposal(state, m, externalSenders)
    local c = m.content
    if m.wireFormat ~= nil and m.wireFormat ~= 1 then fail("proposal is not a PublicMessage") end
    if c.groupId ~= state.groupContext.groupId or c.epoch ~= state.groupContext.epoch then
      fail("proposal for another group or epoch")
    end
    if c.senderType ~= 2 or c.contentType ~= 2 then fail("not an external proposal") end
    local senderKey = externalSenders[c.senderIndex + 1]
    if not senderKey then fail("unknown external sender") end
    local p = c.proposal
    if p.type ~= 1 and p.type ~= 3 then fail("unsupported proposal type " .. p.type) end
    if not mls.verifyPublicMessage(m, senderKey) then fail("bad proposal signature") end
    if p.type == 1 then
      local problem = mls.keyPackageProblem(p.keyPackage, state.groupContext.extensions)
      if problem then fail(problem) end
    end
    return { ref = mls.proposalRef(m), proposal = p }
  end

  local function copyTree(t)
    local copy = mls.readTree(mls.reader(t:encode()))
    copy.leaves = t.leaves
    return copy
  end

  -- Applies proposals in the order the protocol fixes (updates, removes, adds) after checking them.
  -- Returns the leaf indices added and whether the list requires a path.
  local function applyProposals(t, list, committer, groupExtensions)
    local removed, added, needsPath = {}, {}, #list == 0
    for _, kind in ipairs({ 2, 3, 1 }) do
      for _, p in ipairs(list) do
        if p.type == kind then
          if kind == 3 then
            if removed[p.removed] then fail("leaf " .. p.removed .. " removed twice") end
            if p.removed == committer then fail("the committer removes itself") end
            removed[p.removed], needsPath = true, true
          elseif kind == 2 then
            fail("update proposals are not supported")
          else
            local new = p.keyPackage.leafNode
            for i = 0, t.leaves - 1 do
              local leaf = t:leaf(i)
              if leaf and leaf.signatureKey == new.signatureKey then fail("added member already in the group") end
            end
            if t:encryptionKeys()[new.encryptionKey] then fail("added member repeats an encryption key") end
            local problem = mls.capabilitiesProblem(new.capabilities, groupExtensions)
            if problem then fail(problem) end
          end
          local i = t:apply(p, committer)
          if kind == 1 then added[i] = true end
        elseif p.type ~= 1 and p.type ~= 3 then
          fail("unsupported proposal type " .. p.type)
        end
      end
    end
    return added, needsPath
  end

  -- Processes a member's commit (a parsed PublicMessage) on top of the queued proposals ({ ref,
  -- proposal } in arrival order). Returns the next epoch's state; `removed` is set when it removes us.
  function mls.processCommit(state, m, queue)
    local c, gc = m.content, state.groupContext
    if c.groupId ~= gc.groupId or c.epoch ~= gc.epoch then fail("commit for another group or epoch") end
    if c.contentType ~= 3 or c.senderType ~= 1 then fail("not a member's commit") end
    local sender = state.tree:leaf(c.senderIndex)
    if not sender then fail("commit from a blank leaf") end
    if not mls.verifyPublicMessage(m, sender.signatureKey, state.context, state.secrets.membership) then
      fail("bad commit signature or membership tag")
    end
    local byRef, list = {}, {}
    for _, q in ipairs(queue or {}) do byRef[q.ref] = q.proposal end
    for _, item in ipairs(c.commit.proposals) do
      local p = item.ref and byRef[item.ref]
      if item.ref and not p then fail("commit references an unknown proposal") end
      list[#list + 1] = p or item.proposal
    end
    local t = copyTree(state.tree)
    local keys = {}
    for x in pairs(state.privates) do keys[x] = t.nodes[x] and (t.nodes[x].leaf or t.nodes[x].parent).encryptionKey end
    local added, needsPath = applyProposals(t, list, c.senderIndex, gc.extensions)
    local path, commitSecret = c.commit.path, nil
    if needsPath and not path then fail("commit without the path it needs") end
    local privates = {}
    local function keepPrivates()
      for x, sk in pairs(state.privates) do
        local n = t.nodes[x]
        if n and (n.leaf or n.parent).encryptionKey == keys[x] then privates[x] = sk end
      end
    end
    local removed = t:leaf(state.leaf) == nil
    local nextGc = { groupId = gc.groupId, epoch = gc.epoch + 1, extensions = gc.extensions,
      confirmedTranscriptHash = gc.confirmedTranscriptHash }
    if path then
      if path.leafNode.encryptionKey == sender.encryptionKey then fail("the committer kept its encryption key") end
      local merged = t:mergePath(c.senderIndex, path, gc.groupId, added)
      keepPrivates()
      nextGc.treeHash = t:treeHash(nil, nil, merged.hashes)
      if not removed then commitSecret = mls.decryptPath(merged, state.leaf, privates, reencodeContext(nextGc)) end
    else
      keepPrivates()
      nextGc.treeHash = t:treeHash()
    end
    nextGc.confirmedTranscriptHash = mls.confirmedTranscriptHash(state.interimTranscriptHash,
      string.pack(">I2", 1) .. c.raw .. mls.writer():vec(m.signature):bytes())
    local context = reencodeContext(nextGc)
    local secrets = mls.nextEpoch(state.secrets.init, commitSecret, context)
    if not crypto.equal(mls.confirmationTag(secrets.confirmation, nextGc.confirmedTranscriptHash), m.confirmationTag)
    then
      fail("bad confirmation tag")
    end
    local interim = mls.interimTranscriptHash(nextGc.confirmedTranscriptHash, m.confirmationTag)
    return { groupContext = nextGc, context = context, tree = t, leaf = state.leaf, secrets = secrets,
      privates = privates, removed = removed, interimTranscriptHash = interim }
  end


  -- Building our own structures -------------------------------------------------------------------------

  -- A signed leaf node. `n`: encryptionKey, signatureKey, identity, source (1 key package, 2 update,
  -- 3 commit), parentHash (commit), capabilities (defaults: version 1, suite 2, basic credentials).
  function mls.makeLeafNode(n, signaturePriv, groupId, leafIndex)
    local caps = n.capabilities or { versions = { 1 }, cipherSuites = { 2 }, extensions = {}, proposals = {},
      credentials = { 1 } }
    local w = mls.writer():vec(n.encryptionKey):vec(n.signatureKey):u16(1):vec(n.identity)
    for _, field in ipairs({ "versions", "cipherSuites", "extensions", "proposals", "credentials" }) do
      w:list(caps[field], w.u16)
    end
    w:u8(n.source)
    if n.source == 1 then w:u64(0):u64(-1) elseif n.source == 3 then w:vec(n.parentHash) end
    w:extensions(n.extensions)
    local tbs = w:bytes()
    local signed = tbs
    if n.source ~= 1 then signed = tbs .. mls.writer():vec(groupId):u32(leafIndex):bytes() end
    local raw = tbs .. mls.writer():vec(mls.signWithLabel(signaturePriv, "LeafNodeTBS", signed)):bytes()
    return mls.readLeafNode(mls.reader(raw))
  end

  -- A key package (parsed, with `raw`) for our signature key and fresh init and encryption keys.
  function mls.makeKeyPackage(identity, signaturePriv, signaturePub, initPub, encryptionPub)
    local leaf = mls.makeLeafNode({ encryptionKey = encryptionPub, signatureKey = signaturePub, identity = identity,
      source = 1 }, signaturePriv)
    local tbs = mls.writer():u16(1):u16(2):vec(initPub):raw(leaf.raw):extensions({}):bytes()
    local raw = tbs .. mls.writer():vec(mls.signWithLabel(signaturePriv, "KeyPackageTBS", tbs)):bytes()
    return mls.readKeyPackage(mls.reader(raw))
  end


  -- Creating groups and commits --------------------------------------------------------------------------

  local EMPTY_TAG_INPUT <const> = ""

  -- A one-member group at epoch 0 with our leaf node (parsed) and its encryption private key.
  function mls.createGroup(groupId, leafNode, encryptionPriv, extensionList)
    local t = mls.newTree(1)
    t.nodes[0] = { leaf = leafNode }
    local gc = { groupId = groupId, epoch = 0, treeHash = t:treeHash(), confirmedTranscriptHash = EMPTY_TAG_INPUT,
      extensions = extensionList or {} }
    local context = mls.encodeGroupContext(gc)
    local secrets = mls.nextEpoch(crypto.randomBytes(NH), nil, context)
    local tag = mls.confirmationTag(secrets.confirmation, EMPTY_TAG_INPUT)
    return { groupContext = gc, context = context, tree = t, leaf = 0, secrets = secrets,
      privates = { [0] = encryptionPriv }, interimTranscriptHash = mls.interimTranscriptHash(EMPTY_TAG_INPUT, tag) }
  end

  local function nodeKey(n) return (n.leaf or n.parent).encryptionKey end

  -- Fills our filtered direct path with fresh keys and returns the encoded UpdatePath, the commit
  -- secret, the path secret of each new node, the path and the new tree hash.
  local function createPath(t, me, signaturePriv, gc, added, privates)
    local fdp, copath, old = t:filteredDirectPath(me), {}, t:leaf(me)
    local resolutions, secrets, secret = {}, {}, crypto.randomBytes(NH)
    for k, p in ipairs(fdp) do
      copath[k] = copathChild(p, k == 1 and 2 * me or fdp[k - 1])
      local res = {}
      for _, y in ipairs(t:resolution(copath[k])) do
        if not (added[y // 2] and tree.isLeaf(y)) then res[#res + 1] = y end
      end
      resolutions[k] = res
    end
    t:blankPath(me)
    for _, p in ipairs(fdp) do
      local sk, pk = mls.nodeKeyPair(secret)
      secrets[p], privates[p] = secret, sk
      t.nodes[p] = { parent = { encryptionKey = pk, parentHash = "", unmergedLeaves = {} } }
      secret = mls.deriveSecret(secret, "path")
    end
    local hashes = {}
    for k = #fdp - 1, 1, -1 do
      t.nodes[fdp[k]].parent.parentHash = t:parentHash(fdp[k + 1], copath[k + 1], hashes)
    end
    local leafPriv, leafPub = crypto.generateKeyPair()
    privates[2 * me] = leafPriv
    local leaf = mls.makeLeafNode({ encryptionKey = leafPub, signatureKey = old.signatureKey,
      identity = old.credential.identity, source = 3, capabilities = old.capabilities, extensions = old.extensions,
      parentHash = #fdp > 0 and t:parentHash(fdp[1], copath[1], hashes) or "" }, signaturePriv, gc.groupId, me)
    t.nodes[2 * me] = { leaf = leaf }
    local treeHash = t:treeHash(nil, nil, hashes)
    local provisional = mls.encodeGroupContext({ groupId = gc.groupId, epoch = gc.epoch + 1, treeHash = treeHash,
      confirmedTranscriptHash = gc.confirmedTranscriptHash, extensions = gc.extensions })
    local w = mls.writer():raw(leaf.raw)
    w:list(fdp, function(s, p)
      local k
      for i, x in ipairs(fdp) do if x == p then k = i end end
      s:vec(t.nodes[p].parent.encryptionKey):list(resolutions[k], function(e, y)
        local kem, ct = mls.encryptWithLabel(nodeKey(t.nodes[y]), "UpdatePathNode", provisional, secrets[p])
        e:vec(kem):vec(ct)
      end)
    end)
    return w:bytes(), secret, secrets, fdp, treeHash
  end

  -- Commits the queued proposals ({ ref, proposal }, all by reference) as member `state.leaf`. Returns
  -- the MLSMessage, the Welcome for added members (bare, or nil) and the state the commit leads to.
  function mls.createCommit(state, queue, signaturePriv)
    local gc, me, t = state.groupContext, state.leaf, copyTree(state.tree)
    local list, refs = {}, {}
    for _, q in ipairs(queue) do
      list[#list + 1], refs[#refs + 1] = q.proposal, { ref = q.ref }
    end
    local keys = {}
    for x in pairs(state.privates) do keys[x] = t.nodes[x] and nodeKey(t.nodes[x]) end
    local added, needsPath = applyProposals(t, list, me, gc.extensions)
    local privates = {}
    for x, sk in pairs(state.privates) do
      if t.nodes[x] and nodeKey(t.nodes[x]) == keys[x] then privates[x] = sk end
    end
    local path, commitSecret, pathSecrets, fdp, treeHash
    if needsPath then
      path, commitSecret, pathSecrets, fdp, treeHash = createPath(t, me, signaturePriv, gc, added, privates)
    end
    local nextGc = { groupId = gc.groupId, epoch = gc.epoch + 1, extensions = gc.extensions,
      treeHash = treeHash or t:treeHash() }
    local secrets, context
    local message, confirmed, tag = mls.protectPublic({ groupId = gc.groupId, epoch = gc.epoch, senderType = 1,
      senderIndex = me, contentType = 3, body = mls.encodeCommit(refs, path) }, signaturePriv, state.context,
      state.secrets.membership, { interimTranscriptHash = state.interimTranscriptHash, keyFor = function(c)
        nextGc.confirmedTranscriptHash = c
        context = mls.encodeGroupContext(nextGc)
        secrets = mls.nextEpoch(state.secrets.init, commitSecret, context)
        return secrets.confirmation
      end })
    local after = { groupContext = nextGc, context = context, tree = t, leaf = me, secrets = secrets,
      privates = privates, interimTranscriptHash = mls.interimTranscriptHash(confirmed, tag) }
    if not next(added) then return message, nil, after end
    local infoTbs = mls.writer():raw(context):extensions({ { type = EXT_RATCHET_TREE, data = t:encode() } })
      :vec(tag):u32(me):bytes()
    local info = infoTbs .. mls.writer():vec(mls.signWithLabel(signaturePriv, "GroupInfoTBS", infoTbs)):bytes()
    local encryptedInfo = crypto.gcmSeal(mls.expandWithLabel(secrets.welcome, "key", "", NK),
      mls.expandWithLabel(secrets.welcome, "nonce", "", NN), info, "", 16)
    local entries = {}
    for i in pairs(added) do entries[#entries + 1] = i end
    table.sort(entries)
    local w = mls.writer():u16(2):list(entries, function(s, i)
      local kp, pathSecret = nil, nil
      for _, p in ipairs(list) do
        if p.type == 1 and p.keyPackage.leafNode.raw == t:leaf(i).raw then kp = p.keyPackage end
      end
      for _, p in ipairs(fdp or {}) do
        if not pathSecret and inSubtree(2 * i, p) then pathSecret = pathSecrets[p] end
      end
      local gs = mls.writer():vec(secrets.joiner):optional(pathSecret, Writer.vec):vec(""):bytes()
      local kem, ct = mls.encryptWithLabel(kp.initKey, "Welcome", encryptedInfo, gs)
      s:vec(mls.keyPackageRef(kp.raw)):vec(kem):vec(ct)
    end)
    return message, w:vec(encryptedInfo):bytes(), after
  end

  -- Media keys and frames ----------------------------------------------------------------------------
  -- Each sender's frames use a key ratchet started from a 16-byte secret exported per user; a frame is
  -- the ciphertext with the unencrypted ranges in place, then an 8-byte tag, the 32-bit nonce, the
  -- ranges, the size of all that and the FA FA marker.

  local media = {}
  mls.media = media
  media.EXPORTER_LABEL = "Discord Secure Frames v0"
  media.TAG_SIZE, media.MARKER = 8, "\xFA\xFA"

  function media.uleb128(n)
    local out = {}
    repeat
      local b = n & 0x7F
      n = n >> 7
      out[#out + 1] = string.char(n ~= 0 and (b | 0x80) or b)
    until n == 0
    return table.concat(out)
  end

  -- The value at s[i] and the index after it, or nil when it runs past `stop` or beyond 64 bits.
  function media.readUleb128(s, i, stop)
    local v, shift = 0, 0
    while i <= stop do
      local b = s:byte(i)
      if shift == 63 and b > 1 then return nil end
      v, i = v | ((b & 0x7F) << shift), i + 1
      if b < 0x80 then return v, i end
      shift = shift + 7
      if shift > 63 then return nil end
    end
    return nil
  end

  local function userId(id)
    local n = math.tointeger(tonumber(id))
    if not n then fail("invalid user id " .. tostring(id)) end
    return n
  end

  function media.senderBaseSecret(exporterSecret, user)
    return mls.export(exporterSecret, media.EXPORTER_LABEL, string.pack("<i8", userId(user)), 16)
  end

  -- Keys by generation; keys of generations skipped on the way stay until erased.
  local KeyRatchet = {}
  KeyRatchet.__index = KeyRatchet
  function media.keyRatchet(baseSecret)
    return setmetatable({ ratchet = mls.ratchet(baseSecret, 16), keys = {} }, KeyRatchet)
  end
  function KeyRatchet:get(generation)
    local k = self.keys[generation]
    if k then return k end
    local r = self.ratchet
    if generation < r.generation then return nil end
    while r.generation < generation do
      self.keys[r.generation] = r:get(r.generation)
      r:advance()
    end
    k = r:get(generation)
    self.keys[generation] = k
    return k
  end
  -- Forgets the keys below `generation`.
  function KeyRatchet:erase(generation)
    for g in pairs(self.keys) do
      if g < generation then self.keys[g] = nil end
    end
  end

  function media.nonce(truncated) return string.rep("\0", 8) .. string.pack("<I4", truncated & 0xFFFFFFFF) end
  function media.generation(truncated) return (truncated >> 24) & 0xFF end

  -- The full generation of a nonce's top byte, counting from the oldest generation still kept.
  function media.unwrapGeneration(oldest, msb)
    local base = oldest - oldest % 256
    if msb < oldest % 256 then base = base + 256 end
    return base + msb
  end

  -- The parts of a protocol frame: { size = length of the interleaved part, tag, nonce, ranges }, or
  -- nil when `frame` is not one.
  function media.parseFrame(frame)
    local len = #frame
    if len < 11 or frame:sub(-2) ~= media.MARKER then return nil end
    local s = frame:byte(len - 2)
    if s < 11 or s > len then return nil end
    local start, stop = len - s + 1, len - 3
    local nonce, i = media.readUleb128(frame, start + 8, stop)
    if not nonce or nonce > 0xFFFFFFFF then return nil end
    local size, ranges, last = start - 1, {}, 0
    while i <= stop do
      local offset, n
      offset, i = media.readUleb128(frame, i, stop)
      if not offset then return nil end
      n, i = media.readUleb128(frame, i, stop)
      if not n or offset < last or n > size or offset > size - n then return nil end
      ranges[#ranges + 1] = { offset = offset, size = n }
      last = offset + n
    end
    return { size = size, tag = frame:sub(start, start + 7), nonce = nonce, ranges = ranges }
  end

  -- Splits a frame into its encrypted and unencrypted parts, each concatenated in frame order.
  local function split(frame, ranges, size)
    local enc, clear, pos = {}, {}, 0
    for _, r in ipairs(ranges) do
      enc[#enc + 1] = frame:sub(pos + 1, r.offset)
      clear[#clear + 1] = frame:sub(r.offset + 1, r.offset + r.size)
      pos = r.offset + r.size
    end
    enc[#enc + 1] = frame:sub(pos + 1, size)
    return table.concat(enc), table.concat(clear)
  end

  -- Puts the encrypted part back between the unencrypted ranges.
  local function interleave(frame, ranges, size, body)
    local out, pos, used = {}, 0, 0
    for _, r in ipairs(ranges) do
      local gap = r.offset - pos
      out[#out + 1] = body:sub(used + 1, used + gap)
      out[#out + 1] = frame:sub(r.offset + 1, r.offset + r.size)
      used, pos = used + gap, r.offset + r.size
    end
    out[#out + 1] = body:sub(used + 1, used + size - pos)
    return table.concat(out)
  end

  -- The protocol frame for `frame` under key `k` (bytes, or a daveCrypto gcm context) and the 32-bit
  -- nonce; ranges ({offset, size}, ascending, disjoint) stay in the clear and are authenticated.
  function media.encryptFrame(k, truncated, frame, ranges)
    ranges = ranges or {}
    local plain, clear = split(frame, ranges, #frame)
    local ctx = type(k) == "table" and k or crypto.gcm(k)
    local sealed = ctx:seal(media.nonce(truncated), plain, clear, media.TAG_SIZE)
    local trailer = { sealed:sub(-media.TAG_SIZE), media.uleb128(truncated) }
    for _, r in ipairs(ranges) do trailer[#trailer + 1] = media.uleb128(r.offset) .. media.uleb128(r.size) end
    local t = table.concat(trailer)
    return interleave(frame, ranges, #frame, sealed:sub(1, -media.TAG_SIZE - 1)) .. t .. string.char(#t + 3)
      .. media.MARKER
  end

  -- The original frame, or nil when the tag does not verify; `parsed` is parseFrame's result.
  function media.decryptFrame(k, frame, parsed)
    local enc, clear = split(frame, parsed.ranges, parsed.size)
    local ctx = type(k) == "table" and k or crypto.gcm(k)
    local plain = ctx:open(media.nonce(parsed.nonce), enc .. parsed.tag, clear, media.TAG_SIZE)
    if not plain then return nil end
    return interleave(frame, parsed.ranges, parsed.size, plain)
  end



  -- A sender's encryptor and a receiver's decryptor per sender -----------------------------------------

  local RETENTION_MS <const>, MAX_GAP <const>, MISSING <const>, FRAMES_PER_SECOND <const> = 10000, 250, 1000, 170
  media.RETENTION_MS = RETENTION_MS

  local Encryptor = {}
  Encryptor.__index = Encryptor
  -- Frames under our base secret of the epoch; the first carries nonce 1.
  function media.encryptor(baseSecret)
    return setmetatable({ ratchet = media.keyRatchet(baseSecret), nonce = 0, wraps = 0 }, Encryptor)
  end
  function Encryptor:encrypt(frame, ranges)
    self.nonce = (self.nonce + 1) & 0xFFFFFFFF
    if self.nonce == 0 then self.wraps = self.wraps + 1 end
    local g = self.wraps * 256 + (self.nonce >> 24)
    if g ~= self.generation then
      self.generation, self.gcm = g, crypto.gcm(self.ratchet:get(g))
      self.ratchet:erase(g)
    end
    return media.encryptFrame(self.gcm, self.nonce, frame, ranges)
  end

  local Decryptor = {}
  Decryptor.__index = Decryptor
  -- One sender's frames; addRatchet when an epoch brings its new base secret.
  function media.decryptor() return setmetatable({ ratchets = {} }, Decryptor) end
  function Decryptor:addRatchet(baseSecret, now)
    for _, r in ipairs(self.ratchets) do r.expires = r.expires or now + RETENTION_MS end
    table.insert(self.ratchets, 1, { keys = media.keyRatchet(baseSecret), oldest = 0, newest = 0, highest = -1,
      missing = {}, gcms = {}, created = now })
  end

  local function tryRatchet(r, frame, parsed, now)
    local g = media.unwrapGeneration(r.oldest, parsed.nonce >> 24)
    -- No sender reaches a generation faster than FRAMES_PER_SECOND frames a second allow.
    if g < r.oldest or g > r.newest + MAX_GAP or g > (now - r.created) // 1000 * FRAMES_PER_SECOND >> 24 then
      return nil
    end
    local counter = (g << 24) | (parsed.nonce & 0xFFFFFF)
    if counter <= r.highest and not r.missing[counter] then return nil end
    local ctx = r.gcms[g]
    if not ctx then
      local k = r.keys:get(g)
      if not k then return nil end
      ctx = crypto.gcm(k)
      r.gcms[g] = ctx
    end
    local plain = media.decryptFrame(ctx, frame, parsed)
    if not plain then return nil end
    if counter > r.highest then
      for c = math.max(r.highest + 1, counter - MISSING), counter - 1 do r.missing[c] = true end
      r.highest = counter
    end
    r.missing[counter] = nil
    for c in pairs(r.missing) do
      if c < r.highest - MISSING then r.missing[c] = nil end
    end
    if g > r.newest then
      r.newest, r.eraseBelow, r.eraseAt = g, g, now + RETENTION_MS
    end
    if r.eraseAt and now >= r.eraseAt then
      r.keys:erase(r.eraseBelow)
      for old in pairs(r.gcms) do
        if old < r.eraseBelow then r.gcms[old] = nil end
      end
      r.oldest, r.eraseAt = r.eraseBelow, nil
    end
    return plain
  end

  -- The frame's plaintext, or nil when no kept key opens it (or it is a replay); `now` in ms.
  function Decryptor:decrypt(frame, now)
    local parsed = media.parseFrame(frame)
    if not parsed then return nil end
    for i = #self.ratchets, 1, -1 do
      if self.ratchets[i].expires and now >= self.ratchets[i].expires then table.remove(self.ratchets, i) end
    end
    for _, r in ipairs(self.ratchets) do
      local plain = tryRatchet(r, frame, parsed, now)
      if plain then return plain end
    end
    return nil
  end

  -- DAVE's binary voice gateway messages ------------------------------------------------------------------
  -- From the server: uint16 sequence number, opcode, payload; to it: opcode, payload.

  local wire = {}
  mls.wire = wire
  wire.EXTERNAL_SENDER, wire.KEY_PACKAGE, wire.PROPOSALS, wire.COMMIT_WELCOME = 25, 26, 27, 28
  wire.ANNOUNCE_COMMIT, wire.WELCOME = 29, 30

  -- { sequence, opcode, ... } of a server message: externalSender (op 25; `raw` kept, as the group's
  -- extension must repeat it), revoke and messages or refs (27), transitionId and commit (29) or
  -- welcome (30). Raises on a malformed message.
  function wire.parse(data)
    local r = mls.reader(data)
    local m = { sequence = r:u16(), opcode = r:u8() }
    if m.opcode == 25 then
      local p = r.pos
      m.externalSender = { signatureKey = r:vec(), credential = credential(r) }
      m.externalSender.raw = r:since(p)
    elseif m.opcode == 27 then
      local op = r:u8()
      if op == 0 then
        m.messages = r:list(mls.readMessage)
      elseif op == 1 then
        m.revoke, m.refs = true, r:list(Reader.vec)
      else
        fail("invalid proposals operation")
      end
    elseif m.opcode == 29 then
      m.transitionId, m.commit = r:u16(), mls.readMessage(r)
    elseif m.opcode == 30 then
      m.transitionId = r:u16()
      -- A Welcome wrapped in an MLSMessage is unwrapped; the bare one starts with the cipher suite.
      if data:sub(r.pos, r.pos + 3) == "\0\1\0\3" then r:take(4) end
      m.welcome = mls.readWelcome(r)
    else
      fail("unknown binary opcode " .. m.opcode)
    end
    r:finish()
    return m
  end

  function wire.keyPackage(raw) return string.char(26) .. raw end
  function wire.commitWelcome(commitMessage, welcome) return string.char(28) .. commitMessage .. (welcome or "") end

  -- The GroupContext extension naming the gateway as the group's one external sender.
  function mls.externalSendersExtension(externalSenderRaw)
    return { type = 5, data = varint(#externalSenderRaw) .. externalSenderRaw }
  end

  -- Groups of k digits, each from k bytes of `data` read big-endian, modulo 10^k.
  function media.displayableCode(data, length, groupSize)
    if groupSize > 8 or length % groupSize ~= 0 or #data < length then fail("bad displayable code size") end
    local out, modulus = {}, math.tointeger(10 ^ groupSize)
    for i = 1, length, groupSize do
      local v = 0
      for j = i, i + groupSize - 1 do v = (v * 256 + data:byte(j)) % modulus end
      out[#out + 1] = string.format("%0" .. groupSize .. "d", v)
    end
    return table.concat(out)
  end
  -- The six groups of five digits members compare to check their call.
  function media.privacyCode(epochAuthenticator) return media.displayableCode(epochAuthenticator, 30, 5) end

  -- Two members check each other's signature key with this 64-byte value (the same on both sides).
  local FINGERPRINT_SALT <const> = "\x24\xca\xb1\x7a\x7a\xf8\xec\x2b\x82\xb4\x12\xb9\x2d\xab\x19\x2e"
  function media.pairwiseFingerprint(userA, keyA, userB, keyB)
    local a = string.pack(">I2", 0) .. keyA .. string.pack(">i8", userId(userA))
    local b = string.pack(">I2", 0) .. keyB .. string.pack(">i8", userId(userB))
    -- Byte order, whatever the C locale says about `<` on strings.
    for i = 1, math.min(#a, #b) do
      if a:byte(i) ~= b:byte(i) then
        if a:byte(i) > b:byte(i) then a, b = b, a end
        break
      end
    end
    return crypto.scrypt(a .. b, FINGERPRINT_SALT, 16384, 8, 2, 64)
  end
  -- The verification code between us and `other` in the group `state` (45 digits), nil when `other`
  -- has no leaf. Costs about 3 s and 70 MB in pure Lua (scrypt).
  function media.verificationCode(state, selfUser, other)
    local identity, theirs = string.pack(">i8", userId(other)), nil
    for i = 0, state.tree.leaves - 1 do
      local leaf = state.tree:leaf(i)
      if leaf and leaf.credential.identity == identity then theirs = leaf.signatureKey end
    end
    if not theirs then return nil end
    local fp = media.pairwiseFingerprint(selfUser, state.tree:leaf(state.leaf).signatureKey, other, theirs)
    return media.displayableCode(fp, 45, 5)
  end

  -- A member of a call's group ------------------------------------------------------------------------
  -- What one participant does with the gateway's MLS messages: key packages, the proposals it accepts,
  -- its commits, the commits and Welcomes it processes, and the media keys of each epoch. Failures raise
  -- (the caller answers with op 31); messages that do not concern it return nil.

  local Member = {}
  Member.__index = Member
  mls.Member = Member

  local function snowflake(id) return string.pack(">i8", userId(id)) end
  local function userOf(identity) return #identity == 8 and tostring((string.unpack(">i8", identity))) or nil end

  -- `userId` and `channelId` are snowflakes; `execute` = false keeps the new epoch's sending key until
  -- execute() (a connection waits for the gateway's transition), otherwise it is used at once.
  function mls.member(user, channel, opts)
    opts = opts or {}
    local self = setmetatable({ userId = tostring(user), identity = snowflake(user), groupId = snowflake(channel),
      autoExecute = opts.execute ~= false, decryptors = {}, queue = {} }, Member)
    self.signaturePriv, self.signaturePub = crypto.generateKeyPair()
    return self
  end

  -- Forgets the group, the queued proposals, our pending commit and the key package; keeps the
  -- external sender, the signature key and the decryptors (older keys expire by themselves).
  function Member:reset()
    self.group, self.pending, self.commit, self.kp, self.kpPrivates, self.queue = nil, nil, nil, nil, nil, {}
    self.proposed = false
  end

  function Member:_createPending()
    if self.group or not (self.kp and self.externalSender) then return end
    self.pending = mls.createGroup(self.groupId, self.kp.leafNode, self.kpPrivates.encryption,
      { mls.externalSendersExtension(self.externalSender.raw) })
  end

  -- Op 25's ExternalSender; ignored once a group is established.
  function Member:setExternalSender(raw)
    if self.group then return end
    local r = mls.reader(raw)
    local es = { signatureKey = r:vec(), credential = credential(r), raw = raw }
    r:finish()
    self.externalSender = es
    self:_createPending()
  end

  -- A fresh bare KeyPackage (never reused), and a pending one-member group when the sender is known.
  function Member:keyPackage()
    self:reset()
    local initPriv, initPub = crypto.generateKeyPair()
    local encPriv, encPub = crypto.generateKeyPair()
    self.kp = mls.makeKeyPackage(self.identity, self.signaturePriv, self.signaturePub, initPub, encPub)
    self.kpPrivates = { init = initPriv, encryption = encPriv }
    self:_createPending()
    return self.kp.raw
  end

  function Member:state() return self.group or self.pending end
  function Member:epoch() local st = self:state() return st and st.groupContext.epoch end

  -- Op 27 after its operation byte: `kind` "append" (or 0) with the MLSMessages vector, "revoke" (1) with
  -- the refs vector; `userIds` the users the gateway announced. Returns our commit and Welcome (or nil)
  -- when proposals remain queued; a refused message leaves the queue as it was.
  function Member:processProposals(kind, bytes, userIds)
    local st = self:state()
    if not st then return nil end
    local queue, r = table.move(self.queue, 1, #self.queue, 1, {}), mls.reader(bytes)
    if kind == "append" or kind == 0 then
      local expected = { [self.userId] = true }
      for _, id in ipairs(userIds or {}) do expected[tostring(id)] = true end
      for _, m in ipairs(r:list(mls.readMessage)) do
        if not m.publicMessage then fail("proposal is not a PublicMessage") end
        local q = mls.externalProposal(st, m.publicMessage, { self.externalSender.signatureKey })
        if q.proposal.type == 1 and not expected[userOf(q.proposal.keyPackage.leafNode.credential.identity) or ""] then
          fail("proposal adds an unexpected user")
        end
        if q.proposal.type == 3 and not st.tree:leaf(q.proposal.removed) then fail("proposal removes a blank leaf") end
        queue[#queue + 1] = q
      end
    elseif kind == "revoke" or kind == 1 then
      for _, ref in ipairs(r:list(Reader.vec)) do
        local found
        for i, q in ipairs(queue) do
          if q.ref == ref then found = i end
        end
        if not found then fail("revoke of an unknown proposal") end
        table.remove(queue, found)
      end
    else
      fail("invalid proposals operation")
    end
    r:finish()
    self.queue, self.commit, self.proposed = queue, nil, true
    if #queue == 0 then return nil end
    local commit, welcome, after = mls.createCommit(st, queue, self.signaturePriv)
    self.commit = { bytes = commit, after = after }
    return commit, welcome
  end

  local function groupProblem(st, externalSenderRaw)
    local seen, exts = {}, 0
    for i = 0, st.tree.leaves - 1 do
      local leaf = st.tree:leaf(i)
      if leaf then
        local id = leaf.credential.identity
        if leaf.credential.type ~= 1 or not userOf(id) then return "a member's credential is not a user id" end
        if seen[id] then return "two members with the same identity" end
        seen[id] = true
      end
    end
    for _, e in ipairs(st.groupContext.extensions) do
      if e.type == 5 then
        exts = exts + 1
        if e.data ~= varint(#externalSenderRaw) .. externalSenderRaw then return "another external sender" end
      end
    end
    if exts ~= 1 then return "the group does not name the gateway as its external sender" end
  end

  -- Sends with the newest epoch's key from now on; with none (a group not yet joined) sends nothing.
  function Member:execute()
    self.encryptor, self.nextEncryptor = self.nextEncryptor, nil
    self.code, self.nextCode = self.nextCode, nil
  end

  -- Derives the epoch's media keys: a decryptor ratchet per other member now, our own sending key at
  -- once or on execute().
  function Member:_useGroup(st)
    local problem = groupProblem(st, self.externalSender.raw)
    if problem then fail(problem) end
    self.group, self.pending, self.commit, self.queue, self.proposed = st, nil, nil, {}, false
    local now = rt.now()
    for i = 0, st.tree.leaves - 1 do
      local leaf = st.tree:leaf(i)
      if leaf then
        local user = userOf(leaf.credential.identity)
        local base = media.senderBaseSecret(st.secrets.exporter, user)
        if user == self.userId then
          self.nextEncryptor = media.encryptor(base)
        else
          self.decryptors[user] = self.decryptors[user] or media.decryptor()
          self.decryptors[user]:addRatchet(base, now)
        end
      end
    end
    self.nextCode = media.privacyCode(st.secrets.authenticator)
    if self.autoExecute then self:execute() end
  end

  -- Op 29's MLSMessage. Our own commit (the same bytes) is adopted; a pending member, or one that has
  -- had no proposals this epoch, ignores others'. Returns "adopted", "processed", "removed" or nil when
  -- the commit does not concern us.
  function Member:processCommit(bytes)
    local st = self:state()
    if not st then return nil end
    if self.commit and self.commit.bytes == bytes then
      self:_useGroup(self.commit.after)
      return "adopted"
    end
    if not (self.group and self.proposed) then return nil end
    local r = mls.reader(bytes)
    local m = mls.readMessage(r)
    r:finish()
    local pm = m.publicMessage
    if not pm or pm.content.contentType ~= 3 then fail("not a commit") end
    if pm.content.groupId ~= st.groupContext.groupId then return nil end
    for _, item in ipairs(pm.content.commit.proposals) do
      if not item.ref then fail("commit carries a proposal by value") end
    end
    local after = mls.processCommit(st, pm, self.queue)
    if after.removed then
      self:reset()
      return "removed"
    end
    self:_useGroup(after)
    return "processed"
  end

  -- Op 30's Welcome (bare, or wrapped in an MLSMessage) for our last key package.
  function Member:processWelcome(bytes)
    if not self.kp then fail("a welcome without a key package") end
    local r = mls.reader(bytes)
    if bytes:sub(1, 4) == "\0\1\0\3" then r:take(4) end
    local w = mls.readWelcome(r)
    r:finish()
    local st = mls.join(w, self.kp, self.kpPrivates)
    if st.groupContext.groupId ~= self.groupId then fail("welcome to another group") end
    self:_useGroup(st)
    return "joined"
  end


  -- Our Opus frame as a protocol frame, or nil without a sending key.
  function Member:encryptOpus(frame)
    local e = self.encryptor
    return e and e:encrypt(frame)
  end

  -- Accepts unencrypted frames until `untilMs` (rt.now(); true = for as long as version 0 lasts).
  function Member:setPassthrough(untilMs) self.passthroughUntil = untilMs end

  -- A sender's frame in the clear: silence as it is, clear frames only while passthrough is allowed;
  -- nil when it does not decrypt.
  function Member:decrypt(user, frame)
    if frame == "\xF8\xFF\xFE" then return frame end
    local now, d = rt.now(), self.decryptors[tostring(user)]
    if not media.parseFrame(frame) then
      local p = self.passthroughUntil
      return (p == true or (p and now < p)) and frame or nil
    end
    return d and d:decrypt(frame, now)
  end

  function Member:forget(user) self.decryptors[tostring(user)] = nil end

  -- The call's privacy code (six groups of five digits) of the epoch we send in.
  function Member:privacyCode() return self.code end
  -- The 45-digit code we and `user` compare (scrypt: seconds of work); nil outside a group with them.
  function Member:verificationCode(user)
    return self.group and media.verificationCode(self.group, self.userId, tostring(user))
  end

  return mls
end)(daveCrypto, runtime)
M._daveMls = daveMls

-- DAVE session ------------------------------------------------------------------------------------------
-- End-to-end encryption on one voice session: the gateway's DAVE opcodes, our group member, the
-- transitions between protocol versions and epochs, and the frames we send and receive.
-- Exports: DaveSession.new(conn, net) -> session with start, json, binary, connected, disconnected, encrypt,
-- decrypt, media and privacyCode. Uses the MLS section's member and wire format, and `conn` for _send, debug,
-- emit, joinConfig and _mediaChanged.

local DaveSession = (function(mls, now)
  local DaveSession = {}
  DaveSession.__index = DaveSession

  local REMOVE <const> = 3
  local DaveOp = { prepareTransition = 21, executeTransition = 22, transitionReady = 23, prepareEpoch = 24,
    externalSender = 25, proposals = 27, announceCommit = 29, welcome = 30, invalidCommitWelcome = 31 }

  function DaveSession.new(conn, net)
    return setmetatable({ conn = conn, net = net, version = 0, sendVersion = 0, recognized = {}, prepared = {} },
      DaveSession)
  end

  function DaveSession:debug(text) self.conn:debug("[dave] " .. text) end

  function DaveSession:_sendJson(op, d) return self.conn:_send(self.net, op, d) end
  function DaveSession:_sendBinary(bytes) return self.net.ws and self.net.ws:send(bytes, "binary") end

  -- Op 4's version: 0 passes frames through at once (transition 0); 1 starts a group.
  function DaveSession:start(version)
    self.version, self.started = version, true
    if version == 0 then
      self.sendVersion = 0
    else
      self.sendVersion = 1
      self:_keyPackage()
    end
    self.conn:_mediaChanged()
  end

  -- A fresh key package, a new pending group and nothing else of the old group state.
  function DaveSession:_keyPackage()
    local c = self.conn.joinConfig
    self.member = self.member or mls.member(c.userId, c.channelId, { execute = false })
    if self.externalSender then self.member:setExternalSender(self.externalSender) end
    self:_sendBinary(mls.wire.keyPackage(self.member:keyPackage()))
  end

  function DaveSession:connected(id) self.recognized[tostring(id)] = true end
  function DaveSession:disconnected(id)
    self.recognized[tostring(id)] = nil
    if self.member then self.member:forget(id) end
  end

  function DaveSession:_users()
    local out = {}
    for id in pairs(self.recognized) do out[#out + 1] = id end
    return out
  end

  local function integer(v) return math.tointeger(tonumber(v)) end

  function DaveSession:json(op, d)
    local id, version = integer(d.transition_id), integer(d.protocol_version)
    if op == DaveOp.prepareTransition and id and version then
      self:_prepare(id, version)
    elseif op == DaveOp.executeTransition and id then
      self:_execute(id)
    elseif op == DaveOp.prepareEpoch and integer(d.epoch) == 1 then
      -- A new group: everything starts again; we keep sending as we did until the transition executes.
      self.version = version or self.version
      if self.version > 0 then self:_keyPackage() end
    end
  end

  -- A binary message is parsed whole before anything of it is used: one that does not parse is refused
  -- here, never stored, and never ends the connection.
  function DaveSession:binary(data)
    local ok, parsed = pcall(mls.wire.parse, data)
    if not ok then
      return self:debug("refused binary message " .. tostring(data:byte(3)) .. ": " .. tostring(parsed))
    end
    local op = parsed.opcode
    if op == DaveOp.externalSender then
      self.externalSender = parsed.externalSender.raw
      if self.member then
        local set, err = pcall(self.member.setExternalSender, self.member, self.externalSender)
        if not set then self:debug("bad external sender: " .. tostring(err)) end
      end
      return
    end
    local m = self.member
    if not m or self.version == 0 then return end
    if op == DaveOp.proposals then
      -- A member's removal is announced: nothing we send from now on may use a key they hold.
      for _, msg in ipairs(parsed.messages or {}) do
        local content = msg.publicMessage and msg.publicMessage.content
        if content and content.proposal and content.proposal.type == REMOVE then self:_withhold("a removal") end
      end
      local done, commit, welcome = pcall(m.processProposals, m, data:byte(4), data:sub(5), self:_users())
      if not done then return self:debug("proposals refused: " .. tostring(commit)) end
      if commit then self:_sendBinary(mls.wire.commitWelcome(commit, welcome)) end
    elseif op == DaveOp.announceCommit or op == DaveOp.welcome then
      local id = parsed.transitionId
      local done, result = pcall(op == DaveOp.welcome and m.processWelcome or m.processCommit, m, data:sub(6))
      if not done then
        self:debug("invalid " .. (op == DaveOp.welcome and "welcome" or "commit") .. ": " .. tostring(result))
        -- Until we are welcomed again our key may be one a removed member still holds.
        self:_withhold("an invalid commit")
        self:_sendJson(DaveOp.invalidCommitWelcome, { transition_id = id })
        return self:_keyPackage()
      end
      if result == "removed" then return self:debug("removed from the group") end
      if result then
        self:debug("epoch " .. m:epoch() .. " (" .. result .. "), transition " .. id)
        self:_prepare(id, 1)
      end
    end
  end

  -- Readies a transition; transition 0 executes at once, others wait for the gateway's execute.
  function DaveSession:_prepare(id, version)
    if version == 0 and self.member then self.member:setPassthrough(true) end
    self.prepared[id] = version
    if id == 0 then return self:_execute(0) end
    self:_sendJson(DaveOp.transitionReady, { transition_id = id })
  end

  function DaveSession:_execute(id)
    local version = self.prepared[id]
    if version == nil then return end
    self.prepared[id] = nil
    local m = self.member
    if version == 0 then
      self.version, self.sendVersion = 0, 0
      if m then
        m:reset()
        m:setPassthrough(true)
      end
    elseif m then
      -- Frames from members who still send in the clear are accepted for the retention time.
      if self.sendVersion == 0 then m:setPassthrough(now() + mls.media.RETENTION_MS) end
      self.version, self.sendVersion = 1, 1
      m:execute()
    end
    self.withheld = nil
    self.conn.daveProtocolVersion = version
    self.conn:_mediaChanged()
    self:debug("transition " .. id .. " executed: protocol version " .. version)
    self.conn:emit("daveTransition", id, version)
  end

  -- Our Opus frame as it goes on the wire: as it is under version 0, encrypted under version 1, nil
  -- while there is no key to encrypt with.
  function DaveSession:encrypt(opus)
    if self.sendVersion == 0 then return opus end
    return not self.withheld and self.member and self.member:encryptOpus(opus) or nil
  end

  -- Stops sending until the next transition executes.
  function DaveSession:_withhold(why)
    if self.withheld or self.sendVersion == 0 then return end
    self:debug("sending key withheld after " .. why)
    self.withheld = true
    self.conn:_mediaChanged()
  end

  --- What our frames carry now: "transport" (protocol 0), "e2ee" (end-to-end encrypted) or "pending" (no
  --- key to send with yet, or it is withheld).
  function DaveSession:media()
    if self.sendVersion == 0 then return "transport" end
    return not self.withheld and self.member and self.member:privacyCode() and "e2ee" or "pending"
  end

  function DaveSession:decrypt(user, frame)
    if not self.member then return self.version == 0 and frame or nil end
    return self.member:decrypt(user, frame)
  end

  function DaveSession:privacyCode()
    return self.sendVersion == 1 and self.member and self.member:privacyCode() or nil
  end
  return DaveSession
end)(daveMls, runtime.now)
--- The end-to-end encryption session a connection runs on its voice session (internal).
---@private
M.DaveSession = DaveSession

-- Diagnostics -------------------------------------------------------------------------------------------

--- A text listing what voice depends on: Lua, encryption modes, the Opus encoder, FFmpeg, FFprobe, yt-dlp.
---@return string report
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

-- Ogg Opus demuxing -------------------------------------------------------------------------------------

--- Splits an Ogg Opus stream into Opus packets; the OpusHead and OpusTags headers are checked and dropped.
---@class discord.OggDemuxer
---@field head {version: integer, channels: integer, preSkip: integer, inputSampleRate: integer}? The OpusHead.
---@field pages integer Ogg pages read so far.
local OggDemuxer = util.class("OggDemuxer")
M.OggDemuxer = OggDemuxer

--- Makes a demuxer.
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

--- Feeds bytes, in pieces of any size; returns the complete packets found so far (perhaps none).
--- Raises `discord.VoiceError` when the stream is not Ogg Opus.
---@param bytes string The next piece of the stream.
---@return string[] packets
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

-- Ogg Opus writing ------------------------------------------------------------------------------------------
-- Exports: OggOpusWriter, opusSamples, pcmStream.

local CRC_TABLE = {}
for i = 0, 255 do
  local r = i << 24
  for _ = 1, 8 do r = (r & 0x80000000 ~= 0) and ((r << 1) ~ 0x04C11DB7) or (r << 1) end
  CRC_TABLE[i] = r & 0xFFFFFFFF
end

local function oggCrc(bytes)
  local crc = 0
  for i = 1, #bytes do crc = ((crc << 8) & 0xFFFFFFFF) ~ CRC_TABLE[((crc >> 24) ~ bytes:byte(i)) & 0xFF] end
  return crc
end

local FRAME_SIZES = { [0] = { 480, 960, 1920, 2880 }, { 480, 960 }, { 120, 240, 480, 960 } }

--- The 48 kHz samples an Opus packet holds, read from its TOC byte (0 for an empty packet).
---@param packet string An Opus packet.
---@return integer samples
function M.opusSamples(packet)
  local toc = packet:byte(1)
  if not toc then return 0 end
  local config = toc >> 3
  local size = config < 12 and FRAME_SIZES[0][config % 4 + 1] or config < 16 and FRAME_SIZES[1][config % 2 + 1]
    or FRAME_SIZES[2][config % 4 + 1]
  local code = toc & 3
  return size * (code == 0 and 1 or code == 3 and ((packet:byte(2) or 0) & 0x3F) or 2)
end

-- A page flushes after a second of audio; Ogg allows at most 255 lacing values.
local PAGE_SAMPLES <const> = 48000
-- A jump of the RTP clock beyond ten minutes is a new stream rather than a pause to fill.
local MAX_GAP_SAMPLES <const> = 48000 * 600

--- Turns Opus packets into an Ogg Opus stream; pauses in the RTP timestamps become silence of their length.
---@class discord.OggOpusWriter
---@field serial integer The stream's Ogg serial number.
---@field granule integer Samples written so far, filled pauses included.
---@field silence integer Silence frames written to fill pauses.
local OggOpusWriter = util.class("OggOpusWriter")
M.OggOpusWriter = OggOpusWriter

--- Options of an Ogg Opus writer.
---@class discord.OggOpusWriterOptions
---@field serial? integer The Ogg serial number (random by default).
---@field channels? integer The channel count written in OpusHead (2).
---@field vendor? string The vendor string of OpusTags.

--- Makes a writer; its first output starts with the two header pages.
---@param opts? discord.OggOpusWriterOptions
function OggOpusWriter:init(opts)
  opts = opts or {}
  self.serial = opts.serial or random32()
  self.sequence, self.granule, self.packets, self.segments = 0, 0, {}, {}
  self.silence = 0
  local vendor = opts.vendor or "tarnwick"
  self.header = self:_page(2, 0, { "OpusHead" .. string.pack("<BBI2I4i2B", 1, opts.channels or 2, 0, 48000, 0, 0) })
    .. self:_page(0, 0, { "OpusTags" .. string.pack("<s4I4", vendor, 0) })
end

function OggOpusWriter:_page(flags, granule, packets)
  local lacing = {}
  for _, p in ipairs(packets) do
    for _ = 1, #p // 255 do lacing[#lacing + 1] = 255 end
    lacing[#lacing + 1] = #p % 255
  end
  local head = "OggS" .. string.pack("<BBi8I4I4I4B", 0, flags, granule, self.serial, self.sequence, 0, #lacing)
    .. string.char(table.unpack(lacing))
  self.sequence = self.sequence + 1
  local page = head .. table.concat(packets)
  return page:sub(1, 22) .. string.pack("<I4", oggCrc(page)) .. page:sub(27)
end

function OggOpusWriter:_flush(flags)
  if #self.packets == 0 and flags == 0 then return "" end
  local page = self:_page(flags, self.granule, self.packets)
  self.packets, self.lacing, self.pageSamples = {}, 0, 0
  return page
end

function OggOpusWriter:_add(packet, out)
  local lacing = #packet // 255 + 1
  if (self.lacing or 0) + lacing > 255 or (self.pageSamples or 0) >= PAGE_SAMPLES then
    out[#out + 1] = self:_flush(0)
  end
  local n = M.opusSamples(packet)
  self.packets[#self.packets + 1] = packet
  self.lacing, self.pageSamples = (self.lacing or 0) + lacing, (self.pageSamples or 0) + n
  self.granule = self.granule + n
  return n
end

--- Adds one packet; returns the bytes of the pages it completes (perhaps "").
---@param packet string An Opus packet.
---@param timestamp? integer Its RTP timestamp; a jump from the previous one is filled with silence.
---@return string bytes
function OggOpusWriter:write(packet, timestamp)
  local out = {}
  if self.header then
    out[1], self.header = self.header, nil
  end
  if timestamp and self.nextTimestamp then
    local gap = (timestamp - self.nextTimestamp) & 0xFFFFFFFF
    if gap < MAX_GAP_SAMPLES then
      for _ = 1, gap // FRAME_SAMPLES do self:_add(M.SILENCE_FRAME, out) end
      self.silence = self.silence + gap // FRAME_SAMPLES
    end
  end
  local n = self:_add(packet, out)
  if timestamp then self.nextTimestamp = (timestamp + n) & 0xFFFFFFFF end
  return table.concat(out)
end

--- The last page, marked as the end of the stream (with the headers when nothing was written).
---@return string bytes
function OggOpusWriter:finish()
  local head = self.header or ""
  self.header = nil
  return head .. self:_flush(4)
end

--- Writes a receive stream to an Ogg Opus file at `path` once it ends; returns the packets written.
---@async
---@param stream discord.AudioReceiveStream|table A receive stream, or anything with read() -> packet, timestamp.
---@param path string The file to write.
---@param opts? discord.OggOpusWriterOptions
---@return integer packets
function M.recordOgg(stream, path, opts)
  local w, parts, n = OggOpusWriter(opts), {}, 0
  for packet, timestamp in stream.packets and stream:packets() or function() return stream:read() end do
    parts[#parts + 1] = w:write(packet, timestamp)
    n = n + 1
  end
  parts[#parts + 1] = w:finish()
  runtime.write_file(path, table.concat(parts))
  return n
end

--- Decodes a receive stream with FFmpeg to s16le PCM; the process's read() gives it until the stream ends.
--- Raises `discord.VoiceError` when FFmpeg is not found or does not start.
---@param stream discord.AudioReceiveStream The stream to decode.
---@param opts? {rate?: integer, channels?: integer} The PCM's sample rate (48000) and channels (2).
---@return table process The FFmpeg process: read() (suspends), kill(), wait().
function M.pcmStream(stream, opts)
  opts = opts or {}
  local path, msg = require("@discord/voice/search").findTool("ffmpeg")
  if not path then error(VoiceError(msg), 2) end
  local proc, err = runtime.process({ file = path, args = { "-hide_banner", "-loglevel", "error", "-f", "ogg",
    "-i", "pipe:0", "-f", "s16le", "-ar", tostring(opts.rate or 48000), "-ac", tostring(opts.channels or 2),
    "pipe:1" }, stdin = "pipe", stdout = "pipe", stderr = "null" })
  if not proc then error(VoiceError("could not start FFmpeg: " .. tostring(err)), 2) end
  runtime.spawn(function()
    local w = OggOpusWriter()
    for packet, timestamp in stream:packets() do
      if not proc:write(w:write(packet, timestamp)) then break end
    end
    proc:write(w:finish())
    proc:close_stdin()
  end)
  return proc
end

-- Volume -----------------------------------------------------------------------------------------------

--- Scales 16-bit PCM by a linear volume (1 = as is); the setters also take decibels or a perceived level.
---@class discord.VolumeTransformer
---@field volume number The linear factor.
---@field volumeDecibels number The volume in decibels (read-only).
---@field volumeLogarithmic number The volume as a perceived level (read-only).
local VolumeTransformer = util.class("VolumeTransformer")
M.VolumeTransformer = VolumeTransformer

--- Makes a transformer.
---@param volume? number The linear volume (1).
function VolumeTransformer:init(volume) self:setVolume(volume or 1) end

--- Sets the linear volume.
--- Raises an error when `v` is not a number of 0 or more.
---@param v number The factor (1 = as is).
function VolumeTransformer:setVolume(v)
  if type(v) ~= "number" or v < 0 or v ~= v then error("setVolume: volume must be a number of 0 or more", 2) end
  self.volume = v
end
--- Sets the volume in decibels (0 = as is).
---@param db number Decibels.
function VolumeTransformer:setVolumeDecibels(db) self:setVolume(10 ^ (db / 20)) end
--- Sets the volume as a perceived level (1 = as is, 0.5 about half as loud).
---@param v number The level.
function VolumeTransformer:setVolumeLogarithmic(v) self:setVolume(v ^ 1.660964) end
VolumeTransformer.getters.volumeDecibels = function(self) return math.log(self.volume, 10) * 20 end
VolumeTransformer.getters.volumeLogarithmic = function(self) return self.volume ^ (1 / 1.660964) end

local SAMPLE_FORMAT = "<" .. string.rep("i2", PCM_FRAME_BYTES // 2)

--- One frame scaled by the volume, clipped to 16 bits.
---@param pcm string One frame of s16le stereo PCM (3840 bytes).
---@return string pcm
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

--- Reads the start of a stream and tells its type: "ogg/opus" for Ogg with an OpusHead, else "arbitrary".
--- Raises `discord.VoiceError` when `input` is a file that cannot be read.
---@async
---@param input string|table|fun(): string? A file path, an object with read(), or a function giving pieces.
---@return discord.StreamType type
---@return fun(): string? read A reader that gives the bytes already read first.
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

--- The FFmpeg arguments that turn `input` into Ogg Opus (or s16le PCM when `raw`) on stdout.
---@param input any A file path or URL; anything else is read from stdin.
---@param opts discord.AudioResourceOptions Its seek, ffmpegArgs and bitrate are used.
---@param raw? boolean Gives s16le 48 kHz stereo PCM instead of Ogg Opus.
---@return string[] args
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

--- Options of `createAudioResource`.
---@class discord.AudioResourceOptions
---@field inputType? discord.StreamType How the input is read: a path or URL goes through FFmpeg, else "ogg/opus".
---@field inlineVolume? boolean Decodes to PCM scaled by `resource.volume` (files, URLs and raw PCM only).
---@field volume? number The linear volume with `inlineVolume` (1).
---@field metadata? any Kept as `resource.metadata`.
---@field seek? integer Where to start, in ms (inputs FFmpeg reads).
---@field bitrate? integer The Opus bitrate in bits per second (128000).
---@field ffmpegArgs? string[] More FFmpeg arguments, after the input.
---@field silencePaddingFrames? integer Silence frames sent after the end (5).

--- Audio a player can play: Opus packets from FFmpeg, an Ogg Opus stream, raw PCM or packets.
---@class discord.AudioResource
---@field input any What it reads.
---@field inputType discord.StreamType How it reads it.
---@field metadata any What `opts.metadata` gave (the music player's track, for example).
---@field volume discord.VolumeTransformer? The inline volume, when `inlineVolume` was asked for.
---@field playbackDuration integer Milliseconds of audio read so far.
---@field started boolean True once a player started it.
---@field ended boolean True once its input has ended or it was destroyed.
---@field silencePaddingFrames integer Silence frames sent after the end.
---@field silenceRemaining integer Closing silence frames still to send (-1 before the end).
---@field seek integer Where in the input it started, in ms.
---@field player discord.AudioPlayer? The player it plays on.
---@field process table? The FFmpeg process, for inputs FFmpeg reads.
---@field error any Why it failed (usually a `discord.VoiceError`), when it did.
---@field readable boolean True while a packet is ready or the closing silence is still to be sent (read-only).
local AudioResource = util.class("AudioResource")
M.AudioResource = AudioResource

--- Makes a resource; `createAudioResource` is the usual way.
--- Raises an error when `inlineVolume` is asked for an input that is not a file, a URL or raw PCM.
---@param input string|table|fun(): string? A file path or URL, a stream or process, or a function.
---@param opts? discord.AudioResourceOptions
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

AudioResource.getters.readable = function(self)
  if #self.packets > 0 then return true end
  if not self.ended then return false end
  return self.silenceRemaining ~= 0
end

--- The next packet; after the end, `silencePaddingFrames` frames of silence, then nil.
---@return string? packet
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

--- Audio for a player from a file path or URL (FFmpeg transcodes it), a stream, a process or a function.
--- Raises an error when `input` is missing or of a kind the options cannot read.
---@param input string|table|fun(): string? A path or URL, a stream or process with read(), or a function.
---@param opts? discord.AudioResourceOptions How to read it, inline volume, seek, metadata.
---@return discord.AudioResource resource
function M.createAudioResource(input, opts)
  if input == nil then error("createAudioResource: input is required", 2) end
  return AudioResource(input, opts)
end

-- Receiving ------------------------------------------------------------------------------------------------
-- What the voice server relays from the others in the call: RTCP set aside, each RTP packet opened
-- (transport encryption, then the sender's DAVE layer), mapped to its user, ordered in a small window per
-- sender and handed to the bot's streams. A packet that fails a check is dropped and counted, never raised.
-- Exports: EndBehaviorType, openRtp, VoiceReceiver, AudioReceiveStream, SpeakingMap. Uses the RTP constants
-- and, from the connection, _ssrcs, decryptFrame and state.

local receive = (function(c)
  local SILENCE, NONCE_SIZE, AUDIO, DESTROYED = c.silence, c.nonceSizes, c.payloadType, c.destroyed
  --- When a receive stream ends by itself: on close only, after the user's silence, or after no packets.
  ---@enum discord.EndBehaviorType
  local EndBehavior = c.enum({ Manual = "Manual", AfterSilence = "AfterSilence",
    AfterInactivity = "AfterInactivity" })
  local BEHAVIORS = util.set({ "Manual", "AfterSilence", "AfterInactivity" })
  -- Packets held while an earlier one is missing; at 20 ms each, 80 ms of delay at worst.
  local JITTER_PACKETS <const> = 4
  -- No audio for this long ends a user's speech, as Discord's clients show it.
  local SPEAKING_DELAY <const> = 100
  -- A stream the bot does not read keeps at most a minute of packets.
  local STREAM_LIMIT <const> = 3000
  -- A stream subscribed while its user speaks starts at most this many packets back in that speech.
  local RECENT_PACKETS <const> = 50
  local TAG_SIZE <const> = 16

  --- An RTP packet with its transport encryption removed, or nil and why it was refused.
  ---@param packet string A UDP packet from the voice server.
  ---@param mode string The session's encryption mode.
  ---@param key string The session's 32-byte key.
  ---@return {sequence: integer, timestamp: integer, ssrc: integer, marker: boolean, payload: string}? rtp
  ---@return string? why "rtcp", "notRtp", "payloadType", "short" or "auth" when `rtp` is nil.
  local function openRtp(packet, mode, key)
    -- In the rtpsize modes the fixed header, the CSRCs and the extension's 4-byte preamble are authenticated;
    -- the extension's body is encrypted with the payload; the last 4 bytes are the nonce counter.
    local size = #packet
    if size < 12 then return nil, "short" end
    local b1, b2, sequence, timestamp, ssrc = string.unpack(">BBI2I4I4", packet)
    if b1 & 0xC0 ~= 0x80 then return nil, "notRtp" end
    if b2 >= 192 and b2 <= 223 then return nil, "rtcp" end
    if b2 & 0x7F ~= AUDIO then return nil, "payloadType" end
    local clear = 12 + 4 * (b1 & 0x0F) + (b1 & 0x10 ~= 0 and 4 or 0)
    if size < clear + TAG_SIZE + 4 then return nil, "short" end
    local extension = b1 & 0x10 ~= 0 and 4 * string.unpack(">I2", packet, clear - 1) or 0
    local nonce = packet:sub(-4) .. string.rep("\0", NONCE_SIZE[mode] - 4)
    local plain = _discord.aead_decrypt(mode, key, nonce, packet:sub(1, clear), packet:sub(clear + 1, -5))
    if not plain then return nil, "auth" end
    local stop = #plain
    if b1 & 0x20 ~= 0 then stop = stop - (plain:byte(-1) or 0) end
    if stop <= extension then return nil, "short" end
    return { sequence = sequence, timestamp = timestamp, ssrc = ssrc, marker = b2 & 0x80 ~= 0,
      payload = plain:sub(extension + 1, stop) }
  end

  -- Runs check(obj) when `obj.deadline` passes, one timer at a time, however often the deadline moves.
  local function deadlineTimer(obj, check)
    if obj.timer then return end
    obj.timer = runtime.timer(math.max(0, obj.deadline - runtime.now()), function()
      obj.timer = nil
      if not obj.deadline then return end
      if runtime.now() >= obj.deadline then return check(obj) end
      deadlineTimer(obj, check)
    end)
  end

  --- When a receive stream ends by itself.
  ---@class discord.EndBehavior
  ---@field behavior? discord.EndBehaviorType "Manual" (the default), "AfterSilence" or "AfterInactivity".
  ---@field duration? integer Milliseconds after the user's last audio (or last packet) that end the stream (0).

  --- Options of `VoiceReceiver:subscribe`.
  ---@class discord.AudioReceiveStreamOptions
  ---@field ["end"] discord.EndBehavior? When the stream ends by itself (only on close by default).

  ---@alias discord.AudioReceiveStreamEvent
  ---| "end" # (reason: string) It ended: closed, silence, inactivity, left, moved, disconnected or destroyed.

  --- Opus packets of one user as they arrive, in order, until the stream ends.
  ---@class discord.AudioReceiveStream: discord.EventEmitter
  ---@field receiver discord.VoiceReceiver The receiver it came from.
  ---@field userId discord.Snowflake The user it hears.
  ---@field ["end"] discord.EndBehavior When it ends by itself.
  ---@field ended boolean True once it has ended; packets already queued can still be read.
  ---@field endReason string? Why it ended: closed, silence, inactivity, left, moved, disconnected or destroyed.
  ---@field overflow integer Packets dropped because the stream was not read (it keeps 3000 at most).
  local AudioReceiveStream = util.class("AudioReceiveStream", util.EventEmitter)

  --- Makes a stream; `VoiceReceiver:subscribe` is the way to get one.
  --- Raises an error when `endOpts.behavior` is not a `discord.EndBehaviorType`.
  ---@param receiver discord.VoiceReceiver The receiver it belongs to.
  ---@param userId discord.Snowflake The user it hears.
  ---@param endOpts? discord.EndBehavior When it ends by itself.
  function AudioReceiveStream:init(receiver, userId, endOpts)
    util.EventEmitter.init(self)
    self.receiver, self.userId = receiver, userId
    self["end"] = { behavior = endOpts and endOpts.behavior or EndBehavior.Manual, duration = endOpts
      and endOpts.duration or 0 }
    if not BEHAVIORS[self["end"].behavior] then
      error("subscribe: end.behavior must be Manual, AfterSilence or AfterInactivity", 3)
    end
    self.queue = util.Queue(STREAM_LIMIT)
    self.ended, self.overflow = false, 0
  end

  function AudioReceiveStream:_push(p)
    if self.ended then return end
    if not self.queue:push(p) then self.overflow = self.overflow + 1 end
    local e = self["end"]
    if e.behavior == EndBehavior.AfterInactivity or e.behavior == EndBehavior.AfterSilence
        and (p.opus ~= SILENCE or not self.deadline) then
      self.deadline = runtime.now() + e.duration
      local reason = e.behavior == EndBehavior.AfterSilence and "silence" or "inactivity"
      deadlineTimer(self, function(s) s:_finish(reason) end)
    end
  end

  function AudioReceiveStream:_finish(reason)
    if self.ended then return end
    self.ended, self.endReason, self.deadline = true, reason, nil
    if self.timer then self.timer:cancel() end
    self.queue:close()
    self.receiver:_unsubscribe(self)
    self:emit("end", reason)
  end

  --- The next packet, its RTP timestamp and sequence number; nil and "closed" at the end, or "timeout".
  ---@async
  ---@param timeout? integer Milliseconds to wait at most (none: until a packet comes or the stream ends).
  ---@return string? opus The Opus packet.
  ---@return integer|string timestamp Its RTP timestamp, or "closed" / "timeout" when `opus` is nil.
  ---@return integer? sequence Its RTP sequence number.
  function AudioReceiveStream:read(timeout)
    local p, err = self.queue:pop(timeout)
    if not p then return nil, err end
    return p.opus, p.timestamp, p.sequence
  end

  --- An iterator over the packets until the stream ends: `for opus, timestamp, sequence in s:packets() do`.
  ---@return fun(): string?, integer?, integer? iterator Its calls suspend the task until a packet comes.
  function AudioReceiveStream:packets()
    return function() return self:read() end
  end

  --- Ends the stream; packets already queued can still be read.
  function AudioReceiveStream:close() self:_finish("closed") end

  ---@alias discord.SpeakingMapEvent
  ---| "start" # (userId: discord.Snowflake) A user's audio started.
  ---| "end" # (userId: discord.Snowflake) No audio from the user for 100 ms (silence does not count), or they left.

  --- Who speaks now in a connection's call; it emits when a user's speech starts and ends.
  ---@class discord.SpeakingMap: discord.EventEmitter
  ---@field users table<discord.Snowflake, integer> When each speaking user's speech started (`runtime.now()`).
  local SpeakingMap = util.class("SpeakingMap", util.EventEmitter)

  --- Makes an empty map; each receiver has one.
  function SpeakingMap:init()
    util.EventEmitter.init(self)
    self.users = {}
  end

  --- What a receiver counted; nothing of the receiving raises into the bot.
  ---@class discord.VoiceReceiverStats
  ---@field packets integer UDP packets received.
  ---@field rtcp integer RTCP packets set aside.
  ---@field delivered integer Packets handed to the streams (whether or not anyone subscribed).
  ---@field lost integer Sequence numbers skipped.
  ---@field dropped table<string, integer> Dropped packets by reason: short, notRtp, auth, decrypt, late, ...

  --- A connection's receiver: who speaks, and streams of each user's Opus packets.
  ---@class discord.VoiceReceiver
  ---@field connection discord.VoiceConnection The connection it belongs to.
  ---@field speaking discord.SpeakingMap Who speaks now.
  ---@field subscriptions table<discord.Snowflake, discord.AudioReceiveStream[]> The open streams by user.
  ---@field stats discord.VoiceReceiverStats What it counted.
  local VoiceReceiver = util.class("VoiceReceiver")

  --- Makes a receiver; each connection has one, as `connection.receiver`.
  ---@param connection discord.VoiceConnection The connection it belongs to.
  function VoiceReceiver:init(connection)
    self.connection = connection
    self.speaking = SpeakingMap()
    self.subscriptions = {}
    self.senders = {}
    self.stats = { packets = 0, rtcp = 0, delivered = 0, lost = 0, dropped = {} }
  end

  --- A new stream of a user's packets (several may follow one user); it starts with their current speech.
  --- Raises an error when `opts["end"].behavior` is not a `discord.EndBehaviorType`.
  ---@param userId discord.Snowflake The user to hear.
  ---@param opts? discord.AudioReceiveStreamOptions When the stream ends by itself.
  ---@return discord.AudioReceiveStream stream Already ended when the connection is destroyed.
  function VoiceReceiver:subscribe(userId, opts)
    userId = tostring(userId)
    local stream = AudioReceiveStream(self, userId, opts and opts["end"])
    if self.connection.state.status == DESTROYED then
      stream:_finish("destroyed")
      return stream
    end
    local list = self.subscriptions[userId] or {}
    self.subscriptions[userId] = list
    list[#list + 1] = stream
    -- Subscribing when the speaking event comes loses nothing of the speech that started it.
    for _, s in pairs(self.senders) do
      if s.userId == userId then
        for _, p in ipairs(s.recent) do stream:_push(p) end
      end
    end
    return stream
  end

  function VoiceReceiver:_unsubscribe(stream)
    local list = self.subscriptions[stream.userId]
    for i = #(list or {}), 1, -1 do
      if list[i] == stream then table.remove(list, i) end
    end
    if list and #list == 0 then self.subscriptions[stream.userId] = nil end
  end

  function VoiceReceiver:_drop(reason)
    local d = self.stats.dropped
    d[reason] = (d[reason] or 0) + 1
  end

  -- One UDP packet from the voice server, on the session `net`.
  function VoiceReceiver:_packet(data, net)
    self.stats.packets = self.stats.packets + 1
    local rtp, why = openRtp(data, net.mode, net.key)
    if not rtp then
      if why == "rtcp" then self.stats.rtcp = self.stats.rtcp + 1 else self:_drop(why) end
      return
    end
    local user = self.connection._ssrcs[rtp.ssrc]
    if not user then return self:_drop("unknownSsrc") end
    rtp.opus = self.connection:decryptFrame(rtp.ssrc, rtp.payload)
    if not rtp.opus then return self:_drop("decrypt") end
    rtp.payload, rtp.userId = nil, user
    local s = self.senders[rtp.ssrc]
    if not s or s.userId ~= user then
      s = { ssrc = rtp.ssrc, userId = user, held = {}, count = 0, recent = {} }
      self.senders[rtp.ssrc] = s
    end
    s.expected = s.expected or rtp.sequence
    local ahead = (rtp.sequence - s.expected) & 0xFFFF
    if ahead >= 0x8000 then return self:_drop("late") end
    if s.held[rtp.sequence] then return self:_drop("duplicate") end
    s.held[rtp.sequence], s.count = rtp, s.count + 1
    local now = runtime.now()
    s.lastAt = now
    if rtp.opus ~= SILENCE then s.audioAt = now end
    self:_drain(s, false)
    s.deadline = now + SPEAKING_DELAY
    deadlineTimer(s, function(x) self:_quiet(x) end)
  end

  -- Hands over the packets that are next in order; a gap is skipped (and counted) once the window is full,
  -- or at once when `flush`.
  function VoiceReceiver:_drain(s, flush)
    while s.count > 0 do
      local p = s.held[s.expected]
      if p then
        s.held[s.expected], s.count, s.expected = nil, s.count - 1, (s.expected + 1) & 0xFFFF
        self:_deliver(s, p)
      elseif flush or s.count > JITTER_PACKETS then
        local skip = 0x10000
        for seq in pairs(s.held) do skip = math.min(skip, (seq - s.expected) & 0xFFFF) end
        self.stats.lost = self.stats.lost + skip
        s.expected = (s.expected + skip) & 0xFFFF
      else
        break
      end
    end
  end

  function VoiceReceiver:_deliver(s, p)
    self.stats.delivered = self.stats.delivered + 1
    if p.opus ~= SILENCE and not self.speaking.users[s.userId] then
      self.speaking.users[s.userId] = runtime.now()
      s.recent = {}
      self.speaking:emit("start", s.userId)
    end
    if #s.recent >= RECENT_PACKETS then table.remove(s.recent, 1) end
    s.recent[#s.recent + 1] = p
    for _, stream in ipairs(self.subscriptions[s.userId] or {}) do stream:_push(p) end
  end

  -- A sender quiet for a moment: what waited for a missing packet goes out, and their speech has ended.
  function VoiceReceiver:_quiet(s)
    s.deadline = nil
    self:_drain(s, true)
    if self.speaking.users[s.userId] and runtime.now() - (s.audioAt or 0) >= SPEAKING_DELAY then
      self.speaking.users[s.userId] = nil
      self.speaking:emit("end", s.userId)
    end
  end

  -- A user left: their streams end and their sender state goes.
  function VoiceReceiver:_userLeft(userId, reason)
    userId = tostring(userId)
    for ssrc, s in pairs(self.senders) do
      if s.userId == userId then
        if s.timer then s.timer:cancel() end
        self.senders[ssrc] = nil
      end
    end
    if self.speaking.users[userId] then
      self.speaking.users[userId] = nil
      self.speaking:emit("end", userId)
    end
    local list = self.subscriptions[userId] or {}
    for i = #list, 1, -1 do list[i]:_finish(reason or "left") end
  end

  -- The connection moved or ended: every stream ends.
  function VoiceReceiver:_endAll(reason)
    local users = {}
    for id in pairs(self.subscriptions) do users[#users + 1] = id end
    for _, s in pairs(self.senders) do users[#users + 1] = s.userId end
    for _, id in ipairs(users) do self:_userLeft(id, reason) end
  end
  return { EndBehaviorType = EndBehavior, openRtp = openRtp, VoiceReceiver = VoiceReceiver,
    AudioReceiveStream = AudioReceiveStream, SpeakingMap = SpeakingMap }
end)({ silence = M.SILENCE_FRAME, nonceSizes = NONCE_SIZES, payloadType = RTP_PAYLOAD_TYPE,
  destroyed = Status.Destroyed, enum = enum })
local VoiceReceiver = receive.VoiceReceiver
for name, v in pairs(receive) do M[name] = v end

-- Networking: voice gateway and UDP -------------------------------------------------------------------------
-- Exports: chooseMode, discoverIp, rtpHeader, sealPacket, VoiceConnection, adapterCreator, joinVoiceChannel,
-- getVoiceConnection, getVoiceConnections. Takes the DAVE session and receiver classes and the version and
-- close-code rules of the errors section.

local gateway = (function(Dave, Receiver, daveVersion, closeAction)
  local function encodeKey(bytes)
    if type(bytes) ~= "table" or #bytes ~= 32 then return nil end
    local out = {}
    for i, b in ipairs(bytes) do
      if math.type(b) ~= "integer" or b < 0 or b > 255 then return nil end
      out[i] = string.char(b)
    end
    return table.concat(out)
  end

  --- The best transport encryption mode of the runtime's list that the server offers, or nil.
  ---@param offered? string[] The modes the server offers.
  ---@return string? mode
  local function chooseMode(offered)
    local set = util.set(offered or {})
    for _, mode in ipairs(_discord.aead_modes()) do
      if set[mode] and NONCE_SIZES[mode] then return mode end
    end
    return nil
  end

  --- IP discovery: the address and port the voice server sees for this UDP socket; nil and a message if none.
  ---@async
  ---@param sock table The UDP socket to the voice server.
  ---@param ssrc integer The connection's SSRC.
  ---@param timeout? integer Milliseconds to wait for each of three tries (2000).
  ---@return string? address
  ---@return integer|string port The port, or the message when `address` is nil.
  local function discoverIp(sock, ssrc, timeout)
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
  ---@param sequence integer The 16-bit sequence number.
  ---@param timestamp integer The 32-bit timestamp.
  ---@param ssrc integer The sender's SSRC.
  ---@return string header The 12 bytes.
  local function rtpHeader(sequence, timestamp, ssrc)
    return string.pack(">BBI2I4I4", RTP_VERSION, RTP_PAYLOAD_TYPE, sequence, timestamp, ssrc)
  end

  --- One encrypted RTP packet: header, sealed Opus with the header as AAD, and the 4-byte nonce counter.
  ---@param mode string The session's encryption mode.
  ---@param key string The session's 32-byte key.
  ---@param header string The RTP header.
  ---@param counter integer The 32-bit nonce counter.
  ---@param opus string The Opus frame.
  ---@return string packet
  local function sealPacket(mode, key, header, counter, opus)
    local nonce = string.pack(">I4", counter)
    local full = nonce .. string.rep("\0", NONCE_SIZES[mode] - 4)
    return header .. _discord.aead_encrypt(mode, key, full, header, opus) .. nonce
  end

  -- VoiceConnection ------------------------------------------------------------------------------------------

  local connections = {}

  local function key(guildId, group) return (group or "default") .. ":" .. tostring(guildId) end

  --- What a connection joins with.
  ---@class discord.VoiceJoinConfig
  ---@field guildId discord.Snowflake The guild.
  ---@field channelId discord.Snowflake? The voice channel; nil after `disconnect`.
  ---@field selfDeaf boolean Joined deafened.
  ---@field selfMute boolean Joined muted.
  ---@field group string The connection group ("default").
  ---@field userId discord.Snowflake? The bot's user ID.

  --- A connection's state: its status and, in some states, why and the session's internals.
  ---@class discord.VoiceConnectionState
  ---@field status discord.VoiceConnectionStatus The status.
  ---@field reason? discord.VoiceConnectionDisconnectReason Why it is disconnected.
  ---@field closeCode? integer The voice gateway's close code, when a close disconnected it.
  ---@field networking? table The voice session's internals while connecting or ready.

  --- A connection's link to the player whose audio it plays.
  ---@class discord.PlayerSubscription
  ---@field connection discord.VoiceConnection The connection.
  ---@field player discord.AudioPlayer The player.
  ---@field unsubscribe fun() Stops playing the player on the connection (suspends: it clears speaking).

  ---@alias discord.VoiceConnectionEvent
  ---| "stateChange" # (old: discord.VoiceConnectionState, new: discord.VoiceConnectionState) The state changed.
  ---| "signalling" # (old, new) It asks Discord for a voice server (op 4).
  ---| "connecting" # (old, new) It connects (or reconnects) to the voice server.
  ---| "ready" # (old, new) Audio can be sent and received.
  ---| "disconnected" # (old, new) It is out of the channel or lost the voice server; `new.reason` tells why.
  ---| "destroyed" # (old, new) It has ended for good.
  ---| "error" # (err: any) A fatal error or the last failed reconnection (a `discord.VoiceError` as a rule).
  ---| "debug" # (text: string) What it does, for logs.
  ---| "mediaEncryption" # (new: discord.MediaEncryption, old: discord.MediaEncryption?) What its frames carry.
  ---| "daveTransition" # (id: integer, version: integer) An end-to-end encryption transition was executed.

  --- One guild's voice connection: joins the channel, keeps the voice session, sends and receives audio.
  ---@class discord.VoiceConnection: discord.EventEmitter
  ---@field joinConfig discord.VoiceJoinConfig The guild, channel and flags it joins with.
  ---@field state discord.VoiceConnectionState Its state.
  ---@field receiver discord.VoiceReceiver What it hears of the others in the call.
  ---@field ping {ws?: integer, udp?: integer} The last heartbeat round trip and IP discovery time, in ms.
  ---@field speaking integer The speaking flags last sent (`discord.SpeakingFlags`).
  ---@field packets {sent: integer, silence: integer, dropped: integer} Audio packets sent, silence, dropped.
  ---@field users table<discord.Snowflake, {ssrc?: integer, speaking?: integer}> The others in the call.
  ---@field attempts integer Reconnection attempts since the last success.
  ---@field rejoinAttempts integer Rejoins since the last session began.
  ---@field adapter table The adapter that sends op 4 on the guild's shard.
  ---@field subscription discord.PlayerSubscription? The player it plays.
  ---@field lastError any The error that ended or disconnected it (a `discord.VoiceError` as a rule).
  ---@field mediaEncryption discord.MediaEncryption? What the bot's frames carry now.
  ---@field daveProtocolVersion integer? The end-to-end encryption version in use (0 or 1).
  local VoiceConnection = util.class("VoiceConnection", util.EventEmitter)

  --- Makes a connection; `joinVoiceChannel` is the way to get one.
  ---@param config discord.VoiceJoinConfig What it joins with.
  ---@param adapterCreator fun(methods: table): table Gives the adapter that sends op 4.
  function VoiceConnection:init(config, adapterCreator)
    util.EventEmitter.init(self)
    self.joinConfig = config
    self.state = { status = Status.Signalling }
    self.rejoinAttempts, self.attempts = 0, 0
    self.ping = { ws = nil, udp = nil }
    self.speaking = 0
    self.packets = { sent = 0, silence = 0, dropped = 0 }
    self.users, self._ssrcs = {}, {}
    self._voice = {}
    self.receiver = Receiver(self)
    self.adapter = adapterCreator({
      onVoiceServerUpdate = function(d) self:_serverUpdate(d) end,
      onVoiceStateUpdate = function(d) self:_stateUpdate(d) end,
      destroy = function() self:destroy(false) end,
    })
  end

  --- Emits `debug` with the text, prefixed with the guild, and logs it.
  ---@param text string The message.
  function VoiceConnection:debug(text)
    debugLog(self, "[voice " .. tostring(self.joinConfig.guildId) .. "] " .. text)
  end

  function VoiceConnection:_payload()
    local c = self.joinConfig
    return { op = 4, d = { guild_id = c.guildId, channel_id = c.channelId or json.null, self_deaf = c.selfDeaf,
      self_mute = c.selfMute } }
  end

  -- (B) Sends op 4 through the adapter; false when the shard is not there.
  function VoiceConnection:_signal()
    local ok = self.adapter.sendPayload(self:_payload())
    if not ok then
      setState(self, { status = Status.Disconnected, reason = DisconnectReason.AdapterUnavailable })
    end
    return ok
  end

  function VoiceConnection:_stateUpdate(d)
    self._voice.sessionId = d.session_id
    local channel = util.nullable(d.channel_id)
    if channel ~= nil then self.joinConfig.channelId = channel end
    -- What was heard in the old channel ends with it (leaving on purpose ends it there).
    if self._channel and self._channel ~= channel and not self._leaving then
      self.receiver:_endAll(channel and "moved" or "disconnected")
    end
    self._channel = channel
    local status = self.state.status
    if channel == nil and status ~= Status.Destroyed and status ~= Status.Disconnected
        and not self._leaving then
      self:_closeNetworking()
      setState(self, { status = Status.Disconnected, reason = DisconnectReason.EndpointRemoved })
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
      net.rtp, net.dave = self._net.rtp, self._net.dave
      if net.dave then net.dave.net = net end
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
      if text == "binary" then
        self:_binary(net, data)
      else
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
        -- A new session starts DAVE from nothing; its messages may come before the session description.
        if daveVersion() > 0 then net.dave = Dave.new(self, net) end
        self:_send(net, VoiceOpcodes.Identify, { server_id = v.serverId, user_id = self.joinConfig.userId,
          session_id = v.sessionId, token = v.token, max_dave_protocol_version = daveVersion() })
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
      if type(d) == "table" and d.user_id then
        self.users[d.user_id] = { ssrc = d.ssrc, speaking = d.speaking }
        if math.type(d.ssrc) == "integer" then self._ssrcs[d.ssrc] = d.user_id end
      end
    elseif op == VoiceOpcodes.ClientsConnect then
      for _, id in ipairs(type(d) == "table" and d.user_ids or {}) do
        self.users[id] = self.users[id] or {}
        if net.dave then net.dave:connected(id) end
      end
    elseif op == VoiceOpcodes.ClientDisconnect then
      if type(d) == "table" and d.user_id then
        local u = self.users[d.user_id]
        if u and u.ssrc then self._ssrcs[u.ssrc] = nil end
        self.users[d.user_id] = nil
        self.receiver:_userLeft(d.user_id)
        if net.dave then net.dave:disconnected(d.user_id) end
      end
    elseif op and op >= VoiceOpcodes.DavePrepareTransition then
      -- Only a DAVE session sends these; without one the server expects what we cannot do.
      if not net.dave then return self:_refuseDave(net) end
      net.dave:json(op, type(d) == "table" and d or {})
    end
  end

  -- A binary message: sequence number, opcode, payload; only DAVE sends them.
  function VoiceConnection:_binary(net, data)
    if #data < 3 then return end
    net.seqAck = string.unpack(">I2", data)
    if not net.dave then return self:_refuseDave(net) end
    net.dave:binary(data)
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
    net.mode = chooseMode(d.modes)
    if not net.mode then
      error(VoiceError("the voice server offers no encryption mode this runtime has (offered: "
        .. table.concat(d.modes or {}, ", ") .. ")", { fatal = true }), 0)
    end
    if net.udp then net.udp:close() end
    local sock, msg = _discord.udp(d.ip, math.tointeger(d.port))
    if not sock then error(VoiceError("could not open UDP to " .. tostring(d.ip) .. ": " .. tostring(msg)), 0) end
    net.udp = sock
    local started = runtime.now()
    local address, port = discoverIp(sock, net.ssrc)
    if not address then error(VoiceError(port), 0) end
    self.ping.udp = runtime.now() - started
    net.address, net.port = address, port
    self:debug("IP discovery: " .. address .. ":" .. port .. ", mode " .. net.mode)
    self:_send(net, VoiceOpcodes.SelectProtocol, { protocol = "udp",
      data = { address = address, port = port, mode = net.mode } })
  end

  function VoiceConnection:_session(net, d)
    local version = math.tointeger(d.dave_protocol_version) or 0
    if version > daveVersion() then return self:_refuseDave(net) end
    if net.dave and not net.dave.started then net.dave:start(version) end
    self.daveProtocolVersion = version
    if d.mode ~= net.mode then
      error(VoiceError("the voice server chose " .. tostring(d.mode) .. " instead of " .. net.mode,
        { fatal = true }), 0)
    end
    net.key = encodeKey(d.secret_key)
    if not net.key then error(VoiceError("the session description has no 32-byte key", { fatal = true }), 0) end
    net.rtp = net.rtp or { sequence = random32() & 0xFFFF, timestamp = random32(), nonce = 0 }
    self.attempts, self.rejoinAttempts = 0, 0
    self.speaking = 0
    self:_keepAlive(net)
    self:_listen(net)
    self:_mediaChanged()
    setState(self, { status = Status.Ready, networking = net })
  end

  -- What our frames carry: `mediaEncryption` is "transport" (no end-to-end encryption in the call),
  -- "pending" (end-to-end encryption is required but we have no key to send with) or "e2ee"; the event
  -- mediaEncryption(new, old) tells each change.
  function VoiceConnection:_mediaChanged()
    local net = self._net
    local now = net and net.dave and net.dave:media() or Media.Transport
    local old = self.mediaEncryption
    if now == old then return end
    self.mediaEncryption = now
    self:debug("media: " .. now)
    self:emit("mediaEncryption", now, old)
  end

  -- One task per UDP socket hands what the voice server relays to the receiver; it ends with the socket.
  function VoiceConnection:_listen(net)
    local sock = net.udp
    if self._listening == sock then return end
    self._listening = sock
    runtime.spawn(function()
      while self._listening == sock do
        local data, msg, kind = sock:receive()
        if not data and kind ~= "timeout" then break end
        local cur = self._net
        if data and cur and cur.udp == sock and cur.key then
          local ok, err = pcall(self.receiver._packet, self.receiver, data, cur)
          if not ok then
            self.receiver:_drop("error")
            self:debug("received packet dropped: " .. tostring(err))
          end
        end
        if not data then self:debug("UDP receive: " .. tostring(msg)) end
      end
    end)
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
    local action = code and closeAction(code, reason) or "resume"
    self:debug("voice gateway closed: " .. tostring(code) .. " " .. tostring(reason) .. " -> " .. action)
    if action == "dave" or action == "fatal" then return self:_stop(net, closeError(code, reason)) end
    if action == "disconnected" then
      self._net = nil
      if net.udp then net.udp:close() end
      self.lastError = closeError(code, reason)
      setState(self, { status = Status.Disconnected, reason = DisconnectReason.WebSocketClose,
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
      setState(self, { status = Status.Disconnected, reason = DisconnectReason.WebSocketClose,
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

  --- Sets the speaking flags; sends op 5 only when they change.
  ---@async
  ---@param flags? integer|boolean `discord.SpeakingFlags` bits; true means Microphone, false or nil none.
  ---@return boolean sent False when the connection is not ready or nothing changed.
  function VoiceConnection:setSpeaking(flags)
    if flags == true then flags = M.SpeakingFlags.Microphone elseif not flags then flags = 0 end
    local net = self._net
    if self.state.status ~= Status.Ready or not net or self.speaking == flags then return false end
    self.speaking = flags
    return self:_send(net, VoiceOpcodes.Speaking, { speaking = flags, delay = 0, ssrc = net.ssrc })
  end

  --- Seals and sends one Opus packet; false when not ready or without an end-to-end key (it is then dropped).
  ---@param opus string The Opus frame.
  ---@return boolean sent
  function VoiceConnection:playOpusPacket(opus)
    local net = self._net
    if self.state.status ~= Status.Ready or not net or not net.key then return false end
    if net.dave then
      opus = net.dave:encrypt(opus)
      if not opus then
        self.packets.dropped = self.packets.dropped + 1
        return false
      end
    end
    local rtp = net.rtp
    rtp.sequence = (rtp.sequence + 1) & 0xFFFF
    rtp.timestamp = (rtp.timestamp + FRAME_SAMPLES) & 0xFFFFFFFF
    rtp.nonce = (rtp.nonce + 1) & 0xFFFFFFFF
    local packet = sealPacket(net.mode, net.key, rtpHeader(rtp.sequence, rtp.timestamp, net.ssrc), rtp.nonce, opus)
    net.udp:send(packet)
    net.lastSent = runtime.now()
    self.packets.sent = self.packets.sent + 1
    if opus == SILENCE_FRAME then self.packets.silence = self.packets.silence + 1 end
    return true
  end

  --- A user's Opus frame from an RTP payload already transport-decrypted; nil when it does not decrypt.
  ---@param ssrc integer The sender's SSRC.
  ---@param frame string The RTP payload.
  ---@return string? opus Nil also when the frame is in the clear but may not be.
  function VoiceConnection:decryptFrame(ssrc, frame)
    local net, user = self._net, self._ssrcs[ssrc]
    if not (net and net.dave) then return frame end
    return user and net.dave:decrypt(user, frame)
  end

  --- The call's privacy code (30 digits) while end-to-end encryption is on, else nil.
  ---@return string? code
  function VoiceConnection:privacyCode()
    local dave = self._net and self._net.dave
    return dave and dave:privacyCode()
  end

  --- The 45-digit code this bot and a user compare to verify each other, or nil; it takes seconds of CPU.
  ---@param userId discord.Snowflake The other member.
  ---@return string? code
  function VoiceConnection:verificationCode(userId)
    local dave = self._net and self._net.dave
    return dave and dave.member and dave.member:verificationCode(userId)
  end

  --- Plays a player's audio on this connection, replacing the one it played.
  ---@async
  ---@param player discord.AudioPlayer The player.
  ---@return discord.PlayerSubscription? subscription Nil when the connection is destroyed.
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

  --- Joins another channel (or the same one again), changing the given join settings.
  ---@async
  ---@param opts? {channelId?: discord.Snowflake, selfDeaf?: boolean, selfMute?: boolean} What changes.
  ---@return boolean sent False when destroyed or the guild's shard is not there.
  function VoiceConnection:rejoin(opts)
    if self.state.status == Status.Destroyed then return false end
    for k, v in pairs(opts or {}) do self.joinConfig[k] = v end
    self.rejoinAttempts = self.rejoinAttempts + 1
    if self.state.status ~= Status.Ready then setState(self, { status = Status.Signalling }) end
    return self:_signal()
  end

  --- Leaves the channel but keeps the connection for a later `rejoin`.
  ---@async
  ---@return boolean sent False when destroyed or the guild's shard is not there.
  function VoiceConnection:disconnect()
    if self.state.status == Status.Destroyed then return false end
    self._leaving = true
    self.joinConfig.channelId = nil
    local ok = self.adapter.sendPayload(self:_payload())
    self._leaving = false
    self:_closeNetworking()
    self.receiver:_endAll("disconnected")
    setState(self, { status = Status.Disconnected, reason = DisconnectReason.Manual })
    return ok
  end

  --- Leaves the channel (unless `leave` is false) and ends the connection for good.
  ---@async
  ---@param leave? boolean False ends it without sending op 4 (true).
  function VoiceConnection:destroy(leave)
    if self.state.status == Status.Destroyed then return end
    if leave ~= false then
      self._leaving = true
      self.joinConfig.channelId = nil
      pcall(self.adapter.sendPayload, self:_payload())
    end
    if self.subscription then self.subscription:unsubscribe() end
    self:_closeNetworking()
    self.receiver:_endAll("destroyed")
    local k = key(self.joinConfig.guildId, self.joinConfig.group)
    if connections[k] == self then connections[k] = nil end
    if self.adapter.destroy then self.adapter.destroy() end
    setState(self, { status = Status.Destroyed })
  end

  --- A plain table: {guildId, channelId, status}.
  ---@return table
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
  ---@param client discord.Client The client.
  ---@param guildId discord.Snowflake The guild.
  ---@return fun(methods: table): table creator Takes the connection's callbacks, gives {sendPayload, destroy}.
  local function adapterCreator(client, guildId)
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

  --- Options of `joinVoiceChannel`.
  ---@class discord.JoinVoiceChannelOptions
  ---@field channelId? discord.Snowflake The voice channel (or give `channel`).
  ---@field guildId? discord.Snowflake Its guild (or give `channel`).
  ---@field channel? discord.BaseGuildVoiceChannel The channel object, instead of the two IDs.
  ---@field client? discord.Client The client whose shard sends op 4 (the channel's client by default).
  ---@field adapterCreator? fun(methods: table): table An adapter creator instead of the client's.
  ---@field selfDeaf? boolean Joins deafened (true); a deafened bot receives no audio.
  ---@field selfMute? boolean Joins muted (false).
  ---@field group? string The connection group ("default").
  ---@field userId? discord.Snowflake The bot's user ID (the client's by default).
  ---@field debug? boolean Logs the connection's debug messages.

  --- Joins a voice channel: sends op 4 and returns the guild's connection (an existing one moves).
  --- Raises an error when the options lack the channel and guild, or a client or adapter creator.
  ---@async
  ---@param opts discord.JoinVoiceChannelOptions
  ---@return discord.VoiceConnection connection Not ready yet: `entersState(connection, "ready", ms)` waits.
  local function joinVoiceChannel(opts)
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
    local creator = opts.adapterCreator or (client and adapterCreator(client, config.guildId))
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

  --- The connection of a guild in a group, or nil.
  ---@param guildId discord.Snowflake The guild.
  ---@param group? string The connection group ("default").
  ---@return discord.VoiceConnection? connection
  local function getVoiceConnection(guildId, group) return connections[key(guildId, group)] end

  --- All connections of a group, by guild ID.
  ---@param group? string The connection group ("default").
  ---@return table<discord.Snowflake, discord.VoiceConnection> connections
  local function getVoiceConnections(group)
    local out = {}
    for k, c in pairs(connections) do
      if k:sub(1, #(group or "default") + 1) == (group or "default") .. ":" then out[c.joinConfig.guildId] = c end
    end
    return out
  end
  return { chooseMode = chooseMode, discoverIp = discoverIp, rtpHeader = rtpHeader, sealPacket = sealPacket,
    VoiceConnection = VoiceConnection, adapterCreator = adapterCreator, joinVoiceChannel = joinVoiceChannel,
    getVoiceConnection = getVoiceConnection, getVoiceConnections = getVoiceConnections }
end)(DaveSession, VoiceReceiver, M.daveVersion, M.closeAction)
for name, v in pairs(gateway) do M[name] = v end

-- AudioPlayer --------------------------------------------------------------------------------------------
-- Exports: AudioPlayer, createAudioPlayer. Takes the AudioResource class; plays into anything with state,
-- mediaEncryption, setSpeaking and playOpusPacket.

local AudioPlayer = (function(Resource)
  --- A player's state: its status and, but when idle, the resource it plays.
  ---@class discord.AudioPlayerState
  ---@field status discord.AudioPlayerStatus The status.
  ---@field resource? discord.AudioResource What it plays.

  --- What a player does when stuck.
  ---@class discord.AudioPlayerBehaviors
  ---@field noSubscriber? discord.NoSubscriberBehavior While no connection can take its audio ("pause").
  ---@field maxMissedFrames? integer Frames in a row without audio before it gives up on a resource (250).

  --- Options of `createAudioPlayer`.
  ---@class discord.AudioPlayerOptions
  ---@field behaviors? discord.AudioPlayerBehaviors What it does when stuck.

  ---@alias discord.AudioPlayerEvent
  ---| "stateChange" # (old: discord.AudioPlayerState, new: discord.AudioPlayerState) The state changed.
  ---| "idle" # (old, new) Nothing plays: the resource ended, was stopped or failed.
  ---| "buffering" # (old, new) A resource started; its first packet is awaited.
  ---| "playing" # (old, new) Frames are being sent.
  ---| "paused" # (old, new) `pause` was called.
  ---| "autopaused" # (old, new) No connection can take the audio.
  ---| "error" # (err: any, resource: discord.AudioResource) The resource failed (a `discord.VoiceError` as a rule).
  ---| "debug" # (text: string) What it does, for logs.
  ---| "subscribe" # (subscription: discord.PlayerSubscription) A connection started playing it.
  ---| "unsubscribe" # (subscription: discord.PlayerSubscription) A connection stopped playing it.

  --- Plays one resource at a time on every subscribed connection, a frame every 20 ms.
  ---@class discord.AudioPlayer: discord.EventEmitter
  ---@field state discord.AudioPlayerState Its state.
  ---@field behaviors discord.AudioPlayerBehaviors What it does when stuck (both fields set).
  ---@field subscribers discord.PlayerSubscription[] The connections it plays on.
  local AudioPlayer = util.class("AudioPlayer", util.EventEmitter)

  --- Makes a player; `createAudioPlayer` is the usual way.
  ---@param opts? discord.AudioPlayerOptions
  function AudioPlayer:init(opts)
    util.EventEmitter.init(self)
    opts = opts or {}
    local b = opts.behaviors or {}
    self.behaviors = { noSubscriber = b.noSubscriber or NoSubscriber.Pause,
      maxMissedFrames = b.maxMissedFrames or 250 }
    self.subscribers = {}
    self.state = { status = PlayerStatus.Idle }
    self._silence = 0
  end

  --- Emits `debug` with the text and logs it.
  ---@param text string The message.
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

  --- The connections that can take audio now, and whether a ready one waits for its end-to-end key.
  ---@return discord.VoiceConnection[] connections
  ---@return boolean held
  function AudioPlayer:playable()
    local out, held = {}, false
    for _, s in ipairs(self.subscribers) do
      local c = s.connection
      if c.state.status == Status.Ready then
        if c.mediaEncryption == Media.Pending then held = true else out[#out + 1] = c end
      end
    end
    return out, held
  end

  --- Plays a resource, ending the one that played before.
  --- Raises an error when it is not an audio resource, plays on another player or has ended.
  ---@param resource discord.AudioResource The audio.
  ---@return boolean ok Always true.
  function AudioPlayer:play(resource)
    if not util.instanceOf(resource, Resource) then error("play: expected an audio resource", 2) end
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
  ---@param interpolateSilence? boolean False pauses without the silence frames.
  ---@return boolean paused False when it was not playing.
  function AudioPlayer:pause(interpolateSilence)
    if self.state.status ~= PlayerStatus.Playing then return false end
    self._silence = interpolateSilence == false and 0 or 5
    setState(self, { status = PlayerStatus.Paused, resource = self.state.resource })
    return true
  end

  --- Resumes after `pause`.
  ---@return boolean resumed False when it was not paused.
  function AudioPlayer:unpause()
    if self.state.status ~= PlayerStatus.Paused then return false end
    setState(self, { status = PlayerStatus.Playing, resource = self.state.resource })
    return true
  end

  --- Stops playing; the resource still sends its closing silence unless `force`.
  ---@async
  ---@param force? boolean Goes idle at once, without the closing silence.
  ---@return boolean stopped False when nothing played.
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
      for _, c in ipairs(targets) do c:playOpusPacket(SILENCE_FRAME) end
      if self._silence == 0 then
        for _, c in ipairs(targets) do c:setSpeaking(false) end
      end
    end
  end

  function AudioPlayer:_cycle()
    local state = self.state
    local r = state.resource
    local targets, held = self:playable()
    if state.status == PlayerStatus.Paused or state.status == PlayerStatus.AutoPaused then
      self:_sendSilence(targets)
      if state.status == PlayerStatus.AutoPaused and #targets > 0 then
        setState(self, { status = PlayerStatus.Playing, resource = r })
      end
      return
    end
    -- The audio waits (nothing is read) until the connection can encrypt it.
    if held and #targets == 0 then return end
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
      if b == NoSubscriber.Pause then
        self._silence = 0
        return setState(self, { status = PlayerStatus.AutoPaused, resource = r })
      elseif b == NoSubscriber.Stop then
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
      if packet ~= SILENCE_FRAME then c:setSpeaking(true) end
      c:playOpusPacket(packet)
    end
    if not r.readable and r.ended then self:_idle() end
  end
  return AudioPlayer
end)(AudioResource)
M.AudioPlayer = AudioPlayer

--- A new audio player.
---@param opts? discord.AudioPlayerOptions What it does when stuck.
---@return discord.AudioPlayer player
function M.createAudioPlayer(opts) return AudioPlayer(opts) end

return M
