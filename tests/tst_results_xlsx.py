#!/usr/bin/python3
"""End-to-end checks of the results table: sedimetra-batch fills the shipped
template, and openpyxl (an independent reader) reads the workbook back.

usage: tst_results_xlsx.py BIN_DIR SOURCE_DIR
"""
import copy
import pathlib
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest
import zipfile

import openpyxl

BIN = pathlib.Path(sys.argv[1])
SOURCE = pathlib.Path(sys.argv[2])
SHEET = "沉降观测成果表"
HEADER = {"工程名称": ("B1", "某小区3#楼"), "委托单位": ("H1", "甲方'公司"), "测量单位": ("B2", "测量院"),
          "结构形式": ("H2", "框架"), "建筑层次": ("M2", "18"), "仪器型号": ("B3", "DS05"),
          "起算点号": ("H3", "BM1"), "起算高程": ("M3", "12.345")}
DATES = ["2018-01-01", "2018-01-11", "2018-01-21", "2018-02-10", "2018-02-20"]


def elevation(k, j):
    """The small project's elevations: points 1 to 16, point j sinking j/10 mm
    an epoch; point 3 misses epoch 2, point 16 exists only from epoch 1 on."""
    if j > 16 or (j == 3 and k == 2) or (j == 16 and k == 0):
        return None
    return round(100 + j - k * j / 10000, 5)


def make_program(root, template=None):
    program = root / "program"
    program.mkdir()
    shutil.copy(BIN / "sedimetra-batch", program)
    shutil.copytree(BIN / "Support", program / "Support")
    if template:
        shutil.copy(template, program / "Support/Tab" / template.name)
    with sqlite3.connect(program / "Sdmx.mdb") as db:
        db.executescript((SOURCE / "Support/Db/sdmx.sql").read_text(encoding="utf-8"))
        db.execute("INSERT INTO Para1 VALUES ('支持点数', '30')")
        for key, (_, value) in HEADER.items():
            db.execute("INSERT INTO Para1 VALUES (?, ?)", (key, value))
    return program


def make_project(path, dates=DATES):
    shutil.copy(BIN / "Support/Db/数据库模板.mdb", path)
    with sqlite3.connect(path) as db:
        for k, date in enumerate(dates):
            db.execute("INSERT INTO Sur1 VALUES (?, ?, ?, ?)", (k, date, f"第{k}次", k))
            for j in range(1, 17):
                h = elevation(k, j)
                if h is not None:
                    db.execute("INSERT INTO Sur2 VALUES (?, ?, ?)", (k, j, h))
        for j in range(1, 16):  # point 16 has no point record
            db.execute("INSERT INTO Sur3 VALUES (?, ?, ?, ?)", (j, f"J{j}", 5, "菱形"))


def fixed(value, decimals):
    """Half away from zero on the decimal value, as the program shows numbers."""
    from decimal import Decimal, ROUND_HALF_UP
    text = str(Decimal(repr(value)).quantize(Decimal(1).scaleb(-decimals), rounding=ROUND_HALF_UP))
    return text[1:] if text.startswith("-") and set(text[1:]) <= set("0.") else text


def signed(value, decimals):
    text = fixed(value, decimals)
    return text if text.startswith("-") else "+" + text


SIGNED2, SIGNED3 = "+0.00;-0.00;+0.00", "+0.000;-0.000;+0.000"


def shown_by_libreoffice(workbook, scratch):
    """The sheet's cells as LibreOffice Calc shows them: {"B7": "99.99800"}."""
    scratch.mkdir(exist_ok=True)
    converted = subprocess.run(
        ["soffice", f"-env:UserInstallation=file://{scratch}/profile", "--headless",
         "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true",
         "--outdir", str(scratch), str(workbook)],
        capture_output=True, text=True, timeout=300)
    assert converted.returncode == 0, converted.stderr
    import csv
    rows = list(csv.reader((scratch / (workbook.stem + ".csv")).read_text(encoding="utf-8").splitlines()))
    return {f"{openpyxl.utils.get_column_letter(c + 1)}{r + 1}": text
            for r, row in enumerate(rows) for c, text in enumerate(row)}


def cell_style(cell):
    return (cell.font.name, cell.font.sz, cell.font.b, cell.border.left.style, cell.border.bottom.style,
            cell.alignment.horizontal, cell.alignment.wrap_text)


