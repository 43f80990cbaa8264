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

return M
