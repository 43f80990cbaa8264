-- A voice region Discord offers.
local util = require("discord.util")

local M = {}

--- A voice region Discord offers.
---@class discord.VoiceRegion
---@field id string The region's ID.
---@field name string The region's name.
---@field optimal boolean Whether it is the closest to the client.
---@field deprecated boolean Whether it is deprecated (avoid it).
---@field custom boolean Whether it is for events and the like.
local VoiceRegion = util.class("VoiceRegion")
M.VoiceRegion = VoiceRegion

--- `VoiceRegion(data)` from Discord's region object.
---@private
---@param data table
function VoiceRegion:init(data)
  self.id = data.id
  self.name = data.name
  self.optimal = data.optimal == true
  self.deprecated = data.deprecated == true
  self.custom = data.custom == true
end

--- Plain table of the region's fields.
---@return table json
function VoiceRegion:toJSON()
  return { id = self.id, name = self.name, optimal = self.optimal, deprecated = self.deprecated, custom = self.custom }
end

--- The regions for voice channels (`guild` given: the regions of that guild), as a Collection by ID.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param client discord.Client
---@param guild? any A guild or its ID.
---@return discord.Collection regions VoiceRegions by ID.
function M.fetch(client, guild)
  local path = guild and ("/guilds/" .. client.guilds:resolveId(guild) .. "/regions") or "/voice/regions"
  local out = require("discord.collection").Collection()
  for _, r in ipairs(client.rest:get(path)) do out:set(r.id, VoiceRegion(r)) end
  return out
end

-- Client methods ----------------------------------------------------------------------------------------

local Client = require("discord.client").Client

--- The regions Discord offers for voice channels, as a Collection by ID.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.Collection regions VoiceRegions by ID.
function Client:fetchVoiceRegions() return M.fetch(self) end

return M
