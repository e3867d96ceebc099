#!/usr/bin/python3
"""End-to-end checks of the curve sheets: sedimetra-batch draws a small
project, and ezdxf (an independent reader) reads the DXF back.

usage: tst_curves_dxf.py BIN_DIR SOURCE_DIR
"""
import math
import pathlib
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

import ezdxf
from ezdxf import recover

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
        doc, auditor = recover.readfile(str(self.project.with_suffix(".dxf")))
        self.assertEqual(len(auditor.errors), 0, [str(e) for e in auditor.errors])
        self.assertEqual(doc.dxfversion, "AC1015")
        return doc

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

        # Point 3 starts at the origin although first seen in epoch 1.
        j3 = [p for p in msp.query("LWPOLYLINE") if p.dxf.layer == "沉_J3" and len(p) > 2]
        self.assertEqual(len(j3), 0)  # two records: the legend line and a two-vertex curve
        j3 = [p for p in msp.query("LWPOLYLINE") if p.dxf.layer == "沉_J3"]
        curve3 = [tuple(v[:2]) for v in j3[-1].get_points()]
        self.assertTrue(close(curve3[0], (100 + 420 + 60, oy)))  # sheet 2, beside sheet 1
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
        drawing = self.project.with_suffix(".dxf")
        drawing.write_text("not ours", encoding="utf-8")
        self.draw("load")
        self.assertEqual(self.project.with_name("楼.bak.dxf").read_text(encoding="utf-8"), "not ours")

    def test_usage_and_failures(self):
        self.assertEqual(self.run_batch().returncode, 2)
        self.assertEqual(self.run_batch("curves", str(self.project)).returncode, 2)
        self.assertEqual(self.run_batch("curves", str(self.project), "--kind", "plan").returncode, 2)
        self.assertEqual(self.run_batch("curves", str(self.project), "--kind", "rate", "--base", "x").returncode, 2)
        missing = self.run_batch("curves", str(self.project.with_name("无.mdb")), "--kind", "rate")
        self.assertEqual(missing.returncode, 1)
        self.assertEqual(len(missing.stderr.strip().splitlines()), 1)
        with sqlite3.connect(self.project) as db:
            db.execute("DELETE FROM Sur2")
        empty = self.run_batch("curves", str(self.project), "--kind", "rate")
        self.assertEqual(empty.returncode, 1)
        self.assertFalse(self.project.with_suffix(".dxf").exists())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
