-- The application's entitlements: fetched with filters and by page, test entitlements made and deleted,
-- one-time purchases consumed.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

local EntitlementManager = util.class("EntitlementManager", base.ResourceManager)
M.EntitlementManager = EntitlementManager

--- `EntitlementManager(application)`.
function EntitlementManager:init(application)
  self.application = application
  base.ResourceManager.init(self, application.client, require("discord.structures.entitlement").Entitlement, nil,
    application)
end

function EntitlementManager:_construct(data)
  return self.holds(self.client, data)
end

function EntitlementManager:_path(id)
  local appId = self.application.id
  if appId == nil then error(require("discord.errors").LibraryError("ClientNotReady", "fetch entitlements"), 4) end
  return "/applications/" .. appId .. "/entitlements" .. (id and ("/" .. id) or "")
end

--- (B) One entitlement by ID, or a list: {user=, guild=, skus=, before=, after=, limit= (default 100,
--- more are paged), excludeEnded=, excludeDeleted=, cache=}.
function EntitlementManager:fetch(id, opts)
  if type(id) == "table" and self:resolveId(id) == nil then id, opts = nil, id end
  opts = opts or {}
  if id ~= nil then return base.CachingManager.fetch(self, id, opts) end
  local query = {
    user_id = opts.user and self.client.users:resolveId(opts.user) or nil,
    guild_id = opts.guild and self.client.guilds:resolveId(opts.guild) or nil,
    sku_ids = opts.skus and table.concat(util.map(opts.skus, function(s) return self:resolveId(s) end), ",") or nil,
    exclude_ended = opts.excludeEnded and "true" or nil,
    exclude_deleted = opts.excludeDeleted == false and "false" or nil,
    before = opts.before and self:resolveId(opts.before) or nil,
  }
  local out = require("discord.collection").Collection()
  local page = function(size, after)
    query.limit, query.after = size, (not query.before) and after or nil
    local list = self.client.rest:get(self:_path(), { query = query })
    return util.map(list, function(d) return self:_add(d, opts.cache ~= false) end)
  end
  for e in base.pages(page, 100, opts.limit or 100, opts.after and self:resolveId(opts.after)) do out:set(e.id, e) end
  return out
end

--- (B) A test entitlement for a user or guild: {sku=, user=} or {sku=, guild=}.
function EntitlementManager:createTest(opts)
  opts = opts or {}
  local owner, ownerType
  if opts.guild then
    owner, ownerType = self.client.guilds:resolveId(opts.guild), 1
  else
    owner, ownerType = self.client.users:resolveId(opts.user), 2
  end
  if owner == nil or opts.sku == nil then
    error("EntitlementManager:createTest: a sku and a user or guild are needed", 2)
  end
  return self:_create({ sku_id = self:resolveId(opts.sku), owner_id = owner, owner_type = ownerType })
end

--- (B) Deletes a test entitlement.
function EntitlementManager:deleteTest(entitlement)
  return self:delete(entitlement)
end

--- (B) Marks a one-time purchase as consumed.
function EntitlementManager:consume(entitlement)
  local id = self:_need(entitlement, "consume")
  self.client.rest:post(self:_path(id) .. "/consume")
  local cached = self.cache:get(id)
  if cached then cached.consumed = true end
end

-- Gateway events -----------------------------------------------------------------------------------------

-- Entitlements belong to the application, not to a guild.
local handlers = base.handlers

handlers.ENTITLEMENT_CREATE = function(client, packet)
  client:emit("entitlementCreate", client.application.entitlements:_add(packet.d))
end

handlers.ENTITLEMENT_UPDATE = function(client, packet)
  local entitlements = client.application.entitlements
  local old = base.clone(entitlements.cache:get(packet.d.id))
  client:emit("entitlementUpdate", old, entitlements:_add(packet.d))
end

handlers.ENTITLEMENT_DELETE = function(client, packet)
  local entitlements = client.application.entitlements
  local obj = entitlements:_add(packet.d)
  entitlements:_remove(obj.id)
  client:emit("entitlementDelete", obj)
end

return M
