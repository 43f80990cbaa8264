#!/usr/bin/env python3
# End-to-end scenarios of the shipped Tarnwick-Setup.exe under Wine.
#
#     run_e2e.py --build DIR [--update] [NAME...]   tests/data/e2e/NAME.txt (default: all);
#                                                   --update writes what was seen into them
#     run_e2e.py --build DIR --demo [ARG...]        one run on this terminal (scripts/run.sh),
#                                                   its prefix kept in DIR/e2e/demo (or
#                                                   $TARN_DEMO_PREFIX)
#     run_e2e.py --build DIR --piped-script         scripts/run.sh | cat on a new demo prefix
#     run_e2e.py --build DIR --proxy WAY [NAME...]  the scenarios with every request sent
#                                                   through the test proxy, one of the ways
#                                                   of tests/data/e2e-proxy/ways.json
#
# All runs happen in a private user, network and mount namespace whose /etc/hosts
# sends the update service's host and the two extras hosts to 127.0.0.1, where
# tests/server/test_server.py answers on port 443 with a certificate of a test CA
# that only the Wine prefixes trust. Each scenario gets a fresh prefix, hard-linked
# from a template. A scenario file holds "key: value" lines, then the expected
# "=== exit", "=== stdout", "=== stderr", "=== tree" (installation folder) and
# "=== path" (user PATH in the registry). Keys (defaults in KEYS): args; stdin ("\n"
# escapes); start (fresh | installed); server (none | JSON behaviours tried before the
# defaults); manifest (the service's answer); prepare ("rm|mkdir|file PATH; ..." in the
# installation folder, "file PATH=TEXT" writing that line); console (pipe | own: alone
# on a terminal, a key ends the pause | shared: through cmd /c on a terminal); then
# ("quiet-uninstall": a second run, the entry's QuietUninstallString as written, adds
# "=== then"); check ("windows log": adds "=== windows" (Apps & Features entry, Start
# menu shortcut, the setup's copy) and "=== log" (logs\setup.log) to what is compared);
# lang (LANG for Wine, which takes the ANSI code page from it); local (LOCALAPPDATA, a
# path below C:\ that cmd /c sets inside Wine); together (that many setups started at
# once: their exits, outputs and error streams in sorted order, "--- next" between).
#
# A build with release keys (TARN_RELEASE_KEYS) runs tests/data/e2e-signed instead,
# whose default answer carries "{signature}": the download signed at run time by
# minisign with the test key tests/data/update/test_release.key. More keys there:
# sign (prehashed | legacy | tampered: a byte of the signed copy changed |
# stranger: the untrusted key tests/data/update/untrusted_release.key), comment
# (the trusted comment).
#
# With --proxy the test proxy listens on 127.0.0.1:3128 and is named the way the row
# says (the environment or the user's setting in the registry); each scenario must
# show what it shows without one, every request the service saw for a host not named
# "direct" must have come through the proxy, and none for a host named so. A row may
# bring its own scenarios (tests/data/e2e-proxy/NAME.txt, a 407 for instance).
import contextlib, difflib, glob, hashlib, io, json, os, pathlib, re, shlex, shutil, subprocess, sys, time, zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DATA = os.path.join(ROOT, "tests", "data")
SERVER = os.path.join(ROOT, "tests", "server", "test_server.py")
HOSTS = ["tarnwick.dev", "www.gyan.dev", "github.com"]
PROXY = "127.0.0.1:3128"
INTERNET_SETTINGS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"
UNINSTALL_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwick"
API = "/api/tarnwick/version"
PATHS = {"download": "/dl/1.3.0/tarn.exe",
         "ffmpeg.zip": "/ffmpeg/builds/ffmpeg-release-essentials.zip",
         "yt-dlp.exe": "/yt-dlp/yt-dlp/releases/latest/download/yt-dlp.exe",
         "ffmpeg.zip.sha256": "/ffmpeg/builds/ffmpeg-release-essentials.zip.sha256",
         "SHA2-256SUMS": "/yt-dlp/yt-dlp/releases/latest/download/SHA2-256SUMS"}
MANIFEST = ('{"latest": "1.3.0", "download_url": "https://tarnwick.dev/dl/1.3.0/tarn.exe", '
            '"sha256": "{runtime_sha256}", "size": {runtime_size}}')
