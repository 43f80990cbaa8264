-- Placeholder for module discord.client.partials until the library source lands here.
local M = {}

return M
