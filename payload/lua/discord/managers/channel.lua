-- Placeholder for module discord.managers.channel until the library source lands here.
local M = {}

return M
