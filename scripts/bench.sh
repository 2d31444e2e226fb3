#!/usr/bin/env bash
# Builds the benchmarks in the native tree without sanitizers (build/plain)
# and runs them; each prints OpenSSL's time divided by ours. Not part of the
# test run. Arguments go to both programs, e.g. --benchmark_filter=Sm2.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SIGWELL_BUILD:-$root/build}

SIGWELL_TREES=plain "$root/scripts/build.sh"
cmake --build "$build/plain" --target tokencrypto_bench smcrypto_benchmark
"$build/plain/tests/tokencrypto/tokencrypto_bench" "$@"
"$build/plain/tests/smcrypto/smcrypto_benchmark" "$@"
