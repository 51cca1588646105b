#!/usr/bin/env bash
# Every test: installs what is missing, builds from nothing, runs the whole
# suite, then the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the multipart parser's fuzzer for a bounded
# time. Exits non-zero when anything fails.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${QUENTA_TEST_BUILD:-$here/build-test}

"$here/scripts/install-deps.sh"

echo "== build and test"
"$here/scripts/build.sh" "$out/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENTA_BENCHMARKS=ON
(cd "$out/release" && ctest --output-on-failure --timeout 300 -j 2)

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
"$here/scripts/build.sh" "$out/sanitize" -DCMAKE_BUILD_TYPE=Debug -DQUENTA_SANITIZE=ON -DQUENTA_BENCHMARKS=OFF
(cd "$out/sanitize" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure --timeout 600 -j 2)

if [ -x "$here/tests/fuzz/run.sh" ]; then
  echo "== fuzz the multipart parser"
  "$here/tests/fuzz/run.sh" "$out/fuzz" "${QUENTA_FUZZ_SECONDS:-60}"
fi
echo "test: all passed"
