-- Placeholder for module discord.constants until the library source lands here.
local M = {}

return M
