-- Every operation a bot may call in Discord's OpenAPI description, sent by one call of the library; routes
-- Discord has withdrawn raise without a request.
local server = require("fake.discord.server")
local openapi = require("fake.discord.openapi")
local Store = require("fake.discord.store")
local deepcompare = require("luassert.util").deepcompare

-- "operation ID | the call that sends it", then optional fields: "> successor" for a deprecated operation that is
-- sent as its successor; "body", "query", "path" (chunks), "reason", "auth false". An indented line continues a row.
local ROWS = [[
get_my_application | app:fetch()
update_my_application | app:edit({ description = 'd' })
get_application | app:fetch({ byId = true })
update_application | app:edit({ description = 'd', byId = true })
applications_get_activity_instance | app:fetchActivityInstance('i1')
upload_application_attachment | app:uploadAttachment(discord.AttachmentBuilder('x', { name = 'a.png' }))
list_application_commands | app.commands:fetch()
bulk_set_application_commands | app.commands:set({})
create_application_command | app.commands:create({ name = 'a', description = 'b' })
get_application_command | app.commands:fetch('5')
delete_application_command | app.commands:delete('5')
update_application_command | app.commands:edit('5', { description = 'c' })
list_application_emojis | app.emojis:fetch()
create_application_emoji | app.emojis:create({ name = 'ee', attachment = PNG })
get_application_emoji | app.emojis:fetch('5')
delete_application_emoji | app.emojis:delete('5')
update_application_emoji | app.emojis:edit('5', { name = 'ff' })
get_entitlements | app.entitlements:fetch()
create_entitlement | app.entitlements:createTest({ sku = '3', guild = G }) | body { sku_id = '3', owner_id = G,
  owner_type = 1 }
get_entitlement | app.entitlements:fetch('5')
delete_entitlement | app.entitlements:deleteTest('5')
consume_entitlement | app.entitlements:consume('5')
GET /applications/{application_id}/skus | app.skus:fetch()
list_guild_application_commands | app.commands:fetch({ guildId = G })
bulk_set_guild_application_commands | app.commands:set({}, G)
create_guild_application_command | app.commands:create({ name = 'a', description = 'b' }, G)
list_guild_application_command_permissions | app.commands.permissions:fetch({ guild = G })
get_guild_application_command | app.commands:fetch('5', { guildId = G })
delete_guild_application_command | app.commands:delete('5', G)
update_guild_application_command | app.commands:edit('5', { description = 'c' }, G)
get_guild_application_command_permissions | app.commands.permissions:fetch({ guild = G, command = '5' })
set_guild_application_command_permissions | app.commands.permissions:set({ guild = G, command = '5', token = 't',
  permissions = {} })
get_application_role_connections_metadata | app:fetchRoleConnectionMetadataRecords()
update_application_role_connections_metadata | app:editRoleConnectionMetadataRecords({})
get_channel | client.channels:fetch(C, { force = true })
delete_channel | g.channels:delete('1')
update_channel | ch:edit({ topic = 'news', rateLimitPerUser = 30 }) | body { topic = 'news',
  rate_limit_per_user = 30 }
follow_channel | news:addFollower(C)
list_channel_invites | ch:fetchInvites()
create_channel_invite | g.invites:create(C, { maxAge = 0, unique = true, reason = 'event' }) | body { max_age = 0,
  unique = true } | reason event
list_messages | ch.messages:fetch({ limit = 5 })
create_message | msg:reply('hi') | body { content = 'hi', message_reference = { channel_id = C, guild_id = G,
  message_id = M, fail_if_not_exists = true } }
bulk_delete_messages | ch:bulkDelete({ '1', '2' })
list_pins | ch.messages:fetchPinned()
create_pin | msg:pin('keep') | reason keep
delete_pin | msg:unpin()
deprecated_list_pins | ch.messages:fetchPinned() | > list_pins
deprecated_create_pin | ch.messages:pin(M) | > create_pin
deprecated_delete_pin | ch.messages:unpin(M) | > delete_pin
get_message | ch.messages:fetch(M, { force = true })
delete_message | ch.messages:delete('1')
update_message | msg:edit('edited') | body { content = 'edited' }
crosspost_message | msg:crosspost()
delete_all_message_reactions | msg.reactions:removeAll()
list_message_reactions_by_emoji | msg:react('👍'); msg.reactions:resolve('👍').users:fetch()
delete_all_message_reactions_by_emoji | msg:react('👍'); msg.reactions:resolve('👍'):remove()
add_my_message_reaction | msg:react('👍') | path '/channels/' .. C .. '/messages/' .. M
  .. '/reactions/%F0%9F%91%8D/@me'
delete_my_message_reaction | msg:react('👍'); msg.reactions:resolve('👍').users:remove()
delete_user_message_reaction | msg:react('👍'); msg.reactions:resolve('👍').users:remove(U)
create_thread_from_message | msg:startThread({ name = 't' }) | body { name = 't' }
set_channel_permission_overwrite | ch.permissionOverwrites:edit(U, { SendMessages = false, AttachFiles = true })
  | body { type = 1, allow = '32768', deny = '2048' }
delete_channel_permission_overwrite | ch.permissionOverwrites:delete(U)
get_answer_voters | pollMsg.poll.answers:get(1).voters:fetch()
poll_expire | pollMsg.poll:expire()
add_group_dm_user | client.channels:addRecipient(C, U, { accessToken = 't', nick = 'n' })
delete_group_dm_user | client.channels:removeRecipient(C, U)
send_soundboard_sound | g.soundboardSounds:send('9', '7') | body { sound_id = '9', source_guild_id = G }
list_thread_members | thread.members:fetch({})
join_thread | thread:join()
leave_thread | thread:leave()
get_thread_member | thread.members:fetch(U, { force = true })
add_thread_member | thread.members:add(U)
delete_thread_member | thread.members:remove(U)
create_thread | ch.threads:create({ name = 't2', autoArchiveDuration = 60 }) | body { name = 't2',
  auto_archive_duration = 60, type = 11 }
list_private_archived_threads | ch.threads:fetchArchived({ type = 'private' })
list_public_archived_threads | ch.threads:fetchArchived()
thread_search | ch.threads:search({ name = 't' })
trigger_typing_indicator | ch:sendTyping()
list_my_private_archived_threads | ch.threads:fetchArchived({ joined = true })
update_voice_channel_status | client.channels.cache:get(VC):setStatus('on air')
list_channel_webhooks | ch:fetchWebhooks()
create_webhook | ch:createWebhook({ name = 'CI', reason = 'builds' }) | body { name = 'CI' } | reason builds
get_gateway | client:fetchGateway()
get_bot_gateway | client:fetchGatewayInfo()
get_guild_template | client:fetchGuildTemplate('abc')
get_guild | client.guilds:fetch(G, { force = true })
update_guild | g:edit({ name = 'renamed', icon = false, systemChannel = ch }, 'rebrand') | body { name = 'renamed',
  icon = json.null, system_channel_id = C } | reason rebrand
list_guild_audit_log_entries | g:fetchAuditLogs({ type = 'MemberBanAdd', limit = 10 }) | query { action_type = '22',
  limit = '10' }
list_auto_moderation_rules | g.autoModerationRules:fetch()
create_auto_moderation_rule | g.autoModerationRules:create({ name = 'r', triggerType = 'Keyword', triggerMetadata = {
  keywordFilter = { 'x' } }, actions = { { type = 'BlockMessage' } } })
get_auto_moderation_rule | g.autoModerationRules:fetch('5', { force = true })
delete_auto_moderation_rule | g.autoModerationRules:delete('5')
update_auto_moderation_rule | g.autoModerationRules:edit('5', { name = 'q' })
list_guild_bans | g.bans:fetch()
get_guild_ban | g.bans:fetch(U)
ban_user_from_guild | g.bans:create(U)
unban_user_from_guild | g.bans:remove(U, 'appeal') | reason appeal
bulk_ban_users_from_guild | g.bans:bulkCreate({ U }, { deleteMessageSeconds = 60, reason = 'raid' }) | body {
  user_ids = { U }, delete_message_seconds = 60 } | reason raid
list_guild_channels | g.channels:fetch()
create_guild_channel | g.channels:create({ name = 'new' })
bulk_update_guild_channels | g.channels:setPosition(C, 1)
list_guild_emojis | g.emojis:fetch()
create_guild_emoji | g.emojis:create({ name = 'wave', attachment = PNG, roles = { R } }) | body { name = 'wave',
  image = 'data:image/png;base64,iVBORw0KGgo=', roles = { R } }
get_guild_emoji | g.emojis:fetch('5')
delete_guild_emoji | g.emojis:delete('5')
update_guild_emoji | g.emojis:edit('5', { name = 'ff' })
update_guild_incident_actions | g:setIncidentActions({ invitesDisabledUntil = false })
list_guild_integrations | g:fetchIntegrations()
delete_guild_integration | discord.Integration(client, { id = '5' }, g):delete()
list_guild_invites | g.invites:fetch()
list_guild_members | g.members:list({ limit = 5 })
update_my_guild_member | g.members:editMe({ nick = 'bot' })
search_guild_members | g.members:search({ query = 'al' })
get_guild_member | g.members:fetch(U, { force = true })
add_guild_member | g.members:add(U, { accessToken = 't' })
delete_guild_member | g.members:kick(U)
update_guild_member | g.members.cache:get(U):setNickname('Al') | body { nick = 'Al' }
add_guild_member_role | g.members.cache:get(U).roles:add(R, 'promoted') | reason promoted
delete_guild_member_role | g.members:removeRole(U, R)
guild_search | g:searchMessages({ content = 'hi' })
get_guild_new_member_welcome | g:fetchNewMemberWelcome()
get_guilds_onboarding | g:fetchOnboarding()
put_guilds_onboarding | g:editOnboarding({ enabled = false })
get_guild_preview | g:fetchPreview()
preview_prune_guild | g.members:prune({ dry = true, days = 7 })
prune_guild | g.members:prune({ days = 7 })
list_guild_voice_regions | g:fetchVoiceRegions()
get_guild_join_requests | g:fetchJoinRequests()
action_guild_join_request | g:reviewJoinRequest('5', 'APPROVED')
list_guild_roles | g.roles:fetch()
create_guild_role | g.roles:create({ name = 'x', colors = { primaryColor = 1, secondaryColor = 2 } }) | body { name =
  'x', colors = { primary_color = 1, secondary_color = 2, tertiary_color = json.null } }
bulk_update_guild_roles | g.roles:setPosition(R, 1)
guild_role_member_counts | g.roles:fetchMemberCounts()
get_guild_role | g.roles:fetch(R, { force = true })
delete_guild_role | g.roles:delete('1')
update_guild_role | g.roles:edit(R, { colors = { primaryColor = 1, tertiaryColor = 3 } })
list_guild_scheduled_events | g.scheduledEvents:fetch()
create_guild_scheduled_event | g.scheduledEvents:create({ name = 'Meet', entityType = 'External', location = 'Park',
  scheduledStartTime = ISO, scheduledEndTime = ISO, reason = 'plan' }) | body { name = 'Meet', entity_type = 3,
  privacy_level = 2, entity_metadata = { location = 'Park' }, scheduled_start_time = ISO, scheduled_end_time = ISO }
  | reason plan
get_guild_scheduled_event | g.scheduledEvents:fetch('5')
delete_guild_scheduled_event | g.scheduledEvents:delete('5')
update_guild_scheduled_event | g.scheduledEvents:edit('5', { name = 'n' })
create_guild_scheduled_event_exception | g.scheduledEvents:createException('5', { originalScheduledStartTime = ISO,
  isCanceled = true })
delete_guild_scheduled_event_exception | g.scheduledEvents:deleteException('5', '6')
update_guild_scheduled_event_exception | g.scheduledEvents:editException('5', '6', { isCanceled = false })
list_guild_scheduled_event_users | g.scheduledEvents:fetchSubscribers('5')
count_guild_scheduled_event_users | g.scheduledEvents:fetchSubscriberCount('5')
list_guild_scheduled_event_exception_users | g.scheduledEvents:fetchSubscribers('5', { exception = '6' })
list_guild_soundboard_sounds | g.soundboardSounds:fetch()
create_guild_soundboard_sound | g.soundboardSounds:create({ name = 'boop', file = 'OggS..', volume = 0.5 }) | body {
  name = 'boop', volume = 0.5, sound = 'data:audio/ogg;base64,T2dnUy4u' }
get_guild_soundboard_sound | g.soundboardSounds:fetch('5')
delete_guild_soundboard_sound | g.soundboardSounds:delete('5')
update_guild_soundboard_sound | g.soundboardSounds:edit('5', { name = 'bb' })
list_guild_stickers | g.stickers:fetch()
create_guild_sticker | g.stickers:create({ name = 'st', tags = 'x', file = PNG, description = 'dd' })
get_guild_sticker | g.stickers:fetch('5')
delete_guild_sticker | g.stickers:delete('5')
update_guild_sticker | g.stickers:edit('5', { name = 'hi', tags = 'wave' }, 'rename') | body { name = 'hi', tags =
  'wave' } | reason rename
list_guild_templates | g:fetchTemplates()
create_guild_template | g:createTemplate('t')
sync_guild_template | tpl:sync()
delete_guild_template | tpl:delete()
update_guild_template | tpl:edit({ name = 'u' })
get_active_guild_threads | g.channels:fetchActiveThreads()
get_guild_vanity_url | g:fetchVanityData()
get_self_voice_state | g.voiceStates:fetch(B)
update_self_voice_state | g.voiceStates:fetch(B, { force = true }):setSuppressed(true)
get_voice_state | g.voiceStates:fetch(U)
update_voice_state | g.voiceStates:fetch(U, { force = true }):setSuppressed(true)
get_guild_webhooks | g:fetchWebhooks()
get_guild_welcome_screen | g:fetchWelcomeScreen()
update_guild_welcome_screen | g:editWelcomeScreen({ enabled = false })
get_guild_widget_settings | g:fetchWidgetSettings()
update_guild_widget_settings | g:setWidgetSettings({ enabled = true, channel = false }, 'open') | body { enabled =
  true, channel_id = json.null } | reason open
get_guild_widget | g:fetchWidget()
get_guild_widget_png | g:fetchWidgetImage('banner1')
create_interaction_response | newInteraction():reply('hi')
invite_resolve | client:fetchInvite('abc', { withCounts = true })
invite_revoke | g.invites:delete('https://discord.gg/abc-1', 'leak') | path '/invites/abc-1' | reason leak
get_invite_target_users | g.invites:fetchTargetUsers('abc')
update_invite_target_users | g.invites:setTargetUsers('abc', { U })
get_invite_target_users_job_status | g.invites:fetchTargetUsersJobStatus('abc')
create_or_join_lobby | app.lobbies:createOrJoin({ secret = 's' })
create_lobby | app.lobbies:create({})
get_lobby | app.lobbies:fetch('5')
delete_lobby | app.lobbies:delete('5')
edit_lobby | app.lobbies:edit('5', { idleTimeoutSeconds = 60 })
edit_lobby_channel_link | app.lobbies:linkChannel('5', C)
leave_lobby | app.lobbies:leave('5')
create_linked_lobby_guild_invite_for_self | app.lobbies:createGuildInvite('5')
bulk_update_lobby_members | app.lobbies:bulkUpdateMembers('5', { { id = U } })
add_lobby_member | app.lobbies:addMember('5', U)
delete_lobby_member | app.lobbies:removeMember('5', U)
create_linked_lobby_guild_invite_for_user | app.lobbies:createGuildInvite('5', U)
get_lobby_messages | app.lobbies:fetchMessages('5')
create_lobby_message | app.lobbies:send('5', 'hi')
update_lobby_message_external_moderation_metadata | app.lobbies:setModerationMetadata('5', '6', { k = 'v' })
get_my_oauth2_authorization | app:fetchAuthorization()
get_my_oauth2_application | app:fetchOAuth2Application()
get_public_keys | app:fetchPublicKeys()
get_openid_connect_userinfo | app:fetchUserInfo()
update_user_message_external_moderation_metadata | app:setDMModerationMetadata(U, B, '6', { k = 'v' })
partner_sdk_unmerge_provisional_account | app:unmergeProvisionalAccount({ clientSecret = 's', externalAuthToken =
  'e', externalAuthType = 'OIDC' })
bot_partner_sdk_unmerge_provisional_account | app:unmergeProvisionalAccount({ externalUserId = 'x' })
partner_sdk_token | app:createProvisionalToken({ clientSecret = 's', externalAuthToken = 'e', externalAuthType =
  'OIDC' })
bot_partner_sdk_token | app:createProvisionalToken({ externalUserId = 'x' })
get_sku_subscriptions | sku:fetchSubscriptions({ user = U })
get_sku_subscription | sku:fetchSubscription('4')
get_soundboard_default_sounds | client:fetchDefaultSoundboardSounds()
create_stage_instance | g.stageInstances:create('7', { topic = 'AMA', privacyLevel = 'GuildOnly', reason = 'talk' })
  | body { channel_id = '7', topic = 'AMA', privacy_level = 2 } | reason talk
get_stage_instance | g.stageInstances:fetch(VC)
delete_stage_instance | g.stageInstances:delete(VC)
update_stage_instance | g.stageInstances:edit(VC, { topic = 'Q' })
list_sticker_packs | client:fetchStickerPacks()
get_sticker_pack | client:fetchStickerPack('5')
get_sticker | client:fetchSticker('5')
get_my_user | client.user:fetch()
update_my_user | client.user:setUsername('bot2')
create_dm | client.users:createDM(U)
list_my_connections | client.user:fetchConnections()
list_my_guilds | client.guilds:fetch({ limit = 5 })
leave_guild | g:leave()
get_user | client.users:fetch(U, { force = true })
list_voice_regions | client:fetchVoiceRegions()
get_webhook | client:fetchWebhook('4')
delete_webhook | client:deleteWebhook('4')
update_webhook | hookBot:edit({ name = 'n' })
get_webhook_by_token | client:fetchWebhook('4', 'tok')
execute_webhook | discord.WebhookClient({ url = 'https://discord.com/api/webhooks/4/tok' }):send({ content = 'hi',
  username = 'ci', threadId = '8' }) | body { content = 'hi', username = 'ci' } | query { thread_id = '8', wait =
  'true' } | auth false
delete_webhook_by_token | hook:delete() | auth false
update_webhook_by_token | hook:edit({ name = 'n' })
execute_github_compatible_webhook | hook:sendCompatible('github', { sender = { id = 1, login = 'x', html_url =
  'https://github.com/x', avatar_url = 'https://github.com/x.png' } })
get_original_webhook_message | hook:fetchMessage('@original')
delete_original_webhook_message | hook:deleteMessage('@original')
update_original_webhook_message | hook:editMessage('@original', 'e')
get_webhook_message | hook:fetchMessage('6')
delete_webhook_message | hook:deleteMessage('6')
update_webhook_message | hook:editMessage('6', 'e')
execute_slack_compatible_webhook | hook:sendCompatible('slack', { text = 'x' })
]]

