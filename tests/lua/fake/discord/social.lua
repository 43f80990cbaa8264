-- Routes of the fake Discord around messages and channels beyond sending them: reactions (with
-- their users and the gateway events they cause). Each write dispatches what Discord would send.
local json = require("json")

local M = {}

local GUILD_REACTIONS, DM_REACTIONS = 1 << 10, 1 << 13

local function unescape(s) return (s:gsub("%%(%x%x)", function(h) return string.char(tonumber(h, 16)) end)) end

-- "name:id" or a Unicode emoji from a route, as the API's emoji object; nil when malformed.
local function emojiOf(text)
  text = unescape(text)
  local name, id = text:match("^([%w_~]+):(%d+)$")
  if name then return { id = id, name = name } end
  if text == "" or text:find("[%w:]") then return nil end
  return { id = json.null, name = text }
end
M.emojiOf = emojiOf

local function sameEmoji(a, b)
  if a.id ~= json.null and a.id ~= nil then return a.id == b.id end
  return (b.id == json.null or b.id == nil) and a.name == b.name
end

--- The stored reaction of a message with this emoji, made when `create`.
function M.reaction(msg, emoji, create)
  msg.reactions = msg.reactions or {}
  for i, r in ipairs(msg.reactions) do
    if sameEmoji(r.emoji, emoji) then return r, i end
  end
  if not create then return nil end
  local r = { emoji = { id = emoji.id or json.null, name = emoji.name }, users = {}, burst = {} }
  msg.reactions[#msg.reactions + 1] = r
  return r, #msg.reactions
end

--- The message's reactions as the API sends them, `me` seen from `botId`.
function M.reactionsJSON(msg, botId)
  local out = json.array({})
  for _, r in ipairs(msg.reactions or {}) do
    local normal, burst = #r.users, #r.burst
    if normal + burst > 0 then
      local me, meBurst = false, false
      for _, u in ipairs(r.users) do me = me or u == botId end
      for _, u in ipairs(r.burst) do meBurst = meBurst or u == botId end
      out[#out + 1] = { emoji = r.emoji, count = normal + burst, count_details = { normal = normal, burst = burst },
        me = me, me_burst = meBurst, burst_colors = json.array({}) }
    end
  end
  return out
end

function M.install(server, route)
  local store = server.store

  local function bits(channel) return channel.guild_id and GUILD_REACTIONS or DM_REACTIONS end

  local function event(channel, msg, emoji, extra)
    local d = { channel_id = channel.id, message_id = msg.id, guild_id = channel.guild_id, emoji = emoji }
    for k, v in pairs(extra or {}) do d[k] = v end
    return d
  end

  --- A user reacts (`burst` for a super reaction): stored, and MESSAGE_REACTION_ADD goes out.
  function server:react(user, channel, msg, text, burst)
    local emoji = type(text) == "table" and text or emojiOf(text)
    local r = M.reaction(msg, emoji, true)
    local list = burst and r.burst or r.users
    for _, u in ipairs(list) do
      if u == user.id then return false end
    end
    list[#list + 1] = user.id
    local extra = { user_id = user.id, burst = burst == true, type = burst and 1 or 0,
      message_author_id = msg.author_id, burst_colors = json.array(burst and { "#ff0000" } or {}) }
    local guild = store.guilds[channel.guild_id]
    if guild and guild.members[user.id] then extra.member = store:memberJSON(guild.members[user.id]) end
    self:_echo("MESSAGE_REACTION_ADD", channel, event(channel, msg, r.emoji, extra), bits(channel))
    return true
  end

  local function unreact(channel, msg, emoji, userId)
    local r = M.reaction(msg, emoji)
    if not r then return false end
    for _, kind in ipairs({ "users", "burst" }) do
      for i, u in ipairs(r[kind]) do
        if u == userId then
          table.remove(r[kind], i)
          server:_echo("MESSAGE_REACTION_REMOVE", channel, event(channel, msg, r.emoji,
            { user_id = userId, burst = kind == "burst", type = kind == "burst" and 1 or 0 }), bits(channel))
          return true
        end
      end
    end
    return false
  end

  local function withEmoji(handler)
    return function(p, body, req)
      local emoji = emojiOf(req.path:match("/reactions/([^/]+)"))
      if not emoji then return 400, { code = 10014, message = "Unknown Emoji" } end
      return handler(p, emoji, body, req)
    end
  end

  -- Reads that complete partial objects.
  route("GET", "/channels/:channel", function(p) return 200, store:channelJSON(p.channel) end)
  route("GET", "/channels/:channel/messages/:message", function(p) return 200, store:messageJSON(p.message) end)
  route("GET", "/guilds/:guild/members/:member", function(p) return 200, store:memberJSON(p.member) end)

  local base = "/channels/:channel/messages/:message/reactions"
  route("PUT", base .. "/:emoji/@me", withEmoji(function(p, emoji)
    server:react(server.bot, p.channel, p.message, emoji)
    return 204
  end))
  route("DELETE", base .. "/:emoji/@me", withEmoji(function(p, emoji)
    unreact(p.channel, p.message, emoji, server.bot.id)
    return 204
  end))
  route("DELETE", base .. "/:emoji/:user", withEmoji(function(p, emoji)
    unreact(p.channel, p.message, emoji, p.user.id)
    return 204
  end))
  route("GET", base .. "/:emoji", withEmoji(function(p, emoji, _, req)
    local limit = tonumber(req.query.limit or "25")
    if not limit or limit < 1 or limit > 100 then return 400, { code = 50035, message = "Invalid limit" } end
    local r = M.reaction(p.message, emoji)
    if not r then return 404, { code = 10014, message = "Unknown Emoji" } end
    local ids = {}
    for _, u in ipairs(req.query.type == "1" and r.burst or r.users) do ids[#ids + 1] = u end
    table.sort(ids, function(a, b) return #a < #b or (#a == #b and a < b) end)
    local out, after = json.array({}), req.query.after
    for _, id in ipairs(ids) do
      local later = not after or #id > #after or (#id == #after and id > after)
      if later and #out < limit then out[#out + 1] = store:userJSON(store.users[id]) end
    end
    return 200, out
  end))
  route("DELETE", base .. "/:emoji", withEmoji(function(p, emoji)
    local r, i = M.reaction(p.message, emoji)
    if r then
      table.remove(p.message.reactions, i)
      server:_echo("MESSAGE_REACTION_REMOVE_EMOJI", p.channel, event(p.channel, p.message, r.emoji), bits(p.channel))
    end
    return 204
  end))
  route("DELETE", base, function(p)
    p.message.reactions = {}
    server:_echo("MESSAGE_REACTION_REMOVE_ALL", p.channel, event(p.channel, p.message), bits(p.channel))
    return 204
  end)
end

return M
