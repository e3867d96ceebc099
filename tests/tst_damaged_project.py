#!/usr/bin/python3
"""A project with a damaged table page: sedimetra-batch refuses to draw or
tabulate it, exits 1 with a one-line reason naming the file, and writes no
output. Usage: tst_damaged_project.py BIN_DIR."""
import os
import pathlib
import shutil
import sqlite3
import subprocess
import sys
import tempfile

BIN = pathlib.Path(sys.argv[1])


def make_project(path, epochs):
    shutil.copy(BIN / "Support" / "Db" / "数据库模板.mdb", path)
    db = sqlite3.connect(path)
    for k in range(epochs):
        db.execute("INSERT INTO Sur1 (CjNo, MyDate, Name, Layers) VALUES (?, ?, ?, ?)",
                   (k, f"2018-{1 + k // 28:02d}-{1 + k % 28:02d}", f"第{k + 1}次观测" * 4, str(k)))
        for j in range(1, 16):
            db.execute("INSERT INTO Sur2 (CjNo, CjdNo, PointH) VALUES (?, ?, ?)",
                       (k, j, 100.0 - 0.0001 * k * j))
    db.commit()
    page_size = db.execute("PRAGMA page_size").fetchone()[0]
    root = db.execute("SELECT rootpage FROM sqlite_master WHERE name = 'Sur1'").fetchone()[0]
    db.close()
    return page_size, root


def main():
    failures = []
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        program = work / "程序"
        shutil.copytree(BIN, program, symlinks=False)
        project = work / "坏的 工程.mdb"
        page_size, root = make_project(project, 200)
        # The first page of Sur1 overwritten with zeros, as a bad sector would.
        with open(project, "r+b") as f:
            f.seek((root - 1) * page_size)
            f.write(bytes(page_size))
        for command, output in (("table", work / "坏的 工程.xlsx"), ("curves", work / "坏的 工程.dxf")):
            args = [str(program / "sedimetra-batch"), command, str(project)]
            if command == "curves":
                args += ["--kind", "settlement"]
            run = subprocess.run(args, capture_output=True, text=True, timeout=60,
                                 env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
            lines = run.stderr.strip().splitlines()
            if run.returncode != 1:
                failures.append(f"{command}: exit {run.returncode}, stderr {run.stderr!r}")
            elif len(lines) != 1 or "坏的 工程.mdb" not in lines[0]:
                failures.append(f"{command}: the reason is not one line naming the file: {lines}")
            if output.exists():
                failures.append(f"{command}: wrote {output.name} from a damaged project")
            print(f"{command}: exit {run.returncode}: {run.stderr.strip()}")
    for failure in failures:
        print("FAIL", failure)
    print(f"{2 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
