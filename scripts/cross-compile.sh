#!/usr/bin/env bash
# Compiles the module for the device: its own folders with mingw-w64 against
# mingw-w64's Windows headers into webquenta.dll (cmake/device), then checks
# that the DLL exports the three entry points and nothing else, and imports
# only from the libraries that provide the services the module names. The DLL
# is not run. scripts/cross-compile.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/build-device}
target=x86_64-w64-mingw32

# Windows' homes of the device's services (files, named objects, the clock,
# code pages: KERNEL32; the registry: ADVAPI32; the adapter list: IPHLPAPI;
# the debug output and the time zone choice: the device's core library), the
# C runtime, and the machine's two libraries.
expected_imports="ADAMbridge.dll ADVAPI32.dll coredll.dll IPHLPAPI.DLL KERNEL32.dll msvcrt.dll SqlBridge.dll"
expected_exports="GetExtensionVersion HttpExtensionProc TerminateExtension"

for tool in $target-g++-win32 $target-dlltool $target-objdump; do
  if ! command -v "$tool" >/dev/null; then
    echo "cross-compile: FAILED: $tool is missing (scripts/install-deps.sh installs g++-mingw-w64-x86-64)"
    exit 1
  fi
done

cmake -S "$here/cmake/device" -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$out"

table=$($target-objdump -p "$out/webquenta.dll")
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p' <<<"$table" | sort | xargs)
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$table" | sort -f | xargs)
failed=0
if [ "$exports" != "$expected_exports" ]; then
  echo "cross-compile: webquenta.dll exports: $exports"
  echo "cross-compile: expected exports:      $expected_exports"
  failed=1
fi
if [ "$imports" != "$expected_imports" ]; then
  echo "cross-compile: webquenta.dll imports from: $imports"
  echo "cross-compile: expected imports from:      $expected_imports"
  failed=1
fi
if [ "$failed" -ne 0 ]; then
  echo "cross-compile: FAILED"
  exit 1
fi
echo "cross-compile: webquenta.dll exports $exports; imports from $imports"
