#!/usr/bin/env python3
"""Decodes every MFT record of an image with orvandel-cli and with The Sleuth Kit's istat and
compares name, parent, size, residency, run list, flags and creation time.

usage: compare_with_tsk.py ORVANDEL_CLI IMAGE
Exits 0 when every record agrees, 1 with a list of differences, 77 when istat is missing."""

import json
import os
import re
import shutil
import subprocess
import sys


def istat(image, number):
    out = subprocess.run(["istat", image, str(number)], capture_output=True, text=True,
                         env=dict(os.environ, TZ="UTC"))
    if out.returncode != 0:
        return None
    text = out.stdout
    state = re.search(r"^(Allocated|Not Allocated) (File|Directory)$", text, re.M)
    info = {"in_use": bool(state) and state.group(1) == "Allocated",
            "is_directory": bool(state) and state.group(2) == "Directory"}
    names = re.findall(r"^\$FILE_NAME Attribute Values:\n(?:.*\n)*?Name: (.*)\nParent MFT Entry: (\d+)", text, re.M)
    info["name"], info["parent"] = (names[-1][0], int(names[-1][1])) if names else ("", None)
    created = re.search(r"^\$STANDARD_INFORMATION Attribute Values:\n(?:.*\n)*?Created:\t(\S+ \S+)", text, re.M)
    info["created"] = created.group(1)[:19].replace(" ", "T") if created else None

    # The unnamed $DATA: its residency, size and clusters (sparse or unallocated tails show as 0).
    info["size"], info["resident"], info["clusters"] = 0, False, []
    lines = text.split("Attributes: \n", 1)[-1].splitlines()
    for i, line in enumerate(lines):
        m = re.match(r"Type: \$DATA \(128-\d+\)\s+Name: N/A\s+(Resident|Non-Resident)\s+size: (\d+)", line)
        if not m:
            continue
        info["resident"] = m.group(1) == "Resident"
        info["size"] = int(m.group(2))
        for follow in lines[i + 1:]:
            if follow.startswith("Type:"):
                break
            info["clusters"] += [int(c) for c in follow.split()]
        break
    return info


def orvandel(cli, image, number):
    out = subprocess.run([cli, "record", image, str(number), "--json"], capture_output=True, text=True,
                         env=dict(os.environ, TZ="UTC"))
    if out.returncode != 0:
        return None, out.stderr.strip()
    return json.loads(out.stdout), None


def main():
    cli, image = sys.argv[1], sys.argv[2]
    if not shutil.which("istat"):
        print("istat (sleuthkit) is not installed")
        return 77
    info = json.loads(subprocess.run([cli, "info", image, "--json"], capture_output=True, text=True, check=True).stdout)
    records = sum(e["length"] for e in info["mft_extents"]) * info["bytes_per_cluster"] // info["mft_record_size"]
    differences, compared = [], 0
    for number in range(records):
        ours, why = orvandel(cli, image, number)
        theirs = istat(image, number)
        if ours is None or theirs is None:
            if (ours is None) != (theirs is None) and "not an MFT record" not in (why or ""):
                differences.append(f"record {number}: orvandel says {why!r}, istat {'fails' if theirs is None else 'decodes it'}")
            continue
        compared += 1
        clusters = []
        for run in ours["runs"]:
            clusters += range(run["cluster"], run["cluster"] + run["count"])
        # istat shows the allocated clusters past the initialised data as 0: those agree with any
        # cluster of ours.
        tsk_clusters = list(theirs["clusters"])
        zero_tail = len(tsk_clusters)
        while zero_tail and tsk_clusters[zero_tail - 1] == 0:
            zero_tail -= 1
        if len(tsk_clusters) == len(clusters):
            tsk_clusters[zero_tail:] = clusters[zero_tail:]
        checks = {
            "name": (ours["name"], theirs["name"]),
            "parent": (ours["parent"], theirs["parent"]),
            "size": (ours["size"], theirs["size"]),
            "resident": (ours["resident"], theirs["resident"]),
            "in_use": (ours["in_use"], theirs["in_use"]),
            "is_directory": (ours["is_directory"], theirs["is_directory"]),
            "clusters": (clusters, tsk_clusters),
        }
        # mkntfs -T writes the times 0 and 1970-01-01: istat shows those as 2076 and year 0.
        fake_time = (ours["created"] or "").startswith(("1601-01-01T00:00:00", "1970-01-01T00:00:00"))
        if theirs["created"] and not fake_time:
            checks["created"] = ((ours["created"] or "")[:19], theirs["created"])
        for key, (a, b) in checks.items():
            if a != b:
                differences.append(f"record {number} {key}: orvandel {a!r}, istat {b!r}")
    print(f"{image}: {compared} records compared, {len(differences)} differences")
    for line in differences:
        print("  " + line)
    return 1 if differences or compared == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