SIGNED_MANIFEST = MANIFEST[:-1] + ', "signature": "{signature}"}'
# A scenario's keys when it does not give them.
KEYS = {"args": "", "stdin": "", "start": "fresh", "server": "[]", "manifest": None, "prepare": "",
        "console": "pipe", "then": "", "check": "", "lang": None, "local": "", "together": "1",
        "sign": "prehashed", "comment": "tarnwick 1.3.0 expires 2099-12-31"}
PAUSE = "\r\nDevam etmek icin bir tusa basin . . .\r\n"
# The run's log and the setup's own copy, checked apart from the tree.
OWN_FILES = ("logs/setup.log", "Tarnwick-Setup.exe")
LAYOUT_FOLDERS = ("bin", "cache", "config", "logs", "modules", "tools", "versions")
PROGRESS = re.compile(r"^ {8}[\d.]+ (B|KB|MB|GB)( / | downloaded)")
PIPE, DEVNULL = subprocess.PIPE, subprocess.DEVNULL


def sha(data):
    return hashlib.sha256(data).hexdigest()


def read(path):
    """A file's text (latin-1); none when it is not there (or a process ended meanwhile)."""
    with contextlib.suppress(OSError):
        return open(path, "rb").read().decode("latin-1")
    return ""


def win(path):
    return "Z:" + path.replace("/", "\\")


def log_lines(folder):
    return [json.loads(l) for l in read(os.path.join(folder, "requests.log")).splitlines()]


def clone(src, dst):
    """Hard links, except what Wine or the setup rewrite in place."""
    subprocess.run(["cp", "-al", src, dst], check=True)
    for d, _, files in os.walk(dst):
        for path in (os.path.join(d, f) for f in files):
            if path.endswith((".reg", ".key")) or "/Local/Tarnwick/" in path:
                shutil.copy2(path, path + ".tmp")
                os.replace(path + ".tmp", path)


