-- 64-bit flag sets. The API sends permissions as decimal strings and uses bit 63's neighbours, so the
-- bits live in one Lua integer and are converted to text as unsigned numbers.
local util = require("discord.util")
local errors = require("discord.errors")

local M = {}

--- Unsigned decimal text of a 64-bit integer.
local function unsignedString(n)
  if n >= 0 then return string.format("%d", n) end
  local q = (n >> 1) // 5
  local r = n - q * 10
  return string.format("%d%d", q, r)
end
M.unsignedString = unsignedString

--- Integer from unsigned decimal text up to 2^64-1; nil otherwise.
local function parseUnsigned(s)
  if not s:match("^%d+$") or #s > 20 then return nil end
  local digits = s:gsub("^0+(%d)", "%1")
  if #digits == 20 and digits > "18446744073709551615" then return nil end
  local n = 0
  for i = 1, #digits do n = n * 10 + (digits:byte(i) - 48) end
  return n
end
M.parseUnsigned = parseUnsigned

local BitField = util.class("BitField")
M.BitField = BitField

BitField.Flags = {}
BitField.DefaultBit = 0

--- Resolves a flag name, integer, decimal string, BitField or list of them to an integer.
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

function BitField:init(bits)
  self.bitfield = getmetatable(self):resolve(bits)
end

local function cls(self) return getmetatable(self) end

--- True when every bit of `bit` is set.
function BitField:has(bit)
  local b = cls(self):resolve(bit)
  return self.bitfield & b == b
end

--- True when at least one bit of `bit` is set.
function BitField:any(bit)
  return self.bitfield & cls(self):resolve(bit) ~= 0
end

--- Names of the flags of `bits` that are not set here.
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

function BitField:add(...)
  checkMutable(self)
  local c = cls(self)
  for _, b in ipairs({ ... }) do self.bitfield = self.bitfield | c:resolve(b) end
  return self
end

function BitField:remove(...)
  checkMutable(self)
  local c = cls(self)
  for _, b in ipairs({ ... }) do self.bitfield = self.bitfield & ~c:resolve(b) end
  return self
end

-- Frozen bit fields by class and value: they cannot change, so every holder of a value shares one.
local frozenOf = setmetatable({}, { __mode = "k" })

--- A read-only copy.
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

--- The shared frozen bit field of `bits` (as a payload gives them): what `cls(bits):freeze()` returns,
--- made once for each value a payload sends.
function BitField.shared(c, bits)
  local byValue = frozenOf[c]
  local hit = byValue and byValue[bits]
  if hit then return hit end
  hit = c(bits):freeze()
  frozenOf[c][bits] = hit
  return hit
end

function BitField:clone()
  return cls(self)(self.bitfield)
end

function BitField:equals(other)
  return self.bitfield == cls(self):resolve(other)
end
BitField.__eq = function(a, b) return a.bitfield == b.bitfield end

--- Flag names whose bits are all set, in bit order. Aliases sharing a bit are listed once.
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
function BitField:serialize()
  local out = {}
  for name, bit in pairs(cls(self).Flags) do out[name] = self.bitfield & bit == bit end
  return out
end

--- Decimal text, as the API takes it.
function BitField:toJSON()
  return unsignedString(self.bitfield)
end

function BitField:__tostring()
  return cls(self).__name .. "(" .. unsignedString(self.bitfield) .. ")"
end

--- Makes a flag class: `Flags` maps names to integers; `ALL` is their union.
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
M.PermissionFlags = PermissionFlags

-- What @everyone gets in a new guild.
PermissionsBitField.Default = PermissionsBitField.resolve(PermissionsBitField, {
  "CreateInstantInvite", "AddReactions", "Stream", "ViewChannel", "SendMessages", "SendTTSMessages", "EmbedLinks",
  "AttachFiles", "ReadMessageHistory", "MentionEveryone", "UseExternalEmojis", "Connect", "Speak", "UseVAD",
  "ChangeNickname", "UseApplicationCommands", "RequestToSpeak", "CreatePublicThreads", "CreatePrivateThreads",
  "UseExternalStickers", "SendMessagesInThreads", "UseEmbeddedActivities",
})

--- Administrator implies every permission unless `checkAdmin` is false.
function PermissionsBitField:has(bit, checkAdmin)
  if checkAdmin ~= false and self.bitfield & PermissionFlags.Administrator ~= 0 then return true end
  return BitField.has(self, bit)
end

