#!/usr/bin/env bash
# Builds the console client and the demo line server (preset "client": no tests, no benchmarks, so
# only the build packages are installed), starts the demo server on 127.0.0.1:15937 when nothing
# listens there yet, and runs the client in the foreground with the given arguments. The demo server
# is stopped when the client ends. The build shows CMake's progress lines; its whole output goes to
# build/client.log, whose end is shown when the build fails.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
ensure_packages "${QOR_BUILD_PACKAGES[@]}"
require_tools "${QOR_BUILD_TOOLS[@]}"

mkdir -p build
log=build/client.log
echo "building qorclnt and qordemod in build/client (the whole output goes to $log)"
set +e
{ cmake --preset client && cmake --build --preset client --target qorclnt qordemod; } 2>&1 | tee "$log" |
  grep --line-buffered -E '^\[ *[0-9]+%\] (Building|Linking)'
status=${PIPESTATUS[0]}
set -e
if ((status != 0)); then
  tail -n 40 "$log" >&2
  echo "the build failed; its whole output is in $log" >&2
  exit 1
fi

demo=""
if ! (exec 3<>/dev/tcp/127.0.0.1/15937) 2>/dev/null; then
  build/client/qordemod 15937 >/dev/null &
  demo=$!
  trap 'kill "$demo" 2>/dev/null; wait "$demo" 2>/dev/null || true' EXIT
  # Wait until it listens (at most about two seconds).
  for _ in $(seq 40); do
    (exec 3<>/dev/tcp/127.0.0.1/15937) 2>/dev/null && break
    sleep 0.05
  done
fi
build/client/qorclnt "$@"
