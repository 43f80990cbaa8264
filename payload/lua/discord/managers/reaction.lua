-- Placeholder for module discord.managers.reaction until the library source lands here.
local M = {}

return M
