-- Placeholder for module discord.managers.emoji_role until the library source lands here.
local M = {}

return M
