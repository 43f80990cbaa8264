-- Placeholder for module discord.structures.voicestate until the library source lands here.
local M = {}

return M
