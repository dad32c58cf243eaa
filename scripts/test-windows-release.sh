#!/usr/bin/env bash
# The windows-release tier of the test command: the release package as a
# Windows developer gets it.
#
#  1. `cmake --build build-win32 --target package`, the README's command,
#     which also brings build-win64 (the x64 half) up to date.
#  2. tests/windows/check_release.py on Kavex-<version>-windows.zip: every
#     file present and nothing else, DLLs and tools stripped, version
#     resources readable and of the project version, exports unchanged,
#     the .def files, Kavex.lib's imports, the text files.
#  3. The examples as a developer uses them from the unpacked zip: the C
#     example built with the README's MinGW command for each word size; the
#     Python example compiled; the Pascal unit and program compiled by Free
#     Pascal.
#  4. The stripped programs of the zip run: x86\kavexctl.exe under 32-bit
#     Wine (a win32 prefix), x64\kavexctl.exe under 64-bit Wine, each with
#     --version and with a read that loads the Kavex.dll beside it. Both Wine
#     prefixes are private to this tier (build-win32/release-wine/) and have
#     no COM ports.
#  5. Kavex inside a Windows project (tests/install/embed configured with
#     the MinGW toolchain): no release package, examples or documentation
#     of Kavex's own come with it.
# That the DLLs, kavexctl.exe and an MSVC-style link against Kavex.lib read
# codes under Wine is checked by the windows-32 and windows-64 tiers, on the
# same files before they are stripped.
#
# Results: test-results/windows-release/release-checks.xml.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)
results=$root/test-results/windows-release
checks=$results/release-checks.xml
rm -rf "$results"
mkdir -p "$results"

cannot_run() {
  echo "$1" >"$results/could-not-run"
  echo "   windows-release could not run: $1"
  exit 1
}
record() { python3 "$root/scripts/lib/results.py" record "$checks" "$@"; }

for tool in cmake python3 i686-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc-posix i686-w64-mingw32-objdump \
  x86_64-w64-mingw32-objdump llvm-dlltool fpc /usr/lib/wine/wine /usr/lib/wine/wine64 /usr/lib/wine/wineserver; do
  command -v "$tool" >/dev/null || cannot_run "$tool is not installed (scripts/install-deps.sh installs it)"
done

version=$(sed -n 's/^project(Kavex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || cannot_run "no project version in CMakeLists.txt"
zip=build-win32/Kavex-$version-windows.zip

# ---- 1. the package -------------------------------------------------------------
echo "-- cmake --build build-win32 --target package"
rm -f "$zip"
if [ ! -f build-win32/CMakeCache.txt ]; then
  cmake -S . -B build-win32 --toolchain cmake/toolchains/i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKAVEX_BUILD_TESTS=ON -DKAVEX_WERROR=ON || cannot_run "CMake could not configure build-win32"
fi
cmake -S . -B build-win32 >/dev/null || cannot_run "CMake could not configure build-win32"
if cmake --build build-win32 -j"$jobs" --target package >"$results/package.log" 2>&1 && [ -f "$zip" ]; then
  tail -n 3 "$results/package.log" | sed 's/^/   /'
  record pass Release.PackageTargetMakesTheZip
else
  tail -n 20 "$results/package.log" | sed 's/^/   /'
  record fail Release.PackageTargetMakesTheZip "no $zip (see $results/package.log)"
  exit 1
fi

# ---- 2. its contents --------------------------------------------------------------
echo "-- The contents of $zip"
python3 -c "import sys, zipfile; [print('   %9d  %s' % (i.file_size, i.filename)) for i in zipfile.ZipFile(sys.argv[1]).infolist() if not i.filename.endswith('/')]" "$zip"
python3 tests/windows/check_release.py --version "$version" --source . --build-x86 build-win32 \
  --build-x64 "$(sed -n 's/^KAVEX_PACKAGE_X64_BUILD:PATH=//p' build-win32/CMakeCache.txt)" "$zip" >"$results/contents.log" 2>&1
sed 's/^/   /' "$results/contents.log"
while read -r verdict name why; do
  case $verdict in
    ok) record pass "Release.$name" ;;
    FAILED) record fail "Release.${name%:}" "$why" ;;
  esac
