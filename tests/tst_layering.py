#!/usr/bin/python3
"""The source folders are floors: a folder includes only the folders below
it, nothing outside gui/ includes a header of Qt's widget modules (Widgets,
Charts, Print Support, the OpenGL and SVG widgets), ui_mainwindow.h or a gui/
header, and base/ includes nothing of the project above it. Every form of
include is read: "cad/drawing.h", <cad/drawing.h> and one relative to the
including file ("../gui/session.h"). The widget headers are those the
installed Qt has, not a list kept by hand; the check is first shown to catch
an upward include of each form, and widget headers, planted in a copy.

With the folder of the built libraries as well, the same floors are read off
the objects: a floor's library may leave undefined only symbols that its own
floors below define (or that come from outside the project). And the build
itself refuses an upward include: each floor's library offers only its own
headers, so a file compiled as survey/'s files are that includes a header of
cad/ or pdfreport/ does not compile, while one that includes a header of a
floor below does (compile_commands.json of the build gives the command).

Usage: tst_layering.py SOURCE_DIR (the src/ folder) [LIBRARY_DIR [BUILD_DIR]]."""
import glob
import json
import os
import shlex
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

# Each floor and the floors directly below it; a floor may use every floor
# below those too.
BELOW = {
    "base": set(),
    "domain": {"base"},
    "project": {"domain"},
    "xlsx": {"base"},
    "layout": {"project"},
    "survey": {"project", "xlsx"},  # the import reads workbooks
    "session": {"survey"},
    "preview": {"survey", "layout"},
    "report": {"survey", "layout", "xlsx"},
    "cad": {"survey", "layout"},
    "pdfreport": {"preview", "report", "cad"},
    "gui": {"pdfreport", "session"},
    "web": {"pdfreport", "session"},
    "batch": {"pdfreport", "session", "web"},
}


def floors_below(floor):
    found = set()
    todo = list(BELOW[floor])
    while todo:
        f = todo.pop()
        if f not in found:
            found.add(f)
            todo.extend(BELOW[f])
    return found


FLOORS = {floor: floors_below(floor) for floor in BELOW}
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


def floor_of(header, path, src):
    """The folder of src/ an include names, in any form: "cad/drawing.h",
    <cad/drawing.h>, "../cad/drawing.h" (relative to the including file)."""
    if header.startswith(("./", "../")):
        resolved = os.path.normpath(path.parent / header)
        try:
            return pathlib.Path(resolved).relative_to(os.path.normpath(src)).parts[0]
        except ValueError:
            return None
    return header.split("/")[0] if "/" in header else None


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
            target = floor_of(header, path, src)
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


def compile_problems(build):
    """Files compiled as survey/'s are: an upward include must not compile,
    an include of a floor below must."""
    commands = json.loads((build / "compile_commands.json").read_text(encoding="utf-8"))
    entry = next((c for c in commands if c["file"].endswith("/src/survey/levelling.cpp")), None)
    if entry is None:
        return [f"no command for survey/levelling.cpp in {build}/compile_commands.json"]
    words = shlex.split(entry["command"])
    # The compiler and its options, without the source and the object.
    kept, skip = [], False
    for word in words:
        if skip:
            skip = False
        elif word == "-o":
            skip = True
        elif word not in ("-c", entry["file"]):
            kept.append(word)
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        def compiles(text):
            source = pathlib.Path(tmp) / "planted.cpp"
            source.write_text(text, encoding="utf-8")
            done = subprocess.run(kept + ["-fsyntax-only", str(source)], cwd=entry["directory"],
                                  capture_output=True, text=True)
            return done.returncode == 0, done.stderr
        ok, why = compiles('#include "domain/projectsnapshot.h"\n#include <project/projectdb.h>\n')
        if not ok:
            problems.append(f"a file of survey/ including floors below does not compile: {why[:400]}")
        for planted in ('#include <cad/drawing.h>\n', '#include "pdfreport/monitoringreport.h"\n',
                        '#include "gui/session.h"\n'):
            ok, _ = compiles(planted)
            if ok:
                problems.append(f"the build accepts in survey/: {planted.strip()}")
    return problems


def main():
    src = pathlib.Path(sys.argv[1])
    widgets = widget_headers()
    # The check itself: an upward include of each form and widget headers,
    # planted in survey/ of a copy, must be found.
    with tempfile.TemporaryDirectory() as tmp:
        copy = pathlib.Path(tmp) / "src"
        shutil.copytree(src, copy)
        planted = copy / "survey" / "planted.h"
        planted.write_text("#pragma once\n#include <QSpinBox>\n#include <QMenu>\n#include <cad/drawing.h>\n"
                           "#include \"../gui/session.h\"\n#include <pdfreport/monitoringreport.h>\n"
                           "#include \"preview/planpicture.h\"\n#include \"../domain/settlement.h\"\n",
                           encoding="utf-8")
        found = problems_in(copy, widgets)
        missed = [n for n in range(2, 8) if not any(f"planted.h:{n}:" in p for p in found)]
        wrongly = [p for p in found if "planted.h:8:" in p]
        if missed or wrongly:
            print("the check missed lines", missed, "of planted.h or refused an include of a floor below:", found)
            return 1
    problems = problems_in(src, widgets)
    if len(sys.argv) > 2:
        problems += link_problems(pathlib.Path(sys.argv[2]))
    if len(sys.argv) > 3:
        problems += compile_problems(pathlib.Path(sys.argv[3]))
    for problem in problems:
        print(problem)
    print(f"{0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
