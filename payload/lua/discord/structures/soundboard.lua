-- Placeholder for module discord.structures.soundboard until the library source lands here.
local M = {}

return M
