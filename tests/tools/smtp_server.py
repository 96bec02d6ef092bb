#!/usr/bin/python3
"""A real SMTP server for tests and the demo: aiosmtpd on a loopback port.

It writes every message it accepts to OUTDIR as NNN.eml (the octets after DATA,
with the envelope in NNN.json), prints "READY <port>" once it listens, and stops
by itself after --lifetime seconds or on SIGTERM.

Options choose the authentication (required AUTH PLAIN/LOGIN with one user,
optionally offering only one of the two)
and encryption (STARTTLS, with AUTH offered only after it, or implicit TLS).
"""
import argparse
import json
import os
import signal
import ssl
import sys
import threading
import time
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Recorder:
    def __init__(self, outdir):
        self.outdir = outdir
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            n = self.count
        base = os.path.join(self.outdir, "%03d" % n)
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        with open(base + ".json", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                       "auth": getattr(session, "authenticated", None)}, f)
        return "250 OK message accepted"


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        if isinstance(auth_data, LoginPassword):
            ok = auth_data.login == user.encode() and auth_data.password == password.encode()
            # handled=False lets aiosmtpd answer a failure with 535; a failure
            # marked handled would get no answer at all.
            return AuthResult(success=ok, handled=False)
        return AuthResult(success=False, handled=False)
    return authenticate


def main():
    warnings.simplefilter("ignore")
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--outdir", required=True)
    p.add_argument("--user", default="")
    p.add_argument("--password", default="")
    p.add_argument("--tls", choices=["none", "starttls", "ssl"], default="none")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--exclude-auth", action="append", default=[],
                   help="an AUTH mechanism not to offer (PLAIN, LOGIN); may be repeated")
    p.add_argument("--lifetime", type=float, default=120)
    a = p.parse_args()

    kwargs = {}
    if a.user:
        kwargs.update(authenticator=make_authenticator(a.user, a.password), auth_required=True,
                      auth_require_tls=(a.tls == "starttls"),
                      auth_exclude_mechanism=a.exclude_auth)
    if a.tls != "none":
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(a.cert, a.key)
        if a.tls == "starttls":
            kwargs.update(tls_context=ctx, require_starttls=True)
        else:
            kwargs.update(ssl_context=ctx)

    port = a.port
    if port == 0:
        import socket
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
        s.close()

    os.makedirs(a.outdir, exist_ok=True)
    controller = Controller(Recorder(a.outdir), hostname="127.0.0.1", port=port,
                            server_hostname="localhost", ready_timeout=10, **kwargs)
    controller.start()
    print("READY %d" % port, flush=True)

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())

    stop.wait(a.lifetime)
    controller.stop()


if __name__ == "__main__":
    main()
