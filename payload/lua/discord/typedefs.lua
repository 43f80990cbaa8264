-- Type annotations for editors with the Lua language server. Nothing here runs: the module only
-- carries the comments and returns an empty table.

---@alias discord.Snowflake string Decimal ID of anything on Discord.
---@alias discord.Milliseconds integer Unix time or a duration, in milliseconds.
---@alias discord.ColorResolvable integer|string|integer[] 0xRRGGBB, "#RRGGBB", a colour name or {r, g, b}.
---@alias discord.PermissionResolvable string|integer|string[]|discord.PermissionsBitField
---@alias discord.UserResolvable discord.User|discord.GuildMember|discord.Message|discord.Snowflake
---@alias discord.RoleResolvable discord.Role|discord.Snowflake|string Role, ID, "<@&id>" or "@everyone".
---@alias discord.ChannelResolvable discord.BaseChannel|discord.Snowflake

-- Client --------------------------------------------------------------------------------------------------

---@class discord.ClientOptions
---@field intents? string[]|integer Intent names or bits; derived from the listeners when absent.
---@field token? string Read from DISCORD_TOKEN by login when absent.
---@field shardCount? integer
---@field waitGuildTimeout? discord.Milliseconds How long `ready` waits for the guilds of READY (15000).
---@field failIfNotExists? boolean Whether replies to deleted messages fail (true).
---@field allowedMentions? discord.AllowedMentions Default for every message the client sends.
---@field enforceNonce? boolean Sends a nonce with every message so Discord drops duplicates.
---@field makeCache? fun(managerName: string, holds: table): discord.Collection
---@field presence? discord.PresenceData
---@field rest? table Limiter settings: api, version, timeout, retries, globalRequestsPerSecond, offset.
---@field ws? table Gateway settings: compress, large_threshold, properties, maxBackoff.

---@class discord.Client: discord.EventEmitter
---@field options discord.ClientOptions
---@field rest discord.REST
---@field user discord.ClientUser|nil Set once READY arrives.
---@field users discord.UserManager
---@field guilds discord.GuildManager
---@field channels discord.ChannelManager
---@field readyAt discord.Milliseconds|nil
---@field ping integer|nil Heartbeat round trip in milliseconds.
---@field uptime integer|nil
---@field login fun(self: discord.Client, token?: string): string (B) Checks the token and starts the shards.
---@field destroy fun(self: discord.Client)
---@field isReady fun(self: discord.Client): boolean

---@class discord.EventEmitter
---@field on fun(self, name: string, fn: function): function
---@field once fun(self, name: string, fn: function): function
---@field off fun(self, name: string, fn?: function)
---@field emit fun(self, name: string, ...): boolean
---@field waitFor fun(self, name: string, opts?: {filter?: function, timeout?: integer}): ... (B)

---@class discord.RequestOptions
---@field body? table|string Encoded as JSON unless a string.
---@field query? table<string, any>
---@field reason? string Audit log reason.
---@field auth? boolean False sends no Authorization header.
---@field files? table[] {name=, data=, description=}; the body then goes as multipart.

---@class discord.REST
---@field request fun(self, method: string, path: string, opts?: discord.RequestOptions): table|nil (B)
---@field get fun(self, path: string, opts?: discord.RequestOptions): table|nil (B)
---@field post fun(self, path: string, opts?: discord.RequestOptions): table|nil (B)
---@field patch fun(self, path: string, opts?: discord.RequestOptions): table|nil (B)
---@field put fun(self, path: string, opts?: discord.RequestOptions): table|nil (B)
---@field delete fun(self, path: string, opts?: discord.RequestOptions): table|nil (B)

---@class discord.Collection
---@field size integer
---@field get fun(self, key: any): any
---@field set fun(self, key: any, value: any): discord.Collection
---@field has fun(self, key: any): boolean
---@field delete fun(self, key: any): boolean
---@field keys fun(self): any[]
---@field values fun(self): any[]
---@field iter fun(self): fun(): any, any
---@field find fun(self, fn: fun(value: any, key: any): boolean): any
---@field filter fun(self, fn: fun(value: any, key: any): boolean): discord.Collection

---@class discord.BitField
---@field bitfield integer
---@field has fun(self, bit: any): boolean
---@field toArray fun(self): string[]

