-- Placeholder for module discord.builders.slash until the library source lands here.
local M = {}

return M
