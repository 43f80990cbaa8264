-- Placeholder for module discord.structures.permission_overwrite until the library source lands here.
local M = {}

return M
