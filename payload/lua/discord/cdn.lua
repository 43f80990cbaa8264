-- Placeholder for module discord.cdn until the library source lands here.
local M = {}

return M
