#!/usr/bin/env bash
# The project's test command: installs what is missing, builds, and runs
# every test tier, then prints one summary of them all.
#
#   native       the native build (libkavex.so, kavexctl) and its GoogleTest
#                suites on pseudo-terminals, through CTest
#   install      installed into a temporary prefix: hosts built with
#                pkg-config, find_package and add_subdirectory, and the
#                ctypes example, reading from the simulated reader; the
#                Debian package and lintian (scripts/test-install.sh)
#   windows-64   the 64-bit Windows build and its programs under 64-bit Wine
#   windows-32   the 32-bit Windows build, the product, under 32-bit Wine
#   windows-release  the release package (Kavex-<version>-windows.zip) and
#                its contents, as a Windows developer gets them
#   asan-ubsan   the native tests built with clang, AddressSanitizer and
#                UndefinedBehaviorSanitizer (build-asan/), through CTest;
#                the first finding ends a test and fails it
#   tsan         the threading tests (every test that runs more than one
#                thread) built with ThreadSanitizer (build-tsan/)
#   fuzz         each libFuzzer target of tests/fuzz/ replays its starting
#                corpus and fuzzes for 30 s (KAVEX_FUZZ_SECONDS), one test
#                case per target (scripts/fuzz.sh)
#   self-test    this command itself: in a copy of the tree, the demo first,
#                then this command, which must report the native tests, and
#                a deliberately failing test, which must make it fail
#
# KAVEX_TIERS="native windows-64" runs only the tiers named.
#
# Every tier runs to its end whatever happened in an earlier one. Each writes
# JUnit XML files (CTest's and GoogleTest's own, and the checks of the tier's
# scripts) into test-results/<tier>/, and the counts come from those files.
# A tier that ran no test, or could not run at all, counts as failed. The
# last line is "Tests: N passed, M failed, K skipped"; the exit status is 0
# only when nothing failed.
#
# The native tier always configures build/ with its tests, kavexctl and the
# benchmarks switched on and no sanitizer or fuzzing, whatever an earlier
# command (the demo, a plain configure) left there; a build/ configured for
# another machine (a toolchain file, a cross compiler) is started afresh.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)
results=$root/test-results
all_tiers=(native asan-ubsan tsan fuzz install windows-64 windows-32 windows-release self-test)
read -r -a tiers <<<"${KAVEX_TIERS:-${all_tiers[*]}}"

for tier in "${tiers[@]}"; do
  [[ " ${all_tiers[*]} " == *" $tier "* ]] || { echo "test-all: unknown tier '$tier' (tiers: ${all_tiers[*]})" >&2; exit 2; }
done

# Writes why a tier could not run; the summary shows it.
cannot_run() {
  mkdir -p "$results/$1"
  echo "$2" >"$results/$1/could-not-run"
  echo "   $1 could not run: $2"
}

