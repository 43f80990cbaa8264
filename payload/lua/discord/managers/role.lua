-- Roles of one guild: create, edit, delete, positions, and the highest and @everyone roles.
local util = require("discord.util")
local json = require("json")
local base = require("discord.managers.base")

local M = {}

local RoleManager = util.class("RoleManager", base.CachingManager)
M.RoleManager = RoleManager

--- `RoleManager(guild, iterable)`.
---@private
---@param guild discord.Guild
---@param iterable? table[]
function RoleManager:init(guild, iterable)
  self.guild = guild
  base.CachingManager.init(self, guild.client, require("discord.role").Role, iterable)
end

function RoleManager:_construct(data)
  return self.holds(self.client, data, self.guild)
end

function RoleManager:_path(id)
  return "/guilds/" .. self.guild.id .. "/roles" .. (id and ("/" .. id) or "")
end

--- The ID of a role, a role mention ("<@&id>"), "@everyone" (the guild's ID) or an ID.
---@param x discord.RoleResolvable
---@return discord.Snowflake? id
function RoleManager:resolveId(x)
  if x == "@everyone" then return self.guild.id end
  if type(x) == "string" then
    local id = x:match("^<@&(%d+)>$")
    if id then return id end
  end
  return base.CachingManager.resolveId(self, x)
end

--- The guild's @everyone role, when cached (read-only).
---@return discord.Role? role
RoleManager.getters.everyone = function(self) return self.cache:get(self.guild.id) end

--- The highest role in the cache (read-only).
---@return discord.Role? role
RoleManager.getters.highest = function(self)
  local Role = self.holds
  local best
  for _, r in self.cache:iter() do
    if best == nil or Role.comparePositions(r, best) > 0 then best = r end
  end
  return best
end

--- The managed role Discord made for a bot.
---@param user discord.UserResolvable
---@return discord.Role? role
function RoleManager:botRoleFor(user)
  local id = self.client.users:resolveId(user)
  return self.cache:find(function(r) return r.tags ~= nil and r.tags.botId == id end)
end

--- Compares two cached roles: above 0 when `a` is above `b`, 0 when equal, below 0 otherwise.
--- Raises an error when either role is not cached.
---@param a discord.RoleResolvable
---@param b discord.RoleResolvable
---@return integer order
function RoleManager:comparePositions(a, b)
  local ra, rb = self:resolve(a), self:resolve(b)
  if not ra or not rb then error("RoleManager:comparePositions: unknown role", 2) end
  return self.holds.comparePositions(ra, rb)
end

--- `fetch(id, opts)`: one role (cached unless `opts.force`); `fetch()`: every role of the guild.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param id? discord.RoleResolvable
---@param opts? discord.FetchOptions
---@return discord.Role|discord.Collection|nil result
function RoleManager:fetch(id, opts)
  opts = opts or {}
  if id ~= nil and not opts.force then
    local hit = self:resolve(id)
    if hit then return hit end
  end
  if id ~= nil and self:resolveId(id) ~= nil then
    return self:_add(self.client.rest:get(self:_path(self:resolveId(id))), opts.cache ~= false)
  end
  local list = self.client.rest:get(self:_path())
  local roles = require("discord.collection").Collection()
  for _, data in ipairs(list) do
    local role = self:_add(data, opts.cache ~= false)
    roles:set(role.id, role)
  end
  -- The list is complete: cached roles missing from it were deleted.
  if opts.cache ~= false then
    for _, rid in ipairs(self.cache:keys()) do
      if not roles:has(rid) then self:_remove(rid) end
    end
  end
  if id == nil then return roles end
  return roles:get(self:resolveId(id))
end

local function roleBody(opts)
  local body = {}
  if opts.name ~= nil then body.name = opts.name end
  local Colors = require("discord.constants").Colors
  if opts.color ~= nil then body.color = util.resolveColor(opts.color, Colors) end
  -- A gradient (secondary) or holographic (tertiary) role; a missing colour is sent as null.
  if opts.colors ~= nil then
    local c = opts.colors
    local function one(v) return v ~= nil and v ~= false and util.resolveColor(v, Colors) or json.null end
    body.colors = { primary_color = util.resolveColor(c.primaryColor or 0, Colors), secondary_color =
      one(c.secondaryColor), tertiary_color = one(c.tertiaryColor) }
  end
  if opts.hoist ~= nil then body.hoist = opts.hoist == true end
  if opts.mentionable ~= nil then body.mentionable = opts.mentionable == true end
  if opts.permissions ~= nil then
    local PermissionsBitField = require("discord.bitfield").PermissionsBitField
    body.permissions = PermissionsBitField(opts.permissions):toJSON()
  end
  if opts.icon == false then
    body.icon = json.null
  elseif opts.icon ~= nil then
    body.icon = util.imageData(opts.icon)
  end
  if opts.unicodeEmoji == false then
    body.unicode_emoji = json.null
  elseif opts.unicodeEmoji ~= nil then
    body.unicode_emoji = opts.unicodeEmoji
  end
  return body
end

--- Creates a role (and moves it when `opts.position` is given).
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? discord.RoleOptions Plus `reason`.
---@return discord.Role role
function RoleManager:create(opts)
  opts = opts or {}
  local data = self.client.rest:post(self:_path(), { body = roleBody(opts), reason = opts.reason })
  local role = self:_add(data)
  if opts.position ~= nil then self:setPosition(role, opts.position, opts.reason) end
  return role
end

--- Edits a role; returns it patched.
--- Raises an error when `role` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param role discord.RoleResolvable
---@param opts discord.RoleOptions
---@param reason? string Audit log reason (or `opts.reason`).
---@return discord.Role role
function RoleManager:edit(role, opts, reason)
  local id = self:resolveId(role)
  if id == nil then error("RoleManager:edit: not a role: " .. tostring(role), 2) end
  opts = opts or {}
  if opts.position ~= nil then self:setPosition(id, opts.position, reason or opts.reason) end
  local body = roleBody(opts)
  local cached = self.cache:get(id)
  if next(body) == nil and cached then return cached end
  local data = self.client.rest:patch(self:_path(id), { body = body, reason = reason or opts.reason })
  return self:_add(data)
end

--- Deletes a role.
--- Raises an error when `role` is not one; `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param role discord.RoleResolvable
---@param reason? string Audit log reason.
function RoleManager:delete(role, reason)
  local id = self:resolveId(role)
  if id == nil then error("RoleManager:delete: not a role: " .. tostring(role), 2) end
  self.client.rest:delete(self:_path(id), { reason = reason })
  self:_remove(id)
end

--- Sets the positions of several roles at once; returns the guild.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param list {role: discord.RoleResolvable, position: integer}[]
---@param reason? string Audit log reason.
---@return discord.Guild guild
function RoleManager:setPositions(list, reason)
  local body = {}
  for i, item in ipairs(list) do
    body[i] = { id = self:resolveId(item.role), position = item.position }
  end
  local data = self.client.rest:patch(self:_path(), { body = json.array(body), reason = reason })
  for _, r in ipairs(data or {}) do self:_add(r) end
  return self.guild
end

--- Moves one role; returns the guild.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param role discord.RoleResolvable
---@param position integer
---@param reason? string Audit log reason.
---@return discord.Guild guild
function RoleManager:setPosition(role, position, reason)
  return self:setPositions({ { role = role, position = position } }, reason)
end

--- How many members hold each role; @everyone and roles of integrations are absent.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return table<discord.Snowflake, integer> counts
function RoleManager:fetchMemberCounts()
  return self.client.rest:get(self:_path() .. "/member-counts")
end

-- Gateway events -----------------------------------------------------------------------------------------

local handlers = base.handlers

handlers.GUILD_ROLE_CREATE = function(client, packet)
  local guild = base.guildOf(client, packet.d)
  if guild then client:emit("roleCreate", guild.roles:_add(packet.d.role)) end
end

handlers.GUILD_ROLE_UPDATE = function(client, packet)
  local d, guild = packet.d, base.guildOf(client, packet.d)
  if guild then base.updated(client, "roleUpdate", guild.roles, d.role.id, d.role) end
end

handlers.GUILD_ROLE_DELETE = function(client, packet)
  local guild = base.guildOf(client, packet.d)
  if guild then base.gone(client, "roleDelete", guild.roles, packet.d.role_id) end
end

return M
