#!/bin/sh
# Builds the libFuzzer targets with clang in their own build folder and runs
# them for a bounded time together (default 60 s), split between the two: the
# multipart parser (seeds in corpus/) and the whole request through the host's
# control block into the module (seeds in request-corpus/). New inputs go to
# scratch folders, so the repository's seeds change only by hand. A crash
# leaves its input in the build folder's artifacts/ and fails the run; turn it
# into a regression test before fixing it.
#
# usage: tests/fuzz/run.sh [SECONDS]   (QUENTA_FUZZ_BUILD=DIR picks the build folder)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${QUENTA_FUZZ_BUILD:-$repo/build-fuzz}
seconds=${1:-60}
half=$(( (seconds + 1) / 2 ))

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DQUENTA_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target fuzz_post_parser fuzz_request

scratch=$(mktemp -d /tmp/quenta-fuzz-corpus-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/artifacts" "$scratch/parser" "$scratch/request"
echo "== fuzz_post_parser, $half s"
"$build/fuzz_post_parser" -max_total_time="$half" -timeout=10 -rss_limit_mb=1024 -max_len=16384 \
  -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$scratch/parser" "$here/corpus"
echo "== fuzz_request, $half s"
"$build/fuzz_request" -max_total_time="$half" -timeout=10 -rss_limit_mb=1024 -max_len=8192 \
  -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$scratch/request" "$here/request-corpus"
