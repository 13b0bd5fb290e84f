#!/usr/bin/env bash
# Times `orvandel-cli scan --json` beside `ntfsundelete --scan` and `fls -rd` on one large NTFS
# image: about 200,000 small files in a few thousand folders, about half of them deleted.
# usage: bench/scan-vs-peers.sh [RUNS]      (as root; the image is made once and reused)
# Prints the median wall time and peak memory of each tool over RUNS runs (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
work=${ORV_BENCH_DIR:-/var/tmp/orvandel-bench}
image=$work/large.img
cli=build-release/cli/orvandel-cli
folders=${ORV_BENCH_FOLDERS:-2000}
per_folder=${ORV_BENCH_FILES_PER_FOLDER:-100}

command -v /usr/bin/time >/dev/null || apt-get install -y --no-install-recommends time >/dev/null
bash tools/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_TESTS=OFF
mkdir -p "$work"

if [ ! -f "$image" ]; then
    echo "== making $image: $folders folders x $per_folder files, every other file deleted"
    truncate -s 2G "$image.part"
    mkntfs -F -Q -q -c 4096 "$image.part"
    mnt=$(mktemp -d)
    ntfs-3g "$image.part" "$mnt"
    trap 'umount "$mnt" 2>/dev/null || true; rmdir "$mnt" 2>/dev/null || true' EXIT
    # All files first, then the deletions: a record freed early would be reused by the next file.
    for ((d = 0; d < folders; d++)); do
        dir="$mnt/Projects/group-$((d / 100))/folder-$d"
        mkdir -p "$dir"
        for ((f = 0; f < per_folder; f++)); do
            printf 'file %d of folder %d\n' "$f" "$d" >"$dir/doc-$f.txt"
        done
    done
    for ((d = 0; d < folders; d++)); do
        dir="$mnt/Projects/group-$((d / 100))/folder-$d"
        for ((f = 0; f < per_folder; f += 2)); do
            rm "$dir/doc-$f.txt"
        done
    done
    umount "$mnt"
    rmdir "$mnt"
    trap - EXIT
    mv "$image.part" "$image"
fi

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

measure() {
    local name=$1
    shift
    local times=() peaks=()
    "$@" >/dev/null 2>&1 || true # warm the page cache once
    for ((i = 0; i < runs; i++)); do
        local out
        /usr/bin/time -f '%e %M' -o "$work/time.out" "$@" >/dev/null 2>&1 || true
        out=$(tail -n 1 "$work/time.out")
        times+=("${out% *}")
        peaks+=("${out#* }")
    done
    local t m
    t=$(printf '%s\n' "${times[@]}" | median)
    m=$(printf '%s\n' "${peaks[@]}" | median)
    printf '%-20s median %8.3f s   peak %8.1f MiB\n' "$name" "$t" "$(awk -v k="$m" 'BEGIN { print k / 1024 }')"
    echo "$t" >"$work/last-$name"
}

mft_bytes=$("$cli" info "$image" --json | python3 -c 'import json,sys; i=json.load(sys.stdin); print(sum(e["length"] for e in i["mft_extents"]) * i["bytes_per_cluster"])')
echo "== $image: \$MFT $((mft_bytes / 1048576)) MiB; $("$cli" scan "$image" --json --quiet | python3 -c 'import json,sys; print(json.load(sys.stdin)["files_found"])') deleted files listed"
measure orvandel-normal "$cli" scan "$image" --json --quiet
measure orvandel-extended "$cli" scan "$image" --json --quiet --extended
measure ntfsundelete ntfsundelete --scan "$image"
measure fls fls -rd "$image"
awk -v a="$(cat "$work/last-orvandel-normal")" -v b="$(cat "$work/last-ntfsundelete")" \
    'BEGIN { printf "orvandel normal / ntfsundelete wall time: %.3f\n", a / b }'
