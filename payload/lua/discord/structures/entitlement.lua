-- An entitlement: a user's or guild's access to an SKU, from a purchase, a subscription or a test.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

local Entitlement = util.class("Entitlement", Base)
M.Entitlement = Entitlement

--- `Entitlement(client, data)`.
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

--- Test entitlements have no dates.
function Entitlement:isTest() return self.startsTimestamp == nil end
function Entitlement:isUserSubscription() return self.guildId == nil end
function Entitlement:isGuildSubscription() return self.guildId ~= nil end

--- True while it grants access: not deleted, not consumed, and inside its dates.
function Entitlement:isActive()
  if self.deleted or self.consumed then return false end
  local now = require("runtime").time()
  if self.startsTimestamp and now < self.startsTimestamp then return false end
  return self.endsTimestamp == nil or now < self.endsTimestamp
end

--- (B) The user who holds it.
function Entitlement:fetchUser() return self.client.users:fetch(self.userId) end

--- (B) Marks a one-time purchase as used.
function Entitlement:consume()
  self.client.application.entitlements:consume(self)
  return self
end

--- (B) Deletes a test entitlement.
function Entitlement:delete()
  self.client.application.entitlements:deleteTest(self)
  return self
end

return M
