-- Guild music: a queue of tracks played through one voice connection, with loop, shuffle, volume and
-- seek. Tracks come from yt-dlp (@discord/voice/search); FFmpeg turns their stream URLs into audio.
local runtime = require("runtime")
local util = require("discord.util")
local errors = require("discord.errors")
local voice = require("@discord/voice")
local search = require("@discord/voice/search")

local M = {}

--- What plays again: nothing, the current track, or the whole queue (played tracks go to its end).
---@enum discord.LoopMode
M.LoopMode = setmetatable({ Off = "off", Track = "track", Queue = "queue" }, {
  __index = function(_, k) error("unknown loop mode " .. tostring(k), 2) end })
local LOOP_MODES = { off = true, track = true, queue = true }
--- Tracks a queue holds at most, by default.
---@type integer
M.MAX_QUEUE = 1000
--- The highest volume a music player takes, in percent.
---@type integer
M.MAX_VOLUME = 200
--- Played tracks a queue remembers for `previous`.
---@type integer
M.HISTORY = 50

--- A music failure: bad use of the player or a track that cannot be played.
---@class discord.MusicError: discord.DiscordError
local MusicError = util.class("MusicError", errors.DiscordError)
M.MusicError = MusicError
function MusicError:__tostring() return "MusicError: " .. self.message end

local function fail(text, level) error(MusicError(text), (level or 1) + 1) end

-- Track ----------------------------------------------------------------------------------------------------

