-- Placeholder for module discord.structures.poll until the library source lands here.
local M = {}

return M
