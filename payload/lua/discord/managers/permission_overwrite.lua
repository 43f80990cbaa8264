-- Placeholder for module discord.managers.permission_overwrite until the library source lands here.
local M = {}

return M
