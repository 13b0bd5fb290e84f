#!/bin/sh
# Cuts seed inputs for the fuzz targets out of the fixture images: the start of each volume up to
# a few records past its $MFT start for fuzz_boot_sector, and single MFT records (behind the
# record-size byte fuzz_record reads first) for fuzz_record. The $MFT starts at byte 16,384 of
# every image but ntfs-c65536, where it starts at 131,072.
# Usage: fuzz/extract-seeds.sh (from the top of the source tree)
set -eu

fixtures=tests/fixtures
corpus=fuzz/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

image() { xz -dc "$fixtures/$1.img.xz" > "$work/$1.img"; }

# head IMAGE KIB: the first KIB KiB of the image as a boot-sector seed.
head_of() { dd if="$work/$1.img" of="$corpus/fuzz_boot_sector/$1-head" bs=1024 count="$2" status=none; }

# record IMAGE RECORD_SIZE SIZE_BYTE NUMBER...: records of an image whose $MFT starts at 16 KiB.
record() {
    name=$1 size=$2 sizeByte=$3
    shift 3
    for number in "$@"; do
        out="$corpus/fuzz_record/$name-record-$number"
        printf "\\$(printf '%03o' "$sizeByte")" > "$out"
        dd if="$work/$name.img" bs="$size" skip=$((16384 / size + number)) count=1 status=none >> "$out"
    done
}

for name in ntfs-c512 ntfs-c4096 ntfs-s4096 ntfs-c65536; do image "$name"; done

head_of ntfs-c512 32
head_of ntfs-c4096 32
head_of ntfs-s4096 48
head_of ntfs-c65536 136

# $MFT, the root folder, $Secure (named streams), resident and deleted files, names in several
# scripts, a file with a second stream, fragmented files.
record ntfs-c4096 1024 0 0 5 9 64 67 71 73 77 78 79 117
record ntfs-s4096 4096 1 0 79 117
