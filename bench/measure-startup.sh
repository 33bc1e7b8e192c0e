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
# that holds a symbol and an alignment. The floor prints its first paint
# itself; for the other two, tools/firstpaint.c (preloaded) prints it at the
# first flush of the window's backing store, which comes after the painting.
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
  -c floor-hello="$floor/floor --hello" \
  -c titled="env LD_PRELOAD=$firstpaint $build/titled_window" \
  -c options="$here/open-options.sh $build $config $firstpaint"
