#!/usr/bin/python3
"""A real SMTP server for tests and the demo: aiosmtpd on a loopback port.

It writes every message it accepts to OUTDIR as NNN.eml (the octets after DATA,
with the envelope in NNN.json), prints "READY <port>" once it listens, and stops
by itself after --lifetime seconds or on SIGTERM.

Options choose the authentication (required AUTH PLAIN/LOGIN with one user,
optionally offering only one of the two; with --token also XOAUTH2 and
OAUTHBEARER, which check the user, the token and for OAUTHBEARER the host and
port, and answer a wrong token with an error challenge, then 535) and
encryption (STARTTLS, with AUTH offered only after it, or implicit TLS).
"""
import argparse
import base64
import binascii
import json
import os
import signal
import ssl
import sys
import threading
import time
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING, AuthResult, LoginPassword


ERROR_CHALLENGE = json.dumps({"status": "invalid_token", "scope": "https://mail.example.test/",
                              "schemes": "Bearer"})


class Recorder:
    def __init__(self, outdir, user="", token="", port=0):
        self.outdir = outdir
        self.count = 0
        self.lock = threading.Lock()
        self.user = user
        self.token = token
        self.port = port

    async def _oauth(self, server, args, expected, cancel):
        """Checks an initial response against the exact bytes expected for
        the good token; a response that differs only in its token gets the
        error challenge, which the client must answer with `cancel`."""
        if len(args) != 2:
            await server.push("501 5.5.2 initial response required")
            return AuthResult(success=False, handled=True)
        try:
            got = base64.b64decode(args[1], validate=True)
        except binascii.Error:
            await server.push("501 5.5.2 Can't decode base64")
            return AuthResult(success=False, handled=True)
        if got == expected(self.token):
            return AuthResult(success=True, auth_data=self.user)
        if not got.startswith(expected("").split(b"auth=Bearer ")[0]):
            await server.push("501 5.5.2 malformed initial response")
            return AuthResult(success=False, handled=True)
        answer = await server.challenge_auth(ERROR_CHALLENGE)
        if answer != cancel:
            if answer is not MISSING:
                await server.push("501 5.5.2 the error challenge wants %r" % cancel)
            return AuthResult(success=False, handled=True)
        return AuthResult(success=False, handled=False)

    async def auth_XOAUTH2(self, server, args):
        return await self._oauth(
            server, args,
            lambda token: b"user=%s\x01auth=Bearer %s\x01\x01" % (self.user.encode(), token.encode()),
            b"")

    async def auth_OAUTHBEARER(self, server, args):
        def expected(token):
            user = self.user.replace("=", "=3D").replace(",", "=2C")
            return (b"n,a=%s,\x01host=127.0.0.1\x01port=%d\x01auth=Bearer %s\x01\x01"
                    % (user.encode(), self.port, token.encode()))
        return await self._oauth(server, args, expected, b"\x01")

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


def make_authenticator(user, password, outdir):
    def authenticate(server, session, envelope, mechanism, auth_data):
        # Every attempt is recorded, so that a test can tell none was made.
        with open(os.path.join(outdir, "auth.log"), "a") as f:
            f.write("%s\n" % mechanism)
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
    p.add_argument("--token", default="", help="the access token XOAUTH2 and OAUTHBEARER accept")
    p.add_argument("--tls", choices=["none", "starttls", "ssl"], default="none")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--exclude-auth", action="append", default=[],
                   help="an AUTH mechanism not to offer (PLAIN, LOGIN, XOAUTH2, "
                   "OAUTHBEARER); may be repeated")
    p.add_argument("--lifetime", type=float, default=120)
    a = p.parse_args()

    # The OAuth mechanisms are the handler's own: offered only with a token.
    excluded = list(a.exclude_auth) + ([] if a.token else ["XOAUTH2", "OAUTHBEARER"])
    kwargs = {"auth_exclude_mechanism": excluded}
    if a.user:
        kwargs.update(authenticator=make_authenticator(a.user, a.password, a.outdir), auth_required=True,
                      auth_require_tls=(a.tls == "starttls"))
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
    recorder = Recorder(a.outdir, a.user, a.token, port)
    controller = Controller(recorder, hostname="127.0.0.1", port=port,
                            server_hostname="localhost", ready_timeout=10, **kwargs)
    controller.start()
    print("READY %d" % port, flush=True)

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())

    stop.wait(a.lifetime)
    controller.stop()


if __name__ == "__main__":
    main()
