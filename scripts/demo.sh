#!/usr/bin/env bash
# The main job: builds the client and the server, creates the demonstration database, serves it
# on 127.0.0.1:2047 and runs the client against it on your display. The server stops when the
# client exits.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target tallyport-server tallyport-submit

state=$(mktemp -d "${TMPDIR:-/tmp}/tallyport-demo-XXXXXX")
server_pid=""
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$state"
}
trap cleanup EXIT

./build/server/tallyport-server demo --db "$state/demo.db"
./build/server/tallyport-server serve --db "$state/demo.db" --listen 127.0.0.1:2047 2>"$state/server.log" &
server_pid=$!
for _ in $(seq 50); do
  (exec 3<>/dev/tcp/127.0.0.1/2047) 2>/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$state/server.log"; echo "The demo server did not start." >&2; exit 1; }
  sleep 0.1
done
echo "Demo server listening on 127.0.0.1:2047 (log: $state/server.log)."
echo "Demo student: 123456, password: demo123"

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display found (neither DISPLAY nor WAYLAND_DISPLAY is set): the client needs a desktop." >&2
  echo "Run this command from a graphical session, or under Xvfb: xvfb-run -a $0" >&2
  exit 1
fi
./build/tallyport-submit
