-- yt-dlp search, resolve and stream URLs, and the lookup of the tools the setup installs.
-- yt-dlp runs as a child process through the runtime; each result is one JSON line on its stdout.
local runtime = require("runtime")
local json = require("json")
local util = require("discord.util")
local errors = require("discord.errors")

local M = {}

--- Results a search gives when no limit is asked.
---@type integer
M.DEFAULT_LIMIT = 5
--- The most results a search may ask for.
---@type integer
M.MAX_LIMIT = 25
--- Milliseconds a stream URL stays cached; they expire after a few hours, so a shorter time is used.
---@type integer
M.STREAM_URL_TTL = 30 * 60 * 1000
--- Milliseconds a tool may run before it is killed (`opts.timeout` overrides it).
---@type integer
M.TIMEOUT = 60000

--- A failed search or lookup: a tool that is missing, does not start, fails or finds nothing.
---@class discord.SearchError: discord.DiscordError
---@field tool string? The program concerned ("yt-dlp", "ffprobe", ...).
---@field exitCode integer? Its exit code, when it failed.
---@field stderr string? What it wrote on stderr, when it failed.
local SearchError = util.class("SearchError", errors.DiscordError)
M.SearchError = SearchError

--- Makes a search error.
---@param message string What went wrong.
---@param info? {tool?: string, exitCode?: integer, stderr?: string} The fields to set.
function SearchError:init(message, info)
  errors.DiscordError.init(self, message)
  info = info or {}
  self.tool, self.exitCode, self.stderr = info.tool, info.exitCode, info.stderr
end

function SearchError:__tostring() return "SearchError: " .. self.message end

-- Tools ----------------------------------------------------------------------------------------------------

local function isWindows()
  local paths = runtime.paths or {}
  local root = paths.root or paths.tools or ""
  return root:find("\\", 1, true) ~= nil or root:match("^%a:") ~= nil or runtime.getenv("OS") == "Windows_NT"
end

--- A file path from a folder and a name, with the system's separator.
---@param dir string The folder ("" gives `name` as it is).
---@param name string The file name.
---@return string path
local function join(dir, name)
  if dir == "" then return name end
  local sep = isWindows() and "\\" or "/"
  local last = dir:sub(-1)
  if last == "\\" or last == "/" then return dir .. name end
  return dir .. sep .. name
end
M.join = join

