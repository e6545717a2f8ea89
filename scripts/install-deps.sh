#!/usr/bin/env bash
# Installs what building and testing need, where a fresh machine lacks it (Debian packages only); with
# --windows, what the Windows tree needs instead.
set -euo pipefail
# clang and its sanitizer runtimes (libFuzzer among them) build the fuzz targets of scripts/fuzz.sh.
# pkg-config, dpkg-dev (dpkg-shlibdeps, dpkg-architecture), file, man-db and lintian serve
# scripts/package-check.sh.
# The python3 packages: the Python package in python/, installed into a venv that sees Debian's numpy.
# libmosquitto-dev: kolmrec's MQTT publishing; the broker mosquitto, paho-mqtt (the collector) and openssl
# (the tests' certificates) serve the MQTT tests and the demo.
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev clang clang-format clang-tidy libclang-rt-14-dev
  pkg-config dpkg-dev file man-db lintian libmosquitto-dev mosquitto openssl
  python3-numpy python3-matplotlib python3-pytest python3-venv python3-setuptools python3-pip python3-wheel
  python3-paho-mqtt)
apt_options=()
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if [ "${1:-}" = --windows ]; then
  # The Windows tree: the mingw-w64 cross compilers with the posix thread model (the win32 one has no
  # std::thread) and wine to run what they build; without its recommendations wine needs no display and a
  # fraction of the disk.
  packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64)
  apt_options=(--no-install-recommends)
fi
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  # Another apt or dpkg (an unattended upgrade, a second build) may hold the lock for a while: wait for it.
  apt_options+=(-o DPkg::Lock::Timeout=600)
  # A list that fails to download (a mirror amid a sync) need not stop the install: apt says which, and
  # the install fails only where a package needs it.
  $sudo apt-get update -q -o DPkg::Lock::Timeout=600 || echo "install-deps: apt-get update failed in part" >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${apt_options[@]}" "${missing[@]}"
fi

# The 32-bit Windows programs need wine's i386 half, which only an amd64 machine with i386 enabled can
# install. It is tried on its own: where the archive's i386 lists lag behind the amd64 ones (a mirror amid a
# sync), the two halves cannot be matched, and run-tests.sh then builds the 32-bit tree and checks its
# exports without running it, and says so.
if [ "${1:-}" = --windows ] && [ "$(dpkg --print-architecture)" = amd64 ] && ! dpkg -s wine32:i386 >/dev/null 2>&1; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    $sudo apt-get update -q -o DPkg::Lock::Timeout=600 || echo "install-deps: apt-get update failed in part" >&2
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends --no-remove -o DPkg::Lock::Timeout=600 \
    wine32:i386 || echo "install-deps: NOTE: wine32:i386 could not be installed; 32-bit Windows programs will not run" >&2
fi
