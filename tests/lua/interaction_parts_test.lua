-- Interaction parts that need no gateway: the option resolver and the multipart encoder.
local runtime = require("runtime")
local discord = require("discord")
local attachment = require("discord.builders.attachment")
local Resolver = require("discord.structures.option_resolver").CommandInteractionOptionResolver

describe("option resolver", function()
  it("hoists subcommands, types values with their resolved objects and raises the option errors", function()
    runtime.reset()
    local c = discord.Client({ intents = { "Guilds" } })
    c.guilds:_add({ id = "100", name = "G", roles = {}, channels = {}, members = {} })
    local resolved = {
      users = { ["201"] = { id = "201", username = "alice" }, ["202"] = { id = "202", username = "bob" } },
      members = { ["201"] = { roles = {}, nick = "Al" } },
      roles = { ["300"] = { id = "300", name = "Mods", permissions = "0", position = 1 } },
      channels = { ["400"] = { id = "400", name = "news", type = 5 } },
      attachments = { ["500"] = { id = "500", filename = "a.png" } },
    }
    local o = Resolver(c, { { name = "admin", type = 2, options = { { name = "ban", type = 1, options = {
      { name = "target", type = 6, value = "201" }, { name = "days", type = 4, value = 7 },
      { name = "silent", type = 5, value = false }, { name = "where", type = 7, value = "400" },
      { name = "who", type = 9, value = "300" }, { name = "left", type = 6, value = "202" },
      { name = "proof", type = 11, value = "500" }, { name = "gone", type = 6, value = "9" } } } } } }, resolved, "100")
    assert.are.same({ "admin", "ban", "alice", "Al", "100", 7, false, "news", "Mods", "a.png" }, {
      o:getSubcommandGroup(), o:getSubcommand(), o:getUser("target").username, o:getMember("target").nickname,
      o:getMember("target").guild.id, o:getInteger("days"), o:getBoolean("silent"), o:getChannel("where").name,
      o:getMentionable("who").name, o:getAttachment("proof", true).name })
    -- A user who left has no member; a partial channel is not cached over the bot's own.
    assert.are.same({ true, true }, { o:getMember("left") == nil, c.channels.cache:get("400") == nil })
    local flat = Resolver(c, { { name = "t", type = 3, value = "x" } })
    for _, k in ipairs({
      { o, "getString", { "absent", true }, "CommandInteractionOptionNotFound" },
      { o, "getString", { "days" }, "CommandInteractionOptionType" },
      { o, "getChannel", { "where", true, { 0 } }, "CommandInteractionOptionInvalidChannelType" },
      { o, "getUser", { "gone", true }, "CommandInteractionOptionEmpty" },
      { o, "getFocused", {}, "AutocompleteInteractionOptionNoFocusedOption" },
      { flat, "getSubcommand", {}, "CommandInteractionOptionNoSubcommand" },
      { flat, "getSubcommandGroup", { true }, "CommandInteractionOptionNoSubcommandGroup" },
    }) do
      local ok, e = pcall(k[1][k[2]], k[1], table.unpack(k[3]))
      assert.are.same({ false, k[4] }, { ok, e.code }, k[2])
    end
  end)
end)

describe("multipart uploads", function()
  it("encodes the payload and files byte for byte, with a boundary no part contains", function()
    local body, ctype = attachment.encodeMultipart({ { name = 'say "hi"\r\n.txt', data = "x\r\n--y", index = 1 },
      { name = "p.png", data = "\x89PNG\r\n\x1a\n\0", index = 3 } }, { content = "hi" }, "BOUND")
    assert.are.equal("multipart/form-data; boundary=BOUND", ctype)
    assert.are.equal('--BOUND\r\nContent-Disposition: form-data; name="payload_json"\r\n'
      .. 'Content-Type: application/json\r\n\r\n{"content":"hi"}\r\n--BOUND\r\n'
      .. 'Content-Disposition: form-data; name="files[0]"; filename="say %22hi%22%0D%0A.txt"\r\n'
      .. "Content-Type: text/plain\r\n\r\nx\r\n--y\r\n--BOUND\r\n"
      .. 'Content-Disposition: form-data; name="files[2]"; filename="p.png"\r\nContent-Type: image/png\r\n\r\n'
      .. "\x89PNG\r\n\x1a\n\0\r\n--BOUND--\r\n", body)
    -- The random boundary that would come next is in the file, so another one is drawn.
    runtime.reset()
    local taken = select(2, attachment.encodeMultipart({ { data = "a" } })):match("boundary=(.+)$")
    runtime.reset()
    local b = select(2, attachment.encodeMultipart({ { data = taken } })):match("boundary=(.+)$")
    assert.is_nil(taken:find(b, 1, true))
    runtime.files["/img/cat.gif"] = "GIF89a"
    local f = discord.AttachmentBuilder.fromFile("/img/cat.gif"):toFile(1)
    assert.are.same({ "cat.gif", "GIF89a", "image/gif" }, { f.name, f.data, f.contentType })
  end)
end)
