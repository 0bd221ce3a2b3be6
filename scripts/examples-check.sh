#!/usr/bin/env bash
# Builds the example programs of examples/ against the installed client stack alone, runs them against
# real peers on 127.0.0.1 and compares what they print, byte for byte:
#   - the tree is built without its tests and installed into a scratch prefix;
#   - examples/ is configured as a project of its own that finds the package there, and every example
#     is also built by plain c++ with the flags of pkg-config --cflags --libs qorclnt; both builds run;
#   - the peers: qordemod (lines), qordemod in numeric replies, microsocks (SOCKS 5 with user name and
#     password) and ssh -D (SOCKS 4A) through an sshd of its own; all stopped at the end.
# Exits non-zero on any failure.
#
#   scripts/examples-check.sh [build folder]        default: build/examples; the package check's
#                                                   folder (build/package) serves as it is
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages "${QOR_BUILD_PACKAGES[@]}" "${QOR_TEST_PACKAGES[@]}"
require_tools "${QOR_BUILD_TOOLS[@]}" "${QOR_TEST_TOOLS[@]}"

build=${1:-build/examples}
scratch=$(mktemp -d)
pids=()
finish() {
  local status=$? pid
  # The daemons this script started, by their ids.
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
  ((status == 0)) || echo "timing: examples check FAILED after $SECONDS s"
}
trap finish EXIT
fail() {
  echo "examples check: $*" >&2
  exit 1
}

