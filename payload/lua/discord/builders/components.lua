-- Placeholder for module discord.builders.components until the library source lands here.
local M = {}

return M
