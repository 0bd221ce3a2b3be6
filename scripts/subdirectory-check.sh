#!/usr/bin/env bash
# Checks the tree as a library added by another project's add_subdirectory (tests/subproject): it
# configures and builds without building any of the tree's tests, benchmarks or fuzz replays, without
# -Werror on any source, the outer project's warning stays a warning, and its program runs.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${QOR_BUILD_PACKAGES[@]}"
require_tools "${QOR_BUILD_TOOLS[@]}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "subdirectory check: $*" >&2
  exit 1
}

echo "== subdirectory: an outer project adds the tree"
cmake -S tests/subproject -B "$scratch" -DQOR_TREE="$PWD" >/dev/null
cmake --build "$scratch" -j2 >"$scratch/build.log" 2>&1 || {
  cat "$scratch/build.log" >&2
  fail "the outer project did not build"
}
grep -q "outer.cpp:.*warning: unused variable .unused." "$scratch/build.log" ||
  fail "outer.cpp built without its warning, so the check proves nothing"
if grep -rl --include=flags.make -e -Werror "$scratch"; then fail "sources are compiled with -Werror"; fi
targets=$(cmake --build "$scratch" --target help)
if grep -E 'test_|testsupport|Fuzz|bench' <<<"$targets"; then fail "the tree's tests are targets of the outer build"; fi
[[ $(ctest --test-dir "$scratch" -N | tail -n1) == "Total Tests: 0" ]] || fail "the outer build has tests"
[[ $("$scratch/outer") == "host: 127.0.0.1" ]] || fail "the outer program printed something else"
echo "subdirectory check: passed"
echo "timing: subdirectory check ok after $SECONDS s"
