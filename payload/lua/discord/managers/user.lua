-- Placeholder for module discord.managers.user until the library source lands here.
local M = {}

return M
