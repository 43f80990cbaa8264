-- Placeholder for module discord.guild until the library source lands here.
local M = {}

return M
