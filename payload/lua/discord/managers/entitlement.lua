-- Placeholder for module discord.managers.entitlement until the library source lands here.
local M = {}

return M
