#!/bin/sh
# Installs what a fresh machine of ours lacks, and nothing when it is all
# there already. Needs root (apt-get).
set -eu

packages="cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev
  zlib1g-dev openjdk-17-jdk-headless g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine64 xvfb x11-utils osslsigncode openssl zip unzip python3"

missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $package"
done
if [ -n "$missing" ]; then
  echo "setup: installing$missing"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

# Our machines' kernels cannot run 32-bit x86 programs that make system
# calls, so Wine runs the Windows tests as 64-bit programs. An emulator
# registered for 32-bit programs would only make Wine start 32-bit helpers
# that cannot work and slow every prefix boot; keep it out of the way.
if [ -w /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  echo 0 > /proc/sys/fs/binfmt_misc/qemu-i386
fi
