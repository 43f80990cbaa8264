-- Placeholder for module discord.managers.voice_state until the library source lands here.
local M = {}

return M
