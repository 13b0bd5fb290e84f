#!/usr/bin/env python3
"""Mutated images through orvandel-cli: scan, scan --extended and restore of each, run by hand.

Takes the committed fixture images and containers made of one of them (VHD, VHDX, VMDK, qcow2,
E01), damages one structure of a copy at a time (the boot sector, records of the $MFT, the partition
tables; a FAT or exFAT boot sector, allocation table or folders; a container's header and tables) and runs the three commands on it, best under a
sanitizer build:

    bash tools/build.sh build-sanitize -DORV_BUILD_TESTS=ON -DORV_BUILD_GUI=OFF \\
        -DORV_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug
    python3 tools/mutate-images.py --cli build-sanitize/cli/orvandel-cli --count 1000

A run is bad when the program dies of a signal, the sanitizer reports anything, it exits with a
status outside the contract (0, 1, 2) or takes longer than the limit. Each bad image is kept in
the work folder under its number with the command that failed, so it can be replayed. The same
seed gives the same images.
"""

import argparse
import lzma
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time

FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fixtures")
VOLUMES = ["ntfs-c512", "ntfs-c4096", "ntfs-c65536", "ntfs-s4096", "ntfs-features", "demo"]
DISKS = ["disk-gpt-two", "disk-mbr-logical"]
FAT_FAMILY = ["fat12", "fat16", "fat32", "fat32-formatted", "exfat", "exfat-formatted"]
# Containers made of ntfs-c4096 at the start (nothing of theirs is committed): name, file extension,
# command making OUT from RAW.
CONTAINERS = [
    ("container-vhd", ".vhd", ["qemu-img", "convert", "-O", "vpc", "-o", "force_size=on", "{raw}", "{out}"]),
    ("container-vhdx", ".vhdx", ["qemu-img", "convert", "-O", "vhdx", "{raw}", "{out}"]),
    ("container-vmdk", ".vmdk", ["qemu-img", "convert", "-O", "vmdk", "{raw}", "{out}"]),
    ("container-qcow2", ".qcow2", ["qemu-img", "convert", "-O", "qcow2", "-c", "{raw}", "{out}"]),
    ("container-e01", ".E01", ["ewfacquire", "-u", "-c", "best", "-t", "{base}", "{raw}"]),
]
SANITIZER_MARKS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:", "SUMMARY: UndefinedBehavior")

# Values a damaged or hostile disk puts into a field of each width.
EXTREMES = {
    1: [0, 1, 0x7F, 0x80, 0xFF],
    2: [0, 1, 0x7FFF, 0x8000, 0xFFFF],
    4: [0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF],
    8: [0, 1, 1 << 40, 1 << 62, (1 << 63) - 1, 1 << 63, (1 << 64) - 1],
}
PACK = {1: "<B", 2: "<H", 4: "<I", 8: "<Q"}


def volume_starts(image):
    """Byte offsets of the NTFS volumes in an image: 0, or the partitions of its MBR or GPT."""
    with open(image, "rb") as f:
        head = f.read(34 * 512)
    if head[3:11] in (b"NTFS    ", b"EXFAT   ") or head[0x36:0x39] == b"FAT" or head[0x52:0x57] == b"FAT32":
        return [0]
    starts = []
    if head[512:520] == b"EFI PART":
        entries, count, size = struct.unpack_from("<QII", head, 512 + 72)
        for i in range(min(count, 128)):
            at = entries * 512 + i * size
            if at + 48 <= len(head):
                first = struct.unpack_from("<Q", head, at + 32)[0]
                if first:
                    starts.append(first * 512)
    elif head[510:512] == b"\x55\xaa":
        for i in range(4):
            first = struct.unpack_from("<I", head, 446 + 16 * i + 8)[0]
            if first:
                starts.append(first * 512)
    return starts


