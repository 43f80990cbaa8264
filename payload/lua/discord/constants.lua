-- Fixed values: versions, addresses, API limits, colours.
local constants = {}

constants.VERSION = "1.2.4"
constants.DocsURL = "https://docs.tarnwick.dev"
constants.UserAgent = "DiscordBot (" .. constants.DocsURL .. ", " .. constants.VERSION .. ")"

constants.API = {
  version = 10,
  base = "https://discord.com/api",
}
constants.API.url = constants.API.base .. "/v" .. constants.API.version

constants.CDN = "https://cdn.discordapp.com"
constants.MediaProxy = "https://media.discordapp.net"
constants.InviteURL = "https://discord.gg"
constants.TemplateURL = "https://discord.new"
constants.MessageURL = "https://discord.com/channels"
constants.WebhookURL = "https://discord.com/api/webhooks"

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

-- 2015-01-01T00:00:00Z, the start of Discord's snowflake clock, in Unix milliseconds.
constants.Epoch = 1420070400000

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

-- Named colours accepted wherever a colour is (embeds, roles).
constants.Colors = {
  Default = 0x000000, White = 0xFFFFFF, Aqua = 0x1ABC9C, Green = 0x57F287, Blue = 0x3498DB, Yellow = 0xFEE75C,
  Purple = 0x9B59B6, LuminousVividPink = 0xE91E63, Fuchsia = 0xEB459E, Gold = 0xF1C40F, Orange = 0xE67E22,
  Red = 0xED4245, Grey = 0x95A5A6, Navy = 0x34495E, DarkAqua = 0x11806A, DarkGreen = 0x1F8B4C,
  DarkBlue = 0x206694, DarkPurple = 0x71368A, DarkVividPink = 0xAD1457, DarkGold = 0xC27C0E,
  DarkOrange = 0xA84300, DarkRed = 0x992D22, DarkGrey = 0x979C9F, DarkerGrey = 0x7F8C8D, LightGrey = 0xBCC0C0,
  DarkNavy = 0x2C3E50, Blurple = 0x5865F2, Greyple = 0x99AAB5, DarkButNotBlack = 0x2C2F33,
  NotQuiteBlack = 0x23272A,
}

constants.ImageFormats = { "webp", "png", "jpg", "jpeg", "gif" }
constants.StickerFormats = { "png", "json", "gif" }
constants.ImageSizes = { 16, 20, 22, 24, 28, 32, 40, 44, 48, 56, 60, 64, 80, 96, 100, 128, 160, 240, 256, 300, 320,
  480, 512, 600, 640, 1024, 1280, 1536, 2048, 3072, 4096 }

-- Default avatar count for users without a discriminator (new usernames).
constants.DefaultAvatarCount = 6

return constants
