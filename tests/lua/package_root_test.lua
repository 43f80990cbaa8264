-- The package root: version, exports found in their modules on first use, later-stage names that
-- say they are not available.
local discord = require("discord")

describe("package root", function()
  it("exports names from their modules on first use", function()
    assert.are.equal("1.2.4", discord.version)
    local cases = {
      { "TextChannel", "discord.channel" }, { "GuildMember", "discord.member" },
      { "EmbedBuilder", "discord.embed" }, { "ClientUser", "discord.structures.clientuser" },
      { "GuildMemberRoleManager", "discord.managers.member_role" }, { "WebSocketShard", "discord.ws" },
      { "ChannelType", "discord.enums" }, { "userMention", "discord.formatters" },
      { "DiscordAPIError", "discord.errors" },
    }
    for _, c in ipairs(cases) do
      local value = discord[c[1]]
      assert.is_not_nil(value, c[1])
      assert.are.equal(require(c[2])[c[1]], value, c[1])
    end
    assert.are.equal(require("discord.cdn"), discord.cdn)
    assert.is_nil(discord.NoSuchThing)
    assert.are.equal(require("discord"), require("discord.lua"))
  end)

  it("names later-stage features as not available in this version", function()
    for _, name in ipairs({ "SlashCommandBuilder", "ButtonBuilder", "ShardingManager", "Partials" }) do
      local ok, err = pcall(function() return discord[name] end)
      assert.is_false(ok, name)
      assert.matches("is not available in this version", tostring(err), 1, true)
    end
  end)
end)
