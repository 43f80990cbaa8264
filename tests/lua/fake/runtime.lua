-- Fake of the host's `runtime` module: tasks are coroutines on a virtual clock that jumps to the next
-- timer when every task is parked. Test controls follow "Test controls".
local M = {}

local SUSPEND = {}
local NO_ARGS = { n = 0 }
local LEVELS = { debug = true, info = true, warn = true, error = true }
local EPOCH = 1767225600000 -- 2026-01-01T00:00:00Z, the Unix time at virtual 0

local state

-- Timers stay sorted by (at, seq), so equal deadlines fire in creation order.
local function addTimer(t)
  state.seq = state.seq + 1
  t.seq = state.seq
  local list = state.timers
  local i = #list
  while i > 0 and (list[i].at > t.at or (list[i].at == t.at and list[i].seq > t.seq)) do i = i - 1 end
  table.insert(list, i + 1, t)
  return t
end

-- A task is in the ready list at most once (only a task that is not ready can be made ready), so it carries
-- the values it resumes with; the benchmark feeds every listener task through here.
local function schedule(task, args)
  task.args = args
  state.ready[#state.ready + 1] = task
end

local function checkMs(fname, ms)
  if math.type(ms) ~= "integer" or ms < 0 then
    error(fname .. ": milliseconds must be a non-negative integer, got " .. tostring(ms), 3)
  end
end

local Task = { __name = "runtime.task" }

-- A coroutine runs one task's function after another: the last one whose task ended waits in `state.spare`
-- for the next, so a task (every listener call) does not make a coroutine and grow its stack afresh.
-- Its frame holds no task while it waits, so a spare coroutine keeps nothing of the last one alive.
local DONE = {}
local unpack, yield, remove = table.unpack, coroutine.yield, table.remove
local function work(task)
  task[1](unpack(task, 2, task.n))
  task = nil -- luacheck: ignore 311 (cleared while it waits)
  return work(yield(DONE))
end

-- A new task holds the values of its first resume itself, its function first: one table fewer a listener.
-- Up to four values (a listener's call) are placed by the constructor, which sizes the table for them;
-- more are appended, which grows it.
local function newTask(fn, ...)
  local co = state.spare or coroutine.create(work)
  local n = select("#", ...)
  local task
  if n <= 4 then
    local a, b, c, d = ...
    task = setmetatable({ fn, a, b, c, d, state = "ready", co = co, n = n + 1 }, Task)
  else
    task = setmetatable({ state = "ready", co = co, n = n + 1, fn, ... }, Task)
  end
  state.spare, state.live = nil, state.live + 1
  schedule(task, task)
  return task
end

function M.spawn(fn, ...)
  if type(fn) ~= "function" then error("spawn: expected a function", 2) end
  return newTask(fn, ...)
end

function M.current() return state.current end

local function blockingTask(fname)
  local task = state.current
  if not task then error(fname .. ": not inside a task", 3) end
  -- A blocking call from a coroutine the library made would yield to the wrong place.
  if coroutine.running() ~= task.co then error(fname .. ": called from a coroutine that is not a task", 3) end
  -- The library functions on the stack, from the fake's own frames up to the first frame that is not the
  -- library's (a callback, a pcall), suspend their task: the reference must say so (site_test reads this).
  -- Frames that a tail call replaced are not seen.
  local level, inLibrary, info = 3, false, debug.getinfo(3, "S")
  while info do
    local rel = info.source:match("^@%.?/?payload/lua/(.*)")
    if rel then
      inLibrary, M.suspending[rel .. ":" .. info.linedefined] = true, true
    elseif inLibrary then
      break
    end
    level = level + 1
    info = debug.getinfo(level, "S")
  end
  return task
end

-- A task is resumed with one table: itself when it starts, the woken values after.
function M.suspend()
  blockingTask("suspend").state = "suspended"
  local values = coroutine.yield(SUSPEND)
  return table.unpack(values, 1, values.n)
end

function M.wake(task, ...)
  if getmetatable(task) ~= Task then error("wake: expected a task", 2) end
  if task.state ~= "suspended" then return false end
  task.state = "ready"
  schedule(task, table.pack(...))
  return true
end

function M.sleep(ms)
  checkMs("sleep", ms)
  local task = blockingTask("sleep")
  task.state = "sleeping"
  addTimer({ at = state.clock + ms, task = task })
  coroutine.yield(SUSPEND)
end

local Timer = {}
Timer.__index = Timer
function Timer:cancel() self.cancelled = true end

function M.timer(ms, fn, every)
  checkMs("timer", ms)
  if type(fn) ~= "function" then error("timer: expected a function", 2) end
  local period = every == true and ms or every or nil
  if period then checkMs("timer", period) end
  if period == 0 then error("timer: a repeating timer needs a period above 0", 2) end
  return addTimer(setmetatable({ at = state.clock + ms, fn = fn, period = period }, Timer))
end

function M.now() return state.clock end
function M.time() return EPOCH + state.clock end

function M.on_interrupt(fn)
  if type(fn) ~= "function" then error("on_interrupt: expected a function", 2) end
  state.interrupts[#state.interrupts + 1] = fn
end

function M.stop() state.stopped = true end

function M.log(level, category, msg)
  if not LEVELS[level] then error("log: unknown level " .. tostring(level), 2) end
  if type(category) ~= "string" or type(msg) ~= "string" then error("log: category and message must be strings", 2) end
  M.logs[#M.logs + 1] = { level = level, category = category, msg = msg, at = state.clock }
end

function M.getenv(name) return M.env[name] end

-- Files the library may read: M.files maps paths to bytes.
function M.read_file(p)
  if type(p) ~= "string" then error("read_file: path must be a string", 2) end
  local b = M.files[p]
  if b == nil then return nil, "no such file: " .. p, "notfound" end
  return b
end

function M.write_file(p, b)
  if type(p) ~= "string" or type(b) ~= "string" then error("write_file: path and bytes must be strings", 2) end
  M.files[p] = b
  return true
end

function M.stat(p) if M.files[p] then return "file", #M.files[p] end end

-- M.programs maps a file (or base name) to fn(cmd, proc): proc:emit(bytes [, "err"]), proc:exit(code).
local Proc = {}
Proc.__index = Proc

-- Parks the task until ready() or the timeout; poke(owner) makes the tasks parked on owner look again.
function M.park(owner, ready, timeout)
  local task, late = blockingTask("park"), false
  owner.parked = owner.parked or {}
  local t = timeout and M.timer(timeout, function()
    late = true
    if owner.parked[task] then M.wake(task) end
  end)
  while not ready() and not late do
    owner.parked[task] = true
    M.suspend()
    owner.parked[task] = nil
  end
  if t then t:cancel() end
  return ready()
end

function M.poke(owner)
  for task in pairs(owner.parked or {}) do
    owner.parked[task] = nil
    M.wake(task)
  end
end
local park, poke = M.park, M.poke

local function reader(stream)
  return function(self)
    park(self, function() return self[stream][1] or self.code end)
    return table.remove(self[stream], 1)
  end
end
Proc.read, Proc.read_stderr = reader("out"), reader("err")

function Proc:wait(timeout)
  if park(self, function() return self.code end, timeout) then return self.code end
  return nil, "timeout", "timeout"
end
function Proc:write(b)
  table.insert(self.stdin, b)
  return true
end
function Proc:close_stdin() self.stdin.closed = true end
function Proc:kill()
  self.out, self.err = {}, {}
  self:exit(-1)
end
function Proc:emit(b, stream)
  if self.code then return end
  table.insert(self[stream or "out"], b)
  poke(self)
  M.sleep(0)
end
function Proc:exit(code)
  self.code = self.code or code
  poke(self)
end

function M.process(cmd)
  local fn = M.programs[cmd.file] or M.programs[cmd.file:match("([^/\\]+)$"):gsub("%.exe$", "")]
  M.processes[#M.processes + 1] = cmd
  if not fn then return nil, "cannot start " .. cmd.file, "notfound" end
  local proc = setmetatable({ cmd = cmd, out = {}, err = {}, stdin = {} }, Proc)
  M.spawn(function()
    fn(cmd, proc)
    proc:exit(0)
  end)
  return proc
end

-- A repeatable stream (xorshift64) so that boundaries and keys are the same on every run.
function M.random_bytes(n)
  if math.type(n) ~= "integer" or n < 0 then error("random_bytes: n must be a non-negative integer", 2) end
  local out = {}
  local x = state.random
  for i = 1, n do
    x = x ~ (x << 13)
    x = x ~ (x >> 7)
    x = x ~ (x << 17)
    out[i] = string.char(x & 0xFF)
  end
  state.random = x
  return table.concat(out)
end

-- Test controls
--- "file:line" of each library function seen on the stack of a suspending task, over the whole run (kept in
--- the registry: busted loads this module afresh for each test file).
local registry = debug.getregistry()
registry.fakeRuntimeSuspending = registry.fakeRuntimeSuspending or {}
M.suspending = registry.fakeRuntimeSuspending
--- Forgets all tasks, timers, logs and environment; the clock restarts at 0.
function M.reset()
  state = { clock = 0, seq = 0, ready = {}, timers = {}, live = 0, interrupts = {},
    random = 0x2545F4914F6CDD1D }
  -- Heartbeat jitter and nonces come from math.random: a fixed seed makes every run the same.
  math.randomseed(20261206)
  M.logs, M.env, M.files, M.programs, M.processes = {}, {}, {}, {}, {}
  M.paths = { root = "/tarn", modules = "/tarn/modules", tools = "/tarn/tools", cache = "/tarn/cache",
    logs = "/tarn/logs", script_dir = "." }
end

--- Simulates Ctrl+C: the handlers run in tasks.
function M.interrupt() for _, fn in ipairs(state.interrupts) do newTask(fn) end end

local resumeCo = coroutine.resume
local function resume(task)
  local co, args = task.co, task.args
  task.args, task.state, state.current = nil, "running", task
  local ok, res = resumeCo(co, args)
  state.current = nil
  if ok and res == SUSPEND then return end
  task.state = "dead"
  state.live = state.live - 1
  if res == DONE then
    state.spare = co
  else
    state.failure = ok and "a task yielded outside the runtime" or debug.traceback(co, tostring(res))
  end
end

-- Fires the next timer unless it lies beyond `limit` (then the clock stops at the limit).
local function fireTimer(limit)
  local list = state.timers
  while list[1] and list[1].cancelled do table.remove(list, 1) end
  local t = list[1]
  if not t then return false end
  if limit and t.at > limit then
    state.clock = limit
    return false
  end
  table.remove(list, 1)
  state.clock = math.max(state.clock, t.at)
  if t.task then
    if t.task.state == "sleeping" then
      t.task.state = "ready"
      schedule(t.task, NO_ARGS)
    end
  else
    if t.period then
      t.at = t.at + t.period
      addTimer(t)
    end
    newTask(t.fn)
  end
  return true
end

--- Checks run after each loop; one that returns a text fails the run with it (fakes register them).
M.checks = {}

local function runChecks()
  local found = {}
  for _, check in ipairs(M.checks) do found[#found + 1] = check() end
  return found
end

--- Runs the loop (`fn` as the first task) until nothing is left, runtime.stop() or `opts.for` virtual ms;
--- raises on the first task error. Returns the number of tasks still parked.
function M.run(fn, opts)
  if fn then newTask(fn) end
  local limit = opts and state.clock + opts["for"]
  state.stopped = false
  local steps, clock = 0, state.clock
  while not state.stopped do
    -- A library that spins without ever waiting would hang the suite; fail it instead.
    if state.clock ~= clock then steps, clock = 0, state.clock end
    steps = steps + 1
    if steps > 1000000 then error("runtime.run: a million steps without the clock moving", 0) end
    local task = remove(state.ready, 1)
    if task then
      if task.state == "ready" then resume(task) end
      local failure = state.failure
      if failure then
        state.failure = nil
        error(table.concat({ "task failed: " .. failure, table.unpack(runChecks()) }, "\n"), 0)
      end
    elseif not fireTimer(limit) then
      break
    end
  end
  if M.checks[1] then
    local found = runChecks()
    if #found > 0 then error(table.concat(found, "\n"), 0) end
  end
  return state.live
end

--- Lines logged at `level` whose message contains `text`.
function M.logged(level, text)
  local out = {}
  for _, l in ipairs(M.logs) do if l.level == level and l.msg:find(text, 1, true) then out[#out + 1] = l end end
  return out
end

M.reset()

return M
