-- Placeholder for module discord.managers.member_role until the library source lands here.
local M = {}

return M
