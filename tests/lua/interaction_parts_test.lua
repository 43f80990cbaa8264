-- The parts of interactions that need no gateway: the option resolver over raw options and
-- resolved data, the multipart encoder byte for byte, and AttachmentBuilder.
local runtime = require("runtime")
local discord = require("discord")
local attachment = require("discord.builders.attachment")
local Resolver = require("discord.structures.option_resolver").CommandInteractionOptionResolver

local GUILD, ALICE, BOB, ROLE, CHAN, FILE = "100", "201", "202", "300", "400", "500"

local function client()
  runtime.reset()
  local c = discord.Client({ intents = { "Guilds" } })
  c.guilds:_add({ id = GUILD, name = "G", roles = { { id = GUILD, name = "@everyone", permissions = "0",
    position = 0 } }, channels = {}, members = {} })
  return c
end

local RESOLVED = {
  users = { [ALICE] = { id = ALICE, username = "alice" }, [BOB] = { id = BOB, username = "bob" } },
  members = { [ALICE] = { roles = {}, nick = "Al", permissions = "8" } },
  roles = { [ROLE] = { id = ROLE, name = "Mods", permissions = "0", position = 1 } },
  channels = { [CHAN] = { id = CHAN, name = "news", type = 5 } },
  attachments = { [FILE] = { id = FILE, filename = "a.png", size = 3, url = "https://cdn/a.png" } },
}

local function ban()
  return { { name = "admin", type = 2, options = { { name = "ban", type = 1, options = {
    { name = "target", type = 6, value = ALICE }, { name = "days", type = 4, value = 7 },
    { name = "ratio", type = 10, value = 0.5 }, { name = "silent", type = 5, value = false },
    { name = "where", type = 7, value = CHAN }, { name = "who", type = 9, value = ROLE },
    { name = "left", type = 6, value = BOB }, { name = "proof", type = 11, value = FILE },
  } } } } }
end

describe("option resolver", function()
  it("hoists subcommands and returns typed values with their resolved objects", function()
    local c = client()
    local o = Resolver(c, ban(), RESOLVED, GUILD)
    assert.are.same({ "admin", "ban" }, { o:getSubcommandGroup(), o:getSubcommand() })
    local checks = {
      { "getUser", "target", function(v) return v.username == "alice" and v == c.users.cache:get(ALICE) end },
      { "getMember", "target", function(v) return v.nickname == "Al" and v.guild.id == GUILD end },
      { "getInteger", "days", function(v) return v == 7 and math.type(v) == "integer" end },
      { "getNumber", "ratio", function(v) return v == 0.5 end },
      { "getBoolean", "silent", function(v) return v == false end },
      { "getChannel", "where", function(v) return v.name == "news" and v.type == 5 end },
      { "getMentionable", "who", function(v) return v.name == "Mods" end },
      { "getRole", "who", function(v) return v.id == ROLE end },
      { "getMentionable", "target", function(v) return v.nickname == "Al" end },
      { "getAttachment", "proof", function(v) return v.name == "a.png" and v.url == "https://cdn/a.png" end },
      -- A user who left has no member; that is not an error.
      { "getMember", "left", function(v) return v == nil end },
      { "getString", "absent", function(v) return v == nil end },
    }
    for _, k in ipairs(checks) do
      local ok, v = pcall(o[k[1]], o, k[2], k[1] ~= "getMember" and k[2] ~= "absent" or nil)
      assert.is_true(ok, k[1] .. " " .. k[2] .. ": " .. tostring(v))
      assert.is_true(k[3](v), k[1] .. " " .. k[2])
    end
    -- Partial channels from an interaction are not cached over the bot's own.
    assert.is_nil(c.channels.cache:get(CHAN))
  end)

  it("raises the option errors", function()
    local c = client()
    local o = Resolver(c, ban(), RESOLVED, GUILD)
    local flat = Resolver(c, { { name = "text", type = 3, value = "hi" }, { name = "nobody", type = 6, value = "9" } },
      RESOLVED, GUILD)
    local cases = {
      { o, "getString", { "absent", true }, "CommandInteractionOptionNotFound" },
      { o, "getString", { "days" }, "CommandInteractionOptionType" },
      { o, "getChannel", { "where", true, { 0, 2 } }, "CommandInteractionOptionInvalidChannelType" },
      { o, "getFocused", {}, "AutocompleteInteractionOptionNoFocusedOption" },
      { flat, "getSubcommand", {}, "CommandInteractionOptionNoSubcommand" },
      { flat, "getSubcommandGroup", { true }, "CommandInteractionOptionNoSubcommandGroup" },
      { flat, "getUser", { "nobody", true }, "CommandInteractionOptionEmpty" },
    }
    for _, k in ipairs(cases) do
      local ok, e = pcall(k[1][k[2]], k[1], table.unpack(k[3]))
      assert.is_false(ok, k[2])
      assert.are.equal(k[4], e.code, k[2])
    end
    assert.are.same({ "hi", nil, nil }, { flat:getString("text", true), flat:getSubcommand(false),
      flat:getSubcommandGroup() })
  end)

  it("finds the focused option, by value or in full", function()
    local o = Resolver(client(), { { name = "a", type = 3, value = "x" }, { name = "b", type = 3, value = "ap",
      focused = true } })
    assert.are.equal("ap", o:getFocused())
    assert.are.same({ "b", 3 }, { o:getFocused(true).name, o:getFocused(true).type })
  end)
end)

