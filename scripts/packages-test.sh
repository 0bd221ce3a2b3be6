#!/usr/bin/env bash
# Tests of scripts/packages.sh: require_tools names each missing file with its package, and
# stop_new_services stops exactly the processes that run a program of the named packages and started
# after the snapshot. The processes live in a private process namespace (this needs root), where no
# process of the machine can be touched. Exits non-zero if a case fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh

failed=0
# expect WHAT EXPECTED ACTUAL
expect() {
  if [[ $2 == "$3" ]]; then
    echo "packages test: ok: $1"
  else
    echo "packages test: FAILED: $1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") || true
    failed=1
  fi
}

status=0
out=$(require_tools sh:dash /bin/sh:dash 2>&1) || status=$?
expect "require_tools passes when everything is there" "0:" "$status:$out"
status=0
out=$(require_tools sh:dash no-such-program:first-package /no/such/file:second-package 2>&1) || status=$?
expect "require_tools names each missing file and its package" "1:missing: no-such-program (in the Debian package first-package: apt-get install first-package)
missing: /no/such/file (in the Debian package second-package: apt-get install second-package)" "$status:$out"

# sleep (coreutils) runs once before and once after the snapshot, perl (perl-base) after it; only the
# later sleep belongs to the install.
# shellcheck disable=SC2016 # the script runs in the inner shell
out=$(unshare --pid --fork --mount-proc bash -c '
  source scripts/packages.sh
  sleep 60 & old=$!
  before=$(process_ids)
  sleep 60 & new=$!
  perl -e "sleep 60" & other=$!
  sleep 0.2
  stop_new_services "$before" coreutils | sed "s/process $new/process NEW/"
  wait "$new" 2>/dev/null || true
  for pid in $old $new $other; do
    if kill -0 "$pid" 2>/dev/null; then echo runs; else echo gone; fi
  done
  kill "$old" "$other"')
expect "stop_new_services stops only what started after the snapshot" "stopped /usr/bin/sleep (process NEW), which installing its package started
runs
gone
runs" "$out"

if ((failed)); then
  echo "timing: packages test FAILED after $SECONDS s"
  exit 1
fi
echo "timing: packages test ok after $SECONDS s"
