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
# "=== path" (user PATH in the registry). Keys: args; stdin ("\n" escapes);
# start (fresh | installed); server (none | JSON behaviours tried before the
# defaults); manifest (the service's answer); prepare ("rm|mkdir|file PATH; ..."
# in the installation folder); console (pipe | own: alone on a terminal, a key ends
# the pause | shared: through cmd /c on a terminal); then (a second run after the
# first: "quiet-uninstall" runs the entry's QuietUninstallString as written, anything
# else is the arguments of the setup beside), check ("windows log": adds "=== then",
# "=== windows" (Apps & Features entry, Start menu shortcut, the setup's copy) and
# "=== log" (logs\setup.log) to what is compared); lang (LANG for Wine, which takes
# the ANSI code page from it); local (LOCALAPPDATA, set from inside Wine by the
# launcher: a path below C:\ where {user} is the prefix's user and "{to N}" pads it to
# N characters, then shown as %LOCALAPPDATA%); together (that many setups started at
# once: their exits, outputs and error streams in sorted order, "--- next" between).
#
# A build with release keys (TARN_RELEASE_KEYS) runs tests/data/e2e-signed instead,
# whose default answer carries "{signature}": the download signed at run time by
# minisign with the test key tests/data/update/test_release.key. More keys there:
# sign (prehashed | legacy | tampered: a byte of the signed copy changed |
# stranger: the untrusted key tests/data/update/untrusted_release.key), comment
# (the trusted comment); prepare also takes "text PATH=CONTENT".
#
# With --proxy the test proxy listens on 127.0.0.1:3128 and is named the way the row
# says (the environment or the user's setting in the registry); each scenario must
# show what it shows without one, every request the service saw for a host not named
# "direct" must have come through the proxy, and none for a host named so. A row may
# bring its own scenarios (tests/data/e2e-proxy/NAME.txt, a 407 for instance).
import difflib, hashlib, io, json, os, pty, re, select, shutil, subprocess, sys, time, zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DATA = os.path.join(ROOT, "tests", "data", "e2e")
PROXY_DATA = os.path.join(ROOT, "tests", "data", "e2e-proxy")
PROXY_PORT = 3128
INTERNET_SETTINGS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"
SERVER = os.path.join(ROOT, "tests", "server", "test_server.py")
HOSTS = ["tarnwick.dev", "www.gyan.dev", "github.com"]
PATHS = {"api": "/api/tarnwick/version", "download": "/dl/1.3.0/tarn.exe",
         "ffmpeg.zip": "/ffmpeg/builds/ffmpeg-release-essentials.zip",
         "yt-dlp.exe": "/yt-dlp/yt-dlp/releases/latest/download/yt-dlp.exe",
         "ffmpeg.zip.sha256": "/ffmpeg/builds/ffmpeg-release-essentials.zip.sha256",
         "SHA2-256SUMS": "/yt-dlp/yt-dlp/releases/latest/download/SHA2-256SUMS"}
MANIFEST = ('{"latest": "1.3.0", "download_url": "https://tarnwick.dev/dl/1.3.0/tarn.exe", '
            '"sha256": "{runtime_sha256}", "size": {runtime_size}}')
SIGNED_MANIFEST = MANIFEST[:-1] + ', "signature": "{signature}"}'
TEST_KEY = os.path.join(ROOT, "tests", "data", "update", "test_release.key")
STRANGER_KEY = os.path.join(ROOT, "tests", "data", "update", "untrusted_release.key")
PAUSE = "\r\nDevam etmek icin bir tusa basin . . .\r\n"
# The run's log and the setup's own copy, checked apart from the tree.
OWN_FILES = ("logs/setup.log", "Tarnwick-Setup.exe")
PROGRESS = re.compile(r"^ {8}[\d.]+ (B|KB|MB|GB)( / | downloaded)")


def sha(data):
    return hashlib.sha256(data).hexdigest()


def read(path):
    return open(path, encoding="latin-1", newline="").read() if os.path.exists(path) else ""


