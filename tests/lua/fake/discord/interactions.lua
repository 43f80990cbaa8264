-- Interactions in the fake Discord: INTERACTION_CREATE delivery, the callback route and the
-- webhook routes of the token, enforcing Discord's rules. A broken rule is answered as Discord
-- answers it and noted in `violations`: a first response after 3 s, a second one, a callback type
-- the interaction does not allow, an invalid message, modal or choice list, a token used after
-- 15 minutes, a follow-up before any response.
local runtime = require("runtime")
local json = require("json")
local Forms = require("fake.discord.forms")

local Interactions = {}
Interactions.__index = Interactions

local DEADLINE, TOKEN_LIFETIME = 3000, 15 * 60 * 1000
local EPHEMERAL, LOADING = 1 << 6, 1 << 7
local MESSAGE_FLAGS = (1 << 2) | EPHEMERAL | (1 << 12) | (1 << 15)

-- Callback types allowed per interaction type (Discord's table).
local ALLOWED = {
  [2] = { [4] = true, [5] = true, [9] = true, [10] = true, [12] = true },
  [3] = { [4] = true, [5] = true, [6] = true, [7] = true, [9] = true, [10] = true, [12] = true },
  [4] = { [8] = true },
  [5] = { [4] = true, [5] = true, [6] = true, [7] = true },
}

function Interactions.new(server)
  return setmetatable({ server = server, store = server.store, byId = {}, byToken = {}, list = {},
    violations = {} }, Interactions)
end

local function err(status, code, message, errors)
  return status, { code = code, message = message, errors = errors }
end

function Interactions:_violate(it, text)
  self.violations[#self.violations + 1] = { at = runtime.now(), interaction = it and it.id, text = text }
end

-- Delivery ------------------------------------------------------------------------------------------

-- The member (in a guild) or user (in a DM) who used the interaction.
local function actor(store, user, channel)
  local guild = channel.guild_id and store.guilds[channel.guild_id]
  if guild then
    local m = store:memberJSON(guild.members[user.id])
    m.permissions = "1071698665025"
    return { member = m, guild_id = guild.id }
  end
  return { user = store:userJSON(user) }
end

--- Sends INTERACTION_CREATE: `kind` is the interaction type, `data` its data. `extra.message` (a stored
--- message) marks a component or a modal opened from it. Returns the record the fake keeps.
function Interactions:deliver(kind, user, channel, data, extra)
  extra = extra or {}
  local store = self.store
  local id = store:id()
  local token = "itoken-" .. id
  local d = {
    id = id, application_id = self.server.bot.id, type = kind, data = data, token = token, version = 1,
    channel_id = channel.id, channel = { id = channel.id, type = channel.type, name = channel.name },
    app_permissions = "1071698665025", locale = "en-US", entitlements = json.array({}),
    authorizing_integration_owners = { ["0"] = channel.guild_id or nil }, context = channel.guild_id and 0 or 1,
  }
  for k, v in pairs(actor(store, user, channel)) do d[k] = v end
  if channel.guild_id then d.guild_locale = "en-US" end
  if extra.message then d.message = store:messageJSON(extra.message) end
  local it = { id = id, token = token, type = kind, data = data, channel = channel, user = user,
    message = extra.message, created = runtime.now(), responses = {}, followups = {} }
  self.byId[id], self.byToken[token] = it, it
  self.list[#self.list + 1] = it
  self.server.gateway:dispatch("INTERACTION_CREATE", d, extra.session)
  return it
end

local OPTION_USER, OPTION_CHANNEL, OPTION_ROLE, OPTION_MENTIONABLE = 6, 7, 8, 9

-- Fills `resolved` for the user, channel and role options, as Discord does.
function Interactions:_resolve(options, channel, resolved)
  local store = self.store
  local guild = channel.guild_id and store.guilds[channel.guild_id]
  local function addUser(uid)
    local u = store.users[uid]
    if not u then return false end
    resolved.users = resolved.users or {}
    resolved.users[uid] = store:userJSON(u)
    local m = guild and guild.members[uid]
    if m then
      local mj = store:memberJSON(m)
      mj.user, mj.permissions = nil, "1071698665025"
      resolved.members = resolved.members or {}
      resolved.members[uid] = mj
    end
    return true
  end
  local function addRole(rid)
    local r = guild and store:role(guild, rid)
    if not r then return false end
    resolved.roles = resolved.roles or {}
    resolved.roles[rid] = store:roleJSON(r)
    return true
  end
  for _, o in ipairs(options or {}) do
    if o.type == OPTION_USER then
      addUser(o.value)
    elseif o.type == OPTION_ROLE then
      addRole(o.value)
    elseif o.type == OPTION_MENTIONABLE then
      if not addUser(o.value) then addRole(o.value) end
    elseif o.type == OPTION_CHANNEL then
      local c = store.channels[o.value]
      if c then
        resolved.channels = resolved.channels or {}
        resolved.channels[o.value] = { id = c.id, name = c.name, type = c.type, permissions = "1071698665025",
          parent_id = c.parent_id, guild_id = c.guild_id }
      end
    end
    if o.options then self:_resolve(o.options, channel, resolved) end
  end
  return resolved
end

-- The ID of the command registered under `name` (guild scope first), or a new one.
function Interactions:_commandId(name, channel)
  local scopes = self.server.commands or {}
  for _, scope in ipairs({ channel.guild_id or "", "global" }) do
    for _, c in ipairs(scopes[scope] or {}) do
      if c.name == name then return c.id end
    end
  end
  return self.store:id()
end

--- A slash command: `options` in the API's shape ({name=, type=, value=} and nested subcommands).
function Interactions:command(user, channel, name, options, extra)
  extra = extra or {}
  local resolved = self:_resolve(options, channel, extra.resolved or {})
  local data = { id = extra.commandId or self:_commandId(name, channel), name = name, type = extra.commandType or 1,
    options = options and json.array(options) or nil, resolved = next(resolved) and resolved or nil,
    guild_id = extra.commandGuildId, target_id = extra.targetId }
  return self:deliver(2, user, channel, data, extra)
end

--- A user or message context menu command on `target` (a stored user or message).
function Interactions:contextMenu(user, channel, name, target)
  local resolved = {}
  if target.author_id then
    resolved.messages = { [target.id] = self.store:messageJSON(target) }
    return self:command(user, channel, name, nil, { commandType = 3, targetId = target.id,
      resolved = resolved })
  end
  self:_resolve({ { type = OPTION_USER, value = target.id } }, channel, resolved)
  return self:command(user, channel, name, nil, { commandType = 2, targetId = target.id, resolved = resolved })
end

--- Autocomplete while the user types: one of `options` carries focused = true.
function Interactions:autocomplete(user, channel, name, options)
  local data = { id = self.store:id(), name = name, type = 1, options = json.array(options) }
  return self:deliver(4, user, channel, data)
end

--- A click on the button `customId` of a stored message.
function Interactions:click(user, message, customId)
  local channel = self.store.channels[message.channel_id]
  return self:deliver(3, user, channel, { custom_id = customId, component_type = 2 }, { message = message })
end

--- A choice in the select menu `customId` (type 3 by default) of a stored message.
function Interactions:select(user, message, customId, values, componentType)
  local channel = self.store.channels[message.channel_id]
  componentType = componentType or 3
  local data = { custom_id = customId, component_type = componentType, values = json.array(values) }
  if componentType ~= 3 then
    local opts = {}
    local kind = ({ [5] = OPTION_USER, [6] = OPTION_ROLE, [7] = OPTION_MENTIONABLE, [8] = OPTION_CHANNEL })
      [componentType]
    for _, v in ipairs(values) do opts[#opts + 1] = { type = kind, value = v } end
    data.resolved = self:_resolve(opts, channel, {})
  end
  return self:deliver(3, user, channel, data, { message = message })
end

--- The user submits a modal: `fields` maps text input IDs to their values (sorted by ID).
function Interactions:submit(user, channel, customId, fields, message)
  local ids = {}
  for k in pairs(fields) do ids[#ids + 1] = k end
  table.sort(ids)
  local rows = json.array({})
  for _, k in ipairs(ids) do
    rows[#rows + 1] = { type = 18, id = #rows + 1, component = { type = 4, custom_id = k, value = fields[k] } }
  end
  return self:deliver(5, user, channel, { custom_id = customId, components = rows }, { message = message })
end

-- Checks ------------------------------------------------------------------------------------------------

local function len(s) return utf8.len(s) or #s end

-- A message body as the callback or the webhook takes it; returns an errors table or nil.
local function checkMessage(data, partial, files)
  if type(data) ~= "table" then return { data = { _errors = { { code = "BASE_TYPE_REQUIRED" } } } } end
  if type(data.content) == "string" and len(data.content) > 2000 then
    return { content = { _errors = { { code = "BASE_TYPE_MAX_LENGTH", message = "Must be 2000 or fewer in length." } } }
    }
  end
  if data.flags ~= nil and (math.type(data.flags) ~= "integer" or data.flags & ~MESSAGE_FLAGS ~= 0) then
    return { flags = { _errors = { { code = "MESSAGE_FLAGS_INVALID", message = "Invalid flags" } } } }
  end
  local v2 = data.flags and data.flags & (1 << 15) ~= 0
  if not partial and not v2 and (data.content == nil or data.content == "") and not (data.embeds and #data.embeds > 0)
      and not (data.components and #data.components > 0) and not (files and #files > 0) and data.poll == nil
      and not (data.sticker_ids and #data.sticker_ids > 0) then
    return { _errors = { { code = "MESSAGE_EMPTY", message = "Cannot send an empty message" } } }
  end
  if data.components and #data.components > (v2 and 40 or 5) then
    return { components = { _errors = { { code = "BASE_TYPE_MAX_LENGTH", message = "Too many components" } } } }
  end
  local bad = require("fake.discord.forms").messageComponents(data)
  return bad and bad.errors or nil
end

local function checkModal(data)
  if type(data) ~= "table" then return { data = { _errors = { { code = "BASE_TYPE_REQUIRED" } } } } end
  if type(data.custom_id) ~= "string" or data.custom_id == "" or len(data.custom_id) > 100 then
    return { data = { custom_id = { _errors = { { code = "BASE_TYPE_BAD_LENGTH" } } } } }
  end
  if type(data.title) ~= "string" or data.title == "" or len(data.title) > 45 then
    return { data = { title = { _errors = { { code = "BASE_TYPE_BAD_LENGTH" } } } } }
  end
  if type(data.components) ~= "table" or #data.components < 1 or #data.components > 5 then
    return { data = { components = { _errors = { { code = "BASE_TYPE_BAD_LENGTH" } } } } }
  end
  for i, c in ipairs(data.components) do
    local input = c.type == 18 and c.component or (c.type == 1 and c.components and c.components[1])
    if c.type ~= 10 and (type(input) ~= "table" or type(input.custom_id) ~= "string") then
      return { data = { components = { [tostring(i - 1)] = { _errors = { { code = "COMPONENT_INVALID" } } } } } }
    end
  end
  return nil
end

local function checkChoices(data)
  local choices = type(data) == "table" and data.choices
  if type(choices) ~= "table" or #choices > 25 then
    return { data = { choices = { _errors = { { code = "BASE_TYPE_MAX_LENGTH" } } } } }
  end
  for i, c in ipairs(choices) do
    if type(c.name) ~= "string" or len(c.name) < 1 or len(c.name) > 100 or c.value == nil then
      return { data = { choices = { [tostring(i - 1)] = { _errors = { { code = "CHOICE_INVALID" } } } } } }
    end
  end
  return nil
end

-- Messages ---------------------------------------------------------------------------------------------

function Interactions:_message(it, data, files, extraFlags)
  local flags = (data.flags or 0) | (extraFlags or 0)
  local msg = self.store:addMessage(it.channel, self.server.bot, {
    content = data.content, embeds = data.embeds, flags = flags, components = data.components, poll = data.poll,
    attachments = self.store:attachmentsFor(data.attachments, files), interaction = it.id,
  })
  msg.webhook_id = self.server.bot.id
  if flags & EPHEMERAL == 0 then
    self.server:_echo("MESSAGE_CREATE", it.channel, self.store:messageJSON(msg))
  end
  return msg
end

local function patchMessage(self, it, msg, data, files)
  for _, k in ipairs({ "content", "embeds", "components" }) do
    if data[k] ~= nil then msg[k] = data[k] end
  end
  if data.flags ~= nil then msg.flags = (msg.flags & EPHEMERAL) | data.flags end
  if data.attachments ~= nil then msg.attachments = self.store:attachmentsFor(data.attachments, files) end
  msg.flags = msg.flags & ~LOADING
  msg.edited_timestamp = require("fake.discord.store").iso(runtime.time())
  if msg.flags & EPHEMERAL == 0 then
    self.server:_echo("MESSAGE_UPDATE", it.channel, self.store:messageJSON(msg))
  end
end

-- Routes ---------------------------------------------------------------------------------------------------

function Interactions:_callback(req, params, body)
  local it = self.byId[params.interaction]
  if not it or it.token ~= params.token then return err(404, 10062, "Unknown interaction") end
  local now = runtime.now()
  if now - it.created > DEADLINE then
    self:_violate(it, "first response " .. (now - it.created) .. " ms after the interaction")
    return err(404, 10062, "Unknown interaction")
  end
  if it.acked then
    self:_violate(it, "second initial response (type " .. tostring(body.type) .. ")")
    return err(400, 40060, "Interaction has already been acknowledged.")
  end
  local kind = body.type
  if not (ALLOWED[it.type] and ALLOWED[it.type][kind]) or ((kind == 6 or kind == 7) and it.type == 5
      and not it.message) then
    self:_violate(it, "callback type " .. tostring(kind) .. " for interaction type " .. it.type)
    return err(400, 50035, "Invalid Form Body",
      { type = { _errors = { { code = "INTERACTION_RESPONSE_TYPE_INVALID", message = "Invalid response type" } } } })
  end
  local data = body.data
  local problem
  if kind == 4 then
    problem = checkMessage(data, false, req.files)
  elseif kind == 7 then
    problem = checkMessage(data or {}, true, req.files)
  elseif kind == 9 then
    problem = checkModal(data)
  elseif kind == 8 then
    problem = checkChoices(data)
  end
  if problem then
    self:_violate(it, "invalid callback data")
    return err(400, 50035, "Invalid Form Body", kind == 4 and { data = problem } or problem)
  end
  local bad = (kind == 4 or kind == 7) and Forms.messageComponents(data or {}, kind == 7 and it.message or nil)
  if bad then
    self:_violate(it, "invalid components")
    return 400, bad
  end
  it.acked = kind
  it.responses[#it.responses + 1] = { type = kind, data = data, at = now, files = req.files }
  if kind == 4 then
    it.original = self:_message(it, data, req.files)
  elseif kind == 5 then
    it.original = self:_message(it, { content = "", flags = data and data.flags or 0 }, nil, LOADING)
  elseif kind == 6 then
    it.original = it.message
  elseif kind == 7 then
    patchMessage(self, it, it.message, data or {}, req.files)
    it.original = it.message
  elseif kind == 9 then
    it.modal = data
  elseif kind == 8 then
    it.choices = data.choices
  end
  if req.query.with_response == "true" then
    local resource = { type = kind }
    if it.original and (kind == 4 or kind == 5 or kind == 7) then
      resource.message = self.store:messageJSON(it.original)
    end
    return 200, { interaction = { id = it.id, type = it.type,
      response_message_id = it.original and it.original.id or nil,
      response_message_loading = kind == 5, response_message_ephemeral = it.original
        and it.original.flags & EPHEMERAL ~= 0 or nil }, resource = resource }
  end
  return 204
end

-- The interaction of a webhook token, or the error Discord gives for it.
function Interactions:_token(params)
  local it = self.byToken[params.token]
  if not it or params.app ~= self.server.bot.id then return nil, 404, 10015, "Unknown Webhook" end
  if runtime.now() - it.created > TOKEN_LIFETIME then
    self:_violate(it, "token used after 15 minutes")
    return nil, 401, 50027, "Invalid Webhook Token"
  end
  if not it.acked then
    self:_violate(it, "webhook used before the first response")
    return nil, 404, 10015, "Unknown Webhook"
  end
  return it
end

function Interactions:_target(it, which)
  if which == "@original" then return it.original end
  for _, m in ipairs(it.followups) do
    if m.id == which then return m end
  end
  return nil
end

function Interactions:mount()
  local rest = self.server.rest
  local store = self.store
  rest:route("POST", "/interactions/:interaction/:token/callback", function(req, params, body)
    return self:_callback(req, params, body or {})
  end)
  local function withToken(handler)
    return function(req, params, body)
      local it, status, code, message = self:_token(params)
      if not it then return err(status, code, message) end
      return handler(it, req, params, body or {})
    end
  end
  rest:route("POST", "/webhooks/:app/:token", withToken(function(it, req, _, body)
    local problem = checkMessage(body, false, req.files)
    if problem then return err(400, 50035, "Invalid Form Body", problem) end
    local bad = Forms.messageComponents(body)
    if bad then return 400, bad end
    -- After a defer, the first follow-up fills the placeholder.
    local orig = it.original
    if it.acked == 5 and orig and orig.flags & LOADING ~= 0 then
      patchMessage(self, it, orig, body, req.files)
      return 200, store:messageJSON(orig)
    end
    local msg = self:_message(it, body, req.files)
    it.followups[#it.followups + 1] = msg
    return 200, store:messageJSON(msg)
  end))
  for _, path in ipairs({ "/webhooks/:app/:token/messages/:which" }) do
    rest:route("GET", path, withToken(function(it, _, params)
      local msg = self:_target(it, params.which)
      if not msg then return err(404, 10008, "Unknown Message") end
      return 200, store:messageJSON(msg)
    end))
    rest:route("PATCH", path, withToken(function(it, req, params, body)
      local msg = self:_target(it, params.which)
      if not msg then return err(404, 10008, "Unknown Message") end
      local problem = checkMessage(body, true, req.files)
      if problem then return err(400, 50035, "Invalid Form Body", problem) end
      local bad = Forms.messageComponents(body, msg)
      if bad then return 400, bad end
      patchMessage(self, it, msg, body, req.files)
      return 200, store:messageJSON(msg)
    end))
    rest:route("DELETE", path, withToken(function(it, _, params)
      local msg = self:_target(it, params.which)
      if not msg then return err(404, 10008, "Unknown Message") end
      local _, i = store:message(msg.channel_id, msg.id)
      if i then table.remove(store.messages[msg.channel_id], i) end
      it.deleted = it.deleted or {}
      it.deleted[#it.deleted + 1] = msg
      if msg == it.original then it.original = nil end
      if msg.flags & EPHEMERAL == 0 then
        self.server:_echo("MESSAGE_DELETE", it.channel, { id = msg.id, channel_id = msg.channel_id,
          guild_id = it.channel.guild_id })
      end
      return 204
    end))
  end
end

return Interactions
