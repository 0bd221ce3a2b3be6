# shellcheck shell=bash
# Sourced by the build and test scripts: installs Debian packages that are missing, without starting
# or enabling the system services that some of them bring, and checks that the programs the scripts
# run are there.

# ensure_packages NAME...: installs with apt-get those of the named packages that are not installed,
# after one 'apt-get update'. Needs root (or sudo). While apt-get runs, a policy-rc.d that denies every
# service start is in place (unless the machine already has one of its own); whatever a newly installed
# package started all the same is stopped again, and whatever it enabled at boot is disabled again.
# apt-get's output goes to a log file; one line a step is shown, and a failure names the log.
ensure_packages() {
  local missing=() name
  for name in "$@"; do
    dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed' || missing+=("$name")
  done
  ((${#missing[@]} == 0)) && return 0
  if ! command -v apt-get >/dev/null; then
    echo "missing packages: ${missing[*]}; there is no apt-get here to install them, install them by hand" >&2
    return 1
  fi
  local sudo=()
  if ((EUID != 0)); then
    if ! command -v sudo >/dev/null; then
      echo "missing packages: ${missing[*]}; installing them needs root: run this script as root once," \
        "or run 'apt-get install ${missing[*]}' as root and then stop and disable at boot every service that" \
        "installing them started or enabled (the tests start their own daemons on loopback)" >&2
      return 1
    fi
    sudo=(sudo)
  fi
  local before links log
  before=$(process_ids)
  links=$(start_links)
  log=$(mktemp "${TMPDIR:-/tmp}/qorclnt-apt-XXXXXX.log")
  # In a subshell, so that its traps remove a policy-rc.d it wrote however apt-get ends.
  local status=0
  (
    policy=/usr/sbin/policy-rc.d
    if [[ ! -e $policy ]]; then
      trap '"${sudo[@]}" rm -f "$policy"' EXIT
      trap 'exit 130' INT TERM
      printf '#!/bin/sh\n# Denies every service start while packages are installed for the build or the tests.\nexit 101\n' |
        "${sudo[@]}" tee "$policy" >/dev/null && "${sudo[@]}" chmod 755 "$policy" || exit 1
    fi
    echo "packages: updating the package lists"
    "${sudo[@]}" apt-get update >>"$log" 2>&1 </dev/null || exit
    echo "packages: installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" \
      >>"$log" 2>&1 </dev/null
  ) || status=$?
  stop_new_services "$before" "${missing[@]}"
  disable_new_start_links "$links"
  if ((status != 0)); then
    echo "packages: apt-get failed (exit status $status); its whole output is in $log" >&2
    return "$status"
  fi
  rm -f "$log"
}

# start_links: the links that start a service at boot, one a line: systemd's (what enabling a unit
# makes under /etc/systemd/system: wants and requires links, aliases; not masks) and the sysv start
# links of the runlevels (/etc/rc[0-6].d/S*). The early-boot scripts of rcS.d (sysctl settings, say,
# which g++ brings in through procps) are no services and stay. QOR_ETC stands for /etc in the tests
# of this file.
start_links() {
  local etc=${QOR_ETC:-/etc}
  {
    [[ -d $etc/systemd/system ]] && find "$etc/systemd/system" -type l ! -lname /dev/null
    find "$etc" -maxdepth 2 -path "$etc/rc[0-6].d/S*" -type l
  } | sort
}

# disable_new_start_links BEFORE: removes each start link that is not in BEFORE (start_links from
# before an install), so that nothing the install enabled starts at the next boot. The stop links and
# the package's own records stay, so an upgrade of the package leaves it disabled.
disable_new_start_links() {
  local sudo=() link names=()
  ((EUID == 0)) || sudo=(sudo)
  while read -r link; do
    [[ -n $link ]] || continue
    "${sudo[@]}" rm -f "$link"
    names+=("${link#"${QOR_ETC:-/etc}"/}")
  done < <(comm -13 <(printf '%s\n' "$1") <(start_links))
  ((${#names[@]} == 0)) || echo "packages: disabled at boot what installing them enabled: ${names[*]}"
}

# stop_new_services BEFORE PACKAGE...: stops what those of the named, newly installed packages that
# bring a service started: with systemd their active services; else each daemon (a process whose parent
# is process 1) under the same root as this script (a chroot sees the processes outside it too) that
# runs one of their programs and whose id is not in BEFORE, the process ids from before the install.
stop_new_services() {
  local before=$1 sudo=() package name pid exe
  shift
  ((EUID == 0)) || sudo=(sudo)
  local services=()
  for package in "$@"; do
    dpkg-query -L "$package" 2>/dev/null | grep -qE '^/etc/init\.d/|^/lib/systemd/system/[^/]+\.service$' &&
      services+=("$package")
  done
  ((${#services[@]} > 0)) || return 0
  if [[ -d /run/systemd/system ]]; then
    for name in $(dpkg-query -L "${services[@]}" | sed -n -E 's|^/lib/systemd/system/([^/@]+\.service)$|\1|p'); do
      systemctl is-active --quiet "$name" || continue
      "${sudo[@]}" systemctl stop "$name"
      echo "stopped $name, which installing its package started"
    done
    return 0
  fi
  # Their programs by real path, as /proc/<id>/exe gives them (/bin is a link to /usr/bin).
  local programs stat fields
  programs=$(dpkg-query -L "${services[@]}" | grep -E '/s?bin/[^/]+$' | xargs -r readlink -f || true)
  for pid in $(process_ids); do
    grep -qxF "$pid" <<<"$before" && continue
    { read -r stat <"/proc/$pid/stat"; } 2>/dev/null || continue  # gone meanwhile
    read -r -a fields <<<"${stat##*) }"  # after the command name: state, parent id, ...
    [[ ${fields[1]} == 1 && /proc/$pid/root -ef / ]] || continue
    exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
    grep -qxF "$exe" <<<"$programs" || continue
    "${sudo[@]}" kill "$pid" 2>/dev/null || continue
    echo "stopped $exe (process $pid), which installing its package started"
  done
}

# ensure_architecture ARCH: lets dpkg install packages of the foreign architecture ARCH (Debian
# multiarch, e.g. i386 for the 32-bit build's libraries) when it does not already. The next
# ensure_packages that installs something runs 'apt-get update', which fetches that architecture's lists.
ensure_architecture() {
  [[ $(dpkg --print-architecture) == "$1" ]] && return 0
  dpkg --print-foreign-architectures | grep -qxF "$1" && return 0
  local sudo=()
  ((EUID == 0)) || sudo=(sudo)
  echo "adding the package architecture $1"
  "${sudo[@]}" dpkg --add-architecture "$1"
}

# process_ids: the ids of the running processes, one a line.
process_ids() {
  local entry
  for entry in /proc/[0-9]*; do echo "${entry#/proc/}"; done
}

# require_tools FILE:PACKAGE...: checks that each file (a program's name on PATH, or an absolute path) is
# there; names each one that is not with the Debian package that has it, and then fails.
require_tools() {
  local entry tool absent=0
  for entry in "$@"; do
    tool=${entry%%:*}
    if [[ $tool == /* ]]; then
      [[ -e $tool ]] && continue
    else
      command -v "$tool" >/dev/null && continue
    fi
    echo "missing: $tool (in the Debian package ${entry#*:}: apt-get install ${entry#*:})" >&2
    absent=1
  done
  return "$absent"
}

# What building the client and the library needs, and the programs the build runs.
QOR_BUILD_PACKAGES=(cmake make g++ pkg-config libssl-dev libedit-dev)
QOR_BUILD_TOOLS=(cmake:cmake ctest:cmake make:make g++:g++ c++:g++ pkg-config:pkg-config)
# What building the tests and the benchmarks needs besides.
QOR_TEST_BUILD_PACKAGES=(googletest libgtest-dev libgmock-dev libbenchmark-dev)
# The real SOCKS proxies that the tests start on loopback and the services file that the resolver
# tests read (netbase: a minimal Debian has none), and what the tests run: the proxies, and the
# programs that give a test a private name lookup (unshare, mount) or a fixed address layout under
# ThreadSanitizer (setarch); the TLS tests' server (openssl s_server).
QOR_TEST_PACKAGES=(microsocks dante-server openssh-server openssh-client netbase openssl)
QOR_TEST_TOOLS=(/usr/bin/microsocks:microsocks /usr/sbin/danted:dante-server /usr/sbin/sshd:openssh-server
  /usr/bin/ssh:openssh-client /usr/bin/ssh-keygen:openssh-client /usr/bin/unshare:util-linux /bin/mount:mount
  /usr/bin/setarch:util-linux /usr/bin/getent:libc-bin /bin/sh:dash /etc/services:netbase
  /usr/bin/openssl:openssl)
# The m32 preset: the 32-bit compiler and the i386 builds of the libraries the program links, which
# come through Debian multiarch (ensure_architecture i386 first).
QOR_M32_ARCHITECTURE=i386
QOR_M32_PACKAGES=(g++-multilib libedit-dev:i386 libssl-dev:i386)
# The fuzz preset: Debian's default clang (/usr/bin/clang++) with libFuzzer and the sanitizer runtimes.
QOR_FUZZ_PACKAGES=(clang libclang-rt-dev)
QOR_FUZZ_TOOLS=(/usr/bin/clang++:clang)