--- The folders `findTool` looks in, in order: the installation's tools, then every folder of PATH.
---@return string[] folders
function M.toolFolders()
  local out, seen = {}, {}
  local function add(dir)
    if dir and dir ~= "" and not seen[dir] then
      seen[dir] = true
      out[#out + 1] = dir
    end
  end
  local paths = runtime.paths or {}
  add(paths.tools)
  if paths.root then add(join(paths.root, "tools")) end
  local path = runtime.getenv("PATH") or runtime.getenv("Path") or ""
  local sep = isWindows() and ";" or ":"
  for dir in (path .. sep):gmatch("([^" .. sep .. "]*)" .. sep) do
    dir = util.trim(dir):gsub('^"(.*)"$', "%1")
    add(dir)
  end
  return out
end

local found = {}

--- Full path of an installed tool (`ffmpeg`, `ffprobe`, `yt-dlp`), or nil and where it was looked for.
--- Raises an error when `name` is not a non-empty string.
---@param name string The tool; on Windows `.exe` is added to a name without a dot.
---@param opts? {refresh?: boolean} `refresh` looks again instead of using the remembered path.
---@return string? path
---@return string? message Where it was looked for, when `path` is nil.
function M.findTool(name, opts)
  if type(name) ~= "string" or name == "" then error("findTool: name must be a non-empty string", 2) end
  opts = opts or {}
  if found[name] and not opts.refresh and runtime.stat(found[name]) == "file" then return found[name] end
  local file = name
  if isWindows() and not name:find(".", 1, true) then file = name .. ".exe" end
  local folders = M.toolFolders()
  for _, dir in ipairs(folders) do
    local candidate = join(dir, file)
    if runtime.stat(candidate) == "file" then
      found[name] = candidate
      return candidate
    end
  end
  return nil, string.format("%s was not found in %s; run the Tarnwick setup again to install it", file,
    #folders > 0 and table.concat(folders, ", ") or "any folder")
end

--- Forgets the remembered tool paths.
function M.forgetTools() found = {} end

local function tool(name)
  local path, msg = M.findTool(name)
  if not path then error(SearchError(msg, { tool = name }), 3) end
  return path
end

-- Running yt-dlp ------------------------------------------------------------------------------------------

local function readAll(proc, method)
  local parts = {}
  while true do
    local chunk = proc[method](proc)
    if not chunk then break end
    parts[#parts + 1] = chunk
  end
  return table.concat(parts)
end

--- The first "ERROR:" line of a tool's stderr, without the prefix; else its last line (nil when empty).
---@param stderr string What the tool wrote.
---@return string? message
local function toolMessage(stderr)
  local last
  for line in stderr:gmatch("[^\r\n]+") do
    local e = line:match("^ERROR:%s*(.*)")
    if e then return e end
    last = line
  end
  return last
end
M.toolMessage = toolMessage

--- Runs an installed tool with `args` and returns its stdout and stderr.
--- Raises `discord.SearchError` when it is missing, does not start, runs too long or exits non-zero.
---@async
---@param name string The tool ("yt-dlp", "ffprobe", ...).
---@param args string[] Its arguments.
---@param opts? {timeout?: integer} Milliseconds it may run (TIMEOUT).
---@return string stdout
---@return string stderr
function M.runTool(name, args, opts)
  opts = opts or {}
  local path = tool(name)
  local proc, msg = runtime.process({ file = path, args = args, stdout = "pipe", stderr = "pipe", stdin = "null" })
  if not proc then error(SearchError("could not start " .. name .. ": " .. tostring(msg), { tool = name }), 2) end
  local errDone = util.Future()
  runtime.spawn(function() errDone:resolve(readAll(proc, "read_stderr")) end)
  local out = readAll(proc, "read")
  local code = proc:wait(opts.timeout or M.TIMEOUT)
  if code == nil then
    proc:kill()
    error(SearchError(name .. " did not finish in time", { tool = name }), 2)
  end
  local _, stderr = errDone:wait(5000)
  stderr = type(stderr) == "string" and stderr or ""
  if code ~= 0 then
    local text = toolMessage(stderr) or ("exit code " .. tostring(code))
    error(SearchError(name .. " failed: " .. text, { tool = name, exitCode = code, stderr = stderr }), 2)
  end
  return out, stderr
end

-- Results ---------------------------------------------------------------------------------------------

local function str(v) return type(v) == "string" and v ~= "" and v or nil end

local function seconds(v)
  if type(v) == "number" then return math.floor(v * 1000 + 0.5) end
  if type(v) == "string" then
    local ms, n = 0, 0
    for part in v:gmatch("%d+") do
      ms = ms * 60 + tonumber(part)
      n = n + 1
    end
    if n > 0 then return ms * 1000 end
  end
  return nil
end

local function thumbnail(info)
  if str(info.thumbnail) then return info.thumbnail end
  local list = type(info.thumbnails) == "table" and info.thumbnails or {}
  local best
  for _, t in ipairs(list) do
    if type(t) == "table" and str(t.url) and (not best or (t.width or 0) > (best.width or 0)) then best = t end
  end
  return best and best.url or nil
end

--- A track description, as the searches give them.
---@class discord.TrackInfo
---@field url string The page to play (or the file's path).
---@field title string The title (the URL when there is none).
---@field id string? The site's ID.
---@field duration integer? Length in ms; nil for live streams and unknown lengths.
---@field author string? Uploader, channel or artist.
---@field thumbnail string? The largest thumbnail's URL.
---@field source string The extractor ("Youtube", "generic", "file", ...).
---@field live boolean True for a live stream.
---@field streamUrl string? A direct media URL, when the tool gave one (the path, for a file).
---@field playlist {title: string, id: string?, index: integer?, count: integer?}? The playlist it came from.

--- The track description of one yt-dlp JSON object, or nil when it names no page to play.
---@param info table One decoded JSON object of yt-dlp.
---@return discord.TrackInfo? track
function M.parseInfo(info)
  if type(info) ~= "table" then return nil end
  local page = str(info.webpage_url) or str(info.original_url)
  local url = str(info.url)
  -- Flat results carry the page in `url`; full ones carry the media URL there.
  if not page then
    if url and (url:match("^https?://") and not url:find("googlevideo", 1, true)) then page = url end
    if not page and str(info.id) and (info.ie_key == "Youtube" or info.extractor_key == "Youtube") then
      page = "https://www.youtube.com/watch?v=" .. info.id
    end
  end
  if not page then return nil end
  local stream
  if str(info.webpage_url) and url and url ~= page then stream = url end
  return {
    id = str(info.id), title = str(info.title) or str(info.fulltitle) or page, url = page,
    duration = seconds(info.duration) or seconds(info.duration_string),
    author = str(info.uploader) or str(info.channel) or str(info.artist),
    thumbnail = thumbnail(info), source = str(info.extractor_key) or str(info.ie_key) or "generic",
    live = info.is_live == true or info.live_status == "is_live", streamUrl = stream,
    playlist = str(info.playlist_title) and { title = info.playlist_title, id = str(info.playlist_id),
      index = math.tointeger(info.playlist_index), count = math.tointeger(info.playlist_count) } or nil,
  }
end

-- Local files -------------------------------------------------------------------------------------------

local function basename(path) return path:match("([^/\\]+)$") or path end

--- The track description of a local audio file, from its title and artist tags (else its name) and length.
--- Raises `discord.SearchError` when ffprobe is missing or fails.
---@async
---@param path string The file.
---@return discord.TrackInfo track
function M.probe(path)
  local out = M.runTool("ffprobe", { "-v", "quiet", "-print_format", "json", "-show_format", path })
  local info = json.decode(out)
  local format = type(info) == "table" and info.format or {}
  local tags = type(format.tags) == "table" and format.tags or {}
  local function tag(name) return str(tags[name]) or str(tags[name:upper()]) end
  return { title = tag("title") or basename(path):gsub("%.[^.]*$", ""), url = path, streamUrl = path,
    duration = seconds(tonumber(format.duration)), author = tag("artist"), source = "file", live = false }
end

--- Track descriptions from yt-dlp output, one JSON object a line; playlists give their entries.
---@param text string The output; lines that are not JSON (warnings, progress) are skipped.
---@return discord.TrackInfo[] tracks
function M.parseLines(text)
  local out = {}
  for line in tostring(text):gmatch("[^\r\n]+") do
    local obj = line:match("^%s*{") and json.decode(line)
    if type(obj) == "table" then
      if obj._type == "playlist" and type(obj.entries) == "table" then
        for _, e in ipairs(obj.entries) do out[#out + 1] = M.parseInfo(e) end
      else
        out[#out + 1] = M.parseInfo(obj)
      end
    end
  end
  return out
end

--- True for http and https URLs.
---@param s any The value.
---@return boolean
function M.isUrl(s)
  return type(s) == "string" and s:match("^https?://[%w%-%.]+") ~= nil
end

local COMMON = { "--no-warnings", "--ignore-config", "--no-progress" }

--- Settings for every yt-dlp run: `cookies` (a cookies.txt path), `proxy`, `args` (more arguments).
---@type {cookies?: string, proxy?: string, args?: string[]}
M.options = {}

local function argsWith(list, opts)
  local out = {}
  for _, a in ipairs(COMMON) do out[#out + 1] = a end
  local cookies, proxy = (opts and opts.cookies) or M.options.cookies, (opts and opts.proxy) or M.options.proxy
  if cookies then
    out[#out + 1] = "--cookies"
    out[#out + 1] = cookies
  end
  if proxy then
    out[#out + 1] = "--proxy"
    out[#out + 1] = proxy
  end
  for _, a in ipairs(M.options.args or {}) do out[#out + 1] = a end
  for _, a in ipairs(list) do out[#out + 1] = a end
  return out
end

--- Options of the searches; `cookies` and `proxy` override `options` for one call.
---@class discord.SearchOptions
---@field limit? integer Results at most, 1 to MAX_LIMIT (DEFAULT_LIMIT); for `resolve`, playlist entries.
---@field site? string A yt-dlp search prefix ("ytsearch"; "scsearch" and others).
---@field playlist? boolean False resolves a playlist URL to its video only.
---@field timeout? integer Milliseconds yt-dlp may run (TIMEOUT).
---@field cookies? string A cookies.txt path.
---@field proxy? string A proxy URL.

--- Searches YouTube (or `opts.site`) with yt-dlp and returns up to `opts.limit` track descriptions.
--- Raises `discord.SearchError` when yt-dlp is missing or fails; an error for a bad query or limit.
---@async
---@param query string Words to search.
---@param opts? discord.SearchOptions Limit, site, timeout.
---@return discord.TrackInfo[] tracks
function M.search(query, opts)
  if type(query) ~= "string" or util.trim(query) == "" then error("search: query must be a non-empty string", 2) end
  opts = opts or {}
  local limit = opts.limit or M.DEFAULT_LIMIT
  if math.type(limit) ~= "integer" or limit < 1 or limit > M.MAX_LIMIT then
    error("search: limit must be an integer from 1 to " .. M.MAX_LIMIT, 2)
  end
  local site = opts.site or "ytsearch"
  local out = M.runTool("yt-dlp", argsWith({ "--flat-playlist", "--dump-json", "--default-search", site,
    site .. limit .. ":" .. util.trim(query) }, opts), opts)
  local results = M.parseLines(out)
  while #results > limit do table.remove(results) end
  return results
end

--- The tracks of a URL (a video, or a playlist's entries), of a local file, or the first search result.
--- Raises `discord.SearchError` when yt-dlp or ffprobe fails, or nothing plays at the URL.
---@async
---@param query string A URL, a file path or words to search.
---@param opts? discord.SearchOptions Playlist, limit, site, timeout.
---@return discord.TrackInfo[] tracks Empty when a search finds nothing.
function M.resolve(query, opts)
  opts = opts or {}
  if not M.isUrl(query) and runtime.stat(query) == "file" then return { M.probe(query) } end
  if not M.isUrl(query) then
    local first = M.search(query, { limit = 1, site = opts.site, timeout = opts.timeout })[1]
    return first and { first } or {}
  end
  local args = { "--dump-json", "--flat-playlist" }
  if opts.playlist == false then args[#args + 1] = "--no-playlist" end
  if opts.limit then
    args[#args + 1] = "--playlist-end"
    args[#args + 1] = tostring(opts.limit)
  end
  args[#args + 1] = query
  local results = M.parseLines(M.runTool("yt-dlp", argsWith(args, opts), opts))
  if #results == 0 then error(SearchError("nothing playable at " .. query, { tool = "yt-dlp" }), 2) end
  return results
end

local streamCache = {}

--- The direct audio URL of a page, for FFmpeg to read; cached for STREAM_URL_TTL.
--- Raises `discord.SearchError` when yt-dlp fails or gives no URL; an error when `url` is not http(s).
---@async
---@param url string The page.
---@param opts? {refresh?: boolean, format?: string, timeout?: integer, cookies?: string, proxy?: string}
---@return string url
function M.streamUrl(url, opts)
  if not M.isUrl(url) then error("streamUrl: expected an http(s) URL", 2) end
  opts = opts or {}
  local hit = streamCache[url]
  if hit and runtime.now() < hit.expires and not opts.refresh then return hit.url end
  local out = M.runTool("yt-dlp", argsWith({ "-f", opts.format or "bestaudio/best", "--no-playlist", "-g", url },
    opts), opts)
  local direct = out:match("(https?://[^\r\n]+)")
  if not direct then error(SearchError("yt-dlp gave no stream URL for " .. url, { tool = "yt-dlp" }), 2) end
  streamCache[url] = { url = direct, expires = runtime.now() + M.STREAM_URL_TTL }
  return direct
end

--- Forgets the cached stream URLs.
function M.clearCache() streamCache = {} end

--- "3:05" or "1:02:03" from milliseconds; "live" for nil (or anything not an integer).
---@param ms integer? The duration.
---@return string text
function M.formatDuration(ms)
  if math.type(ms) ~= "integer" then return "live" end
  local s = ms // 1000
  local h, m = s // 3600, s // 60 % 60
  if h > 0 then return string.format("%d:%02d:%02d", h, m, s % 60) end
  return string.format("%d:%02d", m, s % 60)
end

return M
