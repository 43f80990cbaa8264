-- Placeholder for module discord.builders.attachment until the library source lands here.
local M = {}

return M
