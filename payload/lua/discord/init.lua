-- Placeholder for module discord until the library source lands here.
local M = {}

return M
