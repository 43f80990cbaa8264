-- Placeholder for module discord.managers.invite until the library source lands here.
local M = {}

return M
