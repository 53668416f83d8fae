#!/bin/sh
# Installs what a fresh machine of ours lacks, and nothing when it is all
# there already. Needs root (apt-get).
set -eu

packages="cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev
  zlib1g-dev libexpat1-dev openjdk-17-jdk-headless g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  libx11-dev libpng-dev libjpeg-dev xdotool x11-apps hyperfine
  xvfb x11-utils osslsigncode openssl icoutils zip unzip python3"
# Wine comes with what it recommends: its X11 driver loads the X extension
# libraries (Xrender, Xrandr, Xi...) that only its recommendations bring.
wine_packages="wine wine64"

# Our machines' kernels differ: some run 32-bit x86 programs, some refuse
# them. An emulator registered for 32-bit programs would only make Wine start
# 32-bit helpers through it and slow every prefix boot; keep it out of the way,
# and out of the test below.
if [ -w /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  echo 0 > /proc/sys/fs/binfmt_misc/qemu-i386
fi
# Where 32-bit programs run, 32-bit Wine runs the i686 build's tests too.
if "$(dirname "$0")/can-run-i386"; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: adding the i386 architecture for 32-bit Wine"
    dpkg --add-architecture i386
  fi
  wine_packages="$wine_packages wine32:i386"
fi

missing_from() {
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      printf ' %s' "$package"
  done
}

missing=$(missing_from $packages)
missing_wine=$(missing_from $wine_packages)
if [ -n "$missing$missing_wine" ]; then
  echo "setup: installing$missing$missing_wine"
  apt-get update -qq
fi
if [ -n "$missing" ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
if [ -n "$missing_wine" ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing_wine >/dev/null
fi
