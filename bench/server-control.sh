# Sourced by the benchmark scripts: a private workspace for the run, and the one server a
# script has running at a time, waited for until it listens, ended gently (SIGTERM, then
# SIGKILL after 5 s) and reaped.

# Nothing of the operator's: HOME, the XDG directories and a program folder of the run's
# own below /tmp (`work`), no display, session bus or system bus in reach. Removed at exit,
# after the server that may still run.
enter_private_workspace() {
  work=$(mktemp -d "/tmp/orvane-$1.XXXXXX")
  export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg \
    XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime \
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent
  unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM
  mkdir -p "$HOME" "$XDG_CONFIG_HOME/Quorvex" "$XDG_CONFIG_DIRS" "$XDG_DATA_HOME" \
    "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" "$work/program"
  chmod 700 "$XDG_RUNTIME_DIR"
  trap 'stop_server; rm -rf "$work"' EXIT
}

# Waits (bounded: 100 tries, DELAY seconds apart, 0.05 unless given) until something
# accepts connections on PORT of 127.0.0.1.
wait_listening() {
  local _
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep "${2:-0.05}"
  done
  echo "nothing listens on $1" >&2
  return 1
}

server_pid=""
stop_server() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  server_pid=""
}
