#!/usr/bin/python3
"""A mail carrier for the dialer's tests on Debian's aiosmtpd: listens on
an ephemeral loopback port, prints "port N", and appends each mail it
takes to LOG as a JSON line (envelope, decoded subject and body, whether
the session was in TLS and who logged in).

  smtp_carrier.py [--cert F --key F] [--user U --password P] LOG

--cert/--key offer STARTTLS and require it; --user/--password require a
log-in (only in TLS when STARTTLS is offered). Replies the tests steer by
the mail itself: a recipient whose local part starts with 550 or 450 gets
that reply to RCPT; a body holding REFUSE gets 554 and DEFER 451 to the
end of data; DROP closes the connection without a reply.
"""
import email
import email.policy
import json
import logging
import socket
import ssl
import sys
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


class Carrier:
    def __init__(self, log):
        self.log = log

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        local = address.split("@")[0]
        if local.startswith("550"):
            return "550 5.1.1 no such pager"
        if local.startswith("450"):
            return "450 4.2.1 pager busy, try later"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        msg = email.message_from_bytes(envelope.original_content or envelope.content,
                                       policy=email.policy.default)
        body = msg.get_content() if not msg.is_multipart() else ""
        if "DROP" in body:
            server.transport.close()
            return "250 dropped"
        if "REFUSE" in body:
            return "554 5.6.0 message refused"
        if "DEFER" in body:
            return "451 4.3.0 queue full, try later"
        with open(self.log, "a", encoding="utf-8") as f:
            f.write(json.dumps({
                "from": envelope.mail_from,
                "to": envelope.rcpt_tos,
                "header_to": str(msg["To"]),
                "subject": str(msg["Subject"] or ""),
                "text": body,
                "tls": session.ssl is not None,
                "login": (session.auth_data.login.decode()
                          if session.authenticated and session.auth_data else ""),
            }, sort_keys=True) + "\n")
        return "250 OK queued"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main(args):
    # Refused handshakes and the library's own deprecations are the tests' business.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    warnings.simplefilter("ignore", DeprecationWarning)
    opts = {}
    while args and args[0].startswith("--"):
        opts[args[0][2:]] = args[1]
        args = args[2:]
    kwargs = {}
    if "cert" in opts:
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(opts["cert"], opts["key"])
        kwargs.update(tls_context=ctx, require_starttls=True)
    if "user" in opts:
        def authenticator(server, session, envelope, mechanism, auth_data):
            ok = (auth_data.login.decode() == opts["user"]
                  and auth_data.password.decode() == opts["password"])
            return AuthResult(success=ok, handled=False, auth_data=auth_data)
        kwargs.update(authenticator=authenticator, auth_required=True,
                      auth_require_tls="cert" in opts)
    port = free_port()
    controller = Controller(Carrier(args[0]), hostname="127.0.0.1", port=port, **kwargs)
    controller.start()
    print("port %d" % port, flush=True)
    try:
        sys.stdin.read()  # until the test closes it or ends the peer
    finally:
        controller.stop()


if __name__ == "__main__":
    main(sys.argv[1:])
