-- Placeholder for module discord.managers.ban until the library source lands here.
local M = {}

return M
