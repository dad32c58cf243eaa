#!/usr/bin/env bash
# The install tier of the test command: Kavex as packagers and host
# developers get it on Linux.
#
#  1. Builds build-install/dev configured for one prefix and installs it
#     into another, a temporary one, with `cmake --install --prefix` (as the
#     README offers): the files, the soname and exports, nothing naming the
#     configured prefix, kavexctl (--version, its library found through its
#     run path relative to itself and never one directory up), the man page
#     and the bash completion.
#  2. Hosts against that prefix, each reading a code from `kavexctl
#     simulate`: examples/poll built with pkg-config and with
#     find_package(Kavex), the ctypes example (examples/python/) with a port
#     and with the ipportconfig.ini beside a copied interpreter; and a project
#     that builds Kavex inside itself (tests/install/embed, add_subdirectory),
#     which gets none of Kavex's tests, examples, changelog, man page or
#     CPack package.
#  3. Builds build-install/deb as a Debian packager does (prefix /usr, the
#     flags of dpkg-buildflags), makes the package with `cpack -G DEB` and
#     checks its contents, its control files and lintian's verdict.
# Every simulated reader runs under a private KAVEX_PREFIX. Results: JUnit
# XML in test-results/install/ (one test case per check); test-all.sh
# counts them.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)
results=$root/test-results/install
checks=$results/install-checks.xml
work=$root/build-install
logs=$work/logs
rm -rf "$results" "$logs"
mkdir -p "$results" "$logs"

cannot_run() {
  echo "$1" >"$results/could-not-run"
  echo "   install could not run: $1"
  exit 1
}
record() { python3 "$root/scripts/lib/results.py" record "$checks" "$@"; }

# check NAME FUNCTION [ARGS...]: one check, in a subshell that `fail` ends
# and that stops the simulated readers it started; its output goes to
# logs/NAME.log and is shown when it fails.
check() {
  local name=$1
  shift
  local log=$logs/$name.log
  if (
    simulators=()
    trap stop_simulators EXIT
    "$@"
  ) >"$log" 2>&1; then
    echo "   ok      $name"
    record pass "Install.$name"
  else
    echo "   FAILED  $name"
    sed 's/^/      /' "$log" | tail -n 25
    record fail "Install.$name" "$(tail -n 3 "$log")"
  fi
}

# Says what failed (into the check's log) and ends the check.
fail() {
  echo "$*"
  exit 1
}

for tool in cmake cc pkg-config help2man lintian dpkg-deb dpkg-shlibdeps dpkg-buildflags readelf python3; do
  command -v "$tool" >/dev/null || cannot_run "$tool is not installed (scripts/install-deps.sh installs it)"
done

