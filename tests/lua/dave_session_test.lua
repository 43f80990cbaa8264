-- End-to-end encryption on the voice connection: the fake voice gateway relays between the bot and
-- members of our own group layer, and decrypts every frame the bot sends.
local runtime = require("runtime")
local server = require("fake.discord.server")
local Voice = require("fake.discord.voice")
local tools = require("fake.tools")
local voice = require("@discord/voice")
local act = server.act

describe("DAVE session", function()
  local fd, client, vs, conn, room
  before_each(function()
    fd, client = server.login({ intents = { "Guilds", "GuildVoiceStates" } })
    vs = Voice.new(fd)
    tools.install({ ["song.ogg"] = 30 })
    room = fd.guild.channels[3]
  end)
  after_each(function() server.stop(client) end)

  local function host(who) act(function() vs:host(fd[who].id, Voice.ownMember(fd[who].id, room)) end) end
  local function member(who) return vs.dv.members[fd[who].id].member end
  local function join()
    act(function()
      conn = voice.joinVoiceChannel({ client = client, guildId = fd.guild.id, channelId = room })
      voice.entersState(conn, "ready", 5000)
    end)
  end
  -- Plays 30 frames and the closing silence; `at` maps a frame time (ms) to what the gateway does then.
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

  -- Each row: gateway options, what happens, the members whose codes must match the bot's, and the
  -- gateway's log of announced and executed transitions.
  for _, row in ipairs({
    { "alone, then commits the member's addition", { committer = "bot" }, function()
      join()
      play()
      assert.are.same({ 0, 35 }, { #vs.rtp, conn.packets.dropped })
      host("alice")
      play()
    end, { "alice" }, { { "announce", 11, 1, "bot" }, { 23, 11 }, { "execute", 11, 1, 0 } } },
    { "is welcomed by a member already waiting; both show one verification code", {}, function()
      host("alice")
      join()
      play()
      -- scrypt on both sides: seconds of work, so only here.
      local code = conn:verificationCode(fd.alice.id)
      assert.are.same({ 45, code }, { #code, member("alice"):verificationCode(fd.bot.id) })
    end, { "alice" }, { { "announce", 11, 1, "alice" }, { 23, 11 }, { "execute", 11, 1, 0 } } },
    { "commits a member's removal with a new path", { committer = "bot" }, function()
      host("alice")
      host("bob")
      join()
      act(function() vs:leave(fd.bob.id) end)
      play()
    end, { "alice" }, { { "announce", 11, 1, "alice" }, { "execute", 11, 1, 0 }, { "announce", 12, 2, "alice" },
      { 23, 12 }, { "execute", 12, 1, 0 }, { "announce", 13, 3, "bot" }, { 23, 13 }, { "execute", 13, 1, 0 } } },
    { "answers an invalid commit with op 31 and rejoins", {}, function()
      host("alice")
      join()
      vs.dv.corrupt = function(b) return b:sub(1, -2) .. string.char(b:byte(-1) ~ 1) end
      host("bob")
      play()
    end, { "alice", "bob" }, { { "announce", 11, 1, "alice" }, { 23, 11 }, { "execute", 11, 1, 0 },
      { "announce", 12, 2, "alice" }, { 31, 12 }, { "announce", 13, 3, "alice" }, { 23, 13 },
      { "execute", 13, 1, 0 } } },
    { "downgrades to protocol 0 and upgrades back at the announced transitions", {}, function()
      host("alice")
      join()
      play({ [200] = function() vs:downgrade() end, [400] = function() vs:upgrade() end })
    end, { "alice" }, { { "announce", 11, 1, "alice" }, { 23, 11 }, { "execute", 11, 1, 0 }, { 23, 12 },
      { "execute", 12, 0, 11 }, { "announce", 13, 1, "alice" }, { 23, 13 }, { "execute", 13, 1, 21 } },
      ("e"):rep(11) .. ("c"):rep(10) .. ("e"):rep(14) },
  }) do
    it(row[1], function()
      row[2].channelId = room
      vs:dave(row[2])
      row[3]()
      local names = { [fd.bot.id] = "bot", [fd.alice.id] = "alice", [fd.bob.id] = "bob" }
      for _, l in ipairs(vs.dv.log) do
        if l[1] == "announce" then l[4] = names[l[4]] end
      end
      local codes, frames, sealed = {}, {}, {}
      -- Each member's code, and its frame as the bot decrypts it by its SSRC.
      for i, who in ipairs(row[4]) do
        local frame = "\xFC" .. who
        codes[i] = member(who):privacyCode()
        assert.equal(frame, conn:decryptFrame(vs.dv.ssrcs[fd[who].id], member(who):encryptOpus(frame)))
      end
      -- The frames of the last playback: every one decrypted (or, under protocol 0, in the clear).
      for i = #vs.rtp - 34, #vs.rtp do
        frames[#frames + 1], sealed[#sealed + 1] = vs.rtp[i].opus:byte(1), vs.rtp[i].encrypted and "e" or "c"
      end
      assert.are.same({ {}, row[5], (conn:privacyCode()):rep(#row[4]), row[6] or ("e"):rep(35) },
        { vs.faults, vs.dv.log, table.concat(codes), table.concat(sealed) })
      assert.are.same({ 0xFC, 0xF8 }, { frames[1], frames[35] })
      assert.equal(30, #conn:privacyCode())
    end)
  end
end)
