-- Example bot: moderation commands for members with the right permissions. Every action carries the
-- moderator's reason into the guild's audit log.
--
--   !filter word1 word2 ...         an automod rule that blocks those words and alerts #mod-log
--   !timeout @member minutes reason  mutes the member for that long
--   !ban @member reason              bans and deletes their messages of the last day
--   !why @member                     the reason of the latest action on them, from the audit log
--
-- Run with `tarn run moderation_bot.lua` and DISCORD_TOKEN set. The script returns its client.
local discord = require("discord")

local client = discord.Client({
  intents = { "Guilds", "GuildMembers", "GuildMessages", "MessageContent", "GuildModeration",
    "AutoModerationExecution" },
  allowedMentions = { parse = {} },
})

-- "mod: reason" as the audit log shows it, so the log says who asked.
local function reasonOf(msg, text)
  return msg.author.username .. ": " .. (text ~= "" and text or "no reason given")
end

local function allowed(msg, permission)
  local perms = msg.member and msg.member.permissions
  if perms and perms:has(permission) then return true end
  msg:reply("You need the " .. permission .. " permission.")
  return false
end

local function target(msg, mention)
  local id = mention and mention:match("^<@!?(%d+)>$")
  return id and msg.guild.members.cache:get(id)
end

local commands = {}

function commands.filter(msg, args)
  if not allowed(msg, "ManageGuild") then return end
  local words = {}
  for w in args:gmatch("%S+") do words[#words + 1] = w end
  if #words == 0 then return msg:reply("Give the words to block.") end
  local rule = msg.guild.autoModerationRules:create({
    name = "Blocked words", eventType = "MessageSend", triggerType = "Keyword",
    triggerMetadata = { keywordFilter = words },
    actions = { { type = "BlockMessage", metadata = { customMessage = "That word is not allowed here." } },
      { type = "SendAlertMessage", metadata = { channel = msg.channel } } },
    enabled = true, reason = reasonOf(msg, "filter " .. table.concat(words, ", ")),
  })
  msg:reply("Rule " .. rule.id .. " blocks " .. #words .. " word(s).")
end

function commands.timeout(msg, args)
  if not allowed(msg, "ModerateMembers") then return end
  local mention, minutes, why = args:match("^(%S+)%s+(%d+)%s*(.*)$")
  local member = target(msg, mention)
  if not member then return msg:reply("Usage: !timeout @member minutes reason") end
  member:timeout(tonumber(minutes) * 60000, reasonOf(msg, why))
  msg:reply(member.user.username .. " is timed out for " .. minutes .. " minute(s).")
end

function commands.ban(msg, args)
  if not allowed(msg, "BanMembers") then return end
  local mention, why = args:match("^(%S+)%s*(.*)$")
  local member = target(msg, mention)
  if not member then return msg:reply("Usage: !ban @member reason") end
  msg.guild.bans:create(member, { deleteMessageSeconds = 86400, reason = reasonOf(msg, why) })
  msg:reply(member.user.username .. " is banned.")
end

function commands.why(msg, args)
  local id = args:match("^<@!?(%d+)>")
  if not id then return msg:reply("Usage: !why @member") end
  local logs = msg.guild:fetchAuditLogs({ limit = 50 })
  local entry = logs.entries:find(function(e) return e.targetId == id end)
  msg:reply(entry and (entry.actionType .. " by audit log: " .. tostring(entry.reason)) or "Nothing on record.")
end

client:on("messageCreate", function(msg)
  if msg.author.bot or not msg.guild then return end
  local name, args = msg.content:match("^!(%a+)%s*(.*)$")
  local command = name and commands[name]
  if command then command(msg, args) end
end)

client:on("autoModerationActionExecution", function(execution)
  client:emit("debug", "automod blocked a message of " .. tostring(execution.userId))
end)

client:login()
return client
