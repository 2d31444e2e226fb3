#!/usr/bin/env bash
# check_imports.sh OBJDUMP SYSTEM_DIR BINARY...: every DLL a binary imports
# must be one the system itself carries (the compiler's runtimes are linked
# in, never imported).
set -eu
objdump=$1 sysdir=$2; shift 2
status=0
for binary in "$@"; do
    while read -r dll; do
        if [ ! -e "$sysdir/${dll,,}" ]; then
            echo "$(basename "$binary") imports $dll, which is not a system DLL"
            status=1
        fi
    done < <("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
[ $status = 0 ] && echo "$# binaries import only system DLLs"
exit $status
