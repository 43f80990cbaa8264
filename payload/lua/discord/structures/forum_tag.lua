-- Placeholder for module discord.structures.forum_tag until the library source lands here.
local M = {}

return M
