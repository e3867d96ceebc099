#!/usr/bin/python3
"""The monitoring report end to end: sedimetra-batch report of a 12-point,
20-epoch project read back with poppler (pdftotext, pdffonts, pdfinfo): the
cover's fields, every point's cumulative settlement as the results table
shows it, the conclusion's numbers against a computation written here,
every font embedded, the page count as the footer says; a report up to an
earlier epoch; and with positions, the plan and the deformation pages.

usage: tst_report.py BIN_DIR SOURCE_DIR
"""
import datetime
import pathlib
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

import openpyxl

BIN = pathlib.Path(sys.argv[1])
SOURCE = pathlib.Path(sys.argv[2])
START = datetime.date(2022, 3, 1)
POINTS, EPOCHS = 12, 20
FIELDS = {"工程名称": "滨江花园 3 号楼", "委托单位": "滨江置业有限公司", "测量单位": "市勘测院",
          "结构形式": "框架结构", "建筑高度": "45"}


def elevation(j, k):
    # Hundredths of a millimetre: the differences have no rounding ties.
    sinking = round((0.35 + 0.04 * j) * k * (1 - k / 50) * 100) / 100  # mm
    return round(30 + j * 0.1 - sinking / 1000, 5)


def date(k):
    return START + datetime.timedelta(days=15 * k)


def make_program(root):
    program = root / "program"
    program.mkdir()
    shutil.copy(BIN / "sedimetra-batch", program)
    shutil.copytree(BIN / "Support", program / "Support")
    with sqlite3.connect(program / "Sdmx.mdb") as db:
        db.executescript((SOURCE / "Support/Db/sdmx.sql").read_text(encoding="utf-8"))
        db.execute("UPDATE Para1 SET Value = '15' WHERE Name = '支持点数'")
    return program


def make_project(path, placed, points=POINTS, epochs=EPOCHS, prefix="S", fields=FIELDS, floors=lambda k: 2 + k,
                 heading=""):
    """A project of `points` points named prefix1, prefix2 … over `epochs`
    epochs, loaded `floors(k)` floors at epoch k; with `placed`, their
    positions as a CSV beside it (after `heading`), returned."""
    shutil.copy(BIN / "Support/Db/数据库模板.mdb", path)
    with sqlite3.connect(path) as db:
        for k in range(epochs):
            db.execute("INSERT INTO Sur1 VALUES (?, ?, ?, ?)", (k, date(k).isoformat(), f"第{k + 1}次", str(floors(k))))
        for j in range(1, points + 1):
            db.execute("INSERT INTO Sur3 VALUES (?, ?, ?, ?)", (j, f"{prefix}{j}", j % 7 + 1, "圆形"))
            for k in range(epochs):
                db.execute("INSERT INTO Sur2 VALUES (?, ?, ?)", (k, j, elevation(j, k)))
        db.execute("CREATE TABLE IF NOT EXISTS HeaderFields (Name TEXT NOT NULL PRIMARY KEY, Value TEXT)")
        db.executemany("INSERT OR REPLACE INTO HeaderFields VALUES (?, ?)", fields.items())
    if placed:
        csv = path.with_suffix(".csv")
        csv.write_text(heading + "".join(f"{prefix}{j},{(j - 1) % 4 * 8 + j * 0.13},{(j - 1) // 4 * 6 - j * 0.07}\n"
                                         for j in range(1, points + 1)), encoding="utf-8")
        return csv


