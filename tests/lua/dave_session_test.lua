-- End-to-end encryption on the voice connection: the fake voice gateway relays between the bot and
-- members (ours or the npm peers) and has a member decrypt every frame the bot sends.
local server = require("fake.discord.server")
local Voice = require("fake.discord.voice")
local peers = require("dave_peer")
local voice = require("@discord/voice")
local act = server.act

local KINDS = { { "members of our own", Voice.ownMember } }
-- Without the peer dave_interop_test fails; these rows run with our members only.
if not peers.missing() then KINDS[2] = { "independent peers", peers.member } end

-- Rows: name, committer ("bot" or none: the first member), steps, members, the gateway's log, and the
-- last 35 frames as encrypted (e) or clear (c), all e when absent.
local ROWS = require("vectors").json("tests/data/lua/dave_sessions.json").rows

local STEPS
STEPS = {
  -- Without a key nothing is sent and nothing read: the player waits with its first frame.
  hold = function(c)
    act(function()
      c.player = voice.createAudioPlayer()
      c.conn:subscribe(c.player)
      c.player:play(voice.createAudioResource("song.ogg"))
      require("runtime").sleep(1000)
      assert.same({ "pending", 0, 0, "buffering" }, { c.conn.mediaEncryption, #c.vs.rtp,
        c.conn.packets.dropped, c.player.state.status })
    end, 2000)
  end,
  finish = function(c) act(function() voice.entersState(c.player, "idle", 5000) end, 10000) end,
  early = function(c) c.vs.dv.early = true end,
  drop = function(c) act(function() c.vs.conns[1]:drop() end, 40000) end,
  -- The next commit or Welcome to the bot damaged (`twice`: the one after it too).
  corrupt = function(c, twice)
    c.vs.dv.corrupt = function(b)
      if twice then STEPS.corrupt(c) end
      return b:sub(1, -2) .. string.char(b:byte(-1) ~ 1)
    end
  end,
  garbage = function(c)
    act(function()
      for _, m in ipairs({ { 25, c.vs.dv.es:sub(1, -3) }, { 27, "\0\5\1" }, { 27, "\7" }, { 29, "\0\99\0\1" },
        { 30, "\0\99\0\2\0" }, { 99, "x" } }) do
        c.vs.bot.binary(m[1], m[2])
      end
    end)
    assert.equal(6, #require("runtime").logged("debug", "refused binary message"))
  end,
  flip = function(c) c.play(c, { [200] = function() c.vs:downgrade() end, [400] = function() c.vs:upgrade() end }) end,
  -- scrypt on both sides takes seconds: only here.
  codes = function(c)
    local code = c.conn:verificationCode(c.fd.alice.id)
    assert.same({ 45, code }, { #code, c.member("alice"):verificationCode(c.fd.bot.id) })
  end,
}

for _, kind in ipairs(KINDS) do
  describe("DAVE session: the bot with " .. kind[1], function()
    local c = {}
    before_each(function()
      c.fd, c.client = server.login({ intents = { "Guilds", "GuildVoiceStates" } })
      require("fake.tools").install({ ["song.ogg"] = 30 })
      c.room = c.fd.guild.channels[3]
    end)
    after_each(function() server.stop(c.client) end)
    teardown(peers.stop)

    function c.member(who) return c.vs.dv.members[c.fd[who].id].member end
    function c.host(_, who) act(function() c.vs:host(c.fd[who].id, kind[2](c.fd[who].id, c.room)) end) end
    function c.leave(_, who) act(function() c.vs:leave(c.fd[who].id) end) end
    local function connect()
      c.conn = voice.joinVoiceChannel({ client = c.client, guildId = c.fd.guild.id, channelId = c.room })
      voice.entersState(c.conn, "ready", 5000)
    end
    -- 30 frames and 5 of silence; at[ms] runs that far into them.
    local function song(at)
      for ms, fn in pairs(at or {}) do require("runtime").timer(ms, fn) end
      local player = voice.createAudioPlayer()
      c.conn:subscribe(player)
      player:play(voice.createAudioResource("song.ogg"))
      voice.entersState(player, "playing", 1000)
      voice.entersState(player, "idle", 5000)
    end
    function c.join() act(connect) end
    function c.play(_, at) act(function() song(at) end, 10000) end
    -- Plays the moment the connection is ready, before the member's Welcome has come.
    function c.eager()
      act(function()
        connect()
        song()
      end, 10000)
    end

    -- A call with these members in it that the bot has joined.
    local function call(...)
      c.said, c.heard, c.vs = {}, {}, Voice.new(c.fd):dave({ channelId = c.room })
      for _, who in ipairs({ ... }) do c.host(c, who) end
      c.join()
    end

    for _, row in ipairs(ROWS) do
      it(row.name, function()
        local fd, codes, sealed, log = c.fd, {}, {}, {}
        c.vs = Voice.new(fd):dave({ channelId = c.room, committer = row.committer })
        for name, who in row.steps:gmatch("(%a+):?(%a*)") do (STEPS[name] or c[name])(c, who ~= "" and who or nil) end
        local vs = c.vs
        for i, who in ipairs(row.members) do
          -- Each member's privacy code, and its frame as the bot decrypts it by the member's SSRC.
          local frame = "\xFC" .. who .. ("x"):rep(40)
          codes[i] = c.member(who):privacyCode()
          assert.equal(frame, c.conn:decryptFrame(vs.dv.ssrcs[fd[who].id], c.member(who):encryptOpus(frame)))
        end
        for i = #vs.rtp - 34, #vs.rtp do sealed[#sealed + 1] = vs.rtp[i].encrypted and "e" or "c" end
        for i, l in ipairs(vs.dv.log) do log[i] = table.concat(l, " ") end
        log = table.concat(log, ", "):gsub("%d%d%d%d+", { [fd.bot.id] = "bot", [fd.alice.id] = "alice",
          [fd.bob.id] = "bob" })
        -- The song's first and last frames and the closing silence as a member decrypted them.
        assert.same({ row.log, c.conn:privacyCode():rep(#row.members), row.sealed or ("e"):rep(35), "\xFC\0\0\0",
          "\xFC\0\0\29", "\xF8\xFF\xFE", "e2ee" }, { log, table.concat(codes), table.concat(sealed),
          vs.rtp[#vs.rtp - 34].opus, vs.rtp[#vs.rtp - 5].opus, vs.rtp[#vs.rtp].opus, c.conn.mediaEncryption })
      end)
    end

    it("keeps what it sends after a removal's announcement from the removed member, even when the commit fails",
      function()
        call("alice", "bob")
        local bob, leftAt, opened = c.member("bob"), nil, { 0, 0 }
        STEPS.corrupt(c)
        c.play(c, { [200] = function()
          leftAt = require("runtime").now()
          c.vs:leave(c.fd.bob.id)
        end })
        for _, e in ipairs(c.vs.rtp) do
          local k = e.at > leftAt and 2 or 1
          opened[k] = opened[k] + (bob:decrypt(c.fd.bot.id, e.sealed) and 1 or 0)
        end
        -- Bob read the frames before his removal; none after; the bot held its audio, lost none.
        assert.same({ { 11, 0 }, 35, "\xFC\0\0\0", 1 }, { opened, #c.vs.rtp, c.vs.rtp[1].opus,
          #require("runtime").logged("debug", "sending key withheld") })
      end)

    -- Members speak in turns, `n` frames each, 20 ms apart; frames name their sender and number.
    function c.talk(plan, at)
      act(function()
        for ms, fn in pairs(at or {}) do require("runtime").timer(ms, fn) end
        for _, step in ipairs(plan) do
          for _ = 1, step[2] do
            local who = step[1]
            c.said[who] = c.said[who] or {}
            local frame = "\xFC" .. who .. #c.said[who] .. ("x"):rep(#c.said[who] % 7 * 9)
            table.insert(c.said[who], frame)
            c.vs:speak(c.fd[who].id, frame)
            require("runtime").sleep(20)
          end
        end
      end, 2000)
    end
    -- Streams read in their own tasks until they end; heard[name] = { frames, end reason }.
    function c.listen(name, who, opts)
      local stream = c.conn.receiver:subscribe(c.fd[who].id, opts)
      c.heard[name] = { {} }
      require("runtime").spawn(function()
        for opus in stream:packets() do table.insert(c.heard[name][1], opus) end
        c.heard[name][2] = stream.endReason
      end)
      return stream
    end

    it("hears each member byte for byte through joins, a leave, a downgrade and an upgrade; streams end", function()
      call("alice")
      local events, closing = {}, nil
      act(function()
        c.conn.receiver.speaking:on("start", function(id) events[#events + 1] = "start " .. id end)
        c.conn.receiver.speaking:on("end", function(id) events[#events + 1] = "end " .. id end)
        c.listen("alice", "alice")
        closing = c.listen("alice2", "alice")
        c.listen("bob", "bob", { ["end"] = { behavior = "AfterSilence", duration = 150 } })
        c.listen("bob2", "bob")
      end)
      -- Alice goes on speaking while Bob joins, and across the downgrade and the upgrade.
      c.talk({ { "alice", 20 } }, { [100] = function() c.vs:host(c.fd.bob.id, kind[2](c.fd.bob.id, c.room)) end })
      c.talk({ { "bob", 3 }, { "alice", 2 }, { "bob", 4 } })
      c.leave(c, "bob")
      c.talk({ { "alice", 40 } }, { [200] = function() c.vs:downgrade() end, [500] = function() c.vs:upgrade() end })
      act(function()
        closing:close()
        -- A moderator moves the bot.
        c.fd.gateway:dispatch("VOICE_STATE_UPDATE", { guild_id = c.fd.guild.id, user_id = c.fd.bot.id,
          channel_id = c.fd.guild.channels[2], session_id = "vsession" })
      end)
      local log = {}
      for _, l in ipairs(c.vs.dv.log) do log[#log + 1] = l[1] == "execute" and l[3] or nil end
      assert.same({ 1, 1, 1, 0, 1 }, log)
      local r = c.conn.receiver.stats
      local a, b = c.fd.alice.id, c.fd.bob.id
      assert.same({ { c.said.alice, "moved" }, { c.said.alice, "closed" }, { c.said.bob, "silence" },
        { c.said.bob, "left" }, 0, {} }, { c.heard.alice, c.heard.alice2, c.heard.bob, c.heard.bob2, r.lost,
        r.dropped })
      assert.same({ "start " .. a, "end " .. a, "start " .. b, "start " .. a, "end " .. a, "end " .. b,
        "start " .. a, "end " .. a }, events)
    end)

    it("drops forged, replayed, truncated, stray and stale packets, counts them and hears the rest", function()
      call("alice")
      local vs, A, stale, held = c.vs, c.fd.alice.id, nil, {}
      act(function()
        c.listen("alice", "alice")
        stale = c.member("alice"):encryptOpus("\xFCold")
      end)
      c.host(c, "bob")
      act(function() require("runtime").sleep(11000) end, 12000)
      c.talk({ { "alice", 2 } })
      local last = vs:packet(A, "\xFCreal")
      c.said.alice[#c.said.alice + 1] = "\xFCreal"
      for _, bytes in ipairs({
        last,
        last:sub(1, 20) .. string.char(last:byte(21) ~ 1) .. last:sub(22), -- forged payload
        last:sub(1, 4) .. string.char(last:byte(5) ~ 1) .. last:sub(6), -- forged header
        last, -- replayed
        last:sub(1, 20), -- truncated
        vs:packet(A, "\xFCbad", { again = true, ssrc = 9999 }), -- nobody's
        vs:packet(A, stale, { again = true, clear = true }), -- a key ten seconds past its epoch
        string.pack(">BBI2I4", 0x81, 200, 6, 4242) .. ("\0"):rep(20), -- RTCP
      }) do
        act(function() vs:relay(bytes) end)
      end
      -- Header extension and CSRCs; two frames swapped; one lost, then five more.
      c.said.alice[#c.said.alice + 1] = "\xFCext"
      act(function() vs:speak(A, "\xFCext", { csrcs = 2, extension = "12345678" }) end)
      for i = 1, 8 do
        held[i] = vs:packet(A, "\xFCheld" .. i)
        if i ~= 3 then c.said.alice[#c.said.alice + 1] = "\xFCheld" .. i end
      end
      act(function() for _, i in ipairs({ 2, 1, 4, 5, 6, 7, 8 }) do vs:relay(held[i]) end end)
      c.leave(c, "bob")
      act(function() vs:speak(c.fd.bob.id, "\xFCgone", { clear = true }) end)
      c.talk({ { "alice", 2 } })
      act(function() c.conn:destroy() end)
      local r = c.conn.receiver.stats
      assert.same({ { c.said.alice, "destroyed" }, 1, 1, { auth = 2, decrypt = 2, short = 1, unknownSsrc = 2 } },
        { c.heard.alice, r.lost, r.rtcp, r.dropped })
    end)
  end)
end
