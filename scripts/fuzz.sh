#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz/ (clang, ASan and UBSan, in
# build-fuzz/) and runs each of them: first its starting corpus is replayed,
# then it fuzzes for a bounded time, starting from that corpus and from what
# earlier runs found (build-fuzz/corpus/<target>/, kept between runs).
#
#   scripts/fuzz.sh [--seconds N] [--results FILE] [-- LIBFUZZER-OPTION...] [TARGET...]
#
#   --seconds N     fuzzing time per target (default 30)
#   --results FILE  one JUnit test case per target, recorded with
#                   scripts/lib/results.py (the test command's fuzz tier)
#   TARGET          fuzz_sealed_file, fuzz_card_code, fuzz_date_time,
#                   fuzz_kavexctl_args
#                   (default: all of them)
#   after --         libFuzzer options for the fuzzing (e.g. -fork=2: two fuzzing
#                   processes; -dict=FILE)
#
# A target fails when replaying the starting corpus or fuzzing ends in a crash, a
# sanitizer report, a leak, a time-out or a failed check; the input that did
# it is saved as build-fuzz/artifacts/<target>/crash-* (replay it with
# build-fuzz/tests/fuzz/<target> FILE). The exit status is 0 only when every
# target passed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=30
results=""
extra=()
targets=()
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --results) results=$2; shift 2 ;;
    --) shift; extra=("$@"); break ;;
    *) targets+=("$1"); shift ;;
  esac
done
record() { [ -z "$results" ] || python3 "$root/scripts/lib/results.py" record "$results" "$@"; }

build=$root/build-fuzz
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is not installed (scripts/install-deps.sh installs it)" >&2
  exit 3
fi
mkdir -p "$build"
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKAVEX_BUILD_FUZZERS=ON -DKAVEX_SANITIZE=address,undefined -DKAVEX_BUILD_TESTS=OFF -DKAVEX_BUILD_TOOLS=OFF \
  >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; echo "fuzz: build-fuzz/ did not configure" >&2; exit 3; }
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" || { echo "fuzz: build-fuzz/ did not build" >&2; exit 3; }
if [ ${#targets[@]} -eq 0 ]; then mapfile -t targets <"$build/tests/fuzz/targets.txt"; fi

# Findings end the process at once; leaks count too.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Per input: at most 10 s and 2 GB; the targets' own output is not wanted
# (libFuzzer and the sanitizers still report on stderr).
common=(-timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1)

status=0
for target in "${targets[@]}"; do
  program=$build/tests/fuzz/$target
  starters=$root/tests/fuzz/corpus/$target
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  log=$build/logs/$target.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  if [ ! -x "$program" ] || [ ! -d "$starters" ]; then
    echo "   $target: no such target or no starting corpus (tests/fuzz/corpus/$target/)"
    record fail "Fuzz.$target" "no such target or no starting corpus"
    status=1
    continue
  fi
  why=""
  if ! "$program" "${common[@]}" -runs=0 -artifact_prefix="$artifacts/" "$starters" >"$log" 2>&1; then
    why="replaying the starting corpus failed"
  elif ! echo "== fuzzing" >>"$log" || ! "$program" "${common[@]}" -max_total_time="$seconds" -artifact_prefix="$artifacts/" "${extra[@]}" \
      "$corpus" "$starters" >>"$log" 2>&1; then
    why="fuzzing found a failure"
  fi
  # Executions of the fuzzing: its closing line, or in fork mode the last
  # progress line ("#N: ...").
  runs=$(sed -n '/^== fuzzing/,$p' "$log" | grep -o -e '^Done [0-9]* runs' -e '^#[0-9]*:' | tail -n 1 | grep -o '[0-9]*')
  inputs=$(find "$corpus" -type f | wc -l)
  if [ -z "$why" ]; then
    echo "   $target: passed, ${runs:-0} executions in ${seconds} s, corpus of $inputs inputs"
    record pass "Fuzz.$target"
  else
    artifact=$(grep -o "Test unit written to [^ ]*" "$log" | tail -n 1 | sed 's/Test unit written to //')
    grep -E 'ERROR|SUMMARY|expected|Test unit' "$log" | tail -n 8 | sed 's/^/      /'
    echo "   $target: FAILED: $why${artifact:+ (input: $artifact)}; log: $log"
    record fail "Fuzz.$target" "$why${artifact:+; input $artifact}"
    status=1
  fi
done
exit $status
