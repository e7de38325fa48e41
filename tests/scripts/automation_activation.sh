#!/bin/bash
# End to end on a private session bus: a client's request makes the bus start Orvane with
# -Automation through the service file, and the run hands out the Orvane.Application object.
# Usage: bash automation_activation.sh <path-to-orvane>
# Skips (exit 0) while the program does not yet register its class factory.
set -u

prog=${1:-}
skip() { echo "skipped: $*"; exit 0; }
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -n "$prog" ] && [ -x "$prog" ] || skip "no program at '$prog'"
for tool in dbus-run-session dbus-daemon gdbus; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

if [ -z "${ORVANE_ACTIVATION_INNER:-}" ]; then
    root=$(mktemp -d "${TMPDIR:-/tmp}/orvane-activation-XXXXXX") || fail "no temporary directory"
    trap 'rm -rf "$root"' EXIT
    export HOME=$root/home XDG_CONFIG_HOME=$root/config XDG_CONFIG_DIRS=$root/etc-xdg
    export XDG_DATA_HOME=$root/data XDG_CACHE_HOME=$root/cache XDG_RUNTIME_DIR=$root/runtime
    mkdir -p "$HOME" "$XDG_CONFIG_HOME/Quorvex" "$XDG_CONFIG_DIRS" "$XDG_CACHE_HOME" \
        "$XDG_DATA_HOME/dbus-1/services" "$XDG_RUNTIME_DIR" "$root/prog"
    chmod 700 "$XDG_RUNTIME_DIR"
    export QT_QPA_PLATFORM=offscreen
    # Never the machine's system bus (power requests go there).
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent

    # A copy of the program, so that its data and log files land in the temporary directory.
    cp "$prog" "$root/prog/orvane" || fail "cannot copy the program"
    # One user, so that start-up does not stop at the first-run account dialog.
    "$(dirname "$prog")/orvane_adduser" "$root/prog/orvane" operator secret >/dev/null ||
        fail "cannot prepare the user database"

    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' 2>/dev/null)
    [ -n "$port" ] || port=$((40000 + RANDOM % 20000))
    printf '[Settings]\nPortNr=%s\n' "$port" >"$XDG_CONFIG_HOME/Quorvex/Orvane.conf"

    cat >"$root/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$root</listen>
  <servicedir>$XDG_DATA_HOME/dbus-1/services</servicedir>
  <auth>EXTERNAL</auth>
  <limit name="service_start_timeout">5000</limit>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    ORVANE_ACTIVATION_INNER=1 ORVANE_ROOT=$root \
        timeout 120 dbus-run-session --config-file="$root/bus.conf" -- bash "$0" "$root/prog/orvane"
    exit $?
fi

# From here on: inside the private bus.
root=$ORVANE_ROOT
pids=()
stop_all() {
    local pid i
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || continue
        for i in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null
    done
}
trap stop_all EXIT

bus() { gdbus call --session --timeout 10 --dest org.freedesktop.DBus \
    --object-path /org/freedesktop/DBus --method "org.freedesktop.DBus.$1" "${@:2}"; }
has_owner() { bus NameHasOwner Orvane.Application 2>/dev/null | grep -q true; }

service=$XDG_DATA_HOME/dbus-1/services/Orvane.Application.service

# A normal start writes the service file; the operator's run itself serves nobody.
"$prog" >"$root/normal.log" 2>&1 &
normal=$!
pids+=("$normal")
for _ in $(seq 50); do
    [ -s "$service" ] && break
    kill -0 "$normal" 2>/dev/null || break
    sleep 0.1
done
[ -s "$service" ] || skip "a normal start wrote no service file (the program ended or took over 5 s)"
grep -qx "Exec=$prog -Automation" "$service" || fail "unexpected Exec line: $(grep Exec= "$service")"
grep -qx "Name=Orvane.Application" "$service" || fail "service file names no Orvane.Application"
if has_owner; then fail "a run started by the operator claimed Orvane.Application"; fi
kill -TERM "$normal" 2>/dev/null

# A client's request makes the bus start a run with -Automation.
if ! bus StartServiceByName Orvane.Application 0 >"$root/start.out" 2>&1; then
    skip "orvane -Automation did not register the class factory within 5 s ($(head -c 200 "$root/start.out"))"
fi
owner=$(bus GetNameOwner Orvane.Application | sed -n "s/^('\(.*\)',)$/\1/p")
[ -n "$owner" ] || fail "no owner of Orvane.Application after activation"
pid=$(bus GetConnectionUnixProcessID "$owner" | sed -n 's/^(uint32 \([0-9]*\),)$/\1/p')
[ -n "$pid" ] || fail "no process for $owner"
pids+=("$pid")
tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q -- "-Automation" || fail "the bus started the run without -Automation"

# The factory hands out the object; introspection shows its (empty) interface.
reply=$(gdbus call --session --timeout 10 --dest Orvane.Application --object-path / \
    --method Orvane.ClassFactory.CreateInstance) || fail "CreateInstance failed"
[ "$reply" = "(objectpath '/Orvane/Application',)" ] || fail "CreateInstance returned $reply"

# gdbus leaves the bus after each call, which ends its hold: the object goes away, and the run
# has given up the name so that the next request starts a new run.
for _ in $(seq 50); do
    gdbus introspect --session --dest "$owner" --object-path /Orvane/Application 2>/dev/null |
        grep -q "interface Orvane.Application" || break
    sleep 0.1
done
if gdbus introspect --session --dest "$owner" --object-path /Orvane/Application 2>/dev/null |
    grep -q "interface Orvane.Application"; then
    fail "the object outlived the client that held it"
fi
for _ in $(seq 50); do has_owner || break; sleep 0.1; done
if has_owner; then fail "the run kept Orvane.Application after serving its client"; fi

# A Release from anyone but the creator changes nothing and is refused.
if gdbus call --session --timeout 10 --dest "$owner" --object-path /Orvane/Application \
    --method Orvane.Lifetime.Release >/dev/null 2>&1; then
    fail "Release by a stranger was accepted"
fi
# The next request is served by a new run, started by the bus for it.
reply=$(gdbus call --session --timeout 10 --dest Orvane.Application --object-path / \
    --method Orvane.ClassFactory.CreateInstance) || fail "a second CreateInstance failed"
[ "$reply" = "(objectpath '/Orvane/Application',)" ] || fail "the second CreateInstance returned $reply"
second=""
for _ in $(seq 50); do
    second=$(ps -eo pid=,args= | awk -v prog="$prog" '$2 == prog && $3 == "-Automation" {print $1}' |
        grep -vx "$pid" | head -n 1)
    [ -n "$second" ] && break
    sleep 0.1
done
[ -n "$second" ] || fail "no new run served the second request"
pids+=("$second")

echo "ok: activation, CreateInstance, the end of the hold and a new run for the next request"
exit 0
