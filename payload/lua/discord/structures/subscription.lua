-- Placeholder for module discord.structures.subscription until the library source lands here.
local M = {}

return M
