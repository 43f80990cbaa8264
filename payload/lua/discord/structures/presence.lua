-- Placeholder for module discord.structures.presence until the library source lands here.
local M = {}

return M
