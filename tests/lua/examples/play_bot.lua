-- An example music bot, run with `tarn run play_bot.lua` and DISCORD_TOKEN set. /play <query> joins the
-- caller's voice channel and queues what yt-dlp finds; /skip, /loop, /queue and /stop manage the queue.
-- Returns the client.
local discord = require("discord")
local music = require("@discord/voice/music")

local client = discord.Client({ intents = { "Guilds", "GuildVoiceStates" } })

local function command(name, description)
  return discord.SlashCommandBuilder():setName(name):setDescription(description)
end

local COMMANDS = {
  command("play", "Play a song, or add it to the queue"):addStringOption(function(o)
    return o:setName("query"):setDescription("Words to search for, or a URL"):setRequired(true)
  end),
  command("skip", "Skip the song"),
  command("loop", "Repeat the song or the queue"):addStringOption(function(o)
    return o:setName("mode"):setDescription("What to repeat"):setRequired(true):addChoices(
      { name = "off", value = "off" }, { name = "track", value = "track" }, { name = "queue", value = "queue" })
  end),
  command("queue", "Show the queue"),
  command("stop", "Stop and empty the queue"),
}

local handlers = {}

function handlers.play(i, mp)
  local channelId = i.member.voice.channelId
  if not channelId then return i:reply({ content = "Join a voice channel first.", ephemeral = true }) end
  i:deferReply()
  local ok, added = pcall(function()
    mp:connect(channelId)
    return mp:play(i.options:getString("query", true), { requestedBy = i.user })
  end)
  if not ok then return i:editReply("Cannot play that: " .. tostring(added.message or added)) end
  local first = added[1]
  i:editReply(mp.queue.current == first and ("Now playing **" .. tostring(first) .. "**")
    or ("Queued **" .. tostring(first) .. "** at " .. mp.queue.size))
end

function handlers.skip(i, mp)
  local skipped = mp:skip()
  i:reply(skipped and ("Skipped " .. skipped.title) or "Nothing is playing.")
end

function handlers.loop(i, mp) i:reply("Loop: " .. mp:setLoop(i.options:getString("mode", true))) end

function handlers.queue(i, mp)
  local now = mp:nowPlaying()
  local lines = { now and ("Now: " .. tostring(now.track) .. "  " .. now.bar) or "Nothing is playing." }
  for _, row in ipairs(mp.queue:page(1).tracks) do lines[#lines + 1] = row[1] .. ". " .. tostring(row[2]) end
  i:reply(table.concat(lines, "\n"))
end

function handlers.stop(i, mp)
  mp:stop()
  i:reply("Stopped.")
end

client:on("ready", function() client.application.commands:sync(COMMANDS) end)

client:on("interactionCreate", function(i)
  local h = i:isChatInputCommand() and i.guildId and handlers[i.commandName]
  if h then h(i, music.MusicPlayer.get(i.guildId, { client = client })) end
end)

client:login()
return client
