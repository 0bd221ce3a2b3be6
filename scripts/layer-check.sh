#!/usr/bin/env bash
# Checks the layer map of the tree (scripts/check-layers.py: every product source in one target, every
# include pointing down a layer), after the check's own tests. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages python3
require_tools python3:python3

if python3 scripts/check-layers-test.py && python3 scripts/check-layers.py; then
  echo "timing: layer check ok after $SECONDS s"
else
  echo "timing: layer check FAILED after $SECONDS s"
  exit 1
fi
