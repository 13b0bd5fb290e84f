#!/usr/bin/env bash
# Builds tests/fixtures/ntfs-recycle: a 16 MiB NTFS volume (4096-byte clusters, 1024-byte records)
# whose Recycle Bin was emptied, as Windows leaves it: each file put in the bin is a "$R<id>.<ext>"
# (its content) beside a "$I<id>.<ext>" (its original path, size and deletion time) in
# $Recycle.Bin\<SID>\, and emptying the bin deletes both. The $I files are written in Windows'
# own format (version 2 as Windows 10 writes it, version 1 as Vista to 8.1 did) by this script:
#
#   S-1-5-21-...-1001\$RAB12CD.txt   resident text, $I v2 -> C:\Users\alice\Documents\notes.txt
#   S-1-5-21-...-1001\$R3XK9QF.jpg   40 KiB, $I v1        -> C:\Users\alice\Pictures\holiday.jpg
#   S-1-5-21-...-1001\$R7Q2M1P       a folder put in the bin whole, with a.txt and sub\b.bin,
#                                    $I v2                -> C:\Users\alice\Projects\Plan
#   S-1-5-21-...-1001\$RLIVEIX.log   deleted, its $I kept -> C:\Logs\build.log
#   S-1-5-21-...-1001\$RNOINFO.doc   deleted without any $I: stays under its bin folder and name
#   S-1-5-21-...-1002\$RAAAAAA.pdf   another user, $I v2  -> D:\Shared\report.pdf
#   Docs\plain.txt                   an ordinary deleted file
#
# Every $R and $I is deleted at the end except $ILIVEIX.log. The $I files written are kept beside
# the image (ntfs-recycle.info/) and read by rifiuti2's rifiuti-vista, which must agree with the
# manifest's original paths, sizes and deletion times.
#
# Writes tests/fixtures/ntfs-recycle.img.xz and ntfs-recycle.manifest.tsv (columns: path on the
# volume, kind, size, sha256, state, mft_record, original path as the $I gives it or "-",
# deletion time as FILETIME or "-").
# Rerun as root:  sudo tools/make-recycle-fixture.sh
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${ORVANDEL_FIXTURES_OUT:-$repo/tests/fixtures}
name=ntfs-recycle
script=make-recycle-fixture
work_prefix=orvandel-recycle
# shellcheck source=tools/fixture-mounts.sh
. "$repo/tools/fixture-mounts.sh"
need_root_and_tools mkntfs ntfs-3g icat istat rifiuti-vista python3 xz mountpoint
img=$work/$name.img

truncate -s 16M "$img"
mkntfs -F -Q -q -c 4096 -L Recycle "$img"

cat >"$work/recycle.py" <<'PYTHON'
import hashlib, os, random, struct, sys

mnt, work, stage = sys.argv[1], sys.argv[2], sys.argv[3]
SID1 = "S-1-5-21-1111111111-2222222222-3333333333-1001"
SID2 = "S-1-5-21-1111111111-2222222222-3333333333-1002"
BIN = "$Recycle.Bin"
# 2024-03-04 06:00:30 UTC and a minute apart after it, as FILETIMEs.
T0 = 133540056300000000


