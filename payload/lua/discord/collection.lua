-- Placeholder for module discord.collection until the library source lands here.
local M = {}

return M
