#!/usr/bin/env bash
# Measures the options window's start-up beside the floor's empty window
# (`floor --hello`), side by side in one run of the shared measure.sh: launch
# to the first mapped window, launch to the first paint, and resident memory.
# A third command, `titled_window`, is an empty window with a title bar, the
# options window's size: what any decorated window costs the window manager
# beyond the floor's frameless one.
#
#   bench/measure-startup.sh [-b BUILD_DIR] [measure.sh options...]   (e.g. -n 7)
#
# BUILD_DIR (default build-bench) must hold a Release build made with
# -DTALLOW_BENCH=ON; the floor is built into $FLOOR_BUILD (default
# /tmp/floor-build). The program starts as a returning user's would: a store
# that holds a symbol and an alignment. All three start through env, none
# through a shell wrapper of its own, with tools/firstpaint.c preloaded: it
# stamps the phases of the start (startup-phases.py reads them from the output
# folder) and prints the first paint at the first flush of the window's
# backing store, after the painting; the floor prints its own, at the start of
# its paint event, and measure.sh takes that one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
shared=${SHARED_BENCH:-$root/../shared/bench}
floor=${FLOOR_BUILD:-/tmp/floor-build}
build=$root/build-bench
if [ "${1:-}" = -b ]; then build=$2; shift 2; fi
build=$(cd "$build" && pwd)

cmake -S "$shared/floor" -B "$floor" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$floor" -t floor >/dev/null
firstpaint=$build/firstpaint.so
cc -O2 -Wall -Wextra -shared -fPIC -o "$firstpaint" "$here/tools/firstpaint.c" -ldl

config=$(mktemp -d "${TMPDIR:-/tmp}/startup-config.XXXXXX")
trap 'rm -rf "$config"' EXIT
mkdir -p "$config/Halvex"
printf '[General]\nText1=MSFT\nCombo1=1\nCheck1=0\nCheck4=0\n' \
  >"$config/Halvex/Vantorel Briskane Tallow Marquee Edition.conf"

"$shared/measure.sh" -s 2 -w 2 -b floor-hello "$@" \
  -c floor-hello="env LD_PRELOAD=$firstpaint $floor/floor --hello" \
  -c titled="env LD_PRELOAD=$firstpaint $build/titled_window" \
  -c options="env XDG_CONFIG_HOME=$config LD_PRELOAD=$firstpaint $build/tallow-marquee"
