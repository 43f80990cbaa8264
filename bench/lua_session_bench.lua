-- The library's gateway dispatch path fed a generated session in process (not a test):
--   lua5.4 bench/lua_session_bench.lua SESSION --caching default|limits [--profile [EVENT_TYPE]] [--collector MODE]
-- SESSION comes from bench/session_gen.lua; bench/js/session_bench.js runs the same on discord.js and
-- bench/js/compare.js runs both and prints the tables. Prints one JSON object of figures.
package.path = "payload/lua/?.lua;payload/lua/?/init.lua;tests/lua/fake/?.lua;" .. package.path
local path, caching, profiling, only, collector = arg[1], "default", false, nil, nil
for i = 2, #arg do
  if arg[i] == "--caching" then caching = arg[i + 1] end
  if arg[i] == "--profile" then profiling, only = true, arg[i + 1] end
  -- The client's collector option (incremental unless this says otherwise).
  if arg[i] == "--collector" then collector = arg[i + 1] end
end
local runtime = require("runtime")
runtime.reset()
local json = require("json")

-- Whether the client left the collector in generational mode, set when a client is made.
local generational = false

-- Full collections until the count stops falling: each one halves at most Lua's table of strings, which a
-- dropped session leaves oversized, and its shrinking during a probe was counted against the probe.
-- In generational mode Lua's full collection leaves the collector's debt as it was, so a phase inherited the
-- wait that the last collection before it had set: the chunks ran with almost no collection, and the mix ran
-- half its dispatches without one and then freed 336 MB in one step. The last collection is made in
-- incremental mode, which sets the wait from the collected heap (the next cycle when it has doubled), and
-- the collector goes back to generational mode from there.
local function heap()
  local n
  collectgarbage("collect")
  repeat
    n = collectgarbage("count")
    collectgarbage("collect")
  until collectgarbage("count") >= n
  if generational then
    collectgarbage("incremental")
    collectgarbage("collect")
    collectgarbage("generational")
  end
  return n * 1024
end

local out = {}
local heap0, t0 = heap(), os.clock()
local discord = require("discord")
out.requireMs, out.requireBytes = (os.clock() - t0) * 1000, heap() - heap0

