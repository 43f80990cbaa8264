-- Placeholder for module discord.managers.sticker until the library source lands here.
local M = {}

return M
