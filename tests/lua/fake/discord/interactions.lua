-- Interactions in the fake Discord: INTERACTION_CREATE delivery, the callback route and the webhook
-- routes of the token, under Discord's rules. A broken rule gets Discord's answer and a note in
-- `violations`: a first response after 3 s or a second one, a callback type the interaction does not
-- allow, an invalid message, modal or choice list, a token used after 15 minutes or before any response.
local runtime = require("runtime")
local json = require("json")
local Forms = require("fake.discord.forms")

local I = {}
I.__index = I

local EPHEMERAL, LOADING, ALL = 64, 128, "1071698665025"
-- Callback types allowed per interaction type; 6 and 7 after a modal only when it came from a message.
local ALLOWED = { [2] = "4 5 9 10 12", [3] = "4 5 6 7 9 10 12", [4] = "8", [5] = "4 5 6 7" }

function I.new(server)
  return setmetatable({ server = server, store = server.store, byId = {}, byToken = {}, list = {},
    violations = {} }, I)
end

local function bad(status, code, message, errors)
  return status, { code = code, message = message, errors = errors }
end

local function formError(path)
  return bad(400, 50035, "Invalid Form Body", { [path] = { _errors = { { code = "INVALID" } } } })
end

--- Sends INTERACTION_CREATE of type `kind` with `data`; `message` (stored) marks a component, or a modal
--- opened from it. Returns the record the fake keeps: responses, original, followups, modal, choices.
function I:deliver(kind, user, channel, data, message)
  local store, id = self.store, self.store:id()
  local d = { id = id, application_id = self.server.bot.id, type = kind, data = data, token = "tok-" .. id,
    version = 1, channel_id = channel.id, channel = { id = channel.id, type = channel.type, name = channel.name },
    app_permissions = ALL, locale = "en-US", entitlements = json.array({}) }
  local guild = channel.guild_id and store.guilds[channel.guild_id]
  if guild then
    d.guild_id, d.member = guild.id, store:memberJSON(guild.members[user.id])
    d.member.permissions = ALL
  else
    d.user = store:userJSON(user)
  end
  if message then d.message = store:messageJSON(message) end
  local it = { id = id, token = d.token, type = kind, channel = channel, user = user, message = message,
    created = runtime.now(),
    responses = {}, followups = {}, deleted = {} }
  self.byId[id], self.byToken[d.token] = it, it
  self.list[#self.list + 1] = it
  self.server.gateway:dispatch("INTERACTION_CREATE", d)
  return it
end

-- The registered command's ID (guild scope first), or a new one.
function I:_commandId(name, channel)
  for _, scope in ipairs({ channel.guild_id or "", "global" }) do
    for _, c in ipairs((self.server.commands or {})[scope] or {}) do
      if c.name == name then return c.id end
    end
  end
  return self.store:id()
end

--- A slash command (autocomplete with `autocomplete`): `options` in the API's shape, without `resolved`.
function I:command(user, channel, name, options, autocomplete)
  return self:deliver(autocomplete and 4 or 2, user, channel, { id = self:_commandId(name, channel), name = name,
    type = 1, options = options and json.array(options) })
end

function I:autocomplete(user, channel, name, options) return self:command(user, channel, name, options, true) end

function I:click(user, message, customId)
  return self:deliver(3, user, self.store.channels[message.channel_id], { custom_id = customId,
    component_type = 2 }, message)
end

--- A choice in the string select `customId`.
function I:select(user, message, customId, values)
  return self:deliver(3, user, self.store.channels[message.channel_id], { custom_id = customId, component_type = 3,
    values = json.array(values) }, message)
end

--- A modal submitted with `fields` (text input ID -> value), in labels sorted by ID.
function I:submit(user, channel, customId, fields, message)
  local ids, rows = {}, json.array({})
  for k in pairs(fields) do ids[#ids + 1] = k end
  table.sort(ids)
  for _, k in ipairs(ids) do
    rows[#rows + 1] = { type = 18, component = { type = 4, custom_id = k, value = fields[k] } }
  end
  return self:deliver(5, user, channel, { custom_id = customId, components = rows }, message)
end

-- Checks --------------------------------------------------------------------------------------------

local function len(s) return type(s) == "string" and (utf8.len(s) or #s) or 0 end

-- A message as the callback or a webhook takes it; `old` is the message an edit changes.
local function checkMessage(d, files, old)
  if type(d) ~= "table" then return formError("data") end
  if len(d.content) > 2000 then return formError("content") end
  if d.flags ~= nil and (math.type(d.flags) ~= "integer" or d.flags & ~(4 | EPHEMERAL | 4096 | 32768) ~= 0) then
    return formError("flags")
  end
  local empty = len(d.content) == 0 and not (d.embeds and #d.embeds > 0) and not (d.components and #d.components > 0)
    and not (files and #files > 0) and d.poll == nil and (d.flags or 0) & 32768 == 0
  if empty and not old then return bad(400, 50006, "Cannot send an empty message") end
  local invalid = Forms.messageComponents(d, old)
  if invalid then return 400, invalid end
  return nil
end

local function checkModal(d)
  if type(d) ~= "table" or len(d.custom_id) < 1 or len(d.custom_id) > 100 then return formError("custom_id") end
  if len(d.title) < 1 or len(d.title) > 45 then return formError("title") end
  if type(d.components) ~= "table" or #d.components < 1 or #d.components > 5 then return formError("components") end
  return nil
end

local function checkChoices(d)
  local list = type(d) == "table" and d.choices
  if type(list) ~= "table" or #list > 25 then return formError("choices") end
  for _, c in ipairs(list) do
    if len(c.name) < 1 or len(c.name) > 100 or c.value == nil then return formError("choices") end
  end
  return nil
end

-- Messages ------------------------------------------------------------------------------------------

function I:_message(it, d, files, extraFlags)
  local msg = self.store:addMessage(it.channel, self.server.bot, { content = d.content, embeds = d.embeds,
    flags = (d.flags or 0) | (extraFlags or 0), components = d.components, poll = d.poll,
    attachments = self.store:attachmentsFor(d.attachments, files) })
  msg.interaction_metadata = { id = it.id, type = it.type, user = self.store:userJSON(it.user) }
  if msg.flags & EPHEMERAL == 0 then self.server:_echo("MESSAGE_CREATE", it.channel, self.store:messageJSON(msg)) end
  return msg
end

function I:_edit(it, msg, d, files)
  for _, k in ipairs({ "content", "embeds", "components" }) do
    if d[k] ~= nil then msg[k] = d[k] end
  end
  if d.attachments ~= nil then msg.attachments = self.store:attachmentsFor(d.attachments, files, msg.attachments) end
  msg.flags = msg.flags & ~LOADING
  if msg.flags & EPHEMERAL == 0 then self.server:_echo("MESSAGE_UPDATE", it.channel, self.store:messageJSON(msg)) end
end

-- Routes --------------------------------------------------------------------------------------------

function I:_callback(req, params, body)
  local it, now, kind = self.byId[params.interaction], runtime.now(), body.type
  local function refuse(why, ...)
    self.violations[#self.violations + 1] = { at = now, interaction = it and it.id, text = why }
    return ...
  end
  if not it or it.token ~= params.token then return bad(404, 10062, "Unknown interaction") end
  if now - it.created > 3000 then return refuse("late", bad(404, 10062, "Unknown interaction")) end
  if it.acked then return refuse("second response", bad(400, 40060, "Interaction has already been acknowledged.")) end
  local okType = (" " .. ALLOWED[it.type] .. " "):find(" " .. tostring(kind) .. " ", 1, true)
  if not okType or ((kind == 6 or kind == 7) and it.type == 5 and not it.message) then
    return refuse("callback type " .. tostring(kind) .. " for type " .. it.type, formError("type"))
  end
  local d = body.data
  local status, err
  if kind == 4 or kind == 7 then
    status, err = checkMessage(d or {}, req.files, kind == 7 and it.message or nil)
  elseif kind == 9 then
    status, err = checkModal(d)
  elseif kind == 8 then
    status, err = checkChoices(d)
  end
  if status then return refuse("invalid data", status, err) end
  it.acked = kind
  it.responses[#it.responses + 1] = { type = kind, data = d, at = now }
  if kind == 4 or kind == 5 then
    it.original = self:_message(it, kind == 4 and d or { flags = d and d.flags }, req.files, kind == 5 and LOADING)
  elseif kind == 6 or kind == 7 then
    it.original = it.message
    if kind == 7 then self:_edit(it, it.message, d or {}, req.files) end
  end
  it.modal = kind == 9 and d or nil
  it.choices = kind == 8 and d.choices or nil
  if req.query.with_response ~= "true" then return 204 end
  return 200, { interaction = { id = it.id, type = it.type, response_message_id = it.original and it.original.id },
    resource = { type = kind, message = it.original and self.store:messageJSON(it.original) } }
end

function I:mount()
  local rest, store = self.server.rest, self.store
  rest:route("POST", "/interactions/:interaction/:token/callback", function(req, params, body)
    return self:_callback(req, params, body or {})
  end)
  -- Webhook routes: the token must be known, younger than 15 minutes and already answered.
  local function route(method, path, handler)
    rest:route(method, path, function(req, params, body)
      local it = self.byToken[params.token]
      if not it or params.app ~= self.server.bot.id then return bad(404, 10015, "Unknown Webhook") end
      local why = runtime.now() - it.created > 15 * 60000 and "expired token" or not it.acked and "not answered"
      if why then
        self.violations[#self.violations + 1] = { at = runtime.now(), interaction = it.id, text = why }
        return bad(why == "expired token" and 401 or 404, why == "expired token" and 50027 or 10015, why)
      end
      local msg = params.which == "@original" and it.original or nil
      for _, m in ipairs(it.followups) do
        if m.id == params.which then msg = m end
      end
      if params.which and not msg then return bad(404, 10008, "Unknown Message") end
      return handler(it, msg, body or {}, req)
    end)
  end
  route("POST", "/webhooks/:app/:token", function(it, _, body, req)
    local status, err = checkMessage(body, req.files)
    if status then return status, err end
    -- After a defer the first follow-up fills the placeholder.
    if it.original and it.original.flags & LOADING ~= 0 then
      self:_edit(it, it.original, body, req.files)
      return 200, store:messageJSON(it.original)
    end
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
