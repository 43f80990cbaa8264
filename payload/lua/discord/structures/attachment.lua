-- Placeholder for module discord.structures.attachment until the library source lands here.
local M = {}

return M
