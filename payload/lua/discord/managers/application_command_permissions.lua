-- Placeholder for module discord.managers.application_command_permissions until the library source lands here.
local M = {}

return M
