-- Guild members: roles, permissions, nickname and moderation (kick, ban, timeout).
local util = require("discord.util")
local json = require("json")
local Base = require("discord.managers.base").Base

local M = {}

---@type discord.GuildMember
local GuildMember = util.class("GuildMember", Base)
GuildMember.__fields = 4
M.GuildMember = GuildMember

-- A guild's members share it through a subclass made once for the guild: one field fewer for each of
-- them, which keeps a member with a nickname and roles in a table of four slots instead of eight.
local classOfGuild = util.sharingBy(GuildMember, "guild")

local NO_ROLES = {}
local null = json.null

local FIELDS = { nick = "nickname", avatar = "avatar", banner = "banner" }

local NESTED = { avatar_decoration_data = "avatarDecorationData", collectibles = "collectibles" }

-- A member reaches its client through its guild and its ID through its user, and holds flags, roles, and
-- pending only when it has them: fields a hundred thousand members would each hold the same value of.
local TRUE = { pending = "pending", deaf = "deaf", mute = "mute" }
GuildMember.pending = false
GuildMember.deaf = false
GuildMember.mute = false
GuildMember._roles = NO_ROLES
GuildMember.getters.client = function(self) return self.guild.client end
GuildMember.getters.id = function(self)
  local user = rawget(self, "user")
  return user and user.id
end
Base._sparseFlagsOf(GuildMember, "GuildMemberFlagsBitField")

--- Builds a member from API data; `data.user` is required. The guild's member manager makes them.
---@param client discord.Client
---@param data table Raw guild member object.
---@param guild discord.Guild
---@param user? discord.User|table The user, for a payload that comes without it.
function GuildMember:init(client, data, guild, user)
  if guild and getmetatable(self) == GuildMember then
    setmetatable(self, classOfGuild(guild))
    -- Called as a function: a chunk makes a thousand members, and no subclass overrides this one's patch.
    return GuildMember._patch(self, data, user)
  end
  if not guild then Base.init(self, client) end
  self.guild = guild
  self:_patch(data, user)
end

-- Members with the same one or two roles share one list, as members without roles share theirs: the key is
-- short enough to be interned, and role IDs are unique across guilds, so one table serves every guild.
local SHARED = setmetatable({}, { __mode = "v" })

-- Most members' role lists are unchanged by an event: the list is replaced, never changed in place, so an
-- equal one is kept and every member without roles shares this one.
local function sameRoles(held, ids)
  local n = #ids
  if #held ~= n then return false end
  for i = 1, n do
    if held[i] ~= ids[i] then return false end
  end
  return true
end

-- Called as functions, not methods: a member is patched by most events, and a method is found through
-- the class's index function.
local copyFields, copyNested, copyTrue = Base._copier(FIELDS), Base._nestedCopier(NESTED), Base._trueCopier(TRUE)
local setFlags = Base._sparseFlags
local parseTimestamp, isClass = util.parseTimestamp, util.isClass
local getFrom = require("discord.managers.base").get

function GuildMember:_patch(data, given)
  local user = data.user or given
  -- A message's member comes with its author, cached and patched: a member that holds it has nothing to do.
  if user ~= nil and (user ~= given or rawget(self, "user") ~= user) then
    local guild = self.guild
    local users = (guild and guild.client or self.client).users
    local cached = getFrom(users.cache, user.id)
    -- A message's member comes with its author already patched.
    if cached then
      if cached ~= user then cached:_patch(user) end
    elseif user.id ~= nil and not isClass(getmetatable(user)) then
      -- A payload's user met for the first time (most of a chunk's): made and cached without _add's checks.
      cached = users:_addNew(user.id, user)
    else
      cached = users:_add(user)
    end
    self.user = cached
  end
  copyFields(self, data)
  copyTrue(self, data)
  if data.avatar_decoration_data ~= nil or data.collectibles ~= nil then copyNested(self, data) end
  setFlags(self, data, "flags", "GuildMemberFlagsBitField")
  local roles = data.roles
  if roles ~= nil and not sameRoles(self._roles, roles) then
    local first, second = roles[1], roles[2]
    if first == nil then
      self._roles = nil
    elseif roles[3] == nil then
      local key = second and first .. " " .. second or first
      local list = SHARED[key]
      if list == nil then
        list = second and { first, second } or { first }
        SHARED[key] = list
      end
      self._roles = list
    else
      -- A longer list is the payload's own, kept as it came: lists are replaced, never changed in place.
      self._roles = roles
    end
  end
  -- parseTimestamp reads null as nil. A member's join date is fixed while it stays (one that leaves is
  -- removed), so the date every event repeats is read once.
  local at = data.joined_at
  if at ~= nil and (rawget(self, "joinedTimestamp") == nil or at == null) then
    self.joinedTimestamp = parseTimestamp(at)
  end
  -- Most members have neither: their nulls are tested here, not by calls.
  at = data.premium_since
  if at ~= nil then self.premiumSinceTimestamp = at ~= null and parseTimestamp(at) or nil end
  at = data.communication_disabled_until
  if at ~= nil then self.communicationDisabledUntilTimestamp = at ~= null and parseTimestamp(at) or nil end
  return self
