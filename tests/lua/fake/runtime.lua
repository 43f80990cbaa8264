-- Fake of the host's `runtime` module: tasks are coroutines on a virtual clock. When every task is
-- parked, time jumps to the next timer, so minutes of a session pass in milliseconds.
-- Test controls (not part of the contract) are the fields and functions after "Test controls".
local M = {}

local SUSPEND = {}
local LEVELS = { debug = true, info = true, warn = true, error = true }
local EPOCH = 1767225600000 -- 2026-01-01T00:00:00Z, the Unix time at virtual 0

local state

local function fresh()
  return {
    clock = 0,
    seq = 0,
    ready = {}, ready_head = 1, ready_tail = 0,
    timers = {},
    tasks = {},
    current = nil,
    stopped = false,
    interrupts = {},
    interrupted = 0,
  }
end

-- Timer heap ordered by (at, seq) so equal deadlines fire in creation order.
local function before(a, b)
  if a.at ~= b.at then return a.at < b.at end
  return a.seq < b.seq
end

local function heapPush(h, item)
  h[#h + 1] = item
  local i = #h
  while i > 1 do
    local p = i // 2
    if before(h[p], h[i]) then break end
    h[p], h[i] = h[i], h[p]
    i = p
  end
end

local function heapPop(h)
  local top = h[1]
  local last = table.remove(h)
  if #h > 0 then
    h[1] = last
    local i = 1
    while true do
      local l, r, s = 2 * i, 2 * i + 1, i
      if l <= #h and before(h[l], h[s]) then s = l end
      if r <= #h and before(h[r], h[s]) then s = r end
      if s == i then break end
      h[s], h[i] = h[i], h[s]
      i = s
    end
  end
  return top
end

local function nextSeq()
  state.seq = state.seq + 1
  return state.seq
end

local function schedule(task, args)
  state.ready_tail = state.ready_tail + 1
  state.ready[state.ready_tail] = { task = task, args = args }
end

local function checkMs(fname, ms)
  if math.type(ms) ~= "integer" or ms < 0 then
    error(fname .. ": milliseconds must be a non-negative integer, got " .. tostring(ms), 3)
  end
end

local Task = {}
Task.__index = Task
Task.__name = "runtime.task"
function Task.__tostring(t) return "task " .. t.id .. " (" .. t.state .. ")" end

local function newTask(fn, ...)
  local task = setmetatable({ id = nextSeq(), state = "ready", fn = fn }, Task)
  task.co = coroutine.create(function(...) return fn(...) end)
  state.tasks[task] = true
  schedule(task, table.pack(...))
  return task
end

-- Tasks ----------------------------------------------------------------------------------------------------

function M.spawn(fn, ...)
  if type(fn) ~= "function" then error("spawn: expected a function", 2) end
  return newTask(fn, ...)
end

function M.current()
  return state.current
end

local function blockingTask(fname)
  local task = state.current
  if not task then error(fname .. ": not inside a task", 3) end
  -- A blocking call from a coroutine the library made would yield to the wrong place.
  if coroutine.running() ~= task.co then error(fname .. ": called from a coroutine that is not a task", 3) end
  return task
end

function M.suspend()
  local task = blockingTask("suspend")
  task.state = "suspended"
  return coroutine.yield(SUSPEND)
end

function M.wake(task, ...)
  if getmetatable(task) ~= Task then error("wake: expected a task", 2) end
  if task.state ~= "suspended" then return false end
  task.state = "ready"
  schedule(task, table.pack(...))
  return true
end

-- Time -----------------------------------------------------------------------------------------------------

function M.sleep(ms)
  checkMs("sleep", ms)
  local task = blockingTask("sleep")
  task.state = "sleeping"
  heapPush(state.timers, { at = state.clock + ms, seq = nextSeq(), task = task })
  return coroutine.yield(SUSPEND)
end

local Timer = {}
Timer.__index = Timer
function Timer:cancel() self.cancelled = true end

function M.timer(ms, fn, every)
  checkMs("timer", ms)
  if type(fn) ~= "function" then error("timer: expected a function", 2) end
  local period
  if every == true then
    period = ms
  elseif every then
    checkMs("timer", every)
    period = every
  end
  if period == 0 then error("timer: a repeating timer needs a period above 0", 2) end
  local t = setmetatable({ at = state.clock + ms, seq = nextSeq(), fn = fn, period = period }, Timer)
  heapPush(state.timers, t)
  return t
end

function M.now()
  return state.clock
end

function M.time()
  return EPOCH + state.clock
end

-- Lifecycle ------------------------------------------------------------------------------------------------

function M.on_interrupt(fn)
  if type(fn) ~= "function" then error("on_interrupt: expected a function", 2) end
  state.interrupts[#state.interrupts + 1] = fn
end

function M.stop(code)
  state.stopped = true
  M.exit_code = code or 0
end

-- Host -----------------------------------------------------------------------------------------------------

function M.log(level, category, msg)
  if not LEVELS[level] then error("log: unknown level " .. tostring(level), 2) end
  if type(category) ~= "string" or type(msg) ~= "string" then error("log: category and message must be strings", 2) end
  M.logs[#M.logs + 1] = { level = level, category = category, msg = msg, at = state.clock }
  if M.echo then io.stderr:write(string.format("[%d] [%s] [%s] %s\n", state.clock, level, category, msg)) end
end

function M.getenv(name)
  if type(name) ~= "string" then error("getenv: name must be a string", 2) end
  return M.env[name]
end

-- Test controls --------------------------------------------------------------------------------------------

--- Forgets all tasks, timers, logs and environment; the clock restarts at 0.
function M.reset()
  state = fresh()
  -- Heartbeat jitter and nonces come from math.random: a fixed seed makes every run the same.
  math.randomseed(20261206)
  M.logs = {}
  M.errors = {}
  M.env = {}
  M.exit_code = nil
  M.echo = os.getenv("FAKE_RUNTIME_ECHO") ~= nil
end

--- Simulates Ctrl+C: the handlers run in tasks; a second interrupt stops at once.
function M.interrupt()
  state.interrupted = state.interrupted + 1
  if state.interrupted > 1 then
    M.stop(130)
    return
  end
  for _, fn in ipairs(state.interrupts) do newTask(fn) end
end

local function resume(task, args)
  state.current = task
  task.state = "running"
  local res = table.pack(coroutine.resume(task.co, table.unpack(args, 1, args.n)))
  state.current = nil
  if not res[1] then
    task.state = "dead"
    state.tasks[task] = nil
    local trace = debug.traceback(task.co, tostring(res[2]))
    M.errors[#M.errors + 1] = { task = task, err = res[2], traceback = trace }
    M.log("error", "task", trace)
    return
  end
  if coroutine.status(task.co) == "dead" then
    task.state = "dead"
    state.tasks[task] = nil
  elseif res[2] ~= SUSPEND then
    -- Only the runtime may yield a task.
    task.state = "dead"
    state.tasks[task] = nil
    M.errors[#M.errors + 1] = { task = task, err = "a task yielded outside the runtime" }
  end
end

local function fireTimers(limit)
  local h = state.timers
  while #h > 0 and h[1].cancelled do heapPop(h) end
  if #h == 0 then return false end
  if limit and h[1].at > limit then
    state.clock = limit
    return false
  end
  local t = heapPop(h)
  if t.at > state.clock then state.clock = t.at end
  if t.task then
    if t.task.state == "sleeping" then
      t.task.state = "ready"
      schedule(t.task, { n = 0 })
    end
  else
    if t.period then
      t.at, t.seq = t.at + t.period, nextSeq()
      heapPush(h, t)
    end
    newTask(t.fn)
  end
  return true
end

--- Runs the loop: `fn` (if given) becomes the first task. Ends when nothing is ready and no timer is
--- left, when runtime.stop() is called, or when the clock would pass `opts.until` (virtual ms).
--- Raises on the first task error unless `opts.errors` is true, so library faults fail the test.
--- Returns the number of tasks still parked.
function M.run(fn, opts)
  opts = opts or {}
  if fn then newTask(fn) end
  local limit = opts["until"] or (opts["for"] and state.clock + opts["for"])
  local seen_errors = #M.errors
  state.stopped = false
  local steps, clock = 0, state.clock
  while not state.stopped do
    -- A library that spins without ever waiting would hang the suite; fail it instead.
    if state.clock ~= clock then steps, clock = 0, state.clock end
    steps = steps + 1
    if steps > 1000000 then error("runtime.run: a million steps without the clock moving", 0) end
    if state.ready_head <= state.ready_tail then
      local item = state.ready[state.ready_head]
      state.ready[state.ready_head] = nil
      state.ready_head = state.ready_head + 1
      if item.task.state == "ready" then resume(item.task, item.args) end
      if #M.errors > seen_errors and not opts.errors then
        error("task failed: " .. (M.errors[#M.errors].traceback or tostring(M.errors[#M.errors].err)), 0)
      end
    else
      if not fireTimers(limit) then break end
    end
  end
  local parked = 0
  for _ in pairs(state.tasks) do parked = parked + 1 end
  return parked
end

--- Lines logged at `level` (or all) whose message contains `text`.
function M.logged(level, text)
  local out = {}
  for _, l in ipairs(M.logs) do
    if (level == nil or l.level == level) and (text == nil or l.msg:find(text, 1, true)) then out[#out + 1] = l end
  end
  return out
end

M.reset()

return M
