-- The MLS layer against the working group's interoperability vectors (read from ../shared/references).
local json = require("json")
local voice = require("@discord/voice")
local mls = voice._daveMls

local DIR = "../shared/references/mls-vectors/"

local function vectors(name)
  local f = io.open(DIR .. name, "rb")
  if not f then return nil end
  local text = f:read("a")
  f:close()
  return json.decode(text)
end

local function unhex(h) return (h:gsub("..", function(b) return string.char(tonumber(b, 16)) end)) end
local function hex(s) return (s:gsub(".", function(c) return string.format("%02x", c:byte()) end)) end
local function opt(v) if v ~= json.null then return v end end

-- Runs body(data) on the named vector file, or marks the test pending when the references are absent.
local function withVectors(name, body)
  return function()
    local data = vectors(name)
    if not data then return pending("no " .. DIR .. name) end
    body(data)
  end
end

describe("MLS codec", function()
  it("reads every varint header of the vectors and writes it back", withVectors("deserialization.json", function(v)
    for _, c in ipairs(v) do
      local r = mls.reader(unhex(c.vlbytes_header))
      assert.equal(c.length, r:varint(), c.vlbytes_header)
      assert.is_true(r:done())
      assert.equal(c.vlbytes_header, hex(mls.varint(c.length)))
    end
    assert.equal(14, #v)
  end))

  it("refuses non-minimal, reserved and truncated encodings", function()
    for _, h in ipairs({ "4000", "403f", "80000000", "80003fff", "c0000000", "40", "800000", "0201" }) do
      assert.has_error(function()
        local r = mls.reader(unhex(h))
        r:vec()
      end, nil, h)
    end
    assert.has_error(function() mls.reader("\2"):optional(mls.reader("").u8) end)
    assert.has_error(function() mls.varint(1 << 30) end)
  end)

  it("round-trips a struct of integers, vectors, lists and optionals", function()
    local w = mls.writer():u8(1):u16(0xBEEF):u32(7):u64(-1):fixed("ab", 2):vec(string.rep("x", 64))
    w:list({ "p", "qq" }, function(s, item) s:vec(item) end):optional(nil):optional(5, w.u16)
    local bytes = w:bytes()
    local r = mls.reader(bytes)
    assert.same({ 1, 0xBEEF, 7, -1, "ab" }, { r:u8(), r:u16(), r:u32(), r:u64(), r:fixed(2) })
    assert.equal(string.rep("x", 64), r:vec())
    assert.same({ "p", "qq" }, r:list(function(s) return s:vec() end))
    assert.is_nil(r:optional(r.u16))
    assert.equal(5, r:optional(r.u16))
    r:finish()
    local long = mls.reader(bytes .. "\0")
    long:fixed(#bytes)
    assert.has_error(function() long:finish() end)
    assert.has_error(function() mls.writer():fixed("abc", 2) end)
  end)
end)

describe("MLS tree math", function()
  it("matches root, left, right, parent and sibling for every node", withVectors("tree-math.json", function(v)
    local t, checked = mls.tree, 0
    for _, c in ipairs(v) do
      local n = c.n_leaves
      assert.equal(c.n_nodes, t.width(n))
      assert.equal(c.root, t.root(n))
      for x = 0, c.n_nodes - 1 do
        local i = x + 1
        assert.equal(opt(c.left[i]), t.left(x))
        assert.equal(opt(c.right[i]), t.right(x))
        assert.equal(opt(c.parent[i]), t.parent(x, n))
        assert.equal(opt(c.sibling[i]), t.sibling(x, n))
        checked = checked + 1
      end
    end
    assert.equal(10, #v)
    assert.equal(2036, checked)
  end))

  it("gives the direct path and copath of a leaf", function()
    local t = mls.tree
    assert.same({ 1, 3, 7 }, t.directPath(0, 8))
    assert.same({ 2, 5, 11 }, t.copath(0, 8))
    assert.same({ 13, 11, 7 }, t.directPath(14, 8))
    assert.same({ 12, 9, 3 }, t.copath(14, 8))
    assert.same({}, t.directPath(0, 1))
  end)
end)
