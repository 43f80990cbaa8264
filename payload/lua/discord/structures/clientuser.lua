-- Placeholder for module discord.structures.clientuser until the library source lands here.
local M = {}

return M
