#!/usr/bin/env bash
# A Windows tier of the test command: one Windows build of Kavex and its
# programs under Wine.
#
#   scripts/test-windows.sh 64    x86_64 build (build-win64), 64-bit Wine
#   scripts/test-windows.sh 32    i686 build (build-win32), the product
#                                 itself, under 32-bit Wine (wine32:i386)
#
#  1. Builds Kavex.dll and the Windows test programs (cmake/toolchains/).
#  2. Sets up what CTest cannot: a private Wine prefix, the COM port lines
#     (socat pseudo-terminal pairs) and the TIOCMGET shim.
#  3. Runs CTest in the build: the export table check (natively) and
#     kavex_tests.exe one test per process under Wine, through the emulator
#     wrapper build-winNN/wine-run.
#  4. Its own checks, which watch the lines from outside Wine: the module
#     load/unload test, the host example in both of its modes and the
#     polling example (examples/poll/), which links Kavex.dll through its
#     import library.
# Results: JUnit XML in test-results/windows-NN/ (CTest's, and this script's
# own checks); test-all.sh counts them.
#
# The COM port map (tests/support/fake_reader.h): COM1..COM4 are the ports the
# module opens, each joined by socat to its partner COM11..COM14, which the
# tests open to play the card reader; COM5..COM9 have no device. Wine finds
# them through $WINEPREFIX/dosdevices/comN -> build-winNN/wine/lines/comN.
# Wine's mount manager is switched off (in wine-run): it would re-point the
# ports and add the machine's own serial devices as the lowest free COM
# numbers, with stand-in devices that open and then fail every call.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

bits=${1:-}
case $bits in
  64) triplet=x86_64-w64-mingw32 wine=/usr/lib/wine/wine64 ;;
  32) triplet=i686-w64-mingw32 wine=/usr/lib/wine/wine ;;
  *) echo "usage: scripts/test-windows.sh 32|64" >&2; exit 2 ;;
esac
build=$root/build-win$bits
work=$build/wine
lines=$work/lines
logs=$work/logs
results=$root/test-results/windows-$bits
checks=$results/script-checks.xml
run=$build/wine-run
rm -rf "$results"
mkdir -p "$results"

cannot_run() {
  echo "$1" >"$results/could-not-run"
  echo "   windows-$bits could not run: $1"
  exit 1
}
record() { python3 "$root/scripts/lib/results.py" record "$checks" "$@"; }

# ---- 0. tools -------------------------------------------------------------------
for tool in "$triplet-g++-posix" "$wine" /usr/lib/wine/wineserver socat python3 cc; do
  command -v "$tool" >/dev/null || cannot_run "$tool is not installed (scripts/install-deps.sh installs it)"
done

# ---- 1. build -------------------------------------------------------------------
echo "-- Building the $bits-bit Windows build in build-win$bits"
cmake -S . -B "$build" --toolchain "cmake/toolchains/$triplet.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKAVEX_BUILD_TESTS=ON -DKAVEX_WERROR=ON || cannot_run "CMake could not configure build-win$bits"
cmake --build "$build" -j"$jobs" || cannot_run "build-win$bits did not build"

