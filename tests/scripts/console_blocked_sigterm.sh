#!/usr/bin/env bash
# Console mode ends promptly on SIGTERM even while clients that stopped reading their output
# (one running `yes` in dos, one flooding help requests) are connected.
set -euo pipefail

orvane="$1"
. "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
fail() { echo "FAIL: $*" >&2; echo "--- stderr"; cat "$tmp/err" 2>/dev/null || true; echo "--- helper"; cat "$tmp/helper" 2>/dev/null || true; exit 1; }

port="$(free_port)"
printf '[Settings]\nPortNr=%s\nReverseDNS=0\nEnableLog=0\n' "$port" > "$tmp/config/Quorvex/Orvane.conf"
"$adduser" "$tmp/prog/orvane" operator secret || fail "could not prepare the user database"

"$tmp/prog/orvane" </dev/null >/dev/null 2>"$tmp/err" &
pid=$!
pids+=("$pid")

# The helper sets up both stuck clients, says "ready", then keeps them open (bounded).
python3 - "$port" "$tmp/ready" >"$tmp/helper" 2>&1 <<'PY' &
import sys, time
from dialogue import connect as connect_to, expect, expect_prompt
port, ready = int(sys.argv[1]), sys.argv[2]
# A small receive buffer, so that the server's output to these clients is stuck soon.
def connect():
    return connect_to(port, seconds=15, timeout=5, receive_buffer=4096)
def login(s):
    expect(s, b"Username : ")
    s.sendall(b"operator\r\n")
    expect(s, b"Password : ")
    s.sendall(b"secret\r\n")
    expect(s, b"> ")
yes = connect(); login(yes)
yes.sendall(b"dos\r\n")
expect_prompt(yes)
yes.sendall(b"yes\r\n")
flood = connect(); login(flood)
flood.setblocking(False)
sent = 0
end = time.time() + 20
# Floods until the server stops taking the requests: its output to this client is stuck.
quiet_since = None
while time.time() < end:
    try:
        sent += flood.send(b"help\r\n" * 4096)
        quiet_since = None
    except BlockingIOError:
        quiet_since = quiet_since or time.time()
        if time.time() - quiet_since > 1.0: break
        time.sleep(0.01)
print("flood sent %d bytes" % sent, flush=True)
if time.time() >= end: raise SystemExit("the server kept taking the flood")
open(ready, "w").write("ready\n")
time.sleep(60)
PY
helper=$!
pids+=("$helper")

for _ in $(seq 300); do [ -e "$tmp/ready" ] && break; sleep 0.1; done
[ -e "$tmp/ready" ] || fail "the stuck clients were not set up"
kill -0 "$pid" 2>/dev/null || fail "the server is not running"

start=$(date +%s%N)
stop "$pid" TERM 500 0.01 || true
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
[ -n "$status" ] || fail "SIGTERM did not end the server within 5 s"
cat "$tmp/helper"
echo "SIGTERM to exit with two stuck clients: ${elapsed_ms} ms (status $status)"
[ "$elapsed_ms" -lt 5000 ] || fail "the server took ${elapsed_ms} ms to end"
[ "$status" -eq 0 ] || fail "the server ended with status $status after SIGTERM"
echo "console blocked sigterm: ok"
