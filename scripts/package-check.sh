#!/usr/bin/env bash
# The project as its users get it. Builds in build-pkg/ (configured for /usr, as a Debian package is,
# with the CMake minimum the build states), installs into a temporary prefix and there builds and runs a
# CMake consumer (find_package) and a pkg-config consumer against kolmsim; builds the consumer with
# pekolm inside it; makes the Debian packages, unpacks them and runs kolmsim -- kolmdemo from the unpacked
# tree. Checks on the way: the SONAME, --help and --version of every program, that every manual page
# renders without a warning, that the library exports what its symbols file lists, and that lintian finds
# nothing in the packages but the tags explained below.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build="build-pkg"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
step() { echo "== $*"; }
fail() {
  echo "package-check: $*" >&2
  exit 1
}

step "configure (warnings of the CMake code are errors) and build in $build, hardened as the packages are"
cmake -S . -B "$build" -G Ninja --warn-uninitialized -Werror=dev -Werror=deprecated \
  -DCMAKE_INSTALL_PREFIX=/usr -DPEKOLM_TESTS=OFF -DPEKOLM_BENCH=OFF -DPEKOLM_HARDENING=ON
cmake --build "$build"

# Another prefix than the configured one: the package files must find everything from where they lie.
step "install into a temporary prefix"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix"
libdir=$(find "$prefix" -name libpekolm.so.1 -printf '%h\n')
[ -n "$libdir" ] || fail "no libpekolm.so.1 installed"
readelf -d "$libdir/libpekolm.so.1" | grep 'Library soname: \[libpekolm\.so\.1\]' >/dev/null ||
  fail "SONAME is not libpekolm.so.1"
export PKG_CONFIG_PATH=$libdir/pkgconfig
version=$(pkg-config --modversion pekolm)
for program in kolmconsole kolmsim kolmdemo kolmrec kolmscan; do
  [ "$(LD_LIBRARY_PATH=$libdir "$prefix/bin/$program" --version)" = "$program $version" ] ||
    fail "$program --version does not say $program $version"
  LD_LIBRARY_PATH=$libdir "$prefix/bin/$program" --help | grep "^Usage: $program" >/dev/null || fail "$program --help"
done

kolmsim=$prefix/bin/kolmsim
step "CMake consumer: find_package(pekolm 1.9)"
cmake -S tests/consumer/cmake -B "$work/cmake-consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
cmake --build "$work/cmake-consumer"
readelf -d "$work/cmake-consumer/firmware_check" | grep 'NEEDED.*\[libpekolm\.so\.1\]' >/dev/null ||
  fail "the consumer does not load libpekolm.so.1"
# It prints what KolmdllVersion reports, which must be the release the packages carry.
answer=$("$kolmsim" --quiet --com 7 --firmware 23 -- "$work/cmake-consumer/firmware_check" 7 23)
echo "$answer"
[ "$answer" = "pekolm $version, firmware 23" ] || fail "expected pekolm $version, firmware 23"

step "pkg-config consumer: pkg-config --cflags --libs pekolm"
pkg-config --atleast-version=1.9 pekolm || fail "pkg-config finds pekolm $version, not 1.9 or later"
# shellcheck disable=SC2046 # the flags are words
"${CC:-cc}" -Wall -Werror tests/consumer/firmware_check.c $(pkg-config --cflags --libs pekolm) \
  -o "$work/pc-consumer"
LD_LIBRARY_PATH=$libdir "$kolmsim" --quiet --com 7 --firmware 11 -- "$work/pc-consumer" 7 11

step "the installed example builds where it lies, as its first lines say"
examples=$(find "$prefix" -path '*/doc/*/examples' -type d)
[ -n "$examples" ] || fail "no examples folder installed"
# shellcheck disable=SC2046 # the flags are words
(cd "$examples" && "${CC:-cc}" -Wall -Werror kolmdemo.c standard_streams.c error_message.c port_devices.c \
  $(pkg-config --cflags --libs pekolm) -o "$work/example") || fail "the installed example does not build"
LD_LIBRARY_PATH=$libdir "$kolmsim" --quiet --com 7 -- "$work/example" 7 >/dev/null

