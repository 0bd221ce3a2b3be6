#!/usr/bin/env bash
# Tests of scripts/packages.sh: require_tools names each missing file with its package,
# stop_new_services stops exactly the processes that run a program of the named packages and started
# after the snapshot (they live in a private process namespace, which needs root, where no process of
# the machine can be touched), and disable_new_start_links removes exactly the start links made after
# its snapshot (in a scratch folder standing for /etc). Exits non-zero if a case fails.
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

# disable_new_start_links, in a scratch folder standing for /etc: of the links made after the snapshot,
# it removes the systemd wants link and alias and the sysv start link, and leaves the stop link, the
# mask and the early-boot link of rcS.d; the links from before stay.
etc=$(mktemp -d)
mkdir -p "$etc"/systemd/system/multi-user.target.wants "$etc"/rc0.d "$etc"/rc2.d "$etc"/rcS.d
ln -s /lib/systemd/system/old.service "$etc"/systemd/system/multi-user.target.wants/old.service
ln -s ../init.d/old "$etc"/rc2.d/S01old
snapshot=$(QOR_ETC=$etc start_links)
ln -s /lib/systemd/system/new.service "$etc"/systemd/system/multi-user.target.wants/new.service
ln -s /lib/systemd/system/new.service "$etc"/systemd/system/alias.service
ln -s /dev/null "$etc"/systemd/system/masked.service
ln -s ../init.d/new "$etc"/rc2.d/S01new
ln -s ../init.d/new "$etc"/rc0.d/K01new
ln -s ../init.d/procps "$etc"/rcS.d/S01procps
out=$(QOR_ETC=$etc disable_new_start_links "$snapshot" 2>&1)
out+=$'\n'$(cd "$etc" && find . -type l | sort)
expect "disable_new_start_links removes only the start links made after the snapshot" \
  "packages: disabled at boot what installing them enabled: rc2.d/S01new systemd/system/alias.service systemd/system/multi-user.target.wants/new.service
./rc0.d/K01new
./rc2.d/S01old
./rcS.d/S01procps
./systemd/system/masked.service
./systemd/system/multi-user.target.wants/old.service" "$out"
rm -rf "$etc"

# Under CI, on the fresh machine whose packages the scripts installed: no service of those packages
# is enabled at boot (a developer's machine may have enabled one on purpose).
if [[ ${CI:-} == true ]]; then
  enabled=""
  for package in "${QOR_BUILD_PACKAGES[@]}" "${QOR_TEST_BUILD_PACKAGES[@]}" "${QOR_TEST_PACKAGES[@]}"; do
    for name in $(dpkg-query -L "$package" 2>/dev/null |
      sed -n -E 's|^/lib/systemd/system/([^/]+\.service)$|\1|p; s|^/etc/init\.d/([^/]+)$|\1|p'); do
      enabled+=$(start_links | grep -E "\.(wants|requires)/$name\$|/rc.\.d/S[0-9]+$name\$" || true)
    done
  done
  expect "no service of the scripts' packages is enabled at boot" "" "$enabled"
fi

if ((failed)); then
  echo "timing: packages test FAILED after $SECONDS s"
  exit 1
fi
echo "timing: packages test ok after $SECONDS s"
