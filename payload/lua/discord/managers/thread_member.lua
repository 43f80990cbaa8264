-- Placeholder for module discord.managers.thread_member until the library source lands here.
local M = {}

return M
