#!/usr/bin/env bash
# Tier 2 of the test command: the Windows builds of Kavex and their tests.
#
#  1. Builds Kavex.dll for 32-bit and 64-bit Windows (cmake/toolchains/).
#  2. Checks the export table of both DLLs: names, ordinals, system imports
#     only, and on 32-bit the stdcall argument sizes (CTest runs
#     tests/windows/check_exports.py).
#  3. Runs the 64-bit Windows programs under Wine against pseudo-terminals
#     mapped as COM ports: the module load/unload test, the host example and
#     kavex_tests.exe, one process per test as on the native tier.
# 32-bit Windows programs cannot run on these machines (no 32-bit kernel
# support), so the 32-bit DLL is judged by its export table and code.
#
# The COM port map (tests/support/fake_reader.h): COM1..COM4 are the ports the
# module opens, each joined by socat to its partner COM11..COM14, which the
# tests open to play the card reader; COM5..COM9 have no device. Wine finds
# them through $WINEPREFIX/dosdevices/comN -> build-wine/lines/comN (a stable
# link that socat points at its pty); the same names are declared under
# HKLM\Software\Wine\Ports so that Wine's mount manager keeps them there.
#
# Environment: KAVEX_WINE_FILTER=pattern runs only the matching tests
# (grep -E on Suite.Test names).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
work=$root/build-wine
lines=$work/lines
logs=$work/logs
shim=$work/tiocmget_shim.so
close_log=$logs/pty-closes.log   # every pty descriptor Wine closes, in order (the shim)

failures=()
fail() {
  echo "FAILED: $*"
  failures+=("$*")
}

# ---- 1. builds ----------------------------------------------------------------
echo "-- Building Kavex.dll for 32-bit and 64-bit Windows"
for arch in 32 64; do
  case $arch in
    32) triplet=i686-w64-mingw32 ;;
    64) triplet=x86_64-w64-mingw32 ;;
  esac
  mkdir -p "build-win$arch"
  cmake -S . -B "build-win$arch" --toolchain "cmake/toolchains/$triplet.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >"build-win$arch/configure.log" 2>&1 ||
    { cat "build-win$arch/configure.log"; exit 1; }
done
# The 32-bit test programs cannot run here; the DLL, the host example and the
# module test are built to show that they build.
cmake --build build-win32 -j"$jobs" --target kavex kavex_host kavex_module_test
cmake --build build-win64 -j"$jobs"

# ---- 2. export tables ---------------------------------------------------------------
echo "-- Checking the export tables"
for arch in 32 64; do
  ctest --test-dir "build-win$arch" --output-on-failure -R KavexDllExports || fail "export table of the ${arch}-bit Kavex.dll"
done

