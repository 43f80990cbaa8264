-- Snowflake IDs: 64-bit numbers carried as decimal strings. The top 42 bits are milliseconds since
-- Discord's epoch, then 5 bits worker, 5 bits process and a 12-bit increment.
local constants = require("discord.constants")

local snowflake = {}

local EPOCH = constants.Epoch
local MAX_TIMESTAMP = (1 << 42) - 1
local increment = 0

--- Reads a snowflake (decimal string or integer) as an integer; nil when it is not one.
---@param id any
---@return integer|nil
function snowflake.toInteger(id)
  if math.type(id) == "integer" then return id >= 0 and id or nil end
  if type(id) ~= "string" or not id:match("^%d+$") or #id > 19 then return nil end
  return math.tointeger(tonumber(id))
end

--- Whether `id` is a snowflake (a decimal string or non-negative integer).
---@param id any
---@return boolean
function snowflake.isValid(id)
  return snowflake.toInteger(id) ~= nil
end

--- Unix milliseconds at which the ID was made.
--- Raises a string error when `id` is not a snowflake.
---@param id discord.Snowflake|integer
---@return discord.Milliseconds
function snowflake.timestamp(id)
  local n = snowflake.toInteger(id)
  if n == nil then error("snowflake.timestamp: not a snowflake: " .. tostring(id), 2) end
  return (n >> 22) + EPOCH
end

--- The parts of an ID: timestamp (Unix ms), workerId, processId, increment.
--- Raises a string error when `id` is not a snowflake.
---@param id discord.Snowflake|integer
---@return {id: discord.Snowflake, timestamp: integer, workerId: integer, processId: integer, increment: integer}
function snowflake.deconstruct(id)
  local n = snowflake.toInteger(id)
  if n == nil then error("snowflake.deconstruct: not a snowflake: " .. tostring(id), 2) end
  return {
    id = string.format("%d", n),
    timestamp = (n >> 22) + EPOCH,
    workerId = (n >> 17) & 0x1F,
    processId = (n >> 12) & 0x1F,
    increment = n & 0xFFF,
  }
end

--- Makes an ID for a Unix ms timestamp (default now); used for nonces and for paging bounds.
--- Raises a string error for a timestamp before Discord's epoch or too far ahead.
---@param opts? {timestamp?: discord.Milliseconds, workerId?: integer, processId?: integer, increment?: integer}
---@return discord.Snowflake
function snowflake.generate(opts)
  opts = opts or {}
  local ts = opts.timestamp
  if ts == nil then ts = require("runtime").time() end
  ts = math.tointeger(ts)
  if ts == nil or ts < EPOCH or ts - EPOCH > MAX_TIMESTAMP then
    error("snowflake.generate: timestamp out of range", 2)
  end
  local inc = opts.increment
  if inc == nil then
    inc = increment
    increment = (increment + 1) & 0xFFF
  end
  local n = ((ts - EPOCH) << 22) | ((opts.workerId or 1) & 0x1F) << 17 | ((opts.processId or 0) & 0x1F) << 12
    | (inc & 0xFFF)
  return string.format("%d", n)
end

--- Smallest ID that could have been made at Unix ms `ts` (for `before`/`after` queries).
--- Raises a string error for a timestamp out of range.
---@param ts discord.Milliseconds
---@return discord.Snowflake
function snowflake.fromTimestamp(ts)
  return snowflake.generate({ timestamp = ts, workerId = 0, processId = 0, increment = 0 })
end

--- -1, 0 or 1 by creation order; IDs compare as numbers, not as strings.
--- Raises a string error when either is not a snowflake.
---@param a discord.Snowflake|integer
---@param b discord.Snowflake|integer
---@return integer
function snowflake.compare(a, b)
  local x, y = snowflake.toInteger(a), snowflake.toInteger(b)
  if x == nil or y == nil then error("snowflake.compare: not a snowflake", 2) end
  if x < y then return -1 end
  if x > y then return 1 end
  return 0
end

--- Sort predicate: older first.
---@param a discord.Snowflake|integer
---@param b discord.Snowflake|integer
---@return boolean
function snowflake.older(a, b)
  return snowflake.compare(a, b) < 0
end

--- The ID as a decimal string, from a string, integer or an object with `.id`; nil otherwise.
---@param v any
---@return discord.Snowflake|nil
function snowflake.resolve(v)
  if type(v) == "table" then v = v.id end
  local n = snowflake.toInteger(v)
  if n == nil then return nil end
  return string.format("%d", n)
end

return snowflake
