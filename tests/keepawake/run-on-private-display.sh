#!/usr/bin/env bash
# Runs a command on a private X server (Xvfb, on a display number the server
# picks itself, so parallel runs never collide) inside a private D-Bus session
# bus. Exits 77, which CTest counts as skipped, when either is not installed.
set -uo pipefail

for tool in Xvfb dbus-run-session; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool is not installed; skipping"
    exit 77
  fi
done

dir=$(mktemp -d)
xvfb=
cleanup() {
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
  fi
  rm -rf "$dir"
}
trap cleanup EXIT

mkfifo "$dir/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
number=
read -r -t 60 number <"$dir/display"
if [ -z "$number" ]; then
  echo "Xvfb did not start:"
  cat "$dir/xvfb.log"
  exit 1
fi

DISPLAY=":$number" QT_QPA_PLATFORM=xcb dbus-run-session -- "$@"
