#!/usr/bin/env python3
"""orvandel-cli as a script sees it: the JSON contract, exit statuses and messages, and damaged
images that must end with a message, never a crash or a hang.

Environment: ORV_CLI (the binary), ORV_FIXTURES (the unpacked fixture images)."""

import json
import os
import pty
import random
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

CLI = os.environ.get("ORV_CLI", "build/cli/orvandel-cli")
FIXTURES = os.environ.get("ORV_FIXTURES", "build/fixtures")
IMAGE = os.path.join(FIXTURES, "ntfs-c4096.img")


class CliCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="orv-cli-")
        # An empty configuration: no drive map file of the user's leaks into the tests.
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"), TZ="UTC")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def run_cli(self, *args, timeout=20):
        result = subprocess.run([CLI, *args], capture_output=True, text=True, env=self.env, timeout=timeout)
        self.assertGreaterEqual(result.returncode, 0, f"killed by a signal: {result.stderr}")
        for marker in ("runtime error", "AddressSanitizer", "LeakSanitizer"):
            self.assertNotIn(marker, result.stderr)
        return result

    def image_copy(self, keep=None):
        path = os.path.join(self.tmp, f"copy-{keep}.img")
        shutil.copyfile(IMAGE, path)
        if keep is not None:
            os.truncate(path, keep)
        return path


