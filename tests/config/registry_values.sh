#!/bin/sh
# Writes (add) or removes (delete) the registry values that the expansion
# tests read, in the Wine prefix the Windows tests run in.
set -e
here=$(cd "$(dirname "$0")" && pwd)
reg() { "$here/../../scripts/wine-run" reg "$@" >/dev/null; }
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
reg add "$key" /v BigEndian /t REG_DWORD_BIG_ENDIAN /d 258 /f
reg add "$key" /v Binary /t REG_BINARY /d 0102 /f
reg add "$key" /v Loop /t REG_EXPAND_SZ /d '${HKLM\SOFTWARE\NxoTest\Loop}' /f
