#!/usr/bin/env bash
# Makes an NTFS image the way a file system driver leaves one after long use, for timing scans
# against other tools: FOLDERS folders of FILES small files each, every other file deleted, a
# $MFT in several extents (it had to grow after the space behind it was taken), and a few folders
# removed whose records new files took, so their deleted files climb to a record that is no
# folder any more.
# usage: bench/make_peer_volume.sh IMAGE [SIZE] [FOLDERS] [FILES]   (as root: it mounts with ntfs-3g)
set -euo pipefail

image=$1
size=${2:-2G}
folders=${3:-2000}
per_folder=${4:-100}
reused=$((folders / 20)) # folders whose record a new file takes

rm -f "$image.part"
truncate -s "$size" "$image.part"
mkntfs -F -Q -q -c 4096 "$image.part" >/dev/null 2>&1
mnt=$(mktemp -d)
trap 'umount "$mnt" 2>/dev/null || true; rmdir "$mnt" 2>/dev/null || true' EXIT
ntfs-3g "$image.part" "$mnt"
mkdir -p "$mnt/Projects/later"

folder() { echo "$mnt/Projects/group-$(($1 / 100))/folder-$1"; }
make_folders() {
    local d f dir
    for ((d = $1; d < $2; d++)); do
        dir=$(folder "$d")
        mkdir -p "$dir"
        for ((f = 0; f < per_folder; f++)); do
            printf 'file %d of folder %d\n' "$f" "$d" >"$dir/doc-$f.txt"
        done
    done
}

# Half the files, then the $MFT's neighbourhood is filled: the volume is filled with large files
# and all but the last (those in the space kept free behind the $MFT) are emptied again, so the
# $MFT grows elsewhere for the other half. Emptied, not deleted: their records stay taken.
make_folders 0 $((folders / 2))
mkdir "$mnt/filler"
n=0
while head -c 4M /dev/zero >"$mnt/filler/$n" 2>/dev/null; do n=$((n + 1)); done
rm -f "$mnt/filler/$n"
for ((i = 0; i < n * 7 / 8; i++)); do : >"$mnt/filler/$i"; done
make_folders $((folders / 2)) "$folders"

# Folders removed with all their files, each one's record then taken by a new file. Records are
# given out from the lowest free one after a mount, so the folders go from the last down, each
# with a mount of its own: its record is then the lowest free one.
for ((k = reused; k > 0; k--)); do
    d=$((k * folders / (reused + 1)))
    rm -r "$(folder "$d")"
    umount "$mnt"
    ntfs-3g "$image.part" "$mnt"
    printf 'new file %d\n' "$d" >"$mnt/Projects/later/new-$d.txt"
done

# Every other file deleted: all files were made first, so no freed record was reused.
for ((d = 0; d < folders; d++)); do
    dir=$(folder "$d")
    [ -d "$dir" ] || continue
    for ((f = 0; f < per_folder; f += 2)); do
        rm "$dir/doc-$f.txt"
    done
done
umount "$mnt"
rmdir "$mnt"
trap - EXIT
mv "$image.part" "$image"
