#!/usr/bin/env bash
# Builds the Debian package and checks it without installing it on the system: the package is
# unpacked into a scratch folder, where
#   - it holds the programs, the man pages (free of roff warnings), the headers, the CMake package,
#     the pkg-config file, the guide, the examples, the licence and a copyright file with its text,
#     and depends on nothing beyond the C and C++ runtime libraries, OpenSSL's libssl3 and libedit;
#   - the unpacked qorclnt, given -? and an ENTER, writes its banner and the option help and exits 0;
#   - examples/consumer, a program of another CMake project, finds the unpacked package through
#     CMAKE_PREFIX_PATH, builds against qorclnt::client and reads a reply line from the unpacked demo
#     server, which listens on a free port of 127.0.0.1;
#   - the same program, built by plain c++ with the flags of the unpacked pkg-config file, does too.
# Exits non-zero on any failure.
#
#   scripts/package-check.sh [build folder]        default: build/package
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${QOR_BUILD_PACKAGES[@]}" dpkg-dev groff-base
require_tools "${QOR_BUILD_TOOLS[@]}" cpack:cmake dpkg-deb:dpkg groff:groff-base

build=${1:-build/package}
scratch=$(mktemp -d)
demo_pid=""
finish() {
  local status=$?
  if [[ -n $demo_pid ]]; then
    kill "$demo_pid" 2>/dev/null || true
    wait "$demo_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
  ((status == 0)) || echo "timing: package check FAILED after $SECONDS s"
}
trap finish EXIT
fail() {
  echo "package check: $*" >&2
  exit 1
}

echo "== package: build in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_BUILD_TESTS=OFF -DQOR_BUILD_BENCHMARKS=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  >/dev/null
cmake --build "$build" -j2
rm -f "$build"/*.deb
cpack --config "$build/CPackConfig.cmake" -B "$build"
debs=("$build"/qorclnt_*.deb)
[[ -f ${debs[0]} ]] || fail "cpack made no .deb in $build"
deb=${debs[0]}

echo "== package: contents of $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends
depends=$(dpkg-deb --field "$deb" Depends)
extra=$(tr ',' '\n' <<<"$depends" | sed -E 's/^ *([^ (]+).*/\1/' | grep -vxE 'libc6|libgcc-s1|libstdc\+\+6|libssl3|libedit2' || true)
[[ -z $extra ]] || fail "depends on more than the C and C++ runtime, libssl3 and libedit: $extra"
root=$scratch/root
dpkg -x "$deb" "$root"
for file in usr/bin/qorclnt usr/bin/qordemod usr/share/man/man1/qorclnt.1 usr/share/man/man1/qordemod.1 \
  usr/share/doc/qorclnt/LICENSE usr/share/doc/qorclnt/copyright usr/lib/libqorclient.a \
  usr/include/qorclnt/client/IdTCPClient.hpp usr/include/qorclnt/runtime/Exception.hpp \
  usr/lib/cmake/qorclnt/qorclntConfig.cmake usr/lib/cmake/qorclnt/qorclntConfigVersion.cmake \
  usr/lib/pkgconfig/qorclnt.pc usr/share/doc/qorclnt/guide.md usr/share/doc/qorclnt/examples/CMakeLists.txt \
  usr/share/doc/qorclnt/examples/replies.cpp; do
  [[ -f $root/$file ]] || fail "the package lacks /$file"
done
for page in qorclnt qordemod; do
  warnings=$(groff -man -ww -z "$root/usr/share/man/man1/$page.1" 2>&1)
  [[ -z $warnings ]] || fail "the man page of $page has roff warnings: $warnings"
done
grep -qxF "Copyright: 2026 the qorclnt developers" "$root/usr/share/doc/qorclnt/copyright" ||
  fail "the copyright file does not name the copyright holders"
cmp -s <(sed -n '/^License: Expat$/,$p' "$root/usr/share/doc/qorclnt/copyright" | tail -n +2 | sed 's/^ //; s/^\.$//') \
  LICENSE || fail "the copyright file's licence text differs from LICENSE"

echo "== package: qorclnt -?"
status=0
printf '\n' | timeout 10 "$root/usr/bin/qorclnt" -? >"$scratch/help.out" || status=$?
((status == 0)) || fail "qorclnt -? exited with status $status"
expected='RURovoduv 0.3b
(tarvelKIT)

< STARTING EXECUTION
< SHOWING HELP
SHOW HELP  : -HELP | -H | -?
SET HOST   : -SETHOST | -SHOST | -SH <host>
SET PORT   : -SETPORT | -SPORT | -SP <number>
SET TIMEOUT: -SETTIMEOUT | -STIMEOUT | -ST <number>
< HELP SHOWN

< EXECUTION STOPPED

(Press ENTER to Proceed.)'
if ! cmp -s <(printf '%s' "$expected") "$scratch/help.out"; then
  diff <(printf '%s\n' "$expected") <(cat "$scratch/help.out"; echo) >&2 || true
  fail "qorclnt -? wrote other text than its banner and help"
fi

echo "== package: a consumer built against the unpacked package"
cmake -S examples/consumer -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
found=$(sed -n 's/^qorclnt_DIR:PATH=//p' "$scratch/consumer/CMakeCache.txt")
[[ $found == "$root/usr/lib/cmake/qorclnt" ]] || fail "the consumer found the package in '$found', not in the scratch root"
cmake --build "$scratch/consumer"
flags=$(PKG_CONFIG_PATH=$root/usr/lib/pkgconfig pkg-config --cflags --libs qorclnt)
# shellcheck disable=SC2086 # the flags are words
c++ -Wall -Wextra -Wpedantic -Werror -o "$scratch/consumer-pc" examples/consumer/consumer.cpp $flags

coproc demo { exec "$root/usr/bin/qordemod" 0 2>&1; }
# shellcheck disable=SC2154 # demo_PID is set by coproc
demo_pid=$demo_PID
read -r -t 10 listening <&"${demo[0]}" || fail "qordemod did not start"
[[ $listening =~ ^qordemod:\ listening\ on\ 127\.0\.0\.1:([0-9]+)$ ]] || fail "qordemod said: $listening"
port=${BASH_REMATCH[1]}
reply=$(timeout 10 "$scratch/consumer/consumer" "$port") || fail "the consumer failed"
[[ $reply == "OK HELLO" ]] || fail "the consumer read '$reply' instead of 'OK HELLO'"
echo "consumer: $reply (from qordemod on 127.0.0.1:$port)"
reply=$(timeout 10 "$scratch/consumer-pc" "$port") || fail "the consumer built by pkg-config failed"
[[ $reply == "OK HELLO" ]] || fail "the consumer built by pkg-config read '$reply' instead of 'OK HELLO'"
echo "consumer built by pkg-config: $reply"

echo "package check: passed ($deb)"
echo "timing: package check ok after $SECONDS s"
