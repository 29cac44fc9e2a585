#!/usr/bin/python3
"""Runs a program against a name server that never answers, for the
dialer's tests. Meant to run under "unshare -rmn" (its own user, mount and
network namespaces): brings up the loopback interface, binds a UDP socket
on 127.0.0.1:53 that is never read, makes /etc/resolv.conf name it (a bind
mount of RESOLV), then runs PROGRAM ARGS; with --term S it sends SIGTERM to
the program S seconds after the start. Prints one JSON line:
{"exit": code, "seconds": run time, "after_term": seconds from SIGTERM to
the end, or null}.

  silent_dns.py [--term S] RESOLV PROGRAM ARGS...
"""
import json
import signal
import socket
import subprocess
import sys
import time

args = sys.argv[1:]
term = None
if args[0] == "--term":
    term = float(args[1])
    args = args[2:]
resolv, program = args[0], args[1:]
subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
silent.bind(("127.0.0.1", 53))
with open(resolv, "w") as f:
    f.write("nameserver 127.0.0.1\noptions timeout:10 attempts:3\n")
subprocess.run(["mount", "--bind", resolv, "/etc/resolv.conf"], check=True)
start = time.monotonic()
proc = subprocess.Popen(program)
after_term = None
try:
    code = proc.wait(timeout=term) if term is not None else proc.wait()
except subprocess.TimeoutExpired:
    proc.send_signal(signal.SIGTERM)
    signalled = time.monotonic()
    code = proc.wait()
    after_term = time.monotonic() - signalled
print(json.dumps({"exit": code, "seconds": time.monotonic() - start,
                  "after_term": after_term}), flush=True)
