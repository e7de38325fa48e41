#!/usr/bin/env bash
# Measures Orvane beside busybox telnetd, inetutils telnetd and a raw socat shell relay in
# one run, alternating the servers round by round, and writes bench/RESULTS.md. Orvane runs
# twice: as designed (pipes) and in terminal mode, which is measured beside busybox telnetd
# running the same login shell with the same login environment on its pseudo-terminal.
#
#   bash bench/compare-peers.sh [build-dir=build] [rounds=3] [mebibytes=64] [idle-seconds=10]
#
# Every server listens on a free port of 127.0.0.1 and gives /bin/sh to whoever connects:
# run it on a machine where that is acceptable for a few minutes.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
rounds=${2:-3}
mebibytes=${3:-64}
idle=${4:-10}
results=$here/RESULTS.md
client=$build/compare_peers
orvane_server=$build/orvane_bench_server
# Orvane is the real program in console mode (no display), with its user database prepared
# by orvane_adduser; ORVANE_SERVER=in-process measures orvane_bench_server instead.
orvane_mode=${ORVANE_SERVER:-program}
if [ "$orvane_mode" = program ] && [ ! -x "$build/orvane_adduser" ]; then orvane_mode=in-process; fi

for tool in "$client" "$orvane_server"; do
  [ -x "$tool" ] || { echo "missing $tool: build first (make build)" >&2; exit 1; }
done
for tool in busybox socat /usr/sbin/telnetd; do
  command -v "$tool" >/dev/null || {
    echo "missing $tool: bash scripts/install-deps.sh installs it" >&2
    exit 1
  }
done

. "$here/server-control.sh"
enter_private_workspace peers
cd "$work"

free_port() {
  "$client" free-port
}

# What terminal mode starts: the account's login shell with a login environment. busybox
# telnetd runs this as its login program, so that both servers carry the same shell.
login_shell=$work/login-shell
cat >"$login_shell" <<'SH'
#!/bin/bash
IFS=: read -r user _ _ _ _ home shell < <(getent passwd "$(id -u)")
shell=${shell:-/bin/sh}
path=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games
[ "$(id -u)" -eq 0 ] && path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
cd "$home" 2>/dev/null || cd /
exec env -i HOME="$home" USER="$user" LOGNAME="$user" SHELL="$shell" PATH="$path" \
  ${LANG:+LANG="$LANG"} TERM=vt100 bash -c 'exec -a "-${SHELL##*/}" "$SHELL"'
SH
chmod +x "$login_shell"

start_server() {
  local name=$1 port=$2
  case $name in
    orvane | orvane-term)
      # Terminal mode without EchoBack: the shell's terminal echoes, the server adds nothing.
      local terminal=""
      [ "$name" = orvane-term ] && terminal='TerminalMode=1\nEchoBack=0\n'
      printf '[Settings]\nPortNr=%s\nReverseDNS=0\n%b' "$port" "$terminal" \
        >"$XDG_CONFIG_HOME/Quorvex/Orvane.conf"
      if [ "$orvane_mode" = program ]; then
        # The activity entries it prints go nowhere; its log file is kept as configured.
        "$work/program/orvane" </dev/null >/dev/null &
      else
        "$orvane_server" "$work/program" >/dev/null &
      fi
      ;;
    # The peers complain on stderr about the abrupt ends the measurement makes on purpose.
    busybox)
      busybox telnetd -F -p "$port" -b 127.0.0.1 -l /bin/sh 2>/dev/null &
      ;;
    busybox-login)
      busybox telnetd -F -p "$port" -b 127.0.0.1 -l "$login_shell" 2>/dev/null &
      ;;
    inetutils)
      socat "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork" \
        EXEC:"/usr/sbin/telnetd -h -E /bin/sh",nofork 2>/dev/null &
      ;;
    socat)
      socat "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork" EXEC:/bin/sh,pipes,stderr 2>/dev/null &
      ;;
  esac
  server_pid=$!
  wait_listening "$port"
}

kind_of() {
  case $1 in orvane) echo orvane ;; orvane-term) echo orvane-terminal ;; socat) echo raw ;; *) echo telnet ;; esac
}

# The login shell may read slow start-up files of the account: fewer connects there.
connects_of() {
  case $1 in orvane-term | busybox-login) echo 5 ;; *) echo 100 ;; esac
}

if [ "$orvane_mode" = program ]; then
  # A copy beside its own database and log, so that nothing of build/ is touched.
  cp "$build/orvane" "$work/program/orvane"
  "$build/orvane_adduser" "$work/program/orvane" bench bench >/dev/null
  orvane_what="\`build/orvane\` in console mode (no display; a copy in a private program directory, its ORVANE.DAT written by \`orvane_adduser\`)"
