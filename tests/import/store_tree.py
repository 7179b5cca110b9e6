#!/usr/bin/python3
"""Prints the calendar folders of a store as libpff reads them: one line per folder below the top
of the personal folders, "path<TAB>container class<TAB>items<TAB>subjects", sorted by path.
Usage: store_tree.py STORE.pst"""
import sys

import pypff


def main(path):
    f = pypff.file()
    f.open(path)
    root = f.get_root_folder()
    # The top of the personal folders: the root's folder holding "Deleted Items".
    top = None
    for i in range(root.number_of_sub_folders):
        candidate = root.get_sub_folder(i)
        names = [candidate.get_sub_folder(j).name for j in range(candidate.number_of_sub_folders)]
        if "Deleted Items" in names:
            top = candidate
    lines = []

    def walk(folder, prefix):
        for i in range(folder.number_of_sub_folders):
            sub = folder.get_sub_folder(i)
            if prefix == "" and sub.name == "Deleted Items":
                continue
            path = prefix + "\\" + sub.name if prefix else sub.name
            subjects = []
            for m in range(sub.number_of_sub_messages):
                msg = sub.get_sub_message(m)
                subjects.append(msg.subject or "")
            container = ""
            record_sets = sub.record_sets
            for rs in record_sets:
                for entry in rs.entries:
                    if entry.entry_type == 0x3613:
                        container = entry.data_as_string
            lines.append("%s\t%s\t%d\t%s" % (path, container, len(subjects), "|".join(sorted(subjects))))
            walk(sub, path)

    walk(top, "")
    for line in sorted(lines):
        print(line)


if __name__ == "__main__":
    main(sys.argv[1])
