#!/usr/bin/env bash
# Builds tests/fixtures/ntfs-features: one 32 MiB volume (4096-byte clusters, 1024-byte records)
# written by ntfs-3g with compression and Windows-style named streams, holding the NTFS features
# that decide whether a restore is byte for byte, each in a folder of its own:
#
#   Sparse/        64 KiB of data, a 1 MiB hole, 64 KiB of data
#   Compressed/    a folder flagged compressed: 180,000 bytes of text, 100 KiB of random data,
#                  60 KiB of text with a hole inside, a 3,000-byte file (one real cluster in its
#                  compression unit) and a 21-byte one (resident, so never compressed)
#   ValidData/     10 KiB written, then the size set to 300 KiB: the initialised size stays 10 KiB
#   DosNames/      a long name with a DOS alias set after it, and a DOS alias that differs from
#                  the long name only in case
#   Links/, Links2/  hard links: one file whose first name was unlinked before the last, and
#                  one freed with both its names in the record (see "names kept" below)
#   Streams/       a file with a resident and a non-resident named stream
#   Fragmented/    a file written into hundreds of one-cluster holes, so its runs fill several
#                  extension records listed by an $ATTRIBUTE_LIST
#   Many/          a few thousand small files: ntfs-3g moves the folder's own $FILE_NAME to an
#                  extension record; half its files are deleted, the folder is kept
#
# Most files are deleted at the end (some copies are kept, so a live and a deleted record of the
# same kind can be compared). Fill/ holds the ballast and the one-cluster fillers used to make
# the holes; the freed fillers are "overwritten" unless their clusters survived.
#
# Names kept: ntfs-3g removes a $FILE_NAME from the record as it unlinks each name, so a record
# it frees keeps only the last name unlinked (for a file with a DOS alias: the long name). The
# system this volume stands for leaves the names of the last unlink in the record, DOS alias
# included. For DosNames/ and Links2/ the script therefore saves the live records after a first
# unmount, deletes the files through ntfs-3g (index entries, clusters and bitmaps freed as usual),
# and writes the saved records back with the in-use flag cleared and the new sequence number:
# exactly a record freed with all its names.
#
# Writes tests/fixtures/ntfs-features.img.xz and ntfs-features.manifest.tsv (the columns of
# make-fixtures.sh plus "feature"; state "unlinked" marks a hard-link name that was removed from
# the record before it was freed: its content is found under the file's other name).
#
# Rerun as root:  sudo tools/make-feature-fixture.sh
# Needs what make-fixtures.sh needs plus setfattr (attr) and ntfsinfo; it reuses that script's
# Python helpers (content generators, the Volume writer, the istat parser).
# Every row is checked with istat and icat; fls -rdp, ntfsundelete --scan and ntfsundelete's own
# restore are compared with what was written and their disagreements printed as notes.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${ORVANDEL_FIXTURES_OUT:-$repo/tests/fixtures}
name=ntfs-features

script=make-feature-fixture
work_prefix=orvandel-features
# shellcheck source=tools/fixture-mounts.sh
. "$repo/tools/fixture-mounts.sh"
need_root_and_tools mkntfs ntfs-3g ntfsinfo ntfsundelete fls istat icat setfattr python3 xz mountpoint
img=$work/$name.img
manifest=$work/$name.manifest.tsv

# compression: files in a folder flagged compressed are written LZNT1-compressed;
# streams_interface=windows: FILE:NAME opens the named stream NAME.
mount_volume() { mount_volume_with "$img" compression,streams_interface=windows; }

# The helpers of make-fixtures.sh, taken from its embedded program so both volumes are written
# and checked the same way.
sed -n "/^cat >\"\$work\/fixtures.py\" <<'PYTHON'\$/,/^PYTHON\$/{//!p}" "$repo/tools/make-fixtures.sh" >"$work/fixtures.py"
grep -q '^class Volume' "$work/fixtures.py" || die "could not take the helpers from tools/make-fixtures.sh"

cat >"$work/features.py" <<'PYTHON'
import hashlib, os, pickle, re, struct, subprocess, sys, tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fixtures import Volume, random_bytes, read_manifest, run, sha256, text_bytes, write_until_full

SPACER_EVERY = 12      # Many/ files written between two clusters of the spacer file
FILLERS = 1800          # one-cluster files; every other one is freed to make a hole
MANY = 4200             # files in Many/; ntfs-3g moves the folder's $FILE_NAME out around 4,000
RAW_DELETE = "raw-delete.tsv"   # records freed with all their names (see the script's header)
BULK = ("in-extension-named-folder", "filler", "ballast", "spacer")

