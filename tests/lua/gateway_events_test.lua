-- Dispatch handlers: each gateway event patches the cache first, then emits the library event with
-- the objects (and, for updates, the object as it was before).
local runtime = require("runtime")
local server = require("fake.discord.server")

local INTENTS = { "Guilds", "GuildMembers", "GuildMessages", "MessageContent", "DirectMessages" }

describe("gateway events", function()
  it("patch the cache and emit what changed", function()
    -- Each row: the event the fake sends (built from its store), the library event, and a check
    -- that gets the client, the fake and the event's arguments.
    local cases = {
      { "CHANNEL_UPDATE", function(fd)
          fd.general.name = "renamed"
          return fd.store:channelJSON(fd.general)
        end, "channelUpdate", function(client, fd, old, new)
          assert.are.same({ "general", "renamed" }, { old.name, new.name })
          assert.are.equal(client.channels.cache:get(fd.general.id), new)
        end },
      { "CHANNEL_DELETE", function(fd) return fd.store:channelJSON(fd.general) end, "channelDelete",
        function(client, fd, ch)
          assert.are.equal("general", ch.name)
          assert.is_nil(client.channels.cache:get(fd.general.id))
          assert.is_nil(client.guilds.cache:get(fd.guild.id).channels.cache:get(fd.general.id))
        end },
      { "GUILD_DELETE", function(fd) return { id = fd.guild.id, unavailable = true } end, "guildUnavailable",
        function(client, fd, guild)
          assert.is_false(guild.available)
          assert.are.equal(guild, client.guilds.cache:get(fd.guild.id))
        end },
      { "GUILD_DELETE", function(fd) return { id = fd.guild.id } end, "guildDelete", function(client, fd, guild)
          assert.are.equal("Test Guild", guild.name)
          assert.is_nil(client.guilds.cache:get(fd.guild.id))
          assert.is_nil(client.channels.cache:get(fd.general.id))
        end },
      { "GUILD_MEMBER_UPDATE", function(fd)
          local m = fd.guild.members[fd.bob.id]
          m.nick, m.roles = "bobby", { fd.member_role.id }
          local d = fd.store:memberJSON(fd.guild, m)
          d.guild_id = fd.guild.id
          return d
        end, "guildMemberUpdate", function(_, fd, old, new)
          assert.are.same({ nil, "bobby" }, { old.nickname, new.nickname })
          assert.is_false(old.roles:has(fd.member_role.id))
          assert.is_true(new.roles:has(fd.member_role.id))
        end },
      { "MESSAGE_UPDATE", function(fd)
          local msg = fd:say(fd.alice, fd.general, "first draft")
          return { id = msg.id, channel_id = fd.general.id, guild_id = fd.guild.id, content = "final" }
        end, "messageUpdate", function(_, _, old, new)
          assert.are.same({ "first draft", "final" }, { old.content, new.content })
        end },
      { "MESSAGE_DELETE", function(fd)
          local msg = fd:say(fd.alice, fd.general, "gone soon")
          return { id = msg.id, channel_id = fd.general.id, guild_id = fd.guild.id }
        end, "messageDelete", function(client, fd, msg)
          assert.are.equal("gone soon", msg.content)
          assert.is_nil(client.channels.cache:get(fd.general.id).messages.cache:get(msg.id))
        end },
      { "MESSAGE_CREATE", function(fd)
          local dm = fd.store:addChannel(nil, { type = 1, recipients = { fd.alice.id } })
          fd:say(fd.alice, dm, "hello in private")
        end, "messageCreate", function(client, fd, msg)
          assert.are.equal("hello in private", msg.content)
          assert.are.equal(fd.alice.id, msg.author.id)
          assert.are.equal(msg.channel, client.channels.cache:get(msg.channelId))
          assert.is_nil(msg.guild)
        end },
    }
    for _, c in ipairs(cases) do
      local t, make, event, check = table.unpack(c)
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
      check(client, fd, table.unpack(args, 1, args.n))
      client:destroy()
      runtime.run(nil, { ["for"] = 1000 })
    end
  end)
end)
