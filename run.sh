#!/usr/bin/env bash
# Builds the console client and starts it with the given arguments (build output only on failure).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
ensure_packages "${QOR_BUILD_PACKAGES[@]}"

if ! compgen -G 'frontend/*.cpp' >/dev/null; then
  echo "run.sh: the qorclnt console front end is not written yet; nothing to start" >&2
  exit 2
fi
if ! log=$( (cmake --preset default && cmake --build --preset default --target qorclnt) 2>&1); then
  printf '%s\n' "$log" >&2
  exit 1
fi
exec build/default/qorclnt "$@"
