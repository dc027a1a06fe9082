#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the CI checks need.
# Does nothing when they are all present already.
#   tools/install-deps.sh           build, tests, CI checks
#   tools/install-deps.sh --bench   also the benchmark's peer (protobuf-c) and
#                                   valgrind for tools/bench-report.py --callgrind
#   tools/install-deps.sh --i386    also the i386 libraries of the 32-bit build
#                                   (adds the i386 architecture to dpkg)
set -euo pipefail
packages=(cmake ninja-build g++ python3 libxml2-dev libgtest-dev libgmock-dev libbenchmark-dev
          binutils pkg-config g++-multilib clang-14 libclang-rt-14-dev libbz2-dev)
case "${1:-}" in
  "") ;;
  --bench) packages+=(libprotobuf-c-dev protobuf-c-compiler valgrind) ;;
  --i386) packages+=(libxml2-dev:i386 libgtest-dev:i386 libgmock-dev:i386 libbz2-dev:i386) ;;
  *) echo "usage: $0 [--bench|--i386]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  if [ "${1:-}" = --i386 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo_cmd dpkg --add-architecture i386
  fi
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
