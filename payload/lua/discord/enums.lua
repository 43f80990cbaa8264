-- Placeholder for module discord.enums until the library source lands here.
local M = {}

return M
