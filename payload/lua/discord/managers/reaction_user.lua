-- Placeholder for module discord.managers.reaction_user until the library source lands here.
local M = {}

return M
