-- Placeholder for module discord.member until the library source lands here.
local M = {}

return M
