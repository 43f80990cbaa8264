-- The reference site: the annotation checker, the guide's samples, the built site's links and the site in
-- headless Chromium.
local function run(cmd)
  local p = io.popen(cmd .. " 2>&1")
  local out = p:read("a")
  local ok, _, code = p:close()
  return out, ok and 0 or code
end

local function read(path)
  local f = assert(io.open(path, "rb"))
  local s = f:read("a")
  f:close()
  return s
end

describe("annotation check", function()
  it("lists each kind of fault of the fixture module, and only those", function()
    local out, code = run("lua5.4 scripts/site/build.lua --check --root tests/data/site")
    assert.same({ read("tests/data/site/check.txt"), 1 }, { out, code })
  end)

  it("finds a reference entry for every export of the library", function()
    local out, code = run("lua5.4 scripts/site/build.lua --check")
    assert.equal(0, code, out)
  end)
end)
