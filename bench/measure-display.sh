#!/usr/bin/env bash
# Measures the running display beside the minimal Qt "floor" programs, side by
# side in one run: start-up, resident memory, and CPU (program and X server)
# over a minute of steady ticking at 1920x1080.
#
#   bench/measure-display.sh [measure.sh options...]     (e.g. -n 3 -w 60)
#
# Builds the program (Release) into build-bench/ and the floor into
# $FLOOR_BUILD (default /tmp/floor-build), starts the bundled quote service
# once for all runs, and hands the rest to the shared measure.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
shared=${SHARED_BENCH:-$root/../shared/bench}
floor=${FLOOR_BUILD:-/tmp/floor-build}

cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DTALLOW_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" -j"$(nproc)" >/dev/null
cmake -S "$shared/floor" -B "$floor" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$floor" -t floor >/dev/null

"$root/build-bench/tallow-quoted" --listen 127.0.0.1:0 2>"${TMPDIR:-/tmp}/quoted-bench.log" &
service=$!
trap 'kill $service 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]*\).*/\1/p' "${TMPDIR:-/tmp}/quoted-bench.log" | head -n1)
  [ -n "$port" ] && break
  sleep 0.1
done

"$shared/measure.sh" -m 1000x700 -b floor-clock "$@" \
  -c floor-clock="$floor/floor" \
  -c floor-full="$floor/floor --full" \
  -c tallow="$here/open-display.sh $root/build-bench 127.0.0.1:$port"
