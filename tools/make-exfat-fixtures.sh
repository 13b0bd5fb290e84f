#!/usr/bin/env bash
# Builds the exFAT test volumes in tests/fixtures/:
#
#   exfat            a 4 MiB volume (4 KiB clusters) with live and deleted files: long names, names
#                    with "=", two deleted files of one name in one folder, a deleted folder tree
#                    with a deleted subfolder, a fragmented deleted file (its chain zeroed by the
#                    delete), a deleted file whose clusters were reused, an empty file, and a
#                    folder whose entry sets straddle directory clusters;
#   exfat-formatted  a used 4 MiB volume quick-formatted again with mkfs.exfat: the old folders
#                    lie in free clusters and only the Extended scan finds them.
#
# For each volume NAME it writes NAME.img.xz and NAME.manifest.tsv, whose columns are
#   path   from the root, "\" between names, as the volume holds it (folders end in "\")
#   kind   file or dir
#   size   in bytes (0 for folders)
#   sha256 of the content written (- for folders)
#   state  live, deleted (entry set and clusters intact: it must come back byte for byte), or
#          overwritten (deleted, and its clusters hold a later file now; only name and size remain)
# In the formatted volume every row is what the volume held before the format.
#
# Rerun as root (the volume is mounted through a loop device and mount.exfat-fuse, which refuses a
# plain file):  sudo tools/make-exfat-fixtures.sh
# Needs: mkfs.exfat (exfatprogs), mount.exfat-fuse (exfat-fuse), losetup, python3, xz.
# The loop device and the mount are always released on exit, error or interrupt.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${ORVANDEL_FIXTURES_OUT:-$repo/tests/fixtures}
script=make-exfat-fixtures

