-- The bot's own user: profile edits and presence.
local util = require("discord.util")
local User = require("discord.user").User

local M = {}

local ClientUser = util.class("ClientUser", User)
M.ClientUser = ClientUser

local STATUSES = util.set({ "online", "idle", "dnd", "invisible" })

function ClientUser:init(client, data)
  self.presence = { status = "online", activities = {}, afk = false }
  User.init(self, client, data)
end

function ClientUser:_patch(data)
  User._patch(self, data)
  if data.verified ~= nil then self.verified = data.verified == true end
  if data.mfa_enabled ~= nil then self.mfaEnabled = data.mfa_enabled == true end
  return self
end

--- (B) Changes the username, avatar or banner. Images are raw bytes or data URIs; false removes one.
function ClientUser:edit(opts)
  local json = require("json")
  local body = {}
  if opts.username ~= nil then body.username = opts.username end
  for _, key in ipairs({ "avatar", "banner" }) do
    local v = opts[key]
    if v == false then
      body[key] = json.null
    elseif v ~= nil then
      body[key] = util.imageData(v)
    end
  end
  local data = self.client.rest:patch("/users/@me", { body = body })
  return self:_patch(data)
end

function ClientUser:setUsername(name) return self:edit({ username = name }) end
function ClientUser:setAvatar(image) return self:edit({ avatar = image or false }) end
function ClientUser:setBanner(image) return self:edit({ banner = image or false }) end

local function activityData(a)
  if type(a) == "string" then a = { name = a } end
  local t = a.type or 0
  if type(t) == "string" then
    local types = { Playing = 0, Streaming = 1, Listening = 2, Watching = 3, Custom = 4, Competing = 5 }
    t = types[t] or error("unknown activity type: " .. t, 3)
  end
  -- A custom status shows its state; Discord wants a name anyway.
  local out = { name = a.name or "Custom Status", type = t, url = a.url }
  if t == 4 then out.state = a.state or a.name end
  return out
end

--- Sets status, activities and afk on every shard; `{status=, activities=, afk=, since=}`.
function ClientUser:setPresence(p)
  local json = require("json")
  p = p or {}
  if p.status ~= nil then
    if not STATUSES[p.status] then error("ClientUser:setPresence: unknown status " .. tostring(p.status), 2) end
    self.presence.status = p.status
  end
  if p.activities ~= nil then self.presence.activities = util.map(p.activities, activityData) end
  if p.afk ~= nil then self.presence.afk = p.afk == true end
  local d = {
    since = p.since or json.null,
    status = self.presence.status,
    activities = json.array(util.deepCopy(self.presence.activities)),
    afk = self.presence.afk,
  }
  if self.client.ws and self.client.ws.broadcast then self.client.ws:broadcast({ op = 3, d = d }, p.shardId) end
  return self.presence
end

function ClientUser:setStatus(status)
  return self:setPresence({ status = status })
end

--- One activity, given as a name or `{name=, type=, url=, state=}`; nil clears it.
function ClientUser:setActivity(activity)
  return self:setPresence({ activities = activity and { activity } or {} })
end

function ClientUser:setAFK(afk)
  return self:setPresence({ afk = afk ~= false })
end

return M
