#!/usr/bin/env python3
"""include_order.py [SRC] - fails when an include in SRC (default src/) crosses the layers.

The layers, highest first: api -> {defined, standard, run} -> tree -> support,
diagnostics -> containers. A file may include its own folder and any lower
layer; the three folders of one layer never include each other, and nothing
includes api. Internal headers are named with their folder ("tree/handle.h");
a bare name is only the public headers' or a file's own neighbour's.
"""
import os
import re
import sys

LEVEL = {"api": 4, "defined": 3, "standard": 3, "run": 3, "tree": 2,
         "support": 1, "diagnostics": 1, "containers": 0}
PUBLIC = {"lib_parse.h", "lib_parse.hpp", "diagnostics.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def problems(src):
    for root, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".h", ".c", ".cpp")):
                continue
            path = os.path.join(root, name)
            folder = os.path.relpath(root, src).split(os.sep)[0]
            if folder not in LEVEL:
                yield f"{path}: not in a layer's folder ({', '.join(LEVEL)})"
                continue
            with open(path, encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    target = m.group(1)
                    where = f"{path}:{number}: #include \"{target}\""
                    if "/" not in target:
                        if target not in PUBLIC and not os.path.exists(os.path.join(root, target)):
                            yield f"{where}: an internal header is named with its folder"
                        continue
                    other = target.split("/")[0]
                    if other not in LEVEL or not os.path.exists(os.path.join(src, target)):
                        yield f"{where}: no such header under {src}"
                    elif other != folder and LEVEL[other] >= LEVEL[folder]:
                        yield f"{where}: {folder}/ may not include {other}/"


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else "src"
    found = list(problems(src))
    for p in found:
        print(p)
    if found:
        print(f"{len(found)} include(s) against the layers", file=sys.stderr)
        return 1
    print("includes follow the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
