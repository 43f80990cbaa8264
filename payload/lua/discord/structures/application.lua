-- Placeholder for module discord.structures.application until the library source lands here.
local M = {}

return M
