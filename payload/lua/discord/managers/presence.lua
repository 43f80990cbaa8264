-- Placeholder for module discord.managers.presence until the library source lands here.
local M = {}

return M
