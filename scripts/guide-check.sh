#!/usr/bin/env bash
# Builds every C++ code block of docs/guide.md against the installed client stack, with c++ and, where
# it is there, clang++, by the flags of the installed pkg-config file. A block marked "cpp" is a whole
# source file (an empty main is added when it has none); a block marked "cpp fragment" becomes the body
# of a function that has `qor::TIdTCPClient& client` and every installed header included. Every block
# is linked, so a name the library does not define fails too. Exits non-zero when a block fails.
#
#   scripts/guide-check.sh [build folder]        default: build/guide; the package check's folder
#                                                (build/package) serves as it is
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${QOR_BUILD_PACKAGES[@]}"
require_tools "${QOR_BUILD_TOOLS[@]}"

build=${1:-build/guide}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "== guide: build and install the library into a scratch prefix"
prefix=$scratch/prefix
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_BUILD_TESTS=OFF -DQOR_BUILD_BENCHMARKS=OFF \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$build" -j2 >/dev/null
cmake --install "$build" --prefix "$prefix" >/dev/null
flags=$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs qorclnt)

# Each block to a file of its own: block-N.cpp, or block-N.fragment for a fragment.
awk -v dir="$scratch" '
  /^```cpp( fragment)?[[:space:]]*$/ { n++; file = dir "/block-" n ($2 == "fragment" ? ".fragment" : ".cpp"); next }
  /^```/ { file = ""; next }
  file != "" { print > file }
' docs/guide.md
(cd "$prefix/include" && find qorclnt -name '*.hpp' | sort | sed 's/.*/#include <&>/') >"$scratch/headers"

compilers=(c++)
command -v clang++ >/dev/null && compilers+=(clang++)
failed=0 count=0
for block in "$scratch"/block-*; do
  source=${block%.*}.source.cpp
  line=$(head -n1 "$block")
  if [[ $block == *.fragment ]]; then
    { cat "$scratch/headers"; echo "#include <cstdint>"; echo "#include <string>"; echo "#include <string_view>"
      echo "void Fragment(qor::TIdTCPClient& client) {"; cat "$block"; echo "}"; echo "int main() {}"; } >"$source"
  else
    cp "$block" "$source"
    grep -qE '\bint main\(' "$block" || echo "int main() {}" >>"$source"
  fi
  count=$((count + 1))
  for compiler in "${compilers[@]}"; do
    # shellcheck disable=SC2086 # the flags are words
    if ! "$compiler" -std=c++20 -Wall -Wextra -Wpedantic -Werror -o "${block%.*}.out" "$source" $flags \
      >"$scratch/errors" 2>&1; then
      echo "guide check: FAILED with $compiler: the block that begins: $line" >&2
      cat "$scratch/errors" >&2
      failed=1
    fi
  done
done
((count > 0)) || { echo "guide check: no C++ block found in docs/guide.md" >&2; exit 1; }
if ((failed)); then
  echo "timing: guide check FAILED after $SECONDS s"
  exit 1
fi
echo "guide check: $count blocks built with ${compilers[*]}"
echo "timing: guide check ok after $SECONDS s"
