-- DAVE costs on the path a voice connection takes, in pure Lua 5.4 (not a test):
--   lua5.4 bench/dave_session_bench.lua [--profile]
-- The bot joining groups of 9, 26 and 99 members (itself included) by a Welcome, all of them but the
-- first added by one commit; its commit removing a member (with its path) in groups of 9 and 99; one
-- stream of 160-byte Opus frames encrypted; seven speakers' frames decrypted, and the same speakers
-- through a connection's receiver (each with the share of a core ten would take). --profile samples
-- where the joins and commits spend their time.
package.path = "payload/lua/?.lua;payload/lua/?/init.lua;tests/lua/fake/?.lua;" .. package.path
require("runtime").reset()
local voice = require("@discord/voice")
local mls, crypto = voice._daveMls, voice._daveCrypto

-- A sampling profiler (bench/sampler.lua): every 1000 VM instructions, each function on the stack counted once.
package.path = "bench/?.lua;" .. package.path
local profile = arg[1] == "--profile" and require("sampler").new()
local function sampled(f)
  if not profile then return f() end
  debug.sethook(profile.hook, "", 1000)
  local a, b = f()
  debug.sethook()
  return a, b
end
local function report()
  if not profile then return end
  for _, line in ipairs(profile.top(45)) do print("  " .. line) end
  profile = require("sampler").new()
end

local CHANNEL = "1180000000000000001"
local GROUP_ID = string.pack(">i8", math.tointeger(CHANNEL))
local priv, pub = crypto.deriveKeyPair(("g"):rep(32))
local sender = mls.writer():vec(pub):u16(1):vec("gw"):bytes()
local function proposals(epoch, bodies)
  local out = {}
  for i, b in ipairs(bodies) do
    out[i] = mls.protectPublic({ groupId = GROUP_ID, epoch = epoch, senderType = 2, senderIndex = 0,
      contentType = 2, body = b }, priv)
  end
  return mls.writer():vec(table.concat(out)):bytes()
end
local function timed(f) local t = os.clock() local a, b = sampled(f) return os.clock() - t, a, b end
local function member(i)
  local m = mls.member(tostring(1000 + i), CHANNEL)
  m:setExternalSender(sender)
  return m
end

-- The bot (the last of n) and the first member, after the first member's one commit added the other
-- n - 1 to its group; the other members join too when `all` is set.
local function group(n, all)
  local first, ids, adds, others = member(1), {}, {}, {}
  first:keyPackage()
  for i = 2, n do
    others[i] = member(i)
    ids[#ids + 1], adds[#adds + 1] = tostring(1000 + i), "\0\1" .. others[i]:keyPackage()
  end
  local c, w = first:processProposals("append", proposals(0, adds), ids)
  first:processCommit(c)
  local bot = others[n]
  local tWelcome = timed(function() return bot:processWelcome(w) end)
  for i = 2, all and n - 1 or 1 do others[i]:processWelcome(w) end
  return bot, first, tWelcome, others
end

-- The bot's commit removing the member at leaf 1, and the committer's processing of it (then every
-- other member's, when they joined).
local function commitRemoval(bot, first, others)
  local remove = proposals(1, { string.pack(">I2I4", 3, 1) })
  -- The member at leaf 1 (the second) cannot commit its own removal and is left out.
  for i, m in pairs(others) do
    if i > 2 and m ~= bot and m:epoch() then m:processProposals("append", remove, {}) end
  end
  first:processProposals("append", remove, {})
  local tCommit, c = timed(function() return bot:processProposals("append", remove, {}) end)
  local tProcess = timed(function() return first:processCommit(c) end)
  for i, m in pairs(others) do
    if i > 2 and m ~= bot and m:epoch() then assert(m:processCommit(c) == "processed") end
  end
  assert(bot:processCommit(c) == "adopted")
  return tCommit, tProcess
end

local bot9, first9, tJoin9, members9 = group(9, true)
local tKp = timed(function() return member(99):keyPackage() end)
print(("join a group of 9: key package %.3f s, Welcome %.3f s"):format(tKp, tJoin9))
report()
local tCommit9, tProcess9 = commitRemoval(bot9, first9, members9)
print(("commit removing one of 9 (with a path) %.3f s; processing it %.3f s"):format(tCommit9, tProcess9))
report()
for _, n in ipairs({ 26, 99 }) do
  local bot, first, tJoin = group(n)
  print(("join a group of %d: Welcome %.3f s"):format(n, tJoin))
  report()
  if n == 99 then
    local tCommit, tProcess = commitRemoval(bot, first, {})
    print(("commit removing one of 99 (with a path) %.3f s; processing it %.3f s"):format(tCommit, tProcess))
    report()
  end
end

local frame, count = ("\xFC\x12\x34\x56"):rep(40), 2000
local tEnc = timed(function() for _ = 1, count do bot9:encryptOpus(frame) end end)
print(("encrypt: %.3f ms a frame, %.1f%% of a core for one 20 ms stream"):format(tEnc / count * 1000,
  tEnc / count / 0.02 * 100))

-- The members left of the group of nine, the committer among them, send 200 frames each.
local speakers, sent = { first9 }, {}
for i = 3, 8 do speakers[#speakers + 1] = members9[i] end
for i, m in ipairs(speakers) do
  sent[i] = {}
  for k = 1, 200 do sent[i][k] = m:encryptOpus(frame) end
end
local tDec = timed(function()
  for k = 1, 200 do
    for i, m in ipairs(speakers) do assert(bot9:decrypt(m.userId, sent[i][k]) == frame) end
  end
end)
local each = tDec / (#speakers * 200)
print(("decrypt: %.3f ms a frame, ten speakers %.1f%% of a core"):format(each * 1000, each * 10 / 0.02 * 100))

-- The receive path of a connection for the same speakers: RTP parsed, the speaker found by SSRC, the DAVE
-- layer removed, packets ordered and handed to a stream per speaker. The transport AEAD is the runtime's
-- native code, so it is swapped here for a pass-through that costs nothing in Lua.
local _discord = require("_discord")
_discord.aead_decrypt = function(_, _, _, _, sealed) return sealed:sub(1, -17) end
local conn = { state = { status = "ready" }, _ssrcs = {} }
function conn.decryptFrame(_, ssrc, f) return bot9:decrypt(conn._ssrcs[ssrc], f) end
local receiver = voice.VoiceReceiver(conn)
local packets = {}
for i, m in ipairs(speakers) do
  conn._ssrcs[100 + i] = m.userId
  receiver:subscribe(m.userId)
  for k = 1, 200 do
    local header = voice.rtpHeader(k, k * 960, 100 + i)
    packets[#packets + 1] = header .. m:encryptOpus(frame) .. ("\0"):rep(16) .. string.pack(">I4", k)
  end
end
local tRecv = timed(function()
  for _, p in ipairs(packets) do receiver:_packet(p, { mode = "aead_aes256_gcm_rtpsize", key = ("k"):rep(32) }) end
end)
assert(receiver.stats.delivered == #packets, "receive: a packet was dropped")
local per = tRecv / #packets
print(("receive: %.3f ms a packet, ten speakers %.1f%% of a core"):format(per * 1000, per * 10 / 0.02 * 100))
