#!/usr/bin/env python3
"""The Extended scan on volumes made at test time with mkntfs and ntfs-3g: fresh volumes small and
large, and quick formats over used volumes with the same and with another cluster size. Every
earlier file must be listed once under its earlier folder and restore byte for byte, probed or
swept. Large volumes are sparse files, so they cost little disk.

Environment: ORV_CLI (the binary). Needs root (FUSE mounts), mkntfs and ntfs-3g, else skipped."""

import json
import os
import random
import re
import shutil
import subprocess
import tempfile
import unittest

CLI = os.environ.get("ORV_CLI", "build/cli/orvandel-cli")


def place(path):
    folder, _, name = path.rpartition("/")
    return ("C:\\" + (folder.replace("/", "\\") + "\\" if folder else ""), name)


class Volume:
    """An image file and the files written to it, by path: their bytes' sha256."""

    def __init__(self, folder, name, size):
        self.path = os.path.join(folder, name)
        self.mount = os.path.join(folder, name + ".mnt")
        os.mkdir(self.mount)
        with open(self.path, "wb") as f:
            f.truncate(size)

    def format(self, cluster, quick=True):
        args = ["mkntfs", "-F", "-q", "-c", str(cluster)] + (["-Q"] if quick else ["-f"])
        subprocess.run(args + [self.path], check=True, capture_output=True)

    def write(self, files, delete=()):
        """Writes {path: bytes}, then deletes the paths in `delete`."""
        subprocess.run(["ntfs-3g", self.path, self.mount], check=True, capture_output=True)
        try:
            for name, data in files.items():
                os.makedirs(os.path.dirname(os.path.join(self.mount, name)), exist_ok=True)
                with open(os.path.join(self.mount, name), "wb") as f:
                    f.write(data)
            for name in delete:
                os.remove(os.path.join(self.mount, name))
        finally:
            subprocess.run(["umount", self.mount], check=True, capture_output=True)


def contents(prefix, count, seed):
    """Files of many sizes: resident, a few clusters, and some spanning many."""
    rng = random.Random(seed)
    sizes = [rng.choice([300, 5000, 9000, 40000, 150000]) + rng.randrange(2000) for _ in range(count)]
    return {f"{prefix}/folder{i % 4}/file{i}.bin": rng.randbytes(size) for i, size in enumerate(sizes)}


class DeepScan(unittest.TestCase):
    def setUp(self):
        if os.geteuid() != 0 or not all(shutil.which(t) for t in ("mkntfs", "ntfs-3g", "umount")):
            self.skipTest("needs root, mkntfs and ntfs-3g")
        self.tmp = tempfile.mkdtemp(prefix="orv-deep-", dir="/var/tmp")
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"), TZ="UTC")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def cli(self, *args):
        result = subprocess.run([CLI, *args], capture_output=True, text=True, env=self.env, timeout=600)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result

    def scan(self, image, *args):
        return json.loads(self.cli("scan", image, "--json", "--quiet", *args).stdout)

    def assert_listed_once(self, out, paths):
        listed = [(f["folder"], f["name"]) for f in out["files"]]
        self.assertEqual(len(listed), len(set(listed)))
        self.assertFalse([n for _, n in listed if re.search(r"\(\d+\)$", n)], "no record is read twice")
        missing = sorted(p for p in paths if place(p) not in set(listed))
        self.assertEqual(missing, [], "every file under its folder")

    def assert_restored(self, image, files, listing, *args):
        """Every file graded Good comes back byte for byte; the format itself overwrote a few."""
        good = {(f["folder"], f["name"]) for f in listing["files"] if f["recoverability"] == "Good"}
        self.assertGreaterEqual(len(good), 0.8 * len(files))
        out = os.path.join(self.tmp, os.path.basename(image) + "-restored-" + "-".join(a.strip("-") for a in args))
        self.cli("restore", image, "--to", out, "--keep-paths", "--quiet", *args)
        wrong = []
        for path, data in files.items():
            if place(path) not in good:
                continue
            folder, name = place(path)
            restored = os.path.join(out, *folder.rstrip("\\").split("\\")[1:], name)
            if not os.path.exists(restored):
                wrong.append(path + " (not restored)")
                continue
            with open(restored, "rb") as f:
                if f.read() != data:
                    wrong.append(path)
        self.assertEqual(wrong, [], "restored byte for byte")

    def test_fresh_volumes_large_and_small(self):
        # mkntfs puts the $MFT below the first probe point and a small $MFT between two probes.
        for size, name in ((16 << 30, "16g.img"), (20 << 20, "20m.img")):
            with self.subTest(size=size):
                volume = Volume(self.tmp, name, size)
                volume.format(4096)
                names = {f"docs/d{i % 3}/note{i}.txt": b"x" * (i * 37 % 5000) for i in range(300)}
                volume.write(names, delete=list(names))
                normal = self.scan(volume.path)
                self.assertEqual(normal["files_found"], 300)
                reaches = [()] + ([("--sweep",)] if size < 1 << 30 else [])
                for reach in reaches:
                    extended = self.scan(volume.path, "--extended", *reach)
                    self.assert_listed_once(extended, names)
                    self.assertLessEqual({(f["folder"], f["name"]) for f in normal["files"]},
                                         {(f["folder"], f["name"]) for f in extended["files"]})
                os.remove(volume.path)

    def test_quick_format_over_a_used_volume(self):
        # The earlier file system's run lists count its own clusters: after a quick format with
        # 2,048-byte clusters over 4,096-byte ones, reading them with the new size gives other bytes.
        for earlier, later in ((4096, 2048), (4096, 4096)):
            with self.subTest(earlier=earlier, later=later):
                volume = Volume(self.tmp, f"q{earlier}-{later}.img", 64 << 20)
                volume.format(earlier, quick=False)
                files = contents("old", 60, seed=earlier + later)
                gone = [p for i, p in enumerate(files) if i % 3 == 0]
                volume.write(files, delete=gone)
                volume.format(later)
                for reach in ((), ("--sweep",)):
                    out = self.scan(volume.path, "--extended", *reach)
                    self.assertTrue(out["sweep"] == bool(reach))
                    self.assert_listed_once(out, files)
                    sizes = {f["earlier_cluster_size"] for f in out["files"]}
                    if earlier != later:
                        self.assertEqual(sizes, {earlier}, "told by the earlier $MFT's records")
                    else:
                        self.assertEqual(sizes, {earlier}, "told by the earlier files' allocated sizes")
                    self.assert_restored(volume.path, files, out, "--extended", *reach)
                os.remove(volume.path)


if __name__ == "__main__":
    unittest.main()
