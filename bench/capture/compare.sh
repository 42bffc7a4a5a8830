#!/usr/bin/env bash
# Two builds of bench_capture side by side: runs them alternately, one run each per round, and
# prints the best whole-capture (and decode-only) frames per second of each and their ratio.
#
#   compare.sh BEFORE_BIN AFTER_BIN [ROUNDS (default 5)] [more bench_capture options...]
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: $0 BEFORE_BIN AFTER_BIN [ROUNDS] [bench_capture options...]" >&2
    exit 2
fi
before=$1 after=$2
shift 2
rounds=5
if [ $# -gt 0 ]; then rounds=$1; shift; fi

best_before=0 best_after=0 dbest_before=0 dbest_after=0
# "whole capture: N frames, best S s, median S s: F frames/s" and the same for decode-only.
figure() { sed -n "s/^$1:.*: \([0-9]*\) frames\/s$/\1/p" <<<"$2"; }
max() { if [ "$1" -gt "$2" ]; then echo "$1"; else echo "$2"; fi; }

for ((r = 1; r <= rounds; r++)); do
    for which in before after; do
        bin=$before
        [ $which = after ] && bin=$after
        out=$("$bin" --runs 1 "$@")
        capture=$(figure "whole capture" "$out")
        decode=$(figure "decode-only" "$out")
        printf 'round %d %-6s whole capture %8s frames/s   decode-only %8s frames/s\n' "$r" "$which" "$capture" "$decode"
        if [ $which = before ]; then
            best_before=$(max "$capture" "$best_before"); dbest_before=$(max "$decode" "$dbest_before")
        else
            best_after=$(max "$capture" "$best_after"); dbest_after=$(max "$decode" "$dbest_after")
        fi
    done
done

echo "best of $rounds rounds, frames per second:"
printf '  before: whole capture %8d   decode-only %8d   (%s)\n' "$best_before" "$dbest_before" "$before"
printf '  after:  whole capture %8d   decode-only %8d   (%s)\n' "$best_after" "$dbest_after" "$after"
awk -v a="$best_after" -v b="$best_before" -v da="$dbest_after" -v db="$dbest_before" 'BEGIN {
    printf "after / before: whole capture %.2f times as fast, decode-only %.2f times\n", a / b, da / db }'
