-- An example slash-command bot, run with `tarn run slash_bot.lua` and DISCORD_TOKEN set. It keeps
-- its commands in step with Discord at start-up, runs on as many shards as Discord recommends, and
-- answers /ping (a button), /color (a select), /feedback (a modal), /fruit (autocomplete), /poll
-- and /report (slow: autoDefer answers Discord in time). Returns the client.
local runtime = require("runtime")
local discord = require("discord")

local client = discord.Client({ intents = { "Guilds" }, shards = "auto", autoDefer = 2000 })

local FRUIT = { "apple", "apricot", "banana", "blueberry", "cherry", "grape", "lemon", "mango", "melon" }
local COLORS = { red = 0xED4245, green = 0x57F287, blue = 0x3498DB }
local COLOR_NAMES = { "blue", "green", "red" }

local function command(name, description)
  return discord.SlashCommandBuilder():setName(name):setDescription(description)
end

local COMMANDS = {
  command("ping", "Answers with a button"),
  command("color", "Pick a colour"),
  command("feedback", "Tell us what you think"),
  command("fruit", "Look up a fruit"):addStringOption(function(o)
    return o:setName("name"):setDescription("Which fruit"):setRequired(true):setAutocomplete(true)
  end),
  command("poll", "Ask the channel"):addStringOption(function(o)
    return o:setName("question"):setDescription("The question"):setRequired(true):setMaxLength(300)
  end):addStringOption(function(o)
    return o:setName("answers"):setDescription("Answers, separated by commas"):setRequired(true)
  end),
  command("report", "Builds a slow report"),
}

local function pingRow(count)
  return discord.ActionRowBuilder():addComponents(
    discord.ButtonBuilder():setCustomId("ping:again"):setLabel("Again (" .. count .. ")"):setStyle(1))
end

local handlers = {}

function handlers.ping(i)
  i:reply({ content = "Pong!", components = { pingRow(0) } })
end

function handlers.color(i)
  local menu = discord.StringSelectMenuBuilder():setCustomId("color:pick"):setPlaceholder("Colour")
  for _, name in ipairs(COLOR_NAMES) do menu:addOptions({ label = name, value = name }) end
  i:reply({ content = "Pick one", components = { discord.ActionRowBuilder():addComponents(menu) },
    ephemeral = true })
end

function handlers.feedback(i)
  local modal = discord.ModalBuilder():setCustomId("feedback"):setTitle("Feedback")
    :addLabelComponents(function(l)
      return l:setLabel("What do you think?"):setTextInputComponent(function(t)
        return t:setCustomId("words"):setStyle(2):setMaxLength(1000)
      end)
    end)
  i:showModal(modal)
  local ok, submitted = pcall(i.awaitModalSubmit, i, { time = 5 * 60 * 1000 })
  if not ok then return end
  submitted:reply({ content = "Thanks, " .. submitted.user.username .. ": \"" ..
    submitted.fields:getTextInputValue("words") .. "\"", ephemeral = true })
end

function handlers.fruit(i)
  local name = i.options:getString("name", true)
  i:reply(discord.util.contains(FRUIT, name) and ("A fine fruit: " .. name) or ("No such fruit: " .. name))
end

function handlers.poll(i)
  local answers = {}
  for a in i.options:getString("answers", true):gmatch("[^,]+") do
    answers[#answers + 1] = { poll_media = { text = discord.util.trim(a) } }
  end
  i:reply({ poll = { question = { text = i.options:getString("question", true) }, answers = answers,
    duration = 24, allow_multiselect = false } })
end

function handlers.report(i)
  runtime.sleep(2500)
  i:reply("Report ready: all systems nominal.")
end

client:on("ready", function()
  client.application.commands:sync(COMMANDS)
end)

client:on("interactionCreate", function(i)
  if i:isAutocomplete() then
    local typed = i.options:getFocused():lower()
    local out = {}
    for _, f in ipairs(FRUIT) do
      if f:sub(1, #typed) == typed then out[#out + 1] = { name = f, value = f } end
    end
    i:respond(out)
  elseif i:isChatInputCommand() then
    local h = handlers[i.commandName]
    if h then h(i) end
  elseif i:isButton() and i.customId == "ping:again" then
    local count = tonumber(i.message.content:match("%((%d+)%)") or "0") + 1
    i:update({ content = "Pong! (" .. count .. ")", components = { pingRow(count) } })
  elseif i:isStringSelectMenu() and i.customId == "color:pick" then
    local pick = i.values[1]
    i:update({ content = "You picked " .. pick, components = {},
      embeds = { discord.EmbedBuilder():setTitle(pick):setColor(COLORS[pick]) } })
  end
end)

client:login()
return client
