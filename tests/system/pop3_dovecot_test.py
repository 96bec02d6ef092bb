#!/usr/bin/python3
"""POP before SMTP with real servers: Dovecot POP3 (a configuration of its
own, one user) for the login, then aiosmtpd without AUTH for the message."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vltsys  # noqa: E402
from vltsys import check, check_equal  # noqa: E402

USER = "popuser"
PASSWORD = "p0p-secret"


def right_password(root):
    with vltsys.Dovecot(root, USER, PASSWORD) as pop, vltsys.SmtpServer(root) as smtp:
        home = vltsys.Home(root)
        home.store("--conf, 127.0.0.1, %d, sender@example.com, 127.0.0.1, %d, %s, %s"
                   % (smtp.port, pop.port, USER, PASSWORD))
        started = time.monotonic()
        done = home.run("to@example.com, , POP before SMTP の試験, 本文です。",
                        env={"DEBUG_MODE": "PROTOCOL"})
        took = time.monotonic() - started
        check_equal(done.returncode, 0, "exit status (%s)" % home.error_entries())
        check_equal(home.error_entries(), [], "error log")
        check(took >= 2.0, "the run pauses 2 s after the login (took %.2f s)" % took)
        messages = smtp.messages()
        check_equal(len(messages), 1, "messages received")
        check_equal(messages[0][0]["auth"], None, "no SMTP AUTH")
        check_equal(vltsys.parse(messages[0][1])["Subject"], "POP before SMTP の試験", "Subject")

        pop_log = home.log("DovekiteProtocol")
        check(pop_log.count("POP Protocol Logging\r\n+OK ") == 1, "POP3 transcript: %r" % pop_log)
        for step in (">> USER %s\r\n+OK" % USER, ">> PASS ***\r\n+OK", ">> STAT\r\n+OK 0 0",
                     ">> QUIT\r\n+OK"):
            check(step in pop_log, "POP3 transcript has %r: %r" % (step, pop_log))
        check(PASSWORD not in pop_log, "password kept out of the POP3 transcript")
        check(">> HELO 127.0.0.1\r\n250 " in home.log("ScrivlaneProtocol"), "HELO style")
        check("EHLO" not in home.log("ScrivlaneProtocol"), "no EHLO")
        check(pop.server_log().count("Login: user=<%s>" % USER) == 1, "Dovecot saw one login")


def wrong_password(root):
    with vltsys.Dovecot(root, USER, PASSWORD) as pop, vltsys.SmtpServer(root) as smtp:
        home = vltsys.Home(root)
        home.store("--conf, 127.0.0.1, %d, sender@example.com, 127.0.0.1, %d, %s, not-it"
                   % (smtp.port, pop.port, USER))
        started = time.monotonic()
        done = home.run("to@example.com, , subject, body", env={"DEBUG_MODE": "protocol"})
        took = time.monotonic() - started
        check_equal(done.returncode, 1, "exit status")
        entries = home.error_entries()
        check_equal(entries[0], "WinSockCmdSend: PASS コマンド：サーバにコマンドを拒否されました。",
                    "first report (%r)" % entries)
        check(entries[1].startswith("WinSockCmdSend:  (-ERR "), "second report quotes the reply")
        check_equal(entries[2:], [vltsys.LOGIN_FAILED], "last report")
        check(took < 2.0, "no pause after a failed login (took %.2f s)" % took)
        check_equal(smtp.messages(), [], "messages received")
        # An SMTP conversation would have left its transcript.
        check(not home.has_log("ScrivlaneProtocol"), "no SMTP conversation")
        check("PASS ***" in home.log("DovekiteProtocol"), "POP3 transcript written")
        check(not home.has_log("Scrivlane"), "no message log")


if __name__ == "__main__":
    vltsys.require_program()
    vltsys.require(os.access(vltsys.DOVECOT, os.X_OK), "dovecot-pop3d is not installed")
    vltsys.require(os.path.exists("/usr/lib/dovecot/pop3"), "dovecot-pop3d is not installed")
    try:
        import aiosmtpd  # noqa: F401
    except ImportError:
        vltsys.require(False, "python3-aiosmtpd is not installed")
    sys.exit(vltsys.run_cases([
        ("dovecot: right password, then HELO delivery", right_password),
        ("dovecot: wrong password, no SMTP", wrong_password),
    ]))
