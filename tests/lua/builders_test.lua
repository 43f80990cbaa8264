-- Command and component builders: each Discord limit refused with an error naming it, and the
-- API form of what passes. Rows are {what, build function, pattern of the error (nil: accepted)}.
local json = require("json")
local discord = require("discord")
local slash = require("discord.builders.slash")
local comp = require("discord.builders.components")

local S, C = slash, comp

local function cmd(name)
  return S.SlashCommandBuilder():setName(name or "cmd"):setDescription("d")
end

local function str(n, ch) return string.rep(ch or "a", n) end

local function opts(n, required)
  return function(b)
    for i = 1, n do
      b:addStringOption(function(o) return o:setName("o" .. i):setDescription("d"):setRequired(required or false) end)
    end
    return b
  end
end

local function check(rows)
  for _, row in ipairs(rows) do
    local ok, err = pcall(row[2])
    if row[3] == nil then
      assert(ok, row[1] .. ": refused: " .. tostring(err))
    else
      assert(not ok, row[1] .. ": accepted")
      assert(tostring(err):find(row[3]), row[1] .. ": wrong error: " .. tostring(err))
    end
  end
end

describe("SlashCommandBuilder", function()
  it("enforces Discord's rules for names, descriptions, options and choices", function()
    check({
      { "32-character name", function() cmd(str(32)):toJSON() end },
      { "33-character name", function() cmd(str(33)) end, "1 to 32 characters" },
      { "empty name", function() cmd("") end, "1 to 32" },
      { "upper case", function() cmd("Ping") end, "lower case" },
      { "space", function() cmd("a b") end, "only letters" },
      { "accented lower case", function() cmd("caf\u{e9}") end },
      { "accented upper case", function() cmd("\u{c9}t\u{e9}") end, "lower case" },
      { "hyphen, underscore, digit", function() cmd("a-b_1'c") end },
      { "101-character description", function() S.SlashCommandBuilder():setDescription(str(101)) end, "1 to 100" },
      { "no description", function() S.SlashCommandBuilder():setName("x"):toJSON() end, "needs a description" },
      { "unknown locale", function() cmd():setNameLocalizations({ xx = "y" }) end, "unknown locale" },
      { "bad localized name", function() cmd():setNameLocalization("de", "Gross") end, "lower case" },
      { "25 options", function() opts(25)(cmd()):toJSON() end },
      { "26 options", function() opts(26)(cmd()) end, "at most 25 options" },
      { "required after optional", function()
        cmd():addStringOption(function(o) return o:setName("a"):setDescription("d") end)
          :addUserOption(function(o) return o:setName("b"):setDescription("d"):setRequired(true) end):toJSON()
      end, "required option \"b\" comes after optional option \"a\"" },
      { "duplicate option names", function() opts(1)(opts(1)(cmd())):toJSON() end, "used twice" },
      { "subcommands mixed with options", function()
        opts(1)(cmd()):addSubcommand(function(s) return s:setName("s"):setDescription("d") end):toJSON()
      end, "mixes subcommands" },
      { "empty group", function()
        cmd():addSubcommandGroup(function(g) return g:setName("g"):setDescription("d") end):toJSON()
      end, "at least one subcommand" },
      { "25 choices", function()
        local o = S.SlashCommandStringOption():setName("o"):setDescription("d")
        for i = 1, 25 do o:addChoices({ name = "c" .. i, value = "v" .. i }) end
      end },
      { "26 choices", function()
        local list = {}
        for i = 1, 26 do list[i] = { name = "c" .. i, value = i } end
        S.SlashCommandIntegerOption():setName("o"):setDescription("d"):addChoices(list)
      end, "at most 25 choices" },
      { "choice value type", function() S.SlashCommandIntegerOption():addChoices({ name = "a", value = 1.5 }) end,
        "integers" },
      { "101-character choice value", function()
        S.SlashCommandStringOption():addChoices({ name = "a", value = str(101) })
      end, "1 to 100" },
      { "choices then autocomplete", function()
        S.SlashCommandStringOption():addChoices({ name = "a", value = "a" }):setAutocomplete(true)
      end, "cannot use autocomplete" },
      { "autocomplete then choices", function()
        S.SlashCommandNumberOption():setAutocomplete(true):addChoices({ name = "a", value = 1 })
      end, "cannot have choices" },
      { "min above max", function()
        S.SlashCommandIntegerOption():setName("n"):setDescription("d"):setMinValue(5):setMaxValue(1):toJSON()
      end, "min_value 5 is above max_value 1" },
      { "value past 2^53", function() S.SlashCommandIntegerOption():setMaxValue(1 << 54) end, "2%^53" },
      { "max_length 6001", function() S.SlashCommandStringOption():setMaxLength(6001) end, "1 to 6000" },
      { "channel type", function() S.SlashCommandChannelOption():addChannelTypes("GuildText", 99) end,
        "not a channel type" },
      { "4000-character total", function()
        local b = cmd(str(32))
        for i = 1, 24 do
          b:addStringOption(function(o)
            for j = 1, 2 do o:addChoices({ name = str(40, "c") .. j, value = str(40, "v") .. j }) end
            return o:setName("o" .. i):setDescription(str(100))
          end)
        end
        b:toJSON()
      end, "over Discord's 4000 limit" },
      { "permissions by name", function() cmd():setDefaultMemberPermissions({ "Nope" }) end, "not a permission" },
      { "context", function() cmd():setContexts("Guild", "Moon") end, "not a context" },
    })
  end)

  it("builds the API form with subcommands, localizations, permissions and contexts", function()
    local data = S.SlashCommandBuilder():setName("tag"):setDescription("Tags")
      :setDescriptionLocalization("de", "Etiketten")
      :setDefaultMemberPermissions({ "ManageMessages", "BanMembers" })
      :setContexts("Guild", "BotDM"):setIntegrationTypes("GuildInstall"):setNSFW(true)
      :addSubcommand(function(s)
        return s:setName("show"):setDescription("Show one")
          :addStringOption(function(o) return o:setName("name"):setDescription("n"):setRequired(true)
            :setAutocomplete(true):setMaxLength(50) end)
          :addChannelOption(function(o) return o:setName("where"):setDescription("w"):addChannelTypes("GuildText") end)
      end)
      :toJSON()
    assert.are.same({
      type = 1, name = "tag", description = "Tags", description_localizations = { de = "Etiketten" },
      default_member_permissions = tostring((1 << 13) | (1 << 2)), contexts = { 0, 1 }, integration_types = { 0 },
      nsfw = true,
      options = { { type = 1, name = "show", description = "Show one", options = {
        { type = 3, name = "name", description = "n", required = true, autocomplete = true, max_length = 50 },
        { type = 7, name = "where", description = "w", channel_types = { 0 } },
      } } },
    }, data)
    assert.are.equal(json.null, cmd():setDefaultMemberPermissions(nil):toJSON().default_member_permissions)
  end)
end)

