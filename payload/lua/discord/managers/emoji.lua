-- Placeholder for module discord.managers.emoji until the library source lands here.
local M = {}

return M
