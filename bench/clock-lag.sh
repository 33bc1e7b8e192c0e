#!/usr/bin/env bash
# How long after each true second does the display's clock change on the
# screen? Opens the display half-way through a second (where a clock that
# ticks from the moment it opened would lag most) under its own Xvfb with
# openbox, then watches the screen with the shared clocklag tool.
#
#   bench/clock-lag.sh [-s SECONDS] [-b BUILD_DIR] [-o LOG]
#
# BUILD_DIR (default: build) holds tallow-marquee and tallow-quoted. Prints
# clocklag's summary line:
#   updates N  seconds N  missed N  doubled N  lag_ms median M p95 P max X
# and keeps every update's phase in LOG when one is given. Needs Xvfb, openbox,
# xdotool, cc and the libX11, libXdamage and libXfixes headers.
set -euo pipefail

seconds=60
build=build
log=
while getopts 's:b:o:' option; do
  case $option in
    s) seconds=$OPTARG ;;
    b) build=$OPTARG ;;
    o) log=$OPTARG ;;
    *) sed -n '2,14p' "$0" >&2; exit 2 ;;
  esac
done
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$build" && pwd)
source=${CLOCKLAG_SOURCE:-$here/../../shared/bench/tools/clocklag.c}

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cc -O2 -o "$work/clocklag" "$source" -lX11 -lXdamage -lXfixes -lm

exec 3>"$work/displayfd"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 2>/dev/null &
pids+=($!)
exec 3>&-
for _ in $(seq 1 100); do [ -s "$work/displayfd" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$work/displayfd")
export DBUS_SESSION_BUS_ADDRESS=disabled: QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0
unset WAYLAND_DISPLAY
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)

"$build/tallow-quoted" --listen 127.0.0.1:0 2>"$work/quoted.log" &
pids+=($!)
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]*\).*/\1/p' "$work/quoted.log" | head -n1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "clock-lag: the quote service did not start" >&2; exit 1; }

# A private program folder and store: centred, keep-awake off.
mkdir -p "$work/app" "$work/config/Halvex"
cp "$build/tallow-marquee" "$build/HAND-M.CUR" "$work/app/"
printf '[QuoteService]\nHost=127.0.0.1:%s\n' "$port" >"$work/app/quote-service.ini"
printf '[General]\nText1=MSFT\nCombo1=1\nCheck1=0\nCheck4=0\n' \
  >"$work/config/Halvex/Vantorel Briskane Tallow Marquee Edition.conf"
XDG_CONFIG_HOME=$work/config "$work/app/tallow-marquee" >"$work/program.log" 2>&1 &
pids+=($!)

window=
for _ in $(seq 1 300); do
  window=$(xdotool search --onlyvisible --name '^Vantorel Briskane Tallow Marquee Edition$' \
    2>/dev/null | head -n1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "clock-lag: the options window did not appear" >&2; exit 1; }
xdotool mousemove --window "$window" 268 22
sleep 1
# Click on the display button half-way through a second.
now=$(date +%s.%N)
sleep "$(awk -v now="$now" 'BEGIN { wait = 1.5 - (now - int(now)); if (wait > 1) wait -= 1; printf "%.3f", wait }')"
xdotool click 1
for _ in $(seq 1 300); do
  xdotool search --onlyvisible --name '^Form1$' >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 3 # the first ticks and the window manager's settling are not measured

"$work/clocklag" --seconds "$seconds" >"$work/clocklag.log"
[ -z "$log" ] || cp "$work/clocklag.log" "$log"
tail -n1 "$work/clocklag.log"
