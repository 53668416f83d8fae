#!/bin/sh
# Packs examples/hello for every target, runs the Linux executable on the
# installed JDK and shows the 64-bit Windows one.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/demo"
rm -rf "$out"
mkdir -p "$out/classes"
javac --release 8 -d "$out/classes" "$root/examples/hello/src/com/example/hello/Hello.java"
jar --create --file "$out/hello.jar" -C "$out/classes" .

for target in linux win32 win64; do
  suffix=""
  [ "$target" != linux ] && suffix=".exe"
  "$root/dist/nxo" pack --target "$target" --main-class com.example.hello.Hello \
    --config "$root/examples/hello/hello.cfg" -o "$out/hello-$target$suffix" "$out/hello.jar"
done

echo "== dist/nxo inspect build/demo/hello-win64.exe"
"$root/dist/nxo" inspect "$out/hello-win64.exe"
echo
echo "== build/demo/hello-linux a b"
"$out/hello-linux" a b
