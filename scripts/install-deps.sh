#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build Kavex and run every
# test tier: compilers, CMake, GoogleTest, the MinGW cross compilers, 64-bit
# and 32-bit Wine (wine32 is an i386 package: the i386 architecture is added
# first), gcc-multilib for the 32-bit TIOCMGET shim, what the install tier
# needs (help2man for the man page, dpkg-dev for dpkg-shlibdeps and
# dpkg-buildflags, lintian, python3-venv), LLVM's MSVC-compatible tools
# (llvm-dlltool makes Kavex.lib; clang-cl and lld-link build a host as MSVC
# does), Free Pascal for the check of the Pascal example, and clang's
# sanitizer and libFuzzer runtimes (libclang-rt-14-dev) for the sanitizer
# and fuzz tiers.
# With --build-only, just what building the library and kavexctl needs.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git python3 clang-format
  googletest libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 wine32:i386 gcc-multilib socat
  help2man dpkg-dev lintian python3-venv
  clang libclang-rt-14-dev lld llvm fp-compiler fp-units-rtl
)
if [ "${1:-}" = "--build-only" ]; then
  packages=(build-essential cmake)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
