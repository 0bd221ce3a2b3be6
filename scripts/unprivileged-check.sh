#!/usr/bin/env bash
# Runs the default preset's tests once more as an unprivileged user, as a developer runs them: the user
# qortest, made when missing. When that user can reach this tree, it runs the tests already built by
# ./test.sh, and only the build folder's Testing/ (CTest's logs) is handed to it for the run. When it
# cannot (the tree lies under a folder closed to others, such as /root), it copies the sources into its
# home and configures, builds and tests the default preset there. Must be started as root; exits
# non-zero when a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
user=${QOR_TEST_USER:-qortest}
build=build/default

if ((EUID != 0)); then
  echo "unprivileged check: run it as root; as $(id -un), ./test.sh already is that run" >&2
  exit 1
fi
if ! id -u "$user" >/dev/null 2>&1; then
  useradd --create-home --shell /bin/bash "$user"
  echo "unprivileged check: made the user $user"
fi

start=$SECONDS
finish() {
  local status=$?
  if ((status == 0)); then
    echo "timing: unprivileged tests ($user) ok after $((SECONDS - start)) s"
  else
    echo "timing: unprivileged tests ($user) FAILED after $((SECONDS - start)) s"
  fi
}
trap finish EXIT

# Absolute paths: CTest and the test programs use them.
if [[ -x $build/qorclnt ]] && runuser -u "$user" -- test -r "$PWD/CMakePresets.json" -a -x "$PWD/$build/qorclnt"; then
  owner=$(stat -c %u:%g "$build")
  mkdir -p "$build/Testing"
  chown -R "$user" "$build/Testing"
  status=0
  runuser -u "$user" -- ctest --preset default || status=$?
  chown -R "$owner" "$build/Testing"
  exit "$status"
else
  home=$(getent passwd "$user" | cut -d: -f6)
  echo "unprivileged check: $user cannot reach $PWD/$build; building a copy in $home/qorclnt"
  rm -rf "$home/qorclnt"
  mkdir "$home/qorclnt"
  tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$home/qorclnt"
  chown -R "$user:" "$home/qorclnt"
  # A login shell: the user's own environment, none of root's (a compiler cache of root's, say).
  runuser -l "$user" -c "cd qorclnt && cmake --workflow --preset default"
fi