# ---- 3. Wine ------------------------------------------------------------------------
echo "-- Setting up Wine and the COM port map"
mkdir -p "$work" "$lines" "$logs"
rm -f "$logs"/*
cc -shared -fPIC -O2 -Wall -Wextra -Werror -o "$shim" tests/windows/tiocmget_shim.c -ldl

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;mountmgr.sys=d"
unset DISPLAY WAYLAND_DISPLAY

socat_pids=()
cleanup() {
  # Everything this script started: the Wine processes of this prefix, then
  # the socat bridges (which remove their links).
  "$wineserver" -k >/dev/null 2>&1 || true
  for pid in "${socat_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${socat_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Runs a Windows program with the TIOCMGET shim. Its output goes to a file,
# never to a pipe: Wine's service processes inherit the descriptors and would
# keep a pipe open until the end of the run.
run_wine() {
  LD_PRELOAD=$shim "$wine" "$@"
}

# Waits up to $2 seconds for a condition (a command) to hold.
wait_for() {
  local condition=$1 limit=$2 waited=0
  until eval "$condition"; do
    if [ "$waited" -ge $((limit * 20)) ]; then return 1; fi
    sleep 0.05
    waited=$((waited + 1))
  done
}

# The reader lines first: Wine's mount manager finds them at start-up.
rm -f "$lines"/com*
for n in 1 2 3 4; do
  socat pty,raw,echo=0,link="$lines/com$n" pty,raw,echo=0,link="$lines/com$((n + 10))" \
    </dev/null >/dev/null 2>"$logs/socat$n.log" &
  socat_pids+=($!)
done
for n in 1 2 3 4 11 12 13 14; do
  wait_for "[ -e '$lines/com$n' ]" 20 || { echo "socat did not create $lines/com$n"; exit 1; }
done

# The COM port map. Wine's mount manager would map the machine's own serial
# devices to the lowest free COM numbers at start-up and give a port that it
# knows but cannot open a stand-in device that opens; it is switched off
# (mountmgr.sys=d), so the links below are exactly what Wine sees: the lines,
# and for COM5..COM9 links to nothing. The lines are also declared under
# HKLM\Software\Wine\Ports, which keeps them in place should the mount
# manager run after all.
{
  printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
  for n in 1 2 3 4 11 12 13 14; do printf '"COM%d"="%s"\n' "$n" "$lines/com$n"; done
  for n in 5 6 7 8 9; do printf '"COM%d"=-\n' "$n"; done
} >"$work/ports.reg"
"$wineserver" -k >/dev/null 2>&1 || true   # a server left over from an interrupted run
[ -f "$WINEPREFIX/system.reg" ] || echo "   creating the Wine prefix $WINEPREFIX (once, about 10 s)"
mkdir -p "$WINEPREFIX"
: >"$close_log"
export KAVEX_SHIM_CLOSE_LOG=$close_log
LD_PRELOAD=$shim "$wineserver" -p   # persistent for the run; ended by cleanup
run_wine wineboot </dev/null >"$logs/wineboot.log" 2>&1 || { cat "$logs/wineboot.log"; exit 1; }
if ! cmp -s "$work/ports.reg" "$WINEPREFIX/kavex-ports.reg" 2>/dev/null; then
  run_wine regedit /S "$(printf 'Z:%s' "$work/ports.reg" | tr / '\\')" </dev/null >"$logs/regedit.log" 2>&1 ||
    { cat "$logs/regedit.log"; exit 1; }
  cp "$work/ports.reg" "$WINEPREFIX/kavex-ports.reg"
fi
for n in 1 2 3 4 5 6 7 8 9 11 12 13 14; do
  ln -sfn "$lines/com$n" "$WINEPREFIX/dosdevices/com$n"
done

# Runs a Python snippet on a pty without making it anyone's controlling tty.
pty_do() {
  python3 - "$@" <<'EOF'
import os, sys, termios
action, path = sys.argv[1], sys.argv[2]
fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
if action == "flush":
    termios.tcflush(fd, termios.TCIOFLUSH)
else:
    os.write(fd, sys.argv[3].encode())
    termios.tcdrain(fd)
os.close(fd)
EOF
}

# The processes other than socat that hold the device behind a link open.
holders() {
  local device pid fd
  device=$(readlink -f "$1")
  for fd in /proc/[0-9]*/fd/*; do
    [ "$(readlink "$fd" 2>/dev/null)" = "$device" ] || continue
    pid=${fd#/proc/}
    pid=${pid%%/*}
    [[ " ${socat_pids[*]} " == *" $pid "* ]] || echo "$pid"
  done | sort -u
}

# Reads one line of a coprocess's output into $reply, with a time limit.
expect_line() {
  local fd=$1 pattern=$2 limit=$3 transcript=$4
  while IFS= read -r -t "$limit" -u "$fd" reply; do
    reply=${reply%$'\r'}
    echo "$reply" >>"$transcript"
    [[ $reply == $pattern ]] && return 0
  done
  return 1
}

cd "$root/build-win64"

# -- Module load and unload ---------------------------------------------------------
echo "-- Module load and unload (kavex_module_test.exe COM2 COM1)"
transcript=$logs/module_test.log
: >"$transcript"
coproc MODULE { LD_PRELOAD=$shim timeout 120 "$wine" kavex_module_test.exe COM2 COM1 2>&1; }
module_pid=$MODULE_PID
module_ok=1
if expect_line "${MODULE[0]}" "CHECKPOINT loaded" 60 "$transcript"; then
  [ -z "$(holders "$lines/com1")$(holders "$lines/com2")" ] || { module_ok=0; echo "   loading the module opened a port"; }
  echo >&"${MODULE[1]}"
else module_ok=0; fi
if [ $module_ok = 1 ] && expect_line "${MODULE[0]}" "CHECKPOINT open" 60 "$transcript"; then
  [ -n "$(holders "$lines/com1")" ] && [ -n "$(holders "$lines/com2")" ] ||
    { module_ok=0; echo "   the open ports are not held by a Wine process"; }
  echo "# checkpoint open" >>"$close_log"
  echo >&"${MODULE[1]}"
else module_ok=0; fi
if [ $module_ok = 1 ] && expect_line "${MODULE[0]}" "CHECKPOINT unloaded" 60 "$transcript"; then
  [ -z "$(holders "$lines/com1")$(holders "$lines/com2")" ] ||
    { module_ok=0; echo "   a port is still held after FreeLibrary"; }
  # Destruction runs in the reverse order of construction: g_ComPortEx
  # (COM1, constructed last) is closed before g_ComPort (COM2).
  extended_dev=$(readlink -f "$lines/com1")
  primary_dev=$(readlink -f "$lines/com2")
  echo "# checkpoint unloaded" >>"$close_log"
  order=$(sed -n '/^# checkpoint open$/,/^# checkpoint unloaded$/p' "$close_log" | awk '!seen[$0]++' |
    grep -xF -e "$extended_dev" -e "$primary_dev" | tr '\n' ' ')
  if [ "$order" = "$extended_dev $primary_dev " ]; then
    echo "   ok: at unload g_ComPortEx (COM1, $extended_dev) closed before g_ComPort (COM2, $primary_dev)"
    echo "       (the reverse of their construction order)"
  else
    module_ok=0
    echo "   FAILED: ports closed at unload in the order: ${order:-none seen} (expected $extended_dev $primary_dev)"
  fi
  echo >&"${MODULE[1]}"
else module_ok=0; fi
if [ $module_ok = 1 ]; then expect_line "${MODULE[0]}" "PASS" 60 "$transcript" || module_ok=0; fi
eval "exec ${MODULE[1]}>&-" 2>/dev/null || true
wait "$module_pid" || module_ok=0
sed 's/^/   /' "$transcript"
[ $module_ok = 1 ] || fail "module load and unload (see $transcript)"

# -- The host example -----------------------------------------------------------------
echo "-- Host example (kavex_host.exe COM2 2) with a reader sending two codes on COM12"
pty_do flush "$lines/com2"
pty_do flush "$lines/com12"
transcript=$logs/host.log
: >"$transcript"
coproc HOST { LD_PRELOAD=$shim timeout 120 "$wine" kavex_host.exe COM2 2 </dev/null 2>&1; }
host_pid=$HOST_PID
host_ok=1
if expect_line "${HOST[0]}" "Reading card codes on COM2" 60 "$transcript"; then
  pty_do write "$lines/com12" $'\x020123456789\r\n'
  expect_line "${HOST[0]}" "Card code: 0123456789" 30 "$transcript" || host_ok=0
  pty_do write "$lines/com12" $'98765\x0243210'
  expect_line "${HOST[0]}" "Card code: 9876543210" 30 "$transcript" || host_ok=0
else host_ok=0; fi
wait "$host_pid" || host_ok=0
sed 's/^/   /' "$transcript"
[ $host_ok = 1 ] || fail "host example (see $transcript)"

# -- The host example on the configured readers --------------------------------------
echo "-- Host example (kavex_host.exe --config 2): primary reader on COM3, further reader 1 on COM4"
# The configuration is sealed by an independent writer of the file format.
python3 "$root/tests/windows/make_port_config.py" ipportconfig.ini 3 4 0 0 0
pty_do flush "$lines/com3"
pty_do flush "$lines/com4"
transcript=$logs/host_config.log
: >"$transcript"
coproc HOSTCFG { LD_PRELOAD=$shim timeout 120 "$wine" kavex_host.exe --config 2 </dev/null 2>&1; }
host_pid=$HOSTCFG_PID
host_ok=1
if expect_line "${HOSTCFG[0]}" "Reading card codes from the configured readers" 60 "$transcript"; then
  pty_do write "$lines/com13" $'\x021111122222\r\n'
  expect_line "${HOSTCFG[0]}" "Primary card code: 1111122222" 30 "$transcript" || host_ok=0
  pty_do write "$lines/com14" $'\x023333344444\r\n'
  expect_line "${HOSTCFG[0]}" "Reader 1 card code: 3333344444" 30 "$transcript" || host_ok=0
else host_ok=0; fi
wait "$host_pid" || host_ok=0
rm -f ipportconfig.ini
sed 's/^/   /' "$transcript"
[ $host_ok = 1 ] || fail "host example on the configured readers (see $transcript)"

# -- kavex_tests.exe ----------------------------------------------------------------------
echo "-- kavex_tests.exe under Wine, one process per test"
# In a directory of its own: the port configuration file of the module lies
# beside the host executable, and the tests create and count files there.
rundir=$work/run
rm -rf "$rundir"
mkdir -p "$rundir"
cp kavex_tests.exe "$rundir/"
cd "$rundir"
run_wine kavex_tests.exe --gtest_list_tests </dev/null >"$logs/list.txt" 2>&1 ||
  { cat "$logs/list.txt"; exit 1; }
tests=()
suite=""
while IFS= read -r line; do
  line=${line%$'\r'}
  case $line in
    "Running main()"*) ;;
    "  "*) name=${line#  }; tests+=("$suite${name%%  *}") ;;
    *) suite=${line%%  *} ;;
  esac
done <"$logs/list.txt"
if [ -n "${KAVEX_WINE_FILTER:-}" ]; then
  mapfile -t tests < <(printf '%s\n' "${tests[@]}" | grep -E "$KAVEX_WINE_FILTER" || true)
fi
passed=0 skipped=0 failed=0
for test in "${tests[@]}"; do
  log=$logs/test-$test.log
  if LD_PRELOAD=$shim timeout 120 "$wine" kavex_tests.exe --gtest_filter="$test" </dev/null >"$log" 2>&1; then
    if grep -q '^\[  SKIPPED \]' "$log"; then
      skipped=$((skipped + 1))
      echo "   skip  $test: $(tr -d '\r' <"$log" | grep -m1 -A1 ': Skipped$' | tail -1)"
    else
      passed=$((passed + 1))
    fi
  else
    failed=$((failed + 1))
    echo "   FAIL  $test"
    tr -d '\r' <"$log" | grep -v '^Running main()' | cut -c1-300 | sed 's/^/         /' | tail -40
    fail "$test"
  fi
done
echo "   kavex_tests.exe: ${#tests[@]} tests, $passed passed, $skipped skipped, $failed failed"
echo "$passed $failed $skipped" >"$work/summary"

cd "$root"
if [ ${#failures[@]} -ne 0 ]; then
  echo "== Windows tier: ${#failures[@]} failure(s)"
  printf '   %s\n' "${failures[@]}"
  exit 1
fi
echo "== Windows tier: all passed"
