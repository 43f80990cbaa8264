-- Placeholder for module discord.structures.sticker until the library source lands here.
local M = {}

return M
