#!/usr/bin/env bash
# Builds and runs every test with the given presets in turn (default: just "default"; others are asan,
# tsan, m32 and fuzz), installing what the build needs when it is missing. Prints a timing line per
# preset and exits non-zero if any preset failed to configure, build or pass its tests.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh

presets=("${@:-default}")
packages=("${QOR_BUILD_PACKAGES[@]}" "${QOR_TEST_BUILD_PACKAGES[@]}" "${QOR_TEST_PACKAGES[@]}")
tools=("${QOR_BUILD_TOOLS[@]}" "${QOR_TEST_TOOLS[@]}")
for preset in "${presets[@]}"; do
  [[ $preset == m32 ]] && ensure_architecture "$QOR_M32_ARCHITECTURE" && packages+=("${QOR_M32_PACKAGES[@]}")
  [[ $preset == fuzz ]] && packages+=("${QOR_FUZZ_PACKAGES[@]}") && tools+=("${QOR_FUZZ_TOOLS[@]}")
done
ensure_packages "${packages[@]}"
require_tools "${tools[@]}"

failed=()
for preset in "${presets[@]}"; do
  start=$SECONDS
  if cmake --workflow --preset "$preset"; then
    outcome=ok
  else
    outcome=FAILED
    failed+=("$preset")
  fi
  echo "timing: preset $preset $outcome after $((SECONDS - start)) s"
done
if ((${#failed[@]} > 0)); then
  echo "failed presets: ${failed[*]}"
  exit 1
fi
