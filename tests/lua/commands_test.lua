-- Application commands against the fake Discord: sync sends only what changed, registered commands
-- compare equal to the builders they came from, and permissions need a Bearer token.
local runtime = require("runtime")
local server = require("fake.discord.server")
local discord = require("discord")

local S = require("discord.builders.slash")

local function builders()
  return {
    S.SlashCommandBuilder():setName("ping"):setDescription("Replies with pong"),
    S.SlashCommandBuilder():setName("echo"):setDescription("Says it back")
      :setNameLocalization("de", "echo"):setDefaultMemberPermissions("ManageMessages")
      :addStringOption(function(o) return o:setName("text"):setDescription("What"):setRequired(true) end)
      :addIntegerOption(function(o)
        return o:setName("times"):setDescription("How often"):addChoices({ name = "once", value = 1 },
          { name = "twice", value = 2 })
      end),
    S.ContextMenuCommandBuilder():setName("Quote"):setType("Message"),
  }
end

describe("application commands", function()
  local fd, client

  before_each(function()
    fd, client = server.login({ intents = { "Guilds" } })
  end)

  after_each(function()
    client:destroy()
    runtime.run(nil, { ["for"] = 1000 })
  end)

  local function run(fn)
    local res
    runtime.run(function() res = table.pack(xpcall(fn, debug.traceback)) end, { ["for"] = 10000 })
    assert(res[1], tostring(res[2]))
    return table.unpack(res, 2, res.n)
  end

  local function writes()
    local out = {}
    for _, r in ipairs(fd:requests(nil, "/applications/.*")) do
      if r.method ~= "GET" then out[#out + 1] = r.method .. " " .. r.path:gsub("%d%d%d+", "ID") end
    end
    return out
  end

  local function names(list)
    local out = {}
    for i, e in ipairs(list) do out[i] = e.name end
    return out
  end

  it("creates, then leaves unchanged commands alone, then sends one request per change", function()
    local commands = client.application.commands
    local diff = run(function() return commands:sync(builders()) end)
    assert.are.same({ "ping", "echo", "Quote" }, names(diff.created))
    assert.are.same({ "POST /applications/ID/commands", "POST /applications/ID/commands",
      "POST /applications/ID/commands" }, writes())
    assert.are.equal(3, #fd.commands.global)

    -- Discord answers with defaults filled in; the second sync still finds nothing to do.
    diff = run(function() return commands:sync(builders()) end)
    assert.are.same({ "ping", "echo", "Quote" }, names(diff.unchanged))
    assert.are.same({ 0, 0, 0 }, { #diff.created, #diff.updated, #diff.deleted })
    assert.are.equal(3, #writes())

    local changed = builders()
    changed[1]:setDescription("Replies with pong, fast")
    table.remove(changed, 3)
    changed[#changed + 1] = S.SlashCommandBuilder():setName("roll"):setDescription("Rolls a die")
    local dry = run(function() return commands:sync(changed, { dryRun = true }) end)
    assert.are.same({ { "ping" }, { "Quote" }, { "roll" }, { "echo" } },
      { names(dry.updated), names(dry.deleted), names(dry.created), names(dry.unchanged) })
    assert.are.equal(3, #writes())

    diff = run(function() return commands:sync(changed) end)
    local w = writes()
    assert.are.same({ "DELETE /applications/ID/commands/ID", "PATCH /applications/ID/commands/ID",
      "POST /applications/ID/commands" }, { w[4], w[5], w[6] })
    assert.are.equal(6, #w)
    local ping = diff.updated[1].command
    assert.are.equal("Replies with pong, fast", ping.description)
    assert.is_true(ping:equals(changed[1]))
    assert.is_false(ping:equals(builders()[1]))
    assert.are.same({ "ping", "echo", "roll" }, { fd.commands.global[1].name, fd.commands.global[2].name,
      fd.commands.global[3].name })
  end)

  it("syncs a guild's commands on the guild's routes and resets fields a builder drops", function()
    local guild = client.guilds.cache:get(fd.guild.id)
    run(function() guild.commands:sync(builders()) end)
    assert.are.equal(3, #fd.commands[fd.guild.id])
    assert.are.equal(0, #fd.commands.global)
    local plain = builders()
    plain[2] = S.SlashCommandBuilder():setName("echo"):setDescription("Says it back")
      :addStringOption(function(o) return o:setName("text"):setDescription("What"):setRequired(true) end)
      :addIntegerOption(function(o)
        return o:setName("times"):setDescription("How often"):addChoices({ name = "once", value = 1 },
          { name = "twice", value = 2 })
      end)
    local diff = run(function() return client.application.commands:sync(plain, { guildId = fd.guild.id }) end)
    assert.are.same({ "echo" }, names(diff.updated))
    local stored = fd.commands[fd.guild.id][2]
    assert.are.same({ require("json").null, require("json").null },
      { stored.default_member_permissions, stored.name_localizations })
    assert.is_true(guild.commands.cache:get(stored.id):equals(plain[2]))
  end)

  -- The error a call raises inside the loop (nil when it returns).
  local function failure(fn)
    local ok, err
    runtime.run(function() ok, err = pcall(fn) end, { ["for"] = 5000 })
    assert.is_false(ok, "call did not fail")
    return err
  end

  it("checks every builder before sending anything, and surfaces Discord's form errors", function()
    local commands = client.application.commands
    local bad = builders()
    bad[2] = S.SlashCommandBuilder():setName("broken")
    assert.matches("needs a description", tostring(failure(function() commands:sync(bad) end)))
    assert.are.same({}, writes())

    local dup = builders()
    dup[#dup + 1] = S.SlashCommandBuilder():setName("ping"):setDescription("again")
    assert.matches("two commands are named ping", tostring(failure(function() commands:sync(dup) end)))

    local err = failure(function() commands:create({ name = "Shout", description = "x" }) end)
    assert.is_true(discord.errors.is(err, "DiscordAPIError", 50035))
    assert.are.same({ "name: Command name is invalid" }, err.errors)
  end)

  it("reads permissions with the bot token and changes them only with a Bearer token", function()
    local cmd = run(function() return client.application.commands:create(builders()[1]) end)
    local perms = client.application.commands.permissions
    local target = { guild = fd.guild.id, command = cmd }
    assert.is_false(run(function() return perms:has({ guild = fd.guild.id, command = cmd.id,
      permissionId = fd.member_role.id }) end))
    local err = failure(function() perms:set({ guild = fd.guild.id, command = cmd, permissions = {} }) end)
    assert.matches("Bearer token", tostring(err))

    fd.bearer = "user-oauth-token"
    local seen
    client:on("applicationCommandPermissionsUpdate", function(d) seen = d end)
    run(function()
      perms:add({ guild = fd.guild.id, command = cmd, token = fd.bearer,
        permissions = { { id = fd.member_role.id, type = "Role", permission = true } } })
      perms:add({ guild = fd.guild.id, command = cmd, token = fd.bearer,
        permissions = { { id = fd.bob.id, type = "User", permission = false } } })
    end)
    local list = run(function() return perms:fetch(target) end)
    assert.are.same({ { id = fd.member_role.id, type = 1, permission = true }, { id = fd.bob.id, type = 2,
      permission = false } }, list)
    assert.are.same({ cmd.id, fd.guild.id, 2 }, { seen.id, seen.guildId, #seen.permissions })
    run(function() perms:remove({ guild = fd.guild.id, command = cmd, token = fd.bearer, users = fd.bob.id }) end)
    assert.are.same({ { id = fd.member_role.id, type = 1, permission = true } }, run(function()
      return perms:fetch(target)
    end))
    assert.are.equal("Bearer user-oauth-token", fd:requests("PUT", ".*/permissions")[1].headers.authorization)
  end)
end)