-- SESSION.bin holds SESSION's JSON lines as records (bench/session_record.lua). A packet is decoded just
-- before it is fed, outside the timing: a bot holds one decoded payload at a time, and a whole session held
-- decoded (over a gigabyte of tables) would make each collection's indivisible step seconds long.
package.path = "bench/?.lua;" .. package.path
local record = require("session_record")
local file = assert(io.open(path .. ".bin", "rb"))
local text = file:read("a")
local function decode(at) return record.readAt(file, at) end
local MARK = string.pack("<c1I2s1", "o", 1, "mark")
local function markOf(at) return text:sub(at + 4, at + 3 + #MARK) == MARK and record.read(text, at).mark end
local phases, order, current = {}, {}, nil
for _, at in ipairs(record.positions(text)) do
  local mark = markOf(at)
  if mark then
    current = {}
    phases[#order + 1] = current
    order[#order + 1] = mark
  else
    current[#current + 1] = at
  end
end
-- Packets are read from the file one at a time: a bot holds one packet at a time, and the collector paces
-- itself on the heap it has.
text = nil

local sampler = require("sampler").new()
local hook = sampler.hook

local EVENTS = { "messageCreate", "messageUpdate", "messageReactionAdd", "presenceUpdate", "typingStart",
  "guildMemberUpdate", "voiceStateUpdate", "interactionCreate", "guildMembersChunk", "guildCreate", "userUpdate" }
local INTENTS = { "Guilds", "GuildMembers", "GuildMessages", "GuildPresences", "GuildMessageReactions",
  "GuildMessageTyping", "GuildVoiceStates", "MessageContent" }

local function newClient(keep)
  local options = { intents = INTENTS, collector = collector }
  if caching == "limits" then
    options.makeCache = require("discord.client.options").cacheWithLimits({ MessageManager = 200, PresenceManager = 0 })
  end
  local client = discord.Client(options)
  -- Asked by switching to incremental mode and back, which keeps the settings the client made.
  generational = collectgarbage("incremental") == "generational"
  if generational then collectgarbage("generational") end
  local calls = {}
  for _, name in ipairs(EVENTS) do
    calls[name] = 0
    client:on(name, function(a, b)
      calls[name] = calls[name] + 1
      if keep then keep[#keep + 1] = b and a or nil end
    end)
  end
  local shard = client.ws:_spawn({ shards = 1 }, require("discord.ws").WebSocketShard)[1]
  return client, shard, calls
end

local function sizes(client)
  local s = { guilds = client.guilds.cache.size, channels = client.channels.cache.size, users = client.users.cache.size,
    members = 0, roles = 0, presences = 0, voiceStates = 0, messages = 0 }
  for _, g in ipairs(client.guilds.cache:values()) do
    s.members = s.members + g.members.cache.size
    s.roles = s.roles + g.roles.cache.size
    -- Managers made on first read are counted without making them, so counting costs no memory.
    local presences, voiceStates = rawget(g, "_presences"), rawget(g, "_voiceStates")
    s.presences = s.presences + (presences and presences.cache.size or 0)
    s.voiceStates = s.voiceStates + (voiceStates and voiceStates.cache.size or 0)
  end
  for _, c in ipairs(client.channels.cache:values()) do
    local messages = rawget(c, "messages")
    if messages then s.messages = s.messages + messages.cache.size end
  end
  return s
end

-- Listeners run as tasks: the loop runs them before the next packet, as the runtime's would.
local FOR0 = { ["for"] = 0 }
local clock = os.clock

-- Feeds one packet; returns the CPU time it took.
local function feedOne(shard, packet)
  local profiled = only == packet.t
  if profiled then debug.sethook(hook, "", 20) end
  local t = clock()
  shard:_onPacket(packet)
  runtime.run(nil, FOR0)
  t = clock() - t
  if profiled then debug.sethook() end
  return t
end

-- Feeds packets (decoded, or records to decode first); returns the CPU time they took and the members they
-- carried.
local function feed(shard, packets)
  local total, members = 0, 0
  for i = 1, #packets do
    local packet = packets[i]
    if type(packet) == "number" then packet = decode(packet) end
    if packet.t == "GUILD_MEMBERS_CHUNK" then members = members + #packet.d.members end
    total = total + feedOne(shard, packet)
  end
  return total, members
end

local client, shard, calls = newClient()
if profiling and not only then debug.sethook(hook, "", 1000) end
local i = 1
-- Each phase starts from a collected heap, as on the other side: a phase's collector debt is its own.
while order[i] ~= "mix" do
  local name, packets = order[i], phases[i]
  heap()
  local dt, members = feed(shard, packets)
  if name == "guilds" then out.guildsPerS = #packets / dt end
  if name == "chunks" then out.membersPerS = members / dt end
  i = i + 1
end
assert(client:isReady(), "the client did not get ready")
local mix = phases[i]
local byType, countByType = {}, {}
-- A dispatch of over a millisecond is a collector's pause that the whole mix's allocation brought on, and
-- which dispatch trips it is chance: counted to that dispatch's type, a few dozen pauses moved the types'
-- figures by up to 44 % between runs. Pauses are shared over the types in proportion to their own time; the
-- mix's total is unchanged. bench/js/session_bench.js does the same.
local PAUSE = 0.001
local total, paused = 0, 0
heap()
for k = 1, #mix do
  local p = decode(mix[k])
  local t = feedOne(shard, p)
  total = total + t
  if t > PAUSE then
    paused = paused + t
  else
    byType[p.t] = (byType[p.t] or 0) + t
  end
  countByType[p.t] = (countByType[p.t] or 0) + 1
end
debug.sethook()
out.mixPerS, out.pauseShare = #mix / total, paused / total
out.perType = {}
for t, dt in pairs(byType) do out.perType[t] = countByType[t] / (dt * total / (total - paused)) end
out.sizes, out.calls = sizes(client), calls
-- The probes that follow the mix: a mark "probe NAME ... N", setup packets, a mark "measure", measured ones.
local probes = {}
for k = i + 1, #order do
  if order[k]:match("^probe") then
    probes[#probes + 1] = { name = order[k]:match("^probe (%S+)"), n = tonumber(order[k]:match("(%d+)$")),
      setup = phases[k] }
  elseif order[k] == "measure" then
    probes[#probes].measure = phases[k]
  end
end
-- The probes' packets are decoded after the figure.
phases, mix = nil, nil
out.heapBytes = heap()
for _, p in ipairs(probes) do
  for k, at in ipairs(p.setup) do p.setup[k] = decode(at) end
  for k, at in ipairs(p.measure) do p.measure[k] = decode(at) end
end

-- Probes: bytes per cached object, each from a fresh client.
client, shard = nil, nil
out.bytesPer = {}
for _, p in ipairs(probes) do
  local kept = p.name == "updates" and {} or nil
  local c, s = newClient(kept)
  feed(s, p.setup)
  local before = heap()
  feed(s, p.measure)
  out.bytesPer[p.name] = (heap() - before) / p.n
  if kept then assert(#kept == p.n, "update probe: " .. #kept .. " old objects kept") end
  p.sizes = sizes(c)
  c = nil
end
out.probeSizes = {}
for _, p in ipairs(probes) do out.probeSizes[p.name] = p.sizes end

if profiling then out.profile = sampler.top(40) end
print(json.encode(out))
