#!/usr/bin/env bash
# The main job, end to end: builds the suite, makes a demo working directory
# with vtsinit, starts pagesim in place of the modem and the paging service,
# starts the server (with its window when a display is there, else headless
# with its status lines on this terminal), sends a few pages with vtspage,
# waits until each has reached the simulated paging terminal and the SENT
# folder, and stops everything cleanly.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
ROOT=$PWD
BIN=$ROOT/build/bin
DEMO=$ROOT/demo
PAGES=(
  "Server room temperature above 30 C"
  "Meeting moved to 3 PM"
  "Call the front desk"
)

rm -rf "$DEMO"
"$BIN/vtsinit" "$DEMO" --modem 1 >/dev/null
cd "$DEMO"

sim_pid=""
mon_pid=""
cleanup() {
  [ -n "$mon_pid" ] && kill -TERM "$mon_pid" 2>/dev/null && wait "$mon_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
}
trap cleanup EXIT

# Simulated modem on COM1 with its paging terminal; it writes calvex.ini here.
"$BIN/pagesim" --dir sim --ports 1 --pages pages.jsonl --ini calvex.ini >sim.log 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q '^ready$' sim.log 2>/dev/null && break; sleep 0.1; done
grep -q '^ready$' sim.log || { echo "pagesim did not start:"; cat sim.log; exit 1; }

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "== Starting vtsmonitor with its window (status lines are shown there)"
else
  echo "== Starting vtsmonitor without a display; its status lines follow"
fi
"$BIN/vtsmonitor" &
mon_pid=$!

for text in "${PAGES[@]}"; do
  name=$("$BIN/vtspage" --queue QUEUE --phone 5551234 --pin 1001 --sender DEMO \
         --recipient OPERATOR --computer DEMO-PC "$text")
  echo "== vtspage queued $name: $text"
done

want=${#PAGES[@]}
for _ in $(seq 120); do
  sent=$(find QUEUE/SENT -maxdepth 1 -iname '*.pmf' | wc -l)
  [ "$sent" -ge "$want" ] && break
  kill -0 "$mon_pid" 2>/dev/null || { echo "vtsmonitor ended early"; exit 1; }
  sleep 0.5
done

echo
echo "== Pages received by the simulated paging terminal (pages.jsonl):"
cat pages.jsonl 2>/dev/null || true
echo "== SENT folder:"
ls QUEUE/SENT
sent=$(find QUEUE/SENT -maxdepth 1 -iname '*.pmf' | wc -l)

echo "== Stopping the server (exit sequence)"
kill -TERM "$mon_pid"
wait "$mon_pid" && status=0 || status=$?
mon_pid=""
echo "== vtsmonitor ended with status $status"
[ "$sent" -ge "$want" ] && [ "$status" -eq 0 ]
