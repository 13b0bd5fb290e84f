#!/usr/bin/env python3
"""What users and examiners bring beyond a plain deleted file: the emptied Recycle Bin (its $R files
listed under the paths their $I files give), checked against the manifest the fixture script wrote
and verified with rifiuti2; a bare $MFT file copied off a volume, which must list what the
volume's own Normal scan lists; and the named streams of deleted files.

Environment: ORV_CLI (the binary), ORV_FIXTURES (the unpacked fixture images)."""

import datetime
import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from cli_case import CLI, CliCase
FIXTURES = os.environ.get("ORV_FIXTURES", "build/fixtures")
RECYCLE = os.path.join(FIXTURES, "ntfs-recycle.img")


def read_manifest(name):
    with open(os.path.join(FIXTURES, name)) as f:
        header = f.readline().rstrip("\n").split("\t")
        return [dict(zip(header, line.rstrip("\n").split("\t"))) for line in f]


def filetime_iso(filetime):
    when = datetime.datetime(1601, 1, 1) + datetime.timedelta(microseconds=int(filetime) // 10)
    return when.strftime("%Y-%m-%dT%H:%M:%S+00:00")


class SourceCase(CliCase):
    prefix = "orv-sources-"


class RecycleBin(SourceCase):
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


class BareMft(SourceCase):
    """A $MFT copied off a volume (icat IMAGE 0) lists every deleted file the volume's Normal scan
    lists, in the same folders with the same sizes and times; resident files restore as from the
    volume, the others are skipped with the reason; the copy is never written."""

    def sources(self):
        pairs = [(os.path.join(FIXTURES, name + ".mft"), os.path.join(FIXTURES, name + ".img"))
                 for name in ("ntfs-recycle", "ntfs-s4096")]
        # A larger one, with hard links, DOS names and extension records, when icat is there.
        if shutil.which("icat"):
            mft = os.path.join(self.tmp, "features.mft")
            image = os.path.join(FIXTURES, "ntfs-features.img")
            with open(mft, "wb") as f:
                subprocess.run(["icat", image, "0"], stdout=f, check=True)
            pairs.append((mft, image))
        return pairs

    @staticmethod
    def listing(scan):
        return sorted((f["folder"], f["name"], f["size"], f["created"], f["resident"], json.dumps(f.get("recycle_bin")))
                      for f in scan["files"])

    def test_lists_what_the_volume_lists_in_both_scans(self):
        for mft, image in self.sources():
            with self.subTest(mft=os.path.basename(mft)):
                volume = self.listing(self.scan_json(image))
                self.assertGreater(len(volume), 5)
                self.assertEqual(self.listing(self.scan_json(mft)), volume)
                self.assertEqual(self.listing(self.scan_json(mft, "--extended")), volume)
                grades = {(f["folder"], f["name"]): f["recoverability"] for f in self.scan_json(mft)["files"]}
                for f in self.scan_json(mft)["files"]:
                    if not f["resident"] and f["size"] > 0:
                        self.assertEqual(grades[(f["folder"], f["name"])], "Poor")

    def test_resident_files_restore_as_from_the_volume_and_the_others_are_skipped(self):
        for mft, image in self.sources()[:2]:
            with self.subTest(mft=os.path.basename(mft)):
                reports = {}
                for source in (mft, image):
                    out = os.path.join(self.tmp, os.path.basename(source) + "-out")
                    result = self.run_cli("restore", source, "--to", out, "--keep-paths", "--json", "--quiet")
                    self.assertEqual(result.returncode, 0, result.stderr)
                    reports[source] = {(r["folder"], r["name"]): r for r in json.loads(result.stdout)}
                self.assertEqual(sorted(reports[mft]), sorted(reports[image]))
                resident = {(f["folder"], f["name"]) for f in self.scan_json(mft)["files"] if f["resident"]}
                restored = 0
                for key, report in reports[mft].items():
                    if key in resident:
                        self.assertEqual(report["status"], reports[image][key]["status"], key)
                        self.assertEqual(report["sha256"], reports[image][key]["sha256"], key)
                        restored += report["status"] == "restored"
                    else:
                        self.assertEqual(report["status"], "skipped", key)
                        self.assertIn("copied $MFT file does not hold", report["reason"])
                self.assertGreater(restored, 0)

    def test_info_says_what_it_is_and_wipe_is_refused(self):
        for mft, record_size in ((os.path.join(FIXTURES, "ntfs-recycle.mft"), 1024),
                                 (os.path.join(FIXTURES, "ntfs-s4096.mft"), 4096)):
            info = json.loads(self.run_cli("info", mft, "--json").stdout)
            self.assertEqual(info["file_system"], "$MFT")
            self.assertEqual(info["mft_record_size"], record_size)
            self.assertEqual(info["records"], os.path.getsize(mft) // record_size)
            self.assertEqual(info["first_record_fixups"], record_size // 512)
        copy = os.path.join(self.tmp, "copy.mft")
        shutil.copyfile(os.path.join(FIXTURES, "ntfs-recycle.mft"), copy)
        before = open(copy, "rb").read()
        result = self.run_cli("wipe", copy, "--folder", "C:\\Docs", "--name", "plain.txt", "--yes")
        self.assertEqual(result.returncode, 1)
        self.assertIn("copied $MFT file", result.stderr)
        self.assertEqual(open(copy, "rb").read(), before)

    def test_a_file_that_only_begins_like_records_is_refused(self):
        # The first record's update sequence must end each of its strides: a torn copy is no source.
        torn = bytearray(open(os.path.join(FIXTURES, "ntfs-recycle.mft"), "rb").read()[:65536])
        torn[510] ^= 0xFF
        path = os.path.join(self.tmp, "torn.mft")
        open(path, "wb").write(torn)
        result = self.run_cli("scan", path)
        self.assertEqual(result.returncode, 1)
        self.assertIn("supports only", result.stdout + result.stderr)


class NamedStreams(SourceCase):
    """Every named stream of a deleted file (the manifest's "stream" rows) is listed with its size and
    restored byte for byte beside its file as NAME:STREAM; the file itself stays its content."""

    def test_listed_and_restored_beside_their_files(self):
        image = os.path.join(FIXTURES, "ntfs-features.img")
        rows = read_manifest("ntfs-features.manifest.tsv")
        wanted = {}
        for row in rows:
            if row["kind"] == "stream" and row["state"] == "deleted":
                path, stream = row["path"].rsplit(":", 1)
                wanted.setdefault(path, {})[stream] = row
        self.assertTrue(wanted)
        files = {f["folder"] + f["name"]: f for f in self.scan_json(image)["files"]}
        for path, streams in wanted.items():
            listed = files["C:\\" + path.replace("/", "\\")]
            self.assertEqual(sorted((s["name"], s["size"]) for s in listed["streams"]),
                             sorted((name, int(row["size"])) for name, row in streams.items()))
        self.assertFalse([f for f in files.values() if "streams" in f and f["folder"] + f["name"] not in
                          {"C:\\" + p.replace("/", "\\") for p in wanted}], "only files with streams say so")

        out = os.path.join(self.tmp, "out")
        folders = sorted({"C:\\" + os.path.dirname(p).replace("/", "\\") for p in wanted})
        for folder in folders:
            result = self.run_cli("restore", image, "--to", out, "--keep-paths", "--streams", "--folder", folder,
                                  "--quiet")
            self.assertEqual(result.returncode, 0, result.stderr)
        by_path = {row["path"]: row for row in rows}
        for path, streams in wanted.items():
            with open(os.path.join(out, *path.split("/")), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).hexdigest(), by_path[path]["sha256"], path)
            for name, row in streams.items():
                with open(os.path.join(out, *path.split("/")) + ":" + name, "rb") as f:
                    self.assertEqual(hashlib.sha256(f.read()).hexdigest(), row["sha256"], path + ":" + name)
        # Without --streams, only the files.
        plain = os.path.join(self.tmp, "plain")
        self.assertEqual(self.run_cli("restore", image, "--to", plain, "--folder", folders[0], "--quiet").returncode, 0)
        self.assertFalse([n for _, _, names in os.walk(plain) for n in names if ":" in n])


if __name__ == "__main__":
    unittest.main(verbosity=2)
