-- Placeholder for module discord.formatters until the library source lands here.
local M = {}

return M
