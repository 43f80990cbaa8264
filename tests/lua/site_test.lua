-- The reference site: the annotation checker, the guide's samples, the built site's links and the site in
-- headless Chromium.
local function run(cmd)
  local p = io.popen(cmd .. " 2>&1")
  local out = p:read("a")
  local ok, _, code = p:close()
  return out, ok and 0 or code
end

package.path = "scripts/site/?.lua;" .. package.path
local reader = require("reader")
local read = reader.readFile

describe("annotation check", function()
  it("lists each kind of fault of the fixture module, and only those", function()
    local out, code = run("lua5.4 scripts/site/build.lua --check --root tests/data/site")
    assert.same({ read("tests/data/site/check.txt"), 1 }, { out, code })
  end)

  it("finds a reference entry for every export of the library", function()
    local out, code = run("lua5.4 scripts/site/build.lua --check")
    local lines = {}
    for l in out:gmatch("[^\n]+") do lines[#lines + 1] = l end
    assert.equal(0, code, table.concat(lines, "\n", 1, math.min(#lines, 40)) .. "\n...\n" .. lines[#lines])
  end)
end)

-- Runnable samples (```lua run) of the guide, started as the example bots are (server.script); `act` drives
-- one and returns what it must show.
describe("guide samples", function()
  local runtime, server, md = require("runtime"), require("fake.discord.server"), dofile("scripts/site/markdown.lua")

  local function replies(fd, text)
    return require("discord.util").map(fd:replies(fd.alice, text), function(b) return b.content end)
  end

  local cases = {
    ["first-bot.md"] = { want = { "Pong!" }, act = function(fd) return replies(fd, "!ping") end },
    ["slash-commands.md"] = { want = { "Pong!", "Again", "Pong again!", "Once more" }, act = function(fd)
      local it = server.act(function() return fd.interactions:command(fd.alice, fd.general, "ping") end)
      local first, label = it.original.content, it.original.components[1].components[1].label
      it = server.act(function() return fd.interactions:click(fd.bob, it.original, "again") end)
      return { first, label, it.original.content, it.original.components[1].components[1].label }
    end },
    ["errors.md"] = { want = { "That message is gone." }, act = function(fd) return replies(fd, "!old") end },
    ["voice.md"] = { want = { "Playing song.ogg", "song.ogg", true }, setup = function(fd)
      fd.voice = require("fake.discord.voice").new(fd)
      require("fake.tools").install()
    end, act = function(fd)
      local room = fd.guild.channels[3]
      server.act(function()
        fd.gateway:dispatch("VOICE_STATE_UPDATE", { guild_id = fd.guild.id, user_id = fd.alice.id, channel_id = room })
      end)
      local it = server.act(function() return fd.interactions:command(fd.alice, fd.general, "play") end, 2000)
      local input = runtime.processes[1] and table.concat(runtime.processes[1].args, " "):match("%-i (%S+)")
      return { it.original.content, input, #fd.voice.rtp > 0 }
    end },
  }

  local found = {}
  for _, page in ipairs({ "first-bot.md", "slash-commands.md", "voice.md", "sharding.md", "errors.md" }) do
    local _, _, _, blocks = md.render(read("docs/lua/guide/" .. page), {})
    for _, b in ipairs(blocks) do
      if b.info == "lua run" then
        found[#found + 1] = page
        it(page .. ":" .. b.line .. " runs against the fake Discord", function()
          local case, file = cases[page] or {}, os.tmpname()
          local f = assert(io.open(file, "w"))
          f:write(b.code)
          f:close()
          local fd, client = server.script(file, case.setup)
          os.remove(file)
          local got = case.act and case.act(fd)
          server.stop(client)
          assert.same({ case.want, {} }, { got, fd.interactions.violations })
        end)
      end
    end
  end

  it("are found on every page that shows one", function()
    assert.same({ "first-bot.md", "slash-commands.md", "voice.md", "sharding.md", "errors.md" }, found)
  end)
end)

-- The built site: its links, and Chromium (headless, no network) loading pages at a desktop's and a phone's
-- width in frames of a probe page that reports overflow and the search's first hit into its DOM.
describe("built site", function()
  local dir, shots = "build/site-test", "build/site-shots"
  local pages = { "index.html", "classes/discord.Message.html", "index.html?q=reply", "guide/voice.html",
    "enums/discord.ChannelType.html" }
  local chromium = "chromium --headless --no-sandbox --disable-gpu --disable-background-networking " ..
    "--disable-component-update --disable-sync --disable-default-apps --no-first-run --disable-extensions " ..
    "--host-resolver-rules='MAP * ~NOTFOUND' --allow-file-access-from-files --hide-scrollbars "
  local PROBE = [[<!DOCTYPE html><html><body><pre id="out">waiting</pre><script>
var pages = %s, widths = [1280, 390], out = [], n = 0;
pages.forEach(function (p) { widths.forEach(function (w) {
  var f = document.createElement("iframe");
  f.style.width = w + "px";
  f.style.height = "700px";
  f.onload = function () {
    var d = f.contentDocument.documentElement, first = f.contentDocument.querySelector("#results a");
    out.push(p + " " + w + " " + (d.scrollWidth <= d.clientWidth ? "fits" : "scrolls " + d.scrollWidth) +
      (first ? " first " + first.getAttribute("href") : ""));
    if (++n === pages.length * widths.length) document.getElementById("out").textContent = out.sort().join("\n");
  };
  f.src = p;
  document.body.appendChild(f);
}); });
</script></body></html>]]

  setup(function()
    local out, code = run("rm -rf " .. dir .. " && mkdir -p " .. shots .. " && lua5.4 scripts/site/build.lua " .. dir)
    assert(code == 0, out)
  end)

  it("has no link that does not resolve", function()
    local out, code = run("find " .. dir .. " -name '*.html' -print0 | xargs -0 python3 scripts/check_links.py")
    assert.same({ "", 0 }, { out, code })
  end)

  it("renders without a script error, fits 390 px and finds a method's class first, in Chromium", function()
    local list = {}
    for i, p in ipairs(pages) do list[i] = '"' .. p .. '"' end
    local f = assert(io.open(dir .. "/probe.html", "w"))
    f:write(PROBE:format("[" .. table.concat(list, ", ") .. "]"))
    f:close()
    local here = os.getenv("PWD")
    local dom = run(chromium .. "--enable-logging=stderr --v=0 --window-size=1400,900 --virtual-time-budget=8000 " ..
      "--dump-dom file://" .. here .. "/" .. dir .. "/probe.html")
    local want = {}
    for _, p in ipairs(pages) do
      for _, w in ipairs({ 1280, 390 }) do
        want[#want + 1] = p .. " " .. w .. " fits" .. (p:find("q=reply") and " first classes/discord.Message.html#reply"
          or "")
      end
    end
    table.sort(want)
    local console = {}
    for l in dom:gmatch("[^\n]+") do console[#console + 1] = l:find(":CONSOLE") and l or nil end
    assert.same({ table.concat(want, "\n"), {} }, { dom:match('<pre id="out">(.-)</pre>'), console })
    -- Screenshots are kept for a person to look at.
    for _, p in ipairs({ "index.html", "classes/discord.Message.html", "index.html?q=reply" }) do
      for _, w in ipairs({ 1280, 390 }) do
        local png = shots .. "/" .. p:gsub("%.html", ""):gsub("[^%w]+", "-") .. "-" .. w .. ".png"
        run(chromium .. "--window-size=" .. w .. ",900 --screenshot=" .. png .. " 'file://" .. here .. "/" .. dir ..
          "/" .. p .. "'")
        assert.is_true(os.rename(png, png), png)
      end
    end
  end)
end)

-- The fake runtime notes the library functions on the stack whenever a task suspends; in the whole suite,
-- that is every flow before this one.
describe("suspending functions", function()
  it("are marked ---@async where documented", function()
    local db, seen, missing = reader.load("."), require("runtime").suspending, {}
    for at in pairs(seen) do
      local rel, line = at:match("^(.*):(%d+)$")
      local e = db.files[rel] and db.files[rel].byLast[tonumber(line) - 1]
      -- A wrapper (util.try) suspends only when the function it is given does.
      local wrapper = e and e.params[1] and (e.params[1].type or ""):find("^fun")
      if e and e.desc and not e.async and not e.private and not wrapper then missing[#missing + 1] = at end
    end
    table.sort(missing)
    assert.same({ true, {} }, { next(seen) ~= nil, missing })
  end)
end)
