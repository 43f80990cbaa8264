-- Flow: voice against the fake voice server and UDP peer, the music queue, yt-dlp and the tools.
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

  -- runtime modes, resource options, the mode chosen, the first Opus packet
  for _, row in ipairs({
    { { AES, XCHACHA }, nil, AES, "\xFC\0\0\0" },
    { { XCHACHA }, nil, XCHACHA, "\xFC\0\0\0" },
    { { AES }, { inlineVolume = true, volume = 0.5 }, AES, "\xFC" .. string.pack("<i2i2", 500, -500) },
  }) do
    it("joins, discovers its address, picks " .. row[3] .. " and sends a frame every 20 ms", function()
      _discord.modes = row[1]
      act(function() play(row[2], join()) end, 10000)
      local rtp, gaps = vs.rtp, {}
      for i = 2, #rtp do gaps[rtp[i].at - rtp[i - 1].at] = true end
      assert.are.same({ {}, row[3], 35, { [20] = true }, 1, { 1, 0 }, row[4], true },
        { vs.faults, vs.mode, #rtp, gaps, rtp[1].nonce, vs.speaking, rtp[1].opus, vs.joins[1].self_deaf })
      for i = 31, 35 do assert.equal(voice.SILENCE_FRAME, rtp[i].opus) end
      if not row[2] then assert.equal("\xFC\0\0\29", rtp[30].opus) end
    end)
  end

  it("resumes a dropped socket with its seq_ack and keeps the RTP counters", function()
    act(join)
    act(function() vs.conns[1].sock:drop() end, 40000)
    act(play)
    local resumes = {}
    for _, r in ipairs(vs.received) do
      if r.op == 7 then resumes[#resumes + 1] = r.d.seq_ack end
    end
    assert.are.same({ {}, 1, { 2 }, "ready", 35 }, { vs.faults, vs.identifies, resumes, conn.state.status, #vs.rtp })
    assert.truthy(#vs.received > 4)
  end)

  it("fails at once with a clear VoiceError when the channel requires DAVE", function()
    vs.dave_required = true
    local err = server.raised(join)
    act(function() end, 60000)
    assert.are.same({ "VoiceError", 4017, true, 1, 1, "destroyed" },
      { err.name, err.code, err.dave, vs.identifies, #vs.conns, conn.state.status })
    assert.truthy(tostring(err):find("requires end-to-end encryption", 1, true))
    assert.equal(require("json").null, vs.joins[#vs.joins].channel_id)
  end)
end)

describe("yt-dlp and the tools", function()
  before_each(function() runtime.reset() end)

  it("reads search results, a resolved video and errors from yt-dlp's lines", function()
    tools.install()
    local found, one, err
    act(function()
      found = search.search("lofi", { limit = 5 })
      one = search.resolve("https://www.youtube.com/watch?v=song3")[1]
      err = select(2, pcall(search.resolve, "https://nowhere.test/x"))
    end)
    local got = {}
    for i, t in ipairs(found) do got[i] = { t.title, t.duration, t.live, t.author } end
    assert.are.same({ { "Lofi Beats to Study", 125000, false, "Chill Hop" }, { "Lofi Rain", 3725000, false, "Rainy" },
      { "Lofi Radio 24/7", nil, true, "Radio" } }, got)
    assert.are.same({ "https://i.ytimg.com/vi/lofi1/hq.jpg", 65000, "https://media.test/song3.webm", "1:02:05" },
      { found[1].thumbnail, one.duration, one.streamUrl, search.formatDuration(found[2].duration) })
    assert.equal("SearchError: yt-dlp failed: [generic] Unsupported URL: https://nowhere.test/x", tostring(err))
  end)

  -- where the tools lie, the search path, the path findTool returns (nil: not found)
  local ROOT = "C:\\Users\\ann\\AppData\\Local\\Tarnwick"
  for _, row in ipairs({
    { ROOT .. "\\tools", "C:\\Windows;C:\\bin", ROOT .. "\\tools\\yt-dlp.exe" },
    { "C:\\bin", "C:\\Windows;C:\\bin", "C:\\bin\\yt-dlp.exe" },
    { "D:\\elsewhere", "C:\\Windows", nil },
  }) do
    it("finds yt-dlp in " .. row[1], function()
      runtime.paths = { root = ROOT, tools = ROOT .. "\\tools", modules = ROOT .. "\\modules" }
      runtime.env.PATH = row[2]
      runtime.files[row[1] .. "\\yt-dlp.exe"] = "MZ"
      local path, msg = search.findTool("yt-dlp", { refresh = true })
      assert.equal(row[3], path)
      if not path then assert.truthy(msg:find(ROOT .. "\\tools, C:\\Windows", 1, true), msg) end
    end)
  end
end)
