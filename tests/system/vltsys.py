"""Helpers for the end-to-end tests: the program under test, real servers on
loopback (aiosmtpd through tests/tools/smtp_server.py, Dovecot POP3 with a
configuration of its own), test certificates made with the openssl command,
and a small case runner that prints "N passed, N failed".

The program under test is one of two targets, chosen by VLT_TARGET: "linux"
(the default, build/vellumtide) or "windows" (build-win/vellumtide.exe run
under wine in the build folder's own prefix, made by scripts/wine-env.sh).
The cases are the same for both; the target decides only how the program is
started, how paths are written for it and how its output and logs are decoded.

Every server is started with a bounded lifetime and stopped when its `with`
block ends, also when a check fails.
"""
import contextlib
import email
import email.policy
import json
import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import traceback

ENTRY_START = re.compile(r" \d{4}/\d\d/\d\d \d\d:\d\d:\d\d \*\*\* ")
# CTest counts exit status 77 as skipped. In CI (CI set in the environment) a
# missing tool is a failure instead: a skip there would hide a missing install step.
SKIP = 1 if os.environ.get("CI") else 77

SOURCE_DIR = os.environ.get("VLT_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
TARGET_NAME = os.environ.get("VLT_TARGET") or "linux"
BUILD_DIR = os.environ.get("VLT_BUILD_DIR") or os.path.join(
    SOURCE_DIR, "build-win" if TARGET_NAME == "windows" else "build")
SMTP_SERVER = os.path.join(SOURCE_DIR, "tests", "tools", "smtp_server.py")
DOVECOT = "/usr/sbin/dovecot"
PYTHON = "/usr/bin/python3"

LOGIN_FAILED = "正しいユーザあるいはパスワードではありません。認証に失敗しました。"
SEND_FAILED = "メール送信に失敗しました。"
TLS_FAILED = "TLS 接続を確立できませんでした: "
NO_STARTTLS = "サーバが STARTTLS に対応していません。"


def require(condition, why):
    """Ends the script as skipped (in CI: failed) when a tool it needs is missing."""
    if not condition:
        print("skipped: " + why)
        sys.exit(SKIP)


def require_program():
    """Ends the script as skipped (in CI: failed) when the program under test
    cannot run."""
    why = TARGET.missing()
    require(why is None, why)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(predicate, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise AssertionError("%s: expected %r, got %r" % (what, expected, actual))


class LinuxTarget:
    """The Linux build: the program runs directly and speaks UTF-8."""

    name = "linux"
    encoding = "utf-8"

    def __init__(self, build_dir):
        self.build_dir = build_dir
        self.program = os.path.join(build_dir, "vellumtide")

    def missing(self):
        """Why the program cannot run, or None."""
        if not os.access(self.program, os.X_OK):
            return "no program at " + self.program
        return None

    def env(self):
        return {"LANG": "C.UTF-8"}

    def command(self, args, program=None, timeout=60):
        return [program or self.program] + list(args)

    def trust(self, pki):
        """Makes the test CA of `pki` trusted; gives the environment a run needs
        for it: OpenSSL's trust store variables."""
        return {"SSL_CERT_FILE": pki.ca, "SSL_CERT_DIR": os.path.join(pki.dir, "no-such-dir")}

    def path(self, path):
        return path


class WineTarget:
    """The Windows build under wine: every wine call is bounded by timeout(1),
    paths are made with winepath -w, standard output and error arrive through
    pipes in code page 932 and so do the logs. The prefix and its persistent
    wineserver are made beforehand (scripts/wine-env.sh)."""

    name = "windows"
    encoding = "cp932"

    def __init__(self, build_dir):
        self.build_dir = build_dir
        self.program = os.path.join(build_dir, "vellumtide.exe")
        self.prefix = os.path.join(build_dir, "wine-prefix")

    def missing(self):
        if not os.path.isfile(self.program):
            return "no program at " + self.program
        if not os.path.isfile(os.path.join(self.prefix, "system.reg")):
            return ("no wine prefix at %s (run this under scripts/wine-env.sh %s)"
                    % (self.prefix, self.build_dir))
        for tool in ("wine", "winepath", "timeout"):
            if shutil.which(tool) is None:
                return tool + " is not installed"
        return None

    def env(self):
        # Wine takes its code page from the locale: 932 under ja_JP.UTF-8, as on
        # a Japanese Windows; it also decodes the Linux arguments with it.
        return {"WINEPREFIX": self.prefix, "WINEDEBUG": "-all", "LANG": "ja_JP.UTF-8",
                "LC_ALL": "ja_JP.UTF-8"}

    def command(self, args, program=None, timeout=60):
        return (["timeout", "-k", "5", str(timeout), "wine", program or self.program]
                + list(args))

    def trust(self, pki):
        """Makes the test CA of `pki` trusted by adding it to the current
        user's ROOT store of the prefix (the test helper replaces the CA of an
        earlier case); a run needs nothing more."""
        helper = os.path.join(self.build_dir, "tests", "net", "vlt_trust_root.exe")
        done = subprocess.run(["timeout", "-k", "5", "60", "wine", helper, self.path(pki.ca)],
                              env=self.wine_env(), stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=90)
        check_equal(done.returncode, 0, "trusting the test CA (%r)" % done.stderr)
        return {}

    def wine_env(self):
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        env.update(self.env())
        return env

    def path(self, path):
        """The Windows name of a Linux path. The prefix maps drive Z: to the
        root folder, so an absolute path needs no wine call (winepath itself
        now and then fails on a busy machine); anything else asks winepath."""
        path = os.path.abspath(path)
        z_drive = os.path.join(self.prefix, "dosdevices", "z:")
        if os.path.realpath(z_drive) == "/":
            return "Z:" + path.replace("/", "\\")
        done = subprocess.run(["timeout", "-k", "5", "60", "winepath", "-w", path],
                              env=self.wine_env(), stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=90)
        check_equal(done.returncode, 0, "winepath exit status for %s (%r)" % (path, done.stderr))
        return done.stdout.decode("utf-8").rstrip("\r\n")

    def run_batch(self, batch, env, timeout=60):
        """Runs a .bat file with wine cmd /c, which hands each command line to
        the program as the file writes it."""
        return subprocess.run(["timeout", "-k", "5", str(timeout), "wine", "cmd", "/c",
                               self.path(batch)],
                              env=env, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=timeout + 15)


def make_target(name, build_dir):
    targets = {"linux": LinuxTarget, "windows": WineTarget}
    if name not in targets:
        raise SystemExit("VLT_TARGET must be linux or windows, not %r" % name)
    return targets[name](build_dir)


TARGET = make_target(TARGET_NAME, BUILD_DIR)
PROGRAM = TARGET.program


def program_path(path):
    """`path` as the program under test is given it on its command line."""
    return TARGET.path(path)


class Home:
    """A temporary program folder with the settings and logs of one case, and
    the program (of `target`, by default the one VLT_TARGET chooses) run in it."""

    def __init__(self, root, target=None):
        self.path = tempfile.mkdtemp(prefix="home-", dir=root)
        self.target = target or TARGET
        self.program_home = self.target.path(self.path)

    def env(self, env=None):
        """The environment of a run: the caller's without the program's own
        variables, the target's, this folder as VELLUMTIDE_HOME, then `env`."""
        full_env = {k: v for k, v in os.environ.items()
                    if k not in ("FROM_NAME", "TO_ALIAS", "CC_ALIAS", "REPLY_TO", "DEBUG_MODE")}
        full_env.update(self.target.env())
        full_env.update(VELLUMTIDE_HOME=self.program_home, VELLUMTIDE_UI="none")
        full_env.pop("DISPLAY", None)
        full_env.update(env or {})
        return full_env

    def run(self, text, env=None, timeout=60, preexec_fn=None, stdin_bytes=None):
        """Runs the program with `text` split at blanks, as a shell would;
        `preexec_fn` prepares the child (limits, signals); `stdin_bytes` is
        its standard input (none when not given)."""
        stdin = {"stdin": subprocess.DEVNULL} if stdin_bytes is None else {"input": stdin_bytes}
        return subprocess.run(self.target.command(text.split(), timeout=timeout),
                              env=self.env(env), capture_output=True, timeout=timeout + 15,
                              preexec_fn=preexec_fn, **stdin)

    def start(self, text):
        """Starts the program like run() without waiting for it."""
        return subprocess.Popen(self.target.command(text.split()), env=self.env(),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)

    def output(self, data):
        """The program's standard output or error as text."""
        return data.decode(self.target.encoding, "replace")

    def file(self, name):
        return os.path.join(self.path, name)

    def stored_user(self):
        """The POP3/SMTP user the stored settings show, or None when the
        settings cannot be shown."""
        done = self.run("--info")
        if done.returncode != 0:
            return None
        match = re.search(r"POP3ユーザ ： (\S+)", self.output(done.stdout))
        return match.group(1) if match else None

    def store(self, text, env=None, stdin_bytes=None):
        done = self.run(text, env, stdin_bytes=stdin_bytes)
        check_equal(done.returncode, 0, "exit status storing the settings (%s)" % self.log("vellumtideERR"))

    def log_bytes(self, prefix):
        path = os.path.join(self.path, prefix + "1.log")
        if not os.path.exists(path):
            return b""
        with open(path, "rb") as f:
            return f.read()

    def log(self, prefix):
        """A log as text: UTF-8 from the Linux build, code page 932 from the
        Windows build."""
        return self.log_bytes(prefix).decode(self.target.encoding, "replace")

    def all_logs(self):
        """Every file of the folder (logs and settings) as bytes, joined."""
        out = b""
        for name in sorted(os.listdir(self.path)):
            with open(os.path.join(self.path, name), "rb") as f:
                out += f.read()
        return out

    def has_log(self, prefix):
        return os.path.exists(os.path.join(self.path, prefix + "1.log"))

    def error_entries(self):
        """The texts of the error log's entries (one per report); an entry
        may hold line breaks of its own."""
        entries = []
        blocks = self.log("vellumtideERR").split("\r\n")
        if blocks and blocks[-1] == "":
            blocks.pop()
        for block in blocks:
            if ENTRY_START.match(block):
                entries.append(block.split(" *** ", 1)[1])
            elif entries:
                entries[-1] += "\r\n" + block
        return entries


class SmtpServer:
    """aiosmtpd on a loopback port (tests/tools/smtp_server.py)."""

    def __init__(self, root, user="", password="", tls="none", cert=None, key=None,
                 exclude_auth=(), lifetime=60, token=""):
        self.outdir = tempfile.mkdtemp(prefix="smtp-", dir=root)
        args = [PYTHON, SMTP_SERVER, "--outdir", self.outdir, "--lifetime", str(lifetime),
                "--tls", tls]
        if user:
            args += ["--user", user, "--password", password]
        if token:
            args += ["--token", token]
        if cert:
            args += ["--cert", cert, "--key", key]
        for mechanism in exclude_auth:
            args += ["--exclude-auth", mechanism]
        self.log_path = os.path.join(self.outdir, "server.log")
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE,
                                     stderr=open(self.log_path, "wb"), text=True)
        line = self.proc.stdout.readline()
        if not line.startswith("READY "):
            self.stop()
            raise AssertionError("aiosmtpd did not start: %r %s" % (line, self.server_log()))
        self.port = int(line.split()[1])

    def server_log(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def auth_attempts(self):
        """The AUTH mechanisms the client tried with credentials, in order."""
        path = os.path.join(self.outdir, "auth.log")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return f.read().split()

    def messages(self):
        """The received messages as (envelope, raw bytes) in order."""
        out = []
        n = 1
        while os.path.exists(os.path.join(self.outdir, "%03d.eml" % n)):
            base = os.path.join(self.outdir, "%03d" % n)
            with open(base + ".json") as f:
                envelope = json.load(f)
            with open(base + ".eml", "rb") as f:
                out.append((envelope, f.read()))
            n += 1
        return out

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class SinkServer:
    """A minimal SMTP server in a thread of this process: it accepts every
    command and counts the message octets without keeping them, so that a
    large message costs the test nothing. With `silent` it accepts the
    connection and says nothing. Each connection ends after `lifetime`."""

    REPLIES = {b"EHLO": b"250-sink\r\n250 AUTH PLAIN LOGIN\r\n", b"HELO": b"250 sink\r\n",
               b"AUTH": b"334 \r\n", b"MAIL": b"250 ok\r\n", b"RCPT": b"250 ok\r\n",
               b"DATA": b"354 go on\r\n", b"QUIT": b"221 bye\r\n"}

    def __init__(self, silent=False, lifetime=60):
        self.silent = silent
        self.lifetime = lifetime
        self.connected = threading.Event()
        self.message_octets = []
        self.recipients = 0
        self.credentials = []  # the lines sent after AUTH PLAIN
        self.stopping = threading.Event()
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.listener.settimeout(0.2)  # to notice stop() and the end of the lifetime
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        end = time.monotonic() + self.lifetime
        with contextlib.suppress(OSError):
            while not self.stopping.is_set() and time.monotonic() < end:
                try:
                    conn, _ = self.listener.accept()
                except socket.timeout:
                    continue
                with conn:
                    conn.settimeout(self.lifetime)
                    self.connected.set()
                    if self.silent:
                        self._listen_only(conn)
                        continue
                    with contextlib.suppress(OSError):
                        self._converse(conn)

    def _listen_only(self, conn):
        """Reads what the client sends until it closes or stop() is called."""
        conn.settimeout(0.2)
        while not self.stopping.is_set():
            try:
                if not conn.recv(65536):
                    return
            except socket.timeout:
                continue

    def _converse(self, conn):
        conn.sendall(b"220 sink ready\r\n")
        pending = b""
        credentials = False  # the line after AUTH PLAIN carries them
        while True:
            chunk = conn.recv(1 << 20)
            if not chunk:
                return
            pending += chunk
            while b"\r\n" in pending:
                line, pending = pending.split(b"\r\n", 1)
                verb = line[:4].upper()
                if verb == b"RCPT":
                    self.recipients += 1
                if credentials:
                    self.credentials.append(line)
                reply = b"235 ok\r\n" if credentials else self.REPLIES.get(verb, b"250 ok\r\n")
                credentials = verb == b"AUTH"
                conn.sendall(reply)
                if verb == b"DATA":
                    pending = self._message(conn, pending)
                    conn.sendall(b"250 accepted\r\n")
                elif verb == b"QUIT":
                    return

    def _message(self, conn, pending):
        """Counts the octets up to the CR LF before "." CR LF; returns what follows."""
        received = 0  # octets before `data`
        data = pending
        while True:
            end = data.find(b"\r\n.\r\n")
            if end >= 0:
                self.message_octets.append(received + end + 2)
                return data[end + 5:]
            keep = min(4, len(data))
            received += len(data) - keep
            more = conn.recv(1 << 20)
            if not more:
                raise OSError("connection closed in the message")
            data = data[len(data) - keep:] + more

    def stop(self):
        self.stopping.set()
        self.thread.join(self.lifetime)
        self.listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def run_measured(args, env, timeout=120, preexec_fn=None, stdin=subprocess.DEVNULL):
    """Runs a program and returns (exit status, its own peak resident memory
    in KiB), read from the rusage of that one child."""
    proc = subprocess.Popen(args, env=env, stdin=stdin, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, preexec_fn=preexec_fn)
    deadline = time.monotonic() + timeout
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid == proc.pid:
            proc.returncode = os.waitstatus_to_exitcode(status)
            return proc.returncode, usage.ru_maxrss
        if time.monotonic() > deadline:
            proc.kill()
            proc.wait()
            raise AssertionError("%s did not end within %d s" % (args[0], timeout))
        time.sleep(0.05)


class Dovecot:
    """A Dovecot POP3 server with a configuration of its own in `root`, one
    user with a plain-text password, maildir mail, logging to a file."""

    def __init__(self, root, user, password, ssl="no", cert=None, key=None, lifetime=60):
        self.dir = tempfile.mkdtemp(prefix="dovecot-", dir=root)
        # The login processes run as an unprivileged user and must reach the
        # sockets under base_dir.
        os.chmod(self.dir, 0o755)
        self.port = free_port()
        self.pop3s_port = free_port() if ssl == "implicit" else 0
        for sub in ("run", "state", "mail"):
            os.makedirs(os.path.join(self.dir, sub), mode=0o755)
        # Mail is accessed as Dovecot's own unprivileged user (root is refused).
        owner = pwd.getpwnam("dovecot")
        os.chown(os.path.join(self.dir, "mail"), owner.pw_uid, owner.pw_gid)
        with open(os.path.join(self.dir, "passwd"), "w") as f:
            f.write("%s:{PLAIN}%s:%d:%d::%s/mail/%s\n"
                    % (user, password, owner.pw_uid, owner.pw_gid, self.dir, user))
        ssl_setting = {"no": "no", "starttls": "required", "implicit": "required"}[ssl]
        lines = [
            "base_dir = %s/run" % self.dir,
            "state_dir = %s/state" % self.dir,
            "log_path = %s/dovecot.log" % self.dir,
            "protocols = pop3",
            "listen = 127.0.0.1",
            "ssl = %s" % ssl_setting,
            "disable_plaintext_auth = no",
            "auth_mechanisms = plain",
            "auth_failure_delay = 0",
            "first_valid_uid = %d" % owner.pw_uid,
            "mail_location = maildir:%s/mail/%%u" % self.dir,
            "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN %s/passwd\n}" % self.dir,
            "userdb {\n  driver = passwd-file\n  args = %s/passwd\n}" % self.dir,
            "service pop3-login {\n  chroot =\n"
            "  inet_listener pop3 {\n    address = 127.0.0.1\n    port = %d\n  }\n"
            "  inet_listener pop3s {\n    address = 127.0.0.1\n    port = %d\n    ssl = yes\n  }\n"
            "}" % (self.port if ssl != "implicit" else 0, self.pop3s_port),
        ]
        if ssl != "no":
            lines += ["ssl_cert = <%s" % cert, "ssl_key = <%s" % key]
        self.conf = os.path.join(self.dir, "dovecot.conf")
        with open(self.conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        # timeout(1) bounds the server's life even if this script is killed;
        # it passes our SIGTERM on to the master process.
        self.proc = subprocess.Popen(["timeout", "-k", "5", str(lifetime), DOVECOT, "-F", "-c",
                                      self.conf],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.listen_port = self.pop3s_port if ssl == "implicit" else self.port
        try:
            wait_for(self._listening, 15, "Dovecot to listen")
        except AssertionError:
            self.stop()
            raise AssertionError("Dovecot did not start: " + self.server_log())

    def _listening(self):
        if self.proc.poll() is not None:
            raise AssertionError("Dovecot ended: " + self.server_log())
        with contextlib.suppress(OSError):
            with socket.create_connection(("127.0.0.1", self.listen_port), 0.5):
                return True
        return False

    def server_log(self):
        text = ""
        path = os.path.join(self.dir, "dovecot.log")
        if os.path.exists(path):
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
        if self.proc.stderr is not None and self.proc.poll() is not None:
            text += self.proc.stderr.read().decode("utf-8", "replace")
        return text

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class Pki:
    """A test CA and certificates made with the openssl command: `server` for
    localhost and 127.0.0.1 signed by the CA, `other_host` for another name
    signed by the CA, and `untrusted`, self-signed for localhost."""

    def __init__(self, root):
        self.dir = tempfile.mkdtemp(prefix="pki-", dir=root)
        os.chmod(self.dir, 0o755)
        self.ca = self._path("ca.pem")
        self._openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                      "-nodes", "-keyout", self._path("ca.key"), "-out", self.ca, "-days", "2",
                      "-subj", "/CN=Vellumtide Test CA",
                      "-addext", "basicConstraints=critical,CA:TRUE",
                      "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        self.server = self._signed("server", "localhost", "DNS:localhost,IP:127.0.0.1")
        self.other_host = self._signed("other", "mail.other.test", "DNS:mail.other.test")
        key, cert = self._path("untrusted.key"), self._path("untrusted.pem")
        self._openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                      "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=localhost",
                      "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1")
        self.untrusted = (cert, key)
        for name in os.listdir(self.dir):
            os.chmod(self._path(name), 0o644)

    def _path(self, name):
        return os.path.join(self.dir, name)

    def own_copy(self, pair):
        """The certificate and key of `pair` copied to a folder of their own:
        each server of a case reads its files from its own folder."""
        folder = tempfile.mkdtemp(prefix="certs-", dir=self.dir)
        os.chmod(folder, 0o755)
        copies = []
        for path in pair:
            copy = os.path.join(folder, os.path.basename(path))
            shutil.copyfile(path, copy)
            os.chmod(copy, 0o644)
            copies.append(copy)
        return tuple(copies)

    def _openssl(self, *args):
        subprocess.run(["openssl"] + list(args), check=True, capture_output=True, timeout=60)

    def _signed(self, name, common_name, alt_names):
        key, csr, cert = self._path(name + ".key"), self._path(name + ".csr"), self._path(name + ".pem")
        ext = self._path(name + ".ext")
        with open(ext, "w") as f:
            f.write("subjectAltName=%s\nbasicConstraints=CA:FALSE\n"
                    "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n"
                    % alt_names)
        self._openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                      "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=" + common_name)
        self._openssl("x509", "-req", "-in", csr, "-CA", self.ca, "-CAkey", self._path("ca.key"),
                      "-CAcreateserial", "-out", cert, "-days", "2", "-extfile", ext)
        return (cert, key)


def parse(raw):
    return email.message_from_bytes(raw, policy=email.policy.default)


def run_cases(cases):
    """Runs each (name, function) in a fresh temporary folder; prints one line
    per case and the closing count; returns the exit status."""
    passed = failed = 0
    started = time.monotonic()
    for name, function in cases:
        root = tempfile.mkdtemp(prefix="vlt-system-")
        os.chmod(root, 0o755)
        t0 = time.monotonic()
        try:
            function(root)
        except Exception:  # a failed check or a broken server: report and go on
            failed += 1
            print("FAIL %s (%.1f s)" % (name, time.monotonic() - t0))
            traceback.print_exc(file=sys.stdout)
        else:
            passed += 1
            print("ok   %s (%.1f s)" % (name, time.monotonic() - t0))
        finally:
            shutil.rmtree(root, ignore_errors=True)
        sys.stdout.flush()
    print("%.1f s in all" % (time.monotonic() - started))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0
