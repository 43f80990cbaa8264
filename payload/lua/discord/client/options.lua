-- Placeholder for module discord.client.options until the library source lands here.
local M = {}

return M
