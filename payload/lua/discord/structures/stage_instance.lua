-- Placeholder for module discord.structures.stage_instance until the library source lands here.
local M = {}

return M
