-- Placeholder for module discord.structures.thread_member until the library source lands here.
local M = {}

return M