class Report(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.root = pathlib.Path(cls.tmp.name)
        cls.program = make_program(cls.root)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def batch(self, *args):
        return subprocess.run([str(self.program / "sedimetra-batch"), *map(str, args)],
                              capture_output=True, text=True, timeout=120)

    def assertNoBlankPage(self, text):
        """No page holds only its header and footer."""
        pages = text.split("\f")
        if not pages[-1].strip():
            pages.pop()
        for number, page in enumerate(pages, start=1):
            body = [line for line in page.splitlines()
                    if line.strip() and "共" not in line and FIELDS["工程名称"] not in line]
            self.assertTrue(body, f"page {number} of {len(pages)} is blank")

    def report(self, project, *args):
        pdf = project.with_suffix(".pdf")
        run = self.batch("report", project, "--out", pdf, "--date", "2026-12-01", *args)
        self.assertEqual(run.returncode, 0, run.stderr)
        text = subprocess.run(["pdftotext", "-layout", pdf, "-"], capture_output=True, text=True,
                              check=True).stdout
        return pdf, text

    def test_the_report_reads_back_with_the_projects_numbers(self):
        project = self.root / "滨江.mdb"
        make_project(project, placed=False)
        pdf, text = self.report(project)
        flat = re.sub(r"\s+", " ", text)
        for value in FIELDS.values():
            self.assertIn(value, flat)
        self.assertIn(f"观测期：{date(0)} 至 {date(EPOCHS - 1)}，共 {EPOCHS} 次观测", flat)
        self.assertIn("报告日期：2026-12-01", flat)
        # Every point's cumulative settlement at the last epoch, as the
        # results table shows it (two decimals).
        last = EPOCHS - 1
        cumulative = {j: (elevation(j, last) - elevation(j, 0)) * 1000 for j in range(1, POINTS + 1)}
        table = text[text.index("三、观测成果表"):text.index("四、沉降曲线")]
        for j, s in cumulative.items():
            self.assertIn(f"{s:.2f}", table, f"S{j}")
            self.assertRegex(table, rf"\bS{j}\b")
        # Nothing is cut short: names, units and dates wrap in their cells.
        self.assertNotIn("…", text)
        # The conclusion: the largest settlement, its point and the average.
        # No positions: no deformation section, and no gap in the numbers.
        conclusion = re.sub(r"\s+", "", text[text.index("六、结论"):])
        self.assertIn("五、稳定性分析与预测", text)
        self.assertRegex(text, r"附录一\s+原始记录")
        # The load grew at every epoch: one forecast note for every point,
        # said once above the table, not on each of its rows.
        stability = re.sub(r"\s+", "", text[text.index("五、稳定性分析与预测"):text.index("六、结论")])
        self.assertIn("各测点的预测说明相同：", stability)
        self.assertEqual(stability.count("拟合点数不足"), 2, stability)  # once for each method
        # Units and words are never broken across lines in a cell.
        page = text[text.index("五、稳定性分析与预测"):text.index("六、结论")]
        for unbroken in ("(mm/d)", "(mm)", "(d)", "Asaoka"):
            self.assertIn(unbroken, page)
        worst = min(cumulative, key=cumulative.get)
        average = sum(cumulative.values()) / POINTS
        self.assertIn(f"本期有累计沉降的{POINTS}个测点中，累计沉降最大的为S{worst}，"
                      f"累计沉降{cumulative[worst]:.2f}mm", conclusion)
        self.assertIn(f"这{POINTS}个测点的平均累计沉降为{average:.2f}mm", conclusion)
        self.assertIn("本期未出现预警", conclusion)
        # Every font embedded; the page count as the footer says.
        fonts = subprocess.run(["pdffonts", pdf], capture_output=True, text=True, check=True).stdout
        rows = fonts.splitlines()[2:]
        self.assertTrue(rows)
        for row in rows:
            self.assertEqual(row.split()[-5], "yes", row)
        pages = int(re.search(r"Pages:\s+(\d+)", subprocess.run(
            ["pdfinfo", pdf], capture_output=True, text=True, check=True).stdout).group(1))
        self.assertIn(f"第 {pages} 页 共 {pages} 页", text)
        # The results table: a page for each three epochs after the first
        # (one group of 15 points), each with the heading rows repeated.
        results = [page for page in text.split("\f") if re.search(r"(初始|上次)高程", page) and "点号" in page]
        self.assertEqual(len(results), -(-(EPOCHS - 1) // 3))
        # No positions: no plan, no deformation pages.
        self.assertNotIn("六、差异沉降与倾斜", text)
        self.assertNoBlankPage(text)

    def test_a_long_report_reads_as_one_document(self):
        # Long enough to be painted in two parts and joined: every page in
        # its place, numbered in order, its fonts embedded, the file whole.
        project = self.root / "长报告.mdb"
        make_project(project, placed=False, points=45, epochs=70)
        pdf, text = self.report(project)
        pages = [page for page in text.split("\f") if page.strip()]
        self.assertGreater(len(pages), 80)
        for number, page in enumerate(pages, start=1):
            self.assertIn(f"第 {number} 页 共 {len(pages)} 页", page)
        info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True, check=True).stdout
        self.assertEqual(int(re.search(r"Pages:\s+(\d+)", info).group(1)), len(pages))
        # Every point of the last epoch group on a results page.
        flat = re.sub(r"\s+", " ", text)
        for j in range(1, 46):
            self.assertRegex(flat, rf"\bS{j}\b")
        fonts = subprocess.run(["pdffonts", pdf], capture_output=True, text=True, check=True).stdout
        for row in fonts.splitlines()[2:]:
            self.assertEqual(row.split()[-5], "yes", row)
        self.assertNoBlankPage(text)
        if not shutil.which("qpdf"):
            self.skipTest("qpdf is not installed: the file's structure was not checked")
        check = subprocess.run(["qpdf", "--check", pdf], capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_a_report_up_to_an_earlier_epoch_and_with_the_plan(self):
        project = self.root / "江畔.mdb"
        csv = make_project(project, placed=True)
        self.assertEqual(self.batch("coords", project, csv).returncode, 0)
        _, text = self.report(project, "--epoch", 9)
        flat = re.sub(r"\s+", " ", text)
        self.assertIn(f"观测期：{date(0)} 至 {date(9)}，共 10 次观测", flat)
        self.assertNotIn(f"第{EPOCHS}次", flat)
        self.assertIn("二、测点布置", text)
        # The plan page carries its north, its scale, the tilt and a key.
        layout = re.sub(r"\s+", "", text[text.index("二、测点布置"):text.index("三、观测成果表")])
        for word in ("北", "等沉线，间距", "红色：超过预警值", "整体倾斜"):
            self.assertIn(word, layout)
        self.assertRegex(layout, r"\d+m（约1:\d+）")
        self.assertIn("六、差异沉降与倾斜", text)
        self.assertIn("沉降平面图", text)
        conclusion = re.sub(r"\s+", "", text[text.index("七、结论"):])
        self.assertIn("建筑物整体倾斜", conclusion)
        self.assertIn("限值3.000‰", conclusion)  # 24 m < H ≤ 60 m
        self.assertNoBlankPage(text)
        # The sheets drawn for A3 are on A3 pages, the rest on A4.
        sizes = re.findall(r"Page\s+(\d+) size:\s+([\d.]+) x ([\d.]+) pts", subprocess.run(
            ["pdfinfo", "-f", "1", "-l", "999", project.with_suffix(".pdf")], capture_output=True, text=True,
            check=True).stdout)
        for (number, width, height), page in zip(sizes, text.split("\f")):
            a3 = "四、沉降曲线" in page
            self.assertEqual(round(max(float(width), float(height))), 1191 if a3 else 842, number)

    def test_a_partly_placed_project_names_each_population(self):
        # Six of the twelve points placed: the conclusion gives the figures
        # of all twelve and those of the six the deformation section is
        # over, each named, and the section's last row agrees with it.
        project = self.root / "半楼.mdb"
        csv = make_project(project, placed=True)
        csv.write_text("".join(line + "\n" for line in csv.read_text(encoding="utf-8").splitlines()[:6]),
                       encoding="utf-8")
        self.assertEqual(self.batch("coords", project, csv).returncode, 0)
        _, text = self.report(project)
        last = EPOCHS - 1
        cumulative = {j: (elevation(j, last) - elevation(j, 0)) * 1000 for j in range(1, POINTS + 1)}
        placed = {j: cumulative[j] for j in range(1, 7)}
        conclusion = re.sub(r"\s+", "", text[text.index("七、结论"):])
        worst_all = min(cumulative, key=cumulative.get)
        worst_placed = min(placed, key=placed.get)
        self.assertIn(f"本期有累计沉降的{POINTS}个测点中，累计沉降最大的为S{worst_all}", conclusion)
        self.assertIn(f"这{POINTS}个测点的平均累计沉降为{sum(cumulative.values()) / POINTS:.2f}mm", conclusion)
        self.assertIn(f"已测定坐标的6个测点（差异沉降与倾斜据此计算）中，累计沉降最大的为S{worst_placed}，"
                      f"累计沉降{placed[worst_placed]:.2f}mm，平均累计沉降{sum(placed.values()) / 6:.2f}mm", conclusion)
        self.assertIn("由已测定坐标的6个测点拟合，建筑物整体倾斜", conclusion)
        # The limits applied are stated; the program's caution to the firm
        # about its table is not the client's.
        self.assertIn("预警值：累计沉降", text)
        self.assertNotIn("仅供参考", text)
        self.assertNotIn("使用前须与规范原文", text)
        section = text[text.index("六、差异沉降与倾斜"):text.index("七、结论")]
        row = next(line for line in section.splitlines() if f"第{EPOCHS}次" in line)
        self.assertEqual(row.split()[2:6], ["6", f"{sum(placed.values()) / 6:.2f}", f"{placed[worst_placed]:.2f}",
                                            f"S{worst_placed}"])

    def test_every_point_is_in_the_report_whatever_the_point_count(self):
        # Twenty points, the point count 15 (the window's and the workbook's):
        # the PDF's results pages, stability table and conclusion all list
        # all twenty.
        project = self.root / "二十点.mdb"
        make_project(project, placed=False)
        with sqlite3.connect(project) as db:
            for j in range(POINTS + 1, 21):
                db.execute("INSERT INTO Sur3 VALUES (?, ?, ?, ?)", (j, f"S{j}", 1, "圆形"))
                for k in range(EPOCHS):
                    db.execute("INSERT INTO Sur2 VALUES (?, ?, ?)", (k, j, round(elevation(1, k) - 0.0001 * j, 5)))
        _, text = self.report(project)
        results = text[text.index("三、观测成果表"):text.index("四、沉降曲线")]
        stability = text[text.index("五、稳定性分析与预测"):text.index("六、结论")]
        for j in range(1, 21):
            self.assertRegex(results, rf"\bS{j}\b")
            self.assertRegex(stability, rf"\bS{j}\b")
        self.assertIn("本期有累计沉降的20个测点中", re.sub(r"\s+", "", text[text.index("六、结论"):]))

    def test_many_alarms_are_all_listed_on_pages_of_their_own(self):
        # An alarm value every point exceeds: twelve alarms, more than a
        # sentence names; the conclusion names ten and the table all twelve.
        project = self.root / "警楼.mdb"
        make_project(project, placed=False)
        with sqlite3.connect(project) as db:
            db.execute("INSERT OR REPLACE INTO HeaderFields VALUES ('累计沉降预警值', '0.5')")
        _, text = self.report(project)
        self.assertNoBlankPage(text)
        conclusion = re.sub(r"\s+", "", text[text.index("六、结论"):text.index("附表", text.index("六、结论"))])
        self.assertIn(f"本期出现预警{POINTS}项，前10项为：", conclusion)
        self.assertIn("全部列于“附表预警一览”", conclusion + re.sub(r"\s+", "", text[text.index("附表"):]))
        table = text[text.index("预警一览", text.index("附表") + 2):]
        listed = re.findall(r"^\s*(\d+)\s+.*?(S\d+)", table, re.M)
        self.assertEqual([int(n) for n, _ in listed], list(range(1, POINTS + 1)))
        self.assertEqual(sorted(name for _, name in listed), sorted(f"S{j}" for j in range(1, POINTS + 1)))

    def test_a_limits_table_that_cannot_be_read_is_told_and_not_replaced(self):
        # The firm's table is broken: no output judges against the shipped
        # rows instead, and every one says why.
        project = self.root / "限值楼.mdb"
        csv = make_project(project, placed=True)
        self.assertEqual(self.batch("coords", project, csv).returncode, 0)
        limits = self.program / "Support" / "变形限值.json"
        limits.write_text("[{broken", encoding="utf-8")
        try:
            pdf = project.with_suffix(".pdf")
            run = self.batch("report", project, "--out", pdf)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertIn("变形限值表", run.stderr)
            self.assertIn("未按限值判定", run.stderr)
            text = subprocess.run(["pdftotext", pdf, "-"], capture_output=True, text=True, check=True).stdout
            flat = re.sub(r"\s+", "", text)
            self.assertIn("倾斜和差异沉降未按限值判定", flat[flat.index("六、差异沉降与倾斜"):])
            conclusion = flat[flat.index("七、结论"):]
            self.assertIn("建筑物整体倾斜", conclusion)
            self.assertNotIn("GB50007", conclusion)
            self.assertNotIn("限值3.000‰", conclusion)
            run = self.batch("table", project)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertIn("未按限值判定", run.stderr)
            sheet = openpyxl.load_workbook(project.with_suffix(".xlsx"))["差异沉降与倾斜"]
            self.assertIn("未按限值判定", sheet["A3"].value)
            self.assertTrue(all(row[0] in (None, "—") for row in sheet.iter_rows(min_row=6, min_col=12, max_col=13,
                                                                                   values_only=True)))
        finally:
            limits.unlink()

    def test_an_output_never_replaces_what_is_no_report(self):
        # Another project, the program's own database, a device and a pipe:
        # each refused before anything is written, each left as it was. The
        # device is made here (as /dev/null is), so that a fault replaces it
        # and not the system's.
        import os
        import stat
        project = self.root / "输出楼.mdb"
        make_project(project, placed=False)
        other = self.root / "别的楼.mdb"
        make_project(other, placed=False)
        pipe = self.root / "管道"
        os.mkfifo(pipe)
        targets = [other, self.program / "Sdmx.mdb", pipe]
        if os.geteuid() == 0:
            device = self.root / "null"
            os.mknod(device, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
            targets.append(device)
        for target in targets:
            with self.subTest(target=target.name):
                before = target.read_bytes() if target.is_file() else None
                kind = stat.S_IFMT(os.stat(target).st_mode)
                run = self.batch("report", project, "--out", target, "--date", "2026-12-01")
                self.assertEqual(run.returncode, 1, run.stdout)
                self.assertIn("不能", run.stderr)
                self.assertEqual(stat.S_IFMT(os.stat(target).st_mode), kind)
                if before is not None:
                    self.assertEqual(target.read_bytes(), before)

    def test_an_epoch_the_project_lacks_is_refused(self):
        project = self.root / "无此.mdb"
        make_project(project, placed=False)
        run = self.batch("report", project, "--epoch", 99, "--out", self.root / "无此.pdf")
        self.assertEqual(run.returncode, 1)
        self.assertIn("没有第 99 次观测", run.stderr)
        self.assertFalse((self.root / "无此.pdf").exists())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
