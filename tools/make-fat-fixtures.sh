#!/usr/bin/env bash
# Makes the FAT fixture images without a kernel mount: mkfs.fat, then mtools writes and deletes.
#
#   tools/make-fat-fixtures.sh [OUTDIR]      (default: tests/fixtures)
#
# Writes fat12.img.xz, fat16.img.xz, fat32.img.xz and fat32-formatted.img.xz, each with
# NAME.manifest.tsv: path on the volume ("\" between names), size, sha256, state. The state is
# "live" (still there), "deleted" (deleted, and the clusters it had still hold its bytes) or
# "overwritten" (deleted, and a later file took some of its clusters). The state is decided by
# reading the file's clusters back out of the finished image, so it is the truth a recovery can be
# held to. fat32-formatted is quick-formatted (mkfs.fat again, same geometry) after its files were
# written; its manifest says what the volume held just before the format.
#
# Needs dosfstools, mtools, python3 and xz. Content is pseudo-random from fixed seeds, so every run
# gives the same bytes in the files (the images differ in serials and times).
set -euo pipefail
export MTOOLS_SKIP_CHECK=1 LANG=C.UTF-8 LC_ALL=C.UTF-8
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/tests/fixtures}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

img=
kind=
records= # one line per file written: id, path, size, sha256, state, clusters

# put PATH SIZE SEED: writes SIZE pseudo-random bytes as PATH ("/" separators, from the root).
put() {
    local path=$1 size=$2 seed=$3 data=$work/data
    python3 - "$seed" "$size" >"$data" <<'EOF'
import random, sys
r = random.Random(sys.argv[1])
sys.stdout.buffer.write(r.randbytes(int(sys.argv[2])))
EOF
    mcopy -i "$img" -m "$data" "::/$path"
    local sha clusters
    sha=$(sha256sum "$data" | cut -d' ' -f1)
    clusters=$(mshowfat -i "$img" "::/$path" | grep -o '<[0-9-]*>' | tr -d '<>' | tr '\n' ' ' || true)
    echo -e "$path\t$size\t$sha\tlive\t$clusters" >>"$records"
}

# del PATH: deletes the newest live file of that path.
del() {
    mdel -i "$img" "::/$1"
    mark "$1" exact
}

# deltree DIR: deletes a folder and everything under it.
deltree() {
    mdeltree -i "$img" "::/$1"
    mark "$1/" prefix
}

