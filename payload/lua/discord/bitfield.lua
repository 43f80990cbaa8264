-- Placeholder for module discord.bitfield until the library source lands here.
local M = {}

return M
