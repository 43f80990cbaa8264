-- Placeholder for module discord.managers.poll_answer_voter until the library source lands here.
local M = {}

return M
