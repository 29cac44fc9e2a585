#!/usr/bin/env python3
"""Crash soak: the whole road (vtsinit, pagesim with two ports, a headless
vtsmonitor, vtspage) with N pages while the server is killed (SIGKILL, timed
while one of its dialers runs) and dialers are killed, restarting the server
each time; with --server-stops, also orderly stops (SIGTERM, the exit
sequence to its end, restart) timed the same way; with --restart-after-kill,
an orderly restart right after each dialer kill; with --full-disk N, N rounds
in which the server's file system fills up while a dialer runs, the server is
killed while it is full and started again once there is room (the server's
working directory is then a small tmpfs in a user namespace of its own). At
the end every page is accounted for against the simulated paging terminal's
record (pages.jsonl):

  lost                 never delivered and not reported failed
  sent, undelivered    reported sent (in SENT) but never delivered
  duplicates           delivered more than once; allowed only for pages that
                       were in a port file (on the line) at a kill or stop

Exit status 0 when nothing is lost, nothing is reported sent without being
delivered, every duplicate was on the line at a kill and every page ended in
SENT; 1 otherwise (the retries are set high enough that kills alone never
fail a page).

  crash_soak.py --bin build/bin --pages 500 --server-kills 10 --dialer-kills 10
"""
import argparse
import json
import os
import random
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

RECORD = 772
MESSAGE_OFFSET, MESSAGE_WIDTH = 2, 500
NUMBERS = ["5551001", "5551002", "5551003", "5551004"]


def log(text):
    print(f"[soak {time.strftime('%H:%M:%S')}] {text}", flush=True)


def dialers(work):
    """(pid, parent pid) of the live dialers working in `work`: the holders
    of the port locks (mordax<N>.lck) listed in /proc/locks that are dialers.
    Cheap enough to poll often, which short dialer runs need."""
    inodes = set()
    for port in range(1, 9):
        try:
            inodes.add(os.stat(os.path.join(work, f"mordax{port}.lck")).st_ino)
        except OSError:
            pass
    found = []
    try:
        with open("/proc/locks") as f:
            lines = f.readlines()
    except OSError:
        return found
    for line in lines:
        fields = line.split()
        if len(fields) < 6 or fields[1] != "FLOCK" or "->" in fields:
            continue
        pid, inode = fields[4], fields[5].rsplit(":", 1)[-1]
        if not pid.isdigit() or not inode.isdigit() or int(inode) not in inodes:
            continue
        try:
            with open(f"/proc/{pid}/stat", "rb") as f:
                stat = f.read().decode("latin-1")
        except OSError:
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        rest = stat[stat.rindex(")") + 2:].split()
        if comm == "calvex" and rest[0] != "Z":
            found.append((int(pid), int(rest[1])))
    return found


