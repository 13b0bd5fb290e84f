# Sourced by the fixture scripts: a work folder with a mount point, ntfs-3g mounted as our child
# process, and a cleanup that always unmounts. Before sourcing, set `script` (the name messages
# start with) and `work_prefix` (the temporary folder's name); afterwards `$work` and `$mnt` exist.

die() { echo "$script: $*" >&2; exit 1; }

# need_root_and_tools TOOL...
need_root_and_tools() {
    [ "$(id -u)" -eq 0 ] || die "must run as root (ntfs-3g mounts through FUSE)"
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || die "missing tool: $tool (run tools/setup.sh)"
    done
}

work=$(mktemp -d "/tmp/$work_prefix.XXXXXX")
mnt=$work/mnt
mkdir -p "$mnt"
ntfs3g_pid=

unmount_volume() {
    if mountpoint -q "$mnt"; then
        umount "$mnt" || { sleep 1; umount "$mnt"; } || umount -l "$mnt"
    fi
    # ntfs-3g finishes writing the volume after umount returns; the image is only consistent
    # once the driver process has exited.
    if [ -n "$ntfs3g_pid" ]; then
        wait "$ntfs3g_pid" 2>/dev/null || true
        ntfs3g_pid=
    fi
}

cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    unmount_volume || true
    if mountpoint -q "$mnt" 2>/dev/null; then
        echo "$script: could not unmount $mnt; left $work in place" >&2
    elif [ "$rc" -ne 0 ] && [ -n "${ORVANDEL_FIXTURES_KEEP_FAILED:-}" ]; then
        echo "$script: failed; images kept in $work for inspection" >&2
    else
        rm -rf "$work"
    fi
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# mount_volume_with IMAGE NTFS3G_OPTIONS: no_detach keeps ntfs-3g as our child, so cleanup can wait
# for it to finish after umount.
mount_volume_with() {
    local img=$1 options=$2
    ntfs-3g -o "no_detach,$options" "$img" "$mnt" >>"$work/ntfs-3g.log" 2>&1 &
    ntfs3g_pid=$!
    local _
    for _ in $(seq 100); do
        mountpoint -q "$mnt" && return 0
        kill -0 "$ntfs3g_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$work/ntfs-3g.log" >&2
    die "ntfs-3g could not mount $img"
}