class World:
    """The namespace's hosts file, certificates, bodies, template prefixes and servers,
    and the proxy way: one row of tests/data/e2e-proxy/ways.json, or none."""

    def __init__(self, build, way):
        self.build, self.work, self.servers, self.way = build, os.path.join(build, "e2e"), {}, way
        # No winemenubuilder: a shortcut must not reach the Linux user's desktop menus.
        self.env = {k: v for k, v in os.environ.items()
                    if k != "DISPLAY" and k.lower() not in ("http_proxy", "https_proxy", "no_proxy")}
        self.env.update(WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        self.signed = bool(re.search(r"^TARN_RELEASE_KEYS:\w+=.+$", read(self.file("CMakeCache.txt")),
                                     re.M))
        self.data = os.path.join(DATA, "e2e-signed" if self.signed else "e2e")
        # Wine finds a prefix's server in /tmp/.wine-<uid> by the prefix's inode, which a
        # new prefix may share with another Wine user's old one: these servers stay apart.
        servers, hosts = "/tmp/.wine-%d" % os.getuid(), os.path.join(self.work, "hosts")
        os.makedirs(servers, exist_ok=True)
        os.makedirs(self.work, exist_ok=True)
        pathlib.Path(hosts).write_text("127.0.0.1 localhost " + " ".join(HOSTS) + "\n")
        for command in (["mount", "-t", "tmpfs", "tmpfs", servers], ["ip", "link", "set", "lo", "up"],
                        ["mount", "--bind", hosts, "/etc/hosts"]):
            subprocess.run(command, check=True)
        self.certs = os.path.join(self.work, "certs")
        if not os.path.exists(os.path.join(self.certs, "done")):
            subprocess.run([sys.executable, SERVER, "certs", self.certs, *HOSTS], check=True)
        bundled = self.bytes("stand-in/tarn.exe")
        tools = {n: (n + " stand-in\n").encode() * 128 for n in ("ffmpeg.exe", "ffprobe.exe")}
        archive = io.BytesIO()
        with zipfile.ZipFile(archive, "w") as z:
            for name, data in tools.items():
                info = zipfile.ZipInfo("ffmpeg-7.1-essentials_build/bin/" + name)
                info.external_attr = 0o755 << 16  # a program on Linux is one by its mode
                z.writestr(info, data)
        self.bodies = dict(tools, bundled=bundled, download=bundled + b"\0tarn 1.3.0\0",
                           **{"ffmpeg.zip": archive.getvalue(), "yt-dlp.exe": b"yt-dlp\n" * 300})
        # The publishers' checksum files, beside their downloads.
        self.bodies["ffmpeg.zip.sha256"] = sha(self.bodies["ffmpeg.zip"]).encode() + b"\n"
        self.bodies["SHA2-256SUMS"] = ("%s  yt-dlp\n%s  yt-dlp.exe\n" % (
            sha(b"other"), sha(self.bodies["yt-dlp.exe"]))).encode()
        self.known = {sha(v): k for k, v in self.bodies.items()}

    def file(self, rel):
        return os.path.join(self.build, *rel.split("/"))

    def bytes(self, rel):
        return open(self.file(rel), "rb").read()

    def prepared(self, name):
        """The "template" prefix, or the "installed" one (a silent install in a copy of
        the template), made again when what it was made from changed."""
        path, installed = os.path.join(self.work, name), name == "installed"
        key = sha(self.bytes("e2e/certs/ca.der") + self.bytes("tests/fake_tar.exe") +
                  (self.bytes("Tarnwick-Setup.exe") if installed else b""))
        if read(os.path.join(path, ".key")) == key:
            return path
        shutil.rmtree(path, ignore_errors=True)
        clone(self.prepared("template") if installed else self.file("wineprefix"), path)
        prefix = Prefix(self, path)
        if installed:
            self.start_service('[{"path": "%s", "status": 503}]' % API)
            code, out, err = prefix.setup(["--silent"])
            if code != 0:
                raise SystemExit("the installed prefix could not be made:\n" + out + err)
        else:
            # Wine has no tar; the extras tests' stand-in runs bsdtar in its place.
            shutil.copy(self.file("tests/fake_tar.exe"),
                        os.path.join(path, "drive_c", "windows", "system32", "tar.exe"))
            prefix.wine(self.file("tests/e2e/trust_root.exe"), self.certs, check=True)
            # A fresh user has no PATH of their own; the build's prefix may have one from tests.
            prefix.wine("reg", "delete", "HKCU\\Environment", "/v", "Path", "/f")
            # Nor a proxy setting of the net tests that Wine wrote to disk before they undid it.
            prefix.set_values(INTERNET_SETTINGS, {"ProxyEnable": 0})
        prefix.stop_wine()
        pathlib.Path(path, ".key").write_text(key)
        return path

    def start_service(self, behaviours="[]", manifest=None, sign=KEYS["sign"], comment=KEYS["comment"]):
        """The proxy the way names; the update service and the extras hosts on port 443,
        the behaviours tried before the defaults; with the way's own answer, the same over
        HTTP on 8080 too, for a mirror on this machine."""
        self.stop_service()
        if self.way:
            self.serve("proxy", [{"proxy": True, "auth": self.way.get("auth")}], "--port", PROXY[-4:])
        if behaviours == "none":
            return
        values = {"runtime_sha256": sha(self.bodies["download"]), "signature": self.sign(sign, comment),
                  "runtime_size": str(len(self.bodies["download"]))}
        fill = lambda text: re.sub(r"\{(\w+)\}", lambda m: values[m.group(1)], text)
        manifest = manifest or self.way.get("manifest") or (SIGNED_MANIFEST if self.signed else MANIFEST)
        script = json.loads(fill(behaviours)) + [{"path": API, "body": fill(manifest)}] + [
            {"path": path, "body": self.bodies[n].decode("latin-1")} for n, path in PATHS.items()]
        self.serve("server", script, "--port", "443", "--tls", os.path.join(self.certs, "named.pem"))
        if "manifest" in self.way:
            self.serve("plain", script, "--port", "8080")

    def serve(self, name, script, *options):
        folder = self.servers[name] = os.path.join(self.work, name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        pathlib.Path(folder, "script.json").write_text(json.dumps([dict(b, times=0) for b in script]))
        subprocess.Popen([sys.executable, SERVER, "serve", folder, *options, "--idle", "600"])
        while not os.path.exists(os.path.join(folder, "port")):
            time.sleep(0.02)

    def stop_service(self):
        """Asks the servers to end and waits until they have."""
        for folder in self.servers.values():
            pathlib.Path(folder, "stop").touch()
            while not os.path.exists(os.path.join(folder, "exited")):
                time.sleep(0.02)
        self.servers = {}

    def traffic(self):
        """What went wrong with the way the requests went; empty when nothing did."""
        if not self.way:
            return ""
        for _ in range(100):  # a tunnel is recorded once both ends have closed
            lines = log_lines(self.servers["proxy"])
            relayed = [l for l in lines if l.get("event") == "relayed"]
            if self.way.get("refused") or len(relayed) == sum("event" not in l for l in lines):
                break
            time.sleep(0.1)
        host = lambda target: re.sub(r"^\w+://", "", target).split("/")[0].rsplit(":", 1)[0]
        through = sorted(host(l["target"]) for l in relayed)
        if self.way.get("refused"):
            return "relayed %s" % through if through else ""
        served = sorted(host(v) for name, folder in self.servers.items() if name != "proxy"
                        for l in log_lines(folder) if "event" not in l
                        for n, v in l["headers"] if n.lower() == "host")
        wanted = [h for h in served if h not in self.way.get("direct", [])]
        return "" if through == wanted else "relayed %s, the service saw %s" % (through, served)

    def sign(self, how, comment):
        """The minisign signature of the download, made now, escaped for a JSON string."""
        data, copy = self.bodies["download"], os.path.join(self.work, "signed.bin")
        if how == "tampered":
            data = data[:-1] + bytes([data[-1] ^ 1])
        pathlib.Path(copy).write_bytes(data)
        # The stranger's key is fixed, so its key id in the transcript is too.
        key = "untrusted_release.key" if how == "stranger" else "test_release.key"
        subprocess.run(["minisign", "-S", "-s", os.path.join(DATA, "update", key), "-m", copy,
                        "-t", comment] + (["-l"] if how == "legacy" else []),
                       check=True, capture_output=True)
        return json.dumps(read(copy + ".minisig"))[1:-1]


class Prefix:
    """A Wine prefix and its user: where the installation is, and how things run there."""

    def __init__(self, world, path, local=""):
        self.world, self.path, self.env = world, path, dict(world.env, WINEPREFIX=path)
        users = os.path.join(path, "drive_c", "users")
        self.user = [u for u in os.listdir(users) if u != "Public"][0]
        self.home = os.path.join(users, self.user)
        folder, self.shown = os.path.join(self.home, "AppData", "Local"), ""
        if local:  # a LOCALAPPDATA below C:\
            folder, self.shown = os.path.join(path, "drive_c", *local.split("\\")), "C:\\" + local
            os.makedirs(folder, exist_ok=True)
        self.root = os.path.join(folder, "Tarnwick")

    def wine(self, *args, check=False):
        return subprocess.run(["wine", *args], env=self.env, capture_output=True, check=check)

    def values(self, key):
        """A registry key's values by name, as (type, data)."""
        found = re.findall(r"^[ \t]+(\w+)[ \t]+(REG_\w+)[ \t]*(.*?)\r?$",
                           self.wine("reg", "query", key).stdout.decode("latin-1"), re.M)
        return {name: (kind, value) for name, kind, value in found}

    def set_values(self, key, values):
        for name, value in values.items():
            self.wine("reg", "add", key, "/v", name, "/t",
                      "REG_DWORD" if isinstance(value, int) else "REG_SZ", "/d", str(value), "/f",
                      check=True)

    def stop_wine(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env)

    def setup(self, args, stdin="", console="pipe", together=1, exe=None, env={}):
        """Runs the program as a user would, from their Downloads folder."""
        if exe is None:
            exe = os.path.join(self.home, "Downloads", "Tarnwick-Setup.exe")
            # Wine links the profile's Downloads to the Unix user's, which every other run shares.
            if os.path.islink(os.path.dirname(exe)):
                os.unlink(os.path.dirname(exe))
            os.makedirs(os.path.dirname(exe), exist_ok=True)
            shutil.copy(self.world.file("Tarnwick-Setup.exe"), exe)
        env = dict(self.env, **env)
        # Wine's own helper processes start with the first program and write
        # to its error stream; start them first, with nothing to write to.
        subprocess.run(["wine", "cmd", "/c", "exit"], env=env, stdin=DEVNULL, stdout=DEVNULL,
                       stderr=DEVNULL)
        command = ["wine", exe, *args]
        if self.shown:  # set inside Wine: a LOCALAPPDATA set outside does not reach the program
            command = ["wine", "cmd", "/c", "set LOCALAPPDATA=%s&& %s" % (
                self.shown, subprocess.list2cmdline([win(exe), *args]))]
        if console == "terminal":
            return subprocess.run(command, cwd=self.home, env=env).returncode
        if console != "pipe":
            return self.on_terminal(exe, args, stdin, console, env)
        runs = [subprocess.Popen(command, stdin=PIPE, stdout=PIPE, stderr=PIPE, cwd=self.home,
                                 env=env) for _ in range(together)]
        seen = sorted((p.returncode, out.decode("latin-1"), err.decode("latin-1"))
                      for p, (out, err) in ((p, p.communicate(stdin.encode(), timeout=280))
                                            for p in runs))
        codes, outs, errs = zip(*seen)
        return max(codes), "\n--- next\n".join(outs), "\n--- next\n".join(errs)

    def on_terminal(self, exe, args, stdin, console, env):
        """On a pseudo-terminal (script's) the program has a console. "shared": cmd /c
        runs it with its streams redirected to files. "own": alone, output in files, the
        terminal its input; it must still wait a second after the pause line, and
        a key press then ends it. (A key typed ahead cannot be tested here: Wine
        leaves it in the terminal, out of reach of FlushConsoleInputBuffer.)"""
        files = {n: os.path.join(self.home, n + ".txt") for n in ("in", "out", "err")}
        pathlib.Path(files["in"]).write_text(stdin)
        line = "%s %s < %s > %s 2> %s" % (win(exe), " ".join(args), *map(win, files.values()))
        shell = shlex.join(["wine", "cmd", "/c", line]) if console == "shared" else "%s > %s 2> %s" % (
            shlex.join(["wine", exe, *args]), shlex.quote(files["out"]), shlex.quote(files["err"]))
        p = subprocess.Popen(["script", "-qec", shell, "/dev/null"], stdin=PIPE, stdout=DEVNULL,
                             cwd=self.home, env=env)
        waited = ""
        while console == "own" and not waited and p.poll() is None:
            if PAUSE in read(files["out"]):
                time.sleep(1)
                waited = "still waiting" if p.poll() is None else "ended"
            time.sleep(0.05)
        if waited == "still waiting":
            p.stdin.write(b"k")
            p.stdin.flush()
        p.wait(120)
        note = "<%s a second after the pause line>\n" % waited if waited else ""
        return p.returncode, read(files["out"]) + note, read(files["err"])

    def quiet_uninstall(self):
        """The entry's QuietUninstallString as written, by its Windows path as Settings
        starts it (a Z: path names another volume)."""
        line = self.values(UNINSTALL_KEY)["QuietUninstallString"][1]
        exe, args = re.fullmatch(r'"([^"]+)"(.*)', line).groups()
        return self.setup(args.split(), exe=exe)

    def prepare(self, steps):
        """rm, mkdir or file (empty, or "file PATH=TEXT": that line) in the installation."""
        for kind, rel in (s.split(None, 1) for s in steps.split(";") if s.strip()):
            rel, given, text = rel.partition("=")
            path = os.path.join(self.root, rel)
            if kind == "rm":
                shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
            else:
                os.makedirs(path if kind == "mkdir" else os.path.dirname(path), exist_ok=True)
            if kind == "file":
                pathlib.Path(path).write_text(text + "\n" if given else "", newline="")

    def normalise(self, text):
        text = text.replace("\r\n", "\n")
        text = text.replace("C:\\users\\%s\\" % self.user, "C:\\users\\USER\\")
        text = re.sub(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]", "[time]", text, flags=re.M)
        # Progress redraws follow the network's timing: of a run of them only
        # the last is compared; status texts on the same line all are.
        redraws = lambda parts: "\\r".join(p for p, n in zip(parts, parts[1:] + [""])
                                           if not (PROGRESS.match(p) and PROGRESS.match(n)))
        return "\n".join(redraws(line.split("\r")) for line in text.split("\n"))

    def tree(self):
        out, modules = [], {}
        for d, _, files in os.walk(self.root):
            for f in files:
                rel = os.path.relpath(os.path.join(d, f), self.root).replace(os.sep, "/")
                if m := re.match(r"(versions/[^/]+/)?modules/", rel):
                    modules[m.group(0)] = modules.get(m.group(0), 0) + 1
                elif rel not in OWN_FILES:
                    data = open(os.path.join(d, f), "rb").read()
                    name = repr(data.decode()) if rel.endswith(".txt") else self.world.known.get(sha(data))
                    out.append(rel + (" = " + name if name else ""))
        out += ["%s (%d files)" % kv for kv in modules.items()]
        # The setup runs from the profile folder, where an installation's paths land when its root
        # is lost: nothing may.
        out += ["in the current folder: " + f for f in os.listdir(self.home) if f in LAYOUT_FOLDERS]
        return "\n".join(sorted(out)) or "(no installation folder)"

    def user_path(self):
        kind, value = self.values("HKCU\\Environment").get("Path", ("", ""))
        return self.normalise(kind + " " + value) if kind else "(no Path value)"

    def windows(self):
        """The Apps & Features entry, the shortcut, what an uninstall left in %TEMP%
        and the setup's copy."""
        out, setup = [], self.world.file("Tarnwick-Setup.exe")
        for name, (kind, value) in sorted(self.values(UNINSTALL_KEY).items()):
            if name == "InstallDate" and re.fullmatch(r"20\d{6}", value):
                value = "YYYYMMDD"
            if name == "EstimatedSize" and int(value, 16) * 1024 >= os.path.getsize(setup):
                value = "(KiB, at least the setup's size)"
            out.append("%s %s %s" % (name, kind, self.normalise(value)))
        out = out or ["(no Apps & Features entry)"]
        links = [os.path.relpath(os.path.join(d, f), self.home).replace(os.sep, "\\")
                 for d, _, files in os.walk(self.home) for f in files if f == "Tarnwick Console.lnk"]
        out += ["shortcut " + l for l in links] or ["(no shortcut)"]
        # An uninstall from the copy moves it to Wine's %TEMP%; it and its remover go
        # once that ended.
        deadline = time.time() + 10
        while (left := sorted(glob.glob("Tarnwick-Setup*", root_dir=os.path.join(self.home, "Temp")))) \
                and time.time() < deadline:
            time.sleep(0.1)
        out += ["left in %TEMP%: " + f for f in left]
        copy = os.path.join(self.root, "Tarnwick-Setup.exe")
        if os.path.exists(copy):
            out.append("Tarnwick-Setup.exe " + ("= setup" if read(copy) == read(setup) else "differs"))
        return "\n".join(out)

    def log(self):
        text = self.normalise(read(os.path.join(self.root, "logs", "setup.log")))
        return re.sub(r"time=\d+ms", "time=Nms", text) or "(no log file)"


def scenario(world, name, update):
    path, = glob.glob(os.path.join(DATA, "e2e*", name + ".txt"))
    head, _, expected = open(path).read().partition("=== ")
    keys = dict(KEYS, **dict(line.split(": ", 1) for line in head.splitlines() if line.strip()))
    folder = os.path.join(world.work, "run-" + name)
    shutil.rmtree(folder, ignore_errors=True)
    clone(world.prepared("template" if keys["start"] == "fresh" else "installed"), folder)
    prefix = Prefix(world, folder, keys["local"])
    prefix.prepare(keys["prepare"])
    world.start_service(keys["server"], keys["manifest"], keys["sign"], keys["comment"])
    prefix.set_values(INTERNET_SETTINGS, world.way.get("registry", {}))
    env = dict(world.way.get("env", {}), **({"LANG": keys["lang"]} if keys["lang"] else {}))
    code, out, err = prefix.setup(keys["args"].split(), keys["stdin"].replace("\\n", "\n"),
                                  keys["console"], int(keys["together"]), env=env)
    seen = "exit %d\n=== stdout\n%s\n=== stderr\n%s\n" % (code, prefix.normalise(out),
                                                         prefix.normalise(err))
    if keys["then"] == "quiet-uninstall":
        code, out, err = prefix.quiet_uninstall()
        seen += "=== then exit %d\n%s\n=== then stderr\n%s\n" % (code, prefix.normalise(out),
                                                                prefix.normalise(err))
    traffic = world.traffic()
    world.stop_service()
    seen += "=== tree\n%s\n=== path\n%s\n" % (prefix.tree(), prefix.user_path())
    for section in keys["check"].split():
        seen += "=== %s\n%s\n" % (section, getattr(prefix, section)())
    prefix.stop_wine()
    if traffic:
        print(name, "through the proxy:", traffic)
        return False
    if update:
        pathlib.Path(path).write_text(head + "=== " + seen)
    elif seen != expected:
        sys.stdout.writelines(difflib.unified_diff(
            expected.splitlines(True), seen.splitlines(True), name + " expected", "seen"))
        print("prefix kept in", folder)
        return False
    shutil.rmtree(folder)
    return True


def demo(world, args):
    path = os.environ.get("TARN_DEMO_PREFIX") or os.path.join(world.work, "demo")
    if not os.path.exists(path):
        clone(world.prepared("template"), path)
    prefix = Prefix(world, path)
    # The stand-in runtime calls itself 1.0.0; so does the service here.
    world.start_service(manifest=MANIFEST.replace("1.3.0\"", "1.0.0\""))
    code = prefix.setup(args, console="terminal")
    world.stop_service()
    print("\nTarnwick-Setup.exe ended with exit code %d." % code)
    tarn = os.path.join(prefix.root, "bin", "tarn.exe")
    if os.path.exists(tarn):
        print("Installed in %s\n(the Wine prefix %s)\n\n$ tarn --version" % (prefix.root, path),
              flush=True)
        subprocess.run(["wine", tarn, "--version"], env=prefix.env)
    prefix.stop_wine()
    return code


def piped_script(build):
    """scripts/run.sh | cat, its demo prefix made afresh: it returns with the success
    screen, and nothing it started runs on."""
    prefix = os.path.join(build, "e2e", "piped")
    shutil.rmtree(prefix, ignore_errors=True)
    try:
        script = subprocess.run(["bash", "-c", "set -o pipefail; scripts/run.sh | cat"], cwd=ROOT,
                                env=dict(os.environ, TARN_DEMO_PREFIX=prefix), stdin=DEVNULL,
                                stdout=PIPE, stderr=subprocess.STDOUT, timeout=240)
        code, out = script.returncode, script.stdout.decode("latin-1")
    except subprocess.TimeoutExpired:
        code, out = "(still running after 240 s)", ""
    left = [int(pid) for pid in glob.glob("[0-9]*", root_dir="/proc")
            if "TARN_DEMO_PREFIX=%s\0" % prefix in read("/proc/%s/environ" % pid)]
    for pid in left:
        with contextlib.suppress(OSError):  # ended meanwhile
            os.kill(pid, 9)
    failures = [text for text, bad in (
        ("exit code %s" % code, code != 0),
        ("no success screen", "Tarnwick installed successfully." not in out),
        ("no tarn --version", "tarn 1.0.0" not in out),
        ("still running: %s" % left, left)) if bad]
    if failures:
        print(out, "\nscripts/run.sh | cat:", "; ".join(failures))
        return 1
    shutil.rmtree(prefix)
    return 0


def main(argv):
    build = os.path.abspath(argv[argv.index("--build") + 1])
    if "--piped-script" in argv:
        return piped_script(build)
    if os.environ.get("TARN_E2E_NAMESPACE") != "1":
        os.environ["TARN_E2E_NAMESPACE"] = "1"
        return subprocess.run(["unshare", "--map-root-user", "--net", "--mount", sys.executable,
                               os.path.abspath(__file__), *argv]).returncode
    args, way = argv[argv.index("--build") + 2:], {}
    if "--proxy" in args:
        at = args.index("--proxy")
        ways = read(os.path.join(DATA, "e2e-proxy", "ways.json")).replace("{proxy}", PROXY)
        way = next(r for r in json.loads(ways)["ways"] if r["name"] == args[at + 1])
        del args[at:at + 2]
    world = World(build, way)
    if "--demo" in args:
        return demo(world, args[args.index("--demo") + 1:])
    try:
        names = [a for a in args if a != "--update"] or way.get("scenarios") or sorted(
            f[:-4] for f in os.listdir(world.data) if f.endswith(".txt"))
        failed = [n for n in names if not scenario(world, n, "--update" in args)]
        print("%d of %d scenarios passed" % (len(names) - len(failed), len(names)), *failed)
        return 1 if failed else 0
    finally:
        world.stop_service()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
