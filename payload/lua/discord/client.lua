-- Placeholder for module discord.client until the library source lands here.
local M = {}

return M
