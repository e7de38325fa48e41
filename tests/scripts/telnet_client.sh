#!/usr/bin/env bash
# End to end with the system's own Telnet client, typed at through a pseudo-terminal as a
# person would: in terminal mode it logs in on the first try, runs `dos`, a command, Ctrl-C
# on a long one, and leaves both the shell and the server again.
set -euo pipefail

orvane="$1"
skip() { echo "SKIP: $*"; exit 77; }
command -v telnet >/dev/null || skip "no telnet client (scripts/install-deps.sh installs it)"

. "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
fail() { echo "FAIL: $*" >&2; echo "--- activity"; cat "$tmp/out" 2>/dev/null || true; exit 1; }

port="$(free_port)"
printf '[Settings]\nPortNr=%s\nReverseDNS=0\nTerminalMode=1\n' "$port" > "$tmp/config/Quorvex/Orvane.conf"
"$adduser" "$tmp/prog/orvane" operator secret || fail "could not prepare the user database"

"$tmp/prog/orvane" </dev/null >"$tmp/out" 2>"$tmp/err" &
pid=$!
pids+=("$pid")

set +e
python3 - "$port" <<'PY'
import fcntl, os, pty, re, select, socket, struct, sys, termios, time

port = int(sys.argv[1])
deadline = time.time() + 15
while True:
    try:
        probe = socket.create_connection(("127.0.0.1", port), timeout=5)
        break
    except OSError:
        if time.time() > deadline: raise SystemExit("the server did not start listening")
        time.sleep(0.1)
# A server that opens with a Telnet command speaks the protocol; one that greets with
# text at once does not yet, and the client could not log in on the first try.
probe.settimeout(5)
first = probe.recv(1)
probe.close()
if first != b"\xff":
    print("SKIP: the server does not negotiate at connect yet")
    sys.exit(77)

child, terminal = pty.fork()
if child == 0:
    fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    os.environ["TERM"] = "xterm"
    os.execvp("telnet", ["telnet"])

screen = b""
def expect(text, timeout=20):
    global screen
    end = time.time() + timeout
    while text not in screen:
        if time.time() > end:
            raise SystemExit("timed out waiting for %r; the screen shows %r" % (text, screen[-600:]))
        ready, _, _ = select.select([terminal], [], [], 0.1)
        if ready:
            try:
                chunk = os.read(terminal, 4096)
            except OSError:
                raise SystemExit("the client ended while waiting for %r: %r" % (text, screen[-600:]))
            screen += chunk
    at = screen.index(text) + len(text)
    seen, screen = screen[:at], screen[at:]
    return seen

def expect_prompt(timeout=60):
    # The shell's prompt: the screen ends in "# " or "$ " and stays so for a moment.
    global screen
    end = time.time() + timeout
    seen = b""
    while time.time() < end:
        ready, _, _ = select.select([terminal], [], [], 0.3)
        if ready:
            screen += os.read(terminal, 4096)
        elif re.search(rb"[#$] $", screen):
            seen, screen = screen, b""
            return seen
    raise SystemExit("no shell prompt; the screen shows %r" % screen[-600:])

def type_keys(text):
    # One key at a time, as typed: in character mode every key travels on its own.
    for key in text:
        os.write(terminal, bytes([key]))
        time.sleep(0.01)

everything = b""
expect(b"telnet> ")
# The minus makes the client negotiate as it does with a server on the standard port.
type_keys(b"open 127.0.0.1 -%d\r" % port)
everything += expect(b"Username : ")
type_keys(b"operator\r")
everything += expect(b"Password : ")
type_keys(b"secret\r")
everything += expect(b"\r\n> ")
if b"Username : " in everything.split(b"Password : ", 1)[1]:
    raise SystemExit("the first login failed: %r" % everything)
if b"secret" in everything:
    raise SystemExit("the password showed in clear: %r" % everything)

type_keys(b"dos\r")
# The account's own login shell; its start-up files may take a while.
everything += expect_prompt()
type_keys(b"echo hi-$((6*7))\r")
seen = expect(b"hi-42\r\n")
everything += seen
if b"eecchhoo" in seen or seen.count(b"echo hi-") != 1:
    raise SystemExit("the command line was not echoed exactly once: %r" % seen)

expect_prompt()
type_keys(b"sleep 100\r")
time.sleep(1)
type_keys(b"\x03")
started = time.time()
type_keys(b"echo after-$((1+1))\r")
everything += expect(b"after-2\r\n", 30)
if time.time() - started > 60:
    raise SystemExit("Ctrl-C did not end the running command")

type_keys(b"exit\r")
everything += expect(b"Normal exit from command line.\r\n")
everything += expect(b"\r\n> ")
type_keys(b"exit\r")
everything += expect(b"Goodbye!")
os.waitpid(child, 0)
PY
status=$?
set -e
[ "$status" -eq 77 ] && exit 77
[ "$status" -eq 0 ] || fail "the Telnet client's session did not go as expected"

wait_for "$tmp/out" 'Connection terminated' 100 || true
[ "$(grep -c 'Logged in as "operator"' "$tmp/out")" -eq 1 ] || fail "not exactly one login"
grep -q 'Login as' "$tmp/out" && fail "a login failed"
echo "telnet client: ok"
