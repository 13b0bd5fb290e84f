"""Files found by their content: on NTFS, FAT32 and exFAT images whose deleted files lost their
records or directory entries (tools/make_carving_fixtures.py), the whole-disc scan lists them under
"Found by content\\<TYPE>\\" and restores them byte for byte, fragmented ones included; no file that
differs from what was written is graded Good, and files still named are not listed twice."""

import hashlib
import os
import re
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cli_case import CliCase  # noqa: E402

FIXTURES = os.environ.get("ORV_FIXTURES", "build/fixtures")
IMAGES = ("carve-ntfs", "carve-fat32", "carve-exfat")
WHOLE_DISC = ("--extended", "--sweep")


def manifest(name):
    rows = []
    with open(os.path.join(FIXTURES, name + ".manifest.tsv"), encoding="utf-8") as f:
        for line in f:
            file_name, size, sha, layout = line.rstrip("\n").split("\t")
            rows.append({"name": file_name, "size": int(size), "sha256": sha, "layout": layout})
    return rows


def digests(top):
    found = {}
    for folder, _, files in os.walk(top):
        for f in files:
            with open(os.path.join(folder, f), "rb") as h:
                found[f] = hashlib.sha256(h.read()).hexdigest()
    return found


class FoundByContent(CliCase):
    prefix = "orv-carve-"
    timeout = 120

    def found(self, image, *options):
        listing = self.scan_json(os.path.join(FIXTURES, image + ".img"), *WHOLE_DISC, *options)
        return [f for f in listing["files"] if f.get("found_by_content")]

    def restore_found(self, image):
        target = os.path.join(self.tmp, image)
        result = self.run_cli("restore", os.path.join(FIXTURES, image + ".img"), *WHOLE_DISC, "--quiet",
                              "--to", target, "--keep-paths")
        self.assertEqual(result.returncode, 0, result.stderr)
        found_folder = [os.path.join(d, n) for d, names, _ in os.walk(target) for n in names if n == "Found by content"]
        self.assertEqual(len(found_folder), 1, "the found files keep their folder")
        return digests(found_folder[0])

    def test_found_files_restore_byte_for_byte_and_only_exact_ones_are_good(self):
        for image in IMAGES:
            with self.subTest(image=image):
                rows = manifest(image)
                gone = [r for r in rows if r["layout"] != "named"]
                wanted = {r["sha256"]: r for r in gone}
                found = {f["name"]: f for f in self.found(image)}
                restored = self.restore_found(image)
                self.assertEqual(set(restored), set(found))
                exact = {sha for sha in restored.values() if sha in wanted}
                # Every file written whole comes back, and so does every fragmented one.
                missing = sorted(r["name"] for r in gone if r["sha256"] not in exact)
                self.assertEqual(missing, [], f"not brought back byte for byte: {missing}")
                for name, sha in restored.items():
                    if found[name]["recoverability"] == "Good":
                        self.assertIn(sha, wanted, f"{name} is graded Good but differs from every file written")

    def test_listing_names_each_by_its_type_cluster_and_size(self):
        for image in IMAGES:
            with self.subTest(image=image):
                for f in self.found(image):
                    match = re.fullmatch(r"(\d{8,})\.([a-z0-9]+)", f["name"])
                    self.assertIsNotNone(match, f["name"])
                    self.assertEqual(f["folder"], "C:\\Found by content\\" + match.group(2).upper() + "\\")
                    self.assertGreater(f["size"], 0)
                    self.assertIn(f["recoverability"], ("Good", "Average", "Poor"))
                    self.assertIsNone(f["record_offset"])

    def test_files_still_named_are_not_found_a_second_time(self):
        for image in IMAGES:
            with self.subTest(image=image):
                rows = manifest(image)
                named = {r["sha256"] for r in rows if r["layout"] == "named"}
                listing = self.scan_json(os.path.join(FIXTURES, image + ".img"), *WHOLE_DISC)
                by_name = {f["name"] for f in listing["files"] if not f.get("found_by_content")}
                for r in rows:
                    if r["layout"] == "named":
                        self.assertIn(r["name"], by_name)
                # A named copy holds the same bytes as a sample whose record is gone: its content may be
                # found once (the sample's clusters), never twice.
                restored = self.restore_found(image)
                for sha in named:
                    self.assertLessEqual(list(restored.values()).count(sha), 1)

    def test_only_the_whole_disc_scan_finds_by_content(self):
        for options in ((), ("--extended",)):
            with self.subTest(options=options):
                listing = self.scan_json(os.path.join(FIXTURES, "carve-ntfs.img"), *options)
                self.assertFalse(any(f.get("found_by_content") for f in listing["files"]))

    def test_the_mask_applies_to_found_files(self):
        found = self.found("carve-fat32", "--mask", "*.jpg")
        self.assertTrue(found)
        self.assertTrue(all(f["name"].endswith(".jpg") for f in found))

    def test_wipe_refuses_a_found_file(self):
        image = os.path.join(self.tmp, "carve-exfat.img")
        shutil.copyfile(os.path.join(FIXTURES, "carve-exfat.img"), image)
        found = self.found("carve-exfat")
        self.assertTrue(found)
        before = open(image, "rb").read()
        result = self.run_cli("wipe", image, *WHOLE_DISC, "--folder", found[0]["folder"], "--name", found[0]["name"],
                              "--yes")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("no record names them", result.stderr)
        self.assertEqual(open(image, "rb").read(), before, "nothing may be written")


if __name__ == "__main__":
    unittest.main(verbosity=2)
