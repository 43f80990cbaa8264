// discord.js fed the session of bench/session_gen.lua as its websocket package feeds it (not a test):
//   node --expose-gc bench/js/session_bench.js SESSION --caching default|limits
// The same phases, probes and figures as bench/lua_session_bench.lua; prints one JSON object.
'use strict';
const fs = require('node:fs');
const { EventEmitter } = require('node:events');

const args = process.argv.slice(2);
const path = args[0];
const caching = args.includes('--caching') ? args[args.indexOf('--caching') + 1] : 'default';

function heap() {
  global.gc();
  global.gc();
  return process.memoryUsage().heapUsed;
}

const out = {};
const heap0 = heap();
const cpu0 = process.cpuUsage();
const discord = require('discord.js');
const cpu = process.cpuUsage(cpu0);
out.requireMs = (cpu.user + cpu.system) / 1000;
out.requireBytes = heap() - heap0;

function readSession() {
  const list = [];
  for (const line of fs.readFileSync(path, 'utf8').split('\n')) if (line) list.push(JSON.parse(line));
  return list;
}
// A packet is decoded just before it is fed, outside the timing, as on the Lua side. The session stays in a
// Buffer, outside the collected heap (the Lua side reads it from the file): a bot holds one packet at a time,
// and each collector paces itself on the heap it has.
const phases = [];
const order = [];
const session = fs.readFileSync(path);
const decode = ([from, to]) => JSON.parse(session.toString('utf8', from, to));
for (let from = 0; from < session.length;) {
  let to = session.indexOf(10, from);
  if (to < 0) to = session.length;
  if (to > from) {
    const span = [from, to];
    const mark = session.toString('latin1', from, from + 8) === '{"mark":' && decode(span).mark;
    if (mark) {
      phases.push([]);
      order.push(mark);
    } else phases[phases.length - 1].push(span);
  }
  from = to + 1;
}

const EVENTS = ['messageCreate', 'messageUpdate', 'messageReactionAdd', 'presenceUpdate', 'typingStart',
  'guildMemberUpdate', 'voiceStateUpdate', 'interactionCreate', 'guildMembersChunk', 'guildCreate', 'userUpdate'];
const { GatewayIntentBits: I, Options } = discord;

function newClient(keep) {
  const options = {
    intents: [I.Guilds, I.GuildMembers, I.GuildMessages, I.GuildPresences, I.GuildMessageReactions,
      I.GuildMessageTyping, I.GuildVoiceStates, I.MessageContent],
  };
  if (caching === 'limits') {
    options.makeCache = Options.cacheWithLimits({ ...Options.DefaultMakeCacheSettings, MessageManager: 200,
      PresenceManager: 0 });
  }
  const client = new discord.Client(options);
  const calls = {};
  for (const name of EVENTS) {
    calls[name] = 0;
    client.on(name, (a, b) => {
      calls[name]++;
      if (keep && b !== undefined) keep.push(a);
    });
  }
  // What WebSocketManager.connect sets up, without the network: one shard, and the events of
  // @discordjs/ws's shard manager, which emits `ready` then `dispatch` for READY.
  const ws = client.ws;
  const shard = new discord.WebSocketShard(ws, 0);
  ws.shards.set(0, shard);
  ws.totalShards = 1;
  shard.on('allReady', unavailable => {
    client.emit('shardReady', 0, unavailable);
    ws.checkShardsReady();
  });
  ws._ws = new EventEmitter();
  ws.attachEvents();
  const feed = packet => {
    if (packet.t === 'READY') ws._ws.emit('ready', { data: packet.d, shardId: 0 });
    ws._ws.emit('dispatch', { data: packet, shardId: 0 });
  };
  return { client, feed, calls };
}

function sizes(client) {
  const s = { guilds: client.guilds.cache.size, channels: client.channels.cache.size, users: client.users.cache.size,
    members: 0, roles: 0, presences: 0, voiceStates: 0, messages: 0 };
  for (const g of client.guilds.cache.values()) {
    s.members += g.members.cache.size;
    s.roles += g.roles.cache.size;
    s.presences += g.presences.cache.size;
    s.voiceStates += g.voiceStates.cache.size;
  }
  for (const c of client.channels.cache.values()) if (c.messages) s.messages += c.messages.cache.size;
  return s;
}

// CPU time, as the Lua side's os.clock: other work on a loaded machine does not count against either.
const now = () => {
  const u = process.cpuUsage();
  return (u.user + u.system) / 1e6;
};
let { client, feed, calls } = newClient();
const timed = p => {
  const t0 = now();
  feed(p);
  return now() - t0;
};
let i = 0;
// Each phase starts from a collected heap, as on the other side: a phase's collector debt is its own.
for (; order[i] !== 'mix'; i++) {
  global.gc();
  let dt = 0;
  let members = 0;
  for (const span of phases[i]) {
    const p = decode(span);
    if (p.t === 'GUILD_MEMBERS_CHUNK') members += p.d.members.length;
    dt += timed(p);
  }
  if (order[i] === 'guilds') out.guildsPerS = phases[i].length / dt;
  if (order[i] === 'chunks') out.membersPerS = members / dt;
}
if (!client.isReady()) throw new Error('the client did not get ready');
const mix = phases[i];
const byType = {};
const countByType = {};
// Pauses (dispatches of over a millisecond: a collection or a compilation) are shared over the event types in
// proportion to their own time, as on the other side.
const PAUSE = 0.001;
let total = 0;
let paused = 0;
global.gc();
for (const span of mix) {
  const p = decode(span);
  const dt = timed(p);
  total += dt;
  if (dt > PAUSE) paused += dt;
  else byType[p.t] = (byType[p.t] || 0) + dt;
  countByType[p.t] = (countByType[p.t] || 0) + 1;
}
out.mixPerS = mix.length / total;
out.pauseShare = paused / total;
out.perType = {};
for (const t of Object.keys(byType)) out.perType[t] = countByType[t] / ((byType[t] * total) / (total - paused));
out.sizes = sizes(client);
out.calls = calls;
phases.length = 0;
mix.length = 0;
out.heapBytes = heap();

// Probes: bytes per cached object, each from a fresh client.
client = null;
out.bytesPer = {};
out.probeSizes = {};
const probes = [];
for (const v of readSession()) {
  const m = v.mark && /^probe (\S+) (\d+)$/.exec(v.mark);
  if (m) probes.push({ name: m[1], n: Number(m[2]), setup: [], measure: [] });
  else if (v.mark === 'measure') probes[probes.length - 1].into = 'measure';
  else if (!v.mark && probes.length) {
    const p = probes[probes.length - 1];
    p[p.into || 'setup'].push(v);
  }
}
for (const p of probes) {
  const kept = p.name === 'updates' ? [] : null;
  const c = newClient(kept);
  for (const packet of p.setup) c.feed(packet);
  const before = heap();
  for (const packet of p.measure) c.feed(packet);
  out.bytesPer[p.name] = (heap() - before) / p.n;
  if (kept && kept.length !== p.n) throw new Error(`update probe: ${kept.length} old objects kept`);
  out.probeSizes[p.name] = sizes(c.client);
  p.setup = p.measure = null;
}
process.stdout.write(`${JSON.stringify(out)}\n`);
