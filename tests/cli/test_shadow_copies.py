#!/usr/bin/env python3
"""Volume Shadow Copies through orvandel-cli, on two Windows-made disks: one whose single copy holds
an older version of test.txt, one whose two copies keep their data on another partition. What is
listed and restored is compared with vshadowinfo, and with icat through vshadowmount where FUSE
works; copies of the first disk with damaged catalogues and store headers must never take the
live listing down.

Environment: ORV_CLI (the binary), ORV_SHADOW_DISKS (the unpacked disks). Without the disks every
test skips; without libvshadow-utils, sleuthkit or FUSE the peer comparisons skip."""

import hashlib
import json
import os
import random
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

from cli_case import CLI, CliCase
DISKS = os.environ.get("ORV_SHADOW_DISKS", "build/shadow-copies")
ONE_COPY = os.path.join(DISKS, "vss_2_stor.raw")
ELSEWHERE = os.path.join(DISKS, "vss_3_volstor.raw")
ONE_COPY_PARTITION = 34603008  # byte offset of the NTFS partition
ELSEWHERE_PARTITION = 2148532224
COPY_FOLDER = "C:\\Shadow copy 1 (2021-03-10 22:44)\\"
# test.txt as the copy holds it (703800 bytes of "2"), as icat reads it through vshadowmount.
OLDER_TEST_TXT = "e4e7178d9a67cc36d9b12b7b36ebc584c80781ef5619995c138a64c20ae00b4a"


def have(tool):
    return shutil.which(tool) is not None


@unittest.skipUnless(os.path.exists(ONE_COPY) and os.path.exists(ELSEWHERE), "shadow-copy disks not unpacked")
class ShadowCase(CliCase):
    prefix = "orv-shadow-"  # TZ=UTC (CliCase): the copies' folders carry their local creation time
    timeout = 120

    def scan(self, disk, *extra):
        return self.scan_json(disk, *extra)["files"]


