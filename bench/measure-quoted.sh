#!/usr/bin/env bash
# Measures tallow-quoted in provider mode beside sample mode: the round trip of
# a quote answered from the cache on loopback (quote_bench, median of 200
# single requests), and the resident memory of each service once idle.
#
#   bench/measure-quoted.sh
#
# The provider is a stand-in on 127.0.0.1 with a made-up key; nothing leaves
# the machine. Builds into build-bench/ (Release, TALLOW_BENCH).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
work=$(mktemp -d)
trap 'kill $(cat "$work"/*.pid) 2>/dev/null || true; rm -rf "$work"' EXIT

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTALLOW_TESTS=OFF -DTALLOW_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" -t tallow-quoted quote_bench >/dev/null

# A provider that answers every quote request the way finnhub does.
python3 - "$work/provider.port" <<'EOF' &
import http.server, sys
class Quote(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b'{"c":189.5,"d":-1.25,"dp":-0.6553,"h":191,"l":188,"o":190,"pc":190.75,"t":1765209600}'
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Quote)
open(sys.argv[1], "w").write(str(server.server_address[1]))
server.serve_forever()
EOF
echo $! >"$work/stand-in.pid"

start() { # name, then tallow-quoted's arguments; prints the port
  local name=$1 port=""
  shift
  "$build/tallow-quoted" --listen 127.0.0.1:0 "$@" >/dev/null 2>"$work/$name.log" &
  echo $! >"$work/$name.pid"
  for _ in $(seq 1 100); do
    port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]*\).*/\1/p' "$work/$name.log")
    [ -n "$port" ] && break
    sleep 0.1
  done
  echo "$port"
}

for _ in $(seq 1 50); do [ -s "$work/provider.port" ] && break; sleep 0.1; done
sample=$(start sample)
provider=$(TALLOW_QUOTED_API_KEY=made-up-bench-key start provider --source finnhub \
  --source-url "http://127.0.0.1:$(cat "$work/provider.port")")

for mode in sample provider; do
  port=${!mode}
  url="http://127.0.0.1:$port/delayedstockquote/delayedstockquote.asmx/GetQuote?StockSymbol=MSFT&LicenseKey=tlwmqe"
  curl -s -o /dev/null "$url" # fills the cache in provider mode
  median=$(QUOTE_BENCH_URL=$url "$build/quote_bench" --benchmark_filter=fetchFromService \
    --benchmark_format=csv 2>/dev/null | sed -n 's/^"fetchFromService[^"]*_median",[^,]*,\([^,]*\),.*/\1/p')
  echo "$mode: one quote on loopback, median ${median} us"
done
sleep 2
for mode in sample provider; do
  echo "$mode: idle resident memory $(awk '/VmRSS/ {print $2, $3}' "/proc/$(cat "$work/$mode.pid")/status")"
done
