#!/usr/bin/env python3
"""Checks that the project's includes run one way.

core/base includes nothing else of the project. The chips (board/, video/,
cd/, sound/) include core/base and only the peers listed in CHIP_PEERS.
core/machine builds on the chips, core/emulator on the machine, and ui/ and
tools/ sit on top. platform/ is the host layer under ui/. Nothing below
platform/ includes Qt or SDL. tests/ and bench/ may include anything.

Usage: check_includes.py [ROOT]   (default: the tree this script is in)
Prints every include that breaks a rule and exits 1, or exits 0.
"""

import pathlib
import re
import sys

SOURCE_SUFFIXES = {".h", ".cpp", ".hpp", ".cc", ".inc"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')

# Layer of a path: the longest matching prefix wins.
LAYERS = [
    ("core/base/", "base"),
    ("core/machine/", "machine"),
    ("core/emulator/", "emulator"),
    ("core/", "core-loose"),
    ("board/", "chip"),
    ("video/", "chip"),
    ("cd/", "chip"),
    ("sound/", "chip"),
    ("platform/", "platform"),
    ("ui/", "ui"),
    ("tools/", "tools"),
    ("tests/", "top"),
    ("bench/", "top"),
]

ALLOWED = {
    "base": {"base"},
    "chip": {"base", "chip"},
    "machine": {"base", "chip", "machine"},
    "emulator": {"base", "chip", "machine", "emulator"},
    "platform": {"base", "chip", "platform"},
    "ui": {"base", "chip", "machine", "emulator", "platform", "ui"},
    "tools": {"base", "chip", "machine", "emulator", "tools"},
}

# The chip folders a chip folder may include besides its own. A new entry is
# a new wire between chips: add it only where the chip must call that peer
# by name.
CHIP_PEERS = {
    "board/bios": {"board/sh2", "cd/media"},
    "board/cart": set(),
    "board/periph": set(),
    "board/scu": {"board/sh2"},
    "board/sh2": set(),
    "board/smpc": {"board/cart", "board/periph"},
    "cd/cdb": {"board/scu", "cd/drive", "cd/media"},
    "cd/drive": {"cd/media"},
    "cd/media": set(),
    "sound/m68k": set(),
    "sound/scsp": {"board/scu", "sound/m68k"},
    "video": set(),
    "video/vdp1": {"board/scu", "video"},
    "video/vdp2": {"video", "video/vdp1"},
}

HOST_LIBRARY = re.compile(r"^(Q[A-Za-z0-9_]*(/|$)|SDL)")
NO_HOST_LIBRARIES = {"base", "machine", "emulator", "chip", "core-loose"}


def layer_of(path):
    for prefix, layer in LAYERS:
        if path.startswith(prefix):
            return layer
    return None


def chip_folder(path):
    """board/scu/scu.h -> board/scu; video/color_tables.h -> video."""
    parts = path.split("/")
    if len(parts) >= 3:
        return parts[0] + "/" + parts[1]
    return parts[0]


def check_file(relative, text):
    """Answers the rule breaks of one file as (line number, message) pairs."""
    source_layer = layer_of(relative)
    problems = []
    if source_layer in (None, "top"):
        return problems
    for number, line in enumerate(text.splitlines(), 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        bracket, target = match.groups()
        if bracket == "<":
            if source_layer in NO_HOST_LIBRARIES and HOST_LIBRARY.match(target):
                problems.append((number, f"<{target}>: no Qt or SDL below platform/"))
            continue
        if source_layer == "core-loose":
            problems.append((number, "files of core/ belong in core/base, core/machine or core/emulator"))
            continue
        target_layer = layer_of(target)
        if target_layer is None or target_layer == "top":
            if "/" in target:
                problems.append((number, f'"{target}": includes are rooted at the top of the tree'))
            else:
                problems.append((number, f'"{target}": name the folder (includes are rooted at the top)'))
            continue
        if target_layer not in ALLOWED[source_layer]:
            problems.append((number, f'"{target}": {source_layer} may not include {target_layer}'))
            continue
        if source_layer == "chip" and target_layer == "chip":
            own, other = chip_folder(relative), chip_folder(target)
            if own != other and other not in CHIP_PEERS.get(own, set()):
                problems.append((number, f'"{target}": {own} may not include {other} (not a listed peer)'))
    return problems


def check_tree(root):
    root = pathlib.Path(root)
    problems = []
    count = 0
    for path in sorted(root.rglob("*")):
        relative = path.relative_to(root).as_posix()
        if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
            continue
        if relative.startswith(("build", ".")) or "/build" in relative:
            continue
        count += 1
        text = path.read_text(encoding="utf-8", errors="replace")
        for number, message in check_file(relative, text):
            problems.append(f"{relative}:{number}: {message}")
    return count, problems


def main(argv):
    root = argv[1] if len(argv) > 1 else pathlib.Path(__file__).resolve().parents[2]
    count, problems = check_tree(root)
    for problem in problems:
        print(problem)
    if count == 0:
        print("check_includes: no source files found under", root)
        return 1
    print(f"check_includes: {count} files, {len(problems)} wrong includes")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
