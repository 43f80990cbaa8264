-- Placeholder for module discord.managers.scheduled_event until the library source lands here.
local M = {}

return M
