-- Placeholder for module discord.structures.other until the library source lands here.
local M = {}

return M
