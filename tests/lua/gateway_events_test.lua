-- Dispatch handlers: each gateway event patches the cache first, then emits the library event with
-- the objects (and, for updates, the object as it was before).
local runtime = require("runtime")
local server = require("fake.discord.server")

local INTENTS = { "Guilds", "GuildMembers", "GuildMessages", "MessageContent", "DirectMessages" }

describe("gateway events", function()
  it("patch the cache and emit what changed", function()
    -- Each row: the event the fake sends (`make` may instead cause it), the library event, the
    -- field read from each emitted object, what it reads, and the cache entry left behind.
    local cases = {
      { "CHANNEL_UPDATE", function(fd)
          fd.general.name = "renamed"
          return fd.store:channelJSON(fd.general)
        end, "channelUpdate", "name", { "general", "renamed" },
        function(c, fd) return c.channels.cache:get(fd.general.id).name end, "renamed" },
      { "CHANNEL_DELETE", function(fd) return fd.store:channelJSON(fd.general) end, "channelDelete", "name",
        { "general" }, function(c, fd) return c.guilds.cache:get(fd.guild.id).channels.cache:get(fd.general.id) end },
      { "GUILD_DELETE", function(fd) return { id = fd.guild.id } end, "guildDelete", "name", { "Test Guild" },
        function(c, fd) return c.channels.cache:get(fd.general.id) end },
      { "MESSAGE_DELETE", function(fd)
          local msg = fd:say(fd.alice, fd.general, "gone soon")
          return { id = msg.id, channel_id = fd.general.id, guild_id = fd.guild.id }
        end, "messageDelete", "content", { "gone soon" },
        function(c, fd) return c.channels.cache:get(fd.general.id).messages.cache:first() end },
      { "MESSAGE_CREATE", function(fd)
          fd:say(fd.alice, fd.store:addChannel(nil, { type = 1, recipients = { fd.alice.id } }), "in private")
        end, "messageCreate", "content", { "in private" },
        function(c, fd) return c.users.cache:get(fd.alice.id).dmChannel.messages.cache:first().content end,
        "in private" },
    }
    for _, c in ipairs(cases) do
      local t, make, event, field, values, left, leftValue = table.unpack(c)
      local fd, client = server.login({ intents = INTENTS })
      local args, errors = nil, {}
      client:on(event, function(...) args = table.pack(...) end)
      client:on("error", function(e) errors[#errors + 1] = tostring(e) end)
      runtime.run(function()
        local d = make(fd)
        if d then fd.gateway:dispatch(t, d) end
      end, { ["for"] = 1000 })
      assert.are.same({}, errors, t)
      assert.is_not_nil(args, t .. " -> " .. event)
      local got = {}
      for i = 1, #values do got[i] = args[i][field] end
      assert.are.same(values, got, t)
      if left then assert.are.equal(leftValue, left(client, fd), t) end
      client:destroy()
      runtime.run(nil, { ["for"] = 1000 })
    end
  end)
end)
