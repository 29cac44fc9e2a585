#!/usr/bin/python3
"""TLS in front of a plain TCP peer, on Python's standard library: listens
on an ephemeral loopback port, prints "port N", and for each connection
makes the TLS handshake with --cert/--key, then carries bytes both ways to
127.0.0.1:TARGET until either side closes.

  tls_proxy.py --cert F --key F TARGET
"""
import socket
import ssl
import sys
import threading


def pump(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    for s in (src, dst):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def serve(conn, ctx, target):
    try:
        tls = ctx.wrap_socket(conn, server_side=True)
    except (ssl.SSLError, OSError):
        conn.close()
        return
    plain = socket.create_connection(("127.0.0.1", target))
    threading.Thread(target=pump, args=(plain, tls), daemon=True).start()
    pump(tls, plain)


def main(args):
    opts = {}
    while args and args[0].startswith("--"):
        opts[args[0][2:]] = args[1]
        args = args[2:]
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(opts["cert"], opts["key"])
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print("port %d" % listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, ctx, int(args[0])), daemon=True).start()


if __name__ == "__main__":
    main(sys.argv[1:])
