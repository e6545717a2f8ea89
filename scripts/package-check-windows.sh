#!/usr/bin/env bash
# The Windows release as its users get it. Builds kolmsim in build/ and the two Windows trees as
# run-tests.sh --windows configures them (build-windows32/, then build-windows/, which takes the 32-bit
# tree's files through PEKOLM_WINDOWS32_TREE), makes pekolm-<version>-windows.zip with cpack and unpacks it.
# Checks there: exactly the files of the documented layout, each binary of its architecture and stripped,
# both DLLs' export tables, both import libraries naming pekolm.dll (pekolm.lib in the short import format,
# with the 51 exports as MSVC names them), the README's Windows section in CR LF; then, under wine against
# kolmsim, kolmdemo.exe from the zip and a C program built against the zip's header and pekolm.lib, 64-bit,
# and 32-bit when this wine can start a 32-bit program at all.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/install-deps.sh --windows

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
step() { echo "== $*"; }
fail() {
  echo "package-check-windows: $*" >&2
  exit 1
}
# Debian's llvm names its tools plainly, llvm-14 (which clang brings) only with the version.
llvm_tool() { command -v "$1" || command -v "$1-14" || fail "no $1 (Debian's llvm)"; }
readobj=$(llvm_tool llvm-readobj)
version=$(sed -n 's/^project(pekolm VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in the project() of CMakeLists.txt"

step "kolmsim in build/, build-windows32/ and build-windows/ (warnings of the CMake code are errors)"
cmake -S . -B build -G Ninja
cmake --build build --target kolmsim
kolmsim=$PWD/build/bin/kolmsim
cmake -S . -B build-windows32 -G Ninja --warn-uninitialized -Werror=dev -Werror=deprecated \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake
cmake --build build-windows32
cmake -S . -B build-windows -G Ninja --warn-uninitialized -Werror=dev -Werror=deprecated \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake -DPEKOLM_HOST_KOLMSIM="$kolmsim" \
  -DPEKOLM_WINDOWS32_TREE="$PWD/build-windows32"
cmake --build build-windows

step "cpack -G ZIP, unpacked"
name=pekolm-$version-windows
cpack --config build-windows/CPackConfig.cmake -B "$work/zip"
[ -f "$work/zip/$name.zip" ] || fail "cpack made no $name.zip: $(ls "$work/zip")"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$work/zip/$name.zip")
tree=$work/unpacked/$name
[ -d "$tree" ] || fail "the zip has no top folder $name"

step "the listing: exactly the files of the layout in the README"
programs="kolmconsole kolmdemo kolmrec kolmscan"
expected=$(
  echo README-windows.txt LICENSE.txt include/pekolm.h
  for arch in . x86; do
    echo "$arch/bin/pekolm.dll $arch/lib/pekolm.lib $arch/lib/libpekolm.dll.a $arch/lib/pekolm.def"
    for program in $programs; do echo "$arch/bin/$program.exe"; done
  done | sed 's|^\./||; s| \./| |g'
)
diff <(tr ' ' '\n' <<<"$expected" | LC_ALL=C sort) <(cd "$tree" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) ||
  fail "the zip's files differ from the layout (< missing, > not expected)"
(cd "$work/unpacked" && find "$name" -type f | LC_ALL=C sort)

step "binaries: architecture, no symbols or debugging sections, the DLLs' exports"
for arch in x86_64 i686; do
  dir=$tree format=pei-x86-64
  [ $arch = i686 ] && dir=$tree/x86 format=pei-i386
  for binary in "$dir/bin/pekolm.dll" "$dir"/bin/*.exe; do
    "$arch-w64-mingw32-objdump" -f "$binary" | grep "file format $format\$" >/dev/null ||
      fail "${binary#"$tree/"} is no $format file"
    ! "$arch-w64-mingw32-objdump" -h "$binary" | grep -E ' \.debug_' >/dev/null ||
      fail "${binary#"$tree/"} keeps debugging sections"
    "$arch-w64-mingw32-nm" "$binary" 2>&1 | grep 'no symbols' >/dev/null || fail "${binary#"$tree/"} keeps its symbols"
  done
  tests/exports/check_dll_exports.sh "$arch-w64-mingw32-objdump" "$dir/bin/pekolm.dll" "$tree/lib/pekolm.def"
  cmp -s devicelib/pekolm.def "$dir/lib/pekolm.def" || fail "${dir#"$tree"}/lib/pekolm.def is not devicelib/pekolm.def"
  [ "$("$arch-w64-mingw32-dlltool" --identify "$dir/lib/libpekolm.dll.a")" = pekolm.dll ] ||
    fail "${dir#"$tree/"}/lib/libpekolm.dll.a does not import from pekolm.dll"
done

step "pekolm.lib: short import records of pekolm.dll, the .def file's 51 names as MSVC links them"
def_names=$(awk '/^ +[^;]/ && $0 ~ /@[0-9]+/ { print $1 }' devicelib/pekolm.def | LC_ALL=C sort)
[ "$(wc -l <<<"$def_names")" -eq 51 ] || fail "devicelib/pekolm.def does not list 51 exports"
for arch in x86_64 i386; do
  lib=$tree/lib/pekolm.lib expect=$def_names
  # MSVC's x86 cdecl names are the C names with an underscore; the C++ names are already decorated.
  # shellcheck disable=SC2001 # line by line
  [ $arch = i386 ] && lib=$tree/x86/lib/pekolm.lib expect=$(sed 's/^[^?]/_&/' <<<"$def_names" | LC_ALL=C sort)
  dump=$("$readobj" "$lib")
  # The import descriptor's object says the machine; each short record, its DLL and its symbols.
  grep "^Arch: $arch\$" <<<"$dump" >/dev/null || fail "${lib#"$tree/"} is not for $arch"
  records=$(awk '/^File: / { file = $2 } /^Format: / { short = ($2 == "COFF-import-file") }
                 short && /^Symbol: / && $2 !~ /^__imp_/ { print file, $2 }' <<<"$dump" | LC_ALL=C sort)
  diff <(awk '{ print "pekolm.dll", $0 }' <<<"$expect") <(echo "$records") ||
    fail "${lib#"$tree/"} differs from devicelib/pekolm.def (< missing, > unexpected; DLL symbol)"
done

step "README-windows.txt: the README's Windows section in CR LF"
readme=$tree/README-windows.txt
[ "$(head -n 1 "$readme")" = "pekolm $version for Windows"$'\r' ] || fail "README-windows.txt has no title line"
awk '!/\r$/ { exit 1 }' "$readme" || fail "README-windows.txt has lines without CR LF"
! grep '^## ' "$readme" >/dev/null || fail "README-windows.txt runs into the README's next section"
grep "$name.zip" "$readme" >/dev/null || fail "README-windows.txt does not describe the zip"

# One wine prefix for every run, the tests' own: making one takes longer than all the runs here.
prefix=$PWD/build-windows/wine-prefix
# firmware_check, built as a user of the zip builds it: its header, and pekolm.lib named as the library.
consumer() {
  local arch=$1 dir=$2 out=$work/consumer-$1
  mkdir "$out"
  "$arch-w64-mingw32-gcc-posix" -Wall -Werror -I"$tree/include" tests/consumer/firmware_check.c \
    "$dir/lib/pekolm.lib" -static -o "$out/firmware_check.exe" ||
    fail "firmware_check does not link with ${dir#"$tree"}/lib/pekolm.lib"
  "$arch-w64-mingw32-objdump" -p "$out/firmware_check.exe" | grep 'DLL Name: pekolm.dll' >/dev/null ||
    fail "firmware_check.exe does not import pekolm.dll"
  cp "$dir/bin/pekolm.dll" "$out/"
}
# Runs kolmdemo.exe of the zip, then firmware_check beside a copy of the zip's DLL, against kolmsim on COM9.
run_on_simulator() {
  local arch=$1 dir=$2 answer
  answer=$(tests/windows/on_simulator.sh "$kolmsim" "$prefix" 9 "$dir/bin/kolmdemo.exe" 9) ||
    fail "$arch kolmdemo.exe of the zip failed: $answer"
  echo "$answer"
  grep 'port 9: mode 1, firmware 12' <<<"$answer" >/dev/null || fail "$arch kolmdemo.exe found no amplifier"
  grep '^[1-9][0-9]* samples in one second' <<<"$answer" >/dev/null || fail "$arch kolmdemo.exe streamed no samples"
  answer=$(tests/windows/on_simulator.sh "$kolmsim" "$prefix" 9 "$work/consumer-$arch/firmware_check.exe" 9 12) ||
    fail "$arch firmware_check.exe failed: $answer"
  echo "$answer"
  [ "$answer" = "pekolm $version, firmware 12"$'\r' ] || fail "$arch firmware_check.exe: expected pekolm $version, firmware 12"
}

step "64-bit: kolmdemo.exe of the zip, and a program on its pekolm.lib, under wine against kolmsim"
consumer x86_64 "$tree"
run_on_simulator x86_64 "$tree"

step "32-bit: the same, when wine runs 32-bit programs"
consumer i686 "$tree/x86"
# A program of no interest asks whether wine starts 32-bit programs, so that a fault of the zip's own
# never passes for a missing 32-bit wine. Its words and its exit status both: a wine without its 32-bit
# half says so on standard error and exits with 0.
printf '#include <stdio.h>\nint main(void) { puts("started"); return 3; }\n' >"$work/probe.c"
i686-w64-mingw32-gcc-posix "$work/probe.c" -static -o "$work/probe.exe"
status=0
answer=$(tests/windows/on_wine.sh "$prefix" "$work/probe.exe" 2>/dev/null) || status=$?
if [ $status -eq 3 ] && [ "$answer" = started$'\r' ]; then
  run_on_simulator i686 "$tree/x86"
else
  echo "NOTE: this wine cannot start a 32-bit program (no wine32?): the 32-bit files are checked, not run"
fi
step "Windows package check passed"
