#!/usr/bin/python3
"""Delivery through a real SMTP server: aiosmtpd with AUTH required, the
message read back with Python's email package."""
import base64
import os
import socket
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vltsys  # noqa: E402
from vltsys import check, check_equal  # noqa: E402

USER = "mailuser"
PASSWORD = "pa55-w0rd"
SUBJECT = "夜間バッチ報告（ｶﾀｶﾅ）"
BODY = "各位\n\n本日の処理結果を添付します。\n.\n..二つの点\n以上\n"
ATTACHMENT_NAME = "報告書.pdf"
ATTACHMENT_BYTES = bytes(range(256)) * 40 + b"\r\n.\r\n" + os.urandom(3001)


def write_inputs(root):
    body = os.path.join(root, "本文.txt")
    with open(body, "w", encoding="utf-8") as f:
        f.write(BODY)
    attachment = os.path.join(root, ATTACHMENT_NAME)
    with open(attachment, "wb") as f:
        f.write(ATTACHMENT_BYTES)
    return body, attachment


def deliver_with(exclude_auth, expected_method):
    def case(root):
        with vltsys.SmtpServer(root, USER, PASSWORD, exclude_auth=exclude_auth) as server:
            home = vltsys.Home(root)
            home.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , %s, %s"
                       % (server.port, USER, PASSWORD))
            body, attachment = write_inputs(root)
            done = home.run("to@example.com, cc1@example.com，cc2@example.com, %s, %s, %s"
                            % (SUBJECT, vltsys.program_path(body),
                               vltsys.program_path(attachment)),
                            env={"FROM_NAME": "山田 太郎", "DEBUG_MODE": "protocol"})
            check_equal(done.returncode, 0, "exit status (%s)" % home.error_entries())
            check_equal(home.error_entries(), [], "error log")
            messages = server.messages()
            check_equal(len(messages), 1, "messages received")
            envelope, raw = messages[0]
            check_equal(envelope["mail_from"], "sender@example.com", "envelope sender")
            check_equal(envelope["rcpt_tos"],
                        ["to@example.com", "cc1@example.com", "cc2@example.com"], "recipients")

            msg = vltsys.parse(raw)
            # Half-width katakana arrive widened.
            check_equal(msg["Subject"], "夜間バッチ報告（カタカナ）", "Subject")
            check_equal(msg["From"].addresses[0].display_name, "山田 太郎", "From display name")
            check_equal(msg["From"].addresses[0].addr_spec, "sender@example.com", "From address")
            check_equal(msg["To"], "to@example.com", "To")
            check_equal([a.addr_spec for a in msg["Cc"].addresses],
                        ["cc1@example.com", "cc2@example.com"], "Cc")
            check(raw.isascii(), "the message is 7-bit")
            text = msg.get_body(preferencelist=("plain",))
            check_equal(text.get_content_charset(), "iso-2022-jp", "charset")
            check_equal(text.get_content().replace("\r\n", "\n").rstrip("\n"), BODY.rstrip("\n"),
                        "body")
            attachments = list(msg.iter_attachments())
            check_equal(len(attachments), 1, "attachments")
            check_equal(attachments[0].get_filename(), ATTACHMENT_NAME, "attachment name")
            check(attachments[0].get_payload(decode=True) == ATTACHMENT_BYTES, "attachment bytes")

            check(home.has_log("Scrivlane"), "message log written")
            check("Subject: " in home.log("Scrivlane"), "message log holds the header")
            transcript = home.log("ScrivlaneProtocol")
            check(">> AUTH %s\r\n" % expected_method in transcript, "AUTH %s used" % expected_method)
            check(PASSWORD not in transcript, "password kept out of the transcript")
            secret = base64.b64encode(("%s\0%s\0%s" % (USER, USER, PASSWORD)).encode()).decode()
            check(secret not in transcript, "credentials kept out of the transcript")
            check(base64.b64encode(PASSWORD.encode()).decode() not in transcript,
                  "password kept out of the transcript (base64)")
    return case


# Characters ISO-2022-JP cannot carry: the message goes in UTF-8 and arrives
# exactly as sent.
UTF8_SUBJECT = "絵文字\U0001F600の件"
UTF8_BODY = "各位\n\n\U0001F389 \U00029E3Dの定食、①㈱髙も。\n.\n..二つの点\n" + ("한국어 café " * 20).rstrip() + "\n"
UTF8_FROM_NAME = "\U00020BB7野 家"
UTF8_ATTACHMENT_NAME = "\U00020BB7野家の報告.pdf"


