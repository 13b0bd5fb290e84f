#!/usr/bin/env python3
"""Writes real files of every format the whole-disc scan finds by content into a folder.

    python3 tools/carve_samples.py OUTDIR [--seed N] [--count K]

Pictures are made from generated photo-like pixels (smooth gradients with noise, so they
compress as photos do); JPEGs go through cjpeg and MP3s through lame, the documents through
python's zipfile and sqlite3, the rest are written by their own layout. Each file name says its
type; sizes vary from a few clusters to a few hundred KiB so that they fragment on a busy volume.
"""

import argparse
import io
import math
import os
import random
import sqlite3
import struct
import subprocess
import sys
import wave
import zipfile
import zlib


def pixels(rnd, width, height):
    """RGB bytes of a smooth scene with noise: what a camera gives a compressor."""
    a, b, c = (rnd.uniform(0.01, 0.08) for _ in range(3))
    phase = rnd.uniform(0, 6.28)
    rows = bytearray()
    for y in range(height):
        for x in range(width):
            r = 128 + 100 * math.sin(a * x + phase) + rnd.randint(-12, 12)
            g = 128 + 100 * math.sin(b * y + 2 * phase) + rnd.randint(-12, 12)
            bl = 128 + 100 * math.sin(c * (x + y)) + rnd.randint(-12, 12)
            rows += bytes(max(0, min(255, int(v))) for v in (r, g, bl))
    return bytes(rows)


def jpeg(rnd, width, height, progressive=False):
    ppm = b"P6 %d %d 255\n" % (width, height) + pixels(rnd, width, height)
    args = ["cjpeg", "-quality", str(rnd.randint(70, 95))] + (["-progressive"] if progressive else [])
    return subprocess.run(args, input=ppm, capture_output=True, check=True).stdout


def png(rnd, width, height):
    raw = pixels(rnd, width, height)
    lines = b"".join(b"\0" + raw[y * width * 3:(y + 1) * width * 3] for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    idat = zlib.compress(lines, 6)
    # Several IDAT chunks, as most writers split the picture data.
    parts = [idat[i:i + 8192] for i in range(0, len(idat), 8192)]
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            b"".join(chunk(b"IDAT", p) for p in parts) + chunk(b"IEND", b""))


def lzw_gif_data(indices, min_code=8):
    """GIF's LZW: a clear code, codes as the table grows to 12 bits, a clear again when full."""
    clear, end = 1 << min_code, (1 << min_code) + 1
    out, bits, nbits = bytearray(), 0, 0
    size = min_code + 1

    def emit(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    table = {bytes([i]): i for i in range(clear)}
    nxt = end + 1
    emit(clear)
    w = b""
    for i in indices:
        wc = w + bytes([i])
        if wc in table:
            w = wc
            continue
        emit(table[w])
        if nxt < 4096:
            table[wc] = nxt
            nxt += 1
            if nxt > (1 << size) and size < 12:
                size += 1
        else:
            emit(clear)
            table = {bytes([k]): k for k in range(clear)}
            nxt = end + 1
            size = min_code + 1
        w = bytes([i])
    if w:
        emit(table[w])
    emit(end)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def gif(rnd, width, height):
    palette = bytes(rnd.randrange(256) for _ in range(768))
    scene = pixels(rnd, width, height)
    indices = bytes((scene[i] >> 5) << 5 | (scene[i + 1] >> 5) << 2 | scene[i + 2] >> 6 for i in range(0, len(scene), 3))
    data = lzw_gif_data(indices)
    blocks = b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255)) + b"\0"
    return (b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF7, 0, 0) + palette +
            b"\x21\xf9\x04\x00\x00\x00\x00\x00" +  # graphic control extension
            b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0) + b"\x08" + blocks + b"\x3b")


def bmp(rnd, width, height):
    scene = pixels(rnd, width, height)
    stride = (width * 3 + 3) & ~3
    rows = b"".join(scene[y * width * 3:(y + 1) * width * 3][::-1][::-1] + b"\0" * (stride - width * 3)
                    for y in reversed(range(height)))
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + 40 + len(rows), 0, 0, 54) + header + rows