def mutate(rng, data, structure, base):
    """Damages `structure` of the volume at `base` in place; returns (offset, old bytes) pairs."""
    undo = []

    def put(at, new):
        if at < 0 or at + len(new) > len(data):
            return
        undo.append((at, bytes(data[at:at + len(new)])))
        data[at:at + len(new)] = new

    def field(at, width):
        put(at, struct.pack(PACK[width], rng.choice(EXTREMES[width])))

    def flips(start, length, count):
        for _ in range(count):
            at = start + rng.randrange(length)
            put(at, bytes([rng.randrange(256)]))

    if structure == "boot":
        fields = [(0x0B, 2), (0x0D, 1), (0x28, 8), (0x30, 8), (0x38, 8), (0x40, 1), (0x44, 1)]
        for _ in range(rng.randint(1, 3)):
            at, width = rng.choice(fields)
            field(base + at, width)
        if rng.random() < 0.5:
            flips(base, 512, rng.randint(1, 8))
    elif structure == "mft":
        bps = struct.unpack_from("<H", data, base + 0x0B)[0] or 512
        spc_byte = data[base + 0x0D]
        spc = 8 if spc_byte == 0 else spc_byte if spc_byte <= 0x80 else 1 << (256 - spc_byte)
        mft = base + struct.unpack_from("<Q", data, base + 0x30)[0] * bps * spc
        record = 4096 if bps == 4096 else 1024
        for _ in range(rng.randint(1, 4)):
            number = rng.choice([0, 0, 0, 1, 5, 6] + list(range(24, 64)))
            start = mft + number * record
            if rng.random() < 0.5:
                # A header field, an attribute's length, offset or size, or a run-list byte.
                at = start + rng.choice([0x04, 0x06, 0x14, 0x16, 0x18, 0x1C, 0x2C] + list(range(0x38, 0x200, 8)))
                field(at, rng.choice([1, 2, 4, 8]))
            else:
                flips(start, record, rng.randint(1, 16))
    elif structure == "fat-boot":
        # The BPB of FAT12/16/32 and the exFAT boot sector's fields, whichever the volume has.
        if data[base + 3:base + 11] == b"EXFAT   ":
            fields = [(0x40, 8), (0x48, 8), (0x50, 4), (0x54, 4), (0x58, 4), (0x5C, 4), (0x60, 4), (0x6C, 1),
                      (0x6D, 1), (0x6E, 1)]
        else:
            fields = [(0x0B, 2), (0x0D, 1), (0x0E, 2), (0x10, 1), (0x11, 2), (0x13, 2), (0x16, 2), (0x20, 4),
                      (0x24, 4), (0x2C, 4)]
        for _ in range(rng.randint(1, 3)):
            at, width = rng.choice(fields)
            field(base + at, width)
        if rng.random() < 0.3:
            flips(base, 512, rng.randint(1, 8))
    elif structure == "fat-tables":
        # The allocation table, the root folder and the first folders: bytes and whole fields.
        reach = min(len(data) - base, 4 << 20)
        for _ in range(rng.randint(1, 24)):
            if rng.random() < 0.5:
                field(base + 512 + rng.randrange(reach - 520) // 4 * 4, rng.choice([1, 2, 4]))
            else:
                flips(base + 512, reach - 512, 1)
    elif structure == "container":
        # A container's header and tables lie at its start; a VHD's footer at its end.
        head = min(len(data), 1 << 16)
        for _ in range(rng.randint(1, 16)):
            if rng.random() < 0.5:
                field(rng.randrange(max(head - 8, 1)) // 4 * 4, rng.choice([1, 2, 4, 8]))
            else:
                flips(0, head, 1)
        if rng.random() < 0.3:
            tail = min(len(data), 4096)
            flips(len(data) - tail, tail, rng.randint(1, 8))
    elif structure == "partitions":
        if rng.random() < 0.5:
            for _ in range(rng.randint(1, 3)):
                entry = 446 + 16 * rng.randrange(4)
                at, width = rng.choice([(entry + 4, 1), (entry + 8, 4), (entry + 12, 4)])
                field(at, width)
        else:
            at, width = rng.choice([(512 + 12, 4), (512 + 24, 8), (512 + 32, 8), (512 + 72, 8), (512 + 80, 4),
                                    (512 + 84, 4), (1024 + 32, 8), (1024 + 40, 8), (1024 + 128 + 32, 8)])
            field(at, width)
        if rng.random() < 0.3:
            flips(0, 34 * 512, rng.randint(1, 16))
    return undo


def run(cli, args, limit):
    # The libraries' own leaks that tools/test.sh suppresses are suppressed here too.
    suppressions = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=1:exitcode=86:abort_on_error=0",
               LSAN_OPTIONS=f"suppressions={suppressions}",
               UBSAN_OPTIONS="halt_on_error=1:exitcode=87:print_stacktrace=1", LC_ALL="C.UTF-8")
    started = time.monotonic()
    try:
        result = subprocess.run([cli] + args, capture_output=True, text=True, errors="replace", timeout=limit,
                                env=env, stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        return "timeout", limit, ""
    took = time.monotonic() - started
    if any(mark in result.stderr for mark in SANITIZER_MARKS):
        return "sanitizer", took, result.stderr
    if result.returncode < 0:
        return "crash", took, result.stderr
    if result.returncode not in (0, 1, 2):
        return f"exit {result.returncode}", took, result.stderr
    return None, took, ""


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", default="build-sanitize/cli/orvandel-cli")
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=30)
    parser.add_argument("--limit", type=float, default=60.0, help="seconds one command may take")
    parser.add_argument("--work", help="folder for the images and the bad cases (default: a new one)")
    parser.add_argument("--only", default="", help="take only the images whose name starts so (e.g. container-)")
    args = parser.parse_args()

    work = args.work or tempfile.mkdtemp(prefix="orv-mutate-")
    os.makedirs(work, exist_ok=True)
    originals = {}
    for name in VOLUMES + DISKS + FAT_FAMILY:
        packed = os.path.join(FIXTURES, name + ".img.xz")
        if not os.path.exists(packed):
            continue
        with lzma.open(packed) as f:
            originals[name] = bytearray(f.read())
    extensions = {}
    raw = os.path.join(work, "raw.img")
    if "ntfs-c4096" in originals:
        with open(raw, "wb") as f:
            f.write(originals["ntfs-c4096"])
        for name, extension, command in CONTAINERS:
            out = os.path.join(work, name + extension)
            made = [a.format(raw=raw, out=out, base=os.path.join(work, name)) for a in command]
            try:
                subprocess.run(made, check=True, capture_output=True, stdin=subprocess.DEVNULL, timeout=120)
            except (OSError, subprocess.SubprocessError):
                continue  # its tool is missing: that container is left out
            with open(out, "rb") as f:
                originals[name] = bytearray(f.read())
            extensions[name] = extension
            os.remove(out)
        os.remove(raw)
    originals = {name: data for name, data in originals.items() if name.startswith(args.only)}
    rng = random.Random(args.seed)
    counts = {"images": 0, "runs": 0, "bad": 0}
    slowest = (0.0, "")
    bad = []
    for number in range(args.count):
        name = rng.choice(sorted(originals))
        data = originals[name]
        # Containers are told by their signatures; E01 segments are also found by their extension.
        image = os.path.join(work, "mutated" + extensions.get(name, ".img"))
        if name in extensions:
            structures = ["container"]
        elif name in FAT_FAMILY:
            structures = ["fat-boot", "fat-tables", "fat-tables"]
        elif name in DISKS:
            structures = ["partitions", "boot", "mft"]
        else:
            structures = ["boot", "mft", "mft"]
        structure = rng.choice(structures)
        with open(image, "wb") as f:
            f.write(data)
        starts = [0] if name in extensions else volume_starts(image) or [0]
        undo = mutate(rng, data, structure, rng.choice(starts))
        with open(image, "wb") as f:
            f.write(data)
        for at, old in reversed(undo):
            data[at:at + len(old)] = old
        counts["images"] += 1
        out = os.path.join(work, "restored")
        for command in (["scan", image, "--json"], ["scan", image, "--extended", "--json"],
                        ["restore", image, "--to", out, "--json", "--quiet"]):
            shutil.rmtree(out, ignore_errors=True)
            verdict, took, stderr = run(args.cli, command, args.limit)
            counts["runs"] += 1
            if took > slowest[0]:
                slowest = (took, f"#{number} {name} {structure} {command[0]} {' '.join(command[2:3])}")
            if verdict:
                counts["bad"] += 1
                kept = os.path.join(work, f"bad-{number:04d}-{name}-{structure}.img")
                shutil.copyfile(image, kept)
                bad.append((number, name, structure, " ".join(command[:1] + command[2:]), verdict))
                with open(kept + ".txt", "a") as f:
                    f.write(f"{verdict}: {' '.join(command)}\n{stderr[-4000:]}\n")
                print(f"#{number} {name} {structure} {command[0]} {command[2:3]}: {verdict}", flush=True)
        shutil.rmtree(out, ignore_errors=True)
        os.remove(image)
        if (number + 1) % 50 == 0:
            print(f"{number + 1} images, {counts['runs']} runs, {counts['bad']} bad, slowest {slowest[0]:.1f} s",
                  flush=True)
    print(f"images {counts['images']}, runs {counts['runs']}, bad runs {counts['bad']}, "
          f"slowest {slowest[0]:.1f} s ({slowest[1]}); work folder {work}")
    for entry in bad:
        print("  #%d %s %s %s: %s" % entry)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
