-- The fake Discord: a store, its REST routes and the scripted gateway, mounted on the fake http.
-- Writes through REST also dispatch the gateway events Discord would send for them.
--
--   local server = require("fake.discord.server")
--   local fd = server.reset()        -- fresh fakes; bot, alice, bob; "Test Guild" with #general
--   fd:say(fd.alice, fd.general, "!ping")           -- MESSAGE_CREATE from a user
--   fd.rest:setBucket("POST /channels/:channel/messages", { limit = 1, window = 1000 })
--   fd.rest:inject({ path = "/channels/%d+/messages", status = 429, global = true, retry_after = 0.5 })
--   fd.gateway.ack = false; fd.gateway:reconnect(); fd.gateway:invalidate(true); fd.gateway:close(4014)
--   fd:requests("POST", "/channels/%d+/messages")   -- what the library sent, bodies decoded
--   fd.rest.violations, fd.gateway.faults           -- rules the library broke; tests expect them empty
local runtime = require("runtime")
local json = require("json")
local http = require("http")
local Store = require("fake.discord.store")
local Rest = require("fake.discord.rest")
local Gateway = require("fake.discord.gateway")

local M = {}
local Server = {}
Server.__index = Server

local API = "https://discord.com/api"
M.API = API
M.TOKEN = "test-token"

local GUILDS, GUILD_MEMBERS, GUILD_MESSAGES, DIRECT_MESSAGES = 1 << 0, 1 << 1, 1 << 9, 1 << 12

local function apiError(status, code, message, errors)
  return status, { code = code, message = message, errors = errors }
end

local function unknown(what, code)
  return apiError(404, code, "Unknown " .. what)
end

local function formError(field, code, message)
  local errors = {}
  local node = errors
  for part in field:gmatch("[^.]+") do
    node[part] = {}
    node = node[part]
  end
  node._errors = json.array({ { code = code, message = message } })
  return apiError(400, 50035, "Invalid Form Body", errors)
end

