#!/usr/bin/env python3
"""Builds the images of files found by their content: NTFS (ntfs-3g), FAT32 (mtools) and exFAT
(exfat-fuse), each holding real files of every format (tools/carve_samples.py) that were deleted
and whose records or directory entries were then reused or wiped, so that nothing names them.

    sudo python3 tools/make_carving_fixtures.py OUTDIR [--cli build/cli/orvandel-cli] [--seed N]

Per image it writes IMAGE.img and IMAGE.manifest.tsv (columns: name, size, sha256, layout), where
layout is one of
  contiguous      one run of clusters
  gap-live        two fragments with a live file between them
  gap-deleted     two fragments with deleted bytes of no known format between them
  gap-found       two fragments with another deleted sample between them
  named           deleted, but its record or entry still names it: it must be listed by name only
Fragments are made the way file systems make them: the file is written into a hole a deleted
filler left, too small for it, so its rest goes past the file after the hole.
"""

import argparse
import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import carve_samples  # noqa: E402

CLUSTER = 4096
# Which samples are stored in two fragments, and what lies between the fragments.
FRAGMENTED = {
    "picture-1.png": "gap-deleted",
    "archive-1.zip": "gap-live",
    "letter-1.docx": "gap-deleted",
    "photo-1.jpg": "gap-live",
    "notes-1.sqlite": "gap-found",
    "sheet-1.xlsx": "gap-live",
    "report-1.pdf": "gap-live",
}


def run(*args, **kw):
    return subprocess.run(list(args), check=True, **kw)


def noise(seed, size):
    return random.Random(seed).randbytes(size)


