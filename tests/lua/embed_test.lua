-- EmbedBuilder against Discord's limits.
local embed = require("discord.embed")
local EmbedBuilder = embed.EmbedBuilder

local function field(i) return { name = "f" .. i, value = "v" } end

describe("EmbedBuilder", function()
  it("refuses parts over their limits and counts code points, not bytes", function()
    local cases = {
      { "title", function(b) b:setTitle(("x"):rep(257)) end, "title is longer than 256" },
      { "field value", function(b) b:addFields({ name = "n", value = ("x"):rep(1025) }) end, "field value is longer" },
      { "empty field", function(b) b:addFields({ name = "", value = "v" }) end, "must not be empty" },
      { "URL", function(b) b:setURL("ftp://x") end, "http(s) or attachment:// URL" },
      { "colour", function(b) b:setColor("mauve-ish") end, "not a colour" },
      { "26 fields", function(b)
        for i = 1, 25 do b:addFields(field(i)) end
        b:addFields(field(26))
      end, "at most 25 fields" },
    }
    for _, c in ipairs(cases) do
      local ok, err = pcall(c[2], EmbedBuilder())
      assert.is_false(ok, c[1])
      assert.truthy(tostring(err):find(c[3], 1, true), c[1] .. ": " .. tostring(err))
    end
    -- 256 two-byte characters are 512 bytes but within the title limit.
    assert.has_no.errors(function() EmbedBuilder():setTitle(("\u{e9}"):rep(256)) end)
  end)

  it("checks the 6000-character total when turned into JSON", function()
    local b = EmbedBuilder():setDescription(("d"):rep(4096))
    for i = 1, 2 do b:addFields({ name = "n" .. i, value = ("v"):rep(1000) }) end
    assert.are.equal(4096 + 2 * (2 + 1000), b.length)
    assert.truthy(tostring(select(2, pcall(b.toJSON, b))):find("over the 6000 limit", 1, true))
    assert.truthy(tostring(select(2, pcall(EmbedBuilder().toJSON, EmbedBuilder()))):find("at least one part"))
  end)

end)
