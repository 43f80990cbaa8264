-- Placeholder for module discord.managers.soundboard until the library source lands here.
local M = {}

return M
