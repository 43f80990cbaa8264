-- The library as files: what modules may require, that every module loads under Lua 5.4, the package root's
-- exports, and the module-table generator's checks.
local LUA_DIR = "payload/lua/"
local RUNTIME_MODULES = { runtime = true, json = true, http = true, _discord = true }
local STANDARD_MODULES = { string = true, table = true, math = true, utf8 = true, coroutine = true, os = true }
local ROOTS = { discord = true, ["@discord/voice"] = true }

local function lines(cmd)
  local p = assert(io.popen(cmd))
  local out = {}
  for l in p:lines() do out[#out + 1] = l end
  p:close()
  return out
end

local names, known = {}, {}
for l in io.lines("payload/modules.txt") do names[#names + 1], known[l] = l, true end

local function pathOf(name)
  if ROOTS[name] then return name .. "/init.lua" end
  return name:gsub("%.", "/") .. ".lua"
end

-- A missing module fails the generator's run below.
local sources = {}
for _, n in ipairs(names) do
  local f = io.open(LUA_DIR .. pathOf(n), "rb")
  sources[n] = f and f:read("a") or ""
  if f then f:close() end
end

-- Layers: a module requires its own layer and those below. Managers and structures are layer 3; the
-- package root and its alias sit above every layer.
local LAYERS = {}
for layer, list in pairs({ [0] = { "util", "collection", "snowflake", "bitfield", "intents", "constants", "enums",
  "errors", "formatters", "cdn", "typedefs" }, { "rest", "ws", "sharding" },
  { "client", "client.options", "client.partials", "client.sweepers" }, [4] = { "collectors" } }) do
  for _, n in ipairs(list) do LAYERS["discord." .. n] = layer end
end
local function layerOf(name)
  if name == "discord" or name == "discord.lua" then return 6 end
  if name == "discordvoice" or name:find("^@discord/voice") then return 5 end
  return LAYERS[name] or (name:find("^discord%.builders%.") and 4) or 3
end

describe("library files", function()
  it("require only library, runtime and standard modules from their layer or below; none is a stand-in", function()
    local problems = {}
    for _, n in ipairs(names) do
      if sources[n]:find("not available in this version", 1, true) or sources[n]:find("notAvailable", 1, true) then
        problems[#problems + 1] = pathOf(n) .. ": a stand-in"
      end
      -- Comments could mention anything; look at code only. Both require("x") and pcall(require, "x").
      local code = sources[n]:gsub("%-%-%[(=*)%[.-%]%1%]", ""):gsub("%-%-[^\n]*", "")
      for arg in code:gmatch("require%s*[(,]%s*([^),]-)%s*[),]") do
        local lit = arg:match('^"([^"]+)"$') or arg:match("^'([^']+)'$")
        if lit and not (known[lit] or RUNTIME_MODULES[lit] or STANDARD_MODULES[lit]) then
          problems[#problems + 1] = pathOf(n) .. ": requires unknown module " .. lit
        elseif lit and known[lit] and layerOf(lit) > layerOf(n) then
          problems[#problems + 1] = string.format("%s (layer %d) requires %s (layer %d)", pathOf(n), layerOf(n), lit,
            layerOf(lit))
        end
      end
    end
    assert.same({}, problems)
  end)

  it("all load under Lua 5.4 with the fakes, and the core leaves voice alone", function()
    assert.equal("Lua 5.4", _VERSION)
    for _, n in ipairs(names) do package.loaded[n] = nil end
    require("discord")
    assert.is_nil(package.loaded["@discord/voice"])
    for _, n in ipairs(names) do
      local ok, err = pcall(require, n)
      assert.is_true(ok, n .. ": " .. tostring(err))
    end
  end)

  it("export names at the package root from their modules on first use", function()
    local discord = require("discord")
    assert.same({ "1.2.4", discord, require("discord.channel").TextChannel,
      require("discord.formatters").userMention, require("discord.sharding").ShardingManager,
      require("discord.structures.webhook").WebhookClient, require("discord.managers.ban").GuildBanManager, nil },
      { discord.version, require("discord.lua"), discord.TextChannel, discord.userMention, discord.ShardingManager,
        discord.WebhookClient, discord.GuildBanManager, discord.NoSuchThing })
  end)
end)

-- It checks the sources' bytes, that the listed modules are there and nothing else is, and that each
-- compiles.
describe("module table generator", function()
  local function generate(dir)
    local out = os.tmpname()
    return lines("python3 payload/gen_module_table.py payload/modules.txt " .. dir .. " " .. out
      .. " 2>&1; echo rc=$?; rm -f " .. out)
  end

  it("takes the library and refuses a source that does not compile", function()
    assert.same({ 98, { "rc=0" } }, { #names, generate(LUA_DIR) })
    local tmp = os.tmpname()
    os.remove(tmp)
    assert.is_true(os.execute("mkdir -p " .. tmp .. " && cp -r payload/lua " .. tmp .. "/lua"))
    local f = assert(io.open(tmp .. "/lua/discord/typedefs.lua", "wb"))
    f:write("local x =\n")
    f:close()
    local out = generate(tmp .. "/lua")
    os.execute("rm -rf " .. tmp)
    assert.truthy(out[1]:find("discord/typedefs.lua: does not compile: .*typedefs.lua:2:"), out[1])
    assert.equal("rc=1", out[#out])
  end)
end)
