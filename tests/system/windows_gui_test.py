#!/usr/bin/env python3
"""The windows of vellumtide.exe under wine, on the virtual X server that
DISPLAY names (scripts/test-windows.sh starts it before wine's server, whose
desktop takes the display it finds then).

Each window is found by its caption, photographed (PNG files in the build
folder's gui-screenshots, for a person to look at), typed into with xdotool
and ended with OK, Alt+F4 (WM_CLOSE, as the close box) or the countdown.
Under Xvfb no window manager draws title bars; the keys reach the window
that wine gives the focus.

    scripts/wine-env.sh build-win /usr/bin/python3 tests/system/windows_gui_test.py
"""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
os.environ["VLT_TARGET"] = "windows"
import vltsys  # noqa: E402
from vltsys import check, check_equal  # noqa: E402

SHOTS = os.path.join(vltsys.TARGET.build_dir, "gui-screenshots")
INPUT_CAPTION = "【再入力】 Vellumtide"
MISSING = "パラメータが不足しています。"
NO_ANSWER = "再入力画面でパラメータを要求しましたが、応答がないため処理中断しました。"
SETTLE = 0.5


def x(*args, timeout=30):
    return subprocess.run(args, capture_output=True, timeout=timeout).stdout.decode()


def window(name, proc, timeout=60):
    """The X window whose caption holds `name`, once it is shown. The first
    look comes after a few seconds: searching while wine is still starting
    the program was seen to keep its window from ever being mapped."""
    time.sleep(5)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        ids = x("xdotool", "search", "--onlyvisible", "--name", name).split()
        if ids:
            time.sleep(1.0)  # let it draw
            return ids[0]
        check(proc.poll() is None, "the run ended before %r showed: %r" % (
            name, [b.decode("cp932", "replace") for b in proc.communicate()]))
        time.sleep(1.0)
    names = [x("xdotool", "getwindowname", w).strip()
             for w in x("xdotool", "search", "--name", ".").split()]
    raise AssertionError("no window %r; windows %r" % (name, names))


def keys(*names):
    x("xdotool", "key", "--delay", "80", *names)
    time.sleep(SETTLE)


def type_text(text):
    x("xdotool", "type", "--delay", "40" if text.isascii() else "150", text, timeout=60)
    time.sleep(SETTLE)


def screenshot(wid, name):
    os.makedirs(SHOTS, exist_ok=True)
    target = os.path.join(SHOTS, name)
    subprocess.run(["import", "-window", wid, target], check=True, timeout=30)
    print("  screenshot " + target)


def start(home, text, env=None):
    """Starts a run with the windows on (the default way on Windows)."""
    full = home.env(dict({"DISPLAY": os.environ["DISPLAY"], "VELLUMTIDE_UI": ""}, **(env or {})))
    args = text.split() if text else []
    return subprocess.Popen(vltsys.TARGET.command(args, timeout=90), env=full,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)


def finish(proc):
    try:
        out, err = proc.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        raise AssertionError("the run did not end after its window")
    return proc.returncode, out, err


def store_settings(home, port):
    home.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , user, secret" % port)


def reentry_ok_sends(root):
    """The subject is missing: the re-entry window opens with the recipient
    and body given; the subject typed and OK send the message."""
    with vltsys.SmtpServer(root, "user", "secret") as server:
        home = vltsys.Home(root)
        store_settings(home, server.port)
        proc = start(home, "to@example.com, , , 本文の一行目")
        wid = window(INPUT_CAPTION, proc)
        screenshot(wid, "reentry.png")
        # The focus starts on Cc, the first in the Tab order; then the body, the subject.
        keys("Tab", "ctrl+End", "Return")
        type_text("typed line")
        keys("Tab")
        type_text("Typed subject")
        keys("Escape")  # does not close an input window
        screenshot(wid, "reentry-typed.png")
        keys("Tab", "Tab")  # To, then OK; Enter presses the focused button
        keys("Return")
        status, _, _ = finish(proc)
        check_equal(status, 0, "exit status (%s)" % home.error_entries())
        messages = server.messages()
        check_equal(len(messages), 1, "messages received")
        msg = vltsys.parse(messages[0][1])
        check_equal(msg["To"], "to@example.com", "To")
        check_equal(msg["Subject"], "Typed subject", "Subject")
        body = msg.get_body(preferencelist=("plain",)).get_content().replace("\r\n", "\n")
        check_equal(body.rstrip("\n"), "本文の一行目\ntyped line", "body")


def reentry_closed_or_timed_out(root):
    """The close box ends the run with the missing-parameters report; the
    countdown running out adds its own report before it."""
    home = vltsys.Home(root)
    store_settings(home, vltsys.free_port())
    for how, env, expected in (
            ("closed", {}, [MISSING]),
            ("timed out", {"VELLUMTIDE_TEST_COUNTDOWN_MS": "4000"}, [NO_ANSWER, MISSING])):
        for name in os.listdir(home.path):
            if name.endswith(".log"):
                os.remove(home.file(name))
        proc = start(home, "to@example.com, , , 本文", env)
        window(INPUT_CAPTION, proc)
        if how == "closed":
            keys("alt+F4")
        status, _, _ = finish(proc)
        check_equal(status, 1, how + ": exit status")
        check_equal(home.error_entries(), expected, how + ": reports")


def settings_window_stores(root):
    """--conf without the user opens the settings window; the user typed
    there is stored (masked password field and all)."""
    home = vltsys.Home(root)
    proc = start(home, "--conf, 127.0.0.1, 2525, me@example.com, 127.0.0.1, , , secret")
    wid = window(INPUT_CAPTION, proc)
    screenshot(wid, "settings.png")
    # The focus starts on POP Server; Shift+Tab goes back to Password, then User.
    keys("shift+Tab", "shift+Tab")
    type_text("typeduser")
    # From User: Password, POP Server, From, Port, SMTP Server, OK.
    keys("Tab", "Tab", "Tab", "Tab", "Tab", "Tab")
    screenshot(wid, "settings-typed.png")
    keys("Return")
    status, _, _ = finish(proc)
    check_equal(status, 0, "exit status (%s)" % home.error_entries())
    check_equal(home.stored_user(), "typeduser", "stored user")


def usage_window(root):
    """No arguments: the usage text in the message window; closing it ends
    the run, and nothing is written to standard output."""
    home = vltsys.Home(root)
    proc = start(home, "")
    wid = window("vellumtide   Ver", proc)
    screenshot(wid, "usage.png")
    keys("alt+F4")
    _, out, _ = finish(proc)
    check_equal(out, b"", "standard output")


if __name__ == "__main__":
    missing = vltsys.TARGET.missing()
    for tool in ("xdotool", "import"):
        if missing is None and subprocess.run(["which", tool], capture_output=True).returncode:
            missing = tool + " is not installed"
    if missing is None and not os.environ.get("DISPLAY"):
        missing = "DISPLAY is not set (scripts/test-windows.sh starts Xvfb)"
    if missing is not None:
        print("FAIL: " + missing)  # the Windows tests never skip
        sys.exit(1)
    only = os.environ.get("VLT_GUI_CASE", "")
    sys.exit(vltsys.run_cases([case for case in [
        ("windows gui: usage text in the message window", usage_window),
        ("windows gui: re-entry window, subject typed, OK sends", reentry_ok_sends),
        ("windows gui: re-entry window closed, countdown", reentry_closed_or_timed_out),
        ("windows gui: settings window stores what is typed", settings_window_stores),
    ] if only in case[0]]))