class ResultsWorkbook(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.tmp.name)
        self.project = self.root / "测量 项目" / "楼.mdb"
        self.project.parent.mkdir()
        make_project(self.project)

    def tearDown(self):
        self.tmp.cleanup()

    def run_table(self, program, *args):
        return subprocess.run([str(program / "sedimetra-batch"), "table", str(self.project), *args],
                              capture_output=True, text=True, timeout=60)

    def test_every_written_cell(self):
        program = make_program(self.root)
        result = self.run_table(program)
        self.assertEqual(result.returncode, 0, result.stderr)
        wb = openpyxl.load_workbook(self.project.with_suffix(".xlsx"))
        ws = wb[SHEET]
        shown = {}  # the texts the value cells must show, by cell

        def number(cell, text, number_format):
            """A value cell: a number in a format that shows `text`."""
            if text is None:
                self.assertIsNone(ws[cell].value, cell)
                return
            self.assertIsInstance(ws[cell].value, (int, float), cell)
            self.assertEqual(ws[cell].value, float(text), cell)
            self.assertEqual(ws[cell].number_format, number_format, cell)
            shown[cell] = text

        for cell, value in HEADER.values():
            self.assertEqual(ws[cell].value, value, cell)
        # 4 epochs after the first: 2 groups; highest point 16 of 30: 30 points, 2 pages a group.
        self.assertEqual(ws.max_row, 4 + 4 * 22 - 1)
        slots = {1: "CDEF", 2: "GHIJ", 0: "KLMN"}
        for k in range(1, 5):
            group = (k - 1) // 3
            el, tt, cu, ra = slots[k % 3]
            days = [10, 10, 20, 10][k - 1]
            for page_in_group in range(2):
                top = 4 + (group * 2 + page_in_group) * 22
                self.assertEqual(ws[f"{el}{top}"].value, DATES[k])
                self.assertEqual(ws[f"{el}{top + 1}"].value, f"第{k}次")
                self.assertEqual(ws[f"{el}{top + 2}"].value, "本次高程\r\n(m)")
                self.assertEqual(ws[f"{el}{top + 19}"].value, days)
                if k % 3 == 1:
                    self.assertEqual(ws[f"B{top}"].value, DATES[k - 1])
                    self.assertEqual(ws[f"B{top + 2}"].value, ("初始高程" if k == 1 else "上次高程") + "\r\n(m)")
                # Averages over the epoch, on both pages of the group.
                pairs = [(elevation(k, j), elevation(k - 1, j), elevation(0, j)) for j in range(1, 31)]
                this = [hc - hp for hc, hp, _ in pairs if hc is not None and hp is not None]
                total = [hc - h0 for hc, _, h0 in pairs if hc is not None and h0 is not None]
                number(f"{tt}{top + 18}", fixed(sum(this) / len(this) * 1000, 2), "0.00")
                number(f"{cu}{top + 18}", fixed(sum(total) / len(total) * 1000, 2), "0.00")
                number(f"{ra}{top + 18}", fixed(sum(d / days for d in this) / len(this) * 1000, 3), "0.000")
            for j in range(1, 31):
                top = 4 + (group * 2 + (j - 1) // 15) * 22
                row = top + 3 + (j - 1) % 15
                hc, hp, h0 = elevation(k, j), elevation(k - 1, j), elevation(0, j)
                if k % 3 == 1:
                    self.assertEqual(ws[f"A{row}"].value, f"J{j}" if j <= 15 else None, (k, j))
                    number(f"B{row}", fixed(hp, 5) if hp is not None else None, "0.00000")
                number(f"{el}{row}", fixed(hc, 5) if hc is not None else None, "0.00000")
                both = hc is not None and hp is not None
                number(f"{tt}{row}", signed((hc - hp) * 1000, 2) if both else None, SIGNED2)
                number(f"{ra}{row}", signed((hc - hp) / days * 1000, 3) if both else None, SIGNED3)
                number(f"{cu}{row}", signed((hc - h0) * 1000, 2) if hc is not None and h0 is not None
                       else None, SIGNED2)
        # LibreOffice shows every value cell as the table's text.
        calc = shown_by_libreoffice(self.project.with_suffix(".xlsx"), self.root / "calc")
        self.assertGreater(len(shown), 200)
        self.assertEqual({cell: calc.get(cell) for cell in shown}, shown)

    def test_copied_pages_keep_the_model(self):
        program = make_program(self.root)
        self.assertEqual(self.run_table(program).returncode, 0)
        template = openpyxl.load_workbook(SOURCE / "Support/Tab/沉降观测成果表.xlsx")[SHEET]
        ws = openpyxl.load_workbook(self.project.with_suffix(".xlsx"))[SHEET]
        model_merges = sorted(str(m) for m in template.merged_cells.ranges if m.min_row >= 4)
        merges = {str(m) for m in ws.merged_cells.ranges}
        for page in range(4):
            shift = page * 22
            for merge in model_merges:
                moved = re.sub(r"\d+", lambda m: str(int(m.group()) + shift), merge)
                self.assertIn(moved, merges)
            for row in range(4, 26):
                self.assertEqual(ws.row_dimensions[row + shift].height, template.row_dimensions[row].height)
                for column in "ABCDEFGHIJKLMN":
                    self.assertEqual(cell_style(ws[f"{column}{row + shift}"]),
                                     cell_style(template[f"{column}{row}"]), f"{column}{row + shift}")
            self.assertEqual(ws[f"A{22 + shift}"].value, "平均")
            self.assertEqual(ws[f"A{24 + shift}"].value, "观测：")
        self.assertEqual([b.id for b in ws.row_breaks.brk], [25, 47, 69, 91])
        self.assertEqual(ws.page_setup.orientation, "landscape")
        self.assertEqual(ws.column_dimensions["B"].width, template.column_dimensions["B"].width)

    def test_shared_strings_template(self):
        # A template as Excel saves it: its texts in the shared-string table.
        shared = self.root / "共享.xlsx"
        with zipfile.ZipFile(SOURCE / "Support/Tab/沉降观测成果表.xlsx") as source, \
                zipfile.ZipFile(shared, "w", zipfile.ZIP_DEFLATED) as target:
            strings = []

            def to_shared(match):
                strings.append(match.group(2).decode())
                return match.group(1) + f't="s"><v>{len(strings) - 1}</v>'.encode()
            for item in source.infolist():
                data = source.read(item.filename)
                if item.filename == "xl/worksheets/sheet1.xml":
                    data = re.sub(rb'(<c [^>]*?)t="inlineStr"><is><t>(.*?)</t></is>', to_shared, data)
                if item.filename == "[Content_Types].xml":
                    data = data.replace(b"</Types>", b'<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>')
                if item.filename == "xl/_rels/workbook.xml.rels":
                    data = data.replace(b"</Relationships>", b'<Relationship Id="rIdSS" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/></Relationships>')
                target.writestr(item, data)
            sst = "".join(f"<si><t>{s}</t></si>" for s in strings)
            target.writestr("xl/sharedStrings.xml",
                            f'<?xml version="1.0" encoding="UTF-8"?><sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="{len(strings)}" uniqueCount="{len(strings)}">{sst}</sst>')
        self.assertTrue(strings)
        program = make_program(self.root, shared)
        result = self.run_table(program, "--template", "共享")
        self.assertEqual(result.returncode, 0, result.stderr)
        ws = openpyxl.load_workbook(self.project.with_suffix(".xlsx"))[SHEET]
        for page in range(4):
            self.assertEqual(ws[f"A{4 + page * 22}"].value, "观测日期")
            self.assertEqual(ws[f"D{6 + page * 22}"].value, "本次沉降\n(mm)")
        self.assertEqual(ws["A1"].value, "工程名称：")
        self.assertEqual(ws["B1"].value, HEADER["工程名称"][1])

    def test_every_epoch_whatever_the_calendar(self):
        # Dates that are no calendar day ("2018-06-31") or cross the rule's
        # year 2000 are listed with the rule's own day counts, and drawn.
        dates = ["1999-12-31", "2000-01-01", "2018-06-31", "2018-07-01", "2100-02-28", "2100-03-01"]

        def day_number(text):
            year, month, day = (int(part) for part in text.split("-"))
            years = year - 2000 if year > 2000 else 0
            lengths = [31, 29 if year % 4 == 0 else 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]
            return years * 365 + (years + 3) // 4 + sum(lengths[:month - 1]) + day

        self.project.unlink()
        make_project(self.project, dates)
        program = make_program(self.root)
        result = self.run_table(program)
        self.assertEqual(result.returncode, 0, result.stderr)
        ws = openpyxl.load_workbook(self.project.with_suffix(".xlsx"))[SHEET]
        slots = {1: "C", 2: "G", 0: "K"}
        for k in range(1, 6):
            top = 4 + (k - 1) // 3 * 2 * 22
            days = abs(day_number(dates[k]) - day_number(dates[k - 1])) or 1
            self.assertEqual(ws[f"{slots[k % 3]}{top}"].value, dates[k])
            self.assertEqual(ws[f"{slots[k % 3]}{top + 19}"].value, days, dates[k])
            # Point 1 sinks 0.1 mm an epoch: its cumulative settlement.
            self.assertAlmostEqual(ws[f"{chr(ord(slots[k % 3]) + 2)}{top + 3}"].value, -0.1 * k, places=6)
        self.assertEqual(ws["B4"].value, dates[0])

        import ezdxf
        drawing = self.root / "曲线.dxf"
        curves = subprocess.run([str(program / "sedimetra-batch"), "curves", str(self.project), "--kind",
                                 "settlement", "--out", str(drawing)], capture_output=True, text=True,
                                timeout=120)
        self.assertEqual(curves.returncode, 0, curves.stderr)
        self.assertNotIn("不列入", curves.stderr)
        j1 = [p for p in ezdxf.readfile(drawing).modelspace().query("LWPOLYLINE")
              if p.dxf.layer == "沉_J1" and len(p) > 2]
        self.assertEqual([len(p) for p in j1], [6])

    def test_refusals(self):
        program = make_program(self.root)
        missing = self.run_table(program, "--template", "没有")
        self.assertEqual(missing.returncode, 1)
        self.assertIn("表格模板被删除", missing.stderr)
        self.assertEqual(subprocess.run([str(program / "sedimetra-batch"), "table"],
                                        capture_output=True).returncode, 2)
        # The workbook cannot be written: an earlier one is not passed off as new.
        out = self.project.with_suffix(".xlsx")
        out.mkdir()
        failed = self.run_table(program)
        self.assertEqual(failed.returncode, 1)
        self.assertEqual(len(failed.stderr.strip().splitlines()), 1)
        self.assertTrue(out.is_dir())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
