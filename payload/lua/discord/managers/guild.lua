-- Placeholder for module discord.managers.guild until the library source lands here.
local M = {}

return M
