-- Placeholder for module discord.structures.audit_log until the library source lands here.
local M = {}

return M
