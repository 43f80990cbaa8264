-- The application's SKUs.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

--- The application's SKUs (`client.application.skus`).
---@class discord.SKUManager: discord.ResourceManager
---@field application discord.ClientApplication The application the SKUs belong to.
local SKUManager = util.class("SKUManager", base.ResourceManager)
M.SKUManager = SKUManager

--- Made by the application.
---@private
---@param application discord.ClientApplication
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

--- Every SKU as a Collection; `fetch(id)` picks one from the list (Discord has no route for one).
--- Raises `discord.LibraryError` ClientNotReady before READY; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id? any The SKU or its ID.
---@param opts? discord.FetchOptions
---@return discord.SKU|discord.Collection|nil result Nil when no SKU has the ID.
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

--- Always raises: Discord has no route that deletes a SKU.
--- Raises `discord.LibraryError` RouteGone.
---@deprecated Discord has no such route.
function SKUManager:delete()
  local gone = require("discord.errors").LibraryError
  error(gone("RouteGone", "SKUManager:delete", "DELETE /applications/{id}/skus/{id}"), 2)
end

return M
