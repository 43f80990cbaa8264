-- Fake tools where the setup puts them: yt-dlp answers from the canned lines in
-- tests/data/lua/yt-dlp.jsonl, ffmpeg sends Ogg Opus (or s16le PCM) in uneven pieces.
local runtime = require("runtime")

local M = {}

local function lines()
  local f = assert(io.open("tests/data/lua/yt-dlp.jsonl", "rb"))
  local out = {}
  for l in f:lines() do out[#out + 1] = l end
  f:close()
  return out
end

local function page(packets, seq, kind)
  local segs, body = {}, {}
  for _, p in ipairs(packets) do
    local n = #p
    while n >= 255 do
      segs[#segs + 1] = 255
      n = n - 255
    end
    segs[#segs + 1] = n
    body[#body + 1] = p
  end
  return "OggS" .. string.pack("<BBi8I4I4I4B", 0, kind or 0, seq * 960, 77, seq, 0, #segs)
    .. string.char(table.unpack(segs)) .. table.concat(body)
end

--- An Ogg Opus stream of `n` packets ("\xFC" and the 3-byte index from `first`), ten to a page.
function M.ogg(n, first)
  local out = { page({ "OpusHead\1\2\56\1\128\187\0\0\0\0\0" }, 0, 2), page({ "OpusTags" .. string.rep("t", 300) }, 1) }
  for i = 0, n - 1, 10 do
    local batch = {}
    for j = i, math.min(n - 1, i + 9) do batch[#batch + 1] = "\xFC" .. string.pack(">I3", (first or 0) + j) end
    out[#out + 1] = page(batch, #out)
  end
  return table.concat(out)
end

--- Installs the tools in runtime.paths.tools (`.exe` names when it is a Windows path). `frames` maps an
--- input to its length in frames (default 10).
function M.install(frames)
  M.frames = frames or {}
  local dir = runtime.paths.tools
  local exe = dir:find("\\", 1, true) and ".exe" or ""
  local sep = exe ~= "" and "\\" or "/"
  for _, name in ipairs({ "ffmpeg", "ffprobe", "yt-dlp" }) do runtime.files[dir .. sep .. name .. exe] = "MZ" end
  runtime.programs["yt-dlp"] = function(spec, proc)
    local target = spec.args[#spec.args]
    local id = target:match("v=(%w+)")
    if spec.args[#spec.args - 1] == "-g" then return proc:emit("https://media.test/" .. id .. ".webm\n") end
    local prefix, n, query = target:match("^(%a+search)(%d+):(.*)")
    n = tonumber(n or 99)
    for _, l in ipairs(lines()) do
      local hit = prefix and l:lower():find('"title":"[^"]*' .. query:lower()) or l:find('"' .. target .. '"', 1, true)
      if hit and n > 0 then
        proc:emit(l .. "\n")
        n = n - 1
      end
    end
    if not prefix and n == 99 then
      proc:emit("ERROR: [generic] Unsupported URL: " .. target .. "\n", "stderr")
      proc:exit(1)
    end
  end
  runtime.programs.ffmpeg = function(spec, proc)
    local input, seek, pcm
    for i, a in ipairs(spec.args) do
      if a == "-i" then input = spec.args[i + 1] end
      if a == "-ss" then seek = math.floor(tonumber(spec.args[i + 1]) * 50) end
      if a == "s16le" then pcm = true end
    end
    local n = (M.frames[input] or 10) - (seek or 0)
    local bytes = pcm and string.rep(string.pack("<i2i2", 1000, -1000), 960 * n) or M.ogg(n, seek)
    for at = 1, #bytes, 777 do proc:emit(bytes:sub(at, at + 776)) end
  end
end

return M
