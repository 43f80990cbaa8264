-- Error values raised by the library. Each is a table with `name`, `message` and __tostring, so
-- `error(e, 0)` keeps its fields for the caller and still prints well when nobody catches it.
local util = require("discord.util")
local json = require("json")

local errors = {}

--- JSON error codes of the API by name; `errors.Codes[10008] == "UnknownMessage"` works as well.
---@enum discord.RESTJSONErrorCodes
local Codes = {
  GeneralError = 0,
  UnknownAccount = 10001, UnknownApplication = 10002, UnknownChannel = 10003, UnknownGuild = 10004,
  UnknownIntegration = 10005, UnknownInvite = 10006, UnknownMember = 10007, UnknownMessage = 10008,
  UnknownPermissionOverwrite = 10009, UnknownProvider = 10010, UnknownRole = 10011, UnknownToken = 10012,
  UnknownUser = 10013, UnknownEmoji = 10014, UnknownWebhook = 10015, UnknownWebhookService = 10016,
  UnknownSession = 10020, UnknownBan = 10026, UnknownSKU = 10027, UnknownStoreListing = 10028,
  UnknownEntitlement = 10029, UnknownBuild = 10030, UnknownLobby = 10031, UnknownBranch = 10032,
  UnknownStoreDirectoryLayout = 10033, UnknownRedistributable = 10036, UnknownGiftCode = 10038,
  UnknownStream = 10049, UnknownPremiumServerSubscribeCooldown = 10050, UnknownGuildTemplate = 10057,
  UnknownDiscoverableServerCategory = 10059, UnknownSticker = 10060, UnknownStickerPack = 10061,
  UnknownInteraction = 10062, UnknownApplicationCommand = 10063, UnknownVoiceState = 10065,
  UnknownApplicationCommandPermissions = 10066, UnknownStageInstance = 10067,
  UnknownGuildMemberVerificationForm = 10068, UnknownGuildWelcomeScreen = 10069,
  UnknownGuildScheduledEvent = 10070, UnknownGuildScheduledEventUser = 10071, UnknownTag = 10087,
  UnknownSound = 10097,
  BotsCannotUseThisEndpoint = 20001, OnlyBotsCanUseThisEndpoint = 20002,
  ExplicitContentCannotBeSentToTheDesiredRecipients = 20009,
  NotAuthorizedToPerformThisActionOnThisApplication = 20012, ActionCannotBePerformedDueToSlowmodeRateLimit = 20016,
  TheMazeIsntMeantForYou = 20017, OnlyTheOwnerOfThisAccountCanPerformThisAction = 20018,
  AnnouncementEditLimitExceeded = 20022, UnderMinimumAge = 20024, ChannelSendRateLimit = 20028,
  ServerSendRateLimit = 20029, StageTopicServerNameServerDescriptionOrChannelNamesContainDisallowedWords = 20031,
  GuildPremiumSubscriptionLevelTooLow = 20035,
  MaximumNumberOfGuildsReached = 30001, MaximumNumberOfFriendsReached = 30002,
  MaximumNumberOfPinsReachedForTheChannel = 30003, MaximumNumberOfRecipientsReached = 30004,
  MaximumNumberOfGuildRolesReached = 30005, MaximumNumberOfWebhooksReached = 30007,
  MaximumNumberOfEmojisReached = 30008, MaximumNumberOfReactionsReached = 30010,
  MaximumNumberOfGroupDMsReached = 30011, MaximumNumberOfGuildChannelsReached = 30013,
  MaximumNumberOfAttachmentsInAMessageReached = 30015, MaximumNumberOfInvitesReached = 30016,
  MaximumNumberOfAnimatedEmojisReached = 30018, MaximumNumberOfServerMembersReached = 30019,
  MaximumNumberOfServerCategoriesReached = 30030, GuildAlreadyHasATemplate = 30031,
  MaximumNumberOfApplicationCommandsReached = 30032, MaximumThreadParticipantsReached = 30033,
  MaximumDailyApplicationCommandCreatesReached = 30034, MaximumNumberOfNonGuildMemberBansHasBeenExceeded = 30035,
  MaximumNumberOfBanFetchesHasBeenReached = 30037, MaximumNumberOfUncompletedGuildScheduledEventsReached = 30038,
  MaximumNumberOfStickersReached = 30039, MaximumNumberOfPruneRequestsHasBeenReached = 30040,
  MaximumNumberOfGuildWidgetSettingsUpdatesHasBeenReached = 30042, MaximumNumberOfSoundboardSoundsReached = 30045,
  MaximumNumberOfEditsToMessagesOlderThanOneHourReached = 30046,
  MaximumNumberOfPinnedThreadsInForumHasBeenReached = 30047,
  MaximumNumberOfTagsInForumHasBeenReached = 30048, BitrateIsTooHighForChannelOfThisType = 30052,
  MaximumNumberOfPremiumEmojisReached = 30056, MaximumNumberOfWebhooksPerGuildReached = 30058,
  MaximumNumberOfChannelPermissionOverwritesReached = 30060, TheChannelsForThisGuildAreTooLarge = 30061,
  Unauthorized = 40001, VerifyYourAccount = 40002, OpeningDirectMessagesTooFast = 40003,
  SendMessagesHasBeenTemporarilyDisabled = 40004, RequestEntityTooLarge = 40005, FeatureTemporarilyDisabled = 40006,
  UserBannedFromThisGuild = 40007, ConnectionHasBeenRevoked = 40012, OnlyConsumableSKUsCanBeConsumed = 40018,
  YouCanOnlyDeleteSandboxEntitlements = 40019, TargetUserIsNotConnectedToVoice = 40032,
  ThisMessageWasAlreadyCrossposted = 40033, AnApplicationCommandWithThatNameAlreadyExists = 40041,
  ApplicationInteractionFailedToSend = 40043, CannotSendAMessageInAForumChannel = 40058,
  InteractionHasAlreadyBeenAcknowledged = 40060, TagNamesMustBeUnique = 40061,
  ServiceResourceIsBeingRateLimited = 40062,
  ThereAreNoTagsAvailableThatCanBeSetByNonModerators = 40066, ATagIsRequiredToCreateAForumPostInThisChannel = 40067,
  AnEntitlementHasAlreadyBeenGrantedForThisResource = 40074,
  MissingAccess = 50001, InvalidAccountType = 50002, CannotExecuteActionOnADMChannel = 50003,
  GuildWidgetDisabled = 50004, CannotEditAMessageAuthoredByAnotherUser = 50005, CannotSendAnEmptyMessage = 50006,
  CannotSendMessagesToThisUser = 50007, CannotSendMessagesInANonTextChannel = 50008,
  ChannelVerificationLevelIsTooHighForYouToGainAccess = 50009, OAuth2ApplicationDoesNotHaveABot = 50010,
  OAuth2ApplicationLimitReached = 50011, InvalidOAuth2State = 50012, MissingPermissions = 50013,
  InvalidToken = 50014, NoteWasTooLong = 50015, ProvidedTooFewOrTooManyMessagesToDelete = 50016,
  InvalidMFALevel = 50017, MessageCanOnlyBePinnedInTheChannelItWasSentIn = 50019,
  InviteCodeInvalidOrTaken = 50020, CannotExecuteActionOnASystemMessage = 50021,
  CannotExecuteActionOnThisChannelType = 50024, InvalidOAuth2AccessToken = 50025,
  MissingRequiredOAuth2Scope = 50026, InvalidWebhookToken = 50027, InvalidRole = 50028, InvalidRecipients = 50033,
  OneOfTheMessagesProvidedWasTooOldForBulkDelete = 50034, InvalidFormBodyOrContentType = 50035,
  InviteAcceptedToGuildWithoutTheBotBeingIn = 50036, InvalidActivityAction = 50039, InvalidAPIVersion = 50041,
  FileUploadedExceedsMaximumSize = 50045, InvalidFileUploaded = 50046, CannotSelfRedeemThisGift = 50054,
  InvalidGuild = 50055, InvalidSKU = 50057, InvalidRequestOrigin = 50067, InvalidMessageType = 50068,
  PaymentSourceRequiredToRedeemGift = 50070, CannotModifyASystemWebhook = 50073,
  CannotDeleteChannelRequiredForCommunityGuilds = 50074, CannotEditStickersWithinMessage = 50080,
  InvalidStickerSent = 50081, InvalidActionOnArchivedThread = 50083, InvalidThreadNotificationSettings = 50084,
  ParameterEarlierThanCreation = 50085, CommunityServerChannelsMustBeTextChannels = 50086,
  EventEntityTypeDifferentFromEntityYouAreTryingToStartEventFor = 50091, ServerNotAvailableInYourLocation = 50095,
  ServerNeedsMonetizationEnabledToPerformThisAction = 50097, ServerNeedsMoreBoostsToPerformThisAction = 50101,
  RequestBodyContainsInvalidJSON = 50109, ProvidedFileIsInvalid = 50110, ProvidedFileTypeIsInvalid = 50123,
  ProvidedFileDurationExceedsMaximum = 50124, OwnerCannotBePendingMember = 50131,
  OwnershipCannotBeMovedToABotUser = 50132, FailedToResizeAssetBelowTheMinimumSize = 50138,
  CannotMixSubscriptionAndNonSubscriptionRolesForAnEmoji = 50144,
  CannotConvertBetweenPremiumEmojiAndNormalEmoji = 50145, UploadedFileNotFound = 50146,
  SpecifiedEmojiIsInvalid = 50151, VoiceMessagesDoNotSupportAdditionalContent = 50159,
  VoiceMessagesMustHaveASingleAudioAttachment = 50160, VoiceMessagesMustHaveSupportingMetadata = 50161,
  VoiceMessagesCannotBeEdited = 50162, CannotDeleteGuildSubscriptionIntegration = 50163,
  YouCannotSendVoiceMessagesInThisChannel = 50173,
  YouDoNotHavePermissionToSendThisSticker = 50600,
  TwoFactorAuthenticationIsRequired = 60003,
  NoUsersWithDiscordTagExist = 80004,
  ReactionWasBlocked = 90001, UserCannotUseBurstReactions = 90002,
  ApplicationNotYetAvailable = 110001,
  APIResourceOverloaded = 130000,
  TheStageIsAlreadyOpen = 150006,
  CannotReplyWithoutPermissionToReadMessageHistory = 160002, ThreadAlreadyCreatedForMessage = 160004,
  ThreadLocked = 160005, MaximumActiveThreads = 160006, MaximumActiveAnnouncementThreads = 160007,
  InvalidJSONForUploadedLottieFile = 170001, UploadedLottiesCannotContainRasterizedImages = 170002,
  StickerMaximumFramerateExceeded = 170003, StickerFrameCountExceedsMaximumOf1000Frames = 170004,
  LottieAnimationMaximumDimensionsExceeded = 170005, StickerFramerateIsTooSmallOrTooLarge = 170006,
  StickerAnimationDurationExceedsMaximumOf5Seconds = 170007,
  CannotUpdateAFinishedEvent = 180000, FailedToCreateStageNeededForStageEvent = 180002,
  MessageWasBlockedByAutomaticModeration = 200000, TitleWasBlockedByAutomaticModeration = 200001,
  WebhooksPostedToForumChannelsMustHaveAThreadNameOrThreadId = 220001,
  WebhooksPostedToForumChannelsCannotHaveBothAThreadNameAndThreadId = 220002,
  WebhooksCanOnlyCreateThreadsInForumChannels = 220003, WebhookServicesCannotBeUsedInForumChannels = 220004,
  MessageBlockedByHarmfulLinksFilter = 240000,
  CannotEnableOnboardingRequirementsAreNotMet = 350000, CannotUpdateOnboardingWhileBelowRequirements = 350001,
  FailedToBanUsers = 500000,
  PollVotingBlocked = 520000, PollExpired = 520001, InvalidChannelTypeForPollCreation = 520002,
  CannotEditAPollMessage = 520003, CannotUseAnEmojiIncludedWithThePoll = 520004, CannotExpireANonPollMessage = 520006,
}
for name, code in pairs(util.shallowCopy(Codes)) do Codes[code] = name end
errors.Codes = Codes

