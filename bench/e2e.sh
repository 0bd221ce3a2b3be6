#!/usr/bin/env bash
# End-to-end benchmark: qorclnt against the minimal reference client (bench/RefClient.cpp), both
# talking to the project's loopback line server (bench/LineServer.cpp) on 127.0.0.1 (and ::1) only.
#
# Client and server are pinned to one CPU each: on two CPUs either way round, or both on the same one;
# each placement is tried once with a short ping-pong and the steadiest is kept. Each measurement is a
# warm-up of each client, then ROUNDS rounds of qorclnt and the reference in turn (A B A B); the
# exchanges are also run with the reference writing the blank line and prompt that the console writes
# after every reply (A B C A B C), the yardstick for the exchange rate. Figures are medians. Connect and start-up are excluded by subtracting the median of runs with a single exchange.
# Every run is bounded by a time limit. Besides the wall-clock figures, the clients' own CPU time
# (user + system) per exchange and per line is shown: it is less disturbed by other work on the machine.
# Then qorclnt over ::1 against qorclnt over 127.0.0.1 (IPV6=0 skips it), and both clients over TLS
# against a line server that speaks TLS with a certificate made at its start (TLS=0 skips them).
#
#   bench/e2e.sh        (ROUNDS, EXCHANGES, LINES, RETRY_SECONDS, PLACEMENT, IPV6 and TLS may be set in the
#                       environment)
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C
source scripts/packages.sh
ensure_packages "${QOR_BUILD_PACKAGES[@]}" "${QOR_TEST_BUILD_PACKAGES[@]}" time util-linux
require_tools "${QOR_BUILD_TOOLS[@]}" /usr/bin/time:time taskset:util-linux

ROUNDS=${ROUNDS:-5}
EXCHANGES=${EXCHANGES:-20000}
LINES=${LINES:-1000000}
RETRY_SECONDS=${RETRY_SECONDS:-4}
IPV6=${IPV6:-1}
TLS=${TLS:-1}
RUN_LIMIT=120  # seconds, for any single run
if [[ -n ${PLACEMENT:-} && ! $PLACEMENT =~ ^[0-9]+\ [0-9]+$ ]]; then
  echo "PLACEMENT must be \"serverCPU clientCPU\", for example \"1 1\"" >&2
  exit 2
fi

cmake --preset default >/dev/null
cmake --build --preset default --target qorclnt LineServer RefClient >/dev/null
build=build/default
nsswitch=$PWD/tests/support/hosts-files-nsswitch.conf

work=$(mktemp -d)
server_pids=()
cafile=""
stop_servers() {
  local pid
  for pid in "${server_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  server_pids=()
}
trap 'stop_servers; [[ -n $cafile ]] && rm -rf "$(dirname "$cafile")"; rm -rf "$work"' EXIT

# start_server CPU [-6] [0 tls]: one more line server pinned to CPU, with the parameters given; sets
# port (and cafile, the certificate to trust, with tls).
start_server() {
  local out=$work/server.${#server_pids[@]} want=1
  [[ ${*: -1} == tls ]] && want=2
  : >"$out"
  taskset -c "$1" "$build/bench/LineServer" "${@:2}" >"$out" &
  server_pids+=($!)
  for _ in $(seq 100); do
    (($(wc -l <"$out") >= want)) && break
    sleep 0.05
  done
  port=$(head -n1 "$out")
  [[ -n $port ]] || { echo "the line server did not start" >&2; exit 1; }
  ((want == 1)) || cafile=$(sed -n 2p "$out")
}

# The command line of client q (qorclnt), r (the reference) or p (the reference writing the console's
# blank line and prompt after every reply, as qorclnt must); 6: qorclnt over ::1 (to port6); over TLS
# (to tls_port): t (qorclnt), s (the reference) and u (the reference writing the prompt); n and m:
# the reference pausing one connect step after the connect, plain and over TLS.
client_command() {
  case $1 in
    q) echo "$build/qorclnt -SP $port" ;;
    r) echo "$build/bench/RefClient $port" ;;
    p) echo "$build/bench/RefClient $port 1000 prompt" ;;
    6) echo "$build/qorclnt -SH ::1 -SP $port6" ;;
    t) echo "$build/qorclnt -TLS -CAFILE $cafile -SH 127.0.0.1 -SP $tls_port" ;;
    s) echo "$build/bench/RefClient $tls_port 1000 - tls $cafile" ;;
    u) echo "$build/bench/RefClient $tls_port 1000 prompt tls $cafile" ;;
    n) echo "$build/bench/RefClient $port 1000 step" ;;
    m) echo "$build/bench/RefClient $tls_port 1000 step tls $cafile" ;;
  esac
}

