-- Application commands: sync sends only what changed, registered commands equal their builders, and
-- permissions need a Bearer token.
local json = require("json")
local server = require("fake.discord.server")
local discord = require("discord")

local S = require("discord.builders.slash")

local function echo(localized)
  local b = S.SlashCommandBuilder():setName("echo"):setDescription("Says it back")
    :addStringOption(function(o) return o:setName("text"):setDescription("What"):setRequired(true) end)
    :addIntegerOption(function(o)
      return o:setName("times"):setDescription("How often"):addChoices({ name = "once", value = 1 })
    end)
  if localized then b:setNameLocalization("de", "echo"):setDefaultMemberPermissions("ManageMessages") end
  return b
end

local function builders()
  return { S.SlashCommandBuilder():setName("ping"):setDescription("Replies with pong"), echo(true),
    S.ContextMenuCommandBuilder():setName("Quote"):setType("Message") }
end

describe("application commands", function()
  local fd, client, commands

  before_each(function()
    fd, client = server.login({ intents = { "Guilds" } })
    commands = client.application.commands
  end)

  after_each(function() server.stop(client) end)
  local run, raised = server.act, server.raised

  -- Requests other than GET to the command routes, IDs replaced.
  local function writes()
    local out = {}
    for _, r in ipairs(fd:requests(nil, "/applications/.*")) do
      if r.method ~= "GET" then out[#out + 1] = r.method .. " " .. r.path:gsub("%d%d%d+", "ID") end
    end
    return out
  end

  local function names(list) return discord.util.map(list, function(e) return e.name end) end

  it("checks every builder before sending anything, creates, then leaves unchanged commands alone, then sends one "
    .. "request per change", function()
    -- Refused before a request: the counts of writes below would show one.
    local bad, dup = builders(), builders()
    bad[2] = S.SlashCommandBuilder():setName("broken")
    dup[4] = S.SlashCommandBuilder():setName("ping"):setDescription("again")
    assert.matches("needs a description", tostring(raised(function() commands:sync(bad) end)))
    assert.matches("two commands are named ping", tostring(raised(function() commands:sync(dup) end)))
    local diff = run(function() return commands:sync(builders()) end)
    assert.same({ "ping", "echo", "Quote" }, names(diff.created))
    assert.same({ "POST /applications/ID/commands" }, { writes()[3] })
    -- Discord answers with defaults filled in; the second sync still finds nothing to do.
    diff = run(function() return commands:sync(builders()) end)
    assert.same({ { "ping", "echo", "Quote" }, 3 }, { names(diff.unchanged), #writes() })

    local changed = builders()
    changed[1]:setDescription("Replies with pong, fast")
    changed[3] = S.SlashCommandBuilder():setName("roll"):setDescription("Rolls a die")
    local dry = run(function() return commands:sync(changed, { dryRun = true }) end)
    assert.same({ { "ping" }, { "Quote" }, { "roll" }, { "echo" }, 3 }, { names(dry.updated),
      names(dry.deleted), names(dry.created), names(dry.unchanged), #writes() })

    diff = run(function() return commands:sync(changed) end)
    local w = writes()
    assert.same({ 6, "DELETE /applications/ID/commands/ID", "PATCH /applications/ID/commands/ID",
      "POST /applications/ID/commands" }, { #w, w[4], w[5], w[6] })
    local ping = diff.updated[1].command
    assert.same({ "Replies with pong, fast", true, false, true, "</ping:" .. ping.id .. ">",
      { "ping", "echo", "roll" } }, { ping.description, ping:equals(changed[1]), ping:equals(builders()[1]),
        ping:equals(S.SlashCommandBuilder.from(ping)), tostring(ping), names(fd.commands.global) })
  end)

  it("syncs a guild's commands on its routes, resets what a builder drops, and overwrites in bulk", function()
    local guild = client.guilds.cache:get(fd.guild.id)
    run(function() guild.commands:sync(builders()) end)
    assert.same({ 3, 0 }, { #fd.commands[fd.guild.id], #fd.commands.global })
    local plain = builders()
    plain[2] = echo(false)
    local diff = run(function() return commands:sync(plain, { guildId = fd.guild.id }) end)
    assert.same({ "echo" }, names(diff.updated))
    local stored = fd.commands[fd.guild.id][2]
    assert.same({ json.null, json.null }, { stored.default_member_permissions, stored.name_localizations })
    local swapped = plain[2]:toJSON()
    swapped.options = { swapped.options[2], swapped.options[1] }
    local reg = guild.commands.cache:get(stored.id)
    assert.same({ true, true, false }, { reg:equals(plain[2]), reg:equals(swapped), reg:equals(swapped, true) })

    -- A bulk overwrite keeps the IDs of commands it keeps, and the cache follows it.
    local pingId = fd.commands[fd.guild.id][1].id
    local set = run(function() return guild.commands:set({ plain[1] }) end)
    assert.same({ pingId, 1, 1, "PUT /applications/ID/guilds/ID/commands" }, { set:first().id,
      guild.commands.cache.size, #fd.commands[fd.guild.id], writes()[#writes()] })
  end)

  it("reads permissions with the bot token and changes them only with a Bearer token", function()
    local cmd = run(function() return commands:create(builders()[1]) end)
    local perms = commands.permissions
    local target = { guild = fd.guild.id, command = cmd }
    assert.matches("Bearer token", tostring(raised(function() perms:set({ guild = fd.guild.id, command = cmd }) end)))

    fd.bearer = "user-oauth-token"
    local seen
    client:on("applicationCommandPermissionsUpdate", function(d) seen = d end)
    local role = { id = fd.member_role.id, type = 1, permission = true }
    run(function()
      perms:add({ guild = fd.guild.id, command = cmd, token = fd.bearer, permissions = { role } })
      perms:add({ guild = fd.guild.id, command = cmd, token = fd.bearer,
        permissions = { { id = fd.bob.id, type = "User", permission = false } } })
    end)
    assert.same({ { role, { id = fd.bob.id, type = 2, permission = false } }, cmd.id, fd.guild.id, 2 },
      { run(function() return perms:fetch(target) end), seen.id, seen.guildId, #seen.permissions })
    run(function() perms:remove({ guild = fd.guild.id, command = cmd, token = fd.bearer, users = fd.bob.id }) end)
    assert.same({ role }, run(function() return perms:fetch(target) end))
    local has = run(function() return perms:has({ guild = fd.guild.id, command = cmd.id, permissionId = role.id }) end)
    local auth = fd:requests("PUT", ".*/permissions")[1].headers.authorization
    assert.same({ "Bearer user-oauth-token", true }, { auth, has })
  end)
end)
