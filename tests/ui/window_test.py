#!/usr/bin/env python3
"""Window tests on a private virtual X server.

Drives the three graphical windows through ui_driver with xdotool: typing
into the fields and pressing OK, the close box, the masked password, the
countdown with its message line, the server information window on top, and
the choice of mode. Screenshots of every window are saved as PNG files in the
output folder so that a person can look at them.

    window_test.py UI_DRIVER WM_CLOSE OUTPUT_FOLDER [PROGRAM]

With PROGRAM (the vellumtide executable), a sending run lacking its subject is
also driven through the re-entry window.

Exits 77 (skipped) when Xvfb, xdotool, xwd or ImageMagick is missing.
"""

import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "support"), os.path.join(HERE, "..", "system")]
from vltsys import SKIP, check, free_port, run_cases  # noqa: E402

SETTLE = 0.3  # seconds for the window to take in an input event


def px(twips):
    """The layout's twips in pixels, 15 twips to a pixel."""
    return (twips + 7) // 15


def centre(left, top, width, height):
    """The middle of a control given in twips, in pixels from the window's corner."""
    return px(left) + px(width) // 2, px(top) + px(height) // 2


# Controls of the re-entry window and the settings window (twips).
PARAM = {
    "to": (960, 660, 7815, 315),
    "cc": (960, 1020, 7815, 315),
    "subject": (960, 1500, 8775, 315),
    "body": (960, 1860, 8775, 2955),
    "attach": (960, 4980, 7815, 315),
    "info": (3720, 5580, 1215, 375),
    "ok": (7140, 5580, 1695, 375),
    "message_line": (120, 6120, 9495, 255),
}
SETTINGS = {
    "smtp_server": (1680, 720, 5115, 315),
    "smtp_port": (7920, 720, 795, 315),
    "from": (1680, 1260, 5115, 315),
    "pop_server": (1680, 2040, 5115, 315),
    "pop_port": (7920, 2040, 855, 315),
    "user": (1680, 2700, 1995, 315),
    "password": (5940, 2700, 1995, 315),
    "ok": (7080, 3360, 1695, 375),
}

USAGE_TEXT = (
    "使用法：　vellumtide　フラグ, SMTPSRV, SMTPPORT, FROM, POPSRV, [POPPORT], USER, PASS\\r\\n"
    "　　または　vellumtide　TO, [CC], SUB, MSG [,ATCH]\\r\\n\\r\\n"
    "       SMTPSRV \\t= SMTPサーバ (IPアドレス or ホスト名)\\r\\n"
    "       SMTPPORT\\t= SMTPポート (通常 25 or 587)"
)
SETTINGS_TEXT = (
    "現在設定されているサーバ情報　　（認証方式： SMTP AUTH）\\r\\n\\r\\n"
    "  SMTPサーバ ： 127.0.0.1　\\r\\n  SMTPポート ： 2525\\r\\n"
    "  送信元メールアドレス： me@example.com　"
)


