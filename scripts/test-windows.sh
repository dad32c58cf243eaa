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
#     load/unload test (who holds a line comes from the shim's log of
#     descriptors), the host example in both of its modes, the polling
#     example (examples/poll/), which links Kavex.dll through its import
#     library, kavexctl.exe as a child process (ports, read, read --config,
#     config, --library, monitor, settings), and a host linked MSVC-style
#     against Kavex.lib (clang-cl, lld-link).
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
for tool in "$triplet-g++-posix" "$wine" /usr/lib/wine/wineserver socat python3 cc lld-link llvm-dlltool; do
  command -v "$tool" >/dev/null || cannot_run "$tool is not installed (scripts/install-deps.sh installs it)"
done
clang_cl=$(command -v clang-cl clang-cl-{19,18,17,16,15,14} /usr/lib/llvm-*/bin/clang-cl 2>/dev/null | head -n 1)
[ -n "$clang_cl" ] || cannot_run "clang-cl is not installed (Debian's clang; scripts/install-deps.sh installs it)"

# ---- 1. build -------------------------------------------------------------------
echo "-- Building the $bits-bit Windows build in build-win$bits"
cmake -S . -B "$build" --toolchain "cmake/toolchains/$triplet.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKAVEX_BUILD_TESTS=ON -DKAVEX_WERROR=ON || cannot_run "CMake could not configure build-win$bits"
cmake --build "$build" -j"$jobs" || cannot_run "build-win$bits did not build"

# ---- 32-bit programs on this machine ------------------------------------------------
# Some machines' kernels run no 32-bit x86 program at all: exec fails with
# "Exec format error", for Wine's 32-bit loader as for any other. There the
# 32-bit tier checks what needs no 32-bit process (the build above, the
# DLL's export table) and reports the Wine part as skipped, saying why.
# KAVEX_REQUIRE_32BIT=1 makes that a failure instead, for the machines that
# must run it. Wine that cannot start on a machine that runs 32-bit programs
# is a failure as always.
started=""
[ "$bits" = 64 ] || started=$( (exec "$wine" --version) 2>&1)
if grep -q "Exec format error" <<<"$started"; then
  why="this machine's kernel runs no 32-bit programs ($wine: Exec format error)"
  [ "${KAVEX_REQUIRE_32BIT:-0}" = 1 ] && cannot_run "$why, and KAVEX_REQUIRE_32BIT=1"
  echo "-- $why: the export table only; the programs under 32-bit Wine are skipped"
  if python3 tests/windows/check_exports.py --objdump "$triplet-objdump" --header include/kavex.h \
    --def src/reader/kavex.def "$build/Kavex.dll" "$build/libkavex.dll.a"; then
    record pass KavexDllExports
  else
    record fail KavexDllExports "the export table differs (see above)"
  fi
  record skip "Windows32.ProgramsUnderWine" "$why; they run on a machine that runs 32-bit programs"
  read -r passed failed skipped < <(python3 scripts/lib/results.py count "$results" | head -n 1)
  echo "== windows-$bits: $passed passed, $failed failed, $skipped skipped"
  [ "$failed" -eq 0 ]
  exit
fi

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
# The shim logs every pseudo-terminal descriptor that a process of this tier
# gains or gives up, in order (tests/windows/tiocmget_shim.c).
shim_log=$logs/pty-descriptors.log
: >"$shim_log"
export KAVEX_SHIM_LOG=$shim_log
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
KAVEX_WINE_RETRY_SILENT=1 ctest --test-dir "$build" --output-on-failure --output-junit "$results/ctest.xml" ${KAVEX_WINE_FILTER:+-R "$KAVEX_WINE_FILTER"}

# ---- 4. this script's own checks ----------------------------------------------------
cd "$build"

# Sends bytes to a line as a reader would.
send() { printf '%b' "$2" >"$lines/$1"; }

