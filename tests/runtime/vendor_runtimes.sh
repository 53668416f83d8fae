#!/bin/sh
# Builds (add) or removes (delete) runtimes registered the way vendors'
# installers register them (docs/configuration.md names the source of each
# layout), in the Wine prefix the Windows tests run in.
# Usage: vendor_runtimes.sh add|delete <directory> <32|64> [<32-bit jvm.dll>]
# Each home gets a stand-in bin/server/jvm.dll; the newest Adoptium entry
# gets the 32-bit library given, which a 64-bit program must pass over.
set -e
here=$(cd "$(dirname "$0")" && pwd)
dir=$2
view=/reg:${3:-32}
reg() { "$here/../../scripts/wine-run" reg "$@" "$view" >/dev/null; }
# Wine shows the Unix root as drive Z:.
win=$(printf 'Z:%s' "$dir" | tr '/' '\\')

roots='Eclipse Adoptium
AdoptOpenJDK
Microsoft\JDK
Semeru
Azul Systems
BellSoft
JavaSoft\JDK\22.0.1.8.1'

if [ "$1" = delete ]; then
  echo "$roots" | while read -r root; do reg delete "HKLM\\SOFTWARE\\$root" /f || true; done
  rm -rf "$dir"
  exit 0
fi

rm -rf "$dir"
for home in adoptium21 adoptium17 adoptopenjdk8 microsoft11 semeru20 zulu19 liberica16 corretto22; do
  mkdir -p "$dir/$home/bin/server"
  echo stand-in >"$dir/$home/bin/server/jvm.dll"
done
mkdir -p "$dir/adoptium25/bin/server"
if [ -n "$4" ]; then cp "$4" "$dir/adoptium25/bin/server/jvm.dll"; fi

# Eclipse Adoptium (Temurin): <version>\hotspot\MSI, "Path" with a final "\".
reg add 'HKLM\SOFTWARE\Eclipse Adoptium\JDK\25.0.1.8\hotspot\MSI' /v Path /d "$win\\adoptium25\\" /f
reg add 'HKLM\SOFTWARE\Eclipse Adoptium\JDK\21.0.1.12\hotspot\MSI' /v Path /d "$win\\adoptium21\\" /f
reg add 'HKLM\SOFTWARE\Eclipse Adoptium\JDK\17.0.9.9\hotspot\MSI' /v Path /d "$win\\adoptium17\\" /f
# AdoptOpenJDK's first installers: <version>\MSI, without the JVM level.
reg add 'HKLM\SOFTWARE\AdoptOpenJDK\JDK\8.0.252.09\MSI' /v Path /d "$win\\adoptopenjdk8\\" /f
# Microsoft Build of OpenJDK: the Adoptium layout under Microsoft\JDK.
reg add 'HKLM\SOFTWARE\Microsoft\JDK\11.0.21.9\hotspot\MSI' /v Path /d "$win\\microsoft11\\" /f
# IBM Semeru: the Adoptium layout with the openj9 level.
reg add 'HKLM\SOFTWARE\Semeru\JRE\20.0.2.9\openj9\MSI' /v Path /d "$win\\semeru20\\" /f
# Azul Zulu: zulu-<major> with InstallationPath and CurrentVersion.
reg add 'HKLM\SOFTWARE\Azul Systems\Zulu\zulu-19' /v InstallationPath /d "$win\\zulu19\\" /f
reg add 'HKLM\SOFTWARE\Azul Systems\Zulu\zulu-19' /v CurrentVersion /d 19.0.2 /f
# BellSoft Liberica: jdk-<major> with InstallationPath.
reg add 'HKLM\SOFTWARE\BellSoft\Liberica\jdk-16' /v InstallationPath /d "$win\\liberica16" /f
# Amazon Corretto: JavaSoft\JDK\<version> with JavaHome.
reg add 'HKLM\SOFTWARE\JavaSoft\JDK\22.0.1.8.1' /v JavaHome /d "$win\\corretto22" /f
