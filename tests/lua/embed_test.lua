-- EmbedBuilder's own checks (raw embed tables share the field limits: regressions_test).
local EmbedBuilder = require("discord.embed").EmbedBuilder

describe("EmbedBuilder", function()
  it("refuses bad parts, counts code points, and checks the total when turned into JSON", function()
    for _, c in ipairs({
      { "empty field", function(b) b:addFields({ name = "", value = "v" }) end, "must not be empty" },
      { "URL", function(b) b:setURL("ftp://x") end, "http(s) or attachment:// URL" },
      { "colour", function(b) b:setColor("mauve-ish") end, "not a colour" },
      { "26 fields", function(b)
        for i = 1, 26 do b:addFields({ name = "f" .. i, value = "v" }) end
      end, "at most 25 fields" },
      { "nothing", function(b) b:toJSON() end, "at least one part" },
    }) do
      assert.error_matches(function() c[2](EmbedBuilder()) end, c[3], nil, true, c[1])
    end
    -- 256 two-byte characters are 512 bytes but within the title limit.
    assert.has_no.errors(function() EmbedBuilder():setTitle(("\u{e9}"):rep(256)) end)
    local b = EmbedBuilder():setDescription(("d"):rep(4096))
    for i = 1, 2 do b:addFields({ name = "n" .. i, value = ("v"):rep(1000) }) end
    assert.same({ 4096 + 2 * (2 + 1000), true }, { b.length,
      tostring(select(2, pcall(b.toJSON, b))):find("over the 6000 limit", 1, true) ~= nil })
  end)
end)
