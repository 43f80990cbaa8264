-- Placeholder for module discord.user until the library source lands here.
local M = {}

return M
