-- 64-bit flag sets. The API sends permissions as decimal strings and uses bit 63's neighbours, so the
-- bits live in one Lua integer and are converted to text as unsigned numbers.
local util = require("discord.util")
local errors = require("discord.errors")

local M = {}

--- Unsigned decimal text of a 64-bit integer.
---@param n integer
---@return string
local function unsignedString(n)
  if n >= 0 then return string.format("%d", n) end
  local q = (n >> 1) // 5
  local r = n - q * 10
  return string.format("%d%d", q, r)
end
M.unsignedString = unsignedString

--- Integer from unsigned decimal text up to 2^64-1; nil otherwise.
---@param s string
---@return integer|nil
local function parseUnsigned(s)
  if not s:match("^%d+$") or #s > 20 then return nil end
  local digits = s:gsub("^0+(%d)", "%1")
  if #digits == 20 and digits > "18446744073709551615" then return nil end
  local n = 0
  for i = 1, #digits do n = n * 10 + (digits:byte(i) - 48) end
  return n
end
M.parseUnsigned = parseUnsigned

---@type discord.BitField
local BitField = util.class("BitField")
M.BitField = BitField

BitField.Flags = {}
BitField.DefaultBit = 0

--- Resolves a flag name, integer, decimal string, BitField or list of them to an integer (`Cls:resolve(x)`).
--- Raises `discord.LibraryError` InvalidBitField for a name or value it cannot read.
---@param cls table The flag class.
---@param bit? string|integer|discord.BitField|table Flag name, integer, decimal string, bit field or a list of them.
---@return integer
function BitField.resolve(cls, bit)
  if bit == nil then return cls.DefaultBit end
  local t = type(bit)
  if math.type(bit) == "integer" then return bit end
  if t == "table" then
    if util.instanceOf(bit, BitField) then return bit.bitfield end
    local n = cls.DefaultBit
    for _, b in ipairs(bit) do n = n | cls:resolve(b) end
    return n
  end
  if t == "string" then
    local flag = cls.Flags[bit]
    if flag ~= nil then return flag end
    local n = parseUnsigned(bit)
    if n ~= nil then return n end
  end
  error(errors.LibraryError("InvalidBitField", bit), 0)
end

--- Creates a bit field (`Cls(bits)`), from the class's default bits when nil.
--- Raises `discord.LibraryError` InvalidBitField for a name or value it cannot read.
---@param bits? string|integer|discord.BitField|table Flag name, integer, decimal string, bit field or a list of them.
function BitField:init(bits)
  self.bitfield = getmetatable(self):resolve(bits)
end

local function cls(self) return getmetatable(self) end

--- True when every bit of `bit` is set.
--- Raises `discord.LibraryError` InvalidBitField for a name or value it cannot read.
---@param bit string|integer|discord.BitField|table Flag name, integer, decimal string, bit field or a list of them.
---@return boolean
function BitField:has(bit)
  local b = cls(self):resolve(bit)
  return self.bitfield & b == b
end

--- True when at least one bit of `bit` is set.
--- Raises `discord.LibraryError` InvalidBitField for a name or value it cannot read.
---@param bit string|integer|discord.BitField|table Flag name, integer, decimal string, bit field or a list of them.
---@return boolean
function BitField:any(bit)
  return self.bitfield & cls(self):resolve(bit) ~= 0
end

