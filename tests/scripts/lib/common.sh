# What the end-to-end scripts share; each sources it after setting `orvane` to the program.
# It makes a temporary directory with the program's own copy ($tmp/prog/orvane), home and XDG
# folders, leaves no display, session bus or system bus in reach, and ends at exit every
# process listed in `pids` that is still running, then removes the directory.

adduser="$(dirname "$orvane")/orvane_adduser"
tmp="$(mktemp -d)"
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do
    if kill -0 "$p" 2>/dev/null; then
      kill -KILL "$p"
      wait "$p" 2>/dev/null || true
    fi
  done
  rm -rf "$tmp"
}
trap cleanup EXIT

mkdir -p "$tmp/prog" "$tmp/home" "$tmp/config/Quorvex" "$tmp/etc-xdg" "$tmp/data" "$tmp/cache" "$tmp/runtime"
chmod 700 "$tmp/runtime"
cp "$orvane" "$tmp/prog/orvane"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" XDG_CONFIG_DIRS="$tmp/etc-xdg" \
  XDG_DATA_HOME="$tmp/data" XDG_CACHE_HOME="$tmp/cache" XDG_RUNTIME_DIR="$tmp/runtime"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent

# The scripts' Python dialogues import their shared pieces (dialogue.py) from here.
export PYTHONPATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)${PYTHONPATH:+:$PYTHONPATH}"

# A free TCP port on 127.0.0.1.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# Waits (bounded: TRIES times 0.1 s, 150 unless given) until FILE holds TEXT.
wait_for() {
  local _
  for _ in $(seq "${3:-150}"); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

# Ends PID with SIGNAL and waits (bounded: TRIES times INTERVAL seconds, 100 times 0.1 s
# unless given) for it; sets `status` to its exit status, or to "" and fails if it goes on.
# An ended process is no longer in `pids`.
stop() {
  local tries="${3:-100}" interval="${4:-0.1}" _ p kept=()
  status=""
  kill "-$2" "$1"
  for _ in $(seq "$tries"); do
    if ! kill -0 "$1" 2>/dev/null; then
      set +e; wait "$1"; status=$?; set -e
      for p in "${pids[@]}"; do [ "$p" = "$1" ] || kept+=("$p"); done
      pids=("${kept[@]}")
      return 0
    fi
    sleep "$interval"
  done
  return 1
}
