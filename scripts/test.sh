#!/usr/bin/env bash
# Every test: installs what is missing, builds from nothing, runs the whole
# suite, then the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the concurrency tests under
# ThreadSanitizer, then the two fuzzers (the multipart parser, the whole
# request) for a bounded time split between them, then compiles the module for
# the device with mingw-w64 (scripts/cross-compile.sh). Exits non-zero when
# anything fails.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${QUENTA_TEST_BUILD:-$here/build-test}

"$here/scripts/install-deps.sh"

echo "== build and test"
"$here/scripts/build.sh" "$out/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENTA_BENCHMARKS=ON
(cd "$out/release" && ctest --output-on-failure --timeout 300 -j 2) 2>&1 | tee "$out/release.log"

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
"$here/scripts/build.sh" "$out/sanitize" -DCMAKE_BUILD_TYPE=Debug -DQUENTA_SANITIZE=ON -DQUENTA_BENCHMARKS=OFF
(cd "$out/sanitize" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure --timeout 600 -j 2) 2>&1 | tee "$out/sanitize.log"

echo "== the concurrency tests under ThreadSanitizer"
if "$here/scripts/tsan.sh" "$out/tsan" 2>&1 | tee "$out/tsan.log"; then tsan_failed=0; else tsan_failed=1; fi
tsan_passed=$(grep -c '^tsan: .* passed' "$out/tsan.log" || true)

echo "== fuzz the multipart parser and whole requests for ${QUENTA_FUZZ_SECONDS:-60} s"
fuzz_log="$out/fuzz.log"
if QUENTA_FUZZ_BUILD="$out/fuzz" sh "$here/tests/fuzz/run.sh" "${QUENTA_FUZZ_SECONDS:-60}" >"$fuzz_log" 2>&1; then
  grep -E '^(== |stat::number_of_executed_units|Done)' "$fuzz_log" || true
  fuzz_passed=1; fuzz_failed=0
else
  tail -n 60 "$fuzz_log"
  fuzz_passed=0; fuzz_failed=1
fi

echo "== the module compiled for the device with mingw-w64"
if "$here/scripts/cross-compile.sh" "$out/device"; then device_passed=1; device_failed=0; else device_passed=0; device_failed=1; fi

echo "== the Debian package: installed, served, upgraded and purged on this machine"
if [ "$(id -u)" -ne 0 ] || [ ! -f /etc/debian_version ]; then
  echo "package test: not run: it installs the package into this machine, which needs root on Debian"
  package_passed=0; package_failed=0
elif "$here/scripts/package-test.sh" "$out/release"; then
  package_passed=1; package_failed=0
else
  package_passed=0; package_failed=1
fi

# One closing line for the whole run: the two suites, the ThreadSanitizer
# programs, the fuzz run and the package test.
count() { sed -n "s/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p" "$1" | tail -n 1; }
read -r failed_release total_release <<<"$(count "$out/release.log")"
read -r failed_sanitize total_sanitize <<<"$(count "$out/sanitize.log")"
passed=$(( total_release - failed_release + total_sanitize - failed_sanitize + tsan_passed + fuzz_passed + package_passed ))
failed=$(( failed_release + failed_sanitize + tsan_failed + fuzz_failed + package_failed ))
# And the device build.
passed=$(( passed + device_passed ))
failed=$(( failed + device_failed ))
echo "test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