ZONE = (b"[ZoneTransfer]\r\nZoneId=3\r\n"
        b"HostUrl=https://downloads.example.org/files/setup-notes.txt\r\n")


def istat(img, rec):
    """istat's allocation state, $FILE_NAME names and $DATA attributes with their clusters (the
    parser of make-fixtures.sh, which also reads the ", Sparse" and ", Compressed" flags)."""
    out = run("istat", img, str(rec)).decode("utf-8", "replace")
    info = dict(allocated=None, names=[], data={})
    m = re.search(r"^(Not Allocated|Allocated) (File|Directory)", out, re.M)
    if m:
        info["allocated"] = m.group(1) == "Allocated"
    section, current = None, None
    for line in out.splitlines():
        if line.startswith("$FILE_NAME Attribute Values"):
            section = "fn"
        elif line.startswith("Attributes:"):
            section = "attrs"
        elif section == "fn" and line.startswith("Name: "):
            info["names"].append(line[6:])
        elif section == "attrs":
            a = re.match(r"Type: (\$\w+) \((\d+)-(\d+)\)\s+Name: (.*?)\s+(Resident|Non-Resident)[\w, ]*?\s+size: (\d+)", line)
            if a:
                current = None
                if a.group(1) == "$DATA":
                    current = dict(id=f"{a.group(2)}-{a.group(3)}", size=int(a.group(6)), clusters=[])
                    info["data"]["" if a.group(4) == "N/A" else a.group(4)] = current
            elif current is not None and re.match(r"^[\d ]+$", line.strip() or "x"):
                current["clusters"] += [int(c) for c in line.split()]
    return info


class FeatureVolume(Volume):
    def __init__(self, mnt):
        super().__init__(mnt)
        self.content = {}   # what was written, per feature file, to say where a peer goes wrong

    def put(self, rel, data, feature, state="deleted"):
        row = self.write(rel, data, state=state)
        row["feature"] = feature
        if feature not in BULK:
            self.content[rel] = data
        return row

    def folder(self, rel, feature="folder", state="kept"):
        row = self.mkdir(rel, state=state)
        row["feature"] = feature
        return row

    def pieces(self, rel, parts, size, feature, state="deleted"):
        """Writes (offset, bytes) parts by seeking, leaving holes between them; SIZE is set with
        ftruncate when it lies past the last part (the tail is then never written)."""
        with open(self.full(rel), "wb") as f:
            for offset, data in parts:
                f.seek(offset)
                f.write(data)
            if size is not None:
                f.truncate(size)
        content = bytearray(size if size is not None else max(o + len(d) for o, d in parts))
        for offset, data in parts:
            content[offset:offset + len(data)] = data
        content = bytes(content)
        self.content[rel] = content
        row = self._add(dict(path=rel, kind="file", size=len(content), sha=sha256(content),
                             state=state, rec=os.stat(self.full(rel)).st_ino, feature=feature))
        return row

    def named_stream(self, rel, stream, data):
        with open(self.full(rel) + ":" + stream, "wb") as f:
            f.write(data)
        if open(self.full(rel) + ":" + stream, "rb").read() != data:
            raise SystemExit(f"stream {rel}:{stream} did not read back")
        owner = self.by_path[rel]
        return self._add(dict(path=f"{rel}:{stream}", kind="stream", size=len(data), sha=sha256(data),
                              state=owner["state"], rec=owner["rec"], feature="named-stream"))

    def dos_name(self, rel, alias):
        subprocess.run(["setfattr", "-h", "-v", f'"{alias}"', "-n", "system.ntfs_dos_name", self.full(rel)],
                       check=True)


def write_manifest(vol, path):
    """The columns of make-fixtures.sh (path kind size sha256 state mft_record) plus feature."""
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("path\tkind\tsize\tsha256\tstate\tmft_record\tfeature\n")
        for r in vol.rows:
            f.write(f"{r['path']}\t{r['kind']}\t{r['size']}\t{r['sha']}\t{r['state']}\t{r['rec']}\t"
                    f"{r.get('feature', 'plain')}\n")


