-- Placeholder for module discord.typedefs until the library source lands here.
local M = {}

return M