else
  orvane_what="\`orvane_bench_server\` (the Telnet service and the \`dos\` bridge in a process of their own, real shells, ORVANE.DAT written by it)"
fi

figures=$work/figures.txt
: >"$figures"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date +%s)
for round in $(seq "$rounds"); do
  for name in orvane busybox inetutils socat orvane-term busybox-login terminal-alone; do
    if [ "$name" = terminal-alone ]; then
      echo "round $round: the pseudo-terminal alone" >&2
      "$client" terminal-alone "$mebibytes" >>"$figures" || echo "round $round: $name failed" >&2
      continue
    fi
    port=$(free_port)
    start_server "$name" "$port"
    # The connect test's own probe must not count: give the server a moment.
    sleep 0.3
    echo "round $round: $name on port $port" >&2
    if ! "$client" measure "$name" "$(kind_of "$name")" "$port" "$server_pid" "$mebibytes" \
      "$idle" "$(connects_of "$name")" >>"$figures"; then
      echo "round $round: $name failed" >&2
    fi
    sleep 0.5
    stop_server
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
elapsed=$(($(date +%s) - started))

{
  echo "# Orvane beside other Telnet servers"
  echo
  echo "Written by \`bench/compare-peers.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC') in ${elapsed} s."
  echo
  echo "- Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), kernel $(uname -r)"
  echo "- Load average (1, 5, 15 min): $load_before before, $load_after after"
  echo "- Orvane: $orvane_what; settings from \$XDG_CONFIG_HOME/Quorvex/Orvane.conf with PortNr"
  echo "  and ReverseDNS=0, everything else (EnableLog among them) at its default"
  echo "- busybox: \`busybox telnetd -F -p PORT -b 127.0.0.1 -l /bin/sh\` ($(busybox 2>&1 | head -1 | cut -d' ' -f1-2))"
  echo "- inetutils: \`socat TCP-LISTEN:PORT,bind=127.0.0.1,reuseaddr,fork EXEC:\"/usr/sbin/telnetd -h -E /bin/sh\",nofork\`"
  echo "- socat: \`socat TCP-LISTEN:PORT,bind=127.0.0.1,reuseaddr,fork EXEC:/bin/sh,pipes,stderr\` (no prompt and no echo: its first prompt is the answer to a first \`echo\`)"
  echo "- orvane-term: the same program with TerminalMode=1 and EchoBack=0: \`dos\` starts the account's login shell ($(getent passwd "$(id -u)" | cut -d: -f7)) on a pseudo-terminal, whose echo is the only one; lines in \`dos\` end with CR; 5 connects"
  echo "- busybox-login: \`busybox telnetd -F -p PORT -b 127.0.0.1 -l LOGIN-SHELL\`, where LOGIN-SHELL starts that same login shell with the same login environment; 5 connects"
  echo "- terminal-alone: no server; the same output command in /bin/sh on a pseudo-terminal whose master side \`compare_peers\` reads and throws away, what no server reading a terminal can beat on this machine"
  echo "- $rounds rounds, servers alternating within each round; ${mebibytes} MiB of 80-byte lines per single transfer (the median of 3 per run), 10 x $((mebibytes / 4)) MiB at once; idle ${idle} s"
  echo
  "$client" report "$figures" orvane/busybox orvane/inetutils orvane/socat \
    orvane-term/busybox-login orvane-term/busybox orvane-term/terminal-alone \
    busybox-login/terminal-alone
  echo
  echo "Server CPU and memory count the server's own processes (for the peers every"
  echo "per-connection telnetd or socat process too) and leave out the shells and what runs in"
  echo "them; \"with its shell\" adds the shells. PSS is from /proc/PID/smaps_rollup: the"
  echo "difference between one session and ten, divided by nine. Ratios are Orvane's figure"
  echo "divided by the peer's: below 1 is better for times, CPU and memory, above 1 for rates."
  echo
  echo "Method, reading and the fixes the figures led to: bench/compare-peers.md."
  echo
  echo "Raw figures, one line per server and round:"
  echo
  echo '```'
  cat "$figures"
  echo '```'
  # The encrypted port's part, written by compare-tls.sh, stays below.
  if [ -f "$results" ]; then
    awk '$0 == "<!-- encrypted port: written by bench/compare-tls.sh -->" { keep = 1; print "" } keep { print }' "$results"
  fi
} >"$results.new"
mv "$results.new" "$results"
cat "$results"
