-- Invites of a guild and its channels: fetch by code or all, create in a channel, delete.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

--- Invites of a guild and its channels (`guild.invites`), keyed by code: fetch, create, delete, target users.
---@class discord.GuildInviteManager: discord.ResourceManager
---@field guild discord.Guild The guild the invites lead to.
local GuildInviteManager = util.class("GuildInviteManager", base.ResourceManager)
M.GuildInviteManager = GuildInviteManager

--- Made by the guild.
---@private
---@param guild discord.Guild
---@param iterable? table[]
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

--- The code of an invite, of an invite URL, or a code.
---@param x any
---@return string? code
function GuildInviteManager.resolveId(_, x)
  return require("discord.structures.invite").resolveCode(x)
end

--- One invite by code or URL; or every invite of the guild (`fetch()`), or of one channel (`fetch({channel=})`).
--- Raises `discord.DiscordAPIError` when Discord refuses it (UnknownInvite for a bad code).
---@async
---@param x? any An invite, its code or URL; absent fetches a list.
---@param opts? discord.FetchInviteOptions
---@return discord.Invite|discord.Collection result
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

--- Makes an invite to a channel.
--- Raises an error when `channel` is not a channel; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param channel discord.ChannelResolvable
---@param opts? discord.InviteCreateOptions
---@return discord.Invite invite
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

--- Deletes an invite by code, URL or object.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param x any An invite, its code or URL.
---@param reason? string Audit log reason.
---@return discord.Invite? invite The cached invite, if it was.
function GuildInviteManager:delete(x, reason)
  local code = self:_need(x, "delete")
  self.client.rest:delete("/invites/" .. util.urlEncode(code), { reason = reason })
  return self:_remove(code)
end

--- Options of `GuildInviteManager:fetch`.
---@class discord.FetchInviteOptions
---@field withCounts? boolean Include approximate member counts (one invite).
---@field guildScheduledEventId? discord.Snowflake Include this scheduled event (one invite).
---@field force? boolean Ask Discord even when cached (one invite).
---@field channel? discord.ChannelResolvable List this channel's invites (or `channelId`).
---@field channelId? discord.Snowflake List this channel's invites (or `channel`).
---@field cache? boolean Keep the fetched invites (true).

--- Options of `GuildInviteManager:create` and `GuildChannel:createInvite`.
---@class discord.InviteCreateOptions
---@field maxAge? integer Seconds until it expires; 0 never.
---@field maxUses? integer 0 for no limit.
---@field temporary? boolean Members who joined by it are kicked when they go offline without a role.
---@field unique? boolean Always make a new code.
---@field targetType? integer discord.InviteTargetType (1 stream, 2 embedded application).
---@field targetUser? discord.UserResolvable The user whose stream it opens.
---@field targetApplication? any The embedded application (or its ID).
---@field reason? string Audit log reason.
local function targetUsersPath(self, x, what)
  return "/invites/" .. util.urlEncode(self:_need(x, what)) .. "/target-users"
end

--- The users an invite is limited to.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param x any An invite, its code or URL.
---@return discord.Snowflake[] userIds
function GuildInviteManager:fetchTargetUsers(x)
  local csv = self.client.rest:get(targetUsersPath(self, x, "fetchTargetUsers"), { raw = true })
  local ids = {}
  for id in csv:gmatch("%d+") do ids[#ids + 1] = id end
  return ids
end

--- Limits an invite to these users; Discord applies it in the background (see `fetchTargetUsersJobStatus`).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param x any An invite, its code or URL.
---@param users discord.UserResolvable[]
function GuildInviteManager:setTargetUsers(x, users)
  local lines = { "user_id" }
  for _, u in ipairs(users) do lines[#lines + 1] = self.client.users:resolveId(u) end
  self.client.rest:put(targetUsersPath(self, x, "setTargetUsers"), { files = { { field = "target_users_file",
    name = "users.csv", data = table.concat(lines, "\n") .. "\n", contentType = "text/csv" } } })
end

--- How far Discord is in applying the last `setTargetUsers`, as Discord sends it ({status=, ...}).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param x any An invite, its code or URL.
---@return table status
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
