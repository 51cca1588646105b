#!/bin/sh
# Builds the parser's libFuzzer target with clang in its own build folder and
# runs it for a bounded time (default 60 s) from the seeds in corpus/. New
# inputs go to a scratch folder, so the repository's seeds change only by hand.
# A crash leaves its input in the build folder's artifacts/ and fails the run;
# turn it into a regression test in tests/parser/ before fixing it.
#
# usage: tests/fuzz/run.sh [SECONDS]   (QUENTA_FUZZ_BUILD=DIR picks the build folder)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${QUENTA_FUZZ_BUILD:-$repo/build-fuzz}
seconds=${1:-60}

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DQUENTA_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target fuzz_post_parser

scratch=$(mktemp -d /tmp/quenta-fuzz-corpus-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/artifacts"
"$build/fuzz_post_parser" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -max_len=16384 \
  -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$scratch" "$here/corpus"
