#!/usr/bin/env python3
"""Fails when a source file includes what its folder may not depend on.

The rules are the README's layout table ("| `folder/` | holds | may depend on |"):
project folders named in backticks in the last column may be included, besides
the folder itself; words in it allow outside headers: "Qt" (<Q...>), "hidapi",
"prometheus", "Qwt", "POSIX" (C and system headers such as <unistd.h>,
<sys/...>, <linux/...>), "everything". The C++ standard library (<vector>,
<cstdint>) is always allowed. A quoted include without a folder is the
folder's own or a generated header (ui_mainwindow.h).

    check_layering.py ROOT
"""
import os
import re
import sys

SOURCE = re.compile(r"\.(h|hpp|cpp|cc)$")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
ROW = re.compile(r"^\|\s*`([a-z_]+)/`\s*\|[^|]*\|([^|]*)\|\s*$")


def rules(readme):
    table = {}
    for line in open(readme, encoding="utf-8"):
        match = ROW.match(line.strip())
        if match:
            table[match.group(1)] = match.group(2)
    return table


def allowed(folder, allowance, header, quoted, folders):
    if "everything" in allowance:
        return True
    first = header.split("/")[0]
    if quoted and "/" not in header:
        return True
    if first in folders:
        return first == folder or ("`%s/`" % first) in allowance
    if quoted:
        return False  # a quoted path into something that is not ours
    if re.match(r"^Q[A-Za-z]*(/|$)", header):
        return "Qt" in allowance
    if first == "hidapi":
        return "hidapi" in allowance
    if first == "prometheus":
        return "prometheus" in allowance
    if first.startswith("qwt"):
        return "Qwt" in allowance
    if re.match(r"^[a-z_]+$", header):
        return True  # the C++ standard library
    return "POSIX" in allowance


def main():
    root = sys.argv[1]
    table = rules(os.path.join(root, "README.md"))
    if "device" not in table or "link" not in table:
        sys.exit("check_layering: no layout table found in README.md")
    folders = set(table)
    problems = []
    for folder, allowance in sorted(table.items()):
        base = os.path.join(root, folder)
        for directory, _, files in os.walk(base):
            for name in sorted(files):
                if not SOURCE.search(name):
                    continue
                path = os.path.join(directory, name)
                text = open(path, encoding="utf-8", errors="replace").read()
                for kind, header in INCLUDE.findall(text):
                    if not allowed(folder, allowance, header, kind == '"', folders):
                        problems.append("%s includes %s%s%s, which %s/ may not depend on"
                                        % (os.path.relpath(path, root), kind, header,
                                           '"' if kind == '"' else ">", folder))
    for problem in problems:
        print(problem)
    if problems:
        sys.exit(1)
    print("layering: %d folders checked" % len(table))


if __name__ == "__main__":
    main()