def deliver_utf8(root):
    with vltsys.SmtpServer(root, USER, PASSWORD) as server:
        home = vltsys.Home(root)
        home.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , %s, %s"
                   % (server.port, USER, PASSWORD))
        body = os.path.join(root, "body.txt")
        with open(body, "w", encoding="utf-8") as f:
            f.write(UTF8_BODY)
        attachment = os.path.join(root, UTF8_ATTACHMENT_NAME)
        with open(attachment, "wb") as f:
            f.write(ATTACHMENT_BYTES)
        done = home.run("to@example.com, , %s, %s, %s" % (UTF8_SUBJECT, vltsys.program_path(body),
                                                          vltsys.program_path(attachment)),
                        env={"FROM_NAME": UTF8_FROM_NAME, "DEBUG_MODE": "protocol"})
        check_equal(done.returncode, 0, "exit status (%s)" % home.error_entries())
        messages = server.messages()
        check_equal(len(messages), 1, "messages received")
        raw = messages[0][1]
        check(raw.isascii(), "the message is 7-bit")
        msg = vltsys.parse(raw)
        check_equal(msg["Subject"], UTF8_SUBJECT, "Subject")
        check_equal(msg["From"].addresses[0].display_name, UTF8_FROM_NAME, "From display name")
        text = msg.get_body(preferencelist=("plain",))
        check_equal(text.get_content_charset(), "utf-8", "charset")
        check_equal(text["Content-Transfer-Encoding"], "base64", "transfer encoding")
        check_equal(text.get_content().replace("\r\n", "\n").rstrip("\n"),
                    UTF8_BODY.rstrip("\n"), "body")
        attachments = list(msg.iter_attachments())
        check_equal(len(attachments), 1, "attachments")
        check_equal(attachments[0].get_filename(), UTF8_ATTACHMENT_NAME, "attachment name")
        check(attachments[0].get_payload(decode=True) == ATTACHMENT_BYTES, "attachment bytes")
        # Both logs show the message as it went out.
        for name in ("Scrivlane", "ScrivlaneProtocol"):
            check('charset="UTF-8"' in home.log(name), name + " shows the UTF-8 text part")
            check("Subject: =?UTF-8?B?" in home.log(name), name + " shows the UTF-8 subject")


def wrong_password(root):
    with vltsys.SmtpServer(root, USER, PASSWORD) as server:
        home = vltsys.Home(root)
        home.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , %s, wrong" % (server.port, USER))
        done = home.run("to@example.com, , subject, body")
        check_equal(done.returncode, 1, "exit status")
        entries = home.error_entries()
        check_equal(len(entries), 3, "error log entries %r" % entries)
        check_equal(entries[0], "WinSockCmdSend: AUTH コマンド：サーバにコマンドを拒否されました。",
                    "first report")
        check(entries[1].startswith("WinSockCmdSend:  (535 "), "second report quotes the reply")
        check_equal(entries[2], vltsys.SEND_FAILED, "last report")
        check_equal(server.messages(), [], "messages received")
        check(not home.has_log("Scrivlane"), "no message log")


# OAuth 2.0 sign-in: the password item is a command that prints the token.
TOKEN = "ya29.a0-GoodToken_42"
CHALLENGE = ('{"status": "invalid_token", "scope": "https://mail.example.test/", '
             '"schemes": "Bearer"}')


def token_command(root, token):
    """A helper that prints the token between blanks, then a second line."""
    script = os.path.join(root, "token.sh")
    with open(script, "w") as f:
        f.write("printf ' \\t%%s\\r\\nsecond line\\n' '%s'\n" % token)
    return "sh " + script


def check_token_absent(home, token):
    logs = home.all_logs()
    check(token.encode() not in logs, "the token is kept out of every file")
    check(base64.b64encode(token.encode()) not in logs, "the token's Base64 kept out")


def oauth_delivers(mechanism, user, from_stdin=False):
    """With `from_stdin`, the token command is the line read for PASS "-"."""
    def case(root):
        with vltsys.SmtpServer(root, user, PASSWORD, token=TOKEN) as server:
            home = vltsys.Home(root)
            command = token_command(root, TOKEN)
            home.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , %s, %s, , %s"
                       % (server.port, user, "-" if from_stdin else command, mechanism.lower()),
                       stdin_bytes=(command + "\n").encode() if from_stdin else None)
            done = home.run("to@example.com, , subject, body", env={"DEBUG_MODE": "protocol"})
            check_equal(done.returncode, 0, "exit status (%s)" % home.error_entries())
            check_equal(home.error_entries(), [], "error log")
            check_equal(len(server.messages()), 1, "messages received")
            transcript = home.log("ScrivlaneProtocol")
            check(">> AUTH %s ***\r\n235 " % mechanism in transcript, "AUTH line masked")
            check_token_absent(home, TOKEN)
    return case


