#!/usr/bin/env bash
# Builds the program and starts it, with the bundled quote service when no
# service answers on the configured address yet.
set -euo pipefail
cd "$(dirname "$0")"

scripts/ensure-packages.sh run

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display found (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
  echo "Start it from a desktop session, or under Xvfb: xvfb-run -a ./run.sh" >&2
  exit 1
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTALLOW_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"

service_pid=""
if [ -x build/tallow-quoted ]; then
  host=$(grep -E '^QUOTE_SERVICE_HOST:' build/CMakeCache.txt | cut -d= -f2)
  if [ -f build/quote-service.ini ]; then
    ini_host=$(sed -n 's/^[[:space:]]*Host[[:space:]]*=[[:space:]]*//p' build/quote-service.ini | head -n1)
    host=${ini_host:-$host}
  fi
  address=${host%%/*}
  case "$address" in *:*) ;; *) address="$address:80" ;; esac
  if ! (exec 3<>"/dev/tcp/${address%:*}/${address##*:}") 2>/dev/null; then
    case "$address" in
      127.*|localhost:*)
        build/tallow-quoted --listen "$address" 2>>build/tallow-quoted.log &
        service_pid=$!
        echo "Started the bundled quote service on $address (log: build/tallow-quoted.log)"
        echo "tallow-quoted: sample mode: the prices served are simulated, not real quotes"
        ;;
    esac
  fi
fi

stop_service() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
}
trap stop_service EXIT

build/tallow-marquee
