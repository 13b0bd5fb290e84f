#!/usr/bin/env python3
"""Restores every deleted file of an image with orvandel-cli (Normal scan) and compares the bytes
written with what The Sleuth Kit's icat reads for the same MFT record.

usage: compare_restore_with_icat.py ORVANDEL_CLI IMAGE [MANIFEST]

Each listed file is mapped to its record (record_offset // mft_record_size) and its restored
bytes are compared with `icat IMAGE N`. With a fixture manifest (tests/fixtures/*.manifest.tsv)
every file the manifest marks deleted must also be listed under its name in its folder (a hard
link under each of its names) and restored with the manifest's sha256; where icat disagrees with
the manifest but we agree with it, icat is wrong and that is printed as a note, not a difference.
Exits 0 when all agree, 1 with a list of differences, 77 when icat is missing."""

import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile


def run_json(cmd, env):
    out = subprocess.run(cmd, capture_output=True, text=True, env=env, timeout=1800)
    if out.returncode != 0:
        raise SystemExit(f"{' '.join(cmd)} failed with status {out.returncode}: {out.stderr.strip()}")
    return json.loads(out.stdout)


def read_manifest(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    keys = lines[0].split("\t")
    return [dict(zip(keys, line.split("\t"))) for line in lines[1:] if line]


def first_difference(a, b):
    for i in range(min(len(a), len(b))):
        if a[i] != b[i]:
            return i
    return None if len(a) == len(b) else min(len(a), len(b))


def describe(ours, theirs):
    at = first_difference(ours, theirs)
    return f"{len(ours)} bytes vs {len(theirs)}, first differing byte at {at}"


def volume_key(drive, manifest_path):
    """A manifest path ('Docs/a.txt') as the scan lists it: ('C:\\Docs\\', 'a.txt')."""
    folder, _, name = manifest_path.rpartition("/")
    return drive + "\\" + "".join(part + "\\" for part in folder.split("/") if part), name


def main():
    if len(sys.argv) not in (3, 4):
        print(__doc__.split("\n\n")[1])
        return 2
    cli, image = sys.argv[1], sys.argv[2]
    manifest = read_manifest(sys.argv[3]) if len(sys.argv) == 4 else None
    if not shutil.which("icat"):
        print("icat (sleuthkit) is not installed")
        return 77

    with tempfile.TemporaryDirectory(prefix="orv-icat-") as tmp:
        # An empty configuration, so no drive map file of the user's changes what IMAGE means.
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(tmp, "config"), TZ="UTC")
        record_size = run_json([cli, "info", image, "--json"], env)["mft_record_size"]
        scan = run_json([cli, "scan", image, "--json", "--quiet"], env)
        drive = scan["drive"]
        restore_dir = os.path.join(tmp, "restored")
        restored = run_json([cli, "restore", image, "--to", restore_dir, "--keep-paths", "--json", "--quiet"], env)

        listed = scan["files"]
        differences, notes = [], []
        # Restore writes the files in the scan's order; fall back to matching by folder and name
        # should the two lists ever differ.
        keys = lambda rows: [(r["folder"], r["name"]) for r in rows]
        if keys(listed) == keys(restored):
            pairs = list(zip(listed, restored))
        else:
            notes.append("restore reports its files in another order than scan lists them; matched by folder and name")
            by_key = {}
            for r in restored:
                by_key.setdefault((r["folder"], r["name"]), []).append(r)
            pairs = []
            for f in listed:
                candidates = by_key.get((f["folder"], f["name"]), [])
                pairs.append((f, candidates.pop(0) if candidates else None))

        manifest_by_record = {}
        for row in manifest or []:
            if row["kind"] == "file":
                manifest_by_record.setdefault(int(row["mft_record"]), []).append(row)

        outcome_by_key = {}
        for listing, outcome in pairs:
            where = listing["folder"] + listing["name"]
            number = listing["record_offset"] // record_size
            outcome_by_key.setdefault((listing["folder"], listing["name"]), []).append((number, outcome))
            if outcome is None:
                differences.append(f"{where} (record {number}): listed but not in the restore report")
                continue
            ours = None
            if outcome["path"]:
                with open(outcome["path"], "rb") as f:
                    ours = f.read()
                if outcome["sha256"] != hashlib.sha256(ours).hexdigest():
                    differences.append(f"{where} (record {number}): the reported sha256 is not that of the file written")
            icat = subprocess.run(["icat", image, str(number)], capture_output=True)
            theirs = icat.stdout if icat.returncode == 0 else None
            # An empty file is reported and not written: that agrees with icat's nothing.
            if ours == theirs or (ours is None and theirs == b""):
                continue
            status = f"status {outcome['status']}" + (f" ({outcome['reason']})" if outcome["reason"] else "")
            if ours is None:
                differences.append(f"{where} (record {number}): nothing written, {status}; icat reads {len(theirs)} bytes")
                continue
            if theirs is None:
                notes.append(f"{where} (record {number}): icat fails ({icat.stderr.decode(errors='replace').strip()}); "
                             f"we wrote {len(ours)} bytes, {status}")
                continue
            written = {row["sha256"] for row in manifest_by_record.get(number, [])}
            if hashlib.sha256(ours).hexdigest() in written:
                notes.append(f"{where} (record {number}): icat is wrong ({describe(theirs, ours)} written to the volume); "
                             "ours match the manifest")
            else:
                diff = f"{where} (record {number}): ours {describe(ours, theirs)} from icat, {status}"
                if hashlib.sha256(theirs).hexdigest() in written:
                    diff += "; icat matches the manifest"
                differences.append(diff)

        for row in manifest or []:
            if row["kind"] != "file":
                continue
            key = volume_key(drive, row["path"])
            where = key[0] + key[1]
            number = int(row["mft_record"])
            if row["state"] == "unlinked":
                if key in outcome_by_key:
                    notes.append(f"{where}: listed, though the record's name for it was removed before it was freed")
                continue
            if row["state"] != "deleted":
                continue
            found = [(n, o) for n, o in outcome_by_key.get(key, []) if n == number]
            if not found:
                others = [n for n, _ in outcome_by_key.get(key, [])]
                differences.append(f"{where} (record {number}, {row.get('feature', 'file')}): not listed"
                                   + (f" (listed for record(s) {others})" if others else ""))
                continue
            outcome = found[0][1]
            if outcome is None:
                continue  # already a difference above
            if outcome["sha256"] != row["sha256"] and not (outcome["sha256"] is None and row["size"] == "0"):
                differences.append(f"{where} (record {number}, {row.get('feature', 'file')}): restored {outcome['size']} "
                                   f"bytes, status {outcome['status']}, not the {row['size']} bytes written")

        print(f"{image}: {len(pairs)} files restored and compared with icat"
              + (f", {sum(r['state'] == 'deleted' and r['kind'] == 'file' for r in manifest)} manifest files checked"
                 if manifest else "") + f", {len(differences)} differences")
        for line in differences:
            print("  " + line)
        for line in notes:
            print("  note: " + line)
        return 1 if differences or not pairs else 0


if __name__ == "__main__":
    sys.exit(main())
