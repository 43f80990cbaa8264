-- The fake Discord on the fake http: store, REST routes whose writes dispatch their gateway events, and
-- the scripted gateway.
local runtime = require("runtime")
local json = require("json")
local http = require("http")
local Store = require("fake.discord.store")
local Rest = require("fake.discord.rest")
local Gateway = require("fake.discord.gateway")
local Interactions = require("fake.discord.interactions")

local M = {}
local Server = {}
Server.__index = Server

-- What the library does wrong fails the run that saw it: a 429 it provoked, running into a limit it was told
-- about, or a gateway or voice rule it broke.
local serving
table.insert(runtime.checks, function()
  if not serving then return nil end
  local gw, v = serving.gateway, table.remove(serving.rest.violations, 1)
  local f = table.remove(gw.faults, 1) or gw.voice and table.remove(gw.voice.faults, 1)
  return v and "the library provoked a 429 on " .. v.method .. " " .. v.path
    or f and "the library broke a rule: " .. (f.text or f)
end)

local GUILDS, GUILD_MEMBERS, GUILD_MESSAGES, DIRECT_MESSAGES = 1 << 0, 1 << 1, 1 << 9, 1 << 12

--- The bot, Alice and Bob in Alice's guild with a category, #general in it, and a voice channel.
function M.new()
  local self = setmetatable({ token = "test-token" }, Server)
  serving = self
  self.store = Store.new()
  self.rest = Rest.new(self)
  self.gateway = Gateway.new(self)
  local store = self.store
  self.bot = store:addUser({ username = "tarnbot", bot = true })
  store.bot_id = self.bot.id
  self.alice = store:addUser({ username = "alice" })
  self.bob = store:addUser({ username = "bob" })
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
  self:_routes()
  require("fake.discord.commands").mount(self)
  self.interactions = Interactions.new(self)
  self.interactions:mount()
  http.mount("https://discord.com/api", function(req) return self.rest:handle(req) end)
  self.gateway:mount(http)
  return self
end

--- Four shards recommended with max_concurrency 2, and a guild on each: {[shard] = {guild, channel}}.
function Server:shardGuilds()
  local out = {}
  self.gateway.shards, self.gateway.max_concurrency = 4, 2
  for shard = 0, 3 do
    local g = self.store:addGuild({ id = self.store:id(shard, 4), name = "G" .. shard, owner = self.alice,
      channels = { { name = "chat" .. shard, type = 0 } }, members = { self.bot, self.alice, self.bob } })
    out[shard] = { guild = g, channel = self.store.channels[g.channels[1]] }
  end
  return out
end

--- A user writes in a channel: the message is stored and MESSAGE_CREATE goes out. Returns it.
function Server:say(user, channel, content)
  local msg = self.store:addMessage(channel, user, { content = content })
  self:_echo("MESSAGE_CREATE", channel, self.store:messageJSON(msg))
  return msg
end

