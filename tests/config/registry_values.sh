#!/bin/sh
# Writes (add) or removes (delete) the registry values that the expansion
# tests read, in the Wine prefix the Windows tests run in.
set -e
here=$(cd "$(dirname "$0")" && pwd)
reg() { "$here/../../scripts/wine-run" reg "$@" >/dev/null; }
# Wine maps the Unix root to drive Z:.
winepath_of() { printf 'Z:%s' "$1" | tr / '\\'; }
key='HKLM\SOFTWARE\NxoTest'
if [ "$1" = delete ]; then
  reg delete "$key" /f || true
  reg delete 'HKCU\Software\NxoTest' /f || true
  exit 0
fi
reg add "$key" /ve /d "key default" /f
reg add "$key" /v Sz /t REG_SZ /d 'C:\Program Files\Nxo' /f
reg add 'HKCU\Software\NxoTest' /v Sz /t REG_SZ /d 'user value' /f
reg add "$key" /v Expand /t REG_EXPAND_SZ /d '%NXO_TEST_DIR%\bin' /f
reg add "$key" /v Dword /t REG_DWORD /d 0xffffffff /f
reg add "$key" /v Small /t REG_DWORD /d 42 /f
# reg add writes a big-endian DWORD's bytes in little-endian order; give the
# bytes themselves (00 00 01 02 is 258) through an import.
file=$(mktemp --suffix=.reg)
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\NxoTest]\r\n"BigEndian"=hex(5):00,00,01,02\r\n' > "$file"
reg import "$(winepath_of "$file")"
rm -f "$file"
reg add "$key" /v Binary /t REG_BINARY /d 0102 /f
reg add "$key" /v Loop /t REG_EXPAND_SZ /d '${HKLM\SOFTWARE\NxoTest\Loop}' /f
