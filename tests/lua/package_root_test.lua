-- The package root: exports found in their modules on first use; modules of later versions load but
-- raise a clear error when used.
local discord = require("discord")

describe("package root", function()
  it("exports names from their modules on first use", function()
    assert.are.same({ "1.2.4", discord, require("discord.channel").TextChannel,
      require("discord.formatters").userMention, require("discord.sharding").ShardingManager, nil },
      { discord.version, require("discord.lua"), discord.TextChannel, discord.userMention, discord.ShardingManager,
        discord.NoSuchThing })
  end)

  it("refuses later-stage names and modules with a clear error", function()
    local function refused(name, use)
      local ok, err = pcall(use)
      assert.is_false(ok, name)
      assert.truthy(tostring(err):find(name .. " is not available in this version", 1, true), tostring(err))
    end
    refused("discord.structures.webhook", function() return discord.WebhookClient end)
    for _, name in ipairs({ "discord.structures.webhook", "discord.managers.ban", "@discord/voice",
      "discord.managers.soundboard" }) do
      local mod = require(name)
      for _, use in ipairs({ function() return mod.anything end, function() mod.x = 1 end, function() mod() end }) do
        refused(name, use)
      end
    end
  end)
end)
