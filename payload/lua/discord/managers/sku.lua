-- Placeholder for module discord.managers.sku until the library source lands here.
local M = {}

return M
