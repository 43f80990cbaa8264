#!/usr/bin/env python3
"""End-to-end scenarios of the shipped Tarnwick-Setup.exe under Wine.

    run_e2e.py --build DIR [--update] [NAME...]
        Runs the scenarios tests/data/e2e/NAME.txt (all without NAMEs) against
        DIR/Tarnwick-Setup.exe; --update writes what was seen into the files.
    run_e2e.py --build DIR --demo [ARG...]
        The README's first run: the program on this terminal, its prefix kept
        in DIR/e2e/demo, so later runs (--silent, --uninstall) see the install.

Everything runs in a private user, network and mount namespace: a hosts file
bind-mounted over /etc/hosts sends the update service's host and the two
extras hosts to 127.0.0.1, where tests/server/test_server.py answers on port
443 with a certificate of a test CA that only the Wine prefixes trust. Each
scenario gets a clean prefix cloned with hard links from a template.

A scenario file: "key: value" lines, then the expected outcome in sections
"=== exit", "=== stdout", "=== stderr", "=== tree" (the installation folder)
and "=== path" (the user PATH in the registry). Keys: args, stdin ("\\n"
escapes), start (fresh | installed), server (none, or a JSON list of
behaviours tried before the defaults), manifest (the update service's JSON),
prepare (mkdir|file PATH; ... inside the installation folder), console (pipe |
own: alone on a terminal, a key pressed at the pause | shared: through
cmd /c on a terminal).
"""
import difflib, hashlib, io, json, os, pty, re, select, shutil, subprocess, sys, time, zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DATA = os.path.join(ROOT, "tests", "data", "e2e")
SERVER = os.path.join(ROOT, "tests", "server", "test_server.py")
HOSTS = ["tarnwick.dev", "www.gyan.dev", "github.com"]
API = "/api/tarnwick/version"
FFMPEG = "/ffmpeg/builds/ffmpeg-release-essentials.zip"
YTDLP = "/yt-dlp/yt-dlp/releases/latest/download/yt-dlp.exe"
DOWNLOAD = "/dl/1.3.0/tarn.exe"
PAUSE = "\nDevam etmek icin bir tusa basin . . .\n"


