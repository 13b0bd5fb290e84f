#!/usr/bin/env python3
"""Writes the picture, sound and video files the carving tests read: real files as encoders lay
them out, each larger than two 4096-byte clusters so a test can replace one in the middle.

Usage: tests/carve/make_media_fixtures.py [OUTDIR]   (default: tests/carve/media)
Needs python3 and cjpeg (libjpeg-turbo-progs). The output is the same on every run.
"""
import os
import random
import struct
import subprocess
import sys
import tempfile
import wave
import zlib

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "media")
rng = random.Random(25)


def noise(n):
    return bytes(rng.getrandbits(8) for _ in range(n))


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


# --- JPEG: cjpeg from a generated picture -----------------------------------------------------

def ppm(width, height):
    rows = bytearray()
    for y in range(height):
        for x in range(width):
            rows += bytes(((x * 3 + rng.randrange(40)) & 255, (y * 2 + rng.randrange(40)) & 255,
                           ((x ^ y) + rng.randrange(40)) & 255))
    return b"P6 %d %d 255\n" % (width, height) + bytes(rows)


def cjpeg(picture, *options):
    with tempfile.NamedTemporaryFile(suffix=".ppm") as f:
        f.write(picture)
        f.flush()
        return subprocess.run(["cjpeg", *options, f.name], check=True, stdout=subprocess.PIPE).stdout


def with_exif_thumbnail(jpeg, thumbnail, maker_note=b""):
    """Inserts an Exif APP1 after SOI whose IFD1 carries a thumbnail: a whole JPEG, EOI included.
    A camera's maker note, when given, makes the segment span several clusters."""
    ifd0 = struct.pack("<H", 1) + struct.pack("<HHII", 0x0112, 3, 1, 1) + struct.pack("<I", 26 + len(maker_note))
    ifd0 += maker_note
    ifd1_at = 8 + len(ifd0)
    thumb_at = ifd1_at + 2 + 2 * 12 + 4
    ifd1 = struct.pack("<H", 2) + struct.pack("<HHII", 0x0201, 4, 1, thumb_at) + \
        struct.pack("<HHII", 0x0202, 4, 1, len(thumbnail)) + struct.pack("<I", 0)
    tiff = b"II*\0" + struct.pack("<I", 8) + ifd0 + ifd1 + thumbnail
    body = b"Exif\0\0" + tiff
    return jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(body) + 2) + body + jpeg[2:]


picture = ppm(160, 120)
thumbnail = cjpeg(ppm(16, 12), "-quality", "60")
write("photo.jpg", with_exif_thumbnail(cjpeg(picture, "-quality", "92"), thumbnail))
write("camera.jpg", with_exif_thumbnail(cjpeg(picture, "-quality", "85"), thumbnail, noise(6000)))


def with_second_picture(jpeg, second):
    """A phone's multi-picture file: an MPF APP2 after SOI whose index lists a second JPEG (a depth
    or gain map) stored right after the first picture's EOI."""
    app2_length = 2 + 4 + 8 + 2 + 3 * 12 + 4 + 32
    base = 2 + 4 + 4  # the index's offsets count from its byte-order mark
    first_length = len(jpeg) + 2 + app2_length
    ifd = struct.pack(">H", 3) + struct.pack(">HHI4s", 0xB000, 7, 4, b"0100") + \
        struct.pack(">HHII", 0xB001, 4, 1, 2) + struct.pack(">HHII", 0xB002, 7, 32, 8 + 2 + 3 * 12 + 4) + \
        struct.pack(">I", 0)
    entries = struct.pack(">IIIHH", 0x20030000, first_length, 0, 0, 0) + \
        struct.pack(">IIIHH", 0x00000000, len(second), first_length - base, 0, 0)
    body = b"MPF\0" + b"MM\0*" + struct.pack(">I", 8) + ifd + entries
    assert len(body) + 2 == app2_length
    return jpeg[:2] + b"\xff\xe2" + struct.pack(">H", app2_length) + body + jpeg[2:] + second


