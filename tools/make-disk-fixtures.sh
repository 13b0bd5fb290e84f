#!/usr/bin/env bash
# Builds the whole-disk test images in tests/fixtures/ from the committed NTFS volumes, so a scan
# through a partition can be compared with the scan of the same volume on its own:
#
#   disk-mbr-logical   MBR: a small Linux primary (1), an extended partition (2) holding one
#                      logical partition (5) with the ntfs-c4096 volume: the one NTFS partition
#   disk-gpt-two       GPT: ntfs-c512 as partition 1 ("Data A"), ntfs-c4096 as partition 2
#                      ("Data B"), with fixed GUIDs so the image is the same on every run
#
# For each it writes NAME.img.xz and NAME.partitions.tsv (every data partition: number, start
# sector, sectors, the committed volume it holds or "-"),
# and checks the table against mmls (The Sleuth Kit) before keeping it.
# Usage: tools/make-disk-fixtures.sh   (no root needed; needs sfdisk, sgdisk, mmls, xz)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${ORVANDEL_FIXTURES_OUT:-$repo/tests/fixtures}
die() { echo "make-disk-fixtures: $*" >&2; exit 1; }
for tool in sfdisk sgdisk mmls xz; do
    command -v "$tool" >/dev/null 2>&1 || die "missing tool: $tool (run tools/setup.sh)"
done

work=$(mktemp -d /tmp/orvandel-disks.XXXXXX)
trap 'rm -rf "$work"' EXIT

volume() { xz -dc "$out/$1.img.xz" >"$work/$1.img"; echo "$work/$1.img"; }

# put IMAGE VOLUME START_SECTOR: copies the volume into the disk at that sector, keeping holes.
put() { dd if="$2" of="$1" bs=512 seek="$3" conv=notrunc,sparse status=none; }

sectors_of() { echo $(( $(stat -c %s "$1") / 512 )); }

c512=$(volume ntfs-c512)
c4096=$(volume ntfs-c4096)

# MBR with a logical partition. The extended partition starts at 4096; its first record points
# at the logical partition 2048 sectors further in, as fdisk places them.
img=$work/disk-mbr-logical.img
n=$(sectors_of "$c4096")
truncate -s $(( (6144 + n + 2048) * 512 )) "$img"
sfdisk -q "$img" <<SFDISK
label: dos
label-id: 0x0de1a5ed
start=2048, size=2048, type=83
start=4096, size=$(( n + 2048 + 2048 )), type=5
start=6144, size=$n, type=7
SFDISK
put "$img" "$c4096" 6144
printf '1\t2048\t2048\t-\n5\t6144\t%s\tntfs-c4096\n' "$n" >"$work/disk-mbr-logical.partitions.tsv"

# GPT with two NTFS partitions.
img=$work/disk-gpt-two.img
n1=$(sectors_of "$c512")
n2=$(sectors_of "$c4096")
s2=$(( 2048 + n1 ))
truncate -s $(( (s2 + n2 + 2048) * 512 )) "$img"
sgdisk -U 5A0C1D6E-0000-4000-8000-000000000001 \
    -n 1:2048:$(( 2048 + n1 - 1 )) -t 1:0700 -c 1:"Data A" -u 1:5A0C1D6E-0000-4000-8000-0000000000A1 \
    -n 2:$s2:$(( s2 + n2 - 1 )) -t 2:0700 -c 2:"Data B" -u 2:5A0C1D6E-0000-4000-8000-0000000000B2 \
    "$img" >/dev/null
put "$img" "$c512" 2048
put "$img" "$c4096" "$s2"
printf '1\t2048\t%s\tntfs-c512\n2\t%s\t%s\tntfs-c4096\n' "$n1" "$s2" "$n2" >"$work/disk-gpt-two.partitions.tsv"

for name in disk-mbr-logical disk-gpt-two; do
    # mmls lists data partitions with a slot number ("000:000" or "000"); compare start and length.
    mmls "$work/$name.img" | awk '$2 ~ /^[0-9]/ && $2 !~ /Meta/ {print $3+0 "\t" $5+0}' | sort >"$work/mmls.txt"
    cut -f2,3 "$work/$name.partitions.tsv" | sort >"$work/ours.txt"
    diff "$work/mmls.txt" "$work/ours.txt" >/dev/null || { cat "$work/mmls.txt"; die "$name: mmls disagrees"; }
    xz -9e -T1 -c "$work/$name.img" >"$out/$name.img.xz"
    cp "$work/$name.partitions.tsv" "$out/"
    echo "make-disk-fixtures: $name.img.xz ($(stat -c %s "$out/$name.img.xz") bytes)"
done
