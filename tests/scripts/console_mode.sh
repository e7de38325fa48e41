#!/usr/bin/env bash
# End to end without a display: the program serves Telnet on the console, prints each
# activity entry as a log line, refuses a busy port with its message, and ends on SIGTERM.
set -euo pipefail

orvane="$1"
. "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
fail() { echo "FAIL: $*" >&2; echo "--- stdout"; cat "$tmp/out" 2>/dev/null || true; echo "--- stderr"; cat "$tmp/err" 2>/dev/null || true; exit 1; }

port="$(free_port)"
printf '[Settings]\nPortNr=%s\nReverseDNS=0\n' "$port" > "$tmp/config/Quorvex/Orvane.conf"
"$adduser" "$tmp/prog/orvane" operator secret || fail "could not prepare the user database"

"$tmp/prog/orvane" </dev/null >"$tmp/out" 2>"$tmp/err" &
pid=$!
pids+=("$pid")

python3 - "$port" <<'PY' || fail "the Telnet dialogue did not go as expected"
import sys
from dialogue import connect, expect
s = connect(int(sys.argv[1]))
expect(s, b"Username : ")
s.sendall(b"operator\r\n")
expect(s, b"Password : ")
s.sendall(b"secret\r\n")
expect(s, b"> ")
# The dos bridge is wired: a shell answers and hands the prompt back when it exits.
s.sendall(b"dos\r\n")
s.sendall(b"echo bridged-$((6*7))\r\n")
expect(s, b"bridged-42")
s.sendall(b"exit\r\n")
expect(s, b"> ")
s.sendall(b"exit\r\n")
expect(s, b"Goodbye!")
s.close()
PY

wait_for "$tmp/out" 'Connection terminated' 100 || fail "no disconnection line"
# Each line: the time text padded to 25, the peer padded to 25, then the event.
grep -Eq '^[0-9]{1,2}/[0-9]{1,2}/[0-9]{4} [0-9]{1,2}:[0-9]{2}:[0-9]{2} +127\.0\.0\.1 +Logging in\.\.\.'$'\r''$' "$tmp/out" \
  || fail "no log-format line for the accepted connection"
grep -q '127\.0\.0\.1                Logged in as "operator"' "$tmp/out" || fail "no login line"
grep -q '127\.0\.0\.1                exit' "$tmp/out" || fail "no command line"

# A second server on the same port cannot start: its message on stderr, a failing exit.
set +e
timeout 20 "$tmp/prog/orvane" </dev/null >"$tmp/out2" 2>"$tmp/err2"
second=$?
set -e
[ "$second" -ne 0 ] || fail "a server on a busy port exited with success"
[ "$second" -ne 124 ] || fail "a server on a busy port did not end"
grep -q 'Failed to start the server. This can be caused by several problems' "$tmp/err2" \
  || fail "no start-failure text on stderr"
grep -q "^Port $port: address already in use\$" "$tmp/err2" || fail "no reason line for the busy port"
grep -q "^Listening on 0\.0\.0\.0:$port\$" "$tmp/out" || fail "no line saying where it listens"

stop "$pid" TERM || true
[ -n "$status" ] || fail "SIGTERM did not end the server"
[ "$status" -eq 0 ] || fail "the server ended with status $status after SIGTERM"
echo "console mode: ok"
