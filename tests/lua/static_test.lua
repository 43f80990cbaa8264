-- The library as files: what modules may require, that every module loads under Lua 5.4, and the
-- module-table generator's checks.
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

-- The names a module requires: require("x") and pcall(require, "x"). Comments could mention anything;
-- only code counts.
local function requiresOf(n)
  local code = sources[n]:gsub("%-%-%[(=*)%[.-%]%1%]", ""):gsub("%-%-[^\n]*", "")
  local out = {}
  for arg in code:gmatch("require%s*%(%s*([^)]-)%s*%)") do out[#out + 1] = arg end
  for arg in code:gmatch("require%s*,%s*([^),]+)") do out[#out + 1] = arg end
  for i, arg in ipairs(out) do out[i] = arg:match('^"([^"]+)"$') or arg:match("^'([^']+)'$") or false end
  return out
end

-- The library's layers: a module requires its own layer and those below. Managers and structures are
-- layer 3; the package root and its alias sit above every layer.
local LAYERS = {
  util = 0, collection = 0, snowflake = 0, bitfield = 0, intents = 0, constants = 0, enums = 0, errors = 0,
  formatters = 0, cdn = 0, typedefs = 0,
  rest = 1, ws = 1, sharding = 1,
  client = 2, ["client.options"] = 2, ["client.partials"] = 2, ["client.sweepers"] = 2,
  collectors = 4,
}
local function layerOf(name)
  if name == "discord" or name == "discord.lua" then return 6 end
  if name == "discordvoice" or name:find("^@discord/voice") then return 5 end
  local short = name:gsub("^discord%.", "")
  if short:find("^builders%.") then return 4 end
  return LAYERS[short] or 3
end

describe("library files", function()
  it("require only library, runtime and standard modules, each from its own layer or one below", function()
    local problems = {}
    for _, n in ipairs(names) do
      for _, lit in ipairs(requiresOf(n)) do
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

  it("hold their whole text: none is a stand-in that raises \"not available in this version\"", function()
    local stubs = {}
    for _, n in ipairs(names) do
      if sources[n]:find("not available in this version", 1, true) or sources[n]:find("notAvailable", 1, true) then
        stubs[#stubs + 1] = pathOf(n)
      end
    end
    assert.same({}, stubs)
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
    local total = 0
    for _, n in ipairs(names) do total = total + #sources[n] end
    print(string.format("library: %d modules, %.1f KB", #names, total / 1024))
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
