-- Placeholder for module discord.sharding until the library source lands here.
local M = {}

return M