describe("ContextMenuCommandBuilder", function()
  it("takes names with spaces and capitals, no description, and needs a type", function()
    check({
      { "spaces and capitals", function()
        S.ContextMenuCommandBuilder():setName("Report User"):setType("User"):toJSON()
      end },
      { "no type", function() S.ContextMenuCommandBuilder():setName("X"):toJSON() end, "needs a type" },
      { "chat input type", function() S.ContextMenuCommandBuilder():setType(1) end, "User or Message" },
      { "description", function() S.ContextMenuCommandBuilder():setDescription("d") end, "no description" },
      { "33 characters", function() S.ContextMenuCommandBuilder():setName(str(33)) end, "1 to 32" },
    })
    assert.are.same({ name = "Quote", type = 3 }, S.ContextMenuCommandBuilder():setName("Quote"):setType("Message")
      :toJSON())
  end)
end)

describe("component builders", function()
  local function button(style) return C.ButtonBuilder():setStyle(style) end
  local function select(n)
    local s = C.StringSelectMenuBuilder():setCustomId("s")
    for i = 1, n do s:addOptions({ label = "L" .. i, value = "v" .. i }) end
    return s
  end

  it("enforces the limits of buttons, selects, rows, text inputs and modals", function()
    check({
      { "100-character custom_id", function() button("Primary"):setCustomId(str(100)):setLabel("a"):toJSON() end },
      { "101-character custom_id", function() button("Primary"):setCustomId(str(101)) end, "1 to 100" },
      { "81-character label", function() button("Primary"):setLabel(str(81)) end, "1 to 80" },
      { "link without url", function() button("Link"):setLabel("a"):toJSON() end, "needs a url" },
      { "link with custom_id", function()
        button("Link"):setURL("https://x.org"):setCustomId("c"):setLabel("a"):toJSON()
      end, "cannot have a custom_id" },
      { "premium with a label", function() button("Premium"):setSKUId("1"):setLabel("a"):toJSON() end,
        "only a sku_id" },
      { "premium", function() button(6):setSKUId("1"):toJSON() end },
      { "no label or emoji", function() button("Danger"):setCustomId("c"):toJSON() end, "label or an emoji" },
      { "emoji only", function() button("Success"):setCustomId("c"):setEmoji("<:ok:123>"):toJSON() end },
      { "unknown style", function() button("Blue") end, "not a known ButtonStyle" },
      { "25 options", function() select(25):toJSON() end },
      { "26 options", function() select(26) end, "at most 25 options" },
      { "no options", function() select(0):toJSON() end, "1 to 25 options" },
      { "max_values above options", function() select(2):setMaxValues(3):toJSON() end, "above the number of options" },
      { "min above max", function() select(5):setMinValues(4):setMaxValues(2):toJSON() end, "above max_values" },
      { "duplicate values", function()
        C.StringSelectMenuBuilder():setCustomId("s")
          :addOptions({ label = "a", value = "v" }, { label = "b", value = "v" }):toJSON()
      end, "unique" },
      { "101-character option label", function() select(0):addOptions({ label = str(101), value = "v" }) end,
        "1 to 100" },
      { "defaults outside min..max", function()
        C.UserSelectMenuBuilder():setCustomId("u"):setMaxValues(1):addDefaultUsers("1", "2"):toJSON()
      end, "outside min_values" },
      { "role default in a user select", function()
        C.MentionableSelectMenuBuilder():setCustomId("m"):addDefaultValues({ id = "1", type = "channel" })
      end, "must be of type" },
      { "six buttons", function()
        local row = C.ActionRowBuilder()
        for i = 1, 6 do row:addComponents(button(1):setCustomId("b" .. i):setLabel("x")) end
        row:toJSON()
      end, "at most 5 buttons" },
      { "button beside a select", function()
        C.ActionRowBuilder():addComponents(select(1), button(1):setCustomId("b"):setLabel("x")):toJSON()
      end, "fills its action row alone" },
      { "46-character input label", function() C.TextInputBuilder():setLabel(str(46)) end, "1 to 45" },
      { "4001-character max_length", function() C.TextInputBuilder():setMaxLength(4001) end, "from 1 to 4000" },
      { "value longer than max_length", function()
        C.TextInputBuilder():setCustomId("t"):setStyle("Short"):setMaxLength(3):setValue("abcd"):toJSON()
      end, "outside min_length" },
      { "46-character modal title", function() C.ModalBuilder():setTitle(str(46)) end, "1 to 45" },
      { "six modal rows", function()
        local m = C.ModalBuilder():setCustomId("m"):setTitle("t")
        for i = 1, 6 do
          m:addComponents(C.ActionRowBuilder():addComponents(C.TextInputBuilder():setCustomId("t" .. i)
            :setStyle(1):setLabel("l")))
        end
        m:toJSON()
      end, "1 to 5 components" },
      { "label holding a button", function()
        C.LabelBuilder():setLabel("l"):setTextInputComponent(button(1):setCustomId("b"):setLabel("x")):toJSON()
      end, "cannot hold" },
      { "eleven gallery items", function()
        local g = C.MediaGalleryBuilder()
        for _ = 1, 11 do g:addItems({ url = "https://x.org/a.png" }) end
      end, "at most 10 items" },
      { "file from the web", function() C.FileBuilder():setURL("https://x.org/a.txt") end, "attachment://" },
      { "section without accessory", function() C.SectionBuilder():addTextDisplayComponents("hi"):toJSON() end,
        "needs an accessory" },
      { "four texts in a section", function() C.SectionBuilder():addTextDisplayComponents("a", "b", "c", "d") end,
        "1 to 3 text displays" },
    })
  end)

  it("builds a modal with a label-wrapped input and an old-style row", function()
    local modal = C.ModalBuilder():setCustomId("feedback"):setTitle("Feedback")
      :addLabelComponents(function(l)
        return l:setLabel("Your name"):setTextInputComponent(C.TextInputBuilder():setCustomId("name"):setStyle("Short"))
      end)
      :addComponents(C.ActionRowBuilder():addComponents(C.TextInputBuilder():setCustomId("body"):setStyle("Paragraph")
        :setLabel("Text"):setRequired(false)))
      :toJSON()
    assert.are.same({ custom_id = "feedback", title = "Feedback", components = {
      { type = 18, label = "Your name", component = { type = 4, custom_id = "name", style = 1 } },
      { type = 1, components = { { type = 4, custom_id = "body", style = 2, label = "Text", required = false } } },
    } }, modal)
  end)
end)

