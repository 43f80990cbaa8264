-- A user's subscription to one or more subscription SKUs.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

--- A user's subscription to one or more subscription SKUs.
---@class discord.Subscription: discord.Base
---@field id discord.Snowflake The subscription's ID.
---@field userId discord.Snowflake The subscriber.
---@field skuIds discord.Snowflake[] The SKUs subscribed to.
---@field entitlementIds discord.Snowflake[] The entitlements it grants.
---@field renewalSkuIds discord.Snowflake[]? The SKUs it renews into.
---@field status integer discord.SubscriptionStatus (Active, Ending, Inactive).
---@field country string? ISO country code (with the right OAuth2 scope).
---@field currentPeriodStartTimestamp discord.Milliseconds? When the current billing period started.
---@field currentPeriodEndTimestamp discord.Milliseconds? When the current billing period ends.
---@field canceledTimestamp discord.Milliseconds? When it was canceled.
---@field user discord.User? The subscriber, when cached (read-only).
---@field active boolean Whether the status is Active (read-only).
local Subscription = util.class("Subscription", Base)
M.Subscription = Subscription

--- `Subscription(client, data)`.
---@private
---@param client discord.Client
---@param data table
function Subscription:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self:_patch(data)
end

function Subscription:_patch(data)
  self:_copy(data, { user_id = "userId", sku_ids = "skuIds", entitlement_ids = "entitlementIds",
    renewal_sku_ids = "renewalSkuIds", status = "status", country = "country" })
  for key, field in pairs({ current_period_start = "currentPeriodStartTimestamp",
    current_period_end = "currentPeriodEndTimestamp", canceled_at = "canceledTimestamp" }) do
    if data[key] ~= nil then self[field] = util.parseTimestamp(util.nullable(data[key])) end
  end
  return self
end

Subscription.getters.user = function(self) return self.client.users.cache:get(self.userId) end
Subscription.getters.active = function(self)
  return self.status == require("discord.enums").SubscriptionStatus.Active
end

return M