def run(*cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


class World:
    """Certificates, bodies, templates and the server of one namespace."""

    def __init__(self, build):
        self.build = build
        self.work = os.path.join(build, "e2e")
        os.makedirs(self.work, exist_ok=True)
        self.env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)
        run("ip", "link", "set", "lo", "up")
        hosts = os.path.join(self.work, "hosts")
        with open(hosts, "w") as f:
            f.write("127.0.0.1 localhost " + " ".join(HOSTS) + "\n")
        run("mount", "--bind", hosts, "/etc/hosts")
        self.certs = os.path.join(self.work, "certs")
        if not os.path.exists(os.path.join(self.certs, "named.pem")):
            shutil.rmtree(self.certs, ignore_errors=True)
            run(sys.executable, SERVER, "certs", self.certs, *HOSTS)
        self.bodies = self.make_bodies()
        self.template = self.make_template()
        self.installed = None
        self.server_dir = None

    def make_bodies(self):
        d = os.path.join(self.work, "bodies")
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(self.build, "stand-in", "tarn.exe"), "rb") as f:
            bundled = f.read()
        tools = {n: (n + " stand-in for the end-to-end tests\n").encode() * 64
                 for n in ("ffmpeg.exe", "ffprobe.exe", "yt-dlp.exe")}
        zipped = io.BytesIO()
        with zipfile.ZipFile(zipped, "w") as z:
            for n in ("ffmpeg.exe", "ffprobe.exe"):
                z.writestr(zipfile.ZipInfo("ffmpeg-7.1-essentials_build/bin/" + n), tools[n])
        bodies = {"bundled": bundled, "download": bundled + b"\0tarn 1.3.0 download\0",
                  "ffmpeg.zip": zipped.getvalue(), "empty": b"", **tools}
        paths = {}
        for name, data in bodies.items():
            paths[name] = os.path.join(d, name)
            with open(paths[name], "wb") as f:
                f.write(data)
        self.known = {hashlib.sha256(v).hexdigest(): k for k, v in bodies.items() if v}
        return paths

    def wine(self, prefix, *args, **kw):
        return subprocess.run(["wine", *args], env=dict(self.env, WINEPREFIX=prefix), **kw)

    def stop_wine(self, prefix):
        subprocess.run(["wineserver", "-k"], env=dict(self.env, WINEPREFIX=prefix),
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=dict(self.env, WINEPREFIX=prefix))

    def make_template(self):
        template = os.path.join(self.work, "template")
        stamp = os.path.join(template, ".ready")
        ca = os.path.join(self.certs, "ca.der")
        if os.path.exists(stamp) and open(stamp).read() == open(ca, "rb").read().hex():
            return template
        shutil.rmtree(template, ignore_errors=True)
        clone(os.path.join(self.build, "wineprefix"), template)
        tar = os.path.join(self.build, "tests", "tar.exe")
        if os.path.exists(tar):
            shutil.copy(tar, os.path.join(template, "drive_c", "windows", "system32", "tar.exe"))
        trust = os.path.join(self.build, "tests", "e2e", "trust_root.exe")
        self.wine(template, trust, ca, check=True)
        self.stop_wine(template)
        with open(stamp, "w") as f:
            f.write(open(ca, "rb").read().hex())
        return template

    def start_server(self, behaviours, manifest):
        self.stop_server()
        if behaviours == "none":
            return
        self.server_dir = os.path.join(self.work, "server-%d" % time.monotonic_ns())
        os.makedirs(self.server_dir)
        digest = hashlib.sha256(open(self.bodies["download"], "rb").read()).hexdigest()
        values = {"runtime_sha256": digest,
                  "runtime_size": str(os.path.getsize(self.bodies["download"]))}
        values.update({"file:" + k: v for k, v in self.bodies.items()})
        fill = lambda text: re.sub(r"\{([\w:.-]+)\}", lambda m: values[m.group(1)], text)
        manifest = manifest or ('{"latest":"1.3.0","download_url":"https://tarnwick.dev%s",'
                                '"sha256":"{runtime_sha256}","size":{runtime_size}}' % DOWNLOAD)
        script = json.loads(fill(behaviours or "[]")) + [
            {"path": API, "body": fill(manifest), "headers": [["Content-Type", "application/json"]]},
            {"path": DOWNLOAD, "body_file": self.bodies["download"]},
            {"path": FFMPEG, "body_file": self.bodies["ffmpeg.zip"]},
            {"path": YTDLP, "body_file": self.bodies["yt-dlp.exe"]}]
        for b in script:
            b.setdefault("times", 0)
        with open(os.path.join(self.server_dir, "script.json"), "w") as f:
            json.dump(script, f)
        subprocess.Popen([sys.executable, SERVER, "serve", self.server_dir, "--tls",
                          os.path.join(self.certs, "named.pem"), "--port", "443",
                          "--idle", "300", "--lifetime", "900"])
        while not os.path.exists(os.path.join(self.server_dir, "port")):
            time.sleep(0.02)

    def stop_server(self):
        if not self.server_dir:
            return
        open(os.path.join(self.server_dir, "stop"), "w").close()
        while not os.path.exists(os.path.join(self.server_dir, "exited")):
            time.sleep(0.02)
        shutil.rmtree(self.server_dir)
        self.server_dir = None

    def installed_template(self):
        """A prefix after a silent install of the bundled runtime with its extras."""
        if not self.installed:
            self.installed = os.path.join(self.work, "installed-%d" % os.getpid())
            clone(self.template, self.installed)
            self.start_server('[{"path": "%s", "status": 503}]' % API, None)
            result = self.setup(self.installed, ["--silent"], "", "pipe")
            self.stop_wine(self.installed)
            if result[0] != 0:
                raise SystemExit("could not make the installed prefix:\n" + result[1] + result[2])
        return self.installed

    def setup(self, prefix, args, stdin, console):
        home = user_home(prefix)
        exe = os.path.join(home, "Downloads", "Tarnwick-Setup.exe")
        os.makedirs(os.path.dirname(exe), exist_ok=True)
        shutil.copy(os.path.join(self.build, "Tarnwick-Setup.exe"), exe)
        env = dict(self.env, WINEPREFIX=prefix)
        if console == "pipe":
            p = subprocess.run(["wine", exe, *args], input=stdin.encode(), capture_output=True,
                               cwd=home, env=env, timeout=150)
            return p.returncode, p.stdout.decode("latin-1"), p.stderr.decode("latin-1")
        return on_terminal(exe, args, stdin, console, home, env)


