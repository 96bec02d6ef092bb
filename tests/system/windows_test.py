#!/usr/bin/python3
"""The Windows build (build-win/vellumtide.exe) run under wine against the
same real servers as the Linux build: the delivery and POP-before-SMTP cases
shared with the Linux scripts, and the cases where Windows differs: output
and logs in code page 932, Windows paths with Japanese names, a Shift_JIS
body, a settings file shared with the Linux build, and the quote rules of a
command line written in a .bat file; and the TLS cases shared with the Linux
build, through SChannel with a test CA in the prefix's ROOT store.

Run it inside the build folder's wine prefix:
    scripts/wine-env.sh build-win /usr/bin/python3 tests/system/windows_test.py
The Linux build (build/vellumtide, or VLT_LINUX_BUILD_DIR) is needed for the
settings case. Nothing here skips: a missing program, prefix or server fails.
"""
import email.header
import os
import re
import shutil
import sys

# Every case of this script, and the shared ones it borrows, drives the
# Windows build.
os.environ["VLT_TARGET"] = "windows"
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pop3_dovecot_test  # noqa: E402
import smtp_aiosmtpd_test  # noqa: E402
import tls_interop_test  # noqa: E402
import vltsys  # noqa: E402
from vltsys import check, check_equal  # noqa: E402

USER = "mailuser"
PASSWORD = "pa55-w0rd"
LINUX_BUILD_DIR = os.environ.get("VLT_LINUX_BUILD_DIR") or os.path.join(vltsys.SOURCE_DIR, "build")
CANNOT_CONNECT = "サーバに接続できません。 [SMTP] 127.0.0.1:%d"
# The Winsock text of a refused connect (10061), as the error log holds it.
REFUSED = ("WinSockManager:      意味 : 接続が拒否されました。      \r\n"
           "     説明 : 接続先のコンピュータが接続を拒否しました。接続先でサービスが動作していないか、"
           "ポート番号が違う可能性があります。    ")


def store_auth(home, port):
    home.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , %s, %s" % (port, USER, PASSWORD))


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def check_code_page_932(raw, texts, what):
    """`raw` (a log or an output) holds each of `texts` in code page 932 and
    none of them in UTF-8."""
    for text in texts:
        check(text.encode("cp932") in raw, "%s holds %r in code page 932: %r" % (what, text, raw))
        check(text.encode("utf-8") not in raw, "%s holds %r in UTF-8" % (what, text))


def received_one(server, home, done):
    check_equal(done.returncode, 0, "exit status (%s)" % home.error_entries())
    check_equal(home.error_entries(), [], "error log")
    messages = server.messages()
    check_equal(len(messages), 1, "messages received")
    return vltsys.parse(messages[0][1])


def body_text(msg):
    return msg.get_body(preferencelist=("plain",)).get_content().replace("\r\n", "\n").rstrip("\n")


def settings_shown(root):
    """--info writes code page 932 to a pipe and names the settings file by
    its Windows path."""
    home = vltsys.Home(root)
    home.store("--xcnf, 127.0.0.1, 2525, sender@example.com, , , 利用者, secret")
    done = home.run("--info")
    check_equal(done.returncode, 0, "exit status (%s)" % home.error_entries())
    check_code_page_932(done.stdout, ["現在設定されているサーバ情報", "POP3ユーザ ： 利用者"],
                        "standard output")
    lines = [line.rstrip() for line in home.output(done.stdout).splitlines()]
    check("  SMTPポート ： 2525" in lines, "port line in %r" % lines)
    check_equal(lines[-1], "  設定ファイル ： " + home.program_home + "\\vlt.sysdat", "last line")
    check_equal(home.error_entries(), [], "error log")


def shift_jis_body(root):
    """A body file in Shift_JIS (code page 932) with a Japanese name arrives
    as the same text."""
    text = "各位\n\nシフトJISの本文です。漢字・かな・ＡＢＣ\n以上\n"
    with vltsys.SmtpServer(root, USER, PASSWORD) as server:
        home = vltsys.Home(root)
        store_auth(home, server.port)
        body = write(os.path.join(root, "シフトJIS本文.txt"), text.encode("cp932"))
        done = home.run("to@example.com, , 文字コードの試験, %s" % vltsys.program_path(body))
        msg = received_one(server, home, done)
        check_equal(msg["Subject"], "文字コードの試験", "Subject")
        check_equal(body_text(msg), text.rstrip("\n"), "body")


def missing_attachment(root):
    """An attachment that names no file is left out; the message still goes."""
    with vltsys.SmtpServer(root, USER, PASSWORD) as server:
        home = vltsys.Home(root)
        store_auth(home, server.port)
        missing = vltsys.program_path(os.path.join(root, "存在しない添付.pdf"))
        done = home.run("to@example.com, , 添付なし, 本文です。, %s" % missing)
        msg = received_one(server, home, done)
        check_equal(list(msg.iter_attachments()), [], "attachments")
        check_equal(body_text(msg), "本文です。", "body")


