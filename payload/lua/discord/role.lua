-- Placeholder for module discord.role until the library source lands here.
local M = {}

return M
