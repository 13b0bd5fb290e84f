#!/usr/bin/env bash
# Installs the Debian package on this machine, runs the installed programs away from any build
# tree, and removes the package again, so that a broken install rule fails CI. Needs root.
# usage: tools/check-package.sh DEB
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "$1")
repo=$PWD

export DEBIAN_FRONTEND=noninteractive
work=$(mktemp -d)
display_pid=
cleanup() {
    [ -n "$display_pid" ] && kill "$display_pid" 2>/dev/null
    apt-get remove -y -qq orvandel >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
# Every dependency is on the machine already (tools/setup.sh): nothing is downloaded.
apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
cd "$work"
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work
mkdir -p "$XDG_CONFIG_HOME"

echo "== Installed files"
for file in /usr/bin/orvandel-cli /usr/bin/orvandel /usr/lib/orvandel/English.ini \
    /usr/share/applications/org.orvandel.Orvandel.desktop /usr/share/polkit-1/actions/org.orvandel.pkexec.policy \
    /usr/share/man/man1/orvandel-cli.1.gz /usr/share/man/man1/orvandel.1.gz \
    /usr/share/bash-completion/completions/orvandel-cli /usr/share/metainfo/org.orvandel.Orvandel.metainfo.xml; do
    [ -e "$file" ] || { echo "missing after installing: $file" >&2; exit 1; }
done
# The manual Help opens, where the program looks for it from its own folder.
[ -f /usr/lib/orvandel/../../share/orvandel/manual.html ] || { echo "the manual is not installed" >&2; exit 1; }
/usr/bin/orvandel-cli --version
/usr/bin/orvandel --version

echo "== The desktop entry and the MIME types, as a desktop sees them after installing"
desktop-file-validate /usr/share/applications/org.orvandel.Orvandel.desktop
# shared-mime-info's trigger has read /usr/share/mime/packages/: an E01 file is known by its name
# and, renamed, by its first bytes; the desktop entry is the handler that desktop-file-utils lists.
printf 'EVF\x09\x0d\x0a\xff\x00\x01\x01\x00\x00' >evidence.E01
cp evidence.E01 evidence.bin
for file in evidence.E01 evidence.bin; do
    type=$(xdg-mime query filetype "$file")
    [ "$type" = application/x-ewf-image ] || { echo "$file is $type after installing, not application/x-ewf-image" >&2; exit 1; }
done
handler=$(xdg-mime query default application/x-ewf-image)
[ "$handler" = org.orvandel.Orvandel.desktop ] || { echo "E01 files open with '$handler'" >&2; exit 1; }
echo "E01 files are application/x-ewf-image and open with $handler"

echo "== orvandel-cli info on the demo volume, from the installed files"
xz -dc "$repo/tests/fixtures/demo.img.xz" >demo.img
/usr/bin/orvandel-cli info demo.img
/usr/bin/orvandel-cli scan demo.img --quiet | tail -n 1

# The desktop program, started as the installed desktop entry says (without its field codes), on a
# display of its own: it must come up with its main window and keep running.
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    echo "== The desktop program from the desktop entry's command"
    command=$(sed -n 's/^Exec=//p' /usr/share/applications/org.orvandel.Orvandel.desktop | sed 's/ %[fFuU]//g')
    # pkexec asks polkit on the system bus, which a container has not; as root it only hands on.
    if [ "${command%% *}" = pkexec ] && [ ! -S /run/dbus/system_bus_socket ]; then
        echo "(no system bus for polkit: the entry's program is started without pkexec)"
        command=${command#pkexec }
    fi
    # A free display number of the server's own choosing: other X servers may run beside it.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>display >xvfb.log 2>&1 &
    display_pid=$!
    for _ in $(seq 100); do [ -s display ] && break; sleep 0.1; done
    export DISPLAY=:$(cat display)
    if ! xdotool getmouselocation >/dev/null 2>&1; then
        echo "Xvfb did not start:" >&2
        cat xvfb.log >&2
        exit 1
    fi
    $command >program.log 2>&1 &
    program=$!
    window=
    for _ in $(seq 100); do
        window=$(xdotool search --name '^Orvandel$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
        sleep 0.1
    done
    if [ -z "$window" ] || ! kill -0 "$program" 2>/dev/null; then
        echo "the installed desktop program did not show its window:" >&2
        cat program.log >&2
        exit 1
    fi
    if [ -n "${ORV_PACKAGE_SCREENSHOT:-}" ] && command -v import >/dev/null; then
        import -window root "$ORV_PACKAGE_SCREENSHOT"
    fi
    kill "$program"
    wait "$program" 2>/dev/null || true
    echo "main window shown"
fi
echo "== Removing the package"
apt-get remove -y -qq orvandel >/dev/null
[ ! -e /usr/bin/orvandel-cli ] || { echo "orvandel-cli left behind after removing the package" >&2; exit 1; }
echo "package installed, run and removed"
