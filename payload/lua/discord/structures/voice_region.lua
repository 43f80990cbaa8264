-- A voice region Discord offers.
local util = require("discord.util")

local M = {}

local VoiceRegion = util.class("VoiceRegion")
M.VoiceRegion = VoiceRegion

function VoiceRegion:init(data)
  self.id = data.id
  self.name = data.name
  self.optimal = data.optimal == true
  self.deprecated = data.deprecated == true
  self.custom = data.custom == true
end

function VoiceRegion:toJSON()
  return { id = self.id, name = self.name, optimal = self.optimal, deprecated = self.deprecated, custom = self.custom }
end

--- (B) The regions for voice channels (`guild` given: the regions of that guild), as a Collection by ID.
function M.fetch(client, guild)
  local path = guild and ("/guilds/" .. client.guilds:resolveId(guild) .. "/regions") or "/voice/regions"
  local out = require("discord.collection").Collection()
  for _, r in ipairs(client.rest:get(path)) do out:set(r.id, VoiceRegion(r)) end
  return out
end

-- Client methods ----------------------------------------------------------------------------------------

local Client = require("discord.client").Client

function Client:fetchVoiceRegions() return M.fetch(self) end

return M
