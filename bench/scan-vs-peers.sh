#!/usr/bin/env bash
# Times `orvandel-cli scan --json` beside `ntfsundelete --scan` and `fls -rd` on one large NTFS
# image: about 200,000 small files in a few thousand folders, about half of them deleted, a
# fragmented $MFT and folders whose records new files took (bench/make_peer_volume.sh).
# usage: bench/scan-vs-peers.sh [RUNS]      (as root; the image is made once and reused)
# Prints the median wall time and peak memory of each tool over RUNS runs (default 5), the tools
# taking turns, then the Normal scan with a cold cache beside dd reading the $MFT's extents.
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
    bash bench/make_peer_volume.sh "$image" "${ORV_BENCH_SIZE:-8G}" "$folders" "$per_folder"
fi

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One timed run: wall seconds and peak memory (KiB) appended to the tool's lists.
declare -A times peaks
timed() {
    local name=$1
    shift
    /usr/bin/time -f '%e %M' -o "$work/time.out" "$@" >/dev/null 2>&1 || true
    local out
    out=$(tail -n 1 "$work/time.out")
    times[$name]+="${out% *} "
    peaks[$name]+="${out#* } "
}
report() {
    local name=$1 t m
    t=$(tr ' ' '\n' <<<"${times[$name]}" | grep . | median)
    m=$(tr ' ' '\n' <<<"${peaks[$name]}" | grep . | median)
    printf '%-20s median %8.3f s   peak %8.1f MiB\n' "$name" "$t" "$(awk -v k="$m" 'BEGIN { print k / 1024 }')"
    echo "$t" >"$work/last-$name"
}

info=$("$cli" info "$image" --json)
mft_bytes=$(python3 -c 'import json,sys; i=json.load(sys.stdin); print(sum(e["length"] for e in i["mft_extents"]) * i["bytes_per_cluster"])' <<<"$info")
found=$("$cli" scan "$image" --json --quiet | python3 -c 'import json,sys; print(json.load(sys.stdin)["files_found"])')
echo "== $image: \$MFT $((mft_bytes / 1048576)) MiB; $found deleted files listed"

# Warm cache: the tools take turns, so a busy moment of the machine falls on both alike.
normal=("$cli" scan "$image" --json --quiet)
"${normal[@]}" >/dev/null 2>&1 || true
ntfsundelete --scan "$image" >/dev/null 2>&1 || true
for ((i = 0; i < runs; i++)); do
    timed orvandel-normal "${normal[@]}"
    timed ntfsundelete ntfsundelete --scan "$image"
done
for ((i = 0; i < runs; i++)); do
    timed orvandel-extended "$cli" scan "$image" --json --quiet --extended
    timed fls fls -rd "$image"
done
for name in orvandel-normal ntfsundelete orvandel-extended fls; do
    report "$name"
done
awk -v a="$(cat "$work/last-orvandel-normal")" -v b="$(cat "$work/last-ntfsundelete")" -v f="$found" -v m="$(tr ' ' '\n' <<<"${peaks[orvandel-normal]}" | grep . | median)" \
    'BEGIN { printf "orvandel normal / ntfsundelete wall time: %.3f\n", a / b;
             printf "peak memory: %.1f MiB = 64 MiB + %.0f bytes per listed file\n", m / 1024, (m * 1024 - 64 * 1048576) / f }'

# Cold cache: the image's pages are dropped before each run; dd reads the $MFT's extents alone.
drop() { dd if="$image" iflag=nocache count=0 status=none; }
dd_extents() {
    python3 -c 'import json,sys; i=json.load(sys.stdin)
for e in i["mft_extents"]: print(e["start"] * i["bytes_per_cluster"], e["length"] * i["bytes_per_cluster"])' <<<"$info" |
        while read -r start length; do
            dd if="$image" of=/dev/null bs=1M iflag=skip_bytes,count_bytes skip="$start" count="$length" status=none
        done
}
for ((i = 0; i < runs; i++)); do
    drop
    timed cold-orvandel "${normal[@]}"
    drop
    timed cold-dd bash -c "$(declare -f dd_extents); image='$image'; info='$info'; dd_extents"
done
report cold-orvandel
report cold-dd
awk -v a="$(cat "$work/last-cold-orvandel")" -v b="$(cat "$work/last-cold-dd")" \
    'BEGIN { printf "cold: orvandel normal / dd over the $MFT extents: %.3f\n", a / b }'
