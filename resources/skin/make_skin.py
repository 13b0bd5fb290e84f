#!/usr/bin/env python3
"""Writes the desktop program's skin pictures (SVG) at the sizes its windows place them.

A calm, flat look: a deep blue window with a lighter title band, buttons as rounded plates that
brighten under the pointer. Run it again after changing a colour; the SVGs are committed.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))

BAND = "#1f4f8f"
BODY_TOP = "#163a6b"
BODY_BOTTOM = "#0e2748"
PLATE = "#2a66b5"
PLATE_HOVER = "#3b82db"
BUSY = "#b5562a"
BUSY_HOVER = "#d86c3a"
EDGE = "#8fb6f0"


def svg(name, w, h, body):
    with open(os.path.join(HERE, name + ".svg"), "w") as f:
        f.write(f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" viewBox="0 0 {w} {h}">\n'
                f'{body}</svg>\n')


def gradient(gid, top, bottom):
    return (f'<defs><linearGradient id="{gid}" x1="0" y1="0" x2="0" y2="1">'
            f'<stop offset="0" stop-color="{top}"/><stop offset="1" stop-color="{bottom}"/>'
            f'</linearGradient></defs>\n')


def window(name, w, h, band):
    body = gradient("g", BODY_TOP, BODY_BOTTOM)
    body += f'<rect width="{w}" height="{h}" fill="url(#g)"/>\n'
    body += f'<rect width="{w}" height="{band}" fill="{BAND}"/>\n'
    body += f'<rect y="{band}" width="{w}" height="1" fill="{EDGE}" opacity="0.5"/>\n'
    body += f'<rect x="0.5" y="0.5" width="{w - 1}" height="{h - 1}" fill="none" stroke="{EDGE}" opacity="0.6"/>\n'
    return body


# The program's emblem and name at the left of the title band of the two main windows.
EMBLEM = ('<circle cx="18" cy="15" r="8" fill="none" stroke="#d2e8fd" stroke-width="2"/>\n'
          '<path d="M14 15 l3 3 l5 -6" fill="none" stroke="#d2e8fd" stroke-width="2"/>\n'
          '<text x="32" y="20" font-family="Verdana, DejaVu Sans, sans-serif" font-size="13" font-weight="bold" '
          'fill="#ffffff">Orvandel</text>\n')

# Main window: title band, a panel behind the drive, mode and mask row, and a frame for the bar.
main = window("main", 446, 360, 30)
main += EMBLEM
main += f'<rect x="40" y="44" width="366" height="54" rx="6" fill="#ffffff" opacity="0.06"/>\n'
main += f'<rect x="37" y="245" width="204" height="35" rx="4" fill="#0a1c36" stroke="{EDGE}" stroke-opacity="0.4"/>\n'
svg("main", 446, 360, main)

for name, w, h, band in (("dialog", 320, 190, 36), ("notice", 320, 240, 36)):
    svg(name, w, h, window(name, w, h, band))

# About: the name and version in the band, the program's emblem above the links.
about = window("about", 400, 230, 48)
about += '<circle cx="200" cy="100" r="22" fill="#ffffff" fill-opacity="0.06" stroke="#d2e8fd" stroke-width="3"/>\n'
about += '<path d="M189 100 l8 8 l14 -16" fill="none" stroke="#d2e8fd" stroke-width="4" stroke-linecap="round"/>\n'
svg("about", 400, 230, about)


def plate(name, w, h, fill, icon="", rx=8):
    body = gradient("p", fill, BODY_BOTTOM)
    body += f'<rect x="1" y="1" width="{w - 2}" height="{h - 2}" rx="{rx}" fill="url(#p)" stroke="{EDGE}" stroke-opacity="0.7"/>\n'
    svg(name, w, h, body + icon)


# Find button: a magnifier when idle, a stop square when busy. The magnifier stays up and left of
# the caption, which sits in the plate's lower right (from x 82, y 85).
magnifier = ('<circle cx="66" cy="44" r="24" fill="none" stroke="#d2e8fd" stroke-width="7"/>'
             '<path d="M83 61 l15 15" stroke="#d2e8fd" stroke-width="9" stroke-linecap="round"/>\n')
stop = '<rect x="62" y="28" width="44" height="44" rx="6" fill="#fde3d2"/>\n'
plate("find_normal", 168, 126, PLATE, magnifier, 14)
plate("find_hover", 168, 126, PLATE_HOVER, magnifier, 14)
plate("busy_normal", 168, 126, BUSY, stop, 14)
plate("busy_hover", 168, 126, BUSY_HOVER, stop, 14)
# The main window's Close: its caption sits right of the middle (from x 82), so the plate carries
# the results window's door on its left to balance it.
door = ('<g transform="translate(16,3)"><path d="M34 16h-14v28h14" fill="none" stroke="#d2e8fd" stroke-width="3" '
        'stroke-linecap="round" stroke-linejoin="round"/><path d="M27 30h17M39 25l5 5l-5 5" fill="none" '
        'stroke="#d2e8fd" stroke-width="3" stroke-linecap="round" stroke-linejoin="round"/></g>\n')
plate("close_normal", 168, 66, PLATE, door, 12)
plate("close_hover", 168, 66, PLATE_HOVER, door, 12)
plate("dialog_button_normal", 93, 30, PLATE, "", 6)
plate("dialog_button_hover", 93, 30, PLATE_HOVER, "", 6)

# Browse button beside the restore folder: a small folder.
folder = '<path d="M9 7.5h5l2 2h6.5v8.5h-13.5z" fill="#d2e8fd"/>\n'
plate("browse_normal", 31, 25, PLATE, folder, 4)
plate("browse_hover", 31, 25, PLATE_HOVER, folder, 4)

# Top buttons: options, help, about, minimise, close.
stroke = 'fill="none" stroke="#d2e8fd" stroke-width="2" stroke-linecap="round"'
top_icons = {
    "top_options": f'<circle cx="15" cy="11" r="4" {stroke}/><path d="M15 3v3M15 16v3M7 11h3M20 11h3" {stroke}/>',
    "top_help": f'<path d="M11 8a4 4 0 1 1 5 4v2" {stroke}/><circle cx="16" cy="17.5" r="1.2" fill="#d2e8fd"/>',
    "top_about": f'<circle cx="15" cy="6" r="1.3" fill="#d2e8fd"/><path d="M15 10v8" {stroke}/>',
    "top_minimize": f'<path d="M9 16h12" {stroke}/>',
    "top_close": f'<path d="M13 6l10 10M23 6l-10 10" {stroke}/>',
}
for name, icon in top_icons.items():
    w = 36 if name == "top_close" else 30
    for state, fill in (("normal", "none"), ("hover", PLATE_HOVER)):
        body = f'<rect x="1" y="1" width="{w - 2}" height="20" rx="4" fill="{fill}"/>\n' if fill != "none" else ""
        svg(f"{name}_{state}", w, 22, body + icon + "\n")

# Progress bar: a full bar that the window shows as wide as the progress.
bar = gradient("b", "#7fd0ff", "#2a7fd8")
bar += '<rect x="0" y="2" width="200" height="27" rx="3" fill="url(#b)"/>\n'
svg("progress", 200, 31, bar)

# The still picture of the animation panel: a disc with a search sweep.
still = '<rect width="154" height="115" fill="#f0f0f0"/>\n'
still += '<circle cx="77" cy="57" r="40" fill="#d9e6f7" stroke="#2a66b5" stroke-width="3"/>\n'
still += '<circle cx="77" cy="57" r="8" fill="#f0f0f0" stroke="#2a66b5" stroke-width="2"/>\n'
still += '<path d="M77 57 L77 17 A40 40 0 0 1 112 38 Z" fill="#3b82db" opacity="0.6"/>\n'
svg("still", 154, 115, still)

# Results window: the title band, a frame round the folder tree and the file list, and a calmer
# strip behind the information panel and the three large buttons.
results = window("results", 705, 559, 30)
results += EMBLEM
results += f'<rect x="26.5" y="44.5" width="649" height="333" rx="3" fill="#0a1c36" stroke="{EDGE}" stroke-opacity="0.5"/>\n'
results += f'<rect x="20" y="410" width="665" height="68" rx="6" fill="#ffffff" opacity="0.05"/>\n'
results += f'<rect x="252.5" y="416.5" width="55" height="55" rx="3" fill="#ffffff" opacity="0.08" stroke="{EDGE}" stroke-opacity="0.4"/>\n'
svg("results", 705, 559, results)

# The three large buttons of the results window: a plate with the command's picture on its left
# third; the caption label sits to the right of it.
light = 'fill="none" stroke="#d2e8fd" stroke-width="3" stroke-linecap="round" stroke-linejoin="round"'
large_icons = {
    # a file rising out of a tray
    "restore": f'<path d="M16 36v10h28v-10" {light}/><path d="M30 40v-24M22 23l8 -8l8 8" {light}/>',
    # a crossed-out page
    "wipe": f'<path d="M19 14h15l7 7v25h-22z" {light}/><path d="M23 26l14 14M37 26l-14 14" {light}/>',
    # a door with its arrow out
    "close": f'<path d="M34 16h-14v28h14" {light}/><path d="M27 30h17M39 25l5 5l-5 5" {light}/>',
}
for name, icon in large_icons.items():
    plate(f"results_{name}_normal", 144, 60, PLATE, icon, 10)
    plate(f"results_{name}_hover", 144, 60, PLATE_HOVER, icon, 10)

# The search button beside the field of Find in results: a small magnifier.
lens = f'<circle cx="14" cy="11" r="5" {stroke}/><path d="M18 15l4 4" {stroke}/>'
plate("search_normal", 31, 25, PLATE, lens, 4)
plate("search_hover", 31, 25, PLATE_HOVER, lens, 4)

# Folder pictures of the tree: a folder that is still on the volume, and one that is gone.
folder = ('<path d="M1.5 4.5h5l1.5 1.5h6.5v7.5h-13z" fill="#f3c84b" stroke="#9a7414"/>'
          '<path d="M1.5 7h13" stroke="#9a7414"/>')
svg("tree_folder", 16, 16, folder + "\n")
gone = ('<path d="M1.5 4.5h5l1.5 1.5h6.5v7.5h-13z" fill="#d9d9d9" stroke="#8a8a8a"/>'
        '<path d="M1.5 7h13" stroke="#8a8a8a"/>'
        '<path d="M9 9l5 5M14 9l-5 5" stroke="#c0392b" stroke-width="1.6" stroke-linecap="round"/>')
svg("tree_folder_gone", 16, 16, gone + "\n")
