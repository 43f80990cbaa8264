-- An invite: code, where it leads, who made it, its uses and expiry, and the guild's preview fields.
local util = require("discord.util")
local Base = require("discord.managers.base").Base

local M = {}

--- An invite: its code, where it leads, who made it, its uses and expiry, and the guild's preview.
---@class discord.Invite: discord.Base
---@field code string The invite code.
---@field type integer? discord.InviteType: 0 guild, 1 group DM, 2 friend.
---@field uses integer? How many times it was used (guild invites from REST or INVITE_CREATE).
---@field maxUses integer? 0 for no limit.
---@field maxAge integer? Seconds it lasts; 0 forever.
---@field temporary boolean? Whether members who joined by it are kicked when they go offline without a role.
---@field memberCount integer? Approximate members (fetched with counts).
---@field presenceCount integer? Approximate online members (fetched with counts).
---@field targetType integer? discord.InviteTargetType: 1 stream, 2 embedded application.
---@field flags integer? Invite flags (1: guest invite for voice).
---@field roles table[]? The roles it gives, when Discord sends them.
---@field guildId discord.Snowflake? The ID of the guild it leads to.
---@field channelId discord.Snowflake? The ID of the channel it leads to.
---@field guildPreview table? {id, name, icon, splash, banner, features, verificationLevel, description, ...}.
---@field channelPreview {id: discord.Snowflake, name: string, type: integer}? The channel it leads to.
---@field inviter discord.User? Who made it.
---@field targetUser discord.User? Whose stream it opens.
---@field targetApplication {id: discord.Snowflake, name: string}? The embedded application it opens.
---@field createdTimestamp discord.Milliseconds? When it was made.
---@field expiresTimestamp discord.Milliseconds? Nil when it never expires.
---@field guildScheduledEvent discord.GuildScheduledEvent? The event it leads to.
---@field guild discord.Guild? The guild, when cached (read-only).
---@field channel discord.BaseChannel? The channel, when cached (read-only).
---@field url string "https://discord.gg/" and the code (read-only).
---@field inviterId discord.Snowflake? (read-only).
---@field expired boolean Whether it passed its expiry or used up its uses (read-only).
---@field deletable boolean Whether the bot may delete it: Manage Guild, or Manage Channels there (read-only).
local Invite = util.class("Invite", Base)
M.Invite = Invite

local FIELDS = {
  code = "code", type = "type", uses = "uses", max_uses = "maxUses", max_age = "maxAge", temporary = "temporary",
  approximate_member_count = "memberCount", approximate_presence_count = "presenceCount",
  target_type = "targetType", flags = "flags",
}

--- `Invite(client, data)`.
---@private
---@param client discord.Client
---@param data table
function Invite:init(client, data)
  Base.init(self, client)
  self:_patch(data)
end

function Invite:_patch(data)
  self:_copy(data, FIELDS)
  self:_copyNested(data, { roles = "roles" })
  -- INVITE_CREATE sends the IDs beside, REST the objects.
  local guild = util.nullable(data.guild)
  self.guildId = data.guild_id or (type(guild) == "table" and guild.id) or self.guildId
  local channel = util.nullable(data.channel)
  self.channelId = data.channel_id or (type(channel) == "table" and channel.id) or self.channelId
  if type(guild) == "table" then
    self.guildPreview = { id = guild.id, name = guild.name, icon = util.nullable(guild.icon),
      splash = util.nullable(guild.splash), banner = util.nullable(guild.banner), features = guild.features,
      verificationLevel = guild.verification_level, vanityURLCode = util.nullable(guild.vanity_url_code),
      description = util.nullable(guild.description), nsfwLevel = guild.nsfw_level }
  end
  if type(channel) == "table" then
    self.channelPreview = { id = channel.id, name = channel.name, type = channel.type }
  end
  if type(data.inviter) == "table" then self.inviter = self.client.users:_add(data.inviter) end
  if type(data.target_user) == "table" then self.targetUser = self.client.users:_add(data.target_user) end
  if type(data.target_application) == "table" then
    self.targetApplication = { id = data.target_application.id, name = data.target_application.name }
  end
  if data.created_at ~= nil then self.createdTimestamp = util.parseTimestamp(util.nullable(data.created_at)) end
  if data.expires_at ~= nil then
    self.expiresTimestamp = util.parseTimestamp(util.nullable(data.expires_at))
  elseif self.createdTimestamp and self.maxAge and self.maxAge > 0 then
    self.expiresTimestamp = self.createdTimestamp + self.maxAge * 1000
  end
  if type(data.guild_scheduled_event) == "table" and self.guild then
    self.guildScheduledEvent = self.guild.scheduledEvents:_add(data.guild_scheduled_event)
  end
  return self
