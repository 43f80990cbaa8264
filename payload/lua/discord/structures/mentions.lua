-- Placeholder for module discord.structures.mentions until the library source lands here.
local M = {}

return M
