#!/usr/bin/env bash
# How well the door holds: password guesses per second from one address (10 parallel
# connections), and the time a legitimate login takes while 10 silent connections are held,
# for two builds of the program (before and after the login timeout, failure delay,
# penalties and per-address cap). Writes bench/door-guard.md.
#
#   bash bench/door-guard.sh BEFORE-ORVANE AFTER-ORVANE [seconds=60] [login-timeout=20]
#
# Both programs run in console mode on a free port of 127.0.0.1; the clients use 127.0.0.1
# to 127.0.0.12 as source addresses. `login-timeout` is the LoginTimeout given to the
# second program, shortened from its default of 120 s so that the run stays bounded.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
before=$(realpath "$1")
after=$(realpath "$2")
seconds=${3:-60}
timeout=${4:-20}
results=$here/door-guard.md
adduser=$(dirname "$after")/orvane_adduser
[ -x "$adduser" ] || { echo "missing $adduser: build it first" >&2; exit 1; }

. "$here/server-control.sh"
enter_private_workspace door

# start_server NAME PROGRAM EXTRA-SETTINGS: a private copy with the user "operator".
start_server() {
  local name=$1 program=$2 extra=$3
  mkdir -p "$work/$name"
  cp "$program" "$work/$name/orvane"
  "$adduser" "$work/$name/orvane" operator secret >/dev/null
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  printf '[Settings]\nPortNr=%s\nReverseDNS=0\n%b' "$port" "$extra" \
    >"$XDG_CONFIG_HOME/Quorvex/Orvane.conf"
  "$work/$name/orvane" </dev/null >/dev/null 2>&1 &
  server_pid=$!
  wait_listening "$port" 0.1
}

measure() {
  python3 - "$port" "$seconds" "$1" <<'PY'
import socket, sys, threading, time
port, seconds, bound = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])

def connect(source):
    s = socket.socket()
    s.bind((source, 0))
    s.settimeout(5)
    s.connect(("127.0.0.1", port))
    return s

def read_until(s, buf, texts, end):
    """Reads until one of texts is in buf; returns (buf, found) or (buf, None) when closed."""
    while True:
        for t in texts:
            i = buf.find(t)
            if i >= 0:
                return buf[i + len(t):], t
        if time.time() > end:
            return buf, None
        s.settimeout(max(0.05, end - time.time()))
        try:
            chunk = s.recv(4096)
        except OSError:
            return buf, None
        if not chunk:
            return buf, None
        buf += chunk

# Guesses: 10 connections from 127.0.0.2, each guessing as fast as the server answers.
guesses = [0] * 10
refused = [0] * 10
def guesser(n, deadline):
    k = 0
    while time.time() < deadline:
        try:
            s = connect("127.0.0.2")
        except OSError:
            refused[n] += 1
            time.sleep(0.05)
            continue
        buf, got = read_until(s, b"", [b"Username : "], deadline)
        if got is None:
            refused[n] += 1
            s.close()
            time.sleep(0.05)
            continue
        while time.time() < deadline:
            k += 1
            try:
                s.sendall(b"operator\r\n")
                buf, got = read_until(s, buf, [b"Password : "], deadline)
                if got is None: break
                s.sendall(b"guess%d\r\n" % k)
                buf, got = read_until(s, buf, [b"Login Failed."], deadline)
                if got is None: break
                guesses[n] += 1
                buf, got = read_until(s, buf, [b"Username : "], deadline)
                if got is None: break
            except OSError:
                break
        s.close()

start = time.time()
threads = [threading.Thread(target=guesser, args=(n, start + seconds)) for n in range(10)]
for t in threads: t.start()
for t in threads: t.join()
elapsed = time.time() - start
print("guesses %d %.1f %.2f %d" % (sum(guesses), elapsed, sum(guesses) / elapsed, sum(refused)))

# A legitimate login from 127.0.0.1 while 10 silent connections are held, from `sources`.
def legit(sources):
    silent = []
    for src in sources:
        try:
            silent.append(connect(src))
        except OSError:
            pass
    time.sleep(0.5)
    t0 = time.time()
    deadline = t0 + bound
    result = None
    while time.time() < deadline and result is None:
        try:
            s = connect("127.0.0.1")
        except OSError:
            time.sleep(0.2)
            continue
        buf, got = read_until(s, b"", [b"Username : "], min(deadline, time.time() + 2))
        if got is not None:
            s.sendall(b"operator\r\n")
            buf, got = read_until(s, buf, [b"Password : "], deadline)
            if got is not None:
                s.sendall(b"secret\r\n")
                buf, got = read_until(s, buf, [b"\r\n> "], deadline)
                if got is not None:
                    result = time.time() - t0
        s.close()
        if result is None: time.sleep(0.2)
    for s in silent: s.close()
    return result

one = legit(["127.0.0.2"] * 10)
print("legit-one-address %s" % ("%.3f" % one if one is not None else ">%.0f" % bound))
time.sleep(1)
many = legit(["127.0.0.%d" % i for i in range(3, 13)])
print("legit-ten-addresses %s" % ("%.3f" % many if many is not None else ">%.0f" % bound))
PY
}

bound=$((timeout + 20))
start_server before "$before" ""
before_out=$(measure "$bound")
stop_server
start_server after "$after" "LoginTimeout=$timeout\n"
after_out=$(measure "$bound")
stop_server

field() { echo "$1" | awk -v k="$2" -v n="$3" '$1 == k { print $n }'; }
{
  echo "# The door under pressure"
  echo
  echo "Written by \`bench/door-guard.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores," \
    "load average $(cut -d' ' -f1-3 /proc/loadavg)."
  echo
  echo "- before: \`$1\`; after: \`$2\` with LoginTimeout=$timeout (default 120; shortened so the run stays bounded)"
  echo "- guesses: 10 parallel connections from 127.0.0.2 for ${seconds} s, each sending a user"
  echo "  name and a wrong password as soon as the prompt comes, reconnecting when closed"
  echo "- legitimate login: from 127.0.0.1 (exempt from the per-address limits), retrying every"
  echo "  0.2 s, while 10 silent connections are held; given up after ${bound} s"
  echo
  echo "| figure | before | after |"
  echo "|---|---|---|"
  echo "| wrong passwords answered in ${seconds} s | $(field "$before_out" guesses 2) | $(field "$after_out" guesses 2) |"
  echo "| guesses per second from one address | $(field "$before_out" guesses 4) | $(field "$after_out" guesses 4) |"
  echo "| connections refused meanwhile | $(field "$before_out" guesses 5) | $(field "$after_out" guesses 5) |"
  echo "| login time (s), 10 silent connections from one address | $(field "$before_out" legit-one-address 2) | $(field "$after_out" legit-one-address 2) |"
  echo "| login time (s), 10 silent connections from 10 addresses | $(field "$before_out" legit-ten-addresses 2) | $(field "$after_out" legit-ten-addresses 2) |"
  echo
  echo "Reading: before, every guess is answered at once and nothing ends a connection that"
  echo "stays silent, so ten of them lock everyone out for as long as they stay. After, three"
  echo "logins at a time from one address, one second per refused password and a penalty of"
  echo "15 s, 30 s, 60 s ... after each lock leave a guesser a handful of tries a minute; silent"
  echo "connections from one address hold three slots at most, so a login gets in at once;"
  echo "from ten addresses they hold every slot until LoginTimeout ends them and, as those"
  echo "clients keep their sockets open, the 10 s linger after the server's last word closes them."
} >"$results"
cat "$results"
