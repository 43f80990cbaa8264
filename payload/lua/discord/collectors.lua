-- Placeholder for module discord.collectors until the library source lands here.
local M = {}

return M