write("phone.jpg", with_second_picture(cjpeg(picture, "-quality", "88"), cjpeg(ppm(40, 30), "-quality", "70")))
write("progressive.jpg", cjpeg(picture, "-quality", "90", "-progressive"))
write("restart.jpg", cjpeg(ppm(160, 120), "-quality", "92", "-restart", "1"))


# --- PNG: chunks as zlib and struct make them ----------------------------------------------------

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


width, height = 80, 64
raw = b"".join(b"\0" + noise(width * 3) for _ in range(height))
packed = zlib.compress(raw, 9)
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
png += chunk(b"tEXt", b"Comment\0made for the carving tests")
png += b"".join(chunk(b"IDAT", packed[i:i + 2048]) for i in range(0, len(packed), 2048))
png += chunk(b"IEND", b"")
write("picture.png", png)


# --- GIF: an LZW encoder that clears its table before the code size grows ------------------------

def lzw(pixels, min_size=8):
    clear, end = 1 << min_size, (1 << min_size) + 1
    size = min_size + 1
    out, bits, count = bytearray(), 0, 0

    def emit(code):
        nonlocal bits, count
        bits |= code << count
        count += size
        while count >= 8:
            out.append(bits & 255)
            bits >>= 8
            count -= 8

    table, next_code = {bytes([i]): i for i in range(clear)}, end + 1
    emit(clear)
    w = b""
    for p in pixels:
        wc = w + bytes([p])
        if wc in table:
            w = wc
            continue
        emit(table[w])
        table[wc] = next_code
        next_code += 1
        w = bytes([p])
        if next_code >= (1 << size) - 2:
            emit(clear)
            table, next_code = {bytes([i]): i for i in range(clear)}, end + 1
    emit(table[w])
    emit(end)
    if count:
        out.append(bits & 255)
    return bytes(out)


def sub_blocks(data):
    return b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255)) + b"\0"


def gif_image(w, h, pixels):
    return b"\x2c" + struct.pack("<HHHHB", 0, 0, w, h, 0) + b"\x08" + sub_blocks(lzw(pixels))


gw, gh = 96, 80
gif = b"GIF89a" + struct.pack("<HHBBB", gw, gh, 0xF7, 0, 0) + noise(3 * 256)
gif += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
gif += b"\x21\xfe" + sub_blocks(b"made for the carving tests")
for frame in range(2):
    gif += b"\x21\xf9\x04\x04\x0a\x00\x00\x00"
    gif += gif_image(gw, gh, [rng.randrange(256) for _ in range(gw * gh)])
gif += b"\x3b"
write("animation.gif", gif)


# --- BMP: a 24-bit picture with its rows padded to four bytes ------------------------------------

bw, bh = 75, 60
stride = (bw * 3 + 3) // 4 * 4
pixels = b"".join(noise(bw * 3) + b"\0" * (stride - bw * 3) for _ in range(bh))
bmp = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
bmp += struct.pack("<IiiHHIIiiII", 40, bw, bh, 1, 24, 0, len(pixels), 2835, 2835, 0, 0) + pixels
write("picture.bmp", bmp)


# --- TIFF: strips first, then the IFD and its values at the end, as writers usually lay it out --