class Mounted:
    """A volume mounted through FUSE: files written with plain file calls, synced after each."""

    def __init__(self, image, kind, work):
        self.mnt = os.path.join(work, "mnt")
        os.makedirs(self.mnt, exist_ok=True)
        self.kind, self.image, self.loop = kind, image, None
        if kind == "ntfs":
            self.proc = subprocess.Popen(["ntfs-3g", "-o", "no_detach", image, self.mnt])
        else:
            self.loop = run("losetup", "-f", "--show", image, capture_output=True, text=True).stdout.strip()
            run("mount.exfat-fuse", self.loop, self.mnt)
            self.proc = None
        for _ in range(100):
            if os.path.ismount(self.mnt):
                break
            time.sleep(0.1)

    def put(self, name, data):
        with open(os.path.join(self.mnt, name), "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.sync()

    def put_in_two(self, name, data, first, between, between_data):
        # The allocator gives the next clusters to the file written in between; the rest of the
        # first file then goes after it.
        self.put(name, data[:first])
        self.put(between, between_data)
        # ntfs-3g may give one new file another zone; the second one lands after the first file.
        self.put("keep-gap-" + name, noise(name, CLUSTER - 5))
        with open(os.path.join(self.mnt, name), "ab") as f:
            f.write(data[first:])
            f.flush()
            os.fsync(f.fileno())
        os.sync()

    def remove(self, name):
        os.remove(os.path.join(self.mnt, name))
        os.sync()

    def close(self):
        run("umount", self.mnt)
        if self.proc:
            self.proc.wait()
        if self.loop:
            run("losetup", "-d", self.loop)


class Mtools:
    """A FAT32 image written by mtools, which gives each new file the first free clusters."""

    def __init__(self, image, work):
        self.image, self.work = image, work

    def put(self, name, data):
        path = os.path.join(self.work, "put.bin")
        with open(path, "wb") as f:
            f.write(data)
        run("mcopy", "-i", self.image, "-o", path, "::/" + name)

    def put_in_two(self, name, data, first, between, between_data):
        # A hole as long as the first fragment, the file between after it, then the file: mtools
        # fills the hole first once the volume's hint of where free space begins is cleared.
        self.put("hole.tmp", b"\0" * first)
        self.put(between, between_data)
        self.remove("hole.tmp")
        self.forget_free_hint()
        self.put(name, data)

    def forget_free_hint(self):
        with open(self.image, "r+b") as f:
            boot = f.read(512)
            fsinfo = int.from_bytes(boot[0x30:0x32], "little") * int.from_bytes(boot[11:13], "little")
            f.seek(fsinfo + 0x1EC)
            f.write(b"\xff\xff\xff\xff")

    def remove(self, name):
        run("mdel", "-i", self.image, "::/" + name)

    def close(self):
        pass


def build(kind, out, cli, seed, samples, overwrite=0):
    name = {"ntfs": "carve-ntfs", "fat32": "carve-fat32", "exfat": "carve-exfat"}[kind]
    image = os.path.join(out, name + ".img")
    work = tempfile.mkdtemp(prefix="orvandel-carve-")
    rnd = random.Random(seed)
    with open(image, "wb") as f:
        # FAT32 needs 65,525 clusters at least: at 4 KiB that is a larger (and mostly empty) image.
        f.truncate({"fat32": 288, "ntfs": 16}.get(kind, 48) << 20)
    if kind == "ntfs":
        run("mkntfs", "-F", "-Q", "-q", "-c", str(CLUSTER), "-L", "Carve", image)
        volume = Mounted(image, kind, work)
    elif kind == "exfat":
        run("mkfs.exfat", "-c", str(CLUSTER), "-L", "Carve", image, stdout=subprocess.DEVNULL)
        volume = Mounted(image, kind, work)
    else:
        run("mkfs.fat", "-F", "32", "-S", "512", "-s", str(CLUSTER // 512), "-n", "CARVE", image,
            stdout=subprocess.DEVNULL)
        volume = Mtools(image, work)

    rows, deleted, fillers = [], [], []
    volume.put("keep-first.bin", noise(seed, 3 * CLUSTER + 100))
    order = list(samples)
    rnd.shuffle(order)
    for sample, data in order:
        layout = FRAGMENTED.get(sample, "contiguous")
        if layout == "contiguous":
            volume.put(sample, data)
        else:
            # The first third of its clusters, then what lies between the fragments, then the rest.
            first = max(1, len(data) // CLUSTER // 3) * CLUSTER
            if layout == "gap-found":
                between, between_data = "between-" + sample + ".txt", (carve_samples.text_body(rnd, 60) + "\n").encode()
                rows.append((between, between_data, "contiguous"))
                deleted.append(between)
            else:
                between, between_data = "between-" + sample + ".bin", noise(rnd.random(), 2 * CLUSTER + 10)
                (deleted if layout == "gap-deleted" else fillers).append(between)
            volume.put_in_two(sample, data, first, between, between_data)
        rows.append((sample, data, layout))
        deleted.append(sample)
        # Live files between the samples, so that free space is not one stretch.
        volume.put("keep-%s.bin" % sample, noise(rnd.random(), rnd.randint(1, 3) * CLUSTER - 7))
    # Deleted files whose records still name them: listed by name, never a second time by content.
    named = []
    for i, (sample, data) in enumerate(samples[:4]):
        copy = "named-" + sample
        volume.put(copy, data)
        named.append(copy)
        rows.append((copy, data, "named"))
    for n in deleted:
        volume.remove(n)
    if kind == "ntfs":
        # New small files (inside their records) take free records, some of them the samples'.
        for i in range(len(deleted)):
            volume.put("new-%02d.txt" % i, b"a small new file %d\n" % i)
    # Live files written after the delete take some of the freed clusters: the samples they land on
    # are no longer what was written, and must not come back graded Good.
    for i in range(overwrite):
        volume.put("later-%02d.bin" % i, noise(rnd.random(), rnd.randint(1, 6) * CLUSTER - 11))
    for n in named:
        volume.remove(n)
    volume.close()

    # Whatever still names a deleted file other than the named copies is wiped (FAT lists a deleted
    # entry under its name with the first letter lost), so only the samples' content is left.
    listed = run(cli, "scan", image, "--quiet", capture_output=True, text=True).stdout.splitlines()
    gone = [line.split("\t")[0][len("C:\\"):] for line in listed if line.startswith("C:\\") and "\t" in line]
    gone = [n for n in gone if "\\" not in n and not n.startswith("named-")]
    if gone:
        args = [cli, "wipe", image, "--folder", "C:\\", "--yes"]
        for n in gone:
            args += ["--name", n]
        run(*args, stdout=subprocess.DEVNULL)
    listed = run(cli, "scan", image, "--quiet", capture_output=True, text=True).stdout
    for n in named:
        assert "\\" + n + "\t" in listed, (kind, n, "not named")
    assert sum("\t" in line for line in listed.splitlines()) == len(named), (kind, listed)

    # A layout the allocator did not give is not claimed: a sample meant to fragment that lies in one
    # run after all is written down as contiguous.
    with open(image, "rb") as f:
        volume_bytes = f.read()
    checked = []
    for file_name, data, layout in rows:
        if layout.startswith("gap-"):
            at = volume_bytes.find(data[:CLUSTER])
            while at != -1 and at % 512:
                at = volume_bytes.find(data[:CLUSTER], at + 1)
            if at != -1 and volume_bytes[at:at + len(data)] == data:
                layout = "contiguous"
        checked.append((file_name, data, layout))
    rows = checked
    with open(os.path.join(out, name + ".manifest.tsv"), "w") as f:
        for file_name, data, layout in rows:
            f.write("%s\t%d\t%s\t%s\n" % (file_name, len(data), hashlib.sha256(data).hexdigest(), layout))
    shutil.rmtree(work, ignore_errors=True)
    return image


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--cli", default="build/cli/orvandel-cli")
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--kinds", default="ntfs,fat32,exfat")
    parser.add_argument("--overwrite", type=int, default=0, help="live files written after the delete")
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("make_carving_fixtures: must run as root (the volumes are mounted through FUSE)")
    os.makedirs(args.out, exist_ok=True)
    stage = tempfile.mkdtemp(prefix="orvandel-samples-")
    try:
        work = os.path.join(stage, "w")
        os.makedirs(work)
        samples = list(carve_samples.samples(random.Random(args.seed), work))
    finally:
        shutil.rmtree(stage, ignore_errors=True)
    for kind in args.kinds.split(","):
        print(build(kind, args.out, os.path.abspath(args.cli), args.seed, samples, args.overwrite))
    return 0


if __name__ == "__main__":
    sys.exit(main())