---@class discord.PermissionsBitField: discord.BitField

-- Managers ------------------------------------------------------------------------------------------------

---@class discord.FetchOptions
---@field force? boolean Ask the API even when the object is cached.
---@field cache? boolean Keep the fetched object (true).

---@class discord.CachingManager
---@field client discord.Client
---@field cache discord.Collection
---@field resolve fun(self, x: any): table|nil
---@field resolveId fun(self, x: any): discord.Snowflake|nil
---@field fetch fun(self, id: any, opts?: discord.FetchOptions): table (B)

---@class discord.UserManager: discord.CachingManager
---@field createDM fun(self, user: discord.UserResolvable, opts?: discord.FetchOptions): discord.DMChannel (B)
---@field deleteDM fun(self, user: discord.UserResolvable): discord.DMChannel|nil (B)
---@field send fun(self, user: discord.UserResolvable, options: string|discord.MessageOptions): discord.Message (B)

---@class discord.GuildManager: discord.CachingManager
---@field create fun(self, opts: string|table): discord.Guild (B)

---@class discord.ChannelManager: discord.CachingManager

---@class discord.GuildChannelManager: discord.CachingManager
---@field guild discord.Guild
---@field create fun(self, opts: discord.ChannelOptions): discord.GuildChannel (B)
---@field edit fun(self, channel: discord.ChannelResolvable, opts: discord.ChannelOptions, reason?: string) (B)
---@field delete fun(self, channel: discord.ChannelResolvable, reason?: string) (B)
---@field setPositions fun(self, list: {channel: any, position: integer, parent?: any}[], reason?: string) (B)

---@class discord.MessageManager: discord.CachingManager
---@field channel discord.TextChannel|discord.DMChannel
---@field fetchPinned fun(self): discord.Collection (B)
---@field history fun(self, opts?: {limit?: integer, before?: any, cache?: boolean}): fun(): discord.Message
---@field edit fun(self, message: any, options: string|discord.MessageOptions): discord.Message (B)
---@field delete fun(self, message: any, reason?: string) (B)
---@field bulkDelete fun(self, messages: any, filterOld?: boolean, reason?: string): discord.Snowflake[] (B)

---@class discord.GuildMemberManager: discord.CachingManager
---@field guild discord.Guild
---@field me discord.GuildMember|nil
---@field search fun(self, opts: string|{query: string, limit?: integer}): discord.Collection (B)
---@field list fun(self, opts?: {limit?: integer, after?: discord.Snowflake}): discord.Collection (B)
---@field each fun(self, opts?: {limit?: integer, after?: any, cache?: boolean}): fun(): discord.GuildMember
---@field edit fun(self, member: discord.UserResolvable, opts: discord.MemberEditOptions, reason?: string) (B)
---@field kick fun(self, user: discord.UserResolvable, reason?: string) (B)
---@field ban fun(self, user: discord.UserResolvable, opts?: {deleteMessageSeconds?: integer, reason?: string}) (B)
---@field unban fun(self, user: discord.UserResolvable, reason?: string) (B)
---@field prune fun(self, opts?: {days?: integer, dry?: boolean, roles?: table, reason?: string}): integer|nil (B)

---@class discord.GuildMemberRoleManager
---@field cache discord.Collection Roles of the member, @everyone included.
---@field highest discord.Role
---@field color discord.Role|nil
---@field hoist discord.Role|nil
---@field has fun(self, role: discord.RoleResolvable): boolean
---@field add fun(self, roles: discord.RoleResolvable|table, reason?: string): discord.GuildMember (B)
---@field remove fun(self, roles: discord.RoleResolvable|table, reason?: string): discord.GuildMember (B)
---@field set fun(self, roles: table, reason?: string): discord.GuildMember (B)

---@class discord.RoleManager: discord.CachingManager
---@field everyone discord.Role
---@field highest discord.Role
---@field create fun(self, opts?: discord.RoleOptions): discord.Role (B)
---@field edit fun(self, role: discord.RoleResolvable, opts: discord.RoleOptions, reason?: string): discord.Role (B)
---@field delete fun(self, role: discord.RoleResolvable, reason?: string) (B)
---@field setPositions fun(self, list: {role: any, position: integer}[], reason?: string) (B)

