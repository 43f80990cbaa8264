-- Placeholder for module discord.managers.base until the library source lands here.
local M = {}

return M
