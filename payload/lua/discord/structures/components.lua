-- Placeholder for module discord.structures.components until the library source lands here.
local M = {}

return M
