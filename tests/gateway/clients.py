#!/usr/bin/env python3
"""Clients for the gateway tests, on Python's own smtplib and sockets.

usage:
  clients.py plain PORT TO[,TO...] SUBJECT BODY     plain text mail
  clients.py mime PORT TO SUBJECT                   multipart: plain, HTML, attachment
  clients.py html PORT TO SUBJECT HTML              HTML-only mail
  clients.py big PORT TO BYTES                      a mail of BYTES bytes
  clients.py stall PORT PARTIAL                     sends PARTIAL, then waits for
                                                    the server to give up
Prints "OK <reply>" or "REFUSED <code> <text>" (exit 3).
"""
import smtplib
import socket
import sys
from email.message import EmailMessage


def send(port, msg, to):
    try:
        with smtplib.SMTP("127.0.0.1", int(port), timeout=20) as s:
            s.ehlo("tests.local")
            refused = s.send_message(msg, from_addr="monitor@example.com", to_addrs=to)
            print("OK", refused)
    except smtplib.SMTPRecipientsRefused as e:
        code, text = list(e.recipients.values())[0]
        print("REFUSED", code, text.decode())
        sys.exit(3)
    except smtplib.SMTPResponseException as e:
        print("REFUSED", e.smtp_code, e.smtp_error.decode())
        sys.exit(3)


def main():
    kind, port = sys.argv[1], sys.argv[2]
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
    elif kind == "big":
        msg["Subject"] = "big"
        msg.set_content("x" * int(sys.argv[4]))
    send(port, msg, to)


if __name__ == "__main__":
    main()
