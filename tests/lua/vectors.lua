-- The reference vectors in ../shared/references, next to the repository's checkout; the tests that read
-- them are pending when it is not there.
local json = require("json")

local M = {}
local DIR = "../shared/references/"

function M.unhex(h) return (h:gsub("..", function(b) return string.char(tonumber(b, 16)) end)) end
function M.hex(s) return (s:gsub(".", function(c) return string.format("%02x", c:byte()) end)) end

--- A test that runs body(doc) on the named file.
function M.with(name, body)
  return function()
    local f = io.open(DIR .. name, "rb")
    if not f then return pending("no " .. DIR .. name) end
    local doc = json.decode(f:read("a"))
    f:close()
    body(doc)
  end
end

return M
