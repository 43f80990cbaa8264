-- Placeholder for module discord.structures.sku until the library source lands here.
local M = {}

return M
