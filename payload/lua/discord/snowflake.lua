-- Placeholder for module discord.snowflake until the library source lands here.
local M = {}

return M
