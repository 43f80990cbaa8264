-- Guild stickers, packs.
-- This part comes in a later version of the library: the module loads, and any use of it raises
-- "discord.managers.sticker is not available in this version."
local errors = require("discord.errors")

local NAME = "discord.managers.sticker"

local function unavailable()
  errors.notAvailable(NAME, 2)
end

return setmetatable({}, { __index = unavailable, __newindex = unavailable, __call = unavailable })
