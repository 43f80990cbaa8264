local runtime = require("runtime")
local json = require("json")
local util = require("discord.util")

-- Runs fn as the first task and returns how long it took on the virtual clock.
local function run(fn)
  runtime.reset()
  runtime.run(fn)
  return runtime.now()
end

describe("util helpers", function()
  it("convert strings and round-trip base64", function()
    assert.same({ "?a=1&b=x%20y&ids=1&ids=2", "h\u{e9}\u{e9}...", nil }, { util.queryString({ b = "x y", a = 1,
      ids = { 1, 2 }, c = json.null }), util.truncate("h\u{e9}\u{e9}llo world", 6, "..."),
      (util.base64Decode("Zm9v=mFy")) })
    for _, s in ipairs({ "", "f", "fo", "foo", "foob", "\0\255\128" }) do
      assert.equal(s, util.base64Decode(util.base64Encode(s)))
    end
  end)

  it("read and write ISO timestamps in Unix milliseconds", function()
    local cases = { { "2024-02-29T14:34:56.789+02:00", 1709210096789 }, { "2024-02-29 14:34:56Z", 1709217296000 },
      { "1969-12-31T23:59:59.999000+00:00", -1 }, { "2015-01-01T00:00:00.00x000+00:00", nil },
      { "2015-01-01T00:00:0x.000000+00:00", nil }, { "2015-01-01T00:00:00", 1420070400000 }, { "2015-01-01", nil } }
    for _, c in ipairs(cases) do assert.equal(c[2], util.parseTimestamp(c[1]), c[1]) end
    assert.same({ "2024-02-29T12:34:56.789Z", nil }, { util.isoTimestamp(1709210096789),
      (util.parseTimestamp("yesterday")) })
  end)
end)

describe("util.Future", function()
  it("wakes every waiter with the values, once", function()
    local f, got = util.Future(), {}
    local took = run(function()
      -- The timeout's timer goes with the wait, or it would keep the loop alive until 5000.
      for i = 1, 2 do runtime.spawn(function() got[i] = { f:await(5000) } end) end
      runtime.sleep(100)
      assert.is_true(f:resolve("a", nil, "c"))
      assert.is_false(f:resolve("again"))
    end)
    assert.same({ { { "a", nil, "c" }, { "a", nil, "c" } }, 100 }, { got, took })
  end)
end)

describe("util.EventEmitter", function()
  it("runs each listener in its own task, in registration order; once fires once", function()
    local e, log = util.EventEmitter(), {}
    run(function()
      e:on("x", function(v)
        runtime.sleep(10)
        log[#log + 1] = "a" .. v
      end)
      e:once("x", function(v) log[#log + 1] = "b" .. v end)
      local fn = e:on("x", function(v) log[#log + 1] = "c" .. v end)
      e:emit("x", 1)
      e:off("x", fn)
      e:emit("x", 2)
    end)
    assert.same({ { "b1", "c1", "a1", "a2" }, false }, { log, e:emit("nobody") })
  end)

  it("turns a listener error into an error event, or a log line when nobody listens", function()
    local e, seen = util.EventEmitter(), nil
    run(function()
      e:on("x", function() error("bad listener") end)
      e:emit("x")
    end)
    assert.equal(1, #runtime.logged("error", "listener for 'x' failed: "))
    run(function()
      e:on("error", function(err, name) seen = { err:match("bad listener") ~= nil, name } end)
      e:emit("x")
    end)
    assert.same({ true, "x" }, seen)
  end)
end)