class World:
    """The namespace's hosts file, certificates, bodies, template prefixes and server."""

    def __init__(self, build):
        self.build, self.work = build, os.path.join(build, "e2e")
        # No winemenubuilder: a shortcut must not reach the Linux user's desktop menus.
        self.env = dict(os.environ, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        self.env.pop("DISPLAY", None)
        for name in [n for n in self.env if n.lower() in ("http_proxy", "https_proxy", "no_proxy")]:
            self.env.pop(name)
        self.proxy_env = {}  # the proxy's names for the scenario runs, set by --proxy
        os.makedirs(self.work, exist_ok=True)
        # Wine finds a prefix's server in /tmp/.wine-<uid> by the prefix's inode, which a
        # new prefix may share with another Wine user's old one: these servers stay apart.
        servers = "/tmp/.wine-%d" % os.getuid()
        os.makedirs(servers, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "tmpfs", servers], check=True)
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        with open(os.path.join(self.work, "hosts"), "w") as f:
            f.write("127.0.0.1 localhost " + " ".join(HOSTS) + "\n")
        subprocess.run(["mount", "--bind", os.path.join(self.work, "hosts"), "/etc/hosts"],
                       check=True)
        self.certs, self.signature, self.servers = os.path.join(self.work, "certs"), "", []
        if not os.path.exists(os.path.join(self.certs, "done")):
            subprocess.run([sys.executable, SERVER, "certs", self.certs, *HOSTS], check=True)
        # The native build carries no runtime: the test runtime stands in for the download.
        self.native = not os.path.exists(os.path.join(build, "Tarnwick-Setup.exe"))
        bundled = open(os.path.join(build, "tests", "test_runtime") if self.native else
                       os.path.join(build, "stand-in", "tarn.exe"), "rb").read()
        tools = {n: (n + " stand-in\n").encode() * 128 for n in ("ffmpeg.exe", "ffprobe.exe")}
        archive = io.BytesIO()
        with zipfile.ZipFile(archive, "w") as z:
            for name, data in tools.items():
                info = zipfile.ZipInfo("ffmpeg-7.1-essentials_build/bin/" + name)
                if self.native:
                    info.external_attr = 0o755 << 16  # a program on Linux is one by its mode
                z.writestr(info, data)
        self.bodies = dict(tools, bundled=bundled, download=bundled + b"\0tarn 1.3.0\0",
                           **{"ffmpeg.zip": archive.getvalue(), "yt-dlp.exe": b"yt-dlp\n" * 300})
        # The publishers' checksum files, beside their downloads.
        self.bodies["ffmpeg.zip.sha256"] = sha(self.bodies["ffmpeg.zip"]).encode() + b"\n"
        self.bodies["SHA2-256SUMS"] = ("%s  yt-dlp\n%s  yt-dlp.exe\n" % (
            sha(b"other"), sha(self.bodies["yt-dlp.exe"]))).encode()
        self.known = {sha(v): k for k, v in self.bodies.items()}
        for name, data in self.bodies.items():
            with open(os.path.join(self.work, name), "wb") as f:
                f.write(data)
        if self.native:
            return
        ca = open(os.path.join(self.certs, "ca.der"), "rb").read()
        tar = open(os.path.join(build, "tests", "fake_tar.exe"), "rb").read()
        setup = open(os.path.join(build, "Tarnwick-Setup.exe"), "rb").read()
        self.template = self.prepared("template", sha(ca + tar), self.make_template)
        self.installed = lambda: self.prepared("installed", sha(ca + tar + setup),
                                               self.make_installed)

    def prepared(self, name, key, make):
        """A template prefix, made again when what it was made from changed."""
        prefix = os.path.join(self.work, name)
        if read(os.path.join(prefix, ".key")) != key:
            shutil.rmtree(prefix, ignore_errors=True)
            make(prefix)
            self.stop_wine(prefix)
            with open(os.path.join(prefix, ".key"), "w") as f:
                f.write(key)
        return prefix

    def make_template(self, prefix):
        clone(os.path.join(self.build, "wineprefix"), prefix)
        # Wine has no tar; the extras tests' stand-in runs bsdtar in its place.
        shutil.copy(os.path.join(self.build, "tests", "fake_tar.exe"),
                    os.path.join(prefix, "drive_c", "windows", "system32", "tar.exe"))
        env = dict(self.env, WINEPREFIX=prefix)
        trust = os.path.join(self.build, "tests", "e2e", "trust_root.exe")
        subprocess.run(["wine", trust, self.certs], check=True, env=env)
        # A fresh user has no PATH of their own; the build's prefix may have one from tests.
        subprocess.run(["wine", "reg", "delete", "HKCU\\Environment", "/v", "Path", "/f"],
                       env=env, capture_output=True)
        # Nor a proxy setting of the net tests that Wine wrote to disk before they undid it.
        subprocess.run(["wine", "reg", "add", INTERNET_SETTINGS, "/v", "ProxyEnable", "/t",
                        "REG_DWORD", "/d", "0", "/f"], env=env, capture_output=True)

    def make_installed(self, prefix):
        clone(self.template, prefix)
        self.start_server('[{"path": "/api/tarnwick/version", "status": 503}]', None)
        code, out, err = self.setup(prefix, ["--silent"], "", "pipe")
        if code != 0:
            raise SystemExit("the installed prefix could not be made:\n" + out + err)

    def start_server(self, behaviours, manifest, plain=False):
        self.stop_server()
        if behaviours == "none":
            return
        self.servers = [self.serve("server", behaviours, manifest, ["--port", "443", "--tls",
                                                                  os.path.join(self.certs,
                                                                               "named.pem")])]
        if plain:
            # The service's files over plain HTTP too, for a mirror on this machine.
            self.servers.append(self.serve("plain", behaviours, manifest, ["--port", "8080"]))

    def serve(self, name, behaviours, manifest, options):
        folder = os.path.join(self.work, name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        values = {"runtime_sha256": sha(self.bodies["download"]),
                  "runtime_size": str(len(self.bodies["download"])),
                  "signature": json.dumps(self.signature)[1:-1]}
        fill = lambda text: re.sub(r"\{(\w+)\}", lambda m: values[m.group(1)], text)
        script = json.loads(fill(behaviours or "[]")) + [
            {"path": PATHS["api"], "body": fill(manifest or (SIGNED_MANIFEST if signed(self.build)
                                                             else MANIFEST))}] + [
            {"path": PATHS[n], "body_file": os.path.join(self.work, n)}
            for n in ("download", "ffmpeg.zip", "yt-dlp.exe", "ffmpeg.zip.sha256", "SHA2-256SUMS")]
        with open(os.path.join(folder, "script.json"), "w") as f:
            json.dump([dict(b, times=b.get("times", 0)) for b in script], f)
        subprocess.Popen([sys.executable, SERVER, "serve", folder, *options, "--idle", "600"])
        while not os.path.exists(os.path.join(folder, "port")):
            time.sleep(0.02)
        return folder

    def sign(self, how, comment):
        """The minisign signature of the download, made now."""
        data, key = self.bodies["download"], TEST_KEY
        if how == "tampered":
            data = data[:-1] + bytes([data[-1] ^ 1])
        if how == "stranger":
            key = STRANGER_KEY  # fixed, so its key id in the transcript is too
        copy = os.path.join(self.work, "signed.bin")
        with open(copy, "wb") as f:
            f.write(data)
        subprocess.run(["minisign", "-S", "-s", key, "-m", copy, "-t", comment] +
                       (["-l"] if how == "legacy" else []), check=True, capture_output=True)
        self.signature = read(copy + ".minisig")

    def stop_server(self):
        for folder in self.servers:
            stop(folder)
        self.servers = []

    def stop_wine(self, prefix):
        env = dict(self.env, WINEPREFIX=prefix)
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env)

    def setup(self, prefix, args, stdin, console, lang=None, together=1, exe=None):
        """Runs the program as a user would, from their Downloads folder."""
        home = user_home(prefix)
        if exe is None:
            exe = os.path.join(home, "Downloads", "Tarnwick-Setup.exe")
            # Wine links the profile's Downloads to the Unix user's, which every other run shares.
            if os.path.islink(os.path.dirname(exe)):
                os.unlink(os.path.dirname(exe))
            os.makedirs(os.path.dirname(exe), exist_ok=True)
            shutil.copy(os.path.join(self.build, "Tarnwick-Setup.exe"), exe)
        env = dict(self.env, WINEPREFIX=prefix, **({"LANG": lang} if lang else {}),
                   **self.proxy_env)
        # Wine's own helper processes start with the first program and write
        # to its error stream; start them first, with nothing to write to.
        subprocess.run(["wine", "cmd", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        command = ["wine", exe, *args]
        if prefix in LOCAL:
            launcher = os.path.join(self.build, "tests", "e2e", "launcher.exe")
            command = ["wine", launcher, "LOCALAPPDATA=" + LOCAL[prefix][1], exe, *args]
        if console == "terminal":
            return subprocess.run(command, cwd=home, env=env).returncode
        if console == "pipe":
            runs = [subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, cwd=home, env=env)
                    for _ in range(together)]
            seen = sorted((p.returncode, out.decode("latin-1"), err.decode("latin-1"))
                          for p, (out, err) in ((p, p.communicate(stdin.encode(), timeout=280))
                                                for p in runs))
            if together == 1:
                return seen[0]
            return (max(code for code, _, _ in seen),
                    *("\n--- next\n".join(part[i] for part in seen) for i in (1, 2)))
        return on_terminal(exe, args, stdin, console, home, env)


def on_terminal(exe, args, stdin, console, home, env):
    """On a pseudo-terminal the program has a console. "shared": cmd /c runs it
    with its streams redirected to files. "own": alone, output in files, the
    terminal its input; it must still wait a second after the pause line, and
    a key press then ends it. (A key typed ahead cannot be tested here: Wine
    leaves it in the terminal, out of reach of FlushConsoleInputBuffer.)"""
    files = {n: os.path.join(home, n + ".txt") for n in ("in", "out", "err")}
    with open(files["in"], "w") as f:
        f.write(stdin)
    win = lambda p: "Z:" + p.replace("/", "\\")
    line = "%s %s < %s > %s 2> %s" % (win(exe), " ".join(args), *map(win, files.values()))
    pid, terminal = pty.fork()
    if pid == 0:
        os.chdir(home)
        if console == "shared":
            os.execvpe("wine", ["wine", "cmd", "/c", line], env)
        for name, stream in (("out", 1), ("err", 2)):
            os.dup2(os.open(files[name], os.O_WRONLY | os.O_CREAT | os.O_TRUNC), stream)
        os.execvpe("wine", ["wine", exe, *args], env)
    waited, deadline = "", time.monotonic() + 120
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
        if console == "own" and not waited and PAUSE in read(files["out"]):
            time.sleep(1)
            done, status = os.waitpid(pid, os.WNOHANG)
            waited = "ended" if done else "still waiting"
            if done:
                break
            os.write(terminal, b"k")
        if select.select([terminal], [], [], 0.05)[0]:
            try:
                os.read(terminal, 4096)  # echo and title sequences, not compared
            except OSError:
                time.sleep(0.05)
    else:
        os.kill(pid, 9)
        return -1, "timed out", ""
    note = "<%s a second after the pause line>\n" % waited if waited else ""
    return os.waitstatus_to_exitcode(status), read(files["out"]) + note, read(files["err"])


def stop(folder):
    open(os.path.join(folder, "stop"), "w").close()
    while not os.path.exists(os.path.join(folder, "exited")):
        time.sleep(0.02)


def clone(src, dst):
    """Hard links, except what Wine or the setup rewrite in place."""
    subprocess.run(["cp", "-al", src, dst], check=True)
    for d, _, files in os.walk(dst):
        for path in (os.path.join(d, f) for f in files):
            if path.endswith(".reg") or "/Local/Tarnwick/" in path or path.endswith(".key"):
                shutil.copy2(path, path + ".tmp")
                os.replace(path + ".tmp", path)


def user_home(prefix):
    users = os.path.join(prefix, "drive_c", "users")
    return os.path.join(users, [u for u in os.listdir(users) if u != "Public"][0])


# prefix -> (Unix folder, Windows path) of a LOCALAPPDATA the scenario chose.
LOCAL = {}


def choose_local(prefix, rel):
    home = "C:"
    rel = rel.replace("{user}", os.path.basename(user_home(prefix)))
    m = re.search(r"\{to (\d+)\}", rel)
    if m:
        n, pad = int(m.group(1)) - len(home + "\\" + rel) + len(m.group(0)), ""
        while n > 60:
            pad, n = pad + "x" * 59 + "\\", n - 60
        rel = rel.replace(m.group(0), pad + "x" * n)
    folder = os.path.join(prefix, "drive_c", *rel.split("\\"))
    os.makedirs(folder, exist_ok=True)
    LOCAL[prefix] = (folder, home + "\\" + rel)


def install_root(prefix):
    local = LOCAL.get(prefix, (os.path.join(user_home(prefix), "AppData", "Local"),))[0]
    return os.path.join(local, "Tarnwick")


def normalise(text, prefix, padded=False):
    user = os.path.basename(user_home(prefix))
    text = text.replace("\r\n", "\n")
    if padded:
        shown = LOCAL[prefix][1].encode("cp1252", "replace").decode("latin-1")
        text = text.replace(shown, "%LOCALAPPDATA%")
    text = text.replace("C:\\users\\%s\\" % user, "C:\\users\\USER\\")
    text = re.sub(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]", "[time]", text, flags=re.M)
    lines = []
    for parts in (line.split("\r") for line in text.split("\n")):
        # Progress redraws follow the network's timing: of a run of them only
        # the last is compared; status texts on the same line all are.
        lines.append("\\r".join(p for p, n in zip(parts, parts[1:] + [""])
                                if not (PROGRESS.match(p) and PROGRESS.match(n))))
    return "\n".join(lines)


def tree(world, prefix):
    out, modules = [], {}
    for d, _, files in os.walk(install_root(prefix)):
        for f in files:
            rel = os.path.relpath(os.path.join(d, f), install_root(prefix)).replace(os.sep, "/")
            if rel in OWN_FILES:
                continue
            m = re.match(r"(versions/[^/]+/)?modules/", rel)
            if m:
                modules[m.group(0)] = modules.get(m.group(0), 0) + 1
                continue
            data = open(os.path.join(d, f), "rb").read()
            name = repr(data.decode()) if rel.endswith(".txt") else world.known.get(sha(data))
            out.append(rel + (" = " + name if name else ""))
    out += ["%s (%d files)" % kv for kv in modules.items()]
    return "\n".join(sorted(out)) or "(no installation folder)"


def user_path(world, prefix, padded=False):
    p = subprocess.run(["wine", "reg", "query", "HKCU\\Environment", "/v", "Path"],
                       capture_output=True, env=dict(world.env, WINEPREFIX=prefix))
    m = re.search(r"^\s+Path\s+(REG_\w+)\s+(.*?)\r?$", p.stdout.decode("latin-1"), re.M)
    return normalise("%s %s" % m.groups(), prefix, padded) if m else "(no Path value)"


UNINSTALL_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwick"


def entry(world, prefix):
    """The Apps & Features entry's values by name."""
    p = subprocess.run(["wine", "reg", "query", UNINSTALL_KEY], capture_output=True,
                       env=dict(world.env, WINEPREFIX=prefix))
    found = re.findall(r"^\s+(\w+)\s+(REG_\w+)\s+(.*?)\r?$", p.stdout.decode("latin-1"), re.M)
    return {name: (kind, value) for name, kind, value in found}


def windows(world, prefix):
    values = entry(world, prefix)
    out = []
    for name, (kind, value) in sorted(values.items()):
        if name == "InstallDate" and re.fullmatch(r"20\d{6}", value):
            value = "YYYYMMDD"
        if name == "EstimatedSize" and int(value, 16) * 1024 >= os.path.getsize(
                os.path.join(world.build, "Tarnwick-Setup.exe")):
            value = "(KiB, at least the setup's size)"
        out.append("%s %s %s" % (name, kind, normalise(value, prefix)))
    out = out or ["(no Apps & Features entry)"]
    links = [os.path.relpath(os.path.join(d, f), user_home(prefix))
             for d, _, files in os.walk(user_home(prefix)) for f in files
             if f == "Tarnwick Console.lnk"]
    out += ["shortcut " + l.replace(os.sep, "\\") for l in links] or ["(no shortcut)"]
    # An uninstall from the copy moves it to Wine's %TEMP%; it and its remover go
    # once that ended.
    temp, deadline = os.path.join(user_home(prefix), "Temp"), time.time() + 10
    while (left := sorted(f for f in os.listdir(temp) if f.startswith("Tarnwick-Setup"))
           if os.path.isdir(temp) else []) and time.time() < deadline:
        time.sleep(0.1)
    out += ["left in %TEMP%: " + f for f in left]
    copy = os.path.join(install_root(prefix), "Tarnwick-Setup.exe")
    if os.path.exists(copy):
        same = read(copy) == read(os.path.join(world.build, "Tarnwick-Setup.exe"))
        out.append("Tarnwick-Setup.exe " + ("= setup" if same else "differs"))
    return "\n".join(out)


def run_log(prefix):
    text = read(os.path.join(install_root(prefix), "logs", "setup.log"))
    text = re.sub(r"time=\d+ms", "time=Nms", normalise(text, prefix))
    return text or "(no log file)"


def then(world, prefix, command):
    """The second run: the entry's quiet uninstall as written, or the setup beside."""
    if command != "quiet-uninstall":
        return world.setup(prefix, command.split(), "", "pipe")
    line = entry(world, prefix).get("QuietUninstallString", ("", ""))[1]
    m = re.fullmatch(r'"([^"]+)"(.*)', line)
    if not m:
        return -1, "no QuietUninstallString: %r" % line, ""
    # By its Windows path, as Settings starts it (a Z: path names another volume).
    return world.setup(prefix, m.group(2).split(), "", "pipe", exe=m.group(1))


def prepare(prefix, steps):
    for kind, rel in (s.split(None, 1) for s in steps.split(";") if s.strip()):
        rel, _, content = rel.partition("=") if kind == "text" else (rel, "", "")
        path = os.path.join(install_root(prefix), rel)
        if kind == "rm":
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
            continue
        os.makedirs(path if kind == "mkdir" else os.path.dirname(path), exist_ok=True)
        if kind != "mkdir":
            with open(path, "w", newline="") as f:
                f.write(content + "\n" if kind == "text" else "")


def signed(build):
    """Whether the build carries release keys."""
    return bool(re.search(r"^TARN_RELEASE_KEYS:\w+=.+$", read(os.path.join(build, "CMakeCache.txt")),
                          re.M))


def scenario(world, name, update, way=None):
    path = os.path.join(data_dir(world.build), name + ".txt")
    if not os.path.exists(path) and way:
        path = os.path.join(PROXY_DATA, name + ".txt")
    head, _, expected = open(path).read().partition("=== ")
    keys = dict(line.split(": ", 1) for line in head.splitlines() if line.strip())
    prefix = os.path.join(world.work, "run-" + name)
    shutil.rmtree(prefix, ignore_errors=True)
    clone(world.installed() if keys.get("start") == "installed" else world.template, prefix)
    LOCAL.pop(prefix, None)
    if keys.get("local"):
        choose_local(prefix, keys["local"])
    padded = "{to " in keys.get("local", "")
    prepare(prefix, keys.get("prepare", ""))
    if signed(world.build):
        world.sign(keys.get("sign", "prehashed"),
                   keys.get("comment", "tarnwick 1.3.0 expires 2099-12-31"))
    manifest = keys.get("manifest") or (way or {}).get("manifest")
    world.start_server(keys.get("server"), manifest, plain="manifest" in (way or {}))
    if way:
        way.start(world, prefix)
    code, out, err = world.setup(prefix, keys.get("args", "").split(),
                                 keys.get("stdin", "").replace("\\n", "\n"),
                                 keys.get("console", "pipe"), keys.get("lang"),
                                 int(keys.get("together", "1")))
    later = ""
    if "then" in keys:
        code2, out2, err2 = then(world, prefix, keys["then"])
        later = "=== then exit %d\n%s\n=== then stderr\n%s\n" % (
            code2, normalise(out2, prefix), normalise(err2, prefix))
    traffic = way.traffic(world) if way else ""
    world.stop_server()
    seen = "exit %d\n=== stdout\n%s\n=== stderr\n%s\n%s=== tree\n%s\n=== path\n%s\n" % (
        code, normalise(out, prefix, padded), normalise(err, prefix, padded), later,
        tree(world, prefix), user_path(world, prefix, padded))
    for section in keys.get("check", "").split():
        seen += "=== %s\n%s\n" % (section, (windows(world, prefix) if section == "windows"
                                             else run_log(prefix)))
    world.stop_wine(prefix)
    if traffic:
        print(name, "through the proxy:", traffic)
        return False
    if update:
        with open(path, "w") as f:
            f.write(head + "=== " + seen)
    elif seen != expected:
        sys.stdout.writelines(difflib.unified_diff(
            expected.splitlines(True), seen.splitlines(True), name + " expected", "seen"))
        print("prefix kept in", prefix)
        return False
    shutil.rmtree(prefix)
    return True


class Way(dict):
    """One row of tests/data/e2e-proxy/ways.json: how the proxy is named, which hosts
    go direct, and the proxy's own behaviour (credentials it wants)."""

    def __init__(self, row):
        super().__init__(row)
        self.env = {k: v.replace("{proxy}", "127.0.0.1:%d" % PROXY_PORT)
                    for k, v in row.get("env", {}).items()}
        self.folder, self.seen = None, 0

    def open(self, world):
        proxy = {"proxy": True, "times": 0, **({"auth": self["auth"]} if "auth" in self else {})}
        world.proxy_env = self.env
        self.folder = world.serve("proxy", json.dumps([proxy]), None,
                                  ["--port", str(PROXY_PORT), "--lifetime", "86400"])

    def close(self):
        if self.folder:
            stop(self.folder)

    def start(self, world, prefix):
        self.seen = len(log_lines(self.folder))
        env = dict(world.env, WINEPREFIX=prefix)
        for name, value in self.get("registry", {}).items() if prefix else ():
            kind = "REG_DWORD" if isinstance(value, int) else "REG_SZ"
            value = str(value).replace("{proxy}", "127.0.0.1:%d" % PROXY_PORT)
            subprocess.run(["wine", "reg", "add", INTERNET_SETTINGS, "/v", name, "/t", kind,
                            "/d", value, "/f"], env=env, check=True, capture_output=True)

    def traffic(self, world):
        """What went wrong with the way the requests went; empty when nothing did."""
        direct = set(self.get("direct", []))
        deadline = time.monotonic() + 10
        while True:
            lines = log_lines(self.folder)[self.seen:]
            asked = [l for l in lines if "event" not in l]
            relayed = [l for l in lines if l.get("event") == "relayed"]
            # A tunnel is recorded once both ends have closed.
            if len(relayed) == len(asked) or self.get("refused") or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        host = lambda target: re.sub(r"^\w+://", "", target).split("/")[0].rsplit(":", 1)[0]
        through = sorted(host(l["target"]) for l in relayed)
        served = sorted(host(h[1]) for folder in world.servers for l in log_lines(folder)
                        if "event" not in l for h in l["headers"] if h[0].lower() == "host")
        wanted = [h for h in served if h not in direct]
        if self.get("refused"):
            return "" if not relayed else "relayed %s" % through
        return "" if through == wanted else "relayed %s, the service saw %s" % (through, served)


def native_run(world, way):
    """The native program (the Linux development build) through the proxy: a silent
    first install in a scratch home, every request the way's way (the user's setting
    is Windows only); it must succeed, or with a refusing proxy fail naming the 407."""
    if "registry" in way:
        print("native %s: the user's proxy setting is Windows only" % way.get("name"))
        return 2
    home = os.path.join(world.work, "native-home")
    shutil.rmtree(home, ignore_errors=True)
    tools = os.path.join(home, "bin")
    os.makedirs(tools)
    shutil.copy(os.path.join(world.build, "tests", "fake_tar"), os.path.join(tools, "tar"))
    # Without an embedded runtime the setup's bundled one is the tarn.exe beside it.
    shutil.copy(os.path.join(world.build, "Tarnwick-Setup"), home)
    shutil.copy(os.path.join(world.build, "tests", "test_runtime"), os.path.join(home, "tarn.exe"))
    env = dict(world.env, HOME=home, LOCALAPPDATA=os.path.join(home, "local"),
               XDG_CONFIG_HOME=os.path.join(home, "config"),
               # The setup puts its bin first with the Windows separator, ";":
               # the empty entry keeps the tar stand-in an entry of its own.
               PATH=":" + tools + ":/usr/bin:/bin",
               SSL_CERT_FILE=os.path.join(world.certs, "ca.pem"), **way.env)
    world.start_server(None, way.get("manifest"), plain="manifest" in way)
    way.start(world, None)
    p = subprocess.run([os.path.join(home, "Tarnwick-Setup"), "--silent"], env=env,
                       cwd=home, capture_output=True, timeout=280)
    out, err = p.stdout.decode("latin-1"), p.stderr.decode("latin-1")
    traffic = way.traffic(world)
    world.stop_server()
    refused = way.get("refused")
    wrong = (traffic or ("407 Proxy Authentication Required" not in err if refused else
                         p.returncode != 0 or "installed successfully" not in out))
    print("native %s: exit %d%s" % (way.get("name"), p.returncode,
                                    (", " + traffic if traffic else "") +
                                    ("\n" + out + err if wrong else "")))
    return 1 if wrong else 0


def log_lines(folder):
    return [json.loads(l) for l in read(os.path.join(folder, "requests.log")).splitlines()]


def data_dir(build):
    return DATA + "-signed" if signed(build) else DATA


def demo(world, args):
    prefix = os.environ.get("TARN_DEMO_PREFIX") or os.path.join(world.work, "demo")
    if not os.path.exists(prefix):
        clone(world.template, prefix)
    # The stand-in runtime calls itself 1.0.0; so does the service here.
    world.start_server(None, MANIFEST.replace("1.3.0\"", "1.0.0\""))
    code = world.setup(prefix, args, "", "terminal")
    world.stop_server()
    print("\nTarnwick-Setup.exe ended with exit code %d." % code)
    tarn = os.path.join(install_root(prefix), "bin", "tarn.exe")
    if os.path.exists(tarn):
        print("Installed in %s\n(the Wine prefix %s)\n\n$ tarn --version" % (
            os.path.dirname(os.path.dirname(tarn)), prefix), flush=True)
        subprocess.run(["wine", tarn, "--version"], env=dict(world.env, WINEPREFIX=prefix))
    world.stop_wine(prefix)
    return code


def wine_processes(prefix):
    """The processes still running with this Wine prefix."""
    mark, found = b"WINEPREFIX=" + prefix.encode() + b"\0", []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            found += [int(pid)] if mark in open("/proc/%s/environ" % pid, "rb").read() else []
        except OSError:
            pass  # ended meanwhile
    return found


def piped_script(build):
    """scripts/run.sh | cat, its demo prefix made afresh: it returns with the success
    screen, and nothing of that prefix runs on."""
    prefix = os.path.join(build, "e2e", "piped")
    shutil.rmtree(prefix, ignore_errors=True)
    env = dict(os.environ, TARN_DEMO_PREFIX=prefix)
    script = subprocess.Popen(["bash", "-c", "set -o pipefail; scripts/run.sh | cat"], cwd=ROOT,
                              env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, start_new_session=True)
    try:
        out = script.communicate(timeout=240)[0].decode("latin-1")
    except subprocess.TimeoutExpired:
        out = "(still running after 240 s)"
    left = wine_processes(prefix)
    for pid in left:
        os.kill(pid, 9)
    if script.poll() is None:
        os.killpg(script.pid, 9)
        script.wait()
    failures = [text for text, bad in (
        ("exit code %s" % script.returncode, script.returncode != 0),
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
    world, way = World(build), None
    try:
        if "--demo" in argv:
            return demo(world, argv[argv.index("--demo") + 1:])
        args = argv[argv.index("--build") + 2:]
        if "--proxy" in args:
            at = args.index("--proxy")
            rows = json.load(open(os.path.join(PROXY_DATA, "ways.json")))["ways"]
            way = Way(next(r for r in rows if r["name"] == args[at + 1]))
            del args[at:at + 2]
            way.open(world)
            if world.native:
                return native_run(world, way)
        names = [a for a in args if a != "--update"] or (way and way.get("scenarios")) or sorted(
            f[:-4] for f in os.listdir(data_dir(build)) if f.endswith(".txt"))
        failed = [n for n in names if not scenario(world, n, "--update" in argv, way)]
        print("%d of %d scenarios passed" % (len(names) - len(failed), len(names)), *failed)
        return 1 if failed else 0
    finally:
        world.stop_server()
        if way:
            way.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
