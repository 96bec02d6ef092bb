#!/usr/bin/python3
"""The Debian packages, installed the way a user installs them.

Run as root with CI=true (a disposable machine, as CI has), it builds both
packages (scripts/package.sh, which also runs lintian), installs `vellumtide`
alone with apt and, as a user made for the test:
  - stores settings with --xcnf: they land in ~/.config/vellumtide (0700),
    vlt.sysdat with mode 0600;
  - shows them with --info, whose last line names that file (also without HOME);
  - sends a Japanese message with an attachment to aiosmtpd on loopback, and
    finds the message log in ~/.local/state/vellumtide;
  - with DISPLAY naming a running Xvfb, a sending run that lacks its subject
    ends the none way (exit 1, the missing-parameter report) without loading
    any X or toolkit library.
Then it adds `vellumtide-gui`: the same run opens the re-entry window, which
is closed with its close box. Last it purges the packages (and whatever they
pulled in) and checks that no file of theirs is left outside the user's home.
The user, the packages, the servers and the runs are removed even when a step
fails.

Anywhere else (not root, or CI not true) it says that it was not run and
passes: it changes the machine.
"""
import email
import email.policy
import glob
import os
import pwd
import re
import signal
import stat
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "system"))
import vltsys  # noqa: E402
from vltsys import check, check_equal, wait_for  # noqa: E402

PROGRAM = "/usr/bin/vellumtide"
PACKAGES = ("vellumtide", "vellumtide-gui")
USER = "vlt-pkgtest"
MISSING = "パラメータが不足しています。"
TOOLKIT = re.compile(r"libX11|libxcb|libXft|libXrender|libfltk|libfontconfig|vellumtide-gui")
WM_CLOSE = os.path.join(vltsys.BUILD_DIR, "tests", "ui", "wm_close")
SUBJECT = "夜間バッチ報告"
BODY = "本日の処理は正常に終了しました。\n件数：１２３件\n"
ATTACHMENT = "日付,件数\n2026/12/07,123\n".encode("utf-8")

# What the file-list comparison leaves out: the package manager's and man's
# own bookkeeping, logs, and what changes on its own while the test runs.
UNWATCHED = ("/var/lib/dpkg", "/var/lib/apt", "/var/cache/apt", "/var/cache/debconf",
             "/var/cache/man", "/var/cache/ldconfig", "/var/log", "/var/tmp", "/var/lib/systemd")
WATCHED = ("/etc", "/opt", "/srv", "/usr", "/var")


def sh(*args, timeout=900, **kwargs):
    done = subprocess.run(args, capture_output=True, text=True, timeout=timeout, **kwargs)
    if done.returncode != 0:
        raise AssertionError("%s: exit %d\n%s%s" % (" ".join(args), done.returncode,
                                                     done.stdout[-3000:], done.stderr[-3000:]))
    return done.stdout


