-- Bans of one guild: fetched one at a time or page by page, created, removed and made in bulk.
local util = require("discord.util")
local json = require("json")
local base = require("discord.managers.base")

local M = {}

--- Bans of one guild (`guild.bans`): fetched one at a time or page by page, created, removed and made in bulk.
---@class discord.GuildBanManager: discord.ResourceManager
---@field guild discord.Guild The guild the bans belong to.
local GuildBanManager = util.class("GuildBanManager", base.ResourceManager)
M.GuildBanManager = GuildBanManager

-- Discord's page size and the most users one bulk ban takes.
local PAGE, BULK = 1000, 200

--- Made by the guild.
---@private
---@param guild discord.Guild
---@param iterable? table[]
function GuildBanManager:init(guild, iterable)
  self.guild = guild
  base.ResourceManager.init(self, guild.client, require("discord.structures.ban").GuildBan,
    "/guilds/" .. guild.id .. "/bans", guild, iterable)
end

function GuildBanManager._keyOf(_, data)
  return type(data.user) == "table" and data.user.id or data.id
end

--- The user ID of a ban, a user, a member or an ID.
---@param x any
---@return discord.Snowflake? id
GuildBanManager.resolveId = function(self, x)
  if type(x) == "table" and x.user ~= nil and x.id == nil then x = x.user end
  return self.client.users:resolveId(x)
end

--- One ban by user, or a page of bans; with `limit` above 1000 the pages are fetched one after another.
--- Raises `discord.DiscordAPIError` when Discord refuses it (UnknownBan when the user is not banned).
---@async
---@param user? discord.UserResolvable The banned user; absent fetches a page.
---@param opts? discord.FetchBansOptions
---@return discord.GuildBan|discord.Collection result
function GuildBanManager:fetch(user, opts)
  if type(user) == "table" and self:resolveId(user) == nil then user, opts = nil, user end
  opts = opts or {}
  if user ~= nil then return base.CachingManager.fetch(self, user, opts) end
  local out = require("discord.collection").Collection()
  local limit = opts.limit or PAGE
  local cursor, before = opts.after, opts.before
  local function page(size, after)
    local query = { limit = size }
    if before then query.before = self:resolveId(before) else query.after = after and self:resolveId(after) end
    local list = self.client.rest:get(self:_path(), { query = query })
    local bans = {}
    for i, data in ipairs(list) do bans[i] = self:_add(data, opts.cache ~= false) end
    if before and #bans > 0 then before = bans[1].id end
    return bans
  end
  for ban in base.pages(page, PAGE, limit, cursor) do out:set(ban.id, ban) end
  return out
end

--- Iterator over every ban, fetched 1000 per request; the steps that fetch suspend the task.
--- Raises `discord.DiscordAPIError` from the loop when Discord refuses a page.
---@param opts? discord.FetchBansOptions Only `limit` and `cache` are used.
---@return fun(): discord.GuildBan? iterator
function GuildBanManager:each(opts)
  opts = opts or {}
  return base.pages(function(size, after)
    local list = self.client.rest:get(self:_path(), { query = { limit = size, after = after } })
    return util.map(list, function(d) return self:_add(d, opts.cache ~= false) end)
  end, PAGE, opts.limit)
end

--- What `GuildBanManager:bulkCreate` returns.
---@class discord.BulkBanResult
---@field bannedUsers discord.Snowflake[] The users now banned.
---@field failedUsers discord.Snowflake[] The users Discord could not ban.

--- Options of `GuildBanManager:fetch` for a page of bans.
---@class discord.FetchBansOptions
---@field limit? integer How many bans (1000 by default; more fetches several pages).
---@field before? discord.UserResolvable Bans of users before this one.
---@field after? discord.UserResolvable Bans of users after this one.
---@field cache? boolean Keep the fetched bans (true).
---@field force? boolean Ask Discord even when the ban is cached (one ban only).

--- Options of `GuildBanManager:create` and `:bulkCreate`.
---@class discord.BanOptions
---@field deleteMessageSeconds? integer Deletes the user's messages of the last 0 to 604800 seconds.
---@field deleteMessageDays? integer The same in days.
---@field reason? string Audit log reason.
local function banBody(opts)
  local body = {}
  local seconds = opts.deleteMessageSeconds
  if seconds == nil and opts.deleteMessageDays ~= nil then seconds = opts.deleteMessageDays * 86400 end
  if seconds ~= nil then
    if math.type(seconds) ~= "integer" or seconds < 0 or seconds > 604800 then
      error("GuildBanManager: deleteMessageSeconds must be 0 to 604800", 4)
    end
    body.delete_message_seconds = seconds
  end
  return body
end

--- Bans a user, member or not; returns the user ID.
--- Raises an error for a bad deleteMessageSeconds; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param user discord.UserResolvable
---@param opts? discord.BanOptions
---@return discord.Snowflake userId
function GuildBanManager:create(user, opts)
  opts = opts or {}
  local id = self:_need(user, "create")
  self.client.rest:put(self:_path(id), { body = banBody(opts), reason = opts.reason })
  return id
end

--- Lifts a ban; returns the user ID (`delete` is the same method).
--- Raises `discord.DiscordAPIError` when Discord refuses it (UnknownBan when the user is not banned).
---@async
---@param user discord.UserResolvable
---@param reason? string Audit log reason.
---@return discord.Snowflake userId
function GuildBanManager:remove(user, reason)
  local id = self:_need(user, "remove")
  self.client.rest:delete(self:_path(id), { reason = reason })
  self:_remove(id)
  return id
end

--- Lifts a ban; the same as `remove`.
---@async
---@param user discord.UserResolvable
---@param reason? string Audit log reason.
---@return discord.Snowflake userId
GuildBanManager.delete = GuildBanManager.remove

--- Bans up to 200 users at once.
--- Raises an error for 0 or more than 200 users; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param users discord.UserResolvable[]
---@param opts? discord.BanOptions
---@return discord.BulkBanResult result
function GuildBanManager:bulkCreate(users, opts)
  opts = opts or {}
  if type(users) ~= "table" or #users == 0 or #users > BULK then
    error("GuildBanManager:bulkCreate: give 1 to " .. BULK .. " users", 2)
  end
  local body = banBody(opts)
  body.user_ids = json.array(util.map(users, function(u) return self:_need(u, "bulkCreate") end))
  local res = self.client.rest:post("/guilds/" .. self.guild.id .. "/bulk-ban", { body = body, reason = opts.reason })
  return { bannedUsers = res.banned_users or {}, failedUsers = res.failed_users or {} }
end

-- Gateway events -----------------------------------------------------------------------------------------

local function banEvent(event, removed)
  return function(client, packet)
    local d = packet.d
    local guild = base.guildOf(client, d)
    if not guild or type(d.user) ~= "table" then return end
    local b
    if removed then
      b = guild.bans:_remove(d.user.id) or guild.bans:_construct(d)
    else
      b = guild.bans:_add(d)
    end
    client:emit(event, b)
  end
end
base.handlers.GUILD_BAN_ADD = banEvent("guildBanAdd", false)
base.handlers.GUILD_BAN_REMOVE = banEvent("guildBanRemove", true)

return M
