-- The bottom layer: snowflakes, bit fields, intents, collections, errors, enums, CDN.
local snowflake = require("discord.snowflake")
local bitfield = require("discord.bitfield")
local intents = require("discord.intents")
local collection = require("discord.collection")
local errors = require("discord.errors")
local enums = require("discord.enums")
local cdn = require("discord.cdn")

describe("snowflake", function()
  it("reads, makes and orders IDs as 63-bit numbers", function()
    assert.same({ id = "175928847299117063", timestamp = 1462015105796, workerId = 1, processId = 0, increment = 7 },
      snowflake.deconstruct("175928847299117063"))
    assert.equal("175928847299117063", snowflake.generate({ timestamp = 1462015105796, increment = 7 }))
    assert.same({ -1, 1, 0 }, { snowflake.compare("9", "10"), snowflake.compare("10", "9"), snowflake.compare(5, "5") })
    for _, c in ipairs({ { "12a" }, { "-1" }, { "" }, { "9223372036854775808" }, { 1.5 },
      { "9223372036854775807", true } }) do
      assert.equal(c[2] or false, snowflake.isValid(c[1]), tostring(c[1]))
    end
  end)
end)

describe("bitfield", function()
  local P = bitfield.PermissionsBitField

  it("resolves names, numbers, decimal strings and lists alike, up to bits 62 and 63", function()
    local want = (1 << 11) | (1 << 62)
    for _, v in ipairs({ want, "4611686018427389952", { "SendMessages", 1 << 62 }, P(want) }) do
      assert.equal(want, P(v).bitfield)
    end
    assert.has_error(function() P("NoSuchFlag") end)
    assert.same({ "13835058055282163712", 1 << 63, nil }, { P({ 1 << 62, 1 << 63 }):toJSON(),
      P("9223372036854775808").bitfield, (bitfield.parseUnsigned("18446744073709551616")) })
  end)

  it("adds, removes and checks permissions with Administrator implying all", function()
    local p = P():add("ViewChannel", "SendMessages", "BypassSlowmode"):remove("ViewChannel")
    assert.same({ { "SendMessages", "BypassSlowmode" }, true, false }, { p:toArray(),
      P("Administrator"):has("BanMembers"), P("Administrator"):has("BanMembers", false) })
    assert.has_error(function() p:freeze():add("KickMembers") end)
  end)
end)

describe("intents", function()
  it("derives intents from events without privileged ones except where an event needs them", function()
    local I = intents.Flags
    assert.same({ I.Guilds | I.GuildMessages | I.DirectMessages, I.Guilds | I.GuildMembers },
      { intents.intentsFor({ "messageCreate", "ready" }), intents.intentsFor({ "guildMemberAdd" }) })
  end)
end)

describe("Collection", function()
  local Collection = collection.Collection

  it("keeps insertion order through deletes, re-sets and compaction", function()
    local c = Collection()
    for i = 1, 40 do c:set("k" .. i, i) end
    for i = 1, 35 do c:delete("k" .. i) end
    c:set("k36", 360)
    c:set("k1", 1)
    assert.same({ "k36", "k37", "k38", "k39", "k40", "k1" }, c:keys())
    assert.same({ 6, 360, 1, 39, "Collection(6)" }, { c.size, c:first(), c:last(), c:at(-3), tostring(c) })
    local big, small = c:partition(function(v) return v > 39 end)
    assert.same({ { "k36", "k40" }, { "k37", "k38", "k39", "k1" }, { "k1", "k37", "k38", "k39", "k40", "k36" } },
      { big:keys(), small:keys(), c:sorted(function(x, y) return x < y end):keys() })
    -- A limited one drops its oldest entry, across the holes its drops and deletes leave.
    local l = collection.LimitedCollection(3)
    for i = 1, 40 do l:set(i, i) end
    l:delete(39)
    l:set(41, 41):set(38, 380):set(42, 42)
    assert.same({ { 40, 41, 42 }, nil }, { l:keys(), l:get(38) })
  end)
end)

describe("errors and enums", function()
  it("flatten form errors, match by class and code, and describe gateway closes", function()
    local e = errors.DiscordAPIError({ code = 50035, message = "Invalid Form Body",
      errors = { embeds = { ["0"] = { title = { _errors = { { code = "X", message = "Too long." } } } } } },
    }, 400, "POST", "/channels/1/messages")
    assert.equal("DiscordAPIError[50035]: Invalid Form Body (POST /channels/1/messages)\nembeds[0].title: Too long.",
      tostring(e))
    assert.same({ true, true, false, false }, { errors.is(e, "DiscordAPIError", 50035), errors.is(e, "DiscordError"),
      errors.is(e, "DiscordAPIError", 10003), errors.is(e, "HTTPError") })
    assert.same({ true, true, true, false, 0, "GuildText" }, { errors.is(errors.DiscordAPIError({ code = 10008 }, 404,
      "GET", "/x"), "DiscordAPIError", "UnknownMessage"), errors.GatewayError(4014).fatal,
      errors.GatewayError(4011).fatal, errors.GatewayError(4009).fatal, enums.ChannelType.GuildText,
      enums.ChannelType[0] })
    assert.has_error(function() return enums.ChannelType.GuildTxt end)
  end)
end)

describe("cdn", function()
  local B = "https://cdn.discordapp.com/"
  it("builds image addresses with the size and format rules, and refuses the others", function()
    local cases = {
      { cdn.avatar("1", "abc"), B .. "avatars/1/abc.webp" },
      { cdn.avatar("1", "a_abc"), B .. "avatars/1/a_abc.gif" },
      { cdn.avatar("1", "a_abc", { forceStatic = true, size = 64 }), B .. "avatars/1/a_abc.webp?size=64" },
      { cdn.avatar("1", "a_abc", { extension = "webp" }), B .. "avatars/1/a_abc.webp?animated=true" },
      { cdn.defaultAvatar(cdn.defaultAvatarIndex("175928847299117063")), B .. "embed/avatars/2.png" },
    }
    for i, c in ipairs(cases) do assert.equal(c[2], c[1], "case " .. i) end
    for _, size in ipairs(require("discord.constants").ImageSizes) do
      assert.equal(B .. "icons/1/h.webp?size=" .. size, cdn.icon("1", "h", { size = size }))
    end
    for _, bad in ipairs({ { extension = "bmp" }, { size = 15 }, { size = 200 }, { size = 8192 }, { size = 64.0 },
      { size = "64" } }) do
      assert.error_matches(function() cdn.icon("1", "h", bad) end, "LibraryError[InvalidOption]", nil, true)
    end
  end)
end)
