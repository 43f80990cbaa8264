-- The bottom layer: snowflakes, bit fields, intents, collections, errors, enums, formatters, CDN.
local snowflake = require("discord.snowflake")
local bitfield = require("discord.bitfield")
local intents = require("discord.intents")
local collection = require("discord.collection")
local errors = require("discord.errors")
local enums = require("discord.enums")
local F = require("discord.formatters")
local cdn = require("discord.cdn")

describe("snowflake", function()
  it("reads the parts of an ID", function()
    assert.same({ id = "175928847299117063", timestamp = 1462015105796, workerId = 1, processId = 0, increment = 7 },
      snowflake.deconstruct("175928847299117063"))
  end)

  it("generates IDs that read back and order by time, not by text", function()
    local a = snowflake.generate({ timestamp = 1462015105796, increment = 7 })
    assert.equal("175928847299117063", a)
    assert.equal(1700000000000, snowflake.timestamp(snowflake.fromTimestamp(1700000000000)))
    assert.same({ -1, 1, 0 }, { snowflake.compare("9", "10"), snowflake.compare("10", "9"), snowflake.compare(5, "5") })
  end)

  it("refuses what is not an unsigned 63-bit decimal", function()
    for _, bad in ipairs({ "12a", "-1", "", "9223372036854775808", 1.5 }) do
      assert.is_false(snowflake.isValid(bad), tostring(bad))
    end
    assert.is_true(snowflake.isValid("9223372036854775807"))
    assert.has_error(function() snowflake.generate({ timestamp = 0 }) end)
  end)
end)

describe("bitfield", function()
  local P = bitfield.PermissionsBitField

  it("resolves names, numbers, decimal strings, lists and other bit fields alike", function()
    local want = (1 << 11) | (1 << 62)
    for _, v in ipairs({ want, "4611686018427389952", { "SendMessages", 1 << 62 }, P(want) }) do
      assert.equal(want, P(v).bitfield)
    end
    assert.has_error(function() P("NoSuchFlag") end)
  end)

  it("keeps bits 62 and 63 and writes them unsigned", function()
    local p = P({ 1 << 62, 1 << 63 })
    assert.equal("13835058055282163712", p:toJSON())
    assert.equal(1 << 63, P("9223372036854775808").bitfield)
    assert.equal(-1, bitfield.parseUnsigned("18446744073709551615"))
    assert.is_nil(bitfield.parseUnsigned("18446744073709551616"))
    assert.equal("18446744073709551615", bitfield.unsignedString(-1))
  end)

  it("adds, removes, lists and checks permissions with Administrator implying all", function()
    local p = P():add("ViewChannel", "SendMessages", "BypassSlowmode"):remove("ViewChannel")
    assert.same({ "SendMessages", "BypassSlowmode" }, p:toArray())
    assert.same({ "KickMembers" }, p:missing({ "SendMessages", "KickMembers" }))
    local admin = P("Administrator")
    assert.is_true(admin:has("BanMembers"))
    assert.is_false(admin:has("BanMembers", false))
    assert.has_error(function() p:freeze():add("KickMembers") end)
    assert.is_true(P(p.bitfield) == p)
  end)
end)

describe("intents", function()
  it("derives intents from events without privileged ones except where an event needs them", function()
    local F_ = intents.Flags
    assert.equal(F_.Guilds | F_.GuildMessages | F_.DirectMessages, intents.intentsFor({ "messageCreate", "ready" }))
    assert.equal(F_.Guilds | F_.GuildMembers, intents.intentsFor({ "guildMemberAdd" }))
    assert.same({ "GuildMembers", "MessageContent" },
      intents.privilegedIn({ "Guilds", "MessageContent", "GuildMembers" }))
    assert.equal(F_.GuildModeration, intents.resolve("GuildBans"))
    assert.same({ "typingStart" }, intents.eventsMissing({ "Guilds", "GuildMessages" }, { "messageCreate",
      "typingStart" }))
  end)
end)

