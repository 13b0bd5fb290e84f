#!/usr/bin/env bash
# Builds the NTFS test volumes that Orvandel's tests and demo use, in tests/fixtures/:
#
#   ntfs-c512, ntfs-c4096, ntfs-c65536, ntfs-s4096   one volume per sector/cluster geometry, all
#       with the same content: nested folders, resident and non-resident files, kept and deleted
#       files at several depths, Unicode names (one outside the BMP), a deleted folder tree, a
#       fragmented file (one kept, one deleted), named data streams (on a kept and a deleted file);
#   demo   a 32 MiB "user data drive" with deleted documents and real, decodable JPEG photos.
#
# For each volume NAME it writes:
#   NAME.img.xz        the raw volume, xz-compressed
#   NAME.manifest.tsv  every folder, file and named stream written: path, kind, size, sha256,
#                      state, MFT record number (see write_manifest below for the columns)
#   NAME.geometry.tsv  (not for demo) boot-sector geometry and the $MFT's runs as ntfsinfo,
#                      fsstat and istat report them, so tests compare with the peers offline
#
# Rerun as root (it mounts with ntfs-3g through FUSE):
#     sudo tools/make-fixtures.sh              # every volume
#     sudo tools/make-fixtures.sh ntfs-c512    # just the named ones
# Needs: mkntfs ntfs-3g ntfsinfo ntfsundelete (ntfs-3g), fls istat icat fsstat (sleuthkit),
# cjpeg djpeg (libjpeg-turbo-progs), python3, xz; tools/setup.sh installs them.
#
# Every volume is checked against the peers before it is kept: each manifest row is looked up
# with istat (allocation state, name, sizes) and its content read back with icat, so a deleted
# file's record and clusters are known to be intact; fls -rdp and ntfsundelete --scan are
# compared with the manifest and their disagreements printed as notes.
# Mounts live in a temporary folder and are always unmounted on exit, error or interrupt; set
# ORVANDEL_FIXTURES_KEEP_FAILED=1 to keep the half-made images of a failed run for a look.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${ORVANDEL_FIXTURES_OUT:-$repo/tests/fixtures}
all_names=(ntfs-c512 ntfs-c4096 ntfs-c65536 ntfs-s4096 demo)

script=make-fixtures
work_prefix=orvandel-fixtures
# shellcheck source=tools/fixture-mounts.sh
. "$repo/tools/fixture-mounts.sh"
need_root_and_tools mkntfs ntfs-3g ntfsinfo ntfsundelete fls istat icat fsstat cjpeg djpeg python3 xz mountpoint

mount_volume() { mount_volume_with "$1" streams_interface=xattr; }

# format NAME SIZE_MIB MKNTFS_ARGS...
format_volume() {
    local img=$1 size=$2
    shift 2
    rm -f "$img"
    truncate -s "${size}M" "$img"
    # mkntfs complains at length that a plain file has no disk geometry; only failures matter.
    mkntfs -F -Q -q "$@" "$img" >"$work/mkntfs.log" 2>&1 || { cat "$work/mkntfs.log" >&2; die "mkntfs $* failed"; }
}

# The content recipes, the peer checks and the geometry extraction are easier to keep right in
# Python (stdlib only) than in shell; the program is written out once per run.
cat >"$work/fixtures.py" <<'PYTHON'
import calendar, errno, hashlib, io, os, random, re, struct, subprocess, sys, zipfile

# ---------------------------------------------------------------- content generators

WORDS = ("the a volume record cluster index folder report budget meeting draft summary north "
         "south river garden window letter invoice project plan review quarter figure table "
         "annual holiday photo music notes data backup copy restore travel family school "
         "office market price order delivery customer supplier contract agreement schedule "
         "monday friday morning evening weekend team target result growth cost total").split()


def seeded(key):
    return random.Random(hashlib.sha256(key.encode()).digest())


def text_bytes(key, size):
    """Readable, compressible text that differs per key and per line (each line is numbered),
    so a decoder that stitches clusters in the wrong order produces different bytes."""
    r = seeded(key)
    out = io.StringIO()
    out.write(key + "\n")
    n = 0
    while out.tell() < size:
        n += 1
        words = " ".join(r.choice(WORDS) for _ in range(r.randint(6, 12)))
        out.write(f"{n:05d} {words}.\n")
    return out.getvalue().encode()[:size]


def random_bytes(key, size):
    return seeded(key).randbytes(size)


