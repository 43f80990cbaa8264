-- Placeholder for module discord.managers.role until the library source lands here.
local M = {}

return M