step "CMake consumer with pekolm inside it (add_subdirectory)"
cmake -S tests/consumer/cmake -B "$work/subproject" -G Ninja -DPEKOLM_SOURCE_DIR="$PWD"
cmake --build "$work/subproject" --target firmware_check kolmsim
"$work/subproject/pekolm/simulator/kolmsim" --quiet --com 8 --firmware 9 -- \
  "$work/subproject/firmware_check" 8 9

step "Debian packages: cpack -G DEB, unpacked with dpkg-deb -x"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/debs"
tree=$work/tree
for deb in "$work"/debs/*.deb; do
  echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
  dpkg-deb -x "$deb" "$tree"
done
dpkg-deb -f "$work"/debs/pekolm-tools_*.deb Depends | grep "libpekolm1 (= $version)" >/dev/null ||
  fail "pekolm-tools does not depend on libpekolm1"
dpkg-deb -f "$work"/debs/libpekolm-dev_*.deb Depends | grep "libpekolm1 (= $version)" >/dev/null ||
  fail "libpekolm-dev does not depend on libpekolm1"
tree_libdir=$tree/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
readelf -d "$tree_libdir/libpekolm.so.1" | grep 'Library soname: \[libpekolm\.so\.1\]' >/dev/null ||
  fail "the packaged SONAME is not libpekolm.so.1"
LD_LIBRARY_PATH=$tree_libdir "$tree/usr/bin/kolmsim" --quiet --com 5 -- "$tree/usr/bin/kolmdemo" 5
LD_LIBRARY_PATH=$tree_libdir "$tree/usr/bin/kolmsim" --quiet --com 5 -- "$tree/usr/bin/kolmrec" --port 5 --samples 5 --quiet |
  grep "^5,4," >/dev/null || fail "the packaged kolmrec recorded no five samples"
LD_LIBRARY_PATH=$tree_libdir "$tree/usr/bin/kolmsim" --quiet --com 5 -- "$tree/usr/bin/kolmscan" --probe --json |
  grep '"port": 5, .*"probe": "amplifier"' >/dev/null || fail "the packaged kolmscan found no amplifier on port 5"

# A function added to the library without its line in the symbols file would give the packages built
# against it too weak a dependency; one removed would break them.
diff <(nm -D --defined-only "$tree_libdir/libpekolm.so.1" | awk '{ print $3 }' | sort) \
  <(sed -n 's/^ \([^@]*\)@Base .*/\1/p' cmake/debian/symbols | sort) ||
  fail "libpekolm.so.1 does not export what cmake/debian/symbols lists"

step "lintian --pedantic: no error, no warning, and no other tag than those explained here"
# What stays, and why:
# - binary-has-unneeded-section .comment: the compiler's identification in every binary. CPack strips
#   with plain strip, which keeps it; it costs some bytes and nothing else.
# - hardening-no-fortify-functions, for libpekolm.so.1 alone: it is built with _FORTIFY_SOURCE=2 as the
#   programs are, but each of its copying and reading calls either writes into a caller's buffer, whose
#   size the compiler cannot know, or has a size the compiler proves, so that no call needs a check.
# As root lintian says on standard error that it would rather not run; its tags go to standard output.
lintian --pedantic --display-info --fail-on error,warning "$work"/debs/*.deb >"$work/lintian" ||
  { cat "$work/lintian"; fail "lintian found errors or warnings"; }
cat "$work/lintian"
unexplained=$(grep -v -E -e '^I: (libpekolm1|pekolm-tools): binary-has-unneeded-section .comment ' \
  -e '^I: libpekolm1: hardening-no-fortify-functions .usr/lib/[^/]*/libpekolm.so.1.9.$' "$work/lintian" || true)
[ -z "$unexplained" ] || fail "lintian tags not explained in this script: $unexplained"

step "manual pages: man -l, warnings are errors"
pages=$(find "$tree/usr/share/man" -type f | sort)
expected=$(find man -name '*.[1-8]' | wc -l)
[ "$(echo "$pages" | wc -l)" -eq "$expected" ] || fail "expected $expected manual pages (those of man/), found: $pages"
for page in $pages; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man -l $page failed: $warnings"
  [ -z "$warnings" ] || fail "man -l $page: $warnings"
  echo "${page#"$tree"}"
done
step "package check passed"
