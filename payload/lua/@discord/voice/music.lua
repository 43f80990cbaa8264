-- Placeholder for module @discord/voice/music until the library source lands here.
local M = {}

return M
