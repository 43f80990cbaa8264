-- A tag of a forum or media channel that posts can carry.
local util = require("discord.util")
local json = require("json")

local M = {}

--- Discord's limits: 20 tags per channel, names of 1 to 20 characters, 5 tags per post.
---@type {tags: integer, name: integer, perPost: integer}
M.Limits = { tags = 20, name = 20, perPost = 5 }

local ForumTag = util.class("ForumTag")
M.ForumTag = ForumTag

--- `ForumTag(data)`: `data` as the API sends it ({id, name, moderated, emoji_id, emoji_name}).
---@private
---@param data table
function ForumTag:init(data)
  self.id = data.id
  self.name = data.name
  self.moderated = data.moderated == true
  local emojiId, emojiName = util.nullable(data.emoji_id), util.nullable(data.emoji_name)
  self.emoji = (emojiId or emojiName) and { id = emojiId, name = emojiName } or nil
end

--- The tag in the API's form.
---@return table json
function ForumTag:toJSON()
  return {
    id = self.id, name = self.name, moderated = self.moderated,
    emoji_id = self.emoji and self.emoji.id or json.null, emoji_name = self.emoji and self.emoji.name or json.null,
  }
end

--- The tag's name (also what tostring gives).
---@return string name
function ForumTag:toString()
  return self.name
end
ForumTag.__tostring = ForumTag.toString

--- A tag in the API's form for a request: a ForumTag, or {name=, moderated=, emoji=}; tags without an ID are created.
--- Raises an error for a bad name or emoji.
---@param tag discord.ForumTag|{id?: discord.Snowflake, name: string, moderated?: boolean, emoji?: any}
---@return table json
function M.resolve(tag)
  if util.instanceOf(tag, ForumTag) then return tag:toJSON() end
  if type(tag) ~= "table" then error("a forum tag must be a table {name=, moderated=, emoji=}", 3) end
  local name = tag.name
  if type(name) ~= "string" or name == "" or util.utf8len(name) > M.Limits.name then
    error("a forum tag name must be 1 to " .. M.Limits.name .. " characters", 3)
  end
  local out = { id = tag.id, name = name, moderated = tag.moderated == true,
    emoji_id = json.null, emoji_name = json.null }
  local emoji = tag.emoji
  if emoji ~= nil then
    local e = require("discord.structures.reaction").resolveEmoji(emoji)
    if not e then error("not an emoji: " .. tostring(emoji), 3) end
    if e.id then out.emoji_id = e.id else out.emoji_name = e.name end
  elseif tag.emojiId or tag.emoji_id then
    out.emoji_id = tag.emojiId or tag.emoji_id
  end
  return out
end

--- The tag IDs for a post: tags, IDs or names of the channel's tags; at most 5.
--- Raises an error for something that is not a tag or for more than 5.
---@param list? (discord.ForumTag|discord.Snowflake|string)[]
---@param available? discord.ForumTag[] The channel's tags, for names.
---@return discord.Snowflake[] ids
function M.resolveIds(list, available)
  local out = {}
  for _, t in ipairs(list or {}) do
    local id = type(t) == "table" and t.id or t
    if available then
      for _, tag in ipairs(available) do
        if tag.name == id then id = tag.id end
      end
    end
    if type(id) ~= "string" then error("not a forum tag: " .. tostring(t), 3) end
    out[#out + 1] = id
  end
  if #out > M.Limits.perPost then error("a post carries at most " .. M.Limits.perPost .. " tags", 3) end
  return json.array(out)
end

return M
