#!/bin/sh
# Builds (add) or removes (delete) the runtimes the registry tests find:
# fake runtime homes below the directory given, and the registry keys that
# name them, in the Wine prefix the Windows tests run in.
# Usage: registry_runtimes.sh add|delete <directory> <32|64>
# The last argument is the test program's bitness: a 32-bit program reads
# the 32-bit view of HKLM\SOFTWARE, a 64-bit one the 64-bit view.
set -e
here=$(cd "$(dirname "$0")" && pwd)
dir=$2
view=/reg:${3:-32}
reg() { "$here/../../scripts/wine-run" reg "$@" "$view" >/dev/null; }
# Wine shows the Unix root as drive Z:.
win=$(printf 'Z:%s' "$dir" | tr '/' '\\')
test_keys='HKLM\SOFTWARE\NxoTest\Runtimes'

if [ "$1" = delete ]; then
  reg delete "$test_keys" /f || true
  reg delete 'HKLM\SOFTWARE\JavaSoft\JDK' /f || true
  reg delete 'HKLM\SOFTWARE\IBM\Java2 Runtime Environment' /f || true
  rm -rf "$dir"
  exit 0
fi

rm -rf "$dir"
for lib in jre8/bin/client jre8/bin/server homeonly/bin/server ibm/jre/bin/j9vm; do
  mkdir -p "$dir/$lib"
  echo stand-in >"$dir/$lib/jvm.dll"
done

# RuntimeLib naming an existing library.
reg add "$test_keys\\Lib" /v CurrentVersion /d 1.8 /f
reg add "$test_keys\\Lib\\1.8" /v RuntimeLib /d "$win\\jre8\\bin\\client\\jvm.dll" /f
reg add "$test_keys\\Lib\\1.8" /v JavaHome /d "$win\\homeonly" /f
# RuntimeLib naming a library that is gone: its bin directory is probed.
reg add "$test_keys\\StaleLib" /v CurrentVersion /d 1.7 /f
reg add "$test_keys\\StaleLib\\1.7" /v RuntimeLib /d "$win\\jre8\\bin\\gone\\jvm.dll" /f
# Only JavaHome.
reg add "$test_keys\\HomeOnly" /v CurrentVersion /d 11 /f
reg add "$test_keys\\HomeOnly\\11" /v JavaHome /d "$win\\homeonly" /f
# No CurrentVersion; a CurrentVersion without its subkey.
reg add "$test_keys\\NoVersion\\1.8" /v JavaHome /d "$win\\homeonly" /f
reg add "$test_keys\\Dangling" /v CurrentVersion /d 2.0 /f
# A value too long for the 260-byte buffer.
long=$(printf '%0300d' 0)
reg add "$test_keys\\LongVersion" /v CurrentVersion /d "$long" /f

# The keys the "s" and "i" sources read.
reg add 'HKLM\SOFTWARE\JavaSoft\JDK' /v CurrentVersion /d 17 /f
reg add 'HKLM\SOFTWARE\JavaSoft\JDK\17' /v JavaHome /d "$win\\homeonly" /f
reg add 'HKLM\SOFTWARE\IBM\Java2 Runtime Environment' /v CurrentVersion /d 1.6 /f
reg add 'HKLM\SOFTWARE\IBM\Java2 Runtime Environment\1.6' /v JavaHome /d "$win\\ibm" /f