class Contract(CliCase):
    def test_info_json_has_exactly_the_agreed_keys(self):
        result = self.run_cli("info", IMAGE, "--json")
        self.assertEqual(result.returncode, 0, result.stderr)
        info = json.loads(result.stdout)
        self.assertEqual(list(info), ["drive", "file_system", "bytes_per_sector", "sectors_per_cluster",
                                      "bytes_per_cluster", "total_sectors", "total_clusters", "mft_start_cluster",
                                      "mft_record_size", "mft_extents", "shadow_copies"])
        self.assertEqual(info["shadow_copies"], [])
        self.assertEqual(info["drive"], "C:")
        self.assertEqual(info["file_system"], "NTFS")
        self.assertEqual(info["mft_extents"], [{"start": 4, "length": 31}])

    def test_drive_option_names_the_letter(self):
        info = json.loads(self.run_cli("info", IMAGE, "--json", "--drive", "k:").stdout)
        self.assertEqual(info["drive"], "K:")

    def test_record_json_has_exactly_the_agreed_keys(self):
        result = self.run_cli("record", IMAGE, "79", "--json")
        self.assertEqual(result.returncode, 0, result.stderr)
        record = json.loads(result.stdout)
        self.assertEqual(list(record), ["number", "in_use", "is_directory", "name", "parent", "size", "resident",
                                        "runs", "created"])
        self.assertEqual(record["name"], "frag-deleted.bin")
        self.assertFalse(record["in_use"])
        self.assertEqual(record["runs"], [{"cluster": c, "count": 2} for c in (231, 235, 239, 243)])
        self.assertRegex(record["created"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$")

    def test_drive_map_file_letters_are_sources(self):
        config = os.path.join(self.tmp, "config", "Orvandel")
        os.makedirs(config)
        with open(os.path.join(config, "drives"), "w") as f:
            f.write(f"E: {IMAGE}\n")
        drives = json.loads(self.run_cli("drives", "--json").stdout)
        self.assertIn({"letter": "E:", "source": IMAGE, "type": "fixed", "file_system": 64}, drives)
        info = json.loads(self.run_cli("info", "E:", "--json").stdout)
        self.assertEqual(info["drive"], "E:")
        self.assertEqual(info["mft_start_cluster"], 4)


def manifest(name):
    rows = []
    with open(os.path.join(FIXTURES, name + ".manifest.tsv"), encoding="utf-8") as f:
        next(f)
        for line in f:
            path, kind, size, sha256, state, record = line.rstrip("\n").split("\t")
            rows.append({"path": path, "kind": kind, "size": int(size), "sha256": sha256, "state": state,
                         "record": int(record)})
    return rows


def place(path):
    """Folder and name as the scans file a manifest path."""
    folder, _, name = path.rpartition("/")
    return "C:\\" + (folder.replace("/", "\\") + "\\" if folder else ""), name


def without_number(name):
    return re.sub(r"\(\d+\)$", "", name)


class Scan(CliCase):
    FILE_KEYS = ["folder", "name", "record_offset", "date", "time", "created", "size", "resident", "recoverability"]

    def scan(self, image, *args):
        result = self.run_cli("scan", image, "--json", *args, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        return json.loads(result.stdout)

    def test_normal_scan_json_lists_the_deleted_files(self):
        out = self.scan(IMAGE)
        self.assertEqual(list(out), ["drive", "mode", "mask", "records_examined", "files_found", "files"])
        self.assertEqual((out["drive"], out["mode"], out["mask"]), ("C:", "normal", "*.*"))
        self.assertEqual(out["files_found"], len(out["files"]))
        for f in out["files"]:
            # A file with named streams, or one out of the Recycle Bin, says so after these.
            self.assertEqual(list(f)[:len(self.FILE_KEYS)], self.FILE_KEYS)
            self.assertLessEqual(set(list(f)[len(self.FILE_KEYS):]), {"streams", "recycle_bin"})
            self.assertRegex(f["created"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$")
            self.assertIsInstance(f["record_offset"], int)
        listed = {(f["folder"], f["name"]): f["size"] for f in out["files"]}
        expected = {place(r["path"]): r["size"] for r in manifest("ntfs-c4096")
                    if r["kind"] == "file" and r["state"] != "kept"}
        self.assertEqual(listed, expected)
        # Small contents live inside their record; 1,024-byte records hold up to a few hundred bytes.
        self.assertTrue(all(f["resident"] == (f["size"] < 600) for f in out["files"]))

    def test_mask_and_nothing_found(self):
        out = self.scan(IMAGE, "--mask", "*.BIN")
        self.assertTrue(out["files"])
        self.assertTrue(all(f["name"].endswith(".bin") for f in out["files"]))
        self.assertEqual(out["mask"], "*.BIN")

        text = self.run_cli("scan", IMAGE, "--mask", "*.nothing")
        self.assertEqual((text.returncode, text.stdout), (0, "Found 0 deleted files on this drive!\n"))
        out = self.scan(IMAGE, "--mask", "*.nothing")
        self.assertEqual((out["files_found"], out["files"]), (0, []))

    def test_bad_mask_is_a_usage_error(self):
        result = self.run_cli("scan", IMAGE, "--mask", "[abc")
        self.assertEqual(result.returncode, 2)
        self.assertIn("not valid", result.stderr)

    def test_extended_scan_numbers_repeats(self):
        out = self.scan(os.path.join(FIXTURES, "ntfs-c512.img"), "--extended")
        self.assertEqual(out["mode"], "extended")
        found = {(f["folder"], without_number(f["name"])) for f in out["files"]}
        for r in manifest("ntfs-c512"):
            if r["kind"] == "file" and r["state"] != "kept":
                self.assertIn(place(r["path"]), found)

    def test_extended_scan_finds_the_files_of_an_earlier_file_system(self):
        if not shutil.which("mkntfs"):
            self.skipTest("mkntfs (ntfs-3g) is not installed")
        path = os.path.join(self.tmp, "formatted.img")
        shutil.copyfile(os.path.join(FIXTURES, "ntfs-c512.img"), path)
        subprocess.run(["mkntfs", "-F", "-Q", "-q", "-c", "512", path], check=True, capture_output=True)
        self.assertEqual(self.scan(path)["files_found"], 0, "the new file system has no deleted files")
        out = self.scan(path, "--extended")
        found = {(f["folder"], without_number(f["name"])) for f in out["files"]}
        earlier = [r for r in manifest("ntfs-c512") if r["kind"] == "file"]
        missing = [r["path"] for r in earlier if place(r["path"]) not in found]
        self.assertEqual(missing, [], "kept and deleted files of the earlier file system alike")


    def test_text_listing_escapes_control_characters_in_names(self):
        # A name from the volume may hold a terminal's escape sequences or a line feed: the text
        # listing must neither pass them to the terminal nor let them forge a line.
        tools = [shutil.which(t) for t in ("mkntfs", "ntfs-3g", "umount")]
        if not all(tools) or os.geteuid() != 0:
            self.skipTest("needs mkntfs, ntfs-3g and root to mount")
        path, mount = os.path.join(self.tmp, "names.img"), os.path.join(self.tmp, "mnt")
        os.mkdir(mount)
        with open(path, "wb") as f:
            f.truncate(16 << 20)
        subprocess.run(["mkntfs", "-F", "-f", "-q", path], check=True, capture_output=True)
        evil = "evil\x1b[2J\x9b1m\nC:\\forged.txt\t1\t01-01-70 00:00:00.txt"
        proc = subprocess.Popen(["ntfs-3g", "-o", "no_detach", path, mount], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        try:
            for _ in range(100):
                if os.path.ismount(mount):
                    break
                time.sleep(0.05)
            with open(os.path.join(mount, evil), "wb") as f:
                f.write(b"x" * 3000)
            os.remove(os.path.join(mount, evil))
        finally:
            subprocess.run(["umount", mount], check=True, capture_output=True)
            proc.wait(timeout=30)
        out = subprocess.run([CLI, "scan", path], capture_output=True, check=True).stdout
        self.assertNotIn(b"\x1b", out)
        self.assertNotIn("\x9b".encode(), out)
        lines = out.decode().splitlines()
        self.assertEqual(len(lines), 2, lines)
        self.assertTrue(lines[0].startswith("C:\\evil\\x1b[2J\\x9b1m\\x0aC:\\forged.txt\\x091\\x0901-01-70"), lines[0])
        # JSON keeps the name exactly, escaped the JSON way.
        listed = json.loads(subprocess.run([CLI, "scan", path, "--json"], capture_output=True, check=True).stdout)
        self.assertEqual([f["name"] for f in listed["files"]], [evil])

    def test_json_of_thousands_of_files_lists_what_the_text_lists(self):
        # Thousands of deleted files in several folders: the scans examine the $MFT in several
        # pieces on several threads, and the JSON is made in parts of whole folders. Both must
        # list every file once, in the order the text listing gives.
        tools = [shutil.which(t) for t in ("mkntfs", "ntfs-3g", "umount")]
        if not all(tools) or os.geteuid() != 0:
            self.skipTest("needs mkntfs, ntfs-3g and root to mount")
        path, mount = os.path.join(self.tmp, "many.img"), os.path.join(self.tmp, "mnt")
        with open(path, "wb") as f:
            f.truncate(64 << 20)
        subprocess.run(["mkntfs", "-F", "-Q", "-q", "-c", "4096", path], check=True, capture_output=True)
        sizes = {"a": 2500, "b": 3000, "c": 1, "d": 2600}  # files per folder; parts hold 4,096 and up
        with Mounted(path, mount, False):
            for folder, count in sizes.items():
                os.mkdir(os.path.join(mount, folder))
                for i in range(count):
                    with open(os.path.join(mount, folder, f"f{i}.txt"), "w") as f:
                        f.write(f"{folder} {i}")
            for folder in sizes:
                for i in range(sizes[folder]):
                    os.remove(os.path.join(mount, folder, f"f{i}.txt"))
        for mode in ([], ["--extended"]):
            text = self.run_cli("scan", path, *mode, timeout=120)
            self.assertEqual(text.returncode, 0, text.stderr)
            lines = text.stdout.splitlines()
            self.assertEqual(lines[-1], f"{sum(sizes.values())} deleted file(s) found.")
            out = self.scan(path, *mode)
            self.assertEqual(out["files_found"], sum(sizes.values()))
            listed = [f["folder"] + f["name"] for f in out["files"]]
            self.assertEqual(listed, [line.split("\t")[0] for line in lines[:-1]], mode)
            self.assertEqual(len(set(listed)), len(listed))

    def test_extended_scan_after_a_quick_format_that_wrote_new_files(self):
        # The new $MFT is extended over the earlier one as new files arrive, and the records it has
        # not given out yet still hold earlier files, flagged in use by the earlier file system.
        tools = [shutil.which(t) for t in ("mkntfs", "ntfs-3g", "umount")]
        if not all(tools) or os.geteuid() != 0:
            self.skipTest("needs mkntfs, ntfs-3g and root to mount")
        path, mount = os.path.join(self.tmp, "reused.img"), os.path.join(self.tmp, "mnt")
        os.mkdir(mount)
        with open(path, "wb") as f:
            f.truncate(16 << 20)

        def session(names, delete=()):
            subprocess.run(["ntfs-3g", path, mount], check=True, capture_output=True)
            try:
                for name in names:
                    os.makedirs(os.path.dirname(os.path.join(mount, name)), exist_ok=True)
                    with open(os.path.join(mount, name), "wb") as f:
                        f.write(os.urandom(1500))
                for name in delete:
                    os.remove(os.path.join(mount, name))
            finally:
                subprocess.run(["umount", mount], check=True, capture_output=True)

        # The earlier folder's record lies past the records the new file system gives out.
        subprocess.run(["mkntfs", "-F", "-f", "-q", path], check=True, capture_output=True)
        earlier = [f"old/early{i}.dat" for i in range(50)]
        session([f"filler{i}.dat" for i in range(20)] + earlier)
        subprocess.run(["mkntfs", "-F", "-Q", "-q", path], check=True, capture_output=True)
        session([f"late{i}.dat" for i in range(5)], delete=["late1.dat", "late3.dat"])

        normal = self.scan(path)
        extended = self.scan(path, "--extended")
        listed = [(f["folder"], f["name"]) for f in extended["files"]]
        self.assertEqual(len(listed), len(set(listed)))
        self.assertFalse([name for _, name in listed if re.search(r"\(\d+\)$", name)], "no record is read twice")
        self.assertLessEqual({(f["folder"], f["name"]) for f in normal["files"]}, set(listed))
        found = [p for p in earlier if place(p) in set(listed)]
        # Every earlier file is found under its folder, also where the new $MFT now lies.
        self.assertEqual(len(found), len(earlier), sorted(set(earlier) - set(found)))


class RestoreAndWipe(CliCase):
    def test_restore_keeps_paths_and_every_byte(self):
        out_dir = os.path.join(self.tmp, "restored")
        result = self.run_cli("restore", IMAGE, "--to", out_dir, "--keep-paths", "--json", timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        report = json.loads(result.stdout)
        expected = {place(r["path"]): r for r in manifest("ntfs-c4096") if r["kind"] == "file" and r["state"] != "kept"}
        self.assertEqual({(f["folder"], f["name"]) for f in report}, set(expected))
        for f in report:
            row = expected[(f["folder"], f["name"])]
            self.assertEqual(list(f), ["folder", "name", "path", "size", "status", "reason", "sha256"])
            if row["size"] == 0:
                self.assertEqual(f["status"], "skipped")
                continue
            self.assertEqual(f["status"], "restored", f)
            self.assertTrue(f["path"].startswith(out_dir + "/"))
            self.assertEqual(os.path.relpath(f["path"], out_dir), row["path"])
            if row["state"] == "deleted":
                self.assertEqual(f["sha256"], row["sha256"], row["path"])
        self.assertIn(f"{sum(1 for f in report if f['status'] == 'restored')} file(s) restored!", result.stderr)

    def test_restore_one_named_file_flat(self):
        out_dir = os.path.join(self.tmp, "flat")
        result = self.run_cli("restore", IMAGE, "--to", out_dir, "--folder", "c:\\docs\\projects\\",
                              "--name", "FRAG-DELETED.BIN")
        self.assertEqual((result.returncode, result.stdout), (0, "1 file(s) restored!\n"), result.stderr)
        self.assertEqual(os.listdir(out_dir), ["frag-deleted.bin"])
        self.assertEqual(self.run_cli("restore", IMAGE, "--to", out_dir, "--name", "x").returncode, 2)

    def test_restore_does_not_follow_a_link_in_the_restore_folder_and_its_failures_fail_the_run(self):
        out_dir, elsewhere = os.path.join(self.tmp, "out"), os.path.join(self.tmp, "elsewhere")
        os.makedirs(out_dir)
        os.makedirs(elsewhere)
        os.symlink(elsewhere, os.path.join(out_dir, "Docs"))
        result = self.run_cli("restore", IMAGE, "--to", out_dir, "--keep-paths", "--json", "--quiet", timeout=120)
        self.assertEqual(os.listdir(elsewhere), [])
        self.assertTrue(os.path.isfile(os.path.join(out_dir, "Old", "a.txt")))
        report = json.loads(result.stdout)
        failed = {f["folder"] for f in report if f["status"] == "failed"}
        self.assertTrue(failed and all(folder.startswith("C:\\Docs\\") for folder in failed), failed)
        self.assertEqual(result.returncode, 1, "a file that failed fails the run")

        # Only the files whose folder is the link: all of them fail, and so does the run.
        result = self.run_cli("restore", IMAGE, "--to", out_dir, "--folder", "C:\\Docs\\", "--keep-paths")
        self.assertEqual((result.returncode, result.stdout), (1, "0 file(s) restored!\n"), result.stderr)
        self.assertEqual(os.listdir(elsewhere), [])

    def test_wipe_changes_one_record_and_the_file_is_gone_for_every_tool(self):
        path = self.image_copy()
        with open(path, "rb") as f:
            before = f.read()
        args = ["wipe", path, "--folder", "C:\\Docs\\Projects\\", "--name", "old-plan.txt"]
        self.assertEqual(self.run_cli(*args).returncode, 2, "refused without --yes")
        result = self.run_cli(*args, "--yes")
        self.assertEqual((result.returncode, result.stdout), (0, "1 file(s) wiped!\n"), result.stderr)
        with open(path, "rb") as f:
            after = f.read()
        changed = [i for i in range(len(before)) if before[i] != after[i]]
        self.assertTrue(changed)
        self.assertLess(changed[-1] - changed[0], 1024)
        self.assertTrue(all(after[i] == 0 for i in changed))
        names = {f["name"] for f in json.loads(self.run_cli("scan", path, "--json").stdout)["files"]}
        self.assertNotIn("old-plan.txt", names)
        self.assertIn("minutes.txt", names)
        for tool in (["fls", "-rd", path], ["ntfsundelete", "--scan", path]):
            if shutil.which(tool[0]):
                listing = subprocess.run(tool, capture_output=True, text=True).stdout
                self.assertNotIn("old-plan.txt", listing, tool[0])
                self.assertIn("minutes.txt", listing, tool[0])


def can_mount():
    return os.geteuid() == 0 and os.path.exists("/dev/fuse") and shutil.which("ntfs-3g") and shutil.which("losetup")


class Mounted:
    """The image mounted by ntfs-3g while the block runs: from the file itself, or through a loop
    device that is detached again at the end."""

    def __init__(self, image, at, via_loop, *options):
        self.image, self.at, self.via_loop, self.options, self.loop = image, at, via_loop, list(options), None

    def __enter__(self):
        os.makedirs(self.at, exist_ok=True)
        source = self.image
        if self.via_loop:
            self.loop = subprocess.run(["losetup", "-f", "--show", self.image], capture_output=True, text=True,
                                       check=True).stdout.strip()
            source = self.loop
        subprocess.run(["ntfs-3g", *self.options, source, self.at], check=True, capture_output=True)
        return self

    def __exit__(self, *_):
        subprocess.run(["umount", self.at], check=True)
        if self.loop:
            subprocess.run(["losetup", "-d", self.loop], check=True)


def sha256_of(path):
    import hashlib
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class Safety(CliCase):
    def test_flat_restore_of_the_demo_volume_keeps_every_file(self):
        # Two folders hold a deductions.xlsx: flat, the second gets " (1)" instead of replacing the first.
        out_dir = os.path.join(self.tmp, "demo")
        result = self.run_cli("restore", os.path.join(FIXTURES, "demo.img"), "--to", out_dir, "--json", timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        report = json.loads(result.stdout)
        deleted = [r for r in manifest("demo") if r["kind"] == "file" and r["state"] == "deleted"]
        self.assertEqual(len(report), len(deleted))
        self.assertEqual({f["status"] for f in report}, {"restored"})
        self.assertEqual(len(os.listdir(out_dir)), len(deleted), "as many distinct files as were deleted")
        self.assertEqual(sorted(sha256_of(f["path"]) for f in report), sorted(r["sha256"] for r in deleted))

    def test_folder_with_or_without_its_closing_backslash(self):
        for folder in ("c:\\docs\\projects\\", "c:\\docs\\projects"):
            with self.subTest(folder=folder):
                out_dir = os.path.join(self.tmp, "out" + str(len(folder)))
                result = self.run_cli("restore", IMAGE, "--to", out_dir, "--folder", folder, "--name", "old-plan.txt")
                self.assertEqual((result.returncode, result.stdout), (0, "1 file(s) restored!\n"), result.stderr)
                self.assertEqual(os.listdir(out_dir), ["old-plan.txt"])

    def test_restore_with_nothing_found_says_so_and_succeeds(self):
        path = self.image_copy()
        subprocess.run(["mkntfs", "-F", "-Q", "-q", path], check=True, capture_output=True)
        out_dir = os.path.join(self.tmp, "nothing")
        result = self.run_cli("restore", path, "--to", out_dir)
        self.assertEqual((result.returncode, result.stdout), (0, "Found 0 deleted files on this drive!\n"), result.stderr)
        self.assertFalse(os.path.exists(out_dir), "nothing to restore: no folder made")
        result = self.run_cli("restore", path, "--to", out_dir, "--json")
        self.assertEqual((result.returncode, json.loads(result.stdout)), (0, []), result.stderr)

    @unittest.skipUnless(can_mount(), "mounting the image needs root, FUSE, ntfs-3g and losetup")
    def test_restore_onto_the_scanned_volume_and_wipe_under_its_mount_are_refused(self):
        path = self.image_copy()
        mount = os.path.join(self.tmp, "mnt")
        for via_loop in (False, True):
            with self.subTest(via_loop=via_loop), Mounted(path, mount, via_loop):
                before = sorted(os.listdir(mount))
                result = self.run_cli("restore", path, "--to", os.path.join(mount, "Restored"))
                self.assertEqual((result.returncode, result.stdout), (1, ""), result.stderr)
                self.assertIn("on the drive being recovered", result.stderr)
                self.assertEqual(sorted(os.listdir(mount)), before, "nothing written")
                result = self.run_cli("wipe", path, "--folder", "C:\\Docs\\Projects", "--name", "old-plan.txt",
                                      "--yes")
                self.assertEqual((result.returncode, result.stdout), (1, ""), result.stderr)
                self.assertIn("mounted for writing", result.stderr)
        # Unmounted, the image's deleted files come back whole.
        out_dir = os.path.join(self.tmp, "after")
        result = self.run_cli("restore", path, "--to", out_dir, "--keep-paths", "--json", timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        deleted = {r["path"]: r["sha256"] for r in manifest("ntfs-c4096")
                   if r["kind"] == "file" and r["state"] == "deleted" and r["size"] > 0}
        for path_in_image, digest in deleted.items():
            self.assertEqual(sha256_of(os.path.join(out_dir, path_in_image)), digest, path_in_image)


    @unittest.skipUnless(can_mount(), "making the volume needs root, FUSE and ntfs-3g")
    def test_a_live_image_file_on_the_volume_is_neither_listed_nor_wiped(self):
        outer = os.path.join(self.tmp, "outer.img")
        with open(outer, "wb") as f:
            f.truncate(64 << 20)
        subprocess.run(["mkntfs", "-F", "-Q", "-q", "-c", "4096", outer], check=True, capture_output=True)
        mount = os.path.join(self.tmp, "mnt")
        with Mounted(outer, mount, False):
            shutil.copyfile(IMAGE, os.path.join(mount, "inner.img"))
            with open(os.path.join(mount, "really-deleted.txt"), "w") as f:
                f.write("deleted on the outer volume\n")
            os.remove(os.path.join(mount, "really-deleted.txt"))
        inner_live = {place(r["path"]) for r in manifest("ntfs-c4096") if r["state"] == "kept"}
        files = json.loads(self.run_cli("scan", outer, "--extended", "--json", timeout=120).stdout)["files"]
        listed = {(f["folder"], f["name"]) for f in files}
        self.assertIn(("C:\\", "really-deleted.txt"), listed)
        self.assertFalse(listed & inner_live, "the inner image's live files are not deleted files")

        def inner_bytes():
            with Mounted(outer, mount, False, "-o", "ro"):
                return sha256_of(os.path.join(mount, "inner.img"))
        before = inner_bytes()
        inner_files = {place(r["path"]) for r in manifest("ntfs-c4096")}
        tried = [f for f in files if (f["folder"], f["name"]) in inner_files]
        self.assertTrue(tried, "the inner image's deleted files are listed (their records are not in use)")
        for f in tried:
            self.run_cli("wipe", outer, "--extended", "--folder", f["folder"], "--name", f["name"], "--yes",
                         "--quiet", timeout=120)
        self.assertEqual(inner_bytes(), before, "no wipe changed a byte of the live image")
        result = self.run_cli("wipe", outer, "--extended", "--folder", "C:\\", "--name", "really-deleted.txt", "--yes",
                              timeout=120)
        self.assertEqual((result.returncode, result.stdout), (0, "1 file(s) wiped!\n"), result.stderr)


@unittest.skipUnless(can_mount(), "making the volume needs root, FUSE and ntfs-3g")
class Interrupted(CliCase):
    """A volume with a deleted file of 200 MiB (mostly a hole, so it is made in moments and restored
    in pieces long enough to interrupt) and a small one."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="orv-big-")
        cls.image = os.path.join(cls.dir, "big.img")
        with open(cls.image, "wb") as f:
            f.truncate(1 << 30)
        subprocess.run(["mkntfs", "-F", "-Q", "-q", "-c", "4096", cls.image], check=True, capture_output=True)
        mount = os.path.join(cls.dir, "mnt")
        with Mounted(cls.image, mount, False):
            # Stored bytes, not a hole: a restore leaves holes as holes and would be done at once.
            with open(os.path.join(mount, "big.bin"), "wb") as f:
                f.write(b"the first bytes")
                chunk = bytes(range(256)) * 4096
                for _ in range(160):
                    f.write(chunk)
                f.write(b"the last bytes")
            with open(os.path.join(mount, "small.txt"), "w") as f:
                f.write("a small deleted file\n")
            os.remove(os.path.join(mount, "big.bin"))
            os.remove(os.path.join(mount, "small.txt"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def start(self, *args):
        return subprocess.Popen([CLI, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=self.env)

    def wait_for_temporary(self, folder, process, left=()):
        """Until the restore writes its temporary file: then it is busy with the big file."""
        for _ in range(4000):
            if os.path.isdir(folder) and any(n.startswith(".orvandel-restore-") and n not in left
                                             for n in os.listdir(folder)):
                return True
            if process.poll() is not None:
                return False
            time.sleep(0.002)
        return False

    def test_a_killed_restore_leaves_no_partial_file_and_a_stopped_one_says_stopped(self):
        out_dir = os.path.join(self.tmp, "out")
        process = self.start("restore", self.image, "--to", out_dir, "--quiet")
        self.assertTrue(self.wait_for_temporary(out_dir, process), "the restore wrote the big file")
        process.kill()
        process.communicate()
        self.assertNotIn("big.bin", os.listdir(out_dir), "no file under a real name that is not whole")
        left = [n for n in os.listdir(out_dir) if n.startswith(".orvandel-restore-")]
        self.assertTrue(left, "the killed run's temporary file")

        process = self.start("restore", self.image, "--to", out_dir, "--json", "--quiet")
        self.assertTrue(self.wait_for_temporary(out_dir, process, left))
        process.send_signal(signal.SIGINT)
        stdout, stderr = process.communicate(timeout=120)
        self.assertEqual(process.returncode, 1, stderr)
        report = {f["name"]: f for f in json.loads(stdout)}
        self.assertEqual(report["big.bin"]["status"], "stopped")
        self.assertIsNone(report["big.bin"]["path"])
        self.assertEqual([n for n in os.listdir(out_dir) if n.startswith(".orvandel-restore-")], [],
                         "the stopped file and the one the killed run left are removed")
        self.assertNotIn("big.bin", os.listdir(out_dir))

    def interrupt_wipe_while_scanning(self, path):
        """Runs a wipe with stderr on a terminal, where the scan draws its progress line from its
        first step, and presses Ctrl-C as soon as that line shows. Gives the exit status, stdout and
        what the terminal showed."""
        master, slave = pty.openpty()
        process = subprocess.Popen([CLI, "wipe", path, "--extended", "--folder", "C:\\", "--name", "small.txt",
                                    "--yes"], stdout=subprocess.PIPE, stderr=slave, env=self.env)
        os.close(slave)
        shown = b""
        signalled = False
        while True:
            if not signalled and b"\x1b[K" in shown:
                process.send_signal(signal.SIGINT)
                signalled = True
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            shown += chunk
        stdout, _ = process.communicate(timeout=120)
        os.close(master)
        return process.returncode, stdout, shown.decode(errors="replace")

    def test_ctrl_c_during_the_scan_of_a_wipe_writes_nothing(self):
        path = os.path.join(self.tmp, "copy.img")
        stopped = 0
        for _ in range(5):
            subprocess.run(["cp", "--sparse=always", self.image, path], check=True)
            before = os.stat(path)
            status, stdout, shown = self.interrupt_wipe_while_scanning(path)
            if "Stopped during the scan" not in shown:
                continue  # the scan was over before the signal came
            stopped += 1
            self.assertEqual((status, stdout), (1, b""), shown)
            self.assertIn("nothing is wiped", shown)
            after = os.stat(path)
            self.assertEqual((after.st_mtime_ns, after.st_size), (before.st_mtime_ns, before.st_size), "nothing written")
            listed = json.loads(self.run_cli("scan", path, "--json").stdout)["files"]
            self.assertIn(("C:\\", "small.txt"), {(f["folder"], f["name"]) for f in listed})
        self.assertGreater(stopped, 0, "Ctrl-C came during a scan")


def grow_mft(path, clusters):
    """Makes the $MFT of a fresh mkntfs volume claim `clusters` clusters from its start (records of
    zeros after the real ones), so that a Normal scan takes long enough to be interrupted."""
    with open(path, "r+b") as f:
        boot = f.read(512)
        cluster = int.from_bytes(boot[11:13], "little") * boot[13]
        mft = int.from_bytes(boot[0x30:0x38], "little")
        f.seek(mft * cluster)
        record = bytearray(f.read(1024))
        at = int.from_bytes(record[0x14:0x16], "little")
        while int.from_bytes(record[at:at + 4], "little") != 0x80:
            at += int.from_bytes(record[at + 4:at + 8], "little")
        record[at + 0x18:at + 0x20] = (clusters - 1).to_bytes(8, "little")
        record[at + 0x28:at + 0x40] = (clusters * cluster).to_bytes(8, "little") * 3
        runs = at + int.from_bytes(record[at + 0x20:at + 0x22], "little")
        record[runs:runs + 8] = b"\x33" + clusters.to_bytes(3, "little") + mft.to_bytes(3, "little") + b"\0"
        f.seek(mft * cluster)
        f.write(record)


def bytes_read(process):
    try:
        with open(f"/proc/{process.pid}/io") as f:
            return int(next(line for line in f if line.startswith("rchar:")).split()[1])
    except (OSError, StopIteration):
        return 0


@unittest.skipUnless(shutil.which("mkntfs"), "making the volume needs mkntfs")
class StoppedScan(CliCase):
    def test_scan_stopped_by_ctrl_c_fails_and_says_so_in_its_json(self):
        path = os.path.join(self.tmp, "long.img")
        with open(path, "wb") as f:
            f.truncate(1 << 30)
        subprocess.run(["mkntfs", "-F", "-Q", "-q", "-c", "4096", path], check=True, capture_output=True)
        grow_mft(path, 0x30000)  # 786,432 records: seconds of reading
        whole = json.loads(self.run_cli("scan", path, "--json", timeout=120).stdout)
        self.assertNotIn("stopped", whole)
        for mode in ([], ["--quiet"]):
            with self.subTest(mode=mode):
                process = subprocess.Popen([CLI, "scan", path, "--json", *mode], stdout=subprocess.PIPE,
                                           stderr=subprocess.PIPE, text=True, env=self.env)
                while bytes_read(process) < (64 << 20) and process.poll() is None:
                    time.sleep(0.001)
                process.send_signal(signal.SIGINT)
                stdout, stderr = process.communicate(timeout=120)
                out = json.loads(stdout)
                self.assertLess(out["records_examined"], whole["records_examined"], "the signal came in time")
                self.assertEqual(process.returncode, 1, stderr)
                self.assertIs(out["stopped"], True)
                self.assertEqual(out["files_found"], len(out["files"]))


class VolumeTexts(CliCase):
    def test_partition_names_reach_the_terminal_escaped(self):
        # The GPT disk's two names rewritten with a terminal's commands (a window title, a bell, a
        # line that would forge a listing row), the checksums made right again.
        import zlib
        path = os.path.join(self.tmp, "gpt.img")
        shutil.copyfile(os.path.join(FIXTURES, "disk-gpt-two.img"), path)
        names = ["\x1b]0;owned\x07A\rB", "x\n  9 0+0 NTFS forged\x1b[2J\x9b"]
        with open(path, "r+b") as f:
            size = f.seek(0, os.SEEK_END)
            for header_at in (512, size - 512):
                f.seek(header_at)
                header = bytearray(f.read(92))
                entries, count, entry_size = (int.from_bytes(header[72:80], "little") * 512,
                                              int.from_bytes(header[80:84], "little"),
                                              int.from_bytes(header[84:88], "little"))
                f.seek(entries)
                table = bytearray(f.read(count * entry_size))
                for i, name in enumerate(names):
                    table[i * entry_size + 56:i * entry_size + 128] = name.encode("utf-16-le").ljust(72, b"\0")
                f.seek(entries)
                f.write(table)
                header[88:92] = zlib.crc32(table).to_bytes(4, "little")
                header[16:20] = bytes(4)
                header_size = int.from_bytes(header[12:16], "little")
                header[16:20] = zlib.crc32(bytes(header[:header_size])).to_bytes(4, "little")
                f.seek(header_at)
                f.write(header)
        for args in (["info", path], ["scan", path]):
            with self.subTest(args=args):
                result = subprocess.run([CLI, *args], capture_output=True, env=self.env, timeout=60)
                shown = result.stdout + result.stderr
                self.assertEqual(result.returncode, 0 if args[0] == "info" else 2, shown)
                for raw in (b"\x1b", b"\x07", b"\r", "\x9b".encode()):
                    self.assertNotIn(raw, shown)
                self.assertNotIn(b"\n  9 0+0", shown)
                self.assertIn(b"\\x1b]0;owned\\x07A\\x0dB", shown)
                self.assertIn(b"x\\x0a  9 0+0 NTFS forged\\x1b[2J\\x9b", shown)
        listed = json.loads(self.run_cli("info", path, "--json").stdout)["partitions"]
        self.assertEqual([p["gpt_name"] for p in listed], names, "JSON keeps the names whole")

    def test_a_fifo_or_a_character_device_is_refused_at_once(self):
        fifo = os.path.join(self.tmp, "pipe.img")
        os.mkfifo(fifo)
        for source in (fifo, "/dev/zero"):
            for command in (["info", source], ["scan", source, "--json"]):
                with self.subTest(command=command):
                    result = self.run_cli(*command, timeout=10)
                    self.assertEqual((result.returncode, result.stdout), (1, ""), result.stderr)
                    self.assertIn("neither a disk image file nor a block device", result.stderr)


@unittest.skipUnless(can_mount(), "making the volume needs root, FUSE and ntfs-3g")
class InterruptedWipe(CliCase):
    """A volume with 400 deleted files in one folder: a wipe of them all writes long enough to be
    interrupted after its scan."""
    COUNT = 400

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="orv-many-")
        cls.image = os.path.join(cls.dir, "many.img")
        with open(cls.image, "wb") as f:
            f.truncate(64 << 20)
        subprocess.run(["mkntfs", "-F", "-Q", "-q", "-c", "4096", cls.image], check=True, capture_output=True)
        mount = os.path.join(cls.dir, "mnt")
        with Mounted(cls.image, mount, False):
            os.makedirs(os.path.join(mount, "many"))
            for i in range(cls.COUNT):
                with open(os.path.join(mount, "many", f"w{i:03}.txt"), "w") as f:
                    f.write(f"file {i}\n")
            for i in range(cls.COUNT):
                os.remove(os.path.join(mount, "many", f"w{i:03}.txt"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def test_ctrl_c_during_the_wipe_finishes_the_record_and_names_the_wiped_files(self):
        path = os.path.join(self.tmp, "copy.img")
        names = [f"w{i:03}.txt" for i in range(self.COUNT)]
        interrupted = 0
        for _ in range(5):
            shutil.copyfile(self.image, path)
            before = os.stat(path).st_mtime_ns
            process = subprocess.Popen([CLI, "wipe", path, "--folder", "C:\\many\\", "--name", *names, "--yes"],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=self.env)
            # The first record written changes the image: the scan is over, the wipe has begun.
            while os.stat(path).st_mtime_ns == before and process.poll() is None:
                time.sleep(0.0005)
            process.send_signal(signal.SIGINT)
            stdout, stderr = process.communicate(timeout=120)
            self.assertGreaterEqual(process.returncode, 0, f"killed by the signal: {stderr}")
            lines = stdout.splitlines()
            if process.returncode == 0:
                self.assertEqual(lines, [f"{self.COUNT} file(s) wiped!"])
                continue  # every record was written before the signal came
            interrupted += 1
            self.assertEqual(process.returncode, 1, stderr)
            self.assertIn("Stopped", stderr)
            wiped = [line.removeprefix("C:\\many\\") for line in lines[:-1]]
            self.assertEqual(lines[-1], f"{len(wiped)} file(s) wiped!")
            self.assertLess(len(wiped), self.COUNT)
            self.assertLessEqual(set(wiped), set(names))
            # What the report says is what the volume holds: the wiped records are gone, and every
            # other one is whole (a record cut midway would not be listed).
            listed = json.loads(self.run_cli("scan", path, "--json").stdout)["files"]
            self.assertEqual(sorted(f["name"] for f in listed if f["folder"] == "C:\\many\\"),
                             sorted(set(names) - set(wiped)))
        self.assertGreater(interrupted, 0, "Ctrl-C came during a wipe")


class Failures(CliCase):
    def test_usage_errors_exit_2(self):
        for args in ([], ["frobnicate"], ["info"], ["record", IMAGE], ["record", IMAGE, "-1"],
                     ["record", IMAGE, "many"], ["info", IMAGE, "--drive", "banana"]):
            with self.subTest(args=args):
                self.assertEqual(self.run_cli(*args).returncode, 2)

    def test_failures_exit_1_with_the_programs_message(self):
        empty = os.path.join(self.tmp, "empty.img")
        open(empty, "w").close()
        cases = [
            ("no such file", ["info", os.path.join(self.tmp, "missing.img")], "Drive not found!"),
            ("no such letter", ["info", "Y:"], "Drive not found!"),
            ("empty file", ["info", empty], "Error reading boot sector (NTFS)!"),
            ("half a sector", ["info", self.image_copy(256)], "Error reading boot sector (NTFS)!"),
            ("$MFT cut off", ["info", self.image_copy(8192)], "MFT list reading error!"),
            ("record beyond the $MFT", ["record", IMAGE, "100000"], "lies outside the $MFT"),
        ]
        for what, args, message in cases:
            with self.subTest(what):
                result = self.run_cli(*args)
                self.assertEqual(result.returncode, 1)
                self.assertIn(message, result.stderr)
                self.assertEqual(result.stdout, "")


class DamagedImages(CliCase):
    def test_flipped_bytes_in_the_mft_never_crash(self):
        info = json.loads(self.run_cli("info", IMAGE, "--json").stdout)
        cluster = info["bytes_per_cluster"]
        extent = info["mft_extents"][0]
        start, end = extent["start"] * cluster, (extent["start"] + extent["length"]) * cluster
        records = (end - start) // info["mft_record_size"]
        outcomes = {0: 0, 1: 0}
        for seed in range(6):
            with self.subTest(seed=seed):
                path = self.image_copy()
                rng = random.Random(seed)
                with open(path, "r+b") as f:
                    for _ in range(300 * (seed + 1)):
                        f.seek(rng.randrange(start, end))
                        f.write(bytes([rng.randrange(256)]))
                self.assertIn(self.run_cli("info", path).returncode, (0, 1))
                self.assertIn(self.run_cli("scan", path, "--json").returncode, (0, 1))
                self.assertIn(self.run_cli("scan", path, "--extended", "--quiet").returncode, (0, 1))
                for number in range(0, records, 3):
                    code = self.run_cli("record", path, str(number)).returncode
                    self.assertIn(code, (0, 1))
                    outcomes[code] += 1
        self.assertGreater(outcomes[1], 0, "damage was noticed somewhere")

    def test_random_bytes_as_a_volume(self):
        rng = random.Random(7)
        path = os.path.join(self.tmp, "noise.img")
        for size in (512, 4096, 1 << 20):
            with self.subTest(size=size):
                with open(path, "wb") as f:
                    f.write(bytes(rng.randrange(256) for _ in range(size)))
                self.assertEqual(self.run_cli("info", path).returncode, 1)


if __name__ == "__main__":
    unittest.main()
