#!/usr/bin/env bash
# Installs every Debian package Orvandel needs to build, test, make fixtures and compare with peers.
# Idempotent: when everything is already installed it touches nothing and needs no network.
set -euo pipefail

packages=(
    # build, and the house format that tools/test.sh checks (.clang-format)
    cmake ninja-build g++ clang libclang-rt-dev pkg-config clang-format
    # rebuilds on one machine reuse what an earlier build or another clone compiled
    ccache
    # core and front-end libraries
    libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev
    libjpeg-dev libcurl4-openssl-dev libudev-dev
    # files found by their content: PNG chunks and ZIP members checked by their CRC-32, ZIP
    # members and PDF streams inflated to check them
    zlib1g-dev
    qt6-base-dev qt6-svg-dev
    # Qt's own dialogs (the folder picker) in the program's seven languages
    qt6-translations-l10n
    # the desktop program's scanning animation (optional at build time; the plug-ins play it)
    qt6-multimedia-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    # the skin's fonts at their intended sizes (Liberation Sans stands in for Arial with the same
    # metrics) and the file-type icons of the results window where no desktop brings a theme
    fonts-liberation adwaita-icon-theme
    # fixtures, peers and compression of committed images
    ntfs-3g sleuthkit attr xz-utils libjpeg-turbo-progs fuse3
    # FAT12/16/32 and exFAT images without a kernel driver, and TestDisk as a peer on them
    dosfstools mtools exfatprogs exfat-fuse testdisk
    # real MP3 files for the images of files found by their content
    lame
    # the CLI tests and the comparisons with the peers
    python3
    # disks and images as users hold them: forensic and virtual-disk containers (read-only), and
    # the tools that make such containers and partition tables for the fixtures
    libewf-dev libvhdi-dev libvmdk-dev libqcow-dev ewf-tools qemu-utils gdisk fdisk
    # Volume Shadow Copies inside an NTFS volume, and the peers that list and mount them
    libvshadow-dev libvshadow-utils
    # the Debian package: CPack works out its dependencies with dpkg-shlibdeps (dpkg-dev, file),
    # scdoc writes the manual pages, lintian and appstreamcli check the package and its metainfo;
    # pkexec is what the installed desktop entry starts the program through, and the desktop
    # program is started from it under Xvfb to look at it
    dpkg-dev file fakeroot scdoc lintian appstream pkexec xvfb xauth
    # the desktop program's windows walked as a screen reader walks them (AT-SPI on a session bus)
    at-spi2-core dbus-daemon python3-pyatspi gir1.2-atspi-2.0
    # the installed package's desktop entry and MIME registration, checked as a desktop sees them:
    # desktop-file-validate, and xdg-mime (which asks File::MimeInfo outside a desktop session)
    desktop-file-utils xdg-utils libfile-mimeinfo-perl
    # the Recycle Bin's index files ($I, INFO2) as a peer reads them
    rifiuti2
    # the completion for zsh is tried in zsh itself
    zsh
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        SUDO=sudo
    else
        echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
        exit 1
    fi
else
    SUDO=
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
