-- Placeholder for module discord.structures.voice_region until the library source lands here.
local M = {}

return M
