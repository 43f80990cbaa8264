-- Placeholder for module discord.structures.webhook until the library source lands here.
local M = {}

return M
