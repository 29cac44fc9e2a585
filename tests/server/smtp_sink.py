"""A mail server on 127.0.0.1 for tests: prints its port, then appends one
JSON line per received mail (envelope sender, recipients, content) to the
file named on the command line. Ends when standard input closes."""
import asyncio
import json
import socket
import sys

from aiosmtpd.controller import Controller


class Sink:
    def __init__(self, path):
        self.path = path

    async def handle_DATA(self, server, session, envelope):
        with open(self.path, "a", encoding="utf-8") as f:
            f.write(json.dumps({
                "from": envelope.mail_from,
                "to": envelope.rcpt_tos,
                "content": envelope.content.decode("utf-8", "replace"),
            }) + "\n")
        return "250 OK"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    port = free_port()
    controller = Controller(Sink(sys.argv[1]), hostname="127.0.0.1", port=port)
    controller.start()
    print(port, flush=True)
    sys.stdin.read()
    controller.stop()


if __name__ == "__main__":
    main()