def apt_get(*args):
    return sh("apt-get", "-y", "-q", "-o", "Dpkg::Use-Pty=0", *args,
              env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def installed_packages():
    out = sh("dpkg-query", "-W", "-f", "${Package} ${db:Status-Abbrev}\n")
    return {line.split()[0] for line in out.splitlines() if line.split()[1:2] == ["ii"]}


def file_list():
    """Every file, link and folder under the watched folders."""
    found = set()
    for top in WATCHED:
        for folder, folders, files in os.walk(top):
            folders[:] = [f for f in folders if os.path.join(folder, f) not in UNWATCHED]
            found.update(os.path.join(folder, name) for name in folders + files)
    return found


def mode(path):
    return stat.S_IMODE(os.lstat(path).st_mode)


class Machine:
    """The state the test changes, undone by cleanup() in reverse order."""

    def __init__(self, work):
        self.work = work
        self.processes = []
        self.user_made = False
        self.packages_before = None
        self.files_before = None

    # ---- the user ----------------------------------------------------------

    def add_user(self):
        check(USER not in {p.pw_name for p in pwd.getpwall()}, "user %s already exists" % USER)
        sh("useradd", "-m", "-s", "/bin/sh", USER)
        self.user_made = True
        entry = pwd.getpwnam(USER)
        self.uid, self.gid, self.home = entry.pw_uid, entry.pw_gid, entry.pw_dir

    def user_file(self, name, data):
        path = os.path.join(self.home, name)
        with open(path, "wb") as f:
            f.write(data)
        os.chown(path, self.uid, self.gid)
        return path

    def start(self, *args, env_changes=None, home=True):
        """Starts the installed program as the user, in their home, with a
        clean environment."""
        env = {"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8", "USER": USER, "LOGNAME": USER}
        if home:
            env["HOME"] = self.home
        env.update(env_changes or {})
        proc = subprocess.Popen([PROGRAM, *args], env=env, cwd=self.home, user=self.uid,
                                group=self.gid, extra_groups=[], umask=0o022,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        self.processes.append(proc)
        return proc

    def run(self, *args, **kwargs):
        proc = self.start(*args, **kwargs)
        out, err = proc.communicate(timeout=60)
        return proc.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")

    # ---- the packages ------------------------------------------------------

    def install(self, *names):
        if self.packages_before is None:
            present = installed_packages() & set(PACKAGES)
            check(not present, "already installed here: %s" % ", ".join(sorted(present)))
            self.packages_before = installed_packages()
            self.files_before = file_list()
        debs = [glob.glob(os.path.join(vltsys.BUILD_DIR, "%s_*.deb" % n)) for n in names]
        check(all(len(d) == 1 for d in debs), "packages in %s: %r" % (vltsys.BUILD_DIR, debs))
        apt_get("install", *[d[0] for d in debs])

    def purge(self):
        """Purges the packages and whatever was installed with them."""
        if self.packages_before is None:
            return
        added = installed_packages() - self.packages_before
        if added:
            apt_get("purge", *sorted(added))
        self.packages_before = None

    # ---- clean-up ----------------------------------------------------------

    def cleanup(self):
        problems = []
        for proc in self.processes:
            if proc.poll() is None:
                proc.kill()
                proc.wait(10)
        for step in (self.purge, self.remove_user):
            try:
                step()
            except Exception as e:  # every step is tried
                problems.append("%s: %s" % (step.__name__, e))
        return problems

    def remove_user(self):
        if self.user_made:
            sh("userdel", "-r", USER)
            self.user_made = False


class XServer:
    """Xvfb on a free display, open to every local user; it ends by itself
    after a while."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["timeout", "300", "Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "1024x768x24", "-nolisten", "tcp", "-noreset", "-ac"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        if not number:
            self.stop()
            raise AssertionError("Xvfb did not start")
        self.display = ":" + number

    def x(self, *args):
        return subprocess.run(args, env=dict(os.environ, DISPLAY=self.display),
                              capture_output=True, text=True, timeout=20).stdout

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


# ---- the steps -------------------------------------------------------------

def build_packages(m):
    sh(os.path.join(vltsys.SOURCE_DIR, "scripts", "package.sh"), timeout=3600)


def install_program(m):
    # The user first: the file lists compared at the end are taken when the
    # first package is installed.
    m.add_user()
    m.install("vellumtide")
    check(os.access(PROGRAM, os.X_OK), "no program at " + PROGRAM)
    check(not glob.glob("/usr/lib/*/vellumtide/vellumtide-gui.so"), "the module is installed")


def store_and_show_settings(m):
    m.server = vltsys.SmtpServer(m.work, user="batch", password="s3cret", lifetime=240)
    status, _, err = m.run("--xcnf,", "127.0.0.1,", "%d," % m.server.port, "me@example.com,",
                           ",", ",", "batch,", "s3cret")
    check_equal(status, 0, "exit status of --xcnf (%s)" % err)
    config = os.path.join(m.home, ".config", "vellumtide")
    settings = os.path.join(config, "vlt.sysdat")
    check_equal((mode(config), mode(settings), os.stat(settings).st_uid),
                (0o700, 0o600, m.uid), "modes of the settings folder and file, owner")
    check_equal(mode(os.path.join(m.home, ".config")), 0o755, "mode of ~/.config")
    for home in (True, False):
        status, out, err = m.run("--info", home=home)
        check_equal(status, 0, "exit status of --info (%s)" % err)
        lines = out.replace("\r\n", "\n").splitlines()
        check("  SMTPポート ： %d" % m.server.port in lines, "--info text: %r" % out)
        check_equal(lines[-1], "  設定ファイル ： " + settings,
                    "--info last line (HOME %s)" % ("set" if home else "unset"))


def send_message(m):
    body = m.user_file("body.txt", BODY.encode("utf-8"))
    attachment = m.user_file("report.csv", ATTACHMENT)
    status, _, err = m.run("to@example.com,", ",", SUBJECT + ",", body + ",", attachment,
                           env_changes={"FROM_NAME": "山田 太郎"})
    check_equal(status, 0, "exit status of the sending run (%s)" % err)
    received = m.server.messages()
    check_equal(len(received), 1, "messages received")
    envelope, raw = received[0]
    check_equal((envelope["mail_from"], envelope["rcpt_tos"]),
                ("me@example.com", ["to@example.com"]), "envelope")
    message = email.message_from_bytes(raw, policy=email.policy.default)
    check_equal((str(message["Subject"]), message["From"].addresses[0].display_name),
                (SUBJECT, "山田 太郎"), "subject and sender name")
    text = message.get_body(("plain",)).get_content().replace("\r\n", "\n")
    check_equal(text.rstrip("\n"), BODY.rstrip("\n"), "body")
    parts = list(message.iter_attachments())
    check_equal([(p.get_filename(), p.get_content()) for p in parts],
                [("report.csv", ATTACHMENT)], "attachment")
    logs = os.path.join(m.home, ".local", "state", "vellumtide")
    check_equal(mode(logs), 0o700, "mode of the log folder")
    check(os.path.exists(os.path.join(logs, "Scrivlane1.log")),
          "no message log in %s: %r" % (logs, os.listdir(logs)))
    check(not os.path.exists(os.path.join(m.home, ".config", "vellumtide", "Scrivlane1.log")),
          "the message log is beside the settings")


def error_log(m):
    path = os.path.join(m.home, ".local", "state", "vellumtide", "vellumtideERR1.log")
    if not os.path.exists(path):
        return ""
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def without_module_no_x_is_loaded(m):
    m.xserver = XServer()
    before = error_log(m)
    status, _, err = m.run("to@example.com,", ",", ",", "本文",
                           env_changes={"DISPLAY": m.xserver.display, "LD_DEBUG": "files"})
    check_equal(status, 1, "exit status of the run lacking its subject")
    check_equal(error_log(m)[len(before):].count(MISSING), 1, "missing-parameter report")
    # The dynamic loader says "calling init: PATH" for each library it loads.
    loaded = " ".join(re.findall(r"calling init: (\S+)", err))
    check("libc.so" in loaded, "no loader output: %r" % err[-500:])
    check_equal(sorted(set(TOOLKIT.findall(loaded))), [], "X or toolkit libraries loaded")


def with_module_the_window_opens(m):
    m.install("vellumtide-gui")
    module = glob.glob("/usr/lib/*/vellumtide/vellumtide-gui.so")
    check_equal(len(module), 1, "installed module")
    proc = m.start("to@example.com,", ",", ",", "本文", env_changes={"DISPLAY": m.xserver.display})
    found = []

    def window_open():
        found[:] = m.xserver.x("xdotool", "search", "--onlyvisible", "--name", "Vellumtide").split()
        return bool(found) or proc.poll() is not None

    wait_for(window_open, 30, "the re-entry window")
    if proc.poll() is not None:
        raise AssertionError("the run ended without a window: %r" % proc.communicate()[1][-800:])
    with open("/proc/%d/maps" % proc.pid) as f:
        check(module[0] in f.read(), "the module is not mapped")
    before = error_log(m)
    subprocess.run([WM_CLOSE, found[0]], env=dict(os.environ, DISPLAY=m.xserver.display),
                   check=True, timeout=10)
    _, err = proc.communicate(timeout=30)
    check_equal(proc.returncode, 1, "exit status after the close box (%s)" % err[-300:])
    check_equal(error_log(m)[len(before):].count(MISSING), 1, "missing-parameter report")


def purge_leaves_nothing(m):
    files_before = m.files_before
    m.purge()
    check_equal(installed_packages() & set(PACKAGES), set(), "installed after the purge")
    left = sorted(file_list() - files_before)
    check_equal(left, [], "files left outside the user's home")


STEPS = [
    ("both packages built and checked by lintian", build_packages),
    ("a user made; vellumtide installed alone with apt", install_program),
    ("settings stored in ~/.config/vellumtide and shown", store_and_show_settings),
    ("a Japanese message with an attachment sent; logs in ~/.local/state/vellumtide",
     send_message),
    ("without vellumtide-gui a run lacking its subject loads no X library",
     without_module_no_x_is_loaded),
    ("with vellumtide-gui the same run opens the re-entry window", with_module_the_window_opens),
    ("the purge leaves no file of the packages", purge_leaves_nothing),
]


def main():
    if os.geteuid() != 0 or os.environ.get("CI", "").lower() != "true":
        print("package test not run: it installs packages and adds a user, so it runs only "
              "as root with CI=true")
        return 0
    for tool in ("apt-get", "useradd", "Xvfb", "xdotool", "lintian", "dpkg-shlibdeps"):
        check(subprocess.run(["which", tool], capture_output=True).returncode == 0,
              tool + " is not installed")
    check(os.access(WM_CLOSE, os.X_OK), "no %s (build the tests first)" % WM_CLOSE)
    # A stop from outside still cleans up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    signal.signal(signal.SIGINT, lambda *_: sys.exit(1))
    work = tempfile.mkdtemp(prefix="vlt-package-")
    os.chmod(work, 0o755)
    m = Machine(work)
    m.server = m.xserver = None
    failed = False
    try:
        for name, step in STEPS:
            t0 = time.monotonic()
            try:
                step(m)
            except Exception:
                failed = True
                print("FAIL %s (%.1f s)" % (name, time.monotonic() - t0))
                traceback.print_exc(file=sys.stdout)
                break
            print("ok   %s (%.1f s)" % (name, time.monotonic() - t0))
            sys.stdout.flush()
    finally:
        for service in (m.server, m.xserver):
            if service is not None:
                service.stop()
        problems = m.cleanup()
        subprocess.run(["rm", "-rf", work])
    for problem in problems:
        failed = True
        print("FAIL clean-up: " + problem)
    print("package test %s" % ("failed" if failed else "passed"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