def build(mnt, manifest, cluster):
    v = FeatureVolume(mnt)
    t = text_bytes
    KiB = 1024

    v.folder("Sparse")
    for stem, state in (("sparse", "deleted"), ("sparse-kept", "kept")):
        rel = f"Sparse/{stem}.bin"
        v.pieces(rel, [(0, random_bytes(rel + "/a", 64 * KiB)),
                       (64 * KiB + 1024 * KiB, random_bytes(rel + "/b", 64 * KiB))], None, "sparse", state)

    v.folder("Compressed", feature="compressed-folder")
    subprocess.run(["setfattr", "-h", "-v", "0x00000800", "-n", "system.ntfs_attrib_be", v.full("Compressed")],
                   check=True)
    v.put("Compressed/report.txt", t("Compressed/report.txt", 180000), "compressed")
    v.put("Compressed/report-kept.txt", t("Compressed/report-kept.txt", 180000), "compressed", state="kept")
    v.put("Compressed/random.bin", random_bytes("Compressed/random.bin", 100 * KiB), "compressed-incompressible")
    rel = "Compressed/holey.txt"
    v.pieces(rel, [(0, t(rel + "/a", 20 * KiB)), (40 * KiB, t(rel + "/b", 20 * KiB))], None, "compressed-sparse")
    v.put("Compressed/small.txt", t("Compressed/small.txt", 3000), "compressed-one-cluster")
    v.put("Compressed/tiny.txt", b"a tiny file in a compressed folder\n", "compressed-resident")

    v.folder("ValidData")
    for stem, state in (("vdl", "deleted"), ("vdl-kept", "kept")):
        rel = f"ValidData/{stem}.bin"
        v.pieces(rel, [(0, random_bytes(rel, 10 * KiB))], 300 * KiB, "valid-data-length", state)

    v.folder("DosNames")
    raw = []
    for rel, alias, feature, state in (
            ("DosNames/Quarterly Report Final.docx", "QUARTE~1.DOC", "dos-alias", "deleted"),
            ("DosNames/Notes.txt", "NOTES.TXT", "dos-alias-case", "deleted"),
            ("DosNames/Annual Summary Kept.docx", "ANNUAL~1.DOC", "dos-alias", "kept")):
        v.put(rel, random_bytes(rel, 9000), feature, state)
        v.dos_name(rel, alias)
        if state == "deleted":
            raw.append(rel)

    v.folder("Links")
    v.folder("Links/Other")
    row = v.put("Links/shared.bin", random_bytes("Links/shared.bin", 12000), "hard-link")
    os.link(v.full("Links/shared.bin"), v.full("Links/Other/shared-link.bin"))
    v._add(dict(row, path="Links/Other/shared-link.bin"))
    # unlinked first, so the freed record keeps only Links/Other/shared-link.bin
    row["state"] = "unlinked"
    v.folder("Links2")
    v.folder("Links2/Other")
    row = v.put("Links2/both.bin", random_bytes("Links2/both.bin", 12000), "hard-link-both-names")
    os.link(v.full("Links2/both.bin"), v.full("Links2/Other/both-link.bin"))
    v._add(dict(row, path="Links2/Other/both-link.bin"))
    raw += ["Links2/both.bin", "Links2/Other/both-link.bin"]

    v.folder("Streams")
    for stem, state in (("setup-notes", "deleted"), ("setup-notes-kept", "kept")):
        rel = f"Streams/{stem}.txt"
        v.put(rel, t(rel, 16000), "named-stream-owner", state)
        v.named_stream(rel, "Zone.Identifier", ZONE)
        v.named_stream(rel, "Summary", t(rel + ":Summary", 20000))

    # Many/: the files are small enough to stay in their records, so only the folder's index
    # takes clusters; a spacer file growing a cluster at a time between them makes every index
    # block a run of its own, until the runs no longer fit the folder's record and ntfs-3g moves
    # attributes, the folder's $FILE_NAME among them, to extension records.
    v.folder("Many", feature="name-in-extension")
    spacer = v.put("Spacer.bin", b"", "spacer", state="kept")
    for i in range(MANY):
        rel = f"Many/item-{i:05d}.txt"
        v.put(rel, t(rel, 60 + i % 300), "in-extension-named-folder", state="deleted" if i % 2 else "kept")
        if i % SPACER_EVERY == 0:
            write_until_full(v.full(spacer["path"]), cluster, cluster, f"spacer {i}")
    v.refresh(spacer)

    # Fragmented/: fill the volume (ballast, then one-cluster fillers), free every other filler
    # and write the file into the holes. Its record exists beforehand; the extension records it
    # needs reuse freed filler records, which are "overwritten" anyway.
    v.folder("Fragmented")
    frag = v.put("Fragmented/scattered.txt", b"", "attribute-list-data")
    raw.append(frag["path"])   # ntfs-3g would remove its $FILE_NAME and the tail of its runs
    v.folder("Fill", feature="filler")
    fillers = [v.put(f"Fill/f-{i:04d}.bin", b"", "filler", state="kept" if i % 2 == 0 else "overwritten")
               for i in range(FILLERS)]
    ballast = v.put("Fill/ballast.bin", b"", "ballast", state="kept")
    st = os.statvfs(mnt)
    size = (st.f_bavail * st.f_frsize - FILLERS * cluster) // cluster * cluster
    if size <= 0:
        raise SystemExit("volume too small for the fillers")
    _, full = write_until_full(v.full(ballast["path"]), size, 1 << 20, "ballast")
    if full:
        raise SystemExit("volume filled up while writing the ballast")
    count, full = 0, False
    for row in fillers:
        written, full = write_until_full(v.full(row["path"]), cluster, cluster, row["path"])
        count += written > 0
        if full:
            break
    if not full:
        write_until_full(v.full(fillers[-1]["path"]), None, cluster, fillers[-1]["path"])
    if count < FILLERS * 3 // 4:
        raise SystemExit(f"only {count} fillers fit")
    for row in [ballast] + fillers:
        v.refresh(row)
    for row in fillers:
        if row["state"] == "overwritten":
            os.unlink(v.full(row["path"]))
    holes = sum(1 for r in fillers if r["state"] == "overwritten" and r["size"])
    data = text_bytes(frag["path"], (holes - 2) * cluster - 777)
    with open(v.full(frag["path"]), "r+b") as f:
        f.write(data)
    v.refresh(frag)
    if frag["sha"] != sha256(data):
        raise SystemExit("the fragmented file did not fit its holes")
    v.content[frag["path"]] = data

    v.check_readback()
    # Everything deleted now, a hard link's "unlinked" name first; the records of RAW_DELETE
    # are freed in a second mount.
    for r in v.rows:
        if r["state"] == "unlinked":
            os.unlink(v.full(r["path"]))
    for r in reversed(v.rows):
        if r["kind"] == "file" and r["state"] in ("deleted", "unlinked") and r["path"] not in raw:
            if os.path.exists(v.full(r["path"])):
                os.unlink(v.full(r["path"]))
    write_manifest(v, manifest)
    with open(os.path.join(os.path.dirname(manifest), RAW_DELETE), "w") as f:
        f.write("\n".join(raw) + "\n")
    with open(manifest + ".bytes", "wb") as f:
        pickle.dump(v.content, f)


