-- Example bot: prefix commands answered with embeds, and role changes for moderators.
--
--   !ping                       how fast the gateway answers
--   !role add|remove @member <role name or @role>
--
-- Run with `tarn run prefix_bot.lua` and DISCORD_TOKEN set. The script returns its client so that
-- a test can drive it and shut it down.
local discord = require("discord")

local PREFIX = "!"
local COLOR_OK, COLOR_ERROR = 0x2ecc71, 0xe74c3c

local client = discord.Client({
  intents = { "Guilds", "GuildMembers", "GuildMessages", "MessageContent" },
  allowedMentions = { parse = {} },
})

local function embed(title, description, color)
  return discord.EmbedBuilder():setTitle(title):setDescription(description):setColor(color or COLOR_OK)
end

local function fail(msg, text)
  return msg:reply({ embeds = { embed("Cannot do that", text, COLOR_ERROR) } })
end

-- A role by mention, ID or name (case does not matter).
local function findRole(guild, text)
  local role = guild.roles:resolve(text)
  if role then return role end
  local wanted = text:lower()
  return guild.roles.cache:find(function(r) return r.name:lower() == wanted end)
end

local commands = {}

function commands.ping(msg)
  local ping = client.ping
  msg:reply({ embeds = { embed("Pong!", ping and ("Gateway: " .. ping .. " ms") or "Gateway: not measured yet") } })
end

function commands.role(msg, args)
  local action, target = args[1], args[2]
  local roleText = table.concat(args, " ", 3)
  if (action ~= "add" and action ~= "remove") or not target or roleText == "" then
    return fail(msg, "Usage: `!role add|remove @member <role>`")
  end
  if not msg.member.permissions:has("ManageRoles") then
    return fail(msg, "You need the Manage Roles permission.")
  end
  local member = msg.guild.members:resolve(target)
  if not member then return fail(msg, "I do not know that member.") end
  local role = findRole(msg.guild, roleText)
  if not role then
    return fail(msg, "There is no role called " .. discord.formatters.escapeMarkdown(roleText) .. ".")
  end
  if not role.editable then return fail(msg, "That role is above mine, or managed by an integration.") end

  local ok, err = discord.try(function()
    if action == "add" then
      member.roles:add(role, "requested by " .. msg.author.tag)
    else
      member.roles:remove(role, "requested by " .. msg.author.tag)
    end
  end)
  if not ok then return fail(msg, "Discord said no: " .. tostring(err.message or err)) end
  local verb = action == "add" and "Gave" or "Took"
  local prep = action == "add" and "to" or "from"
  local text = verb .. " " .. role.name .. " " .. prep .. " " .. member.displayName
  msg:reply({ embeds = { embed("Roles changed", text) } })
end

client:on("ready", function()
  require("runtime").log("info", "bot", "Logged in as " .. client.user.tag)
end)

client:on("messageCreate", function(msg)
  if msg.author.bot or not msg.guild or msg.content:sub(1, #PREFIX) ~= PREFIX then return end
  local args = {}
  for word in msg.content:sub(#PREFIX + 1):gmatch("%S+") do args[#args + 1] = word end
  local name = table.remove(args, 1)
  local command = name and commands[name:lower()]
  if command then command(msg, args) end
end)

client:login()

return client