--- One playable item: what yt-dlp said about it, and who asked for it.
---@class discord.Track
---@field url string The page to play (or a file's path).
---@field title string The title (the URL when there is none).
---@field id string? The site's ID.
---@field duration integer? Length in ms; nil for live streams and unknown lengths.
---@field author string? Uploader, channel or artist.
---@field thumbnail string? The thumbnail's URL.
---@field source string? The extractor ("Youtube", "file", ...).
---@field live boolean True for a live stream.
---@field streamUrl string? A direct media URL, when known.
---@field requestedBy any Who asked for it: a user, member or ID, as given.
---@field addedAt integer When it was made (`runtime.time()`).
---@field durationText string "3:05", "1:02:03" or "live" (read-only).
---@field requesterId discord.Snowflake? The ID of `requestedBy` (read-only).
local Track = util.class("Track")
M.Track = Track

local FIELDS = { "id", "title", "url", "duration", "author", "thumbnail", "source", "live", "streamUrl" }

--- Makes a track.
--- Raises an error when `info` has no url.
---@param info discord.TrackInfo|table A track description (a url at least).
---@param requestedBy? any Who asked for it.
function Track:init(info, requestedBy)
  if type(info) ~= "table" or type(info.url) ~= "string" then error("Track: info needs a url", 3) end
  for _, k in ipairs(FIELDS) do self[k] = info[k] end
  self.title = self.title or self.url
  self.live = self.live == true
  self.requestedBy = requestedBy
  self.addedAt = runtime.time()
end

--- A Track from a track (as it is), a track description or a URL.
---@param value discord.Track|discord.TrackInfo|string What to make it from.
---@param requestedBy? any Who asked for it (not set on a track given as it is).
---@return discord.Track track
function Track.from(value, requestedBy)
  if util.instanceOf(value, Track) then return value end
  if type(value) == "string" then return Track({ url = value }, requestedBy) end
  return Track(value, requestedBy)
end

Track.getters.durationText = function(self) return search.formatDuration(self.duration) end
Track.getters.requesterId = function(self)
  local r = self.requestedBy
  if type(r) == "table" then return r.id end
  return r
end

--- "Title (3:05)".
function Track:__tostring() return self.title .. " (" .. self.durationText .. ")" end

--- A plain table of the track's fields, `requestedBy` as an ID.
---@return table
function Track:toJSON()
  local out = { requestedBy = self.requesterId, addedAt = self.addedAt }
  for _, k in ipairs(FIELDS) do out[k] = self[k] end
  return out
end

-- Queue ----------------------------------------------------------------------------------------------------

--- The tracks still to come, the one playing (`current`), those played (`history`), and the loop mode.
---@class discord.Queue
---@field tracks discord.Track[] The tracks to come.
---@field current discord.Track? The track playing.
---@field history discord.Track[] The tracks played, oldest first (HISTORY at most).
---@field loop string The loop mode: "off", "track" or "queue" (`discord.LoopMode`).
---@field maxSize integer Tracks it holds at most.
---@field size integer The number of tracks to come (read-only).
---@field empty boolean True when no track is to come (read-only).
---@field duration integer Total length in ms of the tracks to come; live ones count 0 (read-only).
local Queue = util.class("Queue")
M.Queue = Queue

--- Makes an empty queue.
---@param opts? {loop?: string, maxSize?: integer} The loop mode ("off") and size limit (MAX_QUEUE).
function Queue:init(opts)
  opts = opts or {}
  self.tracks, self.history, self.current = {}, {}, nil
  self.loop = opts.loop or "off"
  self.maxSize = opts.maxSize or M.MAX_QUEUE
end

Queue.getters.size = function(self) return #self.tracks end
Queue.getters.empty = function(self) return #self.tracks == 0 end

Queue.getters.duration = function(self)
  local ms = 0
  for _, t in ipairs(self.tracks) do ms = ms + (t.duration or 0) end
  return ms
end

--- Adds a track or a list of them at `position` (1 = next; default the end); returns the tracks added.
--- Raises `discord.MusicError` when the queue would hold more than `maxSize`.
---@param tracks discord.Track|discord.TrackInfo|string|table A track, description or URL, or a list of them.
---@param position? integer Where the first goes.
---@param requestedBy? any Who asked for them.
---@return discord.Track[] added
function Queue:add(tracks, position, requestedBy)
  if tracks == nil then error("add: expected a track or a list of tracks", 2) end
  local list = (type(tracks) == "table" and not util.instanceOf(tracks, Track) and tracks.url == nil) and tracks
    or { tracks }
  if #self.tracks + #list > self.maxSize then fail("the queue holds at most " .. self.maxSize .. " tracks", 2) end
  local at = position and math.max(1, math.min(position, #self.tracks + 1)) or #self.tracks + 1
  local added = {}
  for i, t in ipairs(list) do
    added[i] = Track.from(t, requestedBy)
    table.insert(self.tracks, at + i - 1, added[i])
  end
  return added
end

local function index(self, i, what)
  if math.type(i) ~= "integer" or i < 1 or i > #self.tracks then
    fail(what .. ": no track " .. tostring(i) .. " in a queue of " .. #self.tracks, 3)
  end
  return i
end

--- Removes and returns the track at `i`.
--- Raises `discord.MusicError` when there is no track `i`.
---@param i integer Its position.
---@return discord.Track track
function Queue:remove(i) return table.remove(self.tracks, index(self, i, "remove")) end

--- Moves the track at `from` to `to`; returns it.
--- Raises `discord.MusicError` when there is no track `from`.
---@param from integer Its position.
---@param to integer The new position.
---@return discord.Track track
function Queue:move(from, to)
  local t = table.remove(self.tracks, index(self, from, "move"))
  table.insert(self.tracks, math.max(1, math.min(to, #self.tracks + 1)), t)
  return t
end

--- Drops the tracks to come that share a URL with an earlier one (or the current one); returns how many.
---@return integer dropped
function Queue:removeDuplicates()
  local seen, kept = {}, {}
  if self.current then seen[self.current.url] = true end
  for _, t in ipairs(self.tracks) do
    if not seen[t.url] then
      seen[t.url] = true
      kept[#kept + 1] = t
    end
  end
  local dropped = #self.tracks - #kept
  self.tracks = kept
  return dropped
end

--- Removes the tracks to come for which `fn(track)` is true; returns them.
---@param fn fun(track: discord.Track): boolean The test.
---@return discord.Track[] removed
function Queue:removeWhere(fn)
  local kept, removed = {}, {}
  for _, t in ipairs(self.tracks) do
    if fn(t) then removed[#removed + 1] = t else kept[#kept + 1] = t end
  end
  self.tracks = kept
  return removed
end

--- The first track to come whose title holds `text` (case ignored): its position and the track, or nil.
---@param text string What to look for.
---@return integer? position
---@return discord.Track? track
function Queue:find(text)
  local needle = text:lower()
  for i, t in ipairs(self.tracks) do
    if t.title:lower():find(needle, 1, true) then return i, t end
  end
  return nil
end

--- Swaps two tracks.
--- Raises `discord.MusicError` when either position has no track.
---@param a integer A position.
---@param b integer Another position.
function Queue:swap(a, b)
  index(self, a, "swap")
  index(self, b, "swap")
  self.tracks[a], self.tracks[b] = self.tracks[b], self.tracks[a]
end

--- Forgets the tracks to come; returns how many there were.
---@return integer count
function Queue:clear()
  local n = #self.tracks
  self.tracks = {}
  return n
end

--- Puts the tracks to come in a random order (Fisher-Yates).
---@return discord.Queue self
function Queue:shuffle()
  local t = self.tracks
  for i = #t, 2, -1 do
    local j = math.random(i)
    t[i], t[j] = t[j], t[i]
  end
  return self
end

--- Sets the loop mode: "off", "track" (the current one again) or "queue" (played tracks go to the end).
--- Raises an error for another mode.
---@param mode string The mode (`discord.LoopMode`).
---@return string mode
function Queue:setLoop(mode)
  if not LOOP_MODES[mode] then error("setLoop: mode must be off, track or queue", 2) end
  self.loop = mode
  return mode
end

local function remember(self, t)
  if not t then return end
  self.history[#self.history + 1] = t
  if #self.history > M.HISTORY then table.remove(self.history, 1) end
end

--- Moves on to the next track and returns it (nil at the end).
---@param skipped? boolean Ends a looped track too.
---@return discord.Track? track
function Queue:next(skipped)
  local cur = self.current
  if cur and self.loop == "track" and not skipped then return cur end
  if cur then
    remember(self, cur)
    if self.loop == "queue" then self.tracks[#self.tracks + 1] = cur end
  end
  self.current = table.remove(self.tracks, 1)
  return self.current
end

--- Goes back to the last played track; the current one comes next again.
---@return discord.Track? track Nil when none was played.
function Queue:previous()
  local last = table.remove(self.history)
  if not last then return nil end
  if self.current then table.insert(self.tracks, 1, self.current) end
  if self.loop == "queue" and self.tracks[#self.tracks] == last then table.remove(self.tracks) end
  self.current = last
  return last
end

--- One page of the tracks to come: {tracks = {{position, track}, ...}, page, pages}.
---@param page? integer The page, clamped to those there are (1).
---@param perPage? integer Tracks a page (10).
---@return {tracks: table[], page: integer, pages: integer} page
function Queue:page(page, perPage)
  perPage = perPage or 10
  local pages = math.max(1, (#self.tracks + perPage - 1) // perPage)
  page = math.max(1, math.min(page or 1, pages))
  local out = {}
  for i = (page - 1) * perPage + 1, math.min(#self.tracks, page * perPage) do out[#out + 1] = { i, self.tracks[i] } end
  return { tracks = out, page = page, pages = pages }
end

--- A plain table: {loop, current, tracks}.
---@return table
function Queue:toJSON()
  return { loop = self.loop, current = self.current and self.current:toJSON(),
    tracks = util.map(self.tracks, function(t) return t:toJSON() end) }
end

-- MusicPlayer -----------------------------------------------------------------------------------------------

--- Options of a music player.
---@class discord.MusicPlayerOptions
---@field client? discord.Client The client; its shard joins, its voice states tell who listens.
---@field guildId? discord.Snowflake The guild (set by `MusicPlayer.get`).
---@field adapterCreator? fun(methods: table): table An adapter creator instead of the client's.
---@field volume? number Volume in percent (100).
---@field leaveOnEnd? integer|false Milliseconds to stay after the queue ends (60000); false stays.
---@field leaveOnEmpty? integer|false Milliseconds to stay in a channel no one listens in (30000); false stays.
---@field maxQueue? integer Tracks the queue holds at most (MAX_QUEUE).
---@field selfDeaf? boolean Joins deafened (true).
---@field search? table A module like @discord/voice/search, to look tracks up with.

---@alias discord.MusicPlayerEvent
---| "trackAdd" # (tracks: discord.Track[]) Tracks were queued by `play`.
---| "trackStart" # (track: discord.Track) A track started.
---| "trackEnd" # (track: discord.Track, reason: string) A track ended: "end", "skip" or "stop".
---| "queueEnd" # () No track is left.
---| "error" # (err: any, track: discord.Track?) A track could not be played or failed while playing.
---| "seek" # (track: discord.Track, ms: integer) `seek` restarted the track there.
---| "empty" # () Nobody listened for `leaveOnEmpty` ms; the player leaves.
---| "disconnect" # () The player left the channel.

--- One guild's music: a queue played through one voice connection, with loop, shuffle, volume and seek.
---@class discord.MusicPlayer: discord.EventEmitter
---@field client discord.Client? The client.
---@field guildId discord.Snowflake The guild.
---@field queue discord.Queue The tracks.
---@field volume number Volume in percent.
---@field leaveOnEnd integer|false Milliseconds it stays after the queue ends.
---@field leaveOnEmpty integer|false Milliseconds it stays in a channel no one listens in.
---@field player discord.AudioPlayer The audio player it plays on.
---@field connection discord.VoiceConnection? The voice connection, while connected.
---@field resource discord.AudioResource? What plays now.
---@field destroyed boolean? True once destroyed.
---@field current discord.Track? The track playing (read-only).
---@field playing boolean True while playing or buffering (read-only).
---@field paused boolean True while paused (read-only).
---@field channelId discord.Snowflake? The voice channel it is in (read-only).
---@field position integer Milliseconds played of the current track (read-only).
local MusicPlayer = util.class("MusicPlayer", util.EventEmitter)
M.MusicPlayer = MusicPlayer

local players = {}

--- Makes a player; `MusicPlayer.get` is the usual way.
--- Raises an error when `opts.guildId` is missing.
---@param opts discord.MusicPlayerOptions
function MusicPlayer:init(opts)
  util.EventEmitter.init(self)
  opts = opts or {}
  if type(opts.guildId) ~= "string" then error("MusicPlayer: guildId is required", 3) end
  self.client, self.guildId = opts.client, opts.guildId
  self.adapterCreator = opts.adapterCreator
  self.queue = Queue({ maxSize = opts.maxQueue })
  self.volume = opts.volume or 100
  self.leaveOnEnd = opts.leaveOnEnd == nil and 60000 or opts.leaveOnEnd
  self.search = opts.search or search
  self.selfDeaf = opts.selfDeaf ~= false
  self.player = voice.createAudioPlayer({ behaviors = { noSubscriber = voice.NoSubscriberBehavior.Pause } })
  self.player:on("idle", function() self:_finished() end)
  self.player:on("error", function(err, resource)
    self:emit("error", err, resource and resource.metadata)
  end)
  self._offset = 0
  self.leaveOnEmpty = opts.leaveOnEmpty == nil and 30000 or opts.leaveOnEmpty
  if self.client and self.leaveOnEmpty then
    self._watch = function(old, new) self:_voiceMoved(old, new) end
    self.client:on("voiceStateUpdate", self._watch)
  end
end

--- The IDs of the members other than bots in the player's channel, from the guild's voice states.
---@return discord.Snowflake[] userIds
function MusicPlayer:listeners()
  local guild = self.client and self.client.guilds.cache:get(self.guildId)
  local channelId = self.channelId
  local out = {}
  if not guild or not channelId then return out end
  for id, state in guild.voiceStates.cache:iter() do
    local member = state.member
    local bot = member and member.user and member.user.bot
    if state.channelId == channelId and not bot and id ~= (self.client.user and self.client.user.id) then
      out[#out + 1] = id
    end
  end
  return out
end

-- Pauses when the last listener leaves the channel and leaves after `leaveOnEmpty` ms; a listener who
-- comes back in time resumes the music.
function MusicPlayer:_voiceMoved(old, new)
  local channelId = self.channelId
  local state = new or old
  if not channelId or not state or (state.guild and state.guild.id ~= self.guildId) then return end
  if (old and old.channelId) ~= channelId and (new and new.channelId) ~= channelId then return end
  local empty = #self:listeners() == 0
  if empty and not self._emptyTimer then
    self._pausedForEmpty = self:pause()
    self._emptyTimer = runtime.timer(self.leaveOnEmpty, function()
      self._emptyTimer = nil
      if #self:listeners() == 0 then
        self:emit("empty")
        self:disconnect()
      end
    end)
  elseif not empty and self._emptyTimer then
    self._emptyTimer:cancel()
    self._emptyTimer = nil
    if self._pausedForEmpty then self:resume() end
    self._pausedForEmpty = nil
  end
end

--- The guild's player, made with `opts` the first time (or after it was destroyed).
---@param guildId discord.Snowflake The guild.
---@param opts? discord.MusicPlayerOptions Used when the player is made.
---@return discord.MusicPlayer player
function MusicPlayer.get(guildId, opts)
  local p = players[guildId]
  if p and not p.destroyed then return p end
  opts = opts or {}
  opts.guildId = guildId
  p = MusicPlayer(opts)
  players[guildId] = p
  return p
end

MusicPlayer.getters.current = function(self) return self.queue.current end
MusicPlayer.getters.playing = function(self)
  local s = self.player.state.status
  return s == "playing" or s == "buffering"
end
MusicPlayer.getters.paused = function(self) return self.player.state.status == "paused" end
MusicPlayer.getters.channelId = function(self)
  return self.connection and self.connection.joinConfig.channelId or nil
end

--- Joins (or moves to) a voice channel and waits up to 20 s until the connection is ready.
--- Raises `discord.VoiceError` when it is not ready in time or fails; an error for a bad channel.
---@async
---@param channel discord.BaseGuildVoiceChannel|discord.Snowflake The channel or its ID.
---@return discord.VoiceConnection connection
function MusicPlayer:connect(channel)
  local channelId = type(channel) == "table" and channel.id or channel
  if type(channelId) ~= "string" then error("connect: expected a voice channel or its ID", 2) end
  if self.connection and self.connection.state.status ~= "destroyed" and self.channelId == channelId
      and self.connection.state.status == "ready" then
    return self.connection
  end
  self.connection = voice.joinVoiceChannel({ guildId = self.guildId, channelId = channelId, client = self.client,
    adapterCreator = self.adapterCreator, selfDeaf = self.selfDeaf })
  voice.entersState(self.connection, "ready", 20000)
  self.connection:subscribe(self.player)
  return self.connection
end

--- Looks `query` up, queues what it finds and starts playing when nothing plays; returns the tracks added.
--- Raises `discord.MusicError` when nothing is found or the queue is full, `discord.SearchError` from yt-dlp.
---@async
---@param query string|discord.Track|discord.TrackInfo A URL, a playlist, words to search, or a track.
---@param opts? {requestedBy?: any, position?: integer, playlist?: boolean} Who asked, where, whole playlists.
---@return discord.Track[] added
function MusicPlayer:play(query, opts)
  opts = opts or {}
  local tracks
  if util.instanceOf(query, Track) or (type(query) == "table" and query.url) then
    tracks = { query }
  elseif type(query) == "string" and util.trim(query) ~= "" then
    tracks = self.search.resolve(util.trim(query), { playlist = opts.playlist })
  else
    error("play: expected a query, a URL or a track", 2)
  end
  if #tracks == 0 then fail("nothing found for " .. tostring(query), 2) end
  local added = self.queue:add(tracks, opts.position, opts.requestedBy)
  self:emit("trackAdd", added)
  if self._leaveTimer then self._leaveTimer:cancel() end
  if not self.queue.current and not self.playing then self:_advance(false) end
  return added
end

-- Starts the next track of the queue (or ends the queue); tracks that fail are skipped.
function MusicPlayer:_advance(skipped)
  while true do
    local track = self.queue:next(skipped)
    if not track then return self:_queueEnd() end
    local ok, err = util.try(self._start, self, track, 0)
    if ok then return track end
    runtime.log("warn", "music", "cannot play " .. track.title .. ": " .. tostring(err))
    self:emit("error", err, track)
    skipped = true
  end
end

function MusicPlayer:_start(track, seek)
  local url = track.streamUrl or self.search.streamUrl(track.url)
  local resource = voice.createAudioResource(url, { inlineVolume = true, volume = self.volume / 100, seek = seek,
    metadata = track })
  self._offset, self.resource = seek or 0, resource
  self.player:play(resource)
  if seek == 0 then self:emit("trackStart", track) end
end

-- The player went idle: the track ended, was skipped, or playback was stopped. Idle arrives in a task of
-- its own, so flags set before the stop tell these apart.
function MusicPlayer:_finished()
  if self.destroyed then return end
  if self._stopped then
    self._stopped = nil
    if not self.queue.current and #self.queue.tracks > 0 then self:_advance(true) end
    return
  end
  local track, skipped = self.queue.current, self._skip
  self._skip = nil
  if track then self:emit("trackEnd", track, skipped and "skip" or "end") end
  self:_advance(skipped)
end

function MusicPlayer:_queueEnd()
  self.resource = nil
  self:emit("queueEnd")
  if self.leaveOnEnd and self.connection then
    self._leaveTimer = runtime.timer(self.leaveOnEnd, function()
      if not self.queue.current and self.connection then self:disconnect() end
    end)
  end
end

--- Skips `count` tracks; the next one starts after the closing silence. Returns the track skipped.
---@async
---@param count? integer Tracks to skip (1).
---@return discord.Track? track Nil when nothing plays.
function MusicPlayer:skip(count)
  count = count or 1
  local cur = self.queue.current
  if not cur then return nil end
  for _ = 2, math.min(count, #self.queue.tracks + 1) do
    local t = table.remove(self.queue.tracks, 1)
    if self.queue.loop == "queue" then self.queue.tracks[#self.queue.tracks + 1] = t end
  end
  self._skip = true
  self.player:stop()
  return cur
end

--- Skips to the track at `position` of the queue; those before it go (or, with loop "queue", to the end).
--- Raises `discord.MusicError` when there is no track there.
---@async
---@param position integer Its position in the queue.
---@return discord.Track? track The track skipped.
function MusicPlayer:jump(position)
  local q = self.queue
  if math.type(position) ~= "integer" or position < 1 or position > #q.tracks then
    fail("jump: no track " .. tostring(position) .. " in a queue of " .. #q.tracks, 2)
  end
  return self:skip(position)
end

--- Goes back to the previous track.
--- Raises `discord.SearchError` when its stream URL cannot be found.
---@async
---@return discord.Track? track Nil when none was played.
function MusicPlayer:back()
  local last = self.queue:previous()
  if not last then return nil end
  self:_start(last, 0)
  return last
end

--- Ends playback and empties the queue; the connection stays.
---@async
function MusicPlayer:stop()
  local cur = self.queue.current
  self.queue:clear()
  self.queue.current = nil
  if self.player:stop() then self._stopped = true end
  if cur then self:emit("trackEnd", cur, "stop") end
  self:_queueEnd()
end

--- Pauses (after five silence frames).
---@return boolean paused False when it was not playing.
function MusicPlayer:pause() return self.player:pause() end
--- Resumes after `pause`.
---@return boolean resumed False when it was not paused.
function MusicPlayer:resume() return self.player:unpause() end

--- Sets the volume in percent (0 to MAX_VOLUME); it applies at once.
--- Raises an error for a volume out of range.
---@param percent number The volume.
---@return number percent
function MusicPlayer:setVolume(percent)
  if type(percent) ~= "number" or percent < 0 or percent > M.MAX_VOLUME then
    error("setVolume: volume must be 0 to " .. M.MAX_VOLUME .. " percent", 2)
  end
  self.volume = percent
  local r = self.resource
  if r and r.volume then r.volume:setVolume(percent / 100) end
  return percent
end

--- Sets the queue's loop mode: "off", "track" or "queue".
--- Raises an error for another mode.
---@param mode string The mode (`discord.LoopMode`).
---@return string mode
function MusicPlayer:setLoop(mode) return self.queue:setLoop(mode) end
--- Puts the tracks to come in a random order.
---@return discord.Queue queue
function MusicPlayer:shuffle() return self.queue:shuffle() end

--- Jumps to `ms` in the current track (FFmpeg restarts there).
--- Raises `discord.MusicError` when nothing plays, the track is live or `ms` is out of it.
---@async
---@param ms integer The position.
---@return integer ms
function MusicPlayer:seek(ms)
  local cur = self.queue.current
  if not cur then fail("nothing is playing", 2) end
  if cur.live then fail("a live stream cannot seek", 2) end
  if math.type(ms) ~= "integer" or ms < 0 or (cur.duration and ms >= cur.duration) then
    fail("seek: position must be from 0 to the track's length in ms", 2)
  end
  self:_start(cur, ms)
  self:emit("seek", cur, ms)
  return ms
end

MusicPlayer.getters.position = function(self)
  local r = self.resource
  return r and (self._offset + r.playbackDuration) or 0
end

--- A text bar such as "1:05 [=====o--------] 3:05" ("" when nothing plays).
---@param width? integer Characters of the bar (20).
---@return string bar
function MusicPlayer:progressBar(width)
  width = width or 20
  local cur = self.queue.current
  if not cur then return "" end
  local pos = self.position
  local at = cur.duration and cur.duration > 0 and math.min(width, math.floor(pos / cur.duration * width)) or 0
  return search.formatDuration(pos) .. " [" .. string.rep("=", at) .. "o" .. string.rep("-", width - at) .. "] "
    .. cur.durationText
end

--- What plays now.
---@class discord.NowPlaying
---@field track discord.Track The track.
---@field position integer Milliseconds played.
---@field duration integer? Its length in ms.
---@field bar string A progress bar (`progressBar()`).
---@field paused boolean True while paused.
---@field loop string The loop mode.
---@field volume number The volume in percent.

--- What plays now, with its position and a progress bar, or nil.
---@return discord.NowPlaying? nowPlaying
function MusicPlayer:nowPlaying()
  local cur = self.queue.current
  if not cur then return nil end
  return { track = cur, position = self.position, duration = cur.duration, bar = self:progressBar(),
    paused = self.paused, loop = self.queue.loop, volume = self.volume }
end

--- Leaves the channel; the queue stays.
---@async
function MusicPlayer:disconnect()
  if self._leaveTimer then self._leaveTimer:cancel() end
  local c = self.connection
  self.connection = nil
  if c then c:destroy() end
  self:emit("disconnect")
end

--- Stops, leaves and forgets this guild's player.
---@async
function MusicPlayer:destroy()
  self.destroyed = true
  self.queue:clear()
  self.queue.current = nil
  self.player:stop(true)
  self:disconnect()
  if self._watch then self.client:off("voiceStateUpdate", self._watch) end
  if self._emptyTimer then self._emptyTimer:cancel() end
  if players[self.guildId] == self then players[self.guildId] = nil end
end

return M
