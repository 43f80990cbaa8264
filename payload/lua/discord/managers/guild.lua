-- The client's guilds: cache, fetch, create and the guilds list of the bot.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

local GuildManager = util.class("GuildManager", base.CachingManager)
M.GuildManager = GuildManager

function GuildManager:init(client, iterable)
  base.CachingManager.init(self, client, require("discord.guild").Guild, iterable)
end

--- Channels, members, roles and messages resolve to their guild.
function GuildManager:resolve(x)
  if type(x) == "table" and x.guild ~= nil and util.className(x) ~= "Guild" then
    return x.guild
  end
  return base.CachingManager.resolve(self, x)
end

function GuildManager:resolveId(x)
  if type(x) == "table" and util.className(x) ~= "Guild" then
    if x.guildId ~= nil then return x.guildId end
    if type(x.guild) == "table" then return x.guild.id end
  end
  return base.CachingManager.resolveId(self, x)
end

--- (B) `fetch(id, opts)`: the guild with approximate counts (cached unless `opts.force`).
--- `fetch()` lists the guilds of the bot, as partial data ({id, name, icon, owner, permissions,
--- features}) in a Collection; `{limit=, before=, after=}` pages through them.
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

--- Raises: applications can no longer create guilds.
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
