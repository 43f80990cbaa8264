-- Placeholder for module discord.structures.applicationcommand until the library source lands here.
local M = {}

return M
