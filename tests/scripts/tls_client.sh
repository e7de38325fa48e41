#!/usr/bin/env bash
# End to end over TLS with the real telnet-ssl client on a pseudo-terminal: the program makes
# its certificate, prints its fingerprint, serves the encrypted port like the plain one, and
# the client, trusting only that certificate file, logs in and reaches a shell.
set -euo pipefail

orvane="$1"
command -v telnet-ssl >/dev/null || { echo "telnet-ssl is missing: bash scripts/install-deps.sh" >&2; exit 1; }
. "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
fail() { echo "FAIL: $*" >&2; echo "--- stdout"; cat "$tmp/out" 2>/dev/null || true; echo "--- stderr"; cat "$tmp/err" 2>/dev/null || true; exit 1; }

port="$(free_port)"
tls_port="$(free_port)"
printf '[Settings]\nPortNr=%s\nReverseDNS=0\nTlsEnable=1\nTlsPortNr=%s\n' "$port" "$tls_port" \
  > "$tmp/config/Quorvex/Orvane.conf"
"$adduser" "$tmp/prog/orvane" operator secret || fail "could not prepare the user database"

"$tmp/prog/orvane" </dev/null >"$tmp/out" 2>"$tmp/err" &
pid=$!
pids+=("$pid")

certificate="$tmp/data/Quorvex/Orvane/tls-certificate.pem"
wait_for "$tmp/out" 'SHA-256 fingerprint' || true
shown="$(grep -o 'SHA-256 fingerprint [0-9A-F:]*' "$tmp/out" | head -1 | cut -d' ' -f3)" \
  || fail "no fingerprint printed at start"
[ -f "$certificate" ] || fail "no generated certificate in the data directory"
expected="$(openssl x509 -noout -fingerprint -sha256 -in "$certificate" | cut -d= -f2)"
[ "$shown" = "$expected" ] || fail "printed fingerprint $shown is not the certificate's $expected"
[ "$(stat -c %a "$tmp/data/Quorvex/Orvane/tls-key.pem")" = 600 ] || fail "the key file is not private"

python3 - "$tls_port" "$certificate" <<'PY' || fail "the telnet-ssl dialogue did not go as expected"
import os, pty, select, sys, time
port, certificate = sys.argv[1], sys.argv[2]
pid, fd = pty.fork()
if pid == 0:
    # Trusting exactly the certificate file is how a user pins the server; "secure" keeps
    # telnet-ssl from dropping to clear text on a loopback address.
    os.execvp("telnet-ssl", ["telnet-ssl", "-z", "ssl", "-z", "secure", "-z", "cacert=" + certificate,
                             "127.0.0.1", port])
seen = b""
def expect(text, timeout=10):
    global seen
    end = time.time() + timeout
    while text not in seen:
        left = end - time.time()
        if left <= 0:
            raise SystemExit("timed out waiting for %r, got %r" % (text, seen))
        ready, _, _ = select.select([fd], [], [], min(left, 0.5))
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                chunk = b""
            if not chunk:
                raise SystemExit("ended while waiting for %r, got %r" % (text, seen))
            seen += chunk
    seen = seen[seen.index(text) + len(text):]
try:
    expect(b"Username : ")
    os.write(fd, b"operator\r")
    expect(b"Password : ")
    os.write(fd, b"secret\r")
    expect(b"> ")
    os.write(fd, b"dos\r")
    os.write(fd, b"echo encrypted-$((6*7))\r")
    expect(b"encrypted-42")
    os.write(fd, b"exit\r")
    expect(b"> ")
    os.write(fd, b"exit\r")
    expect(b"Goodbye!")
finally:
    try:
        os.kill(pid, 9)
    except ProcessLookupError:
        pass
    os.waitpid(pid, 0)
PY

wait_for "$tmp/out" 'Connection terminated' 100 || true
grep -q '127\.0\.0\.1 *Logging in\.\.\.' "$tmp/out" || fail "no line for the accepted connection"
grep -Eq '127\.0\.0\.1 +TLS 1\.[23] TLS_' "$tmp/out" || fail "no line with the protocol and cipher"
grep -q 'Logged in as "operator"' "$tmp/out" || fail "no login line"
grep -q "SHA-256 fingerprint $expected" "$tmp/out" || fail "the fingerprint is not in the activity log"

stop "$pid" TERM || fail "SIGTERM did not end the server"
echo "telnet-ssl: ok"
