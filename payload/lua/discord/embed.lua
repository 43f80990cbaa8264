-- Placeholder for module discord.embed until the library source lands here.
local M = {}

return M
