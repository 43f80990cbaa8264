-- The package root: exports found in their modules on first use, later-stage names that say they
-- are not available.
local discord = require("discord")

describe("package root", function()
  it("exports names from their modules on first use and refuses later-stage ones", function()
    assert.are.equal("1.2.4", discord.version)
    assert.are.equal(require("discord.channel").TextChannel, assert(discord.TextChannel))
    assert.are.equal(require("discord.formatters").userMention, assert(discord.userMention))
    assert.are.equal(discord, require("discord.lua"))
    assert.is_nil(discord.NoSuchThing)
    assert.are.equal(require("discord.sharding").ShardingManager, discord.ShardingManager)
    local ok, err = pcall(function() return discord.WebhookClient end)
    assert.is_false(ok)
    assert.matches("is not available in this version", tostring(err), 1, true)
  end)
end)
