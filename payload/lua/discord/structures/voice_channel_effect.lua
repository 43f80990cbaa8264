-- Placeholder for module discord.structures.voice_channel_effect until the library source lands here.
local M = {}

return M
