#!/usr/bin/env bash
# Builds the console client and the demo line server, starts the demo server on 127.0.0.1:15937 when
# nothing listens there yet, and runs the client in the foreground with the given arguments. The demo
# server is stopped when the client ends. Build output is shown only on failure.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
ensure_packages "${QOR_BUILD_PACKAGES[@]}"
require_tools "${QOR_BUILD_TOOLS[@]}"

if ! log=$( (cmake --preset default && cmake --build --preset default -j2 --target qorclnt qordemod) 2>&1); then
  printf '%s\n' "$log" >&2
  exit 1
fi

demo=""
if ! (exec 3<>/dev/tcp/127.0.0.1/15937) 2>/dev/null; then
  build/default/qordemod 15937 >/dev/null &
  demo=$!
  trap 'kill "$demo" 2>/dev/null; wait "$demo" 2>/dev/null || true' EXIT
  # Wait until it listens (at most about two seconds).
  for _ in $(seq 40); do
    (exec 3<>/dev/tcp/127.0.0.1/15937) 2>/dev/null && break
    sleep 0.05
  done
fi
build/default/qorclnt "$@"