def info_v2(path, size, when):
    name = path.encode("utf-16-le") + b"\0\0"
    return struct.pack("<QqQI", 2, size, when, len(name) // 2) + name


def info_v1(path, size, when):
    name = path.encode("utf-16-le")
    return struct.pack("<QqQ", 1, size, when) + name + b"\0" * (520 - len(name))


def data(seed, n):
    rnd = random.Random(seed)
    return bytes(rnd.getrandbits(8) for _ in range(n))


rows = []


def put(rel, content, state, original="-", when="-"):
    full = os.path.join(mnt, *rel.split("/"))
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(content)
    rows.append([rel, "file", len(content), hashlib.sha256(content).hexdigest(), state, None, original, when])


def folder(rel, state, original="-", when="-"):
    os.makedirs(os.path.join(mnt, *rel.split("/")), exist_ok=True)
    rows.append([rel, "dir", 0, "-", state, None, original, when])


def binned(sid, rid, ext, original, content, when, version=2, keep_info=False):
    base = f"{BIN}/{sid}/"
    maker = info_v2 if version == 2 else info_v1
    info = maker(original, len(content) if content is not None else 0, when)
    if content is None:  # a folder: its tree is written by the caller
        folder(base + "$R" + rid + ext, "deleted", original, str(when))
    else:
        put(base + "$R" + rid + ext, content, "deleted", original, str(when))
    put(base + "$I" + rid + ext, info, "kept" if keep_info else "deleted")
    os.makedirs(os.path.join(work, "ntfs-recycle.info"), exist_ok=True)
    with open(os.path.join(work, "ntfs-recycle.info", sid[-4:] + "-$I" + rid + ext), "wb") as f:
        f.write(info)


if stage == "write":
    folder(BIN, "kept")
    folder(f"{BIN}/{SID1}", "kept")
    folder(f"{BIN}/{SID2}", "kept")
    put(f"{BIN}/{SID1}/desktop.ini", b"[.ShellClassInfo]\r\n", "kept")
    binned(SID1, "AB12CD", ".txt", r"C:\Users\alice\Documents\notes.txt", b"Meeting at ten; bring the plans.\r\n",
           T0)
    binned(SID1, "3XK9QF", ".jpg", r"C:\Users\alice\Pictures\holiday.jpg", b"\xff\xd8\xff\xe0" + data(1, 40956),
           T0 + 600_000_000, version=1)
    tree = f"{BIN}/{SID1}/$R7Q2M1P"
    binned(SID1, "7Q2M1P", "", r"C:\Users\alice\Projects\Plan", None, T0 + 1_200_000_000)
    put(tree + "/a.txt", b"first part of the plan\n" * 40, "deleted")
    folder(tree + "/sub", "deleted")
    put(tree + "/sub/b.bin", data(2, 9000), "deleted")
    binned(SID1, "LIVEIX", ".log", r"C:\Logs\build.log", b"build 42 passed\n" * 300, T0 + 1_800_000_000,
           keep_info=True)
    put(f"{BIN}/{SID1}/$RNOINFO.doc", data(3, 6000), "deleted")
    binned(SID2, "AAAAAA", ".pdf", r"D:\Shared\report.pdf", b"%PDF-1.4\n" + data(4, 3000), T0 + 2_400_000_000)
    folder("Docs", "kept")
    put("Docs/plain.txt", b"an ordinary deleted file\n", "deleted")
    put("Docs/kept.txt", b"still here\n", "kept")
    for row in rows:
        row[5] = os.stat(os.path.join(mnt, *row[0].split("/"))).st_ino
    with open(os.path.join(work, "rows.tsv"), "w") as f:
        for row in rows:
            f.write("\t".join(map(str, row)) + "\n")
elif stage == "delete":
    rows = [line.rstrip("\n").split("\t") for line in open(os.path.join(work, "rows.tsv"))]
    # Deepest first, as emptying the bin removes a folder's tree before the folder.
    for row in sorted(rows, key=lambda r: -r[0].count("/")):
        if row[4] != "deleted":
            continue
        full = os.path.join(mnt, *row[0].split("/"))
        (os.rmdir if row[1] == "dir" else os.remove)(full)
    with open(os.path.join(work, "manifest.tsv"), "w") as f:
        f.write("path\tkind\tsize\tsha256\tstate\tmft_record\toriginal\tdeleted\n")
        for row in rows:
            f.write("\t".join(row) + "\n")
PYTHON

mount_volume_with "$img" ""
python3 "$work/recycle.py" "$mnt" "$work" write
unmount_volume
mount_volume_with "$img" ""
python3 "$work/recycle.py" "$mnt" "$work" delete
unmount_volume

# The peer reads each $I written: its original path and deletion time must be the manifest's.
python3 - "$work" <<'PYTHON'
import datetime, os, subprocess, sys
work = sys.argv[1]
rows = [line.rstrip("\n").split("\t") for line in open(os.path.join(work, "manifest.tsv"))][1:]
wanted = {r[6]: r for r in rows if r[6] != "-"}
seen = 0
for name in sorted(os.listdir(os.path.join(work, "ntfs-recycle.info"))):
    out = subprocess.run(["rifiuti-vista", "-n", "-z", os.path.join(work, "ntfs-recycle.info", name)],
                         capture_output=True, text=True).stdout
    lines = [l for l in out.splitlines() if l and not l.startswith(("Recycle bin", "Version", "OS Guess", "Time zone", "Index"))]
    fields = lines[-1].split("\t")
    path = fields[-1]
    row = wanted.get(path)
    if row is None:
        sys.exit(f"rifiuti-vista read {path!r} from {name}, which the manifest does not hold")
    when = datetime.datetime(1601, 1, 1) + datetime.timedelta(microseconds=int(row[7]) // 10)
    if when.strftime("%Y-%m-%d %H:%M:%S") not in out:
        sys.exit(f"rifiuti-vista gives another deletion time for {path}:\n{out}")
    seen += 1
print(f"rifiuti-vista agrees on {seen} $I files")
PYTHON

# The deleted records still hold what was written: istat says not allocated, icat gives the bytes.
python3 - "$img" "$work/manifest.tsv" <<'PYTHON'
import hashlib, subprocess, sys
img, manifest = sys.argv[1], sys.argv[2]
for line in list(open(manifest))[1:]:
    path, kind, size, sha, state, rec = line.rstrip("\n").split("\t")[:6]
    if kind != "file":
        continue
    content = subprocess.run(["icat", img, rec], capture_output=True).stdout
    if hashlib.sha256(content).hexdigest() != sha:
        sys.exit(f"icat {rec} ({path}) does not give what was written")
print("icat gives every file's bytes")
PYTHON

mkdir -p "$out"
xz -9e -T1 -c "$img" >"$out/$name.img.xz"
cp "$work/manifest.tsv" "$out/$name.manifest.tsv"
echo "$script: wrote $out/$name.img.xz and $name.manifest.tsv"