# ---- 2. Wine, the shim and the lines ----------------------------------------------
echo "-- Setting up Wine and the COM port map in $work"
rm -f "$work/ready"
mkdir -p "$work/shim64" "$work/shim32" "$lines" "$logs"
rm -f "$logs"/*
# Both word sizes: the 64-bit wineserver and the Wine processes of this tier
# each load the shim of their own word size from LD_LIBRARY_PATH.
cc -m64 -shared -fPIC -O2 -Wall -Wextra -Werror -o "$work/shim64/tiocmget_shim.so" \
  tests/windows/tiocmget_shim.c -ldl || cannot_run "the 64-bit TIOCMGET shim did not build"
if ! cc -m32 -shared -fPIC -O2 -Wall -Wextra -Werror -o "$work/shim32/tiocmget_shim.so" \
  tests/windows/tiocmget_shim.c -ldl 2>"$logs/shim32.log"; then
  [ "$bits" = 64 ] || cannot_run "the 32-bit TIOCMGET shim did not build (gcc-multilib): $(head -n 1 "$logs/shim32.log")"
fi

export WINEPREFIX=$work/prefix
socat_pids=()
cleanup() {
  # Everything this script started: the Wine processes of this prefix, then
  # the socat bridges (which remove their links).
  rm -f "$work/ready"
  WINEPREFIX=$work/prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  for pid in "${socat_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${socat_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits up to $2 seconds for a condition (a command) to hold.
wait_for() {
  local condition=$1 limit=$2 waited=0
  until eval "$condition"; do
    [ "$waited" -lt $((limit * 20)) ] || return 1
    sleep 0.05
    waited=$((waited + 1))
  done
}

rm -f "$lines"/com*
for n in 1 2 3 4; do
  socat pty,raw,echo=0,link="$lines/com$n" pty,raw,echo=0,link="$lines/com$((n + 10))" \
    </dev/null >/dev/null 2>"$logs/socat$n.log" &
  socat_pids+=($!)
done
for n in 1 2 3 4 11 12 13 14; do
  wait_for "[ -e '$lines/com$n' ]" 20 || cannot_run "socat did not create $lines/com$n"
done

# The wrapper's environment for the Wine server too: it must load the shim.
close_log=$logs/pty-closes.log   # every pty descriptor closed, in order (the shim)
: >"$close_log"
export KAVEX_SHIM_CLOSE_LOG=$close_log
export WINEDEBUG=-all WINEARCH=win$bits
/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true   # a server left over from an interrupted run
[ -f "$WINEPREFIX/system.reg" ] || echo "   creating the Wine prefix (once, about 10-20 s)"
mkdir -p "$WINEPREFIX"
LD_LIBRARY_PATH=$work/shim64:$work/shim32 LD_PRELOAD=tiocmget_shim.so /usr/lib/wine/wineserver -p
touch "$work/ready"   # from here on wine-run runs programs
if ! "$run" wineboot </dev/null >"$logs/wineboot.log" 2>&1; then
  cannot_run "$bits-bit Wine cannot start: $(grep -v '^$' "$logs/wineboot.log" | tail -n 1)"
fi
for n in 1 2 3 4 5 6 7 8 9 11 12 13 14; do
  ln -sfn "$lines/com$n" "$WINEPREFIX/dosdevices/com$n"
done
# A trivial Windows program must run, or nothing below can.
if ! "$run" cmd /c exit 0 </dev/null >"$logs/start.log" 2>&1; then
  cannot_run "$bits-bit Wine cannot run a program: $(tail -n 1 "$logs/start.log")"
fi

# ---- 3. CTest ---------------------------------------------------------------------
echo "-- CTest in build-win$bits: the export table, then kavex_tests.exe under Wine"
ctest --test-dir "$build" --output-on-failure --output-junit "$results/ctest.xml" ${KAVEX_WINE_FILTER:+-R "$KAVEX_WINE_FILTER"}

# ---- 4. this script's own checks ----------------------------------------------------
cd "$build"

# Sends bytes to a line as a reader would.
send() { printf '%b' "$2" >"$lines/$1"; }

# The processes other than socat that hold the device behind a link open.
holders() {
  local device pid
  device=$(readlink -f "$1")
  find /proc/[0-9]*/fd -lname "$device" 2>/dev/null | cut -d/ -f3 | sort -u |
    while read -r pid; do [[ " ${socat_pids[*]} " == *" $pid "* ]] || echo "$pid"; done
}

# Starts a Windows program of this build in the background, its output in a
# file and its input from a FIFO held open on descriptor $input.
start() {
  local name=$1
  shift
  output=$logs/$name.log
  rm -f "$work/$name.in"
  mkfifo "$work/$name.in"
  "$run" "$@" <"$work/$name.in" >"$output" 2>&1 &
  program=$!
  exec {input}>"$work/$name.in"
}

# Waits up to $2 seconds for a line matching $1 in the program's output.
# False at once when the program has ended without printing it.
expect() {
  local pattern=$1 limit=$2 waited=0
  until grep -qx -- "$pattern" "$output"; do
    kill -0 "$program" 2>/dev/null || { grep -qx -- "$pattern" "$output"; return; }
    [ "$waited" -lt $((limit * 20)) ] || return 1
    sleep 0.05
    waited=$((waited + 1))
  done
}

# Closes the program's input and waits for it; true when it exited with 0.
finish() {
  exec {input}>&-
  local waited=0
  while kill -0 "$program" 2>/dev/null && [ "$waited" -lt 600 ]; do sleep 0.05; waited=$((waited + 1)); done
  kill "$program" 2>/dev/null
  wait "$program"
}

check() {
  local ok=$1 name=$2 what=$3
  sed 's/^/   /' "$output"
  if [ "$ok" = 1 ]; then
    record pass "$name"
  else
    echo "   FAILED: $what"
    record fail "$name" "$what"
  fi
}

