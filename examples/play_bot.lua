-- An example music bot, run with `tarn run play_bot.lua` and DISCORD_TOKEN set: /play <query> joins
-- the caller's voice channel and queues what yt-dlp finds; /skip, /loop and /queue. Returns the client.
local discord = require("discord")
local music = require("@discord/voice/music")

local client = discord.Client({ intents = { "Guilds", "GuildVoiceStates" } })

local function command(name, description, option)
  local c = discord.SlashCommandBuilder():setName(name):setDescription(description)
  if option then
    c:addStringOption(function(o) return o:setName(option):setDescription(option):setRequired(true) end)
  end
  return c
end

local COMMANDS = { command("play", "Play or queue a song", "query"), command("skip", "Skip the song"),
  command("loop", "Repeat: off, track or queue", "mode"), command("queue", "Show the queue") }

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
  i:editReply((mp.current == added[1] and "Now playing **" or "Queued **") .. tostring(added[1]) .. "**")
end

function handlers.skip(i, mp)
  local skipped = mp:skip()
  i:reply(skipped and ("Skipped " .. skipped.title) or "Nothing is playing.")
end

function handlers.loop(i, mp)
  local ok, mode = pcall(mp.setLoop, mp, i.options:getString("mode", true))
  i:reply(ok and ("Loop: " .. mode) or "The mode is off, track or queue.")
end

function handlers.queue(i, mp)
  local now = mp:nowPlaying()
  local lines = { now and (tostring(now.track) .. " " .. now.bar) or "Nothing is playing." }
  for _, row in ipairs(mp.queue:page(1).tracks) do lines[#lines + 1] = row[1] .. ". " .. tostring(row[2]) end
  i:reply(table.concat(lines, "\n"))
end

client:on("ready", function() client.application.commands:sync(COMMANDS) end)

client:on("interactionCreate", function(i)
  local h = i:isChatInputCommand() and i.guildId and handlers[i.commandName]
  if h then h(i, music.MusicPlayer.get(i.guildId, { client = client })) end
end)

client:login()
return client
