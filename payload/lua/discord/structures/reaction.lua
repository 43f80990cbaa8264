-- Placeholder for module discord.structures.reaction until the library source lands here.
local M = {}

return M