class OneCopyInTheVolume(ShadowCase):
    def test_info_lists_the_copy_as_vshadowinfo_does(self):
        info = json.loads(self.run_cli("info", ONE_COPY, "--json").stdout)
        self.assertEqual(info["shadow_copies"], [{"number": 1, "creation_time": "2021-03-10T22:44:00Z",
                                                  "identifier": "bbaa7659-8204-11eb-90f4-080027768df7",
                                                  "readable": True}])
        text = self.run_cli("info", ONE_COPY).stdout
        self.assertIn("shadow_copy: 1 2021-03-10T22:44:00Z bbaa7659-8204-11eb-90f4-080027768df7\n", text)
        if not have("vshadowinfo"):
            self.skipTest("vshadowinfo is not installed")
        peer = subprocess.run(["vshadowinfo", "-o", str(ONE_COPY_PARTITION), ONE_COPY], capture_output=True,
                              text=True, check=True).stdout
        self.assertEqual(re.findall(r"Identifier\s*:\s*(\S+)", peer), ["bbaa7659-8204-11eb-90f4-080027768df7"])
        self.assertIn("Mar 10, 2021 22:44:00", peer)

    def test_scan_lists_the_older_version_under_the_copy_and_leaves_it_out_on_request(self):
        files = self.scan(ONE_COPY)
        older = [f for f in files if f["folder"] == COPY_FOLDER and f["name"] == "test.txt"]
        self.assertEqual(len(older), 1, files)
        self.assertEqual(older[0]["size"], 703800)  # the live test.txt has 7700 bytes
        self.assertEqual(older[0]["shadow_copy"], 1)
        self.assertEqual(older[0]["recoverability"], "Good")
        # Every listed file is the copy's; the live volume itself has no deleted file.
        self.assertTrue(all(f["folder"].startswith(COPY_FOLDER) and f["shadow_copy"] == 1 for f in files))
        self.assertEqual(self.scan(ONE_COPY, "--no-shadow-copies"), [])
        # A mask applies inside the copies too.
        self.assertEqual([f["name"] for f in self.scan(ONE_COPY, "--mask", "*.txt")], ["test.txt"])
        # The Extended scan lists the copies as the Normal scan does.
        extended = self.scan(ONE_COPY, "--extended")
        self.assertIn(("test.txt", 703800), [(f["name"], f["size"]) for f in extended if "shadow_copy" in f])

    def test_restore_writes_the_copys_bytes(self):
        to = os.path.join(self.tmp, "out")
        result = self.run_cli("restore", ONE_COPY, "--to", to, "--folder", COPY_FOLDER, "--name", "test.txt",
                              "--json", "--quiet")
        self.assertEqual(result.returncode, 0, result.stderr)
        report = json.loads(result.stdout)
        self.assertEqual([(r["status"], r["sha256"], r["shadow_copy"]) for r in report],
                         [("restored", OLDER_TEST_TXT, 1)])
        with open(os.path.join(to, "test.txt"), "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).hexdigest(), OLDER_TEST_TXT)

    def test_wipe_refuses_a_copys_file_and_writes_nothing(self):
        disk = os.path.join(self.tmp, "wipe.raw")
        subprocess.run(["cp", "--sparse=always", ONE_COPY, disk], check=True)
        result = self.run_cli("wipe", disk, "--folder", COPY_FOLDER, "--name", "test.txt", "--yes")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("test.txt: Files of a shadow copy cannot be wiped: a shadow copy is only ever read.",
                      result.stderr)
        self.assertIn("0 file(s) wiped", result.stdout)
        # The $MFT, where a wipe writes, is as it was.
        mft = ONE_COPY_PARTITION + 262144 * 4096
        with open(disk, "rb") as wiped, open(ONE_COPY, "rb") as original:
            wiped.seek(mft)
            original.seek(mft)
            self.assertEqual(wiped.read(64 * 4096), original.read(64 * 4096))

    def test_every_restored_file_is_what_icat_reads_through_vshadowmount(self):
        if not (have("vshadowmount") and have("fls") and have("icat") and os.path.exists("/dev/fuse")):
            self.skipTest("needs vshadowmount, The Sleuth Kit and FUSE")
        mount = os.path.join(self.tmp, "vss")
        os.mkdir(mount)
        mounted = subprocess.run(["vshadowmount", "-o", str(ONE_COPY_PARTITION), ONE_COPY, mount],
                                 capture_output=True, text=True)
        if mounted.returncode != 0:
            self.skipTest(f"vshadowmount cannot mount here: {mounted.stderr.strip()}")
        try:
            store = os.path.join(mount, "vss1")
            # path -> the inodes The Sleuth Kit finds for it in the copy (live and deleted)
            inodes = {}
            for line in subprocess.run(["fls", "-rp", store], capture_output=True, text=True, check=True).stdout.splitlines():
                kind, path = line.split("\t", 1)
                inodes.setdefault(path.replace("/", "\\"), []).append(kind.split()[-1].rstrip(":").split("-")[0])
            to = os.path.join(self.tmp, "out")
            result = self.run_cli("restore", ONE_COPY, "--to", to, "--keep-paths", "--json", "--quiet")
            self.assertEqual(result.returncode, 0, result.stderr)
            report = json.loads(result.stdout)
            self.assertGreaterEqual(len(report), 3)
            for entry in report:
                inside = entry["folder"][len(COPY_FOLDER):] + entry["name"]
                self.assertIn(inside, inodes, f"{inside} is not in the copy as fls sees it")
                peers = {hashlib.sha256(subprocess.run(["icat", store, inode], capture_output=True,
                                                       check=True).stdout).hexdigest() for inode in inodes[inside]}
                self.assertIn(entry["sha256"], peers, inside)
        finally:
            subprocess.run(["fusermount", "-u", mount], capture_output=True)


class SeveralCopies(ShadowCase):
    def test_copies_are_numbered_from_the_oldest_as_vshadowinfo_lists_them(self):
        # The disk's catalogue rewritten to name its one store six times, an hour apart and newest
        # first: six copies of one state, each read through the same store.
        disk = os.path.join(self.tmp, "six.raw")
        subprocess.run(["cp", "--sparse=always", ONE_COPY, disk], check=True)
        with open(disk, "r+b") as f:
            f.seek(ONE_COPY_PARTITION + 0x1E00 + 48)
            catalogue = ONE_COPY_PARTITION + struct.unpack("<Q", f.read(8))[0]
            f.seek(catalogue)
            block = f.read(16384)
            entries = bytearray(block[:128])
            for i in reversed(range(6)):
                info, place = bytearray(block[128:256]), bytearray(block[256:384])
                info[16] = place[16] = (info[16] + i) & 0xFF
                struct.pack_into("<Q", info, 48, struct.unpack_from("<Q", info, 48)[0] + i * 36_000_000_000)
                entries += info + place
            f.seek(catalogue)
            f.write(bytes(entries) + bytes(16384 - len(entries)))
        info = json.loads(self.run_cli("info", disk, "--json").stdout)["shadow_copies"]
        self.assertEqual([(c["number"], c["creation_time"]) for c in info],
                         [(n + 1, f"2021-03-{10 + (22 + n) // 24:02}T{(22 + n) % 24:02}:44:00Z") for n in range(6)])
        if have("vshadowinfo"):
            peer = subprocess.run(["vshadowinfo", "-o", str(ONE_COPY_PARTITION), disk], capture_output=True,
                                  text=True, check=True).stdout
            self.assertEqual(sorted(re.findall(r"Identifier\s*:\s*(\S+)", peer)),
                             sorted(c["identifier"] for c in info))
        files = self.scan(disk)
        self.assertEqual(sorted({f["shadow_copy"] for f in files}), [1, 2, 3, 4, 5, 6])
        # Every copy lists the same files, in its own folder.
        per_copy = [sorted((f["folder"].split("\\", 2)[2], f["name"], f["size"]) for f in files
                           if f["shadow_copy"] == n) for n in range(1, 7)]
        self.assertTrue(per_copy[0])
        self.assertTrue(all(listing == per_copy[0] for listing in per_copy))


class LiveChangesAfterTheCopy(ShadowCase):
    def test_files_the_copy_holds_as_the_live_volume_does_are_not_listed_again(self):
        # Files written and deleted on the live volume through ntfs-3g after the copy was made: the
        # store keeps none of their blocks, so the copy reads them as the live volume holds them.
        # The live scan lists the deleted ones; the copy must not list them a second time.
        if os.geteuid() != 0 or not all(have(t) for t in ("losetup", "ntfs-3g", "umount")):
            self.skipTest("needs root, losetup and ntfs-3g")
        disk = os.path.join(self.tmp, "changed.raw")
        subprocess.run(["cp", "--sparse=always", ONE_COPY, disk], check=True)
        loop = subprocess.run(["losetup", "-f", "--show", "-o", str(ONE_COPY_PARTITION), "--sizelimit",
                               "5333057536", disk], capture_output=True, text=True)
        if loop.returncode != 0:
            self.skipTest(f"no loop device: {loop.stderr.strip()}")
        device = loop.stdout.strip()
        mount = os.path.join(self.tmp, "live")
        os.mkdir(mount)
        try:
            if subprocess.run(["ntfs-3g", device, mount], capture_output=True).returncode != 0:
                self.skipTest("ntfs-3g cannot mount here")
            try:
                # In the root folder, which the copy holds too: files in a folder the copy does not
                # hold have no path there.
                for i in range(60):
                    with open(os.path.join(mount, f"n{i:02}.txt"), "wb") as f:
                        f.write(bytes([65 + i % 26]) * (2000 + i))
                for i in range(0, 60, 2):
                    os.unlink(os.path.join(mount, f"n{i:02}.txt"))
            finally:
                subprocess.run(["umount", mount], check=True)
        finally:
            subprocess.run(["losetup", "-d", device], check=True)
        live = self.scan(disk, "--no-shadow-copies")
        self.assertEqual(sorted(f["name"] for f in live), [f"n{i:02}.txt" for i in range(0, 60, 2)])
        files = self.scan(disk)
        self.assertEqual([f for f in files if "shadow_copy" not in f], live)
        in_copy = [f for f in files if "shadow_copy" in f]
        self.assertEqual([f["name"] for f in in_copy if f["name"].startswith("n")], [])
        self.assertIn(("test.txt", 703800), [(f["name"], f["size"]) for f in in_copy])


class CopiesOnAnotherVolume(ShadowCase):
    def test_live_listing_as_before_a_note_and_exit_0(self):
        result = self.run_cli("scan", ELSEWHERE, "--partition", "2", "--json")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr.count("2 shadow copies of the drive keep their data on another drive"), 1,
                         result.stderr)
        self.assertEqual(json.loads(result.stdout)["files"], self.scan(ELSEWHERE, "--partition", "2",
                                                                       "--no-shadow-copies"))
        info = json.loads(self.run_cli("info", ELSEWHERE, "--partition", "2", "--json").stdout)
        self.assertEqual([(c["number"], c["readable"]) for c in info["shadow_copies"]], [(1, False), (2, False)])
        self.assertEqual([c["identifier"] for c in info["shadow_copies"]],
                         ["9b2ae2cc-8461-11eb-90f8-080027768df7", "9b2ae2cf-8461-11eb-90f8-080027768df7"])
        # The partition that holds the copies' data has no copies of its own.
        self.assertEqual(json.loads(self.run_cli("info", ELSEWHERE, "--partition", "1", "--json").stdout)
                         ["shadow_copies"], [])