-- Structures ----------------------------------------------------------------------------------------------

---@class discord.User
---@field id discord.Snowflake
---@field username string
---@field globalName string|nil
---@field discriminator string "0" for users without a discriminator.
---@field bot boolean
---@field tag string
---@field displayName string
---@field createdTimestamp discord.Milliseconds
---@field dmChannel discord.DMChannel|nil
---@field avatarURL fun(self, opts?: {size?: integer, extension?: string}): string|nil
---@field displayAvatarURL fun(self, opts?: table): string
---@field send fun(self, options: string|discord.MessageOptions): discord.Message (B)
---@field createDM fun(self, force?: boolean): discord.DMChannel (B)

---@class discord.PresenceData
---@field status? "online"|"idle"|"dnd"|"invisible"
---@field activities? {name: string, type?: integer|string, url?: string, state?: string}[]
---@field afk? boolean

---@class discord.ClientUser: discord.User
---@field edit fun(self, opts: {username?: string, avatar?: string|false, banner?: string|false}): discord.ClientUser
---@field setPresence fun(self, presence: discord.PresenceData): discord.PresenceData
---@field setActivity fun(self, activity?: string|table): discord.PresenceData
---@field setStatus fun(self, status: string): discord.PresenceData

---@class discord.Guild
---@field id discord.Snowflake
---@field name string
---@field available boolean
---@field ownerId discord.Snowflake
---@field memberCount integer
---@field members discord.GuildMemberManager
---@field roles discord.RoleManager
---@field channels discord.GuildChannelManager
---@field me discord.GuildMember|nil
---@field owner discord.GuildMember|nil
---@field systemChannel discord.TextChannel|nil
---@field iconURL fun(self, opts?: table): string|nil
---@field edit fun(self, opts: table, reason?: string): discord.Guild (B)
---@field leave fun(self): discord.Guild (B)

---@class discord.ChannelOptions
---@field name? string
---@field type? integer|string
---@field topic? string
---@field nsfw? boolean
---@field parent? discord.ChannelResolvable|false
---@field position? integer
---@field rateLimitPerUser? integer Seconds of slowmode.
---@field permissionOverwrites? {id: any, type?: integer, allow?: any, deny?: any}[]
---@field lockPermissions? boolean
---@field reason? string

---@class discord.BaseChannel
---@field id discord.Snowflake
---@field type integer
---@field url string
---@field isTextBased fun(self): boolean
---@field isDMBased fun(self): boolean
---@field delete fun(self, reason?: string) (B)

---@class discord.TextBased
---@field messages discord.MessageManager
---@field lastMessageId discord.Snowflake|nil
---@field send fun(self, options: string|discord.MessageOptions): discord.Message (B)
---@field sendTyping fun(self) (B)
---@field bulkDelete fun(self, messages: any, filterOld?: boolean, reason?: string): discord.Snowflake[] (B)

---@class discord.DMChannel: discord.BaseChannel, discord.TextBased
---@field recipientId discord.Snowflake
---@field recipient discord.User|nil

---@class discord.GuildChannel: discord.BaseChannel
---@field guild discord.Guild
---@field guildId discord.Snowflake
---@field name string
---@field parentId discord.Snowflake|nil
---@field parent discord.CategoryChannel|nil
---@field position integer
---@field rawPosition integer
---@field permissionOverwrites discord.Collection
---@field permissionsFor fun(self, x: any, checkAdmin?: boolean): discord.PermissionsBitField|nil
---@field edit fun(self, opts: discord.ChannelOptions, reason?: string): discord.GuildChannel (B)
---@field setName fun(self, name: string, reason?: string): discord.GuildChannel (B)
---@field setParent fun(self, parent: any, opts?: {lockPermissions?: boolean, reason?: string}) (B)

---@class discord.TextChannel: discord.GuildChannel, discord.TextBased
---@field topic string|nil
---@field nsfw boolean
---@field rateLimitPerUser integer|nil
---@field setTopic fun(self, topic?: string, reason?: string): discord.TextChannel (B)

---@class discord.CategoryChannel: discord.GuildChannel
---@field children {cache: discord.Collection, create: fun(self, opts: discord.ChannelOptions): discord.GuildChannel}

