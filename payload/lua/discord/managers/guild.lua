-- The client's guilds: cache, fetch, create and the guilds list of the bot.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

local GuildManager = util.class("GuildManager", base.CachingManager)
M.GuildManager = GuildManager

--- Made by the client.
---@private
---@param client discord.Client
---@param iterable? table[]
function GuildManager:init(client, iterable)
  base.CachingManager.init(self, client, require("discord.guild").Guild, iterable)
end

--- A cached guild: from a guild, its ID, or a channel, member, role or message of it.
---@param x any
---@return discord.Guild? guild
function GuildManager:resolve(x)
  if type(x) == "table" and x.guild ~= nil and util.className(x) ~= "Guild" then
    return x.guild
  end
  return base.CachingManager.resolve(self, x)
end

--- The ID of a guild, of the guild of a channel, member, role or message, or an ID.
---@param x any
---@return discord.Snowflake? id
function GuildManager:resolveId(x)
  if type(x) == "table" and util.className(x) ~= "Guild" then
    if x.guildId ~= nil then return x.guildId end
    if type(x.guild) == "table" then return x.guild.id end
  end
  return base.CachingManager.resolveId(self, x)
end

--- `fetch(id, opts)`: the guild with approximate counts; `fetch()` or `fetch({limit=, before=, after=})`
--- the bot's guilds as partial data ({id, name, icon, owner, permissions, features}) in a Collection.
--- Raises an error when `id` is not a guild; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id? any|{limit?: integer, before?: discord.Snowflake, after?: discord.Snowflake, withCounts?: boolean}
---@param opts? {force?: boolean, cache?: boolean, withCounts?: boolean}
---@return discord.Guild|discord.Collection result
function GuildManager:fetch(id, opts)
  opts = opts or {}
  if id == nil or (type(id) == "table" and util.className(id) == "table" and id.id == nil) then
    local o = id or {}
    local list = self.client.rest:get("/users/@me/guilds", {
      query = { limit = o.limit, before = o.before, after = o.after, with_counts = o.withCounts and "true" or nil },
    })
    local out = require("discord.collection").Collection()
    for _, g in ipairs(list) do out:set(g.id, g) end
    return out
  end
  local key = self:resolveId(id)
  if key == nil then error("GuildManager:fetch: not a guild: " .. tostring(id), 2) end
  if not opts.force then
    local hit = self.cache:get(key)
    if hit and hit.available then return hit end
  end
  local query = { with_counts = opts.withCounts ~= false and "true" or nil }
  local data = self.client.rest:get("/guilds/" .. key, { query = query })
  return self:_add(data, opts.cache ~= false)
end

--- Always raises: applications can no longer create guilds.
--- Raises `discord.LibraryError` RouteGone.
---@deprecated Discord removed the route; there is no replacement.
function GuildManager:create()
  error(require("discord.errors").LibraryError("RouteGone", "GuildManager:create", "POST /guilds"), 2)
end

-- Gateway events -----------------------------------------------------------------------------------------

local handlers = base.handlers

handlers.GUILD_CREATE = function(client, packet, shard)
  local d = packet.d
  local existing = base.get(client.guilds.cache, d.id)
  local wasUnavailable = existing ~= nil and existing.available == false
  local guild = client.guilds:_add(d)
  guild.shardId = shard.id
  if shard:_guildArrived(d.id) or shard.status == require("discord.ws").Status.WAITING_GUILDS then return end
  if wasUnavailable then
    client:emit("guildAvailable", guild)
  else
    client:emit("guildCreate", guild)
  end
end

handlers.GUILD_UPDATE = function(client, packet)
  local guild = base.get(client.guilds.cache, packet.d.id)
  if not guild then return end
  local old = base.clone(guild)
  guild:_patch(packet.d)
  client:emit("guildUpdate", old, guild)
end

handlers.GUILD_DELETE = function(client, packet)
  local d = packet.d
  local guild = base.get(client.guilds.cache, d.id)
  if not guild then return end
  if d.unavailable then
    guild.available = false
    client:emit("guildUnavailable", guild)
    return
  end
  if guild.channels and guild.channels.cache then
    for _, id in ipairs(guild.channels.cache:keys()) do client.channels:_remove(id) end
  end
  client.guilds:_remove(d.id)
  client:emit("guildDelete", guild)
end

return M
