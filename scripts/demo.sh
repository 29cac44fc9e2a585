#!/usr/bin/env bash
# The main job, end to end: builds the suite, makes a demo working directory
# with vtsinit, starts pagesim in place of the modem and the paging service,
# starts the server (with its window when a display is there, else headless
# with its status lines on this terminal), sends a few pages with vtspage,
# starts the gateway vtsgate and sends BOB one page each over HTTP (curl),
# e-mail (curl as the mail client) and SNPP (Perl's Net::SNPP, or sendpage),
# waits until each page has reached the simulated paging terminal and the
# SENT folder, and stops everything cleanly.
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
gate_pid=""
cleanup() {
  [ -n "$gate_pid" ] && kill -TERM "$gate_pid" 2>/dev/null && wait "$gate_pid" 2>/dev/null || true
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

# The gateway: free ports on the loopback address, BOB as a recipient.
cat > vtsgate.ini <<'INI'
[snpp]
listen = 127.0.0.1:0
[smtp]
listen = 127.0.0.1:0
domain = pager.local
[http]
listen = 127.0.0.1:0
token = demo-token
[recipients]
BOB = 5551234, 1001
INI
"$BIN/vtsgate" >gate.log 2>&1 &
gate_pid=$!
for _ in $(seq 100); do grep -q ' started in ' gate.log 2>/dev/null && break; sleep 0.1; done
port() { sed -n "s/.* $1 listening on 127.0.0.1:\([0-9]*\)$/\1/p" gate.log; }
HTTP_PORT=$(port HTTP); SMTP_PORT=$(port SMTP); SNPP_PORT=$(port SNPP)
echo "== vtsgate listening: SNPP $SNPP_PORT, SMTP $SMTP_PORT, HTTP $HTTP_PORT"

echo "== Paging BOB over HTTP with curl"
curl -sS -H "Authorization: Bearer demo-token" \
  --json '{"to": "BOB", "text": "Page by HTTP", "from": "demo"}' \
  "http://127.0.0.1:$HTTP_PORT/api/pages"

echo "== Paging BOB by e-mail (curl as the mail client)"
printf 'From: demo@example.com\r\nTo: bob@pager.local\r\nSubject: Mail\r\n\r\nPage by e-mail\r\n' |
  curl -sS "smtp://127.0.0.1:$SMTP_PORT" --mail-from demo@example.com \
       --mail-rcpt bob@pager.local -T -

echo "== Paging BOB over SNPP"
if perl -MNet::SNPP -e 1 2>/dev/null; then
  perl -MNet::SNPP -e '$s = Net::SNPP->new("127.0.0.1", Port => $ARGV[0]) or die;
                       $s->send(Pager => "BOB", Message => "Page by SNPP") or die $s->message;
                       $s->quit' "$SNPP_PORT"
else
  sendpage -h "127.0.0.1:$SNPP_PORT" -p BOB "Page by SNPP"
fi
echo "== vtsgate log:"
cat gate.log

want=$(( ${#PAGES[@]} + 3 ))
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

kill -TERM "$gate_pid"; wait "$gate_pid" 2>/dev/null || true; gate_pid=""
echo "== Stopping the server (exit sequence)"
kill -TERM "$mon_pid"
wait "$mon_pid" && status=0 || status=$?
mon_pid=""
echo "== vtsmonitor ended with status $status"
[ "$sent" -ge "$want" ] && [ "$status" -eq 0 ]
