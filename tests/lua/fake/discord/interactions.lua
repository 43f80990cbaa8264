-- Interactions in the fake Discord: INTERACTION_CREATE and the token's routes; a broken rule gets
-- Discord's answer and a note in `violations`.
local runtime = require("runtime")
local json = require("json")

local I = {}
I.__index = I

local EPHEMERAL, LOADING, ALL = 64, 128, "1071698665025"
-- Callback types per interaction type; 6 and 7 answer a modal only when it came from a message.
local ALLOWED = { [2] = " 4 5 9 10 12 ", [3] = " 4 5 6 7 9 10 12 ", [4] = " 8 ", [5] = " 4 5 6 7 " }

function I.new(server)
  return setmetatable({ server = server, store = server.store, byId = {}, byToken = {}, list = {}, violations = {} }, I)
end

local function bad(status, code, message, field)
  return status, { code = code, message = message, errors = field and { [field] = { _errors = { {} } } } }
end

--- Sends INTERACTION_CREATE (`message`: the component's or modal's); returns its record.
function I:deliver(kind, user, channel, data, message)
  local store, id = self.store, self.store:id()
  local d = { id = id, application_id = self.server.bot.id, type = kind, data = data, token = "tok-" .. id,
    version = 1, channel_id = channel.id, channel = { id = channel.id, type = channel.type, name = channel.name },
    app_permissions = ALL, locale = "en-US", message = message and store:messageJSON(message) }
  local guild = store.guilds[channel.guild_id]
  d.guild_id, d.member = guild.id, store:memberJSON(guild.members[user.id])
  d.member.permissions = ALL
  local it = { id = id, token = d.token, type = kind, channel = channel, user = user, message = message,
    created = runtime.now(), responses = {}, followups = {}, deleted = {} }
  self.byId[id], self.byToken[d.token] = it, it
  self.list[#self.list + 1] = it
  self.server.gateway:dispatch("INTERACTION_CREATE", d)
  return it
end

--- A slash command (or autocomplete) with the registered command's ID when there is one.
function I:command(user, channel, name, options, autocomplete)
  local id
  for _, scope in ipairs({ channel.guild_id or "", "global" }) do
    for _, c in ipairs((self.server.commands or {})[scope] or {}) do id = id or (c.name == name and c.id) end
  end
  return self:deliver(autocomplete and 4 or 2, user, channel, { id = id or self.store:id(), name = name, type = 1,
    options = options and json.array(options) })
end

function I:autocomplete(user, channel, name, options) return self:command(user, channel, name, options, true) end

--- A click on a button, or a choice of `values` in a select menu.
function I:click(user, message, customId, values)
  return self:deliver(3, user, self.store.channels[message.channel_id], { custom_id = customId,
    component_type = values and 3 or 2, values = values and json.array(values) }, message)
end

--- A modal submitted with `fields` (text input ID -> value).
function I:submit(user, channel, customId, fields, message)
  local ids, rows = {}, json.array({})
  for k in pairs(fields) do ids[#ids + 1] = k end
  table.sort(ids)
  for _, k in ipairs(ids) do
    rows[#rows + 1] = { type = 18, component = { type = 4, custom_id = k, value = fields[k] } }
  end
  return self:deliver(5, user, channel, { custom_id = customId, components = rows }, message)
end

local function len(s) return type(s) == "string" and (utf8.len(s) or #s) or 0 end

local function checkMessage(d, files, old)
  if d.flags ~= nil and (math.type(d.flags) ~= "integer" or d.flags & ~(4 | EPHEMERAL | 4096 | 32768) ~= 0) then
    return bad(400, 50035, "Invalid Form Body", "flags")
  end
  if not old and len(d.content) == 0 and not (d.embeds and #d.embeds > 0) and not (files and #files > 0)
      and not (d.components and #d.components > 0) and d.poll == nil then
    return bad(400, 50006, "Cannot send an empty message")
  end
end

local CHECKS = {
  [4] = function(d, req) return checkMessage(d or {}, req.files) end,
  [7] = function(d, req, it) return checkMessage(d or {}, req.files, it.message) end,
  -- The documentation allows a modal 5 components where the description allows 40.
  [9] = function(d) if #d.components > 5 then return bad(400, 50035, "Invalid Form Body", "data") end end,
  [8] = function(d)
    if d.choices == nil or d.choices == json.null then return bad(400, 50035, "Invalid Form Body", "choices") end
  end,
}

function I:_message(it, d, files, extraFlags)
  local msg = self.store:addMessage(it.channel, self.server.bot, { content = d.content, embeds = d.embeds,
    flags = (d.flags or 0) | (extraFlags or 0), components = d.components, poll = d.poll,
    attachments = self.store:attachmentsFor(d.attachments, files) })
  msg.interaction_metadata = { id = it.id, type = it.type, user = self.store:userJSON(it.user),
    authorizing_integration_owners = { ["0"] = it.channel.guild_id or "0" } }
  if msg.flags & EPHEMERAL == 0 then self.server:_echo("MESSAGE_CREATE", it.channel, self.store:messageJSON(msg)) end
  return msg
end

function I:_edit(it, msg, d, files)
  for _, k in ipairs({ "content", "embeds", "components" }) do if d[k] ~= nil then msg[k] = d[k] end end
  if d.attachments ~= nil then msg.attachments = self.store:attachmentsFor(d.attachments, files) end
  msg.flags = msg.flags & ~LOADING
  if msg.flags & EPHEMERAL == 0 then self.server:_echo("MESSAGE_UPDATE", it.channel, self.store:messageJSON(msg)) end
end

function I:_refuse(it, why, ...)
  self.violations[#self.violations + 1] = { at = runtime.now(), interaction = it.id, text = why }
  return ...
end

function I:_callback(req, params, body)
  local it, kind, d = self.byId[params.interaction], body.type, body.data
  if not it or it.token ~= params.token then return bad(404, 10062, "Unknown interaction") end
  if runtime.now() - it.created > 3000 then return self:_refuse(it, "late", bad(404, 10062, "Unknown interaction")) end
  if it.acked then
    return self:_refuse(it, "answered twice", bad(400, 40060, "Interaction has already been acknowledged."))
  end
  if not ALLOWED[it.type]:find(" " .. tostring(kind) .. " ", 1, true) or (it.type == 5 and kind >= 6
      and not it.message) then
    return self:_refuse(it, "type " .. tostring(kind) .. " for " .. it.type, bad(400, 50035, "Invalid Form Body",
      "type"))
  end
  local status, err = (CHECKS[kind] or function() end)(d, req, it)
  if status then return self:_refuse(it, "invalid data", status, err) end
  it.acked = kind
  it.responses[#it.responses + 1] = { type = kind, data = d, at = runtime.now() }
  if kind == 4 or kind == 5 then
    it.original = self:_message(it, kind == 4 and d or { flags = d and d.flags }, req.files, kind == 5 and LOADING)
  elseif kind == 6 or kind == 7 then
    it.original = it.message
    if kind == 7 then self:_edit(it, it.message, d or {}, req.files) end
  end
  it.choices = kind == 8 and d.choices or nil
  return 204
end

function I:mount()
  local rest, store = self.server.rest, self.store
  rest:route("POST", "/interactions/:interaction/:token/callback", function(req, params, body)
    return self:_callback(req, params, body or {})
  end)
  local function route(method, path, handler)
    rest:route(method, path, function(req, params, body)
      local it = self.byToken[params.token]
      if not it or params.app ~= self.server.bot.id then return bad(404, 10015, "Unknown Webhook") end
      if runtime.now() - it.created > 15 * 60000 then
        return self:_refuse(it, "expired token", bad(401, 50027, "Invalid Webhook Token"))
      end
      if not it.acked then return self:_refuse(it, "not answered", bad(404, 10015, "Unknown Webhook")) end
      local msg = params.which == "@original" and it.original or nil
      for _, m in ipairs(it.followups) do msg = msg or (m.id == params.which and m) or nil end
      if params.which and not msg then return bad(404, 10008, "Unknown Message") end
      return handler(it, msg, body or {}, req)
    end)
  end
  route("POST", "/webhooks/:app/:token", function(it, _, body, req)
    local status, err = checkMessage(body, req.files)
    if status then return status, err end
    local msg = self:_message(it, body, req.files)
    it.followups[#it.followups + 1] = msg
    return 200, store:messageJSON(msg)
  end)
  local one = "/webhooks/:app/:token/messages/:which"
  route("GET", one, function(_, msg) return 200, store:messageJSON(msg) end)
  route("PATCH", one, function(it, msg, body, req)
    local status, err = checkMessage(body, req.files, msg)
    if status then return status, err end
    self:_edit(it, msg, body, req.files)
    return 200, store:messageJSON(msg)
  end)
  route("DELETE", one, function(it, msg)
    local _, i = store:message(msg.channel_id, msg.id)
    if i then table.remove(store.messages[msg.channel_id], i) end
    it.deleted[#it.deleted + 1] = msg
    if msg == it.original then it.original = nil end
    return 204
  end)
end

return I
