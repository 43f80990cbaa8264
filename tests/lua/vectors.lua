-- Test data as JSON, and the reference vectors shipped in tests/data/dave (its README.md says where each comes from).
local json = require("json")

local M = {}
local DIR = "tests/data/dave/"

function M.unhex(h) return (h:gsub("..", function(b) return string.char(tonumber(b, 16)) end)) end
function M.hex(s) return (s:gsub(".", function(c) return string.format("%02x", c:byte()) end)) end

function M.json(path)
  local f = assert(io.open(path, "rb"))
  local doc = assert(json.decode(f:read("a")))
  f:close()
  return doc
end

--- A test that runs body(doc) on the named file; a missing file fails it.
function M.with(name, body) return function() return body(M.json(DIR .. name)) end end

return M