def on_terminal(exe, args, stdin, console, home, env):
    """Runs on a pseudo-terminal, so that the program has a console. "shared":
    through cmd /c, which redirects the streams to files; "own": started alone
    with only its output in files, the terminal its input; it must still be
    waiting a second after the pause line, and a key press then ends it."""
    files = {n: os.path.join(home, n + ".txt") for n in ("in", "out", "err")}
    with open(files["in"], "w") as f:
        f.write(stdin)
    win = lambda p: "Z:" + p.replace("/", "\\")
    line = '%s %s < %s > %s 2> %s' % (win(exe), " ".join(args), win(files["in"]),
                                              win(files["out"]), win(files["err"]))
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(home)
        if console == "shared":
            os.execvpe("wine", ["wine", "cmd", "/c", line], env)
        for n, stream in (("out", 1), ("err", 2)):
            os.dup2(os.open(files[n], os.O_WRONLY | os.O_CREAT | os.O_TRUNC), stream)
        os.execvpe("wine", ["wine", exe, *args], env)
    read = lambda n: open(files[n], encoding="latin-1", newline="").read() if os.path.exists(files[n]) else ""
    waited, deadline = "", time.monotonic() + 120
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
        if console == "own" and not waited and PAUSE.replace("\n", "\r\n") in read("out"):
            time.sleep(1)
            waited = "still waiting" if os.waitpid(pid, os.WNOHANG)[0] == 0 else "did not wait"
            os.write(fd, b"k")
        if select.select([fd], [], [], 0.05)[0]:
            try:
                os.read(fd, 4096)  # the terminal's echo and title; not compared
            except OSError:
                time.sleep(0.05)
    else:
        os.kill(pid, 9)
        os.waitpid(pid, 0)
        return -1, "timed out", ""
    out = read("out") + ("<%s a second after the pause line>\n" % waited if waited else "")
    return os.waitstatus_to_exitcode(status), out, read("err")


def clone(src, dst):
    """Hard links for the prefix, real copies for what Wine or the setup rewrite."""
    run("cp", "-al", src, dst)
    for d, _, files in os.walk(dst):
        for f in files:
            path = os.path.join(d, f)
            if f.endswith(".reg") or "/AppData/Local/Tarnwick/" in path:
                shutil.copy2(os.path.realpath(path), path + ".tmp")
                os.replace(path + ".tmp", path)


def user_home(prefix):
    users = os.path.join(prefix, "drive_c", "users")
    return os.path.join(users, [u for u in os.listdir(users) if u != "Public"][0])


def normalise(text, prefix):
    user = os.path.basename(user_home(prefix))
    text = text.replace("\r\n", "\n").replace("C:\\users\\%s\\" % user, "C:\\users\\USER\\")
    text = re.sub(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]", "[time]", text, flags=re.M)
    progress = re.compile(r"^ {8}[\d.]+ (B|KB|MB|GB)( / | downloaded)")
    lines = []
    for line in text.split("\n"):
        # Progress redraws depend on how the bytes arrived; only the last of a
        # run of them is compared. Status texts on the same line all are.
        parts = line.split("\r")
        keep = [p for i, p in enumerate(parts)
                if not (progress.match(p) and i + 1 < len(parts) and progress.match(parts[i + 1]))]
        lines.append("\\r".join(keep))
    return "\n".join(lines)


def tree(world, prefix):
    root = os.path.join(user_home(prefix), "AppData", "Local", "Tarnwick")
    out, counts = [], {}
    for d, _, files in os.walk(root):
        for f in files:
            rel = os.path.relpath(os.path.join(d, f), root).replace(os.sep, "/")
            module = re.match(r"((versions/[^/]+/)?modules)/", rel)
            if module:
                counts[module.group(1)] = counts.get(module.group(1), 0) + 1
                continue
            data = open(os.path.join(d, f), "rb").read()
            name = world.known.get(hashlib.sha256(data).hexdigest())
            if rel.endswith(".txt"):
                name = repr(data.decode("latin-1"))
            out.append(rel + (" = " + name if name else ""))
    out += ["%s/ (%d files)" % kv for kv in counts.items()]
    return "\n".join(sorted(out)) if out else "(no installation folder)"


def user_path(world, prefix):
    p = world.wine(prefix, "reg", "query", "HKCU\\Environment", "/v", "Path", capture_output=True)
    m = re.search(r"^\s+Path\s+(REG_\w+)\s+(.*?)\r?$", p.stdout.decode("latin-1"), re.M)
    return normalise("%s %s" % m.groups(), prefix) if m else "(no Path value)"


