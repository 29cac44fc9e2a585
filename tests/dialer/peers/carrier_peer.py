#!/usr/bin/python3
"""A scripted carrier for the dialer's tests, built on Python's standard
library only: listens on an ephemeral loopback port, prints "port N", and
appends each request it reads to LOG as a JSON line.

  carrier_peer.py wctp LOG REPLY...   each REPLY answers one POST in turn
      (the last one repeats): "STATUS:success", "STATUS:failure:CODE" or
      "drop" (the request is read, the connection closed without a reply).
      Options before LOG: --cert F --key F (HTTPS), --ca F (a client
      certificate signed by F is required).
  carrier_peer.py snpp LOG SEND_REPLY...   an SNPP server that sends one
      stray line right after its greeting, answers 250 to every command
      and the given replies to SEND in turn (the last one repeats).
"""
import json
import re
import socket
import ssl
import sys


def record(log, entry):
    with open(log, "a") as f:
        f.write(json.dumps(entry, sort_keys=True) + "\n")


def confirmation(kind, code):
    if kind == "success":
        inner = '<wctp-Success successCode="200" successText="accepted"/>'
    else:
        inner = '<wctp-Failure errorCode="%s" errorText="refused"/>' % code
    return ('<?xml version="1.0"?><wctp-Operation wctpVersion="wctp-dtd-v1r3">'
            "<wctp-Confirmation>%s</wctp-Confirmation></wctp-Operation>" % inner)


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
    head, body = data.split(b"\r\n\r\n", 1)
    m = re.search(rb"content-length:\s*(\d+)", head, re.I)
    length = int(m.group(1)) if m else 0
    while len(body) < length:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        body += chunk
    return body


def serve_wctp(args):
    cert = key = ca = None
    while args and args[0].startswith("--"):
        opt, value = args[0], args[1]
        args = args[2:]
        cert = value if opt == "--cert" else cert
        key = value if opt == "--key" else key
        ca = value if opt == "--ca" else ca
    log, replies = args[0], args[1:]
    context = None
    if cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        if ca:
            context.verify_mode = ssl.CERT_REQUIRED
            context.load_verify_locations(ca)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print("port %d" % listener.getsockname()[1], flush=True)
    n = 0
    while True:
        conn, _ = listener.accept()
        try:
            if context:
                conn = context.wrap_socket(conn, server_side=True)
            while True:
                body = read_request(conn)
                if body is None:
                    break
                text = body.decode("utf-8", "replace")
                mid = re.search(r'messageID="([^"]*)"', text)
                record(log, {"messageID": mid.group(1) if mid else "", "body": text})
                reply = replies[min(n, len(replies) - 1)]
                n += 1
                if reply == "drop":
                    break
                status, kind = reply.split(":", 1)
                kind, _, code = kind.partition(":")
                out = confirmation(kind, code).encode()
                conn.sendall(b"HTTP/1.1 %s Whatever\r\nContent-Type: text/xml\r\n"
                             b"Content-Length: %d\r\n\r\n" % (status.encode(), len(out)) + out)
        except (ssl.SSLError, OSError) as e:
            record(log, {"error": str(e)})
        finally:
            conn.close()


def serve_snpp(args):
    log, replies = args[0], args[1:]
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    print("port %d" % listener.getsockname()[1], flush=True)
    sends = 0
    while True:
        conn, _ = listener.accept()
        f = conn.makefile("rb")
        conn.sendall(b"220 SNPP ready\r\n250 stray line nobody asked for\r\n")
        for line in f:
            cmd = line.decode("latin-1").strip()
            record(log, {"command": cmd})
            if cmd.upper().startswith("SEND"):
                conn.sendall((replies[min(sends, len(replies) - 1)] + "\r\n").encode())
                sends += 1
            elif cmd.upper().startswith("QUIT"):
                conn.sendall(b"221 bye\r\n")
                break
            else:
                conn.sendall(b"250 OK\r\n")
        conn.close()


if __name__ == "__main__":
    {"wctp": serve_wctp, "snpp": serve_snpp}[sys.argv[1]](sys.argv[2:])
