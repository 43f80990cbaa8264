-- Application command routes of the fake Discord: global and guild commands, bulk overwrite and
-- permissions, checked as Discord checks them. Commands are kept in `server.commands[scope]`, where the
-- scope is "global" or a guild ID; permission PUTs need `server.bearer` as a Bearer token.
local json = require("json")
local Forms = require("fake.discord.forms")

local Commands = {}

-- Per scope: 100 chat-input, 5 user and 5 message commands.
local LIMITS = { [1] = 100, [2] = 5, [3] = 5, [4] = 1 }

local function copy(v)
  if type(v) ~= "table" or v == json.null then return v end
  local out = {}
  for k, x in pairs(v) do out[k] = copy(x) end
  if json.is_array(v) then json.array(out) end
  return out
end

-- The command as Discord answers: every field present, defaults filled in.
local function answer(cmd, localized)
  local out = copy(cmd)
  if not localized then out.name_localizations, out.description_localizations = nil, nil end
  if out.options == nil or #out.options == 0 then out.options = nil end
  return out
end

local function fill(server, scope, data, existing)
  local guild = scope ~= "global"
  local cmd = {
    id = existing and existing.id or server.store:id(),
    application_id = server.bot.id,
    version = server.store:id(),
    type = data.type or 1,
    name = data.name,
    description = data.description or "",
    name_localizations = data.name_localizations or json.null,
    description_localizations = data.description_localizations or json.null,
    options = json.array(copy(data.options or {})),
    default_member_permissions = data.default_member_permissions or json.null,
    nsfw = data.nsfw or false,
    contexts = data.contexts or json.null,
    integration_types = data.integration_types or json.array({ 0 }),
    guild_id = guild and scope or nil,
    dm_permission = (not guild) and (data.dm_permission ~= false) or nil,
  }
  return cmd
end

local function find(list, id)
  for i, c in ipairs(list) do
    if c.id == id then return c, i end
  end
  return nil
end

function Commands.mount(server)
  server.commands = { global = {} }
  local rest = server.rest

  -- Before the command routes, so that "permissions" is not read as a command ID.
  server.command_permissions = {}
  local perms = server.command_permissions
  local function permissionsOf(guild, id)
    perms[guild] = perms[guild] or {}
    return perms[guild][id]
  end
  rest:route("GET", "/applications/:app/guilds/:guild/commands/permissions", function(_, params)
    local out = json.array({})
    for id, list in pairs(perms[params.guild] or {}) do
      out[#out + 1] = { id = id, application_id = params.app, guild_id = params.guild, permissions = list }
    end
    return 200, out
  end)
  rest:route("GET", "/applications/:app/guilds/:guild/commands/:cmd/permissions", function(_, params)
    local list = permissionsOf(params.guild, params.cmd)
    if not list then return 404, { code = 10066, message = "Unknown application command permissions" } end
    return 200, { id = params.cmd, application_id = params.app, guild_id = params.guild, permissions = list }
  end)
  rest:route("PUT", "/applications/:app/guilds/:guild/commands/:cmd/permissions", function(req, params, body)
    if req.headers.authorization ~= "Bearer " .. tostring(server.bearer) then
      return 401, { code = 50001, message = "Missing Access" }
    end
    local list = body and body.permissions
    if type(list) ~= "table" or #list > 100 then
      return 400, Forms.invalid({ "permissions" }, "BASE_TYPE_MAX_LENGTH", "Must be 100 or fewer in length.")
    end
    perms[params.guild] = perms[params.guild] or {}
    perms[params.guild][params.cmd] = json.array(copy(list))
    local d = { id = params.cmd, application_id = params.app, guild_id = params.guild, permissions = list }
    if server.gateway:session() then server.gateway:dispatch("APPLICATION_COMMAND_PERMISSIONS_UPDATE", d) end
    return 200, d
  end)

  local function scopeOf(params)
    if params.app ~= server.bot.id then return nil, 404, { code = 10002, message = "Unknown Application" } end
    if params.guild then
      if not server.store.guilds[params.guild] then return nil, 404, { code = 10004, message = "Unknown Guild" } end
      server.commands[params.guild] = server.commands[params.guild] or {}
      return params.guild
    end
    return "global"
  end

  local function on(method, suffix, handler)
    for _, prefix in ipairs({ "/applications/:app", "/applications/:app/guilds/:guild" }) do
      rest:route(method, prefix .. suffix, function(req, params, body)
        local scope, status, err = scopeOf(params)
        if not scope then return status, err end
        return handler(scope, server.commands[scope], params, body or {}, req)
      end)
    end
  end

  local function count(list, t)
    local n = 0
    for _, c in ipairs(list) do
      if c.type == t then n = n + 1 end
    end
    return n
  end

  on("GET", "/commands", function(_, list, _, _, req)
    local out = json.array({})
    local localized = req.query and req.query.with_localizations == "true"
    for i, c in ipairs(list) do out[i] = answer(c, localized) end
    return 200, out
  end)
  on("GET", "/commands/:cmd", function(_, list, params)
    local c = find(list, params.cmd)
    if not c then return 404, { code = 10063, message = "Unknown application command" } end
    return 200, answer(c, true)
  end)
  -- A POST with the name and type of an existing command replaces it.
  on("POST", "/commands", function(scope, list, _, body)
    local err = Forms.command(body)
    if err then return 400, err end
    for i, c in ipairs(list) do
      if c.name == body.name and c.type == (body.type or 1) then
        list[i] = fill(server, scope, body, c)
        return 200, answer(list[i], true)
      end
    end
    if count(list, body.type or 1) >= LIMITS[body.type or 1] then
      return 400, { code = 30032, message = "Maximum number of application commands reached" }
    end
    local cmd = fill(server, scope, body)
    list[#list + 1] = cmd
    return 201, answer(cmd, true)
  end)
  on("PATCH", "/commands/:cmd", function(scope, list, params, body)
    local c, i = find(list, params.cmd)
    if not c then return 404, { code = 10063, message = "Unknown application command" } end
    local merged = copy(c)
    for k, v in pairs(body) do merged[k] = v end
    local err = Forms.command(merged)
    if err then return 400, err end
    for _, other in ipairs(list) do
      if other ~= c and other.name == merged.name and other.type == merged.type then
        return 400, { code = 40041, message = "An application command with that name already exists" }
      end
    end
    list[i] = fill(server, scope, merged, c)
    return 200, answer(list[i], true)
  end)
  on("DELETE", "/commands/:cmd", function(_, list, params)
    local c, i = find(list, params.cmd)
    if not c then return 404, { code = 10063, message = "Unknown application command" } end
    table.remove(list, i)
    return 204
  end)
  -- Bulk overwrite: all or nothing; commands keep their IDs by name and type.
  on("PUT", "/commands", function(scope, list, _, body)
    local out, seen = {}, {}
    for i, data in ipairs(body) do
      local err = Forms.command(data, { i - 1 })
      if err then return 400, err end
      local key = (data.type or 1) .. ":" .. data.name
      if seen[key] then
        return 400, { code = 40041, message = "An application command with that name already exists" }
      end
      seen[key] = true
      local old
      for _, c in ipairs(list) do
        if c.name == data.name and c.type == (data.type or 1) then old = c end
      end
      out[i] = fill(server, scope, data, old)
    end
    server.commands[scope] = out
    local res = json.array({})
    for i, c in ipairs(out) do res[i] = answer(c, true) end
    return 200, res
  end)

end

return Commands
