-- Placeholder for module discord.managers.auto_moderation until the library source lands here.
local M = {}

return M