def pattern_bytes(tag, size):
    unit = (tag + "\n").encode()
    return (unit * (size // len(unit) + 1))[:size]


def sha256(data):
    return hashlib.sha256(data).hexdigest()


# ---------------------------------------------------------------- building a volume

class Volume:
    """Writes through the ntfs-3g mount and records every folder, file and stream written."""

    def __init__(self, mnt):
        self.mnt = mnt
        self.rows = []          # dicts: path kind size sha state rec
        self.by_path = {}

    def full(self, rel):
        return os.path.join(self.mnt, rel)

    def _add(self, row):
        self.rows.append(row)
        self.by_path[row["path"]] = row
        return row

    def mkdir(self, rel, state="kept"):
        os.mkdir(self.full(rel))
        return self._add(dict(path=rel, kind="dir", size=0, sha="-", state=state,
                              rec=os.stat(self.full(rel)).st_ino))

    def write(self, rel, data, state="kept", mtime=None):
        with open(self.full(rel), "wb") as f:
            f.write(data)
        if mtime is not None:
            os.utime(self.full(rel), (mtime, mtime))
        return self._add(dict(path=rel, kind="file", size=len(data), sha=sha256(data),
                              state=state, rec=os.stat(self.full(rel)).st_ino))

    def stream(self, rel, name, data):
        # With streams_interface=xattr, ntfs-3g stores user.NAME as the named $DATA stream NAME.
        os.setxattr(self.full(rel), "user." + name, data)
        if os.getxattr(self.full(rel), "user." + name) != data:
            raise SystemExit(f"stream {rel}:{name} did not read back")
        owner = self.by_path[rel]
        return self._add(dict(path=f"{rel}:{name}", kind="stream", size=len(data),
                              sha=sha256(data), state=owner["state"], rec=owner["rec"]))

    def refresh(self, row):
        """Re-reads a file whose content was written piecemeal (fillers, fragmented files)."""
        data = open(self.full(row["path"]), "rb").read()
        row["size"], row["sha"] = len(data), sha256(data)

    def check_readback(self):
        for row in self.rows:
            if row["kind"] == "file" and row["state"] != "overwritten":
                data = open(self.full(row["path"]), "rb").read()
                if sha256(data) != row["sha"]:
                    raise SystemExit(f"{row['path']}: content did not read back through ntfs-3g")

    def delete(self, trees=()):
        """Deletes whole trees with rm -r, then every other row marked deleted. Nothing is
        written after this, so the deleted records and clusters stay as they were."""
        for tree in trees:
            subprocess.run(["rm", "-r", self.full(tree)], check=True)
        gone = lambda p: any(p == t or p.startswith(t + "/") for t in trees)
        for row in reversed(self.rows):
            if row["state"] == "deleted" and row["kind"] != "stream" and not gone(row["path"]):
                (os.rmdir if row["kind"] == "dir" else os.unlink)(self.full(row["path"]))


def write_manifest(vol, path):
    """Columns: path (from the volume root, '/' separated; a named stream is 'file:stream'),
    kind (dir|file|stream), size in bytes (0 for folders), sha256 (- for folders), state,
    mft_record. State is kept, deleted (record and clusters left intact, so the content must be
    recoverable byte for byte), or overwritten (deleted before other files were written, and
    some of its clusters now hold their data: only its record, name and size can be expected
    back; see settle)."""
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("path\tkind\tsize\tsha256\tstate\tmft_record\n")
        for r in vol.rows:
            f.write(f"{r['path']}\t{r['kind']}\t{r['size']}\t{r['sha']}\t{r['state']}\t{r['rec']}\n")


def write_until_full(path, size, chunk, tag):
    """Appends a pattern until SIZE bytes are written or the volume is full; returns the number
    of bytes written and whether the volume ran out of space."""
    done = 0
    unit = pattern_bytes(tag, chunk)
    fd = os.open(path, os.O_WRONLY | os.O_APPEND)
    try:
        while size is None or done < size:
            piece = unit if size is None else unit[:min(chunk, size - done)]
            try:
                n = os.write(fd, piece)
            except OSError as e:
                if e.errno == errno.ENOSPC:
                    return done, True
                raise
            if n == 0:
                return done, True
            done += n
    finally:
        try:
            os.close(fd)
        except OSError as e:
            if e.errno != errno.ENOSPC:
                raise
    return done, False


# ---------------------------------------------------------------- the geometry volumes' recipe

ZONE = (b"[ZoneTransfer]\r\nZoneId=3\r\n"
        b"ReferrerUrl=https://downloads.example.org/\r\n"
        b"HostUrl=https://downloads.example.org/files/with-stream.txt\r\n")

FILLERS = 20


def recipe(mnt, manifest, cluster):
    v = Volume(mnt)
    t = lambda rel, n: text_bytes(rel, n)
    b = lambda rel, n: random_bytes(rel, n)

    # Root level: resident, empty, deleted-at-depth-0 and a CJK name.
    v.write("readme.txt", t("readme.txt", 41))
    v.write("empty.dat", b"")
    v.write("gone-empty.dat", b"", state="deleted")
    v.write("日本語.txt", t("日本語.txt", 52), state="deleted")

    v.mkdir("Docs")
    v.write("Docs/notes.txt", t("Docs/notes.txt", 63))
    v.write("Docs/Grüße.txt", t("Docs/Grüße.txt", 45))
    v.write("Docs/Привет.doc", t("Docs/Привет.doc", 18000), state="deleted")
    v.write("Docs/report-draft.txt", t("Docs/report-draft.txt", 24000), state="deleted")
    v.write("Docs/with-stream.txt", t("Docs/with-stream.txt", 6000))
    v.stream("Docs/with-stream.txt", "Zone.Identifier", ZONE)

    v.mkdir("Docs/Projects")
    v.write("Docs/Projects/plan.txt", t("Docs/Projects/plan.txt", 12000))
    v.write("Docs/Projects/old-plan.txt", t("Docs/Projects/old-plan.txt", 70), state="deleted")
    v.write("Docs/Projects/photo-📷.jpg", b("Docs/Projects/photo-📷.jpg", 20000), state="deleted")
    # The unnamed stream is the larger one and differs from the named one, so a decoder that
    # returns the named stream for the file's content is caught by size and by hash.
    v.write("Docs/Projects/gone-with-stream.txt", t("Docs/Projects/gone-with-stream.txt", 16000),
            state="deleted")
    v.stream("Docs/Projects/gone-with-stream.txt", "Zone.Identifier",
             t("Docs/Projects/gone-with-stream.txt:Zone.Identifier", 1500))
    frag_deleted = v.write("Docs/Projects/frag-deleted.bin", b"", state="deleted")

    v.mkdir("Docs/Projects/2026")
    v.write("Docs/Projects/2026/budget.xlsx", b("Docs/Projects/2026/budget.xlsx", 30000))
    v.write("Docs/Projects/2026/minutes.txt", t("Docs/Projects/2026/minutes.txt", 55),
            state="deleted")
    v.write("Docs/Projects/2026/Zürich-📊.txt", t("Docs/Projects/2026/Zürich-📊.txt", 40))
    frag_kept = v.write("Docs/Projects/2026/frag-kept.bin", b"")

    v.mkdir("Docs/Projects/2026/Q1")
    v.write("Docs/Projects/2026/Q1/tiny.txt", t("Docs/Projects/2026/Q1/tiny.txt", 33))
    v.write("Docs/Projects/2026/Q1/summary.txt", t("Docs/Projects/2026/Q1/summary.txt", 40000),
            state="deleted")
    v.write("Docs/Projects/2026/Q1/raw.bin", b("Docs/Projects/2026/Q1/raw.bin", 9000),
            state="deleted")

    # A folder tree removed in one go with rm -r.
    v.mkdir("Old", state="deleted")
    v.write("Old/a.txt", t("Old/a.txt", 38), state="deleted")
    v.write("Old/b.bin", b("Old/b.bin", 12000), state="deleted")
    v.mkdir("Old/Sub", state="deleted")
    v.write("Old/Sub/c.txt", t("Old/Sub/c.txt", 5000), state="deleted")
    v.mkdir("Old/Sub/Deeper", state="deleted")
    v.write("Old/Sub/Deeper/d.txt", t("Old/Sub/Deeper/d.txt", 47), state="deleted")

    # Fragmentation. ntfs-3g allocates forward from where it last allocated and only comes back
    # to freed clusters once the volume is full, so: fill the volume completely (one big ballast
    # file, then equal fillers), free every other filler, and write the two fragmented files into
    # the holes. Their records exist beforehand, so no freed filler record gets reused.
    hole = max(cluster, 8192)
    v.mkdir("Fill")
    fillers = [v.write(f"Fill/fill-{i:02d}.bin", b"", state="kept" if i % 2 == 0 else "overwritten")
               for i in range(FILLERS)]
    ballast = v.write("Fill/ballast.bin", b"")
    st = os.statvfs(mnt)
    free = st.f_bavail * st.f_frsize
    size = (free - FILLERS * hole) // cluster * cluster
    if size <= 0:
        raise SystemExit(f"volume too small to fill: {free} bytes free")
    written, full = write_until_full(v.full(ballast["path"]), size, 1 << 20, "ballast")
    if full:
        raise SystemExit("volume filled up while writing the ballast")
    full = False
    count = 0
    for row in fillers:
        written, full = write_until_full(v.full(row["path"]), hole, cluster, row["path"])
        if written:
            count += 1
        if full:
            break
    if not full:
        write_until_full(v.full(fillers[-1]["path"]), None, cluster, fillers[-1]["path"])
    if count < 12:
        raise SystemExit(f"only {count} fillers fit; the holes would be too few")
    for row in [ballast] + fillers:
        v.refresh(row)
    for row in fillers:
        if row["state"] == "overwritten":
            os.unlink(v.full(row["path"]))
    for row, size in ((frag_kept, hole * 5 // 2 + 123), (frag_deleted, hole * 7 // 2 + 321)):
        data = text_bytes(row["path"], size)
        with open(v.full(row["path"]), "r+b") as f:
            f.write(data)
        v.refresh(row)
        if row["sha"] != sha256(data):
            raise SystemExit(f"{row['path']}: the holes were too small for it")

    v.check_readback()
    v.delete(trees=["Old"])
    write_manifest(v, manifest)


# ---------------------------------------------------------------- the demo volume

def ppm(width, height, scene, seed):
    """Draws a small synthetic photo as binary PPM: smooth gradients with a few shapes, so the
    JPEG is realistic in size and obviously recognisable when previewed."""
    r = random.Random(seed)
    px = bytearray(width * height * 3)
    if scene == "beach":
        sky_top, sky_bot = (70, 130, 210), (250, 200, 150)
        sea, sand = (30, 90, 150), (230, 205, 150)
        horizon, shore = int(height * 0.55), int(height * 0.72)
        sun = (int(width * r.uniform(0.2, 0.8)), int(height * r.uniform(0.2, 0.4)),
               int(min(width, height) * 0.08))
    elif scene == "garden":
        sky_top, sky_bot = (120, 170, 230), (200, 225, 245)
        sea, sand = (60, 140, 60), (90, 160, 70)
        horizon, shore = int(height * 0.45), int(height * 0.8)
        sun = (int(width * 0.85), int(height * 0.15), int(min(width, height) * 0.06))
    else:  # "indoor": warm wall, table, a round cake or lamp
        sky_top, sky_bot = (200, 170, 130), (240, 220, 190)
        sea, sand = (150, 100, 60), (120, 80, 50)
        horizon, shore = int(height * 0.6), int(height * 0.6)
        sun = (int(width * 0.5), int(height * 0.55), int(min(width, height) * 0.18))
    unit = max(width, height) // 16
    boxes = [(r.randrange(width - unit), r.randrange(horizon, height - unit // 2),
              r.randrange(unit // 2, unit * 2), r.randrange(unit // 3, unit),
              (r.randrange(256), r.randrange(256), r.randrange(256)))
             for _ in range(r.randint(2, 5))]
    # Mild sensor-like grain, so the JPEGs have the size and entropy of real photos.
    grain = [r.randint(-6, 6) for _ in range(4093)]
    sx, sy, sr = sun
    sr2 = sr * sr
    i = 0
    for y in range(height):
        if y < horizon:
            f = y / max(horizon, 1)
            base = tuple(int(a + (b - a) * f) for a, b in zip(sky_top, sky_bot))
        elif y < shore:
            f = (y - horizon) / max(shore - horizon, 1)
            base = tuple(int(c * (0.8 + 0.4 * f)) for c in sea)
        else:
            base = sand
        dy2 = (y - sy) ** 2
        row_boxes = [bx for bx in boxes if bx[1] <= y < bx[1] + bx[3]]
        for x in range(width):
            c = base
            if dy2 + (x - sx) ** 2 <= sr2:
                c = (255, 230, 120) if scene != "indoor" else (245, 240, 235)
            for bx in row_boxes:
                if bx[0] <= x < bx[0] + bx[2]:
                    c = bx[4]
            wave = ((x * 7 + y * 3) % 23) - 11 if horizon <= y < shore else 0
            wave += grain[(x * 31 + y * 17 + x * y) % 4093]
            px[i] = max(0, min(255, c[0] + wave))
            px[i + 1] = max(0, min(255, c[1] + wave))
            px[i + 2] = max(0, min(255, c[2] + wave))
            i += 3
    return b"P6\n%d %d\n255\n" % (width, height) + bytes(px)


def jpeg(width, height, scene, seed, tmp):
    src, dst = os.path.join(tmp, "photo.ppm"), os.path.join(tmp, "photo.jpg")
    with open(src, "wb") as f:
        f.write(ppm(width, height, scene, seed))
    subprocess.run(["cjpeg", "-quality", "85", "-outfile", dst, src], check=True)
    data = open(dst, "rb").read()
    # Must decode back to the same dimensions, or it is no use as a "real photo" fixture.
    header = subprocess.run(["djpeg", "-pnm", dst], check=True, capture_output=True).stdout
    if not header.startswith(b"P6\n%d %d\n" % (width, height)):
        raise SystemExit(f"{scene} {width}x{height}: djpeg did not decode the JPEG back")
    return data


def pdf(title, lines):
    """A minimal but valid one-page PDF showing the given lines of text."""
    text = ["BT /F1 14 Tf 60 780 Td (%s) Tj ET" % title]
    for n, line in enumerate(lines):
        text.append("BT /F1 10 Tf 60 %d Td (%s) Tj ET" % (750 - 14 * n, line))
    content = "\n".join(text).encode("latin-1", "replace")
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>",
            b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
            b"/Resources << /Font << /F1 5 0 R >> >> >>",
            b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
            b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for n, body in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    return bytes(out)


def xlsx(key, rows):
    """A zip with the parts of a spreadsheet and numbers that vary per file."""
    r = seeded(key)
    cells = "".join(
        "<row r=\"%d\">%s</row>" % (y + 1, "".join(
            "<c r=\"%s%d\"><v>%d</v></c>" % ("ABCDEF"[x], y + 1, r.randrange(100000))
            for x in range(6)))
        for y in range(rows))
    parts = {
        "[Content_Types].xml": '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/></Types>',
        "xl/workbook.xml": '<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheets><sheet name="Sheet1" sheetId="1"/></sheets></workbook>',
        "xl/worksheets/sheet1.xml": '<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>%s</sheetData></worksheet>' % cells,
    }
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, body in parts.items():
            z.writestr(zipfile.ZipInfo(name, date_time=(2026, 3, 2, 9, 30, 0)), body)
    return buf.getvalue()


def doc(key, size):
    """Old-style Word file look-alike: the compound-file signature, then text."""
    head = bytes.fromhex("d0cf11e0a1b11ae1") + bytes(504)
    return head + text_bytes(key, size - len(head))


def mp3(key, size):
    head = b"ID3\x03\x00\x00\x00\x00\x00\x00"
    return head + random_bytes(key, size - len(head))


def demo(mnt, manifest):
    v = Volume(mnt)
    tmp = os.environ["FIXTURE_TMP"]
    day = lambda m, d, h=10: calendar.timegm((2026, m, d, h, 15, 0))
    T = lambda rel, n: text_bytes(rel, n)

    for d in ["Documents", "Documents/Reports", "Documents/Reports/2025",
              "Documents/Reports/2026", "Documents/Letters", "Pictures", "Pictures/Holiday",
              "Pictures/Holiday/Beach", "Pictures/Family", "Music", "Projects",
              "Projects/orvandel-notes"]:
        v.mkdir(d)

    D, K = "deleted", "kept"
    docs = [
        ("Documents/Reports/2026/Q1-summary.txt", T, 8200, K, (4, 2)),
        ("Documents/Reports/2026/Q2-forecast.xlsx", "xlsx", 40, D, (5, 11)),
        ("Documents/Reports/2026/annual-report-draft.doc", "doc", 26000, D, (3, 18)),
        ("Documents/Reports/2026/board-minutes-march.txt", T, 5400, D, (3, 27)),
        ("Documents/Reports/2026/sales-figures.pdf", "pdf", 0, D, (4, 9)),
        ("Documents/Reports/2026/travel-expenses.xlsx", "xlsx", 25, D, (2, 20)),
        ("Documents/Reports/2026/team-targets.txt", T, 2300, D, (1, 14)),
        ("Documents/Reports/2025/year-end-review.pdf", "pdf", 0, K, (1, 8)),
        ("Documents/Reports/2025/q4-notes.txt", T, 3900, D, (1, 5)),
        ("Documents/Reports/2025/customer-survey.xlsx", "xlsx", 60, D, (1, 12)),
        ("Documents/Reports/2025/supplier-review.doc", "doc", 14000, D, (1, 19)),
        ("Documents/Letters/cover-letter.doc", "doc", 9000, K, (2, 3)),
        ("Documents/Letters/landlord-2026-01.txt", T, 1800, D, (1, 21)),
        ("Documents/Letters/insurance-claim.doc", "doc", 12000, D, (2, 16)),
        ("Documents/Letters/thank-you-note.txt", T, 640, D, (3, 1)),
        ("Documents/Letters/complaint-delivery.pdf", "pdf", 0, D, (3, 9)),
        ("Documents/CV-2026.doc", "doc", 15500, D, (4, 22)),
        ("Documents/meeting-notes.txt", T, 3100, D, (5, 6)),
        ("Documents/shopping-list.txt", T, 210, D, (5, 30)),
        ("Documents/tax-receipt-2025.pdf", "pdf", 0, D, (2, 28)),
        ("Documents/household-budget.xlsx", "xlsx", 80, K, (5, 2)),
        ("Projects/orvandel-notes/todo.md", T, 1500, K, (5, 20)),
        ("Projects/orvandel-notes/ideas.txt", T, 4200, D, (5, 12)),
        ("Projects/orvandel-notes/wireframe-notes.txt", T, 7800, D, (5, 13)),
        ("Projects/orvandel-notes/meeting-2026-02-14.md", T, 2600, D, (2, 14)),
        ("Projects/orvandel-notes/estimates.xlsx", "xlsx", 30, D, (5, 15)),
        ("Projects/orvandel-notes/contract-draft.pdf", "pdf", 0, D, (5, 18)),
        ("Projects/orvandel-notes/old-readme.txt", T, 900, D, (4, 30)),
        ("Music/playlist.m3u", None, 0, K, (3, 3)),
        ("Music/track01.mp3", "mp3", 48000, D, (3, 4)),
        ("Music/voice-memo.mp3", "mp3", 22000, D, (4, 12)),
    ]

    def content(rel, kind, n):
        if kind is T:
            return T(rel, n)
        if kind == "xlsx":
            return xlsx(rel, n)
        if kind == "doc":
            return doc(rel, n)
        if kind == "mp3":
            return mp3(rel, n)
        if kind == "pdf":
            name = os.path.splitext(os.path.basename(rel))[0].replace("-", " ")
            body = text_bytes(rel, 2400).decode().splitlines()[1:40]
            return pdf(name.title(), body)
        return b"#EXTM3U\r\ntrack01.mp3\r\nvoice-memo.mp3\r\n"

    for rel, kind, n, state, (m, d) in docs:
        v.write(rel, content(rel, kind, n), state=state, mtime=day(m, d))

    photos = [
        ("Pictures/Holiday/Beach/sunset.jpg", 1024, 768, "beach", D, (7, 14)),
        ("Pictures/Holiday/Beach/sandcastle.jpg", 640, 480, "beach", D, (7, 15)),
        ("Pictures/Holiday/Beach/waves.jpg", 800, 600, "beach", D, (7, 15)),
        ("Pictures/Holiday/Beach/panorama.jpg", 1024, 384, "beach", K, (7, 16)),
        ("Pictures/Family/birthday-cake.jpg", 640, 480, "indoor", D, (6, 2)),
        ("Pictures/Family/grandma.jpg", 320, 240, "indoor", D, (6, 2)),
        ("Pictures/Family/garden.jpg", 640, 480, "garden", D, (6, 9)),
        ("Pictures/Family/portrait.jpg", 480, 640, "indoor", K, (6, 9)),
        ("Pictures/IMG_0001.jpg", 320, 240, "garden", D, (5, 1)),
    ]
    for rel, w, h, scene, state, (m, d) in photos:
        v.write(rel, jpeg(w, h, scene, rel, tmp), state=state, mtime=day(m, d))

    # A whole folder tree the user removed: scans of old tax papers plus a trip's photos.
    v.mkdir("Documents/Old Taxes", state=D)
    for year in ("2023", "2024"):
        v.mkdir(f"Documents/Old Taxes/{year}", state=D)
        for stem in ("return", "receipts"):
            rel = f"Documents/Old Taxes/{year}/{stem}-{year}.pdf"
            v.write(rel, content(rel, "pdf", 0), state=D, mtime=day(1, 30))
        rel = f"Documents/Old Taxes/{year}/deductions.xlsx"
        v.write(rel, xlsx(rel, 45), state=D, mtime=day(1, 31))
    v.mkdir("Documents/Old Taxes/scans", state=D)
    rel = "Documents/Old Taxes/scans/letter-from-office.jpg"
    v.write(rel, jpeg(640, 480, "indoor", rel, tmp), state=D, mtime=day(2, 2))

    v.check_readback()
    v.delete(trees=["Documents/Old Taxes"])
    write_manifest(v, manifest)


# ---------------------------------------------------------------- checks against the peers

def run(*cmd):
    return subprocess.run(cmd, check=True, capture_output=True).stdout


def istat(img, rec):
    """Parses istat: allocation, $FILE_NAME names and the $DATA attributes with their clusters."""
    out = run("istat", img, str(rec)).decode("utf-8", "replace")
    info = dict(allocated=None, names=[], data={}, dirindex=False)
    m = re.search(r"^(Not Allocated|Allocated) (File|Directory)", out, re.M)
    if m:
        info["allocated"] = m.group(1) == "Allocated"
    section = None
    current = None
    for line in out.splitlines():
        if line.startswith("$FILE_NAME Attribute Values"):
            section = "fn"
        elif line.startswith("Attributes:"):
            section = "attrs"
        elif section == "fn" and line.startswith("Name: "):
            info["names"].append(line[6:])
        elif section == "attrs":
            a = re.match(r"Type: (\$\w+) \((\d+)-(\d+)\)\s+Name: (.*?)\s+(Resident|Non-Resident)\s+size: (\d+)", line)
            if a:
                current = None
                if a.group(1) in ("$INDEX_ROOT",):
                    info["dirindex"] = True
                if a.group(1) == "$DATA":
                    name = "" if a.group(4) == "N/A" else a.group(4)
                    current = dict(id=f"{a.group(2)}-{a.group(3)}", size=int(a.group(6)),
                                   resident=a.group(5) == "Resident", clusters=[])
                    info["data"][name] = current
            elif current is not None and re.match(r"^[\d ]+$", line.strip() or "x"):
                current["clusters"] += [int(c) for c in line.split()]
    return info


def runs_of(clusters):
    runs = []
    for c in clusters:
        if runs and c == runs[-1][0] + runs[-1][1]:
            runs[-1][1] += 1
        else:
            runs.append([c, 1])
    return runs


def fmt_runs(runs):
    return ",".join(f"{s}+{n}" for s, n in runs)


def read_manifest(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    keys = lines[0].split("\t")
    return [dict(zip(keys, l.split("\t"))) for l in lines[1:]]


def settle(img, manifest):
    """Fillers freed to make holes are first marked overwritten. The fragmented files do not
    use every hole, so once the volume is unmounted, a filler whose clusters still hold exactly
    what was written becomes an ordinary deleted file, and overwritten means what it says."""
    rows = read_manifest(manifest)
    for r in rows:
        if r["state"] == "overwritten":
            d = istat(img, int(r["mft_record"]))["data"][""]
            data = run("icat", img, f"{r['mft_record']}-{d['id']}")
            if hashlib.sha256(data).hexdigest() == r["sha256"]:
                r["state"] = "deleted"
    with open(manifest, "w", encoding="utf-8", newline="\n") as f:
        f.write("\t".join(rows[0].keys()) + "\n")
        for r in rows:
            f.write("\t".join(r.values()) + "\n")


def verify(img, manifest, name):
    rows = read_manifest(manifest)
    problems, notes, interesting = [], [], []
    for r in rows:
        rec = int(r["mft_record"])
        info = istat(img, rec)
        path, kind, state = r["path"], r["kind"], r["state"]
        base = path.split(":")[0].rsplit("/", 1)[-1]
        if info["allocated"] is None:
            problems.append(f"{path}: istat {rec} shows no allocation state")
            continue
        if info["allocated"] != (state == "kept"):
            problems.append(f"{path}: record {rec} allocated={info['allocated']} but state {state}")
        if base not in info["names"]:
            problems.append(f"{path}: record {rec} names {info['names']} (reused?)")
        if kind == "dir":
            if not info["dirindex"]:
                problems.append(f"{path}: record {rec} has no $INDEX_ROOT")
            continue
        stream = path.split(":", 1)[1] if kind == "stream" else ""
        d = info["data"].get(stream)
        if d is None:
            problems.append(f"{path}: record {rec} has no $DATA named '{stream}'")
            continue
        if d["size"] != int(r["size"]):
            problems.append(f"{path}: $DATA size {d['size']} != {r['size']}")
        if state != "overwritten":
            got = hashlib.sha256(run("icat", img, f"{rec}-{d['id']}")).hexdigest()
            if got != r["sha256"]:
                problems.append(f"{path}: icat content differs from what was written")
        runs = runs_of(d["clusters"])
        if "frag" in path:
            if len(runs) < 3:
                problems.append(f"{path}: only {len(runs)} runs, not fragmented")
            interesting.append(f"{path} ({state}) record {rec}: {len(runs)} runs {fmt_runs(runs)}")
        elif kind == "stream" or (kind == "file" and len(info["data"]) > 1):
            interesting.append(f"{path} ({state}) record {rec}: $DATA {d['id']} "
                               f"{'resident' if d['resident'] else 'non-resident ' + fmt_runs(runs)}, {d['size']} bytes")

    # fls lists deleted names with their paths; compare them with what was deleted.
    fls = run("fls", "-rdp", img).decode("utf-8", "replace").splitlines()
    listed = {}
    for line in fls:
        m = re.match(r"^(\S+) \* (\d+)(?:-\d+-\d+)?(?:\(realloc\))?:\t(.*)$", line)
        if m:
            listed.setdefault(m.group(3), int(m.group(2)))
    gone = [r for r in rows if r["state"] != "kept"]
    for r in gone:
        if r["path"] not in listed:
            notes.append(f"fls -rdp does not list deleted {r['kind']} {r['path']} (record {r['mft_record']})")
        elif listed[r["path"]] != int(r["mft_record"]):
            notes.append(f"fls -rdp lists {r['path']} with record {listed[r['path']]}, not {r['mft_record']}")
    known = {r["path"] for r in gone}
    extra = sorted(p for p in listed if p not in known)
    if extra:
        notes.append(f"fls -rdp also lists {len(extra)} entries not deleted by us, e.g. {', '.join(extra[:4])}")

    # ntfsundelete lists deleted records by number (files, and in this version folders too).
    scan = run("ntfsundelete", "--scan", img).decode("utf-8", "replace").splitlines()
    scanned = {}
    for line in scan:
        m = re.match(r"^(\d+)\s+(\S+)\s+(\d+)%\s+\S+\s+\S+\s+(\d+)\s+(.*)$", line)
        if m:
            scanned[int(m.group(1))] = (m.group(2), int(m.group(3)), int(m.group(4)), m.group(5))
    for r in gone:
        if r["kind"] == "stream":
            continue
        rec = int(r["mft_record"])
        base = r["path"].rsplit("/", 1)[-1]
        if rec not in scanned:
            notes.append(f"ntfsundelete --scan does not list deleted {r['kind']} {r['path']} (record {rec})")
        else:
            flags, pct, size, nm = scanned[rec]
            if nm != base:
                notes.append(f"ntfsundelete --scan names record {rec} '{nm}', not '{base}'")
            if r["kind"] == "file" and size != int(r["size"]):
                notes.append(f"ntfsundelete --scan gives {r['path']} size {size}, not {r['size']}")
            if r["kind"] == "file" and r["state"] == "deleted" and int(r["size"]) > 0 and pct != 100:
                notes.append(f"ntfsundelete --scan rates {r['path']} {pct}% recoverable")
    ours = {int(r["mft_record"]) for r in gone}
    unnamed = sorted(k for k, v in scanned.items() if k not in ours)
    if unnamed:
        notes.append(f"ntfsundelete --scan also lists {len(unnamed)} records not deleted by us "
                     f"(never-used or reserved records, e.g. {unnamed[:6]})")

    for n in notes:
        print(f"  note: {n}")
    for i in interesting:
        print(f"  {i}")
    if problems:
        for p in problems:
            print(f"  PROBLEM: {p}", file=sys.stderr)
        raise SystemExit(f"{name}: {len(problems)} problems")


# ---------------------------------------------------------------- geometry as the peers see it

def geometry(img, out):
    fs = run("fsstat", img).decode()
    ni = run("ntfsinfo", "-m", img).decode()
    field = lambda text, label: re.search(r"^\s*" + re.escape(label) + r":?\s+(.+?)\s*$", text, re.M).group(1)
    boot = open(img, "rb").read(512)
    bps, spc_raw = struct.unpack_from("<HB", boot, 0x0B)
    spc = spc_raw if spc_raw <= 0x80 else 1 << (256 - spc_raw)
    total, mft_lcn, mirr_lcn = struct.unpack_from("<QQQ", boot, 0x28)
    serial = struct.unpack_from("<Q", boot, 0x48)[0]

    fs_first, fs_last = map(int, re.search(r"Total Sector Range: (\d+) - (\d+)", fs).group(1, 2))
    fs_clast = int(re.search(r"Total Cluster Range: \d+ - (\d+)", fs).group(1))
    mft0 = istat(img, 0)["data"][""]
    ni0 = run("ntfsinfo", "-v", "-i", "0", img).decode()
    block = ni0.split("Dumping attribute $DATA")[1].split("Dumping attribute")[0]
    ni_runs = [[int(l, 16), int(n, 16)] for _, l, n in
               re.findall(r"^\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s*$", block, re.M)]

    rows = []   # key, value, who says so; a disagreement stops the build

    def put(key, **says):
        values = {v for v in says.values()}
        if len(values) != 1:
            raise SystemExit(f"{img}: peers disagree on {key}: {says}")
        rows.append((key, values.pop(), ",".join(says)))

    put("bytes_per_sector", fsstat=int(field(fs, "Sector Size")), ntfsinfo=int(field(ni, "Sector Size")), boot=bps)
    cluster = int(field(fs, "Cluster Size"))
    put("sectors_per_cluster", fsstat=cluster // int(field(fs, "Sector Size")), boot=spc)
    put("bytes_per_cluster", fsstat=cluster, ntfsinfo=int(field(ni, "Cluster Size")), boot=bps * spc)
    # mkntfs leaves the last sector for the backup boot sector; total_sectors is the boot field.
    put("total_sectors", fsstat=fs_last - fs_first + 1, boot=total)
    put("total_clusters", fsstat=fs_clast + 1, ntfsinfo=int(field(ni, "Volume Size in Clusters")), boot=total // spc)
    put("mft_start_cluster", fsstat=int(field(fs, "First Cluster of MFT")),
        ntfsinfo=int(field(ni, "LCN of Data Attribute for FILE_MFT")), boot=mft_lcn)
    put("mftmirr_start_cluster", fsstat=int(field(fs, "First Cluster of MFT Mirror")),
        ntfsinfo=int(field(ni, "LCN of Data Attribute for File_MFTMirr")), boot=mirr_lcn)
    put("mft_record_size", fsstat=int(field(fs, "Size of MFT Entries").split()[0]),
        ntfsinfo=int(field(ni, "MFT Record Size")))
    put("index_record_size", fsstat=int(field(fs, "Size of Index Records").split()[0]),
        ntfsinfo=int(field(ni, "Index Block Size")))
    put("volume_serial", fsstat=field(fs, "Volume Serial Number").upper(), boot=f"{serial:016X}")
    put("mft_data_size", istat=mft0["size"], ntfsinfo=int(re.search(r"Data size:\s+(\d+)", block).group(1)))
    put("mft_allocated_size", ntfsinfo=int(re.search(r"Allocated size:\s+(\d+)", block).group(1)))
    # istat lists the clusters a record's data covers, showing the allocated tail past the data
    # size as cluster 0; the mapping pairs ntfsinfo prints are the full allocation. They agree
    # when istat's list, without that tail, starts the expansion of ntfsinfo's runs.
    tsk = list(mft0["clusters"])
    while tsk and tsk[-1] == 0:
        tsk.pop()
    expanded = [lcn + k for lcn, n in ni_runs for k in range(n)]
    if not tsk or expanded[:len(tsk)] != tsk:
        raise SystemExit(f"{img}: istat's $MFT clusters {fmt_runs(runs_of(tsk))} do not match ntfsinfo's runs {fmt_runs(ni_runs)}")
    put("mft_data_runs", ntfsinfo=fmt_runs(ni_runs), istat=fmt_runs(ni_runs))
    with open(out, "w", newline="\n") as f:
        f.write("key\tvalue\tsource\n")
        for k, v, s in rows:
            f.write(f"{k}\t{v}\t{s}\n")
    for k, v, s in rows:
        print(f"  {k} = {v}")


if __name__ == "__main__":
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "recipe":
        recipe(args[0], args[1], int(args[2]))
    elif cmd == "demo":
        demo(args[0], args[1])
    elif cmd == "settle":
        settle(*args)
    elif cmd == "verify":
        verify(*args)
    elif cmd == "geometry":
        geometry(*args)
    else:
        raise SystemExit(f"unknown command {cmd}")
PYTHON

py() { FIXTURE_TMP=$work python3 "$work/fixtures.py" "$@"; }

# build NAME SIZE_MIB CLUSTER MKNTFS_ARGS...
build() {
    local name=$1 size=$2 cluster=$3
    shift 3
    local img=$work/$name.img
    echo "== $name"
    format_volume "$img" "$size" "$@"
    mount_volume "$img"
    if [ "$name" = demo ]; then
        py demo "$mnt" "$work/$name.manifest.tsv"
    else
        py recipe "$mnt" "$work/$name.manifest.tsv" "$cluster"
    fi
    unmount_volume

    py settle "$img" "$work/$name.manifest.tsv"
    py verify "$img" "$work/$name.manifest.tsv" "$name"
    if [ "$name" != demo ]; then
        py geometry "$img" "$work/$name.geometry.tsv"
    fi

    xz -9e -T1 -c "$img" >"$work/$name.img.xz"
    mkdir -p "$out"
    mv "$work/$name.img.xz" "$work/$name.manifest.tsv" "$out/"
    [ "$name" = demo ] || mv "$work/$name.geometry.tsv" "$out/"
    rm -f "$img"
}

names=("$@")
[ ${#names[@]} -gt 0 ] || names=("${all_names[@]}")
for name in "${names[@]}"; do
    # -T pins mkntfs's clock and so its serial number: the freshly formatted volume is the same
    # bytes every run. The demo keeps real dates, since users see them.
    case $name in
        ntfs-c512)   build "$name" 8 512 -T -c 512 ;;
        ntfs-c4096)  build "$name" 8 4096 -T -c 4096 ;;
        ntfs-c65536) build "$name" 16 65536 -T -c 65536 ;;
        ntfs-s4096)  build "$name" 8 4096 -T -s 4096 -c 4096 ;;
        demo)        build "$name" 32 4096 -c 4096 -L Data ;;
        *) die "unknown fixture $name (known: ${all_names[*]})" ;;
    esac
done
ls -l "$out"
