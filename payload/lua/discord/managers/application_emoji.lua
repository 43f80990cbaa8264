-- The emojis an application owns, usable by the bot in every guild.
local util = require("discord.util")
local base = require("discord.managers.base")

local M = {}

local ApplicationEmojiManager = util.class("ApplicationEmojiManager", base.ResourceManager)
M.ApplicationEmojiManager = ApplicationEmojiManager

--- `ApplicationEmojiManager(application)`: the application needs its ID (known after READY).
function ApplicationEmojiManager:init(application)
  self.application = application
  base.ResourceManager.init(self, application.client, require("discord.structures.emoji").ApplicationEmoji, nil,
    application)
end

function ApplicationEmojiManager:_path(id)
  local appId = self.application.id
  if appId == nil then error(require("discord.errors").LibraryError("ClientNotReady", "manage emojis"), 4) end
  return "/applications/" .. appId .. "/emojis" .. (id and ("/" .. id) or "")
end

--- (B) All the application's emojis (Discord wraps them in {items=}).
function ApplicationEmojiManager:fetch(id, opts)
  if type(id) == "table" and self:resolveId(id) == nil then id, opts = nil, id end
  opts = opts or {}
  if id ~= nil then return base.CachingManager.fetch(self, id, opts) end
  local res = self.client.rest:get(self:_path())
  return self:_addAll(res.items or res, opts.cache, true)
end

--- (B) Creates an emoji: {attachment=, name=}.
function ApplicationEmojiManager:create(opts)
  opts = opts or {}
  if type(opts.name) ~= "string" or opts.name == "" then
    error("ApplicationEmojiManager:create: a name is needed", 2)
  end
  local imageOf = require("discord.managers.emoji").imageOf
  return self:_create({ name = opts.name, image = imageOf(opts.attachment) })
end

--- (B) Renames an emoji: {name=}.
function ApplicationEmojiManager:edit(emoji, opts)
  return self:_edit(emoji, { name = (opts or {}).name })
end

return M
