#!/bin/sh
# Installs what a fresh machine of ours lacks, and nothing when it is all
# there already. Needs root (apt-get).
set -eu

packages="cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev
  zlib1g-dev openjdk-17-jdk-headless g++-mingw-w64-i686-posix wine wine32 wine64
  xvfb x11-utils osslsigncode openssl zip unzip python3 qemu-user-static"

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

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

# Some of our machines cannot execute 32-bit x86 programs natively (Wine's
# 32-bit half is one); there qemu runs them, registered as their interpreter.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      > /proc/sys/fs/binfmt_misc/register
  fi
fi