--- Names of the flags of `bits` that are not set here.
--- Raises `discord.LibraryError` InvalidBitField for a name or value it cannot read.
---@param bits string|integer|discord.BitField|table Flag name, integer, decimal string, bit field or a list of them.
---@param ... any Passed on to `has` (such as checkAdmin).
---@return string[]
function BitField:missing(bits, ...)
  local want = cls(self)(bits)
  local out = {}
  for _, name in ipairs(want:toArray()) do
    if not self:has(name, ...) then out[#out + 1] = name end
  end
  return out
end

local function checkMutable(self)
  if self.frozen then error("BitField: this bit field is frozen", 3) end
end

--- Sets bits, in place.
--- Raises a string error on a frozen bit field, or as `resolve` does.
---@param ... string|integer|discord.BitField|table
---@return discord.BitField self
function BitField:add(...)
  checkMutable(self)
  local c = cls(self)
  for _, b in ipairs({ ... }) do self.bitfield = self.bitfield | c:resolve(b) end
  return self
end

--- Clears bits, in place.
--- Raises a string error on a frozen bit field, or as `resolve` does.
---@param ... string|integer|discord.BitField|table
---@return discord.BitField self
function BitField:remove(...)
  checkMutable(self)
  local c = cls(self)
  for _, b in ipairs({ ... }) do self.bitfield = self.bitfield & ~c:resolve(b) end
  return self
end

-- Frozen bit fields by class and value: they cannot change, so every holder of a value shares one.
local frozenOf = setmetatable({}, { __mode = "k" })

--- A read-only copy (add and remove raise); one shared copy for each value.
---@return discord.BitField
function BitField:freeze()
  local c = cls(self)
  local byValue = frozenOf[c]
  if not byValue then
    byValue = setmetatable({}, { __mode = "v" })
    frozenOf[c] = byValue
  end
  local copy = byValue[self.bitfield]
  if copy then return copy end
  copy = c(self.bitfield)
  copy.frozen = true
  byValue[self.bitfield] = copy
  return copy
end

--- The shared frozen bit field of `bits` (as a payload gives them): what `Cls(bits):freeze()` returns,
--- made once for each value.
---@param c table The bit field class.
---@param bits integer
---@return discord.BitField
function BitField.shared(c, bits)
  local byValue = frozenOf[c]
  return byValue and byValue[bits] or c(bits):freeze()
end

--- A mutable copy.
---@return discord.BitField
function BitField:clone()
  return cls(self)(self.bitfield)
end

--- Whether the same bits are set as in `other`.
--- Raises `discord.LibraryError` InvalidBitField for a name or value it cannot read.
---@param other string|integer|discord.BitField|table
---@return boolean
function BitField:equals(other)
  return self.bitfield == cls(self):resolve(other)
end
BitField.__eq = function(a, b) return a.bitfield == b.bitfield end

--- Flag names whose bits are all set, in bit order; aliases sharing a bit are listed once.
---@return string[]
function BitField:toArray()
  local names = {}
  for name, bit in pairs(cls(self).Flags) do
    if bit ~= 0 and self.bitfield & bit == bit then names[#names + 1] = { name, bit } end
  end
  table.sort(names, function(a, b)
    if a[2] ~= b[2] then return math.ult(a[2], b[2]) end
    return a[1] < b[1]
  end)
  local out, last = {}, nil
  for _, nb in ipairs(names) do
    if nb[2] ~= last then out[#out + 1] = nb[1] end
    last = nb[2]
  end
  return out
end

--- {FlagName = bool} for every flag.
---@return table<string, boolean>
function BitField:serialize()
  local out = {}
  for name, bit in pairs(cls(self).Flags) do out[name] = self.bitfield & bit == bit end
  return out
end

--- Decimal text, as the API takes it.
---@return string
function BitField:toJSON()
  return unsignedString(self.bitfield)
end

function BitField:__tostring()
  return cls(self).__name .. "(" .. unsignedString(self.bitfield) .. ")"
end

--- Makes a flag class: `Flags` maps names to integers; `All` is their union.
---@param name string Class name.
---@param flags table<string, integer>
---@param default? integer Bits of `Cls()` (0).
---@return table class
function M.define(name, flags, default)
  local c = util.class(name, BitField)
  c.Flags = flags
  c.DefaultBit = default or 0
  local all = 0
  for _, bit in pairs(flags) do all = all | bit end
  c.All = all
  return c
end

local function bits(list)
  local out = {}
  for name, n in pairs(list) do out[name] = 1 << n end
  return out
end

-- Permissions --------------------------------------------------------------------------------------------

local PermissionFlags = bits({
  CreateInstantInvite = 0, KickMembers = 1, BanMembers = 2, Administrator = 3, ManageChannels = 4,
  ManageGuild = 5, AddReactions = 6, ViewAuditLog = 7, PrioritySpeaker = 8, Stream = 9, ViewChannel = 10,
  SendMessages = 11, SendTTSMessages = 12, ManageMessages = 13, EmbedLinks = 14, AttachFiles = 15,
  ReadMessageHistory = 16, MentionEveryone = 17, UseExternalEmojis = 18, ViewGuildInsights = 19, Connect = 20,
  Speak = 21, MuteMembers = 22, DeafenMembers = 23, MoveMembers = 24, UseVAD = 25, ChangeNickname = 26,
  ManageNicknames = 27, ManageRoles = 28, ManageWebhooks = 29, ManageGuildExpressions = 30,
  UseApplicationCommands = 31, RequestToSpeak = 32, ManageEvents = 33, ManageThreads = 34,
  CreatePublicThreads = 35, CreatePrivateThreads = 36, UseExternalStickers = 37, SendMessagesInThreads = 38,
  UseEmbeddedActivities = 39, ModerateMembers = 40, ViewCreatorMonetizationAnalytics = 41, UseSoundboard = 42,
  CreateGuildExpressions = 43, CreateEvents = 44, UseExternalSounds = 45, SendVoiceMessages = 46,
  SetVoiceChannelStatus = 48, SendPolls = 49, UseExternalApps = 50, PinMessages = 51, BypassSlowmode = 52,
})

local PermissionsBitField = M.define("PermissionsBitField", PermissionFlags)
M.PermissionsBitField = PermissionsBitField
--- Permission bits by name (`PermissionFlags.Administrator`).
---@type table<string, integer>
M.PermissionFlags = PermissionFlags

-- What @everyone gets in a new guild.
PermissionsBitField.Default = PermissionsBitField.resolve(PermissionsBitField, {
  "CreateInstantInvite", "AddReactions", "Stream", "ViewChannel", "SendMessages", "SendTTSMessages", "EmbedLinks",
  "AttachFiles", "ReadMessageHistory", "MentionEveryone", "UseExternalEmojis", "Connect", "Speak", "UseVAD",
  "ChangeNickname", "UseApplicationCommands", "RequestToSpeak", "CreatePublicThreads", "CreatePrivateThreads",
  "UseExternalStickers", "SendMessagesInThreads", "UseEmbeddedActivities",
})

--- True when every bit is set; Administrator implies every permission unless `checkAdmin` is false.
--- Raises `discord.LibraryError` InvalidBitField for a name or value it cannot read.
---@param bit string|integer|discord.BitField|table Flag name, integer, decimal string, bit field or a list of them.
---@param checkAdmin? boolean
---@return boolean
function PermissionsBitField:has(bit, checkAdmin)
  if checkAdmin ~= false and self.bitfield & PermissionFlags.Administrator ~= 0 then return true end
  return BitField.has(self, bit)
end

--- True when one of the bits is set; Administrator implies every permission unless `checkAdmin` is false.
--- Raises `discord.LibraryError` InvalidBitField for a name or value it cannot read.
---@param bit string|integer|discord.BitField|table Flag name, integer, decimal string, bit field or a list of them.
---@param checkAdmin? boolean
---@return boolean
function PermissionsBitField:any(bit, checkAdmin)
  if checkAdmin ~= false and self.bitfield & PermissionFlags.Administrator ~= 0 then return true end
  return BitField.any(self, bit)
end

-- Other flag sets ----------------------------------------------------------------------------------------

--- A user's badges (public flags): Staff, Partner, VerifiedBot, ActiveDeveloper, ...
---@class discord.UserFlagsBitField: discord.BitField
M.UserFlagsBitField = M.define("UserFlagsBitField", bits({
  Staff = 0, Partner = 1, Hypesquad = 2, BugHunterLevel1 = 3, HypeSquadOnlineHouse1 = 6, HypeSquadOnlineHouse2 = 7,
  HypeSquadOnlineHouse3 = 8, PremiumEarlySupporter = 9, TeamPseudoUser = 10, BugHunterLevel2 = 14,
  VerifiedBot = 16, VerifiedDeveloper = 17, CertifiedModerator = 18, BotHTTPInteractions = 19,
  ActiveDeveloper = 22,
}))

--- A message's flags: Ephemeral, SuppressEmbeds, SuppressNotifications, IsComponentsV2, ...
---@class discord.MessageFlagsBitField: discord.BitField
M.MessageFlagsBitField = M.define("MessageFlagsBitField", bits({
  Crossposted = 0, IsCrosspost = 1, SuppressEmbeds = 2, SourceMessageDeleted = 3, Urgent = 4, HasThread = 5,
  Ephemeral = 6, Loading = 7, FailedToMentionSomeRolesInThread = 8, SuppressNotifications = 12,
  IsVoiceMessage = 13, HasSnapshot = 14, IsComponentsV2 = 15,
}))

--- A channel's flags: Pinned (forum posts), RequireTag, HideMediaDownloadOptions, ...
---@class discord.ChannelFlagsBitField: discord.BitField
M.ChannelFlagsBitField = M.define("ChannelFlagsBitField", bits({
  GuildFeedRemoved = 0, Pinned = 1, ActiveChannelsRemoved = 2, RequireTag = 4, IsSpam = 5,
  IsGuildResourceChannel = 7, ClydeAI = 8, IsScheduledForDeletion = 9, HideMediaDownloadOptions = 15,
  IsSpoilerChannel = 21,
}))

--- A member's flags: DidRejoin, CompletedOnboarding, BypassesVerification, ...
---@class discord.GuildMemberFlagsBitField: discord.BitField
M.GuildMemberFlagsBitField = M.define("GuildMemberFlagsBitField", bits({
  DidRejoin = 0, CompletedOnboarding = 1, BypassesVerification = 2, StartedOnboarding = 3, IsGuest = 4,
  StartedHomeActions = 5, CompletedHomeActions = 6, AutomodQuarantinedUsernameOrGuildNickname = 7,
  DmSettingsUpsellAcknowledged = 9, AutomodQuarantinedGuildTag = 10,
}))

--- What the system channel leaves out: join, boost, reminder and subscription messages.
---@class discord.SystemChannelFlagsBitField: discord.BitField
M.SystemChannelFlagsBitField = M.define("SystemChannelFlagsBitField", bits({
  SuppressJoinNotifications = 0, SuppressPremiumSubscriptions = 1, SuppressGuildReminderNotifications = 2,
  SuppressJoinNotificationReplies = 3, SuppressRoleSubscriptionPurchaseNotifications = 4,
  SuppressRoleSubscriptionPurchaseNotificationReplies = 5,
}))

--- An application's flags, such as its privileged intents (GatewayGuildMembers, ...).
---@class discord.ApplicationFlagsBitField: discord.BitField
M.ApplicationFlagsBitField = M.define("ApplicationFlagsBitField", bits({
  ApplicationAutoModerationRuleCreateBadge = 6, GatewayPresence = 12, GatewayPresenceLimited = 13,
  GatewayGuildMembers = 14, GatewayGuildMembersLimited = 15, VerificationPendingGuildLimit = 16, Embedded = 17,
  GatewayMessageContent = 18, GatewayMessageContentLimited = 19, ApplicationCommandBadge = 23,
}))

--- A role's flags: InPrompt (part of an onboarding prompt).
---@class discord.RoleFlagsBitField: discord.BitField
M.RoleFlagsBitField = M.define("RoleFlagsBitField", bits({ InPrompt = 0 }))

--- An attachment's flags: IsClip, IsThumbnail, IsRemix, IsSpoiler, IsAnimated.
---@class discord.AttachmentFlagsBitField: discord.BitField
M.AttachmentFlagsBitField = M.define("AttachmentFlagsBitField", bits({
  IsClip = 0, IsThumbnail = 1, IsRemix = 2, IsSpoiler = 3, IsAnimated = 5,
}))

--- An invite's flags: IsGuestInvite.
---@class discord.InviteFlagsBitField: discord.BitField
M.InviteFlagsBitField = M.define("InviteFlagsBitField", bits({ IsGuestInvite = 0 }))

--- An embed's flags.
---@class discord.EmbedFlagsBitField: discord.BitField
M.EmbedFlagsBitField = M.define("EmbedFlagsBitField", bits({ IsContentInventoryEntry = 5 }))

--- An embed image's or video's flags: IsAnimated.
---@class discord.EmbedMediaFlagsBitField: discord.BitField
M.EmbedMediaFlagsBitField = M.define("EmbedMediaFlagsBitField", bits({ IsAnimated = 5 }))

--- An activity's flags: Instance, Join, Spectate, Sync, Play, Embedded, ...
---@class discord.ActivityFlagsBitField: discord.BitField
M.ActivityFlagsBitField = M.define("ActivityFlagsBitField", bits({
  Instance = 0, Join = 1, Spectate = 2, JoinRequest = 3, Sync = 4, Play = 5, PartyPrivacyFriends = 6,
  PartyPrivacyVoiceChannel = 7, Embedded = 8,
}))

--- A thread member's flags: HasInteracted and notification settings.
---@class discord.ThreadMemberFlagsBitField: discord.BitField
M.ThreadMemberFlagsBitField = M.define("ThreadMemberFlagsBitField", bits({
  HasInteracted = 0, AllMessages = 1, OnlyMentions = 2, NoMessages = 3,
}))

return M
