-- The subscriptions to one subscription SKU.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

--- The subscriptions to one subscription SKU (`sku.subscriptions`).
---@class discord.SubscriptionManager: discord.ResourceManager
---@field sku discord.SKU The SKU.
local SubscriptionManager = util.class("SubscriptionManager", base.ResourceManager)
M.SubscriptionManager = SubscriptionManager

--- Made by the SKU.
---@private
---@param sku discord.SKU
function SubscriptionManager:init(sku)
  self.sku = sku
  base.ResourceManager.init(self, sku.client, require("discord.structures.subscription").Subscription,
    "/skus/" .. sku.id .. "/subscriptions", sku)
end

function SubscriptionManager:_construct(data)
  return self.holds(self.client, data)
end

--- One subscription by ID, or a Collection of them (50 by default).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id? any The subscription or its ID; absent fetches a list.
---@param opts? {user?: discord.UserResolvable, before?: any, after?: any, limit?: integer, cache?: boolean}
---@return discord.Subscription|discord.Collection result
function SubscriptionManager:fetch(id, opts)
  if type(id) == "table" and self:resolveId(id) == nil then id, opts = nil, id end
  opts = opts or {}
  if id ~= nil then return base.CachingManager.fetch(self, id, opts) end
  local query = { user_id = opts.user and self.client.users:resolveId(opts.user) or nil, limit = opts.limit or 50,
    before = opts.before and self:resolveId(opts.before) or nil,
    after = opts.after and self:resolveId(opts.after) or nil }
  return self:_addAll(self.client.rest:get(self:_path(), { query = query }), opts.cache)
end

--- Always raises: Discord has no route that deletes a subscription.
--- Raises `discord.LibraryError` RouteGone.
---@deprecated Discord has no such route.
function SubscriptionManager:delete()
  local gone = require("discord.errors").LibraryError
  error(gone("RouteGone", "SubscriptionManager:delete", "DELETE /skus/{id}/subscriptions/{id}"), 2)
end

-- Gateway events -----------------------------------------------------------------------------------------

-- Subscriptions are not cached: each event carries the whole object.
local function subscription(client, packet)
  return require("discord.structures.subscription").Subscription(client, packet.d)
end

base.handlers.SUBSCRIPTION_CREATE = function(client, packet)
  client:emit("subscriptionCreate", subscription(client, packet))
end

base.handlers.SUBSCRIPTION_UPDATE = function(client, packet)
  client:emit("subscriptionUpdate", nil, subscription(client, packet))
end

base.handlers.SUBSCRIPTION_DELETE = function(client, packet)
  client:emit("subscriptionDelete", subscription(client, packet))
end

return M