def oauth_wrong_token(root):
    with vltsys.SmtpServer(root, USER, PASSWORD, token=TOKEN) as server:
        home = vltsys.Home(root)
        home.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , %s, %s, , XOAUTH2"
                   % (server.port, USER, token_command(root, "expired-token")))
        done = home.run("to@example.com, , subject, body", env={"DEBUG_MODE": "protocol"})
        check_equal(done.returncode, 1, "exit status")
        check_equal(home.error_entries(), [
            "WinSockCmdSend: AUTH コマンド：サーバにコマンドを拒否されました。",
            "WinSockCmdSend:  (535 5.7.8 Authentication credentials invalid\r\n) " + CHALLENGE,
            vltsys.SEND_FAILED], "reports")
        check_equal(server.messages(), [], "messages received")
        transcript = home.log("ScrivlaneProtocol")
        check(">> AUTH XOAUTH2 ***\r\n334 " in transcript, "error challenge in the transcript")
        check(">> \r\n535 " in transcript, "the empty answer to the challenge")
        check_token_absent(home, "expired-token")


def oauth_command_fails(root):
    """A failing token command: the report, exit status 1, its standard error
    passed through, and no connection to the server at all."""
    with socket.socket() as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        listener.setblocking(False)
        home = vltsys.Home(root)
        home.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , %s, echo no-token >&2; exit 7, ,"
                   " oauthbearer" % (listener.getsockname()[1], USER))
        done = home.run("to@example.com, , subject, body")
        check_equal(done.returncode, 1, "exit status")
        check_equal(home.error_entries(),
                    ["アクセストークンを取得できませんでした: 終了コード 7", vltsys.SEND_FAILED],
                    "reports")
        check(b"no-token" in done.stderr, "standard error passed through")
        try:
            listener.accept()
            raise AssertionError("the program connected")
        except BlockingIOError:
            pass


def oauth_not_offered(root):
    with vltsys.SmtpServer(root, USER, PASSWORD, token=TOKEN,
                           exclude_auth=["OAUTHBEARER"]) as server:
        home = vltsys.Home(root)
        home.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , %s, %s, , OAUTHBEARER"
                   % (server.port, USER, token_command(root, TOKEN)))
        done = home.run("to@example.com, , subject, body", env={"DEBUG_MODE": "protocol"})
        check_equal(done.returncode, 1, "exit status")
        check_equal(home.error_entries(),
                    ["サーバが OAUTHBEARER に対応していません。", vltsys.SEND_FAILED], "reports")
        check(">> AUTH" not in home.log("ScrivlaneProtocol"), "no AUTH command sent")
        check_token_absent(home, TOKEN)


def refused_recipient_sends_nothing(root):
    # aiosmtpd refuses a recipient that is not an address; the run stops there.
    with vltsys.SmtpServer(root, USER, PASSWORD) as server:
        home = vltsys.Home(root)
        home.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , %s, %s"
                   % (server.port, USER, PASSWORD))
        done = home.run("to@example.com, @@, subject, body")
        check_equal(done.returncode, 1, "exit status")
        entries = home.error_entries()
        check_equal(entries[0], "WinSockCmdSend: RCPT TO コマンド：サーバにコマンドを拒否されました。",
                    "first report (%r)" % entries)
        check_equal(entries[-1], vltsys.SEND_FAILED, "last report")
        check_equal(server.messages(), [], "messages received")


if __name__ == "__main__":
    vltsys.require_program()
    try:
        import aiosmtpd  # noqa: F401
    except ImportError:
        vltsys.require(False, "python3-aiosmtpd is not installed")
    sys.exit(vltsys.run_cases([
        ("aiosmtpd: AUTH PLAIN, Japanese message with attachment", deliver_with([], "PLAIN")),
        ("aiosmtpd: AUTH LOGIN only", deliver_with(["PLAIN"], "LOGIN")),
        ("aiosmtpd: UTF-8 message (emoji, kanji outside the code page)", deliver_utf8),
        ("aiosmtpd: wrong password", wrong_password),
        ("aiosmtpd: refused recipient", refused_recipient_sends_nothing),
        ("aiosmtpd: XOAUTH2 delivers", oauth_delivers("XOAUTH2", USER)),
        ("aiosmtpd: OAUTHBEARER delivers, '=' escaped, token command from standard input",
         oauth_delivers("OAUTHBEARER", "o=a@x.jp", from_stdin=True)),
        ("aiosmtpd: XOAUTH2 wrong token", oauth_wrong_token),
        ("aiosmtpd: token command fails", oauth_command_fails),
        ("aiosmtpd: OAUTHBEARER not offered", oauth_not_offered),
    ]))
