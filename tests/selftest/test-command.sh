#!/usr/bin/env bash
# The test command's own test, run as its self-test tier.
#
# In a copy of the working tree (what is committed and what is not, without
# any build directory), as a new user would after cloning:
#   1. ./scripts/demo.sh runs and reads its codes;
#   2. then ./scripts/test-all.sh (native tier only) passes and reports the
#      native tier's tests, counted from CTest's own results: the demo's
#      build/ must not keep the tests from being built and run;
#   3. with KAVEX_SELFTEST=failing-test, one test that fails is added; the
#      command must exit non-zero with exactly that failure counted;
#   4. with KAVEX_SELFTEST=no-tests, the native tier selects no test; the
#      command must fail, saying the tier ran no test.
# KAVEX_SELFTEST is this script's switch and nothing else sets it.
#
# Each step is one check in test-results/self-test/test-command.xml.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
results=$root/test-results/self-test/test-command.xml
record() { python3 "$root/scripts/lib/results.py" record "$results" "$@"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kavex-selftest.XXXXXX")
trap 'rm -rf "$work"' EXIT
copy=$work/kavex
mkdir -p "$copy"
# Every file git knows or would add, as it is in the working tree now.
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
  tar --null -T - -cf - | tar -C "$copy" -xf -
cd "$copy"

# The last line of a run's summary, and the native tier's counts from the
# results files that run left.
last_line() { tail -n 1 "$1" | tr -d '\r'; }
native_counts() { python3 scripts/lib/results.py count test-results/native | sed -n 1p; }

# 1. The demo, first, exactly as the README has it.
echo "-- ./scripts/demo.sh in a fresh copy"
if ./scripts/demo.sh >"$work/demo.log" 2>&1 && grep -q '[0-9]\{10\}' "$work/demo.log"; then
  record pass TestCommand.DemoRunsFirst
else
  tail -n 20 "$work/demo.log"
  record fail TestCommand.DemoRunsFirst "the demo failed or read no code (see above)"
fi

# 2. Then the test command.
echo "-- ./scripts/test-all.sh (native tier) after the demo"
KAVEX_TIERS=native ./scripts/test-all.sh >"$work/run.log" 2>&1
code=$?
read -r passed failed skipped <<<"$(native_counts)"
line=$(last_line "$work/run.log")
echo "   exit $code; native results: ${passed:-none} passed, ${failed:-none} failed; last line: $line"
if [ "$code" -eq 0 ] && [ "${passed:-0}" -gt 0 ] && [ "${failed:-1}" -eq 0 ] &&
   [ "$line" = "Tests: $passed passed, 0 failed, ${skipped:-0} skipped" ]; then
  record pass TestCommand.RunsTheNativeTestsAfterTheDemo
else
  tail -n 30 "$work/run.log"
  record fail TestCommand.RunsTheNativeTestsAfterTheDemo "exit $code, last line '$line'"
fi

# 3. One failing test fails the command and is counted.
echo "-- ./scripts/test-all.sh with one deliberately failing test"
KAVEX_SELFTEST=failing-test KAVEX_TIERS=native ./scripts/test-all.sh >"$work/fail.log" 2>&1
code=$?
read -r passed failed skipped <<<"$(native_counts)"
line=$(last_line "$work/fail.log")
echo "   exit $code; native results: ${passed:-none} passed, ${failed:-none} failed; last line: $line"
if [ "$code" -ne 0 ] && [ "${failed:-0}" -eq 1 ] && [ "$line" = "Tests: $passed passed, 1 failed, ${skipped:-0} skipped" ] &&
   grep -q 'FAILED  SelfTest.DeliberateFailure' "$work/fail.log"; then
  record pass TestCommand.AFailingTestFailsTheCommand
else
  tail -n 30 "$work/fail.log"
  record fail TestCommand.AFailingTestFailsTheCommand "exit $code, last line '$line'"
fi

# 4. A tier that runs no test fails.
echo "-- ./scripts/test-all.sh with a native tier that selects no test"
KAVEX_SELFTEST=no-tests KAVEX_TIERS=native ./scripts/test-all.sh >"$work/empty.log" 2>&1
code=$?
line=$(last_line "$work/empty.log")
echo "   exit $code; last line: $line"
if [ "$code" -ne 0 ] && [ "$line" = "Tests: 0 passed, 1 failed, 0 skipped" ] &&
   grep -q 'native .*FAILED: ran no test' "$work/empty.log"; then
  record pass TestCommand.ATierThatRanNoTestFails
else
  tail -n 30 "$work/empty.log"
  record fail TestCommand.ATierThatRanNoTestFails "exit $code, last line '$line'"
fi