die() { echo "$script: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "must run as root (losetup and FUSE)"
for tool in mkfs.exfat mount.exfat-fuse losetup python3 xz mountpoint sha256sum; do
    command -v "$tool" >/dev/null 2>&1 || die "missing tool: $tool (run tools/setup.sh)"
done

work=$(mktemp -d /tmp/orvandel-exfat-fixtures.XXXXXX)
mnt=$work/mnt
mkdir -p "$mnt"
loop=

release() {
    if mountpoint -q "$mnt"; then
        umount "$mnt" || { sleep 1; umount "$mnt"; } || umount -l "$mnt"
    fi
    # The FUSE driver writes its last sectors as it exits; wait until the loop device is free.
    if [ -n "$loop" ]; then
        local _
        for _ in $(seq 50); do
            losetup -d "$loop" 2>/dev/null && break
            sleep 0.1
        done
        loop=
    fi
}

cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    release || true
    rm -rf "$work"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mount_image() {
    loop=$(losetup -f --show "$1")
    mount.exfat-fuse "$loop" "$mnt" >>"$work/fuse.log" 2>&1 || { cat "$work/fuse.log" >&2; die "cannot mount $1"; }
}

# Rows of the manifest being written, in order.
rows=()

# put PATH SIZE TAG: writes SIZE bytes made from TAG (the same bytes on every run) at PATH under
# the mount, and remembers its row as live.
put() {
    local path=$1 size=$2 tag=$3
    python3 - "$mnt/$path" "$size" "$tag" <<'EOF'
import hashlib, sys
path, size, tag = sys.argv[1], int(sys.argv[2]), sys.argv[3]
out, n = bytearray(), 0
while len(out) < size:
    out += hashlib.sha256(f"{tag}:{n}".encode()).digest()
    n += 1
with open(path, "wb") as f:
    f.write(out[:size])
EOF
    sync
    rows+=("$(printf '%s\tfile\t%s\t%s\tlive' "${path//\//\\}" "$size" "$(sha256sum "$mnt/$path" | cut -d' ' -f1)")")
}

folder() {
    mkdir -p "$mnt/$1"
    rows+=("$(printf '%s\\\tdir\t0\t-\tlive' "${1//\//\\}")")
}

# mark PATH STATE: the newest row of file PATH takes STATE.
mark() {
    local key=${1//\//\\} state=$2 i
    for ((i = ${#rows[@]} - 1; i >= 0; i--)); do
        local row=${rows[$i]}
        if [ "${row%%$'\t'*}" = "$key" ]; then
            rows[$i]=${row%$'\t'*}$'\t'$state
            return
        fi
    done
    die "no row for $1"
}

# forget PATH: drops the newest row of PATH (a deleted file whose entry set a later one took).
forget() {
    local key=${1//\//\\} i
    for ((i = ${#rows[@]} - 1; i >= 0; i--)); do
        if [ "${rows[$i]%%$'\t'*}" = "$key" ]; then
            unset 'rows[i]'
            rows=("${rows[@]}")
            return
        fi
    done
    die "no row for $1"
}

# delete PATH...: removes the files and marks them deleted.
delete() {
    local p
    for p in "$@"; do
        rm -f "$mnt/$p"
        mark "$p" deleted
    done
    sync
}

# delete_tree DIR: removes a folder with everything in it; every row under it becomes deleted.
delete_tree() {
    local key=${1//\//\\}\\ i
    rm -rf "${mnt:?}/$1"
    for i in "${!rows[@]}"; do
        local row=${rows[$i]}
        case ${row%%$'\t'*} in
        "$key"*) [ "${row##*$'\t'}" = live ] && rows[$i]=${row%$'\t'live}$'\t'deleted ;;
        esac
    done
    sync
}

finish() {
    local name=$1 img=$2
    {
        printf 'path\tkind\tsize\tsha256\tstate\n'
        printf '%s\n' "${rows[@]}"
    } >"$out/$name.manifest.tsv"
    xz -9 -T1 -c "$img" >"$out/$name.img.xz"
    echo "$script: wrote $name ($(stat -c %s "$out/$name.img.xz") bytes packed)"
}

new_image() {
    rm -f "$1"
    truncate -s 4M "$1"
    mkfs.exfat -c 4K -L "$2" "$1" >"$work/mkfs.log" 2>&1 || { cat "$work/mkfs.log" >&2; die "mkfs.exfat failed"; }
}

# --- exfat ----------------------------------------------------------------------------------------
img=$work/exfat.img
new_image "$img" ORVTEST
mount_image "$img"
rows=()
put "live.txt" 1000 live
put "empty kept.txt" 0 empty-kept
put "empty.txt" 0 empty
folder "Docs"
put "Docs/A quarterly report with a name far longer than one entry holds.txt" 9000 report
put "x=y=z.txt" 700 xyz
put "a=b.txt" 4096 ab
put "Ünïcödé Bericht – 2024.txt" 1234 unicode
folder "Old"
folder "Old/Sub"
folder "Old/Sub/Deeper"
put "Old/note.txt" 2500 old-note
put "Old/Sub/deep.bin" 10000 old-deep
put "Old/Sub/Deeper/deepest.txt" 100 old-deepest
# Many long names: the folder takes several clusters and some entry sets straddle their ends.
folder "Many"
for i in $(seq -w 1 40); do
    put "Many/entry number $i with a name long enough for three name entries.txt" $((10#$i * 37)) "many-$i"
done
# A folder that grew while its files were written: its second cluster lies after the files its
# first one names, and the driver shrinks the folder as they are deleted, so its entry ends up
# giving one cluster. Deleted last, so that no later file takes its clusters.
folder "Crowd"
for i in $(seq -w 1 40); do
    put "Crowd/crowd member $i with a name for three entries.txt" $((10#$i * 53)) "crowd-$i"
done
# Fragmentation: B's gap is taken first by the big file, which then continues after C.
folder "Frag"
put "Frag/A.bin" 8192 frag-a
put "Frag/B.bin" 8192 frag-b
put "Frag/C.bin" 8192 frag-c
delete "Frag/B.bin"
# The driver allocates first fit from the volume's start, so a file written after a delete takes the
# deleted file's clusters. Timestamps two seconds apart tell which entry wrote last.
sleep 2
put "Frag/big fragmented.bin" 30000 frag-big
mark "Frag/B.bin" overwritten
# The same again, but the one-cluster file after the gap is deleted later too: its cluster is free
# when the guess reaches it, and only its entry says it is not the big file's.
folder "Frag2"
put "Frag2/A.bin" 4096 frag2-a
put "Frag2/B.bin" 4096 frag2-b
put "Frag2/C.bin" 4096 frag2-c
delete "Frag2/B.bin"
sleep 2
put "Frag2/big after a gap.bin" 20000 frag2-big
mark "Frag2/B.bin" overwritten
put "reused.bin" 12288 reused
put "after reused.txt" 100 after-reused # bounds the hole its entry set leaves
delete "reused.bin"
sleep 2
# A longer name than the deleted file's: the new entry set does not fit into its hole.
put "overwriter with a longer name.bin" 12288 overwriter
mark "reused.bin" overwritten
# Two deleted files of one name, written after every other file so that none takes their clusters.
# The driver puts a new entry set into the first hole that fits, so a hole made before the first
# readme takes the second one's set and both sets survive.
put "Docs/hole.txt" 8192 hole
put "Docs/readme.txt" 3000 readme-1
delete "Docs/hole.txt"
forget "Docs/hole.txt"
delete "Docs/readme.txt"
put "Docs/readme.txt" 5000 readme-2
delete "Docs/readme.txt"
delete "Frag2/C.bin" "Frag2/big after a gap.bin"
delete "empty.txt" "x=y=z.txt" "a=b.txt" "Ünïcödé Bericht – 2024.txt" "Frag/big fragmented.bin"
for i in 03 17 18 31; do
    delete "Many/entry number $i with a name long enough for three name entries.txt"
done
delete_tree "Old"
delete_tree "Crowd"
release
finish exfat "$img"

# --- exfat-formatted ------------------------------------------------------------------------------
img=$work/exfat-formatted.img
new_image "$img" BEFORE
mount_image "$img"
rows=()
put "in root.txt" 3000 root-file
folder "Photos"
folder "Photos/2023"
put "Photos/beach.jpg" 20000 beach
put "Photos/2023/party with a long name.jpg" 15000 party
put "Photos/2023/tiny.txt" 10 tiny
folder "Music"
put "Music/song.mp3" 40000 song
put "Music/gone.mp3" 6000 gone
delete "Music/gone.mp3"
release
mkfs.exfat -c 4K -L AFTER "$img" >"$work/mkfs.log" 2>&1 || { cat "$work/mkfs.log" >&2; die "mkfs.exfat failed"; }
finish exfat-formatted "$img"
