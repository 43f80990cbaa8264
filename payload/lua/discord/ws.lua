-- Placeholder for module discord.ws until the library source lands here.
local M = {}

return M
