#!/usr/bin/env bash
# Times the Extended scan's whole-volume sweep (`orvandel-cli scan --extended --sweep`) against
# `dd if=IMAGE of=/dev/null bs=4M` on the same image, cold (page cache dropped before every run)
# and warm, and prints each one's throughput, the sweep's share of dd's and its peak memory.
# usage: bench/sweep-vs-dd.sh [RUNS] [IMAGE]   (as root: dropping the page cache needs it)
# Without IMAGE a dense 2 GiB volume is made once: random bytes everywhere (no holes, so every
# byte comes from the disk when cold), quick-formatted, then 4,000 files written and half deleted.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-3}
work=${ORV_BENCH_DIR:-/var/tmp/orvandel-bench}
image=${2:-$work/dense.img}
cli=${ORV_CLI:-build/cli/orvandel-cli}
[ -x "$cli" ] || bash tools/build.sh build -DORV_BUILD_TESTS=OFF
command -v /usr/bin/time >/dev/null || apt-get install -y --no-install-recommends time >/dev/null
mkdir -p "$work"

if [ ! -f "$image" ]; then
    echo "== making $image"
    head -c 2G /dev/urandom >"$image.part"
    mkntfs -F -Q -q -c 4096 "$image.part" >/dev/null 2>&1
    mnt=$(mktemp -d)
    ntfs-3g "$image.part" "$mnt"
    trap 'umount "$mnt" 2>/dev/null || true; rmdir "$mnt" 2>/dev/null || true' EXIT
    for ((d = 0; d < 40; d++)); do
        mkdir -p "$mnt/data/folder-$d"
        for ((f = 0; f < 100; f++)); do
            head -c $(((f % 7 + 1) * 20000)) /dev/urandom >"$mnt/data/folder-$d/file-$f.bin"
        done
    done
    for ((d = 0; d < 40; d++)); do
        for ((f = 0; f < 100; f += 2)); do rm "$mnt/data/folder-$d/file-$f.bin"; done
    done
    umount "$mnt"
    rmdir "$mnt"
    trap - EXIT
    mv "$image.part" "$image"
fi

bytes=$(stat -c %s "$image")
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
drop() { sync; echo 3 >/proc/sys/vm/drop_caches; }

# One run of each, alternating, so both see the same machine; prints "seconds peak-KiB".
timed() {
    /usr/bin/time -f '%e %M' -o "$work/time.out" "$@" >/dev/null 2>"$work/stderr.out" ||
        { cat "$work/stderr.out" >&2; exit 1; }
    tail -n 1 "$work/time.out"
}

for mode in cold warm; do
    dd_times=() sweep_times=() peaks=()
    [ "$mode" = warm ] && cat "$image" >/dev/null
    for ((i = 0; i < runs; i++)); do
        [ "$mode" = cold ] && drop
        out=$(timed dd if="$image" of=/dev/null bs=4M)
        dd_times+=("${out% *}")
        [ "$mode" = cold ] && drop
        out=$(timed "$cli" scan "$image" --extended --sweep --json --quiet)
        sweep_times+=("${out% *}")
        peaks+=("${out#* }")
    done
    dd_s=$(printf '%s\n' "${dd_times[@]}" | median)
    sweep_s=$(printf '%s\n' "${sweep_times[@]}" | median)
    peak=$(printf '%s\n' "${peaks[@]}" | median)
    awk -v m="$mode" -v b="$bytes" -v d="$dd_s" -v s="$sweep_s" -v p="$peak" 'BEGIN {
        printf "%s: dd %.2f s (%.0f MB/s), sweep %.2f s (%.0f MB/s) = %.0f%% of dd, sweep peak %.1f MiB\n",
               m, d, b / d / 1e6, s, b / s / 1e6, 100 * d / s, p / 1024 }'
done
