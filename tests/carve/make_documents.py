#!/usr/bin/env python3
"""Writes the documents the carving tests parse: ZIP archives of several kinds, SQLite databases
and PDF files, each small but longer than two 4096-byte clusters so a cluster can be replaced in
the middle. Deterministic: run it again and the files come out the same.

    python3 tests/carve/make_documents.py tests/carve/documents fuzz/corpus

The second argument, when given, also receives small seeds for the fuzz targets.
"""

import io
import os
import random
import re
import sqlite3
import struct
import sys
import tempfile
import zipfile
import zlib

STAMP = (2024, 5, 17, 10, 30, 0)


def words(rng, count):
    vocabulary = ["cluster", "record", "volume", "sector", "bitmap", "journal", "index", "stream",
                  "attribute", "fragment", "restore", "deleted", "allocation", "directory"]
    return " ".join(rng.choice(vocabulary) for _ in range(count)).encode()


def add(z, name, data, method):
    info = zipfile.ZipInfo(name, STAMP)
    info.compress_type = method
    z.writestr(info, data)


def encrypted_zip(members):
    """An archive of members flagged encrypted (bit 0) with data descriptors (bit 3); their bytes
    stand in for the cipher text, which nothing here decrypts."""
    out = bytearray()
    central = bytearray()
    for name, data in members:
        offset = len(out)
        crc = zlib.crc32(data)
        size = len(data) + 12  # the encryption header's twelve bytes
        cipher = bytes((b * 7 + 3) & 0xFF for b in data[:12]) + data
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0x9, 0, 0x5000, 0x58B1, crc, size, len(data),
                           len(name), 0) + name.encode() + cipher
        out += struct.pack("<IIII", 0x08074B50, crc, size, len(data))
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0x9, 0, 0x5000, 0x58B1, crc, size,
                               len(data), len(name), 0, 0, 0, 0, 0, offset) + name.encode()
    start = len(out)
    out += central
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central), start, 0)
    return bytes(out)


def make_zips(out):
    rng = random.Random(25)
    # A small first member, then text that deflates, then bytes that do not (stored).
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        add(z, "readme.txt", b"Found by content.\n", zipfile.ZIP_DEFLATED)
        add(z, "notes/words.txt", words(rng, 3000), zipfile.ZIP_DEFLATED)
        add(z, "notes/", b"", zipfile.ZIP_STORED)
        add(z, "noise.bin", bytes(rng.getrandbits(8) for _ in range(9000)), zipfile.ZIP_STORED)
        add(z, "more.txt", words(rng, 800), zipfile.ZIP_DEFLATED)
        z.comment = b"an archive comment"
    write(out, "plain.zip", buf.getvalue())

    # Written to a stream that cannot seek: sizes and CRCs follow each member's data.
    class Unseekable(io.RawIOBase):
        def __init__(self):
            self.data = bytearray()

        def writable(self):
            return True

        def write(self, b):
            self.data += b
            return len(b)

    stream = Unseekable()
    with zipfile.ZipFile(stream, "w", compression=zipfile.ZIP_DEFLATED) as z:
        for i in range(3):
            info = zipfile.ZipInfo(f"part{i}.txt", STAMP)
            info.compress_type = zipfile.ZIP_DEFLATED
            with z.open(info, "w") as f:
                f.write(words(rng, 1500) + bytes(rng.getrandbits(8) for _ in range(1500)))
    write(out, "descriptors.zip", bytes(stream.data))

    # Zip64 extra fields on every member.
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", compression=zipfile.ZIP_DEFLATED) as z:
        for i in range(2):
            info = zipfile.ZipInfo(f"large{i}.bin", STAMP)
            info.compress_type = zipfile.ZIP_DEFLATED
            with z.open(info, "w", force_zip64=True) as f:
                f.write(bytes(rng.getrandbits(8) for _ in range(5000)))
    write(out, "zip64.zip", buf.getvalue())

    # An Office document: its content types name word/ parts.
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", compression=zipfile.ZIP_DEFLATED) as z:
        add(z, "[Content_Types].xml",
            b'<?xml version="1.0"?><Types><Override PartName="/word/document.xml" '
            b'ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>'
            b"</Types>", zipfile.ZIP_DEFLATED)
        add(z, "word/document.xml", b"<w:document>" + words(rng, 2000) + b"</w:document>", zipfile.ZIP_DEFLATED)
        add(z, "word/media/image1.bin", bytes(rng.getrandbits(8) for _ in range(7000)), zipfile.ZIP_STORED)
    write(out, "document.docx", buf.getvalue())

    # An OpenDocument spreadsheet: its first member, stored, names the kind.
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", compression=zipfile.ZIP_DEFLATED) as z:
        add(z, "mimetype", b"application/vnd.oasis.opendocument.spreadsheet", zipfile.ZIP_STORED)
        add(z, "content.xml", words(rng, 2500), zipfile.ZIP_DEFLATED)
        add(z, "Thumbnails/thumbnail.bin", bytes(rng.getrandbits(8) for _ in range(6000)), zipfile.ZIP_STORED)
    write(out, "sheet.ods", buf.getvalue())

    # Encrypted members, as encrypting writers lay them out: the sizes ahead of the data and again
    # in a data descriptor after it. The data cannot be checked, only walked.
    write(out, "encrypted.zip", encrypted_zip([("secret.txt", bytes(rng.getrandbits(8) for _ in range(6000))),
                                               ("more.txt", bytes(rng.getrandbits(8) for _ in range(3000)))]))

    # A bomb: 64 MiB of zeros in 64 KiB. The parse must not inflate all of it.
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", compression=zipfile.ZIP_DEFLATED) as z:
        info = zipfile.ZipInfo("zeros.bin", STAMP)
        info.compress_type = zipfile.ZIP_DEFLATED
        with z.open(info, "w") as f:
            chunk = bytes(1 << 20)
            for _ in range(64):
                f.write(chunk)
    write(out, "bomb.zip", buf.getvalue())