class XServer:
    """Xvfb on a free display number; it also ends by itself after a while.
    -noreset keeps it from restarting (and refusing connections for a moment)
    each time its last client disconnects between two steps."""

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["timeout", "170", "Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "1024x768x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 15
        os.set_blocking(read_end, False)
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            try:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
            except BlockingIOError:
                time.sleep(0.05)
        os.close(read_end)
        if not number.strip():
            self.__exit__(None, None, None)
            raise AssertionError("Xvfb did not start")
        self.display = ":" + number.decode().strip()
        return self

    def __exit__(self, *exc):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class Session:
    def __init__(self, driver, wm_close, out_dir, display):
        self.driver = driver
        self.wm_close = wm_close
        self.out_dir = out_dir
        self.env = dict(os.environ, DISPLAY=display)
        self.env.pop("VELLUMTIDE_UI", None)
        self.env.pop("VELLUMTIDE_TEST_COUNTDOWN_MS", None)
        # In a sanitizer build, the toolkit's own caches are not leaks of ours.
        suppressions = os.path.join(os.path.dirname(os.path.abspath(__file__)), "toolkit.supp")
        lsan = self.env.get("LSAN_OPTIONS", "")
        self.env["LSAN_OPTIONS"] = (lsan + ":" if lsan else "") + "suppressions=" + suppressions
        self.tmp = tempfile.mkdtemp(prefix="vlt-ui-")
        self.running = []

    def cleanup(self):
        """Ends drivers a failed test left behind, so that the next test finds
        only its own windows."""
        for proc in self.running:
            if proc.poll() is None:
                proc.kill()
                proc.communicate()
        self.running = []

    def x(self, *args, timeout=10):
        done = subprocess.run(args, env=self.env, capture_output=True, timeout=timeout)
        return done.stdout.decode()

    def start(self, *args, env=None):
        proc = subprocess.Popen([self.driver, *args], env=env or self.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        self.running.append(proc)
        return proc

    def result(self, proc, timeout=15):
        try:
            out, err = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.communicate()
            raise AssertionError("the window did not close")
        check(proc.returncode == 0, f"driver failed: {err.decode()}")
        return json.loads(out.decode().strip().splitlines()[-1])

    def window(self, name, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            ids = self.x("xdotool", "search", "--onlyvisible", "--name", name).split()
            if ids:
                time.sleep(SETTLE)  # let it draw
                return ids[0]
            time.sleep(0.1)
        ended = [b" ".join(p.communicate()).decode(errors="replace") for p in self.running
                 if p.poll() is not None]
        everything = self.x("xdotool", "search", "--name", ".").split()
        names = [self.x("xdotool", "getwindowname", w).strip() for w in everything]
        raise AssertionError(f"no window named {name!r}; windows {names}; ended drivers {ended}")

    def gone(self, wid):
        return wid not in self.x("xdotool", "search", "--onlyvisible", "--name", ".").split()

    def size(self, wid):
        info = self.x("xwininfo", "-id", wid)
        fields = dict(line.strip().split(":", 1) for line in info.splitlines() if ":" in line)
        return int(fields["Width"]), int(fields["Height"])

    def click(self, wid, point):
        self.x("xdotool", "mousemove", "--window", wid, str(point[0]), str(point[1]),
               "click", "1")
        time.sleep(SETTLE)

    def click_control(self, wid, control):
        self.click(wid, centre(*control))

    def type(self, text):
        # xdotool maps a spare key to each character missing from the keyboard
        # map and maps it back soon after; typing those slowly gives the
        # window time to look the key up before it changes again.
        delay = "25" if text.isascii() else "120"
        self.x("xdotool", "type", "--delay", delay, text, timeout=30)
        time.sleep(SETTLE)

    def key(self, *keys):
        self.x("xdotool", "key", *keys)
        time.sleep(SETTLE)

    def replace_text(self, wid, control, text):
        self.click_control(wid, control)
        self.key("ctrl+a")
        self.type(text)

    def close_box(self, wid):
        subprocess.run([self.wm_close, wid], env=self.env, check=True, timeout=10)

    def dump(self, wid):
        path = os.path.join(self.tmp, "shot.xwd")
        with open(path, "wb") as out:
            which = ["-root"] if wid == "root" else ["-id", wid]
            subprocess.run(["xwd", "-silent", *which], env=self.env, stdout=out,
                           check=True, timeout=10)
        return path

    def screenshot(self, wid, name):
        target = os.path.join(self.out_dir, name)
        subprocess.run(["convert", "xwd:" + self.dump(wid), "png:" + target], check=True,
                       timeout=30)
        print(f"  screenshot {target}")

    def pixels(self, wid, control):
        """The raw pixels of one control, to compare what two moments showed."""
        left, top, width, height = (px(v) for v in control)
        crop = f"{width}x{height}+{left}+{top}"
        done = subprocess.run(["convert", "xwd:" + self.dump(wid), "-crop", crop, "rgb:-"],
                              capture_output=True, check=True, timeout=30)
        return done.stdout


def test_typed_fields_come_back_on_ok(s):
    proc = s.start("gui", "params", "to=keep@example.com", "body=本文一\\r\\n本文二",
                   "attach=/tmp/a.pdf")
    wid = s.window("Vellumtide")
    check(s.size(wid) == (px(9975), px(6420)), f"re-entry window size {s.size(wid)}")
    s.screenshot(wid, "ui-params.png")
    s.replace_text(wid, PARAM["to"], "taro@example.com")
    s.click_control(wid, PARAM["cc"])
    s.type("cc@example.com")
    s.click_control(wid, PARAM["subject"])
    s.type("テスト件名 ｶﾀｶﾅ")
    s.screenshot(wid, "ui-params-typed.png")
    s.click_control(wid, PARAM["ok"])
    got = s.result(proc)
    check(got["outcome"] == "Stored", got)
    fields = got["fields"]
    check(fields["to"] == "taro@example.com", fields)
    check(fields["cc"] == "cc@example.com", fields)
    check(fields["subject"] == "テスト件名 ｶﾀｶﾅ", fields)
    check(fields["body"] == "本文一\r\n本文二", f"untouched body changed: {fields}")
    check(fields["attach"] == "/tmp/a.pdf", fields)


def test_typed_body_lines_end_with_crlf(s):
    proc = s.start("gui", "params", "to=keep@example.com", "subject=件名")
    wid = s.window("Vellumtide")
    s.click_control(wid, PARAM["body"])
    s.type("line one")
    s.key("Return")
    s.type("二行目")
    s.click_control(wid, PARAM["ok"])
    got = s.result(proc)
    check(got["outcome"] == "Stored", got)
    check(got["fields"]["body"] == "line one\r\n二行目", got)
    check(got["fields"]["to"] == "keep@example.com", got)


def test_close_box_stores_nothing(s):
    proc = s.start("gui", "params", "to=keep@example.com")
    wid = s.window("Vellumtide")
    s.click_control(wid, PARAM["subject"])
    s.type("typed")
    s.key("Escape")
    check(not s.gone(wid), "Escape closed the re-entry window")
    s.close_box(wid)
    got = s.result(proc)
    check(got["outcome"] == "Closed", got)
    check(got["fields"]["subject"] == "" and got["fields"]["to"] == "keep@example.com", got)


def test_countdown_message_server_info_and_time_out(s):
    # 13 s: the first countdown message (10 s left) appears after 3 s.
    env = dict(s.env, VELLUMTIDE_TEST_COUNTDOWN_MS="13000")
    start = time.monotonic()
    proc = s.start("gui", "params", "to=keep@example.com", "settings_text=" + SETTINGS_TEXT,
                   "exe=vltinfo", env=env)
    wid = s.window("Vellumtide")
    s.replace_text(wid, PARAM["to"], "typed@example.com")
    time.sleep(max(0.0, 3.8 - (time.monotonic() - start)))
    line = s.pixels(wid, PARAM["message_line"])
    check(len(set(line[i:i + 3] for i in range(0, len(line), 3))) > 1,
          "no countdown message after 3 s")
    s.screenshot(wid, "ui-params-countdown.png")
    s.click_control(wid, PARAM["info"])
    info = s.window("vltinfo")
    width, height = s.size(info)
    check(width < px(8200) and height < px(5700), f"server information window {width}x{height}")
    s.screenshot(info, "ui-server-info.png")
    s.screenshot("root", "ui-server-info-over-params.png")
    # Left open: the countdown runs on underneath and closes both windows.
    got = s.result(proc, timeout=60)
    check(got["outcome"] == "TimedOut", got)
    check(got["fields"]["to"] == "keep@example.com", f"stored on time-out: {got}")
    check(got["elapsed_ms"] >= 12500, f"closed after {got['elapsed_ms']} ms")


def test_short_countdown_times_out(s):
    env = dict(s.env, VELLUMTIDE_TEST_COUNTDOWN_MS="1500")
    proc = s.start("gui", "params", "subject=件名", env=env)
    wid = s.window("Vellumtide")
    got = s.result(proc, timeout=10)
    check(got["outcome"] == "TimedOut", got)
    check(got["elapsed_ms"] >= 1400, got)
    check(s.gone(wid), "window still shown")


def test_settings_typed_with_masked_password(s):
    proc = s.start("gui", "settings", "smtp_server=smtp.example.com", "password=old")
    wid = s.window("Vellumtide")
    check(s.size(wid) == (px(9690), px(4155)), f"settings window size {s.size(wid)}")
    s.screenshot(wid, "ui-settings.png")
    s.replace_text(wid, SETTINGS["smtp_port"], "587")
    s.replace_text(wid, SETTINGS["from"], "ｍｅ@example.com")
    s.replace_text(wid, SETTINGS["pop_server"], "pop.example.com")
    # Two passwords of the same length look the same; two user names do not.
    s.replace_text(wid, SETTINGS["password"], "abc")
    secret_one = s.pixels(wid, SETTINGS["password"])
    s.replace_text(wid, SETTINGS["password"], "xyz")
    secret_two = s.pixels(wid, SETTINGS["password"])
    s.replace_text(wid, SETTINGS["user"], "abc")
    user_one = s.pixels(wid, SETTINGS["user"])
    s.replace_text(wid, SETTINGS["user"], "xyz")
    user_two = s.pixels(wid, SETTINGS["user"])
    check(user_one != user_two, "field pixels do not show what was typed")
    check(secret_one == secret_two, "the password is shown, not masked")
    s.screenshot(wid, "ui-settings-typed.png")
    s.click_control(wid, SETTINGS["ok"])
    got = s.result(proc)
    check(got["outcome"] == "Stored", got)
    check(got["fields"] == {
        "smtp_server": "smtp.example.com", "smtp_port": "587", "from": "ｍｅ@example.com",
        "pop_server": "pop.example.com", "pop_port": "", "user": "xyz", "password": "xyz",
    }, got)


def test_settings_close_box_stores_nothing(s):
    proc = s.start("gui", "settings", "user=keep")
    wid = s.window("Vellumtide")
    s.replace_text(wid, SETTINGS["user"], "changed")
    s.close_box(wid)
    got = s.result(proc)
    check(got["outcome"] == "Closed" and got["fields"]["user"] == "keep", got)


def test_message_windows_wide_and_narrow(s):
    sizes = {}
    for kind, wide, text in (("wide", "1", USAGE_TEXT), ("narrow", "0", SETTINGS_TEXT)):
        proc = s.start("gui", "message", "exe=vltmsg", "wide=" + wide, "text=" + text)
        wid = s.window("vltmsg   Ver")
        name = s.x("xdotool", "getwindowname", wid).strip()
        check(name == "vltmsg   Ver： 0.3.43", f"caption {name!r}")
        sizes[kind] = s.size(wid)
        s.screenshot(wid, f"ui-message-{kind}.png")
        width, height = sizes[kind]
        if kind == "wide":
            s.click(wid, (width // 2, height - px(525) + px(375) // 2))  # OK
        else:
            s.close_box(wid)
        got = s.result(proc)
        check(got["outcome"] == "Shown", got)
    check(sizes["wide"][0] > sizes["narrow"][0] and sizes["wide"][1] > sizes["narrow"][1],
          f"sizes {sizes}")


def test_mode_choice(s):
    def chosen(**env_changes):
        env = dict(s.env)
        for name, value in env_changes.items():
            if value is None:
                env.pop(name, None)
            else:
                env[name] = value
        return s.result(s.start("auto", "mode", env=env))["mode"]

    check(chosen() == "gui", "display available, no terminal")
    check(chosen(DISPLAY=None) == "none", "no display")
    check(chosen(DISPLAY=":999") == "none", "display that does not open")
    check(chosen(VELLUMTIDE_UI="none") == "none", "forced none")
    check(chosen(VELLUMTIDE_UI="tty", DISPLAY=None) == "tty", "forced tty")
    # Windows asked for without a display: the input window acts as closed.
    env = dict(s.env)
    env.pop("DISPLAY")
    got = s.result(s.start("gui", "params", "to=keep", env=env))
    check(got["outcome"] == "Closed", got)


MISSING = "パラメータが不足しています。"
NO_ANSWER = "再入力画面でパラメータを要求しましたが、応答がないため処理中断しました。"


def test_program_run_goes_on_after_ok(s):
    # The settings name a loopback port nobody listens on: the run fails when
    # it connects, after the window.
    home = tempfile.mkdtemp(prefix="vlt-home-", dir=s.tmp)
    env = dict(s.env, VELLUMTIDE_HOME=home)
    stored = subprocess.run(
        [s.program, f"--xcnf, 127.0.0.1, {free_port()}, me@example.com, , , user, secret"],
        env=dict(env, VELLUMTIDE_UI="none"), stdin=subprocess.DEVNULL, timeout=15)
    check(stored.returncode == 0 and os.path.exists(os.path.join(home, "vlt.sysdat")),
          "settings not stored")

    def error_log():
        text = ""
        for path in sorted(glob.glob(os.path.join(home, "*1.log"))):
            with open(path, encoding="utf-8", errors="replace") as log:
                text += log.read()
        return text

    def send(action, extra_env=None):
        for path in glob.glob(os.path.join(home, "*.log")):
            os.remove(path)
        run = subprocess.Popen([s.program, "to@example.com, , , 本文"],
                               env=dict(env, **(extra_env or {})), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        s.running.append(run)
        wid = s.window("Vellumtide")
        action(wid)
        try:
            run.wait(timeout=20)
        except subprocess.TimeoutExpired:
            raise AssertionError("the run did not end")
        return error_log()

    def type_subject_and_ok(wid):
        s.click_control(wid, PARAM["subject"])
        s.type("件名")
        s.click_control(wid, PARAM["ok"])

    log = send(type_subject_and_ok)
    check(log and MISSING not in log, f"the run did not go on after OK: {log!r}")

    log = send(s.close_box)
    check(MISSING in log and NO_ANSWER not in log, f"close box: {log!r}")

    log = send(lambda wid: None, {"VELLUMTIDE_TEST_COUNTDOWN_MS": "1500"})
    check(NO_ANSWER in log and MISSING in log and log.index(NO_ANSWER) < log.index(MISSING),
          f"countdown: {log!r}")


TESTS = [
    test_typed_fields_come_back_on_ok,
    test_typed_body_lines_end_with_crlf,
    test_close_box_stores_nothing,
    test_countdown_message_server_info_and_time_out,
    test_short_countdown_times_out,
    test_settings_typed_with_masked_password,
    test_settings_close_box_stores_nothing,
    test_message_windows_wide_and_narrow,
    test_mode_choice,
]


def main():
    if len(sys.argv) not in (4, 5):
        print(__doc__)
        return 2
    driver, wm_close, out_dir = sys.argv[1:4]
    program = sys.argv[4] if len(sys.argv) == 5 else None
    for tool in ("Xvfb", "xdotool", "xwd", "xwininfo", "convert", "timeout"):
        if shutil.which(tool) is None:
            print(f"SKIP: {tool} is not installed")
            return SKIP
    os.makedirs(out_dir, exist_ok=True)
    with XServer() as server:
        s = Session(driver, wm_close, out_dir, server.display)
        s.program = program
        tests = TESTS + ([test_program_run_goes_on_after_ok] if program else [])

        def case(test):
            def run(_root):
                try:
                    test(s)
                finally:
                    s.cleanup()
            return (test.__name__, run)

        try:
            return run_cases([case(test) for test in tests])
        finally:
            shutil.rmtree(s.tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