--- A user writes in #general and the bot answers: the bodies of the replies Discord accepted.
function Server:replies(user, content)
  local before = #self:requests("POST", "/channels/%d+/messages")
  M.act(function() self:say(user, self.general, content) end)
  local out = {}
  for i, p in ipairs(self:requests("POST", "/channels/%d+/messages")) do
    if i > before and p.status == 200 then out[#out + 1] = p.body end
  end
  return out
end

-- Sends an event caused by a write, if the session asked for its intent.
function Server:_echo(t, channel, d, bits)
  local session = self.gateway:sessionFor(channel and channel.guild_id or (type(d) == "table" and d.guild_id))
  if not bits then bits = channel.guild_id and GUILD_MESSAGES or DIRECT_MESSAGES end
  if t == "MESSAGE_CREATE" or t == "MESSAGE_UPDATE" then d = self.store:messageEvent(d) end
  if session and session.intents & bits == bits then self.gateway:dispatch(t, d) end
end

--- GUILD_MEMBER_UPDATE for a stored member; returns the member as REST answers carry it.
function Server:memberUpdate(g, m)
  local d = self.store:memberJSON(m)
  d.guild_id = g.id
  self:_echo("GUILD_MEMBER_UPDATE", nil, d, GUILD_MEMBERS)
  return self.store:memberJSON(m)
end

--- Requests the library made: method and a Lua pattern for the path.
function Server:requests(method, pattern)
  local out = {}
  for _, ex in ipairs(http.exchanges) do
    local r = ex.request
    local path = r.path:match("^/api/v10(/.*)")
    if path and (method == nil or r.method == method) and path:match("^" .. (pattern or ".*") .. "$") then
      out[#out + 1] = {
        method = r.method, path = path, query = r.query, headers = r.headers, at = r.at,
        status = ex.response and ex.response.status,
        body = r.body and r.headers["content-type"] == "application/json" and json.decode(r.body) or r.body,
      }
      if r.files then out[#out].body, out[#out].files = Rest.parseMultipart(r.body, r.headers["content-type"]) end
    end
  end
  return out
end

-- Routes
function Server:_routes()
  local store = self.store
  -- Path parameters are looked up in the store, in this order; a missing one is a 404.
  local LOOKUP = {
    { "user", function(id) return store.users[id] end },
    { "channel", function(id) return store.channels[id] end, 10003 },
    { "guild", function(id) return store.guilds[id] end, 10004 },
    { "message", function(id, p) return store:message(p.channel.id, id) end, 10008 },
    { "member", function(id, p) return p.guild.members[id] end, 10007 },
    { "role", function(id, p) return Store.byId(p.guild.roles, id) end, 10011 },
  }
  local function route(method, template, handler)
    self.rest:route(method, template, function(req, params, body)
      local p = {}
      for _, look in ipairs(LOOKUP) do
        local name, find = look[1], look[2]
        p[name] = params[name] and find(params[name], p)
        if params[name] and not p[name] then return 404, { code = look[3], message = "Unknown " .. name } end
      end
      return handler(p, body or {}, req)
    end)
  end
  local copy = Store.copyKeys

  route("GET", "/gateway/bot", function() return 200, self.gateway:botInfo() end)
  route("GET", "/users/:user", function(p) return 200, store:userJSON(p.user) end)
  route("POST", "/users/@me/channels", function(_, body)
    for _, ch in pairs(store.channels) do
      if ch.type == 1 and ch.recipients[1] == body.recipient_id then return 200, store:channelJSON(ch) end
    end
    return 200, store:channelJSON(store:addChannel(nil, { type = 1, recipients = { body.recipient_id } }))
  end)
  route("GET", "/guilds/:guild/channels", function(p)
    local out = json.array({})
    for _, id in ipairs(p.guild.channels) do out[#out + 1] = store:channelJSON(store.channels[id]) end
    return 200, out
  end)

  route("POST", "/channels/:channel/messages", function(p, body, req)
    local ref = body.message_reference
    local target = type(ref) == "table" and store:message(ref.channel_id or p.channel.id, ref.message_id)
    if type(ref) == "table" and not target then return 400, { code = 50035, message = "Unknown message" } end
    local msg = store:addMessage(p.channel, self.bot, {
      content = body.content, embeds = body.embeds, flags = body.flags, type = target and 19 or 0,
      components = body.components, attachments = store:attachmentsFor(body.attachments, req.files), poll = body.poll,
      message_reference = target and { message_id = target.id, channel_id = target.channel_id,
        guild_id = p.channel.guild_id, type = 0 },
    })
    local d = store:messageJSON(msg)
    self:_echo("MESSAGE_CREATE", p.channel, d)
    return 200, d
  end)
  route("PATCH", "/channels/:channel/messages/:message", function(p, body)
    copy(body, p.message, { "content", "embeds", "flags", "components" })
    p.message.edited_timestamp = Store.iso(runtime.time())
    local d = store:messageJSON(p.message)
    self:_echo("MESSAGE_UPDATE", p.channel, d)
    return 200, d
  end)
  route("DELETE", "/channels/:channel/messages/:message", function(p)
    local _, i = store:message(p.channel.id, p.message.id)
    table.remove(store.messages[p.channel.id], i)
    self:_echo("MESSAGE_DELETE", p.channel, { id = p.message.id, channel_id = p.channel.id,
      guild_id = p.channel.guild_id })
    return 204
  end)

  route("PATCH", "/guilds/:guild/members/:member", function(p, body)
    copy(body, p.member, { "nick", "roles", "communication_disabled_until" })
    return 200, self:memberUpdate(p.guild, p.member)
  end)
  for _, method in ipairs({ "PUT", "DELETE" }) do
    route(method, "/guilds/:guild/members/:member/roles/:role", function(p)
      local roles = p.member.roles
      local i = Store.has(roles, p.role.id)
      if (method == "PUT") == (i ~= nil) then return 204 end
      if i then table.remove(roles, i) else roles[#roles + 1] = p.role.id end
      self:memberUpdate(p.guild, p.member)
      return 204
    end)
  end

  route("POST", "/guilds/:guild/roles", function(p, body)
    local r = store:addRole(p.guild, { name = body.name, color = body.color, permissions = body.permissions,
      position = 1, colors = body.colors })
    self:_echo("GUILD_ROLE_CREATE", nil, { guild_id = p.guild.id, role = store:roleJSON(r) }, GUILDS)
    return 200, store:roleJSON(r)
  end)
  route("PATCH", "/guilds/:guild/roles/:role", function(p, body)
    copy(body, p.role, { "name", "color", "colors", "hoist", "permissions", "mentionable" })
    if body.color and not body.colors then p.role.colors.primary_color = body.color end
    self:_echo("GUILD_ROLE_UPDATE", nil, { guild_id = p.guild.id, role = store:roleJSON(p.role) }, GUILDS)
    return 200, store:roleJSON(p.role)
  end)
  route("DELETE", "/guilds/:guild/roles/:role", function(p)
    local _, i = Store.byId(p.guild.roles, p.role.id)
    table.remove(p.guild.roles, i)
    self:_echo("GUILD_ROLE_DELETE", nil, { guild_id = p.guild.id, role_id = p.role.id }, GUILDS)
    return 204
  end)
  require("fake.discord.social").install(self, route)
  require("fake.discord.moderation").install(self, route)
end

function M.reset()
  runtime.reset()
  http.reset()
  return M.new()
end

--- Runs fn in a task, lets what it causes arrive (`ms`, default 5000) and returns what fn returned.
function M.act(fn, ms)
  local out
  runtime.run(function() out = table.pack(fn()) end, { ["for"] = ms or 5000 })
  return table.unpack(out, 1, out.n)
end

--- M.login, recording in seen[name] the packed arguments of each event named in `events`.
function M.session(options, events, setup)
  local seen = {}
  local fd, client = M.login(options, function(f, c)
    for _, name in ipairs(events or {}) do
      seen[name] = {}
      c:on(name, function(...) table.insert(seen[name], table.pack(...)) end)
    end
    if setup then setup(f, c) end
  end)
  return fd, client, seen
end

function M.stop(client)
  if client then client:destroy() end
  runtime.run(nil, { ["for"] = 1000 })
end

--- Runs fn in a task, which must raise; returns the error.
function M.raised(fn, ms)
  local ok, err = M.act(function() return pcall(fn) end, ms)
  assert(not ok, "call did not fail")
  return err
end

--- Fresh fakes (`setup(fd)` first) and the bot script at `path` run as `tarn run` would, until it is ready.
function M.script(path, setup)
  local fd, client = M.reset(), nil
  if setup then setup(fd) end
  runtime.env.DISCORD_TOKEN = fd.token
  runtime.run(function() client = dofile(path) end, { ["for"] = 30000 })
  assert(client:isReady(), path .. " is not ready")
  return fd, client
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
