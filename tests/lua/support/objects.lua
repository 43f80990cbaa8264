-- A client whose REST calls go to scripted routes, and a small guild to fill its cache with. The
-- structure and manager tests build on it; the fake Discord serves the example bot instead.
local runtime = require("runtime")
local http = require("http")
local json = require("json")

local M = {}

M.BOT = "100000000000000001"
M.OWNER = "100000000000000002"
M.ALICE = "100000000000000003"
M.GUILD = "200000000000000000"
M.MOD_ROLE = "300000000000000001"
M.MUTED_ROLE = "300000000000000002"
M.ADMIN_ROLE = "300000000000000003"
M.CATEGORY = "400000000000000001"
M.GENERAL = "400000000000000002"
M.VOICE = "400000000000000003"

local function user(id, name, bot)
  return { id = id, username = name, discriminator = "0", global_name = json.null, avatar = json.null, bot = bot }
end
M.user = user

local function member(u, roles)
  return { user = u, roles = json.array(roles or {}), joined_at = "2025-01-02T03:04:05.000000+00:00",
    nick = json.null, deaf = false, mute = false }
end
M.member = member

--- GUILD_CREATE data: @everyone, three roles, a category with a text channel, a voice channel and
--- three members (the bot with the moderator role, the owner and Alice).
function M.guildData()
  local P = require("discord.bitfield").PermissionFlags
  local everyone = P.ViewChannel | P.SendMessages | P.ReadMessageHistory
  return {
    id = M.GUILD, name = "Lua Bot Club", owner_id = M.OWNER, icon = "abc", member_count = 3,
    features = json.array({}),
    roles = json.array({
      { id = M.GUILD, name = "@everyone", permissions = tostring(everyone), position = 0, color = 0 },
      { id = M.MOD_ROLE, name = "Moderator", position = 2, color = 0x3498db, hoist = true,
        permissions = tostring(P.ManageRoles | P.KickMembers | P.ManageMessages) },
      { id = M.MUTED_ROLE, name = "Muted", position = 1, color = 0, permissions = "0" },
      { id = M.ADMIN_ROLE, name = "Admin", position = 3, color = 0xe74c3c, permissions = tostring(P.Administrator) },
    }),
    channels = json.array({
      { id = M.CATEGORY, type = 4, name = "Text", position = 0, permission_overwrites = json.array({}) },
      { id = M.GENERAL, type = 0, name = "general", position = 0, parent_id = M.CATEGORY, topic = "hi",
        permission_overwrites = json.array({
          { id = M.MUTED_ROLE, type = 0, allow = "0", deny = tostring(P.SendMessages) },
        }) },
      { id = M.VOICE, type = 2, name = "Voice", position = 1, parent_id = M.CATEGORY,
        permission_overwrites = json.array({}) },
    }),
    members = json.array({
      member(user(M.BOT, "bot", true), { M.MOD_ROLE }),
      member(user(M.OWNER, "owner")),
      member(user(M.ALICE, "alice"), { M.MUTED_ROLE }),
    }),
  }
end

--- A fresh client logged in as the bot, with the guild cached when `withGuild` is not false. Returns
--- the client and `api`: `api.on(method, path, fn)` scripts a route (fn(req, body) -> status, body);
--- `api.calls` lists {method=, path=, body=, query=, reason=} of every request.
function M.client(withGuild)
  runtime.reset()
  http.reset()
  local Client = require("discord.client").Client
  local ClientUser = require("discord.structures.clientuser").ClientUser
  local client = Client({ intents = { "Guilds" } })
  client.rest:setToken("test-token")
  client.user = ClientUser(client, user(M.BOT, "bot", true))
  client.users.cache:set(M.BOT, client.user)
  local api = { calls = {}, routes = {} }
  function api.on(method, path, fn)
    api.routes[method .. " " .. path] = fn
  end
  http.mount("https://discord.com/api", function(req)
    local path = req.path:gsub("^/api/v%d+", "")
    local body = req.body and req.body ~= "" and json.decode(req.body) or nil
    local reason = req.headers["x-audit-log-reason"]
    api.calls[#api.calls + 1] = { method = req.method, path = path, body = body, query = req.query, reason = reason }
    local fn = api.routes[req.method .. " " .. path]
    local status, out = 204, nil
    if fn then status, out = fn(req, body) end
    if status == nil then status = out and 200 or 204 end
    return { status = status, headers = { ["content-type"] = "application/json" },
      body = out ~= nil and json.encode(out) or "" }
  end)
  if withGuild ~= false then client.guilds:_add(M.guildData()) end
  return client, api
end

--- Runs fn in a task on the virtual clock; raises what fn raised.
function M.run(fn)
  local res
  runtime.run(function() res = table.pack(pcall(fn)) end)
  if not res[1] then error(res[2], 0) end
  return table.unpack(res, 2, res.n)
end

--- The error fn raises, as text.
function M.failure(fn, ...)
  local ok, err = pcall(fn, ...)
  assert(not ok, "expected an error")
  return tostring(err)
end

return M
