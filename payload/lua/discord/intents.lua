-- Placeholder for module discord.intents until the library source lands here.
local M = {}

return M