def tiff(rnd, width, height):
    scene = pixels(rnd, width, height)
    rows_per_strip = 16
    strips = [scene[y * width * 3:min(height, y + rows_per_strip) * width * 3] for y in range(0, height, rows_per_strip)]
    data_at = 8
    offsets, at = [], data_at
    for s in strips:
        offsets.append(at)
        at += len(s)
    ifd_at = at + (at & 1)
    n = len(strips)
    extra = ifd_at + 2 + 11 * 12 + 4
    entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, 8), (259, 3, 1, 1), (262, 3, 1, 2),
               (273, 4, n, extra), (277, 3, 1, 3), (278, 4, 1, rows_per_strip), (279, 4, n, extra + 4 * n),
               (284, 3, 1, 1), (296, 3, 1, 2)]
    ifd = struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        ifd += struct.pack("<HHII", tag, kind, count, value)
    ifd += struct.pack("<I", 0)
    tail = struct.pack("<%dI" % n, *offsets) + struct.pack("<%dI" % n, *map(len, strips))
    body = b"".join(strips)
    return b"II*\0" + struct.pack("<I", ifd_at) + body + b"\0" * (ifd_at - at) + ifd + tail


def pdf(rnd, pages):
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", None]
    kids = []
    for p in range(pages):
        text = " ".join(rnd.choice(WORDS) for _ in range(rnd.randint(40, 200)))
        stream = zlib.compress(("BT /F1 12 Tf 72 720 Td (%s) Tj ET" % text).encode())
        objects.append(b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(stream) + stream + b"\nendstream")
        content = len(objects)
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents %d 0 R "
                       b"/Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >> >>"
                       % content)
        kids.append(len(objects))
    objects[1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % k for k in kids), len(kids))
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for o in offsets:
        out += b"%010d 00000 n \n" % o
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


def zipped(members, stored_first=None):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        if stored_first:
            z.writestr(zipfile.ZipInfo(stored_first[0]), stored_first[1], compress_type=zipfile.ZIP_STORED)
        for name, data in members:
            z.writestr(name, data)
    return buffer.getvalue()


def text_body(rnd, lines):
    return "\n".join(" ".join(rnd.choice(WORDS) for _ in range(rnd.randint(5, 14))) for _ in range(lines))


def docx(rnd):
    body = "".join("<w:p><w:r><w:t>%s</w:t></w:r></w:p>" % text_body(rnd, 1) for _ in range(rnd.randint(50, 400)))
    return zipped([
        ("[Content_Types].xml", '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/'
         'content-types"><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-'
         'officedocument.wordprocessingml.document.main+xml"/></Types>'),
        ("_rels/.rels", '<?xml version="1.0"?><Relationships/>'),
        ("word/document.xml", '<?xml version="1.0"?><w:document><w:body>%s</w:body></w:document>' % body),
        ("docProps/thumbnail.jpeg", jpeg(rnd, 96, 64)),
    ])


def xlsx(rnd):
    rows = "".join('<row r="%d"><c r="A%d"><v>%d</v></c></row>' % (i, i, rnd.randint(0, 10**6)) for i in range(1, 3000))
    return zipped([
        ("[Content_Types].xml", '<?xml version="1.0"?><Types><Override PartName="/xl/workbook.xml" ContentType="'
         'application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/></Types>'),
        ("xl/workbook.xml", "<workbook/>"),
        ("xl/worksheets/sheet1.xml", "<worksheet><sheetData>%s</sheetData></worksheet>" % rows),
    ])


def odt(rnd):
    return zipped([("content.xml", "<office:document-content>%s</office:document-content>" % text_body(rnd, 300)),
                   ("META-INF/manifest.xml", "<manifest/>")],
                  stored_first=("mimetype", b"application/vnd.oasis.opendocument.text"))


def sqlite(rnd, path, rows):
    if os.path.exists(path):
        os.remove(path)
    db = sqlite3.connect(path)
    db.execute("CREATE TABLE notes (id INTEGER PRIMARY KEY, title TEXT, body TEXT)")
    db.execute("CREATE INDEX notes_title ON notes(title)")
    db.executemany("INSERT INTO notes (title, body) VALUES (?, ?)",
                   [(rnd.choice(WORDS), text_body(rnd, 2)) for _ in range(rows)])
    db.commit()
    db.close()
    with open(path, "rb") as f:
        return f.read()


def wav(rnd, seconds):
    buffer = io.BytesIO()
    with wave.open(buffer, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(22050)
        freq = rnd.uniform(200, 900)
        w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * freq * i / 22050)) +
                                           rnd.randint(-300, 300)) for i in range(int(22050 * seconds))))
    return buffer.getvalue()


def mp3(rnd, work, seconds):
    source = os.path.join(work, "tone.wav")
    with open(source, "wb") as f:
        f.write(wav(rnd, seconds))
    target = os.path.join(work, "tone.mp3")
    subprocess.run(["lame", "--quiet", "-b", "128", "--tt", "Tone", source, target], check=True)
    with open(target, "rb") as f:
        return f.read()


