-- Command routes of the fake Discord: `server.commands[scope]` ("global" or a guild ID); permission
-- PUTs need `server.bearer`.
local json = require("json")

local Commands = {}

-- Stored commands share nothing with what the library sent or is sent.
local function copy(v) return json.decode(json.encode(v)) end

-- The command as Discord answers it: defaults filled in.
local function fill(server, scope, data, existing)
  local guild = scope ~= "global"
  return {
    id = existing and existing.id or server.store:id(), application_id = server.bot.id, version = server.store:id(),
    type = data.type or 1, name = data.name, description = data.description or "",
    name_localizations = data.name_localizations or json.null,
    description_localizations = data.description_localizations or json.null,
    options = json.array(copy(data.options or {})), nsfw = data.nsfw or false,
    default_member_permissions = data.default_member_permissions or json.null,
    contexts = data.contexts or json.null, integration_types = data.integration_types or json.array({ 0 }),
    guild_id = guild and scope or nil, dm_permission = (not guild) and (data.dm_permission ~= false) or nil,
  }
end

local UNKNOWN = { code = 10063, message = "Unknown application command" }
local TAKEN = { code = 40041, message = "An application command with that name already exists" }

local function find(list, id, name, t)
  for i, c in ipairs(list) do if c.id == id or (name and c.name == name and c.type == (t or 1)) then return c, i end end
end

function Commands.mount(server)
  server.commands = { global = {} }
  local rest, perms = server.rest, {}

  -- Before the command routes, so that "permissions" is not read as a command ID.
  local base = "/applications/:app/guilds/:guild/commands/:cmd/permissions"
  rest:route("GET", base, function(_, p)
    local list = perms[p.guild .. ":" .. p.cmd]
    if not list then return 404, { code = 10066, message = "Unknown application command permissions" } end
    return 200, { id = p.cmd, application_id = p.app, guild_id = p.guild, permissions = list }
  end)
  rest:route("PUT", base, function(req, p, body)
    if req.headers.authorization ~= "Bearer " .. tostring(server.bearer) then
      return 401, { code = 50001, message = "Missing Access" }
    end
    local list = body and body.permissions
    if type(list) ~= "table" or list == json.null then
      return 400, { code = 50035, message = "Invalid Form Body" }
    end
    perms[p.guild .. ":" .. p.cmd] = json.array(copy(list))
    local d = { id = p.cmd, application_id = p.app, guild_id = p.guild, permissions = list }
    if server.gateway:session() then server.gateway:dispatch("APPLICATION_COMMAND_PERMISSIONS_UPDATE", d) end
    return 200, d
  end)

  local function on(method, suffix, handler)
    for _, prefix in ipairs({ "/applications/:app", "/applications/:app/guilds/:guild" }) do
      rest:route(method, prefix .. suffix, function(_, params, body)
        if params.app ~= server.bot.id then return 404, { code = 10002, message = "Unknown Application" } end
        local scope = params.guild or "global"
        server.commands[scope] = server.commands[scope] or {}
        return handler(scope, server.commands[scope], params, body or {})
      end)
    end
  end

  on("GET", "/commands", function(_, list) return 200, json.array(copy(list)) end)
  -- A POST with the name and type of an existing command replaces it.
  on("POST", "/commands", function(scope, list, _, body)
    local old, i = find(list, nil, body.name, body.type)
    local cmd = fill(server, scope, body, old)
    list[i or #list + 1] = cmd
    return old and 200 or 201, copy(cmd)
  end)
  on("PATCH", "/commands/:cmd", function(scope, list, p, body)
    local c, i = find(list, p.cmd)
    if not c then return 404, UNKNOWN end
    local merged = copy(c)
    for k, v in pairs(body) do merged[k] = v end
    local other = find(list, nil, merged.name, merged.type)
    if other and other ~= c then return 400, TAKEN end
    list[i] = fill(server, scope, merged, c)
    return 200, copy(list[i])
  end)
  on("DELETE", "/commands/:cmd", function(_, list, p)
    local _, i = find(list, p.cmd)
    if not i then return 404, UNKNOWN end
    table.remove(list, i)
    return 204
  end)
  -- Bulk overwrite: all or nothing; commands keep their IDs by name and type.
  on("PUT", "/commands", function(scope, list, _, body)
    local out = {}
    for i, data in ipairs(body) do
      if find(out, nil, data.name, data.type) then return 400, TAKEN end
      out[i] = fill(server, scope, data, (find(list, nil, data.name, data.type)))
    end
    server.commands[scope] = out
    return 200, json.array(copy(out))
  end)
end

return Commands
