#!/usr/bin/env bash
# Configures and builds the three trees: build/i686, build/x86_64, build/native.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SIGWELL_BUILD:-$root/build}

configure() {
    local dir=$build/$1; shift
    [ -f "$dir/build.ninja" ] || cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DSIGWELL_DEPS_DIR="$root/build/deps/${dir##*/}" "$@" >/dev/null
}

configure i686 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686.cmake"
configure x86_64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake"
configure native -DSIGWELL_SANITIZE=ON
for t in i686 x86_64 native; do
    cmake --build "$build/$t" -- -k 0 ${SIGWELL_BUILD_TARGETS:-}
done

# One CTest tree over all three, so one run reports one summary.
printf 'subdirs("i686" "x86_64" "native")\n' > "$build/CTestTestfile.cmake"
