-- Placeholder for module discord.channel until the library source lands here.
local M = {}

return M