describe("message component rules", function()
  local MessagePayload = discord.MessagePayload
  local function body(options) return MessagePayload(nil, options):resolveBody().body end
  local function container()
    return C.ContainerBuilder():setAccentColor(0x3498DB):addTextDisplayComponents("Hello")
      :addSeparatorComponents(function(s) return s:setSpacing("Large") end)
      :addSectionComponents(C.SectionBuilder():addTextDisplayComponents("Side")
        :setButtonAccessory(C.ButtonBuilder():setStyle(1):setCustomId("go"):setLabel("Go")))
  end

  it("sets IsComponentsV2 for a v2 layout and refuses legacy fields beside it", function()
    local b = body({ components = { container() } })
    assert.are.equal(1 << 15, b.flags)
    assert.are.equal(17, b.components[1].type)
    check({
      { "content beside v2", function() body({ content = "x", components = { container() } }) end,
        "cannot have content" },
      { "embeds with the flag", function() body({ flags = "IsComponentsV2", embeds = { { title = "t" } } }) end,
        "cannot have embeds" },
      { "text display without the flag", function()
        comp.validateMessageComponents({ C.TextDisplayBuilder():setContent("x"):toJSON() }, false)
      end, "only action rows go at the top" },
      { "six rows", function()
        local rows = {}
        for i = 1, 6 do rows[i] = C.ActionRowBuilder():addComponents(C.ButtonBuilder():setStyle(1):setCustomId("b" .. i)
          :setLabel("x")) end
        body({ components = rows })
      end, "at most 5 action rows" },
      { "duplicate custom_id", function()
        body({ components = { C.ActionRowBuilder():addComponents(C.ButtonBuilder():setStyle(1):setCustomId("b")
          :setLabel("x"), C.ButtonBuilder():setStyle(2):setCustomId("b"):setLabel("y")) } })
      end, "used twice" },
      { "41 components", function()
        local list = {}
        for i = 1, 41 do list[i] = C.TextDisplayBuilder():setContent("t" .. i) end
        body({ components = list })
      end, "at most 40 components" },
      { "4001 characters of text", function()
        body({ components = { C.TextDisplayBuilder():setContent(str(4000)), C.TextDisplayBuilder():setContent("x") } })
      end, "over the 4000 limit" },
    })
  end)

  it("turns received components back into builders that produce the same JSON", function()
    local sent = container():toJSON()
    local received = require("discord.structures.components").createComponent(sent)
    assert.are.equal("Go", received.components[3].accessory.label)
    assert.is_true(received:equals(sent))
    assert.are.same(sent, C.createComponentBuilder(received):toJSON())
  end)
end)
