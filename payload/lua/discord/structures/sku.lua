-- An SKU: something the application sells.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

local SKU = util.class("SKU", Base)
M.SKU = SKU

local SKUFlags = require("discord.bitfield").define("SKUFlagsBitField",
  { Available = 1 << 2, GuildSubscription = 1 << 7, UserSubscription = 1 << 8 })
M.SKUFlagsBitField = SKUFlags

--- `SKU(client, data)`.
function SKU:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self:_copy(data, { type = "type", application_id = "applicationId", name = "name", slug = "slug" })
  if data.flags ~= nil then self.flags = SKUFlags(data.flags):freeze() end
end

SKU.getters.available = function(self) return self.flags ~= nil and self.flags:has("Available") end

--- (B) The subscriptions to a subscription SKU: {user=, before=, after=, limit=}.
function SKU:fetchSubscriptions(opts)
  return require("discord.managers.subscription").SubscriptionManager(self):fetch(opts)
end

--- (B) One subscription.
function SKU:fetchSubscription(id)
  return require("discord.managers.subscription").SubscriptionManager(self):fetch(id)
end

return M
