-- End-to-end encryption on the voice connection: the fake voice gateway relays between the bot and
-- members of our own group layer, and decrypts every frame the bot sends.
local runtime = require("runtime")
local server = require("fake.discord.server")
local Voice = require("fake.discord.voice")
local voice = require("@discord/voice")
local act = server.act

describe("DAVE session: the bot", function()
  local fd, client, vs, conn, room
  before_each(function()
    fd, client = server.login({ intents = { "Guilds", "GuildVoiceStates" } })
    require("fake.tools").install({ ["song.ogg"] = 30 })
    room = fd.guild.channels[3]
  end)
  after_each(function() server.stop(client) end)

  local function host(who) act(function() vs:host(fd[who].id, Voice.ownMember(fd[who].id, room)) end) end
  local function join()
    act(function()
      conn = voice.joinVoiceChannel({ client = client, guildId = fd.guild.id, channelId = room })
      voice.entersState(conn, "ready", 5000)
    end)
  end
  -- 30 frames and 5 of silence; at[ms] runs that far into them.
  local function play(at)
    act(function()
      for ms, fn in pairs(at or {}) do runtime.timer(ms, fn) end
      local player = voice.createAudioPlayer()
      conn:subscribe(player)
      player:play(voice.createAudioResource("song.ogg"))
      voice.entersState(player, "playing", 1000)
      voice.entersState(player, "idle", 5000)
    end, 10000)
  end

  -- who commits ("bot" or none: the first member), the steps, the members, the gateway's log, and the
  -- last 35 frames: encrypted (e) or clear (c)
  for _, row in ipairs({
    { "alone sends nothing, then commits a member's addition", "bot", function()
      join()
      play()
      assert.are.same({ 0, 35 }, { #vs.rtp, conn.packets.dropped })
      host("alice")
      play()
    end, { "alice" }, "announce 11 1 bot, 23 11, execute 11 1 0" },
    { "is welcomed by a member (op 25 before op 4); both show one verification code", nil, function()
      vs.dv.early = true
      host("alice")
      join()
      play()
      -- scrypt on both sides takes seconds: only here.
      local code = conn:verificationCode(fd.alice.id)
      assert.are.same({ 45, code }, { #code, vs.dv.members[fd.alice.id].member:verificationCode(fd.bot.id) })
    end, { "alice" }, "announce 11 1 alice, 23 11, execute 11 1 0" },
    { "keeps its group over a resume and commits a removal with a path", "bot", function()
      host("alice")
      host("bob")
      join()
      act(function() vs.conns[1]:drop() end, 40000)
      act(function() vs:leave(fd.bob.id) end)
      play()
    end, { "alice" }, "announce 11 1 alice, execute 11 1 0, announce 12 2 alice, "
      .. "23 12, execute 12 1 0, announce 13 3 bot, 23 13, execute 13 1 0" },
    { "left alone starts a new group and sends nothing until someone joins it", nil, function()
      host("alice")
      join()
      act(function() vs:leave(fd.alice.id) end)
      play()
      assert.are.same({ 0, 35 }, { #vs.rtp, conn.packets.dropped })
      host("bob")
      play()
    end, { "bob" }, "announce 11 1 alice, 23 11, execute 11 1 0, announce 12 1 bob, 23 12, execute 12 1 0" },
    { "answers an invalid commit with op 31 and joins again", nil, function()
      host("alice")
      join()
      vs.dv.corrupt = function(b) return b:sub(1, -2) .. string.char(b:byte(-1) ~ 1) end
      host("bob")
      play()
    end, { "alice", "bob" }, "announce 11 1 alice, 23 11, execute 11 1 0, announce 12 2 alice, "
      .. "31 12, announce 13 3 alice, 23 13, execute 13 1 0" },
    { "downgrades and upgrades at the announced transitions", nil, function()
      host("alice")
      join()
      play({ [200] = function() vs:downgrade() end, [400] = function() vs:upgrade() end })
    end, { "alice" }, "announce 11 1 alice, 23 11, execute 11 1 0, 23 12, execute 12 0 11, "
      .. "announce 13 1 alice, 23 13, execute 13 1 21", ("e"):rep(11) .. ("c"):rep(10) .. ("e"):rep(14) },
  }) do
    it(row[1], function()
      vs = Voice.new(fd):dave({ channelId = room, committer = row[2] })
      row[3]()
      local codes, sealed = {}, {}
      for i, who in ipairs(row[4]) do
        -- Each member's privacy code, and its frame as the bot decrypts it by the member's SSRC.
        local m, frame = vs.dv.members[fd[who].id].member, "\xFC" .. who
        codes[i] = m:privacyCode()
        assert.equal(frame, conn:decryptFrame(vs.dv.ssrcs[fd[who].id], m:encryptOpus(frame)))
      end
      for i = #vs.rtp - 34, #vs.rtp do sealed[#sealed + 1] = vs.rtp[i].encrypted and "e" or "c" end
      local log = {}
      for i, l in ipairs(vs.dv.log) do log[i] = table.concat(l, " ") end
      log = table.concat(log, ", "):gsub("%d%d%d%d+", { [fd.bot.id] = "bot", [fd.alice.id] = "alice",
        [fd.bob.id] = "bob" })
      assert.are.same({ {}, row[5], conn:privacyCode():rep(#row[4]), row[6] or ("e"):rep(35), "\xFC\0\0\29" },
        { vs.faults, log, table.concat(codes), table.concat(sealed), vs.rtp[#vs.rtp - 5].opus })
    end)
  end
end)
