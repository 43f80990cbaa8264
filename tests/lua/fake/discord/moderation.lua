-- Automod rules, bans and the audit log (each write's X-Audit-Log-Reason) in the fake Discord.
local json = require("json")
local Store = require("fake.discord.store")

local M = {}

local GUILD_MODERATION, AUTOMOD = 1 << 2, 1 << 20

function M.install(server, route)
  local store, audit, rules, bans = server.store, {}, {}, {}
  local function reason(req)
    local r = req.headers["x-audit-log-reason"]
    return r and Store.unescape(r)
  end
  local function log(p, req, action, target, changes)
    local entry = { id = store:id(), guild_id = p.guild.id, action_type = action, target_id = target,
      user_id = server.bot.id, reason = reason(req), changes = changes }
    table.insert(audit, 1, entry)
    server:_echo("GUILD_AUDIT_LOG_ENTRY_CREATE", nil, entry, GUILD_MODERATION)
  end

  local base = "/guilds/:guild/auto-moderation/rules"
  route("POST", base, function(p, body, req)
    local rule = Store.copy(body)
    rule.id, rule.guild_id, rule.creator_id = store:id(), p.guild.id, server.bot.id
    -- Discord fills what the rule leaves out.
    rule.enabled = body.enabled or false
    rule.exempt_roles = body.exempt_roles or json.array({})
    rule.exempt_channels = body.exempt_channels or json.array({})
    rule.trigger_metadata = Store.copy(body.trigger_metadata or {})
    if body.trigger_type == 1 then
      for _, k in ipairs({ "keyword_filter", "regex_patterns", "allow_list" }) do
        rule.trigger_metadata[k] = rule.trigger_metadata[k] or json.array({})
      end
    end
    rule.actions = json.array({})
    for i, a in ipairs(body.actions or {}) do rule.actions[i] = { type = a.type, metadata = a.metadata or {} } end
    rules[#rules + 1] = rule
    log(p, req, 140, rule.id)
    server:_echo("AUTO_MODERATION_RULE_CREATE", nil, rule, AUTOMOD)
    return 200, rule
  end)
  -- An edit or a removal: audit action, event and answer.
  for method, how in pairs({ PATCH = { 141, "UPDATE", 200 }, DELETE = { 142, "DELETE", 204 } }) do
    route(method, base .. "/:id", function(p, body, req)
      local rule, i = Store.byId(rules, req.path:match("(%d+)$"))
      if not rule then return 404, { code = 10000, message = "Unknown object" } end
      if method == "DELETE" then table.remove(rules, i) else for key, v in pairs(body) do rule[key] = v end end
      log(p, req, how[1], rule.id)
      server:_echo("AUTO_MODERATION_RULE_" .. how[2], nil, rule, AUTOMOD)
      return how[3], how[3] == 200 and rule or nil
    end)
  end

  route("PUT", "/guilds/:guild/bans/:user", function(p, body, req)
    if not Store.byId(bans, p.user.id) then
      bans[#bans + 1] = { id = p.user.id, user = p.user, reason = reason(req) or json.null }
    end
    if p.guild.members[p.user.id] then
      p.guild.members[p.user.id] = nil
      server:_echo("GUILD_MEMBER_REMOVE", nil, { guild_id = p.guild.id, user = p.user }, 1 << 1)
    end
    log(p, req, 22, p.user.id, body.delete_message_seconds and
      { { key = "delete_message_seconds", new_value = body.delete_message_seconds } } or nil)
    server:_echo("GUILD_BAN_ADD", nil, { guild_id = p.guild.id, user = p.user }, GUILD_MODERATION)
    return 204
  end)
  route("GET", "/guilds/:guild/bans/:user", function(p)
    local ban = Store.byId(bans, p.user.id)
    if not ban then return 404, { code = 10026, message = "Unknown Ban" } end
    return 200, { user = ban.user, reason = ban.reason }
  end)
  route("GET", "/guilds/:guild/audit-logs", function(p, _, req)
    local out, wanted = {}, tonumber(req.query.action_type)
    for _, e in ipairs(audit) do
      if e.guild_id == p.guild.id and (not wanted or e.action_type == wanted) then
        -- The gateway's entry names its guild; the log's entries do not.
        out[#out + 1] = Store.copy(e)
        out[#out].guild_id = nil
      end
    end
    return 200, require("fake.discord.openapi").sample("GuildAuditLogResponse", { audit_log_entries = json.array(out),
      users = json.array({ store:userJSON(server.bot) }) })
  end)
end

return M