# A port below the system's range for outgoing connections on which nothing listens yet.
free_port() {
  local port
  for _ in {1..100}; do
    port=$((20000 + RANDOM % 12000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || {
      echo "$port"
      return
    }
  done
  fail "no free port found"
}

# start_daemon PORT LOG COMMAND...: starts COMMAND in the background and waits until PORT accepts.
start_daemon() {
  local port=$1 log=$2
  shift 2
  "$@" >"$log" 2>&1 &
  pids+=($!)
  for _ in {1..200}; do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.05
  done
  cat "$log" >&2
  fail "$1 did not start listening on 127.0.0.1:$port"
}

# start_demo VARIABLE [replies]: starts qordemod on a free port and sets VARIABLE to that port.
start_demo() {
  local variable=$1 log=$scratch/$1.log
  shift
  "$prefix/bin/qordemod" 0 "$@" >"$log" 2>&1 &
  pids+=($!)
  for _ in {1..200}; do
    if [[ $(head -n1 "$log" 2>/dev/null) =~ ^qordemod:\ listening\ on\ 127\.0\.0\.1:([0-9]+)$ ]]; then
      printf -v "$variable" '%s' "${BASH_REMATCH[1]}"
      return
    fi
    sleep 0.05
  done
  fail "qordemod $* did not start: $(cat "$log")"
}

# An sshd of its own on loopback, with a host key and a key for logging in as the current user, and
# an ssh client that offers SOCKS (4, 4A and 5) on a port of 127.0.0.1 through it.
start_ssh_socks() {
  local folder=$scratch/ssh sshd_port=$1 socks_port=$2
  mkdir -p "$folder" /run/sshd # /run/sshd: sshd's privilege separation folder
  ssh-keygen -q -t ed25519 -N '' -f "$folder/host_key"
  ssh-keygen -q -t ed25519 -N '' -f "$folder/user_key"
  cp "$folder/user_key.pub" "$folder/authorized_keys"
  # The tests' configuration; StrictModes is off there: the keys lie in a temporary folder.
  sed -e "s|@PORT@|$sshd_port|" -e "s|@FOLDER@|$folder|" tests/support/sshd_config >"$folder/sshd_config"
  start_daemon "$sshd_port" "$folder/sshd.log" /usr/sbin/sshd -D -e -f "$folder/sshd_config"
  start_daemon "$socks_port" "$folder/ssh.log" ssh -N -n -F /dev/null -i "$folder/user_key" -p "$sshd_port" \
    -D "127.0.0.1:$socks_port" -o BatchMode=yes -o IdentitiesOnly=yes -o StrictHostKeyChecking=no \
    -o UserKnownHostsFile=/dev/null -o GlobalKnownHostsFile=/dev/null -o CheckHostIP=no \
    -o ExitOnForwardFailure=yes -o LogLevel=ERROR "$(id -un)@127.0.0.1"
}

# expect NAME EXPECTED COMMAND...: runs COMMAND and compares its standard output with EXPECTED.
expect() {
  local name=$1 expected=$2 status=0
  shift 2
  timeout 30 "$@" >"$scratch/out" 2>"$scratch/err" || status=$?
  if ((status != 0)) || ! cmp -s <(printf '%s\n' "$expected") "$scratch/out"; then
    diff <(printf '%s\n' "$expected") "$scratch/out" >&2 || true
    cat "$scratch/err" >&2
    fail "$name exited with status $status or printed other text"
  fi
  echo "example ok: $name"
}

echo "== examples: build and install the library into a scratch prefix"
prefix=$scratch/prefix
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_BUILD_TESTS=OFF -DQOR_BUILD_BENCHMARKS=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  >/dev/null
cmake --build "$build" -j2 >/dev/null
cmake --install "$build" --prefix "$prefix" >/dev/null

examples=(connect_timeout intercepts port_range progress replies socks)
echo "== examples: build by CMake against the installed package"
cmake -S examples -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$scratch/cmake" -j2 >/dev/null
echo "== examples: build by c++ and pkg-config"
flags=$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs qorclnt)
echo "pkg-config --cflags --libs qorclnt: ${flags//$prefix/<prefix>}"
mkdir -p "$scratch/pc"
for example in "${examples[@]}"; do
  # shellcheck disable=SC2086 # the flags are words
  c++ -Wall -Wextra -Wpedantic -Werror -o "$scratch/pc/$example" "examples/$example.cpp" $flags
done

echo "== examples: run against peers on 127.0.0.1"
lines='' replies=''
start_demo lines
start_demo replies replies
user=qoruser password=qor-secret
socks5=$(free_port)
start_daemon "$socks5" "$scratch/microsocks.log" microsocks -i 127.0.0.1 -p "$socks5" -u "$user" -P "$password"
sshd_port=$(free_port)
socks4=$(free_port)
[[ $socks4 != "$sshd_port" ]] || socks4=$(free_port)
start_ssh_socks "$sshd_port" "$socks4"
range_min=29100 range_max=29199

for bin in "$scratch/cmake" "$scratch/pc"; do
  echo "-- built in ${bin##*/}"
  expect "socks 5" "OK HELLO THROUGH SOCKS 5" \
    "$bin/socks" 5 "$socks5" 127.0.0.1 "$lines" "$user" "$password"
  expect "socks 4a" "OK HELLO THROUGH SOCKS 4a" "$bin/socks" 4a "$socks4" 127.0.0.1 "$lines"
  expect intercepts "out: 48 45 4C 4C 4F 0D 0A
in:  4F 4B 20 48 45 4C 4C 4F 0D 0A 0D 0A
line: ok hello" "$bin/intercepts" "$lines"
  expect replies "220 | QORDEMOD READY
250 | HELLO EXAMPLE
214 | COMMANDS:
214 | HELO name
214 | DATA count
214 | QUIT
214 | END OF HELP
EIdProtocolReplyError 500: UNKNOWN COMMAND
221 | BYE" "$bin/replies" "$replies"
  expect progress "reading
25 %
50 %
75 %
100 %
done
received 4000000 bytes" "$bin/progress" "$replies" 4000000
  # The highest free port of the range; the same port again, as a range of one, is taken.
  timeout 30 "$bin/port_range" "$lines" "$range_min" "$range_max" >"$scratch/range" ||
    fail "port_range failed: $(cat "$scratch/range")"
  [[ $(head -n1 "$scratch/range") =~ ^local\ port:\ ([0-9]+)$ ]] || fail "port_range said: $(cat "$scratch/range")"
  bound=${BASH_REMATCH[1]}
  ((bound >= range_min && bound <= range_max)) || fail "port_range bound port $bound, outside the range"
  expect port_range "local port: $bound
OK HELLO FROM A PORT OF THE RANGE
EIdCanNotBindPortInRange: Can not bind in port range ($bound - $bound)" cat "$scratch/range"
  start=$(date +%s%N)
  expect connect_timeout "first: connected, the listener's queue is full
second: EIdConnectTimeout: Connect timed out.
second: Connected() is false" "$bin/connect_timeout"
  elapsed_ms=$((($(date +%s%N) - start) / 1000000))
  ((elapsed_ms >= 900)) || fail "connect_timeout gave up after $elapsed_ms ms, before its time-out of 1000 ms"
done

echo "examples check: passed"
echo "timing: examples check ok after $SECONDS s"
