#!/usr/bin/python3
"""Damaged and hostile inputs given to sedimetra-batch, grouped by what reads
them: each is refused clearly (exit 1, one line naming the problem) or read
with the bad part left out, within seconds and 1 GB of memory, and no file
that must stay is changed.

usage: tst_hostile_inputs.py BIN_DIR SOURCE_DIR
"""
import hashlib
import io
import os
import pathlib
import resource
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

BIN = pathlib.Path(sys.argv[1])
SOURCE = pathlib.Path(sys.argv[2])
FIXTURES = SOURCE / "tests" / "fixtures"
MEMORY = 1 << 30


def limited():
    # Under a memory checker the address space holds its shadow: the limit
    # then applies to nothing the program allocates, so it is left off.
    if not os.environ.get("SEDIMETRA_SANITIZED"):
        resource.setrlimit(resource.RLIMIT_AS, (MEMORY, MEMORY))


def digest(path):
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


def xlsx(rows_xml, extra_entries=(), sheet="Sheet1"):
    """A workbook whose one sheet has the given <sheetData> content."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml",
                   '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
                   '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
                   '</Types>')
        z.writestr("xl/workbook.xml",
                   '<?xml version="1.0"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                   'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
                   f'<sheets><sheet name="{sheet}" sheetId="1" r:id="rId1"/></sheets></workbook>')
        z.writestr("xl/_rels/workbook.xml.rels",
                   '<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" '
                   'Target="worksheets/sheet1.xml"/></Relationships>')
        z.writestr("xl/worksheets/sheet1.xml",
                   '<?xml version="1.0"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
                   f'<sheetData>{rows_xml}</sheetData></worksheet>')
        for name, data in extra_entries:
            z.writestr(name, data)
    return out.getvalue()


def observation_rows(*rows):
    """Rows 2.. of name (text) and elevation (a number cell, as written)."""
    xml = '<row r="1"><c r="A1" t="inlineStr"><is><t>点名</t></is></c></row>'
    for i, (name, value) in enumerate(rows, start=2):
        xml += (f'<row r="{i}"><c r="A{i}" t="inlineStr"><is><t>{name}</t></is></c>'
                f'<c r="B{i}"><v>{value}</v></c></row>')
    return xml


class Hostile(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.tmp.name)
        self.program = self.root / "program"
        self.program.mkdir()
        for tool in ("sedimetra-batch", "sedimetra-xlsreader"):
            shutil.copy(BIN / tool, self.program)
        shutil.copytree(BIN / "Support", self.program / "Support")
        with sqlite3.connect(self.program / "Sdmx.mdb") as db:
            db.executescript((SOURCE / "Support/Db/sdmx.sql").read_text(encoding="utf-8"))
        self.project = self.root / "楼.mdb"
        self.make_project(self.project)

    def tearDown(self):
        self.tmp.cleanup()

    def make_project(self, path):
        shutil.copy(BIN / "Support/Db/数据库模板.mdb", path)
        with sqlite3.connect(path) as db:
            db.executemany("INSERT INTO Sur1 VALUES (?, ?, ?, ?)",
                           [(0, "2018-01-01", "一", 1), (1, "2018-02-01", "二", 2)])
            db.executemany("INSERT INTO Sur2 VALUES (?, ?, ?)",
                           [(0, 1, 10.0), (1, 1, 9.99), (0, 2, 20.0), (1, 2, 19.99)])
            db.executemany("INSERT INTO Sur3 VALUES (?, ?, ?, ?)",
                           [(1, "J1", 1, "圆形"), (2, "J2", 2, "菱形")])

    def run_batch(self, *args, seconds=20):
        started = time.monotonic()
        result = subprocess.run([str(self.program / "sedimetra-batch"), *map(str, args)],
                                capture_output=True, text=True, timeout=seconds,
                                preexec_fn=limited)
        self.assertLess(time.monotonic() - started, seconds)
        return result

    def refused(self, *args, says=None):
        result = self.run_batch(*args)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)
        if says:
            self.assertIn(says, result.stderr)
        return result

    # ------------------------------------------------------------ drawings

    def test_drawings_that_would_cost_without_bound(self):
        # Small files that ask for more than any memory or patience holds,
        # and numbers no drawing has: each refused in 2 s and 200 MB, naming
        # what it refused, and the project is not touched.
        def dxf(blocks, entities, eof=True):
            return ("0\nSECTION\n2\nHEADER\n9\n$INSUNITS\n70\n6\n0\nENDSEC\n"
                    f"0\nSECTION\n2\nBLOCKS\n{blocks}0\nENDSEC\n"
                    f"0\nSECTION\n2\nENTITIES\n{entities}0\nENDSEC\n" + ("0\nEOF\n" if eof else ""))

        def block(name, body=""):
            return f"0\nBLOCK\n2\n{name}\n10\n0\n20\n0\n{body}0\nENDBLK\n"

        def insert(name, columns=1, rows=1, scale=1):
            return (f"0\nINSERT\n2\n{name}\n10\n0\n20\n0\n41\n{scale}\n42\n{scale}\n"
                    f"70\n{columns}\n71\n{rows}\n44\n1\n45\n1\n")

        names = "0\nTEXT\n10\n1\n20\n1\n40\n0.3\n1\nJ1\n0\nTEXT\n10\n5\n20\n1\n40\n0.3\n1\nJ2\n"
        nested = "".join(block(f"B{i}", insert(f"B{i + 1}") * 2) for i in range(62)) + block("B62")
        spline = ("0\nSPLINE\n71\n1500\n" + "".join(f"40\n{k}\n" for k in range(3002))
                  + "".join(f"10\n{i}\n20\n{i % 7}\n" for i in range(1501)))
        cases = {
            "an array of 2³¹ × 2³¹ empty blocks": (dxf(block("E"), insert("E", 2**31 - 1, 2**31 - 1) + names), "E"),
            "63 levels each inserting the next twice": (dxf(nested, insert("B0") + names), "B0"),
            "a spline of degree 1500": (dxf("", spline + names), "SPLINE"),
            "an MTEXT of 5 million paragraphs": (dxf("", "0\nMTEXT\n10\n0\n20\n0\n40\n1\n1\n" + "\\P" * 5_000_000
                                                   + "\n" + names), "MTEXT"),
            "a text at (nan, inf)": (dxf("", "0\nTEXT\n10\nnan\n20\ninf\n40\n0.3\n1\nJ3\n" + names), "TEXT"),
            "a block scaled by 1e300": (dxf(block("T", "0\nTEXT\n10\n1\n20\n1\n40\n0.3\n1\nJ3\n"),
                                            insert("T", scale="1e300") + names), "INSERT"),
            "an ellipse of ratio 1e300": (dxf("", "0\nELLIPSE\n10\n0\n20\n0\n11\n1\n21\n0\n40\n1e300\n" + names),
                                          "ELLIPSE"),
            "a file cut in half": (dxf("", names, eof=False), "EOF"),
        }
        before = digest(self.project)
        for case, (text, says) in cases.items():
            with self.subTest(case):
                path = self.root / "平面.dxf"
                path.write_text(text, encoding="ascii")
                started = time.monotonic()
                with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as errors:
                    run = subprocess.Popen([str(self.program / "sedimetra-batch"), "coords", self.project, path],
                                           stdout=out, stderr=errors, preexec_fn=limited)
                    _, status, usage = os.wait4(run.pid, 0)
                    run.returncode = os.waitstatus_to_exitcode(status)
                    errors.seek(0)
                    err = errors.read().decode("utf-8")
                self.assertLess(time.monotonic() - started, 2, case)
                self.assertLess(usage.ru_maxrss, 200 * 1024, case)
                self.assertEqual(run.returncode, 1, err)
                self.assertIn(says, err)
                self.assertEqual(digest(self.project), before)
        # The same as a frame: the sheets are drawn without it, and it is said.
        frame = self.program / "Support/TK/A3/曲线图框.dxf"
        frame.write_text(cases["an array of 2³¹ × 2³¹ empty blocks"][0], encoding="ascii")
        run = self.run_batch("curves", self.project, "--kind", "settlement", "--frame", "A3",
                             "--out", self.root / "曲线.dxf", seconds=2)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("曲线图框.dxf 未画入", run.stderr)

    def test_a_drawing_near_the_bound_is_kept_thinned(self):
        # 490,000 lines from one array of a block (near the bound of a million
        # entities, each cell counted): read, and kept as
        # at most 60,000 segments the plan sheet draws.
        text = ("0\nSECTION\n2\nHEADER\n9\n$INSUNITS\n70\n6\n0\nENDSEC\n0\nSECTION\n2\nBLOCKS\n"
                "0\nBLOCK\n2\nL\n10\n0\n20\n0\n0\nLINE\n8\n0\n10\n0\n20\n0\n11\n0.3\n21\n0.2\n0\nENDBLK\n0\nENDSEC\n"
                "0\nSECTION\n2\nENTITIES\n0\nINSERT\n2\nL\n10\n0\n20\n0\n70\n700\n71\n700\n44\n0.04\n45\n0.03\n"
                "0\nTEXT\n10\n1\n20\n1\n40\n0.3\n1\nJ1\n0\nTEXT\n10\n27\n20\n20\n40\n0.3\n1\nJ2\n"
                "0\nTEXT\n10\n27\n20\n1\n40\n0.3\n1\nJ3\n0\nENDSEC\n0\nEOF\n")
        with sqlite3.connect(self.project) as db:
            db.execute("INSERT INTO Sur3 VALUES (3, 'J3', 3, '圆形')")
            db.executemany("INSERT INTO Sur2 VALUES (?, 3, ?)", [(0, 30.0), (1, 29.98)])
        path = self.root / "密.dxf"
        path.write_text(text, encoding="ascii")
        run = self.run_batch("coords", self.project, path)
        self.assertEqual(run.returncode, 0, run.stderr)
        with sqlite3.connect(self.project) as db:
            kept = db.execute("SELECT Data FROM PlanDrawing").fetchone()[0].decode("ascii").split("\n")
        segments = sum(int(kept[i + 1]) - 1 for i, line in enumerate(kept) if line == "90")
        self.assertGreater(segments, 1000)
        self.assertLessEqual(segments, 60_000)
        run = self.run_batch("curves", self.project, "--kind", "plan", "--out", self.root / "平面图.dxf")
        self.assertEqual(run.returncode, 0, run.stderr)

    # ------------------------------------------------------------ outputs

    def test_outputs_never_replace_what_must_stay(self):
        sdmx, template = self.program / "Sdmx.mdb", self.program / "Support/Db/数据库模板.mdb"
        link = self.root / "link.xlsx"
        link.symlink_to(self.project)
        kept = {p: digest(p) for p in (self.project, sdmx, template)}
        cases = [
            ("table onto the project", ["table", self.project, "--out", self.project]),
            ("table onto a link to the project", ["table", self.project, "--out", link]),
            ("table onto Sdmx.mdb", ["table", self.project, "--out", sdmx]),
            ("table onto the project template", ["table", self.project, "--out", template]),
            ("curves onto the project", ["curves", self.project, "--kind", "load", "--out", self.project]),
            ("curves onto a frame drawing", ["curves", self.project, "--kind", "load", "--frame", "A3",
                                             "--out", self.program / "Support/TK/A3/荷载图框.dxf"]),
        ]
        for name, args in cases:
            with self.subTest(name):
                self.refused(*args, says="就是")
        for path, before in kept.items():
            self.assertEqual(digest(path), before, path)

        # A project whose own name is the default output of a run (a
        # drawing's default name carries its kind, so only the workbook's
        # can be the project's).
        for suffix, command in ((".xlsx", ["table"]),):
            with self.subTest(suffix):
                odd = self.root / f"x{suffix}"
                self.make_project(odd)
                before = digest(odd)
                self.refused(command[0], odd, *command[1:], says="打开的工程")
                self.assertEqual(digest(odd), before)

    def test_write_protected_output_is_kept(self):
        out = self.project.with_suffix(".xlsx")
        out.write_bytes(b"earlier")
        out.chmod(0o444)
        self.refused("table", self.project, says="只读")
        self.assertEqual(out.read_bytes(), b"earlier")

    # ------------------------------------------------------------ workbooks

    def import_workbook(self, data, suffix=".xlsx"):
        path = self.root / f"观测{suffix}"
        path.write_bytes(data)
        return self.run_batch("import", self.project, "--epoch", 1, path)

    def elevations(self):
        with sqlite3.connect(self.project) as db:
            return sorted(db.execute("SELECT CjNo, CjdNo, PointH FROM Sur2"))

    def test_a_full_sheet_of_unknown_names(self):
        # 1,048,575 rows, none a point of the project: each name is listed
        # once through a set, so the import ends in seconds (it took the
        # square of the rows before), and writes nothing.
        rows = "".join(f'<row r="{n}"><c r="A{n}" t="inlineStr"><is><t>N{n}</t></is></c>'
                       f'<c r="B{n}"><v>10.5</v></c></row>' for n in range(1, 1048576))
        before = self.elevations()
        path = self.root / "观测.xlsx"
        path.write_bytes(xlsx(rows))

        def roomy():  # a whole sheet held: more room than the other inputs get
            if not os.environ.get("SEDIMETRA_SANITIZED"):
                resource.setrlimit(resource.RLIMIT_AS, (4 * MEMORY, 4 * MEMORY))
        start = time.monotonic()
        result = subprocess.run([str(self.program / "sedimetra-batch"), "import", str(self.project),
                                 "--epoch", "1", str(path)], capture_output=True, text=True, timeout=120,
                                preexec_fn=roomy)
        self.assertLess(time.monotonic() - start, 60)
        # Nothing imported is told as a failure, with the reason.
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("没有调入任何高程", result.stderr)
        self.assertIn("共 1048574 个", result.stdout)
        self.assertEqual(self.elevations(), before)

    def test_workbooks_beyond_the_sheet(self):
        before = self.elevations()
        cases = {
            "row 2,000,000,000": '<row r="2000000000"><c r="B2000000000"><v>1</v></c></row>',
            "row 50,000,000": '<row r="50000000"><c r="A50000000"><v>1</v></c></row>',
            "column of eight letters": '<row r="2"><c r="ABCDEFGH2"><v>1</v></c></row>',
            "row beyond int": '<row r="99999999999999999999"><c r="A2"><v>1</v></c></row>',
        }
        for name, rows in cases.items():
            with self.subTest(name):
                self.refused("import", self.project, "--epoch", 1, self.write(xlsx(rows)),
                             says="找不到数据源")
        # The last row a sheet can have is read, in little memory.
        far = observation_rows(("J1", 9.5)).replace('r="2"', 'r="1048576"').replace('"A2"', '"A1048576"') \
            .replace('"B2"', '"B1048576"')
        result = self.run_batch("import", self.project, "--epoch", 1, self.write(xlsx(far)))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn((1, 1, 9.5), self.elevations())
        self.assertEqual(len(self.elevations()), len(before))

    def test_zip_bomb(self):
        bomb = xlsx(observation_rows(("J1", 9.5)), [("xl/padding.xml", b"\0" * (300 << 20))])
        self.assertLess(len(bomb), 1 << 20)
        self.refused("import", self.project, "--epoch", 1, self.write(bomb), says="找不到数据源")

    def test_table_template_beyond_the_sheet(self):
        template = self.program / "Support/Tab/坏模板.xlsx"
        rows = '<row r="2000000000"><c r="A2000000000"><v>1</v></c></row>'
        template.write_bytes(xlsx(rows, sheet="沉降观测成果表"))
        self.refused("table", self.project, "--template", "坏模板", says="行号")
        self.assertFalse(self.project.with_suffix(".xlsx").exists())

    def test_elevations_that_are_no_finite_number(self):
        rows = observation_rows(("J1", "1e999"), ("J2", "-1e400"), ("J1", "nan"), ("J2", "inf"))
        result = self.import_workbook(xlsx(rows))
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("没有调入任何高程：4 行的高程不是有限的数", result.stderr)
        self.assertIn("调入 0 个高程", result.stdout)
        self.assertIn("4 行的高程不是有限的数", result.stdout)
        self.assertEqual(self.elevations(), [(0, 1, 10.0), (0, 2, 20.0), (1, 1, 9.99), (1, 2, 19.99)])

    def test_import_names_of_several_points(self):
        with sqlite3.connect(self.project) as db:
            db.execute("UPDATE Sur3 SET PointName = 'J1' WHERE CjdNo = 2")
        result = self.import_workbook(xlsx(observation_rows(("J1", 9.5))))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("以下点名属于多个测点，高程只调入了编号最小的一个：J1", result.stdout)
        self.assertIn((1, 1, 9.5), self.elevations())

    def test_xls_reader_that_crashes_or_is_damaged(self):
        good = (FIXTURES / "obs_m.xls").read_bytes()
        damaged = bytearray(good)
        for i in range(600, len(damaged), 7):
            damaged[i] = 0xFF
        # The others: found by fuzz_xls, files on which FreeXL reads past a
        # stack buffer (in its iconv call) or a heap buffer of its own (its
        # reader process ends; the program goes on).
        for data in (bytes(damaged), (FIXTURES / "freexl_overread.xls").read_bytes(),
                     (FIXTURES / "freexl_heap_overflow.xls").read_bytes()):
            result = self.import_workbook(data, ".xls")
            self.assertEqual(result.returncode, 1)
            self.assertTrue("无法读取工作簿" in result.stderr or "找不到数据源" in result.stderr,
                            result.stderr)

        # A reader that dies: the import ends with a clear word, the project as it was.
        before = self.elevations()
        reader = self.program / "sedimetra-xlsreader"
        reader.write_text("#!/bin/sh\nkill -SEGV $$\n")
        reader.chmod(0o755)
        result = self.import_workbook(good, ".xls")
        self.assertEqual(result.returncode, 1)
        self.assertIn("无法读取工作簿：", result.stderr)
        self.assertEqual(self.elevations(), before)

    def write(self, data, name="观测.xlsx"):
        path = self.root / name
        path.write_bytes(data)
        return path

    # ------------------------------------------------------------ numbers

    def test_axis_numbers_beyond_any_sheet(self):
        for name, options in {
            "time 1e9": ["--time", "1e9"],
            "curve 1e999": ["--curve", "1e999"],
            "base nan": ["--base", "nan,nan"],
            "base 1e300": ["--base", "1e300,0"],
        }.items():
            with self.subTest(name):
                self.refused("curves", self.project, "--kind", "settlement", "--frame", "A3", *options)
        layout = self.program / "Support/TK/A3/A3.ini"
        layout.write_text(layout.read_text(encoding="utf-8").replace("时间轴=200,280", "时间轴=1e9,280"),
                          encoding="utf-8")
        self.refused("curves", self.project, "--kind", "settlement", "--frame", "A3", says="1e+09")
        self.assertFalse(self.project.with_name(f"{self.project.stem}_沉降曲线.dxf").exists())

    def test_stored_numbers_that_are_no_elevation(self):
        with sqlite3.connect(self.project) as db:
            db.execute("UPDATE Sur2 SET PointH = 1e308 WHERE CjNo = 1 AND CjdNo = 1")
            db.execute("UPDATE Sur2 SET PointH = 9e999 WHERE CjNo = 1 AND CjdNo = 2")
        result = self.run_batch("curves", self.project, "--kind", "settlement", "--frame", "A3")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("测点 1 第 1 次观测的高程无效", result.stderr)
        self.assertIn("测点 2 第 1 次观测的高程无效", result.stderr)
        text = self.project.with_name(f"{self.project.stem}_沉降曲线.dxf").read_text(encoding="gbk")
        self.assertNotIn("nan", text.lower())
        self.assertNotIn("inf", text.lower())

    def test_dates_far_away(self):
        with sqlite3.connect(self.project) as db:
            db.execute("UPDATE Sur1 SET MyDate = '2000000000-01-01' WHERE CjNo = 1")
        # Left out of the sheets, and told: the others are drawn as ever.
        for command in (("curves", self.project, "--kind", "settlement", "--frame", "A3"),
                        ("table", self.project)):
            result = self.run_batch(*command)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn("日期“2000000000-01-01”不是 1900–2200 年间的年-月-日", result.stderr)

    # ------------------------------------------------------------ projects

    def test_damaged_project_tables(self):
        cases = {
            "epoch number beyond 32 bits": "UPDATE Sur2 SET CjdNo = 4294967298 WHERE CjdNo = 2",
            "point number beyond 32 bits": "UPDATE Sur3 SET CjdNo = -4294967298 WHERE CjdNo = 2",
            "a recursive view for Sur2": "DROP TABLE Sur2; CREATE VIEW Sur2(CjNo, CjdNo, PointH) AS "
                                         "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) "
                                         "SELECT x, x, x FROM n",
        }
        for name, sql in cases.items():
            with self.subTest(name):
                project = self.root / f"{name}.mdb"
                self.make_project(project)
                with sqlite3.connect(project) as db:
                    db.executescript(sql)
                for command in (["table", project], ["curves", project, "--kind", "load"]):
                    self.refused(*command)
                self.assertFalse(project.with_suffix(".xlsx").exists())

    def test_mark_names_stay_in_the_program(self):
        secret = self.root / "x" / "secret.dxf"
        secret.parent.mkdir()
        shutil.copy(self.program / "Support/圆形.dxf", secret)
        secret.write_bytes(secret.read_bytes().replace(b"CIRCLE", b"CIRCLE", 1))
        with sqlite3.connect(self.project) as db:
            db.execute("UPDATE Sur3 SET Mark = ? WHERE CjdNo = 1",
                       (os.path.relpath(secret.with_suffix(""), self.program / "Support"),))
        result = self.run_batch("curves", self.project, "--kind", "settlement", "--frame", "A3")
        self.assertEqual(result.returncode, 0, result.stderr)
        text = self.project.with_name(f"{self.project.stem}_沉降曲线.dxf").read_text(encoding="gbk")
        self.assertNotIn("secret", text)
        # Nor do template names given on the command line.
        shutil.copy(self.program / "Support/TK/A3/A3.ini", self.root / "x" / "x.ini")
        shutil.copy(self.program / "Support/Tab/沉降观测成果表.xlsx", self.root / "x" / "secret.xlsx")
        self.refused("curves", self.project, "--kind", "settlement", "--frame", "../../../x")
        self.refused("table", self.project, "--template", "../../../x/secret", says="表格模板")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
