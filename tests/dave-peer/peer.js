// An independent DAVE member for the Lua tests: one JSON request per line on stdin, one answer per
// line on stdout, byte strings in hex. Sessions are named by `s`. Ends when stdin closes.
"use strict";
const readline = require("readline");
const { DAVESession } = require("@snazzah/davey");

const sessions = new Map();
const buf = (h) => Buffer.from(h || "", "hex");
const hex = (b) => (b ? Buffer.from(b).toString("hex") : null);

const ops = {
  create: (q) => { sessions.set(q.s, new DAVESession(q.version ?? 1, q.user, q.channel)); },
  reinit: (q, d) => { d.reinit(q.version ?? 1, q.user, q.channel); },
  keyPackage: (q, d) => ({ data: hex(d.getSerializedKeyPackage()) }),
  setExternalSender: (q, d) => { d.setExternalSender(buf(q.data)); },
  processProposals: (q, d) => {
    const r = d.processProposals(q.kind, buf(q.data), q.userIds);
    return { commit: hex(r.commit), welcome: hex(r.welcome) };
  },
  processCommit: (q, d) => { d.processCommit(buf(q.data)); },
  processWelcome: (q, d) => { d.processWelcome(buf(q.data)); },
  encryptOpus: (q, d) => ({ data: hex(d.encryptOpus(buf(q.data))) }),
  decrypt: (q, d) => ({ data: hex(d.decrypt(q.user, 0, buf(q.data))) }),
  verificationCode: async (q, d) => ({ data: await d.getVerificationCode(q.user) }),
  privacyCode: (q, d) => ({ data: d.voicePrivacyCode }),
  epoch: (q, d) => ({ data: d.epoch === null ? null : Number(d.epoch) }),
};

(async () => {
  for await (const line of readline.createInterface({ input: process.stdin })) {
    let answer;
    try {
      const q = JSON.parse(line);
      const d = sessions.get(q.s);
      if (!ops[q.op]) throw new Error("unknown op " + q.op);
      if (q.op !== "create" && !d) throw new Error("no session " + q.s);
      answer = { ok: true, ...((await ops[q.op](q, d)) || {}) };
    } catch (e) {
      answer = { ok: false, error: String(e && e.message ? e.message : e) };
    }
    process.stdout.write(JSON.stringify(answer) + "\n");
  }
})();