-- Base ---------------------------------------------------------------------------------------------------

--- Base class of every error the library raises; `tostring(e)` gives "Name: message".
---@class discord.DiscordError
---@field name string Class name, such as "DiscordAPIError".
---@field message string What went wrong.
local DiscordError = util.class("DiscordError")
errors.DiscordError = DiscordError

--- Creates an error with a message (`DiscordError(message)`).
---@param message? string
function DiscordError:init(message)
  self.name = util.className(self)
  self.message = message or ""
end

function DiscordError:__tostring()
  return self.name .. ": " .. self.message
end

--- The error's fields as a plain table, for logs.
---@return table
function DiscordError:toJSON()
  local out = {}
  for k, v in pairs(self) do
    if type(v) ~= "function" then out[k] = v end
  end
  return out
end

-- DiscordAPIError ----------------------------------------------------------------------------------------

--- Flattens Discord's nested form errors into {path = "embeds[0].title", code =, message =} entries.
---@param node table|nil The `errors` object of an error reply.
---@param prefix string Path so far ("" at the top).
---@param out table List to append to.
---@return {path: string, code: string, message: string}[] out
local function flatten(node, prefix, out)
  if type(node) ~= "table" or node == json.null then return out end
  if type(node._errors) == "table" then
    for _, e in ipairs(node._errors) do
      out[#out + 1] = { path = prefix, code = e.code, message = e.message }
    end
  end
  if node.code ~= nil and node.message ~= nil and prefix ~= "" and node._errors == nil then
    out[#out + 1] = { path = prefix, code = node.code, message = node.message }
  end
  for _, key in ipairs(util.sortedKeys(node)) do
    if key ~= "_errors" and key ~= "code" and key ~= "message" then
      local seg
      if type(key) == "number" or tostring(key):match("^%d+$") then
        seg = "[" .. tostring(key) .. "]"
      elseif prefix == "" then
        seg = key
      else
        seg = "." .. key
      end
      flatten(node[key], prefix .. seg, out)
    end
  end
  return out
end
errors.flattenFormErrors = flatten

--- An error reply of the API: `code` is Discord's JSON code, `status` the HTTP status.
---@class discord.DiscordAPIError: discord.DiscordError
---@field code integer JSON error code (see `errors.Codes`), 0 when absent.
---@field status integer HTTP status.
---@field method string HTTP method of the request.
---@field path string Path of the request.
---@field rawError table The decoded error body.
---@field requestBody any What was sent.
---@field errorDetails {path: string, code: string, message: string}[] Form errors, flattened.
---@field errors string[] Form errors as "path: message" lines.
local DiscordAPIError = util.class("DiscordAPIError", DiscordError)
errors.DiscordAPIError = DiscordAPIError

--- Builds the error from the decoded reply (the REST client raises it).
---@param body table|nil Decoded error body.
---@param status integer HTTP status.
---@param method string
---@param path string
---@param requestBody? any
function DiscordAPIError:init(body, status, method, path, requestBody)
  body = type(body) == "table" and body or {}
  DiscordError.init(self, type(body.message) == "string" and body.message or "Unknown error")
  self.code = math.tointeger(body.code) or 0
  self.status = status
  self.method = method
  self.path = path
  self.rawError = body
  self.requestBody = requestBody
  self.errorDetails = flatten(body.errors, "", {})
  self.errors = {}
  for i, d in ipairs(self.errorDetails) do
    self.errors[i] = (d.path ~= "" and d.path .. ": " or "") .. tostring(d.message)
  end
end

function DiscordAPIError:__tostring()
  local head = string.format("DiscordAPIError[%d]: %s (%s %s)", self.code, self.message, tostring(self.method),
    tostring(self.path))
  if #self.errors == 0 then return head end
  return head .. "\n" .. table.concat(self.errors, "\n")
end

-- HTTPError ----------------------------------------------------------------------------------------------

--- A reply that could not be used: 5xx after the retries, a body that is not JSON, or a transport failure.
---@class discord.HTTPError: discord.DiscordError
---@field status integer|nil HTTP status; nil for a transport failure.
---@field kind string|nil The runtime's failure kind ("timeout", "dns", "connect", ...) for a transport failure.
---@field method string|nil The HTTP method of the request.
---@field path string|nil The path of the request.
---@field url string|nil The full URL of the request.
---@field body string|nil Raw reply body.
---@field retries integer|nil How many retries were made.
---@field deadline boolean|nil True when the request's deadline passed before it could be sent.
local HTTPError = util.class("HTTPError", DiscordError)
errors.HTTPError = HTTPError

--- Builds the error from a table of its fields.
---@param info? table Its fields: message, status, kind, method, path, url, body, retries.
function HTTPError:init(info)
  info = info or {}
  DiscordError.init(self, info.message or "HTTP request failed")
  self.status = info.status
  self.kind = info.kind
  self.method = info.method
  self.path = info.path
  self.url = info.url
  self.body = info.body
  self.retries = info.retries
end

function HTTPError:__tostring()
  local where = self.method and (" (" .. self.method .. " " .. tostring(self.path) .. ")") or ""
  local what = self.status and ("status " .. self.status) or (self.kind or "transport")
  return "HTTPError[" .. what .. "]: " .. self.message .. where
end

-- RateLimitError -----------------------------------------------------------------------------------------

--- Raised instead of waiting when `rejectOnRateLimit` matches the limit hit, or for a gateway RATE_LIMITED.
---@class discord.RateLimitError: discord.DiscordError
---@field timeToReset integer Milliseconds until the limit resets.
---@field retryAfter integer|nil Milliseconds Discord asked to wait.
---@field limit integer|nil The request limit of the bucket.
---@field method string|nil The HTTP method of the refused request.
---@field route string|nil Route template.
---@field path string|nil The path of the refused request.
---@field global boolean|nil Whether the global limit was hit.
---@field scope string|nil "user", "global" or "shared".
---@field gateway boolean|nil True for a gateway RATE_LIMITED.
---@field opcode integer|nil Gateway opcode that was refused.
---@field shardId integer|nil The shard of a gateway rate limit.
---@field guildId discord.Snowflake|nil The guild of a refused gateway request.
local RateLimitError = util.class("RateLimitError", DiscordError)
errors.RateLimitError = RateLimitError

local RATE_LIMIT_FIELDS = {
  "timeToReset", "retryAfter", "limit", "method", "hash", "url", "route", "majorParameter", "global", "scope",
  "path", "sublimitTimeout", "gateway", "opcode", "shardId", "guildId",
}

--- Builds the error from the limiter's or gateway's rate limit info.
---@param info? table timeToReset, retryAfter, limit, method, route, global, scope, gateway, opcode, ...
function RateLimitError:init(info)
  info = info or {}
  local wait = info.timeToReset or info.retryAfter or 0
  DiscordError.init(self, info.message or string.format("A %s rate limit was hit on %s %s; reset in %d ms",
    info.global and "global" or "route", tostring(info.method), tostring(info.route or info.path), wait))
  for _, k in ipairs(RATE_LIMIT_FIELDS) do self[k] = info[k] end
end

-- GatewayError -------------------------------------------------------------------------------------------

-- Close codes of the gateway: a description, and whether the shard must stop instead of reconnecting.
local CLOSE_CODES = {
  [4000] = { "Unknown error" },
  [4001] = { "Unknown opcode" },
  [4002] = { "Decode error" },
  [4003] = { "Not authenticated" },
  [4004] = { "Authentication failed", true },
  [4005] = { "Already authenticated" },
  [4007] = { "Invalid seq" },
  [4008] = { "Rate limited" },
  [4009] = { "Session timed out" },
  [4010] = { "Invalid shard", true },
  [4011] = { "Sharding required", true },
  [4012] = { "Invalid API version", true },
  [4013] = { "Invalid intent(s)", true },
  [4014] = { "Disallowed intent(s)", true },
}
--- Gateway close codes: {description, fatal} by code; fatal ones stop the shard instead of reconnecting.
---@type table<integer, {[1]: string, [2]: boolean|nil}>
errors.GatewayCloseCodes = CLOSE_CODES

--- True when the gateway closed for good: the library stops instead of reconnecting.
---@param code integer Close code.
---@return boolean
function errors.isFatalClose(code)
  local c = CLOSE_CODES[code]
  return c ~= nil and c[2] == true
end

--- The gateway closed a shard's connection; `fatal` when the shard stops for good.
---@class discord.GatewayError: discord.DiscordError
---@field code integer Close code.
---@field reason string|nil Close reason Discord sent.
---@field fatal boolean Whether the shard stops instead of reconnecting.
local GatewayError = util.class("GatewayError", DiscordError)
errors.GatewayError = GatewayError

--- Builds the error from a close code and reason.
---@param code integer
---@param reason? string
function GatewayError:init(code, reason)
  local known = CLOSE_CODES[code]
  local text = known and known[1] or "Connection closed"
  -- Discord's close reasons repeat the known text with a full stop; add only what is new.
  if reason and reason ~= "" and reason:gsub("%.$", "") ~= text then text = text .. " (" .. reason .. ")" end
  DiscordError.init(self, text)
  self.code = code
  self.reason = reason
  self.fatal = errors.isFatalClose(code)
end

function GatewayError:__tostring()
  return string.format("GatewayError[%s]: %s", tostring(self.code), self.message)
end

-- LibraryError -------------------------------------------------------------------------------------------

local function fmt(text)
  return function(...)
    local args = table.pack(...)
    for i = 1, args.n do args[i] = tostring(args[i]) end
    return string.format(text, table.unpack(args, 1, args.n))
  end
end

-- Library error codes and their messages; arguments fill the placeholders.
local MESSAGES = {
  ClientInvalidOption = fmt("The %s option must be %s."),
  ClientNotReady = fmt("The client needs to be logged in to %s."),
  ClientMissingIntents = fmt("Valid intents must be provided for the Client."),
  TokenInvalid = fmt("An invalid token was provided."),
  TokenMissing = fmt("Request to use token, but token was unavailable to the client."),
  InvalidOption = fmt("The option '%s' must be %s."),
  InvalidType = fmt("Supplied %s is not %s."),
  InvalidIntent = fmt("Unknown intent: %s."),
  InvalidBitField = fmt("Invalid bitfield flag or number: %s."),
  InvalidColor = fmt("Unable to convert color to a number: %s."),
  ReplayMismatch = fmt("Replay: send %s (line %s of the recording) differs: expected %s, got %s."),
  ShardingRequired = fmt("This session would have handled too many guilds - Sharding is required."),
  DisallowedIntents = fmt("Privileged intent provided is not enabled or whitelisted."),
  InvalidShard = fmt("Invalid shard settings were provided."),
  GuildUncachedMe = fmt("The client user as a member of this guild is uncached."),
  GuildOwned = fmt("Guild is owned by the client."),
  GuildMembersTimeout = fmt("Members didn't arrive in time."),
  ChannelNotCached = fmt("Could not find the channel where this message came from in the cache!"),
  MessageReferenceMissing = fmt("The message does not reference another message"),
  MessageContentTooLong = fmt("Message content must be %s or fewer characters."),
  EmbedLimit = fmt("Embed %s must be %s or fewer in length."),
  UserNoDMChannel = fmt("No DM Channel exists!"),
  MemberFetchNonceLength = fmt("Nonce length must not exceed 32 characters."),
  BanResolveId = fmt("Couldn't resolve the user id to %s."),
  FetchOwnerId = fmt("Couldn't resolve the guild ownerId to fetch the member."),
  MissingManageEmojisAndStickersPermission = fmt("Client must have Manage Emojis and Stickers permission in guild %s."),
  NotImplemented = fmt("%s is not implemented."),
  RouteGone = fmt("%s: Discord has no such route for bots (%s); nothing was sent."),
  Timeout = fmt("%s timed out."),
  TaskRequired = fmt("%s must be called inside a task."),
  FileUnreadable = fmt("Cannot read the file %s: %s."),
  FileTooLarge = fmt("The file %s has %s bytes; this channel takes at most %s."),
  InteractionAlreadyReplied = fmt("The reply to this interaction has already been sent or deferred%s."),
  InteractionNotReplied = fmt("The reply to this interaction has not been sent or deferred."),
  InteractionExpired = fmt("The interaction was not acknowledged within 3 seconds (%s ms passed); defer it "
    .. "first or set the autoDefer client option."),
  InteractionTokenExpired = fmt("The interaction token has expired: follow-ups and edits are possible for 15 "
    .. "minutes only."),
  InteractionResponseInvalid = fmt("A %s interaction cannot be answered with %s."),
  InteractionCollectorError = fmt("Collector received no interactions before ending with reason: %s"),
  ModalSubmitInteractionFieldNotFound = fmt("Required field with custom id \"%s\" not found."),
  ModalSubmitInteractionFieldType = fmt("Field with custom id \"%s\" is of type: %s; expected %s."),
  CommandInteractionOptionNotFound = fmt("Required option \"%s\" not found."),
  CommandInteractionOptionType = fmt("Option \"%s\" is of type: %s; expected %s."),
  CommandInteractionOptionEmpty = fmt("Required option \"%s\" is of type: %s; expected a non-empty value."),
  CommandInteractionOptionNoSubcommand = fmt("No subcommand specified for interaction."),
  CommandInteractionOptionNoSubcommandGroup = fmt("No subcommand group specified for interaction."),
  CommandInteractionOptionInvalidChannelType = fmt("The type of channel of the option \"%s\" is: %s; expected %s."),
  AutocompleteInteractionOptionNoFocusedOption = fmt("No focused option for autocomplete interaction."),
}
--- Library error codes and their message makers; arguments fill the placeholders.
---@type table<string, fun(...: any): string>
errors.Messages = MESSAGES

--- A misuse the library detects before asking Discord: `code` names it (TokenMissing, InvalidOption, ...).
---@class discord.LibraryError: discord.DiscordError
---@field code string A key of `errors.Messages`.
local LibraryError = util.class("LibraryError", DiscordError)
errors.LibraryError = LibraryError

--- Builds the error: `LibraryError(code, ...)`, the rest filling in the message.
---@param code string A key of `errors.Messages`.
---@param ... any
function LibraryError:init(code, ...)
  local make = MESSAGES[code]
  DiscordError.init(self, make and make(...) or tostring(code))
  self.code = code
end

function LibraryError:__tostring()
  return "LibraryError[" .. tostring(self.code) .. "]: " .. self.message
end

-- Helpers ------------------------------------------------------------------------------------------------

--- Whether `e` is an error of class `name` (subclasses too) and, when given, with that code.
--- Raises a string error for an unknown class name.
---@param e any A caught error value.
---@param name string Class name, such as "DiscordAPIError".
---@param code? integer|string JSON code or its name ("UnknownMessage"), close code or library code.
---@return boolean
function errors.is(e, name, code)
  if type(e) ~= "table" or getmetatable(e) == nil then return false end
  local cls = errors[name]
  if cls == nil or not util.isClass(cls) then error("errors.is: unknown error class " .. tostring(name), 2) end
  if not util.instanceOf(e, cls) then return false end
  if code ~= nil then
    if type(code) == "string" and e.name == "DiscordAPIError" then code = Codes[code] end
    return e.code == code
  end
  return true
end

--- Calls fn(...) and returns true, results... or false, err; string errors gain a traceback.
---@param fn function
---@param ... any
---@return boolean ok
---@return any ... The results, or the error.
function errors.try(fn, ...)
  return util.try(fn, ...)
end

return errors
