#!/usr/bin/python3
"""A project file's record: changes made with another SQLite program are
found by `verify`, told by the report, and an untouched project verifies;
the program's own files are never a project; two programs adding epochs at
once keep them in date order; every field's rule holds for the script
commands as for the window.

usage: tst_record.py BIN_DIR SOURCE_DIR
"""
import os
import pathlib
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import threading
import unittest

BIN = pathlib.Path(sys.argv[1])
SOURCE = pathlib.Path(sys.argv[2])
GSI = SOURCE / "tests" / "fixtures" / "loop_bm1.gsi"
TEMPLATE = BIN / "Support" / "Db" / "数据库模板.mdb"


def batch(*args, **kwargs):
    return subprocess.run([str(BIN / "sedimetra-batch"), *map(str, args)], capture_output=True, timeout=120,
                          text=kwargs.pop("text", True), **kwargs)


def levelled(path):
    """Four points levelled from the GSI fixture, then a second epoch typed in."""
    for step in (("new", path), ("points", path, "add", "BM1", "J1", "J2", "J3"),
                 ("level", GSI, "--into", path, "--new-epoch", "--date", "2024-01-01", "--name", "首次",
                  "--layers", "1", "--fixed", "BM1=10"),
                 ("epoch", path, "add", "--date", "2024-02-01", "--name", "二次", "--layers", "2")):
        run = batch(*step)
        assert run.returncode == 0, run.stderr
    return path


