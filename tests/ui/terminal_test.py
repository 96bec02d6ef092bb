#!/usr/bin/env python3
"""Terminal prompt tests in a private tmux server.

Runs ui_driver on a real terminal (so the program chooses the terminal way by
itself), answers its prompts with tmux send-keys and reads the screen with
capture-pane: the prompts in window order with their current values, the
required labels in bold, the password without echo (and echo back on after),
a multi-line body, declining the confirmation, the countdown running out, and
the password prompt that asks on the terminal whatever standard input is.

    terminal_test.py UI_DRIVER PROGRAM

The last case stores settings with the program itself, its password item
"-" answered at the prompt.

Exits 77 (skipped) when tmux is missing.
"""

import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "support"), os.path.join(HERE, "..", "system")]
from vltsys import SKIP, check, run_cases  # noqa: E402


def countdown_text(seconds):
    return ("パラメータを指定後にOKボタンで送信してください。 あと " + str(seconds) +
            "秒で画面を閉じて処理を中断します。")


class Tmux:
    """One tmux server on its own socket; each case runs in its own session,
    which ends by itself within a minute even if this script is killed."""

    def __init__(self, work):
        self.socket = os.path.join(work, "tmux.sock")
        self.work = work
        self.env = dict(os.environ, TERM="xterm", LANG="C.UTF-8", LC_ALL="C.UTF-8")
        for name in ("VELLUMTIDE_UI", "VELLUMTIDE_TEST_COUNTDOWN_MS", "DISPLAY",
                     "WAYLAND_DISPLAY", "TMUX"):
            self.env.pop(name, None)
        self.conf = os.path.join(work, "tmux.conf")
        with open(self.conf, "w") as conf:
            conf.write("set -g history-limit 2000\n")

    def tmux(self, *args):
        done = subprocess.run(["tmux", "-S", self.socket, "-f", self.conf, *args],
                              env=self.env, capture_output=True, timeout=10)
        return done.stdout.decode(errors="replace")

    def start(self, name, command, env_vars=None):
        prefix = " ".join(f"{k}={shlex.quote(v)}" for k, v in (env_vars or {}).items())
        inner = f"{prefix} {command}; stty -a > {shlex.quote(self.path(name + '.stty'))}; sleep 30"
        self.tmux("new-session", "-d", "-s", name, "-x", "160", "-y", "50",
                  "timeout 60 sh -c " + shlex.quote(inner))

    def stop(self, name):
        self.tmux("kill-session", "-t", name)

    def kill_server(self):
        self.tmux("kill-server")

    def program_pid(self, name, program):
        """The process of `program` that session `name` runs, found among the
        descendants of its pane."""
        pids = [int(self.tmux("display-message", "-p", "-t", name, "#{pane_pid}").strip())]
        while pids:
            pid = pids.pop()
            try:
                if os.path.realpath(f"/proc/{pid}/exe") == os.path.realpath(program):
                    return pid
                with open(f"/proc/{pid}/task/{pid}/children") as children:
                    pids += [int(child) for child in children.read().split()]
            except OSError:  # ended meanwhile
                pass
        raise AssertionError(f"{program} is not running in {name}")

    def path(self, name):
        return os.path.join(self.work, name)

    def modes(self, name, timeout=10):
        """The terminal modes recorded by `stty -a` after the command ended."""
        path = self.path(name + ".stty")
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(path):
                with open(path) as stty:
                    modes = stty.read()
                if modes.endswith("\n"):  # stty has written all of it
                    return modes
            time.sleep(0.1)
        raise AssertionError(f"no terminal modes recorded; screen:\n{self.screen(name)}")

    def screen(self, name, escapes=False):
        args = ["capture-pane", "-p", "-J", "-t", name] + (["-e"] if escapes else [])
        return self.tmux(*args)

    def wait_for(self, name, text, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            shown = self.screen(name)
            if text in shown:
                return shown
            time.sleep(0.1)
        raise AssertionError(f"{text!r} not shown; screen:\n{self.screen(name)}")

    def keys(self, name, text, enter=True):
        if text:
            self.tmux("send-keys", "-t", name, "-l", text)
        if enter:
            self.tmux("send-keys", "-t", name, "Enter")

    def answer(self, name, prompt, text):
        self.wait_for(name, prompt)
        self.keys(name, text)

    def result(self, name, timeout=10):
        path = self.path(name + ".json")
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(path) and os.path.getsize(path) > 0:
                time.sleep(0.1)
                with open(path, encoding="utf-8") as result:
                    return json.loads(result.read())
            time.sleep(0.1)
        raise AssertionError(f"no result; screen:\n{self.screen(name)}")


def driver_command(t, driver, name, *args):
    out = "out=" + t.path(name + ".json")
    return " ".join(shlex.quote(a) for a in (driver, "auto", *args, out))


def test_params_prompts_defaults_and_body(t, driver):
    t.start("params", driver_command(t, driver, "params", "params", "to=a@example.com",
                                     "body=old body"))
    shown = t.wait_for("params", "To: [a@example.com] ")
    check(countdown_text(180) in shown, f"no 180-second countdown:\n{shown}")
    styled = t.screen("params", escapes=True)
    check(re.search(r"\x1b\[1mTo\x1b\[0?m", styled), "To is not bold")
    check(not re.search(r"\x1b\[1mCc", styled), "Cc is bold")
    t.keys("params", "")
    t.answer("params", "Cc: ", "cc@example.com")
    t.answer("params", "Subject: ", "件名テスト")
    t.wait_for("params", "Message: [old body] ")
    for line in ("line one", "二行目", "."):
        t.keys("params", line)
    t.answer("params", "Attach: ", "")
    t.answer("params", "O K [y/n]: ", "y")
    got = t.result("params")
    check(got["mode"] == "tty", f"terminal not chosen: {got}")
    check(got["outcome"] == "Stored", got)
    check(got["fields"] == {"to": "a@example.com", "cc": "cc@example.com",
                            "subject": "件名テスト", "body": "line one\r\n二行目",
                            "attach": ""}, got)
    t.stop("params")


def test_settings_password_without_echo(t, driver):
    t.start("settings", driver_command(t, driver, "settings", "settings",
                                       "smtp_server=smtp.example.com", "password=old"))
    for prompt, text in (("SMTP Server: [smtp.example.com] ", ""), ("Port: ", "587"),
                         ("From: ", "me@example.com"), ("POP Server: ", "pop.example.com"),
                         ("Port: ", ""), ("User: ", "taro")):
        t.answer("settings", prompt, text)
    t.answer("settings", "Password: [***] ", "hunter2")
    shown = t.wait_for("settings", "O K [y/n]: ")
    check("hunter2" not in shown, f"password echoed:\n{shown}")
    t.keys("settings", "y")
    got = t.result("settings")
    check(got["outcome"] == "Stored", got)
    check(got["fields"]["password"] == "hunter2" and got["fields"]["smtp_port"] == "587", got)
    check(got["fields"]["pop_port"] == "" and got["fields"]["user"] == "taro", got)
    modes = t.modes("settings")
    check(re.search(r"(?<![-\w])echo(?![-\w])", modes), "echo left off after the password")
    t.stop("settings")


def test_declined_confirmation_stores_nothing(t, driver):
    t.start("decline", driver_command(t, driver, "decline", "params", "to=keep@example.com"))
    t.answer("decline", "To: [keep@example.com] ", "new@example.com")
    t.answer("decline", "Cc: ", "")
    t.answer("decline", "Subject: ", "件名")
    t.wait_for("decline", "Message: ")
    t.keys("decline", "body")
    t.keys("decline", ".")
    t.answer("decline", "Attach: ", "")
    t.answer("decline", "O K [y/n]: ", "n")
    got = t.result("decline")
    check(got["outcome"] == "Closed", got)
    check(got["fields"]["to"] == "keep@example.com" and got["fields"]["subject"] == "", got)
    t.stop("decline")


def test_countdown_runs_out(t, driver):
    t.start("countdown", driver_command(t, driver, "countdown", "params", "subject=件名"),
            {"VELLUMTIDE_TEST_COUNTDOWN_MS": "2500"})
    shown = t.wait_for("countdown", "To: ")
    check(countdown_text(2) in shown or countdown_text(3) in shown, f"countdown:\n{shown}")
    t.keys("countdown", "typed@example.com", enter=False)  # never finished
    got = t.result("countdown")
    check(got["outcome"] == "TimedOut", got)
    check(got["elapsed_ms"] >= 2400, got)
    check(got["fields"]["to"] == "" and got["fields"]["subject"] == "件名", got)
    t.stop("countdown")


def test_interrupt_at_password_gives_echo_back(t, driver):
    t.start("interrupt", driver_command(t, driver, "interrupt", "settings",
                                        "smtp_server=s", "smtp_port=25", "from=f@x",
                                        "pop_server=p", "pop_port=110", "user=u"))
    for prompt in ("SMTP Server: [s] ", "Port: [25] ", "From: [f@x] ", "POP Server: [p] ",
                   "Port: [110] ", "User: [u] "):
        t.answer("interrupt", prompt, "")
    t.wait_for("interrupt", "Password: ")
    # The interrupt the keyboard would send, to the program alone so that the
    # shell around it goes on to record the terminal's modes.
    os.kill(t.program_pid("interrupt", driver), signal.SIGINT)
    modes = t.modes("interrupt")
    check(re.search(r"(?<![-\w])echo(?![-\w])", modes), "echo left off after an interrupt")
    check(not os.path.exists(t.path("interrupt.json")), "the interrupt did not end the program")
    t.stop("interrupt")


def test_password_prompt_on_the_terminal(t, driver):
    # Standard input is not the terminal: the prompt still goes to the terminal.
    t.start("password", driver_command(t, driver, "password", "password") + " < /dev/null")
    t.answer("password", "パスワード: ", "s3cret パス")
    got = t.result("password")
    check(got["outcome"] == "Stored" and got["fields"] == {"password": "s3cret パス"}, got)
    check("s3cret" not in t.screen("password"), "password echoed")
    check(re.search(r"(?<![-\w])echo(?![-\w])", t.modes("password")), "echo left off")
    t.stop("password")
    # In a session of its own the driver has no terminal to ask on.
    done = subprocess.run([driver, "none", "password"], start_new_session=True,
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=10)
    got = json.loads(done.stdout.decode())
    check(got["outcome"] == "Failed" and got["fields"]["error"].startswith("エラー番号 :"), got)


def test_program_asks_for_a_dash_password(t, driver, program):
    home = t.path("home")
    os.makedirs(home, exist_ok=True)
    t.start("dash", shlex.quote(program) + " --xcnf, s.example.com, 25, f@example.com, , , u, -",
            {"VELLUMTIDE_HOME": home, "VELLUMTIDE_UI": "none"})
    t.answer("dash", "パスワード: ", "s3cret")
    t.modes("dash")  # the program has ended
    check("s3cret" not in t.screen("dash"), "password echoed")
    check(os.path.exists(os.path.join(home, "vlt.sysdat")), "settings not stored:\n" +
          t.screen("dash"))
    t.stop("dash")


TESTS = [
    test_params_prompts_defaults_and_body,
    test_settings_password_without_echo,
    test_declined_confirmation_stores_nothing,
    test_countdown_runs_out,
    test_interrupt_at_password_gives_echo_back,
    test_password_prompt_on_the_terminal,
]


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    driver, program = sys.argv[1:]
    for tool in ("tmux", "timeout"):
        if shutil.which(tool) is None:
            print(f"SKIP: {tool} is not installed")
            return SKIP
    with tempfile.TemporaryDirectory(prefix="vlt-tty-") as work:
        t = Tmux(work)
        try:
            return run_cases([(test.__name__, lambda _root, test=test: test(t, driver))
                              for test in TESTS] +
                             [("test_program_asks_for_a_dash_password",
                               lambda _root: test_program_asks_for_a_dash_password(t, driver,
                                                                                   program))])
        finally:
            t.kill_server()


if __name__ == "__main__":
    sys.exit(main())