describe("multipart uploads", function()
  it("encodes the payload and files byte for byte", function()
    local body, ctype = attachment.encodeMultipart({
      { name = 'say "hi"\r\n.txt', data = "x\r\n--y", index = 1 },
      { name = "p.png", data = "\x89PNG\r\n\x1a\n\0", index = 3 },
    }, { content = "hi", attachments = { { id = 0 } } }, "BOUND")
    assert.are.equal("multipart/form-data; boundary=BOUND", ctype)
    assert.are.equal(table.concat({
      "--BOUND\r\n",
      'Content-Disposition: form-data; name="payload_json"\r\nContent-Type: application/json\r\n\r\n',
      '{"attachments":[{"id":0}],"content":"hi"}\r\n',
      "--BOUND\r\n",
      'Content-Disposition: form-data; name="files[0]"; filename="say %22hi%22%0D%0A.txt"\r\n',
      "Content-Type: text/plain\r\n\r\n",
      "x\r\n--y\r\n",
      "--BOUND\r\n",
      'Content-Disposition: form-data; name="files[2]"; filename="p.png"\r\nContent-Type: image/png\r\n\r\n',
      "\x89PNG\r\n\x1a\n\0\r\n",
      "--BOUND--\r\n",
    }), body)
  end)

  it("picks a boundary that no part contains", function()
    runtime.reset()
    local _, first = attachment.encodeMultipart({ { name = "a", data = "a" } })
    local taken = first:match("boundary=(.+)$")
    runtime.reset()
    local body, ctype = attachment.encodeMultipart({ { name = "a", data = "--" .. taken .. "\r\n" } })
    local b = ctype:match("boundary=(.+)$")
    assert.are_not.equal(taken, b)
    assert.is_nil(("--" .. taken .. "\r\n"):find(b, 1, true))
    assert.are.equal(2, select(2, body:gsub("%-%-" .. b:gsub("%-", "%%-"), "")))
    assert.has_error(function() attachment.encodeMultipart({ { data = "xBOUNDx" } }, nil, "BOUND") end)
  end)
end)

describe("AttachmentBuilder", function()
  it("names, marks spoilers and reads files through the runtime", function()
    runtime.reset()
    runtime.files["/bots/img/cat.gif"] = "GIF89a..."
    local b = discord.AttachmentBuilder.fromFile("/bots/img/cat.gif", { description = "a cat" })
    assert.are.same({ "cat.gif", "a cat", "image/gif", false }, { b.name, b.description, b:toFile(1).contentType,
      b.spoiler })
    b:setSpoiler(true)
    assert.are.same({ "SPOILER_cat.gif", true }, { b.name, b.spoiler })
    b:setSpoiler(false)
    assert.are.equal("cat.gif", b.name)
    local bad = {
      function() discord.AttachmentBuilder.fromFile("/missing.png") end,
      function() b:setName("../etc/passwd") end,
      function() b:setDescription(string.rep("d", 1025)) end,
      function() attachment.resolveFiles({ {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {} }) end,
      function() discord.AttachmentBuilder():toFile(1) end,
    }
    for i, f in ipairs(bad) do
      local ok, e = pcall(f)
      assert.is_false(ok, "case " .. i)
      assert.is_true(discord.errors.is(e, "LibraryError"), "case " .. i .. ": " .. tostring(e))
    end
  end)
end)
