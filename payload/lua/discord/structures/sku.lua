-- An SKU: something the application sells.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

--- A SKU: something the application sells (`client.application.skus`).
---@class discord.SKU: discord.Base
---@field id discord.Snowflake The SKU's ID.
---@field type integer discord.SKUType (Durable, Consumable, Subscription, SubscriptionGroup).
---@field applicationId discord.Snowflake The application it belongs to.
---@field name string Its customer-facing name.
---@field slug string The URL-friendly name.
---@field flags discord.SKUFlagsBitField? The SKU's flags.
---@field available boolean Whether the SKU is available for purchase (read-only).
local SKU = util.class("SKU", Base)
M.SKU = SKU

--- Flags of a SKU: Available, GuildSubscription, UserSubscription.
---@class discord.SKUFlagsBitField: discord.BitField
local SKUFlags = require("discord.bitfield").define("SKUFlagsBitField",
  { Available = 1 << 2, GuildSubscription = 1 << 7, UserSubscription = 1 << 8 })
M.SKUFlagsBitField = SKUFlags

--- `SKU(client, data)`.
---@private
---@param client discord.Client
---@param data table
function SKU:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self:_copy(data, { type = "type", application_id = "applicationId", name = "name", slug = "slug" })
  if data.flags ~= nil then self.flags = SKUFlags(data.flags):freeze() end
end

SKU.getters.available = function(self) return self.flags ~= nil and self.flags:has("Available") end

--- The subscriptions to a subscription SKU.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? {user?: discord.UserResolvable, before?: any, after?: any, limit?: integer}
---@return discord.Collection subscriptions
function SKU:fetchSubscriptions(opts)
  return require("discord.managers.subscription").SubscriptionManager(self):fetch(opts)
end

--- One subscription to this SKU.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id any The subscription or its ID.
---@return discord.Subscription subscription
function SKU:fetchSubscription(id)
  return require("discord.managers.subscription").SubscriptionManager(self):fetch(id)
end

return M
