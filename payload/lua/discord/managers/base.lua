-- Base of the structures and of the managers that cache them.
local util = require("discord.util")
local json = require("json")

local M = {}

-- Structures ---------------------------------------------------------------------------------------------

--- Base of every structure: keeps the client, copies itself for update events, flattens to JSON.
---@class discord.Base
---@field client discord.Client The client that made the object.
local Base = util.class("Base")
M.Base = Base

--- Sets the client; subclasses call it first.
---@private
---@param client discord.Client
function Base:init(client)
  self.client = client
end

--- Shallow copy kept as the `old` object of an update event.
function Base:_clone()
  return util.shallowCopy(self)
end

--- Copies the fields of `data` named in `map` (snake_case -> camelCase) onto self: absent fields
--- are kept and JSON null clears the field.
function Base:_copy(data, map)
  local null = json.null
  for from, to in pairs(map) do
    local v = data[from]
    if v == null then
      self[to] = nil
    elseif v ~= nil then
      self[to] = v
    end
  end
end

-- A function `(self, data)` made of `line` written out for each field of `map` (formatted with the payload's
-- key and the field's name twice), then `last`: for the patches every event runs, where a loop over the map
-- cost two to three times as much.
-- Further pairs of map and line may follow `line`, before `last`.
local function writtenOut(name, map, line, ...)
  local code = { "local null, rawget, camelKeys = ... return function(self, data) local v" }
  local parts, last = { map, line, ... }, select(select("#", ...), ...)
  for i = 1, #parts - 1, 2 do
    for from, to in pairs(parts[i]) do code[#code + 1] = parts[i + 1]:format(from, to, to) end
  end
  code[#code + 1] = last .. " end"
  return load(table.concat(code, "\n"), "=" .. name, "t", {})(json.null, rawget, util.camelKeys)
end

--- A function `(self, data)` that copies as `_copy(data, map)` does, written out field by field.
---@private
---@param map table<string, string>
---@return fun(self: table, data: table)
function Base._copier(map)
  return writtenOut("copy fields", map,
    "v = data[%q] if v ~= nil then if v == null then self[%q] = nil else self[%q] = v end end", "")
end

--- A function `(self, data)` that copies the payload's booleans of `map` held only while true: absent keeps,
--- anything but true clears (the class holds false).
---@private
---@param map table<string, string>
---@return fun(self: table, data: table)
function Base._trueCopier(map)
  return writtenOut("copy true", map, "v = data[%q] if v ~= nil then self[%q] = v == true or nil end", "")
end

--- A function `(self, data)`, true when copying `data` as `_copy(data, map)` would change no field, written
--- out field by field.
--- A value is compared with the field as read, not raw: a held field is read without a call, and one that is
--- not held reads as its class's value, which equals the payload's only where copying would read the same.
--- Objects nested in the payload (`nested`, as for `_copyNested`) are not compared: any but null changes.
---@private
---@param map table<string, string>
---@param nested? table<string, string>
---@return fun(self: table, data: table): boolean
function Base._comparer(map, nested)
  return writtenOut("compare fields", map, "v = data[%q] if v ~= nil then if v == null then"
    .. " if rawget(self, %q) ~= nil then return false end elseif v ~= self[%q] then return false end end",
    nested or {}, "v = data[%q] if v ~= nil and (v ~= null or rawget(self, %q) ~= nil) then return false end",
    "return true")
end

--- As _copy, for objects nested in the payload: their keys become camelCase too.
function Base:_copyNested(data, map)
  for from, to in pairs(map) do
    local v = data[from]
    if v ~= nil then self[to] = util.camelKeys(v) end
  end
end

--- A function `(self, data)` that copies as `_copyNested(data, map)` does, written out field by field.
---@private
---@param map table<string, string>
---@return fun(self: table, data: table)
function Base._nestedCopier(map)
  return writtenOut("copy nested", map, "v = data[%q] if v ~= nil then self[%q] = camelKeys(v) end", "")
end

--- Reads `data[key]` as a frozen bit field of the flag class `name` from discord.bitfield, into
--- `self.flags` (or `field`); absent keeps, null clears.
local bitfields
function Base:_flags(data, key, name, field)
  local v = data[key]
  field = field or "flags"
  if v == json.null then
    self[field] = nil
  elseif v ~= nil then
    bitfields = bitfields or require("discord.bitfield")
    self[field] = bitfields[name]:shared(v)
  end
end

-- Flags that most objects of a class have none of: zero is held as nothing, and the field reads as the
-- shared zero. `_sparseFlagsOf` declares them on a class, `_sparseFlags` patches them.
function Base._sparseFlagsOf(cls, name, field)
  cls.getters[field or "flags"] = function()
    bitfields = bitfields or require("discord.bitfield")
    return bitfields[name]:shared(0)
  end
end

function Base:_sparseFlags(data, key, name, field)
  if data[key] == 0 then
    self[field or "flags"] = nil
  else
    Base._flags(self, data, key, name, field)
  end
end

local function flatten(v, seen)
  if type(v) ~= "table" then return v end
  if rawequal(v, json.null) then return v end
  if seen[v] then return nil end
  local mt = getmetatable(v)
  if mt and util.isClass(mt) then
    -- A reference to another object is written as its ID; collections as arrays of keys.
    if rawget(v, "id") ~= nil or v.id ~= nil then return v.id end
    if type(v.keys) == "function" and type(v.size) == "number" then
      local out = {}
      for _, k in ipairs(v:keys()) do out[#out + 1] = k end
      return json.array(out)
    end
    if type(v.toJSON) == "function" then return v:toJSON() end
    return nil
  end
  seen[v] = true
  local out = {}
  for k, item in pairs(v) do
    if type(item) ~= "function" then out[k] = flatten(item, seen) end
  end
  seen[v] = nil
  if json.is_array(v) then json.array(out) end
  return out
end

--- Plain table of the object's public fields; linked objects become their IDs.
---@return table json
function Base:toJSON()
  local out, seen = {}, { [self] = true }
  for k, v in pairs(self) do
    if type(k) == "string" and k:sub(1, 1) ~= "_" and k ~= "client" and type(v) ~= "function" then
      out[k] = flatten(v, seen)
    end
  end
  return out
end

-- Managers -----------------------------------------------------------------------------------------------

--- Base of every manager: keeps the client.
---@class discord.BaseManager
---@field client discord.Client The client that made the manager.
local BaseManager = util.class("BaseManager")
M.BaseManager = BaseManager

--- Sets the client; subclasses call it first.
---@private
---@param client discord.Client
function BaseManager:init(client)
  self.client = client
end

--- The object with `id` in a collection, nil when either is nil.
---@private
local get = require("discord.collection").lookup
M.get = get

--- A manager that holds a cache of one class of objects keyed by ID.
local CachingManager = util.class("CachingManager", BaseManager)
CachingManager.__fields = 4
M.CachingManager = CachingManager

local function newCache(client, name, holds, manager)
  local make = client and client._makeCache
  if type(make) == "function" then return make(client, name, holds, manager) end
  return require("discord.collection").Collection()
end

--- `Manager(client, holds, iterable)`: `holds` is the class of the cached objects; the raw objects
--- in `iterable` are added at once.
---@private
---@param client discord.Client
---@param holds table The class of the cached objects.
---@param iterable? table[] Raw objects to cache at once.
function CachingManager:init(client, holds, iterable)
  BaseManager.init(self, client)
  self.holds = holds
  self.cache = newCache(client, getmetatable(self).__name, holds, self)
  if iterable then
    for _, data in ipairs(iterable) do self:_add(data) end
  end
end

--- The cache key of raw data; managers whose objects have no `id` override it.
function CachingManager._keyOf(_, data)
  return data.id
end

--- Makes and caches the object for raw `data` under `key`, which the cache does not hold: the add without its
--- checks, for payloads whose objects are mostly new (a members chunk's, and its users).
---@private
local function addNew(self, key, data)
  local obj = self:_construct(data)
  self.cache:set(key, obj)
  return obj
end
CachingManager._addNew = addNew

--- The add for a payload whose key is known: the cached object patched in place, else a new one made and
--- cached, without the generic add's checks. Events mostly name cached objects, chunks mostly new ones.
---@private
function CachingManager:_addByKey(key, data)
  local existing = get(self.cache, key)
  if existing then return existing:_patch(data) end
  -- Called as a function: a method is found through the class's index function.
  return addNew(self, key, data)
end

--- Builds a new object for `data`; `extras` are extra constructor arguments after the data.
function CachingManager:_construct(data, extras)
  if extras then return self.holds(self.client, data, table.unpack(extras)) end
  return self.holds(self.client, data)
end

--- Patches the cached object in place, or makes a new one (cached unless `cache` is false).
function CachingManager:_add(data, cache, extras)
  if cache == nil then cache = true end
  if self.holds and util.instanceOf(data, self.holds) then
    if cache then self.cache:set(data.id, data) end
    return data
  end
  local key = self:_keyOf(data)
  local existing = get(self.cache, key)
  if existing and cache then
    existing:_patch(data)
    return existing
  end
  -- Uncached data is a fresh object, so the caller gets what it asked for and the cache stays as it was.
  local obj = self:_construct(data, extras)
  if cache and key ~= nil then self.cache:set(key, obj) end
  return obj
end

--- Drops an object from the cache and returns it.
function CachingManager:_remove(id)
  local obj = self.cache:get(id)
  self.cache:delete(id)
  return obj
end

--- An object from the cache: accepts the object itself, its ID or any table with `id`.
---@param x any The object, its ID or a table with `id`.
---@return table? object The cached object, nil when not cached.
function CachingManager:resolve(x)
  if x == nil then return nil end
  if self.holds and util.instanceOf(x, self.holds) then return x end
  local id = self:resolveId(x)
  if id == nil then return nil end
  return self.cache:get(id)
end

--- The ID of an object, of a table with `id`, or an ID given as a string or integer.
---@param x any The object, a table with `id`, or an ID.
---@return discord.Snowflake? id Nil when `x` names nothing.
function CachingManager.resolveId(_, x)
  local t = type(x)
  if t == "string" then return x end
  if math.type(x) == "integer" then return tostring(x) end
  if t == "table" and x.id ~= nil then return tostring(x.id) end
  return nil
end

--- REST path of one object; managers that fetch override it.
function CachingManager:_path(id)
  error(util.className(self) .. " cannot fetch by ID (" .. tostring(id) .. ")", 3)
end

--- The object with `id`: from the cache unless `opts.force`; fetched objects are cached unless `opts.cache` is false.
--- Raises an error when `id` is not an ID; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id any The object or its ID.
---@param opts? discord.FetchOptions
---@return table object
function CachingManager:fetch(id, opts)
  opts = opts or {}
  local key = self:resolveId(id)
  if key == nil then error(util.className(self) .. ":fetch: not an ID: " .. tostring(id), 2) end
  if not opts.force then
    local hit = self.cache:get(key)
    if hit and not hit.partial then return hit end
  end
  local data = self.client.rest:get(self:_path(key))
  return self:_add(data, opts.cache ~= false)
end

--- The cache itself.
---@return discord.Collection cache
function CachingManager:valueOf()
  return self.cache
end

--- Iterator over objects fetched page by page; the next page starts after the last object's ID.
---@private
---@param fetchPage fun(size: integer, cursor: any): table[] Returns one page of objects.
---@param pageSize integer The largest page Discord gives.
---@param limit? integer Stop after this many objects (no limit by default).
---@param cursor? any Where the first page starts.
---@return fun(): table? iterator
function M.pages(fetchPage, pageSize, limit, cursor)
  local left = limit or math.huge
  local page, i, done = {}, 0, false
  return function()
    if left <= 0 then return nil end
    i = i + 1
    if i > #page then
      if done then return nil end
      local size = math.min(left, pageSize)
      page, i = fetchPage(size, cursor), 1
      done = #page < size
      if #page == 0 then return nil end
      cursor = page[#page].id
    end
    left = left - 1
    return page[i]
  end
end

--- A manager without a cache of its own (its `cache` is usually a view of another manager's).
---@class discord.DataManager: discord.BaseManager
---@field cache discord.Collection The objects it manages (read-only).
---@field resolve fun(self, x: any): table|nil The cached object for an object, its ID or a table with `id`.
---@field resolveId fun(self, x: any): discord.Snowflake|nil The ID of an object, a table with `id`, or an ID.
local DataManager = util.class("DataManager", BaseManager)
M.DataManager = DataManager

--- Sets the client and the class of the objects.
---@private
---@param client discord.Client
---@param holds table
function DataManager:init(client, holds)
  BaseManager.init(self, client)
  self.holds = holds
end

DataManager.resolve = CachingManager.resolve
DataManager.resolveId = CachingManager.resolveId

--- A request body from options: `map[camelName]` is the API's name, or {name, convert}.
---@private
---@param opts table
---@param map table<string, string|table>
---@param body? table
---@return table body
function M.bodyOf(opts, map, body)
  body = body or {}
  for from, to in pairs(map) do
    local v = opts[from]
    if v ~= nil then
      local name, convert = to, nil
      if type(to) == "table" then name, convert = to[1], to[2] end
      if v == false and convert ~= nil or v == json.null then
        body[name] = json.null
      else
        body[name] = convert and convert(v) or v
      end
    end
  end
  return body
end

--- The options' reason, or the extra argument given for it.
---@private
local function reasonOf(opts, reason)
  if reason ~= nil then return reason end
  return type(opts) == "table" and opts.reason or nil
end
M.reasonOf = reasonOf

--- A cached manager of the objects under one REST collection path (a guild's emojis, bans, rules ...).
---@class discord.ResourceManager: discord.CachingManager
---@field basePath string The REST path of the collection.
---@field owner table The object that owns the collection (a guild, an application ...).
local ResourceManager = util.class("ResourceManager", CachingManager)
M.ResourceManager = ResourceManager

--- `ResourceManager(client, holds, basePath, owner, iterable)`.
---@private
---@param client discord.Client
---@param holds table
---@param basePath? string
---@param owner table
---@param iterable? table[]
function ResourceManager:init(client, holds, basePath, owner, iterable)
  self.basePath = basePath
  self.owner = owner
  CachingManager.init(self, client, holds, iterable)
end

function ResourceManager:_construct(data)
  return self.holds(self.client, data, self.owner)
end

function ResourceManager:_path(id)
  return self.basePath .. (id and ("/" .. id) or "")
end

--- The ID of `x`, or an error naming the method.
function ResourceManager:_need(x, what)
  local id = self:resolveId(x)
  if id == nil then error(util.className(self) .. ":" .. what .. ": cannot resolve " .. tostring(x), 3) end
  return id
end

--- Objects of a list reply as a Collection; `complete` drops cached ones missing from it.
function ResourceManager:_addAll(list, cache, complete)
  local out = require("discord.collection").Collection()
  for _, data in ipairs(list or {}) do
    local obj = self:_add(data, cache ~= false)
    out:set(self:_keyOf(data) or obj.id, obj)
  end
  if complete and cache ~= false then
    for _, id in ipairs(self.cache:keys()) do
      if not out:has(id) then self:_remove(id) end
    end
  end
  return out
end

--- `fetch(id, opts)` returns one object; `fetch()` (or `fetch(opts)`) all of them as a Collection.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id? any The object or its ID; absent fetches all.
---@param opts? discord.FetchOptions
---@return table|discord.Collection result
function ResourceManager:fetch(id, opts)
  if type(id) == "table" and self:resolveId(id) == nil then id, opts = nil, id end
  opts = opts or {}
  if id ~= nil then return CachingManager.fetch(self, id, opts) end
  return self:_addAll(self.client.rest:get(self:_path(), { query = opts.query }), opts.cache, true)
end

function ResourceManager:_create(body, reason, extra)
  extra = extra or {}
  extra.body, extra.reason = body, reason
  return self:_add(self.client.rest:post(extra.path or self:_path(), extra))
end

function ResourceManager:_edit(x, body, reason, what)
  local id = self:_need(x, what or "edit")
  return self:_add(self.client.rest:patch(self:_path(id), { body = body, reason = reason }))
end

--- Deletes an object by itself or its ID; returns the object when it was cached.
--- Raises an error when `x` names nothing; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param x any The object or its ID.
---@param reason? string Audit log reason.
---@return table? object
function ResourceManager:delete(x, reason)
  local id = self:_need(x, "delete")
  self.client.rest:delete(self:_path(id), { reason = reason })
  return self:_remove(id)
end

-- Gateway events -----------------------------------------------------------------------------------------

--- The dispatch handlers the shard reads, by dispatch name.
---@private
M.handlers = require("discord.ws").handlers

--- A copy of an object for the `old` argument of an update event.
---@private
local function clone(obj)
  if obj == nil then return nil end
  if obj._clone then return obj:_clone() end
  return util.shallowCopy(obj)
end
M.clone = clone

-- Loaded at the first event that needs it (it needs this module) and kept.
local partialsModule

--- The partials module.
---@private
local function partials()
  partialsModule = partialsModule or require("discord.client.partials")
  return partialsModule
end
M.partials = partials

--- The cached guild a payload names.
---@private
function M.guildOf(client, d)
  return get(client.guilds.cache, d.guild_id)
end

--- Member and presence events carry the user; a change to its name or avatar is a userUpdate.
---@private
function M.patchUser(client, data)
  if type(data) ~= "table" or data.id == nil then return nil end
  local user = get(client.users.cache, data.id)
  -- Presences mostly carry the ID alone, which changes nothing.
  if user and next(data, next(data)) == nil then return user end
  if not user or data.username == nil then return client.users:_add(data) end
  if user:_unchanged(data) then return user end
  local old = clone(user)
  user:_patch(data)
  if not old:equals(user) then client:emit("userUpdate", old, user) end
  return user
end

--- Handler shape: a new entry (event only when the cache did not hold it).
---@private
function M.created(client, event, manager, data, guild, ...)
  local existing = get(manager.cache, data.id)
  local new = manager:_add(data, guild)
  if not existing and new then client:emit(event, new, ...) end
end

--- Handler shape: a patched entry, emitted with a clone of what it was.
---@private
function M.updated(client, event, manager, id, data, guild)
  local old = clone(get(manager.cache, id))
  local new = manager:_add(data, guild)
  if old and new then client:emit(event, old, new) end
end

--- Handler shape: a removed entry.
---@private
function M.gone(client, event, manager, id)
  local obj = get(manager.cache, id)
  if not obj then return end
  manager:_remove(id)
  client:emit(event, obj)
end

--- The message an event is about, cached or partial, and its channel.
---@private
function M.eventMessage(client, d, id)
  local P = partials()
  local channel = P.channel(client, d.channel_id, d.guild_id)
  return P.message(client, channel, id or d.message_id), channel
end

--- The user an event names: from the member it carries, or partial.
---@private
function M.eventUser(client, d)
  local P = partials()
  local guild = M.guildOf(client, d)
  local user
  if guild and type(d.member) == "table" then user = P.member(client, guild, d.user_id, d.member).user end
  return user or P.user(client, d.user_id)
end

--- Guild-scoped create/update/delete handlers for a manager of the guild (`field`).
---@private
function M.guildResource(field, names, key)
  key = key or "id"
  local function withManager(fn)
    return function(client, packet)
      local guild = M.guildOf(client, packet.d)
      if guild then fn(client, packet.d, guild[field]) end
    end
  end
  M.handlers[names[1]] = withManager(function(client, d, manager)
    local existed = manager.cache:get(d[key])
    local obj = manager:_add(d)
    if not existed then client:emit(names[4], obj) end
  end)
  M.handlers[names[2]] = withManager(function(client, d, manager)
    local old = clone(manager.cache:get(d[key]))
    client:emit(names[5], old, manager:_add(d))
  end)
  M.handlers[names[3]] = withManager(function(client, d, manager)
    client:emit(names[6], manager:_remove(d[key]) or manager:_construct(d))
  end)
end

--- Emoji and sticker updates carry the whole list: compare it with the cache.
---@private
function M.expressions(field, createdName, updatedName, deleted)
  return function(client, packet)
    local d = packet.d
    local guild = M.guildOf(client, d)
    if not guild then return end
    local manager = guild[field]
    local seen = {}
    for _, data in ipairs(d[field] or {}) do
      seen[data.id] = true
      local old = manager.cache:get(data.id)
      if old then
        local before = clone(old)
        manager:_add(data)
        if not before:equals(old) then client:emit(updatedName, before, old) end
      else
        client:emit(createdName, manager:_add(data))
      end
    end
    for _, id in ipairs(manager.cache:keys()) do
      if not seen[id] then client:emit(deleted, manager:_remove(id)) end
    end
  end
end

-- The managers every client holds. READY fills in the application's ID; its commands manager is there
-- before login so that a script can set it up.
util.provide("client managers", function(client)
  client.application = require("discord.structures.application").ClientApplication(client, {})
  client.users = require("discord.managers.user").UserManager(client)
  client.guilds = require("discord.managers.guild").GuildManager(client)
  client.channels = require("discord.managers.channel").ChannelManager(client)
  client.application.commands = require("discord.managers.application_command").ApplicationCommandManager(client)
end)

return M
