-- Placeholder for module discord.interaction until the library source lands here.
local M = {}

return M