done <"$results/contents.log"
grep -q '^ok Files$' "$results/contents.log" || grep -q '^FAILED Files' "$results/contents.log" ||
  record fail Release.Contents "check_release.py did not run (see $results/contents.log)"

# ---- 3. the examples, from the unpacked zip -------------------------------------------
unpacked=$(mktemp -d "${TMPDIR:-/tmp}/kavex-release.XXXXXX")
wine_work=$root/build-win32/release-wine
cleanup() {
  # The Wine servers of this tier's prefixes (and with them their programs).
  local bits
  for bits in 32 64; do
    [ ! -d "$wine_work/prefix$bits" ] || WINEPREFIX=$wine_work/prefix$bits /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  done
  rm -rf "$unpacked"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
python3 -c "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])" "$zip" "$unpacked"
cd "$unpacked/Kavex-$version-windows"

echo "-- The C example with the README's MinGW command, x86 and x64"
ok=1 why=""
for pair in i686-w64-mingw32:x86 x86_64-w64-mingw32:x64; do
  compiler=${pair%%:*}-gcc-posix arch=${pair##*:}
  # The README's line, with the example for app.c.
  echo "   $compiler -I include examples/c/read_card.c -L $arch -lkavex -o read_card_$arch.exe"
  if ! "$compiler" -Wall -Wextra -Werror -I include examples/c/read_card.c -L "$arch" -lkavex -o "read_card_$arch.exe" 2>&1 |
    sed 's/^/   /'; then ok=0 why="the $arch build failed"; fi
  [ -f "read_card_$arch.exe" ] || { ok=0 why="the $arch build made no program"; continue; }
  # It imports the eight functions from Kavex.dll by their undecorated names.
  imports=$(${pair%%:*}-objdump -p "read_card_$arch.exe" | awk '/DLL Name: Kavex.dll/ { on = 1; next } on && NF == 0 { exit } on && $1 ~ /^[0-9a-f]+$/ { print $NF }' | sort | tr '\n' ' ')
  echo "   read_card_$arch.exe imports from Kavex.dll: $imports"
  [ "$imports" = "CloseCom GetCardCode GetIDVersion GetOtherCardCode OpenCom " ] ||
    { ok=0 why="read_card_$arch.exe imports $imports"; }
done
if [ $ok = 1 ]; then record pass Release.CExampleBuildsWithTheMinGWCommand; else record fail Release.CExampleBuildsWithTheMinGWCommand "$why"; fi

echo "-- The Python example compiles"
if python3 -c 'import ast, sys; ast.parse(open(sys.argv[1]).read(), sys.argv[1])' examples/python/read_card.py 2>"$results/python.log"; then
  record pass Release.PythonExampleCompiles
else
  sed 's/^/   /' "$results/python.log"
  record fail Release.PythonExampleCompiles "$(head -n 1 "$results/python.log")"
fi

echo "-- The Pascal unit and program compile (Free Pascal, Delphi mode)"
mkdir -p "$unpacked/pascal"
if fpc -vw -Sew -FE"$unpacked/pascal" -s examples/pascal/ReadCard.dpr >"$results/pascal.log" 2>&1; then
  record pass Release.PascalExampleCompiles
else
  sed 's/^/   /' "$results/pascal.log"
  record fail Release.PascalExampleCompiles "Free Pascal reported errors (see above)"
fi

# ---- 4. the stripped programs under Wine -------------------------------------------
wine_of() { if [ "$1" = 32 ]; then wine=/usr/lib/wine/wine; else wine=/usr/lib/wine/wine64; fi; }

# wine_run BITS PROGRAM ARGS...: runs a Windows program under the Wine of
# BITS (32: /usr/lib/wine/wine, win32 prefix; 64: wine64, win64 prefix) in
# this tier's prefix of that word size, with Wine's mount manager off, so
# that the prefix has no COM ports. Output: both streams, without CRs, in
# $output; exit status in $status.
wine_run() {
  local bits=$1 wine arch
  shift
  wine_of "$bits"
  if [ "$bits" = 32 ]; then arch=win32; else arch=win64; fi
  output=$(env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$wine_work/prefix$bits" WINEARCH=$arch WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=;mountmgr.sys=d" timeout 300 "$wine" "$@" </dev/null 2>&1)
  status=$?
  output=${output//$'\r'/}
}

echo "-- x86\\kavexctl.exe under 32-bit Wine, x64\\kavexctl.exe under 64-bit Wine"
mkdir -p "$wine_work"
for pair in 32:x86 64:x64; do
  bits=${pair%%:*} arch=${pair##*:}
  ok=1 why=""
  # Wine's loader itself first: a kernel without 32-bit support runs no
  # 32-bit program, /usr/lib/wine/wine included. As in the windows-32 tier,
  # that run is then skipped with the reason (KAVEX_REQUIRE_32BIT=1: failed).
  wine_of "$bits"
  if ! started=$( (exec "$wine" --version) 2>&1); then
    if grep -q "Exec format error" <<<"$started"; then
      ok=0 why="this machine's kernel runs no $bits-bit programs ($wine: Exec format error), so $arch\kavexctl.exe was not run"
      [ "${KAVEX_REQUIRE_32BIT:-0}" = 1 ] || ok=skip
    else
      ok=0 why="$wine does not start: $(tail -n 1 <<<"$started")"
    fi
  else
    [ -f "$wine_work/prefix$bits/system.reg" ] || echo "   creating the $bits-bit Wine prefix (once, about 10-20 s)"
    wine_run "$bits" wineboot
    [ "$status" -eq 0 ] || { ok=0 why="$bits-bit Wine cannot start: $(tail -n 1 <<<"$output")"; }
  fi
  if [ $ok = 1 ]; then
    wine_run "$bits" "$arch/kavexctl.exe" --version
    echo "   $arch\kavexctl.exe --version (exit $status): $output"
    [ "$status" -eq 0 ] && [ "$output" = "kavexctl $version" ] ||
      { ok=0 why="$arch\kavexctl.exe --version did not print 'kavexctl $version'"; }
    # A read loads the Kavex.dll beside kavexctl.exe and calls its OpenComEx,
    # which finds no COM2 in this prefix.
    wine_run "$bits" "$arch/kavexctl.exe" read COM2 --count 1
    echo "   $arch\kavexctl.exe read COM2 (exit $status):"
    sed 's/^/     /' <<<"$output"
    if grep -q "cannot load" <<<"$output"; then
      [ $ok = 0 ] || why="$arch\kavexctl.exe did not load the Kavex.dll beside it"
      ok=0
    elif ! grep -q "cannot open COM2" <<<"$output"; then
      [ $ok = 0 ] || why="$arch\kavexctl.exe read COM2 did not say that COM2 cannot be opened"
      ok=0
    fi
  fi
  if [ $ok = 1 ]; then
    record pass "Release.KavexctlExeRuns$arch"
  elif [ $ok = skip ]; then
    echo "   skipped: $why"
    record skip "Release.KavexctlExeRuns$arch" "$why"
  else
    echo "   FAILED: $why"
    record fail "Release.KavexctlExeRuns$arch" "$why"
  fi
done

# ---- 5. Kavex inside a Windows project --------------------------------------------------
echo "-- tests/install/embed with the MinGW toolchain: Kavex inside another project"
embed=$unpacked/embed
if cmake -S "$root/tests/install/embed" -B "$embed" --toolchain "$root/cmake/toolchains/i686-w64-mingw32.cmake" \
  -DKAVEX_SOURCE_DIR="$root" >"$results/embed.log" 2>&1; then
  record pass Release.EmbeddedKavexBringsNoPackaging
else
  tail -n 10 "$results/embed.log" | sed 's/^/   /'
  record fail Release.EmbeddedKavexBringsNoPackaging "$(grep -m 1 -A 1 'CMake Error' "$results/embed.log" | tail -n 1)"
fi

cd "$root"
read -r passed failed skipped < <(python3 scripts/lib/results.py count "$results" | head -n 1)
echo "== windows-release: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