def make_databases(out, scratch):
    rng = random.Random(26)
    for name, delete in (("plain.sqlite", False), ("freelist.sqlite", True)):
        path = os.path.join(scratch, name)
        if os.path.exists(path):
            os.remove(path)
        db = sqlite3.connect(path)
        db.execute("PRAGMA page_size = 4096")
        db.execute("CREATE TABLE files (id INTEGER PRIMARY KEY, name TEXT, body BLOB)")
        db.execute("CREATE INDEX files_name ON files (name)")
        for i in range(40):
            # Every fifth row is longer than a page, so it spills onto overflow pages.
            size = 6000 if i % 5 == 0 else 200
            db.execute("INSERT INTO files (name, body) VALUES (?, ?)",
                       (f"file{i:03}.txt", bytes(rng.getrandbits(8) for _ in range(size))))
        db.commit()
        if delete:
            db.execute("DELETE FROM files WHERE id % 5 = 1")
            db.commit()
        db.close()
        with open(path, "rb") as f:
            write(out, name, f.read())
        os.remove(path)


def pdf(objects, rng_stream):
    """A PDF with the given object bodies, a classic xref table and a trailer."""
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, body in enumerate(objects, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f\r\n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n\r\n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return out, offsets, xref


def stream(data):
    packed = zlib.compress(data)
    return b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(packed) + packed + b"\nendstream"


def renumber(obj):
    """The object with every reference moved one number up."""
    return re.sub(rb"(\d+) 0 R", lambda m: b"%d 0 R" % (int(m.group(1)) + 1), obj)


def make_pdfs(out):
    rng = random.Random(27)
    text = b"BT /F1 12 Tf 72 712 Td (" + words(rng, 300) + b") Tj ET"
    image = bytes(rng.getrandbits(8) for _ in range(9000))
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R >> /XObject << /Im1 6 0 R >> >> >>",
        stream(text),
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        stream(image),
    ]
    document, offsets, xref = pdf(objects, rng)
    write(out, "plain.pdf", bytes(document))

    # An incremental update: page 3 replaced, a second xref section and %%EOF after the first.
    updated = bytearray(document)
    page = len(updated)
    updated += b"3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>\nendobj\n"
    second = len(updated)
    updated += b"xref\n0 1\n0000000000 65535 f\r\n3 1\n%010d 00000 n\r\n" % page
    updated += b"trailer\n<< /Size 7 /Root 1 0 R /Prev %d >>\nstartxref\n%d\n%%%%EOF\n" % (xref, second)
    write(out, "updated.pdf", bytes(updated))

    # Linearized: a first section near the start lists the first objects, which lie after it; the
    # main section at the end lists them all.
    lin = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    first_object = len(lin)
    lin += b"1 0 obj\n<< /Linearized 1 >>\nendobj\n"
    first_section = len(lin)
    placeholder = b"xref\n1 2\n%010d 00000 n\r\n%010d 00000 n\r\ntrailer\n<< /Size 8 /Prev %010d >>\n" \
        b"startxref\n%d\n%%%%EOF\n"
    lin += placeholder % (0, 0, 0, first_section)
    offsets = [first_object]
    for number, obj in enumerate(objects, start=2):
        offsets.append(len(lin))
        lin += b"%d 0 obj\n" % number + renumber(obj) + b"\nendobj\n"
    main = len(lin)
    lin += b"xref\n0 %d\n0000000000 65535 f\r\n" % (len(offsets) + 1)
    for offset in offsets:
        lin += b"%010d 00000 n\r\n" % offset
    lin += b"trailer\n<< /Size %d /Root 2 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(offsets) + 1, main)
    lin[first_section:first_section + len(placeholder % (0, 0, 0, first_section))] = \
        placeholder % (offsets[0], offsets[1], main, first_section)
    write(out, "linearized.pdf", bytes(lin))

    # A cross-reference stream in place of the table.
    body = bytearray(b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number, obj in enumerate(objects, start=1):
        offsets.append(len(body))
        body += b"%d 0 obj\n" % number + obj + b"\nendobj\n"
    xref = len(body)
    rows = b"\x00\x00\x00\xff" + b"".join(b"\x01" + o.to_bytes(2, "big") + b"\x00" for o in offsets)
    rows += b"\x01" + xref.to_bytes(2, "big") + b"\x00"
    packed = zlib.compress(rows)
    body += (b"7 0 obj\n<< /Type /XRef /Size 8 /W [1 2 1] /Root 1 0 R /Length %d /Filter /FlateDecode >>\nstream\n"
             % len(packed)) + packed + b"\nendstream\nendobj\n"
    body += b"startxref\n%d\n%%%%EOF\n" % xref
    write(out, "xrefstream.pdf", bytes(body))


def make_seeds(corpus, scratch):
    """Small documents of each kind, for the fuzz targets to mutate."""
    rng = random.Random(28)
    zips = os.path.join(corpus, "fuzz_carve_zip")
    os.makedirs(zips, exist_ok=True)
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        add(z, "a.txt", b"found by content\n" * 4, zipfile.ZIP_DEFLATED)
        add(z, "b.bin", bytes(range(40)), zipfile.ZIP_STORED)
        z.comment = b"seed"
    write(zips, "two-members.zip", buf.getvalue())
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        add(z, "mimetype", b"application/vnd.oasis.opendocument.text", zipfile.ZIP_STORED)
        add(z, "content.xml", words(rng, 30), zipfile.ZIP_DEFLATED)
    write(zips, "opendocument.odt", buf.getvalue())
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", compression=zipfile.ZIP_DEFLATED) as z:
        info = zipfile.ZipInfo("large.txt", STAMP)
        info.compress_type = zipfile.ZIP_DEFLATED
        with z.open(info, "w", force_zip64=True) as f:
            f.write(words(rng, 20))
    write(zips, "zip64.zip", buf.getvalue())

    databases = os.path.join(corpus, "fuzz_carve_sqlite")
    os.makedirs(databases, exist_ok=True)
    path = os.path.join(scratch, "seed.sqlite")
    db = sqlite3.connect(path)
    db.execute("PRAGMA page_size = 512")
    db.execute("CREATE TABLE t (id INTEGER PRIMARY KEY, v TEXT)")
    db.execute("CREATE INDEX t_v ON t (v)")
    for i in range(12):
        db.execute("INSERT INTO t (v) VALUES (?)", (words(rng, 120 if i == 3 else 4).decode(),))
    db.commit()
    db.execute("DELETE FROM t WHERE id = 5")
    db.commit()
    db.close()
    with open(path, "rb") as f:
        write(databases, "small.sqlite", f.read())

    pdfs = os.path.join(corpus, "fuzz_carve_pdf")
    os.makedirs(pdfs, exist_ok=True)
    document, _, _ = pdf([b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [] /Count 0 >>",
                          stream(b"BT (seed) Tj ET")], rng)
    write(pdfs, "small.pdf", bytes(document))


def write(out, name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "documents")
    os.makedirs(out, exist_ok=True)
    make_zips(out)
    with tempfile.TemporaryDirectory() as scratch:
        make_databases(out, scratch)
        if len(sys.argv) > 2:
            make_seeds(sys.argv[2], scratch)
    make_pdfs(out)


if __name__ == "__main__":
    main()
