#!/usr/bin/env bash
# Configures and builds the trees build/i686, build/x86_64, build/native
# (sanitized) and build/plain (native without sanitizers: the constant-time
# check), or those named in SIGWELL_TREES.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SIGWELL_BUILD:-$root/build}

configure() {
    local dir=$build/$1; shift
    [ -f "$dir/build.ninja" ] || cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

trees=${SIGWELL_TREES:-i686 x86_64 native plain}
for t in $trees; do
    case $t in
        native) configure native -DSIGWELL_SANITIZE=ON ;;
        plain) configure plain -DSIGWELL_MEASURE=ON ;;
        *) configure "$t" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$t.cmake" \
               -DSIGWELL_DEPS_DIR="${SIGWELL_DEPS:-$root/build/deps}/$t" ;;
    esac
    cmake --build "$build/$t"
done

# One CTest tree over all of them, so one run reports one summary.
printf 'subdirs("i686" "x86_64" "native" "plain")\n' > "$build/CTestTestfile.cmake"
