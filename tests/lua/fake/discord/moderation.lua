-- Moderation in the fake Discord: automod rules, bans and the audit log, where each write adds an entry
-- with its X-Audit-Log-Reason.
local json = require("json")
local Store = require("fake.discord.store")

local M = {}

local GUILD_MODERATION = 1 << 2

-- Collections of plain API objects kept per guild, with their gateway events.
local KINDS = {
  ["auto-moderation/rules"] = { event = "AUTO_MODERATION_RULE", action = 140, intent = 1 << 20 },
}

function M.install(server, route)
  local store = server.store
  server.audit, server.extra = {}, {}
  local function audit(p, req, action, target, changes)
    local reason = req.headers["x-audit-log-reason"]
    local entry = { id = store:id(), guild_id = p.guild.id, action_type = action, target_id = target,
      user_id = server.bot.id, reason = reason and Store.unescape(reason) or nil, changes = changes }
    table.insert(server.audit, 1, entry)
    server:_echo("GUILD_AUDIT_LOG_ENTRY_CREATE", nil, entry, GUILD_MODERATION)
  end
  local function list(p, kind)
    local extra = server.extra[p.guild.id] or {}
    server.extra[p.guild.id] = extra
    extra[kind] = extra[kind] or {}
    return extra[kind]
  end
  local function find(items, id)
    for i, o in ipairs(items) do
      if o.id == id then return o, i end
    end
  end

  for kind, k in pairs(KINDS) do
    local base = "/guilds/:guild/" .. kind
    local function echo(suffix, obj)
      if k.event then server:_echo(k.event .. suffix, nil, obj, k.intent) end
    end
    route("POST", base, function(p, body, req)
      local obj = Store.copy(body)
      obj.id, obj.guild_id = store:id(), p.guild.id
      obj.creator_id = server.bot.id
      table.insert(list(p, kind), obj)
      audit(p, req, k.action, obj.id)
      echo("_CREATE", obj)
      return 200, obj
    end)
    route("PATCH", base .. "/:id", function(p, body, req)
      local obj = find(list(p, kind), req.path:match("(%d+)$"))
      if not obj then return 404, { code = 10000, message = "Unknown object" } end
      for key, v in pairs(body) do obj[key] = v end
      audit(p, req, k.action + 1, obj.id)
      echo("_UPDATE", obj)
      return 200, obj
    end)
    route("DELETE", base .. "/:id", function(p, _, req)
      local items = list(p, kind)
      local obj, i = find(items, req.path:match("(%d+)$"))
      if not obj then return 404, { code = 10000, message = "Unknown object" } end
      table.remove(items, i)
      audit(p, req, k.action + 2, obj.id)
      echo("_DELETE", obj)
      return 204
    end)
  end

  route("PUT", "/guilds/:guild/bans/:user", function(p, body, req)
    local bans, reason = list(p, "bans"), req.headers["x-audit-log-reason"]
    if not find(bans, p.user.id) then
      bans[#bans + 1] = { id = p.user.id, user = p.user, reason = reason and Store.unescape(reason) or json.null }
    end
    if p.guild.members[p.user.id] then
      p.guild.members[p.user.id] = nil
      server:_echo("GUILD_MEMBER_REMOVE", nil, { guild_id = p.guild.id, user = p.user }, 1 << 1)
    end
    audit(p, req, 22, p.user.id, body.delete_message_seconds and
      { { key = "delete_message_seconds", new_value = body.delete_message_seconds } } or nil)
    server:_echo("GUILD_BAN_ADD", nil, { guild_id = p.guild.id, user = p.user }, GUILD_MODERATION)
    return 204
  end)
  route("GET", "/guilds/:guild/bans/:user", function(p)
    local ban = find(list(p, "bans"), p.user.id)
    if not ban then return 404, { code = 10026, message = "Unknown Ban" } end
    return 200, { user = ban.user, reason = ban.reason }
  end)
  route("GET", "/guilds/:guild/audit-logs", function(p, _, req)
    local out, wanted = {}, tonumber(req.query.action_type)
    for _, e in ipairs(server.audit) do
      if e.guild_id == p.guild.id and (not wanted or e.action_type == wanted) then out[#out + 1] = e end
    end
    return 200, { audit_log_entries = json.array(out), users = json.array({ store:userJSON(server.bot) }) }
  end)
end

return M