class Record(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.tmp.name)

    def tearDown(self):
        self.tmp.cleanup()

    def test_changes_made_outside_are_found_and_reported(self):
        project = levelled(self.root / "楼.mdb")
        clean = batch("verify", project)
        self.assertEqual(clean.returncode, 0, clean.stdout + clean.stderr)
        self.assertIn("记录完整", clean.stdout)
        with sqlite3.connect(project) as db:
            last_hash = db.execute("SELECT Hash FROM History ORDER BY Id DESC LIMIT 1").fetchone()[0]
            deleted_row = db.execute("SELECT min(Id) FROM History WHERE Kind = 'N'").fetchone()[0]
            altered_row = db.execute("SELECT max(Id) FROM History WHERE Kind = 'L'").fetchone()[0]
        self.assertIn(last_hash, clean.stdout)
        # Five edits with another SQLite program: a value (-30 mm), a
        # deletion, an epoch's date, a history row deleted, another's value.
        with sqlite3.connect(project) as db:
            db.execute("UPDATE Sur2 SET PointH = PointH - 0.03 WHERE CjNo = 0 AND CjdNo = 2")
            db.execute("DELETE FROM Sur2 WHERE CjNo = 0 AND CjdNo = 3")
            db.execute("UPDATE Sur1 SET MyDate = '2024-02-02' WHERE CjNo = 1")
            db.execute("DELETE FROM History WHERE Id = ?", (deleted_row,))
            db.execute("UPDATE History SET NewValue = '9' WHERE Id = ?", (altered_row,))
        found = batch("verify", project)
        self.assertEqual(found.returncode, 1, found.stdout + found.stderr)
        for expected in ("J1 第 0 次：库中 10.22010，记录为 10.25010，程序之外修改",
                         "J2 第 0 次：库中没有，记录为 9.79950，程序之外删除",
                         "第 1 次观测的观测日期：库中 2024-02-02，记录为 2024-02-01，程序之外修改",
                         f"修改记录第 {deleted_row + 1} 条与记录链不符",
                         f"修改记录第 {altered_row} 条与记录链不符"):
            self.assertIn(expected, found.stdout)
        self.assertIn("发现 6 处未经记录的修改", found.stdout)  # the altered floors differ from Sur1 too

        # The report lists them in place of "no changes", with the chain's end.
        report = self.root / "报告.pdf"
        made = batch("report", project, "--out", report)
        self.assertEqual(made.returncode, 0, made.stderr)
        text = subprocess.run(["pdftotext", "-layout", str(report), "-"], capture_output=True, text=True).stdout
        flat = re.sub(r"\s+", "", text)
        self.assertIn("发现6处未经记录的修改", flat)
        # The report counts epochs from 1, as its overview does.
        self.assertIn("J1第1次：库中10.22010，记录为10.25010，程序之外修改", flat)
        self.assertIn("第2次观测的观测日期：库中2024-02-02", flat)
        self.assertNotIn("首次录入后没有高程被修改或删除", flat)
        self.assertIn(last_hash, flat)

        # A write with the program afterwards does not make good the edits.
        batch("epoch", project, "add", "--date", "2024-03-01", "--name", "三次", "--layers", "3")
        self.assertEqual(batch("verify", project).returncode, 1)

    def test_the_programs_own_files_are_never_a_project(self):
        own = self.root / "bin"
        shutil.copytree(BIN, own, symlinks=True)
        template = own / "Support" / "Db" / "数据库模板.mdb"
        workbook = self.root / "高程.csv"
        workbook.write_text("点名,东,北\nJ1,1,2\n", encoding="utf-8")
        for target in (template, own / "Sdmx.mdb", own / "Support" / "Db" / ".." / "Db" / "数据库模板.mdb"):
            before = target.read_bytes()
            for args in (("points", target, "add", "J9"),
                         ("epoch", target, "add", "--date", "2024-01-01", "--name", "A", "--layers", "1"),
                         ("header", target, "工程名称=X"),
                         ("level", GSI, "--into", target, "--new-epoch", "--date", "2024-01-01", "--name", "A",
                          "--layers", "1", "--fixed", "BM1=10"),
                         ("import", target, "--epoch", "0", GSI),
                         ("coords", target, workbook)):
                with self.subTest(target=target.name, command=args[0]):
                    run = subprocess.run([str(own / "sedimetra-batch"), *map(str, args)], capture_output=True,
                                         text=True, timeout=60)
                    self.assertNotEqual(run.returncode, 0, run.stdout)
                    self.assertEqual(target.read_bytes(), before)
        fake = self.root / "passwd.mdb"
        made = batch("new", self.root / "新.mdb", "--template", "/etc/passwd")
        self.assertEqual(made.returncode, 1, made.stdout)
        self.assertIn("不是沉降工程模板", made.stderr)
        self.assertFalse((self.root / "新.mdb").exists())
        self.assertFalse(fake.exists())

    def test_two_programs_adding_epochs_keep_date_order(self):
        project = levelled(self.root / "并行.mdb")
        batch("epoch", project, "add", "--date", "2024-12-01", "--name", "末次", "--layers", "9")
        for round_ in range(6):
            days = (f"2024-{3 + round_:02d}-10", f"2024-{3 + round_:02d}-20")
            results = {}

            def add(day):
                results[day] = batch("epoch", project, "add", "--date", day, "--name", "并" + day, "--layers", "2")
            threads = [threading.Thread(target=add, args=(day,)) for day in days]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            for day in days:
                self.assertEqual(results[day].returncode, 0, results[day].stderr)
        with sqlite3.connect(project) as db:
            dates = [row[0] for row in db.execute("SELECT MyDate FROM Sur1 ORDER BY CjNo")]
        self.assertEqual(dates, sorted(dates))
        self.assertEqual(len(dates), 15)
        self.assertEqual(batch("verify", project).returncode, 0)

    def test_every_field_keeps_its_rule(self):
        project = levelled(self.root / "规则.mdb")
        with sqlite3.connect(project) as db:
            before = db.execute("SELECT count(*) FROM Sur1").fetchone()[0]
        epoch = ("epoch", project, "add", "--date")
        rows = {
            "floors beyond the box": ((*epoch, "2025-01-01", "--name", "大", "--layers", "99999999999999999999"),
                                      "0 到 999"),
            "a date another epoch has": ((*epoch, "2024-02-01", "--name", "重日", "--layers", "1"), "日期已存在"),
            "a name differing in case": ((*epoch, "2025-01-02", "--name", "二次", "--layers", "1"), "名称已存在"),
            "a control character in a name": ((*epoch, "2025-01-03", "--name", "A\tB", "--layers", "1"), "控制字符"),
            "a zero-width space in a name": ((*epoch, "2025-01-04", "--name", "A\u200bB", "--layers", "1"),
                                             "不可见字符"),
            "a point name of 20,000 characters": (("points", project, "add", "J" * 20000), "最多 40 个字符"),
            "a stable rate that is no number": (("header", project, "稳定速率=nan"), "稳定速率“nan”应为大于 0"),
            "a stable rate beyond any double": (("header", project, "稳定速率=1e999"), "不超过 10 mm/d"),
            "a negative stable rate": (("header", project, "稳定速率=-1"), "稳定速率“-1”"),
            "a benchmark height in letters": (("header", project, "起算高程=abc"), "-500 m 到 9000 m 之间"),
            "a window of days that is not whole": (("header", project, "稳定天数=2.5"), "整数"),
        }
        for case, (args, said) in rows.items():
            with self.subTest(case=case):
                run = batch(*args)
                self.assertEqual(run.returncode, 1, run.stdout)
                self.assertIn(said, run.stderr)
        # An argument that is no UTF-8 is refused before anything is read.
        raw = subprocess.run([str(BIN / "sedimetra-batch"), "epoch", str(project), "add", "--date", "2025-02-01",
                              "--name", b"\xff\xfeAB", "--layers", "1"], capture_output=True, timeout=60)
        self.assertEqual(raw.returncode, 2)
        self.assertIn("不是有效的 UTF-8", raw.stderr.decode())
        with sqlite3.connect(project) as db:
            self.assertEqual(db.execute("SELECT count(*) FROM Sur1").fetchone()[0], before)
            pass
        self.assertNotIn("稳定速率", batch("header", project, "--format", "json").stdout)
        # The accepted forms: floors within the box, a full-width name read as NFKC.
        ok = batch(*epoch, "2025-03-01", "--name", "ＡＢ", "--layers", "12")
        self.assertEqual(ok.returncode, 0, ok.stderr)
        with sqlite3.connect(project) as db:
            self.assertEqual(db.execute("SELECT Name, Layers FROM Sur1 WHERE MyDate = '2025-03-01'").fetchone(),
                             ("AB", 12))
        self.assertEqual(batch("header", project, "稳定速率=0.04", "起算高程=12.5").returncode, 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:])
