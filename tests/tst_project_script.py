#!/usr/bin/python3
"""A project made and kept from a script with sedimetra-batch: new, points,
epochs in date order, the header, and the report of it.

usage: tst_project_script.py BIN_DIR SOURCE_DIR
"""
import hashlib
import json
import pathlib
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

BIN = pathlib.Path(sys.argv[1])
SOURCE = pathlib.Path(sys.argv[2])


class ProjectScript(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.tmp.name)
        self.program = self.root / "program"
        self.program.mkdir()
        shutil.copy(BIN / "sedimetra-batch", self.program)
        shutil.copytree(BIN / "Support", self.program / "Support")
        with sqlite3.connect(self.program / "Sdmx.mdb") as db:
            db.executescript((SOURCE / "Support/Db/sdmx.sql").read_text(encoding="utf-8"))

    def tearDown(self):
        self.tmp.cleanup()

    def batch(self, *args, code=0):
        run = subprocess.run([str(self.program / "sedimetra-batch"), *map(str, args)],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, code, run.stdout + run.stderr)
        return run

    def test_from_nothing_to_the_report(self):
        project = self.root / "楼.mdb"
        self.batch("new", project)
        before = hashlib.sha256(project.read_bytes()).hexdigest()
        self.assertIn("已存在", self.batch("new", project, code=1).stderr)
        self.assertEqual(hashlib.sha256(project.read_bytes()).hexdigest(), before)

        self.batch("points", project, "add", "j1", "J2", "J3")
        self.assertIn("已存在", self.batch("points", project, "add", "J02", code=1).stderr)
        points = json.loads(self.batch("points", project, "list", "--format", "json").stdout)
        self.assertEqual([(p["number"], p["name"]) for p in points], [(1, "J1"), (2, "J2"), (3, "J3")])

        # Entered out of order: each goes in its place by date.
        for date, name, layers in (("2024-03-01", "首次", 2), ("2024-05-01", "第三次", 6),
                                   ("2024/04/01", "第二次", 4)):
            self.batch("epoch", project, "add", "--date", date, "--name", name, "--layers", layers)
        self.batch("epoch", project, "add", "--date", "2024-06-31", "--name", "坏", "--layers", 1, code=2)
        self.assertIn("名称已存在",
                      self.batch("epoch", project, "add", "--date", "2024-07-01", "--name", "首次",
                                 "--layers", 1, code=1).stderr)
        epochs = json.loads(self.batch("epoch", project, "list", "--format", "json").stdout)
        self.assertEqual([(e["number"], e["date"], e["name"], e["layers"]) for e in epochs],
                         [(0, "2024-03-01", "首次", "2"), (1, "2024-04-01", "第二次", "4"),
                          (2, "2024-05-01", "第三次", "6")])

        self.batch("header", project, "工程名称=阳光花园 1 号楼", "倾斜预警值=3", "稳定速率=0.02")
        self.assertIn("0.1", self.batch("header", project, "倾斜预警值=3000", code=1).stderr)
        self.batch("header", project, "颜色=红", code=2)
        header = json.loads(self.batch("header", project, "--format", "json").stdout)
        self.assertEqual(header, {"工程名称": "阳光花园 1 号楼", "倾斜预警值": "3‰", "稳定速率": "0.02"})

        with sqlite3.connect(project) as db:
            db.executemany("INSERT INTO Sur2 VALUES (?, ?, ?)",
                           [(k, j, 20 + j - 0.001 * k * j) for k in range(3) for j in (1, 2, 3)])
        pdf = self.root / "楼.pdf"
        self.batch("report", project, "--out", pdf)
        text = subprocess.run(["pdftotext", "-layout", pdf, "-"], capture_output=True, text=True,
                              check=True).stdout
        self.assertIn("阳光花园 1 号楼", text)
        self.assertIn("稳定速率 0.02 mm/d", text)
        overview = text[text.index("一、工程概况"):text.index("二、")]
        self.assertLess(overview.index("2024-03-01"), overview.index("2024-04-01"))
        self.assertLess(overview.index("2024-04-01"), overview.index("2024-05-01"))

        # Removing an epoch takes its elevations; later ones move down by one.
        self.batch("epoch", project, "remove", 1)
        self.batch("epoch", project, "remove", 9, code=1)
        with sqlite3.connect(project) as db:
            self.assertEqual(db.execute("SELECT CjNo, Name FROM Sur1 ORDER BY CjNo").fetchall(),
                             [(0, "首次"), (1, "第三次")])
            self.assertEqual(db.execute("SELECT PointH FROM Sur2 WHERE CjNo = 1 AND CjdNo = 3").fetchone()[0],
                             20 + 3 - 0.001 * 2 * 3)

    def test_the_script_keeps_the_windows_rules(self):
        project = self.root / "规矩楼.mdb"
        self.batch("new", project)
        self.batch("points", project, "add", *[f"J{n}" for n in range(1, 8)])
        # Each point the colour and mark the window gives a new point of its
        # number: 1 blue diamond, 2 magenta square, 3 green cross, 4 cyan
        # circle, 5 red triangle, 6 colour 11 rectangle, then round again.
        with sqlite3.connect(project) as db:
            styles = db.execute("SELECT CjdNo, Aci, Mark FROM Sur3 ORDER BY CjdNo").fetchall()
        self.assertEqual(styles, [(1, 5, "菱形"), (2, 6, "正方形"), (3, 3, "叉叉"), (4, 4, "圆形"),
                                  (5, 1, "三角形"), (6, 11, "长方形"), (7, 5, "菱形")])
        self.batch("epoch", project, "add", "--date", "2024-03-01", "--name", "首次", "--layers", 1)

        def workbook(name, rows):
            book = self.root / name
            subprocess.run(["/usr/bin/python3", "-c",
                            "import json, openpyxl, sys\n"
                            "b = openpyxl.Workbook(); s = b.active; s.title = 'Sheet1'\n"
                            "for r in json.loads(sys.argv[2]): s.append(r)\n"
                            "b.save(sys.argv[1])", book, json.dumps(rows)], check=True)
            return book

        # A workbook with a 序号 column: nothing imported is a failure, with why.
        numbered = workbook("序号.xlsx", [["序号", "点名", "高程"]] + [[n, f"J{n}", 10 + n / 100] for n in range(1, 8)])
        refused = self.batch("import", project, "--epoch", 0, numbered, code=1)
        self.assertIn("没有调入任何高程", refused.stderr)
        self.assertIn("序号", refused.stderr)
        # Names matched as the project writes them are said.
        lower = workbook("小写.xlsx", [["点名", "高程"], ["j1", 10.01], ["J02", 10.02]])
        told = self.batch("import", project, "--epoch", 0, lower).stdout
        self.assertIn("j1 → J1", told)
        self.assertIn("J02 → J2", told)
        # curves and table say where they wrote; drawings of two kinds never
        # share a name.
        for kind, words in (("settlement", "沉降曲线"), ("rate", "速率曲线")):
            drawing = self.root / f"规矩楼_{words}.dxf"
            self.assertIn(f"已写入 {drawing}", self.batch("curves", project, "--kind", kind).stdout)
            self.assertTrue(drawing.exists())
        book = self.root / "规矩楼.xlsx"
        self.assertIn(f"已写入 {book}", self.batch("table", project).stdout)

    def test_a_levels_raw_files_to_the_clients_pdf(self):
        # The README's script on a GSI file of a levelling loop from BM1:
        # the second campaign with BM1 2 mm lower, so every point has sunk
        # 2.00 mm, which the report's results table shows.
        gsi = SOURCE / "tests/fixtures/loop_bm1.gsi"
        script = self.root / "job.sh"
        script.write_text(f"""set -e
B="{self.program / 'sedimetra-batch'}"
cd "{self.root}"
$B new 示例楼.mdb
$B points 示例楼.mdb add J1 J2 J4
$B header 示例楼.mdb 工程名称=示例楼 起算点号=BM1 起算高程=10
$B level "{gsi}" --into 示例楼.mdb --new-epoch --date 2024-03-01 --name 首次 --layers 2
$B level "{gsi}" --fixed BM1=9.998 --into 示例楼.mdb --new-epoch --date 2024-04-01 --name 第二次 --layers 4
$B report 示例楼.mdb --out 示例楼.pdf --date 2024-04-02
""", encoding="utf-8")
        run = subprocess.run(["bash", str(script)], capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        text = subprocess.run(["pdftotext", "-layout", self.root / "示例楼.pdf", "-"], capture_output=True,
                              text=True, check=True).stdout
        rows = {line.split()[0]: line.split() for line in text.splitlines()
                if line.split() and line.split()[0] in ("J1", "J2", "J4") and len(line.split()) >= 6}
        # The heights the level's loop gives from BM1 = 10 m, then 2 mm lower.
        for name, first in (("J1", "10.25010"), ("J2", "9.79950"), ("J4", "10.11970")):
            self.assertEqual(rows[name][1], first)
            self.assertEqual(rows[name][2], f"{float(first) - 0.002:.5f}")
            self.assertEqual(rows[name][3:5], ["-2.00", "-2.00"])

        # Every height knows the file, line and station it was read at.
        origin = json.loads(self.batch("history", self.root / "示例楼.mdb", "--epoch", 0, "--point", "J1",
                                       "--format", "json").stdout)["origin"]
        self.assertEqual((origin["how"], origin["file"], origin["line"], origin["station"]),
                         ("level", "loop_bm1.gsi", 8, "2"))
        self.assertEqual(origin["sha256"], hashlib.sha256(gsi.read_bytes()).hexdigest())
        self.assertAlmostEqual(origin["adjusted_m"], 10.2501, places=9)

        # A correction from a workbook: the report's appendix names both
        # files and lists the change with its old and new value.
        book = self.root / "改正.xlsx"
        subprocess.run(["/usr/bin/python3", "-c",
                        "import openpyxl, sys\n"
                        "b = openpyxl.Workbook(); s = b.active; s.title = 'Sheet1'\n"
                        "s.append(['点名', '高程']); s.append(['J2', 9.7971]); b.save(sys.argv[1])", book],
                       check=True)
        self.batch("import", self.root / "示例楼.mdb", "--epoch", 1, book)
        self.batch("report", self.root / "示例楼.mdb", "--out", self.root / "改正.pdf")
        text = subprocess.run(["pdftotext", "-layout", self.root / "改正.pdf", "-"], capture_output=True,
                              text=True, check=True).stdout
        # How it was measured: the levelling's closure against its tolerance.
        method = text[text.index("二、监测方法与精度"):text.index("三、测点布置")]
        self.assertIn("loop_bm1.gsi", method)
        self.assertRegex(method, r"闭合差均在限差以内|超过限差")
        records = text[re.search(r"附录一\s+原始记录", text).start():]
        self.assertIn("loop_bm1.gsi", records)
        self.assertIn("改正.xlsx", records)
        changes = records[re.search(r"附录二\s+高程修改记录", records).start():]
        line = next(l for l in changes.splitlines() if " J2 " in l)
        self.assertEqual(line.split()[5:10], ["J2", "9.79750", "m", "9.79710", "m"])
        self.assertIn("工作簿调入", line)
        self.assertIn("示例楼", text)
        self.assertTrue((self.root / "示例楼-首次-水准.xlsx").exists())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
