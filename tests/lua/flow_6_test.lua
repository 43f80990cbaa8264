-- Flow: voice against the fake voice server and UDP peer, the music queue, yt-dlp and the tools, and recordings:
-- the length of Opus packets, and a received stream decoded to PCM by FFmpeg.
local runtime = require("runtime")
local _discord = require("_discord")
local server = require("fake.discord.server")
local Voice = require("fake.discord.voice")
local tools = require("fake.tools")
local voice = require("@discord/voice")
local search = require("@discord/voice/search")
local act = server.act

local AES, XCHACHA = "aead_aes256_gcm_rtpsize", "aead_xchacha20_poly1305_rtpsize"

describe("flow: voice", function()
  local fd, client, vs, conn
  before_each(function()
    fd, client = server.login({ intents = { "Guilds", "GuildVoiceStates" } })
    vs = Voice.new(fd)
    tools.install({ ["song.ogg"] = 30 })
  end)
  after_each(function()
    _discord.modes = { AES, XCHACHA }
    server.stop(client)
  end)

  local function join()
    conn = voice.joinVoiceChannel({ client = client, guildId = fd.guild.id, channelId = fd.guild.channels[3] })
    return voice.entersState(conn, "ready", 5000)
  end
  local function play(opts)
    local player = voice.createAudioPlayer()
    conn:subscribe(player)
    player:play(voice.createAudioResource("song.ogg", opts))
    voice.entersState(player, "playing", 1000)
    return voice.entersState(player, "idle", 5000)
  end

  -- runtime modes, resource options, the mode chosen, the first and the 30th Opus packet
  for _, row in ipairs({
    { { AES, XCHACHA }, nil, AES, "\xFC\0\0\0", "\xFC\0\0\29" },
    { { XCHACHA }, nil, XCHACHA, "\xFC\0\0\0", "\xFC\0\0\29" },
    { { AES }, { inlineVolume = true, volume = 0.5 }, AES, "\xFC\xF4\1\12\xFE", "\xFC\xF4\1\12\xFE" },
  }) do
    it("joins, discovers its address, picks " .. row[3] .. " and sends a frame every 20 ms", function()
      _discord.modes = row[1]
      act(function() play(row[2], join()) end, 10000)
      local rtp, gaps, tail = vs.rtp, {}, {}
      for i = 2, #rtp do gaps[rtp[i].at - rtp[i - 1].at] = true end
      for i = 31, #rtp do tail[#tail + 1] = rtp[i].opus end
      assert.same({ row[3], { [20] = true }, 1, { 1, 0 }, row[4], row[5], true, ("\xF8\xFF\xFE"):rep(5) },
        { vs.mode, gaps, rtp[1].nonce, vs.speaking, rtp[1].opus, rtp[30].opus, vs.joins[1].self_deaf,
          table.concat(tail) })
    end)
  end

  it("resumes a dropped socket with its seq_ack and keeps the RTP counters", function()
    act(join)
    act(function() vs.conns[1]:drop() end, 40000)
    act(play)
    local resumes = {}
    for _, r in ipairs(vs.received) do resumes[#resumes + 1] = r.op == 7 and r.d.seq_ack or nil end
    assert.same({ 1, { 2 }, "ready", 35, 7 }, { vs.identifies, resumes, conn.state.status, #vs.rtp, vs.keepalives })
  end)

  it("without a secure random source offers no DAVE and fails at once with a clear VoiceError", function()
    vs.dave_required = true
    local random = runtime.random_bytes
    runtime.random_bytes = nil
    finally(function() runtime.random_bytes = random end)
    local err = server.raised(join)
    act(function() end, 60000)
    assert.same({ "VoiceError", 4017, true, 1, 1, "destroyed", require("json").null, true },
      { err.name, err.code, err.dave, vs.identifies, #vs.conns, conn.state.status, vs.joins[2].channel_id,
        tostring(err):find("(DAVE), which needs runtime.random_bytes", 1, true) ~= nil })
  end)
end)

describe("music queue", function()
  -- loop mode, whether each step skips, the tracks played in turn
  for _, row in ipairs({
    { "off", { false, false, false, false }, "abc-" },
    { "track", { false, false, true, false, true, true }, "aabbc-" },
    { "queue", { false, true, false, false, true }, "abcab" },
  }) do
    it("plays in turn with loop " .. row[1] .. " and skips", function()
      local q = require("@discord/voice/music").Queue()
      q:add({ { url = "a" }, { url = "b" }, { url = "c" } })
      q:setLoop(row[1])
      local got = ""
      for _, skip in ipairs(row[2]) do got = got .. (q:next(skip) or { url = "-" }).url end
      assert.equal(row[3], got)
    end)
  end
end)

describe("yt-dlp and the tools", function()
  before_each(function() runtime.reset() end)

  it("reads search results, a resolved video and errors from yt-dlp's lines", function()
    tools.install()
    runtime.files["/music/Rain.mp3"] = "ID3"
    local found, one, err, file
    act(function()
      found = search.search("lofi", { limit = 5 })
      one = search.resolve("https://www.youtube.com/watch?v=song3")[1]
      file = search.resolve("/music/Rain.mp3")[1]
      err = select(2, pcall(search.resolve, "https://nowhere.test/x"))
    end)
    local got = {}
    for i, t in ipairs(found) do got[i] = { t.title, t.duration, t.live, t.author } end
    assert.same({ { "Lofi Beats to Study", 125000, false, "Chill Hop" }, { "Lofi Rain", 3725000, false, "Rainy" },
      { "Lofi Radio 24/7", nil, true, "Radio" } }, got)
    assert.same({ "https://i.ytimg.com/vi/lofi1/hq.jpg", 65000, "https://media.test/song3.webm", "1:02:05" },
      { found[1].thumbnail, one.duration, one.streamUrl, search.formatDuration(found[2].duration) })
    assert.same({ "SearchError: yt-dlp failed: [generic] Unsupported URL: https://nowhere.test/x", "Rain", 61500, "Me",
      "/music/Rain.mp3" }, { tostring(err), file.title, file.duration, file.author, file.streamUrl })
  end)

  it("finds the tools in the installation's tools folder, then on the search path", function()
    local root = "C:\\Users\\ann\\AppData\\Local\\Tarnwick"
    runtime.paths = { root = root, tools = root .. "\\tools", modules = root .. "\\modules" }
    runtime.env.PATH = "C:\\Windows;C:\\bin"
    -- folders holding the tool, the path found
    for _, row in ipairs({ { { "D:\\x" } }, { { "C:\\bin" }, "C:\\bin\\ffmpeg.exe" },
      { { root .. "\\tools", "C:\\bin" }, root .. "\\tools\\ffmpeg.exe" } }) do
      for _, dir in ipairs(row[1]) do runtime.files[dir .. "\\ffmpeg.exe"] = "MZ" end
      local path, msg = search.findTool("ffmpeg", { refresh = true })
      assert.same({ row[2], not path }, { path, msg ~= nil and msg:find(root .. "\\tools, C:\\Windows") ~= nil })
    end
  end)
end)

describe("recordings", function()
  it("reads each packet's samples from its TOC byte", function()
    -- SILK 10 ms and 60 ms, hybrid 10 and 20 ms, CELT 2.5 and 20 ms, two frames, a count of three, nothing
    local packets = { "\x00", "\x18", "\x70", "\x78", "\x80", "\xF8\xFF\xFE", "\xFD", "\xFF\x03", "" }
    local samples = {}
    for i, p in ipairs(packets) do samples[i] = voice.opusSamples(p) end
    assert.same({ 480, 2880, 480, 960, 120, 960, 1920, 2880, 0 }, samples)
  end)

  it("pipes a stream to FFmpeg as Ogg Opus, a pause as silence, and reads back its PCM", function()
    runtime.reset()
    require("fake.tools").install()
    local input, args, pcm = nil, nil, {}
    runtime.programs.ffmpeg = function(cmd, proc)
      while not proc.stdin.closed do runtime.sleep(10) end
      input, args = table.concat(proc.stdin), cmd.args
      proc:emit(("\1\0"):rep(8))
    end
    local sent = { { "\xFCa", 1000 }, { "\xFCb", 1000 + 960 * 3 } }
    local stream = { packets = function()
      local i = 0
      return function()
        i = i + 1
        if sent[i] then return sent[i][1], sent[i][2] end
      end
    end }
    runtime.run(function()
      local proc = voice.pcmStream(stream, { rate = 16000, channels = 1 })
      for bytes in function() return proc:read() end do pcm[#pcm + 1] = bytes end
    end, { ["for"] = 1000 })
    assert.same({ ("\1\0"):rep(8), { "\xFCa", "\xF8\xFF\xFE", "\xF8\xFF\xFE", "\xFCb" }, { "16000", "1" } },
      { table.concat(pcm), voice.OggDemuxer():push(input), { args[#args - 3], args[#args - 1] } })
  end)
end)