---@class discord.AllowedMentions
---@field parse? ("users"|"roles"|"everyone")[]
---@field users? discord.Snowflake[]
---@field roles? discord.Snowflake[]
---@field repliedUser? boolean

---@class discord.MessageOptions
---@field content? string At most 2000 characters.
---@field embeds? (discord.EmbedBuilder|table)[] At most 10.
---@field allowedMentions? discord.AllowedMentions
---@field reply? {messageReference: discord.Message|discord.Snowflake, failIfNotExists?: boolean}
---@field files? ({name: string, data: string, description?: string, spoiler?: boolean}|string)[]
---@field attachments? table[] On edits: the attachments to keep.
---@field flags? integer|string[]
---@field components? table[]
---@field stickers? discord.Snowflake[]
---@field tts? boolean
---@field nonce? string|integer

---@class discord.Message
---@field id discord.Snowflake
---@field content string
---@field author discord.User
---@field member discord.GuildMember|nil
---@field channel discord.TextChannel|discord.DMChannel
---@field channelId discord.Snowflake
---@field guild discord.Guild|nil
---@field guildId discord.Snowflake|nil
---@field createdTimestamp discord.Milliseconds
---@field editedTimestamp discord.Milliseconds|nil
---@field embeds discord.Embed[]
---@field attachments discord.Collection
---@field mentions discord.MessageMentions
---@field reference {messageId: discord.Snowflake, channelId: discord.Snowflake, guildId?: discord.Snowflake}|nil
---@field cleanContent string
---@field reply fun(self, options: string|discord.MessageOptions): discord.Message (B)
---@field edit fun(self, options: string|discord.MessageOptions): discord.Message (B)
---@field delete fun(self, reason?: string): discord.Message (B)
---@field react fun(self, emoji: string|table): discord.Message (B)
---@field pin fun(self, reason?: string): discord.Message (B)
---@field fetchReference fun(self): discord.Message (B)

---@class discord.MessageMentions
---@field everyone boolean
---@field users discord.Collection
---@field roles discord.Collection
---@field members discord.Collection|nil
---@field channels discord.Collection
---@field repliedUser discord.User|nil
---@field has fun(self, x: any, opts?: table): boolean

---@class discord.Attachment
---@field id discord.Snowflake
---@field name string
---@field url string
---@field size integer
---@field contentType string|nil
---@field spoiler boolean

---@class discord.MemberEditOptions
---@field nick? string
---@field roles? discord.RoleResolvable[]
---@field mute? boolean
---@field deaf? boolean
---@field communicationDisabledUntil? discord.Milliseconds|string

---@class discord.GuildMember
---@field id discord.Snowflake
---@field user discord.User
---@field guild discord.Guild
---@field nickname string|nil
---@field displayName string
---@field roles discord.GuildMemberRoleManager
---@field permissions discord.PermissionsBitField
---@field joinedTimestamp discord.Milliseconds|nil
---@field manageable boolean
---@field kickable boolean
---@field bannable boolean
---@field moderatable boolean
---@field edit fun(self, opts: discord.MemberEditOptions, reason?: string): discord.GuildMember (B)
---@field setNickname fun(self, nick?: string, reason?: string): discord.GuildMember (B)
---@field timeout fun(self, ms?: integer, reason?: string): discord.GuildMember (B)
---@field kick fun(self, reason?: string): discord.GuildMember (B)
---@field ban fun(self, opts?: {deleteMessageSeconds?: integer, reason?: string}): discord.GuildMember (B)
---@field permissionsIn fun(self, channel: discord.ChannelResolvable): discord.PermissionsBitField

---@class discord.RoleOptions
---@field name? string
---@field color? discord.ColorResolvable
---@field hoist? boolean
---@field mentionable? boolean
---@field permissions? discord.PermissionResolvable
---@field icon? string|false Image bytes or data URI; false removes it.
---@field position? integer
---@field reason? string

---@class discord.Role
---@field id discord.Snowflake
---@field guild discord.Guild
---@field name string
---@field color integer
---@field hexColor string
---@field hoist boolean
---@field managed boolean
---@field mentionable boolean
---@field permissions discord.PermissionsBitField
---@field position integer
---@field rawPosition integer
---@field editable boolean
---@field members discord.Collection
---@field edit fun(self, opts: discord.RoleOptions, reason?: string): discord.Role (B)
---@field delete fun(self, reason?: string): discord.Role (B)
---@field comparePositionTo fun(self, role: discord.RoleResolvable): integer

