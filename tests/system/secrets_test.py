#!/usr/bin/python3
"""Secrets kept off the command line and out of other processes' reach: the
password item "-" read from standard input, and a running program that no
other process of its user can inspect."""
import base64
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vltsys  # noqa: E402
from vltsys import check, check_equal  # noqa: E402

NOBODY = 65534
MISSING = "パラメータが不足しています。"


def store_with_input(home, port, stdin_bytes):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env.update(VELLUMTIDE_HOME=home.path, VELLUMTIDE_UI="none", LANG="C.UTF-8")
    args = ("--xcnf, 127.0.0.1, %d, sender@example.com, , , user, -" % port).split()
    return subprocess.run([vltsys.PROGRAM] + args, env=env, input=stdin_bytes,
                          capture_output=True, timeout=30)


def password_from_standard_input(root):
    """The line piped in is the password (CR LF removed) that AUTH sends;
    the text after the line stays unread."""
    with vltsys.SinkServer() as server:
        home = vltsys.Home(root)
        done = store_with_input(home, server.port, "pa ss-ワード\r\nnext line\n".encode())
        check_equal(done.returncode, 0, "exit status storing (%s)" % home.error_entries())
        done = home.run("to@example.com, , s, body")
        check_equal(done.returncode, 0, "exit status sending (%s)" % home.error_entries())
        check_equal([base64.b64decode(line) for line in server.credentials],
                    ["user\0user\0pa ss-ワード".encode("cp932")], "AUTH PLAIN credentials")


def empty_input_is_a_missing_password(root):
    for stdin_bytes in (b"", b"\n"):
        home = vltsys.Home(root)
        done = store_with_input(home, 1, stdin_bytes)
        check_equal(done.returncode, 1, "exit status for input %r" % stdin_bytes)
        check_equal(home.error_entries(), [MISSING], "reports for input %r" % stdin_bytes)
        check(not os.path.exists(home.file("vlt.sysdat")), "settings stored")


def not_inspectable_by_its_user(root):
    """Run as an ordinary user, the program waiting for a greeting is not
    dumpable: the entries of its /proc folder belong to root, not to that
    user, who can therefore neither read its memory nor attach to it."""
    if os.geteuid() != 0:
        print("not run: switching to another user needs root")
        return
    with vltsys.SinkServer(silent=True) as server:
        home = vltsys.Home(root)
        os.chown(home.path, NOBODY, NOBODY)
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        env.update(VELLUMTIDE_HOME=home.path, VELLUMTIDE_UI="none", LANG="C.UTF-8")
        as_nobody = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups",
                     vltsys.PROGRAM]
        store = ("--xcnf, 127.0.0.1, %d, sender@example.com, , , user, secret" % server.port)
        done = subprocess.run(as_nobody + store.split(), env=env, capture_output=True, timeout=30)
        check_equal(done.returncode, 0, "exit status storing (%s)" % done.stderr)
        proc = subprocess.Popen(as_nobody + "to@example.com, , s, body".split(), env=env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        try:
            check(server.connected.wait(20), "the program did not connect")
            with open("/proc/%d/status" % proc.pid) as f:
                uids = [line.split()[1:] for line in f if line.startswith("Uid:")][0]
            check_equal(uids, [str(NOBODY)] * 4, "user ids of the program")
            for entry in ("mem", "environ", "status"):
                check_equal(os.stat("/proc/%d/%s" % (proc.pid, entry)).st_uid, 0,
                            "owner of /proc/<pid>/" + entry)
        finally:
            server.stop()  # the greeting never comes: the program gives up
            try:
                proc.wait(40)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()


if __name__ == "__main__":
    vltsys.require(os.access(vltsys.PROGRAM, os.X_OK), "no program at " + vltsys.PROGRAM)
    sys.exit(vltsys.run_cases([
        ("password_from_standard_input", password_from_standard_input),
        ("empty_input_is_a_missing_password", empty_input_is_a_missing_password),
        ("not_inspectable_by_its_user", not_inspectable_by_its_user),
    ]))
