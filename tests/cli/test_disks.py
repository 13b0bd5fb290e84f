#!/usr/bin/env python3
"""Whole disks and containers through orvandel-cli: a partition scans as the volume it holds, a
container as the image it was made from, and a container is never written.

Environment: ORV_CLI (the binary), ORV_FIXTURES (the unpacked fixture images). Container tests
make their containers here with qemu-img and ewfacquire; without them those tests are skipped."""

import hashlib
import json
import os
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

from cli_case import CLI, CliCase
FIXTURES = os.environ.get("ORV_FIXTURES", "build/fixtures")


def fixture(name):
    return os.path.join(FIXTURES, name + ".img")


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class DiskCase(CliCase):
    prefix = "orv-disks-"

    def scan(self, source, *extra):
        return self.scan_json(source, *extra)["files"]

    def restore(self, source, *extra):
        """(folder, name, status, sha256) of every file a restore of the whole listing gives."""
        to = tempfile.mkdtemp(dir=self.tmp)
        result = self.run_cli("restore", source, "--to", to, "--json", "--quiet", *extra)
        self.assertEqual(result.returncode, 0, result.stderr)
        return sorted((r["folder"], r["name"], r["status"], r["sha256"]) for r in json.loads(result.stdout))

    def copy(self, name):
        path = os.path.join(self.tmp, os.path.basename(fixture(name)))
        shutil.copyfile(fixture(name), path)
        return path


