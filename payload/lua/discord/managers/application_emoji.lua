-- Placeholder for module discord.managers.application_emoji until the library source lands here.
local M = {}

return M
