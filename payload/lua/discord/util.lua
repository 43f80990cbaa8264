-- Placeholder for module discord.util until the library source lands here.
local M = {}

return M
