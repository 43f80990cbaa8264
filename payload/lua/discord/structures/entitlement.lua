-- Placeholder for module discord.structures.entitlement until the library source lands here.
local M = {}

return M
