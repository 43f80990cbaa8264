-- DAVE costs on the path a voice connection takes, in pure Lua 5.4 (not a test):
--   lua5.4 bench/dave_session_bench.lua
-- A group of nine members that the bot joins by a Welcome, then the bot's commit removing one (with
-- its path), one stream of 160-byte Opus frames encrypted, eight speakers' frames decrypted, and the same
-- speakers through a connection's receiver.
package.path = "payload/lua/?.lua;payload/lua/?/init.lua;tests/lua/fake/?.lua;" .. package.path
require("runtime").reset()
local voice = require("@discord/voice")
local mls, crypto = voice._daveMls, voice._daveCrypto

local CHANNEL = "1180000000000000001"
local priv, pub = crypto.deriveKeyPair(("g"):rep(32))
local sender = mls.writer():vec(pub):u16(1):vec("gw"):bytes()
local function proposals(epoch, bodies)
  local out = {}
  for i, b in ipairs(bodies) do
    out[i] = mls.protectPublic({ groupId = string.pack(">i8", math.tointeger(CHANNEL)), epoch = epoch,
      senderType = 2, senderIndex = 0, contentType = 2, body = b }, priv)
  end
  return mls.writer():vec(table.concat(out)):bytes()
end
local function timed(f) local t = os.clock() local a, b = f() return os.clock() - t, a, b end

local members, ids, kps, adds = {}, {}, {}, {}
for i = 1, 10 do
  ids[i], members[i] = tostring(1000 + i), mls.member(tostring(1000 + i), CHANNEL)
  members[i]:setExternalSender(sender)
end
for i = 1, 9 do kps[i] = members[i]:keyPackage() end
for i = 2, 9 do adds[#adds + 1] = "\0\1" .. kps[i] end
local c, w = members[1]:processProposals("append", proposals(0, adds), ids)
members[1]:processCommit(c)
for i = 2, 9 do members[i]:processWelcome(w) end

local bot = members[10]
local tKp, kp = timed(function() return bot:keyPackage() end)
local add = proposals(1, { "\0\1" .. kp })
local tCommit, c2, w2 = timed(function() return members[1]:processProposals("append", add, ids) end)
local tWelcome = timed(function() return bot:processWelcome(w2) end)
for i = 1, 9 do
  if i > 1 then members[i]:processProposals("append", add, ids) end
  members[i]:processCommit(c2)
end
print(("join a group of 9: key package %.3f s, Welcome %.3f s (the committer's commit %.3f s)"):format(tKp,
  tWelcome, tCommit))

local remove = proposals(2, { string.pack(">I2I4", 3, 8) })
for i = 1, 8 do members[i]:processProposals("append", remove, ids) end
local tRemove, c3 = timed(function() return bot:processProposals("append", remove, ids) end)
local tProcess = timed(function() return members[1]:processCommit(c3) end)
bot:processCommit(c3)
print(("commit removing one of 10 (with a path) %.3f s; processing it %.3f s"):format(tRemove, tProcess))

local frame, n = ("\xFC\x12\x34\x56"):rep(40), 2000
local tEnc = timed(function() for _ = 1, n do bot:encryptOpus(frame) end end)
print(("encrypt: %.3f ms a frame, %.1f%% of a core for one 20 ms stream"):format(tEnc / n * 1000,
  tEnc / n / 0.02 * 100))

local sent = {}
for i = 1, 8 do
  sent[i] = {}
  for k = 1, 200 do sent[i][k] = members[i]:encryptOpus(frame) end
end
local tDec = timed(function()
  for k = 1, 200 do
    for i = 1, 8 do assert(bot:decrypt(ids[i], sent[i][k]) == frame) end
  end
end)
local each = tDec / (8 * 200)
print(("decrypt: %.3f ms a frame, ten speakers %.1f%% of a core"):format(each * 1000, each * 10 / 0.02 * 100))

-- The receive path of a connection for the same speakers: RTP parsed, the speaker found by SSRC, the DAVE
-- layer removed, packets ordered and handed to a stream per speaker. The transport AEAD is the runtime's
-- native code, so it is swapped here for a pass-through that costs nothing in Lua.
local _discord = require("_discord")
_discord.aead_decrypt = function(_, _, _, _, sealed) return sealed:sub(1, -17) end
local conn = { state = { status = "ready" }, _ssrcs = {} }
function conn.decryptFrame(_, ssrc, f) return bot:decrypt(conn._ssrcs[ssrc], f) end
local receiver = voice.VoiceReceiver(conn)
local packets = {}
for i = 1, 8 do
  conn._ssrcs[100 + i] = ids[i]
  receiver:subscribe(ids[i])
  for k = 1, 200 do
    local header = voice.rtpHeader(k, k * 960, 100 + i)
    packets[#packets + 1] = header .. members[i]:encryptOpus(frame) .. ("\0"):rep(16) .. string.pack(">I4", k)
  end
end
local tRecv = timed(function()
  for _, p in ipairs(packets) do receiver:_packet(p, { mode = "aead_aes256_gcm_rtpsize", key = ("k"):rep(32) }) end
end)
assert(receiver.stats.delivered == #packets, "receive: a packet was dropped")
local per = tRecv / #packets
print(("receive: %.3f ms a packet, ten speakers %.1f%% of a core"):format(per * 1000, per * 10 / 0.02 * 100))
