-- Recordings: the length of Opus packets, and a received stream decoded to PCM by FFmpeg.
local runtime = require("runtime")
local voice = require("@discord/voice")

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
