-- Interaction parts that need no gateway: the option resolver, modal fields and the multipart encoder.
local runtime = require("runtime")
local json = require("json")
local discord = require("discord")
local attachment = require("discord.builders.attachment")
local Resolver = require("discord.structures.option_resolver").CommandInteractionOptionResolver

describe("interaction parts", function()
  it("resolves options under a subcommand to their objects and raises the option errors", function()
    runtime.reset()
    local c = discord.Client({ intents = { "Guilds" } })
    c.guilds:_add({ id = "100", name = "G", roles = {}, channels = {}, members = {} })
    local o = Resolver(c, { { name = "admin", type = 2, options = { { name = "ban", type = 1, options = {
      { name = "target", type = 6, value = "201" }, { name = "days", type = 4, value = 7 },
      { name = "where", type = 7, value = "400" }, { name = "gone", type = 6, value = "9" } } } } } }, {
      users = { ["201"] = { id = "201", username = "alice" } }, members = { ["201"] = { roles = {}, nick = "Al" } },
      channels = { ["400"] = { id = "400", name = "news", type = 5 } } }, "100")
    assert.same({ "admin", "ban", "alice", "Al", 7, "news", true }, { o:getSubcommandGroup(), o:getSubcommand(),
      o:getUser("target").username, o:getMember("target").nickname, o:getInteger("days"), o:getChannel("where").name,
      c.channels.cache:get("400") == nil })
    for _, k in ipairs({
      { "getString", { "absent", true }, "CommandInteractionOptionNotFound" },
      { "getString", { "days" }, "CommandInteractionOptionType" },
      { "getChannel", { "where", true, { 0 } }, "CommandInteractionOptionInvalidChannelType" },
      { "getUser", { "gone", true }, "CommandInteractionOptionEmpty" },
      { "getFocused", {}, "AutocompleteInteractionOptionNoFocusedOption" },
    }) do
      local ok, e = pcall(o[k[1]], o, table.unpack(k[2]))
      assert.same({ false, k[3] }, { ok, e.code }, k[1])
    end
  end)

  it("reads a submitted modal's groups, checkbox and uploaded files, and refuses a field of another type", function()
    local rows = {}
    for i, c in ipairs({ { 21, "pick", value = "b" }, { 21, "none", value = json.null },
      { 22, "tick", values = { "x" } }, { 23, "agree", value = false }, { 19, "proof", values = { "11" } } }) do
      rows[i] = { type = 18, component = { type = c[1], custom_id = c[2], value = c.value, values = c.values } }
    end
    local i = require("discord.interaction").createInteraction(discord.Client({ intents = { "Guilds" } }), { id = "1",
      type = 5, token = "t", application_id = "2", channel_id = "3", user = { id = "4", username = "u" },
      data = { custom_id = "m", components = rows, resolved = { attachments = { ["11"] = { id = "11",
        filename = "bug.png", size = 5, url = "https://cdn.discordapp.com/ephemeral-attachments/3/11/bug.png" } } } } })
    local f = i.fields
    local ok, e = pcall(f.getCheckbox, f, "tick")
    assert.same({ "b", nil, { "x" }, false, "bug.png", 0, false, "ModalSubmitInteractionFieldType" },
      { f:getRadioGroup("pick"), f:getRadioGroup("none"), f:getCheckboxGroup("tick"), f:getCheckbox("agree"),
        f:getUploadedFiles("proof"):get("11").name, f:getUploadedFiles("absent", false).size, ok, e.code })
  end)

  it("encodes multipart bodies byte for byte, with a boundary no part contains", function()
    local body = attachment.encodeMultipart({ { name = 'a"\r\n.txt', data = "x\r\n--y", index = 1 },
      { name = "p.png", data = "\x89PNG\r\n\x1a\n", index = 3 } }, { content = "hi" }, "B")
    assert.equal('--B\r\nContent-Disposition: form-data; name="payload_json"\r\nContent-Type: application/json'
      .. '\r\n\r\n{"content":"hi"}\r\n--B\r\nContent-Disposition: form-data; name="files[0]"; filename="a%22%0D%0A.txt"'
      .. '\r\nContent-Type: text/plain\r\n\r\nx\r\n--y\r\n--B\r\nContent-Disposition: form-data; name="files[2]"; '
      .. 'filename="p.png"\r\nContent-Type: image/png\r\n\r\n\x89PNG\r\n\x1a\n\r\n--B--\r\n', body)
    -- The boundary the random stream gives next is in the file, so another one is drawn.
    local function boundary(data)
      runtime.reset()
      return select(2, attachment.encodeMultipart({ { data = data } })):match("boundary=(.+)$")
    end
    local taken = boundary("a")
    assert.is_nil(taken:find(boundary(taken), 1, true))
  end)
end)
