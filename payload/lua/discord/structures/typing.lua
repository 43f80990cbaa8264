-- Placeholder for module discord.structures.typing until the library source lands here.
local M = {}

return M
