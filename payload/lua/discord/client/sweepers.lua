-- Placeholder for module discord.client.sweepers until the library source lands here.
local M = {}

return M
