#!/usr/bin/env python3
"""Fails when a source file includes a header of a later layer.

The folders of src/ are layered app <- quote <- display <- options <- main
(src/main.cpp): a file may include headers of its own folder and of the
folders before it, never of a folder after it.
"""
import re
import sys
from pathlib import Path

LAYERS = ["app", "quote", "display", "options"]
MAIN = len(LAYERS)
INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*"([^"/]+)/[^"]+"', re.MULTILINE)


def layer_of(path: Path, src: Path) -> int | None:
    parts = path.relative_to(src).parts
    if len(parts) == 1:
        return MAIN
    return LAYERS.index(parts[0]) if parts[0] in LAYERS else None


def main() -> int:
    src = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2] / "src"
    checked = 0
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".h", ".cpp"}:
            continue
        own = layer_of(path, src)
        if own is None:
            continue
        checked += 1
        for match in INCLUDE.finditer(path.read_text(encoding="utf-8")):
            folder = match.group(1)
            if folder in LAYERS and LAYERS.index(folder) > own:
                line = path.read_text(encoding="utf-8").count("\n", 0, match.start()) + 1
                faults.append(f"{path.relative_to(src)}:{line}: includes {folder}/, a later layer")
    if checked == 0:
        print(f"no sources found under {src}", file=sys.stderr)
        return 1
    for fault in faults:
        print(fault, file=sys.stderr)
    print(f"{checked} files checked, {len(faults)} backward includes")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
