-- Placeholder for module discord.managers.stage_instance until the library source lands here.
local M = {}

return M