def prepare(prefix, steps):
    root = os.path.join(user_home(prefix), "AppData", "Local", "Tarnwick")
    for step in filter(None, (s.strip() for s in steps.split(";"))):
        kind, rel = step.split(" ", 1)
        path = os.path.join(root, rel)
        if os.path.isdir(path):
            shutil.rmtree(path)
        elif os.path.exists(path):
            os.remove(path)
        os.makedirs(path if kind == "mkdir" else os.path.dirname(path), exist_ok=True)
        if kind == "file":
            open(path, "w").close()


def scenario(world, name, update):
    path = os.path.join(DATA, name + ".txt")
    text = open(path).read()
    head, _, expected = text.partition("=== ")
    keys = dict(l.split(": ", 1) for l in head.splitlines() if l.strip())
    prefix = os.path.join(world.work, "run-" + name)
    shutil.rmtree(prefix, ignore_errors=True)
    clone(world.installed_template() if keys.get("start") == "installed" else world.template,
          prefix)
    prepare(prefix, keys.get("prepare", ""))
    world.start_server(keys.get("server"), keys.get("manifest"))
    code, out, err = world.setup(prefix, keys.get("args", "").split(),
                                 keys.get("stdin", "").replace("\\n", "\n"),
                                 keys.get("console", "pipe"))
    seen = "=== exit %d\n=== stdout\n%s\n=== stderr\n%s\n=== tree\n%s\n=== path\n%s\n" % (
        code, normalise(out, prefix), normalise(err, prefix), tree(world, prefix),
        user_path(world, prefix))
    world.stop_wine(prefix)
    world.stop_server()
    if update:
        with open(path, "w") as f:
            f.write(head + seen)
    if update or seen == "=== " + expected:
        shutil.rmtree(prefix)
        return True
    sys.stdout.writelines(difflib.unified_diff(("=== " + expected).splitlines(True),
                                               seen.splitlines(True), "expected", "seen"))
    print("prefix kept in", prefix)
    return False


def demo(world, args):
    prefix = os.path.join(world.work, "demo")
    if not os.path.exists(prefix):
        clone(world.template, prefix)
    world.start_server(None, None)
    env = dict(world.env, WINEPREFIX=prefix)
    home = user_home(prefix)
    exe = os.path.join(home, "Downloads", "Tarnwick-Setup.exe")
    os.makedirs(os.path.dirname(exe), exist_ok=True)
    shutil.copy(os.path.join(world.build, "Tarnwick-Setup.exe"), exe)
    code = subprocess.run(["wine", exe, *args], cwd=home, env=env).returncode
    root = os.path.join(home, "AppData", "Local", "Tarnwick")
    print("\nTarnwick-Setup.exe exited with %d." % code)
    if os.path.exists(os.path.join(root, "bin", "tarn.exe")):
        print("Installed in %s\n(C:\\users\\%s\\AppData\\Local\\Tarnwick in the Wine prefix %s)\n"
              % (root, os.path.basename(home), prefix))
        print("$ tarn --version")
        subprocess.run(["wine", os.path.join(root, "bin", "tarn.exe"), "--version"], env=env)
    else:
        print("Nothing is installed in %s." % root)
    world.stop_wine(prefix)
    world.stop_server()
    return code


def main(argv):
    build = os.path.abspath(argv[argv.index("--build") + 1])
    names = [a for a in argv[argv.index("--build") + 2:] if a != "--update"]
    if os.environ.get("TARN_E2E_NAMESPACE") != "1":
        os.environ["TARN_E2E_NAMESPACE"] = "1"
        return subprocess.run(["unshare", "--map-root-user", "--net", "--mount", sys.executable,
                               os.path.abspath(__file__), *argv]).returncode
    world = World(build)
    try:
        if "--demo" in argv:
            return demo(world, argv[argv.index("--demo") + 1:])
        names = names or sorted(f[:-4] for f in os.listdir(DATA) if f.endswith(".txt"))
        failed = [n for n in names if not scenario(world, n, "--update" in argv)]
        print("%d of %d scenarios passed" % (len(names) - len(failed), len(names)), failed or "")
        return 1 if failed else 0
    finally:
        world.stop_server()
        if world.installed:
            world.stop_wine(world.installed)
            shutil.rmtree(world.installed, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
