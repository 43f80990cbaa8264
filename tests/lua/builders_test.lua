-- Command, component and embed builders: each limit refused with an error naming it, and the API form of
-- what passes. Rows: {what, build, pattern of the error (nil: accepted)}.
local json = require("json")
local discord = require("discord")
local S = require("discord.builders.slash")
local C = require("discord.builders.components")
local util = require("discord.util")

local function str(n) return ("a"):rep(n) end
local function cmd(name) return S.SlashCommandBuilder():setName(name or "cmd"):setDescription("d") end
local function opt(b, name, required)
  return b:addStringOption(function(o) return o:setName(name):setDescription("d"):setRequired(required) end)
end
local function btn(style, id) return C.ButtonBuilder():setStyle(style):setCustomId(id or "b"):setLabel("x") end
local function withOptions(b, n)
  for i = 1, n do b:addOptions({ label = "L" .. i, value = "v" .. i }) end
  return b
end
local function select(n) return withOptions(C.StringSelectMenuBuilder():setCustomId("s"), n) end
local function body(options) return discord.MessagePayload(nil, options):resolveBody().body end

local function check(rows)
  for _, row in ipairs(rows) do
    if row[3] then assert.error_matches(row[2], row[3], nil, false, row[1])
    else assert.has_no.errors(row[2], row[1]) end
  end
end

