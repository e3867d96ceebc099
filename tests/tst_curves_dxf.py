#!/usr/bin/python3
"""End-to-end checks of the curve sheets: sedimetra-batch draws a small
project, and ezdxf (an independent reader) reads the DXF back.

usage: tst_curves_dxf.py BIN_DIR SOURCE_DIR
"""
import logging
import math
import os
import pathlib
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

import ezdxf

BIN = pathlib.Path(sys.argv[1])
SOURCE = pathlib.Path(sys.argv[2])

# The A3 template's layout (Support/TK/A3/A3.ini).
A3 = {
    "settlement": dict(sheet=(420, 297), base=(60, 217), time=(200, 280), curve=(10, 150), aux=(30, 60), legend=(295, -10)),
    "rate": dict(sheet=(420, 297), base=(60, 60), time=(200, 280), curve=(0.5, 180), aux=(0, 0), legend=(295, 170)),
    "load": dict(sheet=(420, 297), base=(60, 60), time=(200, 280), curve=(30, 180), aux=(0, 0), legend=(295, 170)),
}
EPOCHS = [(0, "2018-01-01", "第一次", 2), (1, "2018-01-11", "B'2", 4), (2, "2018-02-10", "C", 6)]
# Point number -> elevations of epochs 0, 1, 2 (metres); None: no record.
ELEVATIONS = {
    1: (100.0, 99.998, 99.996),
    2: (50.0, 49.996, 49.992),
    3: (None, 80.0, 79.999),
    7: (10.0, None, None),
    20: (10.0, 9.99, 9.98),  # above the point count of 15
}
POINTS = {1: ("J1", 5, "菱形"), 2: ("沉'2", 6, "正方形"), 3: ("J3", 3, "叉叉"), 7: ("J7", 5, "菱形")}


def make_program(root):
    """A program directory of its own: the batch program, a fresh Sdmx.mdb
    with default settings, and the built Support folder."""
    program = root / "program"
    program.mkdir()
    shutil.copy(BIN / "sedimetra-batch", program)
    shutil.copytree(BIN / "Support", program / "Support")
    with sqlite3.connect(program / "Sdmx.mdb") as db:
        db.executescript((SOURCE / "Support/Db/sdmx.sql").read_text(encoding="utf-8"))
    return program


def make_project(path):
    shutil.copy(BIN / "Support/Db/数据库模板.mdb", path)
    with sqlite3.connect(path) as db:
        db.executemany("INSERT INTO Sur1 VALUES (?, ?, ?, ?)", EPOCHS)
        for n, hs in ELEVATIONS.items():
            for k, h in enumerate(hs):
                if h is not None:
                    db.execute("INSERT INTO Sur2 VALUES (?, ?, ?)", (k, n, h))
        for n, (name, aci, mark) in POINTS.items():
            db.execute("INSERT INTO Sur3 VALUES (?, ?, ?, ?)", (n, name, aci, mark))


class EzdxfLog(logging.Handler):
    """What ezdxf says while it loads a file: a repair it had to make."""
    def __init__(self):
        super().__init__(logging.WARNING)
        self.messages = []

    def emit(self, record):
        self.messages.append(record.getMessage())


