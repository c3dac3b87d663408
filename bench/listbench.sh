#!/bin/sh
# Times the zip component's ListEntries against `unzip -tqq` on the same large
# archive (half text, half random bytes), five runs each, and prints the medians,
# their ratio and the component's peak memory.
#
# Usage: bench/listbench.sh [MEGABYTES]        (default 300)
# Environment: BUILD_DIR   build folder holding bench/listbench (default ./build)
#              BENCH_DIR   where the archive is kept between runs (default /tmp/listbench)
set -eu

MB=${1:-300}
BUILD_DIR=${BUILD_DIR:-build}
BENCH_DIR=${BENCH_DIR:-/tmp/listbench}
BIN="$BUILD_DIR/bench/listbench"
ARCHIVE="$BENCH_DIR/Bench-${MB}MB.zip"
RUNS=5

[ -x "$BIN" ] || { echo "build the listbench target first ($BIN)" >&2; exit 1; }
mkdir -p "$BENCH_DIR"
if [ ! -f "$ARCHIVE" ]; then
    echo "writing $ARCHIVE ..."
    "$BIN" make "$ARCHIVE" "$MB"
fi
echo "archive: $ARCHIVE ($(stat -c %s "$ARCHIVE") bytes)"

now() { date +%s.%N; }
ours=""
theirs=""
i=1
while [ "$i" -le "$RUNS" ]; do
    set -- $("$BIN" list "$ARCHIVE")
    [ "$2" = 0 ] || { echo "ListEntries returned $2" >&2; exit 1; }
    ours="$ours $1"
    start=$(now)
    unzip -tqq "$ARCHIVE"
    t=$(echo "$start $(now)" | awk '{ printf "%.3f", $2 - $1 }')
    theirs="$theirs $t"
    echo "run $i: ListEntries $1 s, unzip -tqq $t s"
    i=$((i + 1))
done

median() { echo "$@" | tr ' ' '\n' | sed '/^$/d' | sort -n | sed -n "$(((RUNS + 1) / 2))p"; }
m_ours=$(median $ours)
m_theirs=$(median $theirs)
echo "median of $RUNS: ListEntries $m_ours s, unzip -tqq $m_theirs s," \
    "ratio $(echo "$m_ours $m_theirs" | awk '{ printf "%.2f", $1 / $2 }')"

if [ -x /usr/bin/time ]; then
    rss=$(/usr/bin/time -v "$BIN" list "$ARCHIVE" 2>&1 >/dev/null |
        awk -F': ' '/Maximum resident set size/ { print $2 }')
    echo "peak RSS of ListEntries: $rss KB"
fi