# Why build/ cannot be configured again for this machine: it was set up
# with a toolchain file or a compiler for another machine (or one that is
# gone), which a new configure keeps. Prints nothing when it can.
foreign_build() {
  local cache=build/CMakeCache.txt toolchain compiler target
  [ -f "$cache" ] || return 0
  toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$cache")
  if [ -n "$toolchain" ]; then echo "configured with the toolchain file $toolchain"; return; fi
  if grep -qs 'set(CMAKE_CROSSCOMPILING "TRUE")' build/CMakeFiles/*/CMakeSystem.cmake; then
    echo "configured for cross compiling"; return
  fi
  compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$cache")
  [ -n "$compiler" ] || return 0
  if ! command -v "$compiler" >/dev/null; then echo "configured with $compiler, which is not installed"; return; fi
  # The compiler's target, as arch-vendor-os: another machine when the
  # architecture differs from this one's or the system is not Linux.
  target=$("$compiler" -dumpmachine 2>/dev/null) || return 0
  if [ "${target%%-*}" != "$(uname -m)" ] || [[ $target != *linux* ]]; then
    echo "configured with $compiler, a compiler for $target"
  fi
}

tier_native() {
  # Every option that decides what is built and how is forced, whatever an
  # earlier configure (the demo, a plain configure, a sanitizer or fuzz
  # build) left in build/; a build/ for another machine is started afresh.
  local foreign
  foreign=$(foreign_build)
  if [ -n "$foreign" ]; then
    echo "   build/ was $foreign: starting build/ afresh"
    rm -rf build
  fi
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVEX_BUILD_TESTS=ON -DKAVEX_BUILD_TOOLS=ON \
    -DKAVEX_BUILD_BENCHMARKS=ON -DKAVEX_WERROR=ON -DKAVEX_CHECK_FORMAT=ON -DKAVEX_SANITIZE= \
    -DKAVEX_BUILD_FUZZERS=OFF || { cannot_run native "CMake could not configure build/"; return 1; }
  cmake --build build -j"$jobs" || { cannot_run native "build/ did not build"; return 1; }
  local ctest_args=()
  # The self-test's switch (tests/selftest/test-command.sh): a native tier
  # whose CTest selects no test at all.
  if [ "${KAVEX_SELFTEST:-}" = "no-tests" ]; then ctest_args=(-R '^NoTestHasThisName$'); fi
  ctest --test-dir build -j"$jobs" --output-on-failure --output-junit "$results/native/ctest.xml" \
    "${ctest_args[@]}"
}

tier_install() { ./scripts/test-install.sh; }

# The sanitizer builds: clang, each in a build directory of its own.
sanitized_build() {
  local tier=$1 dir=$2 sanitizers=$3
  command -v clang++ >/dev/null || { cannot_run "$tier" "clang++ is not installed"; return 1; }
  cmake -S . -B "$dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKAVEX_BUILD_TESTS=ON -DKAVEX_WERROR=ON -DKAVEX_SANITIZE="$sanitizers" || { cannot_run "$tier" "CMake could not configure $dir/"; return 1; }
  cmake --build "$dir" -j"$jobs" || { cannot_run "$tier" "$dir/ did not build"; return 1; }
}

# Known findings that are being fixed are suppressed, each with its reason,
# in tests/sanitizers/.
tier_asan-ubsan() {
  sanitized_build asan-ubsan build-asan address,undefined || return 1
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_string_checks=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0 \
    ctest --test-dir build-asan -j"$jobs" --output-on-failure --output-junit "$results/asan-ubsan/ctest.xml"
}

# The threading tests: every test in which more than one thread runs.
#  - the suites built on threads: the handle table's calls racing a close,
#    the named objects (mutexes owned by threads and processes), the POSIX
#    layer's I/O service thread (overlapped and event waits, line control,
#    completion routines, cancelling), the card-code reads that a test plays
#    or ends from a background thread, the debug log written from threads,
#    the settings faults (which check the settings lock from another thread);
#  - kavexctl, whose commands take Ctrl-C on a thread of their own and end a
#    read by closing the port from it, and whose monitor and demo run threads;
#  - the loads refused at once, each bounded on a thread of its own;
#  - any other test whose name says so (Thread, Concurrent, Racing, Cancel).
threading_suites='HandleTableTest|NamedObjectsTest|WaitsTest|OverlappedCommTest|LineControlTest|SerialAsyncTest'
threading_suites+='|GetCardCodeTest|GetCardCodeExTest|FilterDigitsTest|DebugLogTest|SettingsFaultTest|KavexctlTest'
threading_tests="(^|/)($threading_suites)\\.|RefusedAtOnce|Thread|Concurrent|Racing|Cancel|CtrlC|Demo|Monitor"
tier_tsan() {
  sanitized_build tsan build-tsan thread || return 1
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/sanitizers/tsan.supp \
    ctest --test-dir build-tsan -j"$jobs" --output-on-failure --output-junit "$results/tsan/ctest.xml" \
    -R "$threading_tests"
}

tier_fuzz() {
  ./scripts/fuzz.sh --seconds "${KAVEX_FUZZ_SECONDS:-30}" --results "$results/fuzz/fuzz.xml"
  local code=$?
  if [ "$code" -eq 3 ]; then cannot_run fuzz "the fuzz targets could not be built (see above)"; fi
  return $code
}

tier_windows-64() { ./scripts/test-windows.sh 64; }
tier_windows-32() { ./scripts/test-windows.sh 32; }
tier_windows-release() { ./scripts/test-windows-release.sh; }
tier_self-test() { ./tests/selftest/test-command.sh; }

echo "== Installing what is missing"
if ! ./scripts/install-deps.sh; then
  echo "   scripts/install-deps.sh failed; the tiers that need what it installs will say so"
fi

declare -A status
for tier in "${tiers[@]}"; do
  echo
  echo "== Tier $tier"
  rm -rf "${results:?}/$tier"
  mkdir -p "$results/$tier"
  "tier_$tier"
  status[$tier]=$?
done

# ---- summary ----------------------------------------------------------------
echo
echo "== Summary of every tier"
passed=0 failed=0 skipped=0
for tier in "${tiers[@]}"; do
  mapfile -t lines < <(python3 scripts/lib/results.py count "$results/$tier" 2>&1)
  read -r p f s <<<"${lines[0]:-0 0 0}"
  [[ "$p $f $s" =~ ^[0-9]+\ [0-9]+\ [0-9]+$ ]] || { p=0 f=0 s=0; lines=("0 0 0" "failed results unreadable: ${lines[*]}"); }
  why=""
  if [ -f "$results/$tier/could-not-run" ]; then
    why="could not run: $(cat "$results/$tier/could-not-run")"
  elif [ $((p + f + s)) -eq 0 ]; then
    why="ran no test"
  elif [ "${status[$tier]}" -ne 0 ] && [ "$f" -eq 0 ]; then
    why="ended with status ${status[$tier]} although no test failed"
  fi
  if [ -n "$why" ]; then f=$((f + 1)); fi
  printf '   %-15s %d passed, %d failed, %d skipped%s\n' "$tier" "$p" "$f" "$s" "${why:+  (FAILED: $why)}"
  for line in "${lines[@]:1}"; do
    case $line in
      failed*) echo "      FAILED  ${line#failed }" ;;
      skipped*) echo "      skipped ${line#skipped }" ;;
    esac
  done
  passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
done
echo "Tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
