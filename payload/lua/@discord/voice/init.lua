-- Placeholder for module @discord/voice until the library source lands here.
local M = {}

return M
