#!/usr/bin/env bash
# End to end from the command line: --help and --version answer, a wrong option is refused,
# users are managed without a display and refused while the server runs, a stale DISPLAY
# falls back to the console server, which says where it listens, never waits for an unread
# output, and ends on SIGHUP saying so; with no users and no terminal it says how to add one.
set -euo pipefail

orvane="$1"
. "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
fail() {
  echo "FAIL: $*" >&2
  for f in "$tmp"/*.out "$tmp"/*.err; do [ -s "$f" ] && { echo "--- $f"; head -c 3000 "$f"; echo; }; done
  exit 1
}

prog="$tmp/prog/orvane"

# --version and --help answer and end; nothing is started.
[ "$(timeout 20 "$prog" --version)" = "Orvane 1.5" ] || fail "--version"
timeout 20 "$prog" -h >"$tmp/help.out" || fail "-h did not exit 0"
grep -q -- '--add-user NAME' "$tmp/help.out" || fail "-h does not list the options"
[ ! -e "$tmp/prog/ORVANE.DAT" ] || fail "--help touched the user database"
set +e
timeout 20 "$prog" --bogus >"$tmp/bogus.out" 2>"$tmp/bogus.err"
bogus=$?
set -e
[ "$bogus" -eq 2 ] || fail "an unknown option exited with $bogus"
grep -q '^orvane: unknown option --bogus$' "$tmp/bogus.err" || fail "no usage for an unknown option"
[ ! -s "$tmp/bogus.out" ] || fail "the usage went to standard output"

# Users without a display, in the database beside this writable copy.
printf 'first-pass\n' | "$prog" --add-user Alice --dos >"$tmp/add.out" 2>"$tmp/add.err" || fail "--add-user"
[ "$(stat -c %a "$tmp/prog/ORVANE.DAT")" = 600 ] || fail "the database is not mode 0600"
printf 'second-pass\n' | "$prog" --set-password ALICE >"$tmp/set.out" 2>"$tmp/set.err" || fail "--set-password"
"$prog" --list-users >"$tmp/list.out" || fail "--list-users"
grep -q '^Alice  login, dos$' "$tmp/list.out" || fail "--list-users does not show Alice"
grep -q 'pass' "$tmp/list.out" && fail "--list-users shows a password"

# A stale DISPLAY: the console server, with one line saying so.
port="$(free_port)"
printf '[Settings]\nPortNr=%s\nListenAddress=127.0.0.1\nReverseDNS=0\n' "$port" >"$tmp/config/Quorvex/Orvane.conf"
# Display 59536 has no server; its TCP fallback would be port 0.
DISPLAY=:59536 "$prog" </dev/null >"$tmp/server.out" 2>"$tmp/server.err" &
pids+=($!)
server=$!
wait_for "$tmp/server.out" "^Listening on 127\.0\.0\.1:$port\$" || fail "no listening line"
grep -q '^Orvane: Cannot open the display ":59536"' "$tmp/server.err" || fail "no display fallback line"

# While it runs, changes are refused; the list still answers.
set +e
printf 'x-pass\n' | "$prog" --add-user bob >"$tmp/refused.out" 2>"$tmp/refused.err"
refused=$?
set -e
[ "$refused" -eq 1 ] || fail "--add-user while running exited with $refused"
grep -q '^Orvane is running: change users in Configure... → Users, or stop it first\.$' "$tmp/refused.err" \
  || fail "no refusal text while running"
"$prog" --list-users >/dev/null || fail "--list-users while running"

python3 - "$port" <<'PY' || fail "the login with the changed password failed"
import sys
from dialogue import connect, expect
s = connect(int(sys.argv[1]))
expect(s, b"Username : "); s.sendall(b"alice\r\n")
expect(s, b"Password : "); s.sendall(b"second-pass\r\n")
expect(s, b"> "); s.sendall(b"exit\r\n")
expect(s, b"Goodbye!")
PY

stop "$server" HUP || fail "SIGHUP did not end the console server"
[ "$status" -eq 0 ] || fail "the console server ended with $status after SIGHUP"
grep -q "^Stopped listening on 127\.0\.0\.1:$port\$" "$tmp/server.out" || fail "no stop line"

# An output nobody reads never holds the server: far more activity than a pipe and the
# 1 MiB buffer take, a second client still served at once, and the loss counted once read.
port="$(free_port)"
printf '[Settings]\nPortNr=%s\nListenAddress=127.0.0.1\nReverseDNS=0\n' "$port" >"$tmp/config/Quorvex/Orvane.conf"
python3 - "$prog" "$port" <<'PY' || fail "an unread output held the server"
import os, socket, subprocess, sys, threading, time
from dialogue import connect, expect
prog, port = sys.argv[1], int(sys.argv[2])
server = subprocess.Popen([prog, "--console"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
try:
    s = connect(port)
    expect(s, b"Username : "); s.sendall(b"alice\r\n")
    expect(s, b"Password : "); s.sendall(b"second-pass\r\n")
    expect(s, b"> ")
    lines = 15000
    done = threading.Event()
    def drain():
        while not done.is_set():
            try:
                if not s.recv(65536): break
            except socket.timeout:
                pass
    reader = threading.Thread(target=drain); reader.start()
    # Every command is an activity line of about 130 bytes: about 1.9 MB in all.
    s.sendall(b"".join(b"no-such-command-%05d-%s\r\n" % (i, b"x" * 60) for i in range(lines)))
    s.sendall(b"exit\r\n")
    time.sleep(1)
    # The server answers a newcomer at once, although nobody has read its output.
    t = socket.create_connection(("127.0.0.1", port), timeout=10)
    expect(t, b"Username : ", 10)
    t.close()
    # Every line has been handled once "exit" has shut the stream (the reader sees its end);
    # closing earlier would drop the lines a loaded machine has not reached yet.
    reader.join(120); done.set(); reader.join(15); s.close()
    # Reading again: what was kept comes out, then one line counts the loss.
    os.set_blocking(server.stdout.fileno(), False)
    out = b""; end = time.time() + 30
    while b"lines of output were dropped" not in out:
        if time.time() > end: raise SystemExit("no count of dropped lines; got %d bytes" % len(out))
        try:
            chunk = os.read(server.stdout.fileno(), 1 << 16)
            if chunk: out += chunk; continue
        except BlockingIOError:
            pass
        time.sleep(0.05)
    if out.count(b"lines of output were dropped") != 1: raise SystemExit("counted twice")
finally:
    server.terminate()
    try: server.wait(20)
    except subprocess.TimeoutExpired: server.kill()
PY

# The windowed program ends on SIGTERM like "Exit Now": status 0, and the dos shell with it.
port="$(free_port)"
printf '[Settings]\nPortNr=%s\nListenAddress=127.0.0.1\nReverseDNS=0\nConfirmExit=1\n' "$port" >"$tmp/config/Quorvex/Orvane.conf"
QT_QPA_PLATFORM=offscreen "$prog" </dev/null >"$tmp/window.out" 2>"$tmp/window.err" &
pids+=($!)
window=$!
# The client keeps its connection open (bounded) while the program is ended.
python3 - "$port" "$tmp/shell.pid" <<'PY' &
import os, sys
from dialogue import connect, expect, expect_match
s = connect(int(sys.argv[1]))
expect(s, b"Username : "); s.sendall(b"alice\r\n")
expect(s, b"Password : "); s.sendall(b"second-pass\r\n")
expect(s, b"> "); s.sendall(b"dos\r\n")
s.sendall(b"echo shell-pid-$$\r\n")
with open(sys.argv[2] + ".new", "w") as f: f.write(expect_match(s, rb"shell-pid-(\d+)").group(1).decode())
os.rename(sys.argv[2] + ".new", sys.argv[2])
s.settimeout(60)
try:
    while s.recv(4096): pass
except OSError:
    pass
PY
pids+=($!)
client=$!
for _ in $(seq 200); do [ -s "$tmp/shell.pid" ] && break; sleep 0.1; done
[ -s "$tmp/shell.pid" ] || fail "no dos shell in the windowed program"
shell="$(cat "$tmp/shell.pid")"
kill -0 "$shell" 2>/dev/null || fail "the dos shell is not running"
stop "$window" TERM || fail "SIGTERM did not end the windowed program"
[ "$status" -eq 0 ] || fail "the windowed program ended with $status after SIGTERM"
for _ in $(seq 100); do kill -0 "$shell" 2>/dev/null || break; sleep 0.1; done
kill -0 "$shell" 2>/dev/null && fail "the dos shell $shell outlived the windowed program"
for _ in $(seq 100); do kill -0 "$client" 2>/dev/null || break; sleep 0.1; done

# No users and no terminal: it says how to add one.
mkdir -p "$tmp/empty"
cp "$orvane" "$tmp/empty/orvane"
port="$(free_port)"
printf '[Settings]\nPortNr=%s\nListenAddress=127.0.0.1\nReverseDNS=0\n' "$port" >"$tmp/config/Quorvex/Orvane.conf"
"$tmp/empty/orvane" --console </dev/null >"$tmp/empty.out" 2>"$tmp/empty.err" &
pids+=($!)
empty=$!
wait_for "$tmp/empty.out" "^Listening on" || fail "the empty server did not listen"
grep -q 'No users are defined' "$tmp/empty.err" || fail "no note about missing users"
grep -q 'orvane --add-user NAME' "$tmp/empty.err" || fail "no hint how to add a user"
stop "$empty" TERM || fail "SIGTERM did not end the empty server"
echo "command line: ok"
