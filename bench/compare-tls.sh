#!/usr/bin/env bash
# Measures Orvane's encrypted port beside socat's TLS shell relay in one run, alternating the
# two round by round, and writes the TLS part of bench/RESULTS.md.
#
#   bash bench/compare-tls.sh [build-dir=build] [rounds=3] [mebibytes=64] [idle-seconds=10]
#
# Both listen on a free port of 127.0.0.1 with the same certificate (the one Orvane makes)
# and give /bin/sh to whoever connects: run it where that is acceptable for a few minutes.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
rounds=${2:-3}
mebibytes=${3:-64}
idle=${4:-10}
results=$here/RESULTS.md
client=$build/tls_peers
for tool in "$client" "$build/orvane" "$build/orvane_adduser" "$build/compare_peers"; do
  [ -x "$tool" ] || { echo "missing $tool: build first (make build)" >&2; exit 1; }
done
command -v socat >/dev/null || { echo "missing socat: bash scripts/install-deps.sh bench" >&2; exit 1; }

. "$here/server-control.sh"
enter_private_workspace tls
cd "$work"
cp "$build/orvane" "$work/program/orvane"
"$build/orvane_adduser" "$work/program/orvane" bench bench >/dev/null
pair=$XDG_DATA_HOME/Quorvex/Orvane


start_server() {
  local name=$1 port=$2
  case $name in
    orvane)
      # Only the encrypted port: nothing else of it is measured here.
      printf '[Settings]\nPortNr=%s\nReverseDNS=0\nTlsEnable=1\nTlsPortNr=%s\nTlsOnly=1\n' \
        "$port" "$port" >"$XDG_CONFIG_HOME/Quorvex/Orvane.conf"
      "$work/program/orvane" </dev/null >/dev/null &
      ;;
    socat)
      socat "OPENSSL-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork,cert=$pair/tls-certificate.pem,key=$pair/tls-key.pem,verify=0" \
        EXEC:/bin/sh,pipes,stderr 2>/dev/null &
      ;;
  esac
  server_pid=$!
  wait_listening "$port"
}

figures=$work/figures.txt
: >"$figures"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date +%s)
for round in $(seq "$rounds"); do
  # Orvane first in every round: its first start also makes the certificate socat uses.
  for name in orvane socat; do
    port=$("$build/compare_peers" free-port)
    start_server "$name" "$port"
    sleep 0.3
    echo "round $round: $name on port $port" >&2
    kind=raw
    [ "$name" = orvane ] && kind=orvane
    "$client" measure "$name" "$kind" "$port" "$server_pid" "$mebibytes" "$idle" >>"$figures" ||
      echo "round $round: $name failed" >&2
    sleep 0.5
    stop_server
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
elapsed=$(($(date +%s) - started))

section=$work/section.md
{
  echo "<!-- encrypted port: written by bench/compare-tls.sh -->"
  echo "## Encrypted port beside a socat TLS shell relay"
  echo
  echo "Written by \`bench/compare-tls.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC') in ${elapsed} s."
  echo
  echo "- Machine: $(nproc) cores, kernel $(uname -r); load average $load_before before, $load_after after"
  echo "- Orvane: \`build/orvane\` in console mode with TlsEnable=1, TlsOnly=1 and its generated certificate (ECDSA P-256)"
  echo "- socat: \`socat OPENSSL-LISTEN:PORT,bind=127.0.0.1,reuseaddr,fork,cert=…,key=…,verify=0 EXEC:/bin/sh,pipes,stderr\` with the same certificate and key ($(socat -V 2>/dev/null | grep -m1 'socat version' | cut -d' ' -f2-3))"
  echo "- Client: \`tls_peers\`, OpenSSL's client without certificate checks; $rounds rounds alternating; ${mebibytes} MiB of 80-byte lines; idle ${idle} s"
  echo "- socat's first answer is the reply to a first \`echo\` (it has no prompt) and its connect time includes forking the relay and the shell; its idle figure leaves out the per-connection relay, which is a child"
  echo
  "$client" report "$figures"
  echo
  echo "Raw figures, one line per server and round:"
  echo
  echo '```'
  cat "$figures"
  echo '```'
} >"$section"

# The peers' comparison owns the top of the file; this part replaces its own earlier copy.
marker="<!-- encrypted port: written by bench/compare-tls.sh -->"
if [ -f "$results" ]; then
  awk -v m="$marker" '$0 == m { exit } { print }' "$results" >"$results.new"
else
  : >"$results.new"
fi
[ -s "$results.new" ] && [ -n "$(tail -c1 "$results.new")" ] && echo >>"$results.new"
cat "$section" >>"$results.new"
mv "$results.new" "$results"
cat "$section"
