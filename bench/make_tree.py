#!/usr/bin/env python3
"""Makes a folder tree for the add-folder benchmark: FILES empty files in FOLDERS folders, three
levels deep, one file in ten a calendar file (.ics or .vcs)."""
import os
import sys


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: make_tree.py DIR [FILES] [FOLDERS]")
    root = sys.argv[1]
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 100_000
    folders = int(sys.argv[3]) if len(sys.argv) > 3 else 10_000
    paths = []
    for i in range(folders):
        # 10 top folders, 10 below each, the rest spread beneath those.
        path = os.path.join(root, f"top{i % 10}", f"mid{(i // 10) % 10}", f"leaf{i}")
        paths.append(path)
        os.makedirs(path, exist_ok=True)
    for n in range(files):
        folder = paths[n % folders]
        if n % 10 == 0:
            name = f"event{n}.ics" if n % 20 == 0 else f"event{n}.vcs"
        else:
            name = f"note{n}.txt"
        open(os.path.join(folder, name), "wb").close()


if __name__ == "__main__":
    main()
