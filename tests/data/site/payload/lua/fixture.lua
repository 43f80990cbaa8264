-- A module with one fault of each kind the checker finds, beside entries that are complete.
local M = {}

local function class(name)
  local cls = { __name = name, getters = {} }
  cls.__index = cls
  return setmetatable(cls, { __call = function(c) return setmetatable({}, c) end })
end

--- A counter that remembers its total.
---@class discord.Counter
---@field total integer What was added so far.
---@field double integer Twice the total (read-only).
---@field color string Names nothing.
local Counter = class("Counter")
M.Counter = Counter

Counter.getters.double = function(self) return self.total * 2 end
Counter.getters.half = function(self) return self.total / 2 end

--- Adds to the total.
---@param n integer How much.
---@return discord.Counter self The same counter.
function Counter:add(n)
  self.total = (self.total or 0) + n
  return self
end

--- Forgets the total.
---@param hard boolean No such parameter.
function Counter:reset() self.total = 0 end

function Counter:undocumented() end

--- Sums two numbers.
---@param a number The first.
function M.sum(a, b) return a + b end

--- Waits for a counter.
---@async
---@param c discord.Nope What to wait for.
---@param timeout? integer Milliseconds.
function M.wait(c, timeout) return c, timeout end

---@private
function M.internal() end
function M._hidden() end

--- The first element of a list.
---@generic T
---@param list T[] Any list.
---@return T first Its first element.
function M.first(list) return list[1] end

-- Another class made under the same name, without a ---@class of its own.
M.Twin = class("Counter")
function M.Twin:other() end

--- The library's version.
M.version = "1.0"
M.build = 7

--- Colours by name.
---@enum discord.Shade
M.Shade = setmetatable({ Dark = 1, Light = 2 }, { __index = function(_, k) error("no shade " .. k) end })

--- What a counter starts from, a table that is no class.
---@class discord.CounterOptions
---@field start integer The first total.
---@field step integer

return M
