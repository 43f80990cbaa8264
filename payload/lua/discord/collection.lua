-- Ordered map used for every cache: keys keep their insertion order, lookups are by key.
local util = require("discord.util")
local rawget = rawget

local M = {}

---@type discord.Collection
local Collection = util.class("Collection")
Collection.__fields = 3
M.Collection = Collection

--- Creates a collection (`Collection(entries)`), an ordered map that keeps insertion order.
---@param entries? {[1]: any, [2]: any}[] Initial {key, value} pairs.
function Collection:init(entries)
  self._keys, self._values = {}, {}
  self._holes = 0
  if entries then
    for _, kv in ipairs(entries) do self:set(kv[1], kv[2]) end
  end
end

--- Number of entries.
---@return integer
Collection.getters.size = function(self)
  return #self._keys - self._holes
end

function Collection:__len()
  return self.size
end

--- The value under `key`, or nil.
---@param key any
---@return any
function Collection:get(key)
  return self._values[key]
end

--- A collection over a list of distinct keys and the map of their values, both taken over, not copied.
---@private
---@param keys any[]
---@param values table
---@return discord.Collection
function M.over(keys, values)
  local c = Collection()
  c._keys, c._values = keys, values
  return c
end

--- The value under `key` in a collection, nil when either is nil.
---@private
---@param collection? discord.Collection
---@param key any
---@return any
function M.lookup(collection, key)
  if collection == nil or key == nil then return nil end
  -- Read from the entries: every event looks up a few objects, and a method is found through the class.
  -- A cache from the bot's own makeCache may keep its entries its own way.
  local values = collection._values
  if values then return values[key] end
  return collection:get(key)
end

--- Whether an entry with `key` exists.
---@param key any
---@return boolean
function Collection:has(key)
  return self._values[key] ~= nil
end

