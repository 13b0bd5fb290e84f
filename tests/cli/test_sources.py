#!/usr/bin/env python3
"""What users and examiners bring beyond a plain deleted file: the emptied Recycle Bin (its $R files
listed under the paths their $I files give), checked against the manifest the fixture script wrote
and verified with rifiuti2.

Environment: ORV_CLI (the binary), ORV_FIXTURES (the unpacked fixture images)."""

import datetime
import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import unittest

CLI = os.environ.get("ORV_CLI", "build/cli/orvandel-cli")
FIXTURES = os.environ.get("ORV_FIXTURES", "build/fixtures")
RECYCLE = os.path.join(FIXTURES, "ntfs-recycle.img")


def read_manifest(name):
    with open(os.path.join(FIXTURES, name)) as f:
        header = f.readline().rstrip("\n").split("\t")
        return [dict(zip(header, line.rstrip("\n").split("\t"))) for line in f]


def filetime_iso(filetime):
    when = datetime.datetime(1601, 1, 1) + datetime.timedelta(microseconds=int(filetime) // 10)
    return when.strftime("%Y-%m-%dT%H:%M:%S+00:00")


class CliCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="orv-sources-")
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"), TZ="UTC")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def run_cli(self, *args, timeout=60):
        result = subprocess.run([CLI, *args], capture_output=True, text=True, env=self.env, timeout=timeout)
        self.assertGreaterEqual(result.returncode, 0, f"killed by a signal: {result.stderr}")
        for marker in ("runtime error", "AddressSanitizer", "LeakSanitizer"):
            self.assertNotIn(marker, result.stderr)
        return result

    def scan_json(self, image, *options):
        result = self.run_cli("scan", image, "--json", "--quiet", *options)
        self.assertEqual(result.returncode, 0, result.stderr)
        return json.loads(result.stdout)


class RecycleBin(CliCase):
    """Each deleted $R file is listed where its $I file (deleted or not) says it came from, a
    deleted $R folder with its tree; without a readable $I it stays under its bin name; the $I
    files are never listed. Both scans, restored byte for byte."""

    def expected(self):
        rows = read_manifest("ntfs-recycle.manifest.tsv")
        by_path = {row["path"]: row for row in rows}
        expected = {}
        for row in rows:
            if row["state"] != "deleted" or row["kind"] != "file":
                continue
            path = row["path"]
            original, when = row["original"], row["deleted"]
            # A file inside a folder put in the bin whole takes that folder's original path.
            parts = path.split("/")
            for depth in range(len(parts) - 1, 0, -1):
                folder = by_path.get("/".join(parts[:depth]))
                if folder and folder["original"] != "-":
                    original = folder["original"] + "\\" + "\\".join(parts[depth:])
                    when = folder["deleted"]
                    break
            if original != "-":
                listed = "C:" + original[2:]
            elif os.path.basename(path).startswith("$I"):
                continue
            else:
                listed = "C:\\" + path.replace("/", "\\")
            expected[listed] = (row, original, when)
        return expected

    def test_both_scans_list_the_bin_under_the_original_paths(self):
        expected = self.expected()
        self.assertIn("C:\\Users\\alice\\Projects\\Plan\\sub\\b.bin", expected)
        for mode in ((), ("--extended",)):
            with self.subTest(mode=mode):
                files = self.scan_json(RECYCLE, *mode)["files"]
                listed = {f["folder"] + f["name"]: f for f in files}
                self.assertEqual(sorted(listed), sorted(expected))
                for path, (row, original, when) in expected.items():
                    self.assertEqual(listed[path]["size"], int(row["size"]), path)
                    if original == "-":
                        self.assertNotIn("recycle_bin", listed[path])
                    else:
                        self.assertEqual(listed[path]["recycle_bin"],
                                         {"deleted": filetime_iso(when), "original": original})

    def test_the_mask_is_tried_on_the_original_name(self):
        files = self.scan_json(RECYCLE, "--mask", "holiday.*")["files"]
        self.assertEqual([f["folder"] + f["name"] for f in files], ["C:\\Users\\alice\\Pictures\\holiday.jpg"])
        self.assertEqual(self.scan_json(RECYCLE, "--mask", "$R3XK9QF.*")["files"], [])

    def test_restore_keeps_the_original_paths_and_every_byte(self):
        out = os.path.join(self.tmp, "out")
        os.mkdir(out)
        result = self.run_cli("restore", RECYCLE, "--to", out, "--keep-paths", "--quiet")
        self.assertEqual(result.returncode, 0, result.stderr)
        for path, (row, _, _) in self.expected().items():
            with open(os.path.join(out, *path[3:].split("\\")), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).hexdigest(), row["sha256"], path)

    def test_rifiuti2_reads_the_same_original_path_and_time_from_each_info_file(self):
        if not shutil.which("rifiuti-vista") or not shutil.which("icat"):
            self.skipTest("rifiuti2 or The Sleuth Kit is not installed (bash tools/setup.sh)")
        rows = {row["path"]: row for row in read_manifest("ntfs-recycle.manifest.tsv")}
        listed = {f["recycle_bin"]["original"]: f["recycle_bin"] for f in self.scan_json(RECYCLE)["files"]
                  if "recycle_bin" in f}
        checked = 0
        for path, row in rows.items():
            name = os.path.basename(path)
            if not name.startswith("$I"):
                continue
            info = os.path.join(self.tmp, name)
            with open(info, "wb") as f:
                f.write(subprocess.run(["icat", RECYCLE, row["mft_record"]], capture_output=True, check=True).stdout)
            out = subprocess.run(["rifiuti-vista", "-n", "-z", info], capture_output=True, text=True).stdout
            index, deleted, size, original = out.strip().splitlines()[-1].split("\t")
            # A folder's $I: the files of its tree carry its path and time.
            below = [o for o in listed if o == original or o.startswith(original + "\\")]
            self.assertTrue(below, original)
            for found in below:
                self.assertEqual(listed[found]["deleted"], deleted.replace(" ", "T") + "+00:00")
            checked += 1
        self.assertEqual(checked, 5)


if __name__ == "__main__":
    unittest.main(verbosity=2)
