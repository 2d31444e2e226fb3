#!/usr/bin/env bash
# Prepares a Debian 12 machine to build and test the tree: packages, the
# cross-built OpenSSL libcrypto and cJSON, all cached under the build folder.
# Safe to run again; it does nothing that is already done.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
DEPS=${SIGWELL_DEPS:-$ROOT/build/deps}
JOBS=$(nproc)

PACKAGES=(
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
    wine wine64 wine32:i386 xvfb xauth x11-xkb-utils openbox python3 openssl
    cmake ninja-build make perl dpkg-dev xz-utils locales
    googletest libgtest-dev libbenchmark-dev libssl-dev valgrind clang-format git
)

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

missing_packages() {
    local p
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' ||
            echo "$p"
    done
}

# deb-src lines mirroring the machine's own deb lines, so that apt-get
# source fetches from the same archive and suites.
add_deb_src() {
    if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        return 1
    fi
    local out=/etc/apt/sources.list.d/sigwell-deb-src
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed -e 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
            as_root tee "$out.sources" >/dev/null
    elif [ -f /etc/apt/sources.list ]; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | as_root tee "$out.list" >/dev/null
    else
        echo "setup: no Debian source list to derive deb-src from" >&2
        exit 1
    fi
}

install_packages() {
    local need=0
    dpkg --print-foreign-architectures | grep -qx i386 || { as_root dpkg --add-architecture i386; need=1; }
    add_deb_src && need=1
    local missing
    missing=$(missing_packages)
    if [ -n "$missing" ] || [ $need = 1 ]; then
        # A mirror caught mid-sync fails one index; the others still serve.
        as_root apt-get update -qq || echo "setup: some package indexes did not update" >&2
    fi
    if [ -n "$missing" ]; then
        # shellcheck disable=SC2086
        apt_install $missing
    fi
}

# When one architecture's update index is missing, the newest version of a
# library exists for amd64 only and its i386 twin cannot match it; the
# release's own suite has both.
apt_install() {
    local codename
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" && return 0
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "setup: retrying with the packages of $codename itself" >&2
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends -t "$codename" "$@"
}

# Wine takes its ANSI code page from the Unix locale: the tests of a
# Chinese user's machine (code page 936) need zh_CN.UTF-8 generated.
CHINESE_LOCALE="zh_CN.UTF-8 UTF-8"

generate_locale() {
    locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8' && return 0
    grep -qx "$CHINESE_LOCALE" /etc/locale.gen 2>/dev/null ||
        echo "$CHINESE_LOCALE" | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
}

# Some kernels run 64-bit user code only. There 32-bit Wine runs under
# qemu's user-mode emulator, registered for i386 programs; qemu before 8
# ignores MAP_FIXED_NOREPLACE, which costs Wine a minute at every start,
# so the emulator comes from bookworm-backports.
BINFMT=/proc/sys/fs/binfmt_misc
QEMU_I386=/usr/bin/qemu-i386

add_backports() {
    local out=/etc/apt/sources.list.d/sigwell-backports.sources uri
    [ -f "$out" ] && return 0
    uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)
    [ -n "$uri" ] || uri=$(sed -n 's/^deb \(\[[^]]*\] \)\?\([^ ]*\) .*/\2/p' /etc/apt/sources.list 2>/dev/null | head -n1)
    [ -n "$uri" ] || { echo "setup: no Debian source list to derive backports from" >&2; exit 1; }
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$uri" | as_root tee "$out" >/dev/null
    as_root apt-get update -qq || echo "setup: some package indexes did not update" >&2
}

register_qemu_i386() {
    mountpoint -q "$BINFMT" || as_root mount -t binfmt_misc binfmt_misc "$BINFMT"
    if [ -f "$BINFMT/qemu-i386" ]; then
        grep -qx "interpreter $QEMU_I386" "$BINFMT/qemu-i386" && return 0
        echo -1 | as_root tee "$BINFMT/qemu-i386" >/dev/null
    fi
    # Static ELF executables and shared objects of machine 3 (i386); F
    # opens the emulator now, so it serves every mount namespace.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU_I386"':F' |
        as_root tee "$BINFMT/register" >/dev/null
}