function PermissionsBitField:any(bit, checkAdmin)
  if checkAdmin ~= false and self.bitfield & PermissionFlags.Administrator ~= 0 then return true end
  return BitField.any(self, bit)
end

-- Other flag sets ----------------------------------------------------------------------------------------

M.UserFlagsBitField = M.define("UserFlagsBitField", bits({
  Staff = 0, Partner = 1, Hypesquad = 2, BugHunterLevel1 = 3, HypeSquadOnlineHouse1 = 6, HypeSquadOnlineHouse2 = 7,
  HypeSquadOnlineHouse3 = 8, PremiumEarlySupporter = 9, TeamPseudoUser = 10, BugHunterLevel2 = 14,
  VerifiedBot = 16, VerifiedDeveloper = 17, CertifiedModerator = 18, BotHTTPInteractions = 19,
  ActiveDeveloper = 22,
}))

M.MessageFlagsBitField = M.define("MessageFlagsBitField", bits({
  Crossposted = 0, IsCrosspost = 1, SuppressEmbeds = 2, SourceMessageDeleted = 3, Urgent = 4, HasThread = 5,
  Ephemeral = 6, Loading = 7, FailedToMentionSomeRolesInThread = 8, SuppressNotifications = 12,
  IsVoiceMessage = 13, HasSnapshot = 14, IsComponentsV2 = 15,
}))

M.ChannelFlagsBitField = M.define("ChannelFlagsBitField", bits({
  GuildFeedRemoved = 0, Pinned = 1, ActiveChannelsRemoved = 2, RequireTag = 4, IsSpam = 5,
  IsGuildResourceChannel = 7, ClydeAI = 8, IsScheduledForDeletion = 9, HideMediaDownloadOptions = 15,
  IsSpoilerChannel = 21,
}))

M.GuildMemberFlagsBitField = M.define("GuildMemberFlagsBitField", bits({
  DidRejoin = 0, CompletedOnboarding = 1, BypassesVerification = 2, StartedOnboarding = 3, IsGuest = 4,
  StartedHomeActions = 5, CompletedHomeActions = 6, AutomodQuarantinedUsernameOrGuildNickname = 7,
  DmSettingsUpsellAcknowledged = 9, AutomodQuarantinedGuildTag = 10,
}))

M.SystemChannelFlagsBitField = M.define("SystemChannelFlagsBitField", bits({
  SuppressJoinNotifications = 0, SuppressPremiumSubscriptions = 1, SuppressGuildReminderNotifications = 2,
  SuppressJoinNotificationReplies = 3, SuppressRoleSubscriptionPurchaseNotifications = 4,
  SuppressRoleSubscriptionPurchaseNotificationReplies = 5,
}))

M.ApplicationFlagsBitField = M.define("ApplicationFlagsBitField", bits({
  ApplicationAutoModerationRuleCreateBadge = 6, GatewayPresence = 12, GatewayPresenceLimited = 13,
  GatewayGuildMembers = 14, GatewayGuildMembersLimited = 15, VerificationPendingGuildLimit = 16, Embedded = 17,
  GatewayMessageContent = 18, GatewayMessageContentLimited = 19, ApplicationCommandBadge = 23,
}))

M.RoleFlagsBitField = M.define("RoleFlagsBitField", bits({ InPrompt = 0 }))

M.AttachmentFlagsBitField = M.define("AttachmentFlagsBitField", bits({
  IsClip = 0, IsThumbnail = 1, IsRemix = 2, IsSpoiler = 3, IsAnimated = 5,
}))

M.InviteFlagsBitField = M.define("InviteFlagsBitField", bits({ IsGuestInvite = 0 }))

M.EmbedFlagsBitField = M.define("EmbedFlagsBitField", bits({ IsContentInventoryEntry = 5 }))

M.EmbedMediaFlagsBitField = M.define("EmbedMediaFlagsBitField", bits({ IsAnimated = 5 }))

M.ActivityFlagsBitField = M.define("ActivityFlagsBitField", bits({
  Instance = 0, Join = 1, Spectate = 2, JoinRequest = 3, Sync = 4, Play = 5, PartyPrivacyFriends = 6,
  PartyPrivacyVoiceChannel = 7, Embedded = 8,
}))

M.ThreadMemberFlagsBitField = M.define("ThreadMemberFlagsBitField", bits({
  HasInteracted = 0, AllMessages = 1, OnlyMentions = 2, NoMessages = 3,
}))

return M
