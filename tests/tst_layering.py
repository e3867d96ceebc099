#!/usr/bin/python3
"""The source folders are floors: a folder includes only the folders below
it, nothing outside gui/ includes a QtWidgets header, ui_mainwindow.h or a
gui/ header, and base/ includes nothing of the project above it.

Usage: tst_layering.py SOURCE_DIR (the src/ folder)."""
import pathlib
import re
import sys

FLOORS = {
    "base": set(),
    "project": {"base"},
    "survey": {"base", "project", "xlsx"},  # the import reads workbooks
    "layout": {"base", "project"},
    "xlsx": {"base"},
    "preview": {"base", "project", "survey", "layout"},
    "report": {"base", "project", "survey", "layout", "xlsx"},
    "cad": {"base", "project", "survey", "layout"},
    "gui": {"base", "project", "survey", "layout", "xlsx", "preview", "report", "cad"},
    "batch": {"base", "project", "survey", "layout", "xlsx", "preview", "report", "cad"},
}
WIDGET_HEADERS = re.compile(
    r"<(QtWidgets/.*|Q(Application|Widget|MainWindow|Dialog|MessageBox|LineEdit|Label|"
    r"PushButton|ComboBox|CheckBox|RadioButton|TableWidget|ListWidget|FileDialog|"
    r"AbstractButton|Frame|ScrollBar|HeaderView|StyledItemDelegate|GroupBox)\b.*)>")
INCLUDE = re.compile(r'^\s*#\s*include\s+([<"])([^>"]+)[>"]')


def main():
    src = pathlib.Path(sys.argv[1])
    problems = []
    folders = {p.name for p in src.iterdir() if p.is_dir()}
    unknown = folders - set(FLOORS)
    if unknown:
        problems.append(f"folders that are no floor: {sorted(unknown)}")
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".h", ".cpp"}:
            continue
        folder = path.relative_to(src).parts[0]
        allowed = FLOORS.get(folder, set()) | {folder}
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            kind, header = match.groups()
            where = f"{path.relative_to(src)}:{number}"
            if folder != "gui":
                if header == "ui_mainwindow.h":
                    problems.append(f"{where}: includes ui_mainwindow.h")
                if kind == "<" and WIDGET_HEADERS.match("<" + header + ">"):
                    problems.append(f"{where}: includes the widget header {header}")
            if kind == '"' and "/" in header:
                target = header.split("/")[0]
                if target in FLOORS and target not in allowed:
                    problems.append(f"{where}: {folder}/ may not include {header}")
    for problem in problems:
        print(problem)
    print(f"{0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