# Who holds which line, from the shim's log ("open|close PID FD DEVICE",
# "start PID"; socat does not load the shim) after the mark $1, a line the
# script wrote there ("# ...") when no program of its own was running.
# Prints "held DEVICE PID" for each descriptor of a line that a running
# process holds now, and "released DEVICE" whenever, after the mark $2, the
# last such descriptor of a line is closed. A process that has ended holds
# nothing (its descriptors were closed with it, without a line), and what a
# process held ends when another program starts under its number.
line_holders() {
  local pid live=" "
  for pid in $(awk -v from="$1" '$0 == from { c = 1 } c && $1 == "open" { print $2 }' "$shim_log" | sort -u); do
    ! kill -0 "$pid" 2>/dev/null || live+="$pid "
  done
  awk -v live="$live" -v from="$1" -v mark="${2:-}" '
    function holds(device,   key) { for (key in held) if (held[key] == device) return 1; return 0 }
    $0 == from { counting = 1; next }
    !counting { next }
    $0 == mark { marked = 1; next }
    $1 == "start" { for (key in held) if (index(key, $2 " ") == 1) delete held[key]; next }
    $1 == "open" && index(live, " " $2 " ") { held[$2 " " $3] = $4; next }
    $1 == "close" && ($2 " " $3) in held {
      device = held[$2 " " $3]
      delete held[$2 " " $3]
      if (marked && !holds(device)) print "released " device
    }
    END { for (key in held) { split(key, part, " "); print "held " held[key] " " part[1] } }' "$shim_log"
}

# The processes that hold the device behind line $2 (a link) open, from the
# shim's log after the mark $1.
holders() {
  local device
  device=$(readlink -f "$2")
  line_holders "$1" | awk -v device="$device" '$1 == "held" && $2 == device { print $3 }' | sort -u
}

# Empties both directions of every reader line: what earlier tests sent and
# nobody read must not reach the next program.
drain() {
  local line
  for line in "$lines"/com*; do
    dd if="$line" of=/dev/null bs=4096 iflag=nonblock,noctty status=none 2>/dev/null || true
  done
}

# Starts a Windows program of this build in the background, its output in a
# file and its input from a FIFO held open on descriptor $input.
start() {
  local name=$1
  shift
  output=$logs/$name.log
  : >"$output"
  drain
  rm -f "$work/$name.in"
  mkfifo "$work/$name.in"
  # A session of its own, so that finish can end the Windows program too.
  setsid "$run" "$@" <"$work/$name.in" >"$output" 2>&1 &
  program=$!
  exec {input}>"$work/$name.in"
}

# True when a line of the program's output matches $1 whole. Wine writes
# CR LF; wine-run drops the CR of standard output, not of standard error.
seen() { tr -d '\r' <"$output" | grep -qx -- "$1"; }

