#!/usr/bin/python3
"""An import killed at random moments leaves the elevations and their
history consistent: both or neither.

usage: tst_killed_import.py BIN_DIR BENCH_DIR
"""
import pathlib
import random
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

import openpyxl

BIN = pathlib.Path(sys.argv[1])
BENCH = pathlib.Path(sys.argv[2])
EPOCH = 30
POINTS = 150


def workbook(path, offset):
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "Sheet1"
    sheet.append(["点名", "高程"])
    for n in range(1, POINTS + 1):
        sheet.append([f"J{n}", round(100 + n / 100 + offset, 5)])
    book.save(path)
    return {n: round(100 + n / 100 + offset, 5) for n in range(1, POINTS + 1)}


class KilledImport(unittest.TestCase):
    def test_elevations_and_history_land_together(self):
        with tempfile.TemporaryDirectory() as tmp:
            root = pathlib.Path(tmp)
            project = root / "楼.mdb"
            subprocess.run([str(BENCH / "sedimetra-make-large-project"), str(project), str(POINTS), "60"],
                           check=True, capture_output=True, timeout=120)
            books = [(root / f"{i}.xlsx", workbook(root / f"{i}.xlsx", 0.001 * (i + 1))) for i in range(2)]
            command = [str(BIN / "sedimetra-batch"), "import", str(project), "--epoch", str(EPOCH)]

            # How long a whole import takes: the kills fall within it.
            start = time.monotonic()
            subprocess.run(command + [str(books[0][0])], check=True, capture_output=True, timeout=60)
            whole = time.monotonic() - start
            landed = 1
            current = books[0][1]
            rng = random.Random(36)
            for attempt in range(24):
                book, values = books[(attempt + 1) % 2]
                if values == current:
                    book, values = books[attempt % 2]
                process = subprocess.Popen(command + [str(book)], stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL)
                time.sleep(rng.uniform(0, whole * 1.2))
                process.send_signal(signal.SIGKILL)
                process.wait(timeout=60)
                with sqlite3.connect(project) as db:
                    self.assertEqual(db.execute("PRAGMA integrity_check").fetchone()[0], "ok")
                    heights = dict(db.execute("SELECT CjdNo, PointH FROM Sur2 WHERE CjNo = ?", (EPOCH,)))
                    # The whole import or none of it.
                    mixed = sum(heights[n] != current[n] for n in heights)
                    self.assertIn(mixed, (0, POINTS), f"attempt {attempt}: {mixed} of {POINTS} heights imported")
                    if mixed:
                        current = values
                        landed += 1
                    # Each height's last history row and its origin are the import's.
                    last = dict(db.execute(
                        "SELECT h.CjdNo, h.NewValue FROM History h WHERE h.CjNo = ? AND h.Id = "
                        "(SELECT max(Id) FROM History g WHERE g.CjNo = h.CjNo AND g.CjdNo = h.CjdNo)",
                        (EPOCH,)))
                    self.assertEqual(last, heights)
                    imported = db.execute(
                        "SELECT count(*) FROM History h JOIN Entries e ON e.Id = h.EntryId "
                        "WHERE h.CjNo = ? AND e.How = 'import'", (EPOCH,)).fetchone()[0]
                    self.assertEqual(imported, POINTS * landed)
                    origins = db.execute(
                        "SELECT count(*) FROM Origins o JOIN Entries e ON e.Id = o.EntryId "
                        "WHERE o.CjNo = ? AND e.How = 'import' AND o.Line = o.CjdNo + 1", (EPOCH,)).fetchone()[0]
                    self.assertEqual(origins, POINTS)
            # Some kills came too late to stop an import, some in time.
            self.assertGreater(landed, 1)
            self.assertLess(landed, 25)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