def refused_connection(root):
    """Nothing listens on the port: the Winsock text of the refusal (10061),
    then the two reports of the failed send, in code page 932."""
    port = vltsys.free_port()
    home = vltsys.Home(root)
    store_auth(home, port)
    done = home.run("to@example.com, , 件名, 本文", env={"DEBUG_MODE": "protocol"})
    check_equal(done.returncode, 1, "exit status")
    check_equal(home.error_entries(), [REFUSED, CANNOT_CONNECT % port, vltsys.SEND_FAILED],
                "reports")
    raw = home.log_bytes("vellumtideERR")
    check_code_page_932(raw, [REFUSED + "\r\n", CANNOT_CONNECT % port + "\r\n",
                              vltsys.SEND_FAILED + "\r\n"], "error log")
    check_equal(raw.count(b"\n"), raw.count(b"\r\n"), "error log line ends that are not CR LF")
    check(not home.has_log("ScrivlaneProtocol"), "no SMTP conversation")


def settings_move_between_builds(root):
    """Each build shows the settings the other one stored, leaving the file as
    it was. (Two stores never give the same bytes: each scrambles with a key
    of its own.)"""
    linux = vltsys.LinuxTarget(LINUX_BUILD_DIR)
    check(linux.missing() is None, "the Linux build is needed: %s" % linux.missing())
    store = "--conf, 127.0.0.1, 25, 送信者@example.com, pop.example.com, 110, 利用者, 秘密の鍵"
    stored = {}
    for target in (linux, vltsys.TARGET):
        home = vltsys.Home(root, target)
        home.store(store)
        with open(home.file("vlt.sysdat"), "rb") as f:
            stored[target.name] = f.read()

    shown = {}
    for writer, reader in ((linux, vltsys.TARGET), (vltsys.TARGET, linux)):
        home = vltsys.Home(root, reader)
        write(home.file("vlt.sysdat"), stored[writer.name])
        done = home.run("--info")
        check_equal(done.returncode, 0, "%s --info exit status (%s)"
                    % (reader.name, home.error_entries()))
        lines = [line.rstrip() for line in home.output(done.stdout).splitlines()]
        check(lines[-1].startswith("  設定ファイル ： "), "%s last line %r" % (reader.name, lines))
        shown[reader.name] = lines[:-1]
        with open(home.file("vlt.sysdat"), "rb") as f:
            check_equal(f.read(), stored[writer.name], "settings file after %s --info" % reader.name)
    check_equal(shown["windows"], shown["linux"], "--info lines")
    check("  POP3ユーザ ： 利用者" in shown["linux"], "user shown: %r" % shown["linux"])


def batch_file_quote_rules(root):
    """A .bat file passes its command line to the program as written: the
    quoted program path with blanks in it, then items with quotes that the
    program strips (or keeps) itself. %ERRORLEVEL% is the exit status."""
    attachment_bytes = "添付の中身\r\n".encode("cp932")
    with vltsys.SmtpServer(root, USER, PASSWORD) as server:
        home = vltsys.Home(root)
        store_auth(home, server.port)
        # A copy alone in a folder of its own: it needs nothing beside it.
        program = os.path.join(root, "プログラム の フォルダ", "vellumtide.exe")
        os.mkdir(os.path.dirname(program))
        shutil.copy(vltsys.PROGRAM, program)
        write(os.path.join(root, "'添付.txt"), attachment_bytes)
        empty = os.path.join(root, "empty")
        os.mkdir(empty)
        batch = os.path.join(root, "send.bat")
        lines = [
            "@echo off",
            'cd /d "%s"' % vltsys.program_path(root),
            '"%s"   "to@example.com", "", "見積 "至急" の件", \'本文 の 一行目\', \'添付.txt'
            % vltsys.program_path(program),
            "echo first=%ERRORLEVEL%",
            'set "VELLUMTIDE_HOME=%s"' % vltsys.program_path(empty),
            '"%s" --info' % vltsys.program_path(program),
            "echo second=%ERRORLEVEL%",
            "exit /b 0",
        ]
        write(batch, ("\r\n".join(lines) + "\r\n").encode("cp932"))
        done = vltsys.TARGET.run_batch(batch, home.env())
        out = home.output(done.stdout)
        if "first=9009" in out:
            # cmd.exe did not find the program it was given: wine now and then
            # misses a folder made from the Linux side a moment before. The
            # program did not run, so the batch file runs once more.
            done = vltsys.TARGET.run_batch(batch, home.env())
            out = home.output(done.stdout)
        check_equal(done.returncode, 0, "cmd exit status (%s %s)" % (out, home.output(done.stderr)))
        check("first=0" in out and "second=1" in out, "exit statuses seen by the batch: %r" % out)

        msg = received_one(server, home, done)
        check_equal(msg["Subject"], '見積 "至急" の件', "Subject (inner quotes kept)")
        check_equal(msg["Cc"], None, "Cc (an item of two double quotes is empty)")
        check_equal(body_text(msg), "本文 の 一行目", "body (apostrophes stripped)")
        attachments = list(msg.iter_attachments())
        check_equal(len(attachments), 1, "attachments")
        check_equal(decoded_words(attachments[0].get_filename()), "'添付.txt", "attachment name")
        check(attachments[0].get_payload(decode=True) == attachment_bytes, "attachment bytes")


