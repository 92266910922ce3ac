#!/bin/sh
# kestrix ($KX_REAL_KESTRIX) with every duration cut to 1 s, one sub-run and the smallest grid:
# the standard run's plumbing on the real program in seconds.
n=$#
i=0
while [ "$i" -lt "$n" ]; do
    a=$1
    shift
    i=$((i + 1))
    case $a in
    -d | --harness-sub-runs)
        set -- "$@" "$a" 1
        shift
        i=$((i + 1))
        ;;
    -s)
        shift
        i=$((i + 1))
        ;;
    *) set -- "$@" "$a" ;;
    esac
done
exec "$KX_REAL_KESTRIX" -s 64 "$@"