end

Invite.getters.guild = function(self) return self.guildId and self.client.guilds.cache:get(self.guildId) or nil end
Invite.getters.channel = function(self)
  return self.channelId and self.client.channels.cache:get(self.channelId) or nil
end
Invite.getters.url = function(self) return "https://discord.gg/" .. self.code end
Invite.getters.inviterId = function(self) return self.inviter and self.inviter.id or nil end

Invite.getters.expired = function(self)
  if self.maxUses and self.maxUses > 0 and self.uses and self.uses >= self.maxUses then return true end
  return self.expiresTimestamp ~= nil and require("runtime").time() >= self.expiresTimestamp
end

Invite.getters.deletable = function(self)
  local guild, channel = self.guild, self.channel
  if not guild or not guild.members.me then return false end
  local me = guild.members.me
  if me.permissions and me.permissions:has("ManageGuild") then return true end
  local perms = channel and channel.permissionsFor and channel:permissionsFor(me)
  return perms ~= nil and perms:has("ManageChannels")
end

--- Deletes the invite; returns it.
--- Raises `discord.DiscordAPIError` when Discord refuses it.
---@async
---@param reason? string Audit log reason.
---@return discord.Invite invite
function Invite:delete(reason)
  self.client.rest:delete("/invites/" .. util.urlEncode(self.code), { reason = reason })
  return self
end

--- The invite's URL (also what tostring gives).
---@return string url
function Invite:toString() return self.url end
Invite.__tostring = Invite.toString

--- Plain table of the invite's fields, with its url.
---@return table json
function Invite:toJSON()
  local out = Base.toJSON(self)
  out.url = self.url
  return out
end

--- The code of an invite, of an invite URL ("https://discord.gg/abc", "discord.com/invite/abc"), or a code.
---@param x any
---@return string? code
function M.resolveCode(x)
  if type(x) == "table" and x.code then return x.code end
  if type(x) ~= "string" then return nil end
  return x:match("discord%.gg/([%w%-]+)") or x:match("discord%.com/invite/([%w%-]+)")
    or x:match("discordapp%.com/invite/([%w%-]+)") or x:match("^[%w%-]+$")
end

--- The raw invite of a code or URL, as Discord sends it.
--- Raises `discord.DiscordAPIError` when Discord refuses it (UnknownInvite).
---@private
---@async
---@param client discord.Client
---@param code any
---@param opts? discord.FetchInviteOptions
---@return table data
function M.fetchData(client, code, opts)
  opts = opts or {}
  return client.rest:get("/invites/" .. util.urlEncode(M.resolveCode(code) or tostring(code)), { query = {
    with_counts = opts.withCounts and "true" or nil, guild_scheduled_event_id = opts.guildScheduledEventId } })
end

-- Client methods ----------------------------------------------------------------------------------------

local Client = require("discord.client").Client

--- An invite by code or URL.
--- Raises `discord.DiscordAPIError` when Discord refuses it (UnknownInvite for a bad code).
---@async
---@param code string|discord.Invite A code or invite URL.
---@param opts? discord.FetchInviteOptions `withCounts` and `guildScheduledEventId` are used.
---@return discord.Invite invite
function Client:fetchInvite(code, opts)
  return M.Invite(self, M.fetchData(self, code, opts))
end

return M
