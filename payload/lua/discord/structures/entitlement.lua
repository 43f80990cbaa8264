-- An entitlement: a user's or guild's access to an SKU, from a purchase, a subscription or a test.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

--- An entitlement: a user's or guild's access to a SKU, from a purchase, a subscription or a test.
---@class discord.Entitlement: discord.Base
---@field id discord.Snowflake The entitlement's ID.
---@field skuId discord.Snowflake The SKU it grants.
---@field applicationId discord.Snowflake The application it belongs to.
---@field userId discord.Snowflake? The user who holds it.
---@field guildId discord.Snowflake? The guild that holds it.
---@field type integer discord.EntitlementType (Purchase, ApplicationSubscription, TestModePurchase, ...).
---@field deleted boolean Whether it was deleted.
---@field consumed boolean? Whether a one-time purchase was used.
---@field startsTimestamp discord.Milliseconds? Nil for test entitlements.
---@field endsTimestamp discord.Milliseconds? When it ends; nil for test entitlements.
---@field guild discord.Guild? The guild that holds it, when cached (read-only).
---@field user discord.User? The user who holds it, when cached (read-only).
local Entitlement = util.class("Entitlement", Base)
M.Entitlement = Entitlement

--- `Entitlement(client, data)`.
---@private
---@param client discord.Client
---@param data table
function Entitlement:init(client, data)
  Base.init(self, client)
  self.id = data.id
  self:_patch(data)
end

function Entitlement:_patch(data)
  self:_copy(data, { sku_id = "skuId", application_id = "applicationId", user_id = "userId", guild_id = "guildId",
    type = "type", deleted = "deleted", consumed = "consumed" })
  if data.starts_at ~= nil then self.startsTimestamp = util.parseTimestamp(util.nullable(data.starts_at)) end
  if data.ends_at ~= nil then self.endsTimestamp = util.parseTimestamp(util.nullable(data.ends_at)) end
  return self
end

Entitlement.getters.guild = function(self) return self.guildId and self.client.guilds.cache:get(self.guildId) or nil end
Entitlement.getters.user = function(self) return self.userId and self.client.users.cache:get(self.userId) or nil end

--- Whether it is a test entitlement (those have no dates).
---@return boolean isTest
function Entitlement:isTest() return self.startsTimestamp == nil end
--- Whether a user holds it (not a guild).
---@return boolean isUser
function Entitlement:isUserSubscription() return self.guildId == nil end
--- Whether a guild holds it.
---@return boolean isGuild
function Entitlement:isGuildSubscription() return self.guildId ~= nil end

--- True while it grants access: not deleted, not consumed, and inside its dates.
---@return boolean active
function Entitlement:isActive()
  if self.deleted or self.consumed then return false end
  local now = require("runtime").time()
  if self.startsTimestamp and now < self.startsTimestamp then return false end
  return self.endsTimestamp == nil or now < self.endsTimestamp
end

--- The user who holds it.
--- Raises an error for a guild's entitlement; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.User user
function Entitlement:fetchUser() return self.client.users:fetch(self.userId) end

--- Marks a one-time purchase as used; returns the entitlement.
--- Raises `discord.DiscordAPIError` when Discord refuses it (OnlyConsumableSKUsCanBeConsumed).
---@async
---@return discord.Entitlement entitlement
function Entitlement:consume()
  self.client.application.entitlements:consume(self)
  return self
end

--- Deletes a test entitlement; returns it.
--- Raises `discord.DiscordAPIError` when Discord refuses it (YouCanOnlyDeleteSandboxEntitlements).
---@async
---@return discord.Entitlement entitlement
function Entitlement:delete()
  self.client.application.entitlements:deleteTest(self)
  return self
end

return M