describe("Collection", function()
  local Collection, LimitedCollection = collection.Collection, collection.LimitedCollection

  it("keeps insertion order through deletes, re-sets and compaction", function()
    local c = Collection()
    for i = 1, 40 do c:set("k" .. i, i) end
    for i = 1, 35 do c:delete("k" .. i) end
    c:set("k36", 360)
    c:set("k1", 1)
    assert.same({ "k36", "k37", "k38", "k39", "k40", "k1" }, c:keys())
    assert.equal(6, c.size)
    assert.equal(6, #c)
    assert.same({ 360, 1 }, { c:first(), c:last() })
    assert.same({ 39, 40 }, { c:at(-3), c:at(-2) })
  end)

  it("filters, maps, partitions, sorts and reduces", function()
    local c = Collection({ { "a", 3 }, { "b", 1 }, { "c", 2 } })
    assert.same({ "a", "c" }, c:filter(function(v) return v >= 2 end):keys())
    assert.same({ 6, 2, 4 }, c:map(function(v) return v * 2 end))
    local big, small = c:partition(function(v) return v > 1 end)
    assert.same({ { "a", "c" }, { "b" } }, { big:keys(), small:keys() })
    assert.same({ "b", "c", "a" }, c:sorted(function(x, y) return x < y end):keys())
    assert.equal(6, c:reduce(function(acc, v) return acc + v end))
    assert.equal("c", c:findKey(function(v) return v == 2 end))
    assert.equal(2, c:sweep(function(v) return v < 3 end))
    assert.same({ "a" }, c:keys())
    assert.has_error(function() Collection():reduce(function() end) end)
  end)

  it("drops the oldest entries beyond maxSize, sparing what keepOverLimit keeps", function()
    local c = LimitedCollection({ maxSize = 2, keepOverLimit = function(v) return v.pinned end })
    c:set("1", { pinned = true })
    c:set("2", {})
    c:set("3", {})
    c:set("4", {})
    assert.same({ "1", "3", "4" }, c:keys())
    assert.equal(0, LimitedCollection(0):set("x", 1).size)
  end)
end)

describe("errors", function()
  it("flattens form errors and prints them", function()
    local e = errors.DiscordAPIError({
      code = 50035, message = "Invalid Form Body",
      errors = { embeds = { ["0"] = { title = { _errors = { { code = "BASE_TYPE_MAX_LENGTH",
        message = "Must be 256 or fewer in length." } } } } },
        content = { _errors = { { code = "X", message = "Bad" } } } },
    }, 400, "POST", "/channels/1/messages")
    assert.same({ "content: Bad", "embeds[0].title: Must be 256 or fewer in length." }, e.errors)
    assert.equal("DiscordAPIError[50035]: Invalid Form Body (POST /channels/1/messages)\ncontent: Bad\n"
      .. "embeds[0].title: Must be 256 or fewer in length.", tostring(e))
  end)

  it("match by class, subclass and code", function()
    local e = errors.DiscordAPIError({ code = 10008, message = "Unknown Message" }, 404, "GET", "/x")
    assert.is_true(errors.is(e, "DiscordAPIError", 10008))
    assert.is_true(errors.is(e, "DiscordAPIError", "UnknownMessage"))
    assert.is_true(errors.is(e, "DiscordError"))
    assert.is_false(errors.is(e, "DiscordAPIError", 10003))
    assert.is_false(errors.is(e, "HTTPError"))
    assert.is_false(errors.is("a string", "DiscordAPIError"))
    assert.has_error(function() errors.is(e, "NoSuchError") end)
    assert.equal("UnknownMessage", errors.Codes[10008])
  end)

  it("describe gateway closes and library faults", function()
    local g = errors.GatewayError(4014, "Disallowed intent(s).")
    assert.same({ true, "GatewayError[4014]: Disallowed intent(s)" }, { g.fatal, tostring(g) })
    assert.is_false(errors.GatewayError(4009).fatal)
    local ok, err = pcall(errors.notAvailable, "Voice")
    assert.is_false(ok)
    assert.equal("LibraryError[NotAvailable]: Voice is not available in this version.", tostring(err))
    assert.equal("HTTPError[timeout]: request timed out (GET /gateway/bot)",
      tostring(errors.HTTPError({ message = "request timed out", kind = "timeout", method = "GET",
        path = "/gateway/bot" })))
  end)
end)

describe("enums", function()
  it("look up both ways, raise on misspelt names and return nil for new numbers", function()
    assert.same({ 0, "GuildText", 7 }, { enums.ChannelType.GuildText, enums.ChannelType[0],
      enums.GatewayOpcodes.Reconnect })
    assert.is_nil(enums.ChannelType[99])
    assert.has_error(function() return enums.ChannelType.GuildTxt end)
    assert.equal("Forward", enums.nameOf(enums.MessageReferenceType, 1))
  end)
end)

describe("formatters", function()
  it("write mentions, timestamps and markup", function()
    local cases = {
      { F.userMention("1"), "<@1>" }, { F.roleMention({ id = "2" }), "<@&2>" }, { F.channelMention("3"), "<#3>" },
      { F.formatEmoji("4", true), "<a:_:4>" }, { F.chatInputApplicationCommandMention("ping", "5"), "</ping:5>" },
      { F.chatInputApplicationCommandMention("a", "b", "c", "6"), "</a b c:6>" },
      { F.time(1700000000999), "<t:1700000000>" }, { F.time(1700000000000, "RelativeTime"), "<t:1700000000:R>" },
      { F.codeBlock("lua", "x"), "```lua\nx\n```" }, { F.inlineCode("a`b"), "`` a`b ``" },
      { F.heading("h", 2), "## h" }, { F.orderedList({ "a", { "b" } }), "1. a\n  1. b" },
      { F.hyperlink("t", "https://x", "T"), '[t](https://x "T")' },
      { F.messageLink("2", "3", "1"), "https://discord.com/channels/1/2/3" },
      { F.escapeMentions("@everyone <@12>"), "@\u{200B}everyone <@\u{200B}12>" },
    }
    for i, c in ipairs(cases) do assert.equal(c[2], c[1], "case " .. i) end
    assert.has_error(function() F.time(0, "Q") end)
  end)

  it("escape markdown, keeping the kinds switched off", function()
    assert.equal("\\*\\*b\\*\\* \\_i\\_ \\`c\\` \\|\\|s\\|\\| \\~\\~x\\~\\~\n\\# h\n\\- l\n1\\. n\n\\> q \\[a\\](u)",
      F.escapeMarkdown("**b** _i_ `c` ||s|| ~~x~~\n# h\n- l\n1. n\n> q [a](u)"))
    assert.equal("**b** `c`", F.escapeMarkdown("**b** `c`", { bold = false, italic = false, inlineCode = false,
      codeBlock = false }))
  end)
end)

describe("cdn", function()
  local B = "https://cdn.discordapp.com/"
  it("builds image addresses with the size and format rules", function()
    local cases = {
      { cdn.avatar("1", "abc"), B .. "avatars/1/abc.webp" },
      { cdn.avatar("1", "a_abc"), B .. "avatars/1/a_abc.gif" },
      { cdn.avatar("1", "a_abc", { forceStatic = true, size = 64 }), B .. "avatars/1/a_abc.webp?size=64" },
      { cdn.avatar("1", "a_abc", { extension = "webp" }), B .. "avatars/1/a_abc.webp?animated=true" },
      { cdn.icon("2", "h", { extension = "png", size = 4096 }), B .. "icons/2/h.png?size=4096" },
      { cdn.guildMemberAvatar("2", "1", "h"), B .. "guilds/2/users/1/avatars/h.webp" },
      { cdn.emoji("3", { animated = true }), B .. "emojis/3.gif" },
      { cdn.sticker("4", 3), B .. "stickers/4.json" },
      { cdn.sticker("4", 4), "https://media.discordapp.net/stickers/4.gif" },
      { cdn.defaultAvatar(cdn.defaultAvatarIndex("175928847299117063")), B .. "embed/avatars/2.png" },
      { cdn.defaultAvatar(cdn.defaultAvatarIndex("1", "1337")), B .. "embed/avatars/2.png" },
    }
    for i, c in ipairs(cases) do assert.equal(c[2], c[1], "case " .. i) end
  end)

  it("refuses sizes and formats the CDN does not serve", function()
    for _, opts in ipairs({ { size = 100 }, { size = 8192 }, { extension = "bmp" } }) do
      local ok, err = pcall(cdn.icon, "1", "h", opts)
      assert.is_false(ok)
      assert.is_true(errors.is(err, "LibraryError", "InvalidOption"))
    end
    assert.has_error(function() cdn.defaultAvatar(6) end)
  end)
end)
