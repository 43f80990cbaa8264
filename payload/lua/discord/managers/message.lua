-- Placeholder for module discord.managers.message until the library source lands here.
local M = {}

return M