def on_the_line(work, busy_only=False):
    """Message texts of the batches in the port files right now (with
    busy_only, only of batches still handed out: a collected one has an idle
    header)."""
    texts = set()
    for port in range(1, 9):
        try:
            with open(os.path.join(work, f"mordax{port}.dat"), "rb") as f:
                data = f.read()
        except OSError:
            continue
        if len(data) < RECORD:
            continue
        count = int.from_bytes(data[738:742], "little", signed=True)
        if busy_only and int.from_bytes(data[634:636], "little", signed=True) != 1:
            continue
        for r in range(1, min(count, len(data) // RECORD - 1) + 1):
            rec = data[r * RECORD:(r + 1) * RECORD]
            texts.add(rec[MESSAGE_OFFSET:MESSAGE_OFFSET + MESSAGE_WIDTH].decode("cp1252").rstrip())
    return texts


class Road:
    def __init__(self, bindir, work, srv=None):
        self.bin = os.path.abspath(bindir)
        self.home = work           # the simulator's files
        self.work = srv or work    # the server's working directory
        self.queue = os.path.join(self.work, "QUEUE")
        self.server = None
        self.sim = None
        self.server_log = open(os.path.join(work, "server.out"), "ab")
        self.filler = os.path.join(self.work, "filler")

    def env(self):
        env = dict(os.environ)
        for k in ("DISPLAY", "WAYLAND_DISPLAY", "VANTREL_SYSTEM_DIR"):
            env.pop(k, None)
        env["QT_QPA_PLATFORM"] = "offscreen"
        return env

    def setup(self):
        subprocess.run([os.path.join(self.bin, "vtsinit"), self.work, "--modem", "1", "--modem", "2"],
                       check=True, stdout=subprocess.DEVNULL)
        db = sqlite3.connect(os.path.join(self.work, "VTSCFG.MDB"))
        # Quick retries and enough of them that kills alone never fail a page.
        db.execute("update tblConfig set DelayBeforeRetries=1, NumberOfRetries=8")
        db.commit()
        db.close()
        with open(os.path.join(self.work, "calvex.ini"), "w") as f:
            f.write("[modem]\nguard=0.2\nhangupreply=2\n")
        # Bytes take their real time on a 2400 bit/s line, so a call lasts
        # long enough for a kill to land in it.
        scenario = os.path.join(self.home, "scenario.txt")
        with open(scenario, "w") as f:
            f.write("* slow=2400\n")
        self.sim = subprocess.Popen(
            [os.path.join(self.bin, "pagesim"), "--dir", os.path.join(self.home, "sim"), "--ports", "1,2",
             "--pages", os.path.join(self.home, "pages.jsonl"), "--ini",
             os.path.join(self.work, "calvex.ini"), "--guard", "0.2", "--scenario", scenario],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=self.env())
        for line in self.sim.stdout:
            if line.strip() == b"ready":
                break
        else:
            raise RuntimeError("pagesim did not get ready")

    def start_server(self):
        self.server = subprocess.Popen([os.path.join(self.bin, "vtsmonitor")], cwd=self.work,
                                       env=self.env(), stdout=self.server_log,
                                       stderr=self.server_log)

    def kill_server(self):
        self.server.send_signal(signal.SIGKILL)
        self.server.wait()

    # The orderly stop a service manager sends: SIGTERM, then the server's
    # exit sequence runs to its end.
    def stop_server(self):
        self.server.send_signal(signal.SIGTERM)
        self.server.wait(timeout=90)

    def stop(self):
        if self.server and self.server.poll() is None:
            self.server.send_signal(signal.SIGTERM)
            try:
                self.server.wait(timeout=60)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()
        # Dialers end with their server; wait for the last ones.
        deadline = time.time() + 30
        while dialers(self.work) and time.time() < deadline:
            time.sleep(0.2)
        if self.sim and self.sim.poll() is None:
            self.sim.send_signal(signal.SIGTERM)
            self.sim.wait(timeout=30)

    def page(self, i):
        text = f"soak page {i} {random.randrange(10**6):06d}"
        out = subprocess.run(
            [os.path.join(self.bin, "vtspage"), "--queue", self.queue, "--phone", NUMBERS[i % len(NUMBERS)],
             "--pin", str(1000 + i), "--computer", "SOAK", text],
            check=True, capture_output=True)
        return out.stdout.decode().strip(), text

    # Fills the server's file system to the last byte.
    def fill_disk(self):
        fd = os.open(self.filler, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o600)
        try:
            for size in (1 << 20, 1 << 12, 1):
                try:
                    while os.write(fd, b"\0" * size) == size:
                        pass
                except OSError:
                    pass
        finally:
            os.close(fd)

    def free_disk(self):
        try:
            os.remove(self.filler)
        except OSError:
            pass

    def folder(self, sub):
        path = os.path.join(self.queue, sub) if sub else self.queue
        return {n for n in os.listdir(path) if n.upper().endswith(".PMF")}


def stop_on_signal(signum, _frame):
    raise KeyboardInterrupt(f"signal {signum}")


def main():
    # A soak stopped by a signal still stops the server and the simulator.
    signal.signal(signal.SIGTERM, stop_on_signal)
    signal.signal(signal.SIGINT, stop_on_signal)
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--bin", required=True, help="folder of the built programs")
    ap.add_argument("--pages", type=int, default=500)
    ap.add_argument("--server-kills", type=int, default=10)
    ap.add_argument("--dialer-kills", type=int, default=10)
    ap.add_argument("--server-stops", type=int, default=0,
                    help="orderly stops (SIGTERM, exit sequence, restart) while a dialer runs")
    ap.add_argument("--restart-after-kill", action="store_true",
                    help="an orderly stop and restart right after each dialer kill")
    ap.add_argument("--full-disk", type=int, default=0,
                    help="rounds of a full file system with a server kill while it is full")
    ap.add_argument("--work", help="working directory to use (default: a new temporary one)")
    ap.add_argument("--timeout", type=float, default=3600, help="seconds for the whole soak")
    ap.add_argument("--seed", type=int, default=None)
    args = ap.parse_args()
    random.seed(args.seed)
    if args.full_disk and os.environ.get("VANTREL_SOAK_NS") != "1":
        # A file system of our own to fill: a tmpfs in a user and mount
        # namespace, so no root is needed and nothing else runs short.
        env = dict(os.environ, VANTREL_SOAK_NS="1")
        return subprocess.call(["unshare", "-rm", "--", sys.executable] + sys.argv, env=env)

    work = args.work or tempfile.mkdtemp(prefix="vantrel-soak-")
    os.makedirs(work, exist_ok=True)
    log(f"working directory {work}")
    srv = None
    if args.full_disk:
        srv = os.path.join(work, "srv")
        os.makedirs(srv, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=48m", "tmpfs", srv], check=True)
    road = Road(args.bin, work, srv)
    pages = {}          # file name -> text
    at_kills = set()    # texts in a port file at a kill
    started = time.time()
    ok = False
    try:
        road.setup()
        road.start_server()
        kills = (["server"] * args.server_kills + ["dialer"] * args.dialer_kills +
                 ["stop"] * args.server_stops + ["full"] * args.full_disk)
        random.shuffle(kills)
        # Pages are fed in waves between the kills, so every kill finds work.
        waves = len(kills) + 1
        per_wave = [args.pages // waves + (1 if w < args.pages % waves else 0) for w in range(waves)]
        fed = 0
        skipped = 0
        for w in range(waves):
            for _ in range(per_wave[w]):
                name, text = road.page(fed)
                pages[name] = text
                fed += 1
            if w == len(kills):
                break
            kind = kills[w]
            # Wait for a dialer run of the current server (not one of a
            # killed server that is still hanging up).
            deadline = time.time() + 120
            pids = []
            while time.time() < deadline:
                if road.server.poll() is not None:
                    raise RuntimeError(f"the server ended by itself (status {road.server.returncode})")
                pids = [pid for pid, parent in dialers(road.work) if parent == road.server.pid]
                if pids:
                    break
                time.sleep(0.01)
            if not pids:
                log(f"kill {w + 1}/{len(kills)}: no dialer run within 120 s; skipped")
                skipped += 1
                continue
            time.sleep(random.uniform(0.0, 0.5))  # somewhere in the call
            if kind != "full":
                at_kills |= on_the_line(road.work)
            if kind == "server":
                road.kill_server()
                log(f"kill {w + 1}/{len(kills)}: server (dialer {pids})")
                road.start_server()
            elif kind == "stop":
                road.stop_server()
                log(f"kill {w + 1}/{len(kills)}: orderly stop (dialer {pids})")
                road.start_server()
            elif kind == "full":
                road.fill_disk()
                # The run ends while nothing can be written; its results
                # can only go to the journal's reserve.
                deadline = time.time() + 60
                while any(pid in pids for pid, _ in dialers(road.work)) and time.time() < deadline:
                    time.sleep(0.05)
                time.sleep(2)
                # Only a run started while the disk was full is on the line
                # now; the results of the one that ended are in the journal.
                at_kills |= on_the_line(road.work, busy_only=True)
                road.kill_server()
                road.free_disk()
                log(f"kill {w + 1}/{len(kills)}: server on a full disk (dialer {pids})")
                road.start_server()
            else:
                for pid in pids:
                    try:
                        os.kill(pid, signal.SIGKILL)
                    except ProcessLookupError:
                        pass
                log(f"kill {w + 1}/{len(kills)}: dialer {pids}")
                if args.restart_after_kill:
                    road.stop_server()
                    road.start_server()
        log(f"{fed} pages queued; waiting for every page to be sent or failed")
        while time.time() - started < args.timeout:
            done = road.folder("SENT") | road.folder("FAILED")
            if all(name in done for name in pages):
                break
            if road.server.poll() is not None:
                raise RuntimeError(f"the server ended by itself (status {road.server.returncode})")
            time.sleep(0.5)
        else:
            log("timed out")
        road.stop()
        ok = account(road, pages, at_kills, args, skipped)
    finally:
        road.stop()
        road.free_disk()
    log(f"took {time.time() - started:.0f} s")
    if ok and not args.work:
        shutil.rmtree(work, ignore_errors=True)
    return 0 if ok else 1


def account(road, pages, at_kills, args, skipped):
    delivered = {}
    with open(os.path.join(road.home, "pages.jsonl"), encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line:
                text = json.loads(line).get("text", "")
                delivered[text] = delivered.get(text, 0) + 1
    sent, failed = road.folder("SENT"), road.folder("FAILED")
    lost, undelivered, dups, unexplained, unfinished, failed_pages = [], [], [], [], [], []
    for name, text in pages.items():
        n = delivered.get(text, 0)
        if name not in sent and name not in failed:
            unfinished.append(name)
        if name in failed:
            failed_pages.append(name)
        if n == 0 and name not in failed:
            lost.append(name)
        if n == 0 and name in sent:
            undelivered.append(name)
        if n > 1:
            dups.append(name)
            if text not in at_kills:
                unexplained.append(name)
    strangers = sum(v for t, v in delivered.items() if t not in set(pages.values()))
    # Sent rows in the log per page text: a page paged again is logged again.
    sent_rows = {}
    try:
        db = sqlite3.connect(os.path.join(road.work, "VTSLog.mdb"))
        for (text,) in db.execute("select Message from tblLog where Status=1"):
            sent_rows[text] = sent_rows.get(text, 0) + 1
        db.close()
    except sqlite3.Error as e:
        log(f"the log cannot be read: {e}")
    extra = sum(delivered.get(pages[n], 0) - 1 for n in dups)
    print(json.dumps({
        "pages": len(pages), "server_kills": args.server_kills, "dialer_kills": args.dialer_kills,
        "server_stops": args.server_stops, "full_disk_kills": args.full_disk,
        "restart_after_kill": args.restart_after_kill,
        "kills_skipped": skipped,
        "delivered_once": sum(1 for t in pages.values() if delivered.get(t, 0) == 1),
        "lost": len(lost), "sent_but_undelivered": len(undelivered),
        "reported_failed": len(failed_pages), "not_finished": len(unfinished),
        "pages_delivered_twice_or_more": len(dups), "extra_deliveries": extra,
        "duplicates_not_on_the_line_at_a_kill": len(unexplained),
        "pages_on_the_line_at_kills": len(at_kills), "unknown_deliveries": strangers,
        "log_sent_rows": sum(sent_rows.values()),
        "pages_with_more_than_one_sent_row": sum(1 for t in pages.values() if sent_rows.get(t, 0) > 1),
    }, indent=2), flush=True)
    for title, names in (("lost", lost), ("sent but undelivered", undelivered), ("failed", failed_pages),
                         ("unexplained duplicate", unexplained), ("not finished", unfinished)):
        for name in names[:20]:
            log(f"{title}: {name} {pages[name]!r}")
    # With eight retries a kill alone never fails a page; one that ends
    # failed shows a run's outcome taken wrongly (a cancel for a crash).
    return not lost and not undelivered and not unexplained and not unfinished and not failed_pages


if __name__ == "__main__":
    sys.exit(main())
