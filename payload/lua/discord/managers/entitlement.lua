-- The application's entitlements: fetched with filters and by page, test entitlements made and deleted,
-- one-time purchases consumed.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

--- The application's entitlements (`client.application.entitlements`): fetch, test entitlements, consume.
---@class discord.EntitlementManager: discord.ResourceManager
---@field application discord.ClientApplication The application the entitlements belong to.
local EntitlementManager = util.class("EntitlementManager", base.ResourceManager)
M.EntitlementManager = EntitlementManager

--- Made by the application.
---@private
---@param application discord.ClientApplication
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

--- One entitlement by ID, or a Collection of them filtered by `opts` (100 by default; more are paged).
--- Raises `discord.LibraryError` ClientNotReady before READY; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id? any The entitlement or its ID; absent fetches a list.
---@param opts? discord.FetchEntitlementsOptions
---@return discord.Entitlement|discord.Collection result
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

--- Creates a test entitlement to a SKU for a user or a guild.
--- Raises an error without a SKU and an owner; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.TestEntitlementOptions
---@return discord.Entitlement entitlement
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

--- Deletes a test entitlement.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param entitlement any The entitlement or its ID.
---@return discord.Entitlement? entitlement The cached entitlement, if it was.
function EntitlementManager:deleteTest(entitlement)
  return self:delete(entitlement)
end

--- Marks a one-time purchase as consumed.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param entitlement any The entitlement or its ID.
function EntitlementManager:consume(entitlement)
  local id = self:_need(entitlement, "consume")
  self.client.rest:post(self:_path(id) .. "/consume")
  local cached = self.cache:get(id)
  if cached then cached.consumed = true end
end

-- Gateway events -----------------------------------------------------------------------------------------

--- Options of `EntitlementManager:fetch` for a list.
---@class discord.FetchEntitlementsOptions
---@field user? discord.UserResolvable Only this user's entitlements.
---@field guild? any Only this guild's entitlements (a guild or its ID).
---@field skus? any[] Only entitlements to these SKUs (SKUs or IDs).
---@field before? any Entitlements before this one (entitlement or ID).
---@field after? any Entitlements after this one (entitlement or ID).
---@field limit? integer How many (100; more fetches several pages).
---@field excludeEnded? boolean Leave out ended entitlements.
---@field excludeDeleted? boolean False includes deleted entitlements.
---@field cache? boolean Keep the fetched entitlements (true).

--- Options of `EntitlementManager:createTest`: a SKU and either a user or a guild.
---@class discord.TestEntitlementOptions
---@field sku any The SKU or its ID.
---@field user? discord.UserResolvable The user to give it to.
---@field guild? any A guild or its ID.

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
