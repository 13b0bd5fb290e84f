#!/usr/bin/env python3
"""FAT12, FAT16, FAT32 and exFAT volumes through orvandel-cli, as a user runs it: every deleted file
of the manifest is listed in its folder, what is graded Good restores byte for byte, the Extended
scan of a quick-formatted volume brings the earlier files back, and wipe changes nothing but the
file's own directory entries.

Environment: ORV_CLI (the binary), ORV_FIXTURES (the unpacked fixture images)."""

import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import unittest

CLI = os.environ.get("ORV_CLI", "build/cli/orvandel-cli")
FIXTURES = os.environ.get("ORV_FIXTURES", "build/fixtures")
VOLUMES = {"fat12": "FAT12", "fat16": "FAT16", "fat32": "FAT32", "exfat": "exFAT"}
FORMATTED = ["fat32-formatted", "exfat-formatted"]


def manifest(name):
    """(path, size, sha256, state) of every file the fixture's script wrote."""
    rows = []
    with open(os.path.join(FIXTURES, name + ".manifest.tsv"), encoding="utf-8") as f:
        header = f.readline().rstrip("\n").split("\t")
        for line in f:
            row = dict(zip(header, line.rstrip("\n").split("\t")))
            if row.get("kind", "file") != "file":
                continue
            rows.append((row["path"], int(row["size"]), row["sha256"], row["state"]))
    return rows


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class FatFamily(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="orv-fat-")
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"), TZ="UTC")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def cli(self, *args):
        result = subprocess.run([CLI, *args], capture_output=True, text=True, env=self.env, timeout=120)
        self.assertGreaterEqual(result.returncode, 0, result.stderr)
        for marker in ("runtime error", "AddressSanitizer", "LeakSanitizer"):
            self.assertNotIn(marker, result.stderr)
        return result

    def image(self, name):
        path = os.path.join(self.tmp, name + ".img")
        shutil.copyfile(os.path.join(FIXTURES, name + ".img"), path)
        return path

    def restored(self, image, *args):
        """The restore report's files, each with the sha256 of what was written."""
        out = os.path.join(self.tmp, "out-" + str(len(os.listdir(self.tmp))))
        result = self.cli("restore", image, "--to", out, "--keep-paths", "--json", "--quiet", *args)
        self.assertIn(result.returncode, (0, 1), result.stderr)
        report = json.loads(result.stdout)
        for f in report:
            f["sha256"] = sha256(f["path"]) if f.get("path") and os.path.isfile(f["path"]) else None
        return report

    def test_info_names_the_file_system(self):
        for name, kind in VOLUMES.items():
            with self.subTest(name):
                info = json.loads(self.cli("info", os.path.join(FIXTURES, name + ".img"), "--json").stdout)
                self.assertEqual(info["file_system"], kind)
                self.assertGreater(info["bytes_per_cluster"], 0)

    def test_every_deleted_file_is_listed_and_good_means_exact(self):
        for name in VOLUMES:
            with self.subTest(name):
                image = self.image(name)
                scan = json.loads(self.cli("scan", image, "--json", "--quiet").stdout)
                listed = {}
                for f in scan["files"]:
                    listed.setdefault(f["folder"].lower(), []).append(f)
                deleted = [r for r in manifest(name) if r[3] == "deleted"]
                self.assertTrue(deleted)
                for path, size, digest, _ in deleted:
                    folder, _, file = ("\\" + path).rpartition("\\")
                    here = listed.get(("C:" + folder + "\\").lower(), [])
                    # A file whose long name did not survive shows its 8.3 name with "_" first.
                    names = [f["name"] for f in here if f["size"] == size]
                    self.assertTrue(any(n == file or (n.startswith("_") and n[1:].lower() == file[1:].lower())
                                        for n in names), f"{path} not listed: {[f['name'] for f in here]}")
                # Folder and name -> what was written under them (a name may have been deleted twice).
                wanted = {}
                for p, _, d, s in manifest(name):
                    if s == "deleted":
                        folder, _, file = ("C:\\" + p).rpartition("\\")
                        wanted.setdefault((folder + "\\|" + file).lower(), set()).add(d)
                grades = {}
                for f in scan["files"]:
                    grades.setdefault((f["folder"] + "|" + f["name"]).lower(), set()).add(f["recoverability"])
                exact = 0
                for f in self.restored(image):
                    key = (f["folder"] + "|" + f["name"]).lower()
                    if f["sha256"] in wanted.get(key, ()):
                        exact += 1
                    elif grades.get(key) == {"Good"} and key in wanted:
                        self.fail(f"{key} graded Good but restored wrong bytes")
                self.assertGreater(exact, 0)

    def test_extended_scan_finds_the_files_of_a_quick_formatted_volume(self):
        for name in FORMATTED:
            with self.subTest(name):
                image = self.image(name)
                earlier = {d for _, size, d, state in manifest(name) if state == "deleted" and size > 0}
                normal = {f["sha256"] for f in self.restored(image)}
                extended = {f["sha256"] for f in self.restored(image, "--extended")}
                self.assertTrue(earlier & extended, "no earlier file came back")
                self.assertGreaterEqual(len(earlier & extended), len(earlier & normal))

    def test_wipe_changes_only_the_files_entries(self):
        for name in VOLUMES:
            with self.subTest(name):
                image = self.image(name)
                scan = json.loads(self.cli("scan", image, "--json", "--quiet").stdout)
                target = next(f for f in scan["files"] if f.get("entry_offset") is not None)
                with open(image, "rb") as f:
                    before = f.read()
                result = self.cli("wipe", image, "--folder", target["folder"], "--name", target["name"], "--yes")
                with open(image, "rb") as f:
                    after = f.read()
                self.assertEqual(len(before), len(after))
                changed = [i for i in range(len(before)) if before[i] != after[i]]
                if result.returncode == 0:
                    self.assertTrue(changed)
                    # Entries are 32 bytes; a long name's entries lie just before the short one.
                    self.assertLess(max(changed) - min(changed), 32 * 24, "bytes beyond the entries changed")
                    self.assertLessEqual(abs(min(changed) - target["entry_offset"]), 32 * 24)
                    again = json.loads(self.cli("scan", image, "--json", "--quiet").stdout)
                    self.assertEqual(len(again["files"]), len(scan["files"]) - 1)
                else:
                    self.assertFalse(changed, result.stderr)


if __name__ == "__main__":
    unittest.main()
