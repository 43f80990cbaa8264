-- Placeholder for module discord.managers.application_command until the library source lands here.
local M = {}

return M