describe("builders", function()
  it("enforce Discord's rules for command names, options, choices and the total size", function()
    check({
      { "32-character name", function() cmd(str(32)):toJSON() end },
      { "33-character name", function() cmd(str(33)) end, "1 to 32 characters" },
      { "upper case", function() cmd("Ping") end, "lower case" },
      { "accented upper case", function() cmd("\u{c9}t\u{e9}") end, "lower case" },
      { "no description", function() S.SlashCommandBuilder():setName("x"):toJSON() end, "needs a description" },
      { "26 options", function()
        local b = cmd()
        for i = 1, 26 do opt(b, "o" .. i, false) end
      end, "at most 25 options" },
      { "required after optional", function() opt(opt(cmd(), "a", false), "b", true):toJSON() end,
        "required option \"b\" comes after optional option \"a\"" },
      { "subcommands beside options", function()
        opt(cmd(), "a", false):addSubcommand(function(s) return s:setName("s"):setDescription("d") end):toJSON()
      end, "mixes subcommands" },
      { "choices then autocomplete", function()
        S.SlashCommandStringOption():addChoices({ name = "a", value = "a" }):setAutocomplete(true)
      end, "cannot use autocomplete" },
      { "integer choice 1.5", function() S.SlashCommandIntegerOption():addChoices({ name = "a", value = 1.5 }) end,
        "choice value must be an integer" },
      { "min above max", function()
        S.SlashCommandIntegerOption():setName("n"):setDescription("d"):setMinValue(5):setMaxValue(1):toJSON()
      end, "min_value 5 is above max_value 1" },
      { "over 4000 characters", function()
        local b = cmd(str(32))
        for i = 1, 24 do
          b:addStringOption(function(o)
            return o:setName("o" .. i):setDescription(str(100)):addChoices({ name = str(40), value = str(40) })
          end)
        end
        b:toJSON()
      end, "over Discord's 4000 limit" },
    })
  end)

  it("build the command's API form, and a builder made from it builds the same", function()
    local data = S.SlashCommandBuilder():setName("tag"):setDescription("Tags")
      :setDescriptionLocalization("de", "Etiketten")
      :setDefaultMemberPermissions({ "ManageMessages", "BanMembers" }):setContexts("Guild", "BotDM")
      :addSubcommand(function(s)
        return s:setName("show"):setDescription("Show one")
          :addStringOption(function(o)
            return o:setName("name"):setDescription("n"):setRequired(true):setAutocomplete(true):setMaxLength(50)
          end)
          :addChannelOption(function(o) return o:setName("where"):setDescription("w"):addChannelTypes("GuildText") end)
      end):toJSON()
    assert.same({
      type = 1, name = "tag", description = "Tags", description_localizations = { de = "Etiketten" },
      default_member_permissions = tostring((1 << 13) | (1 << 2)), contexts = { 0, 1 },
      options = { { type = 1, name = "show", description = "Show one", options = {
        { type = 3, name = "name", description = "n", required = true, autocomplete = true, max_length = 50 },
        { type = 7, name = "where", description = "w", channel_types = { 0 } },
      } } },
    }, data)
    assert.same(data, S.SlashCommandBuilder.from(data):toJSON())
    assert.equal(json.null, cmd():setDefaultMemberPermissions(nil):toJSON().default_member_permissions)
  end)

  it("enforce the limits of buttons, selects, rows, text inputs, labels and sections", function()
    check({
      { "26 options", function() select(26) end, "at most 25 options" },
      { "max_values above options", function() select(2):setMaxValues(3):toJSON() end, "above the number of options" },
      { "defaults outside min..max", function()
        C.UserSelectMenuBuilder():setCustomId("u"):addDefaultUsers("1", "2"):toJSON()
      end, "outside min_values" },
      { "six buttons", function()
        local row = C.ActionRowBuilder()
        for i = 1, 6 do row:addComponents(btn(1, "b" .. i)) end
        row:toJSON()
      end, "at most 5 buttons" },
      { "button beside a select", function() C.ActionRowBuilder():addComponents(select(1), btn(1)):toJSON() end,
        "fills its action row alone" },
      { "value longer than max_length", function()
        C.TextInputBuilder():setCustomId("t"):setStyle("Short"):setMaxLength(3):setValue("abcd"):toJSON()
      end, "outside min_length" },
      { "label holding a button", function() C.LabelBuilder():setLabel("l"):setTextInputComponent(btn(1)):toJSON() end,
        "cannot hold" },
      { "section without accessory", function() C.SectionBuilder():addTextDisplayComponents("hi"):toJSON() end,
        "needs an accessory" },
    })
  end)

  it("build modal radio groups, checkbox groups, checkboxes and file type filters within Discord's rules", function()
    local function radio(n) return withOptions(C.RadioGroupBuilder():setCustomId("r"), n) end
    local function boxes(n) return C.CheckboxGroupBuilder():setCustomId("c"):setOptions(radio(n).options) end
    check({
      { "radio group of one option", function() radio(1):toJSON() end, "needs 2 to 10 options" },
      { "eleven options", function() radio(11) end, "at most 10 options" },
      { "two defaults in a radio group", function()
        radio(0):addOptions({ label = "a", value = "a", default = true }, { label = "b", value = "b", default = true })
          :toJSON()
      end, "at most one default" },
      { "option with an emoji", function() radio(1):addOptions({ label = "e", value = "e", emoji = "x" }) end,
        "has no emoji" },
      { "required checkbox group allowing none", function() boxes(2):setMinValues(0):toJSON() end,
        "min_values of at least 1" },
      { "optional checkbox group allowing none", function() boxes(2):setMinValues(0):setRequired(false):toJSON() end },
      { "checkbox without custom_id", function() C.CheckboxBuilder():toJSON() end, "needs a custom_id" },
      { "file type that is no kind", function() C.FileUploadBuilder():setFileTypes("pdf") end, "extension such as" },
      { "radio group in a message", function()
        body({ flags = 32768, components = { { type = 17, components = { radio(2):toJSON() } } } })
      end, "RadioGroup components belong in modals" },
    })
    local modal = C.ModalBuilder():setCustomId("m"):setTitle("Survey"):addLabelComponents(
      function(l) return l:setLabel("Pick"):setRadioGroupComponent(radio(2)) end,
      function(l) return l:setLabel("Tick"):setCheckboxGroupComponent(boxes(3):setMaxValues(2)) end,
      function(l) return l:setLabel("Agree"):setCheckboxComponent(C.CheckboxBuilder():setCustomId("ok")) end,
      function(l) return l:setLabel("Proof"):setFileUploadComponent(C.FileUploadBuilder():setCustomId("f")
        :setFileTypes("image", ".pdf")) end):toJSON()
    local c = util.map(modal.components, function(row) return row.component end)
    assert.same({ { type = 21, custom_id = "r", options = { { label = "L1", value = "v1" }, { label = "L2",
      value = "v2" } } }, 22, 23, { "image", ".pdf" } }, { c[1], c[2].type, c[3].type, c[4].file_types })
    -- Received back, each becomes a builder that gives the same JSON.
    assert.same(modal.components, util.map(modal.components, function(row)
      return C.createComponentBuilder(require("discord.structures.components").createComponent(row)):toJSON()
    end))
  end)

  local function container()
    return C.ContainerBuilder():setAccentColor(0x3498DB):addTextDisplayComponents("Hello")
      :addSeparatorComponents(function(s) return s:setSpacing("Large") end)
      :addSectionComponents(C.SectionBuilder():addTextDisplayComponents("Side"):setButtonAccessory(btn(1, "go")))
  end

  it("set IsComponentsV2 for a v2 layout and refuse what Discord refuses beside it", function()
    local v2message = setmetatable({ flags = require("discord.bitfield").MessageFlagsBitField(1 << 15) },
      discord.Message)
    local function edit(o)
      o._edit = true
      return function() discord.MessagePayload(v2message, o):resolveBody() end
    end
    local b = body({ components = { container() } })
    assert.same({ 1 << 15, 17 }, { b.flags, b.components[1].type })
    check({
      { "content beside v2", function() body({ content = "x", components = { container() } }) end,
        "cannot have content" },
      { "embeds with the flag", function() body({ flags = "IsComponentsV2", embeds = { { title = "t" } } }) end,
        "cannot have embeds" },
      { "content edited into a v2 message", edit({ content = "x" }), "cannot have content" },
      { "the flag dropped on edit", edit({ flags = 0 }), "cannot be removed" },
      { "duplicate custom_id", function() body({ components = { C.ActionRowBuilder():addComponents(btn(1), btn(2)) } })
      end, "used twice" },
      { "4001 characters of text", function()
        body({ components = { C.TextDisplayBuilder():setContent(str(4000)), C.TextDisplayBuilder():setContent("x") } })
      end, "over the 4000 limit" },
    })
  end)

  it("turn received components back into builders that produce the same JSON", function()
    local sent = container():toJSON()
    local received = require("discord.structures.components").createComponent(sent)
    assert.same({ "x", true, sent }, { received.components[3].accessory.label, received:equals(sent),
      C.createComponentBuilder(received):toJSON() })
  end)

  -- Raw embed tables share the field limits: regressions_test.
  it("refuse bad embed parts, count code points, and check the embed total when turned into JSON", function()
    for _, c in ipairs({
      { "empty field", function(b) b:addFields({ name = "", value = "v" }) end, "must not be empty" },
      { "URL", function(b) b:setURL("ftp://x") end, "http(s) or attachment:// URL" },
      { "colour", function(b) b:setColor("mauve-ish") end, "not a colour" },
      { "26 fields", function(b)
        for i = 1, 26 do b:addFields({ name = "f" .. i, value = "v" }) end
      end, "at most 25 fields" },
      { "nothing", function(b) b:toJSON() end, "at least one part" },
    }) do
      assert.error_matches(function() c[2](discord.EmbedBuilder()) end, c[3], nil, true, c[1])
    end
    -- 256 two-byte characters are 512 bytes but within the title limit.
    assert.has_no.errors(function() discord.EmbedBuilder():setTitle(("\u{e9}"):rep(256)) end)
    local b = discord.EmbedBuilder():setDescription(("d"):rep(4096))
    for i = 1, 2 do b:addFields({ name = "n" .. i, value = ("v"):rep(1000) }) end
    assert.equal(4096 + 2 * (2 + 1000), b.length)
    assert.error_matches(function() b:toJSON() end, "over the 6000 limit", nil, true)
  end)
end)
