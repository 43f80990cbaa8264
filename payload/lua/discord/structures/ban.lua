-- Placeholder for module discord.structures.ban until the library source lands here.
local M = {}

return M
