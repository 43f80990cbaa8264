-- Placeholder for module discord.rest until the library source lands here.
local M = {}

return M