---@class discord.Embed
---@field title string|nil
---@field description string|nil
---@field url string|nil
---@field color integer|nil
---@field fields {name: string, value: string, inline: boolean}[]
---@field length integer

---@class discord.EmbedBuilder
---@field setTitle fun(self, title?: string): discord.EmbedBuilder
---@field setDescription fun(self, text?: string): discord.EmbedBuilder
---@field setURL fun(self, url?: string): discord.EmbedBuilder
---@field setColor fun(self, color?: discord.ColorResolvable): discord.EmbedBuilder
---@field setTimestamp fun(self, ms?: discord.Milliseconds|false): discord.EmbedBuilder
---@field setFooter fun(self, footer?: string|{text: string, iconURL?: string}): discord.EmbedBuilder
---@field setAuthor fun(self, author?: string|{name: string, url?: string, iconURL?: string}): discord.EmbedBuilder
---@field setImage fun(self, url?: string): discord.EmbedBuilder
---@field setThumbnail fun(self, url?: string): discord.EmbedBuilder
---@field addFields fun(self, ...: {name: string, value: string, inline?: boolean}): discord.EmbedBuilder
---@field setFields fun(self, ...: table): discord.EmbedBuilder
---@field spliceFields fun(self, index: integer, deleteCount: integer, ...: table): discord.EmbedBuilder
---@field toJSON fun(self): table

-- Interactions --------------------------------------------------------------------------------------------

---@class discord.ClientOptions
---@field autoDefer? integer|false Defers every interaction still unanswered after this many ms (0-2999).

---@class discord.InteractionReplyOptions
---@field content? string
---@field embeds? (discord.EmbedBuilder|table)[]
---@field components? table[] Builders or raw components; raw ones are checked by the component builders.
---@field files? (discord.AttachmentBuilder|string|{name: string, data?: string, path?: string})[]
---@field attachments? table[] Attachments kept on an edited reply, by ID.
---@field ephemeral? boolean Only the user sees the reply.
---@field flags? string[]|integer Message flags: Ephemeral, SuppressEmbeds, SuppressNotifications, IsComponentsV2.
---@field allowedMentions? discord.AllowedMentions
---@field poll? table
---@field tts? boolean
---@field withResponse? boolean Return the InteractionCallbackResponse.
---@field fetchReply? boolean Return the reply as a Message.

---@alias discord.InteractionReplyResolvable string|discord.InteractionReplyOptions

---@class discord.InteractionResponse
---@field interaction discord.BaseInteraction
---@field fetch fun(self): discord.Message (B)
---@field edit fun(self, options: discord.InteractionReplyResolvable): discord.Message (B)
---@field delete fun(self) (B)
---@field createMessageComponentCollector fun(self, opts?: table): discord.InteractionCollector (B) fetches the reply
---@field awaitMessageComponent fun(self, opts: {time: integer, filter?: function}): discord.BaseInteraction (B)

---@class discord.InteractionCallbackResponse
---@field interaction {id: discord.Snowflake, type: integer, responseMessageId?: discord.Snowflake}
---@field resource {type: integer, message?: discord.Message}|nil

---@alias discord.WebhookMessageResolvable string|discord.Message "@original" or a follow-up.

---@class discord.InteractionWebhook
---@field id discord.Snowflake The application's ID.
---@field token string
---@field send fun(self, options: discord.InteractionReplyResolvable): discord.Message (B)
---@field editMessage fun(self, message: discord.WebhookMessageResolvable, options: table): discord.Message (B)
---@field fetchMessage fun(self, message: string|discord.Message): discord.Message (B)
---@field deleteMessage fun(self, message: string|discord.Message) (B)