end

--- True for a member known without its join date (from a mention or an interaction).
---@return boolean
GuildMember.getters.partial = function(self) return self.joinedTimestamp == nil end
--- The guild's ID.
---@return discord.Snowflake|nil
GuildMember.getters.guildId = function(self) return self.guild and self.guild.id end
--- The nickname, else the user's display name.
---@return string|nil
GuildMember.getters.displayName = function(self)
  return self.nickname or (self.user and self.user.displayName)
end

--- The member's voice state (with no channel when the member is in none).
---@return discord.VoiceState
GuildMember.getters.voice = function(self)
  return self.guild.voiceStates:stateOf(self.id)
end

--- The member's presence in this guild, when cached.
---@return discord.Presence|nil
GuildMember.getters.presence = function(self)
  return self.guild.presences.cache:get(self.id)
end

--- The member's roles, to read and to add or remove.
---@return discord.GuildMemberRoleManager
GuildMember.getters.roles = function(self)
  return require("discord.managers.member_role").GuildMemberRoleManager(self)
end

--- Guild-wide permissions: the union of the roles; everything for the owner and administrators.
---@return discord.PermissionsBitField
GuildMember.getters.permissions = function(self)
  local P = require("discord.bitfield").PermissionsBitField
  if self.guild and self.id == self.guild.ownerId then return P(P.All):freeze() end
  local bits = 0
  for _, role in self.roles.cache:iter() do bits = bits | role.permissions.bitfield end
  if bits & P.Flags.Administrator ~= 0 then return P(P.All):freeze() end
  return P(bits):freeze()
end

--- The colour of the highest coloured role, or 0.
---@return integer
GuildMember.getters.displayColor = function(self)
  local role = self.roles.color
  return role and role.color or 0
end

--- `displayColor` as "#rrggbb".
---@return string
GuildMember.getters.displayHexColor = function(self)
  return string.format("#%06x", self.displayColor)
end

--- When the member's timeout ends (Unix ms), or nil.
---@return discord.Milliseconds|nil
GuildMember.getters.communicationDisabledUntil = function(self)
  return self.communicationDisabledUntilTimestamp
end

--- True while a timeout runs.
---@return boolean
function GuildMember:isCommunicationDisabled()
  local until_ = self.communicationDisabledUntilTimestamp
  return until_ ~= nil and until_ > require("runtime").time()
end

--- The bot can act on members whose highest role is below its own; nobody acts on the owner.
---@return boolean
GuildMember.getters.manageable = function(self)
  local guild = self.guild
  if self.id == guild.ownerId then return false end
  local me = guild.members.me
  if not me then return false end
  if self.id == me.id then return false end
  if me.id == guild.ownerId then return true end
  local Role = require("discord.role").Role
  local mine, theirs = me.roles.highest, self.roles.highest
  if not mine or not theirs then return false end
  return Role.comparePositions(mine, theirs) > 0
end

local function meHas(self, perm)
  local me = self.guild.members.me
  return me ~= nil and me.permissions:has(perm)
end

--- Whether the bot can kick the member.
---@return boolean
GuildMember.getters.kickable = function(self) return self.manageable and meHas(self, "KickMembers") end
--- Whether the bot can ban the member.
---@return boolean
GuildMember.getters.bannable = function(self) return self.manageable and meHas(self, "BanMembers") end

--- Whether the bot can time the member out; administrators cannot be timed out.
---@return boolean
GuildMember.getters.moderatable = function(self)
  return self.manageable and meHas(self, "ModerateMembers") and not self.permissions:has("Administrator")
end