setup_i386() {
    if [ ! -f "$BINFMT/qemu-i386" ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
        return 0
    fi
    if ! "$QEMU_I386" --version 2>/dev/null | grep -qE 'version ([89]|[1-9][0-9])\.'; then
        add_backports
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            -t bookworm-backports qemu-user
    fi
    register_qemu_i386
    /usr/lib/wine/wine --version >/dev/null 2>&1 || { echo "setup: 32-bit programs do not run" >&2; exit 1; }
}

# Newest .orig tarball of a Debian source package, downloaded once.
fetch_source() {
    local pkg=$1 dir=$DEPS/src
    mkdir -p "$dir"
    if ! ls "$dir/${pkg}"_*.orig.tar.* >/dev/null 2>&1; then
        # A security update may lack its .dsc or .debian.tar; the
        # .orig tarball is all we need.
        (cd "$dir" && apt-get source --download-only "$pkg" >/dev/null 2>&1) || true
    fi
    local tarball
    tarball=$(ls "$dir/${pkg}"_*.orig.tar.* 2>/dev/null | grep -v '\.asc$' | sort -V | tail -n1)
    [ -n "$tarball" ] || { echo "setup: could not fetch the source of $pkg" >&2; exit 1; }
    echo "$tarball"
}

unpack() {
    local tarball=$1 into=$2
    rm -rf "$into" && mkdir -p "$into"
    tar -xf "$tarball" -C "$into" --strip-components=1
}

# No engines and no configuration file read on first use: the libraries are
# linked into other programs' processes (a browser's, any CryptoAPI caller's),
# where OPENSSL_CONF names whatever the user's environment says.
OPENSSL_OPTIONS=(no-shared no-tests no-ssl no-dso no-module no-engine no-autoload-config)

build_openssl() {
    local arch=$1 target=$2 prefix=$DEPS/$1
    # The done-marker records the options it was built with: a change of
    # options builds it again.
    [ "$(cat "$prefix/.openssl-done" 2>/dev/null)" = "${OPENSSL_OPTIONS[*]}" ] && return 0
    local tarball work=$DEPS/work/openssl-$arch
    tarball=$(fetch_source openssl)
    unpack "$tarball" "$work"
    if ! (cd "$work" &&
        ./Configure "$target" "${OPENSSL_OPTIONS[@]}" \
            --cross-compile-prefix="$arch-w64-mingw32-" --prefix="$prefix" --libdir=lib &&
        make -j"$JOBS" build_generated &&
        make -j"$JOBS" libcrypto.a) >"$work.log" 2>&1; then
        tail -n 40 "$work.log" >&2
        echo "setup: OpenSSL for $arch did not build" >&2
        exit 1
    fi
    mkdir -p "$prefix/lib" "$prefix/include"
    rm -rf "$prefix/include/openssl"
    cp "$work/libcrypto.a" "$prefix/lib/"
    cp -r "$work/include/openssl" "$prefix/include/"
    rm -rf "$work" "$work.log"
    echo "${OPENSSL_OPTIONS[*]}" >"$prefix/.openssl-done"
}

build_cjson() {
    local arch=$1 prefix=$DEPS/$1
    [ -f "$prefix/.cjson-done" ] && return 0
    local tarball work=$DEPS/work/cjson-$arch
    tarball=$(fetch_source cjson)
    unpack "$tarball" "$work"
    mkdir -p "$prefix/lib" "$prefix/include/cjson"
    "$arch-w64-mingw32-gcc-posix" -O2 -std=c89 -c "$work/cJSON.c" -o "$work/cJSON.o"
    "$arch-w64-mingw32-ar" rcs "$prefix/lib/libcjson.a" "$work/cJSON.o"
    cp "$work/cJSON.h" "$prefix/include/cjson/"
    rm -rf "$work"
    touch "$prefix/.cjson-done"
}

install_packages
generate_locale
setup_i386
fetch_source openssl >/dev/null
fetch_source cjson >/dev/null
build_openssl i686 mingw & p1=$!
build_openssl x86_64 mingw64 & p2=$!
wait $p1; wait $p2
build_cjson i686
build_cjson x86_64
echo "setup: ready ($DEPS)"