def tiff(order):
    e = "<" if order == b"II" else ">"
    tw, th, rows = 64, 64, 8
    strip = tw * 3 * rows
    strips = [noise(strip) for _ in range(th // rows)]
    data = b"".join(strips)
    ifd_at = 8 + len(data)
    tags = [(256, 3, 1, tw), (257, 3, 1, th), (258, 3, 3, None), (259, 3, 1, 1), (262, 3, 1, 2),
            (273, 4, len(strips), None), (277, 3, 1, 3), (278, 3, 1, rows), (279, 4, len(strips), None),
            (282, 5, 1, None), (283, 5, 1, None), (296, 3, 1, 2), (34665, 4, 1, None)]
    values_at = ifd_at + 2 + 12 * len(tags) + 4
    extra = {258: struct.pack(e + "HHH", 8, 8, 8),
             273: struct.pack(e + "%dI" % len(strips), *[8 + i * strip for i in range(len(strips))]),
             279: struct.pack(e + "%dI" % len(strips), *[strip] * len(strips)),
             282: struct.pack(e + "II", 72, 1), 283: struct.pack(e + "II", 72, 1)}
    values = b""
    offsets = {}
    for tag in (258, 273, 279, 282, 283):
        offsets[tag] = values_at + len(values)
        values += extra[tag] + b"\0" * (len(extra[tag]) & 1)
    exif_at = values_at + len(values)
    date = b"2026:12:11 12:00:00\0"
    exif = struct.pack(e + "H", 1) + struct.pack(e + "HHII", 36867, 2, len(date), exif_at + 18) + \
        struct.pack(e + "I", 0) + date
    entries = b""
    for tag, kind, count, value in tags:
        if tag == 34665:
            value = exif_at
        elif value is None:
            value = offsets[tag]
        if value is not None and kind == 3 and count == 1:
            entries += struct.pack(e + "HHIHH", tag, kind, count, value, 0)
        else:
            entries += struct.pack(e + "HHII", tag, kind, count, value)
    header = order + struct.pack(e + "HI", 42, ifd_at)
    return header + data + struct.pack(e + "H", len(tags)) + entries + struct.pack(e + "I", 0) + values + exif


write("picture.tif", tiff(b"II"))
write("motorola.tif", tiff(b"MM"))


# --- MP3: an ID3v2 tag, MPEG-1 Layer III frames (an Info frame first), an ID3v1 tag ----------------

def frames(count):
    out = []
    for i in range(count):
        padded = i % 3 == 1
        header = b"\xff\xfb" + bytes([0x90 | (2 if padded else 0), 0x64])
        out.append(header + noise(417 + padded - 4))
    return out


def id3v2(body):
    size = len(body)
    syncsafe = bytes([(size >> 21) & 127, (size >> 14) & 127, (size >> 7) & 127, size & 127])
    return b"ID3\x03\x00\x00" + syncsafe + body


stream = frames(40)
total = sum(map(len, stream))
info = bytearray(stream[0])
info[4:4 + 32] = bytes(32)
info[36:52] = b"Info" + struct.pack(">III", 3, len(stream), total)
stream[0] = bytes(info)
title = b"TIT2" + struct.pack(">I", 24) + b"\0\0" + b"\0made for the carving tests"[:24]
v1 = b"TAG" + b"made for the carving tests".ljust(30, b"\0") + b"\0" * 94 + b"\xff"
write("sound.mp3", id3v2(title + b"\0" * 200) + b"".join(stream) + v1)
write("bare.mp3", b"".join(frames(36)))
# Zeros after the ID3v2 tag that its size does not count, and an APE tag after the frames.
ape_items = struct.pack("<II", 26, 0) + b"Comment\0" + b"made for the carving tests"
ape_footer = lambda flags: b"APETAGEX" + struct.pack("<IIII", 2000, len(ape_items) + 32, 1, flags) + bytes(8)
write("tagged.mp3", id3v2(title) + bytes(300) + b"".join(frames(30)) +
      ape_footer(0xA0000000) + ape_items + ape_footer(0x80000000))


# --- WAV: python's wave writer, then an INFO list after the data, as editors add one --------------

with tempfile.NamedTemporaryFile(suffix=".wav") as f:
    with wave.open(f.name, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(noise(2 * 9001))
    plain = open(f.name, "rb").read()
info_list = b"LIST" + struct.pack("<I", 4 + 8 + 27 + 1) + b"INFO" + b"ICMT" + struct.pack("<I", 27) + \
    b"made for the carving tests\0" + b"\0"
body = plain[12:] + (b"\0" if len(plain) & 1 else b"") + info_list
write("sound.wav", b"RIFF" + struct.pack("<I", 4 + len(body)) + b"WAVE" + body)


# --- AVI: the header list, a movie list of video frames, and its index ---------------------------

def riff_chunk(fourcc, data):
    return fourcc + struct.pack("<I", len(data)) + data + (b"\0" if len(data) & 1 else b"")


def riff_list(kind, content):
    return riff_chunk(b"LIST", kind + content)


frames_avi = [noise(rng.randrange(500, 1500)) for _ in range(16)]
avih = struct.pack("<IIIIIIIIII", 40000, 0, 0, 0x10, len(frames_avi), 0, 1, 0, 32, 24) + b"\0" * 16
strh = b"vids" + b"MJPG" + struct.pack("<IHHIIIIIIIIhhhh", 0, 0, 0, 0, 1, 25, 0, len(frames_avi), 0, 0xFFFFFFFF,
                                      0, 0, 0, 32, 24)
strf = struct.pack("<IiiHHIIiiII", 40, 32, 24, 1, 24, 0x47504A4D, 32 * 24 * 3, 0, 0, 0, 0)
hdrl = riff_list(b"hdrl", riff_chunk(b"avih", avih) + riff_list(b"strl", riff_chunk(b"strh", strh) +
                                                                 riff_chunk(b"strf", strf)))
movi_chunks = b""
index = b""
for data in frames_avi:
    index += b"00dc" + struct.pack("<III", 0x10, 4 + len(movi_chunks), len(data))
    movi_chunks += riff_chunk(b"00dc", data)
body = b"AVI " + hdrl + riff_list(b"movi", movi_chunks) + riff_chunk(b"idx1", index)
write("movie.avi", b"RIFF" + struct.pack("<I", len(body)) + body)
# Past 1 GiB an AVI goes on in RIFF AVIX parts, each with a movie list of its own.
more = b"".join(riff_chunk(b"00dc", noise(rng.randrange(500, 1500))) for _ in range(6))
avix = b"AVIX" + riff_list(b"movi", more)
write("long.avi", b"RIFF" + struct.pack("<I", len(body)) + body + b"RIFF" + struct.pack("<I", len(avix)) + avix)


# --- MP4 / QuickTime: boxes nested as muxers write them ----------------------------------------

def box(kind, data=b""):
    return struct.pack(">I", 8 + len(data)) + kind + data


def full(kind, data):
    return box(kind, b"\0\0\0\0" + data)


def moov(samples):
    stbl = box(b"stbl", full(b"stsd", struct.pack(">I", 1) + box(b"mp4v", bytes(78))) +
               full(b"stts", struct.pack(">III", 1, len(samples), 1000)) +
               full(b"stsc", struct.pack(">IIII", 1, 1, len(samples), 1)) +
               full(b"stsz", struct.pack(">II", 0, len(samples)) + b"".join(struct.pack(">I", len(s)) for s in samples)) +
               full(b"stco", struct.pack(">II", 1, 0)))
    minf = box(b"minf", full(b"vmhd", bytes(8)) + box(b"dinf", full(b"dref", struct.pack(">I", 1) +
                                                                       full(b"url ", b""))) + stbl)
    mdia = box(b"mdia", full(b"mdhd", bytes(20)) + full(b"hdlr", bytes(4) + b"vide" + bytes(12) + b"Video\0") + minf)
    trak = box(b"trak", full(b"tkhd", bytes(80)) + mdia)
    return box(b"moov", full(b"mvhd", bytes(96)) + trak + box(b"udta", box(b"\xa9cmt", b"carving tests")))


samples = [noise(rng.randrange(800, 2400)) for _ in range(12)]
mdat = box(b"mdat", b"".join(samples))
ftyp = box(b"ftyp", b"isom" + struct.pack(">I", 512) + b"isomiso2mp41")
write("movie.mp4", ftyp + box(b"free", bytes(8)) + mdat + moov(samples))
ftyp = box(b"ftyp", b"qt  " + struct.pack(">I", 0x200) + b"qt  ")
write("movie.mov", ftyp + moov(samples) + box(b"wide") + mdat)
