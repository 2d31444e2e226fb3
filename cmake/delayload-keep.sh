#!/bin/sh
# delayload-keep.sh NM IMPORT_PREFIX OUTPUT DEF... -- INPUT...
# Writes the linker options "-u STUB" for each function of the DEF files
# that the INPUT objects and archives import, so that the linker keeps the
# delay-load stubs of exactly those: 32-bit ld drops an import library's
# jump stub that nothing names, and the delay slot that points at it is
# left empty.
set -eu
nm=$1 output=$3
# The functions' own symbols: the import symbols without "__imp_".
prefix=${2#__imp_}
shift 3
defs=
while [ "$1" != -- ]; do defs="$defs $1"; shift; done
shift
sed -n "/^EXPORTS\$/,\$p" $defs | grep -v '^EXPORTS$' | sed "s/^/$prefix/" | sort -u >"$output.names"
"$nm" -u "$@" 2>/dev/null | sed -n 's/^ *U __imp_//p' | sort -u | comm -12 - "$output.names" | sed 's/^/-u /' >"$output"
rm -f "$output.names"
