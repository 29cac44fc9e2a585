#!/usr/bin/env python3
"""A small update server for the updater's tests.

Serves files below --root by request path and records the exact bytes of
each request in --record/request-N.bin. How a path is answered is chosen
per path with --mode PATH=MODE:

  close      HTTP/1.0 answer with Content-Length, then close (default)
  keepalive  HTTP/1.1 answer with Content-Length, connection kept open
  chunked    HTTP/1.1 chunked answer, connection kept open
  nolength   no Content-Length, the body ends when the connection closes
  broken     full Content-Length, half the body, then close
  hang       read the request, never answer, keep the connection open
  pause      like close, but after --pause-after bytes wait for a line on
             standard input before sending the rest
  404        answer 404 Not Found

Prints "PORT <n>" once listening on 127.0.0.1 (port chosen by the system).
"""
import argparse
import os
import socket
import socketserver
import sys
import threading

args = None
counter_lock = threading.Lock()
counter = [0]
resume = threading.Event()


def record(data):
    if not args.record:
        return
    with counter_lock:
        counter[0] += 1
        n = counter[0]
    path = os.path.join(args.record, "request-%d.bin" % n)
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)


def read_request(sock, pending):
    data = pending
    while b"\r\n\r\n" not in data and b"\n\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            return None, data
        data += chunk
        if len(data) > 1 << 20:
            return None, data
    end = data.find(b"\r\n\r\n")
    end = end + 4 if end >= 0 else data.find(b"\n\n") + 2
    return data[:end], data[end:]


def hold_open(sock):
    try:
        while sock.recv(65536):
            pass
    except OSError:
        pass


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        sock = self.request
        pending = b""
        while True:
            req, pending = read_request(sock, pending)
            if req is None:
                if pending:
                    record(pending)
                return
            record(req)
            target = req.split(b"\r\n")[0].split(b" ")
            path = target[1].decode("latin-1") if len(target) > 1 else "/"
            if not self.answer(sock, path):
                return

    def answer(self, sock, path):
        mode = args.modes.get(path, "close")
        file = os.path.join(args.root, path.lstrip("/"))
        if mode == "hang":
            hold_open(sock)
            return False
        if mode == "404" or not os.path.isfile(file):
            body = b"not here"
            sock.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
            return False
        with open(file, "rb") as f:
            body = f.read()
        if mode == "keepalive":
            sock.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n"
                         % len(body) + body)
            return True
        if mode == "chunked":
            out = b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
            for i in range(0, len(body), 7):
                piece = body[i:i + 7]
                out += b"%x\r\n" % len(piece) + piece + b"\r\n"
            sock.sendall(out + b"0\r\n\r\n")
            return True
        if mode == "nolength":
            sock.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + body)
            return False
        head = b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: %d\r\n\r\n" % len(body)
        if mode == "broken":
            sock.sendall(head + body[: len(body) // 2])
            return False
        if mode == "pause":
            cut = args.pause_after
            sock.sendall(head + body[:cut])
            resume.wait()
            sock.sendall(body[cut:])
            return False
        sock.sendall(head + body)
        return False


def watch_stdin():
    for _ in sys.stdin:
        resume.set()
    resume.set()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    global args
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--record")
    p.add_argument("--mode", action="append", default=[])
    p.add_argument("--pause-after", type=int, default=0)
    args = p.parse_args()
    args.modes = dict(m.split("=", 1) for m in args.mode)
    threading.Thread(target=watch_stdin, daemon=True).start()
    with Server(("127.0.0.1", 0), Handler) as server:
        print("PORT %d" % server.server_address[1], flush=True)
        server.serve_forever()


if __name__ == "__main__":
    main()
