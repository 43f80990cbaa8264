-- Placeholder for module discord.managers.subscription until the library source lands here.
local M = {}

return M
