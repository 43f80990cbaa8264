-- Placeholder for module discord.managers.category_child until the library source lands here.
local M = {}

return M
