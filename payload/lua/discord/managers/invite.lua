-- Invites of a guild and its channels: fetch by code or all, create in a channel, delete.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

local GuildInviteManager = util.class("GuildInviteManager", base.ResourceManager)
M.GuildInviteManager = GuildInviteManager

function GuildInviteManager:init(guild, iterable)
  self.guild = guild
  base.ResourceManager.init(self, guild.client, require("discord.structures.invite").Invite,
    "/guilds/" .. guild.id .. "/invites", guild, iterable)
end

function GuildInviteManager._keyOf(_, data)
  return data.code
end

function GuildInviteManager:_construct(data)
  return self.holds(self.client, data)
end

function GuildInviteManager.resolveId(_, x)
  return require("discord.structures.invite").resolveCode(x)
end

--- (B) One invite by code or URL: {withCounts=, guildScheduledEventId=, force=}; or
--- every invite of the guild (`fetch()`), or of one channel (`fetch({channelId=})`).
function GuildInviteManager:fetch(x, opts)
  if type(x) == "table" and x.code == nil then x, opts = nil, x end
  opts = opts or {}
  if x == nil then
    if opts.channelId or opts.channel then
      local id = self.client.channels:resolveId(opts.channelId or opts.channel)
      return self:_addAll(self.client.rest:get("/channels/" .. id .. "/invites"), opts.cache)
    end
    return self:_addAll(self.client.rest:get(self:_path()), opts.cache, true)
  end
  local code = self:_need(x, "fetch")
  if not opts.force then
    local hit = self.cache:get(code)
    if hit then return hit end
  end
  return self:_add(require("discord.structures.invite").fetchData(self.client, code, opts), opts.cache ~= false)
end

--- (B) Makes an invite to a channel: {maxAge= (s, 0 = never), maxUses=, temporary=, unique=, targetType=,
--- targetUser=, targetApplication=, reason=}.
function GuildInviteManager:create(channel, opts)
  opts = opts or {}
  local id = self.client.channels:resolveId(channel)
  if id == nil then error("GuildInviteManager:create: not a channel: " .. tostring(channel), 2) end
  local body = base.bodyOf(opts, { maxAge = "max_age", maxUses = "max_uses", temporary = "temporary",
    unique = "unique", targetType = "target_type" })
  if opts.targetUser then body.target_user_id = self.client.users:resolveId(opts.targetUser) end
  if opts.targetApplication then
    body.target_application_id = type(opts.targetApplication) == "table" and opts.targetApplication.id
      or opts.targetApplication
  end
  return self:_create(body, opts.reason, { path = "/channels/" .. id .. "/invites" })
end

--- (B) Deletes an invite by code, URL or object.
function GuildInviteManager:delete(x, reason)
  local code = self:_need(x, "delete")
  self.client.rest:delete("/invites/" .. util.urlEncode(code), { reason = reason })
  return self:_remove(code)
end

local function targetUsersPath(self, x, what)
  return "/invites/" .. util.urlEncode(self:_need(x, what)) .. "/target-users"
end

--- (B) The users an invite is limited to, as a list of IDs.
function GuildInviteManager:fetchTargetUsers(x)
  local csv = self.client.rest:get(targetUsersPath(self, x, "fetchTargetUsers"), { raw = true })
  local ids = {}
  for id in csv:gmatch("%d+") do ids[#ids + 1] = id end
  return ids
end

--- (B) Limits an invite to these users (IDs or users); Discord applies the list in the background (see
--- fetchTargetUsersJobStatus).
function GuildInviteManager:setTargetUsers(x, users)
  local lines = { "user_id" }
  for _, u in ipairs(users) do lines[#lines + 1] = self.client.users:resolveId(u) end
  self.client.rest:put(targetUsersPath(self, x, "setTargetUsers"), { files = { { field = "target_users_file",
    name = "users.csv", data = table.concat(lines, "\n") .. "\n", contentType = "text/csv" } } })
end

--- (B) How far Discord is in applying the last setTargetUsers, as Discord sends it ({status=, ...}).
function GuildInviteManager:fetchTargetUsersJobStatus(x)
  return self.client.rest:get(targetUsersPath(self, x, "fetchTargetUsersJobStatus") .. "/job-status")
end

-- Gateway events -----------------------------------------------------------------------------------------

base.handlers.INVITE_CREATE = function(client, packet)
  local guild = base.guildOf(client, packet.d)
  local invite = guild and guild.invites:_add(packet.d) or require("discord.structures.invite").Invite(client, packet.d)
  client:emit("inviteCreate", invite)
end

base.handlers.INVITE_DELETE = function(client, packet)
  local d = packet.d
  local guild = base.guildOf(client, d)
  local invite = guild and guild.invites:_remove(d.code)
  client:emit("inviteDelete", invite or require("discord.structures.invite").Invite(client, d))
end

return M