version=$(sed -n 's/^project(Kavex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || cannot_run "no project version in CMakeLists.txt"
soversion=1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kavex-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT TERM

prefix=$tmp/prefix
# The prefix build-install/dev is configured for, which nothing is installed
# in: the install goes to $prefix with --prefix.
configured_prefix=$tmp/configured-prefix
# The simulated readers' COM ports, away from the machine's /etc/kavex.
export KAVEX_PREFIX=$tmp/kavex-prefix
mkdir -p "$KAVEX_PREFIX"
unset KAVEX_LIBRARY

# simulate PORT CODE: a simulated reader on PORT that sends CODE once a host
# has opened the port; waits until it is ready.
simulate() {
  local log=$logs/simulate-$1.log waited=0 pid
  "$prefix/bin/kavexctl" simulate --port "$1" "$2" </dev/null >"$log" 2>&1 &
  pid=$!
  simulators+=("$pid")
  until grep -q "Waiting for a host" "$log"; do
    kill -0 "$pid" 2>/dev/null && [ "$waited" -lt 200 ] || { cat "$log"; fail "the simulated reader did not start"; }
    sleep 0.05
    waited=$((waited + 1))
  done
}
stop_simulators() {
  local pid
  for pid in "${simulators[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "${simulators[@]}"; do wait "$pid" 2>/dev/null; done
  simulators=()
}

# reads PORT CODE EXPECTED COMMAND...: runs the host against a simulated
# reader on PORT sending CODE; its output must hold the line EXPECTED. The
# output (both streams) is left in $read_output.
reads() {
  local port=$1 code=$2 expected=$3 output status
  shift 3
  simulate "$port" "$code"
  output=$(timeout 60 "$@" 2>&1)
  status=$?
  read_output=$output
  stop_simulators
  echo "$* (exit $status):"
  echo "$output" | sed 's/^/  /'
  [ "$status" -eq 0 ] || fail "the host failed"
  grep -qxF "$expected" <<<"$output" || fail "the host did not print '$expected'"
}

# ---- 1. install into a temporary prefix ------------------------------------------
echo "-- Building build-install/dev for $configured_prefix and installing it into $prefix"
cmake -S . -B "$work/dev" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX="$configured_prefix" \
  -DKAVEX_BUILD_TESTS=OFF -DKAVEX_WERROR=ON >"$logs/dev-configure.log" 2>&1 ||
  cannot_run "CMake could not configure build-install/dev (see $logs/dev-configure.log)"
cmake --build "$work/dev" -j"$jobs" >"$logs/dev-build.log" 2>&1 ||
  cannot_run "build-install/dev did not build (see $logs/dev-build.log)"
cmake --install "$work/dev" --prefix "$prefix" >"$logs/dev-install.log" 2>&1 ||
  cannot_run "cmake --install --prefix failed (see $logs/dev-install.log)"
libdir=$prefix/$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$work/dev/CMakeCache.txt")

installed_files() {
  local file missing=0
  for file in bin/kavexctl include/kavex.h "${libdir#"$prefix/"}"/{libkavex.so.$version,pkgconfig/kavex.pc} \
    "${libdir#"$prefix/"}"/cmake/Kavex/{KavexConfig,KavexConfigVersion,KavexTargets}.cmake \
    share/man/man1/kavexctl.1.gz share/bash-completion/completions/kavexctl \
    share/doc/kavex/{copyright,changelog.gz}; do
    [ -f "$prefix/$file" ] || { echo "missing: $file"; missing=1; }
  done
  [ "$(readlink "$libdir/libkavex.so.$soversion")" = "libkavex.so.$version" ] ||
    { echo "libkavex.so.$soversion does not link to libkavex.so.$version"; missing=1; }
  [ "$(readlink "$libdir/libkavex.so")" = "libkavex.so.$soversion" ] ||
    { echo "libkavex.so does not link to libkavex.so.$soversion"; missing=1; }
  # Nothing of the build's internals, and lintian's overrides only in the package.
  local extra
  extra=$(cd "$prefix" && find . \( -name '*kavex_core*' -o -name '*test*' -o -path '*lintian*' \) -print)
  [ -z "$extra" ] || { echo "installed but not for installing: $extra"; missing=1; }
  (cd "$prefix" && find . ! -type d | sort)
  return $missing
}

soname_and_exports() {
  local soname exports
  soname=$(readelf -d "$libdir/libkavex.so.$version" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  echo "soname: $soname"
  [ "$soname" = "libkavex.so.$soversion" ] || fail "the soname is not libkavex.so.$soversion"
  exports=$(nm -D --defined-only "$libdir/libkavex.so.$version" | awk '{ print $3 }' | sort | tr '\n' ' ')
  echo "exports: $exports"
  [ "$exports" = "CloseCom CloseComEx GetCardCode GetCardCodeEx GetIDVersion GetOtherCardCode OpenCom OpenComEx " ] ||
    fail "the library exports more or less than the eight functions"
}

# The install works where it was put: kavexctl's run path is relative to
# its own directory, and no installed file names the prefix configured.
installed_elsewhere() {
  local runpath want named
  [ ! -e "$configured_prefix" ] || fail "something was installed into the configured prefix"
  runpath=$(readelf -d "$prefix/bin/kavexctl" | sed -n 's/.*(RUNPATH) *Library runpath: \[\(.*\)\]/\1/p')
  want="\$ORIGIN/$(realpath -m --relative-to="$prefix/bin" "$libdir")"
  echo "kavexctl's run path: $runpath"
  [ "$runpath" = "$want" ] || fail "expected the run path $want"
  named=$(grep -rlF "$configured_prefix" "$prefix")
  [ -z "$named" ] || fail "installed files name the configured prefix $configured_prefix: $named"
}

kavexctl_version() {
  local said
  said=$("$prefix/bin/kavexctl" --version) || fail "kavexctl --version failed"
  echo "kavexctl --version: $said"
  [ "$said" = "kavexctl $version" ] || fail "expected 'kavexctl $version'"
}

man_page() {
  local page
  page=$(gzip -dc "$prefix/share/man/man1/kavexctl.1.gz") || fail "the man page is not gzip"
  grep -q "^\.TH KAVEXCTL \"1\" .* \"kavexctl $version\"" <<<"$page" || fail "no .TH line with kavexctl $version"
  local command
  for command in demo read simulate ports config monitor settings; do
    grep -q "^\.SS \"kavexctl $command\"" <<<"$page" || fail "the man page lacks the help of '$command'"
  done
  grep -q '^\.SH ENVIRONMENT' <<<"$page" || fail "the man page lacks ENVIRONMENT"
  local name
  name=$(sed -n '/^\.SH NAME/{n;p;}' <<<"$page")
  echo "NAME: $name"
  if ! grep -q "monitor" <<<"$name" || ! grep -q "settings" <<<"$name"; then
    fail "the NAME line does not name monitor and settings"
  fi
  local file
  for file in ipportconfig.ini qelversion.cfg; do
    sed -n '/^\.SH FILES/,/^\.SH /p' <<<"$page" | grep -qxF ".I $file" || fail "FILES does not list $file"
  done
  echo "the man page holds kavexctl $version, the help of every command and the files"
}

# What bash completes for a command line (the word under the cursor last).
complete_line() {
  PATH=$prefix/bin:$PATH bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _kavexctl kavexctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    [ ${#COMPREPLY[@]} -eq 0 ] || printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' \
    completion "$prefix/share/bash-completion/completions/kavexctl" "$@"
}

bash_completion() {
  local got ok=0
  expect_completion() {
    local want=$1
    shift
    got=$(complete_line "$@")
    echo "'$*' completes to: $got"
    [ "$got" = "$want" ] || { echo "   expected: $want"; ok=1; }
  }
  expect_completion "--help --version config demo help monitor ports read settings simulate " kavexctl ""
  expect_completion "read " kavexctl re
  expect_completion "help " kavexctl he
  expect_completion "config demo monitor ports read settings simulate " kavexctl help ""
  expect_completion "" kavexctl help read ""
  expect_completion "--config --count --help --length --library " kavexctl read --
  expect_completion "COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9 " kavexctl read ""
  expect_completion "COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9 " kavexctl simulate --port ""
  expect_completion "" kavexctl simulate --gap ""
  expect_completion "init set show " kavexctl config ""
  expect_completion "init path report set show " kavexctl settings ""
  expect_completion "COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9 " kavexctl monitor ""
  expect_completion "" kavexctl monitor --seconds ""
  mkdir -p "$tmp/completion" && touch "$tmp/completion/"{ipportconfig.ini,qelversion.cfg,report.txt}
  expect_completion "$tmp/completion/ipportconfig.ini " kavexctl config show --file "$tmp/completion/ip"
  expect_completion "$tmp/completion/qelversion.cfg " kavexctl settings show --file "$tmp/completion/qe"
  expect_completion "$tmp/completion/report.txt " kavexctl settings report --out "$tmp/completion/re"
  return $ok
}

check InstalledFiles installed_files
check SonameAndExports soname_and_exports
check InstalledUnderAnotherPrefix installed_elsewhere
check KavexctlVersion kavexctl_version
check ManPage man_page
check BashCompletion bash_completion

# ---- 2. hosts reading from the simulated reader -------------------------------------
echo "-- Hosts of the installed library, each reading a code from kavexctl simulate"

pkg_config_consumer() {
  export PKG_CONFIG_PATH=$libdir/pkgconfig
  local flags
  flags=$(pkg-config --cflags --libs kavex) || fail "pkg-config does not know kavex"
  flags=${flags% } # without pkg-config's trailing blank
  echo "pkg-config --cflags --libs kavex: $flags"
  [ "$flags" = "-I$prefix/include -L$libdir -lkavex" ] || fail "unexpected flags"
  [ "$(pkg-config --modversion kavex)" = "$version" ] || fail "pkg-config --modversion is not $version"
  # shellcheck disable=SC2086 # the flags are words
  cc -std=c99 -Wall -Wextra -Werror -pedantic -o "$tmp/poll-pkg-config" examples/poll/poll.c $flags ||
    fail "examples/poll/poll.c did not build with pkg-config's flags"
  reads COM2 1234567890 "card 1234567890" env LD_LIBRARY_PATH="$libdir" "$tmp/poll-pkg-config" COM2 1
}

find_package_consumer() {
  cmake -S examples/poll -B "$work/poll" -DCMAKE_PREFIX_PATH="$prefix" || fail "find_package(Kavex) failed"
  cmake --build "$work/poll" || fail "examples/poll did not build"
  reads COM3 2345678901 "card 2345678901" "$work/poll/kavex_poll" COM3 1
}

add_subdirectory_consumer() {
  rm -rf "$work/embed"
  cmake -S tests/install/embed -B "$work/embed" -DKAVEX_SOURCE_DIR="$root" || fail "the embedding project did not configure"
  cmake --build "$work/embed" -j"$jobs" --target host || fail "the embedding project did not build"
  [ ! -e "$work/embed/kavex/tests" ] || fail "Kavex configured its tests inside another project"
  reads COM4 3456789012 "card 3456789012" "$work/embed/host" COM4 1
}

# The installed kavexctl loads the library installed with it, through its
# run path ($ORIGIN/../lib...), not one at the prefix it was configured for.
kavexctl_reads() {
  readelf -d "$prefix/bin/kavexctl" | grep -E 'R(UN)?PATH' || true
  reads COM5 4567890123 4567890123 env -u LD_LIBRARY_PATH "$prefix/bin/kavexctl" read COM5 --count 1
  local loaded
  loaded=$(realpath "$libdir/libkavex.so.$version")
  grep -qF "through $loaded;" <<<"$read_output" || fail "kavexctl did not say it read through $loaded"
}

python_ctypes_port() {
  reads COM6 5678901234 "card 5678901234" env LD_LIBRARY_PATH="$libdir" python3 examples/python/read_card.py COM6 --count 1
}

# The library takes ipportconfig.ini from the directory of the executable,
# which is the interpreter: a virtual environment with copies of it holds
# the file in its bin/.
python_ctypes_config() {
  local venv=$tmp/venv
  python3 -m venv --copies --without-pip "$venv" || fail "python3 -m venv --copies failed"
  "$prefix/bin/kavexctl" config set --file "$venv/bin/ipportconfig.ini" PrimaryPort=7 || fail "kavexctl config set failed"
  reads COM7 6789012345 "card 6789012345" env LD_LIBRARY_PATH="$libdir" "$venv/bin/python3" examples/python/read_card.py --count 1
}

check PkgConfigConsumer pkg_config_consumer
check FindPackageConsumer find_package_consumer
check AddSubdirectoryConsumer add_subdirectory_consumer
check KavexctlReadsThroughItsRunPath kavexctl_reads
check PythonCtypesExample python_ctypes_port
check PythonCtypesConfigBesideTheInterpreter python_ctypes_config

# ---- 3. the Debian package ------------------------------------------------------------
echo "-- Building build-install/deb as a packager does and making the Debian package"
arch=$(dpkg --print-architecture)
deb=$work/deb/kavex_${version}_$arch.deb
rm -f "$work"/deb/*.deb
(
  # Every hardening feature (bindnow too), and CPPFLAGS passed as debhelper
  # passes them to CMake, which does not read them.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  eval "$(dpkg-buildflags --export=sh)"
  export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS"
  cmake -S . -B "$work/deb" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
    -DKAVEX_BUILD_TESTS=OFF -DKAVEX_WERROR=ON &&
    cmake --build "$work/deb" -j"$jobs" && cd "$work/deb" && cpack -G DEB
) >"$logs/deb-build.log" 2>&1
package_built() {
  tail -n 5 "$logs/deb-build.log"
  [ -f "$deb" ] || fail "no $(basename "$deb")"
}
check DebianPackageBuilt package_built

package_contents() {
  [ -f "$deb" ] || fail "no package"
  local multiarch want got
  multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
  want=$(printf '%s\n' ./usr/bin/kavexctl ./usr/include/kavex.h \
    "./usr/lib/$multiarch/"{libkavex.so,libkavex.so.$soversion,libkavex.so.$version,pkgconfig/kavex.pc} \
    "./usr/lib/$multiarch/cmake/Kavex/"{KavexConfig.cmake,KavexConfigVersion.cmake,KavexTargets.cmake} \
    ./usr/share/bash-completion/completions/kavexctl ./usr/share/doc/kavex/{changelog.gz,copyright} \
    ./usr/share/lintian/overrides/kavex ./usr/share/man/man1/kavexctl.1.gz | sort)
  local listed
  listed=$(dpkg-deb --fsys-tarfile "$deb" | tar -t) || fail "cannot list the package"
  # KavexTargets-<build type>.cmake names the build type: any.
  grep -q "KavexTargets-.*\.cmake$" <<<"$listed" || fail "no KavexTargets-<type>.cmake"
  got=$(grep -v -e '/$' -e 'KavexTargets-.*\.cmake$' <<<"$listed" | sort)
  echo "$got"
  [ "$want" = "$got" ] || { diff <(echo "$want") <(echo "$got"); fail "the package holds other files than these"; }

  local control
  control=$(dpkg-deb -f "$deb")
  echo "$control"
  grep -qx "Package: kavex" <<<"$control" || fail "the package is not named kavex"
  grep -qx "Version: $version" <<<"$control" || fail "the package's version is not $version"
  local command
  for command in monitor settings; do
    grep -q "^ .*\b$command" <<<"$control" || fail "the package's description does not mention $command"
  done
  grep -q "^Depends: .*libc6" <<<"$control" || fail "no dependencies worked out"
  rm -rf "$tmp/control" && dpkg-deb -e "$deb" "$tmp/control"
  grep -qx "libkavex $soversion kavex (>= $version)" "$tmp/control/shlibs" || fail "no shlibs entry"
  grep -qx "activate-noawait ldconfig" "$tmp/control/triggers" || fail "no ldconfig trigger"

  rm -rf "$tmp/root" && dpkg-deb -x "$deb" "$tmp/root"
  # The changelog's last entry is this version, and the symbols file lists
  # exactly what the library exports.
  gzip -dc "$tmp/root/usr/share/doc/kavex/changelog.gz" | head -n 1 | grep -q "^kavex ($version) " ||
    fail "packaging/debian/changelog has no entry for $version"
  local listed_symbols exported
  listed_symbols=$(sed -n 's/^ \([A-Za-z_][A-Za-z0-9_]*\)@Base .*/\1/p' "$tmp/control/symbols" | sort | tr '\n' ' ')
  exported=$(nm -D --defined-only "$tmp/root/usr/lib/$multiarch/libkavex.so.$version" | awk '{ print $3 }' | sort | tr '\n' ' ')
  echo "symbols file: $listed_symbols"
  [ "$listed_symbols" = "$exported" ] || fail "the symbols file lists other functions than the library exports ($exported)"
  grep -qx "prefix=/usr" "$tmp/root/usr/lib/$multiarch/pkgconfig/kavex.pc" || fail "kavex.pc does not say prefix=/usr"
  ! readelf -d "$tmp/root/usr/bin/kavexctl" | grep -E 'R(UN)?PATH' || fail "the package's kavexctl has a run path"
  [ "$(LD_LIBRARY_PATH=$tmp/root/usr/lib/$multiarch "$tmp/root/usr/bin/kavexctl" --version)" = "kavexctl $version" ] ||
    fail "the package's kavexctl does not run"
}
check DebianPackageContents package_contents

lintian_verdict() {
  [ -f "$deb" ] || fail "no package"
  local output status
  # Every level, pedantic and experimental ones too; overridden tags (with
  # their reasons in packaging/debian/lintian-overrides) are not shown.
  output=$(lintian --pedantic --display-info --display-experimental --fail-on error,warning,info,pedantic,experimental \
    "$deb" 2>&1)
  status=$?
  echo "lintian (exit $status):"
  echo "$output"
  [ "$status" -eq 0 ] || fail "lintian failed"
  ! grep -q '^[EWIPX]: ' <<<"$output" || fail "lintian reports tags"
}
check Lintian lintian_verdict

# kavexctl loads libkavex.so.1 beside itself or through the loader's
# search; one directory up is neither (the package's kavexctl has no run path).
kavexctl_library_places() {
  [ -x "$tmp/root/usr/bin/kavexctl" ] || fail "no kavexctl from the package"
  local place=$tmp/places output
  mkdir -p "$place/bin"
  cp "$tmp/root/usr/bin/kavexctl" "$place/bin/"
  cp "$libdir/libkavex.so.$version" "$place/libkavex.so.$soversion"
  output=$(env -u LD_LIBRARY_PATH "$place/bin/kavexctl" read COM9 --count 1 2>&1)
  echo "library one directory up: $output"
  grep -q "cannot load libkavex.so.$soversion" <<<"$output" || fail "kavexctl loaded a library it should not find"
  ! grep -q '\.\./' <<<"$output" || fail "kavexctl looked one directory up"
  mv "$place/libkavex.so.$soversion" "$place/bin/"
  reads COM8 7890123456 7890123456 env -u LD_LIBRARY_PATH "$place/bin/kavexctl" read COM8 --count 1
}
check KavexctlLoadsItsLibraryBesideItself kavexctl_library_places

read -r passed failed skipped < <(python3 scripts/lib/results.py count "$results" | head -n 1)
echo "== install: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
