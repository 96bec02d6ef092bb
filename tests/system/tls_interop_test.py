#!/usr/bin/python3
"""Encrypted connections with real servers: aiosmtpd with STARTTLS and with
implicit TLS, Dovecot POP3 with STLS and with implicit TLS, each with a
certificate from a test CA that the program under test trusts (through
SSL_CERT_FILE on Linux, the user's ROOT store in the wine prefix on Windows);
certificates that must be refused with the same reason on both systems, and
a STARTTLS that the server does not offer. windows_test.py runs these cases
against the Windows build."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vltsys  # noqa: E402
from vltsys import check, check_equal  # noqa: E402

USER = "tlsuser"
PASSWORD = "t1s-secret"
SEND = "to@example.com, , 暗号化の試験, 本文です。"


def trusting(pki):
    return vltsys.TARGET.trust(pki)


def delivered(home, smtp, done):
    check_equal(done.returncode, 0, "exit status (%s)" % home.error_entries())
    check_equal(home.error_entries(), [], "error log")
    messages = smtp.messages()
    check_equal(len(messages), 1, "messages received")
    check_equal(vltsys.parse(messages[0][1])["Subject"], "暗号化の試験", "Subject")


def refused(home, smtp, done, first, last):
    check_equal(done.returncode, 1, "exit status")
    entries = home.error_entries()
    check(entries and entries[0] == first, "first report %r" % entries)
    if first.startswith(vltsys.TLS_FAILED):
        # The handshake's own report is followed directly by the run's.
        check_equal(len(entries), 2, "reports %r" % entries)
    check_equal(entries[-1], last, "last report")
    check_equal(smtp.messages(), [], "messages received")
    check_equal(smtp.auth_attempts(), [], "AUTH attempts")
    check(not home.has_log("Scrivlane"), "no message log")


def smtp_starttls_with_auth(root):
    pki = vltsys.Pki(root)
    with vltsys.SmtpServer(root, USER, PASSWORD, tls="starttls", cert=pki.server[0],
                           key=pki.server[1]) as smtp:
        home = vltsys.Home(root)
        home.store("--xcnf, localhost, %d, sender@example.com, , , %s, %s, starttls"
                   % (smtp.port, USER, PASSWORD))
        env = trusting(pki)
        env["DEBUG_MODE"] = "protocol"
        done = home.run(SEND, env=env)
        delivered(home, smtp, done)
        check(smtp.messages()[0][0]["auth"], "authenticated")
        check_equal(smtp.auth_attempts(), ["PLAIN"], "AUTH attempts")
        transcript = home.log("ScrivlaneProtocol")
        before, _, after = transcript.partition(">> STARTTLS\r\n220")
        check(after, "STARTTLS in the transcript: %r" % transcript)
        check("AUTH" not in before, "AUTH offered only after STARTTLS")
        check(">> EHLO localhost\r\n" in after and ">> AUTH PLAIN\r\n334" in after,
              "EHLO again and AUTH after the handshake")
        check(PASSWORD not in transcript, "password kept out of the transcript")


def smtp_implicit_tls(root):
    pki = vltsys.Pki(root)
    with vltsys.SmtpServer(root, USER, PASSWORD, tls="ssl", cert=pki.server[0],
                           key=pki.server[1]) as smtp:
        home = vltsys.Home(root)
        home.store("--xcnf, localhost, %d, sender@example.com, , , %s, %s, SSL"
                   % (smtp.port, USER, PASSWORD))
        delivered(home, smtp, home.run(SEND, env=trusting(pki)))


def pop3_stls(root):
    pki = vltsys.Pki(root)
    smtp_files = pki.own_copy(pki.server)
    with vltsys.Dovecot(root, USER, PASSWORD, ssl="starttls", cert=pki.server[0],
                        key=pki.server[1]) as pop, \
            vltsys.SmtpServer(root, tls="starttls", cert=smtp_files[0], key=smtp_files[1]) as smtp:
        home = vltsys.Home(root)
        home.store("--conf, localhost, %d, sender@example.com, localhost, %d, %s, %s, STARTTLS"
                   % (smtp.port, pop.port, USER, PASSWORD))
        env = trusting(pki)
        env["DEBUG_MODE"] = "protocol"
        delivered(home, smtp, home.run(SEND, env=env))
        pop_log = home.log("DovekiteProtocol")
        check(pop_log.find(">> STLS\r\n+OK") < pop_log.find(">> USER %s" % USER), "STLS before USER")
        check("Login: user=<%s>" % USER in pop.server_log() and "TLS" in pop.server_log(),
              "Dovecot saw an encrypted login")
        smtp_log = home.log("ScrivlaneProtocol")
        check(">> STARTTLS\r\n220" in smtp_log, "STARTTLS in the POP-before-SMTP style")
        check("AUTH" not in smtp_log.split(">> MAIL FROM")[0].split("250 HELP")[-1],
              "no AUTH after a POP login")


def pop3_implicit_tls(root):
    pki = vltsys.Pki(root)
    smtp_files = pki.own_copy(pki.server)
    with vltsys.Dovecot(root, USER, PASSWORD, ssl="implicit", cert=pki.server[0],
                        key=pki.server[1]) as pop, \
            vltsys.SmtpServer(root, tls="ssl", cert=smtp_files[0], key=smtp_files[1]) as smtp:
        home = vltsys.Home(root)
        home.store("--conf, localhost, %d, sender@example.com, localhost, %d, %s, %s, SSL"
                   % (smtp.port, pop.pop3s_port, USER, PASSWORD))
        delivered(home, smtp, home.run(SEND, env=trusting(pki)))
        check("Login: user=<%s>" % USER in pop.server_log(), "Dovecot saw the login")


def smtp_wrong_host_name(root):
    pki = vltsys.Pki(root)
    with vltsys.SmtpServer(root, USER, PASSWORD, tls="starttls", cert=pki.other_host[0],
                           key=pki.other_host[1]) as smtp:
        home = vltsys.Home(root)
        home.store("--xcnf, localhost, %d, sender@example.com, , , %s, %s, STARTTLS"
                   % (smtp.port, USER, PASSWORD))
        refused(home, smtp, home.run(SEND, env=trusting(pki)),
                vltsys.TLS_FAILED + "hostname mismatch",
                vltsys.SEND_FAILED)


def smtp_untrusted_certificate(root):
    pki = vltsys.Pki(root)
    with vltsys.SmtpServer(root, USER, PASSWORD, tls="ssl", cert=pki.untrusted[0],
                           key=pki.untrusted[1]) as smtp:
        home = vltsys.Home(root)
        home.store("--xcnf, localhost, %d, sender@example.com, , , %s, %s, SSL"
                   % (smtp.port, USER, PASSWORD))
        refused(home, smtp, home.run(SEND, env=trusting(pki)),
                vltsys.TLS_FAILED + "self-signed certificate",
                vltsys.SEND_FAILED)


def pop3_untrusted_certificate(root):
    pki = vltsys.Pki(root)
    smtp_files = pki.own_copy(pki.server)
    with vltsys.Dovecot(root, USER, PASSWORD, ssl="starttls", cert=pki.untrusted[0],
                        key=pki.untrusted[1]) as pop, \
            vltsys.SmtpServer(root, tls="starttls", cert=smtp_files[0], key=smtp_files[1]) as smtp:
        home = vltsys.Home(root)
        home.store("--conf, localhost, %d, sender@example.com, localhost, %d, %s, %s, STARTTLS"
                   % (smtp.port, pop.port, USER, PASSWORD))
        done = home.run(SEND, env=trusting(pki))
        refused(home, smtp, done, 
                vltsys.TLS_FAILED + "self-signed certificate",
                vltsys.LOGIN_FAILED)
        check("Login: user=" not in pop.server_log(), "no POP3 login")


def starttls_not_offered(root):
    with vltsys.SmtpServer(root, USER, PASSWORD) as smtp:
        home = vltsys.Home(root)
        home.store("--xcnf, 127.0.0.1, %d, sender@example.com, , , %s, %s, STARTTLS"
                   % (smtp.port, USER, PASSWORD))
        done = home.run(SEND, env={"DEBUG_MODE": "protocol"})
        refused(home, smtp, done, vltsys.NO_STARTTLS, vltsys.SEND_FAILED)
        check_equal(home.error_entries(), [vltsys.NO_STARTTLS, vltsys.SEND_FAILED], "reports")
        transcript = home.log("ScrivlaneProtocol")
        check(">> EHLO 127.0.0.1\r\n" in transcript, "EHLO sent")
        # Never a silent fallback: no credentials and no envelope in plain text.
        check("AUTH" not in transcript.split("250 HELP")[-1] and "MAIL FROM" not in transcript,
              "nothing sent after EHLO: %r" % transcript)


if __name__ == "__main__":
    vltsys.require_program()
    vltsys.require(os.access("/usr/bin/openssl", os.X_OK), "no openssl command")
    vltsys.require(os.access(vltsys.DOVECOT, os.X_OK), "dovecot-pop3d is not installed")
    try:
        import aiosmtpd  # noqa: F401
    except ImportError:
        vltsys.require(False, "python3-aiosmtpd is not installed")
    sys.exit(vltsys.run_cases([
        ("tls: aiosmtpd STARTTLS, AUTH after it", smtp_starttls_with_auth),
        ("tls: aiosmtpd implicit TLS", smtp_implicit_tls),
        ("tls: Dovecot STLS, then STARTTLS delivery", pop3_stls),
        ("tls: Dovecot implicit TLS, then implicit TLS delivery", pop3_implicit_tls),
        ("tls: certificate for another host refused", smtp_wrong_host_name),
        ("tls: untrusted certificate refused", smtp_untrusted_certificate),
        ("tls: untrusted POP3 certificate ends the run before SMTP", pop3_untrusted_certificate),
        ("tls: STARTTLS not offered", starttls_not_offered),
    ]))
