#!/usr/bin/env bash
# Starts tallow-marquee with a private store and program folder, and opens the
# display the way a user does: a click on "Show Stock Quote Details At
# Fullscreen". For measuring scripts that time a command that shows a
# full-screen window. Needs DISPLAY, xdotool, and a quote service address.
#
#   open-display.sh BUILD_DIR HOST:PORT
set -euo pipefail

build=$(cd "$1" && pwd)
host=$2
work=${RUN_TMP:-$(mktemp -d)}
mkdir -p "$work/app" "$work/config/Halvex"
cp "$build/tallow-marquee" "$build/HAND-M.CUR" "$work/app/"
printf '[QuoteService]\nHost=%s\n' "$host" >"$work/app/quote-service.ini"
# Centred, keep-awake off: nothing but the display itself runs.
printf '[General]\nText1=MSFT\nCombo1=1\nCheck1=0\nCheck4=0\n' \
  >"$work/config/Halvex/Vantorel Briskane Tallow Marquee Edition.conf"

# The click comes from a background helper, so that the measured process tree
# is the program alone once the click is made.
(
  title='^Vantorel Briskane Tallow Marquee Edition$'
  for _ in $(seq 1 200); do
    window=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    sleep 0.05
  done
  # The display button's centre: 120 + 7800/2 by 120 + 405/2 twips, 15 to a pixel.
  xdotool mousemove --window "$window" 268 22 click 1
) &
XDG_CONFIG_HOME=$work/config exec "$work/app/tallow-marquee"
