#!/usr/bin/env python3
"""Checks that src/ keeps its layers: every #include "folder/..." points to the
same folder or a lower layer, and no window includes another window's files.

    base <- core, ui <- i18n <- windows, update, cli <- shell

The update client and the command line work without windows: they include
neither ui/ nor i18n/.
Prints each include that breaks the rule and exits 1 when there is one."""

import pathlib
import re
import sys

LAYERS = {
    "base": 0,
    "core": 1,
    "ui": 1,
    "i18n": 2,
    "about_window": 3,
    "main_window": 3,
    "settings_dialog": 3,
    "update_dialog": 3,
    "update": 3,
    "cli": 3,
    "shell": 4,
}
WINDOWS = {"about_window", "main_window", "settings_dialog", "update_dialog"}
WINDOWLESS = {"update", "cli"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.MULTILINE)


def main() -> int:
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent / "src")
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or path.parent.parent != src:
            continue
        folder = path.parent.name
        if folder not in LAYERS:
            faults.append(f"{path}: folder {folder!r} has no layer")
            continue
        for target in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if target not in LAYERS:
                continue
            if target == folder:
                continue
            same_rank_windows = folder in WINDOWS and target in WINDOWS
            windowless = folder in WINDOWLESS and target in ("ui", "i18n")
            if LAYERS[target] > LAYERS[folder] or same_rank_windows or windowless or (
                LAYERS[target] == LAYERS[folder] and {folder, target} == {"core", "ui"}
            ):
                faults.append(f"{path}: includes {target}/, which is not below {folder}/")
    for fault in faults:
        print(fault)
    print(f"layers: {'ok' if not faults else str(len(faults)) + ' includes break the rule'}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