# forget PATH: a file whose entry a later file took; nothing can list it, so the manifest does not.
# put_many FOLDER COUNT: COUNT files with long names written into FOLDER by one mcopy, which
# writes every file's content before it grows the folder: the folder's later clusters lie past them.
put_many() {
    local folder=$1 count=$2 dir=$work/many i name
    rm -rf "$dir" && mkdir -p "$dir"
    for i in $(seq -w 1 "$count"); do
        python3 -c 'import random, sys; sys.stdout.buffer.write(random.Random(sys.argv[1]).randbytes(int(sys.argv[2])))' \
            "$folder-$i" "$((10#$i * 53))" >"$dir/crowd member $i with a long name.txt"
    done
    mcopy -i "$img" -m "$dir"/* "::/$folder/"
    for i in $(seq -w 1 "$count"); do
        name="crowd member $i with a long name.txt"
        echo -e "$folder/$name\t$((10#$i * 53))\t$(sha256sum "$dir/$name" | cut -d' ' -f1)\tlive\t$(mshowfat -i "$img" "::/$folder/$name" | grep -o '<[0-9-]*>' | tr -d '<>' | tr '\n' ' ' || true)" >>"$records"
    done
}

forget() {
    grep -v "^$1	" "$records" >"$records.new" || true
    mv "$records.new" "$records"
}

mark() {
    python3 - "$records" "$1" "$2" <<'EOF'
import sys
path, target, how = sys.argv[1], sys.argv[2], sys.argv[3]
lines = open(path, encoding='utf-8').read().splitlines()
hits = [i for i, l in enumerate(lines)
        if l.split('\t')[3] == 'live' and (l.split('\t')[0] == target if how == 'exact' else l.startswith(target))]
if how == 'exact':
    hits = hits[-1:]
for i in hits:
    f = lines[i].split('\t'); f[3] = 'deleted'; lines[i] = '\t'.join(f)
open(path, 'w', encoding='utf-8').write(''.join(l + '\n' for l in lines))
EOF
}

# On FAT32 mtools allocates after the FSInfo next-free hint and never goes back to a freed gap;
# setting the hint to 2 makes the next file fill the gaps first, as a long-used card would.
rewind() {
    [ "$kind" = 32 ] || return 0
    local fsinfo
    fsinfo=$(python3 -c "import sys; d=open(sys.argv[1],'rb').read(64); print(int.from_bytes(d[0x30:0x32],'little')*int.from_bytes(d[11:13],'little'))" "$img")
    printf '\x02\x00\x00\x00' | dd of="$img" bs=1 seek=$((fsinfo + 0x1EC)) conv=notrunc status=none
}

# The deleted files that every image holds, in every shape the scan must handle. mtools on FAT12
# and FAT16 hands out the first free cluster, so every file meant to stay recoverable is deleted
# only after the last write; the files meant to lose clusters are deleted before a write.
fill() {
    mmd -i "$img" ::/Kept ::/Frag ::/Reuse ::/Old ::/Old/Sub ::/Old/Sub/Deeper ::/Crowd
    put_many Crowd 30
    put "Long File Name Document.txt" 1500 live-long
    put "README.TXT" 700 live-readme
    put "Kept/photo kept.jpg" 4000 live-photo
    # To be deleted: a long name, an 8.3 upper-case name, an 8.3 name in lower case (NT flags),
    # names that hold "=", a name beyond ASCII, an empty file.
    put "Holiday Photo 2023 from the beach.jpg" 5000 holiday
    put "REPORT.TXT" 1800 report
    put "XEPORT.TXT" 1900 xeport
    put "notes.txt" 300 notes
    put "x=y=z.txt" 900 xyz
    put "a=b.txt" 100 ab
    put "Café menü.txt" 1200 cafe
    : >"$work/empty" && mcopy -i "$img" "$work/empty" ::/empty.dat
    echo -e "empty.dat\t0\te3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\tlive\t" >>"$records"
    # A folder tree to be deleted whole.
    put "Old/old letter.txt" 1300 old-letter
    put "Old/Sub/BUDGET.XLS" 3300 budget
    put "Old/Sub/Deeper/deep file.bin" 2200 deep
    put "Old/Sub/Deeper/TINY.TXT" 10 tiny
    # A fragmented file: a gap freed before it (whose entry slot a later empty file takes), a live
    # file after the gap, so the new file fills the gap, jumps the live one and goes on.
    put "Frag/gap.bin" 2500 gap
    put "Frag/wall.bin" 1100 wall
    del "Frag/gap.bin"
    forget "Frag/gap.bin"
    : >"$work/empty" && mcopy -i "$img" "$work/empty" ::/Frag/slot.txt
    echo -e "Frag/slot.txt\t0\te3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\tlive\t" >>"$records"
    rewind
    put "Frag/fragmented video.mp4" 7000 frag
    # The same, but the file it jumps (one cluster) is deleted afterwards: a guess that steps over
    # live clusters only would take that file's cluster into this one.
    put "Frag/gap2.bin" 1500 gap2
    put "Frag/wall2.bin" 400 wall2
    del "Frag/gap2.bin"
    forget "Frag/gap2.bin"
    : >"$work/empty" && mcopy -i "$img" "$work/empty" ::/Frag/slot2.txt
    echo -e "Frag/slot2.txt\t0\te3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\tlive\t" >>"$records"
    rewind
    put "Frag/second fragmented.mp4" 3000 frag2
    # A deleted file whose clusters a later file (in another folder, so that the deleted entry
    # stays) took.
    put "Reuse/victim.bin" 3000 victim
    del "Reuse/victim.bin"
    rewind
    put "newcomer.bin" 4000 newcomer
    # A document deleted, saved again and deleted again. mtools gives the new file the slot of
    # the deleted one, so only the second entry survives; REPORT.TXT and XEPORT.TXT above are the
    # two deleted entries that show one name ("_EPORT.TXT") in one folder.
    put "Kept/draft.doc" 2100 draft-1
    del "Kept/draft.doc"
    forget "Kept/draft.doc"
    put "Kept/draft.doc" 2600 draft-2
    del "Kept/draft.doc"
    # Now the deletions that leave the content in place.
    del "Holiday Photo 2023 from the beach.jpg"
    del "REPORT.TXT"
    del "XEPORT.TXT"
    del "notes.txt"
    del "x=y=z.txt"
    del "a=b.txt"
    del "Café menü.txt"
    del "empty.dat"
    del "Frag/fragmented video.mp4"
    del "Frag/wall2.bin"
    del "Frag/second fragmented.mp4"
    deltree "Old"
    deltree "Crowd"
}

# A tree that a quick format hides: its folders stay in the data area, their entries do not.
fill_formatted() {
    mmd -i "$img" ::/Projects ::/Projects/Plans ::/Photos ::/Photos/2023
    put "top file.txt" 800 fmt-top
    put "Projects/plan overview.txt" 2100 fmt-overview
    put "Projects/Plans/BUDGET.XLS" 3000 fmt-budget
    put "Projects/Plans/old budget.xls" 1700 fmt-old-budget
    put "Photos/2023/beach day.jpg" 6000 fmt-beach
    put "Photos/2023/IMG0002.JPG" 2500 fmt-img2
    del "Projects/Plans/old budget.xls"
    del "Photos/2023/IMG0002.JPG"
}

# Writes NAME.manifest.tsv from the records, with the state read back from the image.
manifest() {
    python3 - "$img" "$records" "$1" <<'EOF'
import hashlib, sys
image, records, target = sys.argv[1:4]
data = open(image, 'rb').read()
bps = int.from_bytes(data[11:13], 'little'); spc = data[13]
reserved = int.from_bytes(data[14:16], 'little'); fats = data[16]
roots = int.from_bytes(data[17:19], 'little')
fatsz = int.from_bytes(data[22:24], 'little') or int.from_bytes(data[36:40], 'little')
first = (reserved + fats * fatsz) * bps + ((roots * 32 + bps - 1) // bps) * bps
bpc = bps * spc
with open(target, 'w', encoding='utf-8') as out:
    out.write('path\tsize\tsha256\tstate\n')
    for line in open(records, encoding='utf-8').read().splitlines():
        path, size, sha, state, clusters = line.split('\t')
        if state == 'deleted' and int(size) > 0:
            content = b''
            for piece in clusters.split():
                lo, _, hi = piece.partition('-')
                for c in range(int(lo), int(hi or lo) + 1):
                    content += data[first + (c - 2) * bpc: first + (c - 1) * bpc]
            if hashlib.sha256(content[:int(size)]).hexdigest() != sha:
                state = 'overwritten'
        out.write('\t'.join([path.replace('/', '\\'), size, sha, state]) + '\n')
EOF
}

# make NAME FATBITS SIZE_KB SECTORS_PER_CLUSTER [formatted]
make() {
    local name=$1 format=${5:-}
    kind=$2
    img=$work/$name.img
    records=$work/$name.records
    : >"$records"
    mkfs.fat -C -F "$kind" -S 512 -s "$4" -i 0FA7${kind}00 -n "ORV FAT$kind" "$img" "$3" >/dev/null
    if [ -n "$format" ]; then
        fill_formatted
        manifest "$out/$name.manifest.tsv"
        # The quick format: new boot sector, FATs and root folder over the same geometry.
        mkfs.fat -F "$kind" -S 512 -s "$4" -i 0FA7F0${kind} "$img" >/dev/null
    else
        fill
        manifest "$out/$name.manifest.tsv"
    fi
    xz -9e -T1 -c "$img" >"$out/$name.img.xz"
    echo "$name: $(stat -c %s "$img") bytes, $(stat -c %s "$out/$name.img.xz") compressed"
}

make fat12 12 2048 2
make fat16 16 4096 1
make fat32 32 36864 1
make fat32-formatted 32 36864 1 formatted