---@class discord.BaseInteraction
---@field id discord.Snowflake
---@field applicationId discord.Snowflake
---@field type integer discord.enums.InteractionType
---@field token string Valid for 15 minutes.
---@field user discord.User
---@field member discord.GuildMember|table|nil A raw member when the guild is not cached.
---@field memberPermissions discord.PermissionsBitField|nil
---@field appPermissions discord.PermissionsBitField|nil
---@field guildId discord.Snowflake|nil
---@field guild discord.Guild|nil
---@field channelId discord.Snowflake|nil
---@field channel discord.BaseChannel|nil
---@field locale string
---@field guildLocale string|nil
---@field context integer|nil discord.enums.InteractionContextType
---@field attachmentSizeLimit integer|nil Largest file, in bytes, the channel takes.
---@field deferred boolean
---@field replied boolean
---@field ephemeral boolean|nil
---@field timeLeft integer Milliseconds left for the first response.
---@field shardId integer|nil
---@field webhook discord.InteractionWebhook
---@field createdTimestamp discord.Milliseconds
---@field inGuild fun(self): boolean
---@field inCachedGuild fun(self): boolean
---@field inRawGuild fun(self): boolean
---@field isRepliable fun(self): boolean
---@field isCommand fun(self): boolean
---@field isChatInputCommand fun(self): boolean
---@field isContextMenuCommand fun(self): boolean
---@field isUserContextMenuCommand fun(self): boolean
---@field isMessageContextMenuCommand fun(self): boolean
---@field isPrimaryEntryPointCommand fun(self): boolean
---@field isAutocomplete fun(self): boolean
---@field isMessageComponent fun(self): boolean
---@field isButton fun(self): boolean
---@field isAnySelectMenu fun(self): boolean
---@field isStringSelectMenu fun(self): boolean
---@field isUserSelectMenu fun(self): boolean
---@field isRoleSelectMenu fun(self): boolean
---@field isMentionableSelectMenu fun(self): boolean
---@field isChannelSelectMenu fun(self): boolean
---@field isModalSubmit fun(self): boolean
---@field isFromMessage fun(self): boolean

---@alias discord.InteractionReplyResult discord.InteractionResponse|discord.Message|discord.InteractionCallbackResponse

---@class discord.RepliableInteraction: discord.BaseInteraction
---@field reply fun(self, options: discord.InteractionReplyResolvable): discord.InteractionReplyResult (B)
---@field deferReply fun(self, opts?: {ephemeral?: boolean, withResponse?: boolean}): discord.InteractionReplyResult (B)
---@field editReply fun(self, options: discord.InteractionReplyResolvable|{message?: string}): discord.Message (B)
---@field deleteReply fun(self, message?: string|discord.Message) (B)
---@field fetchReply fun(self, message?: string): discord.Message (B)
---@field followUp fun(self, options: discord.InteractionReplyResolvable): discord.Message (B)

---@class discord.CommandInteraction: discord.RepliableInteraction
---@field commandId discord.Snowflake
---@field commandName string
---@field commandType integer discord.enums.ApplicationCommandType
---@field commandGuildId discord.Snowflake|nil
---@field command discord.ApplicationCommand|nil When the command cache holds it.
---@field options discord.CommandInteractionOptionResolver
---@field showModal fun(self, modal: discord.ModalBuilder|table, opts?: {withResponse?: boolean}) (B)
---@field awaitModalSubmit fun(self, opts: {time: integer, filter?: function}): discord.ModalSubmitInteraction (B)
---@field launchActivity fun(self, opts?: {withResponse?: boolean}) (B)

---@class discord.ChatInputCommandInteraction: discord.CommandInteraction
---@field toString fun(self): string "/name sub option:value"

---@class discord.UserContextMenuCommandInteraction: discord.CommandInteraction
---@field targetId discord.Snowflake
---@field targetUser discord.User
---@field targetMember discord.GuildMember|table|nil

---@class discord.MessageContextMenuCommandInteraction: discord.CommandInteraction
---@field targetId discord.Snowflake
---@field targetMessage discord.Message

---@class discord.AutocompleteInteraction: discord.BaseInteraction
---@field commandId discord.Snowflake
---@field commandName string
---@field options discord.CommandInteractionOptionResolver
---@field responded boolean
---@field respond fun(self, choices: ({name: string, value: string|number}|string|number)[]) (B) Up to 25.

