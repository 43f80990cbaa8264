-- Fixed values: versions, addresses, API limits, colours.
local constants = {}

--- The library's version.
constants.VERSION = "1.2.4"
--- Where the library's documentation lives.
constants.DocsURL = "https://docs.tarnwick.dev"
--- The User-Agent header of every REST request.
constants.UserAgent = "DiscordBot (" .. constants.DocsURL .. ", " .. constants.VERSION .. ")"

--- The REST API's version and base address.
---@type {version: integer, base: string, url: string}
constants.API = {
  version = 10,
  base = "https://discord.com/api",
}
--- The REST API's base address with its version.
constants.API.url = constants.API.base .. "/v" .. constants.API.version

--- Base address of images and other assets.
constants.CDN = "https://cdn.discordapp.com"
--- Base address of the media proxy (GIF stickers).
constants.MediaProxy = "https://media.discordapp.net"
--- Base address of invite links.
constants.InviteURL = "https://discord.gg"
--- Base address of guild template links.
constants.TemplateURL = "https://discord.new"
--- Base address of channel and message links.
constants.MessageURL = "https://discord.com/channels"
--- Base address of webhook URLs.
constants.WebhookURL = "https://discord.com/api/webhooks"

--- Gateway settings: version, encoding, compression, default URL, large threshold, identify properties.
---@type table
constants.Gateway = {
  version = 10,
  encoding = "json",
  compress = "zlib-stream",
  -- Appended to the gateway URL on every connect.
  query = "?v=10&encoding=json&compress=zlib-stream",
  defaultURL = "wss://gateway.discord.gg",
  -- Zlib sync-flush marker: a gateway message is complete when its bytes end with it.
  zlibSuffix = "\0\0\xff\xff",
  largeThreshold = 50,
  identifyProperties = { os = "windows", browser = "tarnwick", device = "tarnwick" },
}

--- 2015-01-01T00:00:00Z, the start of Discord's snowflake clock, in Unix milliseconds.
constants.Epoch = 1420070400000

--- Rate limit and retry settings of REST and the gateway (requests per second, windows, delays in ms).
---@type table<string, any>
constants.RateLimits = {
  globalPerSecond = 50,
  invalidRequests = 10000,
  invalidRequestWindow = 600000,
  invalidRequestWarnings = { 0.8, 0.95 },
  gatewaySends = 120,
  gatewaySendWindow = 60000,
  -- Slots of each send window left free for heartbeats.
  gatewayHeartbeatReserve = 3,
  identifyInterval = 5000,
  serverErrorRetries = 3,
  -- First retry after 500-1000 ms, then 1-2 s, 2-4 s.
  retryDelay = 500,
  maxRetryDelay = 10000,
  -- Interaction callbacks have 3 s in all, so theirs start at 100 ms.
  urgentRetryDelay = 100,
}

--- Discord's limits: message length, embeds, files, fields, names, bulk delete age (ms), timeout (ms), ...
---@type table<string, integer>
constants.Limits = {
  MessageContent = 2000,
  MessageEmbeds = 10,
  MessageFiles = 10,
  MessageStickers = 3,
  MessageComponentsRows = 5,
  EmbedTitle = 256,
  EmbedDescription = 4096,
  EmbedFields = 25,
  EmbedFieldName = 256,
  EmbedFieldValue = 1024,
  EmbedFooterText = 2048,
  EmbedAuthorName = 256,
  EmbedTotal = 6000,
  BulkDeleteMessages = 100,
  BulkDeleteMaxAge = 14 * 24 * 3600 * 1000,
  FetchMessages = 100,
  FetchMembers = 1000,
  FetchBans = 1000,
  Nickname = 32,
  Username = 32,
  RoleName = 100,
  ChannelName = 100,
  ChannelTopic = 1024,
  ForumTopic = 4096,
  AuditLogReason = 512,
  MemberChunkNonce = 32,
  SlowmodeMax = 21600,
  TimeoutMax = 28 * 24 * 3600 * 1000,
  PollAnswers = 10,
}

--- Named colours accepted wherever a colour is (embeds, roles).
---@type table<string, integer>
constants.Colors = {
  Default = 0x000000, White = 0xFFFFFF, Aqua = 0x1ABC9C, Green = 0x57F287, Blue = 0x3498DB, Yellow = 0xFEE75C,
  Purple = 0x9B59B6, LuminousVividPink = 0xE91E63, Fuchsia = 0xEB459E, Gold = 0xF1C40F, Orange = 0xE67E22,
  Red = 0xED4245, Grey = 0x95A5A6, Navy = 0x34495E, DarkAqua = 0x11806A, DarkGreen = 0x1F8B4C,
  DarkBlue = 0x206694, DarkPurple = 0x71368A, DarkVividPink = 0xAD1457, DarkGold = 0xC27C0E,
  DarkOrange = 0xA84300, DarkRed = 0x992D22, DarkGrey = 0x979C9F, DarkerGrey = 0x7F8C8D, LightGrey = 0xBCC0C0,
  DarkNavy = 0x2C3E50, Blurple = 0x5865F2, Greyple = 0x99AAB5, DarkButNotBlack = 0x2C2F33,
  NotQuiteBlack = 0x23272A,
}

--- Image formats the CDN serves.
---@type string[]
constants.ImageFormats = { "webp", "png", "jpg", "jpeg", "gif" }
--- File extensions of stickers on the CDN.
---@type string[]
constants.StickerFormats = { "png", "json", "gif" }
--- Sizes the CDN's image routes accept.
---@type integer[]
constants.ImageSizes = { 16, 20, 22, 24, 28, 32, 40, 44, 48, 56, 60, 64, 80, 96, 100, 128, 160, 240, 256, 300, 320,
  480, 512, 600, 640, 1024, 1280, 1536, 2048, 3072, 4096 }

--- Default avatar count for users without a discriminator (new usernames).
constants.DefaultAvatarCount = 6

return constants
