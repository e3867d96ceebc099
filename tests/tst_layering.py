#!/usr/bin/python3
"""The source folders are floors: a folder includes only the folders below
it, nothing outside gui/ includes a header of Qt's widget modules (Widgets,
Charts, Print Support, the OpenGL and SVG widgets), ui_mainwindow.h or a gui/
header, and base/ includes nothing of the project above it. The widget
headers are those the installed Qt has, not a list kept by hand; the check
is first shown to catch one planted in survey/.

With the folder of the built libraries as well, the same floors are read off
the objects: a floor's library may leave undefined only symbols that its own
floors below define (or that come from outside the project).

Usage: tst_layering.py SOURCE_DIR (the src/ folder) [LIBRARY_DIR]."""
import glob
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

FLOORS = {
    "base": set(),
    "project": {"base"},
    "survey": {"base", "project", "xlsx"},  # the import reads workbooks
    "layout": {"base", "project"},
    "xlsx": {"base"},
    "preview": {"base", "project", "survey", "layout"},
    "report": {"base", "project", "survey", "layout", "xlsx"},
    "cad": {"base", "project", "survey", "layout"},
    "pdfreport": {"base", "project", "survey", "layout", "xlsx", "preview", "report", "cad"},
    "gui": {"base", "project", "survey", "layout", "xlsx", "preview", "report", "cad", "pdfreport"},
    "batch": {"base", "project", "survey", "layout", "xlsx", "preview", "report", "cad", "pdfreport"},
}
WIDGET_MODULES = ("QtWidgets", "QtCharts", "QtPrintSupport", "QtOpenGLWidgets", "QtSvgWidgets",
                  "QtQuickWidgets")


def widget_headers():
    """Every header of the installed widget modules, as it may be included:
    <QSpinBox>, <qspinbox.h>, <QtWidgets/QSpinBox>, <QtWidgets>."""
    names = set()
    for module in WIDGET_MODULES:
        for folder in glob.glob(f"/usr/include/*/qt6/{module}") + glob.glob(f"/usr/include/qt6/{module}"):
            names.add(module)
            for header in pathlib.Path(folder).iterdir():
                if header.is_file():
                    names.add(header.name)
                    names.add(f"{module}/{header.name}")
    if "QSpinBox" not in names:
        raise SystemExit("the Qt Widgets headers were not found under /usr/include")
    return names


INCLUDE = re.compile(r'^\s*#\s*include\s+([<"])([^>"]+)[>"]')


def problems_in(src, widgets):
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
                if kind == "<" and header in widgets:
                    problems.append(f"{where}: includes the widget header {header}")
            if kind == '"' and "/" in header:
                target = header.split("/")[0]
                if target in FLOORS and target not in allowed:
                    problems.append(f"{where}: {folder}/ may not include {header}")
    return problems


def symbols(library, *flags):
    """The symbols nm lists for a static library, mangled."""
    done = subprocess.run(["nm", "--format=posix", *flags, str(library)], capture_output=True, text=True,
                          check=True)
    names = set()
    for line in done.stdout.splitlines():
        parts = line.split()
        if len(parts) >= 2 and not line.endswith(":") and parts[1] != "":
            names.add(parts[0])
    return names


def link_problems(libraries):
    """Undefined symbols of a floor's library that a floor it may not use defines."""
    floors = [f for f in FLOORS if (libraries / f"libsedimetra_{f}.a").exists()]
    if not floors:
        return [f"no floor libraries in {libraries}"]
    defined = {f: symbols(libraries / f"libsedimetra_{f}.a", "--defined-only") for f in floors}
    problems = []
    for floor in floors:
        allowed = FLOORS[floor] | {floor}
        for symbol in sorted(symbols(libraries / f"libsedimetra_{floor}.a", "--undefined-only")):
            owners = [f for f in floors if symbol in defined[f]]
            if owners and not any(o in allowed for o in owners):
                problems.append(f"libsedimetra_{floor}.a uses {symbol} of {owners[0]}/")
    return problems


def main():
    src = pathlib.Path(sys.argv[1])
    widgets = widget_headers()
    # The check itself: a widget header planted in survey/ must be found.
    with tempfile.TemporaryDirectory() as tmp:
        copy = pathlib.Path(tmp) / "src"
        shutil.copytree(src, copy)
        planted = copy / "survey" / "planted.h"
        planted.write_text("#pragma once\n#include <QSpinBox>\n#include <QMenu>\n", encoding="utf-8")
        found = problems_in(copy, widgets)
        if not any("planted.h:2" in p for p in found) or not any("planted.h:3" in p for p in found):
            print("the check missed widget headers planted in survey/:", found)
            return 1
    problems = problems_in(src, widgets)
    if len(sys.argv) > 2:
        problems += link_problems(pathlib.Path(sys.argv[2]))
    for problem in problems:
        print(problem)
    print(f"{0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
