#!/usr/bin/env bash
# Runs the display for a long while under its own Xvfb and samples the
# program's resident memory once a minute, to show whether it grows.
#
#   bench/soak-display.sh [-m MINUTES] [-b BUILD_DIR] [-o OUTPUT_FILE]
#
# MINUTES defaults to 60, BUILD_DIR to build-bench (a Release build holding
# tallow-marquee and tallow-quoted). Each line of the output is
#   minute  rss_kib  pss_kib
# the first taken when the display has been open for a minute, and a closing
# line gives the growth from that first sample to the last. The program is
# opened by open-display.sh against the bundled service on a free port of
# 127.0.0.1, so the refresh every 600 ticks fetches for real.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
minutes=60 build=$here/../build-bench out=/dev/stdout
while getopts m:b:o: opt; do
  case $opt in
    m) minutes=$OPTARG ;;
    b) build=$OPTARG ;;
    o) out=$OPTARG ;;
    *) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 2 ;;
  esac
done
build=$(cd "$build" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/soak.XXXXXX")
xvfb= service= app=
cleanup() {
  for pid in $app $service $xvfb; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 1 100); do grep -q '[0-9]' "$work/display" 2>/dev/null && break; sleep 0.1; done
export DISPLAY=:$(tr -dc 0-9 <"$work/display")

"$build/tallow-quoted" --listen 127.0.0.1:0 2>"$work/quoted.log" &
service=$!
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]*\).*/\1/p' "$work/quoted.log" | head -n1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "soak-display.sh: tallow-quoted did not start" >&2; exit 1; }

mkdir -p "$work/run"
RUN_TMP=$work/run "$here/open-display.sh" "$build" "127.0.0.1:$port" >"$work/app.log" 2>&1 &
app=$!   # open-display.sh execs the program, so this is the program itself

sample() {
  local rss pss
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$app/status")
  pss=$(awk '/^Pss:/ { print $2 }' "/proc/$app/smaps_rollup")
  printf '%d\t%s\t%s\n' "$1" "$rss" "$pss"
}

{
  printf 'minute\trss_kib\tpss_kib\n'
  first= last=
  for m in $(seq 1 "$minutes"); do
    sleep 60
    kill -0 "$app" 2>/dev/null || { echo "soak-display.sh: the program ended" >&2; exit 1; }
    line=$(sample "$m")
    echo "$line"
    last=$(cut -f2 <<<"$line")
    [ -n "$first" ] || first=$last
  done
  awk -v a="$first" -v b="$last" -v m="$minutes" \
    'BEGIN { printf "growth over minutes 1..%d: %+d KiB RSS (%.2f MiB)\n", m, b - a, (b - a) / 1024 }'
  printf 'error lines in the program output: %s\n' "$(grep -c Error "$work/app.log" || true)"
} >"$out"
