#!/usr/bin/env bash
# Runs the default preset's tests (already built by ./test.sh) once more as an unprivileged user, as a
# developer runs them: the user qortest, made when missing. Only the build folder's Testing/, where
# CTest keeps its logs, is handed to that user for the run. Must be started as root; exits non-zero
# when a test fails or the user cannot reach the tree.
set -euo pipefail
cd "$(dirname "$0")/.."
user=${QOR_TEST_USER:-qortest}
build=build/default

if ((EUID != 0)); then
  echo "unprivileged check: run it as root; as $(id -un), ./test.sh already is that run" >&2
  exit 1
fi
[[ -x $build/qorclnt ]] || { echo "unprivileged check: $build is not built; run ./test.sh first" >&2; exit 1; }
if ! id -u "$user" >/dev/null 2>&1; then
  useradd --create-home --shell /bin/bash "$user"
  echo "unprivileged check: made the user $user"
fi
if ! runuser -u "$user" -- test -r CMakePresets.json -a -x "$build/qorclnt"; then
  echo "unprivileged check: $user cannot read $PWD or $build (a folder above is closed to others?)" >&2
  exit 1
fi

owner=$(stat -c %u:%g "$build")
mkdir -p "$build/Testing"
chown -R "$user" "$build/Testing"
trap 'chown -R "$owner" "$build/Testing"' EXIT
start=$SECONDS
if runuser -u "$user" -- ctest --preset default; then
  echo "timing: unprivileged tests ($user) ok after $((SECONDS - start)) s"
else
  echo "timing: unprivileged tests ($user) FAILED after $((SECONDS - start)) s"
  exit 1
fi
