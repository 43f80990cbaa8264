-- Placeholder for module discord.structures.invite until the library source lands here.
local M = {}

return M