TOKEN = "wine-token-1234"


def token_command_through_cmd(root):
    """With XOAUTH2 the password item is a command that cmd.exe /c runs: its
    first output line is the token; a command that fails is reported with its
    exit status, and no connection is made."""
    with vltsys.SmtpServer(root, USER, PASSWORD, token=TOKEN) as server:
        home = vltsys.Home(root)
        home.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , %s, echo %s, , XOAUTH2"
                   % (server.port, USER, TOKEN))
        done = home.run("to@example.com, , トークン, 本文")
        msg = received_one(server, home, done)
        check_equal(msg["Subject"], "トークン", "Subject")
        logs = b"".join(home.log_bytes(p) for p in ("vellumtideERR", "Scrivlane")
                        if home.has_log(p))
        check(TOKEN.encode() not in logs, "the token is kept out of the logs")

        failing = vltsys.Home(root)
        failing.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , %s, exit /b 7, , XOAUTH2"
                      % (server.port, USER))
        done = failing.run("to@example.com, , トークン, 本文")
        check_equal(done.returncode, 1, "exit status of a failing token command")
        check_equal(failing.error_entries(),
                    ["アクセストークンを取得できませんでした: 終了コード 7", vltsys.SEND_FAILED],
                    "reports of a failing token command")
        check_equal(len(server.messages()), 1, "messages received (the first run's only)")


def decoded_words(text):
    """`text` with each RFC 2047 word in it decoded, also a word that stands
    inside a longer name (which Python's email package leaves as it is)."""
    def one(match):
        return str(email.header.make_header(email.header.decode_header(match.group(0))))
    return re.sub(r"=\?[^?]+\?[BbQq]\?[^?]*\?=", one, text)


def fail_unless(condition, why):
    """The Windows tests never skip: what they need missing is a failure."""
    if not condition:
        print("FAIL: " + why)
        sys.exit(1)


if __name__ == "__main__":
    fail_unless(vltsys.TARGET.missing() is None, str(vltsys.TARGET.missing()))
    fail_unless(os.access(vltsys.DOVECOT, os.X_OK) and os.path.exists("/usr/lib/dovecot/pop3"),
                "dovecot-pop3d is not installed")
    try:
        import aiosmtpd  # noqa: F401
    except ImportError:
        fail_unless(False, "python3-aiosmtpd is not installed")
    sys.exit(vltsys.run_cases([
        ("windows: --info in code page 932", settings_shown),
        ("windows: AUTH PLAIN, Japanese names for body and attachment",
         smtp_aiosmtpd_test.deliver_with([], "PLAIN")),
        ("windows: AUTH LOGIN only", smtp_aiosmtpd_test.deliver_with(["PLAIN"], "LOGIN")),
        ("windows: UTF-8 message (emoji, kanji outside the code page)",
         smtp_aiosmtpd_test.deliver_utf8),
        ("windows: Shift_JIS body file", shift_jis_body),
        ("windows: missing attachment", missing_attachment),
        ("windows: wrong password", smtp_aiosmtpd_test.wrong_password),
        ("windows: POP before SMTP with Dovecot", pop3_dovecot_test.right_password),
        ("windows: POP before SMTP, wrong password", pop3_dovecot_test.wrong_password),
        ("windows: refused connection, reports in code page 932", refused_connection),
        ("windows: settings file shared with the Linux build", settings_move_between_builds),
        ("windows: quote rules through a .bat file", batch_file_quote_rules),
        ("windows: XOAUTH2 token command through cmd.exe", token_command_through_cmd),
        ("windows: STARTTLS, AUTH after it", tls_interop_test.smtp_starttls_with_auth),
        ("windows: implicit TLS", tls_interop_test.smtp_implicit_tls),
        ("windows: certificate for another host refused", tls_interop_test.smtp_wrong_host_name),
        ("windows: untrusted certificate refused", tls_interop_test.smtp_untrusted_certificate),
        ("windows: STARTTLS not offered", tls_interop_test.starttls_not_offered),
        ("windows: Dovecot implicit TLS, then implicit TLS delivery",
         tls_interop_test.pop3_implicit_tls),
        ("windows: Dovecot STLS, then STARTTLS delivery", tls_interop_test.pop3_stls),
        ("windows: untrusted POP3 certificate ends the run before SMTP",
         tls_interop_test.pop3_untrusted_certificate),
    ]))
