# Sourced by the build and test scripts: installs Debian packages that are missing.

# ensure_packages NAME...: installs with apt-get those of the named packages that are not installed,
# after one 'apt-get update'. Needs root (or sudo).
ensure_packages() {
  local missing=() name
  for name in "$@"; do
    dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed' || missing+=("$name")
  done
  ((${#missing[@]} == 0)) && return 0
  echo "installing: ${missing[*]}"
  local sudo=()
  ((EUID == 0)) || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
}

# What building the project, its tests and its benchmarks needs.
QOR_BUILD_PACKAGES=(cmake make g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev)
# The real SOCKS proxies that the tests start on loopback.
QOR_TEST_PACKAGES=(microsocks dante-server openssh-server openssh-client)
# The fuzz preset: clang 14 (/usr/bin/clang++) with libFuzzer and the sanitizer runtimes.
QOR_FUZZ_PACKAGES=(clang clang-14 libclang-rt-14-dev)