---@class discord.MessageComponentInteraction: discord.RepliableInteraction
---@field customId string
---@field componentType integer discord.enums.ComponentType
---@field message discord.Message
---@field component table|nil The component that was used.
---@field values string[]|nil Select menus: what was chosen.
---@field users discord.Collection|nil User and mentionable selects.
---@field members discord.Collection|nil
---@field roles discord.Collection|nil Role and mentionable selects.
---@field channels discord.Collection|nil Channel selects.
---@field update fun(self, options: discord.InteractionReplyResolvable): discord.InteractionResponse (B)
---@field deferUpdate fun(self, opts?: {withResponse?: boolean}): discord.InteractionResponse (B)
---@field showModal fun(self, modal: discord.ModalBuilder|table, opts?: table) (B)
---@field awaitModalSubmit fun(self, opts: {time: integer, filter?: function}): discord.ModalSubmitInteraction (B)

---@class discord.ModalSubmitFields
---@field fields discord.Collection custom_id -> {customId, type, value, values}
---@field getField fun(self, customId: string, componentType?: integer): table
---@field getTextInputValue fun(self, customId: string, required?: boolean): string|nil
---@field getStringSelectValues fun(self, customId: string): string[]
---@field getSelectedUsers fun(self, customId: string): discord.Collection
---@field getSelectedMembers fun(self, customId: string): discord.Collection
---@field getSelectedRoles fun(self, customId: string): discord.Collection
---@field getSelectedChannels fun(self, customId: string): discord.Collection

---@class discord.ModalSubmitInteraction: discord.RepliableInteraction
---@field customId string
---@field components table[]
---@field fields discord.ModalSubmitFields
---@field message discord.Message|nil Set when the modal came from a message's component.
---@field update fun(self, options: discord.InteractionReplyResolvable): discord.InteractionResponse (B)
---@field deferUpdate fun(self, opts?: table): discord.InteractionResponse (B)

---@class discord.CommandInteractionOption
---@field name string
---@field type integer discord.enums.ApplicationCommandOptionType
---@field value any
---@field focused boolean
---@field user? discord.User
---@field member? discord.GuildMember|table
---@field role? discord.Role|table
---@field channel? discord.BaseChannel
---@field attachment? discord.Attachment

---@class discord.CommandInteractionOptionResolver
---@field data discord.CommandInteractionOption[]
---@field resolved table Collections by ID: users, members, roles, channels, messages, attachments.
---@field get fun(self, name: string, required?: boolean): discord.CommandInteractionOption|nil
---@field getSubcommand fun(self, required?: boolean): string|nil Raises unless `required` is false.
---@field getSubcommandGroup fun(self, required?: boolean): string|nil
---@field getString fun(self, name: string, required?: boolean): string|nil
---@field getInteger fun(self, name: string, required?: boolean): integer|nil
---@field getNumber fun(self, name: string, required?: boolean): number|nil
---@field getBoolean fun(self, name: string, required?: boolean): boolean|nil
---@field getUser fun(self, name: string, required?: boolean): discord.User|nil
---@field getMember fun(self, name: string): discord.GuildMember|table|nil
---@field getChannel fun(self, name: string, required?: boolean, channelTypes?: integer[]): discord.BaseChannel|nil
---@field getRole fun(self, name: string, required?: boolean): discord.Role|nil
---@field getMentionable fun(self, name: string, required?: boolean): discord.GuildMember|discord.User|discord.Role|nil
---@field getAttachment fun(self, name: string, required?: boolean): discord.Attachment|nil
---@field getMessage fun(self, name: string, required?: boolean): discord.Message|nil
---@field getFocused fun(self, getFull?: boolean): any The value being typed, or the whole option.

---@class discord.AttachmentBuilder
---@field attachment string|nil The bytes.
---@field name string|nil
---@field description string|nil
---@field spoiler boolean
---@field fromFile fun(path: string, data?: table): discord.AttachmentBuilder (B) Reads through the runtime.
---@field setFile fun(self, bytes: string, name?: string): discord.AttachmentBuilder
---@field setName fun(self, name: string): discord.AttachmentBuilder
---@field setDescription fun(self, text?: string): discord.AttachmentBuilder
---@field setTitle fun(self, title?: string): discord.AttachmentBuilder
---@field setSpoiler fun(self, spoiler?: boolean): discord.AttachmentBuilder
---@field setDuration fun(self, seconds: number): discord.AttachmentBuilder
---@field setWaveform fun(self, waveform: string): discord.AttachmentBuilder
---@field toFile fun(self, index?: integer): table
---@field toJSON fun(self): table

return {}
