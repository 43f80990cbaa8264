-- Placeholder for module discord.errors until the library source lands here.
local M = {}

return M
