-- Placeholder for module discord.managers.member until the library source lands here.
local M = {}

return M
