-- The application's SKUs.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

local SKUManager = util.class("SKUManager", base.ResourceManager)
M.SKUManager = SKUManager

--- `SKUManager(application)`.
function SKUManager:init(application)
  self.application = application
  base.ResourceManager.init(self, application.client, require("discord.structures.sku").SKU, nil, application)
end

function SKUManager:_construct(data)
  return self.holds(self.client, data)
end

function SKUManager:_path()
  local appId = self.application.id
  if appId == nil then error(require("discord.errors").LibraryError("ClientNotReady", "fetch SKUs"), 4) end
  return "/applications/" .. appId .. "/skus"
end

--- (B) Every SKU (Discord has no route for one); `fetch(id)` picks it from the list.
function SKUManager:fetch(id, opts)
  if type(id) == "table" and self:resolveId(id) == nil then id, opts = nil, id end
  opts = opts or {}
  if id ~= nil and not opts.force then
    local hit = self:resolve(id)
    if hit then return hit end
  end
  local all = self:_addAll(self.client.rest:get(self:_path()), opts.cache, true)
  if id == nil then return all end
  return all:get(self:resolveId(id))
end

--- Raises: Discord has no route that deletes one.
function SKUManager:delete()
  local gone = require("discord.errors").LibraryError
  error(gone("RouteGone", "SKUManager:delete", "DELETE /applications/{id}/skus/{id}"), 2)
end

return M
