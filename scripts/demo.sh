#!/usr/bin/env bash
# The main job: builds the client and the server, creates the demonstration database, serves it
# on 127.0.0.1:2047 and runs the client against it on your display. The server stops when the
# client exits.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display found (neither DISPLAY nor WAYLAND_DISPLAY is set): the client is a desktop" >&2
  echo "program and needs one. Run this from a graphical session, or under Xvfb:" >&2
  echo "  xvfb-run -a bash scripts/demo.sh" >&2
  exit 1
fi

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target tallyport-server tallyport-submit

if (exec 3<>/dev/tcp/127.0.0.1/2047) 2>/dev/null; then
  echo "Something is already listening on 127.0.0.1:2047; stop it first (the client always uses port 2047)." >&2
  exit 1
fi

state=$(mktemp -d "${TMPDIR:-/tmp}/tallyport-demo-XXXXXX")
server_pid=""
cleanup() {
  if [[ -n "$server_pid" ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$state"
}
trap cleanup EXIT

./build/server/tallyport-server demo --db "$state/demo.db"
./build/server/tallyport-server serve --db "$state/demo.db" --listen 127.0.0.1:2047 \
  --staff-listen 127.0.0.1:8047 --staff-web server/web/pages 2>"$state/server.log" &
server_pid=$!
started=""
for _ in $(seq 100); do
  kill -0 "$server_pid" 2>/dev/null || break
  if (exec 3<>/dev/tcp/127.0.0.1/2047) 2>/dev/null; then started=yes; break; fi
  sleep 0.1
done
if [[ -z "$started" ]]; then
  cat "$state/server.log" >&2
  echo "The demo server did not start." >&2
  exit 1
fi
echo "Demo server listening on 127.0.0.1:2047."
echo "Demo student: 123456, password: demo123"
staff_url=""
for _ in $(seq 50); do
  staff_url=$(grep -o 'staff API at [^ ]*' "$state/server.log" | cut -d' ' -f4 || true)
  [[ -n "$staff_url" ]] && break
  sleep 0.1
done
staff_url=${staff_url:-http://127.0.0.1:8047/api/}
echo "Marking page on ${staff_url%api/} (staff API under $staff_url, loopback only); demo marker: tjones, password: marking-demo-123, course 3101"

status=0
./build/tallyport-submit || status=$?
echo "Client closed; stopping the demo server."
exit "$status"
