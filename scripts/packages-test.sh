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

# In a private process namespace, whose first shell is process 1: sleep stands for the program of a
# package with a service ("daemon"), perl for a program of another package. Only the sleep that
# started after the snapshot, as a child of process 1, under this root, is stopped; so is nothing of a
# package without a service ("tool"). stop_new_services runs once here and once in a chroot, which
# sees the processes outside it but must leave them alone; with errexit on, as in the scripts.
# shellcheck disable=SC2016 # the script runs in the inner shell
out=$(unshare --pid --fork --mount-proc bash -euo pipefail -c '
  source scripts/packages.sh
  dpkg-query() {
    [[ $2 == daemon ]] && echo /etc/init.d/daemon
    echo /bin/sleep
  }
  sleep 60 & old=$!
  before=$(process_ids)
  sleep 60 & new=$!
  perl -e "sleep 60" & other=$!
  jail=$(mktemp -d)
  bash -c "sleep 60 & echo \$! >$jail/child; wait" &
  sleep 0.2
  child=$(<"$jail/child")
  mkdir "$jail/usr" "$jail/proc" "$jail/dev" "$jail/scripts"
  ln -s usr/bin "$jail/bin"; ln -s usr/lib "$jail/lib"; ln -s usr/lib64 "$jail/lib64"
  mount --bind /usr "$jail/usr"; mount --bind /dev "$jail/dev"; mount -t proc proc "$jail/proc"
  cp scripts/packages.sh "$jail/scripts"
  chroot "$jail" /bin/bash -c "source /scripts/packages.sh; $(declare -f dpkg-query); stop_new_services \"$before\" daemon"
  umount "$jail/proc" "$jail/dev" "$jail/usr"
  rm -f "$jail"/{bin,lib,lib64,child,scripts/packages.sh}; rmdir "$jail"/{usr,proc,dev,scripts} "$jail"
  stop_new_services "$before" tool
  stop_new_services "$before" daemon | sed "s/process $new/process NEW/"
  wait "$new" 2>/dev/null || true
  for pid in $old $new $other $child; do
    if kill -0 "$pid" 2>/dev/null; then echo runs; else echo gone; fi
  done
  kill "$old" "$other" "$child"') || out+=$'\n'"exit status $?"
expect "stop_new_services stops only a daemon of a service package started after the snapshot" \
  "stopped /usr/bin/sleep (process NEW), which installing its package started
runs
gone
runs
runs" "$out"

if ((failed)); then
  echo "timing: packages test FAILED after $SECONDS s"
  exit 1
fi
echo "timing: packages test ok after $SECONDS s"
