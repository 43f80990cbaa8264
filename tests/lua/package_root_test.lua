-- The package root: exports found in their modules on first use.
local discord = require("discord")

describe("package root", function()
  it("exports names from their modules on first use", function()
    assert.same({ "1.2.4", discord, require("discord.channel").TextChannel,
      require("discord.formatters").userMention, require("discord.sharding").ShardingManager,
      require("discord.structures.webhook").WebhookClient, require("discord.managers.ban").GuildBanManager, nil },
      { discord.version, require("discord.lua"), discord.TextChannel, discord.userMention, discord.ShardingManager,
        discord.WebhookClient, discord.GuildBanManager, discord.NoSuchThing })
  end)
end)
