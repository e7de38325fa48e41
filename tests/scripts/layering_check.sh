#!/usr/bin/env bash
# The floors of src/ point one way: a file may include headers from its own floor and the
# floors below it, never from one above. Fails naming every file and include that breaks it.
#
#   0  platform                (platform/widgets is widget code: it stands on floor 4)
#   1  config, users
#   2  telnet
#   3  app
#   4  ui, automation, platform/widgets
#   5  main.cpp                (wires every floor together)
#
# Includes that name no file under src/ (Qt, the system, generated headers such as
# Version.h, moc output) belong to no floor and are always allowed.
# CTest passes the program's path as $1; this check does not need it.
set -euo pipefail

src="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../src" && pwd)"

# Sets REPLY to the floor of a path relative to src/, or to "" for none (no subshell: the
# check runs once per include).
floor_of() {
  case "$1" in
    main.cpp) REPLY=5 ;;
    platform/widgets/*) REPLY=4 ;;
    platform/*) REPLY=0 ;;
    config/* | users/*) REPLY=1 ;;
    telnet/*) REPLY=2 ;;
    app/*) REPLY=3 ;;
    ui/* | automation/*) REPLY=4 ;;
    *) REPLY="" ;;
  esac
}

failures=0
files=0
while IFS= read -r -d '' path; do
  file="${path#"$src"/}"
  floor_of "$file"
  own="$REPLY"
  if [[ -z "$own" ]]; then
    echo "layering: $file is in no known folder"
    failures=$((failures + 1))
    continue
  fi
  files=$((files + 1))
  while IFS= read -r included; do
    [[ -f "$src/$included" ]] || continue
    floor_of "$included"
    theirs="$REPLY"
    [[ -n "$theirs" ]] || continue
    if ((theirs > own)); then
      echo "layering: $file includes \"$included\" from a higher floor ($own < $theirs)"
      failures=$((failures + 1))
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$path")
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

if ((files == 0)); then
  echo "layering: no sources found under $src"
  exit 1
fi
if ((failures > 0)); then
  echo "layering: $failures upward include(s)"
  exit 1
fi
echo "layering: $files files, every include points down or sideways"