--- The member's permissions in a channel, after its overwrites.
--- Raises a string error when `channel` is not a guild channel.
---@param channel discord.ChannelResolvable
---@return discord.PermissionsBitField
function GuildMember:permissionsIn(channel)
  local c = self.client.channels:resolve(channel)
  if not c or not c.memberPermissions then error("GuildMember:permissionsIn: not a guild channel", 2) end
  return c:memberPermissions(self)
end

--- URL of the member's guild avatar; nil when the member has none.
---@param opts? discord.ImageURLOptions
---@return string|nil
function GuildMember:avatarURL(opts)
  if self.avatar == nil then return nil end
  return require("discord.cdn").guildMemberAvatar(self.guild.id, self.id, self.avatar, opts)
end

--- The guild avatar, else the user's avatar, else the default one.
---@param opts? discord.ImageURLOptions
---@return string
function GuildMember:displayAvatarURL(opts)
  return self:avatarURL(opts) or self.user:displayAvatarURL(opts)
end

--- Edits the member: nick, roles, mute, deaf, voice channel, timeout, flags.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts discord.MemberEditOptions
---@param reason? string Audit log reason.
---@return discord.GuildMember
function GuildMember:edit(opts, reason)
  return self.guild.members:edit(self, opts, reason)
end

--- Sets the nickname; nil clears it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param nick string|nil
---@param reason? string Audit log reason.
---@return discord.GuildMember
function GuildMember:setNickname(nick, reason)
  return self:edit({ nick = nick or json.null }, reason)
end

--- Times the member out for `ms` milliseconds; nil ends the timeout.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param ms integer|nil Up to 28 days.
---@param reason? string Audit log reason.
---@return discord.GuildMember
function GuildMember:timeout(ms, reason)
  local until_ = ms and (require("runtime").time() + ms) or nil
  return self:disableCommunicationUntil(until_, reason)
end

--- Times the member out until Unix milliseconds; nil ends the timeout.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param ts discord.Milliseconds|nil
---@param reason? string Audit log reason.
---@return discord.GuildMember
function GuildMember:disableCommunicationUntil(ts, reason)
  return self:edit({ communicationDisabledUntil = ts or json.null }, reason)
end

--- Kicks the member.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.GuildMember self
function GuildMember:kick(reason)
  self.guild.members:kick(self, reason)
  return self
end

--- Bans the member, optionally deleting their recent messages.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param opts? {deleteMessageSeconds?: integer, reason?: string}
---@return discord.GuildMember self
function GuildMember:ban(opts)
  self.guild.members:ban(self, opts)
  return self
end

--- Opens (or returns the cached) DM channel with the member.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param force? boolean Asks the API even when a DM channel is cached.
---@return discord.DMChannel
function GuildMember:createDM(force)
  return self.user:createDM(force)
end

--- Closes the DM channel with the member.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@return discord.DMChannel|nil
function GuildMember:deleteDM()
  return self.user:deleteDM()
end

--- Sends the member a direct message; takes what `send` takes.
--- Raises `discord.DiscordAPIError` (50007 when the member does not accept DMs).
---@async
---@param options string|discord.MessageOptions
---@return discord.Message
function GuildMember:send(options)
  return self.user:send(options)
end

--- Fetches the member again from the API.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param force? boolean False lets the cached one answer (true).
---@return discord.GuildMember
function GuildMember:fetch(force)
  return self.guild.members:fetch(self.id, { force = force ~= false })
end

--- Whether `other` is this member with the same nickname, avatar, roles and timeout.
---@param other? discord.GuildMember
---@return boolean
function GuildMember:equals(other)
  if other == nil or other.id ~= self.id or other.nickname ~= self.nickname or other.avatar ~= self.avatar then
    return false
  end
  if #self._roles ~= #other._roles then return false end
  for i, id in ipairs(self._roles) do
    if other._roles[i] ~= id then return false end
  end
  return other.communicationDisabledUntilTimestamp == self.communicationDisabledUntilTimestamp
end

--- The mention "<@id>" (also `tostring(member)`).
---@return string
function GuildMember:toString()
  return "<@" .. tostring(self.id) .. ">"
end
GuildMember.__tostring = GuildMember.toString

--- The member's fields as a plain table, roles as a list of IDs.
---@return table
function GuildMember:toJSON()
  local out = Base.toJSON(self)
  out.roles = json.array(util.map(self._roles, function(id) return id end))
  out._roles = nil
  out.id, out.flags = self.id, self.flags:toJSON()
  out.pending = self.pending
  out.deaf, out.mute = self.deaf, self.mute
  return out
end

return M
