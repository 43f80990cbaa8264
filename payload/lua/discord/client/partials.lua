-- Partials: objects known only by ID. Without a partial kind enabled, events about objects the
-- cache does not hold are dropped; with it, they arrive with a stand-in whose `partial` is true
-- and whose `:fetch()` completes it in place.
local errors = require("discord.errors")
-- Reads a cache's entries directly: every event looks up the objects it names here.
local get = require("discord.collection").lookup

local M = {}

--- The kinds a client may accept as partial: `partials = { Partials.Message, "Channel" }`.
---@enum discord.Partials
local Partials = {
  User = "User",
  Channel = "Channel",
  GuildMember = "GuildMember",
  Message = "Message",
  Reaction = "Reaction",
  GuildScheduledEvent = "GuildScheduledEvent",
  ThreadMember = "ThreadMember",
  Poll = "Poll",
  PollAnswer = "PollAnswer",
  SoundboardSound = "SoundboardSound",
}
M.Partials = Partials

--- The set of kinds in an option list.
--- Raises `discord.LibraryError` InvalidOption for a list with an unknown kind.
---@param list? discord.Partial[]
---@return table<string, boolean>
function M.resolve(list)
  local out = {}
  if list == nil then return out end
  if type(list) ~= "table" then error(errors.LibraryError("InvalidOption", "partials", "a list of Partials"), 3) end
  for _, kind in ipairs(list) do
    if Partials[kind] == nil then
      error(errors.LibraryError("InvalidOption", "partials", "a list of Partials (unknown: " .. tostring(kind) .. ")"),
        3)
    end
    out[kind] = true
  end
  return out
end

--- True when the client accepts partials of `kind`.
---@param client discord.Client
---@param kind discord.Partial
---@return boolean
function M.enabled(client, kind)
  local set = client._partials
  if set == nil then
    set = M.resolve(client.options and client.options.partials)
    client._partials = set
  end
  return set[kind] == true
end

-- Stand-ins -------------------------------------------------------------------------------------------------

--- The cached user, else a partial one when User partials are on (cached from `data` when it is full).
---@param client discord.Client
---@param id discord.Snowflake|nil
---@param data? table Raw user object.
---@return discord.User|nil
function M.user(client, id, data)
  if id == nil then return nil end
  if data and data.username then return client.users:_add(data) end
  local user = get(client.users.cache, id)
  if user or not M.enabled(client, Partials.User) then return user end
  return client.users:_add({ id = id })
end

--- The cached channel, or a partial one (type unknown) when Channel partials are on.
---@param client discord.Client
---@param id discord.Snowflake|nil
---@param guildId? discord.Snowflake
---@return discord.BaseChannel|nil
function M.channel(client, id, guildId)
  if id == nil then return nil end
  local channel = get(client.channels.cache, id)
  if channel or not M.enabled(client, Partials.Channel) then return channel end
  return client.channels:_partial(id, guildId)
end

--- The cached message of a channel, or a partial one when Message partials are on.
---@param client discord.Client
---@param channel discord.BaseChannel|nil
---@param id discord.Snowflake|nil
---@param data? table Raw message data known from the event.
---@return discord.Message|nil
function M.message(client, channel, id, data)
  if channel == nil or id == nil or channel.messages == nil then return nil end
  local message = get(channel.messages.cache, id)
  if message or not M.enabled(client, Partials.Message) then return message end
  local raw = { id = id, channel_id = channel.id, guild_id = channel.guildId }
  for k, v in pairs(data or {}) do raw[k] = v end
  return channel.messages:_add(raw)
end

--- The member from `data`, else the cached member, else a partial one when GuildMember partials are on.
---@param client discord.Client
---@param guild discord.Guild|nil
---@param userId discord.Snowflake|nil
---@param data? table Raw member object.
---@return discord.GuildMember|nil
function M.member(client, guild, userId, data)
  if guild == nil or userId == nil then return nil end
  if data then
    local user = data.user
    if type(user) == "table" and user.id ~= nil then return guild.members:_addByKey(user.id, data) end
    if user ~= nil then return guild.members:_add(data) end
    return guild.members:_addWithUser(data, get(client.users.cache, userId) or { id = userId })
  end
  local member = get(guild.members.cache, userId)
  if member or not M.enabled(client, Partials.GuildMember) then return member end
  return guild.members:_add({ user = { id = userId } })
end

return M
