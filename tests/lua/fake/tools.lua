-- Fake tools: yt-dlp answers from tests/data/lua/yt-dlp.jsonl, ffmpeg sends Ogg Opus or PCM in pieces.
local runtime = require("runtime")

local M = {}

local function page(packets, seq, kind)
  local segs = {}
  for _, p in ipairs(packets) do
    for _ = 1, #p // 255 do segs[#segs + 1] = 255 end
    segs[#segs + 1] = #p % 255
  end
  return "OggS" .. string.pack("<BBi8I4I4I4B", 0, kind or 0, seq * 960, 77, seq, 0, #segs)
    .. string.char(table.unpack(segs)) .. table.concat(packets)
end

--- An Ogg Opus stream of `n` packets ("\xFC" and the 3-byte index), ten to a page.
function M.ogg(n)
  local out = { page({ "OpusHead\1\2\56\1\128\187\0\0\0\0\0" }, 0, 2), page({ "OpusTags" .. string.rep("t", 300) }, 1) }
  for i = 0, n - 1, 10 do
    local batch = {}
    for j = i, math.min(n - 1, i + 9) do batch[#batch + 1] = "\xFC" .. string.pack(">I3", j) end
    out[#out + 1] = page(batch, #out)
  end
  return table.concat(out)
end

--- Puts the tools in runtime.paths.tools; `frames` maps an input to its length in frames (default 10).
function M.install(frames)
  for _, name in ipairs({ "ffmpeg", "ffprobe", "yt-dlp" }) do
    runtime.files[runtime.paths.tools .. "/" .. name] = "MZ"
  end
  runtime.programs["yt-dlp"] = function(cmd, proc)
    local target = cmd.args[#cmd.args]
    if cmd.args[#cmd.args - 1] == "-g" then
      return proc:emit("https://media.test/" .. target:match("v=(%w+)") .. ".webm\n")
    end
    local site, n, query = target:match("^(%a+search)(%d+):(.*)")
    n = tonumber(n or 99)
    for l in io.lines("tests/data/lua/yt-dlp.jsonl") do
      if n > 0 and (site and l:lower():find('"title":"[^"]*' .. query) or l:find('"' .. target .. '"', 1, true)) then
        proc:emit(l .. "\n")
        n = n - 1
      end
    end
    if n == 99 then
      proc:emit("ERROR: [generic] Unsupported URL: " .. target .. "\n", "err")
      proc:exit(1)
    end
  end
  runtime.programs.ffprobe = function(_, p) p:emit('{"format": {"duration": "61.5", "tags": {"ARTIST": "Me"}}}') end
  runtime.programs.ffmpeg = function(cmd, proc)
    local a = table.concat(cmd.args, " ")
    local n = (frames or {})[a:match("%-i (%S+)")] or 10
    local bytes = a:find("s16le") and string.pack("<i2i2", 1000, -1000):rep(960 * n) or M.ogg(n)
    for at = 1, #bytes, 777 do proc:emit(bytes:sub(at, at + 776)) end
  end
end

return M
