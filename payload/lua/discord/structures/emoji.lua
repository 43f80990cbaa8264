-- Placeholder for module discord.structures.emoji until the library source lands here.
local M = {}

return M
