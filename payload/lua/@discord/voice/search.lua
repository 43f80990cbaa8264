-- Placeholder for module @discord/voice/search until the library source lands here.
local M = {}

return M
