#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine and uses it as an unprivileged user
# made for the purpose: the version, a user added with the password on standard input, the
# console server on a high loopback-reachable port with one login, the database in that
# user's data directory with mode 0600. Then removes package and user and checks that nothing
# of the package is left in /usr. For CI: run as root; safe to run again after an interrupted
# run (it removes what an earlier run left). Usage: scripts/package-check.sh [BUILD-DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
# The client's dialogue with the installed server uses the test scripts' shared pieces.
export PYTHONPATH="$PWD/tests/scripts/lib${PYTHONPATH:+:$PYTHONPATH}"

build="${1:-build}"
account=orvane-check
tmp="$(mktemp -d)"
pid=""

[ "$(id -u)" -eq 0 ] || { echo "package-check: run as root" >&2; exit 1; }

remove_all() {
  if dpkg-query -W -f='${Status}' orvane 2>/dev/null | grep -q 'install ok installed'; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y orvane >/dev/null
  fi
  if id "$account" >/dev/null 2>&1; then userdel -r "$account" 2>/dev/null || true; fi
}
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid"; wait "$pid" 2>/dev/null || true; fi
  remove_all
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "package-check: FAIL: $*" >&2
  for f in "$tmp"/*.out "$tmp"/*.err; do [ -s "$f" ] && { echo "--- $f"; cat "$f"; }; done
  exit 1
}

remove_all
make --no-print-directory package BUILD="$build"
deb="$(realpath "$(ls "$build"/orvane_*.deb | head -n 1)")"
echo "package-check: $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb" >"$tmp/apt.out" 2>&1 || fail "apt-get install"

useradd --create-home --user-group --shell /bin/sh "$account"
home="$(getent passwd "$account" | cut -d: -f6)"
uid="$(id -u "$account")"
gid="$(id -g "$account")"
# The user's own clean environment: no display, no session bus, no root's variables. Each
# program started so keeps the process id it was started with (setpriv and env exec it).
as_user=(setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env --
  env HOME="$home" USER="$account" LOGNAME="$account" PATH=/usr/bin:/bin LANG=C.UTF-8
  DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent)

version="$("${as_user[@]}" orvane --version)" || fail "orvane --version failed"
[ "$version" = "Orvane 1.5" ] || fail "orvane --version said '$version'"

printf 'pack-secret\n' | "${as_user[@]}" orvane --add-user checker --dos >"$tmp/add.out" 2>"$tmp/add.err" \
  || fail "--add-user with the password on standard input"
"${as_user[@]}" orvane --list-users >"$tmp/list.out" 2>&1 || fail "--list-users"
grep -q '^checker  *login, dos$' "$tmp/list.out" || fail "the new user is not listed"

data="$home/.local/share/Quorvex/Orvane"
[ "$(stat -c %a "$data")" = 700 ] || fail "$data is not mode 0700"
[ "$(stat -c '%a %U' "$data/ORVANE.DAT")" = "600 $account" ] || fail "the database is not 0600 and the user's"
[ ! -e /usr/libexec/orvane/ORVANE.DAT ] || fail "a database was written beside the installed program"

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
"${as_user[@]}" sh -c 'mkdir -p "$HOME/.config/Quorvex" && printf "[Settings]\nPortNr=%s\nListenAddress=127.0.0.1\nReverseDNS=0\n" "$1" >"$HOME/.config/Quorvex/Orvane.conf"' sh "$port"

"${as_user[@]}" orvane --console </dev/null >"$tmp/server.out" 2>"$tmp/server.err" &
pid=$!

python3 - "$port" <<'PY' || fail "the login from a client did not go as expected"
import sys
from dialogue import connect, expect
s = connect(int(sys.argv[1]))
expect(s, b"Username : ")
s.sendall(b"CHECKER\r\n")
expect(s, b"Password : ")
s.sendall(b"pack-secret\r\n")
expect(s, b"> ")
s.sendall(b"exit\r\n")
expect(s, b"Goodbye!")
s.close()
PY
grep -q 'Logged in as "CHECKER"' "$tmp/server.out" || fail "no login line on the console"

# While the server runs, a change from the command line is refused.
set +e
printf 'other\n' | "${as_user[@]}" orvane --add-user other >"$tmp/refused.out" 2>"$tmp/refused.err"
refused=$?
set -e
[ "$refused" -eq 1 ] || fail "--add-user while the server runs exited with $refused"
grep -q '^Orvane is running' "$tmp/refused.err" || fail "no refusal while the server runs"

kill -TERM "$pid"
status=""
for _ in $(seq 100); do
  if ! kill -0 "$pid" 2>/dev/null; then
    set +e; wait "$pid"; status=$?; set -e
    break
  fi
  sleep 0.1
done
[ -n "$status" ] || fail "SIGTERM did not end the console server"
[ "$status" -eq 0 ] || fail "the console server ended with status $status"
pid=""

DEBIAN_FRONTEND=noninteractive apt-get purge -y orvane >"$tmp/purge.out" 2>&1 || fail "apt-get purge"
left="$(find /usr -xdev -iname '*orvane*' 2>/dev/null || true)"
[ -z "$left" ] || fail "left in /usr after the purge: $left"
userdel -r "$account" 2>/dev/null || true
echo "package-check: ok"
