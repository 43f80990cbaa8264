-- Placeholder for module discord.structures.scheduled_event until the library source lands here.
local M = {}

return M