--- Adds or replaces an entry; a new key goes last.
--- Raises a string error for a nil key or value.
---@param key any
---@param value any
---@return discord.Collection self
function Collection:set(key, value)
  if key == nil then error("Collection:set: key is nil", 2) end
  if value == nil then error("Collection:set: value is nil; use delete", 2) end
  if self._values[key] == nil then
    local keys = self._keys
    keys[#keys + 1] = key
    -- Read raw: most collections have none, and a missing field is looked for through the class.
    local index = rawget(self, "_index")
    if index then index[key] = #keys end
  end
  self._values[key] = value
  return self
end

-- Deleted keys leave holes that are squeezed out once they make up half of the list.
local function compact(self)
  local keys, index = {}, {}
  local values = self._values
  for _, k in ipairs(self._keys) do
    if k ~= false and values[k] ~= nil and not index[k] then
      keys[#keys + 1] = k
      index[k] = #keys
    end
  end
  self._keys, self._index, self._holes, self._head = keys, index, 0, nil
end

-- The position of the oldest entry (nil when empty). Deletes leave holes at the front of a cache that drops
-- its oldest entries, so where the last search ended is kept: no position before it holds an entry.
local function oldest(self)
  local keys, values = self._keys, self._values
  for i = rawget(self, "_head") or 1, #keys do
    local k = keys[i]
    if k ~= false and values[k] ~= nil then
      self._head = i
      return i
    end
  end
  return nil
end

-- Positions are indexed from the first delete on: most caches only grow, and the index would cost each of
-- their entries a second hash slot.
local function indexOf(self)
  local index = self._index
  if index == nil then
    index = {}
    for i, k in ipairs(self._keys) do index[k] = i end
    self._index = index
  end
  return index
end

--- Removes the entry under `key`; false when there was none.
---@param key any
---@return boolean
function Collection:delete(key)
  if self._values[key] == nil then return false end
  local index = indexOf(self)
  self._keys[index[key]] = false
  index[key] = nil
  self._values[key] = nil
  self._holes = self._holes + 1
  if self._holes > 16 and self._holes * 2 > #self._keys then compact(self) end
  return true
end

--- Removes every entry.
function Collection:clear()
  self._keys, self._values, self._index, self._holes, self._head = {}, {}, nil, 0, nil
end

--- Iterator over key, value in insertion order: `for id, v in coll:iter() do`; new entries are not visited.
---@return fun(): any, any
function Collection:iter()
  local keys, i, n = self._keys, (oldest(self) or 1) - 1, #self._keys
  return function()
    while i < n do
      i = i + 1
      local k = keys[i]
      if k ~= false then
        local v = self._values[k]
        if v ~= nil then return k, v end
      end
    end
    return nil
  end
end
Collection.__pairs = function(self) return self:iter(), self, nil end

--- The keys, in order.
---@return any[]
function Collection:keys()
  local out = {}
  for k in self:iter() do out[#out + 1] = k end
  return out
end

--- The values, in order.
---@return any[]
function Collection:values()
  local out = {}
  for _, v in self:iter() do out[#out + 1] = v end
  return out
end

--- The first value, or a list of the first `n` values.
---@param n? integer
---@return any
function Collection:first(n)
  if n == nil then
    local _, v = self:iter()()
    return v
  end
  local out = {}
  if n <= 0 then return out end
  for _, v in self:iter() do
    out[#out + 1] = v
    if #out >= n then break end
  end
  return out
end

--- The first key, or nil when empty.
---@return any
function Collection:firstKey()
  return (self:iter()())
end

--- The last value, or a list of the last `n` values.
---@param n? integer
---@return any
function Collection:last(n)
  local values = self:values()
  if n == nil then return values[#values] end
  local out = {}
  for i = math.max(1, #values - n + 1), #values do out[#out + 1] = values[i] end
  return out
end

--- The last key, or nil when empty.
---@return any
function Collection:lastKey()
  local keys = self:keys()
  return keys[#keys]
end

--- Value at a position (1-based; negative counts from the end).
---@param i integer
---@return any
function Collection:at(i)
  local values = self:values()
  if i < 0 then i = #values + i + 1 end
  return values[i]
end

--- A random value, or nil when empty.
---@return any
function Collection:random()
  local values = self:values()
  if #values == 0 then return nil end
  return values[math.random(#values)]
end

--- The first value for which fn(value, key, collection) is true, or nil.
---@param fn fun(value: any, key: any, coll: discord.Collection): boolean
---@return any
function Collection:find(fn)
  for k, v in self:iter() do
    if fn(v, k, self) then return v end
  end
  return nil
end

--- The first key for which fn(value, key, collection) is true, or nil.
---@param fn fun(value: any, key: any, coll: discord.Collection): boolean
---@return any
function Collection:findKey(fn)
  for k, v in self:iter() do
    if fn(v, k, self) then return k end
  end
  return nil
end

--- New collection of the entries for which fn(value, key, collection) is true.
---@param fn fun(value: any, key: any, coll: discord.Collection): boolean
---@return discord.Collection
function Collection:filter(fn)
  local out = Collection()
  for k, v in self:iter() do
    if fn(v, k, self) then out:set(k, v) end
  end
  return out
end

--- Two new collections: entries that pass fn and entries that fail it.
---@param fn fun(value: any, key: any, coll: discord.Collection): boolean
---@return discord.Collection pass
---@return discord.Collection fail
function Collection:partition(fn)
  local yes, no = Collection(), Collection()
  for k, v in self:iter() do
    if fn(v, k, self) then yes:set(k, v) else no:set(k, v) end
  end
  return yes, no
end

--- List of fn(value, key, collection), in order.
---@param fn fun(value: any, key: any, coll: discord.Collection): any
---@return any[]
function Collection:map(fn)
  local out = {}
  for k, v in self:iter() do out[#out + 1] = fn(v, k, self) end
  return out
end

--- New collection with the same keys and fn(value, key, collection) as values.
---@param fn fun(value: any, key: any, coll: discord.Collection): any
---@return discord.Collection
function Collection:mapValues(fn)
  local out = Collection()
  for k, v in self:iter() do out:set(k, fn(v, k, self)) end
  return out
end

--- Whether fn is true for at least one entry.
---@param fn fun(value: any, key: any, coll: discord.Collection): boolean
---@return boolean
function Collection:some(fn)
  return self:findKey(fn) ~= nil
end

--- Whether fn is true for every entry (true when empty).
---@param fn fun(value: any, key: any, coll: discord.Collection): boolean
---@return boolean
function Collection:every(fn)
  for k, v in self:iter() do
    if not fn(v, k, self) then return false end
  end
  return true
end

--- Folds the values with fn(acc, value, key, collection), from `initial` or the first value.
--- Raises a string error for an empty collection without `initial`.
---@param fn fun(acc: any, value: any, key: any, coll: discord.Collection): any
---@param initial? any
---@return any
function Collection:reduce(fn, initial)
  local acc, started = initial, initial ~= nil
  for k, v in self:iter() do
    if started then
      acc = fn(acc, v, k, self)
    else
      acc, started = v, true
    end
  end
  if not started then error("Collection:reduce of an empty collection with no initial value", 2) end
  return acc
end

--- Calls fn(value, key, collection) for every entry.
---@param fn fun(value: any, key: any, coll: discord.Collection)
---@return discord.Collection self
function Collection:each(fn)
  for k, v in self:iter() do fn(v, k, self) end
  return self
end

--- Removes the entries for which fn is true; returns how many went.
---@param fn fun(value: any, key: any, coll: discord.Collection): boolean
---@return integer
function Collection:sweep(fn)
  local gone = {}
  for k, v in self:iter() do
    if fn(v, k, self) then gone[#gone + 1] = k end
  end
  for _, k in ipairs(gone) do self:delete(k) end
  return #gone
end

--- A shallow copy (a plain Collection).
---@return discord.Collection
function Collection:clone()
  local out = Collection()
  for k, v in self:iter() do out:set(k, v) end
  return out
end

--- New collection with the entries of self and of every argument (later ones win).
---@param ... discord.Collection
---@return discord.Collection
function Collection:concat(...)
  local out = self:clone()
  for _, other in ipairs({ ... }) do
    for k, v in other:iter() do out:set(k, v) end
  end
  return out
end

--- Sorts in place by compare(a, b, keyA, keyB) on values (default: `<` on keys).
---@param compare? fun(a: any, b: any, ka: any, kb: any): boolean
---@return discord.Collection self
function Collection:sort(compare)
  local entries = {}
  for k, v in self:iter() do entries[#entries + 1] = { k, v } end
  if compare then
    table.sort(entries, function(a, b) return compare(a[2], b[2], a[1], b[1]) end)
  else
    table.sort(entries, function(a, b) return a[1] < b[1] end)
  end
  self:clear()
  for _, e in ipairs(entries) do self:set(e[1], e[2]) end
  return self
end

--- A sorted copy; see `sort`.
---@param compare? fun(a: any, b: any, ka: any, kb: any): boolean
---@return discord.Collection
function Collection:sorted(compare)
  return self:clone():sort(compare)
end

--- Entries whose keys are in both collections (values from self).
---@param other discord.Collection
---@return discord.Collection
function Collection:intersect(other)
  return self:filter(function(_, k) return other:has(k) end)
end

--- Entries whose keys are in only one of the two collections.
---@param other discord.Collection
---@return discord.Collection
function Collection:difference(other)
  local out = self:filter(function(_, k) return not other:has(k) end)
  for k, v in other:iter() do
    if not self:has(k) then out:set(k, v) end
  end
  return out
end

--- Whether both hold the same keys with the same values (==).
---@param other discord.Collection
---@return boolean
function Collection:equals(other)
  if self.size ~= other.size then return false end
  for k, v in self:iter() do
    if other:get(k) ~= v then return false end
  end
  return true
end

--- The values as a JSON array, each through its toJSON when it has one.
---@return any[]
function Collection:toJSON()
  local out = {}
  for _, v in self:iter() do
    if type(v) == "table" and v.toJSON then v = v:toJSON() end
    out[#out + 1] = v
  end
  return util.array(out)
end

function Collection:__tostring()
  return "Collection(" .. self.size .. ")"
end

-- LimitedCollection --------------------------------------------------------------------------------------

--- A collection that drops its oldest entries beyond `maxSize`; `keepOverLimit` entries are never dropped.
---@class discord.LimitedCollection: discord.Collection
---@field maxSize integer|number Largest number of counted entries (math.huge: no limit).
---@field keepOverLimit fun(value: any, key: any, coll: discord.Collection): boolean|nil Entries it keeps do not count.
local LimitedCollection = util.class("LimitedCollection", Collection)
LimitedCollection.__fields = 5
M.LimitedCollection = LimitedCollection

--- Creates a limited collection (`LimitedCollection(maxSize)` or `LimitedCollection({maxSize=, keepOverLimit=})`).
--- Raises a string error for a negative or fractional maxSize, or a keepOverLimit that is not a function.
---@param opts? integer|{maxSize?: integer, keepOverLimit?: fun(value: any, key: any, coll: table): boolean}
---@param entries? {[1]: any, [2]: any}[] Initial {key, value} pairs.
function LimitedCollection:init(opts, entries)
  if type(opts) == "number" then opts = { maxSize = opts } end
  opts = opts or {}
  local max = opts.maxSize or math.huge
  if max ~= math.huge and (math.type(max) ~= "integer" or max < 0) then
    error("LimitedCollection: maxSize must be a non-negative integer", 2)
  end
  if opts.keepOverLimit ~= nil and type(opts.keepOverLimit) ~= "function" then
    error("LimitedCollection: keepOverLimit must be a function", 2)
  end
  self.maxSize = max
  self.keepOverLimit = opts.keepOverLimit
  Collection.init(self, entries)
end

--- Adds or replaces an entry, first dropping the oldest counted entries when full.
---@param key any
---@param value any
---@return discord.LimitedCollection self
function LimitedCollection:set(key, value)
  -- Held only when given: read raw, not looked for through the class at every entry.
  local keep = rawget(self, "keepOverLimit")
  if self.maxSize == 0 and not (keep and keep(value, key, self)) then return self end
  if self._values[key] == nil then
    if keep then
      local counted = 0
      for k, v in self:iter() do
        if not keep(v, k, self) then counted = counted + 1 end
      end
      if counted >= self.maxSize then
        for k, v in self:iter() do
          if not keep(v, k, self) then
            self:delete(k)
            counted = counted - 1
            if counted < self.maxSize then break end
          end
        end
      end
    else
      while #self._keys - self._holes >= self.maxSize do self:delete(self._keys[oldest(self)]) end
    end
  end
  return Collection.set(self, key, value)
end

return M
