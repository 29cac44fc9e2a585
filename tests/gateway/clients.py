#!/usr/bin/env python3
"""Clients for the gateway tests, on Python's own smtplib and sockets.

usage:
  clients.py plain PORT TO[,TO...] SUBJECT BODY     plain text mail
  clients.py mime PORT TO SUBJECT                   multipart: plain, HTML, attachment
  clients.py html PORT TO SUBJECT HTML              HTML-only mail
  clients.py big PORT TO BYTES                      a mail of BYTES bytes
  clients.py stall PORT PARTIAL                     sends PARTIAL, then waits for
                                                    the server to give up
  clients.py inject PORT CAFILE                     STARTTLS with MAIL FROM sent behind
                                                    it in the clear; prints the reply to
                                                    RCPT TO inside TLS
  clients.py starttls PORT TO CAFILE [USER PASS]    plain mail over STARTTLS, the
                                                    server checked against CAFILE
Prints "OK <reply>" or "REFUSED <code> <text>" (exit 3).
"""
import smtplib
import socket
import ssl
import sys
from email.message import EmailMessage


def send(port, msg, to, cafile=None, login=None):
    try:
        with smtplib.SMTP("127.0.0.1", int(port), timeout=20) as s:
            s.ehlo("tests.local")
            if cafile:
                s.starttls(context=ssl.create_default_context(cafile=cafile))
                s.ehlo("tests.local")
            if login:
                s.login(*login)
            refused = s.send_message(msg, from_addr="monitor@example.com", to_addrs=to)
            print("OK", refused)
    except smtplib.SMTPRecipientsRefused as e:
        code, text = list(e.recipients.values())[0]
        print("REFUSED", code, text.decode())
        sys.exit(3)
    except smtplib.SMTPAuthenticationError as e:
        print("REFUSED", e.smtp_code, e.smtp_error.decode())
        sys.exit(3)
    except smtplib.SMTPResponseException as e:
        print("REFUSED", e.smtp_code, e.smtp_error.decode())
        sys.exit(3)


def main():
    kind, port = sys.argv[1], sys.argv[2]
    if kind == "inject":
        raw = socket.create_connection(("127.0.0.1", int(port)), timeout=20)
        f = raw.makefile("rb")

        def replies(sock_file):
            while True:
                line = sock_file.readline()
                if line[3:4] != b"-":
                    return line

        replies(f)
        raw.sendall(b"EHLO x\r\n")
        replies(f)
        raw.sendall(b"STARTTLS\r\nMAIL FROM:<evil@example.com>\r\n")
        replies(f)
        tls = ssl.create_default_context(cafile=sys.argv[3]).wrap_socket(
            raw, server_hostname="127.0.0.1")
        tf = tls.makefile("rb")
        tls.sendall(b"EHLO x\r\n")
        replies(tf)
        tls.sendall(b"RCPT TO:<bob@pager.local>\r\n")
        print("RCPT", replies(tf).decode().strip())
        return
    if kind == "stall":
        s = socket.create_connection(("127.0.0.1", int(port)), timeout=30)
        s.sendall(sys.argv[3].encode())
        got = b""
        while True:
            chunk = s.recv(4096)
            if not chunk:
                break
            got += chunk
        print("CLOSED", got.decode(errors="replace").replace("\r\n", "|"))
        return
    to = sys.argv[3].split(",")
    msg = EmailMessage()
    msg["From"] = "Monitor <monitor@example.com>"
    msg["To"] = ", ".join(to)
    if kind == "plain":
        msg["Subject"] = sys.argv[4]
        msg.set_content(sys.argv[5])
    elif kind == "mime":
        msg["Subject"] = sys.argv[4]
        msg.set_content("Plain part: disk /var at 97 % on web1 – act now")
        msg.add_alternative("<html><body><p>HTML part</p></body></html>", subtype="html")
        msg.add_attachment(b"%PDF-1.4 fake", maintype="application", subtype="pdf",
                           filename="report.pdf")
    elif kind == "html":
        msg["Subject"] = sys.argv[4]
        msg.set_content(sys.argv[5], subtype="html")
    elif kind == "starttls":
        msg["Subject"] = "over TLS"
        msg.set_content("sealed")
        login = tuple(sys.argv[5:7]) if len(sys.argv) > 6 else None
        send(port, msg, to, cafile=sys.argv[4], login=login)
        return
    elif kind == "big":
        msg["Subject"] = "big"
        msg.set_content("x" * int(sys.argv[4]))
    send(port, msg, to)


if __name__ == "__main__":
    main()