class Partitions(DiskCase):
    def test_one_ntfs_partition_needs_no_choice(self):
        # The MBR disk's only NTFS partition is a logical one inside the extended partition.
        self.assertEqual(self.scan(fixture("disk-mbr-logical")), self.scan(fixture("ntfs-c4096")))
        self.assertEqual(self.scan(fixture("disk-mbr-logical"), "--partition", "5"), self.scan(fixture("ntfs-c4096")))

    def test_two_ntfs_partitions_exit_2_naming_both_and_each_can_be_picked(self):
        disk = fixture("disk-gpt-two")
        result = self.run_cli("scan", disk, "--json")
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stdout, "")
        self.assertIn("--partition", result.stderr)
        self.assertIn("Data A", result.stderr)
        self.assertIn("Data B", result.stderr)
        self.assertEqual(self.scan(disk, "--partition", "1"), self.scan(fixture("ntfs-c512")))
        self.assertEqual(self.scan(disk, "--partition", "2"), self.scan(fixture("ntfs-c4096")))
        self.assertEqual(self.restore(disk, "--partition", "2"), self.restore(fixture("ntfs-c4096")))

    def test_choices_that_cannot_be_made(self):
        disk = fixture("disk-gpt-two")
        cases = [
            ("no such partition", ["scan", disk, "--partition", "3"], 2, "no such partition"),
            ("the extended partition holds no volume", ["scan", fixture("disk-mbr-logical"), "--partition", "2"], 2,
             "no such partition"),
            ("a volume has no partitions", ["scan", fixture("ntfs-c512"), "--partition", "1"], 2, "no partition table"),
            ("a letter names one volume already", ["scan", "C:", "--partition", "1"], 2, "drive letter"),
            ("partition numbers start at 1", ["scan", disk, "--partition", "0"], 2, ""),
        ]
        for what, args, status, text in cases:
            with self.subTest(what):
                result = self.run_cli(*args)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(text, result.stderr)

    def test_damaged_primary_gpt_header_uses_the_backup(self):
        disk = self.copy("disk-gpt-two")
        with open(disk, "r+b") as f:
            f.seek(512 + 0x30)
            f.write(b"\x7f")
        self.assertEqual(self.scan(disk, "--partition", "2"), self.scan(fixture("ntfs-c4096")))

    def test_table_pointing_past_the_disk_is_refused(self):
        disk = self.copy("disk-gpt-two")
        os.truncate(disk, os.path.getsize(disk) - 4 * 1024 * 1024)  # cuts into partition 2
        for command in (["scan", disk, "--partition", "1"], ["info", disk, "--json"]):
            with self.subTest(command[0]):
                result = self.run_cli(*command)
                self.assertEqual(result.returncode, 1)
                self.assertIn("Partition 2 lies outside the disk", result.stderr)

    def test_info_lists_the_partitions_as_mmls_does(self):
        if not shutil.which("mmls"):
            self.skipTest("mmls (sleuthkit) is missing")
        for name in ("disk-gpt-two", "disk-mbr-logical"):
            with self.subTest(name):
                result = self.run_cli("info", fixture(name), "--json")
                self.assertEqual(result.returncode, 0, result.stderr)
                info = json.loads(result.stdout)
                ours = sorted((p["start"] // 512, p["size"] // 512) for p in info["partitions"] if p["mbr_type"] != 5)
                mmls = subprocess.run(["mmls", fixture(name)], capture_output=True, text=True, check=True).stdout
                theirs = []
                for line in mmls.splitlines():
                    fields = line.split()
                    # data partitions carry a slot number ("000" or "000:001"); tables and gaps do not
                    if len(fields) >= 5 and fields[1][:1].isdigit():
                        theirs.append((int(fields[2]), int(fields[4])))
                self.assertEqual(ours, sorted(theirs))

    def test_info_of_a_disk_with_one_ntfs_partition_describes_its_volume(self):
        info = json.loads(self.run_cli("info", fixture("disk-mbr-logical"), "--json").stdout)
        self.assertEqual(info["file_system"], "NTFS")
        self.assertEqual(info["partition_table"], "mbr")
        self.assertEqual(info["partition"], 5)
        self.assertEqual([p["number"] for p in info["partitions"]], [1, 2, 5])

    def test_mapped_disk_gives_a_letter_per_ntfs_partition(self):
        config = os.path.join(self.tmp, "config", "Orvandel")
        os.makedirs(config)
        with open(os.path.join(config, "drives"), "w") as f:
            f.write(f"E: {os.path.abspath(fixture('disk-gpt-two'))}\n")
        drives = json.loads(self.run_cli("drives", "--json").stdout)
        mapped = [d for d in drives if d["source"].endswith("disk-gpt-two.img")]
        self.assertEqual([(d["letter"], d["file_system"], d["partition"]) for d in mapped], [("E:", 64, 1), ("F:", 64, 2)])
        self.assertEqual(self.scan("F:"), self.scan(fixture("ntfs-c4096"), "--drive", "F:"))


    def test_mbr_of_a_disk_with_4096_byte_sectors(self):
        """An MBR written for a disk of 4096-byte logical sectors counts in them: its partitions hold
        their volumes only at that size (at 512 bytes the one below lies at 128 KiB, on zeros)."""
        with open(fixture("ntfs-s4096"), "rb") as f:
            volume = f.read()
        first, sectors = 256, len(volume) // 4096
        disk = bytearray(first * 4096)
        disk[446:462] = struct.pack("<B3sB3sII", 0, b"\0" * 3, 0x07, b"\0" * 3, first, sectors)
        disk[510:512] = b"\x55\xaa"
        path = os.path.join(self.tmp, "disk-4k.img")
        with open(path, "wb") as f:
            f.write(bytes(disk) + volume + bytes(4096 * 16))
        info = json.loads(self.run_cli("info", path, "--json").stdout)
        self.assertEqual([(p["number"], p["start"], p["size"]) for p in info["partitions"]], [(1, first * 4096, len(volume))])
        self.assertEqual(self.scan(path), self.scan(fixture("ntfs-s4096")))
        if shutil.which("mmls"):
            listed = subprocess.run(["mmls", "-b", "4096", path], capture_output=True, text=True).stdout
            self.assertRegex(listed, r"0000000256\s+0000002303\s+0000002048\s+NTFS")


CONTAINERS = [
    # (name, file, command making it from RAW into OUT)
    ("E01", "demo.E01", ["ewfacquire", "-u", "-c", "best", "-t", "{out_base}", "{raw}"]),
    ("VHD", "demo.vhd", ["qemu-img", "convert", "-O", "vpc", "-o", "force_size=on", "{raw}", "{out}"]),
    ("VHDX", "demo.vhdx", ["qemu-img", "convert", "-O", "vhdx", "{raw}", "{out}"]),
    ("VMDK", "demo.vmdk", ["qemu-img", "convert", "-O", "vmdk", "{raw}", "{out}"]),
    ("qcow2", "demo.qcow2", ["qemu-img", "convert", "-O", "qcow2", "-c", "{raw}", "{out}"]),
]


class Containers(DiskCase):
    def make(self, command, out):
        args = [a.format(raw=fixture("demo"), out=out, out_base=os.path.splitext(out)[0]) for a in command]
        subprocess.run(args, check=True, capture_output=True)

    def test_scan_restore_and_wipe_through_each_container(self):
        if not shutil.which("qemu-img") or not shutil.which("ewfacquire"):
            self.skipTest("qemu-img (qemu-utils) or ewfacquire (ewf-tools) is missing: run tools/setup.sh")
        started = time.monotonic()
        raw_files = self.scan(fixture("demo"))
        raw_seconds = time.monotonic() - started
        raw_restored = self.restore(fixture("demo"))
        self.assertTrue(any(status == "restored" for _, _, status, _ in raw_restored))
        wiped = raw_files[0]
        timings = [f"raw {raw_seconds:.2f}s"]
        for kind, name, command in CONTAINERS:
            with self.subTest(kind):
                out = os.path.join(self.tmp, name)
                self.make(command, out)
                started = time.monotonic()
                self.assertEqual(self.scan(out), raw_files)
                timings.append(f"{kind} {time.monotonic() - started:.2f}s")
                self.assertEqual(self.restore(out), raw_restored)
                before = sha256(out)
                result = self.run_cli("wipe", out, "--folder", wiped["folder"], "--name", wiped["name"], "--yes")
                self.assertEqual(result.returncode, 1)
                self.assertIn("Wipe is refused", result.stderr)
                self.assertEqual(sha256(out), before)
        print("scan times:", ", ".join(timings))

    def test_container_holding_a_disk(self):
        if not shutil.which("qemu-img"):
            self.skipTest("qemu-img (qemu-utils) is missing")
        out = os.path.join(self.tmp, "disk.vhdx")
        subprocess.run(["qemu-img", "convert", "-O", "vhdx", fixture("disk-gpt-two"), out], check=True)
        self.assertEqual(self.run_cli("scan", out).returncode, 2)
        self.assertEqual(self.scan(out, "--partition", "1"), self.scan(fixture("ntfs-c512")))
        info = json.loads(self.run_cli("info", out, "--json").stdout)
        self.assertEqual([p["gpt_name"] for p in info["partitions"]], ["Data A", "Data B"])

    def test_damaged_container_fails_with_its_reason(self):
        out = os.path.join(self.tmp, "cut.qcow2")
        with open(out, "wb") as f:
            f.write(b"QFI\xfb" + b"\0" * 508)
        result = self.run_cli("scan", out)
        self.assertEqual(result.returncode, 1)
        self.assertIn("qcow2 image cannot be opened", result.stderr)


class ContainerSets(DiskCase):
    """Containers as they reach an examiner: an E01 set split into segments, opened from its first;
    VMDKs renamed after they were made, whose descriptors still name the old files."""

    def test_segmented_e01_opens_from_its_first_segment(self):
        if not shutil.which("ewfacquire"):
            self.skipTest("ewfacquire (ewf-tools) is missing: run tools/setup.sh")
        base = os.path.join(self.tmp, "set")
        subprocess.run(["ewfacquire", "-u", "-c", "none", "-S", "1MiB", "-t", base, fixture("demo")], check=True,
                       capture_output=True, stdin=subprocess.DEVNULL)
        segments = sorted(n for n in os.listdir(self.tmp) if n.startswith("set.E"))
        self.assertGreater(len(segments), 3)
        self.assertEqual(self.scan(base + ".E01"), self.scan(fixture("demo")))
        self.assertEqual(self.restore(base + ".E01"), self.restore(fixture("demo")))

    def test_renamed_vmdks_open(self):
        if not shutil.which("qemu-img"):
            self.skipTest("qemu-img (qemu-utils) is missing")
        raw = self.scan(fixture("demo"))
        made = os.path.join(self.tmp, "made")
        os.mkdir(made)
        for subformat, files in (("monolithicSparse", {"disk.vmdk": "evidence.vmdk"}),
                                 ("monolithicFlat", {"disk.vmdk": "evidence.vmdk", "disk-flat.vmdk": "evidence-flat.vmdk"})):
            with self.subTest(subformat):
                subprocess.run(["qemu-img", "convert", "-O", "vmdk", "-o", f"subformat={subformat}", fixture("demo"),
                                os.path.join(made, "disk.vmdk")], check=True, capture_output=True)
                # Moved into a folder of its own under another name: the old names are nowhere.
                moved = os.path.join(self.tmp, subformat)
                os.mkdir(moved)
                for old, new in files.items():
                    os.rename(os.path.join(made, old), os.path.join(moved, new))
                self.assertEqual(self.scan(os.path.join(moved, "evidence.vmdk")), raw)
        self.assertEqual([n for n in os.listdir(tempfile.gettempdir()) if n.startswith("orvandel-vmdk")], [],
                         "the links made to open them are removed again")


class EarlierFileSystemElsewhere(DiskCase):
    def test_earlier_mft_at_an_odd_sector_is_found_and_restored(self):
        """A disk partitioned anew: the earlier volume began 9 MiB and 3 sectors into the new one,
        so its $MFT lies on no cluster boundary of the new volume, only on a sector boundary. Both
        reaches of the Extended scan find its files, and they restore from its own cluster 0."""
        if not shutil.which("mkntfs"):
            self.skipTest("mkntfs (ntfs-3g) is missing: run tools/setup.sh")
        path = os.path.join(self.tmp, "anew.img")
        with open(fixture("ntfs-c4096"), "rb") as f:
            earlier = f.read()
        with open(path, "wb") as f:
            f.truncate(32 << 20)
            f.seek((9 << 20) + 3 * 512)
            f.write(earlier)
        subprocess.run(["mkntfs", "-Q", "-F", "-q", "-c", "4096", path], check=True, capture_output=True)
        before = self.restore(fixture("ntfs-c4096"))
        self.assertGreater(len(before), 20)
        self.assertEqual([f for f in self.scan(path)], [], "the new volume has no deleted files of its own")
        for reach in ((), ("--sweep",)):
            with self.subTest(reach=reach):
                listed = {(f["folder"], f["name"]) for f in self.scan(path, "--extended", *reach)}
                self.assertTrue({(folder, name) for folder, name, _, _ in before} <= listed)
                restored = [r for r in self.restore(path, "--extended", *reach) if (r[0], r[1]) in
                            {(folder, name) for folder, name, _, _ in before}]
                self.assertEqual(restored, before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
