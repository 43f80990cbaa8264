-- The reference vectors: tests/data/dave, or ../shared/references beside the checkout for the few that
-- may not ship (tests/data/dave/README.md says which); a test whose file is in neither is pending.
local json = require("json")

local M = {}
local DIRS = { "tests/data/dave/", "../shared/references/" }

function M.unhex(h) return (h:gsub("..", function(b) return string.char(tonumber(b, 16)) end)) end
function M.hex(s) return (s:gsub(".", function(c) return string.format("%02x", c:byte()) end)) end

--- with(name, body) gives a test that runs body(doc) on the named file. `skip(why)` calls pending from
--- the test file: busted gives it to the file's own functions only.
function M.within(skip)
  return function(name, body)
    return function()
      for _, dir in ipairs(DIRS) do
        local f = io.open(dir .. name, "rb")
        if f then
          local doc = json.decode(f:read("a"))
          f:close()
          return body(doc)
        end
      end
      return skip("no " .. name .. " in " .. table.concat(DIRS, " or "))
    end
  end
end

return M
