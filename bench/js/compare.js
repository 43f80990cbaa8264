// Runs bench/lua_session_bench.lua and bench/js/session_bench.js alternately on one core and prints the
// medians side by side, then the DAVE figures of bench/dave_session_bench.lua (not a test):
//   node bench/js/compare.js [--scale S] [--runs N] [--seed N] [--profile [EVENT_TYPE]] [--caching C]
// Fails when the two sides end with different cache sizes or listener calls.
'use strict';
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');

const args = process.argv.slice(2);
const opt = (name, dflt) => (args.includes(name) ? args[args.indexOf(name) + 1] : dflt);
const scale = opt('--scale', '1');
const runs = Number(opt('--runs', '5'));
const seed = opt('--seed', '35');
const session = `build/bench/session-${scale}-${seed}.jsonl`;
const load = () => fs.readFileSync('/proc/loadavg', 'utf8').split(' ').slice(0, 3).join(' ');

if (!fs.existsSync(session) || !fs.existsSync(`${session}.bin`)) {
  fs.mkdirSync('build/bench', { recursive: true });
  console.log(`generating ${session}`);
  execFileSync('lua5.4', ['bench/session_gen.lua', session, '--scale', scale, '--seed', seed], { stdio: 'inherit' });
}
const one = (side, caching, extra = []) => {
  const cmd = side === 'lua' ? ['lua5.4', 'bench/lua_session_bench.lua'] : ['node', '--expose-gc', 'bench/js/session_bench.js'];
  const text = execFileSync('taskset', ['-c', '0', ...cmd, session, '--caching', caching, ...extra],
    { encoding: 'utf8', maxBuffer: 1 << 26 });
  return JSON.parse(text.trim().split('\n').pop());
};

if (args.includes('--profile')) {
  const only = opt('--profile', '--');
  const extra = only.startsWith('--') ? ['--profile'] : ['--profile', only];
  for (const line of one('lua', opt('--caching', 'limits'), extra).profile) console.log(line);
  process.exit(0);
}

const median = xs => {
  const s = [...xs].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const same = (a, b) => JSON.stringify(a, Object.keys(a).sort()) === JSON.stringify(b, Object.keys(b).sort());
const fmt = (x, unit) => {
  if (unit === 'MB') return `${(x / 1e6).toFixed(1)} MB`;
  if (unit === 'ms') return `${x.toFixed(1)} ms`;
  return Math.round(x).toLocaleString('en-US');
};

console.log(`session ${session}, ${runs} interleaved runs a setting, one core (taskset -c 0); load before: ${load()}`);
const results = {};
for (const caching of ['default', 'limits']) {
  const got = { lua: [], js: [] };
  for (let r = 0; r < runs; r++) {
    // Alternating which side goes first spreads a change of the machine's load over both.
    for (const side of r % 2 ? ['js', 'lua'] : ['lua', 'js']) got[side].push(one(side, caching));
  }
  for (let r = 0; r < runs; r++) {
    const l = got.lua[r];
    const j = got.js[r];
    for (const key of ['sizes', 'calls', 'probeSizes']) {
      if (!same(l[key], j[key])) {
        console.error(`FAIL (${caching}, run ${r + 1}): ${key} differ\n  lua ${JSON.stringify(l[key])}\n  js  ${JSON.stringify(j[key])}`);
        process.exit(1);
      }
    }
  }
  results[caching] = got;
  console.log(`${caching}: both sides hold ${JSON.stringify(got.lua[0].sizes)} and called the listener ` +
    `${Object.values(got.lua[0].calls).reduce((a, b) => a + b, 0)} times; load ${load()}`);
}

// Every run's figures, for reading the spread after the fact.
const stamp = new Date().toISOString().replace(/[:.]/g, '-');
fs.writeFileSync(`build/bench/lua-runs-${stamp}.json`, JSON.stringify({ session, runs, results }));

const rows = [];
// The ratio is the median of each run's ratio to the other side's run next to it in time: the machine's
// speed drifts over minutes, and a pair of neighbouring runs shares most of it.
const row = (name, pick, unit) => {
  for (const caching of ['default', 'limits']) {
    const { lua, js } = results[caching];
    const l = median(lua.map(pick));
    const j = median(js.map(pick));
    const ratio = median(lua.map((run, r) => pick(run) / pick(js[r])));
    rows.push(`| ${name} (${caching}) | ${fmt(l, unit)} | ${fmt(j, unit)} | ${ratio.toFixed(2)}x |`);
  }
};
const types = Object.keys(results.default.lua[0].perType).sort();
row('dispatches/s, mix', r => r.mixPerS, '');
for (const t of types) row(`dispatches/s, ${t}`, r => r.perType[t], '');
row('GUILD_CREATE guilds/s', r => r.guildsPerS, '');
row('GUILD_MEMBERS_CHUNK members/s', r => r.membersPerS, '');
row('heap after the session', r => r.heapBytes, 'MB');
for (const k of ['members', 'messages', 'channels', 'roles', 'guilds']) {
  row(`bytes per ${k === 'members' ? 'member (with its user)' : k.slice(0, -1)}`, r => r.bytesPer[k], '');
}
row('bytes per old member kept by an update listener', r => r.bytesPer.updates, '');
row('require CPU', r => r.requireMs, 'ms');
row('require memory', r => r.requireBytes, 'MB');
console.log('\n| figure | library | discord.js 14.28.1 | ratio |\n|---|---|---|---|');
for (const r of rows) console.log(r);
// A share of a few per cent moves by more than the figures it explains, so it stays out of the table.
const share = side => ['default', 'limits']
  .map(c => `${(median(results[c][side].map(r => r.pauseShare)) * 100).toFixed(1)} %`);
console.log(`\nthe mix's time in pauses of over 1 ms (default / limits): library ${share('lua').join(' / ')}, ` +
  `discord.js ${share('js').join(' / ')}`);

const dave = execFileSync('taskset', ['-c', '0', 'lua5.4', 'bench/dave_session_bench.lua'], { encoding: 'utf8' });
console.log('\n| DAVE (bench/dave_session_bench.lua) | library |\n|---|---|');
for (const line of dave.trim().split('\n')) {
  const m = /^([^:]+): (.*)$/.exec(line);
  if (m) console.log(`| ${m[1]} | ${m[2]} |`);
}
console.log(`\nload after: ${load()}`);
