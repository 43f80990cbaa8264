-- Placeholder for module discord.structures.automod until the library source lands here.
local M = {}

return M