echo "-- Module load and unload (kavex_module_test.exe COM2 COM1)"
start module kavex_module_test.exe COM2 COM1
ok=1 why="" seen=""
if expect "CHECKPOINT loaded" 60; then
  [ -z "$(holders "$lines/com1")$(holders "$lines/com2")" ] || { ok=0 why="loading the module opened a port"; }
  echo >&"$input"
else ok=0 why="no checkpoint 'loaded'"; fi
if [ $ok = 1 ] && expect "CHECKPOINT open" 60; then
  [ -n "$(holders "$lines/com1")" ] && [ -n "$(holders "$lines/com2")" ] ||
    { ok=0 why="the open ports are not held by a Wine process"; }
  echo "# checkpoint open" >>"$close_log"
  echo >&"$input"
elif [ $ok = 1 ]; then ok=0 why="no checkpoint 'open'"; fi
if [ $ok = 1 ] && expect "CHECKPOINT unloaded" 60; then
  [ -z "$(holders "$lines/com1")$(holders "$lines/com2")" ] || { ok=0 why="a port is still held after FreeLibrary"; }
  # Destruction runs in the reverse order of construction: g_ComPortEx
  # (COM1, constructed last) is closed before g_ComPort (COM2).
  extended=$(readlink -f "$lines/com1") primary=$(readlink -f "$lines/com2")
  echo "# checkpoint unloaded" >>"$close_log"
  order=$(sed -n '/^# checkpoint open$/,/^# checkpoint unloaded$/p' "$close_log" | awk '!seen[$0]++' |
    grep -xF -e "$extended" -e "$primary" | tr '\n' ' ')
  if [ "$order" = "$extended $primary " ]; then
    seen="at unload g_ComPortEx (COM1, $extended) closed before g_ComPort (COM2, $primary)"
  else
    ok=0 why="ports closed at unload in the order: ${order:-none seen} (expected $extended $primary)"
  fi
  echo >&"$input"
elif [ $ok = 1 ]; then ok=0 why="no checkpoint 'unloaded'"; fi
if [ $ok = 1 ]; then expect "PASS" 60 || { ok=0 why="the program's own checks failed"; }; fi
finish || { [ $ok = 0 ] || why="the program failed"; ok=0; }
[ -z "$seen" ] || echo "   $seen"
check $ok WindowsTier.ModuleLoadAndUnload "$why"

echo "-- Host example (kavex_host.exe COM2 2) with a reader sending two codes on COM12"
start host kavex_host.exe COM2 2
ok=1 why=""
if expect "Reading card codes on COM2" 60; then
  send com12 '\x020123456789\r\n'
  expect "Card code: 0123456789" 30 || { ok=0 why="the first code was not read"; }
  send com12 '98765\x0243210'
  expect "Card code: 9876543210" 30 || { ok=0 why="the second code was not read"; }
else ok=0 why="the host did not open COM2"; fi
finish || { [ $ok = 0 ] || why="the host failed"; ok=0; }
check $ok WindowsTier.HostExampleReadsTheExtendedPort "$why"

echo "-- Host example (kavex_host.exe --config 2): primary reader on COM3, further reader 1 on COM4"
# The configuration is sealed by an independent writer of the file format.
python3 "$root/tests/windows/make_port_config.py" ipportconfig.ini 3 4 0 0 0
start host_config kavex_host.exe --config 2
ok=1 why=""
if expect "Reading card codes from the configured readers" 60; then
  send com13 '\x021111122222\r\n'
  expect "Primary card code: 1111122222" 30 || { ok=0 why="the primary reader's code was not read"; }
  send com14 '\x023333344444\r\n'
  expect "Reader 1 card code: 3333344444" 30 || { ok=0 why="further reader 1's code was not read"; }
else ok=0 why="the host did not open the configured readers"; fi
finish || { [ $ok = 0 ] || why="the host failed"; ok=0; }
rm -f ipportconfig.ini
check $ok WindowsTier.HostExampleReadsTheConfiguredReaders "$why"

echo "-- Polling example (kavex_poll.exe COM2 1), linked through the import library, with a reader on COM12"
start poll kavex_poll.exe COM2 1
ok=1 why=""
if expect "polling the card readers" 60; then
  send com12 '\x022468013579\r\n'
  expect "card 2468013579" 30 || { ok=0 why="the code was not read"; }
else ok=0 why="the example did not open COM2"; fi
finish || { [ $ok = 0 ] || why="the example failed"; ok=0; }
check $ok WindowsTier.PollingExampleReadsThePrimaryReader "$why"

cd "$root"
read -r passed failed skipped < <(python3 scripts/lib/results.py count "$results" | sed -n 1p)
echo "== windows-$bits: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
