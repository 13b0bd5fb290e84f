#!/usr/bin/env bash
# Files found by content against PhotoRec on the same images: how many of the files whose record
# is gone each brings back byte for byte (fragmented ones apart), how many of ours are graded Good
# while they differ (must be none), and how long each takes.
#
#   bench/carve-vs-photorec.sh [IMAGE_DIR] [CLI]
#
# IMAGE_DIR holds carve-*.img with their carve-*.manifest.tsv (tools/make_carving_fixtures.py, or
# the unpacked fixtures in build/fixtures); CLI is orvandel-cli (build/cli/orvandel-cli).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
images=$(readlink -f "${1:-$repo/build/fixtures}")
cli=$(readlink -f "${2:-$repo/build/cli/orvandel-cli}")
command -v photorec >/dev/null || { echo "photorec is missing (Debian package testdisk)" >&2; exit 1; }
work=$(mktemp -d /tmp/orvandel-carve-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

printf '%-12s %-8s %6s %6s %10s %8s %8s %6s\n' image tool exact frag seconds graded-Good "Good-but-wrong" of
for img in "$images"/carve-*.img; do
    name=$(basename "$img" .img)
    manifest=$images/$name.manifest.tsv
    # photorec writes into OUT.1, OUT.2, ...
    start=$(date +%s.%N)
    # photorec writes its log into the folder it runs in.
    (cd "$work" && photorec /log /d "$work/$name-pr" /cmd "$img" \
        partition_none,options,paranoid,fileopt,everything,enable,freespace,search >/dev/null 2>&1) || true
    pr_time=$(echo "$(date +%s.%N) - $start" | bc)
    start=$(date +%s.%N)
    "$cli" scan "$img" --extended --sweep --json --quiet >"$work/$name.json" || true
    "$cli" restore "$img" --extended --sweep --quiet --keep-paths --to "$work/$name-ours" >/dev/null 2>&1 || true
    our_time=$(echo "$(date +%s.%N) - $start" | bc)
    python3 - "$manifest" "$work/$name.json" "$work/$name-ours" "$work" "$name" "$pr_time" "$our_time" <<'PYTHON'
import hashlib, json, os, sys
manifest, listing, ours, work, name, pr_time, our_time = sys.argv[1:]
wanted = {}
fragmented = set()
for line in open(manifest):
    file_name, size, sha, layout = line.rstrip("\n").split("\t")
    if layout == "named":
        continue
    wanted[sha] = file_name
    if layout.startswith("gap-"):
        fragmented.add(sha)

def digests(top, only=None):
    found = {}
    for folder, _, files in os.walk(top):
        for f in files:
            path = os.path.join(folder, f)
            if only and only not in path:
                continue
            with open(path, "rb") as h:
                found[path] = hashlib.sha256(h.read()).hexdigest()
    return found

pr = set()
for d in os.listdir(work):
    if d.startswith(name + "-pr"):
        pr |= set(digests(os.path.join(work, d)).values())
mine = digests(ours, "Found by content")
good_wrong, good = 0, 0
grades = {}
for f in json.load(open(listing))["files"]:
    if f.get("found_by_content"):
        grades[f["name"]] = f["recoverability"]
for path, sha in mine.items():
    if grades.get(os.path.basename(path)) == "Good":
        good += 1
        if sha not in wanted:
            good_wrong += 1
for tool, got, seconds in (("photorec", pr, pr_time), ("orvandel", set(mine.values()), our_time)):
    exact = len(got & set(wanted))
    frag = len(got & fragmented)
    extra = ("%8d %8d" % (good, good_wrong)) if tool == "orvandel" else "%8s %8s" % ("-", "-")
    print("%-12s %-8s %6d %6d %10.2f %s %6d" % (name, tool, exact, frag, float(seconds), extra, len(wanted)))
PYTHON
done