# run CLIENT INPUT: one run pinned to client_cpu, reply to /dev/null. Prints "seconds peakKiB cpuSeconds".
run() {
  local command start end
  read -ra command <<<"$(client_command "$1")"
  start=$EPOCHREALTIME
  taskset -c "$client_cpu" /usr/bin/time -f '%M %U %S' -o "$work/time" \
    timeout "$RUN_LIMIT" "${command[@]}" <"$2" >/dev/null
  end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" '{ printf "%.6f %d %.2f\n", b - a, $1, $2 + $3 }' "$work/time"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
maximum() { printf '%s\n' "$@" | sort -g | tail -n1; }

# measure LABEL INPUT [LABEL INPUT]...: a warm-up, then ROUNDS rounds; each round runs every input with
# each client of CLIENTS in turn (qorclnt first). Results go to seconds[LABEL.c], rss[LABEL.c],
# cpu[LABEL.c].
declare -A seconds rss cpu
CLIENTS="q r"
measure() {
  local -a pairs=("$@")
  local i j c t m u
  for c in $CLIENTS; do run "$c" "${pairs[1]}" >/dev/null; done
  for ((i = 0; i < ROUNDS; i++)); do
    for ((j = 0; j < ${#pairs[@]}; j += 2)); do
      for c in $CLIENTS; do
        read -r t m u < <(run "$c" "${pairs[j + 1]}")
        seconds[${pairs[j]}.$c]+="$t "
        rss[${pairs[j]}.$c]+="$m "
        cpu[${pairs[j]}.$c]+="$u "
      done
    done
  done
}

# The inputs: one command a line; at the end of input both clients end.
lines_of() { awk -v n="$2" -v t="$1" 'BEGIN { for (i = 0; i < n; i++) print t }'; }
lines_of PING "$EXCHANGES" >"$work/ping"
lines_of PING 2000 >"$work/ping-short"
echo PING >"$work/ping-one"
echo "BULK $LINES 100" >"$work/bulk"
echo "BULK 1 100" >"$work/bulk-one"
echo "LONG $((1 << 30))" >"$work/long"
echo "DRIP 100" >"$work/drip"

echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), Linux $(uname -r)"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine makes the figures noisy)"

# Placement: PLACEMENT ("serverCPU clientCPU") when given, else the one whose short ping-pong runs
# spread least (spread = (max - min) / median).
best=${PLACEMENT:-}
placements=("0 1" "1 0" "1 1")
[[ -n $best ]] && placements=()
for placement in "${placements[@]}"; do
  read -r server_cpu client_cpu <<<"$placement"
  stop_servers
  start_server "$server_cpu"
  saved=$ROUNDS
  ROUNDS=3
  measure try "$work/ping-short"
  ROUNDS=$saved
  spread=0
  for c in q r; do
    read -ra v <<<"${seconds[try.$c]}"
    spread=$(printf '%s\n' "${v[@]}" | sort -g | awk -v m="$(median "${v[@]}")" -v s="$spread" \
      'NR == 1 { lo = $1 } { hi = $1 } END { d = (hi - lo) / m; print (d > s) ? d : s }')
  done
  unset 'seconds[try.q]' 'seconds[try.r]'
  echo "placement: server on CPU $server_cpu, client on CPU $client_cpu: spread $(awk -v s="$spread" 'BEGIN { printf "%.1f%%", s * 100 }')"
  if [[ -z $best ]] || awk -v a="$spread" -v b="$best_spread" 'BEGIN { exit !(a < b) }'; then
    best=$placement
    best_spread=$spread
  fi
done
read -r server_cpu client_cpu <<<"$best"
echo "kept: server on CPU $server_cpu, client on CPU $client_cpu"
stop_servers
start_server "$server_cpu"

CLIENTS="q r p"
measure ping "$work/ping" ping1 "$work/ping-one"
CLIENTS="q r"
measure bulk "$work/bulk" bulk1 "$work/bulk-one"
measure long "$work/long"
saved=$ROUNDS
ROUNDS=3
measure drip "$work/drip"
ROUNDS=$saved

# qorclnt over ::1 and over 127.0.0.1 in turn, each to a server of its own family.
if ((IPV6)); then
  plain_port=$port
  start_server "$server_cpu" -6
  port6=$port
  port=$plain_port
  CLIENTS="q 6"
  measure v6ping "$work/ping" v6ping1 "$work/ping-one"
fi

# Both clients over TLS; the runs with a single exchange, plain and over TLS in turn, give the handshake.
if ((TLS)); then
  plain_port=$port
  start_server "$server_cpu" 0 tls
  tls_port=$port
  port=$plain_port
  CLIENTS="t u"
  measure tping "$work/ping" tping1 "$work/ping-one"
  CLIENTS="t s"
  measure tbulk "$work/bulk" tbulk1 "$work/bulk-one"
  # The handshake is a difference of two short runs, a few ms against the runs' own spread: five
  # times the rounds keep its median steady. The console pauses one connect step before the
  # handshake, so the reference does too.
  CLIENTS="q n t m"
  ROUNDS=$((saved * 5))
  measure null "$work/ping-one"
  ROUNDS=$saved
fi
stop_servers

# retry [PREFIX...] -- ARGS...: qorclnt with ARGS (started through PREFIX, if given) retrying a connect
# that cannot succeed, for RETRY_SECONDS. Prints "cpuPercent attemptsPerSecond".
retry() {
  local -a prefix=()
  while [[ $1 != -- ]]; do prefix+=("$1"); shift; done
  shift
  /usr/bin/time -f '%e %U %S' -o "$work/time" "${prefix[@]}" timeout -s TERM "$RETRY_SECONDS" \
    taskset -c "$client_cpu" "$build/qorclnt" "$@" <"$work/ping-one" >"$work/out" 2>/dev/null || true
  local attempts
  attempts=$(grep -c '^< CONNECTION FAILED$' "$work/out" || true)
  awk -v n="$attempts" '/^[0-9.]+ [0-9.]+ [0-9.]+$/ { printf "%.2f %.2f\n", ($2 + $3) / $1 * 100, n / $1 }' "$work/time"
}

# A port where nothing listens: the connect is refused at once.
refused=""
for candidate in 9 7 1 19 13; do
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
    refused=$candidate
    break
  fi
done
declare -a refused_cpu=() refused_rate=() invalid_cpu=() invalid_rate=()
for ((i = 0; i < 3; i++)); do
  read -r p a < <(retry -- -SP "$refused")
  refused_cpu+=("$p")
  refused_rate+=("$a")
  # The name is looked up in a private mount namespace whose name service uses the hosts file only.
  read -r p a < <(retry unshare --mount --propagation private sh -c \
    'mount --bind "$0" /etc/nsswitch.conf && exec "$@"' "$nsswitch" -- -SH NOHOST.INVALID)
  invalid_cpu+=("$p")
  invalid_rate+=("$a")
done

# Figures.
declare -A eps reply rss_bulk rss_long drip cpu_exchange cpu_line
# rate LABEL LABEL1 CLIENT: exchanges/s of CLIENT in the runs of LABEL, those of LABEL1 subtracted.
rate() {
  local -a a b
  read -ra a <<<"${seconds[$1.$3]}"
  read -ra b <<<"${seconds[$2.$3]}"
  awk -v n="$EXCHANGES" -v a="$(median "${a[@]}")" -v b="$(median "${b[@]}")" 'BEGIN { printf "%.0f", (n - 1) / (a - b) }'
}
# difference LABEL CLIENT LABEL1 CLIENT1 SCALE FORMAT: the median seconds of CLIENT in the runs of LABEL
# less those of CLIENT1 in the runs of LABEL1, times SCALE.
difference() {
  local -a a b
  read -ra a <<<"${seconds[$1.$2]}"
  read -ra b <<<"${seconds[$3.$4]}"
  awk -v a="$(median "${a[@]}")" -v b="$(median "${b[@]}")" -v k="$5" -v f="$6" 'BEGIN { printf f, (a - b) * k }'
}
for c in q r p; do
  eps[$c]=$(rate ping ping1 "$c")
done
for c in q r; do
  reply[$c]=$(difference bulk "$c" bulk1 "$c" 1 %.3f)
  read -ra a <<<"${cpu[ping.$c]}"
  read -ra b <<<"${cpu[ping1.$c]}"
  cpu_exchange[$c]=$(awk -v n="$EXCHANGES" -v a="$(median "${a[@]}")" -v b="$(median "${b[@]}")" \
    'BEGIN { printf "%.2f", (a - b) / (n - 1) * 1e6 }')
  read -ra a <<<"${cpu[bulk.$c]}"
  read -ra b <<<"${cpu[bulk1.$c]}"
  cpu_line[$c]=$(awk -v n="$LINES" -v a="$(median "${a[@]}")" -v b="$(median "${b[@]}")" \
    'BEGIN { printf "%.0f", (a - b) / n * 1e9 }')
  read -ra a <<<"${rss[bulk.$c]}"
  rss_bulk[$c]=$(maximum "${a[@]}")
  read -ra a <<<"${rss[long.$c]}"
  rss_long[$c]=$(maximum "${a[@]}")
  read -ra a <<<"${cpu[drip.$c]}"
  read -ra b <<<"${seconds[drip.$c]}"
  drip[$c]=$(awk -v a="$(median "${a[@]}")" -v b="$(median "${b[@]}")" 'BEGIN { printf "%.1f%%", a / b * 100 }')
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk "BEGIN { exit !($1) }" && echo ok || echo MISSED; }

echo
echo "medians of $ROUNDS interleaved runs (qorclnt, reference); connect and start-up subtracted"
printf '%-44s %12s %12s %7s  %s\n' "" qorclnt reference ratio target
printf '%-44s %12s %12s %7s  %s\n' "exchanges/s, $EXCHANGES on one connection" "${eps[q]}" "${eps[r]}" \
  "$(ratio "${eps[q]}" "${eps[r]}")" "(no prompt written by the reference)"
r=$(ratio "${eps[q]}" "${eps[p]}")
printf '%-44s %12s %12s %7s  %s\n' "  the same, the reference writing the prompt" "${eps[q]}" "${eps[p]}" "$r" \
  ">= 0.98 $(verdict "$r >= 0.98")"
r=$(ratio "${reply[q]}" "${reply[r]}")
printf '%-44s %12s %12s %7s  %s\n' "s for one reply of $LINES lines of 100 B" "${reply[q]}" "${reply[r]}" "$r" \
  "<= 1.05 $(verdict "$r <= 1.05")"
printf '%-44s %12s %12s %7s\n' "client CPU us per exchange" "${cpu_exchange[q]}" "${cpu_exchange[r]}" \
  "$(ratio "${cpu_exchange[q]}" "${cpu_exchange[r]}")"
r=$(ratio "${cpu_line[q]}" "${cpu_line[r]}")
printf '%-44s %12s %12s %7s  %s\n' "client CPU ns per line of that reply" "${cpu_line[q]}" "${cpu_line[r]}" "$r" \
  "<= 1.10 $(verdict "$r <= 1.1")"
printf '%-44s %12s %12s %7s  %s\n' "peak RSS KiB, that reply (max of runs)" "${rss_bulk[q]}" "${rss_bulk[r]}" \
  "$(ratio "${rss_bulk[q]}" "${rss_bulk[r]}")" "<= 3072 $(verdict "${rss_bulk[q]} <= 3072")"
printf '%-44s %12s %12s %7s  %s\n' "peak RSS KiB, 1 GiB without a line end" "${rss_long[q]}" "${rss_long[r]}" \
  "$(ratio "${rss_long[q]}" "${rss_long[r]}")" "<= 3072 $(verdict "${rss_long[q]} <= 3072")"
printf '%-44s %12s %12s\n' "CPU share while a reply drips 1 B / 10 ms" "${drip[q]}" "${drip[r]}"
echo
echo "qorclnt's retry loop, medians of 3 runs of $RETRY_SECONDS s"
p=$(median "${refused_cpu[@]}")
printf '%-44s %6s%% of a core, %5s attempts/s  %s\n' "refused port 127.0.0.1:$refused" "$p" \
  "$(median "${refused_rate[@]}")" "<= 2% $(verdict "$p <= 2")"
p=$(median "${invalid_cpu[@]}")
printf '%-44s %6s%% of a core, %5s attempts/s  %s\n' "unresolvable name (hosts: files)" "$p" \
  "$(median "${invalid_rate[@]}")" "<= 2% $(verdict "$p <= 2")"

if ((IPV6)); then
  echo
  echo "qorclnt over ::1 and over 127.0.0.1, medians of $ROUNDS interleaved runs; connect and start-up subtracted"
  printf '%-44s %12s %12s %7s  %s\n' "" "::1" 127.0.0.1 ratio target
  x=$(rate v6ping v6ping1 6)
  y=$(rate v6ping v6ping1 q)
  r=$(ratio "$x" "$y")
  printf '%-44s %12s %12s %7s  %s\n' "exchanges/s, $EXCHANGES on one connection" "$x" "$y" "$r" \
    "0.97 to 1.03 $(verdict "$r >= 0.97 && $r <= 1.03")"
fi

if ((TLS)); then
  echo
  echo "over TLS, medians of $ROUNDS interleaved runs (qorclnt, reference); connect and start-up subtracted"
  printf '%-44s %12s %12s %7s  %s\n' "" qorclnt reference ratio target
  x=$(difference tbulk t tbulk1 t 1 %.3f)
  y=$(difference tbulk s tbulk1 s 1 %.3f)
  r=$(ratio "$x" "$y")
  printf '%-44s %12s %12s %7s  %s\n' "s for one reply of $LINES lines of 100 B" "$x" "$y" "$r" \
    "<= 1.10 $(verdict "$r <= 1.1")"
  x=$(rate tping tping1 t)
  y=$(rate tping tping1 u)
  r=$(ratio "$x" "$y")
  printf '%-44s %12s %12s %7s  %s\n' "exchanges/s, $EXCHANGES on one connection" "$x" "$y" "$r" \
    ">= 0.95 $(verdict "$r >= 0.95")"
  x=$(difference null t null q 1000 %.2f)
  y=$(difference null m null n 1000 %.2f)
  r=$(ratio "$x" "$y")
  printf '%-44s %12s %12s %7s  %s\n' "ms a single exchange takes more ($((ROUNDS * 5)) rounds)" "$x" "$y" "$r" \
    "<= 1.2 $(verdict "$r <= 1.2")"
  read -ra v <<<"${rss[tbulk.t]}"
  read -ra w <<<"${rss[tbulk.s]}"
  x=$(maximum "${v[@]}")
  y=$(maximum "${w[@]}")
  r=$(ratio "$x" "$y")
  printf '%-44s %12s %12s %7s  %s\n' "peak RSS KiB, that reply (max of runs)" "$x" "$y" "$r" "<= 1.2 $(verdict "$r <= 1.2")"
fi