def shadow_structures(disk, partition):
    """(offset, length) of the catalogue's header, its first block and each store's header, block
    list, block range list and bitmap, as byte offsets in the disk."""
    with open(disk, "rb") as f:
        f.seek(partition + 0x1E00)
        header = f.read(512)
        catalogue = struct.unpack_from("<Q", header, 48)[0]
        f.seek(partition + catalogue)
        block = f.read(16384)
    places = [(partition + 0x1E00, 128), (partition + catalogue, 1024)]
    for entry in range(1, 128):
        fields = block[128 * entry:128 * entry + 128]
        if struct.unpack_from("<Q", fields, 0)[0] != 3:
            continue
        block_list, = struct.unpack_from("<Q", fields, 8)
        store_header, range_list, bitmap = struct.unpack_from("<QQQ", fields, 32)
        for offset in (store_header, block_list, range_list, bitmap):
            places.append((partition + offset, 512))
    return places


class DamagedStores(ShadowCase):
    # Each case changes a few bytes of one structure; a run may list less from the copies, but must
    # finish, exit 0 and list the live volume as it is.
    RUNS = int(os.environ.get("ORV_SHADOW_FUZZ_RUNS", "40"))

    def test_damaged_catalogues_and_store_headers(self):
        disk = os.path.join(self.tmp, "damaged.raw")
        subprocess.run(["cp", "--sparse=always", ONE_COPY, disk], check=True)
        places = shadow_structures(disk, ONE_COPY_PARTITION)
        self.assertGreaterEqual(len(places), 6)
        live = self.scan(disk, "--no-shadow-copies")
        rng = random.Random(26)
        outcomes = {"copy listed": 0, "copy lost": 0}
        with open(disk, "r+b") as f:
            for run in range(self.RUNS):
                start, length = rng.choice(places)
                changes = []
                for _ in range(rng.randint(1, 8)):
                    at = start + rng.randrange(length)
                    f.seek(at)
                    changes.append((at, f.read(1)))
                    f.seek(at)
                    f.write(bytes([rng.choice([0, 0xFF, rng.randrange(256)])]))
                f.flush()
                with self.subTest(run=run, place=hex(start)):
                    result = self.run_cli("scan", disk, "--json", timeout=120)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    files = json.loads(result.stdout)["files"]
                    self.assertEqual([f for f in files if "shadow_copy" not in f], live)
                    outcomes["copy listed" if any("shadow_copy" in f for f in files) else "copy lost"] += 1
                for at, old in reversed(changes):
                    f.seek(at)
                    f.write(old)
                f.flush()
        print(f"\n{self.RUNS} damaged disks: {outcomes}")


if __name__ == "__main__":
    unittest.main(verbosity=2)
