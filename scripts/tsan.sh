#!/usr/bin/env bash
# The concurrency tests under ThreadSanitizer: the platform layer (debug
# output, files, named objects), the module's data files under concurrent
# requests, the settings bridge and its views, the mailbox and status links,
# concurrent form posts, and quenta-httpd itself (built with ThreadSanitizer
# and run by its end-to-end tests). Any report fails the run.
#
#   scripts/tsan.sh [BUILD_DIR]     (default build-tsan)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/build-tsan}
targets=(platform_tests frame_tests sqlbridge_tests links_tests forms_tests host_e2e_test quenta-httpd webquenta
         quenta_host_test_extension quenta_host_incomplete_extension)

cmake -S "$here" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENTA_TSAN=ON \
  -DQUENTA_BENCHMARKS=OFF >/dev/null
cmake --build "$out" -j "${QUENTA_JOBS:-$(nproc)}" --target "${targets[@]}"

# The named mutexes live in shared memory that one process may map at two
# addresses (one mapping per handle); ThreadSanitizer knows a mutex by its
# address and takes the unlock through the second mapping for a misuse.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 report_mutex_bugs=0 ${TSAN_OPTIONS:-}"
failed=0
for test in platform_tests frame_tests sqlbridge_tests links_tests forms_tests host_e2e_test; do
  if "$out/bin/$test" --gtest_brief=1 >"$out/$test.log" 2>&1; then
    echo "tsan: $test passed"
  else
    echo "tsan: $test FAILED"
    grep -E -A30 "WARNING: ThreadSanitizer|FAILED" "$out/$test.log" | head -n 80
    failed=1
  fi
done
exit "$failed"
