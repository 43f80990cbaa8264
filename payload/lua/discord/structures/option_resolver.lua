-- Placeholder for module discord.structures.option_resolver until the library source lands here.
local M = {}

return M