# Waits up to $2 seconds for a line matching $1 in the program's output.
# False at once when the program has ended without printing it.
expect() {
  local pattern=$1 limit=$2 waited=0
  until seen "$pattern"; do
    kill -0 "$program" 2>/dev/null || { seen "$pattern"; return; }
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
  kill -- -"$program" 2>/dev/null
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
# The shim's log counts from here: no program of this script runs, and the
# programs of CTest have ended.
begin="# module load and unload"
echo "$begin" >>"$shim_log"
start module kavex_module_test.exe COM2 COM1
ok=1 why="" seen=""
if expect "CHECKPOINT loaded" 60; then
  [ -z "$(holders "$begin" "$lines/com1")$(holders "$begin" "$lines/com2")" ] ||
    { ok=0 why="loading the module opened a port"; }
  echo >&"$input"
else ok=0 why="no checkpoint 'loaded'"; fi
if [ $ok = 1 ] && expect "CHECKPOINT open" 60; then
  [ -n "$(holders "$begin" "$lines/com1")" ] && [ -n "$(holders "$begin" "$lines/com2")" ] ||
    { ok=0 why="the open ports are not held by a Wine process"; }
  echo "# checkpoint open" >>"$shim_log"
  echo >&"$input"
elif [ $ok = 1 ]; then ok=0 why="no checkpoint 'open'"; fi
if [ $ok = 1 ] && expect "CHECKPOINT unloaded" 60; then
  [ -z "$(holders "$begin" "$lines/com1")$(holders "$begin" "$lines/com2")" ] ||
    { ok=0 why="a port is still held after FreeLibrary"; }
  # Destruction runs in the reverse order of construction: g_ComPortEx
  # (COM1, constructed last) is closed before g_ComPort (COM2).
  extended=$(readlink -f "$lines/com1") primary=$(readlink -f "$lines/com2")
  order=$(line_holders "$begin" "# checkpoint open" | awk '$1 == "released" { print $2 }' |
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

echo "-- The linked example (kavex_read_card.exe COM2 1, linked against libkavex.dll.a), a reader on COM12"
start read_card kavex_read_card.exe COM2 1
ok=1 why=""
if expect "Waiting for cards; Ctrl-C ends." 60; then
  send com12 '\x021357924680\r\n'
  expect "primary reader: 1357924680" 30 || { ok=0 why="the code was not read"; }
else ok=0 why="the example did not open COM2"; fi
finish || { [ $ok = 0 ] || why="the example did not exit with 0 after one code"; ok=0; }
check $ok WindowsTier.LinkedExampleReadsThePrimaryReader "$why"

# ---- kavexctl.exe, a child process like any host ------------------------------------
# kavexctl.exe lies beside Kavex.dll (tools/CMakeLists.txt), as it does
# beside a client's program; a build that keeps it in tools/ works too (the
# newer of the two is taken). It reads its port configuration beside itself:
# $kdir/ipportconfig.ini here, ${kwin}ipportconfig.ini to Windows.
kavexctl=$(ls -t kavexctl.exe tools/kavexctl.exe 2>/dev/null | head -n 1)
kavexctl=${kavexctl:-kavexctl.exe}
kdir=$(dirname "$kavexctl")
if [ "$kdir" = . ]; then kwin=''; else kwin="$kdir\\"; fi
kwin_pattern=$(printf '%s' "$kwin" | sed 's/\\/\\\\/g')   # for grep: each \ as \\
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' CMakeCache.txt)

# Runs a Windows program to its end with no input; its output (both
# streams) in $output, its exit status in $status.
run_once() {
  local name=$1
  shift
  output=$logs/$name.log
  timeout 120 "$run" "$@" </dev/null >"$output" 2>&1
  status=$?
}

echo "-- kavexctl.exe ports: the COM ports the system has registered, and their state"
# As the serial drivers do, in no particular order; COM7 has no device,
# COM12 is a line above COM9.
ok=1 why=""
run_once register register_com_ports.exe '\Device\VCP0=COM12' '\Device\Serial3=COM4' '\Device\Serial0=COM1' \
  '\Device\Serial6=COM7' '\Device\Serial1=COM2' '\Device\Serial2=COM3'
if [ "$status" -ne 0 ]; then
  ok=0 why="register_com_ports.exe failed"
else
  run_once kavexctl_ports "$kavexctl" ports
  listed=$(awk '/^COM[0-9]+ / { printf "%s ", $1 }' "$output")
  if [ "$status" -ne 0 ]; then ok=0 why="kavexctl ports exited with $status"
  elif [ "$listed" != "COM1 COM2 COM3 COM4 COM7 COM12 " ]; then ok=0 why="listed: ${listed:-nothing}"
  elif ! seen 'COM1 *\\Device\\Serial0 *ok' || ! seen 'COM4 *\\Device\\Serial3 *ok'; then
    ok=0 why="COM1 and COM4 are not shown with their devices as ok"
  elif ! seen 'COM7 *\\Device\\Serial6 *no such device'; then ok=0 why="COM7 is not shown as without a device"
  elif ! seen 'COM12 *\\Device\\VCP0 *ok; above COM9, a host cannot name it'; then
    ok=0 why="COM12 is not shown as above COM9"
  fi
fi
check $ok KavexctlExe.PortsListsTheRegisteredPorts "$why"

echo "-- kavexctl.exe read COM2 --count 2, a reader sending on COM12"
start kavexctl_read "$kavexctl" read COM2 --count 2
ok=1 why=""
if expect "Reading 10-digit codes from COM2 through .*Kavex.dll, file version $version.0; Ctrl-C stops." 60; then
  send com12 '\x025555566666\r\n'
  expect "5555566666" 30 || { ok=0 why="the first code was not printed"; }
  send com12 '\x027777788888\r\n'
  expect "7777788888" 30 || { ok=0 why="the second code was not printed"; }
else ok=0 why="kavexctl did not open COM2 through Kavex.dll of version $version"; fi
finish || { [ $ok = 0 ] || why="kavexctl read did not exit with 0 after two codes"; ok=0; }
check $ok KavexctlExe.ReadPrintsTheCodesOfTheExtendedPort "$why"

# The port configuration beside kavexctl.exe, sealed by the independent writer.
python3 "$root/tests/windows/make_port_config.py" "$kdir/ipportconfig.ini" 3 4 0 0 0

echo "-- kavexctl.exe config show --json: a file of the independent writer"
run_once kavexctl_config_show "$kavexctl" config show --file "${kwin}ipportconfig.ini" --json
ok=1 why=""
if [ "$status" -ne 0 ]; then ok=0 why="config show exited with $status"
elif ! seen '  "PrimaryPort": 3,' || ! seen '  "FurtherPorts": \[4, 0, 0, 0\],'; then
  ok=0 why="the ports shown are not the file's (primary 3, further 4 0 0 0)"
fi
check $ok KavexctlExe.ConfigShowReadsTheIndependentWriter "$why"

echo "-- kavexctl.exe read --config --count 2: primary reader on COM3, further reader 1 on COM4"
start kavexctl_read_config "$kavexctl" read --config --count 2
ok=1 why=""
if expect "Primary reader on COM3, reader 1 on COM4 (from .*\\\\${kwin_pattern}ipportconfig.ini)." 60 &&
   expect "Reading through .*Kavex.dll.*; Ctrl-C stops." 60; then
  send com13 '\x021111122222\r\n'
  expect "primary  1111122222" 30 || { ok=0 why="the primary reader's code was not printed"; }
  send com14 '\x023333344444\r\n'
  expect "reader 1 3333344444" 30 || { ok=0 why="further reader 1's code was not printed"; }
else ok=0 why="kavexctl did not open the configured readers"; fi
finish || { [ $ok = 0 ] || why="kavexctl read --config did not exit with 0 after two codes"; ok=0; }
check $ok KavexctlExe.ReadConfigReadsTheConfiguredReaders "$why"

echo "-- kavexctl.exe config set, read back by the independent reader and by read --config"
run_once kavexctl_config_set "$kavexctl" config set --file "${kwin}ipportconfig.ini" PrimaryPort=4 FurtherPorts=0,3,0,0
ok=1 why=""
if [ "$status" -ne 0 ]; then ok=0 why="config set exited with $status"
else
  read_back=$(python3 "$root/tests/windows/make_port_config.py" --read "$kdir/ipportconfig.ini" 2>&1)
  echo "   independent reader: $read_back"
  if [ "$read_back" != "primary 4 further 0 3 0 0" ]; then ok=0 why="the independent reader found: $read_back"
  else
    start kavexctl_read_set "$kavexctl" read --config --count 2
    if expect "Reading through .*; Ctrl-C stops." 60; then
      send com14 '\x024444455555\r\n'
      expect "primary  4444455555" 30 || { ok=0 why="the new primary reader's code was not printed"; }
      send com13 '\x026666677777\r\n'
      expect "reader 2 6666677777" 30 || { ok=0 why="further reader 2's code was not printed"; }
    else ok=0 why="kavexctl did not open the readers of the changed file"; fi
    finish || { [ $ok = 0 ] || why="kavexctl read --config failed"; ok=0; }
  fi
fi
rm -f "$kdir/ipportconfig.ini"
check $ok KavexctlExe.ConfigSetWritesWhatHostsRead "$why"

echo "-- kavexctl.exe --library: the Kavex.dll of a client's directory, one that is missing, one of the other word size"
ok=1 why=""
rm -rf client wrongsize && mkdir -p client wrongsize
cp Kavex.dll client/Kavex.dll
if [ "$bits" = 32 ]; then other=x86_64-w64-mingw32 hint='take x64\kavexctl.exe'; else other=i686-w64-mingw32 hint='take x86\kavexctl.exe'; fi
echo 'int kavex_placeholder;' | "$other-gcc-posix" -shared -x c - -o wrongsize/Kavex.dll 2>"$logs/wrongsize.log" ||
  { ok=0 why="$other-gcc-posix could not build a DLL of the other word size"; }
start kavexctl_library "$kavexctl" read COM2 --count 1 --library 'client\Kavex.dll'
if expect "Reading 10-digit codes from COM2 through .*\\\\client\\\\Kavex.dll, file version .*" 60; then
  send com12 '\x021212121212\r\n'
  expect "1212121212" 30 || { ok=0 why="no code read through the chosen library"; }
else ok=0 why="--library did not load client\\Kavex.dll"; fi
finish || { [ $ok = 0 ] || why="kavexctl read --library failed"; ok=0; }
sed 's/^/   /' "$output"
KAVEX_LIBRARY='client\Missing.dll' run_once kavexctl_library_missing "$kavexctl" read COM2
if [ "$status" -ne 3 ] || ! grep -q 'cannot load Kavex.dll' "$output" || ! grep -q 'client\\Missing.dll: ' "$output"; then
  [ $ok = 0 ] || why="a missing KAVEX_LIBRARY did not give exit 3 naming the file"; ok=0
fi
sed 's/^/   /' "$output"
if [ $ok = 1 ]; then
  run_once kavexctl_library_wrongsize "$kavexctl" read COM2 --library 'wrongsize\Kavex.dll'
  [ "$status" -eq 3 ] && grep -qF "$hint" "$output" || { ok=0 why="a DLL of the other word size did not say: $hint"; }
fi
check $ok KavexctlExe.LibraryOptionLoadsTheChosenDll "$why"

echo "-- kavexctl.exe simulate and demo say that they need Linux; --version"
ok=1 why=""
for command in simulate demo; do
  run_once "kavexctl_$command" "$kavexctl" "$command"
  sed 's/^/   /' "$output"
  [ "$status" -eq 3 ] && grep -q "needs Linux" "$output" || { ok=0 why="$command did not exit with 3 saying it needs Linux"; }
done
run_once kavexctl_version "$kavexctl" --version
seen "kavexctl $version" || { ok=0 why="--version did not print kavexctl $version"; }
check $ok KavexctlExe.LinuxOnlyCommandsSaySo "$why"

echo "-- kavexctl.exe monitor COM2 --seconds 20: a standard, an eight-digit and a noisy reader sending on COM12"
# Each burst is sent once the one before has been judged, so that none runs
# into the next. The noise is what a reader at a wrong baud rate gives:
# mostly bytes with the high bit set, no digit, no framing byte, and neither
# XON nor XOFF (the line has XON/XOFF flow control).
start kavexctl_monitor "$kavexctl" monitor COM2 --seconds 20
ok=1 why=""
standard='02 30 31 32 33 34 35 36 37 38 39 0D 0A' eight='02 32 33 34 35 36 37 38 39 0D 0A'
noise='55 AA 80 7E 41 C3 9F E5'
if expect "Monitoring COM2 at 1200 baud.*" 60; then
  send com12 '\x020123456789\r\n'
  expect '-- 13 bytes: 0x02, 10 digits, CR LF: a standard reader' 30 || { ok=0 why="no verdict of a standard reader"; }
  if [ $ok = 1 ]; then
    send com12 '\x0223456789\r\n'
    expect '-- 11 bytes: 8 digits: use `kavexctl read --length 8`' 30 ||
      { ok=0 why="no verdict of an eight-digit reader"; }
  fi
  if [ $ok = 1 ]; then
    send com12 "$(printf '\\x%s' $noise)"
    expect '-- 8 bytes: bytes that are not digits: wrong baud rate or another kind of reader?' 30 ||
      { ok=0 why="no verdict of noise"; }
  fi
else ok=0 why="monitor did not open COM2"; fi
finish || { [ $ok = 0 ] || why="monitor did not exit with 0 after its seconds"; ok=0; }
# The hex column of the byte lines ("     48 ms  02  STX"), every byte in order.
shown=$(tr -d '\r' <"$output" | awk '/^ *[0-9]+ ms  [0-9A-F][0-9A-F]( |$)/ { printf "%s ", $3 }')
if [ $ok = 1 ] && [ "$shown" != "$standard $eight $noise " ]; then
  ok=0 why="the bytes shown, in order: ${shown:-none} (expected $standard $eight $noise)"
fi
check $ok KavexctlExe.MonitorShowsTheBytesAndJudgesEachKindOfReader "$why"

echo "-- kavexctl.exe settings init and show --json on a file of its own"
run_once kavexctl_settings_init "$kavexctl" settings init --file "${kwin}qelversion-test.cfg"
ok=1 why=""
if [ "$status" -ne 0 ]; then ok=0 why="settings init exited with $status"
else
  run_once kavexctl_settings_show "$kavexctl" settings show --file "${kwin}qelversion-test.cfg" --json
  if [ "$status" -ne 0 ]; then ok=0 why="settings show exited with $status"
  elif ! seen '  "VersionNumber": 29,' || ! seen '  "IpPort": 8998,'; then
    ok=0 why="the defaults and fill-ins are not shown"
  fi
fi
rm -f "$kdir/qelversion-test.cfg"
check $ok KavexctlExe.SettingsInitAndShow "$why"

# ---- a host linked MSVC-style against Kavex.lib --------------------------------------
echo "-- kavex_msvc_host.exe: clang-cl (MSVC mode, MinGW headers) and lld-link against Kavex.lib"
msvc=$work/msvc
rm -rf "$msvc" && mkdir -p "$msvc"
if [ "$bits" = 32 ]; then
  target=i686-pc-windows-msvc arch=_X86_ machine=x86 dlltool_machine=i386 kill_at=-k safeseh=/safeseh
  cp "$root/tests/windows/msvc_kernel32.def" "$msvc/kernel32.def"
else
  target=x86_64-pc-windows-msvc arch=_AMD64_ machine=x64 dlltool_machine=i386:x86-64 kill_at= safeseh=
  sed -E 's/([A-Za-z]+)@[0-9]+/\1/' "$root/tests/windows/msvc_kernel32.def" >"$msvc/kernel32.def"
fi
ok=1 why=""
output=$logs/msvc_build.log
(
  set -x
  "$clang_cl" --target=$target -D$arch /clang:-fgnuc-version=4.2.1 /c /O2 /W4 /WX /GS- \
    -imsvc "/usr/$triplet/include" -I "$root/include" /Fo"$msvc/msvc_host.obj" -- "$root/tests/windows/msvc_host.c" &&
    llvm-dlltool -m $dlltool_machine $kill_at -d "$msvc/kernel32.def" -l "$msvc/kernel32.lib" &&
    lld-link /nologo /machine:$machine $safeseh /subsystem:console /entry:HostMain /nodefaultlib \
      /out:kavex_msvc_host.exe "$msvc/msvc_host.obj" Kavex.lib "$msvc/kernel32.lib"
) >"$output" 2>&1
built=$?
if [ $built -ne 0 ]; then
  ok=0 why="the MSVC-style build failed"
else
  start msvc_host kavex_msvc_host.exe COM2
  if expect "Reading on COM2" 60; then
    send com12 '\x022468013579\r\n'
    expect "Card code: 2468013579" 30 || { ok=0 why="the code was not read"; }
  else ok=0 why="the host did not open COM2"; fi
  finish || { [ $ok = 0 ] || why="the host's own checks failed"; ok=0; }
fi
check $ok WindowsTier.MsvcStyleHostLinksAgainstKavexLib "$why"

cd "$root"
read -r passed failed skipped < <(python3 scripts/lib/results.py count "$results" | sed -n 1p)
echo "== windows-$bits: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