def riff_chunk(kind, data):
    return kind + struct.pack("<I", len(data)) + data + (b"\0" if len(data) & 1 else b"")


def avi(rnd, frames):
    pictures = [jpeg(rnd, 64, 48) for _ in range(frames)]
    avih = struct.pack("<IIIIIIIIII4I", 40000, 0, 0, 0x10, frames, 0, 1, 0, 64, 48, 0, 0, 0, 0)
    strh = b"vidsMJPG" + struct.pack("<IHHIIIIIIIIhhhh", 0, 0, 0, 0, 1, 25, 0, frames, 0, 0xFFFFFFFF, 0, 0, 0, 64, 48)
    strf = struct.pack("<IiiHHIIiiII", 40, 64, 48, 1, 24, 0x47504A4D, 64 * 48 * 3, 0, 0, 0, 0)
    hdrl = b"hdrl" + riff_chunk(b"avih", avih) + riff_chunk(b"LIST", b"strl" + riff_chunk(b"strh", strh) +
                                                             riff_chunk(b"strf", strf))
    movi = b"movi" + b"".join(riff_chunk(b"00dc", p) for p in pictures)
    index, at = b"", 4
    for p in pictures:
        index += b"00dc" + struct.pack("<III", 0x10, at, len(p))
        at += 8 + len(p) + (len(p) & 1)
    body = b"AVI " + riff_chunk(b"LIST", hdrl) + riff_chunk(b"LIST", movi) + riff_chunk(b"idx1", index)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def box(kind, data):
    return struct.pack(">I", 8 + len(data)) + kind + data


def mp4(rnd, samples, brand=b"isom"):
    media = bytes(rnd.getrandbits(8) for _ in range(samples * 2000))
    mvhd = box(b"mvhd", b"\0" * 4 + struct.pack(">IIII", 0, 0, 1000, samples * 40) + b"\0" * 80)
    tkhd = box(b"tkhd", b"\0\0\0\x07" + b"\0" * 80)
    trak = box(b"trak", tkhd + box(b"mdia", box(b"mdhd", b"\0" * 24) + box(b"hdlr", b"\0" * 8 + b"vide" + b"\0" * 13)))
    return (box(b"ftyp", brand + b"\0\0\2\0" + brand + b"mp41") + box(b"moov", mvhd + trak) + box(b"free", b"\0" * 16)
            + box(b"mdat", media))


WORDS = ("photo friday supplier family contract travel order office table project notes result cost review market "
         "figure quarter weekend holiday cluster draft minutes summary budget river garden window letter").split()


def samples(rnd, work):
    """(name, bytes) for every kind, several of each."""
    yield "photo-1.jpg", jpeg(rnd, 320, 240)
    yield "photo-2.jpg", jpeg(rnd, 480, 360, progressive=True)
    yield "photo-3.jpg", jpeg(rnd, 200, 150)
    yield "picture-1.png", png(rnd, 200, 160)
    yield "picture-2.png", png(rnd, 120, 90)
    yield "anim-1.gif", gif(rnd, 160, 120)
    yield "bitmap-1.bmp", bmp(rnd, 100, 80)
    yield "scan-1.tif", tiff(rnd, 120, 100)
    yield "report-1.pdf", pdf(rnd, 40)
    yield "report-2.pdf", pdf(rnd, 2)
    yield "archive-1.zip", zipped([("a/%d.txt" % i, text_body(rnd, 40)) for i in range(12)] +
                                  [("pic.jpg", jpeg(rnd, 80, 60))])
    yield "letter-1.docx", docx(rnd)
    yield "sheet-1.xlsx", xlsx(rnd)
    yield "essay-1.odt", odt(rnd)
    yield "notes-1.sqlite", sqlite(rnd, os.path.join(work, "notes.sqlite"), 600)
    yield "song-1.mp3", mp3(rnd, work, 3)
    yield "voice-1.wav", wav(rnd, 1.5)
    yield "clip-1.avi", avi(rnd, 12)
    yield "movie-1.mp4", mp4(rnd, 20)
    yield "movie-2.mov", mp4(rnd, 12, brand=b"qt  ")
    yield "readme-1.txt", (text_body(rnd, 300) + "\n").encode()
    yield "log-1.txt", ("Grüße aus Köln – привет\n" + text_body(rnd, 120) + "\n").encode()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    rnd = random.Random(args.seed)
    work = os.path.join(args.out, ".work")
    os.makedirs(work, exist_ok=True)
    for name, data in samples(rnd, work):
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(data)
    for leftover in os.listdir(work):
        os.remove(os.path.join(work, leftover))
    os.rmdir(work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