# ---------------------------------------------------------------- raw records

class Image:
    def __init__(self, path):
        self.path = path
        boot = open(path, "rb").read(512)
        bps, spc = struct.unpack_from("<HB", boot, 0x0B)
        self.cluster = bps * spc
        rs = struct.unpack_from("<b", boot, 0x40)[0]
        self.record_size = rs * self.cluster if rs > 0 else 1 << -rs
        self.mft_clusters = istat(path, 0)["data"][""]["clusters"]

    def offset(self, number):
        byte = number * self.record_size
        return self.mft_clusters[byte // self.cluster] * self.cluster + byte % self.cluster

    def read(self, number):
        with open(self.path, "rb") as f:
            f.seek(self.offset(number))
            return f.read(self.record_size)

    def write(self, number, data):
        with open(self.path, "r+b") as f:
            f.seek(self.offset(number))
            f.write(data)


def fixed(rec):
    """The record with its update sequence undone, as the attributes are laid out."""
    rec = bytearray(rec)
    usa, count = struct.unpack_from("<HH", rec, 4)
    for i in range(1, count):
        end = i * 512 - 2
        if end + 2 <= len(rec):
            rec[end:end + 2] = rec[usa + 2 * i:usa + 2 * i + 2]
    return bytes(rec)


NAMES = {0x10: "$STANDARD_INFORMATION", 0x20: "$ATTRIBUTE_LIST", 0x30: "$FILE_NAME", 0x40: "$OBJECT_ID",
         0x50: "$SECURITY_DESCRIPTOR", 0x80: "$DATA", 0x90: "$INDEX_ROOT", 0xA0: "$INDEX_ALLOCATION",
         0xB0: "$BITMAP", 0x100: "$LOGGED_UTILITY_STREAM"}
SPACES = {0: "POSIX", 1: "Win32", 2: "DOS", 3: "Win32&DOS"}


def attributes(rec):
    rec = fixed(rec)
    pos = struct.unpack_from("<H", rec, 0x14)[0]
    while pos + 16 <= len(rec):
        kind, length = struct.unpack_from("<II", rec, pos)
        if kind == 0xFFFFFFFF or length == 0:
            break
        nonres, name_len, name_off, flags = struct.unpack_from("<BBHH", rec, pos + 8)
        a = dict(type=kind, flags=flags, resident=not nonres,
                 name=rec[pos + name_off:pos + name_off + 2 * name_len].decode("utf-16-le"))
        if nonres:
            a["start_vcn"], a["unit"] = struct.unpack_from("<Q", rec, pos + 0x10)[0], rec[pos + 0x22]
            a["size"], a["init"] = struct.unpack_from("<QQ", rec, pos + 0x30)
        else:
            vlen, voff = struct.unpack_from("<IH", rec, pos + 0x10)
            a["value"] = rec[pos + voff:pos + voff + vlen]
        yield a
        pos += length


def file_names(rec):
    """(name, namespace) of each resident $FILE_NAME, in record order."""
    out = []
    for a in attributes(rec):
        if a["type"] == 0x30 and a["resident"]:
            v = a["value"]
            out.append((v[0x42:0x42 + 2 * v[0x40]].decode("utf-16-le", "replace"), SPACES.get(v[0x41], "?")))
    return out


def attribute_list(img, number, rec):
    """Entries of the record's $ATTRIBUTE_LIST: (type, name, starting VCN, record number)."""
    value = None
    for a in attributes(rec):
        if a["type"] == 0x20:
            value = a["value"] if a["resident"] else run("icat", img.path, f"{number}-32")
    if value is None:
        return None
    entries, pos = [], 0
    while pos + 26 <= len(value):
        kind, length, name_len, name_off, vcn, ref = struct.unpack_from("<IHBBQQ", value, pos)
        if length == 0:
            break
        name = value[pos + name_off:pos + name_off + 2 * name_len].decode("utf-16-le")
        entries.append((kind, name, vcn, ref & 0xFFFFFFFFFFFF))
        pos += length
    return entries


def all_names(img, number):
    """The record's $FILE_NAMEs, those in its extension records included."""
    rec = img.read(number)
    names = [n for n, _ in file_names(rec)]
    for kind, _, _, ref in attribute_list(img, number, rec) or []:
        if kind == 0x30 and ref != number:
            names += [n for n, _ in file_names(img.read(ref))]
    return names


def decode_runs(rec_attr_bytes):
    runs, pos, lcn = [], 0, 0
    while pos < len(rec_attr_bytes) and rec_attr_bytes[pos]:
        head = rec_attr_bytes[pos]
        nlen, noff = head & 15, head >> 4
        length = int.from_bytes(rec_attr_bytes[pos + 1:pos + 1 + nlen], "little")
        if noff:
            lcn += int.from_bytes(rec_attr_bytes[pos + 1 + nlen:pos + 1 + nlen + noff], "little", signed=True)
            runs.append((lcn, length))
        else:
            runs.append((None, length))
        pos += 1 + nlen + noff
    return runs


def own_read(img, number):
    """The unnamed $DATA of an uncompressed non-resident file, all its segments followed: used
    to tell who is right when icat disagrees with what was written."""
    rec = img.read(number)
    records = [number] + [ref for kind, name, _, ref in attribute_list(img, number, rec) or []
                          if kind == 0x80 and name == "" and ref != number]
    segments, size, init = [], None, None
    for n in dict.fromkeys(records):
        raw = fixed(img.read(n))
        pos = struct.unpack_from("<H", raw, 0x14)[0]
        while pos + 16 <= len(raw):
            kind, length = struct.unpack_from("<II", raw, pos)
            if kind == 0xFFFFFFFF or length == 0:
                break
            nonres, name_len = raw[pos + 8], raw[pos + 9]
            if kind == 0x80 and name_len == 0 and nonres:
                vcn, = struct.unpack_from("<Q", raw, pos + 0x10)
                if vcn == 0:
                    size, init = struct.unpack_from("<QQ", raw, pos + 0x30)
                mp = struct.unpack_from("<H", raw, pos + 0x20)[0]
                segments.append((vcn, decode_runs(raw[pos + mp:pos + length])))
            pos += length
    out = bytearray()
    with open(img.path, "rb") as f:
        for _, runs in sorted(segments):
            for lcn, length in runs:
                if lcn is None:
                    out += bytes(length * img.cluster)
                else:
                    f.seek(lcn * img.cluster)
                    out += f.read(length * img.cluster)
    out = out[:size] + bytes(max(0, size - len(out)))
    out[init:] = bytes(size - init)
    return bytes(out)


def raw_delete(img_path, rawfile, savedir, phase):
    """phase save: keeps the live records of the files named in rawfile; phase restore: writes
    them back as freed records (in-use flag cleared, the sequence number ntfs-3g gave the freed
    record), so the freed record still holds every name it had."""
    img = Image(img_path)
    manifest = read_manifest(os.path.join(os.path.dirname(rawfile), "ntfs-features.manifest.tsv"))
    wanted = set(open(rawfile).read().split("\n")) - {""}
    numbers = sorted({int(r["mft_record"]) for r in manifest if r["path"] in wanted})
    if phase == "save":
        # A file's extension records are freed with it, and ntfs-3g empties them first.
        numbers += sorted({ref for n in numbers for _, _, _, ref in attribute_list(img, n, img.read(n)) or []
                           if ref not in numbers})
        open(os.path.join(savedir, "records"), "w").write(" ".join(map(str, numbers)))
    else:
        numbers = [int(n) for n in open(os.path.join(savedir, "records")).read().split()]
    for n in numbers:
        saved = os.path.join(savedir, f"{n}.rec")
        if phase == "save":
            rec = img.read(n)
            if not struct.unpack_from("<H", rec, 0x16)[0] & 1:
                raise SystemExit(f"record {n} is not in use before the delete")
            open(saved, "wb").write(rec)
        else:
            now, rec = img.read(n), bytearray(open(saved, "rb").read())
            if struct.unpack_from("<H", now, 0x16)[0] & 1:
                raise SystemExit(f"record {n} is still in use after the delete")
            rec[0x10:0x12] = now[0x10:0x12]
            rec[0x16:0x18] = now[0x16:0x18]
            img.write(n, bytes(rec))
            names = [nm for nm, _ in file_names(bytes(rec))]
            print(f"  record {n} freed with its attributes" + (f", names {names}" if names else ""))


# ---------------------------------------------------------------- checks

def settle(img, manifest):
    """A freed filler whose cluster still holds what was written is an ordinary deleted file."""
    rows = read_manifest(manifest)
    for r in rows:
        if r["state"] == "overwritten" and int(r["size"]):
            info = istat(img, int(r["mft_record"]))
            d = info["data"].get("")
            if d and r["path"].rsplit("/", 1)[-1] in info["names"] and info["allocated"] is False:
                if hashlib.sha256(run("icat", img, f"{r['mft_record']}-{d['id']}")).hexdigest() == r["sha256"]:
                    r["state"] = "deleted"
    with open(manifest, "w", encoding="utf-8", newline="\n") as f:
        f.write("\t".join(rows[0].keys()) + "\n")
        for r in rows:
            f.write("\t".join(r.values()) + "\n")


def first_difference(a, b):
    n = min(len(a), len(b))
    for i in range(n):
        if a[i] != b[i]:
            return i
    return n if len(a) != len(b) else None


def describe(img, rec, number):
    """What istat and the raw record say about one record's layout."""
    text = run("istat", img.path, str(number)).decode("utf-8", "replace")
    bits = []
    al = attribute_list(img, number, rec)
    bits.append("attribute list: " + ("no" if al is None else "yes"))
    if al:
        data = [(vcn, ref) for kind, name, vcn, ref in al if kind == 0x80 and name == ""]
        fn = [ref for kind, name, vcn, ref in al if kind == 0x30]
        if len(data) > 1 or any(ref != number for _, ref in data):
            bits.append("$DATA segments (VCN@record) " + ", ".join(f"{v}@{r}" for v, r in data))
        if fn:
            bits.append("$FILE_NAME in record(s) " + ",".join(map(str, fn)))
    for a in attributes(rec):
        if a["type"] == 0x80 and a["name"] == "" and not a["resident"]:
            bits.append(f"size {a['size']} init {a['init']} compression unit {a['unit']}"
                        f" flags 0x{a['flags']:04x}")
    m = re.search(r"^Type: \$DATA \(128-\d+\)\s+Name: N/A\s+(.*)$", text, re.M)
    if m:
        bits.append("istat: " + re.sub(r"\s+", " ", m.group(1)))
    names = file_names(rec)
    if len(names) > 1 or (names and names[0][1] != "POSIX"):
        bits.append("names " + ", ".join(f"{n} ({s})" for n, s in names))
    return "; ".join(bits)


def verify(img_path, manifest):
    img = Image(img_path)
    rows = read_manifest(manifest)
    problems, notes, cases = [], [], []
    described = set()
    for r in rows:
        number, path, kind, state = int(r["mft_record"]), r["path"], r["kind"], r["state"]
        if state == "overwritten":
            continue
        bulk = r["feature"] in ("in-extension-named-folder", "filler") and state == "kept"
        if bulk:
            continue
        info = istat(img_path, number)
        base = path.split(":")[0].rsplit("/", 1)[-1]
        if info["allocated"] != (state == "kept"):
            problems.append(f"{path}: record {number} allocated={info['allocated']} but state {state}")
        rec = img.read(number)
        names = all_names(img, number)
        if state != "unlinked" and base not in names:
            problems.append(f"{path}: record {number} names {names}")
        if state == "unlinked" and base in names:
            problems.append(f"{path}: record {number} still holds the unlinked name")
        if sorted(names) != sorted(info["names"]):
            notes.append(f"istat {number} ({path}) shows the names {info['names']}, the record holds {names}")
        if number not in described and r["feature"] not in ("in-extension-named-folder", "filler", "ballast",
                                                              "folder", "plain"):
            described.add(number)
            cases.append(f"{r['feature']}: {path} ({state}) record {number}: {describe(img, rec, number)}")
        if kind == "dir":
            continue
        stream = path.split(":", 1)[1] if kind == "stream" else ""
        d = info["data"].get(stream)
        if d is None:
            problems.append(f"{path}: record {number} has no $DATA named '{stream}'")
            continue
        if d["size"] != int(r["size"]):
            problems.append(f"{path}: $DATA size {d['size']} != {r['size']}")
        got = run("icat", img_path, f"{number}-{d['id']}")
        if hashlib.sha256(got).hexdigest() != r["sha256"]:
            # The record is intact (names, size, state checked above) and nothing was written
            # after the delete: when the clusters its runs name hold what was written, icat reads
            # them wrongly.
            if stream or hashlib.sha256(own_read(img, number)).hexdigest() != r["sha256"]:
                problems.append(f"{path}: neither icat nor the record's own runs give what was written")
            notes.append(f"icat {number}-{d['id']} ({path}, {r['feature']}) gives {len(got)} bytes, "
                         f"not the {r['size']} written" + first_diff_note(got, expected_bytes(r)))

    peers(img_path, rows, notes)
    for c in cases:
        print(f"  case {c}")
    for n in notes:
        print(f"  note: {n}")
    if problems:
        for p in problems:
            print(f"  PROBLEM: {p}", file=sys.stderr)
        raise SystemExit(f"{len(problems)} problems")


EXPECTED = {}


def expected_bytes(row):
    """Rebuilds what was written for a row (only needed to say where a peer goes wrong)."""
    return EXPECTED.get(row["path"], b"")


def peers(img, rows, notes):
    deleted = [r for r in rows if r["state"] in ("deleted", "unlinked")]

    fls = run("fls", "-rdp", img).decode("utf-8", "replace").splitlines()
    listed = {}
    for line in fls:
        m = re.match(r"^(\S+) \* (\d+)(?:-\d+-\d+)?(?:\(realloc\))?:\t(.*)$", line)
        if m:
            listed.setdefault(m.group(3), int(m.group(2)))
    missing = {}
    for r in deleted:
        if r["kind"] == "stream" or r["state"] == "unlinked":
            continue
        if r["path"] not in listed:
            missing.setdefault(r["feature"], []).append(r["path"])
        elif listed[r["path"]] != int(r["mft_record"]):
            notes.append(f"fls -rdp lists {r['path']} with record {listed[r['path']]}, not {r['mft_record']}")
    for feature, paths in missing.items():
        notes.append(f"fls -rdp does not list {len(paths)} deleted {feature} file(s), e.g. {', '.join(paths[:3])}")
    known = {r["path"] for r in deleted}
    extra = sorted(p for p in listed if p not in known)
    if extra:
        notes.append(f"fls -rdp also lists {len(extra)} deleted names not deleted as such by us, "
                     f"e.g. {', '.join(extra[:5])}")

    scan = run("ntfsundelete", "--scan", img).decode("utf-8", "replace").splitlines()
    scanned = {}
    for line in scan:
        m = re.match(r"^(\d+)\s+(\S+)\s+(\d+)%\s+\S+\s+\S+\s+(\d+)\s+(.*)$", line)
        if m:
            scanned[int(m.group(1))] = (m.group(2), int(m.group(3)), int(m.group(4)), m.group(5))
    by_feature = {}
    for r in deleted:
        if r["kind"] != "file" or r["state"] == "unlinked":
            continue
        number, base = int(r["mft_record"]), r["path"].rsplit("/", 1)[-1]
        s = scanned.get(number)
        if s is None:
            by_feature.setdefault(r["feature"], []).append(f"{r['path']} not listed")
            continue
        flags, pct, size, nm = s
        if nm != base:
            by_feature.setdefault(r["feature"], []).append(f"{r['path']} named '{nm}'")
        if size != int(r["size"]):
            by_feature.setdefault(r["feature"], []).append(f"{r['path']} size {size}, not {r['size']}")
        if pct != 100:
            by_feature.setdefault(r["feature"], []).append(f"{r['path']} {pct}% recoverable")
    for feature, what in by_feature.items():
        notes.append(f"ntfsundelete --scan on {feature}: {len(what)} disagreement(s), e.g. {'; '.join(what[:3])}")

    # ntfsundelete's own restore of each feature file (not of the bulk folders).
    with tempfile.TemporaryDirectory() as out:
        for r in deleted:
            if r["kind"] != "file" or r["state"] == "unlinked" or r["feature"] in ("in-extension-named-folder", "filler"):
                continue
            number = r["mft_record"]
            target = f"r{number}"
            subprocess.run(["ntfsundelete", img, "-u", "-i", number, "-d", out, "-o", target, "-T", "-f"],
                           capture_output=True)
            path = os.path.join(out, target)
            if not os.path.exists(path):
                notes.append(f"ntfsundelete -u -i {number} ({r['path']}, {r['feature']}) writes nothing")
                continue
            got = open(path, "rb").read()
            if hashlib.sha256(got).hexdigest() != r["sha256"]:
                notes.append(f"ntfsundelete -u -i {number} ({r['path']}, {r['feature']}) writes {len(got)} bytes, "
                             f"not the {r['size']} written" + first_diff_note(got, expected_bytes(r)))


def first_diff_note(got, want):
    if not want:
        return ""
    i = first_difference(got, want)
    return "" if i is None else f", first difference at byte {i}"


def load_expected(manifest):
    if os.path.exists(manifest + ".bytes"):
        with open(manifest + ".bytes", "rb") as f:
            EXPECTED.update(pickle.load(f))


if __name__ == "__main__":
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "build":
        build(args[0], args[1], int(args[2]))
    elif cmd == "raw-delete":
        raw_delete(*args)
    elif cmd == "unlink-raw":
        for rel in open(args[1]).read().split("\n"):
            if rel:
                os.unlink(os.path.join(args[0], rel))
    elif cmd == "settle":
        settle(*args)
    elif cmd == "verify":
        load_expected(args[1])
        verify(*args)
    else:
        raise SystemExit(f"unknown command {cmd}")
PYTHON

py() { python3 "$work/features.py" "$@"; }

echo "== $name"
rm -f "$img"
truncate -s 32M "$img"
# -T pins mkntfs's clock and so the serial number; 1024-byte records are mkntfs's default.
mkntfs -F -Q -q -T -c 4096 "$img" >"$work/mkntfs.log" 2>&1 || { cat "$work/mkntfs.log" >&2; die "mkntfs failed"; }
mount_volume
py build "$mnt" "$manifest" 4096
unmount_volume

mkdir -p "$work/saved"
py raw-delete "$img" "$work/raw-delete.tsv" "$work/saved" save
mount_volume
py unlink-raw "$mnt" "$work/raw-delete.tsv"
unmount_volume
py raw-delete "$img" "$work/raw-delete.tsv" "$work/saved" restore

py settle "$img" "$manifest"
py verify "$img" "$manifest"

xz -9e -T1 -c "$img" >"$work/$name.img.xz"
mkdir -p "$out"
mv "$work/$name.img.xz" "$manifest" "$out/"
ls -l "$out/$name.img.xz" "$out/$name.manifest.tsv"
