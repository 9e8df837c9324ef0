#!/usr/bin/env bash
# `make demo-net`: the server process and two devices of its user, each a process with a window
# of its own and its own data folder; closing both windows stops the server. Everything is kept
# in $DATA (default build/demo-net), so a second run finds it all again.
set -euo pipefail
build=${BUILD_DIR:-build}
data=${DATA:-$build/demo-net}
port=${PORT:-47100}
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "demo-net opens two windows: it needs a display (xvfb-run works)." >&2
  exit 2
fi
mkdir -p "$data"
log="$data/server.log"
"$build/server/settingmodel-server" --port "$port" --data "$data/server" >"$log" 2>&1 &
server=$!
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT INT TERM
for _ in $(seq 100); do
  grep -q "listening on" "$log" && break
  kill -0 $server 2>/dev/null || { cat "$log" >&2; exit 1; }
  sleep 0.1
done
echo "Server: $(cat "$log")  (data in $data)"
url="ws://127.0.0.1:$port"
"$build/demo/settingmodel-demo" --server "$url" --device A --data "$data/A" &
a=$!
"$build/demo/settingmodel-demo" --server "$url" --device B --data "$data/B" &
b=$!
wait $a $b