def read_as_cad_programs_do(test, path):
    """The drawing read by ezdxf's plain reader and audited, then printed by
    LibreCAD: neither may find anything to repair or refuse."""
    log = EzdxfLog()
    logger = logging.getLogger("ezdxf")
    logger.addHandler(log)
    try:
        doc = ezdxf.readfile(str(path))
    finally:
        logger.removeHandler(log)
    test.assertEqual(log.messages, [], "ezdxf repaired the file while reading it")
    auditor = doc.audit()
    test.assertEqual([str(e.message) for e in auditor.errors], [])
    test.assertEqual([str(f.message) for f in auditor.fixes], [])
    test.assertEqual(doc.dxfversion, "AC1015")
    test.assertEqual(doc.header["$DWGCODEPAGE"], "ANSI_936")
    pdf = path.with_suffix(".pdf")
    printed = subprocess.run(["librecad", "dxf2pdf", "-o", str(pdf), str(path)],
                             capture_output=True, text=True, timeout=120,
                             env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    test.assertEqual(printed.returncode, 0, printed.stderr)
    test.assertTrue(pdf.is_file() and pdf.stat().st_size > 1000, "LibreCAD printed nothing")
    test.assertTrue(pdf.read_bytes().startswith(b"%PDF"))
    return doc


def frames(msp):
    """The sheets' trimming lines (rectangles drawn on layer 0), as
    (left, bottom, right, top)."""
    boxes = []
    for p in msp.query("LWPOLYLINE"):
        points = [tuple(v[:2]) for v in p.get_points()]
        if p.dxf.layer == "0" and len(points) == 5 and points[0] == points[-1]:
            xs = [x for x, _ in points]
            ys = [y for _, y in points]
            boxes.append((min(xs), min(ys), max(xs), max(ys)))
    # The trimming line of each sheet is the largest rectangle around its origin.
    largest = max((b[2] - b[0]) * (b[3] - b[1]) for b in boxes)
    return [b for b in boxes if abs((b[2] - b[0]) * (b[3] - b[1]) - largest) < 1e-6]


def close(a, b, tolerance=1e-6):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


class CurveSheets(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        root = pathlib.Path(self.tmp.name)
        self.program = make_program(root)
        self.project = root / "测量 项目" / "楼.mdb"
        self.project.parent.mkdir()
        make_project(self.project)

    def tearDown(self):
        self.tmp.cleanup()

    def run_batch(self, *args):
        return subprocess.run([str(self.program / "sedimetra-batch"), *args],
                              capture_output=True, text=True, timeout=60)

    def draw(self, kind, *options):
        result = self.run_batch("curves", str(self.project), "--kind", kind, "--frame", "A3",
                                "--base", "100,200", *options)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.stderr = result.stderr
        self.assertIn(f"已写入 {self.drawing_of(kind)}", result.stdout)
        return read_as_cad_programs_do(self, self.drawing_of(kind))

    def drawing_of(self, kind):
        """Where a kind's sheets go by default: beside the project, named by it and the kind."""
        words = {"settlement": "沉降曲线", "rate": "速率曲线", "load": "荷载曲线", "plan": "平面图"}[kind]
        return self.project.with_name(f"{self.project.stem}_{words}.dxf")

    def test_settlement_sheets(self):
        doc = self.draw("settlement", "--lines", "2", "--per-row", "2", "--time", "100", "--curve", "5")
        layout = A3["settlement"]
        kt = layout["time"][1] / 200           # box 100 below the range: the layout's scale
        kc = layout["curve"][1] / 10
        ka = layout["aux"][1] / 30
        ox, oy = 100 + layout["base"][0], 200 + layout["base"][1]
        layers = {layer.dxf.name: layer.dxf.color for layer in doc.layers}
        for name, colour in [("标尺", 7), ("沉_J1", 5), ("沉_沉'2", 6), ("沉_J3", 3), ("沉_J7", 5), ("荷_", 7)]:
            self.assertEqual(layers.get(name), colour, name)
        self.assertNotIn("沉_J20", layers)
        style = doc.styles.get("沉降")
        self.assertEqual((style.dxf.font, style.dxf.bigfont), ("Romans.shx", "Htj_S.shx"))
        self.assertAlmostEqual(style.dxf.width, 0.8)

        msp = doc.modelspace()
        curves = [p for p in msp.query("LWPOLYLINE") if p.dxf.layer == "沉_J1" and len(p) > 2]
        self.assertEqual(len(curves), 1)
        points = [tuple(v[:2]) for v in curves[0].get_points()]
        # Epoch 1 is 10 days and -2 mm from the first elevation, epoch 2 40 days and -4 mm.
        self.assertTrue(close(points[0], (ox, oy)))
        self.assertTrue(close(points[1], (ox + 10 * kt, oy - 2 * kc)))
        self.assertTrue(close(points[2], (ox + 40 * kt, oy - 4 * kc)))
        marks = [i for i in msp.query("INSERT") if i.dxf.name == "菱形" and i.dxf.layer == "沉_J1"]
        self.assertEqual(len(marks), 3)  # legend and the two later vertices
        self.assertIn("菱形", [b.name for b in doc.blocks])

        # Point 3, first seen in epoch 1, starts there (10 days) at 0.
        j3 = [p for p in msp.query("LWPOLYLINE") if p.dxf.layer == "沉_J3" and len(p) > 2]
        self.assertEqual(len(j3), 0)  # two records: the legend line and a two-vertex curve
        j3 = [p for p in msp.query("LWPOLYLINE") if p.dxf.layer == "沉_J3"]
        curve3 = [tuple(v[:2]) for v in j3[-1].get_points()]
        self.assertTrue(close(curve3[0], (100 + 420 + 60 + 10 * kt, oy)))  # sheet 2, beside sheet 1
        self.assertTrue(close(curve3[1], (100 + 420 + 60 + 40 * kt, oy - 1 * kc)))

        # Legend labels: rows 5 apart from the legend position.
        labels = {t.dxf.text: t for t in msp.query("TEXT") if t.dxf.layer.startswith("沉_")}
        self.assertTrue(close(tuple(labels["J1"].dxf.align_point)[:2],
                              (ox + layout["legend"][0] + 19, oy + layout["legend"][1] - 5)))
        self.assertTrue(close(tuple(labels["沉'2"].dxf.align_point)[:2],
                              (ox + layout["legend"][0] + 19, oy + layout["legend"][1] - 10)))
        self.assertEqual((labels["J1"].dxf.halign, labels["J1"].dxf.valign), (0, 2))

        # Ruler: time labels 0..100 above the axis, settlement labels without 0.0
        # (the sheet has an auxiliary axis), auxiliary labels 2..30.
        ruler = [t.dxf.text for t in msp.query("TEXT") if t.dxf.layer == "标尺"]
        self.assertEqual(ruler.count("100"), 2)  # one per sheet
        self.assertNotIn("0.0", ruler)
        self.assertIn("-5.0", ruler)
        self.assertNotIn("-6.0", ruler)
        self.assertIn("30", ruler)
        aux_ticks = [p for p in msp.query("LWPOLYLINE") if p.dxf.layer == "标尺" and len(p) == 2
                     and close(p.get_points()[0][:2], (ox - 0.5, oy + 2 * ka))]
        self.assertEqual(len(aux_ticks), 1)

        # The frames are exploded: their lines are in model space, no frame block.
        self.assertNotIn("曲线图框", [b.name for b in doc.blocks])
        frame_titles = [t for t in msp.query("TEXT") if t.dxf.text == "沉降观测曲线图"]
        self.assertEqual(len(frame_titles), 2)  # 2 lines a sheet, 4 observed points
        # Load curve on every sheet, its vertices at the floors.
        loads = [p for p in msp.query("LWPOLYLINE") if p.dxf.layer == "荷_"]
        self.assertEqual(len(loads), 2)
        self.assertTrue(close(loads[0].get_points()[0][:2], (ox, oy + 2 * ka)))

    def test_rate_sheet(self):
        doc = self.draw("rate", "--curve", "0.3")
        layout = A3["rate"]
        kt = layout["time"][1] / 200
        kc = layout["curve"][1] / 0.5
        ox, oy = 100 + layout["base"][0], 200 + layout["base"][1]
        msp = doc.modelspace()
        rate = [p for p in msp.query("LWPOLYLINE") if p.dxf.layer == "速_"]
        self.assertEqual(len(rate), 1)
        points = [tuple(v[:2]) for v in rate[0].get_points()]
        # Epoch 1: points 1 and 2 dropped 2 and 4 mm in 10 days (point 20 is
        # above the point count); epoch 2: 1, 2 and 3 dropped 2, 4, 1 mm in 30 days.
        self.assertTrue(close(points[0], (ox, oy)))
        self.assertTrue(close(points[1], (ox + 10 * kt, oy + 0.3 * kc)))
        self.assertTrue(close(points[2], (ox + 40 * kt, oy + (7 / 3) / 30 * kc)))
        ruler = [t.dxf.text for t in msp.query("TEXT") if t.dxf.layer == "标尺"]
        self.assertIn("0.30", ruler)
        self.assertEqual(sum(1 for t in ruler if t.count(".") == 1 and len(t) == 4), 31)
        self.assertEqual(doc.layers.get("速_").dxf.color, 7)
        self.assertEqual(len([i for i in msp.query("INSERT") if i.dxf.name == "圆形"]), 2)

    def test_load_sheet(self):
        doc = self.draw("load")
        layout = A3["load"]
        kt = layout["time"][1] / 200
        kc = layout["curve"][1] / 30
        ox, oy = 100 + layout["base"][0], 200 + layout["base"][1]
        loads = [p for p in doc.modelspace().query("LWPOLYLINE") if p.dxf.layer == "荷_"]
        self.assertEqual([tuple(v[:2]) for v in loads[0].get_points()],
                         [(ox, oy + 2 * kc), (ox + 10 * kt, oy + 4 * kc), (ox + 40 * kt, oy + 6 * kc)])

    def test_existing_drawing_is_kept(self):
        drawing = self.drawing_of("load")
        drawing.write_text("not ours", encoding="utf-8")
        self.draw("load")
        self.assertEqual(self.project.with_name("楼_荷载曲线.bak.dxf").read_text(encoding="utf-8"), "not ours")
        # A drawing of another kind is never replaced by a run's default.
        self.draw("rate")
        self.assertTrue(self.drawing_of("load").exists() and self.drawing_of("rate").exists())

    def replace_project(self, epochs, elevations, points):
        """The project emptied and filled anew: epochs (k, date, name,
        floors), elevations {(k, n): h}, points {n: (name, colour, mark)}."""
        with sqlite3.connect(self.project) as db:
            for table in ("Sur1", "Sur2", "Sur3"):
                db.execute(f"DELETE FROM {table}")
            db.executemany("INSERT INTO Sur1 VALUES (?, ?, ?, ?)", epochs)
            db.executemany("INSERT INTO Sur2 VALUES (?, ?, ?)",
                           [(k, n, h) for (k, n), h in elevations.items()])
            db.executemany("INSERT INTO Sur3 VALUES (?, ?, ?, ?)",
                           [(n, *p) for n, p in points.items()])

    def test_names_a_cad_program_refuses(self):
        names = {1: "J/1", 2: "J\\2", 3: "J:3", 4: "J;4", 5: "J*5", 6: "J?6", 7: 'J"7',
                 8: "J<8", 9: "J>9", 10: "J|10", 11: "J=11", 12: "J`12", 13: "沉降点，甲",
                 14: "j/1"}  # 14 maps to the layer of 1 (names compare without case)
        self.replace_project(
            [(0, "2018-01-01", "一", 1), (1, "2018-02-01", "二", 2)],
            {(k, n): 10 - k * 0.001 * n for k in (0, 1) for n in names},
            {n: (name, n % 7 + 1, "圆形") for n, name in names.items()})
        doc = self.draw("settlement", "--lines", "20")
        layers = {layer.dxf.name: layer.dxf.color for layer in doc.layers}
        for n, name in names.items():
            if n == 14:
                continue
            layer = "沉_" + "".join("_" if c in '<>/\\":;?*|=`,' else c for c in name)
            self.assertIn(layer, layers)
            self.assertEqual(layers[layer], n % 7 + 1, layer)
        # Two names on one layer: the layer keeps the first point's colour.
        self.assertEqual(layers["沉_J_1"], 2)
        legend = [t.dxf.text for t in doc.modelspace().query("TEXT")
                  if t.dxf.layer.startswith("沉_")]
        self.assertEqual(sorted(legend), sorted(names.values()))  # as typed

    def test_frames_and_title_block(self):
        with sqlite3.connect(self.program / "Sdmx.mdb") as db:
            db.executemany("INSERT OR REPLACE INTO Para1 VALUES (?, ?)",
                           [("工程名称", "幸福里 3# 楼"), ("测量单位", "某某测绘院")])
        doc = self.draw("settlement", "--lines", "1", "--per-row", "2")
        msp = doc.modelspace()
        # Four observed points, one a sheet: four frames, all on layer 0.
        titles = [t for t in msp.query("TEXT") if t.dxf.text == "沉降观测曲线图"]
        self.assertEqual(len(titles), 4)
        self.assertEqual({t.dxf.layer for t in titles}, {"0"})
        self.assertEqual(len(frames(msp)), 4)  # each sheet's trimming line on layer 0
        # The title block: each value at its definition's place, in the frame's style.
        for value in ("幸福里 3# 楼", "某某测绘院", "2018-02-10"):
            shown = [t for t in msp.query("TEXT") if t.dxf.text == value]
            self.assertEqual(len(shown), 4, value)
            self.assertEqual(shown[0].dxf.style, "图框")
        self.assertEqual(len(msp.query("ATTDEF")), 0)  # definitions are not drawn
        style = doc.styles.get("图框")
        self.assertEqual((style.dxf.font, style.dxf.bigfont), ("gbenor.shx", "gbcbig.shx"))

    def test_long_project_fits_its_frames(self):
        # 480 days, 25 mm of settlement, 40 floors: beyond the A3 layout's
        # 200 days, 10 mm and 30 floors.
        epochs = [(k, f"2018-{m:02d}-01", f"第{k}次", 10 * k) for k, m in enumerate((1, 3, 6, 9, 12))]
        epochs.append((5, "2019-04-26", "末次", 40))  # day 480
        elevations = {(k, n): 50 - 0.005 * k * n / 2 for k in range(6) for n in (1, 2)}
        self.replace_project(epochs, elevations, {1: ("J1", 1, "圆形"), 2: ("J2", 2, "菱形")})
        doc = self.draw("settlement", "--lines", "1", "--per-row", "2")
        msp = doc.modelspace()
        sheets = frames(msp)
        self.assertEqual(len(sheets), 2)
        curves = [p for p in msp.query("LWPOLYLINE") if p.dxf.layer in ("沉_J1", "沉_J2", "荷_")
                  and len(p) > 2]
        self.assertEqual(len(curves), 4)
        for curve in curves:
            for x, y, *_ in curve.get_points():
                self.assertTrue(any(l <= x <= r and b <= y <= t for l, b, r, t in sheets),
                                (curve.dxf.layer, x, y))
        ruler = {t.dxf.text for t in msp.query("TEXT") if t.dxf.layer == "标尺"}
        self.assertIn("480", ruler)
        self.assertIn("-25.0", ruler)

        # A range given too small is drawn as asked, with a warning.
        self.draw("settlement", "--time", "200")
        self.assertIn("--time", self.stderr)
        self.assertIn("480", self.stderr)

    def test_large_project_and_a_look(self):
        # 150 points, 300 epochs ten days apart: ranges far beyond the layout's.
        epochs = [(k, f"{2000 + k // 36}-{k % 36 // 3 + 1:02d}-{k % 3 * 10 + 1:02d}", f"第{k}次", k // 10)
                  for k in range(300)]
        elevations = {(k, n): 100 - 0.0001 * k * (1 + n % 7) for k in range(300)
                      for n in range(1, 151)}
        points = {n: (f"沉降点{n}", n % 255 + 1, "圆形") for n in range(1, 151)}
        self.replace_project(epochs, elevations, points)
        with sqlite3.connect(self.program / "Sdmx.mdb") as db:
            db.execute("INSERT OR REPLACE INTO Para1 VALUES ('支持点数', '150')")
        doc = self.draw("settlement", "--lines", "15", "--per-row", "5")
        msp = doc.modelspace()
        sheets = frames(msp)
        self.assertEqual(len(sheets), 10)
        for curve in msp.query("LWPOLYLINE"):
            if curve.dxf.layer.startswith("沉_") and len(curve) > 2:
                for x, y, *_ in curve.get_points():
                    self.assertTrue(any(l <= x <= r and b <= y <= t for l, b, r, t in sheets))
        # Time labels that do not run into each other on 3,000 days.
        ruler = sorted({int(t.dxf.text) for t in msp.query("TEXT")
                        if t.dxf.layer == "标尺" and t.dxf.text.isdigit() and t.dxf.valign == 1})
        self.assertGreater(ruler[1] - ruler[0], 10)

        # The drawing rendered as a picture, for a person to look at.
        from ezdxf.addons.drawing import matplotlib as rendering
        self.draw("rate")
        picture = self.project.with_suffix(".png")
        rendering.qsave(ezdxf.readfile(str(self.drawing_of("rate"))).modelspace(),
                        str(picture), dpi=100, bg="#FFFFFF")
        self.assertGreater(picture.stat().st_size, 5000)
        if os.environ.get("SEDIMETRA_KEEP_PICTURES"):
            shutil.copy(picture, os.environ["SEDIMETRA_KEEP_PICTURES"])

    def test_usage_and_failures(self):
        self.assertEqual(self.run_batch().returncode, 2)
        self.assertEqual(self.run_batch("curves", str(self.project)).returncode, 2)
        self.assertEqual(self.run_batch("curves", str(self.project), "--kind", "contour").returncode, 2)
        self.assertEqual(self.run_batch("curves", str(self.project), "--kind", "rate", "--base", "x").returncode, 2)
        missing = self.run_batch("curves", str(self.project.with_name("无.mdb")), "--kind", "rate")
        self.assertEqual(missing.returncode, 1)
        self.assertEqual(len(missing.stderr.strip().splitlines()), 1)
        with sqlite3.connect(self.project) as db:
            db.execute("DELETE FROM Sur2")
        empty = self.run_batch("curves", str(self.project), "--kind", "rate")
        self.assertEqual(empty.returncode, 1)
        self.assertFalse(self.drawing_of("rate").exists())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
