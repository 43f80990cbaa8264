-- An example recording bot, run with `tarn run record_bot.lua` and DISCORD_TOKEN set: /record <seconds>
-- joins the caller's voice channel and writes what each member says to <user id>.ogg beside the script.
-- Returns the client.
local discord = require("discord")
local voice = require("@discord/voice")
local runtime = require("runtime")

local client = discord.Client({ intents = { "Guilds", "GuildVoiceStates" } })

local COMMANDS = { discord.SlashCommandBuilder():setName("record"):setDescription("Record the voice channel")
  :addIntegerOption(function(o)
    return o:setName("seconds"):setDescription("How long"):setMinValue(1):setMaxValue(600):setRequired(true)
  end) }

local function record(i)
  local channelId = i.member.voice.channelId
  if not channelId then return i:reply({ content = "Join a voice channel first.", ephemeral = true }) end
  local seconds = i.options:getInteger("seconds", true)
  i:reply("Recording for " .. seconds .. " s.")
  -- A deafened bot is sent no audio.
  local conn = voice.joinVoiceChannel({ client = client, guildId = i.guildId, channelId = channelId,
    selfDeaf = false })
  local files, writing = {}, 0
  conn.receiver.speaking:on("start", function(userId)
    if files[userId] then return end
    files[#files + 1], files[userId] = userId, runtime.paths.script_dir .. "/" .. userId .. ".ogg"
    writing = writing + 1
    -- Manual: the stream ends when the bot leaves (or the user does).
    voice.recordOgg(conn.receiver:subscribe(userId), files[userId])
    writing = writing - 1
  end)
  runtime.sleep(seconds * 1000)
  conn:destroy()
  while writing > 0 do runtime.sleep(20) end
  i:editReply("Recorded " .. #files .. " speaker(s).")
end

client:on("ready", function() client.application.commands:sync(COMMANDS) end)

client:on("interactionCreate", function(i)
  if i:isChatInputCommand() and i.guildId and i.commandName == "record" then record(i) end
end)

client:login()
return client
