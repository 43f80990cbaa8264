-- Placeholder for module discord.message until the library source lands here.
local M = {}

return M