-- Calls whose route Discord has withdrawn: a LibraryError, and no request.
local GONE = {
  "g:setMFALevel(1)",
  "client.guilds:create({ name = 'g' })",
  "discord.GuildTemplate(client, { code = 'abc', source_guild_id = G }):createGuild('g')",
  "app.skus:delete('3')",
  "discord.SubscriptionManager(sku):delete('4')",
}

describe("REST operations", function()
  local fd, client, env
  setup(function()
    fd, client = server.login({ intents = { "Guilds", "GuildMessages" } }, function(f)
      f.news = f.store:addChannel(f.guild, { name = "news", type = 5 })
      local stage = f.store:addChannel(f.guild, { name = "stage", type = 13 })
      f.rest:route("GET", "/guilds/:guild/voice-states/:user", function(req)
        local user = req.path:match("([^/]+)$")
        return 200, openapi.sample("VoiceStateResponse", { channel_id = stage.id, guild_id = f.guild.id,
          user_id = user == "@me" and f.bot.id or user })
      end)
    end)
    local discord = require("discord")
    local g = client.guilds.cache:get(fd.guild.id)
    local msg = server.act(function() return fd:say(fd.alice, fd.general, "hello") end)
    env = setmetatable({ discord = discord, json = require("json"), client = client, app = client.application, g = g,
      ch = client.channels.cache:get(fd.general.id), G = fd.guild.id, C = fd.general.id, U = fd.alice.id,
      B = fd.bot.id, R = fd.member_role.id, M = msg.id, VC = fd.guild.channels[3], PNG = "\137PNG\r\n\26\n",
      ISO = "2026-01-01T00:00:00.000Z" }, { __index = _G })
    server.act(function()
      env.msg = env.ch.messages:fetch(msg.id)
      env.thread = env.ch.threads:create({ name = "t" })
      env.hook = discord.WebhookClient({ id = "4", token = "tok" })
      env.hookBot = discord.Webhook(client, { id = "4", type = 1 })
      env.pollMsg = env.ch:send({ poll = { question = { text = "q" }, answers = { { text = "a" }, { text = "b" } } } })
      env.news = client.channels.cache:get(fd.news.id)
      env.sku = discord.SKU(client, { id = "3", type = 5, application_id = fd.bot.id, name = "s", slug = "s" })
      env.tpl = discord.GuildTemplate(client, { code = "abc", source_guild_id = fd.guild.id })
      env.newInteraction = function()
        return require("discord.interaction").createInteraction(client, { id = fd.store:id(), token = "tok",
          type = 2, application_id = fd.bot.id, channel_id = fd.general.id, guild_id = fd.guild.id,
          data = { id = "6", name = "x", type = 1 }, user = fd.store:userJSON(fd.alice) })
      end
    end)
  end)
  teardown(function() server.stop(client) end)

  local rows = {}
  for line in ROWS:gsub("\n +", " "):gmatch("[^\n]+") do
    local r = {}
    for part in (line .. " | "):gmatch("(.-) | ") do
      local key, value = part:match("^(%l+) (.*)")
      if #r < 2 then r[#r + 1] = part
      elseif part:sub(1, 2) == "> " then r[3] = part:sub(3)
      elseif key == "auth" then r.auth = value == "true"
      else r[key] = value end
    end
    rows[#rows + 1] = r
  end

  it("have a row for every operation a bot may call", function()
    local named, missing = {}, {}
    for _, r in ipairs(rows) do named[r[1]] = true end
    for _, id in ipairs(openapi.botOperations()) do if not named[id] then missing[#missing + 1] = id end end
    assert.same({}, missing)
  end)

  it("send each operation (a deprecated one as its successor)", function()
    local wrong = {}
    for _, r in ipairs(rows) do
      local before = #fd:requests()
      local call = assert(load(r[2], r[1], "t", env))
      -- A run that fails (Discord's description refused a request or an answer) fails the row.
      local ran, ok, err = pcall(server.act, function() return pcall(call) end)
      if not ran then wrong[#wrong + 1] = r[1] .. ": " .. tostring(ok) end
      local sent = {}
      for i, req in ipairs(fd:requests()) do
        local op = i > before and openapi.find(req.method, req.path)
        if op then
          sent[op.id] = { body = req.body, query = req.query, path = req.path, auth = req.headers.authorization,
            reason = req.headers["x-audit-log-reason"] and Store.unescape(req.headers["x-audit-log-reason"]) }
        end
      end
      local req = sent[r[3] or r[1]]
      local function value(text) return text and assert(load("return " .. text, r[1], "t", env))() end
      if req and not deepcompare({ value(r.body), value(r.query), value(r.path), r.reason, r.auth },
        { r.body and req.body, r.query and req.query, r.path and req.path, r.reason and req.reason,
          (r.auth == false and req.auth ~= nil) or r.auth }, true) then
        wrong[#wrong + 1] = r[1] .. ": sent " .. require("json").encode({ body = req.body, query = req.query,
          path = req.path, reason = req.reason, auth = req.auth })
      end
      if not req or (r[3] and sent[r[1]]) then
        local got = {}
        for id in pairs(sent) do got[#got + 1] = id end
        wrong[#wrong + 1] = r[1] .. " <- " .. r[2] .. ": sent " .. table.concat(got, ", ")
          .. (ok and "" or " / " .. tostring(err))
      end
    end
    assert.same({}, wrong)
  end)

  it("raise a LibraryError without a request for routes Discord has withdrawn", function()
    for _, text in ipairs(GONE) do
      local before = #fd:requests()
      local _, err = server.act(function() return pcall(assert(load(text, text, "t", env))) end)
      assert.same({ "LibraryError", "RouteGone", before }, { err.name, err.code, #fd:requests() }, text)
    end
  end)
end)