-- Checks a message body the way the API does; returns nil or the error answer.
local function checkMessage(body, editing)
  if type(body) ~= "table" then return apiError(400, 50109, "The request body contains invalid JSON.") end
  local content = body.content
  if content ~= nil and content ~= json.null and type(content) ~= "string" then
    return formError("content", "BASE_TYPE_STRING", "Must be a string.")
  end
  if type(content) == "string" and utf8.len(content) and utf8.len(content) > 2000 then
    return formError("content", "BASE_TYPE_MAX_LENGTH", "Must be 2000 or fewer in length.")
  end
  local embeds = body.embeds
  local empty = (type(content) ~= "string" or content == "") and (type(embeds) ~= "table" or #embeds == 0)
    and body.sticker_ids == nil and body.components == nil and body.poll == nil
  if empty and not editing then return apiError(400, 50006, "Cannot send an empty message") end
  return nil
end

function M.new(opts)
  opts = opts or {}
  local self = setmetatable({ token = opts.token or M.TOKEN }, Server)
  self.store = Store.new()
  self.rest = Rest.new(self)
  self.gateway = Gateway.new(self)
  local store = self.store
  self.bot = store:addUser({ username = "tarnbot", bot = true })
  self.alice = store:addUser({ username = "alice" })
  self.bob = store:addUser({ username = "bob" })
  if not opts.empty then
    self.guild = store:addGuild({
      name = "Test Guild", owner = self.alice,
      roles = { { name = "Member", permissions = "0", position = 1 },
        { name = "Mod", permissions = "8", position = 2, hoist = true, color = 0xE67E22 } },
      channels = { { name = "Text Channels", type = 4 }, { name = "general", type = 0, parent = "Text Channels",
        topic = "hello" }, { name = "Voice", type = 2 } },
      members = { self.bot, self.alice, self.bob },
    })
    self.category = store.channels[self.guild.channels[1]]
    self.general = store.channels[self.guild.channels[2]]
    self.member_role, self.mod_role = self.guild.roles[2], self.guild.roles[3]
  end
  self:_routes()
  http.mount(API, function(req) return self.rest:handle(req) end)
  self.gateway:mount(http)
  return self
end

--- A user writes in a channel: the message is stored and MESSAGE_CREATE goes out. Returns it.
function Server:say(user, channel, content, extra)
  extra = extra or {}
  extra.content = content
  local msg = self.store:addMessage(channel, user, extra)
  self:_echo("MESSAGE_CREATE", channel, self.store:messageJSON(msg))
  return msg
end

-- Sends an event caused by a write, if the session asked for it.
function Server:_echo(t, channel, d, bits)
  local gw = self.gateway
  if not gw:session() then return end
  if not bits then
    if channel and channel.guild_id then bits = GUILD_MESSAGES elseif channel then bits = DIRECT_MESSAGES end
  end
  if bits and not gw:wants(bits) then return end
  gw:dispatch(t, d)
end

--- Requests the library made, from the fake http's record: method and a Lua pattern for the path.
function Server:requests(method, pattern)
  local out = {}
  for _, ex in ipairs(http.requests(method, "/api/v10" .. (pattern or ".*"))) do
    local r = ex.request
    out[#out + 1] = {
      method = r.method, path = r.path:sub(#"/api/v10" + 1), headers = r.headers, at = r.at,
      body = r.body and r.headers["content-type"] == "application/json" and json.decode(r.body) or r.body,
      status = ex.response and ex.response.status,
    }
  end
  return out
end

-- Routes -----------------------------------------------------------------------------------------------

function Server:_routes()
  local store, rest = self.store, self.rest
  local route = function(m, t, h) rest:route(m, t, h) end

  local function channelOr404(id) return store.channels[id] end

  route("GET", "/gateway/bot", function()
    return 200, { url = Gateway.URL, shards = 1,
      session_start_limit = { total = 1000, remaining = 999, reset_after = 14400000, max_concurrency = 1 } }
  end)

  -- Users
  route("PATCH", "/users/@me", function(_, _, body)
    if type(body.username) == "string" then self.bot.username = body.username end
    if body.avatar ~= nil then self.bot.avatar = body.avatar == json.null and json.null or "a1b2c3" end
    return 200, store:userJSON(self.bot)
  end)
  route("GET", "/users/:user", function(_, p)
    local u = store.users[p.user]
    if not u then return unknown("User", 10013) end
    return 200, store:userJSON(u)
  end)
  route("POST", "/users/@me/channels", function(_, _, body)
    local u = store.users[body.recipient_id or ""]
    if not u then return formError("recipient_id", "NUMBER_TYPE_COERCE", "Value is not snowflake.") end
    for _, ch in pairs(store.channels) do
      if ch.type == 1 and ch.recipients[1] == u.id then return 200, store:channelJSON(ch) end
    end
    local ch = store:addChannel(nil, { type = 1, recipients = { u.id } })
    return 200, store:channelJSON(ch)
  end)

  -- Channels
  route("PATCH", "/channels/:channel", function(_, p, body)
    local ch = channelOr404(p.channel)
    if not ch then return unknown("Channel", 10003) end
    for _, k in ipairs({ "name", "topic", "nsfw", "position", "parent_id", "rate_limit_per_user" }) do
      if body[k] ~= nil then ch[k] = body[k] end
    end
    local d = store:channelJSON(ch)
    self:_echo("CHANNEL_UPDATE", nil, d, GUILDS)
    return 200, d
  end)

  -- Messages
  route("GET", "/channels/:channel/messages", function(req, p)
    local ch = channelOr404(p.channel)
    if not ch then return unknown("Channel", 10003) end
    local limit = tonumber(req.query.limit or "50")
    if not limit or limit < 1 or limit > 100 then
      return formError("limit", "NUMBER_TYPE_MAX", "int value should be less than or equal to 100.")
    end
    local list, out = store.messages[ch.id], json.array({})
    local before = math.tointeger(tonumber(req.query.before or "")) or math.maxinteger
    -- Newest first, as Discord pages.
    for i = #list, 1, -1 do
      if math.tointeger(tonumber(list[i].id)) < before then out[#out + 1] = store:messageJSON(list[i]) end
    end
    return 200, json.array({ table.unpack(out, 1, math.min(limit, #out)) })
  end)
  route("POST", "/channels/:channel/messages", function(_, p, body)
    local ch = channelOr404(p.channel)
    if not ch then return unknown("Channel", 10003) end
    local bad, err = checkMessage(body)
    if bad then return bad, err end
    local ref = body.message_reference
    if type(ref) == "table" then
      local target = ref.message_id and store:message(ref.channel_id or ch.id, ref.message_id)
      if not target and ref.fail_if_not_exists ~= false then
        return formError("message_reference", "MESSAGE_REFERENCE_UNKNOWN_MESSAGE", "Unknown message")
      end
      if target then
        ref = { message_id = target.id, channel_id = target.channel_id, guild_id = ch.guild_id, type = 0 }
      else
        ref = nil
      end
    end
    local msg = store:addMessage(ch, self.bot, {
      content = type(body.content) == "string" and body.content or "", embeds = body.embeds,
      message_reference = ref, nonce = body.nonce, flags = body.flags, components = body.components,
      type = ref and 19 or 0,
    })
    local d = store:messageJSON(msg)
    self:_echo("MESSAGE_CREATE", ch, d)
    return 200, d
  end)
  route("PATCH", "/channels/:channel/messages/:message", function(_, p, body)
    local m = store:message(p.channel, p.message)
    if not m then return unknown("Message", 10008) end
    if m.author_id ~= self.bot.id and (body.content ~= nil or body.embeds ~= nil) then
      return apiError(403, 50005, "Cannot edit a message authored by another user")
    end
    local bad, err = checkMessage(body, true)
    if bad then return bad, err end
    if body.content ~= nil then m.content = body.content == json.null and "" or body.content end
    if body.embeds ~= nil then m.embeds = body.embeds end
    if body.flags ~= nil then m.flags = body.flags end
    m.edited_timestamp = Store.iso(runtime.time())
    local d = store:messageJSON(m)
    self:_echo("MESSAGE_UPDATE", store.channels[p.channel], d)
    return 200, d
  end)
  route("DELETE", "/channels/:channel/messages/:message", function(_, p)
    local m, i = store:message(p.channel, p.message)
    if not m then return unknown("Message", 10008) end
    table.remove(store.messages[p.channel], i)
    local ch = store.channels[p.channel]
    self:_echo("MESSAGE_DELETE", ch, { id = m.id, channel_id = ch.id, guild_id = ch.guild_id })
    return 204
  end)

  -- Guilds
  local function guildOr404(id) return store.guilds[id] end

  -- Members
  local function memberOr404(p)
    local g = guildOr404(p.guild)
    if not g then return nil, unknown("Guild", 10004) end
    local uid = p.user == "@me" and self.bot.id or p.user
    local m = g.members[uid]
    if not m then return nil, unknown("Member", 10007) end
    return g, m
  end
  local function memberUpdate(g, m)
    local d = store:memberJSON(g, m)
    d.guild_id = g.id
    self:_echo("GUILD_MEMBER_UPDATE", nil, d, GUILD_MEMBERS)
    return d
  end
  route("PATCH", "/guilds/:guild/members/:user", function(_, p, body)
    local g, m = memberOr404(p)
    if not g then return m end
    if body.nick ~= nil then m.nick = body.nick end
    if body.roles ~= nil then
      for _, rid in ipairs(body.roles) do
        if not store:role(g, rid) then return formError("roles", "ROLE_INVALID", "Unknown role") end
      end
      m.roles = { table.unpack(body.roles) }
    end
    if body.communication_disabled_until ~= nil then
      m.communication_disabled_until = body.communication_disabled_until
    end
    return 200, memberUpdate(g, m)
  end)
  route("PUT", "/guilds/:guild/members/:user/roles/:role", function(_, p)
    local g, m = memberOr404(p)
    if not g then return m end
    if not store:role(g, p.role) then return unknown("Role", 10011) end
    local has = false
    for _, r in ipairs(m.roles) do has = has or r == p.role end
    if not has then
      m.roles[#m.roles + 1] = p.role
      memberUpdate(g, m)
    end
    return 204
  end)
  route("DELETE", "/guilds/:guild/members/:user/roles/:role", function(_, p)
    local g, m = memberOr404(p)
    if not g then return m end
    if not store:role(g, p.role) then return unknown("Role", 10011) end
    for i, r in ipairs(m.roles) do
      if r == p.role then
        table.remove(m.roles, i)
        memberUpdate(g, m)
        break
      end
    end
    return 204
  end)

  -- Roles
  route("POST", "/guilds/:guild/roles", function(_, p, body)
    local g = guildOr404(p.guild)
    if not g then return unknown("Guild", 10004) end
    body = body or {}
    local r = store:addRole(g, { name = body.name or "new role", color = body.color, hoist = body.hoist,
      permissions = body.permissions, mentionable = body.mentionable, position = 1 })
    self:_echo("GUILD_ROLE_CREATE", nil, { guild_id = g.id, role = store:roleJSON(r) }, GUILDS)
    return 200, store:roleJSON(r)
  end)
  route("PATCH", "/guilds/:guild/roles/:role", function(_, p, body)
    local g = guildOr404(p.guild)
    if not g then return unknown("Guild", 10004) end
    local r = store:role(g, p.role)
    if not r then return unknown("Role", 10011) end
    for _, k in ipairs({ "name", "color", "hoist", "permissions", "mentionable" }) do
      if body[k] ~= nil then r[k] = body[k] end
    end
    self:_echo("GUILD_ROLE_UPDATE", nil, { guild_id = g.id, role = store:roleJSON(r) }, GUILDS)
    return 200, store:roleJSON(r)
  end)
  route("DELETE", "/guilds/:guild/roles/:role", function(_, p)
    local g = guildOr404(p.guild)
    if not g then return unknown("Guild", 10004) end
    local r, i = store:role(g, p.role)
    if not r then return unknown("Role", 10011) end
    table.remove(g.roles, i)
    for _, m in pairs(g.members) do
      for j, rid in ipairs(m.roles) do
        if rid == r.id then table.remove(m.roles, j) break end
      end
    end
    self:_echo("GUILD_ROLE_DELETE", nil, { guild_id = g.id, role_id = r.id }, GUILDS)
    return 204
  end)
end

--- Fresh fakes: runtime, http records and a new server.
function M.reset(opts)
  runtime.reset()
  http.reset()
  return M.new(opts)
end

--- Fresh fakes and a client with `options` logged in to them; `setup(fd, client)` runs before the login.
function M.login(options, setup)
  local fd = M.reset()
  local client = require("discord").Client(options)
  if setup then setup(fd, client) end
  runtime.run(function() client:login(fd.token) end, { ["for"] = 10000 })
  return fd, client
end

return M
